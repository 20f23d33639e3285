#pragma once

#include "GraphicsContext.h"
#include "StyledText.h"

#include <QColor>
#include <QImage>
#include <QLineF>
#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <optional>

class QObject;

// Shapes and effects of the custom drawing: standard shadows, two-colour fades and
// selection highlights, glossy fills, a checkerboard, a title-bar image, tag markers and
// callout labels, and path builders (triangles, a sawtooth-edged rectangle, rounded arrows,
// rounded rectangles).
//
// Geometry has y growing upward; paths are drawn, and drawing happens, through a
// GraphicsContext (see there).
namespace FennimarGraphics {

// ---- Shadows ----

// Black, offset (2, -2), blur 4: two points right of and below what casts it.
Shadow standardShadow();
// Black, offset (2, 2), blur 4: below on a surface whose y grows downward.
Shadow standardFlippedShadow();
// Black, no offset, blur 2.
Shadow standardLabelShadow();
// Black, no offset, blur 2.
Shadow subtleShadow();

void setStandardShadow(GraphicsContext &context);
void setStandardFlippedShadow(GraphicsContext &context);
// Makes the subtle shadow current and returns it.
Shadow setSubtleShadow(GraphicsContext &context);
// Makes a shadow of the clear colour current: nothing casts a shadow any more.
void setNoShadow(GraphicsContext &context);

// ---- Paths (each a new path) ----

// An empty path with BezierPath::appendBezierPathWithRoundedRect() applied: four round
// corners of exactly the radius, nothing for a height of 0 or less.
QPainterPath bezierPathWithRoundedRect(const QRectF &rect, qreal cornerRadius);
// The same with the radius height / 2.
QPainterPath bezierPathWithLozengeinRect(const QRectF &rect);
// Open triangles that end back at their first point. The up-pointing one has its apex at
// y - h, below the rectangle with y up: it points up where y grows downward.
QPainterPath bezierPathWithUpPointingTriangleInRect(const QRectF &rect);
QPainterPath bezierPathWithDownPointingTriangleInRect(const QRectF &rect);
QPainterPath bezierPathWithRightPointingTriangleInRect(const QRectF &rect);

// Arrow directions.
inline constexpr int NoArrow = 0;
inline constexpr int ArrowPointingRight = 1; // round left end
inline constexpr int ArrowPointingLeft = 2;  // round right end
inline constexpr int ArrowBothEndsRound = 3;

// A tag outline of the rectangle: round ends (radius height / 2) and a pointed end of
// the arrow width (-1: height / 2). Direction 0 gives an empty path; a direction not
// listed above an empty path and three log lines.
QPainterPath bezierPathWithRoundedArrow(const QRectF &rect, qreal arrowWidth, int direction);
// A rectangle whose left and right edges are n teeth each of the length, pointing
// outward; the top and bottom edges are inset by the tooth length. Not closed.
QPainterPath bezierPathRectangleWithSawtoothEdges(const QRectF &rect, int numOfTeeth, qreal toothLength);

// ---- Fades and highlights ----

// The start colour at the bottom edge to the end colour at the top edge; with the cell
// border a line of width 0.5 along the bottom edge in the end colour at alpha 0.5.
void drawFade(GraphicsContext &context, const QRectF &rect, const QColor &startColor, const QColor &endColor,
              bool cellBorder);
// The same painted in bands one point high from the bottom up, each component stepping
// by (end - start) / height. A height of 0 paints nothing but the border.
void drawFadeOLD(GraphicsContext &context, const QRectF &rect, const QColor &startColor,
                 const QColor &endColor, bool cellBorder);
// Selection highlights as fades; the mode is accepted for callers that pass one.
void drawGradientHighlight(GraphicsContext &context, const QRectF &rect, int withMode, bool cellBorder);
void drawGradientTintHighlight(GraphicsContext &context, const QRectF &rect, int withMode, bool cellBorder);
// The menu's selected item: a blue (in graphite mode slate) fade with the border.
void drawMenuHighlightInRect(GraphicsContext &context, const QRectF &rect);

// ---- Glossy fill ----

// Where a glossy fill of the rectangle paints: the rectangle the path stands for when
// none is given, the gloss rectangle with its gradient angle, and the border line.
struct GlossyFillGeometry
{
    QRectF pathRect;
    QRectF glossRect;
    qreal glossAngle = 90;
    QLineF border;
};
// With flipping both rectangles move up by half the height (the gloss lies on the upper
// half, fading from the top); the border stays on the original bottom edge (y + 0.5).
GlossyFillGeometry glossyFillGeometry(const QRectF &rect, bool flipGradient);

// Fills the path (none: the geometry's path rectangle) with the colour, then lays the
// gloss (white 0.6 to white 0.1) over it inside the path without shadow; with borders a
// line in the colour along the border line.
void glossyFillBezierPath(GraphicsContext &context, const std::optional<QPainterPath> &path,
                          const QColor &withColor, const QRectF &inRect, bool flipGradient,
                          bool withBorders = false);

// ---- Other drawing ----

// A checkerboard of squares of the size, the first colour on the second, starting at
// (x + 0.5, y + 0.5); squares along the edges reach over the rectangle. A size of 0 or
// less draws nothing.
void drawCheckerBox(GraphicsContext &context, const QRectF &rect, qreal ofSize, const QColor &withColor,
                    const QColor &andColor);

// A new image of the rectangle's size holding the title-bar gradient with the two upper
// corners rounded (radius 6.5). The clip object is accepted for callers that pass one.
QImage hudTitleBar(const QRectF &rect, const QObject *withClip = nullptr);

// A tag: the rounded arrow of the rectangle in the direction, filled (with the standard
// shadow when asked), outlined in the fill colour shadowed by 0.3 and glossed from white 0
// to white 0.2 (upward with flipGradient, else downward); then the text at (x + horizontal
// offset, y - vertical offset) clipped to the outline, after the shadow text one point left
// and down. Direction 0 draws the text alone, unclipped. The stroke colour is accepted for
// callers that pass one.
void drawTagMarkerInRect(GraphicsContext &context, const QRectF &rect, bool withShadow,
                         const QColor &withFillColor, const QColor &withStrokeColor,
                         const std::optional<StyledText> &withText,
                         const std::optional<StyledText> &andShadowText, qreal verticalTextOffset,
                         qreal horizontalTextOffset, bool flipGradient, int direction);

// A callout over the tip point: a pill 15 high standing 6 above the tip with a pointer
// down to it, glossy-filled in the fill colour with the standard shadow, holding the text
// (8-point system font in the stroke colour) and outlined in the stroke colour. Returns
// the outline.
QPainterPath drawRoundedLabelWithArrowWithText(GraphicsContext &context, const QString &text, QPointF at,
                                               const QColor &withFillColor, const QColor &withStrokeColor);

} // namespace FennimarGraphics

#pragma once

#include <QPainterPath>
#include <QPointF>
#include <QRectF>

// Additions to QPainterPath: rounded rectangles with chosen corners, the stadium-shaped
// plate and triangles pointing four ways.
//
// Paths are built with y growing upward (a rectangle's (x, y) is its lower-left corner);
// draw them through a GraphicsContext, which turns them the right way up.
namespace BezierPath {

// Corner bits of bezierPathWithRoundedRect(); they may be combined.
inline constexpr int TopLeftCorner = 1;
inline constexpr int BottomLeftCorner = 2;
inline constexpr int TopRightCorner = 4;
inline constexpr int BottomRightCorner = 8;
inline constexpr int AllCorners = 15;

// Triangle orientations: where the apex points.
inline constexpr int PointingUp = 0;
inline constexpr int PointingDown = 1;
inline constexpr int PointingLeft = 2;
inline constexpr int PointingRight = 3;

// Appends an arc around the centre from the start to the end angle (degrees, counter-
// clockwise with y up), joined by a line to where the path stands; an empty path starts
// at the arc.
void appendBezierPathWithArcWithCenter(QPainterPath &path, QPointF center, qreal radius, qreal startAngle,
                                       qreal endAngle);

// A closed rectangle whose corners in the mask are round. The radius is cut to half the
// shorter side (a negative one is kept). Corners are walked bottom-left, bottom-right,
// top-right, top-left; a square corner is its point. Mask 0 gives the plain rectangle.
QPainterPath bezierPathWithRoundedRect(const QRectF &rect, qreal cornerRadius, int inCorners = AllCorners);
// Appends the rectangle with four round corners of exactly the radius; nothing for a
// height of 0 or less.
void appendBezierPathWithRoundedRect(QPainterPath &path, const QRectF &rect, qreal cornerRadius);

// The stadium: half-circle caps of radius height / 2 joined by straight sides; nothing
// for a height of 0 or less.
QPainterPath bezierPathWithPlateInRect(const QRectF &rect);
void appendBezierPathWithPlateInRect(QPainterPath &path, const QRectF &rect);

// A closed triangle filling the rectangle, its apex up (0), down (1), left (2) or right
// (3 and any other value).
QPainterPath bezierPathWithTriangleInRect(const QRectF &rect, int orientation);
void appendBezierPathWithTriangleInRect(QPainterPath &path, const QRectF &rect, int orientation);

} // namespace BezierPath

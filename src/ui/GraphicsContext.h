#pragma once

#include "StyledText.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QTransform>

#include <optional>

class CTGradient;

// The drawing state the library's shapes and effects are drawn with, over a QPainter.
//
// The library's geometry (rectangles, arc centres and angles, point orders) is written with
// y growing upward from the lower-left corner of the surface. This class is the one place
// where that meets Qt's y-down coordinates: it turns the painter upside down over a surface
// of the given height, so a path built with y up is drawn the right way up, and it draws
// text and images upright at their y-up positions. Gradient angles are given as seen with
// y up: 90 runs from the bottom edge to the top edge.
//
// Besides the painter's own state it keeps a fill colour, a stroke colour, a line width and
// a current shadow, which every fill and stroke casts; saveGraphicsState() and
// restoreGraphicsState() keep them together with the painter's transform and clip.
class GraphicsContext
{
public:
    // Draws over the painter's current coordinates from y = 0 (top) to y = height (bottom).
    GraphicsContext(QPainter &painter, qreal height);
    // Gives the painter back as it was handed over.
    ~GraphicsContext();
    GraphicsContext(const GraphicsContext &) = delete;
    GraphicsContext &operator=(const GraphicsContext &) = delete;

    // The y-down point of the y-up point on a surface of the height, and the transform doing it.
    static QPointF toQt(QPointF yUp, qreal height) { return QPointF(yUp.x(), height - yUp.y()); }
    static QTransform yUpTransform(qreal height) { return QTransform(1, 0, 0, -1, 0, height); }

    QPainter &painter() { return m_painter; }
    qreal height() const { return m_height; }

    void saveGraphicsState();
    // Unbalanced restores are ignored.
    void restoreGraphicsState();

    // The current shadow; none (or a clear colour) casts nothing.
    void setShadow(const std::optional<Shadow> &shadow);
    const std::optional<Shadow> &shadow() const { return m_state.shadow; }

    void setFillColor(const QColor &color) { m_state.fill = color; }
    void setStrokeColor(const QColor &color) { m_state.stroke = color; }
    // Both colours.
    void setColor(const QColor &color) { m_state.fill = m_state.stroke = color; }
    QColor fillColor() const { return m_state.fill; }
    QColor strokeColor() const { return m_state.stroke; }
    void setLineWidth(qreal width) { m_state.lineWidth = width; }
    qreal lineWidth() const { return m_state.lineWidth; }

    // Shapes in the current colours, casting the current shadow.
    void fill(const QPainterPath &path);
    void fillRect(const QRectF &rect);
    void stroke(const QPainterPath &path);
    void strokeLine(QPointF from, QPointF to);

    // Narrows the clip to the path (an empty path hides everything after it).
    void clip(const QPainterPath &path);
    void clipRect(const QRectF &rect);

    // The gradient over the rectangle along the angle (degrees, counter-clockwise with y up).
    void fillGradient(const CTGradient &gradient, const QRectF &rect, qreal angle);

    // The text upright with the lower-left corner of its box at the point. Text without a
    // colour is black.
    void drawText(const StyledText &text, QPointF at);
    // The source part of the image (y up from the image's lower edge; empty: all of it),
    // upright in the target rectangle.
    void drawImage(const QImage &image, const QRectF &target, const QRectF &source = QRectF(),
                   qreal opacity = 1, QPainter::CompositionMode mode = QPainter::CompositionMode_SourceOver);

private:
    struct State
    {
        QColor fill = QColor(Qt::black);
        QColor stroke = QColor(Qt::black);
        qreal lineWidth = 1;
        std::optional<Shadow> shadow;
    };

    QPainterPath outlineOf(const QPainterPath &path) const;
    // Paints the blurred silhouette of the area (in the current coordinates) at the shadow's offset.
    void castShadow(const QPainterPath &area);

    QPainter &m_painter;
    qreal m_height;
    State m_state;
    QList<State> m_saved;
};

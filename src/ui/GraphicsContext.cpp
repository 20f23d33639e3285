#include "GraphicsContext.h"

#include "CTGradient.h"
#include "FennimarImaging.h"

#include <QPainterPathStroker>

#include <cmath>

using namespace Qt::StringLiterals;

GraphicsContext::GraphicsContext(QPainter &painter, qreal height) : m_painter(painter), m_height(height)
{
    m_painter.save();
    m_painter.setRenderHint(QPainter::Antialiasing);
    m_painter.setTransform(yUpTransform(height), true);
}

GraphicsContext::~GraphicsContext()
{
    while (!m_saved.isEmpty())
        restoreGraphicsState();
    m_painter.restore();
}

void GraphicsContext::saveGraphicsState()
{
    m_saved.append(m_state);
    m_painter.save();
}

void GraphicsContext::restoreGraphicsState()
{
    if (m_saved.isEmpty())
        return;
    m_state = m_saved.takeLast();
    m_painter.restore();
}

void GraphicsContext::setShadow(const std::optional<Shadow> &shadow)
{
    m_state.shadow = shadow;
}

QPainterPath GraphicsContext::outlineOf(const QPainterPath &path) const
{
    QPainterPathStroker stroker;
    stroker.setWidth(m_state.lineWidth);
    stroker.setCapStyle(Qt::FlatCap);
    stroker.setJoinStyle(Qt::MiterJoin);
    return stroker.createStroke(path);
}

void GraphicsContext::castShadow(const QPainterPath &area)
{
    const std::optional<Shadow> &shadow = m_state.shadow;
    if (!shadow || shadow->color.alpha() == 0 || area.isEmpty())
        return;
    const QPainterPath onDevice = m_painter.transform().map(area);
    const int margin = int(std::ceil(shadow->blurRadius)) + 2;
    const QRect bounds = onDevice.boundingRect().toAlignedRect().adjusted(-margin, -margin, margin, margin);
    if (bounds.isEmpty() || bounds.width() > FennimarImaging::MaxImageSide ||
        bounds.height() > FennimarImaging::MaxImageSide)
        return;
    QImage silhouette(bounds.size(), QImage::Format_ARGB32_Premultiplied);
    silhouette.fill(Qt::transparent);
    {
        QPainter p(&silhouette);
        p.setRenderHint(QPainter::Antialiasing);
        p.translate(-bounds.topLeft());
        p.fillPath(onDevice, shadow->color);
    }
    if (shadow->blurRadius > 0)
        silhouette = FennimarImaging::applyCoreImageFilter(u"gaussianBlur"_s, silhouette,
                                                           {{u"radius"_s, shadow->blurRadius}});
    m_painter.save();
    m_painter.resetTransform();
    // The offset is given with y up; on the device y grows downward.
    m_painter.drawImage(QPointF(bounds.topLeft()) + QPointF(shadow->offset.x(), -shadow->offset.y()),
                        silhouette);
    m_painter.restore();
}

void GraphicsContext::fill(const QPainterPath &path)
{
    castShadow(path);
    m_painter.fillPath(path, m_state.fill);
}

void GraphicsContext::fillRect(const QRectF &rect)
{
    QPainterPath path;
    path.addRect(rect);
    fill(path);
}

void GraphicsContext::stroke(const QPainterPath &path)
{
    if (m_state.lineWidth <= 0)
        return;
    const QPainterPath outline = outlineOf(path);
    castShadow(outline);
    m_painter.fillPath(outline, m_state.stroke);
}

void GraphicsContext::strokeLine(QPointF from, QPointF to)
{
    QPainterPath path(from);
    path.lineTo(to);
    stroke(path);
}

void GraphicsContext::clip(const QPainterPath &path)
{
    m_painter.setClipPath(path, Qt::IntersectClip);
}

void GraphicsContext::clipRect(const QRectF &rect)
{
    m_painter.setClipRect(rect, Qt::IntersectClip);
}

void GraphicsContext::fillGradient(const CTGradient &gradient, const QRectF &rect, qreal angle)
{
    // The painter is upside down here, which mirrors every angle.
    gradient.fillRect(m_painter, rect, float(-angle));
}

void GraphicsContext::drawText(const StyledText &text, QPointF at)
{
    if (text.isEmpty())
        return;
    const QSizeF size = text.size();
    m_painter.save();
    m_painter.translate(at.x(), at.y() + size.height());
    m_painter.scale(1, -1);
    m_painter.setPen(QColor(Qt::black));
    // A point more than the measured width so rounding never wraps the last word.
    text.draw(m_painter,
              QRectF(QPointF(0, 0), QSizeF(std::ceil(size.width()) + 1, std::ceil(size.height()) + 1)));
    m_painter.restore();
}

void GraphicsContext::drawImage(const QImage &image, const QRectF &target, const QRectF &source,
                                qreal opacity, QPainter::CompositionMode mode)
{
    if (image.isNull() || target.isEmpty())
        return;
    QRectF from(0, 0, image.width(), image.height());
    if (!source.isEmpty())
        from = QRectF(source.x(), image.height() - source.y() - source.height(), source.width(),
                      source.height());
    m_painter.save();
    m_painter.translate(target.x(), target.y() + target.height());
    m_painter.scale(1, -1);
    m_painter.setOpacity(m_painter.opacity() * opacity);
    m_painter.setCompositionMode(mode);
    m_painter.drawImage(QRectF(QPointF(0, 0), target.size()), image, from);
    m_painter.restore();
}

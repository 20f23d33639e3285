#include "FennimarGradientView.h"

#include "GraphicsContext.h"

#include <QPainter>

FennimarGradientView::FennimarGradientView(QWidget *parent)
    : QWidget(parent)
{
}

void FennimarGradientView::awakeFromNib()
{
    setDrawGradient(true);
}

void FennimarGradientView::setDrawGradient(bool draw)
{
    if (m_drawGradient == draw)
        return;
    m_drawGradient = draw;
    // An opaque bar spares Qt painting the parent's background under it.
    setAttribute(Qt::WA_OpaquePaintEvent, draw);
    update();
}

CTGradient FennimarGradientView::gradient() const
{
    return CTGradient::unifiedSelectedGradient();
}

void FennimarGradientView::drawGradientFill(QPainter &painter)
{
    if (!m_gradient)
        m_gradient = gradient();
    if (!m_drawGradient)
        return;
    GraphicsContext context(painter, height());
    // One pixel wider than the bar, so no seam shows at its right edge.
    context.fillGradient(*m_gradient, QRectF(0, 0, width() + 1, height()), 90);
}

void FennimarGradientView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawGradientFill(painter);
}

#include "FennimarDarkGradientView.h"

#include "GraphicsContext.h"

#include <QPainter>

FennimarDarkGradientView::FennimarDarkGradientView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CTGradient FennimarDarkGradientView::gradient() const
{
    return CTGradient::unifiedVeryDarkGradient();
}

void FennimarDarkGradientView::drawGradientFill(QPainter &painter)
{
    if (!m_disabledGradient)
        m_disabledGradient = CTGradient::unifiedDarkGradient();
    GraphicsContext context(painter, height());
    context.fillGradient(gradient(), QRectF(0, 0, width(), height()), 90);
}

void FennimarDarkGradientView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawGradientFill(painter);
}

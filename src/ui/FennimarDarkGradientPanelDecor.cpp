#include "FennimarDarkGradientPanelDecor.h"

#include "GraphicsContext.h"

#include <QEvent>
#include <QPainter>

CTGradient FennimarDarkGradientPanelDecor::gradient() const
{
    const QWidget *w = window();
    return w && w->isActiveWindow() ? CTGradient::unifiedVeryVeryDarkGradient()
                                    : CTGradient::unifiedNormalGradient();
}

void FennimarDarkGradientPanelDecor::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawGradientFill(painter);
    GraphicsContext context(painter, height());
    context.setStrokeColor(QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3) /* dark grey */);
    context.setLineWidth(1);
    context.strokeLine(QPointF(0, height() - 0.5), QPointF(width(), height() - 0.5));
}

bool FennimarDarkGradientPanelDecor::event(QEvent *event)
{
    // The window passes its activation on to every visible child.
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate)
        update();
    return FennimarDarkGradientView::event(event);
}

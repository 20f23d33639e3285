#include "FennimarGradientViewWithBottomStroke.h"

#include "GraphicsContext.h"

#include <QPainter>

void FennimarGradientViewWithBottomStroke::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawGradientFill(painter);
    GraphicsContext context(painter, height());
    context.setStrokeColor(QColor::fromRgbF(1.0f / 3, 1.0f / 3, 1.0f / 3) /* dark grey */);
    context.setLineWidth(1);
    context.strokeLine(QPointF(0, 0.5), QPointF(width(), 0.5));
}

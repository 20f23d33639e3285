// The drawing part of FennimarDebugging.

#include "FennimarDebugging.h"

#include <QColor>
#include <QPainter>

namespace FennimarDebugging {

void debugRect(QPainter *painter, const QRectF &rect, const QColor &inColor)
{
    if (!painter)
        return;
    painter->save();
    painter->setPen(QPen(inColor, 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect);
    painter->restore();
}

} // namespace FennimarDebugging

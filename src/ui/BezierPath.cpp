#include "BezierPath.h"

#include <algorithm>
#include <cmath>

namespace BezierPath {

void appendBezierPathWithArcWithCenter(QPainterPath &path, QPointF center, qreal radius, qreal startAngle,
                                       qreal endAngle)
{
    // Counter-clockwise from start to end: a sweep in (0, 360], none when the angles agree.
    qreal sweep = std::fmod(endAngle - startAngle, 360.0);
    if (sweep < 0)
        sweep += 360;
    if (sweep == 0 && endAngle != startAngle)
        sweep = 360;
    const QRectF box(center.x() - radius, center.y() - radius, 2 * radius, 2 * radius);
    // Qt measures angles with y down; with y up its angles run the other way round.
    if (path.elementCount() == 0)
        path.arcMoveTo(box, -startAngle);
    path.arcTo(box, -startAngle, -sweep);
}

namespace {

void cornerPoint(QPainterPath &path, QPointF point)
{
    if (path.elementCount() == 0)
        path.moveTo(point);
    else
        path.lineTo(point);
}

} // namespace

QPainterPath bezierPathWithRoundedRect(const QRectF &rect, qreal cornerRadius, int inCorners)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    const qreal r = std::min(cornerRadius, std::min(w, h) / 2);
    QPainterPath path;
    struct Corner
    {
        int bit;
        QPointF point;
        QPointF center;
        qreal from;
        qreal to;
    };
    const Corner corners[] = {
        {BottomLeftCorner, {x, y}, {x + r, y + r}, 180, 270},
        {BottomRightCorner, {x + w, y}, {x + w - r, y + r}, 270, 360},
        {TopRightCorner, {x + w, y + h}, {x + w - r, y + h - r}, 0, 90},
        {TopLeftCorner, {x, y + h}, {x + r, y + h - r}, 90, 180},
    };
    for (const Corner &corner : corners) {
        if (inCorners & corner.bit)
            appendBezierPathWithArcWithCenter(path, corner.center, r, corner.from, corner.to);
        else
            cornerPoint(path, corner.point);
    }
    path.closeSubpath();
    return path;
}

void appendBezierPathWithRoundedRect(QPainterPath &path, const QRectF &rect, qreal cornerRadius)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height(), r = cornerRadius;
    if (!(h > 0))
        return;
    path.moveTo(x, y + r);
    appendBezierPathWithArcWithCenter(path, {x + r, y + r}, r, 180, 270);
    appendBezierPathWithArcWithCenter(path, {x + w - r, y + r}, r, 270, 360);
    appendBezierPathWithArcWithCenter(path, {x + w - r, y + h - r}, r, 360, 90);
    appendBezierPathWithArcWithCenter(path, {x + r, y + h - r}, r, 90, 180);
    path.closeSubpath();
}

QPainterPath bezierPathWithPlateInRect(const QRectF &rect)
{
    QPainterPath path;
    appendBezierPathWithPlateInRect(path, rect);
    return path;
}

void appendBezierPathWithPlateInRect(QPainterPath &path, const QRectF &rect)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    if (!(h > 0))
        return;
    const qreal r = h / 2;
    path.moveTo(x + r, y + h);
    appendBezierPathWithArcWithCenter(path, {x + r, y + r}, r, 90, 270);
    appendBezierPathWithArcWithCenter(path, {x + w - r, y + r}, r, 270, 90);
    path.closeSubpath();
}

QPainterPath bezierPathWithTriangleInRect(const QRectF &rect, int orientation)
{
    QPainterPath path;
    appendBezierPathWithTriangleInRect(path, rect, orientation);
    return path;
}

void appendBezierPathWithTriangleInRect(QPainterPath &path, const QRectF &rect, int orientation)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    QPointF points[3];
    switch (orientation) {
    case PointingUp:
        points[0] = {x, y}, points[1] = {x + w / 2, y + h}, points[2] = {x + w, y};
        break;
    case PointingDown:
        points[0] = {x, y + h}, points[1] = {x + w / 2, y}, points[2] = {x + w, y + h};
        break;
    case PointingLeft:
        points[0] = {x + w, y + h}, points[1] = {x + w, y}, points[2] = {x, y + h / 2};
        break;
    default:
        points[0] = {x, y}, points[1] = {x, y + h}, points[2] = {x + w, y + h / 2};
        break;
    }
    path.moveTo(points[0]);
    path.lineTo(points[1]);
    path.lineTo(points[2]);
    path.closeSubpath();
}

} // namespace BezierPath

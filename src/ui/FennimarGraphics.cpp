#include "FennimarGraphics.h"

#include "BezierPath.h"
#include "CTGradient.h"
#include "FennimarAttributedStrings.h"
#include "FennimarColors.h"
#include "FennimarImaging.h"
#include "uilogging.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>
#include <array>
#include <cmath>

namespace FennimarGraphics {

namespace {

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

// The colour taken the fraction of the way toward the other, alpha kept.
QColor blended(const QColor &color, const QColor &toward, qreal fraction)
{
    const QColor c = color.toRgb();
    const QColor t = toward.toRgb();
    const auto mix = [fraction](float a, float b) { return a + (b - a) * float(fraction); };
    return QColor::fromRgbF(mix(c.redF(), t.redF()), mix(c.greenF(), t.greenF()), mix(c.blueF(), t.blueF()),
                            c.alphaF());
}

QColor shadowedBy(const QColor &color, qreal level)
{
    return blended(color, Qt::black, level);
}

QColor highlightedBy(const QColor &color, qreal level)
{
    return blended(color, Qt::white, level);
}

void drawCellBorder(GraphicsContext &context, const QRectF &rect, const QColor &endColor)
{
    context.saveGraphicsState();
    context.setStrokeColor(withAlpha(endColor, 0.5));
    context.setLineWidth(0.5);
    context.strokeLine(QPointF(rect.x(), rect.y()), QPointF(rect.x() + rect.width(), rect.y()));
    context.restoreGraphicsState();
}

QColor paletteColor(QPalette::ColorGroup group, QPalette::ColorRole role)
{
    return QGuiApplication::palette().color(group, role);
}

} // namespace

// ---- Shadows ----

Shadow standardShadow()
{
    return Shadow{QColor(Qt::black), QPointF(2, -2), 4};
}

Shadow standardFlippedShadow()
{
    return Shadow{QColor(Qt::black), QPointF(2, 2), 4};
}

Shadow standardLabelShadow()
{
    return Shadow{QColor(Qt::black), QPointF(0, 0), 2};
}

Shadow subtleShadow()
{
    return Shadow{QColor(Qt::black), QPointF(0, 0), 2};
}

void setStandardShadow(GraphicsContext &context)
{
    context.setShadow(standardShadow());
}

void setStandardFlippedShadow(GraphicsContext &context)
{
    context.setShadow(standardFlippedShadow());
}

Shadow setSubtleShadow(GraphicsContext &context)
{
    const Shadow shadow = subtleShadow();
    context.setShadow(shadow);
    return shadow;
}

void setNoShadow(GraphicsContext &context)
{
    Shadow none;
    none.color = QColor(Qt::transparent);
    context.setShadow(none);
}

// ---- Paths ----

QPainterPath bezierPathWithRoundedRect(const QRectF &rect, qreal cornerRadius)
{
    QPainterPath path;
    BezierPath::appendBezierPathWithRoundedRect(path, rect, cornerRadius);
    return path;
}

QPainterPath bezierPathWithLozengeinRect(const QRectF &rect)
{
    return bezierPathWithRoundedRect(rect, rect.height() / 2);
}

namespace {

QPainterPath openFigure(std::initializer_list<QPointF> points)
{
    QPainterPath path;
    for (const QPointF &point : points) {
        if (path.elementCount() == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    return path;
}

} // namespace

QPainterPath bezierPathWithUpPointingTriangleInRect(const QRectF &rect)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    return openFigure({{x, y}, {x + w, y}, {x + w / 2, y - h}, {x, y}});
}

QPainterPath bezierPathWithDownPointingTriangleInRect(const QRectF &rect)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    return openFigure({{x, y}, {x + w, y}, {x + w / 2, y + h}, {x, y}});
}

QPainterPath bezierPathWithRightPointingTriangleInRect(const QRectF &rect)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    return openFigure({{x, y}, {x + w, y + h / 2}, {x, y + h}, {x, y}});
}

QPainterPath bezierPathWithRoundedArrow(const QRectF &rect, qreal arrowWidth, int direction)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    const qreal aw = arrowWidth == -1 ? h / 2 : arrowWidth;
    const qreal c = h / 2;
    QPainterPath path;
    switch (direction) {
    case NoArrow:
        break;
    case ArrowPointingRight:
        path.moveTo(x + c, y);
        path.lineTo(x + w - aw, y);
        path.lineTo(x + w, y + c);
        path.lineTo(x + w - aw, y + h);
        path.lineTo(x + c, y + h);
        BezierPath::appendBezierPathWithArcWithCenter(path, {x + c, y + c}, c, 90, 270);
        break;
    case ArrowPointingLeft:
        path.moveTo(x + aw, y);
        path.lineTo(x + w - c, y);
        BezierPath::appendBezierPathWithArcWithCenter(path, {x + w - c, y + c}, c, 270, 90);
        path.lineTo(x + aw, y + h);
        path.lineTo(x, y + c);
        path.lineTo(x + aw, y);
        break;
    case ArrowBothEndsRound:
        path.moveTo(x + c, y);
        path.lineTo(x + w - aw, y);
        BezierPath::appendBezierPathWithArcWithCenter(path, {x + w - c, y + c}, c, 270, 90);
        path.lineTo(x + c, y + h);
        BezierPath::appendBezierPathWithArcWithCenter(path, {x + c, y + c}, c, 90, 270);
        break;
    default:
        qCWarning(lcUi, "bezierPathWithRoundedArrow:(NSRect) rect arrowWidth:(float) arrowWidth "
                        "direction:(int) facing_direction");
        qCWarning(lcUi, "direction not implemented");
        qCWarning(lcUi, "and this, WILL NOT RENDER!");
        break;
    }
    return path;
}

QPainterPath bezierPathRectangleWithSawtoothEdges(const QRectF &rect, int numOfTeeth, qreal toothLength)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height(), t = toothLength;
    const qreal step = numOfTeeth > 0 ? h / numOfTeeth : 0;
    QPainterPath path(QPointF(x + t, y));
    const auto relative = [&path](qreal dx, qreal dy) {
        path.lineTo(path.currentPosition() + QPointF(dx, dy));
    };
    relative(w - 2 * t, 0);
    for (int i = 0; i < numOfTeeth; ++i) {
        relative(t, step / 2);
        relative(-t, step / 2);
    }
    relative(-(w - 2 * t), 0);
    for (int i = 0; i < numOfTeeth; ++i) {
        relative(-t, -step / 2);
        relative(t, -step / 2);
    }
    return path;
}

// ---- Fades and highlights ----

void drawFade(GraphicsContext &context, const QRectF &rect, const QColor &startColor, const QColor &endColor,
              bool cellBorder)
{
    context.fillGradient(CTGradient::gradientWithBeginningColor(startColor, endColor), rect, 90);
    if (cellBorder)
        drawCellBorder(context, rect, endColor);
}

void drawFadeOLD(GraphicsContext &context, const QRectF &rect, const QColor &startColor,
                 const QColor &endColor, bool cellBorder)
{
    const QColor start = startColor.toRgb();
    const QColor end = endColor.toRgb();
    const qreal h = rect.height();
    std::array<qreal, 4> component{start.redF(), start.greenF(), start.blueF(), start.alphaF()};
    const std::array<qreal, 4> step{(end.redF() - start.redF()) / h, (end.greenF() - start.greenF()) / h,
                                    (end.blueF() - start.blueF()) / h, (end.alphaF() - start.alphaF()) / h};
    context.saveGraphicsState();
    context.setShadow(std::nullopt);
    for (int i = 0; i < h; ++i) {
        const auto unit = [](qreal v) { return float(std::clamp(v, 0.0, 1.0)); };
        context.setFillColor(
            QColor::fromRgbF(unit(component[0]), unit(component[1]), unit(component[2]), unit(component[3])));
        context.fillRect(QRectF(rect.x(), rect.y() + i, rect.width(), 1));
        for (int c = 0; c < 4; ++c)
            component[c] += step[c];
    }
    context.restoreGraphicsState();
    if (cellBorder)
        drawCellBorder(context, rect, endColor);
}

void drawGradientHighlight(GraphicsContext &context, const QRectF &rect, int, bool cellBorder)
{
    // The selection behind text in an unfocused view, fading to the focused selection.
    const QColor start = withAlpha(paletteColor(QPalette::Inactive, QPalette::Highlight), 0.99);
    const QColor end = withAlpha(paletteColor(QPalette::Active, QPalette::Highlight), 0.99);
    drawFade(context, rect, start, end, cellBorder);
}

void drawGradientTintHighlight(GraphicsContext &context, const QRectF &rect, int, bool cellBorder)
{
    const QColor tint = FennimarColors::colorForControlTint();
    drawFade(context, rect, withAlpha(tint, 0.99), withAlpha(shadowedBy(tint, 0.3), 0.99), cellBorder);
}

void drawMenuHighlightInRect(GraphicsContext &context, const QRectF &rect)
{
    QColor start = QColor::fromRgbF(0.09f, 0.258f, 0.949f, 1);
    QColor end = highlightedBy(start, 0.4);
    if (FennimarColors::isInGraphiteMode()) {
        start = QColor::fromRgbF(0.32f, 0.364f, 0.407f, 1);
        end = highlightedBy(start, 0.2);
    }
    drawFade(context, rect, start, end, true);
}

// ---- Glossy fill ----

GlossyFillGeometry glossyFillGeometry(const QRectF &rect, bool flipGradient)
{
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    const qreal moved = flipGradient ? y + h / 2 : y;
    GlossyFillGeometry geometry;
    geometry.pathRect = QRectF(x, moved, w, h);
    geometry.glossRect = QRectF(x, moved, w, h / 2);
    geometry.glossAngle = flipGradient ? -90 : 90;
    geometry.border = QLineF(x, y + 0.5, x + w, y + 0.5);
    return geometry;
}

void glossyFillBezierPath(GraphicsContext &context, const std::optional<QPainterPath> &path,
                          const QColor &withColor, const QRectF &inRect, bool flipGradient, bool withBorders)
{
    const GlossyFillGeometry geometry = glossyFillGeometry(inRect, flipGradient);
    QPainterPath shape = path.value_or(QPainterPath());
    if (!path)
        shape.addRect(geometry.pathRect);

    context.saveGraphicsState();
    context.setFillColor(withColor);
    context.fill(shape);
    context.restoreGraphicsState();

    context.saveGraphicsState();
    context.clip(shape);
    setNoShadow(context);
    const CTGradient gloss = CTGradient::gradientWithBeginningColor(QColor::fromRgbF(1, 1, 1, 0.6f),
                                                                    QColor::fromRgbF(1, 1, 1, 0.1f));
    context.fillGradient(gloss, geometry.glossRect, geometry.glossAngle);
    context.restoreGraphicsState();

    if (withBorders) {
        context.saveGraphicsState();
        context.setStrokeColor(withColor);
        context.strokeLine(geometry.border.p1(), geometry.border.p2());
        context.restoreGraphicsState();
    }
}

// ---- Other drawing ----

void drawCheckerBox(GraphicsContext &context, const QRectF &rect, qreal ofSize, const QColor &withColor,
                    const QColor &andColor)
{
    const qreal s = ofSize;
    if (!(s > 0))
        return;
    const qreal x = rect.x(), y = rect.y(), w = rect.width(), h = rect.height();
    context.saveGraphicsState();
    context.painter().setRenderHint(QPainter::Antialiasing, false);
    // The second colour lies under the whole board, so no square is left unpainted.
    context.setFillColor(andColor);
    context.fillRect(QRectF(x + 0.5, y + 0.5, w, h));
    context.setFillColor(withColor);
    int row = 0;
    for (qreal top = y + 0.5; top < y + h; top += s, ++row) {
        for (qreal left = row % 2 ? x - (s - 0.5) : x + 0.5; left < x + w; left += 2 * s)
            context.fillRect(QRectF(left, top, s, s));
    }
    context.restoreGraphicsState();
}

QImage hudTitleBar(const QRectF &rect, const QObject *)
{
    QImage image = FennimarImaging::imageWithSize(rect.width(), rect.height());
    QPainter painter(&image);
    GraphicsContext context(painter, image.height());
    const QRectF bounds(0, 0, rect.width(), rect.height());
    context.clip(BezierPath::bezierPathWithRoundedRect(
        bounds, 6.5, BezierPath::TopLeftCorner | BezierPath::TopRightCorner));
    context.fillGradient(CTGradient::HUDTitleBarGradient(), bounds, 90);
    return image;
}

void drawTagMarkerInRect(GraphicsContext &context, const QRectF &rect, bool withShadow,
                         const QColor &withFillColor, const QColor &,
                         const std::optional<StyledText> &withText,
                         const std::optional<StyledText> &andShadowText, qreal verticalTextOffset,
                         qreal horizontalTextOffset, bool flipGradient, int direction)
{
    const QPainterPath outline = bezierPathWithRoundedArrow(rect, -1, direction);
    context.saveGraphicsState();
    if (direction != NoArrow) {
        if (withShadow)
            setStandardShadow(context);
        context.setFillColor(withFillColor);
        context.fill(outline);
        setNoShadow(context);
        context.setStrokeColor(shadowedBy(withFillColor, 0.3));
        context.stroke(outline);

        context.saveGraphicsState();
        context.clip(outline);
        const QColor clear = QColor::fromRgbF(1, 1, 1, 0);
        const QColor light = QColor::fromRgbF(1, 1, 1, 0.2f);
        if (flipGradient)
            drawFade(context, rect, clear, light, false);
        else
            drawFade(context, rect, light, clear, false);
        context.restoreGraphicsState();
    }
    if (withText) {
        const QPointF at(rect.x() + horizontalTextOffset, rect.y() - verticalTextOffset);
        if (direction != NoArrow) {
            context.clip(outline);
            if (andShadowText)
                context.drawText(*andShadowText, at - QPointF(1, 1));
        }
        context.drawText(*withText, at);
    }
    context.restoreGraphicsState();
}

QPainterPath drawRoundedLabelWithArrowWithText(GraphicsContext &context, const QString &text, QPointF at,
                                               const QColor &withFillColor, const QColor &withStrokeColor)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(8);
    const StyledText label = FennimarAttributedStrings::attributedString(text, font, withStrokeColor);
    const qreal tw = label.size().width();
    const qreal px = at.x(), py = at.y();

    QPainterPath outline(QPointF(px, py));
    outline.lineTo(px + 5, py + 6);
    outline.lineTo(px + tw / 2, py + 6);
    BezierPath::appendBezierPathWithArcWithCenter(outline, {px + tw / 2, py + 13.5}, 7.5, -90, 90);
    outline.lineTo(px - tw / 2, py + 21);
    BezierPath::appendBezierPathWithArcWithCenter(outline, {px - tw / 2, py + 13.5}, 7.5, 90, 270);
    outline.lineTo(px - 5, py + 6);
    outline.lineTo(px, py);

    context.saveGraphicsState();
    Shadow shadow = standardShadow();
    context.setShadow(shadow);
    glossyFillBezierPath(context, outline, withFillColor, outline.boundingRect().adjusted(0, 0, 0, 10),
                         false);
    shadow.color = QColor(Qt::transparent);
    context.setShadow(shadow);
    context.drawText(label, QPointF(px - tw / 2, py + 8));
    context.setStrokeColor(withStrokeColor);
    context.stroke(outline);
    context.restoreGraphicsState();
    return outline;
}

} // namespace FennimarGraphics

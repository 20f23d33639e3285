#include "FennimarFancyPanelView.h"

#include "CTGradient.h"
#include "FennimarColors.h"
#include "GraphicsContext.h"

#include <QPainter>

namespace {

// The platform greys: light grey is 2/3 white.
constexpr qreal LightGrey = 2.0 / 3.0;

QColor grey(qreal white)
{
    return QColor::fromRgbF(float(white), float(white), float(white));
}

// A grey moved the fraction of the way toward white, or toward black.
qreal highlighted(qreal white, qreal level)
{
    return white + (1.0 - white) * level;
}

qreal shadowed(qreal white, qreal level)
{
    return white * (1.0 - level);
}

} // namespace

FennimarFancyPanelView::FennimarFancyPanelView(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

QColor FennimarFancyPanelView::bandBottomColor()
{
    return grey(shadowed(highlighted(LightGrey, 0.5), 0.1));
}

QColor FennimarFancyPanelView::bandTopColor()
{
    return grey(shadowed(FennimarColors::veryVeryLightGrayColor().redF(), 0.1));
}

void FennimarFancyPanelView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const qreal w = width(), h = height();
    GraphicsContext context(painter, h);
    context.setFillColor(FennimarColors::veryLightGrayColor());
    context.fillRect(QRectF(0, 0, w, h));

    const CTGradient band = CTGradient::gradientWithBeginningColor(bandBottomColor(), bandTopColor());
    context.fillGradient(band, QRectF(-0.5, -0.5, w + 10, BandHeight), 90);

    context.setLineWidth(1);
    context.setStrokeColor(grey(LightGrey));
    context.strokeLine(QPointF(0, BandHeight + 0.5), QPointF(w, BandHeight + 0.5));
    context.setStrokeColor(QColor(Qt::white));
    context.strokeLine(QPointF(0, BandHeight - 0.5), QPointF(w, BandHeight - 0.5));
}

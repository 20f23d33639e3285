#include "BriskoRowCounterCell.h"

#include "FennimarAttributedStrings.h"
#include "FennimarColors.h"
#include "RecipientTableModel.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>

namespace brisko {

namespace {

QColor grey(qreal white)
{
    return QColor::fromRgbF(float(white), float(white), float(white));
}

// The platform greys: light grey is 2/3 white, grey 1/2, dark grey 1/3.
constexpr qreal LightGrey = 2.0 / 3.0;
constexpr qreal Grey = 0.5;
constexpr qreal DarkGrey = 1.0 / 3.0;

// A grey moved the given fraction of the way toward white, or toward black.
qreal highlight(qreal white, qreal level)
{
    return white + (1.0 - white) * level;
}

qreal shadow(qreal white, qreal level)
{
    return white * (1.0 - level);
}

} // namespace

BriskoRowCounterCell::Colours BriskoRowCounterCell::coloursFor(const QString &text)
{
    if (text.endsWith(u'*'))
        return {grey(Grey), grey(shadow(Grey, 0.8)), QColor(Qt::white)};
    return {FennimarColors::veryVeryLightGrayColor(), grey(highlight(LightGrey, 0.5)), grey(DarkGrey)};
}

namespace {

QFont numberFont()
{
    QFont font = QApplication::font();
    font.setPointSizeF(9);
    font.setBold(true);
    return font;
}

} // namespace

int BriskoRowCounterCell::widthFor(const QString &text)
{
    const StyledText label = FennimarAttributedStrings::attributedString(text, numberFont(), QColor(Qt::black));
    // The text stands 2 points from the right edge; as much again on the left.
    return int(std::ceil(label.size().width())) + 8;
}

void BriskoRowCounterCell::drawWithFrame(QPainter &painter, const QRectF &frame, const QString &text)
{
    const Colours colours = coloursFor(text);
    QLinearGradient fade(frame.topLeft(), frame.bottomLeft());
    fade.setColorAt(0, colours.top);
    fade.setColorAt(1, colours.bottom);
    painter.fillRect(frame, fade);

    const StyledText label = FennimarAttributedStrings::attributedString(text, numberFont(), colours.text);
    const QSizeF size = label.size();
    // Right-aligned 2 points from the right edge, 1 point below the top. The drawing
    // rectangle is a point wider than the text so that rounding never wraps it.
    const QRectF at(frame.x() + frame.width() - size.width() - 2, frame.y() + 1, std::ceil(size.width()) + 1,
                    std::ceil(size.height()));
    painter.save();
    painter.setClipRect(frame, Qt::IntersectClip);
    label.draw(painter, at);
    painter.restore();
}

void BriskoRowCounterCell::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const
{
    drawWithFrame(*painter, option.rect, index.data(RecipientTableModel::RowNumberRole).toString());
}

} // namespace brisko

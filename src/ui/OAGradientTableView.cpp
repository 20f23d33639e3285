#include "OAGradientTableView.h"

#include "CTGradient.h"
#include "FennimarColors.h"

#include <QApplication>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace {

QColor deviceGrey(const QColor &color)
{
    const QColor rgb = color.toRgb();
    const float white = 0.299f * rgb.redF() + 0.587f * rgb.greenF() + 0.114f * rgb.blueF();
    return QColor::fromRgbF(white, white, white, rgb.alphaF());
}

// WCAG's relative luminance and contrast ratio.
double luminance(const QColor &color)
{
    const auto channel = [](double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); };
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

double contrast(const QColor &a, const QColor &b)
{
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The text colour, of the two offered, that reads best on both ends of a block.
QColor textColorOn(const OAGradientTableView::SelectionColors &colors, const QColor &light, const QColor &dark)
{
    const auto worst = [&](const QColor &text) {
        return std::min(contrast(text, colors.top), contrast(text, colors.bottom));
    };
    return worst(light) >= worst(dark) ? light : dark;
}

} // namespace

OAGradientTableView::OAGradientTableView(QWidget *parent)
    : QTableView(parent)
{
}

OAGradientTableView::SelectionColors OAGradientTableView::selectionColors(const QColor &selectionColor, bool active)
{
    const QColor line = selectionColor.toRgb();
    float h = 0, s = 0, b = 0, a = 0;
    line.getHsvF(&h, &s, &b, &a);
    // An achromatic colour has no hue (-1); any hue will do, its saturation stays 0.
    h = std::max(h, 0.0f);
    SelectionColors colors{
        line,
        QColor::fromHsvF(h, std::max(s - 0.12f, 0.0f), std::min(b + 0.3f, 1.0f), a).toRgb(),
        QColor::fromHsvF(h, s > 0.04f ? std::min(s + 0.12f, 1.0f) : 0.0f, std::max(b - 0.045f, 0.0f), a).toRgb(),
    };
    if (!active) {
        colors.line = deviceGrey(colors.line);
        colors.top = deviceGrey(colors.top);
        colors.bottom = deviceGrey(colors.bottom);
    }
    return colors;
}

bool OAGradientTableView::isSelectionActive() const
{
    const QWidget *w = window();
    return w && w->isActiveWindow() && hasFocus();
}

void OAGradientTableView::setAcceptsFirstMouse(bool accepts)
{
    if (accepts)
        m_flags |= AcceptsFirstMouse;
    else
        m_flags &= ~unsigned(AcceptsFirstMouse);
}

bool OAGradientTableView::acceptsFirstMouse() const
{
    if (m_flags & AcceptsFirstMouse)
        return QGuiApplication::applicationState() == Qt::ApplicationActive;
    return true;
}

void OAGradientTableView::highlightSelectionInClipRect(QPainter &painter, const QRect &)
{
    const QItemSelectionModel *selection = selectionModel();
    if (!selection || !model())
        return;

    // The selected rows as ascending, separate spans.
    QList<std::pair<int, int>> spans;
    for (const QItemSelectionRange &range : selection->selection()) {
        if (range.isValid())
            spans.append({range.top(), range.bottom()});
    }
    if (spans.isEmpty())
        return;
    std::sort(spans.begin(), spans.end());

    // Each span as a block of the viewport: hidden rows take no height, so spans that only
    // hidden rows keep apart meet and become one block.
    const int width = viewport()->width();
    const int viewportHeight = viewport()->height();
    QList<QRect> blocks;
    for (const auto &[first, last] : spans) {
        const int top = rowViewportPosition(first);
        const int bottom = rowViewportPosition(last) + rowHeight(last);
        if (bottom <= top)
            continue;
        if (!blocks.isEmpty() && blocks.last().bottom() + 1 >= top) {
            blocks.last().setBottom(std::max(blocks.last().bottom(), bottom - 1));
            continue;
        }
        blocks.append(QRect(0, top, width, bottom - top));
    }

    const SelectionColors colors = selectionColors(FennimarColors::highlightColor(), isSelectionActive());
    const CTGradient fill = CTGradient::gradientWithBeginningColor(colors.top, colors.bottom);
    for (const QRect &block : std::as_const(blocks)) {
        if (block.bottom() < 0 || block.top() >= viewportHeight)
            continue;
        painter.fillRect(QRect(block.left(), block.top(), block.width(), 1), colors.line);
        const QRect rest = block.adjusted(0, 1, 0, 0);
        if (rest.isEmpty())
            continue;
        painter.save();
        painter.setClipRect(rest, Qt::IntersectClip);
        // 270 degrees: position 0 along the top edge, 1 along the bottom.
        fill.fillRect(painter, rest, 270);
        painter.restore();
    }
}

void OAGradientTableView::initViewItemOption(QStyleOptionViewItem *option) const
{
    QTableView::initViewItemOption(option);
    // The view paints the selection and the alternate rows under the cells, so the cells
    // draw neither.
    const QColor text = textColorOn(selectionColors(FennimarColors::highlightColor(), isSelectionActive()),
                                    palette().color(QPalette::Active, QPalette::HighlightedText),
                                    palette().color(QPalette::Active, QPalette::Text));
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        option->palette.setColor(group, QPalette::Highlight, Qt::transparent);
        option->palette.setColor(group, QPalette::AlternateBase, Qt::transparent);
        if (group != QPalette::Disabled)
            option->palette.setColor(group, QPalette::HighlightedText, text);
    }
}

void OAGradientTableView::paintEvent(QPaintEvent *event)
{
    {
        QPainter painter(viewport());
        if (alternatingRowColors() && model()) {
            const int first = rowAt(0);
            int last = rowAt(viewport()->height() - 1);
            if (last < 0)
                last = model()->rowCount() - 1;
            const QBrush alternate = palette().brush(QPalette::AlternateBase);
            for (int row = std::max(first, 0); first >= 0 && row <= last; ++row) {
                if (!isRowHidden(row) && (verticalHeader()->visualIndex(row) & 1))
                    painter.fillRect(QRect(0, rowViewportPosition(row), viewport()->width(), rowHeight(row)),
                                     alternate);
            }
        }
        highlightSelectionInClipRect(painter, event->rect());
    }
    QTableView::paintEvent(event);
}

void OAGradientTableView::selectionChanged(const QItemSelection &selected, const QItemSelection &deselected)
{
    QTableView::selectionChanged(selected, deselected);
    // A run's gradient spans the whole run, so a change at one row repaints all of it.
    viewport()->update();
}

void OAGradientTableView::focusInEvent(QFocusEvent *event)
{
    QTableView::focusInEvent(event);
    viewport()->update();
}

void OAGradientTableView::focusOutEvent(QFocusEvent *event)
{
    QTableView::focusOutEvent(event);
    viewport()->update();
}

bool OAGradientTableView::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate || event->type() == QEvent::WindowDeactivate
        || event->type() == QEvent::PaletteChange)
        viewport()->update();
    return QTableView::event(event);
}

void OAGradientTableView::mousePressEvent(QMouseEvent *event)
{
    const QWidget *w = window();
    if (w && !w->isActiveWindow() && !acceptsFirstMouse()) {
        // The click only brings the window forward.
        window()->activateWindow();
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

#pragma once

#include <QColor>
#include <QStyledItemDelegate>

class QPainter;

namespace brisko {

// Draws the row numbers of the recipient table: a vertical fade behind a small bold
// number set against the right edge. A number whose text ends with "*" is drawn dark,
// with white text. The text is the row's RecipientTableModel::RowNumberRole. Keeps no
// state of its own.
class BriskoRowCounterCell : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    struct Colours
    {
        QColor top;
        QColor bottom;
        QColor text;
    };

    // The fade (top to bottom) and text colours for the cell's text.
    static Colours coloursFor(const QString &text);
    // The narrowest cell that shows the text whole.
    static int widthFor(const QString &text);
    // Draws one row-number cell with that text into the frame.
    static void drawWithFrame(QPainter &painter, const QRectF &frame, const QString &text);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace brisko

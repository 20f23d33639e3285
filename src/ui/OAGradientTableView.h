#pragma once

#include <QColor>
#include <QTableView>

#include <array>

class QPainter;

// A table that paints its selected rows with a gradient made from the desktop's selection
// colour instead of a flat colour: each run of consecutive selected rows is one block,
// lighter at the top and darker at the bottom, under a one-pixel line of the selection
// colour itself. While the table is not the focus widget of the active window the block
// and its line are grey.
//
// The cells paint no selection of their own: the view hands its delegates a palette whose
// highlight is clear, and paints the blocks underneath them before they draw. Selected text
// is drawn in white on the coloured blocks and in the normal text colour on light grey ones.
class OAGradientTableView : public QTableView
{
    Q_OBJECT

public:
    explicit OAGradientTableView(QWidget *parent = nullptr);

    // The colours of a selection block: its top line, the gradient's top and bottom.
    struct SelectionColors
    {
        QColor line;
        QColor top;
        QColor bottom;
    };
    // The block colours made from a selection colour. With hue h, saturation s, brightness
    // b and alpha a of the colour: the line is the colour itself, the top is
    // (h, max(s - 0.12, 0), min(b + 0.3, 1), a), the bottom (h, s > 0.04 ? min(s + 0.12, 1)
    // : 0, max(b - 0.045, 0), a). Inactive, every colour becomes the grey of its luminance.
    static SelectionColors selectionColors(const QColor &selectionColor, bool active);

    // Whether the selection shows in colour: the table has the focus in the active window.
    bool isSelectionActive() const;

    // With the flag set, a click on the table of an inactive window is taken (activating
    // the window) only while the application itself is active; without it, clicks always
    // go through, as Qt delivers them. Clear on creation.
    void setAcceptsFirstMouse(bool accepts);
    bool acceptsFirstMouse() const;

    // Paints the blocks of every selected run that reaches into the viewport. The clip
    // rectangle is not used to trim a run: a run is always painted whole, so its gradient
    // keeps its shape however little of it is exposed.
    void highlightSelectionInClipRect(QPainter &painter, const QRect &clipRect);

protected:
    void initViewItemOption(QStyleOptionViewItem *option) const override;
    void paintEvent(QPaintEvent *event) override;
    void selectionChanged(const QItemSelection &selected, const QItemSelection &deselected) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool event(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    enum Flag : unsigned { AcceptsFirstMouse = 1u << 0 };
    unsigned m_flags = 0;
};

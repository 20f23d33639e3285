#pragma once

#include <QList>
#include <QPointF>
#include <QSizeF>
#include <QWidget>

class QAction;
class QColor;
class QFont;
class QMenu;
class QMetaObject;
class QObject;

// Small operations on widgets and menus: walking a widget tree, finding, hiding and
// removing child widgets, swapping or wrapping a widget in place, moving, resizing and
// centring widgets, growing a text field to fit its text, fading widgets, building and
// clearing menus. A null widget or menu does nothing and yields empty results.
//
// Words used here:
// - The subviews of a widget are its direct child widgets that are not windows of their
//   own, in the order of QObject::children() (back to front, as raise() and lower() keep it).
// - The frame of a widget is its geometry with y growing upward: the origin is the
//   lower-left corner, measured from the lower-left corner of the parent. Qt's geometry is
//   whole pixels, so half points are dropped when a frame is applied. A widget managed by a
//   layout is placed by that layout, which overrides any move or resize made here.
// - A widget has no delegate, target or data source of its own in Qt. The nearest things,
//   and what the detach and report walks deal with, are:
//     delegate     the item delegates of an item view (the view-wide one, and those set for
//                  single columns or rows);
//     target       the receivers of the widget's own signals;
//     data source  the model of an item view.
//   A table's header views show the table's model and count as parts of the table.
namespace FennimarControls {

// ---- Widget tree ----

// The subviews of the widget, as described above.
QList<QWidget *> subviews(const QWidget *view);

// Appends every descendant of the view in depth-first pre-order: each subview, then its own
// descendants, then the next subview.
void flatListOfSubViews(const QWidget *view, QList<QWidget *> &addTo);

// The descendants, in the order above, that are instances of the class or of a subclass.
QList<QWidget *> recursiveSubviewsInView(const QWidget *view, const QMetaObject &ofClass);
template<typename T>
QList<T *> recursiveSubviewsInView(const QWidget *view)
{
    QList<T *> found;
    for (QWidget *widget : recursiveSubviewsInView(view, T::staticMetaObject))
        found.append(static_cast<T *>(widget));
    return found;
}

// The descendants whose class name equals the text exactly: subclasses do not match.
QList<QWidget *> recursiveSubviewsInViewOfClassName(const QWidget *view, const QString &className);

// The first of recursiveSubviewsInView(), or null.
QWidget *firstSubviewInView(const QWidget *view, const QMetaObject &ofClass);
template<typename T>
T *firstSubviewInView(const QWidget *view)
{
    return static_cast<T *>(firstSubviewInView(view, T::staticMetaObject));
}

// Hides or shows each subview of the view (not the view itself, nor deeper descendants).
void setHidden(bool hidden, const QWidget *ofSubviews);

// Takes every subview out of the view and deletes it once control returns to the event
// loop, so this may run from a child's own signal handler.
void removeAllSubViews(const QWidget *view);
// The same for the subviews that are instances of the class or of a subclass; they are
// all collected first, then removed.
void removeAllSubViews(const QWidget *view, const QMetaObject &ofClass);
template<typename T>
void removeAllSubViewsOfClass(const QWidget *view)
{
    removeAllSubViews(view, T::staticMetaObject);
}

// For every descendant first (deepest first), then for the view itself: gives an item
// view no model, sets its column and row delegates back to its own default one, replaces
// a view-wide delegate the view does not own by a new default delegate, and cuts every
// connection of the widget's signals.
void detachEverythingInViewTree(QWidget *view);

// Recursively, children first: for each widget whose delegate or data source is the
// object, writes the log line "DELEGATE of <widget> " or "DATASOURCE of <widget> ". For
// targets it writes "TARGET of <widget> " when the object is an action the widget shows or
// triggers (a tool button's default action) or the buddy of a label: Qt does not tell
// who receives a signal, so plain signal connections cannot be named. Returns the lines,
// in the order written.
QStringList reportEverythingInViewTree(const QWidget *view, const QObject *ofPointer);

// ---- Placing widgets ----

// The frame (y up) of the widget within its parent; for a window, within its screen.
QRectF frameOf(const QWidget *view);
// Moves and resizes the widget to the frame (y up) within its parent.
void setFrame(QWidget *view, const QRectF &frame);

// Grows (or with negative amounts shrinks) the frame by (dw, dh); the frame origin, the
// lower-left corner, stays where it is, so a taller widget grows upward.
void adjustSizeOfView(QWidget *view, qreal byW, qreal byH);
// Moves the frame origin by (dx, dy): a positive dy moves the widget up.
void adjustOriginOfView(QWidget *view, qreal byX, qreal byY);

// The frame origin that centres a widget of the size in a parent of that size:
// (round(pw / 2 - vw / 2) + 0.5, round(ph / 2 - vh / 2) + 0.5), rounding halves away from
// zero. The half point puts one-pixel lines on pixel centres when the frame is drawn into.
QPointF centredOrigin(QSizeF parentSize, QSizeF viewSize);
// Places the widget at centredOrigin() in its parent, whole pixels.
void centreViewInParent(QWidget *view);

// Gives the new widget the old one's geometry and size policy and puts it in the old
// one's place: in the same layout slot when the old one was laid out, else at the same
// position among its parent's children. The old widget is hidden and left without a
// parent; the caller owns it from then on.
void replaceView(QWidget *oldView, QWidget *withView);

// Wraps the view in the container: the container takes the view's geometry and size
// policy and its place in the parent (or its layout slot); the view moves into the
// container at (0, 0), or into the container's layout when it has one.
void encapsulateView(QWidget *view, QWidget *inView);

// Sets the widget's height to the height its text needs at its current width, never less
// than the minimum; the width stays.
void expandTextFieldVerticallyToFit(QWidget *field, qreal withMinimumHeight);

// Sets the opacity of each widget (0 transparent, 1 opaque) through a
// QGraphicsOpacityEffect; animated, it fades there over a quarter of a second. A widget
// that carries another kind of graphics effect keeps it and is left as it is.
void setAlphaValue(qreal alpha, const QList<QWidget *> &ofViews, bool animated);
// The opacity set by setAlphaValue(): the target of a running fade, 1 without an effect.
qreal alphaValue(const QWidget *view);

// ---- Menus ----

// Removes the first item while the menu has any. Items and submenus the menu owns are
// deleted once control returns to the event loop, so this may run from an item's own
// triggered() handler (as when a recent-files menu is rebuilt). A null menu is ignored.
void removeAllMenuItems(QMenu *menu);

// The first item whose text equals the title exactly; null when there is none.
QAction *menuItemWithTitle(const QString &title, const QMenu *inMenu);

// A new item with that text, no shortcut, connected to nothing, disabled. The caller
// owns it.
QAction *disabledMenuItemWithString(const QString &string);
// Makes such an item, owned by the menu, appends it and returns it.
QAction *addDisabledMenuItemWithString(const QString &string, QMenu *toMenu);

// Appends a separator item.
void addSeparatorToMenu(QMenu *menu);
// Appends a separator to the menu of a widget that has one: a combo box's list, a push or
// tool button's menu, or the menu itself.
void addSeparatorTo(QObject *object);

// Gives every item of the menu the font, the styled text of
// FennimarAttributedStrings::attributedString(title, font, black) supplies it. Menu items
// carry a font but no colour of their own in Qt: they keep the menu's text colour.
void setFontOfMenuItemsIn(QMenu *menu, const QFont &to);

// ---- Text view ----

// Replaces the whole text of a QTextEdit or QPlainTextEdit by its plain text in the one
// colour; every other attribute of the text (fonts, links, lists) is dropped.
void setColorOfTextInTextView(QWidget *textView, const QColor &to);

} // namespace FennimarControls

#include "FennimarControls.h"

#include "FennimarAttributedStrings.h"
#include "uilogging.h"

#include <QAbstractItemView>
#include <QAction>
#include <QComboBox>
#include <QGraphicsOpacityEffect>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTextEdit>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <limits>

namespace FennimarControls {

namespace {

// The subview at the index, read afresh each time so that a walk never holds on to a list
// the tree has moved on from.
QWidget *subviewAt(const QWidget *view, qsizetype index)
{
    const QList<QWidget *> list = subviews(view);
    return index < list.size() ? list.at(index) : nullptr;
}

template<typename Visit>
void walkPreOrder(const QWidget *view, Visit &&visit)
{
    for (qsizetype i = 0; QWidget *child = subviewAt(view, i); ++i) {
        visit(child);
        walkPreOrder(child, visit);
    }
}

// The size of the area the widget lives in: its parent, or for a window its screen.
QSizeF containerSize(const QWidget *view)
{
    if (const QWidget *parent = view->parentWidget(); parent && !view->isWindow())
        return parent->size();
    if (const QScreen *screen = view->screen())
        return screen->geometry().size();
    return {};
}

QString describe(const QWidget *view)
{
    QString text = QString::fromLatin1(view->metaObject()->className());
    if (!view->objectName().isEmpty())
        text += QStringLiteral(" \"") + view->objectName() + u'"';
    return text;
}

QLayout *layoutHolding(const QWidget *view)
{
    const QWidget *parent = view->parentWidget();
    if (!parent || !parent->layout())
        return nullptr;
    // The widget may sit in a nested layout of the parent's.
    QList<QLayout *> pending{parent->layout()};
    while (!pending.isEmpty()) {
        QLayout *layout = pending.takeFirst();
        for (int i = 0; i < layout->count(); ++i) {
            QLayoutItem *item = layout->itemAt(i);
            if (item->widget() == view)
                return layout;
            if (QLayout *inner = item->layout())
                pending.append(inner);
        }
    }
    return nullptr;
}

constexpr int FadeMilliseconds = 250;

// The widget as an item view with a model and delegates of its own. A table's headers show
// the table's model and are left to the table.
QAbstractItemView *itemViewOf(const QWidget *view)
{
    auto *itemView = qobject_cast<QAbstractItemView *>(const_cast<QWidget *>(view));
    return qobject_cast<QHeaderView *>(itemView) ? nullptr : itemView;
}

} // namespace

QList<QWidget *> subviews(const QWidget *view)
{
    QList<QWidget *> list;
    if (!view)
        return list;
    for (QObject *child : view->children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (widget && !widget->isWindow())
            list.append(widget);
    }
    return list;
}

void flatListOfSubViews(const QWidget *view, QList<QWidget *> &addTo)
{
    walkPreOrder(view, [&addTo](QWidget *child) { addTo.append(child); });
}

QList<QWidget *> recursiveSubviewsInView(const QWidget *view, const QMetaObject &ofClass)
{
    QList<QWidget *> found;
    walkPreOrder(view, [&](QWidget *child) {
        if (child->metaObject()->inherits(&ofClass))
            found.append(child);
    });
    return found;
}

QList<QWidget *> recursiveSubviewsInViewOfClassName(const QWidget *view, const QString &className)
{
    QList<QWidget *> found;
    walkPreOrder(view, [&](QWidget *child) {
        if (QLatin1StringView(child->metaObject()->className()) == className)
            found.append(child);
    });
    return found;
}

QWidget *firstSubviewInView(const QWidget *view, const QMetaObject &ofClass)
{
    const QList<QWidget *> found = recursiveSubviewsInView(view, ofClass);
    return found.isEmpty() ? nullptr : found.constFirst();
}

void setHidden(bool hidden, const QWidget *ofSubviews)
{
    for (QWidget *child : subviews(ofSubviews))
        child->setHidden(hidden);
}

namespace {

void removeSubviews(const QList<QWidget *> &doomed)
{
    for (QWidget *child : doomed) {
        child->hide();
        // Out of the parent (and its layout) at once; the object itself goes later, in
        // case the call came from one of its own signals.
        child->setParent(nullptr);
        child->deleteLater();
    }
}

} // namespace

void removeAllSubViews(const QWidget *view)
{
    removeSubviews(subviews(view));
}

void removeAllSubViews(const QWidget *view, const QMetaObject &ofClass)
{
    QList<QWidget *> doomed;
    for (QWidget *child : subviews(view)) {
        if (child->metaObject()->inherits(&ofClass))
            doomed.append(child);
    }
    removeSubviews(doomed);
}

void detachEverythingInViewTree(QWidget *view)
{
    if (!view)
        return;
    for (qsizetype i = 0; QWidget *child = subviewAt(view, i); ++i)
        detachEverythingInViewTree(child);

    if (auto *itemView = itemViewOf(view)) {
        if (QAbstractItemModel *model = itemView->model()) {
            for (int column = 0; column < model->columnCount(); ++column)
                itemView->setItemDelegateForColumn(column, nullptr);
            for (int row = 0; row < model->rowCount(); ++row) {
                if (itemView->itemDelegateForRow(row))
                    itemView->setItemDelegateForRow(row, nullptr);
            }
        }
        if (QAbstractItemDelegate *delegate = itemView->itemDelegate(); delegate && delegate->parent() != view)
            itemView->setItemDelegate(new QStyledItemDelegate(itemView));
        itemView->setModel(nullptr);
    }
    QObject::disconnect(view, nullptr, nullptr, nullptr);
}

QStringList reportEverythingInViewTree(const QWidget *view, const QObject *ofPointer)
{
    QStringList lines;
    if (!view || !ofPointer)
        return lines;
    for (qsizetype i = 0; QWidget *child = subviewAt(view, i); ++i)
        lines += reportEverythingInViewTree(child, ofPointer);

    bool isDelegate = false;
    bool isTarget = false;
    bool isDataSource = false;
    if (auto *itemView = itemViewOf(view)) {
        isDataSource = itemView->model() == ofPointer;
        isDelegate = itemView->itemDelegate() == ofPointer;
        if (const QAbstractItemModel *model = itemView->model()) {
            for (int column = 0; column < model->columnCount() && !isDelegate; ++column)
                isDelegate = itemView->itemDelegateForColumn(column) == ofPointer;
            for (int row = 0; row < model->rowCount() && !isDelegate; ++row)
                isDelegate = itemView->itemDelegateForRow(row) == ofPointer;
        }
    }
    if (auto *button = qobject_cast<const QToolButton *>(view))
        isTarget = button->defaultAction() && button->defaultAction() == ofPointer;
    if (auto *label = qobject_cast<const QLabel *>(view))
        isTarget = label->buddy() && label->buddy() == ofPointer;

    const QString name = describe(view);
    QStringList own;
    if (isDelegate)
        own.append(QStringLiteral("DELEGATE of ") + name + u' ');
    if (isTarget)
        own.append(QStringLiteral("TARGET of ") + name + u' ');
    if (isDataSource)
        own.append(QStringLiteral("DATASOURCE of ") + name + u' ');
    for (const QString &line : own)
        qCInfo(lcUi).noquote() << line;
    return lines + own;
}

QRectF frameOf(const QWidget *view)
{
    if (!view)
        return {};
    const QRect g = view->geometry();
    const qreal containerHeight = containerSize(view).height();
    return QRectF(g.x(), containerHeight - (g.y() + g.height()), g.width(), g.height());
}

void setFrame(QWidget *view, const QRectF &frame)
{
    if (!view)
        return;
    const qreal containerHeight = containerSize(view).height();
    const int width = std::max(0, int(std::floor(frame.width())));
    const int height = std::max(0, int(std::floor(frame.height())));
    const int x = int(std::floor(frame.x()));
    // The top edge with y down; floor keeps a frame that ends on a half point inside it.
    const int y = int(std::floor(containerHeight - frame.y() - frame.height() + 0.5));
    view->setGeometry(x, y, width, height);
}

void adjustSizeOfView(QWidget *view, qreal byW, qreal byH)
{
    if (!view)
        return;
    const QRectF frame = frameOf(view);
    setFrame(view, QRectF(frame.topLeft(), QSizeF(frame.width() + byW, frame.height() + byH)));
}

void adjustOriginOfView(QWidget *view, qreal byX, qreal byY)
{
    if (!view)
        return;
    const QRectF frame = frameOf(view);
    setFrame(view, frame.translated(byX, byY));
}

QPointF centredOrigin(QSizeF parentSize, QSizeF viewSize)
{
    // std::round rounds halves away from zero.
    return QPointF(std::round(parentSize.width() / 2 - viewSize.width() / 2) + 0.5,
                   std::round(parentSize.height() / 2 - viewSize.height() / 2) + 0.5);
}

void centreViewInParent(QWidget *view)
{
    if (!view)
        return;
    const QPointF origin = centredOrigin(containerSize(view), view->size());
    // Whole pixels: the half point has no place in a widget's geometry.
    setFrame(view, QRectF(origin - QPointF(0.5, 0.5), QSizeF(view->size())));
}

void replaceView(QWidget *oldView, QWidget *withView)
{
    if (!oldView || !withView || oldView == withView)
        return;
    QWidget *parent = oldView->parentWidget();
    withView->setSizePolicy(oldView->sizePolicy());
    withView->setGeometry(oldView->geometry());
    if (QLayout *layout = layoutHolding(oldView)) {
        delete layout->replaceWidget(oldView, withView);
    } else if (parent) {
        withView->setParent(parent);
        withView->stackUnder(oldView);
    }
    if (parent)
        withView->setVisible(!oldView->isHidden());
    oldView->hide();
    oldView->setParent(nullptr);
}

void encapsulateView(QWidget *view, QWidget *inView)
{
    if (!view || !inView || view == inView)
        return;
    QWidget *formerParent = view->parentWidget();
    const QRect geometry = view->geometry();
    const bool wasHidden = view->isHidden();
    inView->setSizePolicy(view->sizePolicy());
    inView->setGeometry(geometry);
    if (QLayout *layout = layoutHolding(view)) {
        delete layout->replaceWidget(view, inView);
    } else if (formerParent) {
        inView->setParent(formerParent);
        inView->stackUnder(view);
        inView->move(geometry.topLeft());
    }
    if (QLayout *inner = inView->layout())
        inner->addWidget(view);
    else
        view->setParent(inView);
    view->move(0, 0);
    view->setVisible(!wasHidden);
    if (formerParent)
        inView->setVisible(!wasHidden);
}

void expandTextFieldVerticallyToFit(QWidget *field, qreal withMinimumHeight)
{
    if (!field)
        return;
    const int width = field->width();
    int needed = 0;
    if (auto *label = qobject_cast<QLabel *>(field); label && !label->wordWrap()) {
        needed = label->sizeHint().height();
    } else if (field->hasHeightForWidth()) {
        needed = field->heightForWidth(width);
    } else {
        needed = field->sizeHint().height();
    }
    const int height = std::max(needed, int(std::ceil(withMinimumHeight)));
    field->resize(width, height);
}

void setAlphaValue(qreal alpha, const QList<QWidget *> &ofViews, bool animated)
{
    alpha = std::clamp(alpha, 0.0, 1.0);
    for (QWidget *view : ofViews) {
        if (!view)
            continue;
        auto *effect = qobject_cast<QGraphicsOpacityEffect *>(view->graphicsEffect());
        if (!effect) {
            if (view->graphicsEffect())
                continue;
            effect = new QGraphicsOpacityEffect(view);
            effect->setOpacity(1);
            view->setGraphicsEffect(effect);
        }
        // A fade still running toward an older value gives way to this one.
        for (auto *running : effect->findChildren<QPropertyAnimation *>(Qt::FindDirectChildrenOnly))
            running->stop(); // deletes itself once stopped
        effect->setProperty("brisko_alpha", alpha);
        if (!animated || !view->isVisible()) {
            effect->setOpacity(alpha);
            continue;
        }
        auto *fade = new QPropertyAnimation(effect, "opacity", effect);
        fade->setDuration(FadeMilliseconds);
        fade->setStartValue(effect->opacity());
        fade->setEndValue(alpha);
        fade->start(QAbstractAnimation::DeleteWhenStopped);
    }
}

qreal alphaValue(const QWidget *view)
{
    auto *effect = view ? qobject_cast<QGraphicsOpacityEffect *>(view->graphicsEffect()) : nullptr;
    if (!effect)
        return 1;
    const QVariant target = effect->property("brisko_alpha");
    return target.isValid() ? target.toReal() : effect->opacity();
}

void removeAllMenuItems(QMenu *menu)
{
    if (!menu)
        return;
    while (!menu->actions().isEmpty()) {
        QAction *item = menu->actions().constFirst();
        menu->removeAction(item);
        if (QMenu *submenu = item->menu<QMenu *>(); submenu && submenu->parent() == menu)
            submenu->deleteLater();
        else if (item->parent() == menu)
            item->deleteLater();
    }
}

QAction *menuItemWithTitle(const QString &title, const QMenu *inMenu)
{
    if (!inMenu)
        return nullptr;
    for (QAction *item : inMenu->actions()) {
        if (item->text() == title)
            return item;
    }
    return nullptr;
}

QAction *disabledMenuItemWithString(const QString &string)
{
    auto *item = new QAction(string);
    item->setShortcut(QKeySequence());
    item->setEnabled(false);
    return item;
}

QAction *addDisabledMenuItemWithString(const QString &string, QMenu *toMenu)
{
    QAction *item = disabledMenuItemWithString(string);
    if (toMenu) {
        item->setParent(toMenu);
        toMenu->addAction(item);
    }
    return item;
}

void addSeparatorToMenu(QMenu *menu)
{
    if (menu)
        menu->addSeparator();
}

void addSeparatorTo(QObject *object)
{
    if (auto *combo = qobject_cast<QComboBox *>(object))
        combo->insertSeparator(combo->count());
    else if (auto *menu = qobject_cast<QMenu *>(object))
        menu->addSeparator();
    else if (auto *push = qobject_cast<QPushButton *>(object))
        addSeparatorToMenu(push->menu());
    else if (auto *tool = qobject_cast<QToolButton *>(object))
        addSeparatorToMenu(tool->menu());
}

void setFontOfMenuItemsIn(QMenu *menu, const QFont &to)
{
    if (!menu)
        return;
    for (QAction *item : menu->actions()) {
        const StyledText title = FennimarAttributedStrings::attributedString(item->text(), to, QColor(Qt::black));
        if (const std::optional<TextAttributes> attributes = title.attributesAt(0))
            item->setFont(attributes->font);
        else
            item->setFont(to);
    }
}

void setColorOfTextInTextView(QWidget *textView, const QColor &to)
{
    QTextDocument *document = nullptr;
    QString plain;
    if (auto *rich = qobject_cast<QTextEdit *>(textView)) {
        plain = rich->toPlainText();
        rich->setPlainText(plain);
        document = rich->document();
    } else if (auto *simple = qobject_cast<QPlainTextEdit *>(textView)) {
        plain = simple->toPlainText();
        simple->setPlainText(plain);
        document = simple->document();
    }
    if (!document)
        return;
    QTextCursor cursor(document);
    cursor.select(QTextCursor::Document);
    QTextCharFormat format;
    format.setForeground(to);
    cursor.setCharFormat(format);
}

} // namespace FennimarControls

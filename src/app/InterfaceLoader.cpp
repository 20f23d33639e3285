#include "InterfaceLoader.h"

#include "applogging.h"
#include "BriskoSearchToolbarItem.h"
#include "Bundle.h"
#include "InterfaceWidgets.h"

#include <QAbstractButton>
#include <QAction>
#include <QChildEvent>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTabWidget>
#include <QWebEngineView>

namespace brisko {

namespace {

constexpr QStringView LocalizePrefix = u"LOCALIZE";

bool isLocalizeKey(const QString &text)
{
    return text.startsWith(LocalizePrefix);
}

QString translated(const QString &text, const InterfaceLoader::Translate &translate)
{
    if (!isLocalizeKey(text))
        return text;
    return translate(text).value_or(text);
}

void localizeObject(QObject *object, const InterfaceLoader::Translate &translate)
{
    auto apply = [&](const QString &text, auto setter) {
        if (isLocalizeKey(text))
            setter(translated(text, translate));
    };
    if (auto *widget = qobject_cast<QWidget *>(object)) {
        if (widget->isWindow() || qobject_cast<QDialog *>(widget))
            apply(widget->windowTitle(), [&](const QString &t) { widget->setWindowTitle(t); });
        apply(widget->toolTip(), [&](const QString &t) { widget->setToolTip(t); });
        apply(widget->accessibleName(), [&](const QString &t) { widget->setAccessibleName(t); });
        apply(widget->accessibleDescription(), [&](const QString &t) { widget->setAccessibleDescription(t); });
    }
    if (auto *label = qobject_cast<QLabel *>(object))
        apply(label->text(), [&](const QString &t) { label->setText(t); });
    if (auto *button = qobject_cast<QAbstractButton *>(object))
        apply(button->text(), [&](const QString &t) { button->setText(t); });
    if (auto *edit = qobject_cast<QLineEdit *>(object))
        apply(edit->placeholderText(), [&](const QString &t) { edit->setPlaceholderText(t); });
    if (auto *group = qobject_cast<QGroupBox *>(object))
        apply(group->title(), [&](const QString &t) { group->setTitle(t); });
    if (auto *menu = qobject_cast<QMenu *>(object))
        apply(menu->title(), [&](const QString &t) { menu->setTitle(t); });
    if (auto *tabs = qobject_cast<QTabWidget *>(object)) {
        for (int i = 0; i < tabs->count(); ++i)
            apply(tabs->tabText(i), [&](const QString &t) { tabs->setTabText(i, t); });
    }
    if (auto *combo = qobject_cast<QComboBox *>(object)) {
        for (int i = 0; i < combo->count(); ++i)
            apply(combo->itemText(i), [&](const QString &t) { combo->setItemText(i, t); });
    }
    if (auto *action = qobject_cast<QAction *>(object)) {
        apply(action->text(), [&](const QString &t) { action->setText(t); });
        apply(action->toolTip(), [&](const QString &t) { action->setToolTip(t); });
        apply(action->iconText(), [&](const QString &t) { action->setIconText(t); });
    }
}

// Web content keeps the Tab key once it has the focus, so a web view (and the widget it
// renders into, made when the first page loads) takes the focus only when clicked; its text
// stays readable through the accessibility tree.
class ClickFocusOnly : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished) {
            if (auto *child = qobject_cast<QWidget *>(static_cast<QChildEvent *>(event)->child()))
                child->setFocusPolicy(Qt::ClickFocus);
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

InterfaceLoader::InterfaceLoader(Translate translate, QObject *parent)
    : QUiLoader(parent), m_translate(std::move(translate))
{
}

QWidget *InterfaceLoader::loadInterface(const QString &name, QWidget *parent)
{
    const QString path = Bundle::resourcePath() + u"/ui/"_qs + name + u".ui"_qs;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcApp) << "InterfaceLoader - cannot open interface file" << path << file.errorString();
        return nullptr;
    }
    QWidget *root = load(&file, parent);
    if (!root) {
        qCWarning(lcApp) << "InterfaceLoader - cannot load interface file" << path << errorString();
        return nullptr;
    }
    localizeTree(root, m_translate);
    return root;
}

QWidget *InterfaceLoader::createWidget(const QString &className, QWidget *parent, const QString &name)
{
    if (className == u"QWebEngineView") {
        auto *view = new QWebEngineView(parent);
        view->setObjectName(name);
        view->setFocusPolicy(Qt::ClickFocus);
        for (QWidget *child : view->findChildren<QWidget *>())
            child->setFocusPolicy(Qt::ClickFocus);
        view->installEventFilter(new ClickFocusOnly(view));
        return view;
    }
    if (className == u"BriskoSearchToolbarItem") {
        auto *field = new BriskoSearchToolbarItem(parent);
        field->setObjectName(name);
        return field;
    }
    if (QWidget *widget = InterfaceWidgets::create(className, parent, name))
        return widget;
    return QUiLoader::createWidget(className, parent, name);
}

void InterfaceLoader::localizeTree(QObject *root, const Translate &translate)
{
    if (!root)
        return;
    localizeObject(root, translate);
    const QList<QObject *> children = root->findChildren<QObject *>();
    for (QObject *child : children)
        localizeObject(child, translate);
}

} // namespace brisko

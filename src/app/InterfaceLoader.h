#pragma once

#include "applogging.h"

#include <QObject>
#include <QString>
#include <QUiLoader>

#include <functional>
#include <optional>

class QWidget;

namespace brisko {

// Loads the program's Designer interface files from the resource folder. Widget
// classes of our own (and the web view) are created by name, and every text that
// starts with "LOCALIZE" and a separator is replaced by its translation as the file
// is loaded.
class InterfaceLoader : public QUiLoader
{
    Q_OBJECT

public:
    using Translate = std::function<std::optional<QString>(const QString &key)>;

    explicit InterfaceLoader(Translate translate, QObject *parent = nullptr);

    // Loads <resources>/ui/<name>.ui; nullptr (and a log line) when it cannot be loaded.
    QWidget *loadInterface(const QString &name, QWidget *parent = nullptr);

    QWidget *createWidget(const QString &className, QWidget *parent, const QString &name) override;

    // Translates every LOCALIZE text below root: widget and window titles, labels,
    // buttons, place-holder texts, tool tips, tab titles, combo-box items, menus and
    // actions.
    static void localizeTree(QObject *root, const Translate &translate);

private:
    Translate m_translate;
};

// The element of that object name below root, nullptr when root is null or has none. Parts of a
// panel may be left out of its interface file, so a panel's are looked up quietly.
template<typename T>
T *panelChild(QObject *root, const char *name)
{
    return root ? root->findChild<T *>(QLatin1StringView(name)) : nullptr;
}

// The same for the main window's elements, which every interface file has: one missing is logged.
template<typename T>
T *child(QObject *root, const char *name)
{
    T *found = panelChild<T>(root, name);
    if (!found)
        qCWarning(lcApp) << "BriskoApplication - interface element missing:" << name;
    return found;
}

} // namespace brisko

#pragma once

#include <QString>
#include <QUiLoader>

#include <functional>
#include <optional>

class QObject;
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

} // namespace brisko

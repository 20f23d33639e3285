#pragma once

#include <QString>
#include <QStringList>

class QWidget;

// The library's widget classes that interface files may name: the gradient bars, the panel
// decoration and background, the heading field and the gradient table.
namespace InterfaceWidgets {

// The class names create() knows.
QStringList classNames();

// A new widget of the named class with the object name, ready as if loaded from an
// interface file (a gradient bar draws its gradient); null for a name not listed.
QWidget *create(const QString &className, QWidget *parent, const QString &objectName = QString());

} // namespace InterfaceWidgets

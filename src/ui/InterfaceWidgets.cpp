#include "InterfaceWidgets.h"

#include "FennimarDarkGradientPanelDecor.h"
#include "FennimarDarkGradientView.h"
#include "FennimarFancyPanelView.h"
#include "FennimarGradientView.h"
#include "FennimarGradientViewWithBottomStroke.h"
#include "OAGradientTableView.h"
#include "ZilkPrettyHeadingField.h"

#include <type_traits>

namespace InterfaceWidgets {

namespace {

template<typename T>
QWidget *make(QWidget *parent)
{
    auto *widget = new T(parent);
    if constexpr (std::is_base_of_v<FennimarGradientView, T>)
        widget->awakeFromNib();
    return widget;
}

struct Entry
{
    const char *name;
    QWidget *(*create)(QWidget *);
};

constexpr Entry Classes[] = {
    {"FennimarGradientView", &make<FennimarGradientView>},
    {"FennimarGradientViewWithBottomStroke", &make<FennimarGradientViewWithBottomStroke>},
    {"FennimarDarkGradientView", &make<FennimarDarkGradientView>},
    {"FennimarDarkGradientPanelDecor", &make<FennimarDarkGradientPanelDecor>},
    {"FennimarFancyPanelView", &make<FennimarFancyPanelView>},
    {"ZilkPrettyHeadingField", &make<ZilkPrettyHeadingField>},
    {"OAGradientTableView", &make<OAGradientTableView>},
};

} // namespace

QStringList classNames()
{
    QStringList names;
    for (const Entry &entry : Classes)
        names.append(QString::fromLatin1(entry.name));
    return names;
}

QWidget *create(const QString &className, QWidget *parent, const QString &objectName)
{
    for (const Entry &entry : Classes) {
        if (className == QLatin1StringView(entry.name)) {
            QWidget *widget = entry.create(parent);
            widget->setObjectName(objectName);
            return widget;
        }
    }
    return nullptr;
}

} // namespace InterfaceWidgets

#include "Localization.h"

namespace brisko {

namespace {
LocalizeFunction &installed()
{
    static LocalizeFunction function;
    return function;
}
} // namespace

void setLocalizeFunction(LocalizeFunction function)
{
    installed() = std::move(function);
}

std::optional<QString> localizedString(const std::optional<QString> &key)
{
    if (!key)
        return std::nullopt;
    if (key->isEmpty())
        return QString();
    if (const LocalizeFunction &function = installed())
        return function(key);
    return key;
}

QString tr(const QString &key)
{
    return localizedString(key).value_or(key);
}

} // namespace brisko

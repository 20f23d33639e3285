#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace brisko {

// The one process-wide lookup of user-visible texts. The application object installs
// its string tables here at start; library code (dialogs, connectors, the CLI) asks
// through localizedString() and never needs to know who answers.
//
// Contract of every lookup: no key gives none, the empty string gives the empty
// string, any other key gives its translation or the key itself.
using LocalizeFunction = std::function<std::optional<QString>(const std::optional<QString> &key)>;

void setLocalizeFunction(LocalizeFunction function);
std::optional<QString> localizedString(const std::optional<QString> &key);
// Convenience for keys that are never none.
QString tr(const QString &key);

} // namespace brisko

#pragma once

#include <QString>

#include <optional>

namespace brisko::Bundle {

// The folder that holds the program's resources (interface files, string tables,
// images, help pages). Looked for, in order: the BRISKO_RESOURCES environment
// variable; <executable>/../share/brisko (installed and build-tree layouts); the
// source tree's resources folder that the build was made from.
QString resourcePath();

// <resources>/<localization>.lproj/<name>.<type> when localization is given,
// otherwise <resources>/<name>.<type>; none when no such file exists.
std::optional<QString> pathForResource(const QString &name, const QString &type,
                                       const std::optional<QString> &localization = std::nullopt);

} // namespace brisko::Bundle

#pragma once

#include <QString>

#include <optional>

// Path and file helpers. Paths use "/" as separator. A path's tail is its last component
// (trailing slashes are not components); its extension is the text after the last dot of
// the tail, "" when the tail has no dot.
namespace FennimarFileSystem {

// True when anything (file or folder; links followed) exists at the path.
bool fileExists(const QString &path);

// Creates one folder at the path. The parent must exist; no intermediate folders are made.
// Failure is silent.
void fileMakeDir(const QString &path);

// True when the path's extension equals the given one exactly (case-sensitive).
bool fileIsExtension(const QString &path, const QString &extension);

// The tail without its extension: "/x/y/Report.final.txt" gives "Report.final".
QString fileWithoutExtensionOrPath(const QString &path);

// The last path component. None, with the log line
// "FennimarFileSystem.fileTail - could not get tail:<path>", for a path without a named
// component ("" and "/").
std::optional<QString> fileTail(const QString &path);

} // namespace FennimarFileSystem

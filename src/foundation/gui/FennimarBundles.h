#pragma once

#include <QString>

class FennimarObject;
class QObject;

// The program's resources and loadable pieces.
namespace FennimarBundles {

// "<resource folder>/<name>", the name appended unchanged, whether or not it exists.
// The resource folder is <prefix>/share/brisko, or the build tree's copy when the program
// runs uninstalled.
QString pathToFileInBundle(const QString &name);

// Loads the interface file "<name>.ui" of the resource folder (its "ui" folder first)
// and hands its top-level objects to the owner, which keeps them. A file that cannot be
// loaded is only logged ("Could not load bundle:<path>", "(null)" when there is no such
// file): the owner then keeps nothing. Always true.
bool loadNibNamed(const QString &name, FennimarObject *owner);

// The root object of the plug-in library at the path; null when it cannot be loaded or
// has none. The object belongs to the plug-in and lives as long as it stays loaded:
// callers never delete it.
QObject *loadObjectFromBundle(const QString &path);

} // namespace FennimarBundles

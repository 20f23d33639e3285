#include "FennimarFileSystem.h"

#include "foundationlogging.h"

#include <QDir>
#include <QFileInfo>

namespace FennimarFileSystem {

namespace {

// The last component, or an empty view when the path has none.
QStringView tailOf(QStringView path)
{
    qsizetype end = path.size();
    while (end > 0 && path.at(end - 1) == u'/')
        --end;
    const qsizetype start = path.first(end).lastIndexOf(u'/') + 1;
    return path.sliced(start, end - start);
}

// The extension of a tail ("" without a dot) and the tail without it.
QStringView extensionOf(QStringView tail)
{
    const qsizetype dot = tail.lastIndexOf(u'.');
    return dot < 0 ? QStringView() : tail.sliced(dot + 1);
}

QStringView withoutExtension(QStringView tail)
{
    const qsizetype dot = tail.lastIndexOf(u'.');
    return dot < 0 ? tail : tail.first(dot);
}

} // namespace

bool fileExists(const QString &path)
{
    return !path.isEmpty() && QFileInfo::exists(path);
}

void fileMakeDir(const QString &path)
{
    if (!path.isEmpty())
        QDir().mkdir(path);
}

bool fileIsExtension(const QString &path, const QString &extension)
{
    return extensionOf(tailOf(path)) == extension;
}

QString fileWithoutExtensionOrPath(const QString &path)
{
    return withoutExtension(tailOf(path)).toString();
}

std::optional<QString> fileTail(const QString &path)
{
    const QStringView tail = tailOf(path);
    if (tail.isEmpty()) {
        qCWarning(lcFoundation, "FennimarFileSystem.fileTail - could not get tail:%s", qUtf8Printable(path));
        return std::nullopt;
    }
    return tail.toString();
}

} // namespace FennimarFileSystem

#include "Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace brisko::Bundle {

QString resourcePath()
{
    const QString fromEnvironment = qEnvironmentVariable("BRISKO_RESOURCES");
    if (!fromEnvironment.isEmpty())
        return QDir::cleanPath(fromEnvironment);
    if (QCoreApplication::instance()) {
        const QString installed =
            QDir::cleanPath(QCoreApplication::applicationDirPath() + u"/../share/brisko"_qs);
        if (QFileInfo(installed).isDir())
            return installed;
    }
    return QDir::cleanPath(QStringLiteral(BRISKO_SOURCE_RESOURCES));
}

std::optional<QString> pathForResource(const QString &name, const QString &type,
                                       const std::optional<QString> &localization)
{
    QString path = resourcePath();
    if (localization)
        path += u'/' + *localization + u".lproj"_qs;
    path += u'/' + name;
    if (!type.isEmpty())
        path += u'.' + type;
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

} // namespace brisko::Bundle

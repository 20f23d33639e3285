#include "FennimarUserDefaults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace FennimarUserDefaults {

namespace {

constexpr QFileDevice::Permissions OwnerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions OwnerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

std::unique_ptr<QSettings> openSettings()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Brisko"), QStringLiteral("Brisko"));
}

// Creates the file empty at 0600 when it is missing, or tightens a looser mode. QSettings
// saves through QSaveFile, which gives the replacement file the mode of the file it
// replaces, so the file never exists with a wider mode than this.
void ensurePrivateFile(const QString &path)
{
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    if (!QFileInfo::exists(folder)) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        QDir().mkdir(folder, OwnerOnlyFolder);
    }
    if (!info.exists()) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnlyFile))
            return;
    }
    QFile file(path);
    if (file.exists() && file.permissions() != OwnerOnlyFile)
        file.setPermissions(OwnerOnlyFile);
}

} // namespace

QString settingsFilePath()
{
    return openSettings()->fileName();
}

std::unique_ptr<QSettings> settings()
{
    auto result = openSettings();
    ensurePrivateFile(result->fileName());
    return result;
}

void setObject(const QVariant &object, const QString &key)
{
    QString path;
    {
        const auto store = settings();
        path = store->fileName();
        store->setValue(key, object);
        store->sync();
    }
    // Belt and braces: whatever wrote the file, it ends up private again.
    ensurePrivateFile(path);
}

QVariant objectForKey(const QString &key, const QVariant &defaultValue)
{
    const auto store = openSettings();
    if (!store->contains(key))
        return defaultValue;
    return store->value(key);
}

} // namespace FennimarUserDefaults

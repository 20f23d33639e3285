#include "FennimarUserDefaults.h"

#include "foundationlogging.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <climits>

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

// An existing file open to anyone but its owner (group or other bits) is made 0600, and the
// log says so once (after that the mode is right). Reading must do this too: the file is
// read long before anything is written to it.
void tightenExisting(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat info = {};
    if (::stat(name.constData(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & 077) == 0)
        return;
    if (::chmod(name.constData(), 0600) != 0) {
        qCWarning(lcFoundation).noquote() << "FennimarUserDefaults - could not make" << path << "private (mode"
                                          << QString::number(info.st_mode & 07777, 8) << "):" << qt_error_string(errno);
        return;
    }
    qCWarning(lcFoundation).noquote() << "FennimarUserDefaults - tightened the permissions of" << path << "from"
                                      << QString::number(info.st_mode & 07777, 8).rightJustified(4, u'0')
                                      << "to 0600: it may hold a secret key";
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
    tightenExisting(path);
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
    tightenExisting(store->fileName());
    if (!store->contains(key))
        return defaultValue;
    return store->value(key);
}

void setInt(int value, const QString &forKey)
{
    setObject(QVariant(value), forKey);
}

void setBool(bool value, const QString &forKey)
{
    setObject(QVariant(value), forKey);
}

namespace {

// The integer at the start of the text: blanks skipped, an optional sign, digits up to
// the first non-digit, clamped to the int range; 0 without digits.
int leadingInt(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        value = std::min<qint64>(value * 10 + (text[i].unicode() - u'0'), qint64(INT_MAX) + 1);
    value = negative ? -value : value;
    return int(std::clamp<qint64>(value, INT_MIN, INT_MAX));
}

// True when the text starts (after blanks, a sign and leading zeros) with Y, y, T, t or a
// digit 1 to 9.
bool leadingBool(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        ++i;
    while (i < text.size() && text[i] == u'0')
        ++i;
    if (i == text.size())
        return false;
    const QChar c = text[i];
    return c == u'Y' || c == u'y' || c == u'T' || c == u't' || (c >= u'1' && c <= u'9');
}

} // namespace

namespace {

// A stored value as a number or flag: texts (and data holding text) are read by `fromText`,
// numbers and booleans converted by `fromNumber`; any other kind gives `other`, and no
// value the default.
template<typename T, typename FromText, typename FromNumber>
T scalarForKey(const QString &key, T defaultValue, T other, FromText fromText, FromNumber fromNumber)
{
    const QVariant value = objectForKey(key);
    if (!value.isValid())
        return defaultValue;
    switch (value.typeId()) {
    case QMetaType::QString:
        return fromText(value.toString());
    case QMetaType::QByteArray:
        return fromText(QString::fromUtf8(value.toByteArray()));
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float:
        return fromNumber(value);
    default:
        return other;
    }
}

} // namespace

int intForKey(const QString &key, int defaultValue)
{
    return scalarForKey<int>(key, defaultValue, 0, leadingInt, [](const QVariant &value) { return value.toInt(); });
}

bool boolForKey(const QString &key, bool defaultValue)
{
    return scalarForKey<bool>(key, defaultValue, false, leadingBool,
                              [](const QVariant &value) { return value.toDouble() != 0; });
}

} // namespace FennimarUserDefaults

#include "AwsProfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace brisko {

namespace AwsProfiles {

namespace {

QString fromEnvironmentOr(const char *name, const QString &fallback)
{
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty())
        return fallback;
    // The AWS tools expand a leading "~" themselves.
    if (value == u"~" || value.startsWith(u"~/"))
        return QDir::homePath() + value.mid(1);
    return value;
}

bool isIndented(QStringView line)
{
    return !line.isEmpty() && (line.front() == u' ' || line.front() == u'\t');
}

// The profile a section of the config file belongs to; none for sections that are not
// profiles ("sso-session …", "services …").
std::optional<QString> configProfileName(const QString &section)
{
    if (section == DefaultProfile)
        return section;
    if (section.startsWith(u"profile ") || section.startsWith(u"profile\t")) {
        const QString name = section.mid(8).trimmed();
        if (!name.isEmpty())
            return name;
    }
    return std::nullopt;
}

void keepFirstError(QString *error, const std::optional<QString> &found)
{
    if (error && error->isEmpty() && found)
        *error = *found;
}

} // namespace

ParseResult parse(const QByteArray &text, const QString &fileName)
{
    ParseResult result;
    const auto fail = [&](int line, const QString &what) {
        result.sections.clear();
        result.error = u"%1:%2: %3"_s.arg(fileName).arg(line).arg(what);
        return result;
    };

    QString content = QString::fromUtf8(text);
    if (content.startsWith(QChar(0xFEFF)))
        content.remove(0, 1); // a byte order mark written by some editors
    const QStringList lines = content.split(u'\n');
    QString section;
    bool inSection = false;
    bool afterKey = false; // an indented line here continues the key above
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const int number = int(i + 1);
        QStringView line = lines.at(i);
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringView trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#') || trimmed.startsWith(u';'))
            continue;
        if (isIndented(line) && afterKey)
            continue; // a nested setting or a continued value: not one of the values read here
        if (trimmed.startsWith(u'[')) {
            if (!trimmed.endsWith(u']'))
                return fail(number, u"a section head without its closing \"]\""_s);
            const QString name = trimmed.mid(1, trimmed.size() - 2).trimmed().toString();
            if (name.isEmpty())
                return fail(number, u"a section head without a name"_s);
            if (result.sections.contains(name))
                return fail(number, u"the section [%1] appears twice"_s.arg(name));
            result.sections.insert(name, {});
            section = name;
            inSection = true;
            afterKey = false;
            continue;
        }
        const qsizetype equals = trimmed.indexOf(u'=');
        const qsizetype colon = trimmed.indexOf(u':');
        qsizetype separator = equals;
        if (separator < 0 || (colon >= 0 && colon < separator))
            separator = colon;
        if (separator < 0)
            return fail(number, u"expected \"name = value\" or a [section] head"_s);
        const QString key = trimmed.left(separator).trimmed().toString().toLower();
        if (key.isEmpty())
            return fail(number, u"a value without a name"_s);
        if (!inSection)
            return fail(number, u"\"%1\" stands before the first [section] head"_s.arg(key));
        result.sections[section].insert(key, trimmed.mid(separator + 1).trimmed().toString());
        afterKey = true;
    }
    return result;
}

ParseResult readFile(const QString &path)
{
    ParseResult result;
    const QFileInfo info(path);
    if (!info.exists())
        return result;
    if (info.isDir()) {
        result.error = u"%1: is a folder, not a file"_s.arg(path);
        return result;
    }
    if (info.size() > MaxFileSize) {
        result.error = u"%1: larger than %2 KiB, not read"_s.arg(path).arg(MaxFileSize / 1024);
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = u"%1: cannot be read: %2"_s.arg(path, file.errorString());
        return result;
    }
    // A file that grows while it is read is cut at the limit and refused, not read whole.
    const QByteArray bytes = file.read(MaxFileSize + 1);
    if (bytes.size() > MaxFileSize) {
        result.error = u"%1: larger than %2 KiB, not read"_s.arg(path).arg(MaxFileSize / 1024);
        return result;
    }
    if (file.error() != QFileDevice::NoError) {
        result.error = u"%1: cannot be read: %2"_s.arg(path, file.errorString());
        return result;
    }
    return parse(bytes, path);
}

QString credentialsFilePath()
{
    return fromEnvironmentOr("AWS_SHARED_CREDENTIALS_FILE", QDir::homePath() + u"/.aws/credentials"_s);
}

QString configFilePath()
{
    return fromEnvironmentOr("AWS_CONFIG_FILE", QDir::homePath() + u"/.aws/config"_s);
}

QStringList profileNames(QString *error)
{
    if (error)
        error->clear();
    const ParseResult credentials = readFile(credentialsFilePath());
    const ParseResult config = readFile(configFilePath());
    keepFirstError(error, credentials.error);
    keepFirstError(error, config.error);

    QStringList names = credentials.sections.keys();
    for (const QString &section : config.sections.keys()) {
        if (const auto name = configProfileName(section))
            names.append(*name);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    if (names.removeAll(DefaultProfile.toString()) > 0)
        names.prepend(DefaultProfile.toString());
    return names;
}

std::optional<Profile> load(const QString &name, QString *error)
{
    const ParseResult credentials = readFile(credentialsFilePath());
    const ParseResult config = readFile(configFilePath());
    if (credentials.error || config.error) {
        if (error)
            *error = credentials.error ? *credentials.error : *config.error;
        return std::nullopt;
    }

    Profile profile;
    profile.name = name;
    QMap<QString, QString> values;
    for (auto it = config.sections.cbegin(); it != config.sections.cend(); ++it) {
        if (configProfileName(it.key()) == name) {
            profile.found = true;
            for (auto value = it.value().cbegin(); value != it.value().cend(); ++value)
                values.insert(value.key(), value.value());
        }
    }
    // The credentials file's values go before the config file's.
    if (const auto section = credentials.sections.constFind(name); section != credentials.sections.cend()) {
        profile.found = true;
        for (auto value = section->cbegin(); value != section->cend(); ++value)
            values.insert(value.key(), value.value());
    }
    const auto take = [&values](const char *key) -> std::optional<QString> {
        const QString value = values.value(QLatin1StringView(key));
        return value.isEmpty() ? std::nullopt : std::optional<QString>(value);
    };
    profile.accessKeyId = take("aws_access_key_id");
    profile.secretAccessKey = take("aws_secret_access_key");
    profile.sessionToken = take("aws_session_token");
    profile.region = take("region");
    return profile;
}

} // namespace AwsProfiles

} // namespace brisko

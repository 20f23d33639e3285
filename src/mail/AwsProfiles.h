#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace brisko {

// The AWS shared credentials and config files, read the way the AWS tools read them:
// ~/.aws/credentials and ~/.aws/config, or the files named by AWS_SHARED_CREDENTIALS_FILE
// and AWS_CONFIG_FILE. A profile "name" is the section [name] of the credentials file and
// the section [profile name] of the config file ([default] in both for "default").
//
// A file that is missing holds no profiles. A file that cannot be read, is larger than
// MaxFileSize or breaks the INI form is an error that names the file and the line.
namespace AwsProfiles {

inline constexpr qint64 MaxFileSize = 1024 * 1024;
inline constexpr QStringView DefaultProfile = u"default";

// One profile's values; a value missing from both files is none.
struct Profile
{
    QString name;
    std::optional<QString> accessKeyId;
    std::optional<QString> secretAccessKey;
    std::optional<QString> sessionToken;
    std::optional<QString> region;
    bool found = false; // a section of that name is in one of the files

    bool hasKeys() const { return accessKeyId && secretAccessKey; }
};

// The sections of one file with their keys (lower-cased) and values (trimmed).
using Sections = QMap<QString, QMap<QString, QString>>;

struct ParseResult
{
    Sections sections;
    std::optional<QString> error; // "<file>:<line>: <what is wrong>"
};

// Parses INI text as the AWS tools write it: [section] heads, "key = value" lines, comments
// starting with "#" or ";", indented continuation lines under a key with an empty value
// (nested settings such as "s3 =" — kept out of the values).
ParseResult parse(const QByteArray &text, const QString &fileName);

// Reads and parses one file; a missing file is empty, not an error.
ParseResult readFile(const QString &path);

QString credentialsFilePath();
QString configFilePath();

// The names of the profiles in either file, "default" first, the others sorted; the first
// error of the two files, if any.
QStringList profileNames(QString *error = nullptr);

// The profile's values: each value of the credentials file before the config file's, as the
// AWS tools merge them. Errors of either file are returned; an absent profile is not an
// error here (found tells).
std::optional<Profile> load(const QString &name, QString *error);

} // namespace AwsProfiles

} // namespace brisko

#include "Localizer.h"

#include "Bundle.h"
#include "FennimarStrings.h"
#include "Localization.h"
#include "StringsFile.h"
#include "platformlogging.h"

#include <QFileInfo>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace brisko {

namespace {

const QString &tableFileName()
{
    static const QString name = QStringLiteral("Localizable.strings");
    return name;
}

const QString &englishFolder()
{
    static const QString name = QStringLiteral("English");
    return name;
}

// The traditional folder names of the languages a resource folder may carry.
QString traditionalFolderName(const QString &languageCode)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("en"), QStringLiteral("English")},
        {QStringLiteral("de"), QStringLiteral("German")},
        {QStringLiteral("fr"), QStringLiteral("French")},
        {QStringLiteral("es"), QStringLiteral("Spanish")},
        {QStringLiteral("it"), QStringLiteral("Italian")},
        {QStringLiteral("nl"), QStringLiteral("Dutch")},
        {QStringLiteral("ja"), QStringLiteral("Japanese")},
    };
    return names.value(languageCode.toLower());
}

} // namespace

struct Localizer::Private
{
    QString resourceFolder;
    QStringList languages;
    FileReader reader;

    bool userTableResolved = false;
    std::optional<QString> userFolder;
    QHash<QString, QString> userTable;

    std::optional<QHash<QString, QString>> englishTable;

    std::optional<QString> tablePath(const QString &folder) const
    {
        const QString path = resourceFolder + u'/' + folder + u".lproj/"_s + tableFileName();
        if (!QFileInfo(path).isFile())
            return std::nullopt;
        return path;
    }

    std::optional<QHash<QString, QString>> readTable(const QString &path) const
    {
        const std::optional<QString> text = reader(path);
        if (!text) {
            qCWarning(lcPlatform).noquote() << u"Localizer: could not read %1"_s.arg(path);
            return std::nullopt;
        }
        StringsFileResult parsed = StringsFile::parse(*text);
        if (parsed.error)
            qCWarning(lcPlatform).noquote()
                << u"Localizer: %1, %2"_s.arg(path, parsed.error->toString());
        return std::move(parsed.entries);
    }

    void resolveUserTable()
    {
        if (userTableResolved)
            return;
        userTableResolved = true;
        for (const QString &language : std::as_const(languages)) {
            for (const QString &folder : folderNamesForLanguage(language)) {
                const std::optional<QString> path = tablePath(folder);
                if (!path)
                    continue;
                std::optional<QHash<QString, QString>> table = readTable(*path);
                if (!table)
                    continue;
                userFolder = folder;
                userTable = std::move(*table);
                // The English table is the same file: no need to read it twice.
                if (folder == englishFolder())
                    englishTable = userTable;
                return;
            }
        }
    }

    const QHash<QString, QString> *english()
    {
        if (!englishTable) {
            if (const std::optional<QString> path = tablePath(englishFolder()))
                englishTable = readTable(*path);
        }
        return englishTable ? &*englishTable : nullptr;
    }

    std::optional<QString> lookup(const std::optional<QString> &key)
    {
        if (!key)
            return std::nullopt;
        if (key->isEmpty())
            return QString();
        resolveUserTable();
        if (const auto it = userTable.constFind(*key); it != userTable.constEnd())
            return *it;
        if (const QHash<QString, QString> *table = english()) {
            if (const auto it = table->constFind(*key); it != table->constEnd())
                return *it;
        }
        return key;
    }
};

Localizer::Localizer()
    : Localizer(Bundle::resourcePath(), QLocale().uiLanguages())
{
}

Localizer::Localizer(const QString &resourceFolder, const QStringList &languages, FileReader reader)
    : d(std::make_shared<Private>())
{
    d->resourceFolder = resourceFolder;
    d->languages = languages;
    d->reader = reader ? std::move(reader) : FileReader([](const QString &path) { return FennimarStrings::readFile(path); });
}

Localizer::~Localizer() = default;

std::optional<QString> Localizer::localizedStringForKey(const std::optional<QString> &key)
{
    return d->lookup(key);
}

std::optional<QString> Localizer::valueForUndefinedKey(const QString &key)
{
    static const QString prefix = QStringLiteral("LOCALIZE");
    if (key.startsWith(prefix)) {
        // The prefix, one separator character, then the string key.
        return d->lookup(key.mid(prefix.size() + 1));
    }
    qCWarning(lcPlatform).noquote()
        << u"valueForUndefinedKey: this class is not key value coding-compliant for the key %1"_s.arg(key);
    return std::nullopt;
}

void Localizer::install()
{
    setLocalizeFunction([weak = std::weak_ptr<Private>(d)](const std::optional<QString> &key) {
        if (const std::shared_ptr<Private> alive = weak.lock())
            return alive->lookup(key);
        if (key && key->isEmpty())
            return std::optional<QString>(QString());
        return key;
    });
}

std::optional<QString> Localizer::userLanguageFolder()
{
    d->resolveUserTable();
    return d->userFolder;
}

QStringList Localizer::folderNamesForLanguage(const QString &language)
{
    QStringList names;
    const auto add = [&names](const QString &name) {
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    };
    QString underscored = language;
    underscored.replace(u'-', u'_');
    add(underscored);
    add(language);
    const QString base = underscored.section(u'_', 0, 0);
    add(base);
    add(traditionalFolderName(base));
    return names;
}

} // namespace brisko

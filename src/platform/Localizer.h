#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace brisko {

// Looks up the texts the program shows. A key resolves, in this order, to
//   1. none for no key, and the empty string for the empty string;
//   2. its entry in the user's language table, the "Localizable.strings" of the
//      first preferred language that has one (the entry counts even when it
//      equals its key);
//   3. its entry in the English table, read on the first miss and kept from then
//      on (when it cannot be read nothing is kept and the next miss tries again);
//   4. the key itself, so plain English sentences work as keys.
//
// Language folders: a preferred language such as "de-DE" is looked for as
// "de_DE.lproj", "de-DE.lproj", "de.lproj" and then under its traditional folder
// name, "German.lproj".
//
// Main thread only; the tables are filled without locking.
class Localizer
{
public:
    // Reads a whole text file, detecting its encoding; none when it cannot.
    using FileReader = std::function<std::optional<QString>(const QString &path)>;

    // The program's resources and the user's interface languages.
    Localizer();
    // A given resource folder and list of preferred languages (codes such as
    // "de-DE" or folder names such as "German"); the reader defaults to
    // FennimarStrings::readFile.
    Localizer(const QString &resourceFolder, const QStringList &languages, FileReader reader = {});
    ~Localizer();

    Localizer(const Localizer &) = delete;
    Localizer &operator=(const Localizer &) = delete;

    std::optional<QString> localizedStringForKey(const std::optional<QString> &key);

    // Interface bindings: "LOCALIZE" plus one separator character plus a string
    // key resolves that key ("LOCALIZE_Search" gives the text of "Search"). The
    // prefix with no string key after it ("LOCALIZE", "LOCALIZE_") gives the empty
    // string. Any other key is not served: none, with a log line.
    std::optional<QString> valueForUndefinedKey(const QString &key);

    // Makes this localizer answer brisko::localizedString(). The hook stops using
    // it once it is destroyed (it then answers every key with itself).
    void install();

    // The ".lproj" folder name of the user's language table, none when no
    // preferred language has one.
    std::optional<QString> userLanguageFolder();
    // Candidate folder names, best first, for one preferred language.
    static QStringList folderNamesForLanguage(const QString &language);

private:
    struct Private;
    std::shared_ptr<Private> d;
};

} // namespace brisko

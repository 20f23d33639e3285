#include "FennimarDictionaries.h"

#include "FennimarStrings.h"

namespace FennimarDictionaries {

QMap<QString, QString> dictionaryFromTabSeparatedFile(const QString &path)
{
    QMap<QString, QString> result;
    const std::optional<QString> text = FennimarStrings::readFile(path);
    if (!text)
        return result;
    for (const QStringView line : QStringView(*text).tokenize(u'\n')) {
        const qsizetype tab = line.indexOf(u'\t');
        if (tab < 0)
            continue;
        const qsizetype nextTab = line.indexOf(u'\t', tab + 1);
        const QStringView value = line.sliced(tab + 1, (nextTab < 0 ? line.size() : nextTab) - tab - 1);
        result.insert(line.first(tab).toString(), value.toString());
    }
    return result;
}

} // namespace FennimarDictionaries

#pragma once

#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>
#include <type_traits>

// Dictionary helpers over QMap, QHash and QVariantMap (any map with keys(), contains(),
// key-value iteration and removeIf()). "The dictionary's key order" is the map's own
// iteration order: sorted for QMap and QVariantMap, unspecified for QHash. An empty prefix
// matches no key.
namespace FennimarDictionaries {

// The keys that begin with the prefix, in the dictionary's key order.
template<typename Map>
QStringList keysinDictionary(const Map &dictionary, const QString &withPrefix)
{
    QStringList keys;
    if (withPrefix.isEmpty())
        return keys;
    for (auto it = dictionary.keyBegin(); it != dictionary.keyEnd(); ++it) {
        if (it->startsWith(withPrefix))
            keys.append(*it);
    }
    return keys;
}

// The file read as text, split at every line feed, each line split at every tab: for each
// line with a tab, the second field is stored under the first (further fields are ignored,
// a later key replaces an earlier one, a carriage return before the line feed stays part
// of the value). Empty for a file that cannot be read.
QMap<QString, QString> dictionaryFromTabSeparatedFile(const QString &path);

// A new dictionary holding only the entries whose key is in the list (exact match).
template<typename Map>
Map filterObjectsFromDictionary(const Map &dictionary, const QStringList &whoseKeysAreIn)
{
    const QSet<QString> wanted(whoseKeysAreIn.cbegin(), whoseKeysAreIn.cend());
    Map result;
    for (auto it = dictionary.cbegin(); it != dictionary.cend(); ++it) {
        if (wanted.contains(it.key()))
            result.insert(it.key(), it.value());
    }
    return result;
}

// True when the dictionary holds an object for the key.
template<typename Map>
bool dictionary(const Map &dict, const typename Map::key_type &containsKey)
{
    return dict.contains(containsKey);
}

// The first key, in the dictionary's key order, whose object equals the value; none when
// there is none.
template<typename Map>
std::optional<typename Map::key_type> keyForValue(const typename Map::mapped_type &value, const Map &inDictionary)
{
    for (auto it = inDictionary.cbegin(); it != inDictionary.cend(); ++it) {
        if (it.value() == value)
            return it.key();
    }
    return std::nullopt;
}

// In place: removes every entry whose object equals the value.
template<typename Map>
void removeKeysForObject(const typename Map::mapped_type &value, Map &inDictionary)
{
    inDictionary.removeIf([&value](const auto &entry) { return entry.value() == value; });
}

} // namespace FennimarDictionaries

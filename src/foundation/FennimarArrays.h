#pragma once

#include <QHash>
#include <QList>
#include <QMetaObject>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <concepts>
#include <memory>
#include <optional>
#include <type_traits>

// List helpers: safe element access, searches, pruning, de-duplication and moving elements.
//
// Searches compare exactly (case-sensitive) unless they say otherwise and return an int
// index, -1 when nothing is found. Functions that take a non-const list change it in
// place; all others return a new list. Everything runs in linear time in the size of the
// list (de-duplicating elements without a qHash falls back to comparing with each kept
// element). As with the platform's own prefix and suffix tests, an empty prefix or suffix
// matches no string.
namespace FennimarArrays {

namespace detail {

void logMoveSourceBelowZero();
void logMoveSourcePastEnd();
void logMoveDestinationOutOfRange(qsizetype destination, qsizetype count);
bool hasPrefix(const QString &string, const QString &prefix);
bool hasSuffix(const QString &string, const QString &suffix);
bool respondsTo(const QObject *object, const char *method);

template<typename T>
concept Hashable = requires(const T &value) {
    { qHash(value) } -> std::convertible_to<size_t>;
};

template<typename T>
struct IsSharedPtr : std::false_type
{
};
template<typename T>
struct IsSharedPtr<std::shared_ptr<T>> : std::true_type
{
};

// Looks through shared and plain pointers to the dictionary they hold.
template<typename E>
const auto &dereferenced(const E &element)
{
    if constexpr (IsSharedPtr<E>::value || std::is_pointer_v<E>)
        return *element;
    else
        return element;
}

// Whether the dictionary holds exactly the string value under the key. Works with maps whose
// value() gives a QString, a QVariant (which must hold a string) or an optional QString.
template<typename Map>
bool holdsString(const Map &map, const QString &key, const QString &value)
{
    if (!map.contains(key))
        return false;
    const auto stored = map.value(key);
    using Stored = std::decay_t<decltype(stored)>;
    if constexpr (std::is_same_v<Stored, QVariant>)
        return stored.metaType() == QMetaType::fromType<QString>() && stored.toString() == value;
    else if constexpr (std::is_same_v<Stored, std::optional<QString>>)
        return stored && *stored == value;
    else
        return stored == value;
}

} // namespace detail

// The strings of the array, each with the string put in front.
QStringList prependStringOntoArrayItems(const QString &string, const QStringList &array);

// "0" to "9", in order.
QStringList arrayOfZeroToNine();

// The element at the index; none when the index is negative or past the end.
template<typename T>
std::optional<T> objectAtIndex(qsizetype index, const QList<T> &array)
{
    if (index < 0 || index >= array.size())
        return std::nullopt;
    return array.at(index);
}

// The element at the index; the default when the index is negative or past the end.
template<typename T>
T objectAtIndex(qsizetype index, const QList<T> &array, const std::type_identity_t<T> &withDefault)
{
    if (index < 0 || index >= array.size())
        return withDefault;
    return array.at(index);
}

// The list's own safe access: objectAtIndex(index, array).
template<typename T>
std::optional<T> safeObjectAtIndex(const QList<T> &array, qsizetype index)
{
    return objectAtIndex(index, array);
}

// Index of the first element equal to the string, or -1. With ignoreCase both sides are
// lower-cased before comparing.
int doesString(const QString &string, const QStringList &array, bool ignoreCase = false);

// The first dictionary of the list whose value under the key is exactly the string value;
// none when there is none. Elements may be dictionaries (QVariantMap, QMap/QHash of strings,
// or any type with contains() and value()) or shared/plain pointers to them.
template<typename E>
std::optional<E> dictionaryInArray(const QList<E> &array, const QString &withKey, const QString &withValue)
{
    for (const E &element : array) {
        if constexpr (detail::IsSharedPtr<E>::value || std::is_pointer_v<E>) {
            if (!element)
                continue;
        }
        if (detail::holdsString(detail::dereferenced(element), withKey, withValue))
            return element;
    }
    return std::nullopt;
}

// In place: every element equal to value becomes with.
template<typename T>
void replaceObjectsThatEqual(const std::type_identity_t<T> &value, const std::type_identity_t<T> &with,
                             QList<T> &array)
{
    std::replace(array.begin(), array.end(), value, with);
}

// The strings without leading and trailing white space and line breaks.
QStringList trimObjects(const QStringList &array);

// In place: removes every object that does not have the method. The method is either a
// full signature ("update(int)"), or a bare name ("update"), which any overload answers.
// Signals, slots and Q_INVOKABLE methods count; null elements are removed.
template<typename T>
    requires std::is_base_of_v<QObject, T>
void removeObjectsThatDontRespondTo(const char *method, QList<T *> &fromMutableArray)
{
    fromMutableArray.removeIf([method](T *object) { return !detail::respondsTo(object, method); });
}

// In place: keeps only the objects that implement the Interface (a base class standing for
// the capability); null elements are removed.
template<typename Interface, typename Base>
void removeObjectsThatDontRespondTo(QList<std::shared_ptr<Base>> &fromMutableArray)
{
    fromMutableArray.removeIf(
        [](const std::shared_ptr<Base> &object) { return !std::dynamic_pointer_cast<Interface>(object); });
}

// In place: removes every element that is an instance of Class or of a subclass of it,
// keeping the order of the rest. Null elements stay.
template<typename Class, typename Base>
void removeObjectsOfClass(QList<std::shared_ptr<Base>> &fromMutableArray)
{
    fromMutableArray.removeIf(
        [](const std::shared_ptr<Base> &object) { return std::dynamic_pointer_cast<Class>(object) != nullptr; });
}

template<typename Class, typename Base>
void removeObjectsOfClass(QList<Base *> &fromMutableArray)
{
    fromMutableArray.removeIf([](Base *object) {
        if constexpr (std::is_base_of_v<QObject, Class> && std::is_base_of_v<QObject, Base>)
            return qobject_cast<Class *>(object) != nullptr;
        else
            return dynamic_cast<Class *>(object) != nullptr;
    });
}

// The same with the class known only at run time (its meta-object).
template<typename Base>
    requires std::is_base_of_v<QObject, Base>
void removeObjectsOfClass(const QMetaObject &ofClass, QList<Base *> &fromMutableArray)
{
    fromMutableArray.removeIf(
        [&ofClass](Base *object) { return object && object->metaObject()->inherits(&ofClass); });
}

// In place: removes every string that begins with the prefix. With trim the prefix is
// looked for in the string with its white space and line breaks trimmed; the untrimmed
// string is what is removed.
void removeStringsFromWithPrefix(QStringList &array, const QString &prefix, bool trim = false);

// In place: removes every string that ends with the suffix.
void removeStringsFromWithSuffix(QStringList &array, const QString &suffix);

// The strings that begin with the prefix, in order.
QStringList objectsWithPrefix(const QString &prefix, const QStringList &array);

// The elements in reverse order.
template<typename T>
QList<T> reverseArray(const QList<T> &array)
{
    return QList<T>(array.crbegin(), array.crend());
}

// The elements in first-seen order, each equal element once.
template<typename T>
QList<T> findUniqueObjectsInArray(const QList<T> &array)
{
    QList<T> unique;
    if constexpr (detail::Hashable<T>) {
        QSet<T> seen;
        seen.reserve(array.size());
        for (const T &element : array) {
            if (!seen.contains(element)) {
                seen.insert(element);
                unique.append(element);
            }
        }
    } else {
        for (const T &element : array) {
            if (!unique.contains(element))
                unique.append(element);
        }
    }
    return unique;
}

// True when the list holds one distinct element (however often); false for an empty list.
template<typename T>
bool areAllObjectsEqual(const QList<T> &array)
{
    if (array.isEmpty())
        return false;
    const T &first = array.first();
    return std::all_of(array.cbegin(), array.cend(), [&first](const T &element) { return element == first; });
}

// The strings that begin with one of the digits 0 to 9.
QStringList findStringsWithNumberPrefixInArray(const QStringList &array);

// Index of the first element that is the very same object, or -1.
template<typename T>
int findObject(const std::type_identity_t<T> *object, const QList<T *> &array)
{
    const auto found = std::find(array.cbegin(), array.cend(), object);
    return found == array.cend() ? -1 : int(found - array.cbegin());
}

template<typename T>
int findObject(const std::type_identity_t<T> *object, const QList<std::shared_ptr<T>> &array)
{
    const auto found = std::find_if(array.cbegin(), array.cend(),
                                    [object](const std::shared_ptr<T> &element) { return element.get() == object; });
    return found == array.cend() ? -1 : int(found - array.cbegin());
}

template<typename T>
int findObject(const std::shared_ptr<T> &object, const QList<std::shared_ptr<T>> &array)
{
    return findObject<T>(object.get(), array);
}

// Index of the first element at or after startingAt that equals the string, or -1. A
// negative start counts as 0.
int findString(const QString &string, const QStringList &array, qsizetype startingAt = 0);

// Index of the first string that ends with the suffix; -1 for no suffix or when none does.
int indexOfStringInArray(const QStringList &array, const std::optional<QString> &thatEndsWith);

// True when any string of the list occurs in the text (FennimarStrings::stringContains:
// case-sensitive, canonically equivalent forms of a character match).
bool doesOneOfTheseStrings(const QStringList &array, const QString &existInString);

// The indexes of the set in ascending order, each once. Any range of integers will do
// (a QSet, a QList of rows); negative values are left out.
template<typename Range>
QList<uint> arrayWithIndexSet(const Range &indexSet)
{
    QList<uint> result;
    for (const auto index : indexSet) {
        if constexpr (std::is_signed_v<std::decay_t<decltype(index)>>) {
            if (index < 0)
                continue;
        }
        result.append(uint(index));
    }
    if (!std::is_sorted(result.cbegin(), result.cend()))
        std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

// n lists filled round-robin: element 0 to list 0, element 1 to list 1, ..., element n to
// list 0 again. No lists for n below 1.
template<typename T>
QList<QList<T>> splitArray(const QList<T> &array, qsizetype intoSmallArrays)
{
    QList<QList<T>> parts;
    if (intoSmallArrays < 1)
        return parts;
    parts.resize(intoSmallArrays);
    for (QList<T> &part : parts)
        part.reserve(array.size() / intoSmallArrays + 1);
    for (qsizetype i = 0; i < array.size(); ++i)
        parts[i % intoSmallArrays].append(array.at(i));
    return parts;
}

// In place: moves the element at rowToMove so that it stands where position `to` was
// before the move (to may equal the element count: the end). In [A, B, C]: 0 to 2 gives
// [B, A, C], 0 to 3 gives [B, C, A], 2 to 0 gives [C, A, B]. An invalid source or
// destination is logged and leaves the list unchanged.
template<typename T>
void moveObjectAtIndex(qsizetype rowToMove, qsizetype to, QList<T> &inArray)
{
    if (rowToMove < 0) {
        detail::logMoveSourceBelowZero();
        return;
    }
    if (rowToMove > inArray.size() - 1) {
        detail::logMoveSourcePastEnd();
        return;
    }
    if (to < 0 || to > inArray.size()) {
        detail::logMoveDestinationOutOfRange(to, inArray.size());
        return;
    }
    inArray.move(rowToMove, to > rowToMove ? to - 1 : to);
}

// In place: moves the first element equal to object to just after (before) the first
// element equal to other.
template<typename T>
void moveObjectToAfter(const std::type_identity_t<T> &object, const std::type_identity_t<T> &other,
                       QList<T> &inArray)
{
    const qsizetype otherIndex = inArray.indexOf(other);
    moveObjectAtIndex(inArray.indexOf(object), otherIndex < 0 ? -1 : otherIndex + 1, inArray);
}

template<typename T>
void moveObjectToBefore(const std::type_identity_t<T> &object, const std::type_identity_t<T> &other,
                        QList<T> &inArray)
{
    const qsizetype otherIndex = inArray.indexOf(other);
    moveObjectAtIndex(inArray.indexOf(object), otherIndex, inArray);
}

} // namespace FennimarArrays

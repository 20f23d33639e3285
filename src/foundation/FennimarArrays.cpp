#include "FennimarArrays.h"

#include "FennimarStrings.h"
#include "foundationlogging.h"

#include <QMetaMethod>

namespace FennimarArrays {

namespace detail {

void logMoveSourceBelowZero()
{
    qCWarning(lcFoundation, "FennimarArrays.moveObjectAtIndex: rowToMove < 0");
}

void logMoveSourcePastEnd()
{
    qCWarning(lcFoundation, "FennimarArrays.moveObjectAtIndex: rowToMove > ([ma count] - 1)");
}

void logMoveDestinationOutOfRange(qsizetype destination, qsizetype count)
{
    qCWarning(lcFoundation, "FennimarArrays.moveObjectAtIndex: destination %lld outside 0...%lld",
              qlonglong(destination), qlonglong(count));
}

bool hasPrefix(const QString &string, const QString &prefix)
{
    return !prefix.isEmpty() && string.startsWith(prefix);
}

bool hasSuffix(const QString &string, const QString &suffix)
{
    return !suffix.isEmpty() && string.endsWith(suffix);
}

bool respondsTo(const QObject *object, const char *method)
{
    if (!object || !method || !*method)
        return false;
    const QMetaObject *meta = object->metaObject();
    const QByteArray wanted(method);
    if (wanted.contains('('))
        return meta->indexOfMethod(QMetaObject::normalizedSignature(method).constData()) >= 0;
    for (int i = 0; i < meta->methodCount(); ++i) {
        if (meta->method(i).name() == wanted)
            return true;
    }
    return false;
}

} // namespace detail

QStringList prependStringOntoArrayItems(const QString &string, const QStringList &array)
{
    QStringList result;
    result.reserve(array.size());
    for (const QString &item : array)
        result.append(string + item);
    return result;
}

QStringList arrayOfZeroToNine()
{
    QStringList digits;
    for (char16_t digit = u'0'; digit <= u'9'; ++digit)
        digits.append(QString(QChar(digit)));
    return digits;
}

int doesString(const QString &string, const QStringList &array, bool ignoreCase)
{
    if (!ignoreCase)
        return int(array.indexOf(string));
    const QString wanted = string.toLower();
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (array.at(i).toLower() == wanted)
            return int(i);
    }
    return -1;
}

QStringList trimObjects(const QStringList &array)
{
    QStringList result;
    result.reserve(array.size());
    for (const QString &item : array)
        result.append(item.trimmed());
    return result;
}

void removeStringsFromWithPrefix(QStringList &array, const QString &prefix, bool trim)
{
    array.removeIf([&](const QString &item) { return detail::hasPrefix(trim ? item.trimmed() : item, prefix); });
}

void removeStringsFromWithSuffix(QStringList &array, const QString &suffix)
{
    array.removeIf([&](const QString &item) { return detail::hasSuffix(item, suffix); });
}

QStringList objectsWithPrefix(const QString &prefix, const QStringList &array)
{
    QStringList result;
    for (const QString &item : array) {
        if (detail::hasPrefix(item, prefix))
            result.append(item);
    }
    return result;
}

QStringList findStringsWithNumberPrefixInArray(const QStringList &array)
{
    QStringList result;
    for (const QString &item : array) {
        if (FennimarStrings::stringStartsWithANumber(item))
            result.append(item);
    }
    return result;
}

int findString(const QString &string, const QStringList &array, qsizetype startingAt)
{
    return int(array.indexOf(string, std::max<qsizetype>(startingAt, 0)));
}

int indexOfStringInArray(const QStringList &array, const std::optional<QString> &thatEndsWith)
{
    if (!thatEndsWith)
        return -1;
    for (qsizetype i = 0; i < array.size(); ++i) {
        if (detail::hasSuffix(array.at(i), *thatEndsWith))
            return int(i);
    }
    return -1;
}

bool doesOneOfTheseStrings(const QStringList &array, const QString &existInString)
{
    return FennimarStrings::stringContainsStringInArray(existInString, array);
}

} // namespace FennimarArrays

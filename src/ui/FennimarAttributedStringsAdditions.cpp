#include "FennimarAttributedStringsAdditions.h"

#include <algorithm>
#include <functional>

namespace FennimarAttributedStringsAdditions {

namespace {

// Where the target lies inside [from, to) of the text, by the options; -1 when nowhere.
qsizetype find(const QString &text, const QString &target, int options, qsizetype from, qsizetype to)
{
    if (target.isEmpty() || to - from < target.size())
        return -1;
    const Qt::CaseSensitivity cs = options & CaseInsensitiveSearch ? Qt::CaseInsensitive : Qt::CaseSensitive;
    const QStringView window = QStringView(text).sliced(from, to - from);
    const auto matchesAt = [&](qsizetype at) {
        return window.sliced(at, target.size()).compare(target, cs) == 0;
    };
    const qsizetype last = window.size() - target.size();
    if (options & AnchoredSearch) {
        const qsizetype at = options & BackwardsSearch ? last : 0;
        return matchesAt(at) ? from + at : -1;
    }
    const qsizetype at =
        options & BackwardsSearch ? window.lastIndexOf(target, last, cs) : window.indexOf(target, 0, cs);
    return at < 0 ? -1 : from + at;
}

int replaceAll(StyledText &text, const QString &target, qsizetype replacementLength, int options, Range range,
               const std::function<void(qsizetype, qsizetype)> &replaceAt)
{
    qsizetype from = std::clamp<qsizetype>(range.location, 0, text.length());
    qsizetype to =
        std::clamp<qsizetype>(range.location + std::max<qsizetype>(range.length, 0), from, text.length());
    int count = 0;
    while (to > from) {
        const qsizetype found = find(text.text(), target, options, from, to);
        if (found < 0)
            break;
        replaceAt(found, target.size());
        ++count;
        // Go on after the replacement, up to where the range now ends.
        const qsizetype rest = to - (found + target.size());
        from = found + replacementLength;
        to = from + rest;
    }
    return count;
}

} // namespace

int replaceOccurrencesOfString(StyledText &text, const QString &target, const QString &withString,
                               int options, Range range)
{
    return replaceAll(text, target, withString.size(), options, range,
                      [&](qsizetype at, qsizetype length) { text.replace(at, length, withString); });
}

int replaceOccurrencesOfStringAttributes(StyledText &text, const QString &target, const QString &withString,
                                         const TextAttributes &attributes, int options, Range range)
{
    const StyledText replacement(withString, attributes);
    return replaceAll(text, target, withString.size(), options, range,
                      [&](qsizetype at, qsizetype length) { text.replace(at, length, replacement); });
}

} // namespace FennimarAttributedStringsAdditions

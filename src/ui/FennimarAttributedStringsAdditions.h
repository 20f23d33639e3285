#pragma once

#include "StyledText.h"

#include <QString>

// Search and replace of every occurrence in styled text.
namespace FennimarAttributedStringsAdditions {

// Search options; they may be combined.
inline constexpr int CaseInsensitiveSearch = 1;
inline constexpr int LiteralSearch = 2; // every comparison here is literal
inline constexpr int BackwardsSearch = 4;
inline constexpr int AnchoredSearch = 8;

// A stretch of text: its first character and its length.
struct Range
{
    qsizetype location = 0;
    qsizetype length = 0;
};

// Replaces each occurrence of the target inside the range, searching on right after each
// inserted replacement so a replacement is never searched again; the replacement takes the
// attributes of the first character it replaces. Returns the number of replacements. A
// range reaching beyond the text is cut to it; an empty target replaces nothing.
int replaceOccurrencesOfString(StyledText &text, const QString &target, const QString &withString,
                               int options, Range range);
// The same with the replacement carrying the attributes.
int replaceOccurrencesOfStringAttributes(StyledText &text, const QString &target, const QString &withString,
                                         const TextAttributes &attributes, int options, Range range);

} // namespace FennimarAttributedStringsAdditions

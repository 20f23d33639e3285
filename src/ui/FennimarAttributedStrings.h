#pragma once

#include "StyledText.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <optional>

// Constructors of styled text. In C++ styled text is a value, so the "mutable" and
// "immutable" forms give the same type; they differ only in their defaults: the plain form
// carries no paragraph style, the immutable one a left-aligned one. Both carry a kern of 0.
namespace FennimarAttributedStrings {

// The core constructor. Attributes: the colour when one is given (none leaves the text in
// the surface's default colour); the font, or the 10-point system font with the log line
// "FennimarAttributedStrings - FONT IS NIL" when none is given; the standard shadow when
// withShadow is set; the kern, always; a paragraph style with the alignment when it is not
// -1, replaced by the given paragraph style when there is one (giving both logs "Alignment
// will be overriden by whatever is in your paragraph Style."). No string gives empty text.
StyledText attributedString(const std::optional<QString> &string, const std::optional<QFont> &font,
                            const std::optional<QColor> &color, bool withShadow = false, int withAlignment = -1,
                            const std::optional<ParagraphStyle> &withParagraphStyle = std::nullopt,
                            qreal kerning = 0);

// The same; the short form is left-aligned.
StyledText immutableAttributedString(const std::optional<QString> &string, const std::optional<QFont> &font,
                                     const std::optional<QColor> &color, bool withShadow = false,
                                     int withAlignment = ParagraphStyle::Left,
                                     const std::optional<ParagraphStyle> &withParagraphStyle = std::nullopt,
                                     qreal kerning = 0);

} // namespace FennimarAttributedStrings

#include "FennimarAttributedStrings.h"

#include "uilogging.h"

#include <QFontDatabase>

namespace FennimarAttributedStrings {

StyledText attributedString(const std::optional<QString> &string, const std::optional<QFont> &font,
                            const std::optional<QColor> &color, bool withShadow, int withAlignment,
                            const std::optional<ParagraphStyle> &withParagraphStyle, qreal kerning)
{
    if (withAlignment != -1 && withParagraphStyle)
        qCWarning(lcUi, "Alignment will be overriden by whatever is in your paragraph Style.");

    TextAttributes attributes;
    if (font) {
        attributes.font = *font;
    } else {
        attributes.font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        attributes.font.setPointSizeF(10);
        qCWarning(lcUi, "FennimarAttributedStrings - FONT IS NIL");
    }
    if (color && color->isValid())
        attributes.foreground = *color;
    if (withShadow)
        attributes.shadow = Shadow::standard();
    attributes.kern = kerning;
    if (withAlignment != -1)
        attributes.paragraphStyle = ParagraphStyle{withAlignment};
    if (withParagraphStyle)
        attributes.paragraphStyle = *withParagraphStyle;

    return StyledText(string.value_or(QString()), attributes);
}

StyledText immutableAttributedString(const std::optional<QString> &string, const std::optional<QFont> &font,
                                     const std::optional<QColor> &color, bool withShadow, int withAlignment,
                                     const std::optional<ParagraphStyle> &withParagraphStyle, qreal kerning)
{
    return attributedString(string, font, color, withShadow, withAlignment, withParagraphStyle, kerning);
}

} // namespace FennimarAttributedStrings

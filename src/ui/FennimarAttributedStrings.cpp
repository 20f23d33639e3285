#include "FennimarAttributedStrings.h"

#include "FennimarColors.h"
#include "FennimarGraphics.h"
#include "FennimarImaging.h"
#include "GraphicsContext.h"
#include "uilogging.h"

#include <QFileInfo>
#include <QFontDatabase>

using namespace Qt::StringLiterals;

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

namespace {

QFont systemFont(qreal points, bool bold = false)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(points);
    if (bold)
        font.setBold(true);
    return font;
}

QColor white(float level)
{
    return QColor::fromRgbF(level, level, level, 1);
}

QColor headingColor(const std::optional<QColor> &color)
{
    return color ? *color : FennimarColors::colorForSourceListHeading();
}

StyledText styled(const QString &string, const QFont &font, const QColor &color,
                  std::optional<int> alignment = std::nullopt)
{
    TextAttributes attributes;
    attributes.font = font;
    attributes.foreground = color;
    if (alignment)
        attributes.paragraphStyle = ParagraphStyle{*alignment};
    return StyledText(string, attributes);
}

} // namespace

// ---- Shorter forms ----

StyledText boldAttributedString(const std::optional<QString> &string, const std::optional<QColor> &color,
                                qreal withSize)
{
    return attributedString(string, systemFont(withSize, true), color);
}

StyledText attributedStringColor(const std::optional<QString> &string, const std::optional<QColor> &color)
{
    return attributedString(string, systemFont(9), color);
}

// ---- Ready-made styles ----

StyledText attributedStringForSourceListHeading(const QString &string, const std::optional<QColor> &withColor,
                                                int withAlignment)
{
    return attributedString(string, systemFont(10, true), headingColor(withColor), false, withAlignment);
}

StyledText attributedStringForSourceListLargeHeading(const QString &string,
                                                     const std::optional<QColor> &withColor,
                                                     int withAlignment)
{
    return attributedString(string, systemFont(12, true), headingColor(withColor), false, withAlignment);
}

StyledText attributedStringForSourceListSmallHeading(const QString &string,
                                                     const std::optional<QColor> &withColor,
                                                     int withAlignment)
{
    return attributedString(string, systemFont(8, true), headingColor(withColor), false, withAlignment);
}

StyledText attributedStringForStylesListHeading(const QString &string, const std::optional<QColor> &withColor,
                                                int withAlignment)
{
    return immutableAttributedString(string, systemFont(11, true), headingColor(withColor), false,
                                     withAlignment, std::nullopt, 0);
}

StyledText attributedStringForBlueBar(const QString &string)
{
    Shadow glow = FennimarGraphics::standardShadow();
    glow.offset = QPointF(0, 0);
    glow.color = Qt::white;
    TextAttributes attributes;
    attributes.font = systemFont(9, true);
    attributes.foreground = QColor(Qt::black);
    attributes.shadow = glow;
    return StyledText(string, attributes);
}

StyledText attributedStringForLink(const QString &string)
{
    TextAttributes attributes;
    attributes.font = systemFont(11);
    attributes.foreground = QColor(Qt::blue);
    attributes.underline = true;
    return StyledText(string, attributes);
}

StyledText attributedStringForPaletteNote(const QString &string, int withAlignment)
{
    return styled(string, systemFont(8.5), white(0.3f), withAlignment);
}

StyledText attributedStringForPaletteLabel(const QString &string, int withAlignment,
                                           const std::optional<QColor> &withColor)
{
    return styled(string, systemFont(9.5), withColor.value_or(white(0.3f)), withAlignment);
}

StyledText attributedStringForNavigator(const QString &string, bool isSelected, bool alternative)
{
    return styled(string, alternative ? systemFont(8) : systemFont(8.5, true),
                  isSelected ? QColor(Qt::white) : white(1.0f / 3));
}

StyledText attributedStringForHUDLabel(const QString &string, int withAlignment)
{
    return styled(string, systemFont(10), white(2.0f / 3), withAlignment);
}

// ---- Drawing ----

QPointF drawAttributedStringCenteredVerticalyInRect(GraphicsContext &context, const StyledText &text,
                                                    const QRectF &rect, bool centreHorizontal)
{
    const QSizeF size = text.size();
    QPointF at(rect.x(), rect.y() + rect.height() / 2 - size.height() / 2);
    if (centreHorizontal)
        at.rx() += rect.width() / 2 - size.width() / 2;
    context.drawText(text, at);
    return at;
}

std::optional<QPointF> drawString(GraphicsContext &context, const StyledText &text, QPointF atPoint,
                                  int withAlignment)
{
    QPointF at = atPoint;
    switch (withAlignment) {
    case ParagraphStyle::Left:
        break;
    case ParagraphStyle::Right:
        at.rx() -= text.size().width();
        break;
    case ParagraphStyle::Centre:
        at.rx() -= text.size().width() / 2;
        break;
    default:
        return std::nullopt;
    }
    context.drawText(text, at);
    return at;
}

void drawAttributedStringAtPoint(GraphicsContext &context, const StyledText &text, QPointF atPoint,
                                 qreal withAngle)
{
    context.saveGraphicsState();
    context.painter().translate(atPoint);
    context.painter().rotate(withAngle); // counter-clockwise with y up
    context.drawText(text, QPointF(0, 0));
    context.restoreGraphicsState();
}

// ---- Other operations ----

StyledText truncate(const StyledText &text, qreal forWidth)
{
    if (forWidth <= 0)
        return StyledText();
    if (text.size().width() <= forWidth)
        return text;
    // Keep k leading characters and put the ellipsis after them: the longest k from
    // length - 2 down to 1 that fits. Widths grow with k, so halving finds it.
    const auto cut = [&text](qsizetype keep) {
        StyledText result = text;
        result.replace(keep, text.length() - keep, QString(QChar(0x2026)));
        return result;
    };
    qsizetype low = 1, high = text.length() - 2, best = 0;
    while (low <= high) {
        const qsizetype middle = low + (high - low) / 2;
        if (cut(middle).size().width() <= forWidth) {
            best = middle;
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return best > 0 ? cut(best) : StyledText();
}

StyledText concatAttributedStrings(const StyledText &a, const StyledText &and_)
{
    return a + and_;
}

QString htmlForAttributedString(const StyledText &text)
{
    QString html;
    for (const AttributeRun &run : text.runs())
        html += htmlChunkForString(text.text().mid(run.start, run.length), run.attributes);
    return html;
}

QString htmlChunkForString(const QString &string, const TextAttributes &)
{
    return string;
}

StyledText attributedStringWithImage(const QImage &image)
{
    QString name = image.text(u"Name"_s);
    if (name.isEmpty())
        name = u"image"_s;
    // One dot before the extension, even when the name already ends in one.
    while (name.endsWith(u'.'))
        name.chop(1);
    if (name.isEmpty())
        name = u"image"_s;
    TextAttachment attachment;
    attachment.image = image;
    attachment.contents = FennimarImaging::writeImage(image, std::nullopt, FennimarImaging::TIFFFileType);
    attachment.fileName = name + u".tiff"_s;
    attachment.preferredFileName = attachment.fileName;
    TextAttributes attributes;
    attributes.font = systemFont(10);
    attributes.attachment = attachment;
    return StyledText(QString(QChar(QChar::ObjectReplacementCharacter)), attributes);
}

StyledText attributedLineEndingWithFont(const std::optional<QFont> &font)
{
    return styled(u"\r"_s, font.value_or(systemFont(10)), Qt::black);
}

StyledText immutableAttributedLineEndingWithFont(const std::optional<QFont> &font)
{
    return attributedLineEndingWithFont(font);
}

void appendAttributedLineEndingWithFont(const std::optional<QFont> &font, StyledText &to)
{
    to.append(attributedLineEndingWithFont(font));
}

void appendLineEnding(StyledText &to)
{
    to.append(immutableAttributedLineEndingWithFont(std::nullopt));
}

} // namespace FennimarAttributedStrings

#pragma once

#include "StyledText.h"

#include <QColor>
#include <QFont>
#include <QString>

#include <QImage>
#include <QPointF>
#include <QRectF>

#include <optional>

class GraphicsContext;

// Styled text for the interface: constructors from a string, font, colour, shadow,
// alignment or paragraph style and kern; ready-made styles; drawing centred, aligned to a
// point or rotated; truncation with an ellipsis; line endings and image attachments.
//
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
                            const std::optional<QColor> &color, bool withShadow = false,
                            int withAlignment = -1,
                            const std::optional<ParagraphStyle> &withParagraphStyle = std::nullopt,
                            qreal kerning = 0);

// The same; the short form is left-aligned.
StyledText immutableAttributedString(const std::optional<QString> &string, const std::optional<QFont> &font,
                                     const std::optional<QColor> &color, bool withShadow = false,
                                     int withAlignment = ParagraphStyle::Left,
                                     const std::optional<ParagraphStyle> &withParagraphStyle = std::nullopt,
                                     qreal kerning = 0);

// ---- Shorter forms ----

// The system font of the size, bold, through attributedString().
StyledText boldAttributedString(const std::optional<QString> &string, const std::optional<QColor> &color,
                                qreal withSize = 9);
// The 9-point system font, through attributedString().
StyledText attributedStringColor(const std::optional<QString> &string, const std::optional<QColor> &color);

// ---- Ready-made styles ----
//
// The heading forms go through attributedString() (kern 0, no shadow, a paragraph style
// with the alignment unless it is -1); no colour takes FennimarColors::colorForSourceListHeading().
// The others carry exactly the attributes named: no kern, no shadow unless named.

// Bold 10 points.
StyledText attributedStringForSourceListHeading(const QString &string,
                                                const std::optional<QColor> &withColor = std::nullopt,
                                                int withAlignment = ParagraphStyle::Left);
// Bold 12 points.
StyledText attributedStringForSourceListLargeHeading(const QString &string,
                                                     const std::optional<QColor> &withColor,
                                                     int withAlignment);
// Bold 8 points.
StyledText attributedStringForSourceListSmallHeading(const QString &string,
                                                     const std::optional<QColor> &withColor,
                                                     int withAlignment);
// Bold 11 points, through immutableAttributedString().
StyledText attributedStringForStylesListHeading(const QString &string, const std::optional<QColor> &withColor,
                                                int withAlignment);
// Bold 9 points, black, with a white glow (the standard shadow's blur, no offset).
StyledText attributedStringForBlueBar(const QString &string);
// 11 points, blue, underlined.
StyledText attributedStringForLink(const QString &string);
// 8.5 points, white 0.3, aligned.
StyledText attributedStringForPaletteNote(const QString &string, int withAlignment);
// 9.5 points, the colour (none: white 0.3), aligned.
StyledText attributedStringForPaletteLabel(const QString &string, int withAlignment,
                                           const std::optional<QColor> &withColor = std::nullopt);
// Bold 8.5 points (regular 8 when alternative), dark grey (white when selected).
StyledText attributedStringForNavigator(const QString &string, bool isSelected, bool alternative);
// 10 points, light grey, aligned.
StyledText attributedStringForHUDLabel(const QString &string, int withAlignment);

// ---- Drawing (y up, see GraphicsContext) ----

// Draws the text with its box centred vertically in the rectangle, at the rectangle's left
// edge or centred horizontally too. Returns the lower-left corner it drew at.
QPointF drawAttributedStringCenteredVerticalyInRect(GraphicsContext &context, const StyledText &text,
                                                    const QRectF &rect, bool centreHorizontal = false);
// Draws the text starting at the point (alignment 0), ending there (1) or centred on it
// (2). Any other alignment draws nothing. Returns the lower-left corner it drew at.
std::optional<QPointF> drawString(GraphicsContext &context, const StyledText &text, QPointF atPoint,
                                  int withAlignment);
// Draws the text with its origin at the point, turned counter-clockwise about it by the
// angle in degrees.
void drawAttributedStringAtPoint(GraphicsContext &context, const StyledText &text, QPointF atPoint,
                                 qreal withAngle);

// ---- Other operations ----

// The text cut to the width: unchanged when it fits; else as many leading characters as fit
// followed by an ellipsis (U+2026) in the attributes of the first cut character; empty when
// not even one character and the ellipsis fit, or for a width of 0 or less.
StyledText truncate(const StyledText &text, qreal forWidth);
// a followed by b.
StyledText concatAttributedStrings(const StyledText &a, const StyledText &and_);
// The plain text, run by run through htmlChunkForString(): no mark-up, no escaping.
QString htmlForAttributedString(const StyledText &text);
// The text unchanged; no attribute has a mark-up.
QString htmlChunkForString(const QString &string, const TextAttributes &andAttributes);
// One object-replacement character holding the image as an attachment: TIFF contents named
// after the image's "Name" text (QImage::text), or "image", with the extension ".tiff".
StyledText attributedStringWithImage(const QImage &image);

// A carriage return in the font (none: the 10-point system font), black.
StyledText attributedLineEndingWithFont(const std::optional<QFont> &font);
StyledText immutableAttributedLineEndingWithFont(const std::optional<QFont> &font);
// Appends attributedLineEndingWithFont(font) to the text.
void appendAttributedLineEndingWithFont(const std::optional<QFont> &font, StyledText &to);
// Appends the line ending in the default font.
void appendLineEnding(StyledText &to);

} // namespace FennimarAttributedStrings

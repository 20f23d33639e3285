#pragma once

#include <QColor>
#include <QHash>
#include <QImage>
#include <QSizeF>
#include <QString>

#include <optional>

// The library's colours: the HTML/CSS colour keywords, colours as HTML/CSS text, the
// conversions between QColor and the 16-bit record, a few fixed greys and the colours of
// the desktop's selection tint.
//
// Colours made here are sRGB QColors (QColor::Rgb). Components go to integers by
// truncation toward zero (0.999 of 255 is 254), never by rounding.
namespace FennimarColors {

// Three unsigned 16-bit primaries: 0 none, 65535 full.
struct RGBColor
{
    quint16 red = 0;
    quint16 green = 0;
    quint16 blue = 0;

    bool operator==(const RGBColor &) const = default;
};

// The preference that holds the user's control tint: 1 blue (the default), 6 graphite.
inline constexpr auto ControlTintKey = "ControlTint";
inline constexpr int BlueControlTint = 1;
inline constexpr int GraphiteControlTint = 6;

// The 140 colour keywords, lower case, each to its "#rrggbb" text (lower case). Of each
// gray/grey pair only one spelling is present ("lightgrey", but "gray", "darkgray",
// "dimgray", "slategray", "darkslategray" and "lightslategray"); "mediumpurple" is
// #9370d8 and "palevioletred" #d87093. A new table on every call; the caller may change it.
QHash<QString, QString> namedColors();

// The "#rrggbb" text of a keyword, whatever its case; none for an unknown keyword.
std::optional<QString> hexColorForHTMLNamedColor(const QString &name);

// "" for the clear colour (transparent black) and for no colour, "rgba(r,g,b,a)" for a colour that is not
// opaque, else "#RRGGBB" in upper-case hexadecimal. Other colour models become RGB first.
QString htmlColorForColor(const QColor &color);

// "r,g,b" in decimal, no spaces. An invalid QColor (no colour) counts as opaque black.
QString colorToCommaSeparatedRGB(const QColor &color = QColor());
// "rgba(r,g,b,a)", the alpha with six decimals: rgba(255,0,0,0.500000). An invalid
// QColor counts as opaque black.
QString colorToCommaSeparatedRGBA(const QColor &color = QColor());

// The colour as sRGB, ready for any QPainter.
QColor CGColorFromNSColor(const QColor &color);
// The colour of an HTML colour text (RidorIvuvud::NSColorForHTML), as sRGB; black when
// the text gives none.
QColor CGColorForHTML(const QString &html);
// The 16-bit record of an HTML colour text, each primary truncated toward zero.
RGBColor RGBColorForHTML(const QString &html);
// The colour unchanged as an sRGB QColor (image filters hand their colours over as QColor).
QColor CIColorToNSColor(const QColor &color);

// A new image of that size (see FennimarImaging::imageWithSize) filled with the colour
// from edge to edge.
QImage imageSwatchForColor(const QColor &color, QSizeF size);

// Fixed greys, opaque.
QColor fairlyDarkGrayColor();    // white 0.3
QColor veryDarkGrayColor();      // white 0.15
QColor veryLightGrayColor();     // white 0.95
QColor veryVeryLightGrayColor(); // white 0.97: where the row-number column's fade begins

// The desktop's colours, read from the application palette at every call (a palette
// change shows on the next call).
// The selected row of a focused list: the active palette's Highlight.
QColor highlightColor();
// The colour of the user's control tint: colorForGraphite() in graphite mode, else the
// active palette's Highlight.
QColor colorForControlTint();
// Fixed stand-ins for the two control tints.
QColor colorForAqua();
QColor colorForGraphite();
// colorForControlTint() taken 30 % of the way toward black.
QColor colorForSourceListHeading();
// The second of the two alternating row colours: the palette's AlternateBase.
QColor sourceListBackgroundColor();
// Whether the ControlTint preference holds the graphite tint (6).
bool isInGraphiteMode();

} // namespace FennimarColors

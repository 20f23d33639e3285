#include "FennimarColors.h"

#include "FennimarImaging.h"
#include "FennimarUserDefaults.h"
#include "RidorIvuvud.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>

#include <cmath>

using namespace Qt::StringLiterals;

namespace FennimarColors {

namespace {

struct NamedColor
{
    const char *name;
    const char *hex;
};

// In the order the table is filled.
constexpr NamedColor Keywords[] = {
    {"aliceblue", "#f0f8ff"}, {"antiquewhite", "#faebd7"}, {"aqua", "#00ffff"},
    {"aquamarine", "#7fffd4"}, {"azure", "#f0ffff"}, {"beige", "#f5f5dc"},
    {"bisque", "#ffe4c4"}, {"black", "#000000"}, {"blanchedalmond", "#ffebcd"},
    {"blue", "#0000ff"}, {"blueviolet", "#8a2be2"}, {"brown", "#a52a2a"},
    {"burlywood", "#deb887"}, {"cadetblue", "#5f9ea0"}, {"chartreuse", "#7fff00"},
    {"chocolate", "#d2691e"}, {"coral", "#ff7f50"}, {"cornflowerblue", "#6495ed"},
    {"cornsilk", "#fff8dc"}, {"crimson", "#dc143c"}, {"cyan", "#00ffff"},
    {"darkblue", "#00008b"}, {"darkcyan", "#008b8b"}, {"darkgoldenrod", "#b8860b"},
    {"darkgray", "#a9a9a9"}, {"darkgreen", "#006400"}, {"darkkhaki", "#bdb76b"},
    {"darkmagenta", "#8b008b"}, {"darkolivegreen", "#556b2f"}, {"darkorange", "#ff8c00"},
    {"darkorchid", "#9932cc"}, {"darkred", "#8b0000"}, {"darksalmon", "#e9967a"},
    {"darkseagreen", "#8fbc8f"}, {"darkslateblue", "#483d8b"}, {"darkslategray", "#2f4f4f"},
    {"darkturquoise", "#00ced1"}, {"darkviolet", "#9400d3"}, {"deeppink", "#ff1493"},
    {"deepskyblue", "#00bfff"}, {"dimgray", "#696969"}, {"dodgerblue", "#1e90ff"},
    {"firebrick", "#b22222"}, {"floralwhite", "#fffaf0"}, {"forestgreen", "#228b22"},
    {"fuchsia", "#ff00ff"}, {"gainsboro", "#dcdcdc"}, {"ghostwhite", "#f8f8ff"},
    {"gold", "#ffd700"}, {"goldenrod", "#daa520"}, {"gray", "#808080"},
    {"green", "#008000"}, {"greenyellow", "#adff2f"}, {"honeydew", "#f0fff0"},
    {"hotpink", "#ff69b4"}, {"indianred", "#cd5c5c"}, {"indigo", "#4b0082"},
    {"ivory", "#fffff0"}, {"khaki", "#f0e68c"}, {"lavender", "#e6e6fa"},
    {"lavenderblush", "#fff0f5"}, {"lawngreen", "#7cfc00"}, {"lemonchiffon", "#fffacd"},
    {"lightblue", "#add8e6"}, {"lightcoral", "#f08080"}, {"lightcyan", "#e0ffff"},
    {"lightgoldenrodyellow", "#fafad2"}, {"lightgrey", "#d3d3d3"}, {"lightgreen", "#90ee90"},
    {"lightpink", "#ffb6c1"}, {"lightsalmon", "#ffa07a"}, {"lightseagreen", "#20b2aa"},
    {"lightskyblue", "#87cefa"}, {"lightslategray", "#778899"}, {"lightsteelblue", "#b0c4de"},
    {"lightyellow", "#ffffe0"}, {"lime", "#00ff00"}, {"limegreen", "#32cd32"},
    {"linen", "#faf0e6"}, {"magenta", "#ff00ff"}, {"maroon", "#800000"},
    {"mediumaquamarine", "#66cdaa"}, {"mediumblue", "#0000cd"}, {"mediumorchid", "#ba55d3"},
    {"mediumpurple", "#9370d8"}, {"mediumseagreen", "#3cb371"}, {"mediumslateblue", "#7b68ee"},
    {"mediumspringgreen", "#00fa9a"}, {"mediumturquoise", "#48d1cc"}, {"mediumvioletred", "#c71585"},
    {"midnightblue", "#191970"}, {"mintcream", "#f5fffa"}, {"mistyrose", "#ffe4e1"},
    {"moccasin", "#ffe4b5"}, {"navajowhite", "#ffdead"}, {"navy", "#000080"},
    {"oldlace", "#fdf5e6"}, {"olive", "#808000"}, {"olivedrab", "#6b8e23"},
    {"orange", "#ffa500"}, {"orangered", "#ff4500"}, {"orchid", "#da70d6"},
    {"palegoldenrod", "#eee8aa"}, {"palegreen", "#98fb98"}, {"paleturquoise", "#afeeee"},
    {"palevioletred", "#d87093"}, {"papayawhip", "#ffefd5"}, {"peachpuff", "#ffdab9"},
    {"peru", "#cd853f"}, {"pink", "#ffc0cb"}, {"plum", "#dda0dd"},
    {"powderblue", "#b0e0e6"}, {"purple", "#800080"}, {"red", "#ff0000"},
    {"rosybrown", "#bc8f8f"}, {"royalblue", "#4169e1"}, {"saddlebrown", "#8b4513"},
    {"salmon", "#fa8072"}, {"sandybrown", "#f4a460"}, {"seagreen", "#2e8b57"},
    {"seashell", "#fff5ee"}, {"sienna", "#a0522d"}, {"silver", "#c0c0c0"},
    {"skyblue", "#87ceeb"}, {"slateblue", "#6a5acd"}, {"slategray", "#708090"},
    {"snow", "#fffafa"}, {"springgreen", "#00ff7f"}, {"steelblue", "#4682b4"},
    {"tan", "#d2b48c"}, {"teal", "#008080"}, {"thistle", "#d8bfd8"},
    {"tomato", "#ff6347"}, {"turquoise", "#40e0d0"}, {"violet", "#ee82ee"},
    {"wheat", "#f5deb3"}, {"white", "#ffffff"}, {"whitesmoke", "#f5f5f5"},
    {"yellow", "#ffff00"}, {"yellowgreen", "#9acd32"},
};
static_assert(std::size(Keywords) == 140);

// QColor keeps 16 bits per channel; from those an 8-bit value truncated toward zero.
// Integer arithmetic, so exact 8-bit colours (n × 257) come back as n.
int to255(quint16 channel)
{
    return int(quint32(channel) * 255u / 65535u);
}

QColor opaqueBlackIfNone(const QColor &color)
{
    return color.isValid() ? color.toRgb() : QColor(0, 0, 0);
}

// The alpha in the shortest decimal that stands for the same 16-bit value, so an alpha
// given as 0.5 prints as 0.500000 and not as its stored approximation 0.500008.
double alphaForText(const QColor &rgb)
{
    const quint16 stored = rgb.rgba64().alpha();
    const double exact = stored / 65535.0;
    for (int decimals = 1; decimals < 6; ++decimals) {
        const double scale = std::pow(10.0, decimals);
        const double candidate = std::round(exact * scale) / scale;
        if (qRound(candidate * 65535.0) == stored)
            return candidate;
    }
    return exact;
}

QColor white(float level)
{
    return QColor::fromRgbF(level, level, level, 1.0f);
}

QColor activeColor(QPalette::ColorRole role)
{
    return QGuiApplication::palette().color(QPalette::Active, role).toRgb();
}

} // namespace

QHash<QString, QString> namedColors()
{
    QHash<QString, QString> table;
    table.reserve(int(std::size(Keywords)));
    for (const NamedColor &entry : Keywords)
        table.insert(QLatin1StringView(entry.name), QLatin1StringView(entry.hex));
    return table;
}

std::optional<QString> hexColorForHTMLNamedColor(const QString &name)
{
    const QString key = name.toLower();
    for (const NamedColor &entry : Keywords) {
        if (key == QLatin1StringView(entry.name))
            return QString(QLatin1StringView(entry.hex));
    }
    return std::nullopt;
}

QString htmlColorForColor(const QColor &color)
{
    if (!color.isValid())
        return u""_s;
    const QColor rgb = color.toRgb();
    if (rgb == QColor(Qt::transparent))
        return u""_s;
    if (rgb.rgba64().alpha() < 65535)
        return colorToCommaSeparatedRGBA(rgb);
    const QRgba64 c = rgb.rgba64();
    return QString::asprintf("#%02X%02X%02X", to255(c.red()), to255(c.green()), to255(c.blue()));
}

QString colorToCommaSeparatedRGB(const QColor &color)
{
    const QRgba64 c = opaqueBlackIfNone(color).rgba64();
    return u"%1,%2,%3"_s.arg(to255(c.red())).arg(to255(c.green())).arg(to255(c.blue()));
}

QString colorToCommaSeparatedRGBA(const QColor &color)
{
    const QColor rgb = opaqueBlackIfNone(color);
    const QRgba64 c = rgb.rgba64();
    return QString::asprintf("rgba(%d,%d,%d,%f)", to255(c.red()), to255(c.green()), to255(c.blue()),
                             alphaForText(rgb));
}

QColor CGColorFromNSColor(const QColor &color)
{
    return opaqueBlackIfNone(color);
}

QColor CGColorForHTML(const QString &html)
{
    const auto parsed = RidorIvuvud::NSColorForHTML(html);
    return CGColorFromNSColor(parsed ? *parsed : QColor(0, 0, 0));
}

RGBColor RGBColorForHTML(const QString &html)
{
    const auto parsed = RidorIvuvud::NSColorForHTML(html);
    if (!parsed)
        return {};
    // Parsed colours are RGB already: no conversion.
    const QRgba64 c = parsed->rgba64();
    return {c.red(), c.green(), c.blue()};
}

QColor CIColorToNSColor(const QColor &color)
{
    return opaqueBlackIfNone(color);
}

QImage imageSwatchForColor(const QColor &color, QSizeF size)
{
    QImage image = FennimarImaging::imageWithSize(size.width(), size.height());
    QPainter painter(&image);
    painter.fillRect(QRectF(-1, -1, image.width() + 2, image.height() + 2), color);
    return image;
}

QColor fairlyDarkGrayColor()
{
    return white(0.3f);
}

QColor veryDarkGrayColor()
{
    return white(0.15f);
}

QColor veryLightGrayColor()
{
    return white(0.95f);
}

QColor veryVeryLightGrayColor()
{
    return white(0.97f);
}

QColor highlightColor()
{
    return activeColor(QPalette::Highlight);
}

QColor colorForControlTint()
{
    return isInGraphiteMode() ? colorForGraphite() : activeColor(QPalette::Highlight);
}

QColor colorForAqua()
{
    return QColor::fromRgbF(0.22f, 0.46f, 0.84f, 1.0f);
}

QColor colorForGraphite()
{
    return QColor::fromRgbF(0.53f, 0.58f, 0.65f, 1.0f);
}

QColor colorForSourceListHeading()
{
    const QColor tint = colorForControlTint();
    constexpr float keep = 1.0f - 0.3f;
    return QColor::fromRgbF(tint.redF() * keep, tint.greenF() * keep, tint.blueF() * keep, tint.alphaF());
}

QColor sourceListBackgroundColor()
{
    return activeColor(QPalette::AlternateBase);
}

bool isInGraphiteMode()
{
    return FennimarUserDefaults::objectForKey(QLatin1StringView(ControlTintKey), BlueControlTint).toInt()
           == GraphiteControlTint;
}

} // namespace FennimarColors

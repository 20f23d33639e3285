#include "FennimarWeb.h"

#include "FennimarFileSystem.h"
#include "FennimarStrings.h"
#include "FennimarUserDefaults.h"
#include "foundationlogging.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>

#include <array>

using namespace Qt::StringLiterals;

namespace FennimarWeb {

namespace {

struct Entity
{
    char16_t code;
    const char *name;
};

// HTML 4.01 character entities, ampersand and euro sign left out.
constexpr Entity Entities[] = {
    {34, "quot"}, {60, "lt"}, {62, "gt"}, {160, "nbsp"}, {161, "iexcl"}, {162, "cent"}, {163, "pound"},
    {164, "curren"}, {165, "yen"}, {166, "brvbar"}, {167, "sect"}, {168, "uml"}, {169, "copy"}, {170, "ordf"},
    {171, "laquo"}, {172, "not"}, {173, "shy"}, {174, "reg"}, {175, "macr"}, {176, "deg"}, {177, "plusmn"},
    {178, "sup2"}, {179, "sup3"}, {180, "acute"}, {181, "micro"}, {182, "para"}, {183, "middot"},
    {184, "cedil"}, {185, "sup1"}, {186, "ordm"}, {187, "raquo"}, {188, "frac14"}, {189, "frac12"},
    {190, "frac34"}, {191, "iquest"}, {192, "Agrave"}, {193, "Aacute"}, {194, "Acirc"}, {195, "Atilde"},
    {196, "Auml"}, {197, "Aring"}, {198, "AElig"}, {199, "Ccedil"}, {200, "Egrave"}, {201, "Eacute"},
    {202, "Ecirc"}, {203, "Euml"}, {204, "Igrave"}, {205, "Iacute"}, {206, "Icirc"}, {207, "Iuml"},
    {208, "ETH"}, {209, "Ntilde"}, {210, "Ograve"}, {211, "Oacute"}, {212, "Ocirc"}, {213, "Otilde"},
    {214, "Ouml"}, {215, "times"}, {216, "Oslash"}, {217, "Ugrave"}, {218, "Uacute"}, {219, "Ucirc"},
    {220, "Uuml"}, {221, "Yacute"}, {222, "THORN"}, {223, "szlig"}, {224, "agrave"}, {225, "aacute"},
    {226, "acirc"}, {227, "atilde"}, {228, "auml"}, {229, "aring"}, {230, "aelig"}, {231, "ccedil"},
    {232, "egrave"}, {233, "eacute"}, {234, "ecirc"}, {235, "euml"}, {236, "igrave"}, {237, "iacute"},
    {238, "icirc"}, {239, "iuml"}, {240, "eth"}, {241, "ntilde"}, {242, "ograve"}, {243, "oacute"},
    {244, "ocirc"}, {245, "otilde"}, {246, "ouml"}, {247, "divide"}, {248, "oslash"}, {249, "ugrave"},
    {250, "uacute"}, {251, "ucirc"}, {252, "uuml"}, {253, "yacute"}, {254, "thorn"}, {255, "yuml"},
    {338, "OElig"}, {339, "oelig"}, {352, "Scaron"}, {353, "scaron"}, {376, "Yuml"}, {402, "fnof"},
    {710, "circ"}, {732, "tilde"}, {913, "Alpha"}, {914, "Beta"}, {915, "Gamma"}, {916, "Delta"},
    {917, "Epsilon"}, {918, "Zeta"}, {919, "Eta"}, {920, "Theta"}, {921, "Iota"}, {922, "Kappa"},
    {923, "Lambda"}, {924, "Mu"}, {925, "Nu"}, {926, "Xi"}, {927, "Omicron"}, {928, "Pi"}, {929, "Rho"},
    {931, "Sigma"}, {932, "Tau"}, {933, "Upsilon"}, {934, "Phi"}, {935, "Chi"}, {936, "Psi"}, {937, "Omega"},
    {945, "alpha"}, {946, "beta"}, {947, "gamma"}, {948, "delta"}, {949, "epsilon"}, {950, "zeta"},
    {951, "eta"}, {952, "theta"}, {953, "iota"}, {954, "kappa"}, {955, "lambda"}, {956, "mu"}, {957, "nu"},
    {958, "xi"}, {959, "omicron"}, {960, "pi"}, {961, "rho"}, {962, "sigmaf"}, {963, "sigma"}, {964, "tau"},
    {965, "upsilon"}, {966, "phi"}, {967, "chi"}, {968, "psi"}, {969, "omega"}, {977, "thetasym"},
    {978, "upsih"}, {982, "piv"}, {8194, "ensp"}, {8195, "emsp"}, {8201, "thinsp"}, {8204, "zwnj"},
    {8205, "zwj"}, {8206, "lrm"}, {8207, "rlm"}, {8211, "ndash"}, {8212, "mdash"}, {8216, "lsquo"},
    {8217, "rsquo"}, {8218, "sbquo"}, {8220, "ldquo"}, {8221, "rdquo"}, {8222, "bdquo"}, {8224, "dagger"},
    {8225, "Dagger"}, {8226, "bull"}, {8230, "hellip"}, {8240, "permil"}, {8242, "prime"}, {8243, "Prime"},
    {8249, "lsaquo"}, {8250, "rsaquo"}, {8254, "oline"}, {8260, "frasl"}, {8465, "image"}, {8472, "weierp"},
    {8476, "real"}, {8482, "trade"}, {8501, "alefsym"}, {8592, "larr"}, {8593, "uarr"}, {8594, "rarr"},
    {8595, "darr"}, {8596, "harr"}, {8629, "crarr"}, {8656, "lArr"}, {8657, "uArr"}, {8658, "rArr"},
    {8659, "dArr"}, {8660, "hArr"}, {8704, "forall"}, {8706, "part"}, {8707, "exist"}, {8709, "empty"},
    {8711, "nabla"}, {8712, "isin"}, {8713, "notin"}, {8715, "ni"}, {8719, "prod"}, {8721, "sum"},
    {8722, "minus"}, {8727, "lowast"}, {8730, "radic"}, {8733, "prop"}, {8734, "infin"}, {8736, "ang"},
    {8743, "and"}, {8744, "or"}, {8745, "cap"}, {8746, "cup"}, {8747, "int"}, {8756, "there4"}, {8764, "sim"},
    {8773, "cong"}, {8776, "asymp"}, {8800, "ne"}, {8801, "equiv"}, {8804, "le"}, {8805, "ge"}, {8834, "sub"},
    {8835, "sup"}, {8836, "nsub"}, {8838, "sube"}, {8839, "supe"}, {8853, "oplus"}, {8855, "otimes"},
    {8869, "perp"}, {8901, "sdot"}, {8968, "lceil"}, {8969, "rceil"}, {8970, "lfloor"}, {8971, "rfloor"},
    {9001, "lang"}, {9002, "rang"}, {9674, "loz"}, {9824, "spades"}, {9827, "clubs"}, {9829, "hearts"},
    {9830, "diams"},
};

const Entity *entityFor(char16_t code, bool withLtGt)
{
    if (!withLtGt && (code == 60 || code == 62))
        return nullptr;
    for (const Entity &entity : Entities)
        if (entity.code == code)
            return &entity;
    return nullptr;
}

constexpr char16_t PercentSet[] = u" !\"#$%&'()*+,-[]?<>{}";

QString percentEscape(const QString &text, bool lineBreaksToo)
{
    const QStringView set(PercentSet);
    QString out;
    out.reserve(text.size());
    // One pass: a "%" produced here is never looked at again, and the input is never
    // mistaken for anything else.
    for (const QChar c : text) {
        const bool escape = set.contains(c) || (lineBreaksToo && (c == u'\n' || c == u'\r'));
        if (escape)
            out += QString::asprintf("%%%02x", c.unicode());
        else
            out += c;
    }
    return out;
}

int hexValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

bool startsWithDigitOrHasSpace(const QString &value)
{
    return (!value.isEmpty() && value.front() >= u'0' && value.front() <= u'9') || value.contains(u' ');
}

} // namespace

QMap<QString, QString> charactersToEscape(bool withoutLtGt)
{
    QMap<QString, QString> table;
    for (const Entity &entity : Entities) {
        if (withoutLtGt && (entity.code == 60 || entity.code == 62))
            continue;
        table.insert(QString::number(entity.code), QString::fromLatin1(entity.name));
    }
    return table;
}

QString escapeCharactersForHTML(const QString &text)
{
    // One pass over the text gives what replacing "&" first, then the quote, then each
    // entity character gives, without a stand-in for "&" that the input could contain.
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        if (c == u'&')
            out += u"&amp;"_s;
        else if (c == u'"')
            out += u"&#34;"_s;
        else if (const Entity *entity = entityFor(c.unicode(), true))
            out += u'&' + QLatin1StringView(entity->name) + u';';
        else
            out += c;
    }
    return out;
}

QString unEscapeCharactersForHTML(const QString &text)
{
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        if (text[i] == u'&') {
            const qsizetype semicolon = text.indexOf(u';', i + 1);
            // Entity names are at most eight letters long.
            if (semicolon > i + 1 && semicolon - i - 1 <= 8) {
                const QStringView name = QStringView(text).sliced(i + 1, semicolon - i - 1);
                bool replaced = false;
                for (const Entity &entity : Entities) {
                    if (entity.code != 60 && entity.code != 62 && name == QLatin1StringView(entity.name)) {
                        out += QChar(entity.code);
                        replaced = true;
                        break;
                    }
                }
                if (replaced) {
                    i = semicolon + 1;
                    continue;
                }
            }
        }
        out += text[i++];
    }
    return out;
}

QString escapeCharactersForHTMLOrHTTP(const std::optional<QString> &text)
{
    if (!text) {
        qCWarning(lcFoundation, "FennimarWeb.escapeCharactersForHTMLOrHTTP - Input arg was nil....");
        return QString();
    }
    return percentEscape(*text, false);
}

QString escapeAllCharactersForHTMLOrHTTP(const QString &text)
{
    return percentEscape(text, true);
}

std::optional<QString> unEscapeCharactersForHTMLOrHTTP(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    if (!text->contains(u'%'))
        return *text;
    QByteArray bytes;
    bytes.reserve(text->size());
    const QString &t = *text;
    qsizetype i = 0;
    while (i < t.size()) {
        const qsizetype percent = t.indexOf(u'%', i);
        const qsizetype end = percent < 0 ? t.size() : percent;
        bytes += QStringView(t).sliced(i, end - i).toUtf8();
        if (percent < 0)
            break;
        if (percent + 2 >= t.size())
            return std::nullopt;
        const int high = hexValue(t[percent + 1]), low = hexValue(t[percent + 2]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes += char(high * 16 + low);
        i = percent + 3;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

QString pathForURL(const QUrl &url)
{
    const QString text = url.toString(QUrl::FullyEncoded);
    return text.startsWith(u"file://"_s) ? text.sliced(7) : text;
}

std::optional<QString> urlStringToPath(const QString &text)
{
    QString path = text;
    if (path.startsWith(u"url("_s))
        path = path.sliced(4).chopped(path.size() > 4 ? 1 : 0);
    if (path.startsWith(u"file://"_s))
        path = path.sliced(7);
    return unEscapeCharactersForHTMLOrHTTP(path);
}

QString cleanUpURLlyFilePath(const QString &text)
{
    QString path = text;
    if (path.startsWith(u"url("_s))
        path = FennimarStrings::stringBetweenAndLastOccurenceOf(u"url("_s, u")"_s, path).value_or(QString());
    else if (path.endsWith(u')'))
        path.chop(1);
    if (path.startsWith(u'\''))
        path.remove(0, 1);
    if (path.endsWith(u'\''))
        path.chop(1);
    if (path.startsWith(u"file://"_s))
        path.remove(u"file://"_s);
    return path;
}

bool validateXHTMLAttribute_name(const QString &value)
{
    return !startsWithDigitOrHasSpace(value);
}

bool validateXHTMLAttribute_id(const QString &value)
{
    return !startsWithDigitOrHasSpace(value);
}

QStringList webBrowserNames()
{
    return {u"Validator-SAC"_s, u"Stainless"_s, u"GranParadiso"_s, u"WebKit"_s,   u"Sunrise"_s,
            u"Safari"_s,        u"Mozilla"_s,   u"Firefox"_s,      u"DeerPark"_s, u"iCab"_s,
            u"Opera"_s,         u"Internet Explorer"_s, u"Camino"_s, u"OmniWeb"_s, u"Shiira"_s,
            u"Flock"_s,         u"BonEcho"_s,   u"iPhoney"_s,      u"Google Chrome"_s, u"Chromium"_s};
}

QStringList findWebBrowsers()
{
    const QStringList names = webBrowserNames();
    QStringList found;
    for (const QString &folder : QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
        QStringList listing;
        FennimarFileSystem::recursePathToList(listing, folder, false, true, 2, 0);
        for (const QString &path : listing) {
            const QString bare = FennimarFileSystem::fileWithoutExtensionOrPath(path);
            const QString name = FennimarFileSystem::desktopEntryValue(path, u"Name"_s).value_or(QString());
            if ((names.contains(bare) || names.contains(name)) && !found.contains(path))
                found.append(path);
        }
    }
    return found;
}

std::optional<QStringList> findWebBrowsersUsingLaunchServices()
{
    qCWarning(lcFoundation, "THIS DOES NOT WORK");
    return std::nullopt;
}

QUrl homeSiteURL()
{
    const QString user = QDir(QDir::homePath()).dirName();
    QUrl url;
    url.setScheme(u"http"_s);
    url.setHost(u"127.0.0.1"_s);
    url.setPath(u"/~"_s + user + u'/');
    return url;
}

std::optional<QUrl> dotMacSiteURL()
{
    const QString prefix = FennimarUserDefaults::objectForKey(QString(OnlineDiskSitePrefixKey)).toString();
    const std::optional<QString> volume = FennimarFileSystem::pathToiDisk();
    if (prefix.isEmpty() || !volume)
        return std::nullopt;
    const QString tail = FennimarFileSystem::fileTail(*volume).value_or(QString());
    return QUrl(prefix + tail);
}

} // namespace FennimarWeb

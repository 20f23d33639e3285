#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

// Web text: HTML named entities both ways, percent escapes for URLs and attribute
// values, CSS url(...) forms and file addresses to plain paths, XHTML attribute checks,
// opening a URL in the user's browser, finding installed browsers and the addresses of
// the user's personal sites. Stateless.
namespace FennimarWeb {

// The character entities of HTML 4.01 (Latin-1, symbols, special characters) except
// those of the ampersand and the euro sign, from the code point as decimal text ("160")
// to the name without "&" and ";" ("nbsp"): 250 entries, 248 when withoutLtGt leaves
// out "lt" (60) and "gt" (62).
QMap<QString, QString> charactersToEscape(bool withoutLtGt = false);

// "&" becomes "&amp;", a double quote "&#34;", and every character of the table (with
// "lt" and "gt") "&name;". Other characters (the euro sign, letters without an entity)
// stay as they are.
QString escapeCharactersForHTML(const QString &text);

// Every "&name;" of the table without "lt" and "gt" (exact, case-sensitive) back into its
// character; "&lt;", "&gt;", "&amp;" and numeric references stay as they are.
QString unEscapeCharactersForHTML(const QString &text);

// Each of the 21 characters " !\"#$%&'()*+,-[]?<>{}" becomes "%" and two lower-case hex
// digits ("%20", "%5b"); everything else stays. No text (logged as
// "FennimarWeb.escapeCharactersForHTMLOrHTTP - Input arg was nil....") gives "".
QString escapeCharactersForHTMLOrHTTP(const std::optional<QString> &text);

// The same, with line feed and carriage return escaped too ("%0a", "%0d").
QString escapeAllCharactersForHTMLOrHTTP(const QString &text);

// Every percent escape decoded, the escaped bytes read as UTF-8. None for no text, a "%"
// not followed by two hex digits, or bytes that are not UTF-8.
std::optional<QString> unEscapeCharactersForHTMLOrHTTP(const std::optional<QString> &text);

// The URL's encoded text without a leading "file://"; other URLs' text unchanged.
QString pathForURL(const QUrl &url);

// "url(file:///tmp/My%20Pic.png)" gives "/tmp/My Pic.png": "url(" and the last character
// dropped, then "file://", then percent escapes decoded (none when they do not decode).
std::optional<QString> urlStringToPath(const QString &text);

// "url('file:///tmp/a.png')" gives "/tmp/a.png": the text inside "url(" and the last ")"
// (or without a trailing ")"), one leading and one trailing apostrophe dropped, and every
// "file://" removed when the result starts with one. No decoding.
QString cleanUpURLlyFilePath(const QString &text);

// False when the value starts with a digit or holds a space.
bool validateXHTMLAttribute_name(const QString &value);
bool validateXHTMLAttribute_id(const QString &value);

// Opens the URL made from the text with the desktop's handler (a web address in the
// user's browser). False when the text is no URL or nothing could open it.
// (brisko_foundation_gui)
bool launchURL(const QString &text);

// The browser names looked for among the installed applications, in order.
QStringList webBrowserNames();

// The desktop entries of the installed browsers: the application folders of the XDG
// data folders are listed two levels deep (applications only) and the entries whose
// file name without extension, or whose untranslated Name, is one of the browser names
// are kept in listing order.
QStringList findWebBrowsers();

// Logs "THIS DOES NOT WORK" and gives nothing.
std::optional<QStringList> findWebBrowsersUsingLaunchServices();

// http://127.0.0.1/~<user>/ with the last component of the home folder as user.
QUrl homeSiteURL();

// The preference holding the address prefix of the online-disk site.
inline constexpr QLatin1StringView OnlineDiskSitePrefixKey{"OnlineDiskSitePrefix"};

// The prefix stored under OnlineDiskSitePrefixKey followed by the last component of the
// mounted online-disk volume; none without the preference or without the volume.
std::optional<QUrl> dotMacSiteURL();

} // namespace FennimarWeb

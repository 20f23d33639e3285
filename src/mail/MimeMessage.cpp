#include "MimeMessage.h"

#include "Base64.h"
#include "FennimarStrings.h"
#include "SesRequest.h"

#include "PlaceholderMerge.h"

#include <QList>
#include <QRegularExpression>
#include <QUrl>

#include <cstdint>
#include <cstring>
#include <cstdlib>
#include <ctime>

using namespace Qt::StringLiterals;

namespace brisko {

namespace MimeMessage {

namespace {

constexpr qsizetype MaxHeaderLine = 78;
constexpr qsizetype MaxEncodedWord = 75;
constexpr qsizetype MaxBodyLine = 998;
constexpr qsizetype MaxQuotedPrintableLine = 76;
const QString EncodedWordOpen = u"=?UTF-8?B?"_s;
const QString EncodedWordClose = u"?="_s;

bool isAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

// One piece of a header value: text to write as encoded-words (which may be cut between
// characters), or text that is written as it is and never cut.
struct Piece
{
    QString text;
    bool encode = false;
};

// Writes the pieces after "Name:", one blank before each piece or encoded-word, starting a
// continuation line (a line feed and a blank) where the next word would pass 78 characters.
QString foldPieces(const QString &name, const QList<Piece> &pieces)
{
    QString out;
    QString line = name + u':';
    const qsizetype nameLength = line.size();
    const auto place = [&](const QString &word) {
        if (line.size() > nameLength && line.size() + 1 + word.size() > MaxHeaderLine) {
            out += line + u'\n';
            line.clear();
        }
        line += u' ' + word;
    };
    for (const Piece &piece : pieces) {
        if (!piece.encode) {
            place(piece.text);
            continue;
        }
        // Whole code points into each word, as many as fit on the line it lands on.
        const QString &text = piece.text;
        const auto nextPoint = [&text](qsizetype at) {
            const qsizetype length =
                text.at(at).isHighSurrogate() && at + 1 < text.size() && text.at(at + 1).isLowSurrogate() ? 2 : 1;
            return text.mid(at, length).toUtf8();
        };
        qsizetype i = 0;
        while (i < text.size()) {
            const auto payloadFor = [](qsizetype room) {
                return std::max<qsizetype>(0, (std::min(room, MaxEncodedWord) - 12) / 4 * 3);
            };
            qsizetype budget = payloadFor(MaxHeaderLine - line.size() - 1);
            const QByteArray first = nextPoint(i);
            if (first.size() > budget && line.size() > nameLength) {
                out += line + u'\n';
                line.clear();
                budget = payloadFor(MaxHeaderLine - 1);
            }
            QByteArray bytes;
            do {
                const QByteArray point = nextPoint(i);
                if (!bytes.isEmpty() && bytes.size() + point.size() > budget)
                    break;
                bytes += point;
                i += point.size() == 4 ? 2 : 1;
            } while (i < text.size());
            line += u' ' + EncodedWordOpen + QString::fromLatin1(bytes.toBase64()) + EncodedWordClose;
        }
    }
    return out + line + u'\n';
}

// "a, \"b, c\" <d>" → ["a", "\"b, c\" <d>"]: commas outside quotes and angle brackets.
QStringList splitMailboxes(const QString &value)
{
    QStringList parts;
    QString current;
    bool quoted = false;
    int angle = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value.at(i);
        if (quoted && c == u'\\' && i + 1 < value.size()) {
            current += c;
            current += value.at(++i);
            continue;
        }
        if (c == u'"')
            quoted = !quoted;
        else if (!quoted && c == u'<')
            ++angle;
        else if (!quoted && c == u'>' && angle > 0)
            --angle;
        else if (!quoted && angle == 0 && c == u',') {
            parts.append(current);
            current.clear();
            continue;
        }
        current += c;
    }
    parts.append(current);
    return parts;
}

// The display name without its quotes and quoting backslashes.
QString unquoted(const QString &name)
{
    if (name.size() < 2 || !name.startsWith(u'"') || !name.endsWith(u'"'))
        return name;
    QString result;
    const QString inner = name.mid(1, name.size() - 2);
    for (qsizetype i = 0; i < inner.size(); ++i) {
        if (inner.at(i) == u'\\' && i + 1 < inner.size())
            ++i;
        result += inner.at(i);
    }
    return result;
}

QList<Piece> addressPieces(const QString &value)
{
    QList<Piece> pieces;
    const QStringList mailboxes = splitMailboxes(value);
    for (qsizetype m = 0; m < mailboxes.size(); ++m) {
        const QString mailbox = mailboxes.at(m).trimmed();
        const qsizetype open = mailbox.lastIndexOf(u'<');
        if (mailbox.endsWith(u'>') && open >= 0) {
            const QString name = mailbox.left(open).trimmed();
            if (!name.isEmpty())
                pieces.append({isAscii(name) ? name : unquoted(name), !isAscii(name)});
            pieces.append({mailbox.mid(open), false});
        } else if (!isAscii(mailbox) && !mailbox.contains(u'@')) {
            pieces.append({mailbox, true}); // a name with no address
        } else {
            pieces.append({mailbox, false}); // an address as typed
        }
        if (m + 1 < mailboxes.size()) {
            if (pieces.last().encode)
                pieces.append({u","_s, false});
            else
                pieces.last().text += u',';
        }
    }
    return pieces;
}

QString partContent(const QString &body, bool quotedPrintable)
{
    return quotedPrintable ? QString::fromLatin1(encodeQuotedPrintable(body)) : body;
}

const QString TransferEncodingLine = u"Content-Transfer-Encoding: quoted-printable\n"_s;

constexpr qsizetype Base64LineLength = 76;
// The longest unsubscribe template taken: both targets, merged, still fit one header line of
// 998 characters (transports that cannot fold it write it on one).
constexpr qsizetype MaxUnsubscribeTemplate = 480;

// The mixed boundary beside an alternative boundary "==boundary…==": neither is the start of
// the other, so no delimiter line can be taken for the other's.
QString mixedBoundaryFor(const QString &boundary)
{
    return u"==mixed"_s + (boundary.startsWith(u"==") ? boundary.mid(2) : boundary);
}

// Percent-encodes what a URL may not hold as it stands: blanks, controls, non-ASCII and the
// characters that would end it in a header ("<", ">", "\"", and so on). "%" stays, so text
// already encoded is left alone.
QString encodeLoosely(const QString &text)
{
    QString out;
    const QByteArray bytes = text.toUtf8();
    static constexpr char hex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u >= 0x7F || std::strchr("<>\"{}|\\^`", c) != nullptr) {
            out += u'%';
            out += QLatin1Char(hex[u >> 4]);
            out += QLatin1Char(hex[u & 0xF]);
        } else {
            out += QLatin1Char(c);
        }
    }
    return out;
}

// Placeholders of a template replaced by a sample value, to check the URL's shape.
QString sampled(const QString &urlTemplate)
{
    static const QRegularExpression token(u"__[^_]+(?:_[^_]+)*__"_s);
    QString text = urlTemplate;
    return text.replace(token, u"x"_s);
}

std::optional<QString> checkHttps(const QString &item)
{
    const QUrl url(sampled(item), QUrl::StrictMode);
    if (!url.isValid() || url.scheme().compare(u"https"_s, Qt::CaseInsensitive) != 0 || url.host().isEmpty())
        return u"\"%1\" is not a web address (https://host/…)"_s.arg(item);
    return std::nullopt;
}

std::optional<QString> checkMailto(const QString &item)
{
    const QUrl url(sampled(item), QUrl::StrictMode);
    const QString address = url.path();
    const qsizetype at = address.indexOf(u'@');
    if (!url.isValid() || at <= 0 || at == address.size() - 1 || address.contains(u'/'))
        return u"\"%1\" is not an address to write to (mailto:name@example.com)"_s.arg(item);
    return std::nullopt;
}

// A MIME parameter, as one or more "; name=value" pieces each on a line of its own: a quoted
// string when the value is ASCII, else RFC 2231's UTF-8 form; both split into numbered
// sections when long.
QString parameterLines(const QString &name, const QString &value)
{
    constexpr qsizetype Section = 60;
    QStringList sections;
    bool extended = !isAscii(value);
    if (extended) {
        const QByteArray encoded = QUrl::toPercentEncoding(value, "!#$&+^`|~");
        QString current = u"UTF-8''"_s;
        for (qsizetype i = 0; i < encoded.size();) {
            const qsizetype step = encoded.at(i) == '%' ? 3 : 1;
            if (current.size() + step > Section) {
                sections.append(current);
                current.clear();
            }
            current += QString::fromLatin1(encoded.mid(i, step));
            i += step;
        }
        sections.append(current);
    } else {
        for (qsizetype i = 0; i < value.size() || sections.isEmpty(); i += Section) {
            QString piece = value.mid(i, Section);
            piece.replace(u'\\', u"\\\\"_s).replace(u'"', u"\\\""_s);
            sections.append(u'"' + piece + u'"');
        }
    }
    QString out;
    for (qsizetype i = 0; i < sections.size(); ++i) {
        const QString key = sections.size() == 1 ? name : name + u'*' + QString::number(i);
        out += u";\n "_s + key + (extended ? u"*="_s : u"="_s) + sections.at(i);
    }
    return out;
}

QString listUnsubscribeLines(const ListUnsubscribe &targets)
{
    QStringList items;
    if (targets.https)
        items.append(u'<' + withoutLineBreaks(*targets.https) + u'>');
    if (targets.mailto)
        items.append(u'<' + withoutLineBreaks(*targets.mailto) + u'>');
    if (items.isEmpty())
        return QString();
    QString line = u"List-Unsubscribe: "_s + items.join(u", "_s);
    if (line.size() > MaxHeaderLine)
        line = u"List-Unsubscribe: "_s + items.join(u",\n "_s);
    line += u'\n';
    if (targets.https)
        line += u"List-Unsubscribe-Post: List-Unsubscribe=One-Click\n"_s;
    return line;
}

// The Base64 of the data in lines of 76 characters, without a line feed after the last.
QString base64Lines(const QByteArray &data)
{
    const QByteArray encoded = data.toBase64();
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / Base64LineLength + 1);
    for (qsizetype i = 0; i < encoded.size(); i += Base64LineLength) {
        if (i > 0)
            out += '\n';
        out.append(encoded.constData() + i, std::min<qsizetype>(Base64LineLength, encoded.size() - i));
    }
    return QString::fromLatin1(out);
}

qint64 base64LinesSize(qint64 bytes)
{
    const qint64 encoded = (bytes + 2) / 3 * 4;
    return encoded == 0 ? 0 : encoded + (encoded - 1) / Base64LineLength;
}

} // namespace

UnsubscribeParse parseUnsubscribe(const QString &text)
{
    UnsubscribeParse result;
    const QString trimmed = withoutLineBreaks(text).trimmed();
    if (trimmed.isEmpty())
        return result;
    const auto fail = [&result](const QString &why) {
        result.error = why;
        return result;
    };
    if (trimmed.size() > MaxUnsubscribeTemplate)
        return fail(u"The unsubscribe text is longer than %1 characters"_s.arg(MaxUnsubscribeTemplate));
    // Commas start a new item only where one of the forms follows: URLs may hold commas.
    static const QRegularExpression separator(
        u",\\s*(?=<?\\s*(?:https?:|mailto:|[^\\s,/?#<>:]+@))"_s, QRegularExpression::CaseInsensitiveOption);
    ListUnsubscribe targets;
    for (QString item : trimmed.split(separator)) {
        item = item.trimmed();
        if (item.startsWith(u'<') && item.endsWith(u'>'))
            item = item.mid(1, item.size() - 2).trimmed();
        if (item.isEmpty())
            return fail(u"The unsubscribe text has an empty entry"_s);
        const QString lower = item.toLower();
        if (lower.startsWith(u"http:"_s))
            return fail(u"The unsubscribe link %1 uses http://; mailbox providers accept only https:// links"_s.arg(item));
        if (lower.startsWith(u"https:"_s)) {
            if (targets.https)
                return fail(u"The unsubscribe text holds two https links; give one"_s);
            item = encodeLoosely(item);
            if (const auto why = checkHttps(item))
                return fail(*why);
            targets.https = item;
            continue;
        }
        if (!lower.startsWith(u"mailto:"_s)) {
            if (!item.contains(u'@') || item.contains(u':'))
                return fail(u"\"%1\" is neither an https link nor a mailto address"_s.arg(item));
            item = u"mailto:"_s + item;
        }
        if (targets.mailto)
            return fail(u"The unsubscribe text holds two mailto addresses; give one"_s);
        item = encodeLoosely(item);
        if (const auto why = checkMailto(item))
            return fail(*why);
        targets.mailto = item;
    }
    result.targets = targets;
    return result;
}

ListUnsubscribe mergeUnsubscribe(const ListUnsubscribe &targets, const QList<std::pair<QString, QString>> &entries)
{
    QList<std::pair<QString, QString>> encoded;
    encoded.reserve(entries.size());
    for (const auto &[key, value] : entries)
        encoded.emplace_back(key, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    ListUnsubscribe merged;
    if (targets.https)
        merged.https = encodeLoosely(PlaceholderMerge::merge(*targets.https, encoded));
    if (targets.mailto)
        merged.mailto = encodeLoosely(PlaceholderMerge::merge(*targets.mailto, encoded));
    return merged;
}

QString safeFileName(const QString &name)
{
    QString safe = withoutLineBreaks(name);
    safe.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7F; });
    safe.replace(u'/', u'_').replace(u'\\', u'_');
    safe = safe.trimmed();
    return safe.isEmpty() || safe == u"."_s || safe == u".."_s ? u"attachment"_s : safe;
}

QString safeContentType(const QString &type)
{
    static const QRegularExpression shape(u"^[A-Za-z0-9!#$&^_.+-]+/[A-Za-z0-9!#$&^_.+-]+$"_s);
    const QString trimmed = type.trimmed();
    return shape.match(trimmed).hasMatch() && trimmed.size() <= 127 ? trimmed.toLower()
                                                                    : u"application/octet-stream"_s;
}

QString attachmentPart(const Attachment &attachment)
{
    const QString name = safeFileName(attachment.name);
    QString part = u"Content-Type: "_s + safeContentType(attachment.type) + parameterLines(u"name"_s, name) + u'\n';
    part += u"Content-Disposition: attachment"_s + parameterLines(u"filename"_s, name) + u'\n';
    part += u"Content-Transfer-Encoding: base64\n\n"_s;
    part += base64Lines(attachment.data);
    return part;
}

qint64 base64Size(qint64 bytes)
{
    return (bytes + 2) / 3 * 4;
}

QString longestBoundary()
{
    return u"==boundary-2147483648-2147483648-2147483648=="_s;
}

qint64 rawSize(const QString &boundary, const QString &message, const QString &htmlMessage,
               const QString &subject, const QString &from, const std::optional<QString> &to,
               const std::optional<QString> &replyTo, const std::optional<QString> &returnPath,
               const Extras &extras)
{
    Extras empty = extras;
    qint64 files = 0;
    for (Attachment &attachment : empty.attachments) {
        files += base64LinesSize(attachment.data.size());
        attachment.data.clear();
    }
    const QString text =
        createMessageWithBoundary(boundary, message, htmlMessage, subject, from, to, replyTo, returnPath, empty);
    return text.toUtf8().size() + files;
}

QString createBoundary()
{
    const auto ticks = static_cast<std::int32_t>(std::clock());
    const auto seconds = static_cast<std::int32_t>(std::time(nullptr));
    const auto random = static_cast<std::int32_t>(std::rand());
    return QString::asprintf("==boundary%i%i%i==", int(ticks), int(seconds), int(random));
}

QString withoutLineBreaks(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n')
            continue; // CR LF: one break, made one blank at the LF
        if (c == u'\r' || c == u'\n' || c == 0x85 || c == 0x2028 || c == 0x2029)
            result += u' ';
        else
            result += QChar(c);
    }
    return result;
}

QString headerLines(const QString &name, const QString &value, HeaderKind kind)
{
    QString safe = withoutLineBreaks(value);
    // No other control character (NUL above all) goes into a header either; a tab is blank.
    safe.removeIf([](QChar c) { return (c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7F; });
    if (isAscii(safe))
        return name + u": "_s + safe + u'\n';
    if (kind == HeaderKind::Text)
        return foldPieces(name, {{safe, true}});
    return foldPieces(name, addressPieces(safe));
}

bool needsQuotedPrintable(const QString &body)
{
    const QByteArray bytes = body.toUtf8();
    qsizetype start = 0;
    while (start <= bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        if (end < 0)
            end = bytes.size();
        qsizetype length = end - start;
        if (length > 0 && bytes.at(end - 1) == '\r')
            --length;
        if (length > MaxBodyLine)
            return true;
        start = end + 1;
    }
    return false;
}

QByteArray encodeQuotedPrintable(const QString &body)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    const QByteArray bytes = body.toUtf8();
    QByteArray out;
    out.reserve(bytes.size() + bytes.size() / 3);
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        QByteArray line = lines.at(n);
        if (n + 1 < lines.size() && line.endsWith('\r'))
            line.chop(1);
        qsizetype column = 0;
        for (qsizetype i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line.at(i));
            const bool last = i + 1 == line.size();
            QByteArray token;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
                token = QByteArray(1, char(c));
            else
                token = QByteArray("=") + hex[c >> 4] + hex[c & 0xF];
            // Keep room for the "=" of a soft break.
            if (column + token.size() > MaxQuotedPrintableLine - 1) {
                out += "=\n";
                column = 0;
            }
            out += token;
            column += token.size();
        }
        if (n + 1 < lines.size())
            out += '\n';
    }
    return out;
}

QString createMessageWithBoundary(const QString &boundary, const QString &message, const QString &htmlMessage,
                                  const QString &subject, const QString &from, const std::optional<QString> &to,
                                  const std::optional<QString> &replyTo, const std::optional<QString> &returnPath,
                                  const Extras &extras)
{
    const bool mixed = !extras.attachments.isEmpty();
    const bool plainQuoted = needsQuotedPrintable(message);
    const bool hasHtml = !FennimarStrings::trimWhitespaceAndNewLines(htmlMessage).isEmpty();
    const bool htmlQuoted = hasHtml && needsQuotedPrintable(htmlMessage);
    const QString plain = partContent(message, plainQuoted);

    QString text = headerLines(u"From"_s, from, HeaderKind::Addresses);
    if (to)
        text += headerLines(u"To"_s, *to, HeaderKind::Addresses);
    if (replyTo && !replyTo->isEmpty())
        text += headerLines(u"Reply-To"_s, *replyTo, HeaderKind::Addresses);
    if (returnPath && !returnPath->isEmpty())
        text += headerLines(u"Return-Path"_s, *returnPath, HeaderKind::Addresses);
    text += headerLines(u"Subject"_s, subject, HeaderKind::Text);
    if (extras.unsubscribe)
        text += listUnsubscribeLines(*extras.unsubscribe);
    text += u"MIME-Version: 1.0\n"_s;
    const QString outer = mixedBoundaryFor(boundary);
    if (mixed) {
        text += u"Content-Type: multipart/mixed; boundary=\"%1\"\n\n"_s.arg(outer);
        text += u"--%1\n"_s.arg(outer);
        text += u"Content-Type: multipart/alternative; boundary=\"%1\"\n\n"_s.arg(boundary);
        text += u"--%1\n"_s.arg(boundary);
    } else {
        text += u"Content-Type: multipart/alternative; boundary=\"%1\"\n\n"_s.arg(boundary);
        text += plain;
        text += u"\n\n--%1\n"_s.arg(boundary);
    }
    text += u"Content-Type: text/plain; charset=\"UTF-8\"\n"_s;
    if (plainQuoted)
        text += TransferEncodingLine;
    text += u"Content-Disposition: inline\n\n"_s;
    text += plain;
    if (hasHtml) {
        text += u"\n\n--%1\n"_s.arg(boundary);
        text += u"Content-Type: text/html; charset=\"UTF-8\"\n"_s;
        if (htmlQuoted)
            text += TransferEncodingLine;
        text += u'\n';
        text += partContent(htmlMessage, htmlQuoted);
    }
    text += u"\n--%1--\n"_s.arg(boundary);
    if (mixed) {
        for (const Attachment &attachment : extras.attachments) {
            text += u"\n--%1\n"_s.arg(outer);
            text += attachmentPart(attachment);
        }
        text += u"\n--%1--\n"_s.arg(outer);
    }
    text += u'\n';
    return text;
}

QString createMessage(const QString &message, const QString &htmlMessage, const QString &subject,
                      const QString &from, const std::optional<QString> &replyTo,
                      const std::optional<QString> &returnPath)
{
    return createMessageWithBoundary(createBoundary(), message, htmlMessage, subject, from, std::nullopt, replyTo,
                                     returnPath);
}

QString createMessageTo(const QString &message, const QString &htmlMessage, const QString &subject,
                        const QString &from, const QString &to, const std::optional<QString> &replyTo,
                        const std::optional<QString> &returnPath, const Extras &extras)
{
    return createMessageWithBoundary(createBoundary(), message, htmlMessage, subject, from, to, replyTo,
                                     returnPath, extras);
}

QString rawMessageData(const QString &messageText)
{
    return Base64::encodeBase64WithNewlines(messageText.toUtf8(), false);
}

QString encodeMail(const QString &message, const QString &htmlMessage, const QString &subject,
                   const QString &from, const std::optional<QString> &replyTo,
                   const std::optional<QString> &returnPath)
{
    return SesRequest::urlencode(
        rawMessageData(createMessage(message, htmlMessage, subject, from, replyTo, returnPath)));
}

QString encodeMailTo(const QString &message, const QString &htmlMessage, const QString &subject,
                     const QString &from, const QString &to, const std::optional<QString> &replyTo,
                     const std::optional<QString> &returnPath)
{
    return SesRequest::urlencode(
        rawMessageData(createMessageTo(message, htmlMessage, subject, from, to, replyTo, returnPath)));
}

} // namespace MimeMessage

} // namespace brisko

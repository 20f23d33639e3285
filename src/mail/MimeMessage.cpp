#include "MimeMessage.h"

#include "Base64.h"
#include "FennimarStrings.h"
#include "SesRequest.h"

#include <QList>

#include <cstdint>
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

} // namespace

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
                                  const std::optional<QString> &replyTo, const std::optional<QString> &returnPath)
{
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
    text += u"MIME-Version: 1.0\n"_s;
    text += u"Content-Type: multipart/alternative; boundary=\"%1\"\n\n"_s.arg(boundary);
    text += plain;
    text += u"\n\n--%1\n"_s.arg(boundary);
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
    text += u"\n--%1--\n\n"_s.arg(boundary);
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
                        const std::optional<QString> &returnPath)
{
    return createMessageWithBoundary(createBoundary(), message, htmlMessage, subject, from, to, replyTo,
                                     returnPath);
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

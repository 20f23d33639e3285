#pragma once

#include "Campaign.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace brisko {

// The raw Internet message sent for one recipient: a multipart/alternative message with a
// plain-text part and, when the HTML body holds anything but white space, an HTML part.
// Lines end with a single line feed. Header layout:
//
//   From: <from>
//   To: <recipient>                      (only from the forms that take the recipient)
//   Reply-To: <reply-to>                 (only when present and not empty)
//   Return-Path: <return-path>           (only when present and not empty)
//   Subject: <subject>
//   MIME-Version: 1.0
//   Content-Type: multipart/alternative; boundary="<B>"
//
// then the plain body as preamble, the plain part, the HTML part and the close delimiter.
//
// Header text is made safe and readable on the way:
//  - a line break (CR, LF, CR LF, NEL, U+2028, U+2029) in a header text becomes a blank,
//    so no text can start a header line of its own;
//  - a pure-ASCII header is written exactly as typed; a Subject holding non-ASCII text is
//    written as UTF-8 encoded-words (RFC 2047), and so is the display name of an address
//    (From, To, Reply-To, Return-Path) holding non-ASCII text, the address itself staying
//    as typed; such headers are folded so that no line exceeds 78 characters.
// A body with a line longer than 998 bytes is written quoted-printable, with a
// "Content-Transfer-Encoding: quoted-printable" line in its part's header; other bodies
// are written as they are (8-bit UTF-8), without that line.
//
// With an unsubscribe target, "List-Unsubscribe: <https…>, <mailto…>" (https first) follows
// the Subject, and "List-Unsubscribe-Post: List-Unsubscribe=One-Click" when an https URL is
// there. With attachments the message is multipart/mixed: the alternative part above (without
// its preamble) comes first, then one Base64 part per file.
namespace MimeMessage {

// Where a recipient may unsubscribe: an https URL, a mailto URL, or both. Parsed from the
// campaign's text once, then merged per recipient.
struct ListUnsubscribe
{
    std::optional<QString> https;
    std::optional<QString> mailto;

    bool operator==(const ListUnsubscribe &) const = default;
};

struct UnsubscribeParse
{
    std::optional<ListUnsubscribe> targets; // none for a blank text, or on error
    QString error;                          // why the text cannot be used; empty when it can
};

// Reads "https://…", "mailto:…" (or a bare address), or one of each separated by a comma,
// each optionally in angle brackets, with placeholders "__COLUMN__" anywhere. An http:// URL,
// two of a kind, a URL without a host or a mailto without an address is an error. Characters
// a URL may not hold as they stand (blanks, non-ASCII) are percent-encoded here.
UnsubscribeParse parseUnsubscribe(const QString &text);

// The targets merged with one record: each value goes in percent-encoded, so that no value
// can end a URL, add another or break the header.
ListUnsubscribe mergeUnsubscribe(const ListUnsubscribe &targets,
                                 const QList<std::pair<QString, QString>> &entries);

// What a message carries beside its bodies and the address headers.
struct Extras
{
    std::optional<ListUnsubscribe> unsubscribe; // already merged for the recipient
    AttachmentList attachments;
};

// The service's limit on one raw message, its attachments encoded in Base64 (10 MB).
inline constexpr qint64 MaxRawMessageBytes = 10 * 1024 * 1024;
// The Base64 length of that many bytes.
qint64 base64Size(qint64 bytes);
// A boundary at least as long as any createBoundary() gives, for measuring.
QString longestBoundary();
// The size in bytes of the raw message (UTF-8, attachments in Base64), the size the service
// holds against its limit, counted without encoding the attachments: the message built with
// empty files plus their encoded lengths.
qint64 rawSize(const QString &boundary, const QString &message, const QString &htmlMessage,
               const QString &subject, const QString &from, const std::optional<QString> &to,
               const std::optional<QString> &replyTo, const std::optional<QString> &returnPath,
               const Extras &extras);

// A file name safe for a header and a file system: no control characters, no folders.
QString safeFileName(const QString &name);
// The type when it reads "type/subtype" in token characters, else "application/octet-stream".
QString safeContentType(const QString &type);
// One attachment's part, without its delimiter line: headers, a blank line and the Base64 of
// the data in lines of 76 characters (no line feed after the last line).
QString attachmentPart(const Attachment &attachment);

// "==boundary<clock><time><rand>==": processor clock ticks, seconds since 1970 and the C
// library's next rand(), each a signed 32-bit decimal.
QString createBoundary();

// The message without a To header.
QString createMessage(const QString &message, const QString &htmlMessage, const QString &subject,
                      const QString &from, const std::optional<QString> &replyTo,
                      const std::optional<QString> &returnPath);
// The message sent to one recipient: "To: " and the address as the second header line.
QString createMessageTo(const QString &message, const QString &htmlMessage, const QString &subject,
                        const QString &from, const QString &to, const std::optional<QString> &replyTo,
                        const std::optional<QString> &returnPath, const Extras &extras = {});
// Both with a given boundary instead of a new one.
QString createMessageWithBoundary(const QString &boundary, const QString &message, const QString &htmlMessage,
                                  const QString &subject, const QString &from, const std::optional<QString> &to,
                                  const std::optional<QString> &replyTo, const std::optional<QString> &returnPath,
                                  const Extras &extras = {});

// The message's UTF-8 bytes as one line of Base64: the value of RawMessage.Data before
// any escaping.
QString rawMessageData(const QString &messageText);

// rawMessageData(createMessage(…)) passed through SesRequest::urlencode(): the escaped
// value of RawMessage.Data in the "AWS3-HTTPS" request body.
QString encodeMail(const QString &message, const QString &htmlMessage, const QString &subject,
                   const QString &from, const std::optional<QString> &replyTo,
                   const std::optional<QString> &returnPath);
QString encodeMailTo(const QString &message, const QString &htmlMessage, const QString &subject,
                     const QString &from, const QString &to, const std::optional<QString> &replyTo,
                     const std::optional<QString> &returnPath);

// The text with every line break made a blank (CR LF counts as one break).
QString withoutLineBreaks(const QString &text);

// The header line(s), ending in a line feed, for an unstructured text (Subject) or an
// address list (From, To, Reply-To, Return-Path).
enum class HeaderKind { Text, Addresses };
QString headerLines(const QString &name, const QString &value, HeaderKind kind);

// True when a line of the text is longer than 998 bytes in UTF-8 (CR LF and LF end lines).
bool needsQuotedPrintable(const QString &body);
// Quoted-printable (RFC 2045) of the text's UTF-8 bytes with line-feed line ends: lines of
// at most 76 characters, "=" soft breaks, CR LF and LF written as a line feed.
QByteArray encodeQuotedPrintable(const QString &body);

} // namespace MimeMessage

} // namespace brisko

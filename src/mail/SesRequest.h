#pragma once

#include "AccountSettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>

#include <optional>
#include <utility>

namespace brisko {

using HttpHeaderList = QList<std::pair<QByteArray, QByteArray>>;

// The pieces every SES query request shares: escaping of parameter values, the date text,
// the signatures and the request itself (form-encoded body POSTed to the endpoint).
//
// Two signing schemes are built:
//  - Signature Version 4 (the default): body "Action=…&Version=2010-12-01&<own parameters>",
//    headers Content-Length, Content-Type "application/x-www-form-urlencoded; charset=utf-8",
//    Host, X-Amz-Date and Authorization; content-type, host and x-amz-date are signed for
//    service "ses" in the account's region. Temporary credentials add X-Amz-Security-Token,
//    signed with the others.
//  - "AWS3-HTTPS" (Signature Version 3, legacy): body "Action=…&AWSAccessKeyId=…&
//    SignatureVersion=2&SignatureMethod=HmacSHA256&Version=2010-12-01&<own parameters>",
//    headers Content-Length, Content-Type "application/x-www-form-urlencoded", Date and
//    X-Amzn-Authorization; only the Date value is signed. Temporary credentials add
//    X-Amz-Security-Token after them.
namespace SesRequest {

inline constexpr QStringView ApiVersion = u"2010-12-01";

// A parameter of an action: its name and its value before escaping.
using Parameter = std::pair<QString, QString>;

// Every ";/?:@&=+$,[]#!'()*" replaced by its %XX escape; all other characters (letters,
// digits, "-._~", the blank, "%", controls, non-ASCII) pass unchanged.
QString urlencode(const QString &text);

// The time as "EEE, dd MMM yyyy HH:mm:ss +0000" in UTC with English names, whatever the
// user's language, e.g. "Sat, 05 Dec 2026 16:23:40 +0000". Written to the log.
QString dateStringForHeader(const QDateTime &now = QDateTime::currentDateTimeUtc());

// The Base64 text (44 characters) of HMAC-SHA256 of the date text under the secret key,
// both taken as ASCII bytes; none when either is none.
std::optional<QString> signRequestWithDateString(const std::optional<QString> &dateString,
                                                 const std::optional<QString> &secretKey);

// "AWS3-HTTPS AWSAccessKeyId=<key>, Algorithm=HmacSHA256, Signature=<signature>"; a missing
// signature leaves the field empty (the service refuses such a request).
QString authorizationValue(const QString &accessKey, const std::optional<QString> &signature);

// The endpoint in use as URL text. With the default settings
// "https://email.us-east-1.amazonaws.com".
QString awsDomain(const AccountSettings &settings = AccountSettings::load());

// One request ready to go: method, URL, header fields in the order they are sent, body.
struct Request
{
    QByteArray method = QByteArrayLiteral("POST");
    QUrl url;
    HttpHeaderList headers;
    QByteArray body;

    // The value of the first header of that name (case-insensitive); empty when absent.
    QByteArray header(QByteArrayView name) const;
    // A network request carrying the URL and the headers in order, aborted when no byte
    // moves for timeoutMs milliseconds.
    QNetworkRequest networkRequest(int timeoutMs) const;
};

// The request for the action under the settings' signing scheme and endpoint. A missing
// access key is sent as empty text, a missing secret key signs with an empty key.
Request build(const AccountSettings &settings, const QString &action, const QList<Parameter> &parameters,
              const QDateTime &now = QDateTime::currentDateTimeUtc());
// The "AWS3-HTTPS" request: values escaped with urlencode(), the body made 7-bit ASCII
// ("?" for anything else).
Request buildV3(const AccountSettings &settings, const QString &action, const QList<Parameter> &parameters,
                const QDateTime &now = QDateTime::currentDateTimeUtc());
// The Signature Version 4 request: values percent-encoded as UTF-8 (RFC 3986).
Request buildV4(const AccountSettings &settings, const QString &action, const QList<Parameter> &parameters,
                const QDateTime &now = QDateTime::currentDateTimeUtc());

} // namespace SesRequest

// AWS Signature Version 4 (HMAC-SHA256 with a key derived from the date, region and service).
namespace SigV4 {

struct Signed
{
    QByteArray canonicalRequest;
    QByteArray stringToSign;
    QByteArray signedHeaders; // "content-type;host;x-amz-date"
    QByteArray signature;     // 64 lower-case hex digits
    QByteArray authorization; // the Authorization header value
};

// "20150830T123600Z" and "20150830" of the time in UTC.
QByteArray amzDate(const QDateTime &time);
QByteArray dateStamp(const QDateTime &time);

// Percent-encoding of RFC 3986: everything but A-Z a-z 0-9 "-._~" as %XX (upper-case hex).
QByteArray percentEncode(const QByteArray &bytes);

// HMAC-SHA256 and SHA-256 through OpenSSL.
QByteArray hmacSha256(const QByteArray &key, const QByteArray &message);
QByteArray sha256Hex(const QByteArray &data);

// The derived signing key (32 bytes) for one day, region and service.
QByteArray signingKey(const QByteArray &secretKey, const QByteArray &dateStamp, const QByteArray &region,
                      const QByteArray &service);

// Signs a request. Every header given is signed (names compared case-insensitively,
// values trimmed with inner runs of blanks made one); the query is a list of unescaped
// name/value pairs; path is the URL's encoded path ("/" when empty).
Signed sign(const QByteArray &method, const QByteArray &path, const QList<std::pair<QByteArray, QByteArray>> &query,
            const HttpHeaderList &headers, const QByteArray &body, const QByteArray &accessKey,
            const QByteArray &secretKey, const QByteArray &region, const QByteArray &service,
            const QDateTime &time);

} // namespace SigV4

} // namespace brisko

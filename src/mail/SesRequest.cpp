#include "SesRequest.h"

#include "Base64.h"
#include "maillogging.h"

#include <QHostAddress>
#include <QLocale>
#include <QMap>

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>

using namespace Qt::StringLiterals;

namespace brisko {

namespace SesRequest {

namespace {

// The escape of one character, or none when it passes unchanged.
const char *escapeFor(QChar c)
{
    switch (c.unicode()) {
    case u';': return "%3B";
    case u'/': return "%2F";
    case u'?': return "%3F";
    case u':': return "%3A";
    case u'@': return "%40";
    case u'&': return "%26";
    case u'=': return "%3D";
    case u'+': return "%2B";
    case u'$': return "%24";
    case u',': return "%2C";
    case u'[': return "%5B";
    case u']': return "%5D";
    case u'#': return "%23";
    case u'!': return "%21";
    case u'\'': return "%27";
    case u'(': return "%28";
    case u')': return "%29";
    case u'*': return "%2A";
    default: return nullptr;
    }
}

// The Host header as the client sends it: the host, with the port when it is not the
// scheme's own.
QByteArray hostHeader(const QUrl &url)
{
    QByteArray host;
    const QString name = url.host();
    QHostAddress address;
    if (address.setAddress(name) && address.protocol() == QAbstractSocket::IPv6Protocol)
        host = '[' + name.toLatin1() + ']';
    else
        host = QUrl::toAce(name);
    const int port = url.port();
    const int schemePort = url.scheme() == u"http" ? 80 : 443;
    if (port != -1 && port != schemePort)
        host += ':' + QByteArray::number(port);
    return host;
}

void logRequest(const QString &action, const QUrl &url)
{
    qCInfo(lcMail).noquote() << u"SES request %1 to %2"_s.arg(action, url.toString());
}

} // namespace

QString urlencode(const QString &text)
{
    QString result;
    result.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        if (const char *escape = escapeFor(c))
            result += QLatin1StringView(escape);
        else
            result += c;
    }
    return result;
}

QString dateStringForHeader(const QDateTime &now)
{
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QString text = english.toString(now.toUTC(), u"ddd, dd MMM yyyy HH:mm:ss"_s) + u" +0000"_s;
    qCInfo(lcMail).noquote() << text;
    return text;
}

std::optional<QString> signRequestWithDateString(const std::optional<QString> &dateString,
                                                 const std::optional<QString> &secretKey)
{
    if (!dateString || !secretKey)
        return std::nullopt;
    const QByteArray digest = SigV4::hmacSha256(secretKey->toLatin1(), dateString->toLatin1());
    return Base64::encodeBase64WithNewlines(digest, false);
}

QString authorizationValue(const QString &accessKey, const std::optional<QString> &signature)
{
    return u"AWS3-HTTPS AWSAccessKeyId=%1, Algorithm=HmacSHA256, Signature=%2"_s.arg(accessKey,
                                                                                     signature.value_or(QString()));
}

QString awsDomain(const AccountSettings &settings)
{
    return settings.endpointInUse();
}

QByteArray Request::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

QNetworkRequest Request::networkRequest(int timeoutMs) const
{
    QNetworkRequest request(url);
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    // HTTP/1.1 keeps the header fields as built; a redirect is an answer like any other.
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setTransferTimeout(timeoutMs);
    return request;
}

Request build(const AccountSettings &settings, const QString &action, const QList<Parameter> &parameters,
              const QDateTime &now)
{
    if (settings.signatureVersion == AccountSettings::SignatureVersion::V3)
        return buildV3(settings, action, parameters, now);
    return buildV4(settings, action, parameters, now);
}

Request buildV3(const AccountSettings &settings, const QString &action, const QList<Parameter> &parameters,
                const QDateTime &now)
{
    const QString accessKey = settings.accessKey.value_or(QString());
    const QString date = dateStringForHeader(now);
    const std::optional<QString> signature = signRequestWithDateString(date, settings.secretKey);
    const QString authorization = authorizationValue(accessKey, signature);

    QString body = u"Action="_s + action;
    body += u"&AWSAccessKeyId=%1"_s.arg(accessKey);
    body += u"&SignatureVersion=%1"_s.arg(u"2"_s);
    body += u"&SignatureMethod=%1"_s.arg(u"HmacSHA256"_s);
    body += u"&Version=%1"_s.arg(ApiVersion);
    for (const auto &[name, value] : parameters)
        body += u'&' + name + u'=' + urlencode(value);

    Request request;
    request.url = settings.requestUrl();
    // Lossy 7-bit ASCII: anything else becomes "?".
    request.body.reserve(body.size());
    for (const QChar c : body)
        request.body.append(c.unicode() < 0x80 ? char(c.unicode()) : '?');
    request.headers = {
        {QByteArrayLiteral("Content-Length"), QByteArray::number(int(request.body.size()))},
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/x-www-form-urlencoded")},
        {QByteArrayLiteral("Date"), date.toLatin1()},
        {QByteArrayLiteral("X-Amzn-Authorization"), authorization.toLatin1()},
    };
    // The scheme signs only the date; the token of temporary credentials rides along.
    if (settings.sessionToken)
        request.headers.append({QByteArrayLiteral("X-Amz-Security-Token"), settings.sessionToken->toUtf8()});
    logRequest(action, request.url);
    return request;
}

Request buildV4(const AccountSettings &settings, const QString &action, const QList<Parameter> &parameters,
                const QDateTime &now)
{
    Request request;
    request.url = settings.requestUrl();
    request.body = "Action=" + SigV4::percentEncode(action.toUtf8()) + "&Version=" + ApiVersion.toLatin1();
    for (const auto &[name, value] : parameters)
        request.body += '&' + SigV4::percentEncode(name.toUtf8()) + '=' + SigV4::percentEncode(value.toUtf8());

    HttpHeaderList signedHeaders = {
        {QByteArrayLiteral("Content-Type"), QByteArrayLiteral("application/x-www-form-urlencoded; charset=utf-8")},
        {QByteArrayLiteral("Host"), hostHeader(request.url)},
        {QByteArrayLiteral("X-Amz-Date"), SigV4::amzDate(now)},
    };
    // The session token of temporary credentials is one of the signed headers.
    if (settings.sessionToken)
        signedHeaders.append({QByteArrayLiteral("X-Amz-Security-Token"), settings.sessionToken->toUtf8()});
    const SigV4::Signed result =
        SigV4::sign(request.method, request.url.path(QUrl::FullyEncoded).toLatin1(), {}, signedHeaders, request.body,
                    settings.accessKey.value_or(QString()).toUtf8(), settings.secretKey.value_or(QString()).toUtf8(),
                    settings.region.toUtf8(), QByteArrayLiteral("ses"), now);
    request.headers = {{QByteArrayLiteral("Content-Length"), QByteArray::number(request.body.size())}};
    request.headers += signedHeaders;
    request.headers.append({QByteArrayLiteral("Authorization"), result.authorization});
    logRequest(action, request.url);
    return request;
}

} // namespace SesRequest

namespace SigV4 {

namespace {

// Header values as they are signed: trimmed, each inner run of blanks made one blank.
QByteArray canonicalValue(const QByteArray &value)
{
    return value.simplified();
}

// Each segment of the encoded path encoded once more, as the services other than S3 expect.
QByteArray canonicalUri(const QByteArray &path)
{
    if (path.isEmpty())
        return QByteArrayLiteral("/");
    QList<QByteArray> segments = path.split('/');
    for (QByteArray &segment : segments)
        segment = percentEncode(segment);
    return segments.join('/');
}

} // namespace

QByteArray amzDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), u"yyyyMMdd'T'HHmmss'Z'"_s).toLatin1();
}

QByteArray dateStamp(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), u"yyyyMMdd"_s).toLatin1();
}

QByteArray percentEncode(const QByteArray &bytes)
{
    // Runs over whole raw messages, so it sizes the result once and writes into it.
    static constexpr char hex[] = "0123456789ABCDEF";
    auto unreserved = [](unsigned char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
            || c == '_' || c == '~';
    };
    qsizetype size = 0;
    for (const char ch : bytes)
        size += unreserved(static_cast<unsigned char>(ch)) ? 1 : 3;
    QByteArray result(size, Qt::Uninitialized);
    char *out = result.data();
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (unreserved(c)) {
            *out++ = char(c);
        } else {
            *out++ = '%';
            *out++ = hex[c >> 4];
            *out++ = hex[c & 0xF];
        }
    }
    return result;
}

QByteArray hmacSha256(const QByteArray &key, const QByteArray &message)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.constData(), int(key.size()),
              reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()), digest, &length))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(digest), qsizetype(length));
}

QByteArray sha256Hex(const QByteArray &data)
{
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char *>(data.constData()), size_t(data.size()), digest);
    return QByteArray(reinterpret_cast<const char *>(digest), SHA256_DIGEST_LENGTH).toHex();
}

QByteArray signingKey(const QByteArray &secretKey, const QByteArray &dateStamp, const QByteArray &region,
                      const QByteArray &service)
{
    const QByteArray kDate = hmacSha256("AWS4" + secretKey, dateStamp);
    const QByteArray kRegion = hmacSha256(kDate, region);
    const QByteArray kService = hmacSha256(kRegion, service);
    return hmacSha256(kService, QByteArrayLiteral("aws4_request"));
}

Signed sign(const QByteArray &method, const QByteArray &path, const QList<std::pair<QByteArray, QByteArray>> &query,
            const HttpHeaderList &headers, const QByteArray &body, const QByteArray &accessKey,
            const QByteArray &secretKey, const QByteArray &region, const QByteArray &service,
            const QDateTime &time)
{
    QList<std::pair<QByteArray, QByteArray>> encodedQuery;
    for (const auto &[name, value] : query)
        encodedQuery.append({percentEncode(name), percentEncode(value)});
    std::sort(encodedQuery.begin(), encodedQuery.end());
    QByteArrayList queryPairs;
    for (const auto &[name, value] : encodedQuery)
        queryPairs.append(name + '=' + value);

    // Sorted by lower-case name; values of a repeated name joined by commas in their order.
    QMap<QByteArray, QByteArrayList> canonicalHeaders;
    for (const auto &[name, value] : headers)
        canonicalHeaders[name.toLower()].append(canonicalValue(value));
    QByteArray headerBlock;
    for (auto it = canonicalHeaders.cbegin(); it != canonicalHeaders.cend(); ++it)
        headerBlock += it.key() + ':' + it.value().join(',') + '\n';

    Signed result;
    result.signedHeaders = canonicalHeaders.keys().join(';');
    result.canonicalRequest = method + '\n' + canonicalUri(path) + '\n' + queryPairs.join('&') + '\n' + headerBlock
                              + '\n' + result.signedHeaders + '\n' + sha256Hex(body);
    const QByteArray day = dateStamp(time);
    const QByteArray scope = day + '/' + region + '/' + service + "/aws4_request";
    result.stringToSign =
        "AWS4-HMAC-SHA256\n" + amzDate(time) + '\n' + scope + '\n' + sha256Hex(result.canonicalRequest);
    result.signature = hmacSha256(signingKey(secretKey, day, region, service), result.stringToSign).toHex();
    result.authorization = "AWS4-HMAC-SHA256 Credential=" + accessKey + '/' + scope
                           + ", SignedHeaders=" + result.signedHeaders + ", Signature=" + result.signature;
    return result;
}

} // namespace SigV4

} // namespace brisko

// The request pieces: escaping, the date text, both signing schemes and the request shapes.
// Signature Version 4 is checked against published AWS vectors and, for random inputs,
// against an independent implementation in Python.

#include "FakeSesServer.h"
#include "SesRequest.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

Q_DECLARE_METATYPE(AccountSettings::SignatureVersion)

namespace {

const QDateTime RequestTime(QDate(2026, 12, 5), QTime(16, 23, 40), Qt::UTC);

AccountSettings settingsFor(AccountSettings::SignatureVersion version)
{
    AccountSettings settings;
    settings.accessKey = u"AKIDEXAMPLE"_s;
    settings.secretKey = u"wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY"_s;
    settings.signatureVersion = version;
    return settings;
}

RecordedRequest recorded(const SesRequest::Request &request)
{
    return {request.method, request.url.path(QUrl::FullyEncoded).toLatin1(), request.headers, request.body};
}

QByteArray signatureOf(const QByteArray &authorization)
{
    return authorization.mid(authorization.indexOf("Signature=") + 10);
}

} // namespace

class TestSesRequest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void urlencode_data();
    void urlencode();
    void dateText_data();
    void dateText();
    void legacySignature();
    void endpoint_data();
    void endpoint();
    void requestShapes_data();
    void requestShapes();
    void legacyRequestSignsItsDateHeader();
    void hostHeader_data();
    void hostHeader();
    void publishedSigV4Vectors();
    void sigV4AgreesWithReferenceForRandomInputs();
};

void TestSesRequest::urlencode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("Base64: exactly + / =") << u"ab+c/d=="_s << u"ab%2Bc%2Fd%3D%3D"_s;
    QTest::newRow("tagged address") << u"jane+news@example.com"_s << u"jane%2Bnews%40example.com"_s;
    QTest::newRow("nothing to escape") << u"Plain text-._~ 100% \u00e9\t"_s << u"Plain text-._~ 100% \u00e9\t"_s;
    QTest::newRow("all eighteen in table order")
        << u";/?:@&=+$,[]#!'()*"_s
        << u"%3B%2F%3F%3A%40%26%3D%2B%24%2C%5B%5D%23%21%27%28%29%2A"_s;
    QTest::newRow("escapes are not escaped again") << u"%3B;"_s << u"%3B%3B"_s;
}

void TestSesRequest::urlencode()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(SesRequest::urlencode(text), expected);
}

void TestSesRequest::dateText_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("expected");
    QTest::newRow("example") << RequestTime << u"Sat, 05 Dec 2026 16:23:40 +0000"_s;
    QTest::newRow("single digits padded") << QDateTime(QDate(2027, 3, 1), QTime(7, 5, 9), Qt::UTC)
                                          << u"Mon, 01 Mar 2027 07:05:09 +0000"_s;
    QTest::newRow("local time written as UTC")
        << QDateTime(QDate(2026, 12, 31), QTime(23, 30, 0), Qt::OffsetFromUTC, -3 * 3600)
        << u"Fri, 01 Jan 2027 02:30:00 +0000"_s;
}

void TestSesRequest::dateText()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, expected);
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString text = SesRequest::dateStringForHeader(time);
    QLocale::setDefault(previous);
    QCOMPARE(text, expected);
}

void TestSesRequest::legacySignature()
{
    // RFC 4231, test case 2.
    const QString expected = QString::fromLatin1(
        QByteArray::fromHex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843").toBase64());
    const auto signature = SesRequest::signRequestWithDateString(u"what do ya want for nothing?"_s, u"Jefe"_s);
    QCOMPARE(signature, expected);
    QCOMPARE(signature->size(), 44);
    QCOMPARE(SesRequest::signRequestWithDateString(std::nullopt, u"Jefe"_s), std::nullopt);
    QCOMPARE(SesRequest::signRequestWithDateString(u"date"_s, std::nullopt), std::nullopt);
    QCOMPARE(SesRequest::authorizationValue(u"AK"_s, u"c2ln"_s),
             u"AWS3-HTTPS AWSAccessKeyId=AK, Algorithm=HmacSHA256, Signature=c2ln"_s);
}

void TestSesRequest::endpoint_data()
{
    QTest::addColumn<QString>("region");
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("url");
    QTest::newRow("defaults") << u"us-east-1"_s << QString() << u"https://email.us-east-1.amazonaws.com"_s
                              << u"https://email.us-east-1.amazonaws.com/"_s;
    QTest::newRow("region") << u"eu-west-1"_s << QString() << u"https://email.eu-west-1.amazonaws.com"_s
                            << u"https://email.eu-west-1.amazonaws.com/"_s;
    QTest::newRow("endpoint wins") << u"eu-west-1"_s << u"http://127.0.0.1:8025"_s << u"http://127.0.0.1:8025"_s
                                   << u"http://127.0.0.1:8025/"_s;
    QTest::newRow("endpoint with a path") << u"us-east-1"_s << u"https://ses.example.net/v1/"_s
                                          << u"https://ses.example.net/v1/"_s << u"https://ses.example.net/v1/"_s;
}

void TestSesRequest::endpoint()
{
    QFETCH(QString, region);
    QFETCH(QString, endpoint);
    QFETCH(QString, domain);
    QFETCH(QString, url);
    AccountSettings settings;
    settings.region = region;
    settings.endpoint = endpoint;
    QCOMPARE(SesRequest::awsDomain(settings), domain);
    QCOMPARE(settings.requestUrl().toString(), url);
    QCOMPARE(AccountSettings().endpointInUse(), u"https://email.us-east-1.amazonaws.com"_s);
}

void TestSesRequest::requestShapes_data()
{
    using V = AccountSettings::SignatureVersion;
    QTest::addColumn<V>("version");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("parameter");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArrayList>("headers");

    const QByteArray v3 = "&AWSAccessKeyId=AKIDEXAMPLE&SignatureVersion=2&SignatureMethod=HmacSHA256&Version=2010-12-01";
    const QByteArrayList v3Headers{"Content-Length", "Content-Type", "Date", "X-Amzn-Authorization"};
    const QByteArrayList v4Headers{"Content-Length", "Content-Type", "Host", "X-Amz-Date", "Authorization"};
    QTest::newRow("v3 quota") << V::V3 << u"GetSendQuota"_s << QString() << QString()
                              << "Action=GetSendQuota" + v3 << v3Headers;
    QTest::newRow("v3 statistics") << V::V3 << u"GetSendStatistics"_s << QString() << QString()
                                   << "Action=GetSendStatistics" + v3 << v3Headers;
    QTest::newRow("v3 verify") << V::V3 << u"VerifyEmailAddress"_s << u"EmailAddress"_s << u"a+b@x.com"_s
                               << "Action=VerifyEmailAddress" + v3 + "&EmailAddress=a%2Bb%40x.com" << v3Headers;
    QTest::newRow("v3 body is 7-bit") << V::V3 << u"VerifyEmailAddress"_s << u"EmailAddress"_s
                                      << u"j\u00f6rg@x.com"_s
                                      << "Action=VerifyEmailAddress" + v3 + "&EmailAddress=j?rg%40x.com" << v3Headers;
    QTest::newRow("v4 quota") << V::V4 << u"GetSendQuota"_s << QString() << QString()
                              << QByteArray("Action=GetSendQuota&Version=2010-12-01") << v4Headers;
    QTest::newRow("v4 statistics") << V::V4 << u"GetSendStatistics"_s << QString() << QString()
                                   << QByteArray("Action=GetSendStatistics&Version=2010-12-01") << v4Headers;
    QTest::newRow("v4 verify") << V::V4 << u"VerifyEmailAddress"_s << u"EmailAddress"_s << u"a+b c@x.com"_s
                               << QByteArray("Action=VerifyEmailAddress&Version=2010-12-01"
                                             "&EmailAddress=a%2Bb%20c%40x.com")
                               << v4Headers;
    QTest::newRow("v4 UTF-8 values") << V::V4 << u"VerifyEmailAddress"_s << u"EmailAddress"_s
                                     << u"j\u00f6rg@x.com"_s
                                     << QByteArray("Action=VerifyEmailAddress&Version=2010-12-01"
                                                   "&EmailAddress=j%C3%B6rg%40x.com")
                                     << v4Headers;
}

void TestSesRequest::requestShapes()
{
    QFETCH(AccountSettings::SignatureVersion, version);
    QFETCH(QString, action);
    QFETCH(QString, parameter);
    QFETCH(QString, value);
    QFETCH(QByteArray, body);
    QFETCH(QByteArrayList, headers);

    QList<SesRequest::Parameter> parameters;
    if (!parameter.isEmpty())
        parameters.append({parameter, value});
    const SesRequest::Request request = SesRequest::build(settingsFor(version), action, parameters, RequestTime);
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.url.toString(), u"https://email.us-east-1.amazonaws.com/"_s);
    QCOMPARE(request.body, body);
    QByteArrayList names;
    for (const auto &header : request.headers)
        names.append(header.first);
    QCOMPARE(names, headers);
    QCOMPARE(request.header("Content-Length"), QByteArray::number(body.size()));
    if (version == AccountSettings::SignatureVersion::V3) {
        QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        QCOMPARE(request.header("Date"), QByteArray("Sat, 05 Dec 2026 16:23:40 +0000"));
        QVERIFY(request.header("X-Amzn-Authorization").startsWith("AWS3-HTTPS AWSAccessKeyId=AKIDEXAMPLE, "));
    } else {
        QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded; charset=utf-8"));
        QCOMPARE(request.header("Host"), QByteArray("email.us-east-1.amazonaws.com"));
        QCOMPARE(request.header("X-Amz-Date"), QByteArray("20261205T162340Z"));
        QVERIFY(request.header("Authorization")
                    .startsWith("AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20261205/us-east-1/ses/aws4_request, "
                                "SignedHeaders=content-type;host;x-amz-date, Signature="));
    }
}

void TestSesRequest::legacyRequestSignsItsDateHeader()
{
    const AccountSettings settings = settingsFor(AccountSettings::SignatureVersion::V3);
    const SesRequest::Request request = SesRequest::build(settings, u"GetSendQuota"_s, {}, RequestTime);
    const QString date = QString::fromLatin1(request.header("Date"));
    const QByteArray expected = SesRequest::signRequestWithDateString(date, settings.secretKey)->toLatin1();
    QCOMPARE(signatureOf(request.header("X-Amzn-Authorization")), expected);

    // A missing secret still sends, with an empty signature field and the key as empty text.
    AccountSettings bare;
    bare.signatureVersion = AccountSettings::SignatureVersion::V3;
    const SesRequest::Request unsigned_ = SesRequest::build(bare, u"GetSendQuota"_s, {}, RequestTime);
    QCOMPARE(unsigned_.header("X-Amzn-Authorization"),
             QByteArray("AWS3-HTTPS AWSAccessKeyId=, Algorithm=HmacSHA256, Signature="));
    QVERIFY(unsigned_.body.startsWith("Action=GetSendQuota&AWSAccessKeyId=&"));
}

void TestSesRequest::hostHeader_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QByteArray>("host");
    QTest::newRow("scheme's port left out") << u"https://Email.EU-West-1.amazonaws.com:443"_s
                                            << QByteArray("email.eu-west-1.amazonaws.com");
    QTest::newRow("other port written") << u"http://127.0.0.1:8025"_s << QByteArray("127.0.0.1:8025");
    QTest::newRow("IPv6") << u"http://[::1]:8025/"_s << QByteArray("[::1]:8025");
}

void TestSesRequest::hostHeader()
{
    QFETCH(QString, endpoint);
    QFETCH(QByteArray, host);
    AccountSettings settings = settingsFor(AccountSettings::SignatureVersion::V4);
    settings.endpoint = endpoint;
    QCOMPARE(SesRequest::build(settings, u"GetSendQuota"_s, {}, RequestTime).header("Host"), host);
}

void TestSesRequest::publishedSigV4Vectors()
{
    const QByteArray secret = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";
    const QDateTime time(QDate(2015, 8, 30), QTime(12, 36, 0), Qt::UTC);

    // The test suite's get-vanilla case.
    const SigV4::Signed vanilla =
        SigV4::sign("GET", "/", {}, {{"Host", "example.amazonaws.com"}, {"X-Amz-Date", "20150830T123600Z"}}, {},
                    "AKIDEXAMPLE", secret, "us-east-1", "service", time);
    QCOMPARE(vanilla.canonicalRequest, QByteArray("GET\n/\n\nhost:example.amazonaws.com\nx-amz-date:20150830T123600Z\n"
                                                  "\nhost;x-amz-date\n"
                                                  "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    QCOMPARE(vanilla.stringToSign, QByteArray("AWS4-HMAC-SHA256\n20150830T123600Z\n"
                                              "20150830/us-east-1/service/aws4_request\n"
                                              "bb579772317eb040ac9ed261061d46c1f17a8133879d6129b6e1c25292927e63"));
    QCOMPARE(vanilla.authorization,
             QByteArray("AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/service/aws4_request, "
                        "SignedHeaders=host;x-amz-date, "
                        "Signature=5fa00fa31553b73ebf1942676e86291e8372ff2a2260956d9b8aae1d763fbf31"));

    // The documented IAM ListUsers example.
    const SigV4::Signed listUsers = SigV4::sign(
        "GET", "/", {{"Version", "2010-05-08"}, {"Action", "ListUsers"}},
        {{"Host", "iam.amazonaws.com"},
         {"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"},
         {"X-Amz-Date", "20150830T123600Z"}},
        {}, "AKIDEXAMPLE", secret, "us-east-1", "iam", time);
    QVERIFY(listUsers.canonicalRequest.contains("\nAction=ListUsers&Version=2010-05-08\n"));
    QCOMPARE(SigV4::sha256Hex(listUsers.canonicalRequest),
             QByteArray("f536975d06c0309214f805bb90ccff089219ecd68b2577efef23edd43b7e1a59"));
    QCOMPARE(SigV4::signingKey(secret, "20150830", "us-east-1", "iam").toHex(),
             QByteArray("c4afb1cc5771d871763a393e44b703571b55cc28424d1a5e86da6ed3c154a4b9"));
    QCOMPARE(listUsers.signature, QByteArray("5d672d79c15b13162d9279b0855cfba6789a8edb4c82c400e06b5924a6f2b5d7"));
    QCOMPARE(listUsers.signedHeaders, QByteArray("content-type;host;x-amz-date"));

    // The documented derived-key example.
    QCOMPARE(SigV4::signingKey(secret, "20120215", "us-east-1", "iam").toHex(),
             QByteArray("f4780e2d9f65fa895f9c67b32ce1baf0b0d8a43505a000a1a9e090d414db404d"));
}

void TestSesRequest::sigV4AgreesWithReferenceForRandomInputs()
{
    if (pythonInterpreter().isEmpty())
        QSKIP("python3 is not installed");
    QRandomGenerator random(20261205);
    const auto randomText = [&random](int length, QStringView alphabet) {
        QString text;
        for (int i = 0; i < length; ++i)
            text += alphabet.at(random.bounded(int(alphabet.size())));
        return text;
    };
    const QString keyAlphabet = u"ABCDEFGHIJKLMNOPQRSTUVWXYZ234567"_s;
    const QString secretAlphabet = u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+/"_s;
    const QString valueAlphabet = u"abcXYZ019 +/=&%@.-_~!*'()\u00e9\u00df\u4e2d\U0001F600"_s;
    const QStringList regions = AccountSettings::sesRegions();
    const QStringList endpoints{QString(), u"http://127.0.0.1:8025"_s, u"https://ses.example.net/api/v2"_s};
    const QStringList actions{u"GetSendQuota"_s, u"GetSendStatistics"_s, u"VerifyEmailAddress"_s,
                              u"SendRawEmail"_s};

    for (int round = 0; round < 24; ++round) {
        AccountSettings settings;
        settings.accessKey = u"AKIA"_s + randomText(16, keyAlphabet);
        settings.secretKey = randomText(40, secretAlphabet);
        settings.region = regions.at(random.bounded(int(regions.size())));
        settings.endpoint = endpoints.at(round % endpoints.size());
        const QString action = actions.at(round % actions.size());
        QList<SesRequest::Parameter> parameters;
        if (action == u"VerifyEmailAddress")
            parameters = {{u"EmailAddress"_s, randomText(12, valueAlphabet) + u"@example.com"_s}};
        if (action == u"SendRawEmail")
            parameters = {{u"Destinations.member.1"_s, randomText(8, valueAlphabet)},
                          {u"RawMessage.Data"_s, randomText(300, secretAlphabet + u'=')}};
        const QDateTime time =
            QDateTime::fromSecsSinceEpoch(qint64(random.bounded(1600000000u, 2100000000u)), Qt::UTC);

        const SesRequest::Request request = SesRequest::build(settings, action, parameters, time);
        const auto reference = referenceSigV4Signature(recorded(request), settings.secretKey->toUtf8(),
                                                       settings.region.toUtf8(), "ses");
        QVERIFY(reference);
        QCOMPARE(signatureOf(request.header("Authorization")), *reference);
    }
}

QTEST_GUILESS_MAIN(TestSesRequest)
#include "tst_sesrequest.moc"

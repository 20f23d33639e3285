// The request pieces: escaping, dates, endpoint and Host, both signing schemes (Signature
// Version 4 against published vectors and, for random inputs, a signer in Python).

#include "FakeSesServer.h"
#include "SesRequest.h"

#include <QRandomGenerator>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

class TestSesRequest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void urlencode_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("Base64: exactly + / =") << u"ab+c/d=="_s << u"ab%2Bc%2Fd%3D%3D"_s;
        QTest::newRow("nothing to escape")
            << u"Plain text-._~ 100% \u00e9\t"_s << u"Plain text-._~ 100% \u00e9\t"_s;
        QTest::newRow("all eighteen in table order")
            << u";/?:@&=+$,[]#!'()*"_s << u"%3B%2F%3F%3A%40%26%3D%2B%24%2C%5B%5D%23%21%27%28%29%2A"_s;
        QTest::newRow("escapes are not escaped again") << u"%3B;"_s << u"%3B%3B"_s;
    }

    void urlencode()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(SesRequest::urlencode(text), expected);
    }

    void dateTexts_data()
    {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QByteArray>("amzDate");
        QTest::newRow("example") << QDateTime(QDate(2026, 12, 5), QTime(16, 23, 40), Qt::UTC)
                                 << u"Sat, 05 Dec 2026 16:23:40 +0000"_s << QByteArray("20261205T162340Z");
        QTest::newRow("local time written as UTC")
            << QDateTime(QDate(2026, 12, 31), QTime(23, 30, 0), Qt::OffsetFromUTC, -3 * 3600)
            << u"Fri, 01 Jan 2027 02:30:00 +0000"_s << QByteArray("20270101T023000Z");
    }

    void dateTexts()
    {
        QFETCH(QDateTime, time);
        QFETCH(QString, date);
        QFETCH(QByteArray, amzDate);
        const QLocale previous;
        QLocale::setDefault(
            QLocale(QLocale::German, QLocale::Germany)); // English names whatever the language
        const QString text = SesRequest::dateStringForHeader(time);
        QLocale::setDefault(previous);
        QCOMPARE(text, date);
        QCOMPARE(SigV4::amzDate(time), amzDate);
    }

    void legacySignature()
    {
        // RFC 4231, test case 2.
        const QString expected = QString::fromLatin1(
            QByteArray::fromHex("5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843")
                .toBase64());
        QCOMPARE(SesRequest::signRequestWithDateString(u"what do ya want for nothing?"_s, u"Jefe"_s),
                 expected);
        QCOMPARE(SesRequest::signRequestWithDateString(std::nullopt, u"Jefe"_s), std::nullopt);
        QCOMPARE(SesRequest::signRequestWithDateString(u"date"_s, std::nullopt), std::nullopt);
        QCOMPARE(SesRequest::authorizationValue(u"AK"_s, u"c2ln"_s),
                 u"AWS3-HTTPS AWSAccessKeyId=AK, Algorithm=HmacSHA256, Signature=c2ln"_s);

        // Without keys it still sends, the key as empty text and the signature field empty.
        AccountSettings bare;
        bare.signatureVersion = AccountSettings::SignatureVersion::V3;
        const SesRequest::Request request = SesRequest::build(bare, u"GetSendQuota"_s, {});
        QCOMPARE(request.header("X-Amzn-Authorization"),
                 QByteArray("AWS3-HTTPS AWSAccessKeyId=, Algorithm=HmacSHA256, Signature="));
        QVERIFY(request.body.startsWith("Action=GetSendQuota&AWSAccessKeyId=&"));
    }

    void endpointAndHost_data()
    {
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QByteArray>("host");
        QTest::newRow("defaults") << QString() << QString() << u"https://email.us-east-1.amazonaws.com/"_s
                                  << QByteArray("email.us-east-1.amazonaws.com");
        QTest::newRow("region") << u"eu-west-1"_s << QString() << u"https://email.eu-west-1.amazonaws.com/"_s
                                << QByteArray("email.eu-west-1.amazonaws.com");
        QTest::newRow("scheme's port left out")
            << QString() << u"https://Email.EU-West-1.amazonaws.com:443"_s
            << u"https://email.eu-west-1.amazonaws.com:443/"_s << QByteArray("email.eu-west-1.amazonaws.com");
        QTest::newRow("IPv6") << QString() << u"http://[::1]:8025/"_s << u"http://[::1]:8025/"_s
                              << QByteArray("[::1]:8025");
    }

    void endpointAndHost()
    {
        QFETCH(QString, region);
        QFETCH(QString, endpoint);
        QFETCH(QString, url);
        QFETCH(QByteArray, host);
        AccountSettings settings;
        if (!region.isNull())
            settings.region = region;
        settings.endpoint = endpoint;
        QCOMPARE(SesRequest::awsDomain(settings), endpoint.isEmpty() ? url.chopped(1) : endpoint);
        QCOMPARE(settings.requestUrl().toString(), url);
        QCOMPARE(SesRequest::build(settings, u"GetSendQuota"_s, {}).header("Host"), host);
    }

    void publishedSigV4Vectors()
    {
        const QByteArray secret = "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY";
        const QDateTime time(QDate(2015, 8, 30), QTime(12, 36, 0), Qt::UTC);

        // The test suite's get-vanilla case.
        const SigV4::Signed vanilla = SigV4::sign(
            "GET", "/", {}, {{"Host", "example.amazonaws.com"}, {"X-Amz-Date", "20150830T123600Z"}}, {},
            "AKIDEXAMPLE", secret, "us-east-1", "service", time);
        QCOMPARE(
            vanilla.authorization,
            QByteArray("AWS4-HMAC-SHA256 Credential=AKIDEXAMPLE/20150830/us-east-1/service/aws4_request, "
                       "SignedHeaders=host;x-amz-date, "
                       "Signature=5fa00fa31553b73ebf1942676e86291e8372ff2a2260956d9b8aae1d763fbf31"));

        // The documented IAM ListUsers example.
        const SigV4::Signed listUsers =
            SigV4::sign("GET", "/", {{"Version", "2010-05-08"}, {"Action", "ListUsers"}},
                        {{"Host", "iam.amazonaws.com"},
                         {"Content-Type", "application/x-www-form-urlencoded; charset=utf-8"},
                         {"X-Amz-Date", "20150830T123600Z"}},
                        {}, "AKIDEXAMPLE", secret, "us-east-1", "iam", time);
        QCOMPARE(SigV4::sha256Hex(listUsers.canonicalRequest),
                 QByteArray("f536975d06c0309214f805bb90ccff089219ecd68b2577efef23edd43b7e1a59"));
        QCOMPARE(listUsers.signature,
                 QByteArray("5d672d79c15b13162d9279b0855cfba6789a8edb4c82c400e06b5924a6f2b5d7"));

        // The documented derived-key example.
        QCOMPARE(SigV4::signingKey(secret, "20120215", "us-east-1", "iam").toHex(),
                 QByteArray("f4780e2d9f65fa895f9c67b32ce1baf0b0d8a43505a000a1a9e090d414db404d"));
    }

    void sigV4AgreesWithReferenceForRandomInputs()
    {
        if (pythonInterpreter().isEmpty())
            QSKIP("python3 is not installed");
        QRandomGenerator random(20261205);
        const QString alphabet = u"abcXYZ019 +/=&%@.-_~!*'()\u00e9\u00df\u4e2d\U0001F600"_s;
        const auto randomText = [&](int length) {
            QString text;
            while (text.size() < length)
                text += alphabet.at(random.bounded(int(alphabet.size())));
            return text;
        };
        const QStringList regions = AccountSettings::sesRegions();
        const QStringList endpoints{QString(), u"http://127.0.0.1:8025"_s,
                                    u"https://ses.example.net/api/v2"_s};
        for (int round = 0; round < 24; ++round) {
            AccountSettings settings;
            settings.accessKey = u"AKIA"_s + QString::number(random.generate());
            settings.secretKey = randomText(40);
            settings.region = regions.at(random.bounded(int(regions.size())));
            settings.endpoint = endpoints.at(round % endpoints.size());
            QList<SesRequest::Parameter> parameters;
            for (int n = random.bounded(3); n > 0; --n)
                parameters.append({u"Destinations.member.%1"_s.arg(n), randomText(random.bounded(300))});
            const QDateTime time =
                QDateTime::fromSecsSinceEpoch(qint64(random.bounded(1600000000u, 2100000000u)), Qt::UTC);
            const SesRequest::Request request =
                SesRequest::build(settings, u"SendRawEmail"_s, parameters, time);
            const QByteArray authorization = request.header("Authorization");
            const RecordedRequest sent{request.method, request.url.path(QUrl::FullyEncoded).toLatin1(),
                                       request.headers, request.body};
            QCOMPARE(
                referenceSigV4Signature(sent, settings.secretKey->toUtf8(), settings.region.toUtf8(), "ses"),
                authorization.mid(authorization.indexOf("Signature=") + 10));
        }
    }
};

QTEST_GUILESS_MAIN(TestSesRequest)
#include "tst_sesrequest.moc"

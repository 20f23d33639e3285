// The account operations against the stand-in service: what goes over the wire under both
// signing schemes, what reaches the host for each kind of answer, and logs free of secrets.

#include "AccountOperations.h"
#include "BriskoConnector.h"
#include "FakeSesServer.h"
#include "FennimarUserDefaults.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

Q_DECLARE_METATYPE(AccountSettings::SignatureVersion)

namespace {

const QString AccessKey = u"AKIDTESTKEY000000001"_s;
const QString SecretKey = u"Zx9/Secret+Key/ForTests0000000000000000"_s;
const QString Region = u"eu-west-1"_s;

const QString Address = u"j\u00f6rg+news x@example.com"_s;

// Writes down what the host hears, one line per call but the last (requestEnded).
class RecordingHost : public MailHost
{
public:
    void setMax24Send(const std::optional<QString> &max24, const std::optional<QString> &maxRate,
                      const std::optional<QString> &sentLast24) override
    {
        heard.append(u"quota "_s + text(max24) + u' ' + text(maxRate) + u' ' + text(sentLast24));
    }
    void statisticsResponse(const QString &answer) override { heard.append(u"statistics "_s + answer); }
    void showLoginFailure(const QString &heading, const std::optional<QString> &message) override
    {
        heard.append(u"login "_s + heading + u" / "_s + text(message));
    }
    void verificationResponse(const QString &address, const std::optional<QString> &answer) override
    {
        heard.append(u"verified "_s + address + u' ' + text(answer));
    }
    void requestEnded(const RequestOutcome &outcome) override { ended.append(outcome); }
    static QString text(const std::optional<QString> &value) { return value.value_or(u"(none)"_s); }

    QStringList heard;
    QList<RequestOutcome> ended;
};

void store(QStringView key, const QString &value)
{
    FennimarUserDefaults::setObject(value, key.toString());
}

QStringList g_log;

enum class Operation { Quota, Statistics, Validate, Verify };

bool startOperation(Operation operation)
{
    BriskoConnector connector;
    return operation == Operation::Quota        ? connector.getAccountSendQuota()
           : operation == Operation::Statistics ? connector.getAccountStatistics()
           : operation == Operation::Validate   ? connector.validateLogin()
                                                : connector.verifyEmailAddress(Address);
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestAccountOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.listen()); }

    void init()
    {
        m_server.clear();
        AccountSettings::setOverrides({});
        store(AccountSettings::AccessKeyKey, AccessKey);
        store(AccountSettings::SecretKeyKey, SecretKey);
        store(AccountSettings::RegionKey, Region);
        store(AccountSettings::EndpointKey, m_server.endpoint());
        store(AccountSettings::SignatureVersionKey, u"v4"_s);
        m_host = RecordingHost();
        MailHost::setShared(&m_host);
        AccountOperations::setRequestTimeout(5000);
    }

    void cleanup() { MailHost::setShared(nullptr); }

    void requestsOnTheWire_data()
    {
        using V = AccountSettings::SignatureVersion;
        QTest::addColumn<V>("version");
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<QByteArray>("body");

        // The legacy body is 7-bit: "?" for anything else; blanks pass as they are.
        const QByteArray v3 = "&AWSAccessKeyId=" + AccessKey.toLatin1() +
                              "&SignatureVersion=2&SignatureMethod=HmacSHA256&Version=2010-12-01";
        QTest::newRow("v3 quota") << V::V3 << Operation::Quota << "Action=GetSendQuota" + v3;
        QTest::newRow("v3 statistics") << V::V3 << Operation::Statistics << "Action=GetSendStatistics" + v3;
        QTest::newRow("v3 verify") << V::V3 << Operation::Verify
                                   << "Action=VerifyEmailAddress" + v3 +
                                          "&EmailAddress=j?rg%2Bnews x%40example.com";
        const QByteArray v4 = "&Version=2010-12-01";
        QTest::newRow("v4 quota") << V::V4 << Operation::Quota << "Action=GetSendQuota" + v4;
        QTest::newRow("v4 statistics") << V::V4 << Operation::Statistics << "Action=GetSendStatistics" + v4;
        QTest::newRow("v4 login check") << V::V4 << Operation::Validate << "Action=GetSendQuota" + v4;
        QTest::newRow("v4 verify") << V::V4 << Operation::Verify
                                   << "Action=VerifyEmailAddress" + v4 +
                                          "&EmailAddress=j%C3%B6rg%2Bnews%20x%40example.com";
    }

    // Also: no log line holds the secret key, the signing key or the authorization value.
    void requestsOnTheWire()
    {
        QFETCH(AccountSettings::SignatureVersion, version);
        QFETCH(Operation, operation);
        QFETCH(QByteArray, body);
        store(AccountSettings::SignatureVersionKey, AccountSettings::signatureVersionName(version));
        // Refused, so that the login check logs the refusal too.
        m_server.setAnswer({403, FakeSesServer::errorDocument(u"SignatureDoesNotMatch"_s, u"Nope."_s)});
        g_log.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &message) { g_log.append(message); });
        QVERIFY(startOperation(operation));
        QTRY_COMPARE(m_host.ended.size(), 1);
        qInstallMessageHandler(previous);
        QCOMPARE(m_server.requests().size(), 1);
        const RecordedRequest request = m_server.requests().first();
        QCOMPARE(request.method + ' ' + request.path, QByteArray("POST /"));
        QCOMPARE(request.body, body);

        const bool legacy = version == AccountSettings::SignatureVersion::V3;
        const QByteArrayList ours =
            legacy ? QByteArrayList{"Content-Length", "Content-Type", "Date", "X-Amzn-Authorization"}
                   : QByteArrayList{"Content-Length", "Content-Type", "Host", "X-Amz-Date", "Authorization"};
        QByteArrayList sent;
        for (const auto &[name, value] : request.headers) {
            if (ours.contains(name))
                sent.append(name);
        }
        QCOMPARE(sent, ours); // each once, in this order
        QCOMPARE(request.header("Content-Length"), QByteArray::number(body.size()));

        const QByteArray authorization = request.header(ours.last());
        const QByteArray signature = authorization.mid(authorization.indexOf("Signature=") + 10);
        const QByteArray key = SigV4::signingKey(SecretKey.toUtf8(), request.header("X-Amz-Date").left(8),
                                                 Region.toUtf8(), "ses");
        QVERIFY(!g_log.isEmpty());
        for (const QString &line : std::as_const(g_log)) {
            for (const QByteArray &secret :
                 {SecretKey.toLatin1(), authorization, signature, key.toHex(), key.toBase64()})
                QVERIFY(!line.contains(QString::fromLatin1(secret)));
        }

        if (legacy) {
            QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
            const QString date = QString::fromLatin1(request.header("Date"));
            QVERIFY(date.endsWith(u" +0000"_s));
            QCOMPARE(authorization, SesRequest::authorizationValue(
                                        AccessKey, SesRequest::signRequestWithDateString(date, SecretKey))
                                        .toLatin1());
            return;
        }
        QCOMPARE(request.header("Content-Type"),
                 QByteArray("application/x-www-form-urlencoded; charset=utf-8"));
        QCOMPARE(request.header("Host"), "127.0.0.1:" + QByteArray::number(m_server.port()));
        QVERIFY(authorization.startsWith("AWS4-HMAC-SHA256 Credential=" + AccessKey.toLatin1() + '/'));
        QVERIFY(authorization.contains(
            "/eu-west-1/ses/aws4_request, SignedHeaders=content-type;host;x-amz-date, "));
        if (pythonInterpreter().isEmpty())
            QSKIP("python3 is not installed");
        QCOMPARE(referenceSigV4Signature(request, SecretKey.toUtf8(), Region.toUtf8(), "ses"), signature);
    }

    void answersReachTheHost_data()
    {
        QTest::addColumn<Operation>("operation");
        QTest::addColumn<CannedAnswer>("answer"); // status 0: the connection is refused
        QTest::addColumn<bool>("answered");
        QTest::addColumn<QString>("heard");
        using O = Operation;
        const QByteArray quota = FakeSesServer::quotaDocument(u"50000.0"_s, u"14.0"_s, u"127.0"_s);
        const QString good = u"quota 50000.0 14.0 127.0"_s;
        const QString none = u"quota (none) (none) (none)"_s;
        const QByteArray refused =
            FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"The token is invalid."_s);
        const QString login = u"login Please check your Amazon AWS login details. / "_s;
        const QByteArray statistics = FakeSesServer::statisticsDocument(
            {{8, u"2011-08-03T19:23:00Z"_s, 0, 1, 0}, {3, u"2011-08-03T19:38:00Z"_s, 1, 0, 2}});

        QTest::newRow("quota whole") << O::Quota << CannedAnswer{200, quota} << true << good;
        // The timeout counts from the last byte, not from the start.
        QTest::newRow("quota slow within the timeout")
            << O::Quota << CannedAnswer{200, quota, 4, 200} << true << good;
        QTest::newRow("quota error document") << O::Quota << CannedAnswer{403, refused} << true << none;
        QTest::newRow("quota stalls halfway")
            << O::Quota << CannedAnswer{200, quota, 1, 0, 0, false, true} << false << QString();
        QTest::newRow("quota refused") << O::Quota << CannedAnswer{0, {}} << false << QString();
        QTest::newRow("login good keys") << O::Validate << CannedAnswer{200, quota} << true << QString();
        QTest::newRow("login refused")
            << O::Validate << CannedAnswer{403, refused} << true << login + u"The token is invalid."_s;
        QTest::newRow("login error without message")
            << O::Validate << CannedAnswer{400, FakeSesServer::errorDocument(u"Throttling"_s, std::nullopt)}
            << true << login + u"(none)"_s;
        QTest::newRow("login HTTP error, no document")
            << O::Validate << CannedAnswer{500, "Oops"} << true << QString();
        QTest::newRow("statistics chunked") << O::Statistics << CannedAnswer{200, statistics, 7, 10, 0, true}
                                            << true << u"statistics "_s + QString::fromUtf8(statistics);
        QTest::newRow("verify silent")
            << O::Verify << CannedAnswer{200, FakeSesServer::verifyDocument(), 1, 0, 3000} << false
            << u"verified "_s + Address + u" (none)"_s;
    }

    void answersReachTheHost()
    {
        QFETCH(Operation, operation);
        QFETCH(CannedAnswer, answer);
        QFETCH(bool, answered);
        QFETCH(QString, heard);
        AccountOperations::setRequestTimeout(600);
        m_server.setAnswer(answer);
        if (answer.status == 0)
            store(AccountSettings::EndpointKey, FakeSesServer::refusingEndpoint());
        QVERIFY(startOperation(operation));
        QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 1, 5000);
        QCOMPARE(m_host.heard.join(u'\n'), heard);
        QCOMPARE(m_host.ended.first().answer,
                 answered ? std::optional(QString::fromUtf8(answer.body)) : std::nullopt);
        QCOMPARE(m_host.ended.first().failure.isEmpty(), answered);
    }

    void oneVerificationPerAddress()
    {
        const QString answer = QString::fromUtf8(FakeSesServer::verifyDocument());
        m_server.setAnswer({200, answer.toUtf8(), 1, 0, 150}); // slow: the three are out at once
        const QStringList addresses{u"a@x.com"_s, u"b+tag@x.com"_s, u"c@x.com"_s};
        BriskoConnector connector; // one connector serves all
        for (const QString &address : addresses)
            QVERIFY(connector.verifyEmailAddress(address));
        QTRY_COMPARE(m_host.ended.size(), 3);
        QStringList asked;
        for (const RecordedRequest &request : m_server.requests())
            asked.append(request.action() + u' ' + request.form().value(u"EmailAddress"_s));
        asked.sort();
        m_host.heard.sort();
        for (qsizetype i = 0; i < addresses.size(); ++i) {
            QCOMPARE(asked.at(i), u"VerifyEmailAddress "_s + addresses.at(i));
            QCOMPARE(m_host.heard.at(i), u"verified "_s + addresses.at(i) + u' ' + answer);
        }
    }

    // An answer that trickles past the time limit, or never ends, is given up: in time, and
    // without holding more than the largest answer read.
    void hostileAnswersAreBounded_data()
    {
        QTest::addColumn<CannedAnswer>("answer");
        QTest::addColumn<QString>("failure");
        QTest::newRow("trickle") << CannedAnswer{200, FakeSesServer::quotaDocument(u"1"_s, u"1"_s, u"0"_s), 40, 50}
                                 << u"within 1.6 seconds"_s;
        CannedAnswer endless{200, {}};
        endless.endless = true;
        QTest::newRow("endless") << endless << u"longer than 1 MB"_s;
    }
    void hostileAnswersAreBounded()
    {
        QFETCH(CannedAnswer, answer);
        QFETCH(QString, failure);
        AccountOperations::setRequestTimeout(400);
        m_server.setAnswer(answer);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(AccountOperations::getAccountSendQuota());
        QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 1, 5000);
        QVERIFY(clock.elapsed() < 1900);
        QCOMPARE(m_host.ended.first().answer, std::nullopt);
        QVERIFY2(m_host.ended.first().failure.contains(failure), qPrintable(m_host.ended.first().failure));
    }

private:
    FakeSesServer m_server;
    RecordingHost m_host;
};

QTEST_GUILESS_MAIN(TestAccountOperations)
#include "tst_accountoperations.moc"

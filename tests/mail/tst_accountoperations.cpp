// The account operations against the stand-in service: what goes over the wire under both
// signing schemes, what reaches the host for each kind of answer, the credential tests,
// timeouts, the statistics page, the settings' overrides, and logs free of secrets.

#include "AccountOperations.h"
#include "BriskoConnector.h"
#include "FakeSesServer.h"
#include "FennimarUserDefaults.h"

#include <QSettings>
#include <QTcpServer>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

Q_DECLARE_METATYPE(AccountSettings::SignatureVersion)

namespace {

const QString AccessKey = u"AKIDTESTKEY000000001"_s;
const QString SecretKey = u"Zx9/Secret+Key/ForTests0000000000000000"_s;
const QString Region = u"eu-west-1"_s;

using Quota = std::tuple<std::optional<QString>, std::optional<QString>, std::optional<QString>>;

class RecordingHost : public MailHost
{
public:
    void setMax24Send(const std::optional<QString> &max24, const std::optional<QString> &maxRate,
                      const std::optional<QString> &sentLast24) override
    {
        quotas.append({max24, maxRate, sentLast24});
    }
    void statisticsResponse(const QString &text) override { statistics.append(text); }
    void showLoginFailure(const QString &heading, const std::optional<QString> &message) override
    {
        loginFailures.append({heading, message});
    }
    void verificationResponse(const QString &address, const std::optional<QString> &answer) override
    {
        verifications.append({address, answer});
    }
    void requestEnded(const RequestOutcome &outcome) override { ended.append(outcome); }

    QList<Quota> quotas;
    QStringList statistics;
    QList<std::pair<QString, std::optional<QString>>> loginFailures;
    QList<std::pair<QString, std::optional<QString>>> verifications;
    QList<RequestOutcome> ended;
};

void store(QStringView key, const std::optional<QString> &value)
{
    if (value) {
        FennimarUserDefaults::setObject(*value, key.toString());
    } else {
        const auto settings = FennimarUserDefaults::settings();
        settings->remove(key.toString());
    }
}

QStringList g_log;

void captureLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    g_log.append(message);
}

enum class Operation { Quota, Statistics, Validate, Verify };

bool startOperation(Operation operation)
{
    BriskoConnector connector;
    switch (operation) {
    case Operation::Quota: return connector.getAccountSendQuota();
    case Operation::Statistics: return connector.getAccountStatistics();
    case Operation::Validate: return connector.validateLogin();
    case Operation::Verify: return connector.verifyEmailAddress(u"jane+news@example.com"_s);
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Operation)

class TestAccountOperations : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void requestsOnTheWire_data();
    void requestsOnTheWire();
    void quotaValuesInOrder_data();
    void quotaValuesInOrder();
    void quotaErrorGivesNone_data();
    void quotaErrorGivesNone();
    void loginCheck_data();
    void loginCheck();
    void oneVerificationPerAddress();
    void statisticsAnswerPassedWhole();
    void credentialTests_data();
    void credentialTests();
    void noAnswer_data();
    void noAnswer();
    void logsHoldNoSecrets();
    void statisticsPage_data();
    void statisticsPage();
    void settingsOverrides();

private:
    std::unique_ptr<FakeSesServer> m_server;
    RecordingHost m_host;
};

void TestAccountOperations::init()
{
    m_server = std::make_unique<FakeSesServer>();
    QVERIFY(m_server->listen());
    AccountSettings::setOverrides({});
    store(AccountSettings::AccessKeyKey, AccessKey);
    store(AccountSettings::SecretKeyKey, SecretKey);
    store(AccountSettings::RegionKey, Region);
    store(AccountSettings::EndpointKey, m_server->endpoint());
    store(AccountSettings::SignatureVersionKey, u"v4"_s);
    m_host = RecordingHost();
    MailHost::setShared(&m_host);
    AccountOperations::setRequestTimeout(5000);
}

void TestAccountOperations::cleanup()
{
    MailHost::setShared(nullptr);
    m_server.reset();
}

void TestAccountOperations::requestsOnTheWire_data()
{
    using V = AccountSettings::SignatureVersion;
    QTest::addColumn<V>("version");
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<QByteArray>("body");

    const QByteArray v3 = "&AWSAccessKeyId=" + AccessKey.toLatin1()
                          + "&SignatureVersion=2&SignatureMethod=HmacSHA256&Version=2010-12-01";
    QTest::newRow("v3 quota") << V::V3 << Operation::Quota << "Action=GetSendQuota" + v3;
    QTest::newRow("v3 statistics") << V::V3 << Operation::Statistics << "Action=GetSendStatistics" + v3;
    QTest::newRow("v3 login check") << V::V3 << Operation::Validate << "Action=GetSendQuota" + v3;
    QTest::newRow("v3 verify") << V::V3 << Operation::Verify
                               << "Action=VerifyEmailAddress" + v3 + "&EmailAddress=jane%2Bnews%40example.com";
    QTest::newRow("v4 quota") << V::V4 << Operation::Quota << QByteArray("Action=GetSendQuota&Version=2010-12-01");
    QTest::newRow("v4 statistics") << V::V4 << Operation::Statistics
                                   << QByteArray("Action=GetSendStatistics&Version=2010-12-01");
    QTest::newRow("v4 login check") << V::V4 << Operation::Validate
                                    << QByteArray("Action=GetSendQuota&Version=2010-12-01");
    QTest::newRow("v4 verify") << V::V4 << Operation::Verify
                               << QByteArray("Action=VerifyEmailAddress&Version=2010-12-01"
                                             "&EmailAddress=jane%2Bnews%40example.com");
}

void TestAccountOperations::requestsOnTheWire()
{
    QFETCH(AccountSettings::SignatureVersion, version);
    QFETCH(Operation, operation);
    QFETCH(QByteArray, body);
    store(AccountSettings::SignatureVersionKey, AccountSettings::signatureVersionName(version));

    QVERIFY(startOperation(operation));
    QTRY_COMPARE(m_host.ended.size(), 1);
    QCOMPARE(m_server->requests().size(), 1);
    const RecordedRequest request = m_server->requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/"));
    QCOMPARE(request.body, body);

    const bool legacy = version == AccountSettings::SignatureVersion::V3;
    const QByteArrayList ours = legacy
        ? QByteArrayList{"Content-Length", "Content-Type", "Date", "X-Amzn-Authorization"}
        : QByteArrayList{"Content-Length", "Content-Type", "Host", "X-Amz-Date", "Authorization"};
    QByteArrayList sent;
    for (const QByteArray &name : request.headerNames()) {
        if (std::any_of(ours.cbegin(), ours.cend(),
                        [&](const QByteArray &own) { return own.compare(name, Qt::CaseInsensitive) == 0; }))
            sent.append(name);
    }
    QCOMPARE(sent, ours); // each once, in this order
    QCOMPARE(request.header("Content-Length"), QByteArray::number(body.size()));

    if (legacy) {
        QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
        const QString date = QString::fromLatin1(request.header("Date"));
        QVERIFY(date.endsWith(u" +0000"_s));
        QCOMPARE(request.header("X-Amzn-Authorization"),
                 SesRequest::authorizationValue(AccessKey, SesRequest::signRequestWithDateString(date, SecretKey))
                     .toLatin1());
    } else {
        QCOMPARE(request.header("Content-Type"), QByteArray("application/x-www-form-urlencoded; charset=utf-8"));
        QCOMPARE(request.header("Host"), "127.0.0.1:" + QByteArray::number(m_server->port()));
        if (pythonInterpreter().isEmpty())
            QSKIP("python3 is not installed");
        const QByteArray authorization = request.header("Authorization");
        const auto reference = referenceSigV4Signature(request, SecretKey.toUtf8(), Region.toUtf8(), "ses");
        QVERIFY(reference);
        QCOMPARE(authorization.mid(authorization.indexOf("Signature=") + 10), *reference);
    }
}

void TestAccountOperations::quotaValuesInOrder_data()
{
    QTest::addColumn<CannedAnswer>("answer");
    const QByteArray document = FakeSesServer::quotaDocument(u"50000.0"_s, u"14.0"_s, u"127.0"_s);
    QTest::newRow("whole") << CannedAnswer{200, document};
    QTest::newRow("in five pieces") << CannedAnswer{200, document, 5, 30};
    QTest::newRow("chunked transfer") << CannedAnswer{200, document, 4, 20, 0, true};
}

void TestAccountOperations::quotaValuesInOrder()
{
    QFETCH(CannedAnswer, answer);
    m_server->setAnswer(answer);
    QVERIFY(AccountOperations::getAccountSendQuota());
    QTRY_COMPARE(m_host.ended.size(), 1);
    QCOMPARE(m_host.quotas, QList<Quota>({{u"50000.0"_s, u"14.0"_s, u"127.0"_s}}));
    QCOMPARE(m_host.ended.first().action, u"GetSendQuota"_s);
    QCOMPARE(m_host.ended.first().answer, QString::fromUtf8(answer.body));
}

void TestAccountOperations::quotaErrorGivesNone_data()
{
    QTest::addColumn<CannedAnswer>("answer");
    const QByteArray refused = FakeSesServer::errorDocument(u"InvalidClientTokenId"_s,
                                                            u"The security token included in the request is invalid."_s);
    QTest::newRow("403 error document") << CannedAnswer{403, refused};
    QTest::newRow("error document without message")
        << CannedAnswer{400, FakeSesServer::errorDocument(u"Throttling"_s, std::nullopt)};
    QTest::newRow("error document with status 200") << CannedAnswer{200, refused};
    QTest::newRow("empty answer") << CannedAnswer{500, QByteArray()};
}

void TestAccountOperations::quotaErrorGivesNone()
{
    QFETCH(CannedAnswer, answer);
    m_server->setAnswer(answer);
    QVERIFY(AccountOperations::getAccountSendQuota());
    QTRY_COMPARE(m_host.ended.size(), 1);
    QCOMPARE(m_host.quotas, QList<Quota>({{std::nullopt, std::nullopt, std::nullopt}}));
    QCOMPARE(m_host.ended.first().answer, QString::fromUtf8(answer.body));
    QVERIFY(m_host.loginFailures.isEmpty());
}

void TestAccountOperations::loginCheck_data()
{
    QTest::addColumn<CannedAnswer>("answer");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("message"); // null: none
    QTest::newRow("good keys: nothing shown")
        << CannedAnswer{200, FakeSesServer::quotaDocument(u"200.0"_s, u"1.0"_s, u"0.0"_s)} << false << QString();
    QTest::newRow("wrong secret: the service's message")
        << CannedAnswer{403, FakeSesServer::errorDocument(u"SignatureDoesNotMatch"_s,
                                                          u"The request signature we calculated does not match."_s)}
        << true << u"The request signature we calculated does not match."_s;
    QTest::newRow("error without message")
        << CannedAnswer{400, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, std::nullopt)} << true
        << QString();
    QTest::newRow("error in pieces")
        << CannedAnswer{403, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"Bad key."_s), 6, 15} << true
        << u"Bad key."_s;
}

void TestAccountOperations::loginCheck()
{
    QFETCH(CannedAnswer, answer);
    QFETCH(bool, shown);
    QFETCH(QString, message);
    m_server->setAnswer(answer);
    QVERIFY(AccountOperations::validateLogin());
    QTRY_COMPARE(m_host.ended.size(), 1);
    if (!shown) {
        QVERIFY(m_host.loginFailures.isEmpty());
    } else {
        QCOMPARE(m_host.loginFailures.size(), 1);
        QCOMPARE(m_host.loginFailures.first().first, u"Please check your Amazon AWS login details."_s);
        QCOMPARE(m_host.loginFailures.first().second,
                 message.isNull() ? std::nullopt : std::optional<QString>(message));
    }
    QVERIFY(m_host.quotas.isEmpty()); // the figures of a good answer are not used
}

void TestAccountOperations::oneVerificationPerAddress()
{
    m_server->setAnswer({200, FakeSesServer::verifyDocument()});
    m_server->setAnswerFor(u"VerifyEmailAddress"_s, {200, FakeSesServer::verifyDocument(), 1, 0, 150});
    const QStringList addresses{u"a@x.com"_s, u"b+tag@x.com"_s, u"c@x.com"_s};
    BriskoConnector connector; // one connector serves all
    for (const QString &address : addresses)
        QVERIFY(connector.verifyEmailAddress(address));
    QTRY_COMPARE(m_host.ended.size(), 3);
    QStringList asked;
    for (const RecordedRequest &request : m_server->requests()) {
        QCOMPARE(request.action(), u"VerifyEmailAddress"_s);
        asked.append(request.form().value(u"EmailAddress"_s));
        QVERIFY(request.body.contains("EmailAddress=" + QByteArray(request.form().value(u"EmailAddress"_s).toUtf8())
                                                            .replace("@", "%40")
                                                            .replace("+", "%2B")));
    }
    asked.sort();
    QCOMPARE(asked, addresses);
    QCOMPARE(m_host.verifications.size(), 3);
    for (const auto &[address, answer] : m_host.verifications) {
        QVERIFY(addresses.contains(address));
        QCOMPARE(answer, QString::fromUtf8(FakeSesServer::verifyDocument()));
    }
}

void TestAccountOperations::statisticsAnswerPassedWhole()
{
    const QByteArray document = FakeSesServer::statisticsDocument(
        {{8, u"2011-08-03T19:23:00Z"_s, 0, 1, 0}, {3, u"2011-08-03T19:38:00Z"_s, 1, 0, 2}});
    m_server->setAnswer({200, document, 7, 10, 0, true});
    QVERIFY(AccountOperations::getAccountStatistics());
    QTRY_COMPARE(m_host.ended.size(), 1);
    QCOMPARE(m_host.statistics, QStringList{QString::fromUtf8(document)});

    // An error document goes the same way.
    const QByteArray error = FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"No."_s);
    m_server->setAnswer({403, error});
    QVERIFY(AccountOperations::getAccountStatistics());
    QTRY_COMPARE(m_host.ended.size(), 2);
    QCOMPARE(m_host.statistics.last(), QString::fromUtf8(error));
}

void TestAccountOperations::credentialTests_data()
{
    QTest::addColumn<QString>("accessKey"); // null: not stored
    QTest::addColumn<QString>("secretKey");
    QTest::addColumn<QList<bool>>("sent"); // quota, statistics, login check, verification
    QTest::newRow("both stored") << AccessKey << SecretKey << QList<bool>{true, true, true, true};
    QTest::newRow("no secret key") << AccessKey << QString() << QList<bool>{false, false, true, true};
    QTest::newRow("no access key") << QString() << SecretKey << QList<bool>{false, true, true, true};
    QTest::newRow("nothing stored") << QString() << QString() << QList<bool>{false, false, true, true};
    QTest::newRow("empty texts count as stored") << u""_s << u""_s << QList<bool>{true, true, true, true};
}

void TestAccountOperations::credentialTests()
{
    QFETCH(QString, accessKey);
    QFETCH(QString, secretKey);
    QFETCH(QList<bool>, sent);
    store(AccountSettings::AccessKeyKey, accessKey.isNull() ? std::nullopt : std::optional<QString>(accessKey));
    store(AccountSettings::SecretKeyKey, secretKey.isNull() ? std::nullopt : std::optional<QString>(secretKey));
    const QList<Operation> operations{Operation::Quota, Operation::Statistics, Operation::Validate,
                                      Operation::Verify};
    int expected = 0;
    for (qsizetype i = 0; i < operations.size(); ++i) {
        QCOMPARE(startOperation(operations.at(i)), sent.at(i));
        expected += sent.at(i) ? 1 : 0;
    }
    QTRY_COMPARE(m_host.ended.size(), expected);
    QCOMPARE(m_server->requests().size(), expected);
}

void TestAccountOperations::noAnswer_data()
{
    QTest::addColumn<CannedAnswer>("answer");
    QTest::addColumn<bool>("refused");
    QTest::addColumn<bool>("answered");
    const QByteArray document = FakeSesServer::quotaDocument(u"200.0"_s, u"1.0"_s, u"0.0"_s);
    QTest::newRow("silent past the timeout") << CannedAnswer{200, document, 1, 0, 3000} << false << false;
    QTest::newRow("stalls in the middle") << CannedAnswer{200, document, 1, 0, 0, false, true} << false << false;
    QTest::newRow("connection refused") << CannedAnswer{} << true << false;
    QTest::newRow("slow pieces within the timeout") << CannedAnswer{200, document, 4, 200} << false << true;
}

void TestAccountOperations::noAnswer()
{
    QFETCH(CannedAnswer, answer);
    QFETCH(bool, refused);
    QFETCH(bool, answered);
    AccountOperations::setRequestTimeout(600);
    m_server->setAnswer(answer);
    if (refused) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        store(AccountSettings::EndpointKey, u"http://127.0.0.1:%1"_s.arg(closed.serverPort()));
        closed.close();
    }
    BriskoConnector connector;
    QVERIFY(connector.getAccountSendQuota());
    QVERIFY(connector.verifyEmailAddress(u"a@x.com"_s));
    QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 2, 10000);
    for (const MailHost::RequestOutcome &outcome : m_host.ended) {
        QCOMPARE(outcome.answer.has_value(), answered);
        QCOMPARE(outcome.failure.isEmpty(), answered);
    }
    QCOMPARE(m_host.quotas.size(), answered ? 1 : 0);
    QCOMPARE(m_host.verifications.size(), 1);
    QCOMPARE(m_host.verifications.first().second.has_value(), answered);
}

void TestAccountOperations::logsHoldNoSecrets()
{
    g_log.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureLog);
    m_server->setAnswer({403, FakeSesServer::errorDocument(u"SignatureDoesNotMatch"_s, u"Nope."_s)});
    for (const QString &version : {u"v4"_s, u"v3"_s}) {
        store(AccountSettings::SignatureVersionKey, version);
        QVERIFY(AccountOperations::getAccountSendQuota());
        QVERIFY(AccountOperations::validateLogin());
    }
    QTRY_COMPARE(m_host.ended.size(), 4);
    qInstallMessageHandler(previous);

    QByteArrayList secrets{SecretKey.toLatin1(), "Signature=", "AWS4-HMAC-SHA256", "AWS3-HTTPS"};
    for (const RecordedRequest &request : m_server->requests()) {
        for (const char *name : {"Authorization", "X-Amzn-Authorization"}) {
            if (!request.header(name).isEmpty())
                secrets.append(request.header(name));
        }
        if (const QByteArray stamp = request.header("X-Amz-Date"); !stamp.isEmpty()) {
            const QByteArray key = SigV4::signingKey(SecretKey.toUtf8(), stamp.left(8), Region.toUtf8(), "ses");
            secrets << key.toHex() << key.toBase64();
        }
    }
    QVERIFY(!g_log.isEmpty()); // the date text, the URLs and the refused login are logged
    for (const QString &line : std::as_const(g_log)) {
        for (const QByteArray &secret : std::as_const(secrets))
            QVERIFY2(!line.contains(QString::fromLatin1(secret)), qPrintable(line));
    }
}

void TestAccountOperations::statisticsPage_data()
{
    QTest::addColumn<QList<StatisticsPoint>>("points");
    QTest::newRow("no data points") << QList<StatisticsPoint>{};
    QTest::newRow("one") << QList<StatisticsPoint>{{8, u"2011-08-03T19:23:00Z"_s, 0, 1, 2}};
    QTest::newRow("two") << QList<StatisticsPoint>{{8, u"2011-08-03T19:23:00Z"_s, 0, 1, 2},
                                                   {3, u"2011-08-03T19:38:00Z"_s, 4, 0, 0}};
}

void TestAccountOperations::statisticsPage()
{
    QFETCH(QList<StatisticsPoint>, points);
    const QString answer = QString::fromUtf8(FakeSesServer::statisticsDocument(points));
    const QString page = AccountOperations::statisticsPage(answer);
    const QString style = u"<style type=\"text/css\">\tbody\t{\tbackground-color:#bbb;\t}\t.statsection\t{\t"
                          "background-color:#eee;\tpadding:3px;\tmargin:3px;\tfont-family:'Lucida Grande',"
                          "san-serif;\t}\t</style>"_s;
    QCOMPARE(page.count(style), 1);
    QVERIFY(!page.contains(u"<SendDataPoints>"_s));
    QVERIFY(page.contains(u"</SendDataPoints>"_s)); // everything else stays
    QCOMPARE(page.count(u"<div class=\"statsection\" >"_s), points.size());
    QCOMPARE(page.count(u"</div>"_s), points.size());
    QCOMPARE(page.count(u"<P><b>"_s), 5 * points.size());
    QCOMPARE(page.count(u"</P>"_s), 5 * points.size());
    for (const StatisticsPoint &p : points) {
        QVERIFY(page.contains(u"<P><b>Delivery Attempts</b> : %1</P>"_s.arg(p.deliveryAttempts)));
        QVERIFY(page.contains(u"<P><b>Time</b> : %1</P>"_s.arg(p.timestamp)));
        QVERIFY(page.contains(u"<P><b>Complaints</b> : %1</P>"_s.arg(p.complaints)));
    }
    QCOMPARE(AccountOperations::replaceXMLWithHTMLForElement(u"Timestamp"_s, u"<Timestamp>1</Timestamp><Timestamp>2</Timestamp>"_s,
                                                             u"Time"_s),
             u"<P><b>Time</b> : 1</P><P><b>Time</b> : 2</P>"_s);
}

void TestAccountOperations::settingsOverrides()
{
    store(AccountSettings::SignatureVersionKey, u"v3"_s);
    qputenv("AWS_ACCESS_KEY_ID", "AKFROMENV");
    qputenv("AWS_SECRET_ACCESS_KEY", "secret-from-env");
    qputenv("AWS_REGION", "ap-south-1");

    AccountSettings settings = AccountSettings::load(); // the window: no environment
    QCOMPARE(settings.accessKey, AccessKey);
    QCOMPARE(settings.region, Region);
    QCOMPARE(settings.signatureVersion, AccountSettings::SignatureVersion::V3);
    QCOMPARE(settings.endpointInUse(), m_server->endpoint());

    AccountSettings::setOverrides({true, std::nullopt, std::nullopt, std::nullopt});
    settings = AccountSettings::load();
    QCOMPARE(settings.accessKey, u"AKFROMENV"_s);
    QCOMPARE(settings.secretKey, u"secret-from-env"_s);
    QCOMPARE(settings.region, u"ap-south-1"_s);

    AccountSettings::setOverrides({true, u"us-west-2"_s, u""_s, AccountSettings::SignatureVersion::V4});
    settings = AccountSettings::load();
    QCOMPARE(settings.region, u"us-west-2"_s);
    QCOMPARE(settings.signatureVersion, AccountSettings::SignatureVersion::V4);
    QCOMPARE(settings.endpointInUse(), u"https://email.us-west-2.amazonaws.com"_s);

    qunsetenv("AWS_ACCESS_KEY_ID");
    qunsetenv("AWS_SECRET_ACCESS_KEY");
    qunsetenv("AWS_REGION");
    AccountSettings::setOverrides({});

    // Nothing stored: the defaults.
    for (QStringView key : {AccountSettings::AccessKeyKey, AccountSettings::SecretKeyKey, AccountSettings::RegionKey,
                            AccountSettings::EndpointKey, AccountSettings::SignatureVersionKey})
        store(key, std::nullopt);
    settings = AccountSettings::load();
    QCOMPARE(settings.accessKey, std::nullopt);
    QCOMPARE(settings.region, u"us-east-1"_s);
    QCOMPARE(settings.signatureVersion, AccountSettings::SignatureVersion::V4);
    QCOMPARE(SesRequest::awsDomain(settings), u"https://email.us-east-1.amazonaws.com"_s);
    QCOMPARE(AccountSettings::sesRegions().first(), u"us-east-1"_s);

    // What the panel saves comes back.
    settings.accessKey = u"AKSAVED"_s;
    settings.region = u"eu-central-1"_s;
    settings.signatureVersion = AccountSettings::SignatureVersion::V3;
    settings.smtpHost = u"smtp.example.com"_s;
    settings.smtpPort = 2525;
    settings.save();
    const AccountSettings back = AccountSettings::load();
    QCOMPARE(back.accessKey, u"AKSAVED"_s);
    QCOMPARE(back.secretKey, std::nullopt);
    QCOMPARE(back.region, u"eu-central-1"_s);
    QCOMPARE(back.signatureVersion, AccountSettings::SignatureVersion::V3);
    QCOMPARE(back.smtpHost, u"smtp.example.com"_s);
    QCOMPARE(back.smtpPort, 2525);
}

QTEST_GUILESS_MAIN(TestAccountOperations)
#include "tst_accountoperations.moc"

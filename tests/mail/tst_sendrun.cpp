// The paced send loop against the stand-in service: ticks, progress and the end of a run,
// cancelling, duplicates, answers in pieces, transport failures, the quota asked for when
// the rate is not known, batched high rates, and how answers become outcomes.

#include "BriskoConnector.h"
#include "FakeSesServer.h"
#include "FennimarUserDefaults.h"
#include "MailHost.h"
#include "SendRun.h"

#include <QLoggingCategory>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace brisko;

Q_DECLARE_METATYPE(AccountSettings::SignatureVersion)

namespace {

struct Progress
{
    qsizetype value;
    qsizetype maximum;
    QString address;
    int tick;
};

struct Ended
{
    std::optional<QString> why;
    int tick;
};

class RunHost : public MailHost
{
public:
    void setMax24Send(const std::optional<QString> &, const std::optional<QString> &maxRate,
                      const std::optional<QString> &) override
    {
        quotaRates.append(maxRate.value_or(u"(none)"_s));
    }
    void statisticsResponse(const QString &) override {}
    void showLoginFailure(const QString &, const std::optional<QString> &) override {}
    float timerValueForSendRate() const override { return interval; }
    void sendProgress(qsizetype value, qsizetype maximum, const QString &address) override
    {
        progress.append({value, maximum, address, tick()});
    }
    void mailSendResponseFor(const QString &address, const QString &response) override
    {
        responses.append({address, response});
    }
    void mailSendFailedFor(const QString &address, const QString &failure) override
    {
        failures.append({address, failure});
    }
    void sendRunEnded(const std::optional<QString> &why) override { ended.append({why, tick()}); }

    // The number of the tick being handled: the spy hears each timeout after the connector.
    int tick() const { return ticks ? int(ticks->count()) + 1 : -1; }

    float interval = 0.05f;
    QSignalSpy *ticks = nullptr;
    QStringList quotaRates;
    QList<Progress> progress;
    QList<std::pair<QString, QString>> responses;
    QList<std::pair<QString, QString>> failures;
    QList<Ended> ended;
};

// Accepts, reads the request, then drops the connection without a word.
class DroppingServer
{
public:
    DroppingServer()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->readAll();
                    socket->abort();
                    socket->deleteLater();
                });
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    QString endpoint() const { return u"http://127.0.0.1:%1"_s.arg(m_server.serverPort()); }

private:
    QTcpServer m_server;
};

void store(QStringView key, const QString &value)
{
    FennimarUserDefaults::setObject(value, key.toString());
}

RecipientList people(int count, const QString &domain = u"example.com"_s)
{
    RecipientList list;
    for (int n = 1; n <= count; ++n)
        list.append(makeRecipient(
            {{u"EMAIL"_s, u"person%1@%2"_s.arg(n).arg(domain)}, {u"NAME"_s, u"Person %1"_s.arg(n)}}));
    return list;
}

QString decodedMessage(const RecordedRequest &request)
{
    return QString::fromUtf8(QByteArray::fromBase64(request.form().value(u"RawMessage.Data"_s).toLatin1()));
}

const QByteArray SendAnswer = "<SendRawEmailResponse xmlns=\"http://ses.amazonaws.com/doc/2010-12-01/\">"
                              "<SendRawEmailResult><MessageId>0100-abc</MessageId></SendRawEmailResult>"
                              "</SendRawEmailResponse>\n";

} // namespace

class TestSendRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void runOfN_data();
    void runOfN();
    void requestOnTheWire_data();
    void requestOnTheWire();
    void cancelBetweenTicks();
    void duplicatesBothSentAndReported();
    void answerInPiecesReportedOnce_data();
    void answerInPiecesReportedOnce();
    void transportFailures_data();
    void transportFailures();
    void unknownRateAsksQuotaFirst_data();
    void unknownRateAsksQuotaFirst();
    void batchedHighRate();
    void outstandingAnswersAreBounded_data();
    void outstandingAnswersAreBounded();
    void pacing_data();
    void pacing();
    void outcomes_data();
    void outcomes();

private:
    void startRun(BriskoConnector &connector, const RecipientList &list, QSignalSpy *&ticks);

    std::unique_ptr<FakeSesServer> m_server;
    RunHost m_host;
};

void TestSendRun::initTestCase()
{
    QLoggingCategory::setFilterRules(u"brisko.mail.info=false"_s);
}

void TestSendRun::init()
{
    m_server = std::make_unique<FakeSesServer>();
    QVERIFY(m_server->listen());
    m_server->setAnswer({200, SendAnswer});
    AccountSettings::setOverrides({});
    store(AccountSettings::AccessKeyKey, u"AKIDSENDRUN000000001"_s);
    store(AccountSettings::SecretKeyKey, u"Send/Run+Secret0000000000000000000000000"_s);
    store(AccountSettings::RegionKey, u"eu-west-1"_s);
    store(AccountSettings::EndpointKey, m_server->endpoint());
    store(AccountSettings::SignatureVersionKey, u"v4"_s);
    m_host = RunHost();
    MailHost::setShared(&m_host);
    SendRun::setSendTimeout(60000);
    SendRun::setQuotaTimeout(10000);
    SendRun::setMaxInFlight(128);
}

void TestSendRun::cleanup()
{
    MailHost::setShared(nullptr);
    m_server.reset();
}

void TestSendRun::startRun(BriskoConnector &connector, const RecipientList &list, QSignalSpy *&ticks)
{
    connector.sendMessageToRecipients(u"Hello __NAME__"_s, u"<p>Hello <b>__NAME__</b></p>"_s, u"Greetings"_s,
                                      u"Sender <sender@example.com>"_s, list, u"replies@example.com"_s,
                                      std::nullopt);
    QVERIFY(connector.timer());
    ticks = new QSignalSpy(connector.timer(), &QTimer::timeout);
    m_host.ticks = ticks;
}

void TestSendRun::runOfN_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("empty list") << 0;
    QTest::newRow("one recipient") << 1;
    QTest::newRow("three recipients") << 3;
}

// N recipients leave at ticks 1…N with the bar at 0…N−1; tick N+1 ends the run.
void TestSendRun::runOfN()
{
    QFETCH(int, count);
    BriskoConnector connector;
    QSignalSpy finished(&connector, &BriskoConnector::finished);
    QSignalSpy *ticks = nullptr;
    const RecipientList list = people(count);
    startRun(connector, list, ticks);
    std::unique_ptr<QSignalSpy> owner(ticks);
    QCOMPARE(connector.timer()->interval(), 50);
    QVERIFY(connector.timer()->isSingleShot() == false);
    QCOMPARE(connector.timer()->timerType(), Qt::PreciseTimer);
    QCOMPARE(connector.userInfo().recipients.size(), count); // nothing leaves before the first tick
    QVERIFY(m_host.progress.isEmpty());

    QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 1, 5000);
    QCOMPARE(m_host.ended.first().tick, count + 1);
    QCOMPARE(m_host.ended.first().why, std::nullopt);
    QCOMPARE(connector.timer(), nullptr);
    QCOMPARE(m_host.progress.size(), count);
    for (int n = 0; n < count; ++n) {
        QCOMPARE(m_host.progress.at(n).tick, n + 1);
        QCOMPARE(m_host.progress.at(n).value, n);
        QCOMPARE(m_host.progress.at(n).maximum, count);
        QCOMPARE(m_host.progress.at(n).address, list.at(n)->email());
    }
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(m_host.responses.size(), count);
    for (const auto &[address, response] : std::as_const(m_host.responses))
        QCOMPARE(response.toUtf8(), SendAnswer);
    QCOMPARE(m_server->requests().size(), count);
    QCOMPARE(connector.pendingResponses(), 0);
    // The records are the campaign's own, and the run does not change them.
    for (int n = 0; n < count; ++n)
        QCOMPARE(list.at(n)->valueOr(u"NAME"_s), u"Person %1"_s.arg(n + 1));
}

void TestSendRun::requestOnTheWire_data()
{
    QTest::addColumn<AccountSettings::SignatureVersion>("version");
    QTest::addColumn<QByteArray>("authorizationHeader");
    QTest::newRow("signature version 4")
        << AccountSettings::SignatureVersion::V4 << QByteArray("Authorization");
    QTest::newRow("AWS3-HTTPS") << AccountSettings::SignatureVersion::V3
                                << QByteArray("X-Amzn-Authorization");
}

// One SendRawEmail per recipient, signed as the account says, with both bodies merged, the
// recipient in Destinations.member.1 and in the To line, Return-Path only when given.
void TestSendRun::requestOnTheWire()
{
    QFETCH(AccountSettings::SignatureVersion, version);
    QFETCH(QByteArray, authorizationHeader);
    store(AccountSettings::SignatureVersionKey, AccountSettings::signatureVersionName(version));
    m_host.interval = 0.02f;
    BriskoConnector connector;
    const RecipientList list = {
        makeRecipient({{u"EMAIL"_s, u"jane+news@example.com"_s}, {u"NAME"_s, u"Jane & Co"_s}})};
    connector.sendMessageToRecipients(u"Hi __NAME__, __MISSING__ stays"_s, u"<p>__NAME__ / __EMAIL__</p>"_s,
                                      u"Subject __NAME__"_s, u"from@example.com"_s, list, QString(),
                                      u"bounces@example.com"_s);
    QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 1, 5000);
    const RecordedRequest request = m_server->requests().first();
    QCOMPARE(request.action(), u"SendRawEmail"_s);
    QVERIFY(!request.header(authorizationHeader).isEmpty());
    QCOMPARE(request.form().value(u"Destinations.member.1"_s), u"jane+news@example.com"_s);
    const QString message = decodedMessage(request);
    QVERIFY2(message.contains(u"\nTo: jane+news@example.com\n"_s), qPrintable(message));
    QVERIFY(message.contains(u"Subject: Subject __NAME__\n"_s)); // headers are not merged
    QVERIFY(message.contains(u"Return-Path: bounces@example.com\n"_s));
    QVERIFY(!message.contains(u"Reply-To:"_s));
    QVERIFY(message.contains(u"Hi Jane & Co, __MISSING__ stays"_s));
    QVERIFY(message.contains(u"<p>Jane & Co / jane+news@example.com</p>"_s));
    QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 1, 5000);
}

// A cancel between ticks sends nothing more; the answer to the message already sent
// still arrives after the run has ended.
void TestSendRun::cancelBetweenTicks()
{
    m_server->setAnswer({200, SendAnswer, 1, 0, 300});
    m_host.interval = 0.1f;
    BriskoConnector connector;
    QSignalSpy finished(&connector, &BriskoConnector::finished);
    QSignalSpy *ticks = nullptr;
    startRun(connector, people(3), ticks);
    std::unique_ptr<QSignalSpy> owner(ticks);
    QTRY_COMPARE_WITH_TIMEOUT(m_host.progress.size(), 1, 5000);
    connector.stopSending();
    QCOMPARE(m_host.ended.size(), 1);
    QCOMPARE(connector.timer(), nullptr);
    QCOMPARE(connector.userInfo().recipients.size(), 2); // the records not yet sent
    QVERIFY(m_host.responses.isEmpty());                 // the answer takes 300 ms
    QCOMPARE(finished.size(), 0);                        // one answer outstanding

    QTRY_COMPARE_WITH_TIMEOUT(m_host.responses.size(), 1, 5000);
    QCOMPARE(m_host.responses.first().first, u"person1@example.com"_s);
    QCOMPARE(finished.size(), 1);
    QTest::qWait(350);
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(m_host.progress.size(), 1);
    connector.stopSending(); // a second cancel changes nothing
    QCOMPARE(m_host.ended.size(), 1);
}

void TestSendRun::duplicatesBothSentAndReported()
{
    m_host.interval = 0.02f;
    BriskoConnector connector;
    QSignalSpy finished(&connector, &BriskoConnector::finished);
    const RecipientList list = {
        makeRecipient({{u"EMAIL"_s, u"same@example.com"_s}, {u"NAME"_s, u"First"_s}}),
        makeRecipient({{u"EMAIL"_s, u"same@example.com"_s}, {u"NAME"_s, u"Second"_s}})};
    m_server->setAnswer(
        {400, FakeSesServer::errorDocument(u"Throttling"_s, u"Maximum sending rate exceeded."_s)});
    connector.sendMessageToRecipients(u"To __NAME__"_s, QString(), u"S"_s, u"f@example.com"_s, list,
                                      QString(), std::nullopt);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(m_server->requests().size(), 2);
    QVERIFY(decodedMessage(m_server->requests().at(0)).contains(u"To First"_s));
    QVERIFY(decodedMessage(m_server->requests().at(1)).contains(u"To Second"_s));
    QCOMPARE(m_host.responses.size(), 2);
    for (const auto &[address, response] : std::as_const(m_host.responses)) {
        QCOMPARE(address, u"same@example.com"_s);
        QVERIFY(response.contains(u"Maximum sending rate exceeded."_s)); // error answers are reported too
    }
}

void TestSendRun::answerInPiecesReportedOnce_data()
{
    QTest::addColumn<bool>("chunked");
    QTest::newRow("content length") << false;
    QTest::newRow("chunked") << true;
}

void TestSendRun::answerInPiecesReportedOnce()
{
    QFETCH(bool, chunked);
    CannedAnswer answer{200, SendAnswer, 5, 40};
    answer.chunked = chunked;
    m_server->setAnswer(answer);
    m_host.interval = 0.02f;
    BriskoConnector connector;
    QSignalSpy finished(&connector, &BriskoConnector::finished);
    connector.sendMessageToRecipients(u"b"_s, u"h"_s, u"s"_s, u"f@example.com"_s, people(1), QString(),
                                      std::nullopt);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(m_host.responses.size(), 1);
    QCOMPARE(m_host.responses.first().second.toUtf8(), SendAnswer);
}

void TestSendRun::transportFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("failure");
    QTest::newRow("refused") << u"refused"_s << u"Connection refused"_s;
    QTest::newRow("dropped") << u"dropped"_s << u"closed"_s;
    QTest::newRow("no answer") << u"stall"_s << u"No answer within 0.4 seconds"_s;
    QTest::newRow("silent server") << u"silent"_s << u"No answer within 0.4 seconds"_s;
    QTest::newRow("HTTP error without a document")
        << u"http503"_s << u"HTTP 503 Whatever: <html>Service Unavailable</html>"_s;
}

// A message that never left is reported as failed with the reason, and its entry goes.
void TestSendRun::transportFailures()
{
    QFETCH(QString, kind);
    QFETCH(QString, failure);
    SendRun::setSendTimeout(400);
    DroppingServer dropping;
    if (kind == u"refused") {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        store(AccountSettings::EndpointKey, u"http://127.0.0.1:%1"_s.arg(closed.serverPort()));
    } else if (kind == u"dropped") {
        QVERIFY(dropping.listen());
        store(AccountSettings::EndpointKey, dropping.endpoint());
    } else if (kind == u"stall") {
        CannedAnswer answer{200, SendAnswer};
        answer.stall = true;
        m_server->setAnswer(answer);
    } else if (kind == u"silent") {
        m_server->setAnswer({200, SendAnswer, 1, 0, 5000});
    } else {
        m_server->setAnswer({503, "<html>Service Unavailable</html>"});
    }
    m_host.interval = 0.02f;
    BriskoConnector connector;
    QSignalSpy finished(&connector, &BriskoConnector::finished);
    connector.sendMessageToRecipients(u"b"_s, u"h"_s, u"s"_s, u"f@example.com"_s, people(2), QString(),
                                      std::nullopt);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    QCOMPARE(connector.pendingResponses(), 0);
    QVERIFY(m_host.responses.isEmpty());
    QCOMPARE(m_host.failures.size(), 2);
    QStringList addresses;
    for (const auto &[address, text] : std::as_const(m_host.failures)) {
        addresses.append(address);
        QVERIFY2(text.contains(failure, Qt::CaseInsensitive), qPrintable(text));
    }
    addresses.sort();
    QCOMPARE(addresses, (QStringList{u"person1@example.com"_s, u"person2@example.com"_s}));
    QCOMPARE(m_host.ended.size(), 1); // the run went on to its end
}

void TestSendRun::unknownRateAsksQuotaFirst_data()
{
    QTest::addColumn<float>("interval");
    QTest::addColumn<QString>("answer"); // "stall" for none
    QTest::addColumn<int>("tickMs");     // 0: nothing may be sent
    QTest::addColumn<QString>("why");
    const float infinite = std::numeric_limits<float>::infinity();
    QTest::newRow("rate 14") << infinite << u"14.0"_s << 72 << QString();
    QTest::newRow("rate 0.5 paces at 2 s") << 0.0f << u"0.5"_s << 2000 << QString();
    QTest::newRow("rate 0 in the answer") << infinite << u"0.0"_s << 0 << u"MaxSendRate: 0.0"_s;
    QTest::newRow("error answer") << infinite << u"error"_s << 0
                                  << u"The security token included is invalid."_s;
    QTest::newRow("no answer in time") << infinite << u"stall"_s << 0 << u"no answer"_s;
}

void TestSendRun::unknownRateAsksQuotaFirst()
{
    QFETCH(float, interval);
    QFETCH(QString, answer);
    QFETCH(int, tickMs);
    QFETCH(QString, why);
    SendRun::setQuotaTimeout(400);
    m_host.interval = interval;
    if (answer == u"error") {
        m_server->setAnswerFor(u"GetSendQuota"_s, {403, FakeSesServer::errorDocument(
                                                            u"InvalidClientTokenId"_s,
                                                            u"The security token included is invalid."_s)});
    } else if (answer == u"stall") {
        m_server->setAnswerFor(u"GetSendQuota"_s,
                               {200, FakeSesServer::quotaDocument(u"1"_s, u"1"_s, u"1"_s), 1, 0, 3000});
    } else {
        m_server->setAnswerFor(u"GetSendQuota"_s,
                               {200, FakeSesServer::quotaDocument(u"200.0"_s, answer, u"0.0"_s)});
    }
    BriskoConnector connector;
    QSignalSpy finished(&connector, &BriskoConnector::finished);
    connector.sendMessageToRecipients(u"b"_s, u"h"_s, u"s"_s, u"f@example.com"_s, people(2), QString(),
                                      std::nullopt);
    QCOMPARE(connector.timer(), nullptr); // no timer before the rate is known
    if (tickMs > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(connector.timer(), 5000);
        QCOMPARE(connector.timer()->interval(), tickMs);
        QCOMPARE(m_host.quotaRates, QStringList{answer}); // the host sees the answer too
        connector.stopSending();
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 1, 5000);
        QVERIFY(m_host.ended.first().why);
        QVERIFY2(m_host.ended.first().why->contains(why, Qt::CaseInsensitive),
                 qPrintable(*m_host.ended.first().why));
        QVERIFY(m_host.progress.isEmpty());
        QCOMPARE(finished.size(), 1);
    }
    QCOMPARE(m_server->requests().first().action(), u"GetSendQuota"_s);
    QTest::qWait(50);
    for (const RecordedRequest &request : m_server->requests())
        QCOMPARE(request.action(), u"GetSendQuota"_s);
}

// Above a hundred messages a second, ticks carry several messages and the rate holds on
// average; the tick after the last message still ends the run.
void TestSendRun::batchedHighRate()
{
    m_host.interval = 0.002f; // 500 per second
    BriskoConnector connector;
    QSignalSpy finished(&connector, &BriskoConnector::finished);
    QSignalSpy *ticks = nullptr;
    startRun(connector, people(60), ticks);
    std::unique_ptr<QSignalSpy> owner(ticks);
    QVERIFY(connector.pacing() && connector.pacing()->batched);
    QCOMPARE(connector.timer()->interval(), 10);
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 1, 5000);
    const qint64 elapsed = clock.elapsed();
    QCOMPARE(m_host.progress.size(), 60);
    QVERIFY2(elapsed >= 115, qPrintable(QString::number(elapsed))); // 60 at 500/s: not before 120 ms
    QVERIFY2(m_host.ended.first().tick < 40, qPrintable(QString::number(m_host.ended.first().tick)));
    QVERIFY(m_host.ended.first().tick > m_host.progress.last().tick);
    for (int n = 0; n < 60; ++n)
        QCOMPARE(m_host.progress.at(n).value, n);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 10000);
    QCOMPARE(m_host.responses.size(), 60);
}

void TestSendRun::outstandingAnswersAreBounded_data()
{
    QTest::addColumn<float>("interval");
    QTest::newRow("one per tick") << 0.02f;
    QTest::newRow("batched") << 0.001f;
}

// A slow service holds back the run instead of piling up requests: no more than the
// limit wait at once, and the run still sends everyone in the end.
void TestSendRun::outstandingAnswersAreBounded()
{
    QFETCH(float, interval);
    SendRun::setMaxInFlight(3);
    m_server->setAnswer({200, SendAnswer, 1, 0, 300});
    m_host.interval = interval;
    BriskoConnector connector;
    QSignalSpy finished(&connector, &BriskoConnector::finished);
    qsizetype most = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, &connector,
            [&] { most = std::max(most, connector.pendingResponses()); });
    watch.start(1);
    connector.sendMessageToRecipients(u"b"_s, u"h"_s, u"s"_s, u"f@example.com"_s, people(7), QString(),
                                      std::nullopt);
    QTest::qWait(200);
    QCOMPARE(m_host.progress.size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);
    SendRun::setMaxInFlight(128);
    QCOMPARE(most, 3);
    QCOMPARE(m_host.responses.size(), 7);
    for (int n = 0; n < 7; ++n)
        QCOMPARE(m_host.progress.at(n).value, n);
}

void TestSendRun::pacing_data()
{
    QTest::addColumn<double>("interval");
    QTest::addColumn<int>("tickMs"); // 0: no usable pacing
    QTest::addColumn<bool>("batched");
    QTest::newRow("1 per second") << 1.0 << 1000 << false;
    QTest::newRow("50 per second") << 0.02 << 20 << false;
    QTest::newRow("14 per second rounds the tick up") << double(1.0f / 14.0f) << 72 << false;
    QTest::newRow("100 per second") << 0.01 << 10 << false;
    QTest::newRow("1000 per second") << 0.001 << 10 << true;
    QTest::newRow("rate 0") << std::numeric_limits<double>::infinity() << 0 << false;
    QTest::newRow("zero interval") << 0.0 << 0 << false;
    QTest::newRow("negative") << -1.0 << 0 << false;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0 << false;
}

void TestSendRun::pacing()
{
    QFETCH(double, interval);
    QFETCH(int, tickMs);
    QFETCH(bool, batched);
    const auto pacing = SendRun::pacingFor(interval);
    QCOMPARE(pacing.has_value(), tickMs > 0);
    if (!pacing)
        return;
    QCOMPARE(pacing->tickMs, tickMs);
    QCOMPARE(pacing->batched, batched);
    // Never faster than the rate: one tick's worth fits the interval.
    if (!batched)
        QVERIFY(pacing->tickMs / 1000.0 >= interval - 1e-9);
    else
        QCOMPARE(SendRun::messagesDueAt(pacing->rate, 10000), 10000);
}

void TestSendRun::outcomes_data()
{
    QTest::addColumn<QString>("response");
    QTest::addColumn<int>("code");
    QTest::addColumn<std::optional<QString>>("status");
    QTest::newRow("success") << QString::fromUtf8(SendAnswer) << 1 << std::optional<QString>(u"Success!"_s);
    QTest::newRow("empty answer") << QString() << 1 << std::optional<QString>(u"Success!"_s);
    QTest::newRow("error with message") << QString::fromUtf8(FakeSesServer::errorDocument(
                                               u"MessageRejected"_s, u"Email address is not verified."_s))
                                        << -1 << std::optional<QString>(u"Email address is not verified."_s);
    QTest::newRow("error without message")
        << QString::fromUtf8(FakeSesServer::errorDocument(u"Throttling"_s, std::nullopt)) << -1
        << std::optional<QString>();
    QTest::newRow("message up to the last closing tag")
        << u"<ErrorResponse><Message>a</Message> b</Message></ErrorResponse>"_s << -1
        << std::optional<QString>(u"a</Message> b"_s);
}

void TestSendRun::outcomes()
{
    QFETCH(QString, response);
    QFETCH(int, code);
    QFETCH(std::optional<QString>, status);
    const SendRun::Outcome outcome = SendRun::outcomeForResponse(response);
    QCOMPARE(outcome.code, code);
    QCOMPARE(outcome.status, status);
}

QTEST_GUILESS_MAIN(TestSendRun)
#include "tst_sendrun.moc"

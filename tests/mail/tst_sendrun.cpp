// The paced send loop against the stand-in service: ticks, progress and the end of a run,
// cancelling, duplicates, answers in pieces, transport failures, the quota asked for when
// the rate is not known, batched high rates and the bound on answers outstanding.

#include "BriskoConnector.h"
#include "FakeSesServer.h"
#include "FennimarUserDefaults.h"
#include "MailHost.h"
#include "SendRun.h"

#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace brisko;

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

private:
    // One run with its spies; the tick spy exists once the run has a timer.
    struct Run
    {
        BriskoConnector connector;
        QSignalSpy finished{&connector, &BriskoConnector::finished};
        std::unique_ptr<QSignalSpy> ticks;
    };
    std::unique_ptr<Run> start(const RecipientList &list);

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
    m_host.interval = 0.02f;
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

std::unique_ptr<TestSendRun::Run> TestSendRun::start(const RecipientList &list)
{
    auto run = std::make_unique<Run>();
    run->connector.sendMessageToRecipients(u"Hello __NAME__"_s, u"<p>Hello <b>__NAME__</b></p>"_s,
                                           u"Greetings"_s, u"Sender <sender@example.com>"_s, list,
                                           u"replies@example.com"_s, std::nullopt);
    if (run->connector.timer()) {
        run->ticks = std::make_unique<QSignalSpy>(run->connector.timer(), &QTimer::timeout);
        m_host.ticks = run->ticks.get();
    }
    return run;
}

void TestSendRun::runOfN_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QByteArray>("authorizationHeader");
    QTest::newRow("empty list") << 0 << u"v4"_s << QByteArray();
    QTest::newRow("one recipient") << 1 << u"v4"_s << QByteArray("Authorization");
    QTest::newRow("three, AWS3-HTTPS") << 3 << u"v3"_s << QByteArray("X-Amzn-Authorization");
}

// N recipients leave at ticks 1…N with the bar at 0…N−1; tick N+1 ends the run. Each
// request is signed as the account says and carries the merged bodies for its recipient.
void TestSendRun::runOfN()
{
    QFETCH(int, count);
    QFETCH(QString, signature);
    QFETCH(QByteArray, authorizationHeader);
    store(AccountSettings::SignatureVersionKey, signature);
    m_host.interval = 0.05f;
    const RecipientList list = people(count);
    const auto run = start(list);
    QTimer *timer = run->connector.timer();
    QVERIFY(timer);
    QCOMPARE(timer->interval(), 50);
    QVERIFY(!timer->isSingleShot());
    QCOMPARE(timer->timerType(), Qt::PreciseTimer);
    QVERIFY(m_host.progress.isEmpty()); // nothing leaves before the first tick

    QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 1, 5000);
    QCOMPARE(m_host.ended.first().tick, count + 1);
    QCOMPARE(m_host.ended.first().why, std::nullopt);
    QCOMPARE(run->connector.timer(), nullptr);
    QCOMPARE(m_host.progress.size(), count);
    for (int n = 0; n < count; ++n) {
        QCOMPARE(m_host.progress.at(n).tick, n + 1);
        QCOMPARE(m_host.progress.at(n).value, n);
        QCOMPARE(m_host.progress.at(n).maximum, count);
        QCOMPARE(m_host.progress.at(n).address, list.at(n)->email());
    }
    QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 5000);
    QCOMPARE(run->connector.pendingResponses(), 0);
    QCOMPARE(m_host.responses.size(), count);
    QCOMPARE(m_server->requests().size(), count);
    for (int n = 0; n < count; ++n) {
        const RecordedRequest request = m_server->requests().at(n);
        QVERIFY(!request.header(authorizationHeader).isEmpty());
        QCOMPARE(request.form().value(u"Destinations.member.1"_s), list.at(n)->email());
        const QString message = decodedMessage(request);
        QVERIFY(message.contains(u"\nTo: %1\n"_s.arg(list.at(n)->email())));
        QVERIFY(message.contains(u"<p>Hello <b>Person %1</b></p>"_s.arg(n + 1)));
        QCOMPARE(m_host.responses.at(n).second.toUtf8(), SendAnswer);
    }
}

// A cancel between ticks sends nothing more; the answer to the message already sent
// still arrives after the run has ended.
void TestSendRun::cancelBetweenTicks()
{
    m_server->setAnswer({200, SendAnswer, 1, 0, 300});
    m_host.interval = 0.1f;
    const auto run = start(people(3));
    QTRY_COMPARE_WITH_TIMEOUT(m_host.progress.size(), 1, 5000);
    run->connector.stopSending();
    QCOMPARE(m_host.ended.size(), 1);
    QCOMPARE(run->connector.timer(), nullptr);
    QCOMPARE(run->connector.userInfo().recipients.size(), 2); // the records not yet sent
    QVERIFY(m_host.responses.isEmpty());                      // the answer takes 300 ms
    QCOMPARE(run->finished.size(), 0);

    QTRY_COMPARE_WITH_TIMEOUT(m_host.responses.size(), 1, 5000);
    QCOMPARE(m_host.responses.first().first, u"person1@example.com"_s);
    QCOMPARE(run->finished.size(), 1);
    QTest::qWait(350);
    QCOMPARE(m_server->requests().size(), 1);
    run->connector.stopSending(); // a second cancel changes nothing
    QCOMPARE(m_host.ended.size(), 1);
}

void TestSendRun::duplicatesBothSentAndReported()
{
    m_server->setAnswer(
        {400, FakeSesServer::errorDocument(u"Throttling"_s, u"Maximum sending rate exceeded."_s)});
    const auto run = start({makeRecipient({{u"EMAIL"_s, u"same@example.com"_s}, {u"NAME"_s, u"First"_s}}),
                            makeRecipient({{u"EMAIL"_s, u"same@example.com"_s}, {u"NAME"_s, u"Second"_s}})});
    QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 5000);
    QCOMPARE(m_server->requests().size(), 2);
    QVERIFY(decodedMessage(m_server->requests().at(0)).contains(u"Hello First"_s));
    QVERIFY(decodedMessage(m_server->requests().at(1)).contains(u"Hello Second"_s));
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
    const auto run = start(people(1));
    QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 5000);
    QCOMPARE(m_host.responses.size(), 1);
    QCOMPARE(m_host.responses.first().second.toUtf8(), SendAnswer);
}

void TestSendRun::transportFailures_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("failure");
    QTest::newRow("refused") << u"refused"_s << u"Connection refused"_s;
    QTest::newRow("dropped") << u"dropped"_s << u"closed"_s;
    QTest::newRow("answer stops halfway") << u"stall"_s << u"No answer within 0.4 seconds"_s;
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
    QTcpServer closed;
    if (kind == u"refused") {
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        store(AccountSettings::EndpointKey, u"http://127.0.0.1:%1"_s.arg(closed.serverPort()));
        closed.close();
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
    const auto run = start(people(2));
    QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 5000);
    QCOMPARE(run->connector.pendingResponses(), 0);
    QVERIFY(m_host.responses.isEmpty());
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
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("tickMs"); // 0: nothing may be sent
    QTest::addColumn<QString>("why");
    const float infinite = std::numeric_limits<float>::infinity();
    const auto quota = [](const QString &rate) {
        return FakeSesServer::quotaDocument(u"200.0"_s, rate, u"0.0"_s);
    };
    QTest::newRow("rate 14") << infinite << 200 << quota(u"14.0"_s) << 72 << QString();
    QTest::newRow("rate 0.5 paces at 2 s") << 0.0f << 200 << quota(u"0.5"_s) << 2000 << QString();
    QTest::newRow("rate 0 in the answer") << infinite << 200 << quota(u"0.0"_s) << 0 << u"MaxSendRate: 0.0"_s;
    QTest::newRow("error answer") << infinite << 403
                                  << FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"Bad token."_s)
                                  << 0 << u"Bad token."_s;
    QTest::newRow("no answer in time") << infinite << -1 << quota(u"1.0"_s) << 0 << u"no answer"_s;
}

// With the rate not known the run asks for the quota and paces from it, or sends nothing
// and says why.
void TestSendRun::unknownRateAsksQuotaFirst()
{
    QFETCH(float, interval);
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    QFETCH(int, tickMs);
    QFETCH(QString, why);
    SendRun::setQuotaTimeout(400);
    m_host.interval = interval;
    m_server->setAnswerFor(u"GetSendQuota"_s,
                           {status < 0 ? 200 : status, answer, 1, 0, status < 0 ? 3000 : 0});
    const auto run = start(people(2));
    QCOMPARE(run->connector.timer(), nullptr); // no timer before the rate is known
    if (tickMs > 0) {
        QTRY_VERIFY_WITH_TIMEOUT(run->connector.timer(), 5000);
        QCOMPARE(run->connector.timer()->interval(), tickMs);
        QCOMPARE(m_host.quotaRates.size(), 1); // the host hears the answer too
        run->connector.stopSending();
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 1, 5000);
        const QString reason = m_host.ended.first().why.value_or(QString());
        QVERIFY2(reason.contains(why, Qt::CaseInsensitive), qPrintable(reason));
        QCOMPARE(run->finished.size(), 1);
    }
    QTest::qWait(50);
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(m_server->requests().first().action(), u"GetSendQuota"_s);
}

// Above a hundred messages a second, ticks carry several messages and the rate holds on
// average; the tick after the last message still ends the run.
void TestSendRun::batchedHighRate()
{
    m_host.interval = 0.002f; // 500 per second
    QElapsedTimer clock;
    clock.start();
    const auto run = start(people(60));
    QVERIFY(run->connector.pacing() && run->connector.pacing()->batched);
    QCOMPARE(run->connector.timer()->interval(), 10);
    QTRY_COMPARE_WITH_TIMEOUT(m_host.ended.size(), 1, 5000);
    QVERIFY2(clock.elapsed() >= 115, qPrintable(QString::number(clock.elapsed()))); // not before 120 ms
    QCOMPARE(m_host.progress.size(), 60);
    QVERIFY2(m_host.ended.first().tick < 40, qPrintable(QString::number(m_host.ended.first().tick)));
    QVERIFY(m_host.ended.first().tick > m_host.progress.last().tick);
    QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 10000);
    QCOMPARE(m_host.responses.size(), 60);
}

void TestSendRun::outstandingAnswersAreBounded_data()
{
    QTest::addColumn<float>("interval");
    QTest::newRow("one per tick") << 0.02f;
    QTest::newRow("batched") << 0.001f;
}

// A slow service holds the run back instead of piling up requests: no more than the
// limit wait at once, and the run still sends to everyone in the end.
void TestSendRun::outstandingAnswersAreBounded()
{
    QFETCH(float, interval);
    SendRun::setMaxInFlight(3);
    m_server->setAnswer({200, SendAnswer, 1, 0, 300});
    m_host.interval = interval;
    const auto run = start(people(7));
    qsizetype most = 0;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this,
            [&] { most = std::max(most, run->connector.pendingResponses()); });
    watch.start(1);
    QTest::qWait(200);
    QCOMPARE(m_host.progress.size(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 5000);
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
    QTest::newRow("14 per second rounds the tick up") << double(1.0f / 14.0f) << 72 << false;
    QTest::newRow("100 per second") << 0.01 << 10 << false;
    QTest::newRow("1000 per second") << 0.001 << 10 << true;
    QTest::newRow("rate 0") << std::numeric_limits<double>::infinity() << 0 << false;
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
    if (batched)
        QCOMPARE(SendRun::messagesDueAt(pacing->rate, 10000), 10000);
}

QTEST_GUILESS_MAIN(TestSendRun)
#include "tst_sendrun.moc"

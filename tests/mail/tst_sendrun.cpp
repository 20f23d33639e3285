// The paced send loop against the stand-in service: ticks, progress and the end of a run,
// cancelling, failures, the quota asked for when the rate is unknown, batching, the in-flight bound.

#include "BriskoConnector.h"
#include "FakeSesServer.h"
#include "FennimarUserDefaults.h"
#include "MailHost.h"
#include "SendRun.h"

#include <QLoggingCategory>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <numeric>

using namespace Qt::StringLiterals;
using namespace brisko;

namespace {

using Reports = QList<std::pair<QString, QString>>; // address, text
using TurnedAway = QList<std::pair<qint64, qint64>>; // sent at, answered at (ms)

class RunHost : public MailHost
{
public:
    void setMax24Send(const std::optional<QString> &, const std::optional<QString> &,
                      const std::optional<QString> &) override
    {
        ++quotaAnswers;
    }
    void statisticsResponse(const QString &) override {}
    void showLoginFailure(const QString &, const std::optional<QString> &) override {}
    float timerValueForSendRate() const override { return interval; }
    void sendProgress(qsizetype value, qsizetype maximum, const QString &address) override
    {
        progress.append(u"%1/%2 %3"_s.arg(value).arg(maximum).arg(address));
        progressTicks.append(tick());
    }
    void mailSendResponseFor(const QString &address, const QString &response) override
    {
        responses.append({address, response});
    }
    void mailSendFailedFor(const QString &address, const QString &failure) override
    {
        failures.append({address, failure});
    }
    void mailSendUnknownFor(const QString &address, const QString &why) override
    {
        unknowns.append({address, why});
    }
    void sendRunEnded(const std::optional<QString> &reason) override
    {
        why = reason;
        endedAtTick.append(tick());
    }
    bool willSend(const QStringList &addresses) override
    {
        bursts.append(int(addresses.size()));
        return true;
    }
    void mailSendRequeuedFor(const QString &address, const QString &why) override
    {
        requeued.append({address, why});
    }
    void sendRateLowered(double rate, double, const QString &) override { lowered.append(rate); }
    void quotaExhausted(qsizetype count) override { notSentAtQuota.append(count); }
    // The number of the tick being handled: the spy hears each timeout after the connector.
    int tick() const { return ticks ? int(ticks->count()) + 1 : -1; }

    float interval = 0.1f;
    QSignalSpy *ticks = nullptr;
    int quotaAnswers = 0;
    QStringList progress; // "value/maximum address"
    QList<int> progressTicks, endedAtTick;
    Reports responses, failures, unknowns, requeued;
    QList<int> bursts;            // addresses per willSend
    QList<double> lowered;        // rates the run slowed down to
    QList<qsizetype> notSentAtQuota;
    std::optional<QString> why;
};

void store(QStringView key, const QString &value)
{
    FennimarUserDefaults::setObject(value, key.toString());
}

RecipientList people(int count)
{
    RecipientList list;
    for (int n = 1; n <= count; ++n)
        list.append(makeRecipient(
            {{u"EMAIL"_s, u"person%1@example.com"_s.arg(n)}, {u"NAME"_s, u"Person %1"_s.arg(n)}}));
    return list;
}

// The progress a run of the list reports: the bar at 0…N−1 with each address.
QStringList progressOf(const RecipientList &list)
{
    QStringList lines;
    for (qsizetype n = 0; n < list.size(); ++n)
        lines.append(u"%1/%2 %3"_s.arg(n).arg(list.size()).arg(list.at(n)->email()));
    return lines;
}

const QByteArray SendAnswer = "<SendRawEmailResponse xmlns=\"http://ses.amazonaws.com/doc/2010-12-01/\">"
                              "<SendRawEmailResult><MessageId>0100-abc</MessageId></SendRawEmailResult>"
                              "</SendRawEmailResponse>\n";

} // namespace

class TestSendRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(u"brisko.mail.info=false"_s);
        QVERIFY(m_server.listen());
    }

    void init()
    {
        m_server.clear();
        m_server.setAnswer({200, SendAnswer});
        AccountSettings::setOverrides({});
        store(AccountSettings::AccessKeyKey, u"AKIDSENDRUN000000001"_s);
        store(AccountSettings::SecretKeyKey, u"Send/Run+Secret0000000000000000000000000"_s);
        store(AccountSettings::RegionKey, u"eu-west-1"_s);
        store(AccountSettings::EndpointKey, m_server.endpoint());
        store(AccountSettings::SignatureVersionKey, u"v4"_s);
        m_host = RunHost();
        MailHost::setShared(&m_host);
        SendRun::setSendTimeout(60000);
        SendRun::setMaxInFlight(128);
    }

    void cleanup() { MailHost::setShared(nullptr); }

    void runs_data()
    {
        QTest::addColumn<RecipientList>("list");
        QTest::addColumn<QString>("signature");
        QTest::addColumn<CannedAnswer>("answer"); // status 0: the connection is refused
        QTest::addColumn<QString>("reported");    // the whole answer, or what the failure says
        QTest::addColumn<int>("kind");            // 0 answered, 1 failed (not sent), 2 unknown
        const QString v4 = u"v4"_s;
        const CannedAnswer whole{200, SendAnswer};
        const QString answer = QString::fromUtf8(SendAnswer);
        const QByteArray refused =
            FakeSesServer::errorDocument(u"MessageRejected"_s, u"Email address is not verified."_s);
        const RecipientList twice{
            makeRecipient({{u"EMAIL"_s, u"same@example.com"_s}, {u"NAME"_s, u"First"_s}}),
            makeRecipient({{u"EMAIL"_s, u"same@example.com"_s}, {u"NAME"_s, u"Second"_s}})};
        QTest::newRow("empty list") << people(0) << v4 << whole << answer << 0;
        QTest::newRow("one recipient") << people(1) << v4 << whole << answer << 0;
        QTest::newRow("three, AWS3-HTTPS") << people(3) << u"v3"_s << whole << answer << 0;
        QTest::newRow("one address twice, error answers")
            << twice << v4 << CannedAnswer{400, refused} << QString::fromUtf8(refused) << 0;
        QTest::newRow("chunked pieces")
            << people(2) << v4 << CannedAnswer{200, SendAnswer, 5, 40, 0, true} << answer << 0;
        QTest::newRow("silent") << people(2) << v4 << CannedAnswer{200, SendAnswer, 1, 0, 5000}
                                << u"No answer within 0.4 seconds"_s << 2;
        QTest::newRow("HTTP error without a document")
            << people(2) << v4 << CannedAnswer{500, "<html>Internal Error</html>"}
            << u"HTTP 500 Whatever: <html>Internal Error</html>"_s << 1;
        CannedAnswer cut{200, SendAnswer};
        cut.cutOff = true;
        QTest::newRow("answer cut off mid-body") << people(2) << v4 << cut << u"cut off"_s << 2;
        CannedAnswer trickle{200, SendAnswer, 40, 50}; // 2 s in pieces 50 ms apart
        QTest::newRow("answer slower than the timeout")
            << people(2) << v4 << trickle << u"No answer within 0.4 seconds"_s << 2;
        CannedAnswer endless{200, {}};
        endless.endless = true;
        QTest::newRow("endless answer") << people(2) << v4 << endless << u"longer than 1 MB"_s << 2;
    }

    // N recipients leave at ticks 1…N, the bar at 0…N−1, and the first tick after that with no
    // answer outstanding ends the run. Each message goes merged for its recipient and is
    // reported once: answer or reason.
    void runs()
    {
        QFETCH(RecipientList, list);
        QFETCH(QString, signature);
        QFETCH(CannedAnswer, answer);
        QFETCH(QString, reported);
        QFETCH(int, kind);
        const bool failed = kind == 1;
        store(AccountSettings::SignatureVersionKey, signature);
        SendRun::setSendTimeout(400);
        m_server.setAnswer(answer);
        if (answer.status == 0)
            store(AccountSettings::EndpointKey, FakeSesServer::refusingEndpoint());
        const auto run = start(list);
        QVERIFY(run->connector.timer());
        QCOMPARE(run->connector.timer()->interval(), 100);
        QVERIFY(m_host.progress.isEmpty()); // nothing leaves before the first tick

        QTRY_COMPARE_WITH_TIMEOUT(m_host.endedAtTick.size(), 1, 5000);
        QVERIFY(m_host.endedAtTick.first() > list.size());
        // Every answer was in before the run ended: none could put its recipient back.
        QCOMPARE(m_host.responses.size() + m_host.failures.size() + m_host.unknowns.size(), list.size());
        QCOMPARE(m_host.why, std::nullopt);
        QCOMPARE(run->connector.timer(), nullptr);
        QCOMPARE(m_host.progress, progressOf(list));
        QList<int> ticks(list.size());
        std::iota(ticks.begin(), ticks.end(), 1);
        QCOMPARE(m_host.progressTicks, ticks);
        QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 5000);
        QCOMPARE(run->connector.pendingResponses(), 0);

        // What went out, for the runs that were answered.
        const QList<RecordedRequest> requests = failed ? QList<RecordedRequest>() : m_server.requests();
        QCOMPARE(m_server.requests().size(), answer.status == 0 ? 0 : list.size()); // each sent once
        QCOMPARE(requests.size(), failed ? 0 : list.size());
        for (qsizetype n = 0; n < requests.size(); ++n) {
            const QString address = list.at(n)->email();
            QVERIFY(!requests.at(n)
                         .header(signature == u"v3" ? "X-Amzn-Authorization" : "Authorization")
                         .isEmpty());
            QCOMPARE(requests.at(n).form().value(u"Destinations.member.1"_s), address);
            const QString message = QString::fromUtf8(
                QByteArray::fromBase64(requests.at(n).form().value(u"RawMessage.Data"_s).toLatin1()));
            QVERIFY(message.contains(u"\nTo: %1\n"_s.arg(address)));
            QVERIFY(message.contains(u"<p>Hello <b>%1</b></p>"_s.arg(list.at(n)->valueOr(u"NAME"_s))));
        }
        const Reports *const kinds[] = {&m_host.responses, &m_host.failures, &m_host.unknowns};
        for (int other = 0; other < 3; ++other)
            QVERIFY(other == kind || kinds[other]->isEmpty());
        Reports reports = *kinds[kind];
        std::sort(reports.begin(), reports.end());
        QCOMPARE(reports.size(), list.size());
        for (qsizetype n = 0; n < reports.size(); ++n) {
            const auto &[address, text] = reports.at(n);
            QCOMPARE(address, list.at(n)->email());
            QVERIFY2(kind ? text.contains(reported, Qt::CaseInsensitive) : text == reported, qPrintable(text));
        }
    }

    // After a cancel nothing more leaves; the answer to the message already sent still arrives.
    void cancelBetweenTicks()
    {
        m_server.setAnswer({200, SendAnswer, 1, 0, 300});
        m_host.interval = 0.1f;
        const auto run = start(people(3));
        QTRY_COMPARE_WITH_TIMEOUT(m_host.progress.size(), 1, 5000);
        run->connector.stopSending();
        QCOMPARE(m_host.endedAtTick.size(), 1);
        QCOMPARE(run->connector.timer(), nullptr);
        QCOMPARE(run->connector.userInfo().recipients.size(), 2); // the records not yet sent
        QVERIFY(m_host.responses.isEmpty());                      // the answer takes 300 ms
        QCOMPARE(run->finished.size(), 0);

        QTRY_COMPARE_WITH_TIMEOUT(m_host.responses.size(), 1, 5000);
        QCOMPARE(m_host.responses.first().first, u"person1@example.com"_s);
        QCOMPARE(run->finished.size(), 1);
        QTest::qWait(350);
        QCOMPARE(m_server.requests().size(), 1);
    }

    // An error document without <Message> leaves the address its earlier text.
    void outcomes()
    {
        const SendRun::Outcome bare =
            SendRun::outcomeForResponse(QString::fromUtf8(FakeSesServer::errorDocument(u"Throttling"_s, {})));
        QCOMPARE(bare.code, -1);
        QCOMPARE(bare.status, std::nullopt);
    }

    void unknownRateAsksQuotaFirst_data()
    {
        QTest::addColumn<float>("interval");
        QTest::addColumn<CannedAnswer>("answer");
        QTest::addColumn<int>("tickMs"); // 0: nothing may be sent
        QTest::addColumn<QString>("why");
        const float infinite = std::numeric_limits<float>::infinity();
        const auto quota = [](const QString &rate, int delayMs = 0) {
            return CannedAnswer{200, FakeSesServer::quotaDocument(u"200.0"_s, rate, u"0.0"_s), 1, 0, delayMs};
        };
        QTest::newRow("rate 7, tick rounded up") << infinite << quota(u"7.0"_s) << 143 << QString();
        QTest::newRow("rate 14, bursts") << infinite << quota(u"14.0"_s) << 100 << QString();
        QTest::newRow("rate 0.5 paces at 2 s") << 0.0f << quota(u"0.5"_s) << 2000 << QString();
        QTest::newRow("rate 0 in the answer") << infinite << quota(u"0.0"_s) << 0 << u"MaxSendRate: 0.0"_s;
        QTest::newRow("error answer")
            << infinite
            << CannedAnswer{403, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"Bad token."_s)}
            << 0 << u"Bad token."_s;
        QTest::newRow("no answer in time") << infinite << quota(u"1.0"_s, 3000) << 0 << u"no answer"_s;
    }

    // With the rate unknown the run asks for the quota and paces from it, or sends nothing and says why.
    void unknownRateAsksQuotaFirst()
    {
        QFETCH(float, interval);
        QFETCH(CannedAnswer, answer);
        QFETCH(int, tickMs);
        QFETCH(QString, why);
        SendRun::setQuotaTimeout(400);
        m_host.interval = interval;
        m_server.setAnswerFor(u"GetSendQuota"_s, answer);
        const auto run = start(people(2));
        QCOMPARE(run->connector.timer(), nullptr); // no timer before the rate is known
        if (tickMs > 0) {
            QTRY_VERIFY_WITH_TIMEOUT(run->connector.timer(), 5000);
            QCOMPARE(run->connector.timer()->interval(), tickMs);
            QCOMPARE(m_host.quotaAnswers, 1); // the host hears the answer too
            run->connector.stopSending();
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(m_host.endedAtTick.size(), 1, 5000);
            QVERIFY(m_host.why.value_or(QString()).contains(why, Qt::CaseInsensitive));
            QCOMPARE(run->finished.size(), 1);
        }
        QTest::qWait(50);
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(m_server.requests().first().action(), u"GetSendQuota"_s);
    }

    // Above ten a second the run sends in bursts every 100 ms: one willSend each, the messages
    // due since the last one; the first tick with nothing left and nothing outstanding ends it.
    void batchedHighRate()
    {
        m_host.interval = 0.002f; // 500 per second
        QElapsedTimer clock;
        clock.start();
        const RecipientList list = people(60);
        const auto run = start(list);
        QVERIFY(run->connector.pacing() && run->connector.pacing()->batched);
        QCOMPARE(run->connector.timer()->interval(), 100);
        QTRY_COMPARE_WITH_TIMEOUT(m_host.endedAtTick.size(), 1, 5000);
        QVERIFY(clock.elapsed() >= 115); // 60 at 500 a second take 120 ms
        QCOMPARE(m_host.progress, progressOf(list));
        // About 50 due per burst (a tick carries what is due by the time it comes, so a late one
        // carries more, up to two bursts' worth).
        QCOMPARE(std::accumulate(m_host.bursts.cbegin(), m_host.bursts.cend(), 0), 60);
        QVERIFY2(m_host.bursts.first() >= 45 && m_host.bursts.size() <= 3, qPrintable(QString::number(m_host.bursts.first())));
        QCOMPARE(m_host.progressTicks.first(), 1);
        QCOMPARE(m_host.progressTicks.last(), int(m_host.bursts.size()));
        QVERIFY(m_host.endedAtTick.first() > m_host.progressTicks.last());
        QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 10000);
        QCOMPARE(m_host.responses.size(), 60);
    }

    // A slow service holds a batched run back: no more than the limit wait at once, all are sent.
    void outstandingAnswersAreBounded()
    {
        SendRun::setMaxInFlight(3);
        m_server.setAnswer({200, SendAnswer, 1, 0, 300});
        m_host.interval = 0.001f;
        const RecipientList list = people(7);
        const auto run = start(list);
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
        QCOMPARE(m_host.progress, progressOf(list));
    }

    // A server that reads a whole request and then resets the connection, every second
    // request: on a fresh connection, and on a reused one (where the client would retry on
    // a new connection). Each recipient is sent once: answered ones accepted, the others unknown.
    void resetAfterTheRequest_data()
    {
        QTest::addColumn<bool>("keepAlive");
        QTest::newRow("fresh connections") << false;
        QTest::newRow("reused connections") << true;
    }
    void resetAfterTheRequest()
    {
        QFETCH(bool, keepAlive);
        CannedAnswer answer{200, SendAnswer};
        answer.keepAlive = keepAlive;
        answer.resetEvery = 2;
        m_server.setAnswer(answer);
        const RecipientList list = people(10);
        const auto run = start(list);
        QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 5000);
        QTest::qWait(100); // time for a resend to arrive
        QCOMPARE(m_server.requests().size(), 10);
        QSet<QString> addresses;
        for (const RecordedRequest &request : m_server.requests())
            addresses.insert(request.form().value(u"Destinations.member.1"_s));
        QCOMPARE(addresses.size(), 10);
        QCOMPARE(m_host.responses.size(), 5);
        QCOMPARE(m_host.unknowns.size(), 5);
        QVERIFY(m_host.failures.isEmpty());
        // On a reused connection the client tried to send again, and was stopped.
        for (const auto &[address, why] : std::as_const(m_host.unknowns))
            QCOMPARE(why.contains(u"before any answer"_s), keepAlive);
    }

    // A slow service (answers after 200 to 400 ms) at 50 a second: requests stay with the
    // run until a connection is free, so none runs out of time before it is written.
    void slowServiceNoFalseTimeouts()
    {
        SendRun::setMaxInFlight(16);
        SendRun::setSendTimeout(1000);
        CannedAnswer slow{200, SendAnswer, 1, 0, 200};
        slow.delayMaxMs = 400;
        slow.keepAlive = true;
        m_server.setAnswer(slow);
        const auto run = start(people(200));
        QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 30000);
        QCOMPARE(m_host.responses.size(), 200);
        QVERIFY(m_host.failures.isEmpty());
        QVERIFY(m_host.unknowns.isEmpty());
        QCOMPARE(m_server.requests().size(), 200);
        QVERIFY(m_server.connections() <= 16);
    }

    // The run's largest message is found without building any file's Base64; an unsubscribe link
    // that a value makes too long for a header line refuses the run, naming the row.
    void sizesAreCheckedPerRecipient()
    {
        SendRun::RunInfo info;
        info.sender = u"a@x.org"_s;
        info.body = u"Hi __NAME__"_s;
        QVERIFY(!SendRun::setExtras(info, u"https://example.com/u?n=__NAME__"_s,
                                    {{u"f.bin"_s, u"application/octet-stream"_s, QByteArray(1000, 'x')}}));
        const RecipientList records{makeRecipient({{u"EMAIL"_s, u"a@x.org"_s}, {u"NAME"_s, u"Ann"_s}}),
                                    makeRecipient({{u"EMAIL"_s, u"b@x.org"_s}, {u"NAME"_s, QString(200, u'B')}}),
                                    makeRecipient({{u"EMAIL"_s, u"c@x.org"_s}, {u"NAME"_s, u"Cy"_s}})};
        SendRun::SizeCheck check = SendRun::checkSizes(info, records);
        QCOMPARE(check.index, 1);
        // Measured with the longest boundary: never below the message, a few bytes above at most.
        const qint64 actual = SendRun::messageFor(info, *records.at(1)).toUtf8().size();
        QVERIFY2(check.largest >= actual && check.largest <= actual + 80, qPrintable(QString::number(check.largest - actual)));
        QVERIFY(!check.refusal);

        records.at(2)->setValue(u"NAME"_s, QString(200, u'\u00e9')); // 6 characters each once encoded
        check = SendRun::checkSizes(info, records);
        QVERIFY(check.refusal);
        QVERIFY2(check.refusal->contains(u"row 3 (c@x.org)"_s), qPrintable(*check.refusal));
        QVERIFY(SendRun::setExtras(info, u"http://example.com/u"_s, {}).has_value());
    }

    // The rate under throttling: halved once per round, never below a 32nd, 10 % back per whole
    // second since the last halving, never above the full rate.
    void throttleArithmetic_data()
    {
        QTest::addColumn<TurnedAway>("turnedAway");
        QTest::addColumn<qint64>("at");
        QTest::addColumn<double>("rate"); // of a full rate of 10
        using Events = TurnedAway;
        QTest::newRow("never throttled") << Events{} << qint64(5000) << 10.0;
        QTest::newRow("halved") << Events{{0, 1000}} << qint64(1000) << 5.0;
        QTest::newRow("not yet a whole second") << Events{{0, 1000}} << qint64(1999) << 5.0;
        QTest::newRow("one second: +10 %") << Events{{0, 1000}} << qint64(2000) << 5.5;
        QTest::newRow("three seconds") << Events{{0, 1000}} << qint64(4000) << 6.655;
        QTest::newRow("climbs no higher than full") << Events{{0, 1000}} << qint64(9000) << 10.0;
        QTest::newRow("the same round halves once") << Events{{0, 1000}, {900, 1100}} << qint64(1100) << 5.0;
        QTest::newRow("a later round halves again") << Events{{0, 1000}, {1000, 1200}} << qint64(1200) << 2.5;
        QTest::newRow("halving what has climbed") << Events{{0, 1000}, {3000, 3000}} << qint64(3000) << 3.025;
        Events many;
        for (qint64 n = 0; n < 8; ++n)
            many.append({n * 10, n * 10 + 5});
        QTest::newRow("floor at a 32nd") << many << qint64(100) << 10.0 / 32;
    }
    void throttleArithmetic()
    {
        QFETCH(TurnedAway, turnedAway);
        QFETCH(qint64, at);
        QFETCH(double, rate);
        SendRun::Throttle throttle(10);
        for (const auto &[sentAt, answeredAt] : turnedAway)
            throttle.slowDown(sentAt, answeredAt);
        QVERIFY2(std::abs(throttle.rateAt(at) - rate) < 1e-9, qPrintable(QString::number(throttle.rateAt(at))));
    }

    // Which ends put the recipient back into the queue, which stop the run, which stand.
    void dispositions_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("disposition");
        const int record = int(SendRun::Disposition::Record), again = int(SendRun::Disposition::TryAgain);
        QTest::newRow("accepted") << 200 << SendAnswer << record;
        QTest::newRow("throttled") << 400 << FakeSesServer::throttlingDocument() << again;
        QTest::newRow("unavailable, as a document")
            << 500 << FakeSesServer::errorDocument(u"ServiceUnavailable"_s, u"Try later."_s) << again;
        QTest::newRow("HTTP 503 without a document") << 503 << QByteArray("<html>busy</html>") << again;
        QTest::newRow("HTTP 500 without a document") << 500 << QByteArray("<html>oops</html>") << record;
        QTest::newRow("rejected") << 400 << FakeSesServer::errorDocument(u"MessageRejected"_s, u"No."_s) << record;
        QTest::newRow("daily quota, though its code throttles")
            << 400 << FakeSesServer::dailyQuotaDocument() << int(SendRun::Disposition::QuotaStop);
    }
    void dispositions()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(int, disposition);
        SendRun::TransferFacts facts;
        facts.written = true;
        facts.status = status;
        facts.body = answer;
        QCOMPARE(int(SendRun::transferEnd(facts, 1000).disposition), disposition);
    }

    void transportFailuresTriedAgain_data()
    {
        QTest::addColumn<int>("curlResult");
        QTest::addColumn<bool>("written");
        QTest::addColumn<int>("disposition");
        const int record = int(SendRun::Disposition::Record), again = int(SendRun::Disposition::TryAgain);
        QTest::newRow("refused") << int(CURLE_COULDNT_CONNECT) << false << again;
        QTest::newRow("reset before the request") << int(CURLE_SEND_ERROR) << false << again;
        QTest::newRow("no such host") << int(CURLE_COULDNT_RESOLVE_HOST) << false << record;
        QTest::newRow("TLS failure") << int(CURLE_SSL_CONNECT_ERROR) << false << record;
        // Written: it may have reached the service, so it is unknown and never tried again.
        QTest::newRow("reset after the request") << int(CURLE_RECV_ERROR) << true << record;
        QTest::newRow("no answer after the request") << int(CURLE_GOT_NOTHING) << true << record;
    }
    void transportFailuresTriedAgain()
    {
        QFETCH(int, curlResult);
        QFETCH(bool, written);
        QFETCH(int, disposition);
        SendRun::TransferFacts facts;
        facts.curlResult = curlResult;
        facts.written = written;
        const SendRun::TransferEnd end = SendRun::transferEnd(facts, 1000);
        QCOMPARE(int(end.disposition), disposition);
        QCOMPARE(end.delivery, written ? SendRun::Delivery::Unknown : SendRun::Delivery::NotSent);
    }

    // Requests turned away for now go back into the queue and are sent again, the run slowing
    // down each round; each recipient is accepted exactly once in the end.
    void turnedAwayAreSentAgain_data()
    {
        QTest::addColumn<CannedAnswer>("turnAway");
        QTest::addColumn<QString>("why");
        QTest::newRow("throttled") << CannedAnswer{400, FakeSesServer::throttlingDocument()}
                                   << u"Maximum sending rate exceeded."_s;
        QTest::newRow("HTTP 503") << CannedAnswer{503, "busy"} << u"HTTP 503 Whatever: busy"_s;
    }
    void turnedAwayAreSentAgain()
    {
        QFETCH(CannedAnswer, turnAway);
        QFETCH(QString, why);
        m_host.interval = 0.01f; // 100 a second: bursts, and halvings that keep them
        m_server.setTurnAwayEvery(3, turnAway);
        const RecipientList list = people(12);
        const auto run = start(list);
        QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 10000);
        QCOMPARE(m_host.responses.size(), 12);
        for (const auto &[address, answer] : std::as_const(m_host.responses))
            QCOMPARE(answer, QString::fromUtf8(SendAnswer));
        QVERIFY(m_host.failures.isEmpty() && m_host.unknowns.isEmpty());
        QCOMPARE(m_server.acceptedMessages(), 12);
        for (const RecipientPtr &record : list)
            QCOMPARE(m_server.acceptedPerAddress().value(record->email()), 1);
        // Every third request was turned away and its recipient put back.
        QCOMPARE(m_host.requeued.size(), int(m_server.requests().size()) - 12);
        QVERIFY(m_host.requeued.size() >= 4);
        QCOMPARE(m_host.requeued.first().second, why);
        QVERIFY(!m_host.lowered.isEmpty());
        QVERIFY(m_host.lowered.first() < 50.01);
    }

    // A recipient turned away five times is reported with the last answer; nothing was sent.
    void fiveTriesThenFailed()
    {
        m_host.interval = 0.01f;
        store(AccountSettings::EndpointKey, FakeSesServer::refusingEndpoint());
        const auto run = start(people(1));
        QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 10000);
        QCOMPARE(m_host.requeued.size(), SendRun::MaxTries - 1);
        QCOMPARE(m_host.failures.size(), 1);
        QVERIFY(m_host.failures.first().second.contains(u"Connection refused"_s, Qt::CaseInsensitive));
        QCOMPARE(m_host.progress.size(), SendRun::MaxTries);
        QCOMPARE(m_host.lowered.size(), SendRun::MaxTries - 1); // a new round each time
    }

    // The daily quota ends the run at once: the refused recipient and the rest keep no outcome,
    // the host hears how many were not sent, and no request leaves after the refusal.
    void dailyQuotaStopsTheRun()
    {
        m_server.setDailyQuota(3);
        m_server.setAnswer({200, SendAnswer, 1, 0, 20});
        const RecipientList list = people(7);
        const auto run = start(list);
        QTRY_COMPARE_WITH_TIMEOUT(run->finished.size(), 1, 5000);
        QCOMPARE(m_host.responses.size(), 3);
        QCOMPARE(m_host.requeued.size(), 1);
        QCOMPARE(m_host.requeued.first().first, u"person4@example.com"_s);
        QCOMPARE(m_host.notSentAtQuota, QList<qsizetype>{4});
        QVERIFY(run->connector.stoppedAtQuota());
        QCOMPARE(run->connector.userInfo().recipients.size(), 4);
        QCOMPARE(run->connector.userInfo().recipients.first()->email(), u"person4@example.com"_s);
        QTest::qWait(300);
        QCOMPARE(m_server.requests().size(), 4);
        QCOMPARE(m_host.endedAtTick.size(), 1);
    }

private:
    struct Run
    {
        BriskoConnector connector;
        QSignalSpy finished{&connector, &BriskoConnector::finished};
        std::unique_ptr<QSignalSpy> ticks;
    };
    std::unique_ptr<Run> start(const RecipientList &list)
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

    FakeSesServer m_server;
    RunHost m_host;
};

QTEST_GUILESS_MAIN(TestSendRun)
#include "tst_sendrun.moc"

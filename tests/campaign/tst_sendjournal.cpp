// The send journal: what a run writes is what opening the campaign reads back, a broken or
// hostile file costs only its bad lines, and a place that cannot be written stops the writer.

#include "SendJournal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace brisko;
using namespace Qt::StringLiterals;
using Outcome = SendJournal::Outcome;

class TestSendJournal : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString path(const QString &name) const { return m_dir.filePath(name); }
    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
    }

private Q_SLOTS:
    void aRunReadsBackAsItsLastEvents()
    {
        const QString file = path(u"Spring.brisko.sent"_s);
        QCOMPARE(SendJournal::pathForCampaign(path(u"Spring.brisko"_s)), file);
        {
            SendJournal journal(file);
            QVERIFY(journal.open());
            QVERIFY(journal.recordSending({u"a@x.org"_s, u"b@x.org"_s, u"c@x.org"_s, u"d@x.org"_s}));
            QVERIFY(journal.recordOutcome(u"a@x.org"_s, SendJournal::Event::Accepted, u"0100-abc"_s));
            // Tabs and line breaks in a service's text must not break the line apart.
            QVERIFY(journal.recordOutcome(u"b@x.org"_s, SendJournal::Event::Failed, u"bad\taddress\nreally"_s));
            QVERIFY(journal.recordOutcome(u"c@x.org"_s, SendJournal::Event::Unknown, u"reset"_s));
            // d@x.org: the program stopped with its request under way.
            QVERIFY(journal.flush());
            QVERIFY(!journal.hasPending());
        }
        {
            // A second run: the failed one is sent again and accepted this time.
            SendJournal journal(file);
            QVERIFY(journal.open());
            QVERIFY(journal.recordSending({u"b@x.org"_s}));
            QVERIFY(journal.recordOutcome(u"b@x.org"_s, SendJournal::Event::Accepted, u"0100-def"_s));
        } // the destructor syncs what is left

        const SendJournal::Replay replay = SendJournal::read(file);
        QCOMPARE(replay.error, std::nullopt);
        QCOMPARE(replay.malformed, 0);
        QCOMPARE(replay.lines, 9);
        QCOMPARE(replay.outcomes.size(), 4);
        QCOMPARE(replay.outcomes.value(u"a@x.org"_s).outcome, Outcome::Accepted);
        QCOMPARE(replay.outcomes.value(u"a@x.org"_s).detail, u"0100-abc"_s);
        QCOMPARE(replay.outcomes.value(u"b@x.org"_s).outcome, Outcome::Accepted);
        QCOMPARE(replay.outcomes.value(u"b@x.org"_s).detail, u"0100-def"_s);
        QCOMPARE(replay.outcomes.value(u"c@x.org"_s).outcome, Outcome::Unknown);
        QCOMPARE(replay.outcomes.value(u"d@x.org"_s).outcome, Outcome::Unknown);

        // Every line holds exactly four fields, the time in UTC.
        QFile raw(file);
        QVERIFY(raw.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = raw.readAll().split('\n');
        QCOMPARE(lines.size(), 10);
        for (qsizetype n = 0; n < 9; ++n) {
            QCOMPARE(lines[n].count('\t'), 3);
            QVERIFY2(lines[n].split('\t').first().endsWith('Z'), lines[n].constData());
        }
        QVERIFY(lines[5].endsWith("\tfailed\tbad address really"));
    }

    // A save into the outbox reads back as saved, which counts as not yet received, but it never
    // hides that an earlier run reached (or may have reached) the recipient.
    void outboxSavesAreNotReceipts()
    {
        const QString file = path(u"proof.brisko.sent"_s);
        QByteArray bytes;
        const auto add = [&bytes](const char *address, const char *event, const char *detail) {
            bytes += QByteArray("2026-01-01T00:00:00.000Z\t") + address + '\t' + event + '\t' + detail + '\n';
        };
        add("a@x.org", "sending", "");
        add("a@x.org", "saved", "/out/0001-a@x.org.eml");
        add("b@x.org", "sending", "");
        add("b@x.org", "accepted", "0100-b");
        add("b@x.org", "sending", "");
        add("b@x.org", "saved", "/out/0002-b@x.org.eml");
        add("c@x.org", "sending", ""); // died in flight
        add("c@x.org", "sending", "");
        add("c@x.org", "saved", "/out/0003-c@x.org.eml");
        add("d@x.org", "failed", "bad");
        add("d@x.org", "sending", "");
        add("d@x.org", "saved", "/out/0004-d@x.org.eml");
        add("e@x.org", "saved", "/out/0005-e@x.org.eml");
        add("e@x.org", "sending", "");
        add("e@x.org", "accepted", "0100-e");
        add("f@x.org", "accepted", "/out/0006-f@x.org.eml"); // an older program's outbox line
        writeFile(file, bytes);

        const SendJournal::Replay replay = SendJournal::read(file);
        QCOMPARE(replay.malformed, 0);
        QCOMPARE(replay.outcomes.value(u"a@x.org"_s).outcome, Outcome::Saved);
        QCOMPARE(replay.outcomes.value(u"a@x.org"_s).detail, u"/out/0001-a@x.org.eml"_s);
        QCOMPARE(replay.outcomes.value(u"b@x.org"_s).outcome, Outcome::Accepted);
        QCOMPARE(replay.outcomes.value(u"b@x.org"_s).detail, u"0100-b"_s);
        QCOMPARE(replay.outcomes.value(u"c@x.org"_s).outcome, Outcome::Unknown);
        QCOMPARE(replay.outcomes.value(u"d@x.org"_s).outcome, Outcome::Saved);
        QCOMPARE(replay.outcomes.value(u"e@x.org"_s).outcome, Outcome::Accepted);
        QCOMPARE(replay.outcomes.value(u"f@x.org"_s).outcome, Outcome::Accepted);
        QVERIFY(!replay.alreadyReceived(u"a@x.org"_s));
        QVERIFY(replay.alreadyReceived(u"b@x.org"_s));
        QVERIFY(replay.alreadyReceived(u"c@x.org"_s));
        QVERIFY(!replay.alreadyReceived(u"d@x.org"_s));
        QVERIFY(!replay.alreadyReceived(u"nobody@x.org"_s));

        // What the writer puts down reads back the same way.
        const QString written = path(u"written.sent"_s);
        {
            SendJournal journal(written);
            QVERIFY(journal.open());
            QVERIFY(journal.recordSending({u"a@x.org"_s}));
            QVERIFY(journal.recordOutcome(u"a@x.org"_s, SendJournal::Event::Saved, u"/out/a.eml"_s));
        }
        QCOMPARE(SendJournal::read(written).outcomes.value(u"a@x.org"_s).outcome, Outcome::Saved);
    }

    // A "retry" takes back the "sending" before it: the address stands where it stood before
    // that request (nothing, or an earlier run's outcome); a "sending" after it is in flight again.
    void retryTakesBackItsSending_data()
    {
        QTest::addColumn<QByteArray>("events"); // of one address, in order
        QTest::addColumn<int>("outcome");       // -1: none
        QTest::addColumn<QString>("detail");
        QTest::newRow("turned away") << QByteArray("sending retry") << -1 << QString();
        QTest::newRow("turned away, then accepted")
            << QByteArray("sending retry sending accepted") << int(Outcome::Accepted) << u"id"_s;
        QTest::newRow("in flight again when the program died")
            << QByteArray("sending retry sending") << int(Outcome::Unknown) << QString();
        QTest::newRow("accepted earlier, resent and turned away")
            << QByteArray("accepted sending retry") << int(Outcome::Accepted) << u"id"_s;
        QTest::newRow("failed earlier, retried and turned away")
            << QByteArray("failed sending retry") << int(Outcome::Failed) << u"no"_s;
        QTest::newRow("retry without a sending changes nothing")
            << QByteArray("failed retry") << int(Outcome::Failed) << u"no"_s;
    }
    void retryTakesBackItsSending()
    {
        QFETCH(QByteArray, events);
        QFETCH(int, outcome);
        QFETCH(QString, detail);
        QByteArray bytes = "2026-01-01T00:00:00.000Z\tother@x.org\taccepted\tkept\n";
        for (const QByteArray &event : events.split(' ')) {
            const QByteArray text = event == "accepted" ? "id" : event == "failed" ? "no" : event == "retry" ? "Throttling" : "";
            bytes += "2026-01-01T00:00:00.000Z\ta@x.org\t" + event + '\t' + text + '\n';
        }
        writeFile(path(u"retry.sent"_s), bytes);
        const SendJournal::Replay replay = SendJournal::read(path(u"retry.sent"_s));
        QCOMPARE(replay.malformed, 0);
        QCOMPARE(replay.outcomes.value(u"other@x.org"_s).detail, u"kept"_s);
        QCOMPARE(replay.outcomes.contains(u"a@x.org"_s), outcome >= 0);
        if (outcome >= 0) {
            QCOMPARE(int(replay.outcomes.value(u"a@x.org"_s).outcome), outcome);
            QCOMPARE(replay.outcomes.value(u"a@x.org"_s).detail, detail);
        }
    }

    void malformedLinesAreSkippedAndCounted()
    {
        const QString file = path(u"broken.sent"_s);
        QByteArray bytes;
        bytes += "2026-01-01T00:00:00.000Z\ta@x.org\taccepted\tid-1\n";
        bytes += "2026-01-01T00:00:00.000Z\tb@x.org\tdelivered\tid-2\n";    // no such event
        bytes += "2026-01-01T00:00:00.000Z\tc@x.org\taccepted\n";           // three fields
        bytes += "2026-01-01T00:00:00.000Z\t\tfailed\tno address\n";          // empty address
        bytes += "2026-01-01T00:00:00.000Z\td@x.org\tfailed\t" + QByteArray(200 * 1024, 'x') + "\n";
        bytes += "2026-01-01T00:00:00.000Z\te@x.org\tfailed\tquota\n";
        bytes += "2026-01-01T00:00:00.000Z\ta@x.org\tfai"; // torn by a crash mid-write
        writeFile(file, bytes);

        const SendJournal::Replay replay = SendJournal::read(file);
        QCOMPARE(replay.lines, 7);
        QCOMPARE(replay.malformed, 5);
        QCOMPARE(replay.outcomes.size(), 2);
        QCOMPARE(replay.outcomes.value(u"a@x.org"_s).outcome, Outcome::Accepted);
        QCOMPARE(replay.outcomes.value(u"e@x.org"_s).detail, u"quota"_s);

        QCOMPARE(SendJournal::read(path(u"none.sent"_s)).outcomes.size(), 0);
        QCOMPARE(SendJournal::read(path(u"none.sent"_s)).error, std::nullopt);
    }

    // Outcome lines wait for the next sync, which comes at most once an interval: every
    // "sending" line is on disk at once, the answers that follow within the interval are not.
    void outcomesWaitForTheNextSync()
    {
        SendJournal journal(path(u"Grouped.brisko.sent"_s));
        QVERIFY(journal.open());
        QCOMPARE(journal.msUntilSyncDue(), 0); // never synced: due now
        QElapsedTimer clock;
        clock.start();
        QVERIFY(journal.recordSending({u"a@x.org"_s, u"b@x.org"_s}));
        QCOMPARE(journal.syncs(), 1);
        QVERIFY(journal.recordOutcome(u"a@x.org"_s, SendJournal::Event::Accepted, u"id-a"_s));
        if (clock.elapsed() < SendJournal::SyncIntervalMs - 10) { // not when the machine stalled
            QCOMPARE(journal.syncs(), 1);
            QVERIFY(journal.hasPending());
            QVERIFY(journal.msUntilSyncDue() > 0);
        }
        QTest::qWait(SendJournal::SyncIntervalMs + 10);
        QCOMPARE(journal.msUntilSyncDue(), 0);
        QVERIFY(journal.recordOutcome(u"b@x.org"_s, SendJournal::Event::Failed, u"refused"_s));
        QVERIFY(!journal.hasPending());
        QCOMPARE(journal.syncs(), 2);
        const SendJournal::Replay replay = SendJournal::read(journal.path());
        QCOMPARE(replay.outcome(u"a@x.org"_s), SendJournal::Outcome::Accepted);
        QCOMPARE(replay.outcome(u"b@x.org"_s), SendJournal::Outcome::Failed);
    }

    void aPlaceThatCannotBeWrittenStopsTheWriter()
    {
        // A folder where the journal should be: refused even for root.
        const QString blocked = path(u"Blocked.brisko.sent"_s);
        QVERIFY(QDir().mkpath(blocked));
        SendJournal journal(blocked);
        QVERIFY(!journal.open());
        QVERIFY(journal.errorString().contains(blocked));
        QVERIFY(!journal.recordSending({u"a@x.org"_s}));
        QVERIFY(!journal.recordOutcome(u"a@x.org"_s, SendJournal::Event::Accepted, u"id"_s));
    }

    void movingAppendsToTheTarget()
    {
        const QString from = path(u"support.sent"_s);
        const QString to = path(u"Saved.brisko.sent"_s);
        writeFile(from, "2026-01-01T00:00:00.000Z\ta@x.org\taccepted\tid-1\n");
        writeFile(to, "2026-01-01T00:00:00.000Z\tb@x.org\tfailed\tno\n");
        QCOMPARE(SendJournal::move(from, to), std::nullopt);
        QVERIFY(!QFile::exists(from));
        QCOMPARE(SendJournal::read(to).outcomes.size(), 2);
        // Nothing to move is not an error.
        QCOMPARE(SendJournal::move(from, to), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSendJournal)
#include "tst_sendjournal.moc"

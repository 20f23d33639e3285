// brisko-cli send against the stand-in service: outcome lines, exit status, rows, --yes, Ctrl-C,
// and the send journal that keeps a second run from mailing anyone twice.

#include "../mail/FakeSesServer.cpp"
#include "CampaignFile.h"
#include "CliRun.h"

#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <csignal>

using namespace brisko;

class TestCliSend : public QObject
{
    Q_OBJECT

    const CannedAnswer m_accepted{200, "<SendRawEmailResponse><SendRawEmailResult><MessageId>m-1</MessageId>"
                                       "</SendRawEmailResult></SendRawEmailResponse>"};
    QTemporaryDir m_dir;
    const QString m_home = m_dir.filePath(u"home"_s);
    const QString m_campaign = m_dir.filePath(u"c.brisko"_s);
    FakeSesServer m_server;

    // Recipients r1@example.com … rN@example.com.
    void writeCampaign(int count)
    {
        CampaignDocument document;
        document.from = u"Ann <ann@example.com>"_s;
        document.body = u"Hi"_s;
        document.recipients = RecipientList();
        for (int n = 1; n <= count; ++n)
            document.recipients->append(makeRecipient({{u"EMAIL"_s, u"r%1@example.com"_s.arg(n)}}));
        QCOMPARE(CampaignFile::write(m_campaign, document), std::nullopt);
    }

    QString journalPath() const { return m_campaign + u".sent"_s; }

    // The addresses the server was asked to mail, in order.
    QStringList sentTo() const
    {
        QStringList addresses;
        for (const RecordedRequest &request : m_server.requests()) {
            if (request.action() == u"SendRawEmail")
                addresses.append(request.form().value(u"Destinations.member.1"_s));
        }
        return addresses;
    }

    QStringList command(const QString &words) const
    {
        return QString(words).replace(u"@C"_s, m_campaign).split(u' ') +
               QStringList{u"--endpoint"_s, m_server.endpoint()};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        writeFile(m_home + u"/.config/Brisko/Brisko.conf"_s,
                  "[General]\nAccessKey=AKIDCLISEND\nSecretKey=cli/Send+Secret000000000000000000000000\n");
    }

    void init()
    {
        m_server.clear();
        QFile::remove(journalPath());
        QDir(journalPath()).removeRecursively();
        writeCampaign(3);
    }

    // The rows sent in order, an outcome line each; progress lines, then `told`. Refusals send nothing.
    void runs_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<CannedAnswer>("answer");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("told");
        const auto row = [](const char *name, const QString &words, int status, const QString &told,
                            const QList<int> &rows = {}, const CannedAnswer &answer = {},
                            const QString &outcome = {}) {
            QTest::newRow(name) << words << answer << rows << outcome << status << told;
        };
        const auto error = [](const QString &code, const std::optional<QString> &message) {
            return CannedAnswer{400, FakeSesServer::errorDocument(code, message)};
        };
        const QString send = u"send @C --yes --rate 20"_s, accepted = u"accepted\tSuccess!"_s;
        const QString noneAccepted = u"brisko-cli send: 0 accepted"_s;
        row("every recipient accepted", send, 0, u"brisko-cli send: 3 accepted"_s, {1, 2, 3}, m_accepted,
            accepted);
        row("rows in row order", send + u" --rows 3,1"_s, 0, u"brisko-cli send: 2 accepted"_s, {1, 3},
            m_accepted, accepted);
        row("service refuses", send, 1, noneAccepted, {1, 2, 3},
            error(u"MessageRejected"_s, u"Email address is not verified."_s),
            u"failed\tEmail address is not verified."_s);
        row("error document without message", send, 1, noneAccepted, {1, 2, 3},
            error(u"MessageRejected"_s, std::nullopt), u"failed\tMessageRejected"_s);
        row("no --yes and no terminal", u"send @C --rate 5"_s, 2, u"add --yes to send"_s);
        row("row past the end", u"send @C --yes --rows 1,4"_s, 2, u"no row 4"_s);
    }

    void runs()
    {
        QFETCH(QString, words);
        QFETCH(CannedAnswer, answer);
        QFETCH(QList<int>, rows);
        QFETCH(QString, outcome);
        QFETCH(int, status);
        QFETCH(QString, told);
        m_server.setAnswer(answer.body.isEmpty() ? m_accepted : answer);
        const Run run = cli(command(words), m_home);
        QCOMPARE(run.status, status);
        QStringList addresses, lines;
        for (int row : rows) {
            addresses.append(u"r%1@example.com"_s.arg(row));
            lines.append(addresses.last() + u'\t' + outcome);
        }
        QCOMPARE(run.out, lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n');
        const QStringList err = run.err.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(!err.isEmpty() && err.last().contains(told), qPrintable(run.err));
        QVERIFY(!run.err.contains(u"sending 1 of"_s)); // a line per message only with --verbose
        QTest::qWait(50);
        QStringList sentTo;
        for (const RecordedRequest &request : m_server.requests())
            sentTo.append(request.form().value(u"Destinations.member.1"_s));
        QCOMPARE(sentTo, addresses);
    }

    // The largest message is measured before anything leaves: 11 MB of message (files in Base64) are
    // refused with the size and the limit; a bad unsubscribe text is refused the same way. A 5 MB
    // file goes out whole, with the unsubscribe headers merged for each recipient.
    void messagesAreCheckedBeforeAnythingLeaves()
    {
        m_server.setAnswer(m_accepted);
        CampaignDocument document = CampaignFile::read(m_campaign).document;
        const QByteArray big(6 * 1024 * 1024, 'a');
        document.attachments = AttachmentList{{u"a.bin"_s, u"application/octet-stream"_s, big},
                                              {u"b.bin"_s, u"application/octet-stream"_s, big.left(2400 * 1024)}};
        // 8.4 MB of files are 11.3 MB in Base64 lines.
        QCOMPARE(CampaignFile::write(m_campaign, document), std::nullopt);
        Run run = cli(command(u"send @C --yes --rate 20"_s), m_home);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(u"11.3 MB"_s) && run.err.contains(u"at most 10.0 MB"_s), qPrintable(run.err));
        QCOMPARE(m_server.requests().size(), 0);

        document.attachments = AttachmentList{{u"a.bin"_s, u"application/octet-stream"_s, big.left(5 * 1024 * 1024)}};
        document.unsubscribe = u"http://example.com/u?e=__EMAIL__"_s;
        QCOMPARE(CampaignFile::write(m_campaign, document), std::nullopt);
        run = cli(command(u"send @C --yes --rate 20"_s), m_home);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(u"https"_s), qPrintable(run.err));
        QCOMPARE(m_server.requests().size(), 0);

        document.unsubscribe = u"https://example.com/u?e=__EMAIL__"_s;
        QCOMPARE(CampaignFile::write(m_campaign, document), std::nullopt);
        run = cli(command(u"send @C --yes --rate 20 --rows 2"_s), m_home);
        QCOMPARE(run.status, 0);
        QTRY_COMPARE(sentTo(), QStringList{u"r2@example.com"_s});
        const QByteArray raw =
            QByteArray::fromBase64(m_server.requests().first().form().value(u"RawMessage.Data"_s).toLatin1());
        QVERIFY(raw.contains("\nList-Unsubscribe: <https://example.com/u?e=r2%40example.com>\n"
                             "List-Unsubscribe-Post: List-Unsubscribe=One-Click\n"));
        QVERIFY(raw.contains(big.left(5 * 1024 * 1024).toBase64().left(76) + '\n'));
        QVERIFY(raw.size() > 5 * 1024 * 1024 * 4 / 3);
    }

    void interruptWaitsForAnswersInFlight_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("Ctrl-C") << int(SIGINT);
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }

    // Ctrl-C (and SIGTERM, SIGHUP) stops like Cancel: nothing more leaves, the answers in flight
    // are waited for and printed, then the summary.
    void interruptWaitsForAnswersInFlight()
    {
        QFETCH(int, signal);
        writeCampaign(40);
        m_server.setAnswer({200, m_accepted.body, 1, 0, 800});
        QProcess process;
        process.setProcessEnvironment(cliEnvironment(m_home));
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(qEnvironmentVariable("BRISKO_CLI"), command(u"send @C --yes --rate 10"_s));
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().size() >= 3, 10000);
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(finished.wait(15000));
        const int sent = int(m_server.requests().size());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 130);
        QVERIFY(sent < 10);
        const QStringList lines =
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), sent); // every message that left got its answer printed
        for (const QString &line : lines)
            QVERIFY(line.endsWith(u"\taccepted\tSuccess!"_s));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY(err.contains(u"interrupted"_s));
        QVERIFY(err.contains(u"%1 not sent"_s.arg(40 - sent)));
        QVERIFY(err.contains(u"brisko-cli send: %1 accepted, 0 failed, 0 unknown"_s.arg(sent)));
    }

    // A second Ctrl-C stops waiting: every address still without an answer gets an `unknown`
    // line, those the server saw among them; none is left out or told twice.
    void secondInterruptTellsUnknown()
    {
        writeCampaign(40);
        m_server.setAnswer({200, m_accepted.body, 1, 0, 5000});
        QProcess process;
        process.setProcessEnvironment(cliEnvironment(m_home));
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(qEnvironmentVariable("BRISKO_CLI"), command(u"send @C --yes --rate 20 --timeout 30"_s));
        QVERIFY(process.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().size() >= 4, 10000);
        ::kill(pid_t(process.processId()), SIGINT);
        QTest::qWait(200);
        ::kill(pid_t(process.processId()), SIGINT);
        QVERIFY(finished.wait(3000));
        QCOMPARE(process.exitCode(), 130);
        QStringList seen;
        for (const RecordedRequest &request : m_server.requests())
            seen.append(request.form().value(u"Destinations.member.1"_s));
        const QStringList lines =
            QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        QStringList told;
        for (const QString &line : lines) {
            const QStringList fields = line.split(u'\t');
            QCOMPARE(fields.value(1), u"unknown"_s);
            QVERIFY(fields.value(2).startsWith(u"Sent, but no answer arrived: it may have been delivered"_s));
            told.append(fields.value(0));
        }
        QCOMPARE(QSet<QString>(told.cbegin(), told.cend()).size(), told.size());
        for (const QString &address : std::as_const(seen))
            QVERIFY2(told.contains(address), qPrintable(address));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QVERIFY(err.contains(u"0 accepted, 0 failed, %1 unknown"_s.arg(told.size())));
    }

    // A run leaves its outcomes in the journal, which `status` reads back; the next run skips
    // everyone it mailed, and --resend mails them again.
    void journalKeepsSecondRunFromResending()
    {
        m_server.setAnswer(m_accepted);
        const QStringList everyone{u"r1@example.com"_s, u"r2@example.com"_s, u"r3@example.com"_s};
        QCOMPARE(cli(command(u"send @C --yes --rate 20"_s), m_home).status, 0);
        QCOMPARE(sentTo(), everyone);

        QFile file(journalPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QStringList events;
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.split('\t');
            if (fields.size() == 4)
                events.append(QString::fromUtf8(fields[1] + ' ' + fields[2] + ' ' + fields[3]).trimmed());
        }
        for (const QString &address : everyone) {
            const auto sending = events.indexOf(address + u" sending"_s);
            const auto accepted = events.indexOf(address + u" accepted m-1"_s);
            QVERIFY2(sending >= 0 && accepted > sending, qPrintable(events.join(u'|')));
        }
        const Run status = cli({u"status"_s, m_campaign}, m_home);
        QCOMPARE(status.status, 0);
        QVERIFY2(status.out.startsWith(u"accepted:   3\nfailed:     0\nunknown:    0\nsaved:      0\nnever sent: 0\n"_s),
                 qPrintable(status.out));

        m_server.clear();
        const Run again = cli(command(u"send @C --yes --rate 20"_s), m_home);
        QCOMPARE(again.status, 0);
        QVERIFY2(again.err.contains(u"skipped 3 recipient(s)"_s), qPrintable(again.err));
        QCOMPARE(again.out, QString());
        QTest::qWait(50);
        QCOMPARE(sentTo(), QStringList());

        const Run resent = cli(command(u"send @C --yes --rate 20 --resend"_s), m_home);
        QCOMPARE(resent.status, 0);
        QTest::qWait(50);
        QCOMPARE(sentTo(), everyone);
    }

    // Which recipients a run picks from the journal: unknown counts as received, failed does
    // not; --retry-failed picks only the failed.
    void journalChoosesRecipients_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("told");
        QTest::newRow("default") << u"send @C --yes --rate 20"_s
                                 << QStringList{u"r2@example.com"_s, u"r4@example.com"_s}
                                 << u"skipped 2 recipient(s) who already received this campaign (1 accepted, 1 unknown"_s;
        QTest::newRow("--retry-failed") << u"send @C --yes --rate 20 --retry-failed"_s
                                        << QStringList{u"r2@example.com"_s} << u"skipped 1 recipient(s) never sent"_s;
        QTest::newRow("--resend") << u"send @C --yes --rate 20 --resend"_s
                                  << QStringList{u"r1@example.com"_s, u"r2@example.com"_s, u"r3@example.com"_s,
                                                 u"r4@example.com"_s}
                                  << u"4 accepted"_s;
    }

    void journalChoosesRecipients()
    {
        QFETCH(QString, words);
        QFETCH(QStringList, expected);
        QFETCH(QString, told);
        writeCampaign(4);
        // r1 accepted, r2 failed, r3 left in flight by a run that died, r4 never sent.
        writeFile(journalPath(), "2026-12-07T01:00:00.000Z\tr1@example.com\tsending\t\n"
                                 "2026-12-07T01:00:00.000Z\tr2@example.com\tsending\t\n"
                                 "2026-12-07T01:00:00.000Z\tr3@example.com\tsending\t\n"
                                 "2026-12-07T01:00:00.100Z\tr1@example.com\taccepted\tm-0\n"
                                 "2026-12-07T01:00:00.100Z\tr2@example.com\tfailed\tRejected\n");
        m_server.setAnswer(m_accepted);
        const Run run = cli(command(words), m_home);
        QCOMPARE(run.status, 0);
        QVERIFY2(run.err.contains(told), qPrintable(run.err));
        QTest::qWait(50);
        QCOMPARE(sentTo(), expected);
    }

    void resendAndRetryFailedExcludeEachOther()
    {
        const Run run = cli(command(u"send @C --yes --resend --retry-failed"_s), m_home);
        QCOMPARE(run.status, 2);
        QCOMPARE(m_server.requests().size(), 0);
    }

    // No record, no run: a journal that cannot be read or written stops it before any request leaves.
    void unwritableJournalSendsNothing_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("told");
        QTest::newRow("cannot tell who received it") << u"send @C --yes --rate 20"_s
                                                     << u"cannot tell who already received"_s;
        QTest::newRow("--resend, cannot record") << u"send @C --yes --rate 20 --resend"_s
                                                 << u"cannot open the send journal"_s;
        QTest::newRow("--resend, the first write fails") << u"send @C --yes --rate 20 --resend"_s
                                                         << u"cannot write the send journal"_s;
    }

    void unwritableJournalSendsNothing()
    {
        QFETCH(QString, words);
        QFETCH(QString, told);
        if (QTest::currentDataTag() == QByteArrayLiteral("--resend, the first write fails")) {
            // Opens, but no line can be written.
            if (!QFile::exists(u"/dev/full"_s))
                QSKIP("no /dev/full");
            QVERIFY(QFile::link(u"/dev/full"_s, journalPath()));
        } else {
            QVERIFY(QDir().mkpath(journalPath()));
        }
        m_server.setAnswer(m_accepted);
        const Run run = cli(command(words), m_home);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(told), qPrintable(run.err));
        QCOMPARE(run.out, QString());
        QTest::qWait(50);
        QCOMPARE(sentTo(), QStringList());
    }

    // Killed (SIGKILL) at a few points of a run, then resumed with a plain `send`: every address
    // got exactly one message by the server's count, except those left unknown, which `status`
    // names, which got at most one, and which are no more than the requests in flight.
    void killedRunResumesWithoutDoubles_data()
    {
        QTest::addColumn<int>("acceptedBeforeKill");
        QTest::newRow("early") << 1;
        QTest::newRow("middle") << 12;
        QTest::newRow("late") << 26;
    }
    void killedRunResumesWithoutDoubles()
    {
        QFETCH(int, acceptedBeforeKill);
        constexpr int Count = 30;
        writeCampaign(Count);
        // Answers after 50 to 250 ms: several requests in flight at any moment.
        CannedAnswer slow = m_accepted;
        slow.delayMs = 50;
        slow.delayMaxMs = 250;
        m_server.setAnswer(slow);
        QProcess process;
        process.setProcessEnvironment(cliEnvironment(m_home));
        QSignalSpy finished(&process, &QProcess::finished);
        process.start(qEnvironmentVariable("BRISKO_CLI"), command(u"send @C --yes --rate 40"_s));
        QByteArray out;
        QTRY_VERIFY_WITH_TIMEOUT((out += process.readAllStandardOutput()).count("\taccepted\t") >= acceptedBeforeKill,
                                 10000);
        process.kill();
        QVERIFY(finished.wait(5000));
        QCOMPARE(process.exitStatus(), QProcess::CrashExit);

        const Run resumed = cli(command(u"send @C --yes --rate 40"_s), m_home);
        QCOMPARE(resumed.status, 0);
        QTest::qWait(300); // the answers the killed run never read are counted already
        const Run unknown = cli({u"status"_s, m_campaign, u"--list"_s, u"unknown"_s}, m_home);
        QCOMPARE(unknown.status, 0);
        const QStringList unknowns = unknown.out.split(u'\n', Qt::SkipEmptyParts);
        QVERIFY2(unknowns.size() <= 16, qPrintable(unknown.out));
        const QHash<QString, int> counts = m_server.acceptedPerAddress();
        for (int n = 1; n <= Count; ++n) {
            const QString address = u"r%1@example.com"_s.arg(n);
            if (unknowns.contains(address))
                QVERIFY2(counts.value(address) <= 1, qPrintable(address));
            else
                QVERIFY2(counts.value(address) == 1, qPrintable(address + u": "_s + QString::number(counts.value(address))));
        }
        QVERIFY(resumed.err.contains(u"skipped"_s));
    }

    // Every third request throttled: each recipient accepted once in the end, the run slowed
    // down and said so, the journal's retries read back as nothing but the outcome.
    void throttlingIsRetried()
    {
        writeCampaign(9);
        m_server.setAnswer(m_accepted);
        m_server.setTurnAwayEvery(3, {400, FakeSesServer::throttlingDocument()});
        const Run run = cli(command(u"send @C --yes --rate 20"_s), m_home);
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out.count(u"\taccepted\t"_s), 9);
        QCOMPARE(run.out.count(u'\n'), 9);
        QVERIFY2(run.err.contains(u"(Maximum sending rate exceeded.): slowing to 10 messages per second (of 20)"_s),
                 qPrintable(run.err));
        QCOMPARE(m_server.acceptedMessages(), 9);
        for (int count : m_server.acceptedPerAddress())
            QCOMPARE(count, 1);
        QVERIFY(readFile(journalPath()).contains("\tretry\tMaximum sending rate exceeded.\n"));
        const Run status = cli({u"status"_s, m_campaign}, m_home);
        QVERIFY2(status.out.startsWith(u"accepted:   9\nfailed:     0\nunknown:    0\nsaved:      0\nnever sent: 0\n"_s),
                 qPrintable(status.out));
    }

    // Off a terminal a run longer than five seconds says where it stands every five seconds,
    // on standard error; standard output keeps one line per recipient.
    void summaryLinesOffATerminal()
    {
        writeCampaign(6);
        m_server.setAnswer(m_accepted);
        const Run run = cli(command(u"send @C --yes --rate 1"_s), m_home);
        QVERIFY2(run.status == 0, qPrintable(run.err));
        QCOMPARE(run.out.count(u"\taccepted\t"_s), 6);
        static const QRegularExpression summary(
            u"^brisko-cli send: [1-6] of 6 sent, [0-6] accepted, 0 failed, 0 unknown, 1\\.0/s, \\d+:\\d\\d left$"_s,
            QRegularExpression::MultilineOption);
        QVERIFY2(summary.match(run.err).hasMatch(), qPrintable(run.err));
        QVERIFY(!run.out.contains(u" sent, "_s));
    }

    // The daily quota ends the run: exit 2, the rest unsent and told; a later send sends only them.
    void dailyQuotaStopsAndResumes()
    {
        writeCampaign(9);
        m_server.setAnswer(m_accepted);
        m_server.setDailyQuota(5);
        const Run run = cli(command(u"send @C --yes --rate 10"_s), m_home); // one request at a time
        QCOMPARE(run.status, 2);
        QCOMPARE(run.out.count(u"\taccepted\t"_s), 5);
        QCOMPARE(run.out.count(u'\n'), 5);
        QVERIFY2(run.err.contains(u"24-hour sending quota is used up"_s) && run.err.contains(u"4 recipient(s) not sent"_s),
                 qPrintable(run.err));
        QTest::qWait(100);
        QCOMPARE(sentTo().size(), 6); // nothing after the refusal
        const Run status = cli({u"status"_s, m_campaign}, m_home);
        QVERIFY2(status.out.startsWith(u"accepted:   5\nfailed:     0\nunknown:    0\nsaved:      0\nnever sent: 4\n"_s),
                 qPrintable(status.out));

        m_server.setDailyQuota(-1);
        const Run later = cli(command(u"send @C --yes --rate 20"_s), m_home);
        QCOMPARE(later.status, 0);
        QCOMPARE(later.out.count(u"\taccepted\t"_s), 4);
        QCOMPARE(m_server.acceptedMessages(), 9);
        for (int count : m_server.acceptedPerAddress())
            QCOMPARE(count, 1);
    }

    // The send rate stored by the window's account panel paces the run: no quota request,
    // which this service would refuse.
    void storedSendRate()
    {
        const QString home = m_dir.filePath(u"rated"_s);
        writeFile(home + u"/.config/Brisko/Brisko.conf"_s,
                  "[General]\nAccessKey=AKIDCLISEND\nSecretKey=cli/Send+Secret000000000000000000000000\n"
                  "SendRate=25\n");
        m_server.setAnswer(m_accepted);
        m_server.setAnswerFor(u"GetSendQuota"_s, {403, FakeSesServer::errorDocument(u"Denied"_s, u"No."_s)});
        const Run run = cli(command(u"send @C --yes"_s), home);
        QCOMPARE(run.status, 0);
        QStringList actions;
        for (const RecordedRequest &request : m_server.requests())
            actions.append(request.action());
        QCOMPARE(actions, QStringList(3, u"SendRawEmail"_s));
    }
};

QTEST_GUILESS_MAIN(TestCliSend)
#include "tst_cli_send.moc"

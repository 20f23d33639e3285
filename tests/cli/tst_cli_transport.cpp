// brisko-cli send through an SMTP server on the loopback address and into an outbox folder:
// outcome lines, exit status, the transport options and their refusals.

#include "../mail/SmtpTestServer.h"
#include "CampaignFile.h"
#include "CliRun.h"
#include "SendJournal.h"

#include <QScopeGuard>
#include <QTemporaryDir>

using namespace brisko;

class TestCliTransport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_home = m_dir.filePath(u"home"_s);
    const QString m_campaign = m_dir.filePath(u"c.brisko"_s);

    QStringList send(const QString &words) const
    {
        return QStringList{u"send"_s, m_campaign, u"--yes"_s} + words.split(u' ', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase()
    {
        CampaignDocument document;
        document.subject = u"Hello __NAME__"_s;
        document.from = u"Ann <ann@example.com>"_s;
        document.body = u"Hi __NAME__"_s;
        document.recipients =
            RecipientList{makeRecipient({{u"EMAIL"_s, u"r1@example.com"_s}, {u"NAME"_s, u"One"_s}}),
                          makeRecipient({{u"EMAIL"_s, u"r2@example.com"_s}, {u"NAME"_s, u"Two"_s}})};
        QCOMPARE(CampaignFile::write(m_campaign, document), std::nullopt);
        // No SES credentials at all: SMTP and the outbox need none.
        writeFile(m_home + u"/.config/Brisko/Brisko.conf"_s, "[General]\nSMTPPassword=from-preferences\n");
    }

    // Each case sends afresh: no earlier case's journal makes it skip anyone.
    void init() { QFile::remove(m_campaign + u".sent"_s); }

    void sendsThroughSmtp_data()
    {
        QTest::addColumn<QStringList>("server");
        QTest::addColumn<QString>("words");
        QTest::addColumn<QStringList>("env");
        QTest::addColumn<QString>("out");
        QTest::addColumn<int>("status");
        const QString accepted =
            u"r1@example.com\taccepted\tSuccess!\nr2@example.com\taccepted\tSuccess!\n"_s;
        QTest::newRow("plain") << QStringList() << QString() << QStringList() << accepted << 0;
        QTest::newRow("refused recipient")
            << QStringList{u"--refuse"_s, u"r1@example.com"_s} << QString() << QStringList()
            << u"r1@example.com\tfailed\t550 5.1.1 <r1@example.com>: Recipient address rejected: no such "
               u"user\n"
               u"r2@example.com\taccepted\tSuccess!\n"_s
            << 1;
        QTest::newRow("password from the environment")
            << QStringList{u"--auth"_s, u"me:env-secret"_s} << u"--smtp-user me"_s
            << QStringList{u"BRISKO_SMTP_PASSWORD=env-secret"_s} << accepted << 0;
        QTest::newRow("password from the preferences")
            << QStringList{u"--auth"_s, u"me:from-preferences"_s} << u"--smtp-user me"_s << QStringList()
            << accepted << 0;
    }
    void sendsThroughSmtp()
    {
        QFETCH(QStringList, server);
        QFETCH(QString, words);
        QFETCH(QStringList, env);
        QFETCH(QString, out);
        QFETCH(int, status);
        SmtpTestServer smtp;
        if (const QString why = smtp.start(server); !why.isEmpty())
            QSKIP(qPrintable(why));
        const Run run =
            cli(send(u"--transport smtp --smtp 127.0.0.1:%1 "_s.arg(smtp.port()) + words), m_home, env);
        QCOMPARE(run.out, out);
        QCOMPARE(run.status, status);
        const QList<QJsonObject> messages = smtp.messages(status == 0 ? 2 : 1);
        QCOMPARE(messages.last().value(u"subject").toString(), u"Hello __NAME__"_s);
        QCOMPARE(messages.last().value(u"text").toString().trimmed(), u"Hi Two"_s);
    }

    void writesTheOutbox()
    {
        const QString folder = m_dir.filePath(u"outbox"_s);
        const Run run =
            cli({u"send"_s, m_campaign, u"--transport"_s, u"outbox:"_s + folder, u"--rows"_s, u"2"_s});
        QCOMPARE(run.out, u"r2@example.com\taccepted\tSaved\n"_s);
        QCOMPARE(run.status, 0);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{u"0002-r2@example.com.eml"_s});
        QVERIFY(readFile(folder + u"/0002-r2@example.com.eml"_s).contains("To: r2@example.com"));
    }

    // The journal's events of a run as "address event detail" (the time left out).
    QStringList journal() const
    {
        QStringList events;
        for (const QString &line : QString::fromUtf8(readFile(m_campaign + u".sent"_s)).split(u'\n', Qt::SkipEmptyParts)) {
            const QStringList fields = line.split(u'\t');
            events.append(fields.mid(1).join(u' ').trimmed());
        }
        return events;
    }

    // An SMTP run is journalled as an SES one: each message on record before it leaves, the
    // server's reply with the queue id, the failure, and the unknown outcome of a message the
    // server had whole when it went away. The next run skips whoever may have it.
    void smtpRunsAreJournalledAndResumed()
    {
        const QString more = m_dir.filePath(u"three.brisko"_s);
        CampaignDocument document;
        document.from = u"ann@example.com"_s;
        document.body = u"Hi"_s;
        document.recipients = RecipientList{makeRecipient({{u"EMAIL"_s, u"r1@example.com"_s}}),
                                            makeRecipient({{u"EMAIL"_s, u"r2@example.com"_s}}),
                                            makeRecipient({{u"EMAIL"_s, u"r3@example.com"_s}})};
        QCOMPARE(CampaignFile::write(more, document), std::nullopt);
        SmtpTestServer smtp;
        if (const QString why = smtp.start({u"--refuse"_s, u"r2@example.com"_s, u"--drop-after-data"_s,
                                            u"r3@example.com"_s});
            !why.isEmpty())
            QSKIP(qPrintable(why));
        const QStringList words{u"send"_s, more, u"--yes"_s, u"--transport"_s, u"smtp"_s, u"--smtp"_s,
                                u"127.0.0.1:%1"_s.arg(smtp.port())};
        Run run = cli(words, m_home);
        QCOMPARE(run.status, 1);
        QStringList events;
        for (const QString &line : QString::fromUtf8(readFile(more + u".sent"_s)).split(u'\n', Qt::SkipEmptyParts))
            events.append(line.section(u'\t', 1, 2));
        QCOMPARE(events, (QStringList{u"r1@example.com\tsending"_s, u"r1@example.com\taccepted"_s,
                                      u"r2@example.com\tsending"_s, u"r2@example.com\tfailed"_s,
                                      u"r3@example.com\tsending"_s, u"r3@example.com\tunknown"_s}));
        const SendJournal::Replay replay = SendJournal::read(more + u".sent"_s);
        QVERIFY2(replay.outcomes.value(u"r1@example.com"_s).detail.startsWith(u"250 2.0.0 Ok: queued as "),
                 qPrintable(replay.outcomes.value(u"r1@example.com"_s).detail));
        QVERIFY(replay.outcomes.value(u"r2@example.com"_s).detail.contains(u"550"));
        QCOMPARE(smtp.messages(2).size(), 2);

        // Again: only the failed one is sent; the accepted and the unknown one are skipped.
        run = cli(words, m_home);
        QCOMPARE(run.out, u"r2@example.com\tfailed\t550 5.1.1 <r2@example.com>: Recipient address rejected: "
                          u"no such user\n"_s);
        QVERIFY2(run.err.contains(u"skipped 2 recipient(s)"), qPrintable(run.err));
        QTest::qWait(200);
        QCOMPARE(smtp.messages(2, 300).size(), 2);
    }

    // An outbox file is journalled as saved, with its path, and reached nobody: a second outbox
    // run and then a real one send to everyone again without --resend. A proof made after the
    // real run does not make anyone look unsent.
    void outboxRunsAreJournalledAsSaved()
    {
        const QString folder = m_dir.filePath(u"journalled"_s);
        const QStringList words{u"send"_s, m_campaign, u"--transport"_s, u"outbox:"_s + folder};
        const QString status = u"accepted:   %1\nfailed:     0\nunknown:    0\nsaved:      %2\nnever sent: 0\n"_s;
        Run run = cli(words);
        QCOMPARE(run.status, 0);
        QCOMPARE(journal(), (QStringList{u"r1@example.com sending"_s,
                                         u"r1@example.com saved "_s + folder + u"/0001-r1@example.com.eml"_s,
                                         u"r2@example.com sending"_s,
                                         u"r2@example.com saved "_s + folder + u"/0002-r2@example.com.eml"_s}));
        QCOMPARE(cli({u"status"_s, m_campaign}).out, status.arg(0).arg(2));
        QCOMPARE(cli({u"status"_s, m_campaign, u"--list"_s, u"saved"_s}).out,
                 u"r1@example.com\nr2@example.com\n"_s);

        QVERIFY(QFile::remove(folder + u"/0001-r1@example.com.eml"_s));
        run = cli(words);
        QCOMPARE(run.out, u"r1@example.com\taccepted\tSaved\nr2@example.com\taccepted\tSaved\n"_s);
        QVERIFY2(!run.err.contains(u"skipped"), qPrintable(run.err));
        QVERIFY(QFile::exists(folder + u"/0001-r1@example.com.eml"_s));

        SmtpTestServer smtp;
        if (const QString why = smtp.start({}); !why.isEmpty())
            QSKIP(qPrintable(why));
        run = cli(send(u"--transport smtp --smtp 127.0.0.1:%1"_s.arg(smtp.port())), m_home);
        QCOMPARE(run.out, u"r1@example.com\taccepted\tSuccess!\nr2@example.com\taccepted\tSuccess!\n"_s);
        QCOMPARE(smtp.messages(2).size(), 2);
        QCOMPARE(cli({u"status"_s, m_campaign}).out, status.arg(2).arg(0));

        run = cli(words);
        QVERIFY2(run.err.contains(u"nothing to send"), qPrintable(run.err));
        run = cli(words + QStringList{u"--resend"_s});
        QCOMPARE(run.status, 0);
        QCOMPARE(cli({u"status"_s, m_campaign}).out, status.arg(2).arg(0));
    }

    // No record, no message, whatever the transport.
    void unwritableJournalSendsNothing_data()
    {
        QTest::addColumn<bool>("outbox");
        QTest::newRow("smtp") << false;
        QTest::newRow("outbox") << true;
    }
    void unwritableJournalSendsNothing()
    {
        QFETCH(bool, outbox);
        QVERIFY(QDir().mkpath(m_campaign + u".sent"_s));
        const auto cleanUp = qScopeGuard([this] { QDir(m_campaign + u".sent"_s).removeRecursively(); });
        const QString folder = m_dir.filePath(u"blocked"_s);
        SmtpTestServer smtp;
        if (!outbox) {
            if (const QString why = smtp.start({}); !why.isEmpty())
                QSKIP(qPrintable(why));
        }
        const Run run = cli(send(outbox ? u"--transport outbox:"_s + folder
                                        : u"--transport smtp --smtp 127.0.0.1:%1"_s.arg(smtp.port())),
                            m_home);
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(u"send journal"), qPrintable(run.err));
        QCOMPARE(run.out, QString());
        if (outbox)
            QVERIFY(QDir(folder).isEmpty());
        else
            QCOMPARE(smtp.messages(1, 300).size(), 0);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QString>("err");
        QTest::addColumn<int>("status");
        QTest::newRow("unknown transport")
            << u"--transport carrier-pigeon"_s << u"--transport is ses, smtp or outbox:DIR"_s << 2;
        QTest::newRow("outbox without folder") << u"--transport outbox:"_s << u"needs a folder"_s << 2;
        QTest::newRow("bad port") << u"--transport smtp --smtp host:70000"_s << u"--smtp needs HOST"_s << 2;
        QTest::newRow("no server") << u"--transport smtp"_s << u"no SMTP server set"_s << 1;
        QTest::newRow("ses without keys") << u"--transport ses"_s << u"no access key stored"_s << 1;
        // The password is never taken from the command line.
        QTest::newRow("password option")
            << u"--transport smtp --smtp-password x"_s << u"smtp-password"_s << 2;
    }
    void refusals()
    {
        QFETCH(QString, words);
        QFETCH(QString, err);
        QFETCH(int, status);
        const Run run = cli(send(words), m_home);
        QVERIFY2(run.err.contains(err), qPrintable(run.err));
        QCOMPARE(run.status, status);
        QCOMPARE(run.out, QString());
    }
};

QTEST_GUILESS_MAIN(TestCliTransport)
#include "tst_cli_transport.moc"

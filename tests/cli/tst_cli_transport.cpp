// brisko-cli send through an SMTP server on the loopback address and into an outbox folder:
// outcome lines, exit status, the transport options and their refusals.

#include "../mail/SmtpTestServer.h"
#include "CampaignFile.h"
#include "CliRun.h"

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

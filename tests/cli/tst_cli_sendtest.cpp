// brisko-cli send-test and --configuration-set against the stand-in service: the test message
// reaches the given addresses only and no journal is written; the configuration set and the
// campaign tag travel with every SendRawEmail.

#include "../mail/FakeSesServer.cpp"
#include "CampaignFile.h"
#include "CliRun.h"

#include <QTemporaryDir>

using namespace brisko;

class TestCliSendTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    const QString m_home = m_dir.filePath(u"home"_s);
    const QString m_campaign = m_dir.filePath(u"Spring Sale.brisko"_s);
    FakeSesServer m_server;

    QList<RecordedRequest> sent() const
    {
        QList<RecordedRequest> requests;
        for (const RecordedRequest &request : m_server.requests()) {
            if (request.action() == u"SendRawEmail")
                requests.append(request);
        }
        return requests;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        // A pace of its own, so that the test messages need not wait a second each.
        writeFile(m_home + u"/.config/Brisko/Brisko.conf"_s,
                  "[General]\nAccessKey=AKIDCLITEST\nSecretKey=cli/Test+Secret000000000000000000000000\n"
                  "SendRate=50\n");
        CampaignDocument document;
        document.subject = u"Spring offer"_s;
        document.from = u"Ann <ann@example.com>"_s;
        document.body = u"Hi __EMAIL__"_s;
        document.recipients = RecipientList();
        for (int n = 1; n <= 3; ++n)
            document.recipients->append(makeRecipient({{u"EMAIL"_s, u"r%1@example.com"_s.arg(n)}}));
        QCOMPARE(CampaignFile::write(m_campaign, document), std::nullopt);
    }

    void init()
    {
        m_server.clear();
        m_server.setAnswer({200, "<SendRawEmailResponse><SendRawEmailResult><MessageId>m-1</MessageId>"
                                 "</SendRawEmailResult></SendRawEmailResponse>"});
    }

    void sendTest_data()
    {
        QTest::addColumn<QStringList>("arguments"); // after "send-test CAMPAIGN"
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("to");  // the addresses mailed, in order
        QTest::addColumn<QString>("merged");  // the row whose address the body shows
        QTest::addColumn<QString>("told");    // in standard error
        const QString one = u"tester@example.org"_s;
        QTest::newRow("first row by default")
            << QStringList{u"--to"_s, one} << 0 << QStringList{one} << u"r1@example.com"_s
            << u"the message of row 1 (r1@example.com) to 1 test address(es): 1 accepted, 0 failed, 0 unknown"_s;
        QTest::newRow("several --to, row 3")
            << QStringList{u"--to"_s, one, u"--to"_s, u"boss@example.org,  pal@example.org"_s, u"--row"_s, u"3"_s}
            << 0 << QStringList{one, u"boss@example.org"_s, u"pal@example.org"_s} << u"r3@example.com"_s
            << u"3 accepted"_s;
        QTest::newRow("bad address") << QStringList{u"--to"_s, one, u"--to"_s, u"nope"_s} << 2 << QStringList()
                                     << QString() << u"--to: \"nope\" is not an e-mail address."_s;
        QTest::newRow("no --to") << QStringList() << 2 << QStringList() << QString() << u"--to ADDRESS"_s;
        QTest::newRow("row past the end") << QStringList{u"--to"_s, one, u"--row"_s, u"4"_s} << 2 << QStringList()
                                          << QString() << u"no row 4"_s;
        QTest::newRow("row 0") << QStringList{u"--to"_s, one, u"--row"_s, u"0"_s} << 2 << QStringList() << QString()
                               << u"--row needs a row number from 1"_s;
        QTest::newRow("bad configuration set")
            << QStringList{u"--to"_s, one, u"--configuration-set"_s, u"events.prod"_s} << 2 << QStringList()
            << QString() << u"\".\" is not allowed"_s;
    }

    // Exactly the given addresses get the message of the row, marked as a test; the journal
    // file is never made.
    void sendTest()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QStringList, to);
        QFETCH(QString, merged);
        QFETCH(QString, told);
        const Run run =
            cli(QStringList{u"send-test"_s, m_campaign, u"--endpoint"_s, m_server.endpoint()} + arguments, m_home);
        QCOMPARE(run.status, status);
        QVERIFY2(run.err.contains(told), qPrintable(run.err));
        QStringList lines;
        for (const QString &address : to)
            lines.append(address + u"\taccepted\tMessageId: m-1"_s);
        QCOMPARE(run.out, lines.isEmpty() ? QString() : lines.join(u'\n') + u'\n');
        const QList<RecordedRequest> requests = sent();
        QCOMPARE(requests.size(), to.size());
        for (qsizetype n = 0; n < requests.size(); ++n) {
            const QMap<QString, QString> form = requests.at(n).form();
            QCOMPARE(form.value(u"Destinations.member.1"_s), to.at(n));
            QCOMPARE(form.value(u"Tags.member.1.Value"_s), u"Spring_Sale"_s);
            QCOMPARE(form.value(u"Tags.member.2.Value"_s), u"true"_s);
            const QString raw =
                QString::fromUtf8(QByteArray::fromBase64(form.value(u"RawMessage.Data"_s).toLatin1()));
            QVERIFY(raw.contains(u"\nTo: "_s + to.at(n)));
            QVERIFY(raw.contains(u"Subject: [Test] Spring offer"_s));
            QVERIFY(raw.contains(u"Hi "_s + merged));
        }
        QVERIFY(!QFile::exists(m_campaign + u".sent"_s));
    }

    // The service's refusal is printed, and the exit status says not every test was accepted.
    void sendTestRefused()
    {
        m_server.setAnswer({400, FakeSesServer::errorDocument(u"MessageRejected"_s, u"Email address is not verified."_s)});
        const Run run = cli({u"send-test"_s, m_campaign, u"--endpoint"_s, m_server.endpoint(), u"--to"_s,
                             u"tester@example.org"_s},
                            m_home);
        QCOMPARE(run.status, 1);
        QCOMPARE(run.out, u"tester@example.org\tfailed\tEmail address is not verified.\n"_s);
        QVERIFY(!QFile::exists(m_campaign + u".sent"_s));
    }

    // --configuration-set names the set on every message of a run, for that run only.
    void sendWithConfigurationSet()
    {
        const QStringList common{u"--endpoint"_s, m_server.endpoint(), u"--yes"_s, u"--rate"_s, u"50"_s,
                                 u"--resend"_s};
        Run run = cli(QStringList{u"send"_s, m_campaign, u"--configuration-set"_s, u"Events-1"_s} + common, m_home);
        QCOMPARE(run.status, 0);
        QCOMPARE(sent().size(), 3);
        for (const RecordedRequest &request : sent()) {
            QCOMPARE(request.form().value(u"ConfigurationSetName"_s), u"Events-1"_s);
            QCOMPARE(request.form().value(u"Tags.member.1.Name"_s), u"campaign"_s);
            QCOMPARE(request.form().value(u"Tags.member.1.Value"_s), u"Spring_Sale"_s);
            QVERIFY(!request.form().contains(u"Tags.member.2.Name"_s));
        }
        m_server.clear();
        m_server.setAnswer({200, "<SendRawEmailResponse/>"});
        run = cli(QStringList{u"send"_s, m_campaign} + common, m_home);
        QCOMPARE(run.status, 0);
        QCOMPARE(sent().size(), 3);
        QVERIFY(!sent().first().form().contains(u"ConfigurationSetName"_s));
        QFile::remove(m_campaign + u".sent"_s);
    }
};

QTEST_GUILESS_MAIN(TestCliSendTest)
#include "tst_cli_sendtest.moc"

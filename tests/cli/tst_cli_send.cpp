// brisko-cli send as a script would use it: the real binary against the stand-in service
// (through --endpoint), with preferences of its own: outcome lines, exit statuses, rows,
// the refusal without --yes, and Ctrl-C.

// The stand-in service is shared with the mail tests.
#include "../mail/FakeSesServer.cpp"

#include "CampaignFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace Qt::StringLiterals;
using namespace brisko;

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

const QByteArray SendAnswer = "<SendRawEmailResponse><SendRawEmailResult><MessageId>m-1</MessageId>"
                              "</SendRawEmailResult></SendRawEmailResponse>";

} // namespace

class TestCliSend : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void outcomesAndStatus_data();
    void outcomesAndStatus();
    void wrongOptions_data();
    void wrongOptions();
    void interruptWaitsForAnswersInFlight();

private:
    QProcessEnvironment environment(const QString &home) const;
    Run cli(const QStringList &arguments, const QString &home = QString());
    void writeCampaign(int count);

    QTemporaryDir m_dir;
    QString m_home;
    QString m_campaign;
    FakeSesServer m_server;
};

void TestCliSend::initTestCase()
{
    QVERIFY2(QFile::exists(qEnvironmentVariable("BRISKO_CLI")), "BRISKO_CLI must name the built brisko-cli");
    QVERIFY(m_dir.isValid());
    QVERIFY(m_server.listen());
    m_home = m_dir.filePath(u"home"_s);
    QVERIFY(QDir().mkpath(m_home + u"/.config/Brisko"_s));
    QFile file(m_home + u"/.config/Brisko/Brisko.conf"_s);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[General]\nAccessKey=AKIDCLISEND\nSecretKey=cli/Send+Secret000000000000000000000000\n");
    file.close();
    m_campaign = m_dir.filePath(u"campaign.brisko"_s);
    writeCampaign(3);
}

void TestCliSend::init()
{
    m_server.clear();
    m_server.setAnswer({200, SendAnswer});
}

void TestCliSend::writeCampaign(int count)
{
    CampaignDocument document;
    document.subject = u"News"_s;
    document.from = u"Ann <ann@example.com>"_s;
    document.body = u"Hi __NAME__"_s;
    document.html = u"<p>Hi __NAME__</p>"_s;
    document.columns = QStringList{u"EMAIL"_s, u"NAME"_s};
    RecipientList list;
    const QStringList names = {u"one"_s, u"two"_s, u"three"_s};
    for (int n = 0; n < count; ++n) {
        const QString name = n < names.size() ? names.at(n) : u"r%1"_s.arg(n + 1);
        list.append(makeRecipient({{u"EMAIL"_s, name + u"@example.com"_s}, {u"NAME"_s, name}}));
    }
    document.recipients = list;
    QCOMPARE(CampaignFile::write(m_campaign, document), std::nullopt);
}

QProcessEnvironment TestCliSend::environment(const QString &home) const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_REGION"})
        env.remove(QString::fromLatin1(name));
    const QString folder = home.isEmpty() ? m_home : home;
    env.insert(u"HOME"_s, folder);
    env.insert(u"XDG_CONFIG_HOME"_s, folder + u"/.config"_s);
    return env;
}

Run TestCliSend::cli(const QStringList &arguments, const QString &home)
{
    QProcess process;
    process.setProcessEnvironment(environment(home));
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(qEnvironmentVariable("BRISKO_CLI"), arguments);
    process.closeWriteChannel();
    Run run;
    // The event loop must run meanwhile: the stand-in answers from it.
    if (finished.isEmpty() && !finished.wait(30000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TestCliSend::outcomesAndStatus_data()
{
    QTest::addColumn<QStringList>("extra");
    QTest::addColumn<int>("answerStatus");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<int>("exitStatus");
    const QStringList all = {u"one@example.com"_s, u"two@example.com"_s, u"three@example.com"_s};
    QTest::newRow("every recipient accepted")
        << QStringList() << 200 << SendAnswer << all << u"accepted\tSuccess!"_s << 0;
    QTest::newRow("rows in row order")
        << QStringList{u"--rows"_s, u"3,1"_s} << 200 << SendAnswer
        << QStringList{u"one@example.com"_s, u"three@example.com"_s} << u"accepted\tSuccess!"_s << 0;
    QTest::newRow("service refuses") << QStringList() << 400
                                     << FakeSesServer::errorDocument(u"MessageRejected"_s,
                                                                     u"Email address is not verified."_s)
                                     << all << u"failed\tEmail address is not verified."_s << 1;
    QTest::newRow("error document without message")
        << QStringList() << 400 << FakeSesServer::errorDocument(u"Throttling"_s, std::nullopt) << all
        << u"failed\tThrottling"_s << 1;
    QTest::newRow("HTTP error without document")
        << QStringList() << 500 << QByteArray("oops") << all << u"failed\tHTTP 500 Whatever: oops"_s << 1;
}

void TestCliSend::outcomesAndStatus()
{
    QFETCH(QStringList, extra);
    QFETCH(int, answerStatus);
    QFETCH(QByteArray, answer);
    QFETCH(QStringList, addresses);
    QFETCH(QString, outcome);
    QFETCH(int, exitStatus);
    m_server.setAnswer({answerStatus, answer});
    const Run run = cli(QStringList{u"send"_s, m_campaign, u"--yes"_s, u"--rate"_s, u"20"_s, u"--endpoint"_s,
                                    m_server.endpoint()} +
                        extra);
    QCOMPARE(run.status, exitStatus);
    QStringList expected;
    for (const QString &address : addresses)
        expected.append(address + u'\t' + outcome);
    QCOMPARE(run.out.split(u'\n', Qt::SkipEmptyParts), expected);
    // Progress as plain lines when standard error is not a terminal, then a summary.
    QStringList progress;
    for (qsizetype n = 0; n < addresses.size(); ++n)
        progress.append(u"sending %1 of %2: %3"_s.arg(n + 1).arg(addresses.size()).arg(addresses.at(n)));
    const QStringList err = run.err.split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(err.mid(0, progress.size()), progress);
    QVERIFY2(
        err.last().startsWith(u"brisko-cli send: %1 accepted"_s.arg(exitStatus == 0 ? addresses.size() : 0)),
        qPrintable(run.err));

    QCOMPARE(m_server.requests().size(), addresses.size());
    for (qsizetype n = 0; n < addresses.size(); ++n) {
        const RecordedRequest request = m_server.requests().at(n);
        QCOMPARE(request.action(), u"SendRawEmail"_s);
        QCOMPARE(request.form().value(u"Destinations.member.1"_s), addresses.at(n));
    }
}

void TestCliSend::wrongOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    const QString c = u"CAMPAIGN"_s;
    QTest::newRow("no --yes and no terminal")
        << QStringList{u"send"_s, c, u"--rate"_s, u"5"_s} << 2 << u"add --yes to send"_s;
    QTest::newRow("no file") << QStringList{u"send"_s, u"--yes"_s} << 2 << u"name one campaign file"_s;
    QTest::newRow("missing file") << QStringList{u"send"_s, u"/nonexistent/x.brisko"_s, u"--yes"_s} << 1
                                  << u"no such file"_s;
    QTest::newRow("rate 0") << QStringList{u"send"_s, c, u"--yes"_s, u"--rate"_s, u"0"_s} << 2 << u"--rate"_s;
    QTest::newRow("row past the end")
        << QStringList{u"send"_s, c, u"--yes"_s, u"--rows"_s, u"1,4"_s} << 2 << u"no row 4"_s;
    QTest::newRow("backwards range") << QStringList{u"send"_s, c, u"--yes"_s, u"--rows"_s, u"3-2"_s} << 2
                                     << u"'3-2'"_s;
    QTest::newRow("signature") << QStringList{u"send"_s, c, u"--yes"_s, u"--signature"_s, u"v5"_s} << 2
                               << u"--signature"_s;
}

void TestCliSend::wrongOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    arguments.replaceInStrings(u"CAMPAIGN"_s, m_campaign);
    const Run run = cli(arguments + QStringList{u"--endpoint"_s, m_server.endpoint()});
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(run.out, QString());
    QTest::qWait(50);
    QVERIFY(m_server.requests().isEmpty());
}

// Ctrl-C stops like Cancel: nothing more leaves, the answers in flight are waited for and
// printed, and the status is not 0.
void TestCliSend::interruptWaitsForAnswersInFlight()
{
    writeCampaign(40);
    m_server.setAnswer({200, SendAnswer, 1, 0, 800});
    QProcess process;
    process.setProcessEnvironment(environment(QString()));
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(qEnvironmentVariable("BRISKO_CLI"), {u"send"_s, m_campaign, u"--yes"_s, u"--rate"_s,
                                                       u"10"_s, u"--endpoint"_s, m_server.endpoint()});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(m_server.requests().size() >= 3, 10000);
    ::kill(pid_t(process.processId()), SIGINT);
    QVERIFY(finished.wait(15000));
    const int sent = int(m_server.requests().size());
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 130);
    const QStringList lines =
        QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(sent < 10, qPrintable(QString::number(sent)));
    QCOMPARE(lines.size(), sent); // every message that left got its answer printed
    for (const QString &line : lines)
        QVERIFY(line.endsWith(u"\taccepted\tSuccess!"_s));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    QVERIFY2(err.contains(u"interrupted"_s), qPrintable(err));
    QVERIFY2(err.contains(u"%1 not sent"_s.arg(40 - sent)), qPrintable(err));
    writeCampaign(3);
}

QTEST_GUILESS_MAIN(TestCliSend)
#include "tst_cli_send.moc"

// brisko-cli quota / stats / verify / preview as a script would use them: the real binary
// against the stand-in service (through --endpoint), with preferences of its own.

// The stand-in service is shared with the mail tests.
#include "../mail/FakeSesServer.cpp"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

const QString SecretKey = u"cli/Secret+Key0000000000000000000000000"_s;

} // namespace

class TestCliAccount : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void quotaFromPreferences();
    void overrides_data();
    void overrides();
    void quotaRefusedOrUnanswered_data();
    void quotaRefusedOrUnanswered();
    void quotaWithoutCredentials();
    void statistics();
    void verifyEachAddress();
    void wrongOptions_data();
    void wrongOptions();
    void previewRow();

private:
    // Runs brisko-cli with the test's preferences while the stand-in answers.
    Run cli(const QStringList &arguments, const QMap<QString, QString> &environment = {},
            const QString &home = QString());
    void writePreferences(const QString &home, const QByteArray &text);

    QTemporaryDir m_dir;
    QString m_home;
    FakeSesServer m_server;
};

void TestCliAccount::initTestCase()
{
    QVERIFY2(QFile::exists(qEnvironmentVariable("BRISKO_CLI")), "BRISKO_CLI must name the built brisko-cli");
    QVERIFY(m_dir.isValid());
    QVERIFY(m_server.listen());
    m_home = m_dir.filePath(u"home"_s);
    writePreferences(m_home, "[General]\nAccessKey=AKIDCLITEST\nSecretKey=" + SecretKey.toLatin1()
                                 + "\nRegion=eu-west-1\n");
}

void TestCliAccount::init()
{
    m_server.clear();
}

void TestCliAccount::writePreferences(const QString &home, const QByteArray &text)
{
    QVERIFY(QDir().mkpath(home + u"/.config/Brisko"_s));
    QFile file(home + u"/.config/Brisko/Brisko.conf"_s);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

Run TestCliAccount::cli(const QStringList &arguments, const QMap<QString, QString> &environment, const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"AWS_ACCESS_KEY_ID", "AWS_SECRET_ACCESS_KEY", "AWS_REGION"})
        env.remove(QString::fromLatin1(name));
    const QString folder = home.isEmpty() ? m_home : home;
    env.insert(u"HOME"_s, folder);
    env.insert(u"XDG_CONFIG_HOME"_s, folder + u"/.config"_s);
    for (auto it = environment.cbegin(); it != environment.cend(); ++it)
        env.insert(it.key(), it.value());

    QProcess process;
    process.setProcessEnvironment(env);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(qEnvironmentVariable("BRISKO_CLI"), arguments);
    Run run;
    // The event loop must run meanwhile: the stand-in answers from it.
    if (finished.isEmpty() && !finished.wait(30000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void TestCliAccount::quotaFromPreferences()
{
    m_server.setAnswer({200, FakeSesServer::quotaDocument(u"50000.0"_s, u"14.0"_s, u"127.0"_s)});
    const Run run = cli({u"quota"_s, u"--endpoint"_s, m_server.endpoint()});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, u"Max24HourSend: 50000.0\nMaxSendRate: 14.0\nSentLast24Hours: 127.0\n"_s);
    QCOMPARE(run.err, QString()); // no request chatter without --verbose

    QCOMPARE(m_server.requests().size(), 1);
    const RecordedRequest request = m_server.requests().first();
    QCOMPARE(request.body, QByteArray("Action=GetSendQuota&Version=2010-12-01"));
    const QByteArray authorization = request.header("Authorization");
    QVERIFY(authorization.startsWith("AWS4-HMAC-SHA256 Credential=AKIDCLITEST/"));
    QVERIFY(authorization.contains("/eu-west-1/ses/aws4_request"));
    if (pythonInterpreter().isEmpty())
        QSKIP("python3 is not installed");
    const auto reference = referenceSigV4Signature(request, SecretKey.toUtf8(), "eu-west-1", "ses");
    QVERIFY(reference);
    QCOMPARE(authorization.mid(authorization.indexOf("Signature=") + 10), *reference);
}

void TestCliAccount::overrides_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("environment"); // name=value
    QTest::addColumn<QByteArray>("expected");     // in the authorization header or the body
    QTest::newRow("--region") << QStringList{u"--region"_s, u"us-west-2"_s} << QStringList{}
                              << QByteArray("AKIDCLITEST/") + "%1/us-west-2/ses/";
    QTest::newRow("environment") << QStringList{}
                                 << QStringList{u"AWS_ACCESS_KEY_ID=AKFROMENV"_s, u"AWS_REGION=ap-south-1"_s}
                                 << QByteArray("AKFROMENV/%1/ap-south-1/ses/");
    QTest::newRow("--region beats the environment")
        << QStringList{u"--region"_s, u"sa-east-1"_s} << QStringList{u"AWS_REGION=ap-south-1"_s}
        << QByteArray("AKIDCLITEST/%1/sa-east-1/ses/");
    QTest::newRow("--signature v3") << QStringList{u"--signature"_s, u"v3"_s} << QStringList{}
                                    << QByteArray("Action=GetSendQuota&AWSAccessKeyId=AKIDCLITEST&SignatureVersion=2"
                                                  "&SignatureMethod=HmacSHA256&Version=2010-12-01");
}

void TestCliAccount::overrides()
{
    QFETCH(QStringList, options);
    QFETCH(QStringList, environment);
    QFETCH(QByteArray, expected);
    QMap<QString, QString> env;
    for (const QString &pair : environment)
        env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    const Run run = cli(QStringList{u"quota"_s, u"--endpoint"_s, m_server.endpoint()} + options, env);
    QCOMPARE(run.status, 0);
    QCOMPARE(m_server.requests().size(), 1);
    const RecordedRequest request = m_server.requests().first();
    if (expected.startsWith("Action=")) {
        QCOMPARE(request.body, expected);
        QVERIFY(request.header("X-Amzn-Authorization").startsWith("AWS3-HTTPS AWSAccessKeyId=AKIDCLITEST, "));
        QVERIFY(!request.header("Date").isEmpty());
    } else {
        const QByteArray scope = QByteArray(expected).replace("%1", request.header("X-Amz-Date").left(8));
        QVERIFY2(request.header("Authorization").contains(scope), request.header("Authorization").constData());
    }
}

void TestCliAccount::quotaRefusedOrUnanswered_data()
{
    QTest::addColumn<CannedAnswer>("answer");
    QTest::addColumn<QString>("told");
    QTest::newRow("refused") << CannedAnswer{403, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s,
                                                                               u"The token is invalid."_s)}
                             << u"InvalidClientTokenId: The token is invalid."_s;
    QTest::newRow("timeout") << CannedAnswer{200, QByteArray("<x/>"), 1, 0, 4000} << u"timeout"_s;
}

void TestCliAccount::quotaRefusedOrUnanswered()
{
    QFETCH(CannedAnswer, answer);
    QFETCH(QString, told);
    m_server.setAnswer(answer);
    const Run run = cli({u"quota"_s, u"--endpoint"_s, m_server.endpoint(), u"--timeout"_s, u"0.5"_s});
    QCOMPARE(run.status, 1);
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.contains(told), qPrintable(run.err));
}

void TestCliAccount::quotaWithoutCredentials()
{
    const QString empty = m_dir.filePath(u"empty-home"_s);
    QVERIFY(QDir().mkpath(empty));
    const Run run = cli({u"quota"_s, u"--endpoint"_s, m_server.endpoint()}, {}, empty);
    QCOMPARE(run.status, 1);
    QVERIFY(run.err.contains(u"no access key"_s));
    QCOMPARE(m_server.requests().size(), 0);
}

void TestCliAccount::statistics()
{
    const QByteArray document = FakeSesServer::statisticsDocument(
        {{8, u"2011-08-03T19:23:00Z"_s, 0, 1, 0}, {3, u"2011-08-03T19:38:00Z"_s, 1, 0, 2}});
    m_server.setAnswer({200, document, 3, 20});
    const Run raw = cli({u"stats"_s, u"--endpoint"_s, m_server.endpoint()});
    QCOMPARE(raw.status, 0);
    QCOMPARE(raw.out, QString::fromUtf8(document));
    QCOMPARE(m_server.requests().first().action(), u"GetSendStatistics"_s);

    const Run page = cli({u"stats"_s, u"--html"_s, u"--endpoint"_s, m_server.endpoint()});
    QCOMPARE(page.status, 0);
    QCOMPARE(page.out.count(u"<div class=\"statsection\" >"_s), 2);
    QVERIFY(page.out.contains(u"<P><b>Delivery Attempts</b> : 8</P>"_s));
    QVERIFY(page.out.contains(u"<style type=\"text/css\">"_s));
}

void TestCliAccount::verifyEachAddress()
{
    m_server.setAnswer({200, FakeSesServer::verifyDocument()});
    const Run run = cli({u"verify"_s, u"a@x.com"_s, u"b+tag@x.com"_s, u"c@x.com"_s, u"--signature"_s, u"v3"_s,
                         u"--endpoint"_s, m_server.endpoint()});
    QCOMPARE(run.status, 0);
    QCOMPARE(run.out, u"a@x.com: verification mail requested\nb+tag@x.com: verification mail requested\n"
                      "c@x.com: verification mail requested\n"_s);
    QCOMPARE(m_server.requests().size(), 3);
    QByteArrayList bodies;
    for (const RecordedRequest &request : m_server.requests())
        bodies.append(request.body.mid(request.body.indexOf("&EmailAddress=")));
    std::sort(bodies.begin(), bodies.end());
    QCOMPARE(bodies, QByteArrayList({"&EmailAddress=a%40x.com", "&EmailAddress=b%2Btag%40x.com",
                                     "&EmailAddress=c%40x.com"}));

    m_server.setAnswer({400, FakeSesServer::errorDocument(u"InvalidParameterValue"_s, u"Bad address."_s)});
    const Run refused = cli({u"verify"_s, u"bad"_s, u"--endpoint"_s, m_server.endpoint()});
    QCOMPARE(refused.status, 1);
    QVERIFY(refused.err.contains(u"Bad address."_s));
}

void TestCliAccount::wrongOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("signature v5") << QStringList{u"quota"_s, u"--signature"_s, u"v5"_s};
    QTest::newRow("endpoint not http") << QStringList{u"stats"_s, u"--endpoint"_s, u"ftp://x"_s};
    QTest::newRow("timeout zero") << QStringList{u"quota"_s, u"--timeout"_s, u"0"_s};
    QTest::newRow("verify nobody") << QStringList{u"verify"_s};
    QTest::newRow("preview without row") << QStringList{u"preview"_s, u"x.brisko"_s};
    QTest::newRow("preview row 0") << QStringList{u"preview"_s, u"x.brisko"_s, u"--row"_s, u"0"_s};
}

void TestCliAccount::wrongOptions()
{
    QFETCH(QStringList, arguments);
    const Run run = cli(arguments);
    QCOMPARE(run.status, 2);
    QVERIFY(!run.err.isEmpty());
    QCOMPARE(m_server.requests().size(), 0);
}

void TestCliAccount::previewRow()
{
    const QString json = m_dir.filePath(u"campaign.json"_s);
    const QString campaign = m_dir.filePath(u"campaign.brisko"_s);
    QFile file(json);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(u"{\"subject\": \"Gr\u00fc\u00dfe\", \"from\": \"Ann <ann@x.com>\", \"replyTo\": \"r@x.com\","
               " \"body\": \"Hi __NAME__\", \"html\": \"<p>__NAME__</p>\","
               " \"recipients\": [{\"EMAIL\": \"one@x.com\", \"NAME\": \"One\"},"
               " {\"EMAIL\": \"two@x.com\", \"NAME\": \"Two\"}]}"_s.toUtf8());
    file.close();
    QCOMPARE(cli({u"create"_s, campaign, u"--json"_s, json}).status, 0);

    const Run run = cli({u"preview"_s, campaign, u"--row"_s, u"2"_s});
    QCOMPARE(run.status, 0);
    const QStringList lines = run.out.split(u'\n');
    QCOMPARE(lines.mid(0, 4), QStringList({u"From: Ann <ann@x.com>"_s, u"To: two@x.com"_s, u"Reply-To: r@x.com"_s,
                                           u"Subject: =?UTF-8?B?R3LDvMOfZQ==?="_s}));
    QVERIFY(run.out.contains(u"Content-Disposition: inline\n\nHi Two\n\n--"_s));
    QVERIFY(run.out.contains(u"Content-Type: text/html; charset=\"UTF-8\"\n\n<p>Two</p>\n--"_s));
    QVERIFY(!run.out.contains(u"__NAME__"_s));

    const Run beyond = cli({u"preview"_s, campaign, u"--row"_s, u"3"_s});
    QCOMPARE(beyond.status, 1);
    QVERIFY(beyond.err.contains(u"no row 3"_s));
}

QTEST_GUILESS_MAIN(TestCliAccount)
#include "tst_cli_account.moc"

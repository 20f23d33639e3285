// brisko-cli quota / stats / verify / preview against the stand-in service, with preferences of its own.

#include "../mail/FakeSesServer.cpp"
#include "CliRun.h"

#include <QTemporaryDir>

class TestCliAccount : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeSesServer m_server;

    // @C is the test's campaign; every command but preview goes to the stand-in.
    Run run(QStringList arguments, const QStringList &env = {})
    {
        arguments.replaceInStrings(u"@C"_s, m_dir.filePath(u"c.brisko"_s));
        if (arguments.first() != u"preview"_s && !arguments.contains(u"--endpoint"_s))
            arguments << u"--endpoint"_s << m_server.endpoint();
        return cli(arguments, m_dir.filePath(u"home"_s), env);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        writeFile(m_dir.filePath(u"home/.config/Brisko/Brisko.conf"_s),
                  "[General]\nAccessKey=AKIDCLITEST\nSecretKey=cli/Secret+Key000\nRegion=eu-west-1\n");
        writeFile(m_dir.filePath(u"c.json"_s), R"({"subject": "Gr\u00fc\u00dfe", "from": "Ann <ann@x.com>",
            "replyTo": "r@x.com", "body": "Hi __NAME__", "html": "<p>__NAME__</p>",
            "recipients": [{"EMAIL": "one@x.com", "NAME": "One"}, {"EMAIL": "two@x.com", "NAME": "Two"}]})");
        const QString dir = m_dir.path();
        QCOMPARE(cli({u"create"_s, dir + u"/c.brisko"_s, u"--json"_s, dir + u"/c.json"_s}).status, 0);
    }

    void init() { m_server.clear(); }

    // A run's exit status, its standard output (when 0) or what standard error tells, the bodies
    // of the requests the stand-in got, sorted, and where given the credential scope signed with.
    void commands_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<CannedAnswer>("answer");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArrayList>("bodies");
        QTest::addColumn<QByteArray>("scope");
        QTest::addColumn<QStringList>("environment");
        const auto row = [](const char *name, const QString &words, const CannedAnswer &answer, int status,
                            const QString &text, const QByteArrayList &bodies = {},
                            const QByteArray &scope = {}, const QStringList &environment = {}) {
            QTest::newRow(name) << words << answer << status << text << bodies << scope << environment;
        };
        const CannedAnswer quota{200, FakeSesServer::quotaDocument(u"50000.0"_s, u"14.0"_s, u"127.0"_s)};
        const QString quotaText = u"Max24HourSend: 50000.0\nMaxSendRate: 14.0\nSentLast24Hours: 127.0\n"_s;
        const QByteArray v3 = "&AWSAccessKeyId=AKIDCLITEST&SignatureVersion=2&SignatureMethod=HmacSHA256";
        const QByteArrayList v4Quota{"Action=GetSendQuota&Version=2010-12-01"};
        row("preferences", u"quota"_s, quota, 0, quotaText, v4Quota, "AKIDCLITEST/%1/eu-west-1/ses/");
        row("environment", u"quota"_s, quota, 0, quotaText, v4Quota, "AKFROMENV/%1/ap-south-1/ses/",
            {u"AWS_ACCESS_KEY_ID=AKFROMENV"_s, u"AWS_REGION=ap-south-1"_s});
        row("--region beats the environment", u"quota --region sa-east-1"_s, quota, 0, quotaText, v4Quota,
            "AKIDCLITEST/%1/sa-east-1/ses/", {u"AWS_REGION=ap-south-1"_s});
        const QByteArray statistics =
            FakeSesServer::statisticsDocument({{8, u"2011-08-03T19:23:00Z"_s, 0, 1, 2}});
        row("stats", u"stats"_s, {200, statistics, 3, 20}, 0, QString::fromUtf8(statistics),
            {"Action=GetSendStatistics&Version=2010-12-01"});
        row("verify each address", u"verify a@x.com b+tag@x.com --signature v3"_s,
            {200, FakeSesServer::verifyDocument()}, 0,
            u"a@x.com: verification mail requested\nb+tag@x.com: verification mail requested\n"_s,
            {"Action=VerifyEmailAddress" + v3 + "&Version=2010-12-01&EmailAddress=a%40x.com",
             "Action=VerifyEmailAddress" + v3 + "&Version=2010-12-01&EmailAddress=b%2Btag%40x.com"});
        row("refused", u"quota --timeout 0.5"_s,
            {403, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"The token is invalid."_s)}, 1,
            u"InvalidClientTokenId: The token is invalid."_s, v4Quota);
        row("timeout", u"quota --timeout 0.5"_s, {200, "<x/>"_ba, 1, 0, 4000}, 1, u"timeout"_s, v4Quota);
        row("no credentials", u"quota"_s, {}, 1, u"no access key"_s, {}, {},
            {u"XDG_CONFIG_HOME="_s + m_dir.filePath(u"empty"_s)});
        row("preview row past the end", u"preview @C --row 3"_s, {}, 1, u"no row 3"_s);
        row("signature v5", u"quota --signature v5"_s, {}, 2, u"--signature is v4 or v3"_s);
        row("preview without row", u"preview @C"_s, {}, 2, u"--row N"_s);
    }

    void commands()
    {
        QFETCH(QString, words);
        QFETCH(CannedAnswer, answer);
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(QByteArrayList, bodies);
        QFETCH(QByteArray, scope);
        QFETCH(QStringList, environment);
        m_server.setAnswer(answer);
        const Run r = run(words.split(u' '), environment);
        QCOMPARE(r.status, status);
        QCOMPARE(r.out, status == 0 ? text : QString());
        QVERIFY(status == 0 ? r.err.isEmpty() : r.err.contains(text)); // no chatter
        QByteArrayList received;
        for (const RecordedRequest &request : m_server.requests())
            received.append(request.body);
        std::sort(received.begin(), received.end());
        QCOMPARE(received, bodies);
        if (!scope.isEmpty()) {
            const RecordedRequest request = m_server.requests().first();
            scope.replace("%1", request.header("X-Amz-Date").left(8));
            QVERIFY(request.header("Authorization").startsWith("AWS4-HMAC-SHA256 Credential=" + scope));
        }
    }

    // The raw message row 2 would be sent, merged.
    void previewRow()
    {
        const Run r = run({u"preview"_s, u"@C"_s, u"--row"_s, u"2"_s});
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out.split(u'\n').mid(0, 4),
                 QStringList({u"From: Ann <ann@x.com>"_s, u"To: two@x.com"_s, u"Reply-To: r@x.com"_s,
                              u"Subject: =?UTF-8?B?R3LDvMOfZQ==?="_s}));
        QVERIFY(r.out.contains(u"Content-Disposition: inline\n\nHi Two\n\n--"_s));
        QVERIFY(r.out.contains(u"Content-Type: text/html; charset=\"UTF-8\"\n\n<p>Two</p>\n--"_s));
    }
};

QTEST_GUILESS_MAIN(TestCliAccount)
#include "tst_cli_account.moc"

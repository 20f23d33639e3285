// brisko-cli as a script would use it: the real binary, its output and exit status.

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run
{
    int status = -1;
    QString out;
    QString err;
};

Run cli(const QStringList &arguments)
{
    QProcess process;
    process.start(qEnvironmentVariable("BRISKO_CLI"), arguments);
    Run run;
    if (!process.waitForFinished(30000))
        return run;
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

void writeText(const QString &path, const QByteArray &text)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class TestCliCampaign : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void helpVersionAndUnknown();
    void createThenShowJsonRoundTrip();
    void showTextAndRaw();
    void refusals_data();
    void refusals();
    void createDoesNotReplaceWithoutForce();

private:
    QTemporaryDir m_dir;
};

void TestCliCampaign::initTestCase()
{
    QVERIFY2(QFile::exists(qEnvironmentVariable("BRISKO_CLI")), "BRISKO_CLI must name the built brisko-cli");
}

void TestCliCampaign::helpVersionAndUnknown()
{
    const Run help = cli({u"--help"_qs});
    QCOMPARE(help.status, 0);
    QVERIFY(help.out.contains(u"show"_qs));
    QVERIFY(help.out.contains(u"create"_qs));
    const Run version = cli({u"--version"_qs});
    QCOMPARE(version.status, 0);
    QVERIFY(version.out.startsWith(u"brisko-cli "_qs));
    const Run unknown = cli({u"frobnicate"_qs});
    QCOMPARE(unknown.status, 2);
    QVERIFY(unknown.err.contains(u"unknown command"_qs));
    QCOMPARE(cli({}).status, 2);
}

void TestCliCampaign::createThenShowJsonRoundTrip()
{
    const QString json = m_dir.filePath(u"in.json"_qs);
    writeText(json, R"({"subject":"Hi __NAME__","from":"Me <me@example.com>","replyTo":"r@example.com",
        "returnPath":"b@example.com","body":"Dear __NAME__","html":"<b>__NAME__</b>",
        "columns":["EMAIL","NAME"],
        "recipients":[{"EMAIL":"a@example.com","NAME":"Ann"},{"EMAIL":"b@example.com","NAME":"Bj\u00f6rn","X":"y"}]})");
    const QString html = m_dir.filePath(u"body.html"_qs);
    writeText(html, "<p>From a file, \xc3\xbc</p>");
    const QString out = m_dir.filePath(u"made.brisko"_qs);
    const Run created = cli({u"create"_qs, out, u"--json"_qs, json, u"--html"_qs, html, u"--subject"_qs, u"Override"_qs});
    QCOMPARE(created.status, 0);

    const Run shown = cli({u"show"_qs, u"--json"_qs, out});
    QCOMPARE(shown.status, 0);
    const QJsonObject object = QJsonDocument::fromJson(shown.out.toUtf8()).object();
    QCOMPARE(object.value(u"subject"_qs).toString(), u"Override"_qs);
    QCOMPARE(object.value(u"html"_qs).toString(), u"<p>From a file, ü</p>"_qs);
    QCOMPARE(object.value(u"body"_qs).toString(), u"Dear __NAME__"_qs);
    QCOMPARE(object.value(u"returnPath"_qs).toString(), u"b@example.com"_qs);
    QCOMPARE(object.value(u"columns"_qs).toArray(), QJsonArray({u"EMAIL"_qs, u"NAME"_qs}));
    const QJsonArray recipients = object.value(u"recipients"_qs).toArray();
    QCOMPARE(recipients.size(), 2);
    QCOMPARE(recipients.at(1).toObject().value(u"NAME"_qs).toString(), u"Björn"_qs);
    QCOMPARE(recipients.at(1).toObject().value(u"X"_qs).toString(), u"y"_qs);

    // What show prints, create takes back unchanged.
    const QString again = m_dir.filePath(u"again.json"_qs);
    writeText(again, shown.out.toUtf8());
    const QString copy = m_dir.filePath(u"copy.brisko"_qs);
    QCOMPARE(cli({u"create"_qs, copy, u"--json"_qs, again}).status, 0);
    QCOMPARE(cli({u"show"_qs, u"--json"_qs, copy}).out, shown.out);
}

void TestCliCampaign::showTextAndRaw()
{
    const QString out = m_dir.filePath(u"plain.brisko"_qs);
    const QString json = m_dir.filePath(u"plain.json"_qs);
    writeText(json, R"({"subject":"S","recipients":[{"EMAIL":"a@example.com","CITY":"Wien"}]})");
    QCOMPARE(cli({u"create"_qs, out, u"--json"_qs, json}).status, 0);

    const Run text = cli({u"show"_qs, out});
    QCOMPARE(text.status, 0);
    QVERIFY(text.out.contains(u"Subject:     S\n"_qs));
    QVERIFY(text.out.contains(u"Columns:     EMAIL, CITY\n"_qs));
    QVERIFY(text.out.contains(u"1\ta@example.com\tWien\n"_qs));

    const Run raw = cli({u"show"_qs, u"--raw"_qs, out});
    QCOMPARE(raw.status, 0);
    const QJsonObject root = QJsonDocument::fromJson(raw.out.toUtf8()).object();
    QCOMPARE(root.value(u"SUBJECT"_qs).toString(), u"S"_qs);
    QCOMPARE(root.value(u"RECIPIENTS"_qs).toArray().first().toObject().value(u"CITY"_qs).toString(), u"Wien"_qs);
}

void TestCliCampaign::refusals_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::newRow("show missing") << QStringList{u"show"_qs, u"@DIR@/none.brisko"_qs} << 1 << u"no such file"_qs;
    QTest::newRow("show not an archive") << QStringList{u"show"_qs, u"@DIR@/text.brisko"_qs} << 1 << u"not a campaign file"_qs;
    QTest::newRow("raw not an archive") << QStringList{u"show"_qs, u"--raw"_qs, u"@DIR@/text.brisko"_qs} << 1 << u"bplist00"_qs;
    QTest::newRow("show two files") << QStringList{u"show"_qs, u"a"_qs, u"b"_qs} << 2 << u"exactly one"_qs;
    QTest::newRow("unknown option") << QStringList{u"show"_qs, u"--bogus"_qs, u"a"_qs} << 2 << u"bogus"_qs;
    QTest::newRow("bad json") << QStringList{u"create"_qs, u"@DIR@/x.brisko"_qs, u"--json"_qs, u"@DIR@/text.brisko"_qs} << 1 << u"text.brisko"_qs;
    QTest::newRow("recipient without address") << QStringList{u"create"_qs, u"@DIR@/y.brisko"_qs, u"--json"_qs, u"@DIR@/noemail.json"_qs} << 1 << u"has no EMAIL"_qs;
    QTest::newRow("unreadable body") << QStringList{u"create"_qs, u"@DIR@/z.brisko"_qs, u"--text"_qs, u"@DIR@/none.txt"_qs} << 1 << u"cannot read"_qs;
}

void TestCliCampaign::refusals()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    writeText(m_dir.filePath(u"text.brisko"_qs), "not an archive");
    writeText(m_dir.filePath(u"noemail.json"_qs), R"({"recipients":[{"NAME":"Ann"}]})");
    arguments.replaceInStrings(u"@DIR@"_qs, m_dir.path());
    const Run run = cli(arguments);
    QCOMPARE(run.status, status);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(!QFile::exists(m_dir.filePath(u"x.brisko"_qs)));
    QVERIFY(!QFile::exists(m_dir.filePath(u"y.brisko"_qs)));
}

void TestCliCampaign::createDoesNotReplaceWithoutForce()
{
    const QString out = m_dir.filePath(u"keep.brisko"_qs);
    QCOMPARE(cli({u"create"_qs, out, u"--subject"_qs, u"first"_qs}).status, 0);
    const Run refused = cli({u"create"_qs, out, u"--subject"_qs, u"second"_qs});
    QCOMPARE(refused.status, 1);
    QVERIFY(cli({u"show"_qs, out}).out.contains(u"Subject:     first"_qs));
    QCOMPARE(cli({u"create"_qs, out, u"--subject"_qs, u"second"_qs, u"--force"_qs}).status, 0);
    QVERIFY(cli({u"show"_qs, out}).out.contains(u"Subject:     second"_qs));
}

QTEST_GUILESS_MAIN(TestCliCampaign)
#include "tst_cli_campaign.moc"

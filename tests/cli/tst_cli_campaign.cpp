// brisko-cli show / create as a script would use them: the real binary, its output and exit status.

#include "BinaryPlist.h"
#include "CampaignFile.h"
#include "CliRun.h"

#include "BinaryPlist.h"
#include "CampaignFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

class TestCliCampaign : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    Run run(const QString &words) { return cli(words.split(u' ', Qt::SkipEmptyParts), {}, {}, m_dir.path()); }
    void write(const QString &name, const QByteArray &bytes) { writeFile(m_dir.filePath(name), bytes); }

private Q_SLOTS:
    // Columns come from the records, EMAIL first; what show --json prints, create takes back unchanged.
    void createAndShow()
    {
        const QByteArray json =
            R"({"subject":"Hi __NAME__","from":"Me <me@example.com>","replyTo":"r@example.com",
            "returnPath":"b@example.com","body":"Dear __NAME__","html":"<b>__NAME__</b>",
            "recipients":[{"EMAIL":"a@example.com","NAME":"Ann"},
                          {"NAME":"Bj\u00f6rn","X":"y","EMAIL":"b@example.com"}]})";
        write(u"in.json"_s, json);
        write(u"body.html"_s, "<p>From a file, \xc3\xbc</p>");
        QCOMPARE(run(u"create made.brisko --json in.json --html body.html --subject Override"_s).status, 0);
        const Run shown = run(u"show --json made.brisko"_s);
        QCOMPARE(shown.status, 0);
        QJsonObject expected = QJsonDocument::fromJson(json).object();
        expected.insert(u"subject"_s, u"Override"_s);
        expected.insert(u"html"_s, u"<p>From a file, ü</p>"_s);
        expected.insert(u"columns"_s, QJsonArray{u"EMAIL"_s, u"NAME"_s, u"X"_s});
        expected.insert(u"unsubscribe"_s, QJsonValue::Null);
        expected.insert(u"attachments"_s, QJsonArray());
        QCOMPARE(QJsonDocument::fromJson(shown.out.toUtf8()).object(), expected);
        write(u"again.json"_s, shown.out.toUtf8());
        QCOMPARE(run(u"create copy.brisko --json again.json"_s).status, 0);
        QCOMPARE(run(u"show --json copy.brisko"_s).out, shown.out);

        const Run text = run(u"show made.brisko"_s);
        QCOMPARE(text.status, 0);
        QVERIFY(text.out.contains(u"Subject:     Override\n"_s));
        QVERIFY(text.out.contains(u"Columns:     EMAIL, NAME, X\n"_s));
        QVERIFY(text.out.contains(u"2\tb@example.com\tBjörn\ty\n"_s));

        // Not replaced without --force.
        QCOMPARE(run(u"create made.brisko --subject second"_s).status, 1);
        QCOMPARE(run(u"show --json made.brisko"_s).out, shown.out);
        QCOMPARE(run(u"create made.brisko --subject second --force"_s).status, 0);
        QVERIFY(run(u"show made.brisko"_s).out.contains(u"Subject:     second\n"_s));
    }

    // --attach takes files whole (type from the MIME database), show lists them; a file larger
    // than a message can carry is refused and nothing is written.
    void attachments()
    {
        write(u"Grüße.pdf"_s, "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n");
        write(u"notes.txt"_s, "plain words\n");
        QCOMPARE(run(u"create att.brisko --attach Grüße.pdf --attach notes.txt --unsubscribe mailto:off@example.com"_s)
                     .status,
                 0);
        const Run text = run(u"show att.brisko"_s);
        QVERIFY2(text.out.contains(u"Unsubscribe: mailto:off@example.com\nAttachments: 2\n"
                                   "  Grüße.pdf\tapplication/pdf\t23 bytes\n  notes.txt\ttext/plain\t12 bytes\n"_s),
                 qPrintable(text.out));
        const QJsonObject json = QJsonDocument::fromJson(run(u"show --json att.brisko"_s).out.toUtf8()).object();
        QCOMPARE(json.value(u"unsubscribe"_s).toString(), u"mailto:off@example.com"_s);
        QCOMPARE(json.value(u"attachments"_s).toArray().at(1).toObject(),
                 (QJsonObject{{u"name"_s, u"notes.txt"_s}, {u"type"_s, u"text/plain"_s}, {u"size"_s, 12}}));

        QFile big(m_dir.filePath(u"big.bin"_s));
        QVERIFY(big.open(QIODevice::WriteOnly) && big.resize(8 * 1024 * 1024));
        big.close();
        const Run refused = run(u"create big.brisko --attach big.bin"_s);
        QCOMPARE(refused.status, 1);
        QVERIFY2(refused.err.contains(u"big.bin is 8.0 MB"_s), qPrintable(refused.err));
        QVERIFY(!QFile::exists(m_dir.filePath(u"big.brisko"_s)));
    }

    // --raw shows an archive the campaign reader refuses; that reader stays strict.
    void showRawAnyArchive()
    {
        using P = brisko::PlistValue;
        const auto name = [](const char *text) { return P::string(QString::fromUtf8(text)); };
        const P set = P::dictionary({{u"$class"_s, P::uid(2)}, {u"NS.objects"_s, P::array({P::uid(3)})}});
        const P setClass = P::dictionary({{u"$classname"_s, name("NSMutableSet")},
                                          {u"$classes"_s, P::array({name("NSMutableSet"), name("NSSet")})}});
        write(u"set.archive"_s, *brisko::BinaryPlist::write(P::dictionary(
                                    {{u"$version"_s, P::integer(100000)}, {u"$archiver"_s, name("NSKeyedArchiver")},
                                     {u"$top"_s, P::dictionary({{u"root"_s, P::uid(1)}})},
                                     {u"$objects"_s, P::array({name("$null"), set, setClass, name("a@b.c")})}})));
        const Run raw = run(u"show --raw set.archive"_s);
        QCOMPARE(raw.status, 0);
        QCOMPARE(raw.out, u"[\n    \"a@b.c\"\n]\n"_s);
        const Run campaign = run(u"show set.archive"_s);
        QCOMPARE(campaign.status, 1);
        QVERIFY(campaign.err.contains(u"unknown class \"NSMutableSet\""_s));
    }

    // Usage errors exit 2, failures 1 (`told` is on standard error then); no campaign is written.
    void statusAndOutput_data()
    {
        write(u"text.brisko"_s, "not an archive");
        write(u"noemail.json"_s, R"({"recipients":[{"NAME":"Ann"}]})");
        QTest::addColumn<QString>("words");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("told"); // a pattern
        QTest::newRow("help") << u"--help"_s << 0 << u"(?s)show.*create"_s;
        QTest::newRow("version") << u"--version"_s << 0 << u"^brisko-cli \\d+\\.\\d+\\.\\d+\n$"_s;
        QTest::newRow("command help lists options")
            << u"send --help"_s << 0 << u"(?s)^Usage: brisko-cli send .*\n\nOptions:\n.*--rows <ROWS> +Send only.*--endpoint"_s;
        QTest::newRow("unknown command") << u"frobnicate"_s << 2 << u"unknown command"_s;
        QTest::newRow("show missing") << u"show none.brisko"_s << 1 << u"no such file"_s;
        QTest::newRow("show not an archive") << u"show text.brisko"_s << 1 << u"not a campaign file"_s;
        QTest::newRow("recipient without address")
            << u"create y.brisko --json noemail.json"_s << 1 << u"has no EMAIL"_s;
        write(u"nul.json"_s, R"({"recipients":[{"EMAIL":"a@x.org"},{"EMAIL":"b@x.org\u0000c.org"}]})");
        QTest::newRow("address with a NUL")
            << u"create y.brisko --json nul.json"_s << 1 << u"recipient 2 has a control character in its EMAIL"_s;
    }

    void statusAndOutput()
    {
        QFETCH(QString, words);
        QFETCH(int, status);
        QFETCH(QString, told);
        const Run r = run(words);
        QCOMPARE(r.status, status);
        const QString &stream = status == 0 ? r.out : r.err;
        QVERIFY(QRegularExpression(told).match(stream).hasMatch());
        QVERIFY(!QFile::exists(m_dir.filePath(u"x.brisko"_s)) &&
                !QFile::exists(m_dir.filePath(u"y.brisko"_s)));
    }

    // Whatever a campaign file holds (it may come from elsewhere), no control character but
    // the line ends reaches the headers.
    void controlCharactersStayOutOfHeaders()
    {
        brisko::CampaignDocument document;
        document.subject = u"Hi\u0000the\u001bre\u007f"_s;
        document.from = u"Me\u0000 <me@x.org>"_s;
        document.body = u"keeps \u0001 its text"_s;
        document.recipients = brisko::RecipientList{brisko::makeRecipient({{u"EMAIL"_s, u"a@x.org\u0000b"_s}})};
        QCOMPARE(brisko::CampaignFile::write(m_dir.filePath(u"nul.brisko"_s), document), std::nullopt);
        const Run r = run(u"preview nul.brisko --row 1"_s);
        QCOMPARE(r.status, 0);
        const QString headers = r.out.section(u"\n\n"_s, 0, 0);
        QCOMPARE(headers.split(u'\n').mid(0, 3),
                 QStringList({u"From: Me <me@x.org>"_s, u"To: a@x.orgb"_s, u"Subject: Hithere"_s}));
        QVERIFY(std::none_of(headers.cbegin(), headers.cend(),
                             [](QChar c) { return (c < u' ' && c != u'\n') || c == u'\x7f'; }));
        QVERIFY(r.out.contains(u"keeps \u0001 its text"_s));
    }

    // A file that claims millions of objects, all of them one and the same, is refused in
    // about the memory its bytes take, not dozens of times that.
    void claimedObjectsCostNoMemoryUntilMet()
    {
        using brisko::BinaryPlistWriter;
        BinaryPlistWriter writer;
        const BinaryPlistWriter::Ref null = writer.addString(QLatin1StringView("$null"));
        const std::vector<BinaryPlistWriter::Ref> objects(20000000, null);
        const std::vector<BinaryPlistWriter::Ref> rootKey{writer.addString(QLatin1StringView("root"))},
            rootValue{writer.addUid(1)};
        const BinaryPlistWriter::Ref topDict = writer.addDictionary(rootKey, rootValue);
        const std::vector<BinaryPlistWriter::Ref> keys{writer.addString(QLatin1StringView("$archiver")),
                                                       writer.addString(QLatin1StringView("$version")),
                                                       writer.addString(QLatin1StringView("$objects")),
                                                       writer.addString(QLatin1StringView("$top"))};
        const std::vector<BinaryPlistWriter::Ref> values{writer.addString(QLatin1StringView("NSKeyedArchiver")),
                                                         writer.addInteger(100000), writer.addArray(objects), topDict};
        const QByteArray bytes = writer.finish(writer.addDictionary(keys, values));
        QVERIFY(bytes.size() < 21000000);
        write(u"claims.brisko"_s, bytes);

        // 300 MB of address space: the program and the file's 20 MB fit, 49 bytes per claimed object do not.
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.start(u"sh"_s, {u"-c"_s, u"ulimit -v 300000; exec \"$0\" show claims.brisko"_s,
                                qEnvironmentVariable("BRISKO_CLI")});
        QVERIFY(process.waitForFinished(60000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(process.readAllStandardError().contains("claims.brisko: not a campaign file"));
    }

    // Preferences left readable by others are made private on the first read, and the log says so once.
    void loosePreferencesAreTightened()
    {
        const QString home = m_dir.filePath(u"home"_s);
        const QString conf = home + u"/.config/Brisko/Brisko.conf"_s;
        writeFile(conf, "[General]\nAccessKey=AKIDLOOSE\nSecretKey=loose/Secret+Key\n");
        QVERIFY(QFile::setPermissions(conf, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadGroup | QFileDevice::ReadOther));
        const QStringList quota{u"quota"_s, u"--endpoint"_s, u"http://127.0.0.1:9"_s, u"--timeout"_s, u"2"_s};
        const Run first = cli(quota, home);
        QCOMPARE(first.status, 1);
        QCOMPARE(first.err.count(u"0600"_s), 1);
        QVERIFY(first.err.contains(u"from 0644 to 0600"_s));
        QVERIFY(!first.err.contains(u"loose/Secret"_s));
        QCOMPARE(QFileInfo(conf).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(!cli(quota, home).err.contains(u"0600"_s));
    }
};

QTEST_GUILESS_MAIN(TestCliCampaign)
#include "tst_cli_campaign.moc"

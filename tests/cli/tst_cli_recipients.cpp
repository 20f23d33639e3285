// brisko-cli import / export / merge as a script would use them: the real binary on files
// in a folder of the test's own.

#include <QDir>
#include <QFile>
#include <QProcess>
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

} // namespace

class TestCliRecipients : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    Run cli(const QStringList &arguments)
    {
        QProcess process;
        process.setWorkingDirectory(m_dir.path());
        process.start(qEnvironmentVariable("BRISKO_CLI"), arguments);
        Run run;
        if (!process.waitForFinished(60000)) {
            process.kill();
            return run;
        }
        run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    void write(const QString &name, const QByteArray &bytes)
    {
        QFile file(path(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }

    QByteArray read(const QString &name)
    {
        QFile file(path(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(qEnvironmentVariable("BRISKO_CLI")), "BRISKO_CLI must name the built brisko-cli");
        QVERIFY(m_dir.isValid());
    }

    void init()
    {
        for (const QString &name : QDir(m_dir.path()).entryList(QDir::Files))
            QFile::remove(path(name));
    }

    // A missing campaign is made as the window would save it; a second import appends.
    void importCreatesThenAppends()
    {
        write(u"list.csv"_s, "NAME,EMAIL,CITY\r\nAda,ada@example.com,London\r\nBad,nowhere,X\r\n"
                             "Again,ada@example.com,Paris\r\n\r\nBob,bob@example.com\r\n"_ba);
        Run run = cli({u"import"_s, u"c.brisko"_s, u"list.csv"_s, u"--csv"_s});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, u"Created c.brisko: 2 lines taken, 2 dropped (1 with an address lacking \"@\" or \".\", "
                          u"1 repeating an address met earlier in the list), 1 empty line skipped.\n"
                          u"Columns: EMAIL, NAME, CITY\nRecipients now: 2\n"_s);

        run = cli({u"import"_s, u"c.brisko"_s, u"list.csv"_s, u"-csv"_s});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.startsWith(u"Updated c.brisko: 2 lines taken"_s), qPrintable(run.out));
        QVERIFY(run.out.contains(u"Recipients now: 4\n"_s));

        run = cli({u"show"_s, u"--raw"_s, u"c.brisko"_s});
        QCOMPARE(run.status, 0);
        QVERIFY(run.out.contains(u"\"RETURNPATH\": \"\""_s)); // all eight keys written
        QCOMPARE(run.out.count(u"ada@example.com"_s), 2);
    }

    // Refused lists leave the campaign file as it was, and make none.
    void refusedLists_data()
    {
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("why");
        QTest::newRow("lower-case heading") << "email,name\na@x.org,A\n"_ba << u"--csv"_s
                                            << u"Import file needs column headings."_s;
        QTest::newRow("TSV chosen for CSV") << "EMAIL,NAME\na@x.org,A\n"_ba << u"--tsv"_s
                                            << u"is it a --csv file?"_s;
        QTest::newRow("binary") << "\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe\xfd"_ba << u"--csv"_s
                                << u"Import file needs column headings."_s;
    }

    void refusedLists()
    {
        QFETCH(QByteArray, list);
        QFETCH(QString, separator);
        QFETCH(QString, why);
        write(u"list"_s, list);
        Run run = cli({u"import"_s, u"none.brisko"_s, u"list"_s, separator});
        QCOMPARE(run.status, 1);
        QVERIFY2(run.err.contains(why), qPrintable(run.err));
        QVERIFY(!QFile::exists(path(u"none.brisko"_s)));

        write(u"good.csv"_s, "EMAIL\na@x.org\n"_ba);
        QCOMPARE(cli({u"import"_s, u"c.brisko"_s, u"good.csv"_s, u"--csv"_s}).status, 0);
        const QByteArray before = read(u"c.brisko"_s);
        run = cli({u"import"_s, u"c.brisko"_s, u"list"_s, separator});
        QCOMPARE(run.status, 1);
        QCOMPARE(read(u"c.brisko"_s), before);
    }

    void wrongArguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::newRow("no separator") << QStringList{u"import"_s, u"c.brisko"_s, u"l.csv"_s} << 2;
        QTest::newRow("both separators")
            << QStringList{u"import"_s, u"c.brisko"_s, u"l.csv"_s, u"--csv"_s, u"--tsv"_s} << 2;
        QTest::newRow("no list") << QStringList{u"import"_s, u"c.brisko"_s, u"--csv"_s} << 2;
        QTest::newRow("missing list") << QStringList{u"import"_s, u"c.brisko"_s, u"gone.csv"_s, u"--csv"_s} << 1;
        QTest::newRow("export of a missing campaign") << QStringList{u"export"_s, u"gone.brisko"_s, u"o.tsv"_s} << 1;
        QTest::newRow("merge without row") << QStringList{u"merge"_s, u"c.brisko"_s} << 2;
        QTest::newRow("merge row 0") << QStringList{u"merge"_s, u"c.brisko"_s, u"--row"_s, u"0"_s} << 2;
        QTest::newRow("merge row not a number") << QStringList{u"merge"_s, u"c.brisko"_s, u"--row"_s, u"x"_s} << 2;
        QTest::newRow("merge of a missing campaign")
            << QStringList{u"merge"_s, u"gone.brisko"_s, u"--row"_s, u"1"_s} << 1;
        QTest::newRow("import into a file that is no campaign")
            << QStringList{u"import"_s, u"list.csv"_s, u"list.csv"_s, u"--csv"_s} << 1;
    }

    void wrongArguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        write(u"list.csv"_s, "EMAIL\na@x.org\n"_ba);
        const Run run = cli(arguments);
        QCOMPARE(run.status, status);
        QVERIFY(!run.err.isEmpty());
        QCOMPARE(read(u"list.csv"_s), "EMAIL\na@x.org\n"_ba); // never written over
    }

    // Export writes tabs and a carriage return after every line; what it writes imports
    // again (as TSV) into a campaign that exports the very same bytes.
    void exportAndImportAgain()
    {
        write(u"list.csv"_s, "EMAIL,NAME,NOTE\na@x.org,Zo\xc3\xab,\"quoted\"\nb@x.org\n"_ba);
        QCOMPARE(cli({u"import"_s, u"c.brisko"_s, u"list.csv"_s, u"--csv"_s}).status, 0);
        Run run = cli({u"export"_s, u"c.brisko"_s, u"out.tsv"_s});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, u"Wrote 2 recipients to out.tsv\n"_s);
        const QByteArray exported = read(u"out.tsv"_s);
        QCOMPARE(exported, "EMAIL\tNAME\tNOTE\ra@x.org\tZo\xc3\xab\t\"quoted\"\rb@x.org\t\t\r"_ba);

        QCOMPARE(cli({u"import"_s, u"copy.brisko"_s, u"out.tsv"_s, u"--tsv"_s}).status, 0);
        QCOMPARE(cli({u"export"_s, u"copy.brisko"_s, u"again.tsv"_s}).status, 0);
        QCOMPARE(read(u"again.tsv"_s), exported);
    }

    void mergeRow()
    {
        write(u"body.txt"_s, "Dear __NAME__,\nyour code is __CODE__. (__email__)"_ba);
        write(u"body.html"_s, "<p>Dear <b>__NAME__</b> &lt;___EMAIL__&gt; __CITY__</p>"_ba);
        QCOMPARE(cli({u"create"_s, u"c.brisko"_s, u"--text"_s, u"body.txt"_s, u"--html"_s, u"body.html"_s}).status, 0);
        write(u"list.csv"_s, "EMAIL,NAME,CODE\na@x.org,Ada,<i>A1</i>\nb@x.org,,B2\n"_ba);
        QCOMPARE(cli({u"import"_s, u"c.brisko"_s, u"list.csv"_s, u"--csv"_s}).status, 0);

        Run run = cli({u"merge"_s, u"c.brisko"_s, u"--row"_s, u"1"_s});
        QCOMPARE(run.status, 0);
        QCOMPARE(run.out, u"Row 1: a@x.org\n\n--- Plain text ---\nDear Ada,\nyour code is <i>A1</i>. (__email__)\n"
                          u"\n--- HTML ---\n<p>Dear <b>Ada</b> &lt;_a@x.org&gt; __CITY__</p>\n"_s);
        run = cli({u"merge"_s, u"c.brisko"_s, u"--row"_s, u"2"_s});
        QCOMPARE(run.status, 0);
        QVERIFY2(run.out.contains(u"Dear ,\nyour code is B2."_s), qPrintable(run.out));
        run = cli({u"merge"_s, u"c.brisko"_s, u"--row"_s, u"3"_s});
        QCOMPARE(run.status, 1);
        QVERIFY(run.err.contains(u"has 2 recipients"_s));
    }
};

QTEST_GUILESS_MAIN(TestCliRecipients)
#include "tst_cli_recipients.moc"

// brisko-cli import / export / merge as a script would use them, in a folder of the test's own.

#include "CliRun.h"

#include <QTemporaryDir>

class TestCliRecipients : public QObject
{
    Q_OBJECT

    std::optional<QTemporaryDir> m_dir; // a fresh one for every test
    Run run(const QString &words)
    {
        return cli(words.split(u' ', Qt::SkipEmptyParts), {}, {}, m_dir->path());
    }
    void write(const QString &name, const QByteArray &bytes) { writeFile(m_dir->filePath(name), bytes); }
    QByteArray read(const QString &name) const { return readFile(m_dir->filePath(name)); }

private Q_SLOTS:
    void init() { m_dir.emplace(); }

    // Export writes tabs and a carriage return after every line, and imports again into the same bytes.
    void importExportAppend()
    {
        write(u"list.csv"_s, "NAME,EMAIL,CITY\r\nZo\xc3\xab,ada@example.com,\"London\"\r\nBad,nowhere,X\r\n"
                             "Again,ada@example.com,Paris\r\n\r\nBob,bob@example.com\r\n"_ba);
        Run r = run(u"import c.brisko list.csv --csv"_s);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out,
                 u"Created c.brisko: 2 lines taken, 2 dropped (1 with an address lacking \"@\" or \".\", "
                 u"1 repeating an address met earlier in the list), 1 empty line skipped.\n"
                 u"Columns: EMAIL, NAME, CITY\nRecipients now: 2\n"_s);
        r = run(u"export c.brisko out.tsv"_s);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, u"Wrote 2 recipients to out.tsv\n"_s);
        QCOMPARE(read(u"out.tsv"_s),
                 "EMAIL\tNAME\tCITY\rada@example.com\tZo\xc3\xab\t\"London\"\rbob@example.com\tBob\t\r"_ba);
        QCOMPARE(run(u"import copy.brisko out.tsv --tsv"_s).status, 0);
        QCOMPARE(run(u"export copy.brisko again.tsv"_s).status, 0);
        QCOMPARE(read(u"again.tsv"_s), read(u"out.tsv"_s));

        r = run(u"import c.brisko list.csv -csv"_s);
        QCOMPARE(r.status, 0);
        QVERIFY(r.out.startsWith(u"Updated c.brisko: 2 lines taken"_s));
        QVERIFY(r.out.contains(u"Recipients now: 4\n"_s));
    }

    // Against a missing campaign @C none is made, an existing one and the list stay byte for byte.
    void refusals_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString noHeadings = u"Import file needs column headings."_s;
        const auto row = [](const char *name, const QString &words, int status, const QString &message = {},
                            const QByteArray &list = "EMAIL\na@x.org\n") {
            QTest::newRow(name) << words << list << status << message;
        };
        row("lower-case heading", u"import @C list.csv --csv"_s, 1, noHeadings, "email,name\na@x.org,A\n");
        row("no separator", u"import @C list.csv"_s, 2);
        row("missing list", u"import @C gone.csv --csv"_s, 1);
        row("import into a file that is no campaign", u"import list.csv list.csv --csv"_s, 1);
        row("export of a missing campaign", u"export gone.brisko o.tsv"_s, 1);
    }

    void refusals()
    {
        QFETCH(QString, words);
        QFETCH(QByteArray, list);
        QFETCH(int, status);
        QFETCH(QString, message);
        QCOMPARE(run(u"create c.brisko --subject s"_s).status, 0);
        const QByteArray before = read(u"c.brisko"_s);
        write(u"list.csv"_s, list);
        for (const QString &campaign : {u"none.brisko"_s, u"c.brisko"_s}) {
            const Run r = run(QString(words).replace(u"@C"_s, campaign));
            QCOMPARE(r.status, status);
            QVERIFY(!r.err.isEmpty() && r.err.contains(message));
        }
        QVERIFY(!QFile::exists(m_dir->filePath(u"none.brisko"_s)));
        QCOMPARE(read(u"c.brisko"_s), before);
        QCOMPARE(read(u"list.csv"_s), list);
    }

    void mergeRow()
    {
        write(u"body.txt"_s, "Dear __NAME__,\nyour code is __CODE__. (__email__)"_ba);
        write(u"body.html"_s, "<p>Dear <b>__NAME__</b> &lt;___EMAIL__&gt; __CITY__</p>"_ba);
        write(u"list.csv"_s, "EMAIL,NAME,CODE\na@x.org,Ada,<i>A1</i>\nb@x.org,,B2\n"_ba);
        QCOMPARE(run(u"create c.brisko --text body.txt --html body.html"_s).status, 0);
        QCOMPARE(run(u"import c.brisko list.csv --csv"_s).status, 0);
        Run r = run(u"merge c.brisko --row 1"_s);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out,
                 u"Row 1: a@x.org\n\n--- Plain text ---\nDear Ada,\nyour code is <i>A1</i>. (__email__)\n"
                 u"\n--- HTML ---\n<p>Dear <b>Ada</b> &lt;_a@x.org&gt; __CITY__</p>\n"_s);
        r = run(u"merge c.brisko --row 3"_s);
        QCOMPARE(r.status, 1);
        QVERIFY(r.err.contains(u"has 2 recipients"_s));
    }
};

QTEST_GUILESS_MAIN(TestCliRecipients)
#include "tst_cli_recipients.moc"

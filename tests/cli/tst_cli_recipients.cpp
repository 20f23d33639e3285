// brisko-cli import / export / merge as a script would use them, in a folder of the test's own.

#include "CliRun.h"

#include <QTemporaryDir>

namespace {

// Runs a command in the current folder's copy on a 2 MB file system filled to the last
// block: a tmpfs mounted in a mount namespace of the run's own, so nothing outside sees it.
// Afterwards the copy's files (leftovers included) are copied to the second argument.
constexpr auto FullDiskScript = R"(set -e
disk=$1 after=$2
shift 2
mount -t tmpfs -o size=2m tmpfs "$disk"
cp -a . "$disk"
cd "$disk"
cat /dev/zero > .fill 2>/dev/null || true
set +e
"$@"
status=$?
rm -f .fill
cp -a . "$after"
exit $status
)";

// The same command where every write to a regular file fails ("File too large").
constexpr auto NoRoomScript = R"(trap '' XFSZ; ulimit -f 0; exec "$@")";

bool mayMountTmpfs()
{
    QTemporaryDir mountPoint;
    QProcess probe;
    probe.start(u"unshare"_s, {u"-m"_s, u"mount"_s, u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=64k"_s, u"tmpfs"_s,
                                mountPoint.path()});
    probe.setStandardErrorFile(QProcess::nullDevice());
    return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

// Every file of the folder by name, with its bytes.
QMap<QString, QByteArray> contents(const QString &folder)
{
    QMap<QString, QByteArray> files;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot))
        files.insert(name, readFile(dir.filePath(name)));
    return files;
}

} // namespace

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
        row("a line over 1 MB", u"import @C list.csv --csv"_s, 1,
            u"list.csv: line 3 is longer than 1048576 bytes; nothing imported"_s,
            "EMAIL,NAME\r\na@x.org,A\r\nb@x.org," + QByteArray(1 << 20, 'b') + "\r\nc@x.org,C\r\n");
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

    // A command that cannot write on a full disk says why, exits 1, and leaves every file as it was
    // (no empty campaign, no partial list, no temporary file).
    void fullDisk_data()
    {
        QTest::addColumn<QString>("words");
        QTest::addColumn<bool>("tmpfs");
        for (const bool tmpfs : {true, false}) {
            const char *disk = tmpfs ? "full tmpfs" : "no room for any byte";
            QTest::addRow("import, %s", disk) << u"import c.brisko list.csv --csv"_s << tmpfs;
            QTest::addRow("create --force, %s", disk) << u"create c.brisko --force --subject new"_s << tmpfs;
            QTest::addRow("export over a list, %s", disk) << u"export c.brisko old.tsv"_s << tmpfs;
        }
    }

    void fullDisk()
    {
        QFETCH(QString, words);
        QFETCH(bool, tmpfs);
        static const bool mayMount = mayMountTmpfs();
        if (tmpfs && !mayMount)
            QSKIP("this user may not mount a tmpfs in a mount namespace; the other rows fill no disk");
        write(u"list.csv"_s, "EMAIL,NAME\nb@x.org,B\nc@x.org,C\n"_ba);
        write(u"first.csv"_s, "EMAIL,NAME\na@x.org,A\n"_ba);
        write(u"old.tsv"_s, "EMAIL\rold@x.org\r"_ba);
        QCOMPARE(run(u"import c.brisko first.csv --csv"_s).status, 0);
        const QMap<QString, QByteArray> before = contents(m_dir->path());

        QTemporaryDir disk, after;
        QProcess process;
        process.setWorkingDirectory(m_dir->path());
        process.setProcessEnvironment(cliEnvironment());
        const QStringList command = QStringList{qEnvironmentVariable("BRISKO_CLI")} + words.split(u' ');
        if (tmpfs)
            process.start(u"unshare"_s, QStringList{u"-m"_s, u"sh"_s, u"-c"_s, QString::fromLatin1(FullDiskScript),
                                                    u"sh"_s, disk.path(), after.path()} + command);
        else
            process.start(u"sh"_s, QStringList{u"-c"_s, QString::fromLatin1(NoRoomScript), u"sh"_s} + command);
        process.closeWriteChannel();
        QVERIFY(process.waitForFinished(60000));
        const QString err = QString::fromUtf8(process.readAllStandardError());
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 1);
        QCOMPARE(process.readAllStandardOutput(), QByteArray());
        QVERIFY2(err.contains(tmpfs ? u": No space left on device\n"_s : u": File too large\n"_s), qPrintable(err));
        QCOMPARE(contents(tmpfs ? after.path() : m_dir->path()), before);
    }

    // An address holding a control character is dropped and counted; other fields keep theirs.
    void controlCharacters()
    {
        write(u"list.csv"_s, "EMAIL,NAME\nn1@example.com,A\x01\0B\nn2@exa\0mple.com,X\nn3@example.com\x1b,Y\n"
                             "n4@example.com\x7f,Z\n"_ba);
        Run r = run(u"import c.brisko list.csv --csv"_s);
        QCOMPARE(r.status, 0);
        QCOMPARE(r.out, u"Created c.brisko: 1 line taken, 3 dropped (3 with a control character in the "
                        u"address).\nColumns: EMAIL, NAME\nRecipients now: 1\n"_s);
        QCOMPARE(run(u"export c.brisko out.tsv"_s).status, 0);
        QCOMPARE(read(u"out.tsv"_s), "EMAIL\tNAME\rn1@example.com\tA\x01\0B\r"_ba);
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

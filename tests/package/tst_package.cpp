// What the shell and the desktop get from the build: the manual page written from the
// program's --help, the bash completion, and the Debian package with its metadata.
// Steps whose tools are not installed are skipped.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

struct Output
{
    int status = -1;
    QString out;
    QString err;
};

Output runProgram(const QString &program, const QStringList &arguments, const QString &folder = {},
                  int timeoutMs = 120000)
{
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, arguments);
    process.closeWriteChannel();
    Output result;
    if (!process.waitForFinished(timeoutMs))
        return result;
    result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

const QString Cli = qEnvironmentVariable("BRISKO_CLI");
const QString Source = qEnvironmentVariable("BRISKO_SOURCE_DIR");

// The commands `brisko-cli --help` lists.
QStringList commands()
{
    QStringList names;
    const QString help = runProgram(Cli, {u"--help"_s}).out;
    const QString list = help.section(u"Commands:\n"_s, 1).section(u"\n\n"_s, 0, 0);
    static const QRegularExpression entry(u"^  ([a-z-]+) "_s, QRegularExpression::MultilineOption);
    for (const auto &match : entry.globalMatch(list))
        names.append(match.captured(1));
    return names;
}

} // namespace

class TestPackage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The page holds every command of --help and every option of each command's --help.
    void manPageFromHelp()
    {
        QFile page(QStringLiteral(BRISKO_BINARY_DIR "/man/brisko-cli.1"));
        QVERIFY2(page.open(QIODevice::ReadOnly), "the build writes man/brisko-cli.1");
        const QString roff = QString::fromUtf8(page.readAll()).replace(u"\\-"_s, u"-"_s);
        QVERIFY(roff.startsWith(u".TH BRISKO-CLI 1 "_s));
        QVERIFY(roff.contains(runProgram(Cli, {u"--version"_s}).out.trimmed()));
        const QStringList names = commands();
        QVERIFY(names.size() >= 10);
        static const QRegularExpression option(u"^  (--[a-z-]+)"_s, QRegularExpression::MultilineOption);
        for (const QString &name : names) {
            QVERIFY2(roff.contains(u".B "_s + name + u' '), qPrintable(name));
            const QString help = runProgram(Cli, {name, u"--help"_s}).out;
            for (const auto &match : option.globalMatch(help))
                QVERIFY2(roff.contains(u".B "_s + match.captured(1)), qPrintable(name + u' ' + match.captured(1)));
        }
        QVERIFY(!roff.contains(u"\n'"_s)); // no line a roff reader takes for a request
    }

    void completion_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected"); // the candidates, sorted, space-separated
        QTest::newRow("commands") << u"brisko-cli s"_s << u"send send-test show stats status"_s;
        QTest::newRow("program options") << u"brisko-cli --"_s << u"--help --version"_s;
        QTest::newRow("command options") << u"brisko-cli send A.brisko --r"_s
                                          << u"--rate --region --resend --retry-failed --rows"_s;
        QTest::newRow("campaign files") << u"brisko-cli send "_s << u"A.brisko folder"_s;
        QTest::newRow("test send options") << u"brisko-cli send-test A.brisko --t"_s
                                           << u"--timeout --to --transport"_s;
        QTest::newRow("test send campaign after --to")
            << u"brisko-cli send-test --to me@example.org "_s << u"A.brisko folder"_s;
        QTest::newRow("after an option's value") << u"brisko-cli merge --row 3 "_s << u"A.brisko folder"_s;
        QTest::newRow("import list") << u"brisko-cli import A.brisko "_s << u"folder list.csv list.tsv notes.txt"_s;
        QTest::newRow("raw reads any file") << u"brisko-cli show --raw "_s
                                            << u"A.brisko folder list.csv list.tsv notes.txt"_s;
        QTest::newRow("signature") << u"brisko-cli quota --signature "_s << u"v3 v4"_s;
        QTest::newRow("create options") << u"brisko-cli create --a"_s << u"--attach"_s;
        QTest::newRow("attachments are any file")
            << u"brisko-cli create --attach "_s << u"A.brisko folder list.csv list.tsv notes.txt"_s;
        QTest::newRow("after an attachment") << u"brisko-cli create --attach notes.txt --unsubscribe x "_s
                                             << u"A.brisko folder"_s;
    }

    void completion()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        const QString library = u"/usr/share/bash-completion/bash_completion"_s;
        if (!QFile::exists(library) || QStandardPaths::findExecutable(u"bash"_s).isEmpty())
            QSKIP("bash-completion is not installed");
        QTemporaryDir dir;
        for (const char *name : {"A.brisko", "list.csv", "list.tsv", "notes.txt"})
            QVERIFY(QFile(dir.filePath(QString::fromLatin1(name))).open(QIODevice::WriteOnly));
        QVERIFY(QDir(dir.path()).mkdir(u"folder"_s));
        const QString script =
            uR"(source "$1"; source "$2"; PATH="$(dirname "$3"):$PATH"
COMP_LINE=$4; COMP_POINT=${#COMP_LINE}; read -ra COMP_WORDS <<<"$4"
[[ $4 == *" " ]] && COMP_WORDS+=("")
COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMP_WORDS[0]=brisko-cli
_brisko_cli; printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ')"_s;
        const Output result = runProgram(u"bash"_s, {u"-c"_s, script, u"bash"_s, library,
                                                      Source + u"/docs/completion/brisko-cli"_s, Cli, line},
                                         dir.path());
        QCOMPARE(result.status, 0);
        QCOMPARE(result.out.trimmed(), expected);
    }

    // The desktop metadata as appstream reads it.
    void metainfoValidates()
    {
        if (QStandardPaths::findExecutable(u"appstreamcli"_s).isEmpty())
            QSKIP("appstream is not installed");
        QTemporaryDir dir;
        QFile in(Source + u"/resources/desktop/brisko.metainfo.xml"_s);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QFile out(dir.filePath(u"org.brisko.Brisko.metainfo.xml"_s));
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(in.readAll().replace("@PROJECT_VERSION@", "1.0.0"));
        out.close();
        const Output result = runProgram(u"appstreamcli"_s, {u"validate"_s, u"--no-net"_s, out.fileName()});
        QVERIFY2(result.status == 0, qPrintable(result.out + result.err));
    }

    // `make package` in small: the package of this build, its files, dependencies and lintian's view.
    void debianPackage()
    {
        if (QStandardPaths::findExecutable(u"cpack"_s).isEmpty() ||
            QStandardPaths::findExecutable(u"dpkg-deb"_s).isEmpty() ||
            QStandardPaths::findExecutable(u"dpkg-shlibdeps"_s).isEmpty())
            QSKIP("cpack or the dpkg tools are not installed");
        if (!QFile::exists(QStringLiteral(BRISKO_BINARY_DIR "/bin/brisko")))
            QSKIP("the window is not built in this build folder");
        QTemporaryDir dir;
        const Output packed = runProgram(
            u"cpack"_s, {u"-G"_s, u"DEB"_s, u"--config"_s, QStringLiteral(BRISKO_BINARY_DIR "/CPackConfig.cmake"),
                         u"-B"_s, dir.path()},
            dir.path(), 240000);
        QVERIFY2(packed.status == 0, qPrintable(packed.out + packed.err));
        const QStringList debs = QDir(dir.path()).entryList({u"brisko_*.deb"_s}, QDir::Files);
        QCOMPARE(debs.size(), 1);
        const QString deb = dir.filePath(debs.first());

        const Output contents = runProgram(u"dpkg-deb"_s, {u"--contents"_s, deb});
        QCOMPARE(contents.status, 0);
        for (const char *path :
             {"./usr/bin/brisko", "./usr/bin/brisko-cli", "./usr/share/brisko/ui/MainWindow.ui",
              "./usr/share/brisko/English.lproj/Localizable.strings", "./usr/share/applications/brisko.desktop",
              "./usr/share/icons/hicolor/scalable/apps/brisko.svg", "./usr/share/mime/packages/brisko.xml",
              "./usr/share/metainfo/org.brisko.Brisko.metainfo.xml", "./usr/share/man/man1/brisko-cli.1.gz",
              "./usr/share/man/man1/brisko.1.gz", "./usr/share/bash-completion/completions/brisko-cli",
              "./usr/share/doc/brisko/copyright", "./usr/share/doc/brisko/changelog.gz"})
            QVERIFY2(contents.out.contains(QString::fromLatin1(path) + u'\n'), path);
        QVERIFY(!contents.out.contains(u"/tests-bin/"_s) && !contents.out.contains(u"/include/"_s));

        const Output depends = runProgram(u"dpkg-deb"_s, {u"--field"_s, deb, u"Depends"_s});
        for (const char *package : {"libqt6core6", "libqt6widgets6", "libqt6webenginewidgets6", "qt6-qpa-plugins"})
            QVERIFY2(depends.out.contains(QString::fromLatin1(package)), qPrintable(depends.out));

        if (QStandardPaths::findExecutable(u"lintian"_s).isEmpty())
            QSKIP("lintian is not installed");
        const Output lint = runProgram(u"lintian"_s, {u"--tag-display-limit"_s, u"0"_s, deb}, dir.path(), 240000);
        QVERIFY2(!QRegularExpression(u"^E: "_s, QRegularExpression::MultilineOption).match(lint.out).hasMatch(),
                 qPrintable(lint.out));
        QVERIFY2(lint.status == 0, qPrintable(lint.out + lint.err));
    }
};

QTEST_GUILESS_MAIN(TestPackage)
#include "tst_package.moc"

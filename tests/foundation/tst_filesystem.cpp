#include "../app/DialogDriver.h"
#include "FennimarFileSystem.h"
#include "Localization.h"

#include <QDir>
#include <QColor>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/xattr.h>

using namespace Qt::StringLiterals;
namespace FFS = FennimarFileSystem;

Q_DECLARE_METATYPE(FennimarFileSystem::TextEncoding)

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

class TestFileSystem : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString d; // a fresh folder per test, holding a.txt ("new") and sub/a.txt ("old")

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        brisko::setLocalizeFunction([](const std::optional<QString> &key) -> std::optional<QString> {
            return key == u"FileExists_Main"_s ? u"Exists: %1"_s : key;
        });
    }

    void init()
    {
        static int n = 0;
        d = m_dir.filePath(u"case%1"_s.arg(++n));
        QVERIFY(QDir().mkpath(d + u"/sub"_s));
        writeFile(d + u"/a.txt"_s, "new");
        writeFile(d + u"/sub/a.txt"_s, "old");
    }

    // Reading and writing one item is refused before anything is touched.
    void copyOntoItselfRefused_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::addColumn<bool>("move");
        QTest::newRow("own folder") << u""_s << false;
        QTest::newRow("own folder, trailing slash") << u"/"_s << false;
        QTest::newRow("the file itself") << u"/a.txt"_s << false;
        QTest::newRow("the file itself, move") << u"/a.txt"_s << true;
        QTest::newRow("folder into itself") << u"/sub/inner"_s << false;
    }

    void copyOntoItselfRefused()
    {
        QFETCH(QString, destination);
        QFETCH(bool, move);
        const bool folder = destination.startsWith(u"/sub"_s);
        const QString source = folder ? d + u"/sub"_s : d + u"/a.txt"_s;
        const char *line = move ? "Cannot move as would be reading from same file as writing: '%1'"
                                : "Cannot copy as would be reading from same file as writing: '%1'";
        QTest::ignoreMessage(QtWarningMsg, qPrintable(QString::fromLatin1(line).arg(source)));
        const auto result = move ? FFS::fileMove(source, d + destination, false, false)
                                 : FFS::fileCopy(source, d + destination, false, false);
        QVERIFY(!result.success());
        QCOMPARE(contents(d + u"/a.txt"_s), QByteArray("new"));
        QCOMPARE(QDir(d).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
                 (QStringList{u"a.txt"_s, u"sub"_s}));
        QCOMPARE(QDir(d + u"/sub"_s).entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{u"a.txt"_s});
    }

    // Copy of a.txt into sub/, where a.txt is in the way; the dialog is answered by title.
    void conflictDialog_data()
    {
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("created"); // relative to sub/; empty: none
        QTest::addColumn<QByteArray>("inTheWay");
        QTest::newRow("overwrite") << QStringList{u"Overwrite"_s} << true << u"a.txt"_s << QByteArray("new");
        QTest::newRow("don't copy") << QStringList{u"Don't Copy"_s} << false << QString() << QByteArray("old");
        QTest::newRow("make unique") << QStringList{u"Make Unique"_s} << true << u"a-1.txt"_s << QByteArray("old");
        QTest::newRow("make unique twice")
            << QStringList{u"Make Unique"_s, u"Make Unique"_s} << true << u"a-2.txt"_s << QByteArray("old");
        // A dialog closed without an answer replaces nothing.
        QTest::newRow("closed") << QStringList{u"none of them"_s} << false << u"a.txt"_s << QByteArray("old");
    }

    void conflictDialog()
    {
        QFETCH(QStringList, answers);
        QFETCH(bool, success);
        QFETCH(QString, created);
        QFETCH(QByteArray, inTheWay);
        const QString sub = d + u"/sub"_s;
        DialogDriver driver(answers);
        FennimarFileSystemCopyResult result;
        for (qsizetype i = 0; i < answers.size(); ++i) {
            if (!success && !created.isEmpty())
                QTest::ignoreMessage(QtWarningMsg, "COPY FAILED");
            result = FFS::fileCopy(d + u"/a.txt"_s, sub, true, true);
        }
        QCOMPARE(driver.shown(), answers.size());
        QCOMPARE(driver.texts().first(), u"Exists: a.txt\nFileExists_Sub"_s);
        QStringList buttons = driver.buttonsSeen().first().split(u'|');
        buttons.sort();
        QCOMPARE(buttons, (QStringList{u"Don't Copy"_s, u"Make Unique"_s, u"Overwrite"_s}));
        QCOMPARE(result.success(), success);
        QCOMPARE(result.createdFilePath().value_or(QString()), created.isEmpty() ? QString() : sub + u'/' + created);
        QCOMPARE(contents(sub + u"/a.txt"_s), inTheWay);
        if (success) {
            QCOMPARE(contents(*result.createdFilePath()), QByteArray("new"));
            QCOMPARE(QFile::permissions(*result.createdFilePath()) & QFile::ExeOther, QFile::ExeOther);
        } else {
            // Permissions are opened only on what the call made.
            QVERIFY(!(QFile::permissions(sub + u"/a.txt"_s) & QFile::ExeOther));
        }
        QCOMPARE(contents(d + u"/a.txt"_s), QByteArray("new"));
    }

    // Without the dialog the item in the way is replaced, but only once the new one exists.
    void replaceWithoutDialog()
    {
        QVERIFY(FFS::fileCopy(d + u"/a.txt"_s, d + u"/sub"_s));
        QCOMPARE(contents(d + u"/sub/a.txt"_s), QByteArray("new"));

        writeFile(d + u"/sub/a.txt"_s, "old");
        QTest::ignoreMessage(QtWarningMsg, "COPY FAILED");
        QTest::ignoreMessage(QtWarningMsg, qPrintable(u"Copy from : '%1/missing/a.txt'"_s.arg(d)));
        QTest::ignoreMessage(QtWarningMsg, qPrintable(u"Copy to :'%1/sub/a.txt'"_s.arg(d)));
        QVERIFY(!FFS::fileCopy(d + u"/missing/a.txt"_s, d + u"/sub/a.txt"_s));
        QCOMPARE(contents(d + u"/sub/a.txt"_s), QByteArray("old"));
        QCOMPARE(QDir(d + u"/sub"_s).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::Hidden),
                 QStringList{u"a.txt"_s});

        // Folders move whole, replacing a folder of the same name.
        QVERIFY(QDir().mkpath(d + u"/other/sub/stale"_s));
        const auto moved = FFS::fileMove(d + u"/sub"_s, d + u"/other"_s, false, false);
        QVERIFY(moved.success());
        QCOMPARE(contents(d + u"/other/sub/a.txt"_s), QByteArray("old"));
        QVERIFY(!QFileInfo::exists(d + u"/other/sub/stale"_s) && !QFileInfo::exists(d + u"/sub"_s));
    }

    void names()
    {
        QCOMPARE(FFS::inventUniqueCopyPathFor(d + u"/a.txt"_s), d + u"/a-1.txt"_s);
        writeFile(d + u"/README"_s, "r");
        QCOMPARE(FFS::inventUniqueCopyPathFor(d + u"/README"_s), d + u"/README-1."_s);
        QCOMPARE(FFS::duplicateFile(d + u"/a.txt"_s), d + u"/a-1.txt"_s);
        QCOMPARE(FFS::duplicateFile(d + u"/a.txt"_s), d + u"/a-2.txt"_s);
        QCOMPARE(FFS::duplicateFile(d + u"/a.txt"_s, u"old"_s), d + u"/a-old-1.txt"_s);
        QCOMPARE(contents(d + u"/a-old-1.txt"_s), QByteArray("new"));
        QCOMPARE(FFS::inventBackupPathFor(u"/d/report.txt"_s), u"/d/report-original.txt"_s);
        QCOMPARE(FFS::changeFileExtensionOf(u"/d/report.txt"_s, u"bak"_s), u"/d/report.bak"_s);
        const QString temp = FFS::createTempFilenameWithExtension(u"png"_s);
        QVERIFY(temp.startsWith(u"/tmp/"_s) && temp.endsWith(u".png"_s) && !QFileInfo::exists(temp));
        const QString folder = FFS::createTemporaryFolder();
        QVERIFY(FFS::fileIsDirectory(folder));
        QDir(folder).removeRecursively();
        QCOMPARE(FFS::prettyFileSize(d + u"/a.txt"_s), u"3b"_s);
        QCOMPARE(FFS::prettyFileSize(d + u"/none"_s), std::nullopt);
        QVERIFY(FFS::createTempFilenameWithTail(u"x.png"_s).startsWith(u"/tmp/"_s));
        QVERIFY(FFS::createTempFilenameWithTail(u"x.png"_s).endsWith(u"/x.png"_s));
    }

    void pathParts()
    {
        QCOMPARE(FFS::fileExtension(u"/d/a.b/c"_s), QString());
        QCOMPARE(FFS::fileWithoutExtension(u"/d/report.final.txt"_s), u"/d/report.final"_s);
        QCOMPARE(FFS::fileWithoutExtension(u"/d.x/README"_s), u"/d.x/README"_s);
        QCOMPARE(FFS::filePath(u"/d/report.txt"_s), u"/d"_s);
        QCOMPARE(FFS::filePath(u"/a"_s), u"/"_s);
        QCOMPARE(FFS::penultimatePathComponent(u"/a/b/c.txt"_s), u"b"_s);
        QVERIFY(FFS::file(u"Campaign.BRISKO"_s, u"brisko"_s));
        QVERIFY(FFS::fileIsInHiddenFolder(u"/a/.git/x"_s) && FFS::fileIsInHiddenFolder(u"/a/.x"_s));
        QVERIFY(!FFS::fileIsInHiddenFolder(u"/a/b.c/x"_s));
        QVERIFY(FFS::filenameHasRiskyCharacters(u"/d/a.b"_s) && !FFS::filenameHasRiskyCharacters(u"/d.e/ab"_s));
        QVERIFY(FFS::isFilesExtensionAMovie(u"clip.WebM"_s) && !FFS::isFilesExtensionAMovie(u"a.mp3"_s));
        QCOMPARE(FFS::filePathsWithExtension(u"txt"_s, {u"/a.txt"_s, u"/b.TXT"_s, u"/c.txt"_s}),
                 (QStringList{u"/a.txt"_s, u"/c.txt"_s}));
        QCOMPARE(FFS::mimeTypeForFileAtPath(u"clip.WEBM"_s), u"video/webm"_s);
        QCOMPARE(FFS::mimeTypeForFileAtPath(u"/x/page.html"_s), u"text/html"_s);
    }

    void makePath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<std::optional<QString>>("base");
        QTest::addColumn<QString>("relative");
        QTest::newRow("sibling folder") << u"/a/b/c.html"_s << std::optional(u"/a/d/e.html"_s) << u"../b/c.html"_s;
        QTest::newRow("same folder") << u"/a/b/c.html"_s << std::optional(u"/a/b/e.html"_s) << u"c.html"_s;
        QTest::newRow("deeper base")
            << u"/a/c.png"_s << std::optional(u"/a/x/y/e.html"_s) << u"../../c.png"_s;
        QTest::newRow("decoded") << u"/a/My%20Pics/c.png"_s << std::optional(u"/a/e.html"_s) << u"My Pics/c.png"_s;
        QTest::newRow("empty base") << u"/a/b%20c"_s << std::optional(u""_s) << u"/a/b%20c"_s;
        QTest::newRow("no base") << u"/a/b"_s << std::optional<QString>() << u"/a/b"_s;
    }

    void makePath()
    {
        QFETCH(QString, path);
        QFETCH(std::optional<QString>, base);
        QFETCH(QString, relative);
        QCOMPARE(FFS::makePath(path, base), relative);
    }

    void foldersAndListings()
    {
        QVERIFY(!FFS::fileEnsurePathExists(d + u"/sub"_s));
        QVERIFY(FFS::fileEnsurePathExists(d + u"/x/y/z"_s));
        QVERIFY(FFS::fileIsDirectory(d + u"/x/y/z"_s));
        writeFile(d + u"/.hidden"_s, "");
        QCOMPARE(FFS::fileList(d), (QStringList{u"a.txt"_s, u"sub"_s, u"x"_s}));
        QCOMPARE(FFS::fileList(d, true, true)->first(), d + u"/.hidden"_s);
        QCOMPARE(FFS::fileList(QString()), std::nullopt);
        // A folder's contents come before the folder; the stop level bounds the depth.
        QStringList listing;
        FFS::recursePathToList(listing, d + u"/x"_s, true, false, 2);
        QCOMPARE(listing, (QStringList{d + u"/x/y/z"_s, d + u"/x/y"_s}));
    }

    void textEncoding_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<FFS::TextEncoding>("encoding");
        QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9") << FFS::TextEncoding::UTF8;
        QTest::newRow("utf-16 le mark") << QByteArray("\xff\xfe" "a\0", 4) << FFS::TextEncoding::UTF16LittleEndian;
        QTest::newRow("euc-jp marker") << QByteArray("<meta charset=euc-jp>\xa4\xa2") << FFS::TextEncoding::JapaneseEUC;
        QTest::newRow("other bytes") << QByteArray("caf\xe9 charset=EUC-JP") << FFS::TextEncoding::MacOSRoman;
    }

    void textEncoding()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(FFS::TextEncoding, encoding);
        writeFile(d + u"/t.txt"_s, bytes);
        QCOMPARE(FFS::fileTextEncoding(d + u"/t.txt"_s), encoding);
        QCOMPARE(FFS::errorForFailureToOpenFileForReading(d + u"/t.txt"_s).isEmpty(),
                 encoding == FFS::TextEncoding::UTF8);
    }

    void labels()
    {
        const QString path = d + u"/a.txt"_s;
        const QByteArray local = QFile::encodeName(path);
        if (::setxattr(local.constData(), "user.probe", "1", 1, 0) != 0)
            QSKIP("this file system keeps no extended attributes");
        QCOMPARE(FFS::finderLabelForPath(path), 0);
        QTest::ignoreMessage(QtInfoMsg, "label:6");
        QVERIFY(FFS::setFinderLabel(6, QUrl::fromLocalFile(path)));
        QCOMPARE(FFS::finderLabelForURL(QUrl::fromLocalFile(path)), 6);
        QCOMPARE(FFS::finderLabelForURL(QUrl(u"https://example.com/a.txt"_s)), 0);
        QTest::ignoreMessage(QtInfoMsg, "label:0");
        QVERIFY(FFS::setFinderLabel(0, path));
        QCOMPARE(FFS::finderLabelForPath(path), 0);
    }

    // The swatch is the label's colour, darker at the bottom than at the top; label 0 is clear.
    void labelImages()
    {
        QCOMPARE(FFS::fileLabelColors().size(), 8);
        QCOMPARE(FFS::colorForFinderLabel(6), QColor(255, 77, 87));
        QCOMPARE(FFS::colorForFinderLabel(9).alpha(), 0);
        const QImage red = FFS::imageForFinderLabel(6);
        QCOMPARE(red.size(), QSize(17, 17));
        const QColor top = red.pixelColor(7, 4), bottom = red.pixelColor(7, 12);
        QVERIFY2(top.red() > 240 && top.green() < 100, qPrintable(top.name()));
        QVERIFY2(bottom.red() < top.red(), qPrintable(bottom.name()));
        QVERIFY(red.pixelColor(0, 0).alpha() == 0);
        const QImage none = FFS::imageForFinderLabel(0);
        QVERIFY(std::all_of(none.constBits(), none.constBits() + none.sizeInBytes(), [](uchar b) { return b == 0; }));
    }

    // Applications come from desktop entries and mimeapps.list of the XDG folders.
    void applicationsForFile()
    {
        const QString apps = QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
        QVERIFY(QDir().mkpath(apps));
        writeFile(apps + u"/zed-editor.desktop"_s,
                  "[Desktop Entry]\nType=Application\nName=Zed Editor\nMimeType=text/plain;\n");
        writeFile(apps + u"/Alpha.desktop"_s, "[Desktop Entry]\nType=Application\nName=Alpha\nMimeType=image/png;\n");
        writeFile(apps + u"/mimeapps.list"_s, "[Default Applications]\ntext/plain=zed-editor.desktop\n"
                                              "[Added Associations]\ntext/plain=Alpha.desktop;\n");
        writeFile(d + u"/notes.txt"_s, "hello");
        // Installed applications may join in; ours come sorted among them.
        QStringList found = FFS::appsForFile(d + u"/notes.txt"_s).value_or(QStringList());
        found.removeIf([&](const QString &entry) { return !entry.startsWith(apps); });
        QCOMPARE(found, (QStringList{apps + u"/Alpha.desktop"_s, apps + u"/zed-editor.desktop"_s}));
        QCOMPARE(FFS::appForFile(d + u"/notes.txt"_s), u"Zed Editor"_s);
        QCOMPARE(FFS::appsForFile(std::nullopt), std::nullopt);
        QVERIFY(FFS::fileIsApplication(apps + u"/Alpha.desktop"_s));
        QVERIFY(!FFS::fileIsApplication(apps + u"/mimeapps.list"_s));
    }
};

QTEST_MAIN(TestFileSystem)
#include "tst_filesystem.moc"

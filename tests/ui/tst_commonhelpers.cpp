#include "RidorIvuvud.h"
#include "StyledText.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class Target : public QObject
{
    Q_OBJECT
public:
    int calls = 0;
public slots:
    void act() { ++calls; }
};

class TestCommonHelpers : public QObject
{
    Q_OBJECT

private slots:
    void numberedAndCopyNames()
    {
        QCOMPARE(RidorIvuvud::createNumberedLeafname(u"a.b.c"_s, 2), u"a-2.b.c"_s);
        QCOMPARE(RidorIvuvud::createNumberedLeafname(u"photo.png"_s, 3), u"photo-3.png"_s);

        QTemporaryDir dir;
        const QString a = dir.filePath(u"a.txt"_s);
        QCOMPARE(RidorIvuvud::findUniqueCopyName(a, true), dir.filePath(u"a copy.txt"_s));
        writeFile(dir.filePath(u"a copy.txt"_s), "x");
        writeFile(dir.filePath(u"a copy 1.txt"_s), "x");
        QCOMPARE(RidorIvuvud::findUniqueCopyName(a, true), dir.filePath(u"a copy 2.txt"_s));
        QCOMPARE(RidorIvuvud::findUniqueCopyName(dir.filePath(u"d.x/plain"_s), true), dir.filePath(u"d.x/plain copy"_s));
        QCOMPARE(RidorIvuvud::findUniqueCopyName(a, false), dir.filePath(u"a.txt copy"_s));
        writeFile(dir.filePath(u"a.txt copy"_s), "x");
        QCOMPARE(RidorIvuvud::findUniqueCopyName(a, false), dir.filePath(u"a.txt copy 1"_s));

        const QString drop = dir.filePath(u"drop/here"_s);
        QCOMPARE(RidorIvuvud::makeRandomLeafnameBasedOn(std::nullopt, drop), u"from-clipboard.png"_s);
        QVERIFY(QFileInfo(drop).isDir());
        writeFile(drop + u"/from-clipboard.png"_s, "x");
        writeFile(drop + u"/from-clipboard-1.png"_s, "x");
        QCOMPARE(RidorIvuvud::makeRandomLeafnameBasedOn(std::nullopt, drop), u"from-clipboard-2.png"_s);

        const QString leaf = RidorIvuvud::makeRandomLeafname(dir.path(), u"tmp"_s);
        QVERIFY2(QRegularExpression(u"^\\d+\\.tmp$"_s).match(leaf).hasMatch(), qPrintable(leaf));
        QTest::ignoreMessage(QtInfoMsg,
                             "RidorIvuvud makeRandomLeafname - baseon has been suggested, but is not supported yet");
        RidorIvuvud::makeRandomLeafname(dir.path(), u"png"_s, u"x"_s);
    }

    void listings()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        writeFile(root + u"/b.txt"_s, "b");
        writeFile(root + u"/.hidden"_s, "h");
        writeFile(root + u"/a/z.png"_s, "z");
        writeFile(root + u"/a/deep/y.txt"_s, "y");
        writeFile(root + u"/c/x.jpg"_s, "x");
        QVERIFY(QFile::link(root, root + u"/c/loop"_s));

        // Breadth first; a link to a folder is listed, not entered.
        QCOMPARE(RidorIvuvud::getRecursiveFileListing(root),
                 (QStringList{root + u"/a"_s, root + u"/b.txt"_s, root + u"/c"_s, root + u"/a/deep"_s,
                              root + u"/a/z.png"_s, root + u"/c/loop"_s, root + u"/c/x.jpg"_s,
                              root + u"/a/deep/y.txt"_s}));
        QCOMPARE(RidorIvuvud::fileList(root, true, false), (QStringList{u".hidden"_s, u"a"_s, u"b.txt"_s, u"c"_s}));
        QCOMPARE(RidorIvuvud::tidyFileList(root + u"/"_s, false, true).first(), root + u"/a"_s);

        QStringList paths{u"/p/1.png"_s, u"/p/2.png"_s, u"/p/3.jpg"_s, u"/p.png/none"_s, u"/p/4.PNG"_s};
        RidorIvuvud::removePathsFromArray(paths, u"png"_s);
        QCOMPARE(paths, (QStringList{u"/p/3.jpg"_s, u"/p.png/none"_s, u"/p/4.PNG"_s}));
        QCOMPARE(RidorIvuvud::switchDirectoryParent(u"/src/a/src/b"_s, u"/src"_s, u"/dst"_s), u"/dst/a/dst/b"_s);
    }

    void fileComparison()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath(u"a"_s), b = dir.filePath(u"b"_s), c = dir.filePath(u"sub/c"_s);
        QByteArray big(200000, 'q');
        writeFile(a, big);
        big.back() = 'r';
        writeFile(b, big);
        QVERIFY(!RidorIvuvud::compareFileContents(a, b));
        writeFile(c, readFile(a));
        QVERIFY(RidorIvuvud::compareFileContents(a, c));
        QVERIFY(!RidorIvuvud::compareFileContents(a, dir.filePath(u"missing"_s)));
        writeFile(dir.filePath(u"short"_s), big.left(10));
        QVERIFY(!RidorIvuvud::compareFileContents(dir.filePath(u"short"_s), a));

        QTemporaryDir other;
        QCOMPARE(RidorIvuvud::checkForIdenticalFile(a, dir.path()), std::optional<QString>(a));
        QCOMPARE(RidorIvuvud::checkForIdenticalFile(a, other.path()), std::nullopt);
        writeFile(other.filePath(u"x/y/same"_s), readFile(a));
        QCOMPARE(RidorIvuvud::checkForIdenticalFile(a, other.path()), other.filePath(u"x/y/same"_s));
    }

    void treeCopy()
    {
        QTemporaryDir src, dst;
        writeFile(src.filePath(u"one.txt"_s), "one");
        writeFile(src.filePath(u"f/two.txt"_s), "two");
        writeFile(src.filePath(u"f/g/three.txt"_s), "three");
        writeFile(dst.filePath(u"f/two.txt"_s), "old contents, longer than the new");

        QProgressBar progress;
        QVERIFY(RidorIvuvud::fileSystemManipulateWithFeedbackFrom(src.path(), dst.path(), 7, &progress));
        QCOMPARE(progress.maximum(), 4); // five items
        QCOMPARE(progress.value(), 4);
        QCOMPARE(readFile(dst.filePath(u"one.txt"_s)), "one");
        QCOMPARE(readFile(dst.filePath(u"f/two.txt"_s)), "two");
        QCOMPARE(readFile(dst.filePath(u"f/g/three.txt"_s)), "three");

        // A failed item makes the result false; the walk goes on; the old target stays whole.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(u"cannot read"_s));
        const QStringList listing{src.filePath(u"gone.txt"_s), src.filePath(u"one.txt"_s)};
        writeFile(dst.filePath(u"gone.txt"_s), "kept");
        writeFile(src.filePath(u"one.txt"_s), "new one");
        QVERIFY(!RidorIvuvud::fileSystemManipulateWithFeedbackFrom(src.path(), dst.path(), 0, nullptr, listing));
        QCOMPARE(readFile(dst.filePath(u"gone.txt"_s)), "kept");
        QCOMPARE(readFile(dst.filePath(u"one.txt"_s)), "new one");
    }

    void menusAndControls()
    {
        QComboBox popUp;
        RidorIvuvud::populatePopUpMenu(&popUp, {u"a"_s, u"b"_s, u"c"_s});
        popUp.setCurrentIndex(2);
        RidorIvuvud::populatePopUpMenu(&popUp, {u"c"_s, u"x"_s, u"b"_s}, true);
        QCOMPARE(popUp.count(), 3);
        QCOMPARE(popUp.currentText(), u"c"_s);
        popUp.setCurrentIndex(1);
        RidorIvuvud::populatePopUpMenu(&popUp, {u"p"_s, u"q"_s}, true);
        QCOMPARE(popUp.currentText(), u"p"_s);
        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.populatePopUpMenu (with retain) - PopUp is NIL");
        RidorIvuvud::populatePopUpMenu(nullptr, {}, true);

        QWidget top;
        auto *group = new QWidget(&top);
        auto *kept = new QLineEdit(group);
        auto *inner = new QLineEdit(group);
        auto *direct = new QLineEdit(&top);
        RidorIvuvud::setControlEnabled(&top, false, true, {kept});
        QVERIFY(!direct->isEnabled() && !group->isEnabled() && !inner->isEnabled());
        QVERIFY(kept->isEnabledTo(group) && !inner->isEnabledTo(group));

        Target target;
        std::unique_ptr<QAction> item(
            RidorIvuvud::newToolbarItem(u"send"_s, u"Send"_s, u"no such image"_s, "act", &target));
        QCOMPARE(item->objectName(), u"send"_s);
        QCOMPARE(item->iconText(), u"Send"_s);
        item->trigger();
        QCOMPARE(target.calls, 1);
    }

    void conversions()
    {
        for (const char *yes : {"1", "true", "TRUE"})
            QVERIFY(RidorIvuvud::NSStringToBOOL(QLatin1StringView(yes)));
        for (const char *no : {"True", "yes", "", "01"})
            QVERIFY(!RidorIvuvud::NSStringToBOOL(QLatin1StringView(no)));
        QCOMPARE(RidorIvuvud::repeatString(u"ab"_s, -2), QString());
        QCOMPARE(RidorIvuvud::concat(u"n="_s, 42), u"n=42"_s);

        QFont font;
        font.setWeight(QFont::Light);
        QVERIFY(RidorIvuvud::fontIsLight(font) && !RidorIvuvud::fontIsBold(font));
        font.setWeight(QFont::Bold);
        font.setItalic(true);
        QVERIFY(!RidorIvuvud::fontIsLight(font) && RidorIvuvud::fontIsBold(font) && RidorIvuvud::fontIsItalic(font));
    }

    void prettySize_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("text");
        QTest::newRow("1023") << qint64(1023) << u"1023b"_s;
        QTest::newRow("1024") << qint64(1024) << u"1k"_s;
        QTest::newRow("1048576") << qint64(1048576) << u"1MB"_s;
        QTest::newRow("1.5") << qint64(1572864) << u"1.5MB"_s;
        QTest::newRow("rounded up") << qint64(1048577) << u"1.01MB"_s;
        QTest::newRow("large") << qint64(5) * 1024 * 1048576 << u"5120MB"_s;
    }
    void prettySize()
    {
        QFETCH(qint64, size);
        QFETCH(QString, text);
        QCOMPARE(RidorIvuvud::prettySize(size), std::optional<QString>(text));
        QCOMPARE(RidorIvuvud::prettySize(-1), std::nullopt);
    }

    void attributedComponents()
    {
        TextAttributes red;
        red.foreground = QColor(Qt::red);
        StyledText text(u",a,,bc,"_s);
        text.setAttributes(red, 4, 2);
        const QList<StyledText> pieces = RidorIvuvud::attributedComponentsSeparatedByString(u","_s, text);
        QCOMPARE(pieces.size(), 4);
        QCOMPARE(pieces.at(0).text(), QString());
        QCOMPARE(pieces.at(1).text(), u"a"_s);
        QCOMPARE(pieces.at(2).text(), QString());
        QCOMPARE(pieces.at(3).text(), u"bc"_s);
        QCOMPARE(pieces.at(3).attributesAt(0)->foreground, std::optional<QColor>(QColor(Qt::red)));
    }
};

QTEST_MAIN(TestCommonHelpers)
#include "tst_commonhelpers.moc"

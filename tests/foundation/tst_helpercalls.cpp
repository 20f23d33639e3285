#include "FennimarArrays.h"
#include "FennimarFileSystem.h"
#include "FennimarUserDefaults.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

struct Shape
{
    virtual ~Shape() = default;
};
struct Circle : Shape
{
};
struct Ellipse : Circle
{
};
struct Square : Shape
{
};

constexpr QFileDevice::Permissions OwnerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The owner/group/other bits only (QFile also reports the "user" bits for the current user).
QFileDevice::Permissions modeOf(const QString &path)
{
    return QFile(path).permissions()
           & (QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadGroup
              | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther | QFileDevice::WriteOther
              | QFileDevice::ExeOther);
}

} // namespace

class TestHelperCalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void defaultsMissingKeyGivesDefault();
    void defaultsRoundTrip_data();
    void defaultsRoundTrip();
    void defaultsReachTheFileAtOnce();
    void defaultsFileStaysPrivate();
    void defaultsLooseFileIsTightened();

    void fileIsExtension_data();
    void fileIsExtension();
    void fileNameParts_data();
    void fileNameParts();
    void fileTailWithoutComponents_data();
    void fileTailWithoutComponents();
    void fileMakeDirAndExists();

    void doesString_data();
    void doesString();
    void removeObjectsOfClassSharedPointers();
    void removeObjectsOfClassQObjects();
    void removeObjectsThatDontRespondTo();

private:
    QTemporaryDir m_dir;
};

void TestHelperCalls::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QVERIFY(m_dir.isValid());
    QFile::remove(FennimarUserDefaults::settingsFilePath());
}

void TestHelperCalls::defaultsMissingKeyGivesDefault()
{
    const QVariant fallback = QStringList{u"x"_s};
    QCOMPARE(FennimarUserDefaults::objectForKey(u"NeverWritten"_s, fallback), fallback);
    QVERIFY(!FennimarUserDefaults::objectForKey(u"NeverWritten"_s).isValid());
}

void TestHelperCalls::defaultsRoundTrip_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("string") << QVariant(u"AKIDEXAMPLE"_s);
    QTest::newRow("string with comma and equals") << QVariant(u"a, b = c"_s);
    QTest::newRow("empty list") << QVariant(QStringList());
    QTest::newRow("one path") << QVariant(QStringList{u"/home/me/a.brisko"_s});
    QTest::newRow("three paths") << QVariant(QStringList{u"/a"_s, u"/b c"_s, u"/d,e"_s});
    QTest::newRow("dictionary") << QVariant(QVariantMap{{u"k"_s, u"v"_s}, {u"n"_s, 3}});
    QTest::newRow("number") << QVariant(12);
}

void TestHelperCalls::defaultsRoundTrip()
{
    QFETCH(QVariant, value);
    const QString key = u"RoundTrip_"_s + QString::fromLatin1(QTest::currentDataTag()).remove(u' ');
    FennimarUserDefaults::setObject(value, key);
    QCOMPARE(FennimarUserDefaults::objectForKey(key, u"default"_s), value);
}

void TestHelperCalls::defaultsReachTheFileAtOnce()
{
    FennimarUserDefaults::setObject(u"written-now"_s, u"Marker"_s);
    QFile file(FennimarUserDefaults::settingsFilePath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("Marker=written-now"));
}

void TestHelperCalls::defaultsFileStaysPrivate()
{
    const QString path = FennimarUserDefaults::settingsFilePath();
    QFile::remove(path);
    // A file first created by a write through the shared settings object is private.
    {
        const auto settings = FennimarUserDefaults::settings();
        settings->setValue(u"AccessKey"_s, u"AKID"_s);
    }
    QCOMPARE(modeOf(path), OwnerReadWrite);
    for (int i = 0; i < 5; ++i) {
        FennimarUserDefaults::setObject(u"secret-%1"_s.arg(i), u"SecretKey"_s);
        QCOMPARE(modeOf(path), OwnerReadWrite);
    }
    QCOMPARE(FennimarUserDefaults::objectForKey(u"SecretKey"_s).toString(), u"secret-4"_s);
    QCOMPARE(FennimarUserDefaults::objectForKey(u"AccessKey"_s).toString(), u"AKID"_s);
}

void TestHelperCalls::defaultsLooseFileIsTightened()
{
    const QString path = FennimarUserDefaults::settingsFilePath();
    FennimarUserDefaults::setObject(1, u"Loose"_s);
    QVERIFY(QFile::setPermissions(path, OwnerReadWrite | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    FennimarUserDefaults::setObject(2, u"Loose"_s);
    QCOMPARE(modeOf(path), OwnerReadWrite);
}

void TestHelperCalls::fileIsExtension_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("expected");
    QTest::newRow("exact") << u"/c/Campaign.brisko"_s << u"brisko"_s << true;
    QTest::newRow("case differs") << u"/c/Campaign.BRISKO"_s << u"brisko"_s << false;
    QTest::newRow("last dot only") << u"x.tar.gz"_s << u"tar.gz"_s << false;
    QTest::newRow("dot in folder") << u"/a.brisko/file"_s << u"brisko"_s << false;
    QTest::newRow("no extension is empty") << u"/a/README"_s << QString() << true;
    QTest::newRow("trailing slash") << u"/a/b.brisko/"_s << u"brisko"_s << true;
}

void TestHelperCalls::fileIsExtension()
{
    QFETCH(QString, path);
    QFETCH(QString, extension);
    QFETCH(bool, expected);
    QCOMPARE(FennimarFileSystem::fileIsExtension(path, extension), expected);
}

void TestHelperCalls::fileNameParts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("tail");
    QTest::addColumn<QString>("bare");
    QTest::newRow("two dots") << u"/x/y/Report.final.txt"_s << u"Report.final.txt"_s << u"Report.final"_s;
    QTest::newRow("no folder") << u"Campaign.brisko"_s << u"Campaign.brisko"_s << u"Campaign"_s;
    QTest::newRow("no extension") << u"/x/README"_s << u"README"_s << u"README"_s;
    QTest::newRow("trailing slashes") << u"/x/Folder.d//"_s << u"Folder.d"_s << u"Folder"_s;
    QTest::newRow("dot folder, plain file") << u"/x.y/z"_s << u"z"_s << u"z"_s;
}

void TestHelperCalls::fileNameParts()
{
    QFETCH(QString, path);
    QFETCH(QString, tail);
    QFETCH(QString, bare);
    QCOMPARE(FennimarFileSystem::fileTail(path), std::optional<QString>(tail));
    QCOMPARE(FennimarFileSystem::fileWithoutExtensionOrPath(path), bare);
}

void TestHelperCalls::fileTailWithoutComponents_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("empty") << QString();
    QTest::newRow("root") << u"/"_s;
    QTest::newRow("slashes") << u"///"_s;
}

void TestHelperCalls::fileTailWithoutComponents()
{
    QFETCH(QString, path);
    QTest::ignoreMessage(QtWarningMsg, qPrintable(u"FennimarFileSystem.fileTail - could not get tail:"_s + path));
    QCOMPARE(FennimarFileSystem::fileTail(path), std::nullopt);
}

void TestHelperCalls::fileMakeDirAndExists()
{
    const QString orphan = m_dir.filePath(u"missing-parent/child"_s);
    FennimarFileSystem::fileMakeDir(orphan);
    QVERIFY(!FennimarFileSystem::fileExists(orphan));
    QVERIFY(!FennimarFileSystem::fileExists(m_dir.filePath(u"missing-parent"_s)));

    const QString folder = m_dir.filePath(u"Campaigns"_s);
    FennimarFileSystem::fileMakeDir(folder);
    QVERIFY(QFileInfo(folder).isDir());
    FennimarFileSystem::fileMakeDir(folder); // already there: silently nothing
    QVERIFY(FennimarFileSystem::fileExists(folder));

    const QString file = m_dir.filePath(u"a.brisko"_s);
    QFile(file).open(QIODevice::WriteOnly);
    QVERIFY(FennimarFileSystem::fileExists(file));
    QVERIFY(QFile::link(m_dir.filePath(u"gone"_s), m_dir.filePath(u"dangling"_s)));
    QVERIFY(!FennimarFileSystem::fileExists(m_dir.filePath(u"dangling"_s)));
    QVERIFY(!FennimarFileSystem::fileExists(QString()));
}

void TestHelperCalls::doesString_data()
{
    QTest::addColumn<QString>("string");
    QTest::addColumn<QStringList>("array");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<int>("expected");
    const QStringList headings{u"Name"_s, u"EMAIL"_s, u"City"_s, u"email"_s};
    QTest::newRow("exact") << u"EMAIL"_s << headings << false << 1;
    QTest::newRow("case differs") << u"Email"_s << QStringList{u"Name"_s, u"EMAIL"_s} << false << -1;
    QTest::newRow("ignoring case") << u"email"_s << QStringList{u"Name"_s, u"EMAIL"_s} << true << 1;
    QTest::newRow("first of several") << u"email"_s << headings << true << 1;
    QTest::newRow("exact later one") << u"email"_s << headings << false << 3;
    QTest::newRow("non-ASCII case") << u"ÉCOLE"_s << QStringList{u"école"_s} << true << 0;
    QTest::newRow("absent") << u"Phone"_s << headings << true << -1;
    QTest::newRow("empty array") << u"EMAIL"_s << QStringList() << false << -1;
}

void TestHelperCalls::doesString()
{
    QFETCH(QString, string);
    QFETCH(QStringList, array);
    QFETCH(bool, ignoreCase);
    QFETCH(int, expected);
    QCOMPARE(FennimarArrays::doesString(string, array, ignoreCase), expected);
}

void TestHelperCalls::removeObjectsOfClassSharedPointers()
{
    const auto shape = std::make_shared<Shape>();
    const auto circle = std::make_shared<Circle>();
    const auto ellipse = std::make_shared<Ellipse>();
    const auto square = std::make_shared<Square>();
    QList<std::shared_ptr<Shape>> list{circle, shape, ellipse, nullptr, square, circle};

    FennimarArrays::removeObjectsOfClass<Circle>(list);
    QCOMPARE(list, (QList<std::shared_ptr<Shape>>{shape, nullptr, square}));

    FennimarArrays::removeObjectsOfClass<Shape>(list);
    QCOMPARE(list, (QList<std::shared_ptr<Shape>>{nullptr}));
}

void TestHelperCalls::removeObjectsOfClassQObjects()
{
    QObject plain;
    QTimer timer;
    QBuffer buffer;
    QFile file;
    const QList<QObject *> all{&buffer, &plain, &file, &timer};

    QList<QObject *> list = all;
    FennimarArrays::removeObjectsOfClass<QIODevice>(list);
    QCOMPARE(list, (QList<QObject *>{&plain, &timer}));

    list = all;
    FennimarArrays::removeObjectsOfClass(QIODevice::staticMetaObject, list);
    QCOMPARE(list, (QList<QObject *>{&plain, &timer}));

    list = all;
    FennimarArrays::removeObjectsOfClass<QObject>(list);
    QVERIFY(list.isEmpty());
}

void TestHelperCalls::removeObjectsThatDontRespondTo()
{
    QObject plain;
    QTimer timer;
    QBuffer buffer;
    QList<QObject *> list{&plain, &timer, nullptr, &buffer};
    FennimarArrays::removeObjectsThatDontRespondTo("start", list);
    QCOMPARE(list, (QList<QObject *>{&timer}));

    list = {&plain, &timer, &buffer};
    FennimarArrays::removeObjectsThatDontRespondTo("start(int)", list);
    QCOMPARE(list, (QList<QObject *>{&timer}));

    list = {&plain, &timer, &buffer};
    FennimarArrays::removeObjectsThatDontRespondTo("readyRead()", list);
    QCOMPARE(list, (QList<QObject *>{&buffer}));

    QList<std::shared_ptr<Shape>> shapes{std::make_shared<Square>(), std::make_shared<Ellipse>()};
    FennimarArrays::removeObjectsThatDontRespondTo<Circle>(shapes);
    QCOMPARE(shapes.size(), 1);
    QVERIFY(std::dynamic_pointer_cast<Ellipse>(shapes.first()));
}

QTEST_GUILESS_MAIN(TestHelperCalls)
#include "tst_helpercalls.moc"

#include "FennimarArrays.h"
#include "FennimarFileSystem.h"
#include "FennimarUserDefaults.h"

#include <QBuffer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

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

constexpr QFileDevice::Permissions OwnerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The owner/group/other bits (QFile adds the "user" bits for the current user).
QFileDevice::Permissions modeOf(const QString &path)
{
    return QFile(path).permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

} // namespace

class TestHelperCalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void defaultsRoundTrip_data();
    void defaultsRoundTrip();
    void defaultsFileIsPrivateAndWritten();
    void fileNameParts_data();
    void fileNameParts();
    void fileTailWithoutComponents_data();
    void fileTailWithoutComponents();
    void fileMakeDirNeedsParent();
    void doesString_data();
    void doesString();
    void removeObjectsOfClass();
};

void TestHelperCalls::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(FennimarUserDefaults::settingsFilePath());
}

void TestHelperCalls::defaultsRoundTrip_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::newRow("text with comma and equals") << QVariant(u"a, b = c"_s);
    QTest::newRow("empty list") << QVariant(QStringList());
    QTest::newRow("one path") << QVariant(QStringList{u"/home/me/a.brisko"_s});
    QTest::newRow("dictionary") << QVariant(QVariantMap{{u"k"_s, u"v"_s}, {u"n"_s, 3}});
}

void TestHelperCalls::defaultsRoundTrip()
{
    QFETCH(QVariant, value);
    const QString key = u"RoundTrip "_s + QString::fromLatin1(QTest::currentDataTag());
    const QVariant fallback = QStringList{u"fallback"_s};
    QCOMPARE(FennimarUserDefaults::objectForKey(key, fallback), fallback);
    FennimarUserDefaults::setObject(value, key);
    QCOMPARE(FennimarUserDefaults::objectForKey(key, fallback), value);
}

void TestHelperCalls::defaultsFileIsPrivateAndWritten()
{
    const QString path = FennimarUserDefaults::settingsFilePath();
    QVERIFY(path.endsWith(u"/Brisko/Brisko.conf"_s));
    QFile::remove(path);
    {
        const auto settings = FennimarUserDefaults::settings(); // first write creates the file
        settings->setValue(u"AccessKey"_s, u"AKID"_s);
    }
    QCOMPARE(modeOf(path), OwnerReadWrite);
    for (int i = 0; i < 3; ++i) {
        FennimarUserDefaults::setObject(u"secret-%1"_s.arg(i), u"SecretKey"_s);
        QCOMPARE(modeOf(path), OwnerReadWrite);
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("SecretKey=secret-2")); // on disk when the call returns

    // A file left readable by others is tightened by the next write.
    QVERIFY(QFile::setPermissions(path, OwnerReadWrite | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    FennimarUserDefaults::setObject(1, u"Loose"_s);
    QCOMPARE(modeOf(path), OwnerReadWrite);
}

void TestHelperCalls::fileNameParts_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("tail");
    QTest::addColumn<QString>("bare");
    QTest::addColumn<QString>("extension");
    QTest::addColumn<bool>("isBrisko");
    QTest::newRow("two dots") << u"/x/y/Report.final.txt"_s << u"Report.final.txt"_s << u"Report.final"_s
                              << u"txt"_s << false;
    QTest::newRow("upper case") << u"Campaign.BRISKO"_s << u"Campaign.BRISKO"_s << u"Campaign"_s << u"BRISKO"_s
                                << false;
    QTest::newRow("trailing slash, dotted folder") << u"/a.b/c.brisko/"_s << u"c.brisko"_s << u"c"_s
                                                   << u"brisko"_s << true;
    QTest::newRow("no extension") << u"/x.y/README"_s << u"README"_s << u"README"_s << QString() << false;
}

void TestHelperCalls::fileNameParts()
{
    QFETCH(QString, path);
    QFETCH(QString, tail);
    QFETCH(QString, bare);
    QFETCH(QString, extension);
    QFETCH(bool, isBrisko);
    QCOMPARE(FennimarFileSystem::fileTail(path), std::optional<QString>(tail));
    QCOMPARE(FennimarFileSystem::fileWithoutExtensionOrPath(path), bare);
    QVERIFY(FennimarFileSystem::fileIsExtension(path, extension));
    QCOMPARE(FennimarFileSystem::fileIsExtension(path, u"brisko"_s), isBrisko);
}

void TestHelperCalls::fileTailWithoutComponents_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("empty") << QString();
    QTest::newRow("root") << u"/"_s;
}

void TestHelperCalls::fileTailWithoutComponents()
{
    QFETCH(QString, path);
    QTest::ignoreMessage(QtWarningMsg, qPrintable(u"FennimarFileSystem.fileTail - could not get tail:"_s + path));
    QCOMPARE(FennimarFileSystem::fileTail(path), std::nullopt);
}

void TestHelperCalls::fileMakeDirNeedsParent()
{
    QTemporaryDir dir;
    FennimarFileSystem::fileMakeDir(dir.filePath(u"missing/child"_s));
    QVERIFY(!FennimarFileSystem::fileExists(dir.filePath(u"missing"_s)));
    FennimarFileSystem::fileMakeDir(dir.filePath(u"Campaigns"_s));
    QVERIFY(FennimarFileSystem::fileExists(dir.filePath(u"Campaigns"_s)));
    QVERIFY(QFile::link(dir.filePath(u"gone"_s), dir.filePath(u"dangling"_s)));
    QVERIFY(!FennimarFileSystem::fileExists(dir.filePath(u"dangling"_s)));
}

void TestHelperCalls::doesString_data()
{
    QTest::addColumn<QString>("string");
    QTest::addColumn<bool>("ignoreCase");
    QTest::addColumn<int>("expected");
    // in: Name, EMAIL, école, email
    QTest::newRow("case differs") << u"Email"_s << false << -1;
    QTest::newRow("exact, later one") << u"email"_s << false << 3;
    QTest::newRow("ignoring case, first one") << u"email"_s << true << 1;
    QTest::newRow("ignoring case, non-ASCII") << u"ÉCOLE"_s << true << 2;
    QTest::newRow("absent") << u"Phone"_s << true << -1;
}

void TestHelperCalls::doesString()
{
    QFETCH(QString, string);
    QFETCH(bool, ignoreCase);
    QFETCH(int, expected);
    const QStringList headings{u"Name"_s, u"EMAIL"_s, u"école"_s, u"email"_s};
    QCOMPARE(FennimarArrays::doesString(string, headings, ignoreCase), expected);
}

void TestHelperCalls::removeObjectsOfClass()
{
    const auto shape = std::make_shared<Shape>();
    const auto circle = std::make_shared<Circle>();
    QList<std::shared_ptr<Shape>> shapes{circle, shape, std::make_shared<Ellipse>(), nullptr, circle};
    FennimarArrays::removeObjectsOfClass<Circle>(shapes);
    QCOMPARE(shapes, (QList<std::shared_ptr<Shape>>{shape, nullptr}));

    QObject plain;
    QTimer timer;
    QBuffer buffer;
    QFile file;
    const QList<QObject *> all{&buffer, &plain, &file, &timer};
    QList<QObject *> objects = all;
    FennimarArrays::removeObjectsOfClass<QIODevice>(objects);
    QCOMPARE(objects, (QList<QObject *>{&plain, &timer}));
    objects = all;
    FennimarArrays::removeObjectsOfClass(QIODevice::staticMetaObject, objects);
    QCOMPARE(objects, (QList<QObject *>{&plain, &timer}));

    objects = all;
    FennimarArrays::removeObjectsThatDontRespondTo("start", objects);
    QCOMPARE(objects, (QList<QObject *>{&timer}));
}

QTEST_GUILESS_MAIN(TestHelperCalls)
#include "tst_helpercalls.moc"

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

constexpr QFileDevice::Permissions OwnerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The owner/group/other bits (QFile adds the "user" bits for the current user).
QFileDevice::Permissions modeOf(const QString &path)
{
    return QFile(path).permissions() &
           ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

} // namespace

class TestHelperCalls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(FennimarUserDefaults::settingsFilePath());
    }

    // An unset key gives the fallback; lists (of none or one path) and dictionaries come back whole.
    void defaultsRoundTrip()
    {
        const QString key = u"Round Trip"_s;
        const QVariant fallback = QStringList{u"fallback"_s};
        QCOMPARE(FennimarUserDefaults::objectForKey(key, fallback), fallback);
        for (const QVariant &value : {QVariant(QStringList()), QVariant(QStringList{u"/home/me/a.brisko"_s}),
                                      QVariant(QVariantMap{{u"k"_s, u"v"_s}, {u"n"_s, 3}})}) {
            FennimarUserDefaults::setObject(value, key);
            QCOMPARE(FennimarUserDefaults::objectForKey(key, fallback), value);
        }
    }

    // The file holds the account's secret key: owner-only from its first write on.
    void defaultsFileIsPrivateAndWritten()
    {
        const QString path = FennimarUserDefaults::settingsFilePath();
        QVERIFY(path.endsWith(u"/Brisko/Brisko.conf"_s));
        QFile::remove(path);
        FennimarUserDefaults::settings()->setValue(u"AccessKey"_s, u"AKID"_s);
        QCOMPARE(modeOf(path), OwnerReadWrite);
        FennimarUserDefaults::setObject(u"secret-2"_s, u"SecretKey"_s);
        QCOMPARE(modeOf(path), OwnerReadWrite);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("SecretKey=secret-2")); // on disk when the call returns

        // A file left readable by others is tightened by the next write.
        QVERIFY(
            QFile::setPermissions(path, OwnerReadWrite | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        FennimarUserDefaults::setObject(1, u"Loose"_s);
        QCOMPARE(modeOf(path), OwnerReadWrite);
    }

    void fileNameParts_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("tail");
        QTest::addColumn<QString>("bare");
        QTest::addColumn<QString>("extension");
        QTest::addColumn<bool>("isBrisko");
        QTest::newRow("two dots") << u"/x/y/Report.final.txt"_s << u"Report.final.txt"_s << u"Report.final"_s
                                  << u"txt"_s << false;
        QTest::newRow("upper case") << u"Campaign.BRISKO"_s << u"Campaign.BRISKO"_s << u"Campaign"_s
                                    << u"BRISKO"_s << false;
        QTest::newRow("trailing slash, dotted folder")
            << u"/a.b/c.brisko/"_s << u"c.brisko"_s << u"c"_s << u"brisko"_s << true;
        QTest::newRow("no extension") << u"/x.y/README"_s << u"README"_s << u"README"_s << QString() << false;
    }

    void fileNameParts()
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

    void fileTailOfNothing()
    {
        for (const QString &path : {QString(), u"/"_s}) {
            QTest::ignoreMessage(QtWarningMsg,
                                 qPrintable(u"FennimarFileSystem.fileTail - could not get tail:"_s + path));
            QCOMPARE(FennimarFileSystem::fileTail(path), std::nullopt);
        }
    }

    void fileMakeDirNeedsParent()
    {
        QTemporaryDir dir;
        FennimarFileSystem::fileMakeDir(dir.filePath(u"missing/child"_s));
        QVERIFY(!FennimarFileSystem::fileExists(dir.filePath(u"missing"_s)));
        FennimarFileSystem::fileMakeDir(dir.filePath(u"Campaigns"_s));
        QVERIFY(FennimarFileSystem::fileExists(dir.filePath(u"Campaigns"_s)));
        QVERIFY(QFile::link(dir.filePath(u"gone"_s), dir.filePath(u"dangling"_s)));
        QVERIFY(!FennimarFileSystem::fileExists(dir.filePath(u"dangling"_s)));
    }

    void doesString()
    {
        const QStringList headings{u"Name"_s, u"EMAIL"_s, u"\u00e9cole"_s, u"email"_s};
        QCOMPARE(FennimarArrays::doesString(u"Email"_s, headings), -1);
        QCOMPARE(FennimarArrays::doesString(u"email"_s, headings), 3);
        QCOMPARE(FennimarArrays::doesString(u"email"_s, headings, true), 1);
        QCOMPARE(FennimarArrays::doesString(u"\u00c9COLE"_s, headings, true), 2);
    }

    // QBuffer is a child of QIODevice, QFile a grandchild; null elements stay.
    void removeObjectsOfClass()
    {
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

        const auto kept = std::make_shared<QTimer>();
        QList<std::shared_ptr<QObject>> shared{std::make_shared<QFile>(), kept, nullptr,
                                               std::make_shared<QBuffer>()};
        FennimarArrays::removeObjectsOfClass<QIODevice>(shared);
        QCOMPARE(shared, (QList<std::shared_ptr<QObject>>{kept, nullptr}));
    }
};

QTEST_GUILESS_MAIN(TestHelperCalls)
#include "tst_helpercalls.moc"

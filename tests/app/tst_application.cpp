// The application object at window level: start-up, files handed over by the desktop,
// the title, the sibling notification, campaign files, recent campaigns and the
// unsaved-changes question.

#include "AppTestMain.h"
#include "BriskoApplication.h"
#include "CampaignFile.h"
#include "DialogDriver.h"
#include "FennimarNotifications.h"
#include "FennimarUserDefaults.h"
#include "KeyedArchive.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace brisko;

namespace {

BriskoApplication *app()
{
    return BriskoApplication::instance();
}

QString title()
{
    return app()->window()->windowTitle().remove(u"[*]"_qs);
}

RecipientPtr record(const QString &email, const QString &name)
{
    return makeRecipient({{u"EMAIL"_qs, email}, {u"NAME"_qs, name}});
}

// Writes a campaign file holding only the given parts.
QString writeCampaign(const QString &path, const CampaignDocument &document)
{
    const auto error = CampaignFile::write(path, document);
    return error.value_or(QString());
}

} // namespace

class TestApplication : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void supportFoldersExistAndSurviveSetup();
    void openFileExtensionRule_data();
    void openFileExtensionRule();
    void windowTitleFollowsCampaignName();
    void siblingNotificationHandsOverPath();
    void saveAndLoadRoundTrip();
    void absentKeysFollowTheLoadRules();
    void missingFileStillBecomesCurrent();
    void invalidFileIsRefusedAndChangesNothing();
    void recentListOrderAndMenu();
    void firstSaveProposesUntitledThenReusesPath();
    void failedSaveKeepsIdentityAndReports();
    void unsavedChangesAreAskedAbout();
    void checkForUpdatesEntryIsRemoved();

private:
    QTemporaryDir m_dir;
};

void TestApplication::init()
{
    // Every case starts from an empty, unmodified campaign with no identity.
    app()->campaign().apply(CampaignDocument{QString(), QString(), QString(), QString(), QString(),
                                             QString(), QStringList(), RecipientList()});
    app()->campaign().setModified(false);
    const_cast<QHash<QString, QString> &>(app()->miscData()).clear();
    app()->updateWindowTitle();
    FennimarUserDefaults::setObject(QStringList(), u"RecentFiles"_qs);
}

void TestApplication::supportFoldersExistAndSurviveSetup()
{
    const QString support = app()->briskoSupportFolder();
    const QString campaigns = app()->briskoCampaignsSupportFolder();
    QVERIFY(support.endsWith(u"/Brisko"_qs));
    QCOMPARE(campaigns, support + u"/Campaigns"_qs);
    QVERIFY(QFileInfo(support).isDir());
    QVERIFY(QFileInfo(campaigns).isDir());

    // A second set-up finds the folders and leaves what is in them alone.
    QFile marker(campaigns + u"/keep.brisko"_qs);
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.write("x");
    marker.close();
    app()->setup();
    QVERIFY(QFile::exists(marker.fileName()));
    QVERIFY(marker.remove());
}

void TestApplication::openFileExtensionRule_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("brisko") << u"Spring.brisko"_qs << true;
    QTest::newRow("two dots") << u"Spring.final.brisko"_qs << true;
    QTest::newRow("capitals") << u"Spring.BRISKO"_qs << false;
    QTest::newRow("mixed case") << u"Spring.Brisko"_qs << false;
    QTest::newRow("other extension") << u"Spring.brisko.txt"_qs << false;
    QTest::newRow("no extension") << u"brisko"_qs << false;
}

void TestApplication::openFileExtensionRule()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    const QString path = m_dir.filePath(name);
    CampaignDocument document;
    document.subject = u"From the file"_qs;
    QCOMPARE(writeCampaign(path, document), QString());

    QCOMPARE(app()->application(app(), path), accepted);
    QCOMPARE(app()->subjectField()->text(), accepted ? u"From the file"_qs : QString());
    QCOMPARE(app()->currentCampaignPath().has_value(), accepted);
    app()->campaign().setModified(false);
}

void TestApplication::windowTitleFollowsCampaignName()
{
    QCOMPARE(title(), u"Brisko"_qs);
    QDir().mkpath(m_dir.filePath(u"any/folder"_qs));
    const QString path = m_dir.filePath(u"any/folder/Spring.brisko"_qs);
    QCOMPARE(writeCampaign(path, CampaignDocument{}), QString());
    app()->loadCampaignFromFile(path);
    QCOMPARE(title(), u"Brisko - Spring"_qs);
    QCOMPARE(app()->currentCampaignName(), std::optional<QString>(u"Spring"_qs));
    QCOMPARE(app()->currentCampaignPath(), std::optional<QString>(path));

    // Unsaved changes show in the title the platform's way, not in its text.
    app()->subjectField()->setText(u"changed"_qs);
    QVERIFY(app()->window()->isWindowModified());
    QCOMPARE(title(), u"Brisko - Spring"_qs);
    app()->campaign().setModified(false);
}

void TestApplication::siblingNotificationHandsOverPath()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no D-Bus session bus (run the suite through scripts/run-tests)");
    QSignalSpy handedOver(app(), &BriskoApplication::htmlPathImported);
    const QString html = m_dir.filePath(u"letter.html"_qs);
    QVERIFY(FennimarNotifications::postDistributedNotification(u"SOMETHING_ELSE"_qs, u"/nope.html"_qs));
    QVERIFY(FennimarNotifications::postDistributedNotification(u"GLIMB_TO_BRISKO"_qs, html));
    QTRY_COMPARE(handedOver.count(), 1);
    QCOMPARE(handedOver.first().first().toString(), html);
}

void TestApplication::saveAndLoadRoundTrip()
{
    app()->subjectField()->setText(u"Spring offers for __NAME__"_qs);
    app()->fromField()->setText(u"Shop <shop@example.com>"_qs);
    app()->replyToField()->setText(u"help@example.com"_qs);
    app()->returnPathField()->setText(u"bounce@example.com"_qs);
    app()->bodyView()->setPlainText(u"Dear __NAME__,\nhello.\n"_qs);
    app()->htmlView()->setPlainText(u"<p>Dear __NAME__ — ü</p>"_qs);
    app()->setupTableColumns({u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs});
    RecipientPtr bob = record(u"bob@example.com"_qs, u"Bob"_qs);
    bob->setValue(u"CITY"_qs, u"Köln"_qs);
    bob->setValue(u"HIDDEN"_qs, u"kept though no column shows it"_qs);
    app()->campaign().setRecipients({record(u"ann@example.com"_qs, u"Ann"_qs), bob});
    QVERIFY(app()->campaign().isModified());

    const QString path = m_dir.filePath(u"RoundTrip.brisko"_qs);
    QVERIFY(app()->saveCurrentCampaign(path));
    QVERIFY(!app()->campaign().isModified());

    // Wipe everything, then load it back.
    app()->subjectField()->clear();
    app()->fromField()->clear();
    app()->replyToField()->clear();
    app()->returnPathField()->clear();
    app()->bodyView()->clear();
    app()->htmlView()->clear();
    app()->setupTableColumns({});
    app()->campaign().setRecipients({});
    app()->loadCampaignFromFile(path);

    QCOMPARE(app()->subjectField()->text(), u"Spring offers for __NAME__"_qs);
    QCOMPARE(app()->fromField()->text(), u"Shop <shop@example.com>"_qs);
    QCOMPARE(app()->replyToField()->text(), u"help@example.com"_qs);
    QCOMPARE(app()->returnPathField()->text(), u"bounce@example.com"_qs);
    QCOMPARE(app()->bodyView()->toPlainText(), u"Dear __NAME__,\nhello.\n"_qs);
    QCOMPARE(app()->htmlView()->toPlainText(), u"<p>Dear __NAME__ — ü</p>"_qs);
    QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs}));
    QCOMPARE(app()->emailList(), (QStringList{u"ann@example.com"_qs, u"bob@example.com"_qs}));
    const RecipientPtr loaded = app()->recipients().at(1);
    QCOMPARE(loaded->value(u"CITY"), std::optional<QString>(u"Köln"_qs));
    QCOMPARE(loaded->value(u"HIDDEN"), std::optional<QString>(u"kept though no column shows it"_qs));
    QCOMPARE(app()->listView()->model()->rowCount(), 2);
    QVERIFY(!app()->campaign().isModified());
}

void TestApplication::absentKeysFollowTheLoadRules()
{
    app()->replyToField()->setText(u"typed@example.com"_qs);
    app()->returnPathField()->setText(u"typed-bounce@example.com"_qs);
    app()->campaign().setRecipients({record(u"kept@example.com"_qs, u"Kept"_qs)});

    // A file holding only a subject: Return-Path is emptied, everything else stays.
    const QString path = m_dir.filePath(u"Partial.brisko"_qs);
    const auto bytes = KeyedArchiver::archivedData(ArchiveValue::dictionary(
        {{u"SUBJECT"_qs, ArchiveValue::string(u"Only a subject"_qs)}}, ArchiveValue::Mutable));
    QVERIFY(bytes.ok());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes.value());
    file.close();
    app()->loadCampaignFromFile(path);
    QCOMPARE(app()->subjectField()->text(), u"Only a subject"_qs);
    QCOMPARE(app()->replyToField()->text(), u"typed@example.com"_qs);
    QCOMPARE(app()->returnPathField()->text(), QString());
    QCOMPARE(app()->emailList(), QStringList{u"kept@example.com"_qs});
    app()->campaign().setModified(false);
}

void TestApplication::missingFileStillBecomesCurrent()
{
    app()->replyToField()->setText(u"typed@example.com"_qs);
    app()->returnPathField()->setText(u"bounce@example.com"_qs);
    app()->campaign().setModified(false);
    const QString path = m_dir.filePath(u"Nowhere.brisko"_qs);
    QVERIFY(!QFile::exists(path));
    app()->loadCampaignFromFile(path);
    QCOMPARE(app()->returnPathField()->text(), QString());
    QCOMPARE(app()->replyToField()->text(), u"typed@example.com"_qs);
    QCOMPARE(app()->currentCampaignPath(), std::optional<QString>(path));
    QCOMPARE(title(), u"Brisko - Nowhere"_qs);
    QCOMPARE(FennimarUserDefaults::objectForKey(u"RecentFiles"_qs).toStringList(), QStringList{path});
}

void TestApplication::invalidFileIsRefusedAndChangesNothing()
{
    app()->subjectField()->setText(u"Before"_qs);
    app()->campaign().setModified(false);
    const auto before = app()->currentCampaignPath();

    const QString path = m_dir.filePath(u"Broken.brisko"_qs);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is not a campaign\n");
    file.close();

    DialogDriver driver;
    driver.answer({u"OK"_qs});
    app()->loadCampaignFromFile(path);
    QCOMPARE(driver.shown(), 1);
    QVERIFY(driver.texts().first().contains(path));
    QCOMPARE(app()->subjectField()->text(), u"Before"_qs);
    QCOMPARE(app()->currentCampaignPath(), before);
    QVERIFY(FennimarUserDefaults::objectForKey(u"RecentFiles"_qs).toStringList().isEmpty());
}

void TestApplication::recentListOrderAndMenu()
{
    app()->updateRecentMenu();
    QList<QAction *> items = app()->recentMenu()->actions();
    QCOMPARE(items.size(), 1);
    QCOMPARE(items.first()->text(), u"No files"_qs);
    QVERIFY(!items.first()->isEnabled());

    const QString a = m_dir.filePath(u"A.brisko"_qs);
    const QString b = m_dir.filePath(u"B.brisko"_qs);
    for (const QString &path : {a, b})
        QCOMPARE(writeCampaign(path, CampaignDocument{}), QString());
    app()->loadCampaignFromFile(a);
    app()->loadCampaignFromFile(b);
    app()->loadCampaignFromFile(a);
    QCOMPARE(FennimarUserDefaults::objectForKey(u"RecentFiles"_qs).toStringList(), (QStringList{b, a}));

    app()->updateRecentMenu();
    items = app()->recentMenu()->actions();
    QCOMPARE(items.size(), 2);
    QCOMPARE(items.at(0)->text(), u"B.brisko"_qs);
    QCOMPARE(items.at(1)->text(), u"A.brisko"_qs);
    QCOMPARE(items.at(0)->data().toString(), b);

    items.at(0)->trigger();
    QCOMPARE(app()->currentCampaignPath(), std::optional<QString>(b));
}

void TestApplication::firstSaveProposesUntitledThenReusesPath()
{
    QHash<QString, QString> &identity = const_cast<QHash<QString, QString> &>(app()->miscData());

    QString proposed;
    int asked = 0;
    const QString path = m_dir.filePath(u"Chosen.brisko"_qs);
    app()->setSavePathChooser([&](const QString &name) -> std::optional<QString> {
        proposed = name;
        ++asked;
        return path;
    });
    app()->subjectField()->setText(u"first"_qs);
    app()->saveCampaign();
    QCOMPARE(proposed, u"Untitled.brisko"_qs);
    QCOMPARE(title(), u"Brisko - Chosen"_qs);
    QCOMPARE(CampaignFile::read(path).document.subject, std::optional<QString>(u"first"_qs));

    app()->subjectField()->setText(u"second"_qs);
    app()->saveCampaign();
    QCOMPARE(asked, 1);
    QCOMPARE(CampaignFile::read(path).document.subject, std::optional<QString>(u"second"_qs));
    // Saving does not add to the recent list.
    QVERIFY(FennimarUserDefaults::objectForKey(u"RecentFiles"_qs).toStringList().isEmpty());

    // Cancelling the panel changes nothing.
    identity.clear();
    app()->setSavePathChooser([](const QString &) { return std::nullopt; });
    app()->saveCampaign();
    QVERIFY(!app()->currentCampaignPath());
    app()->setSavePathChooser({});
    app()->campaign().setModified(false);
}

void TestApplication::failedSaveKeepsIdentityAndReports()
{
    // A folder stands where the file should go: nothing can be written there.
    const QString blocked = m_dir.filePath(u"Blocked.brisko"_qs);
    QVERIFY(QDir().mkpath(blocked));
    app()->setSavePathChooser([&](const QString &) { return blocked; });
    app()->subjectField()->setText(u"unsaved"_qs);

    DialogDriver driver;
    driver.answer({u"OK"_qs});
    app()->saveCampaign();
    QCOMPARE(driver.shown(), 1);
    QVERIFY(driver.texts().first().contains(blocked));
    QVERIFY(!app()->currentCampaignPath());
    QCOMPARE(title(), u"Brisko"_qs);
    QVERIFY(app()->campaign().isModified());
    app()->setSavePathChooser({});

    // An existing campaign stays whole when a save over it fails part-way: the
    // new content goes to a temporary file first.
    const QString existing = m_dir.filePath(u"Existing.brisko"_qs);
    CampaignDocument old;
    old.subject = u"old"_qs;
    QCOMPARE(writeCampaign(existing, old), QString());
    const QByteArray before = [&] {
        QFile f(existing);
        f.open(QIODevice::ReadOnly);
        return f.readAll();
    }();
    if (geteuid() != 0) {
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        DialogDriver again;
        again.answer({u"OK"_qs});
        QVERIFY(!app()->saveCurrentCampaign(existing));
        QFile::setPermissions(m_dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner);
        QFile f(existing);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
    }
    app()->campaign().setModified(false);
}

void TestApplication::unsavedChangesAreAskedAbout()
{
    const QString other = m_dir.filePath(u"Other.brisko"_qs);
    CampaignDocument otherDocument;
    otherDocument.subject = u"other"_qs;
    QCOMPARE(writeCampaign(other, otherDocument), QString());
    app()->setOpenPathChooser([&](const QString &) { return other; });

    // Nothing unsaved: nothing is asked.
    {
        DialogDriver driver;
        app()->openCampaign();
        QCOMPARE(driver.shown(), 0);
        QCOMPARE(app()->subjectField()->text(), u"other"_qs);
    }
    // Cancel keeps the edit and loads nothing.
    {
        app()->subjectField()->setText(u"edited"_qs);
        DialogDriver driver;
        driver.answer({u"Cancel"_qs});
        app()->openCampaign();
        QCOMPARE(driver.shown(), 1);
        QCOMPARE(app()->subjectField()->text(), u"edited"_qs);
        QVERIFY(app()->campaign().isModified());
    }
    // Don't Save drops the edit and opens.
    {
        DialogDriver driver;
        driver.answer({u"Don't Save"_qs});
        app()->openCampaign();
        QCOMPARE(driver.unexpected(), 0);
        QCOMPARE(app()->subjectField()->text(), u"other"_qs);
        QVERIFY(!app()->campaign().isModified());
    }
    // Save writes the edit to the open campaign's file first.
    {
        app()->subjectField()->setText(u"edited again"_qs);
        DialogDriver driver;
        driver.answer({u"Save"_qs});
        app()->openCampaign();
        QCOMPARE(driver.unexpected(), 0);
        QCOMPARE(CampaignFile::read(other).document.subject, std::optional<QString>(u"edited again"_qs));
    }
    // Closing the window asks too; Cancel keeps it open.
    {
        app()->subjectField()->setText(u"unsaved at quit"_qs);
        DialogDriver driver;
        driver.answer({u"Cancel"_qs});
        app()->window()->show();
        QVERIFY(!app()->window()->close());
        QCOMPARE(driver.shown(), 1);
        QVERIFY(app()->window()->isVisible());
    }
    app()->setOpenPathChooser({});
    app()->campaign().setModified(false);
}

void TestApplication::checkForUpdatesEntryIsRemoved()
{
    QVERIFY(app()->isForAppStore());
    auto *item = app()->window()->findChild<QAction *>(u"checkForUpdatesItem"_qs);
    QVERIFY(item);
    const auto menus = app()->window()->findChildren<QMenu *>();
    for (QMenu *menu : menus)
        QVERIFY2(!menu->actions().contains(item), qPrintable(menu->objectName()));
}

BRISKO_APP_TEST_MAIN(TestApplication)

#include "tst_application.moc"

// The application object at window level: launch, files handed over by the desktop, the title,
// the sibling notification, campaign files, recent campaigns and unsaved changes.

#include "AppTestMain.h"
#include "AtomicFile.h"
#include "CampaignFile.h"
#include "FennimarGradientView.h"
#include "FennimarHelpViewer.h"
#include "FennimarNotifications.h"
#include "KeyedArchive.h"

#include <QDir>
#include <QMenu>

#include <unistd.h>

using namespace brisko;
using namespace brisko::test;

class TestApplication : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static QString title() { return app()->window()->windowTitle().remove(u"[*]"_qs); }
    static QStringList recent()
    {
        return FennimarUserDefaults::objectForKey(u"RecentFiles"_qs).toStringList();
    }
    // A campaign file in the test folder holding at most a subject.
    QString writeCampaign(const QString &name, const std::optional<QString> &subject = std::nullopt)
    {
        CampaignDocument document;
        document.subject = subject;
        if (CampaignFile::write(m_dir.filePath(name), document))
            qFatal("cannot write a campaign");
        return m_dir.filePath(name);
    }

private Q_SLOTS:
    // The interface files place the library's own classes, created by class name: the
    // gradient table, the bars around the recipient list, the headings and the panels'
    // backgrounds.
    void interfaceClassesByName_data()
    {
        QTest::addColumn<QString>("objectName");
        QTest::addColumn<QString>("className");
        QTest::newRow("table") << u"listView"_qs << u"OAGradientTableView"_qs;
        QTest::newRow("header") << u"headerPanel"_qs << u"FennimarGradientViewWithBottomStroke"_qs;
        QTest::newRow("list bar") << u"recipientsBar"_qs << u"FennimarGradientViewWithBottomStroke"_qs;
        QTest::newRow("button bar") << u"recipientsButtonBar"_qs << u"FennimarDarkGradientPanelDecor"_qs;
        QTest::newRow("heading") << u"recipientsTitle"_qs << u"ZilkPrettyHeadingField"_qs;
        QTest::newRow("account") << u"authBackground"_qs << u"FennimarFancyPanelView"_qs;
        QTest::newRow("progress") << u"progressBackground"_qs << u"FennimarFancyPanelView"_qs;
        QTest::newRow("statistics") << u"statisticsBackground"_qs << u"FennimarFancyPanelView"_qs;
    }

    void interfaceClassesByName()
    {
        QFETCH(QString, objectName);
        QFETCH(QString, className);
        const QWidget *widget = nullptr;
        for (const QWidget *root : {static_cast<QWidget *>(app()->window()), static_cast<QWidget *>(app()->authPanel()),
                                    static_cast<QWidget *>(app()->progressPanel()),
                                    static_cast<QWidget *>(app()->statisticsPanel())}) {
            if (!widget)
                widget = root->findChild<QWidget *>(objectName);
        }
        QVERIFY(widget);
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        if (auto *bar = qobject_cast<const FennimarGradientView *>(widget))
            QVERIFY(bar->drawGradient());
    }

    // Every case starts from an empty, unmodified campaign with no identity.
    void init()
    {
        clearCampaign();
        const_cast<QHash<QString, QString> &>(app()->miscData()).clear();
        app()->updateWindowTitle();
        FennimarUserDefaults::setObject(QStringList(), u"RecentFiles"_qs);
    }

    void cleanup() { app()->campaign().setModified(false); }

    // Launched: both support folders exist, a second set-up keeps what is in them, and
    // with no update framework the check-for-updates entry is gone from its menu.
    void launchState()
    {
        const QString campaigns = app()->briskoCampaignsSupportFolder();
        QCOMPARE(campaigns, app()->briskoSupportFolder() + u"/Campaigns"_qs);
        QFile marker(campaigns + u"/keep.brisko"_qs);
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        app()->setup();
        QVERIFY(marker.remove());
        auto *updates = app()->window()->findChild<QAction *>(u"checkForUpdatesItem"_qs);
        QVERIFY(updates && app()->isForAppStore());
        for (const QMenu *menu : app()->window()->findChildren<QMenu *>())
            QVERIFY(!menu->actions().contains(updates));
    }

    void openFileExtensionRule_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("brisko") << u"Spring.brisko"_qs << true;
        QTest::newRow("two dots") << u"Spring.final.brisko"_qs << true;
        QTest::newRow("capitals") << u"Spring.BRISKO"_qs << false;
        QTest::newRow("other extension") << u"Spring.brisko.txt"_qs << false;
    }

    void openFileExtensionRule()
    {
        QFETCH(QString, name);
        QFETCH(bool, accepted);
        QCOMPARE(app()->application(app(), writeCampaign(name, u"From the file"_qs)), accepted);
        QCOMPARE(app()->subjectField()->text(), accepted ? u"From the file"_qs : QString());
        QCOMPARE(app()->currentCampaignPath().has_value(), accepted);
    }

    void siblingNotificationHandsOverPath()
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

    void saveAndLoadRoundTrip()
    {
        const QList<QLineEdit *> fields = {app()->subjectField(), app()->fromField(), app()->replyToField(),
                                           app()->returnPathField()};
        const QStringList texts = {u"Spring offers for __NAME__"_qs, u"Shop <shop@example.com>"_qs,
                                   u"help@example.com"_qs, u"bounce@example.com"_qs};
        for (int i = 0; i < texts.size(); ++i)
            fields.at(i)->setText(texts.at(i));
        app()->bodyView()->setPlainText(u"Dear __NAME__,\nhello.\n"_qs);
        app()->htmlView()->setPlainText(u"<p>Dear __NAME__ — ü</p>"_qs);
        app()->setupTableColumns({u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs});
        setRecipients({u"ann@example.com"_qs, u"bob@example.com"_qs});
        app()->recipients().at(1)->setValue(u"CITY"_qs, u"Köln"_qs);
        const QString path = m_dir.filePath(u"RoundTrip.brisko"_qs);
        QVERIFY(app()->saveCurrentCampaign(path));
        QVERIFY(!app()->campaign().isModified());

        init(); // everything wiped
        app()->loadCampaignFromFile(path);
        for (int i = 0; i < texts.size(); ++i)
            QCOMPARE(fields.at(i)->text(), texts.at(i));
        QCOMPARE(app()->bodyView()->toPlainText(), u"Dear __NAME__,\nhello.\n"_qs);
        QCOMPARE(app()->htmlView()->toPlainText(), u"<p>Dear __NAME__ — ü</p>"_qs);
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs}));
        QCOMPARE(app()->emailList(), (QStringList{u"ann@example.com"_qs, u"bob@example.com"_qs}));
        QCOMPARE(app()->recipients().at(1)->value(u"CITY"), std::optional<QString>(u"Köln"_qs));
        QVERIFY(!app()->campaign().isModified());
    }

    // Loading keeps what the file leaves out, but Return-Path is emptied; a missing file
    // reads as one holding nothing and still becomes current; an invalid one is refused
    // with a message naming it, changing nothing.
    void loadingAFile_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("bytes"); // null: no file
        QTest::addColumn<QString>("name");     // of the campaign; empty: none
        QTest::addColumn<QString>("subject");
        const auto partial = KeyedArchiver::archivedData(ArchiveValue::dictionary(
            {{u"SUBJECT"_qs, ArchiveValue::string(u"Only a subject"_qs)}}, ArchiveValue::Mutable));
        QTest::newRow("only a subject")
            << u"Spring.brisko"_qs << partial.value() << u"Spring"_qs << u"Only a subject"_qs;
        QTest::newRow("missing") << u"Nowhere.brisko"_qs << QByteArray() << u"Nowhere"_qs << u"Before"_qs;
        QTest::newRow("invalid") << u"Broken.brisko"_qs << QByteArray("no campaign\n") << QString()
                                 << u"Before"_qs;
    }

    void loadingAFile()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(QString, subject);
        const bool refused = name.isEmpty();
        app()->subjectField()->setText(u"Before"_qs);
        app()->replyToField()->setText(u"typed@example.com"_qs);
        app()->returnPathField()->setText(u"bounce@example.com"_qs);
        setRecipients({u"kept@example.com"_qs});
        const QString path = m_dir.filePath(file);
        QFile written(path);
        QVERIFY(bytes.isNull() ||
                (written.open(QIODevice::WriteOnly) && written.write(bytes) == bytes.size()));
        written.close();
        DialogDriver driver({u"OK"_qs});
        app()->loadCampaignFromFile(path);
        QCOMPARE(driver.shown(), refused ? 1 : 0);
        QVERIFY(!refused || driver.texts().first().contains(path));
        QCOMPARE(app()->subjectField()->text(), subject);
        QCOMPARE(app()->replyToField()->text(), u"typed@example.com"_qs);
        QCOMPARE(app()->returnPathField()->text(), refused ? u"bounce@example.com"_qs : QString());
        QCOMPARE(app()->emailList(), QStringList{u"kept@example.com"_qs});
        QCOMPARE(app()->currentCampaignPath(), refused ? std::nullopt : std::optional(path));
        QCOMPARE(app()->currentCampaignName(), refused ? std::nullopt : std::optional(name));
        QCOMPARE(recent(), refused ? QStringList() : QStringList{path});
        const QString shown = refused ? u"Brisko"_qs : u"Brisko - "_qs + name;
        QCOMPARE(title(), shown);
        // Unsaved changes show in the title the platform's way, not in its text.
        app()->subjectField()->setText(u"changed"_qs);
        QVERIFY(app()->window()->isWindowModified());
        QCOMPARE(title(), shown);
    }

    // The menu follows the recent list at once: the campaign just opened is listed.
    void recentListOrderAndMenu()
    {
        app()->updateRecentMenu();
        const QList<QAction *> items = app()->recentMenu()->actions();
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.first()->text(), u"No files"_qs);
        QVERIFY(!items.first()->isEnabled());

        const QString a = writeCampaign(u"A.brisko"_qs), b = writeCampaign(u"B.brisko"_qs);
        QStringList listed;
        for (const QString &path : {a, b, a}) {
            app()->loadCampaignFromFile(path);
            listed.clear();
            for (QAction *item : app()->recentMenu()->actions())
                listed.append(item->data().toString());
            QCOMPARE(listed.last(), path);
        }
        QCOMPARE(recent(), (QStringList{b, a}));
        QCOMPARE(listed, (QStringList{b, a}));
    }

    // The desktop appends a display name to every title that does not end with it; none
    // is set apart from the program's name, so the title stands alone.
    void titleWithoutDuplicateName()
    {
        app()->loadCampaignFromFile(writeCampaign(u"Spring.brisko"_qs));
        QCOMPARE(app()->window()->windowTitle(), u"Brisko - Spring[*]"_qs);
        const QString name = QCoreApplication::applicationName();
        QCoreApplication::setApplicationName(u"Probe"_qs);
        const QString display = QGuiApplication::applicationDisplayName();
        QCoreApplication::setApplicationName(name);
        QCOMPARE(display, u"Probe"_qs);
    }

    // Help › Brisko Help (F1 or Ctrl+?) makes one help window on first use, set up with
    // the program's pages, and shows that same window every time after.
    void helpOpensOneViewer()
    {
        auto *action = app()->window()->findChild<QAction *>(u"helpAction"_qs);
        QVERIFY(action);
        QCOMPARE(action->shortcuts(), (QList<QKeySequence>{QKeySequence(Qt::Key_F1), QKeySequence(u"Ctrl+?"_qs)}));
        QVERIFY(!app()->helpViewer());
        action->trigger();
        FennimarHelpViewer *viewer = app()->helpViewer();
        QVERIFY(viewer);
        QTRY_VERIFY(viewer->isVisible());
        QVERIFY(viewer->window()->windowTitle().contains(u"Brisko"_qs));
        QVERIFY(!viewer->pages().isEmpty());
        QVERIFY(viewer->statusText().isEmpty());
        viewer->setCloseDelay(10);
        viewer->closeWindowAnimated();
        QTRY_VERIFY(!viewer->isVisible());
        app()->showHelp();
        QCOMPARE(app()->helpViewer(), viewer);
        QTRY_VERIFY(viewer->isVisible());
        viewer->closeWindow();
    }

    // File › New Campaign asks about unsaved changes, then starts empty and untitled.
    void newCampaignStartsEmpty()
    {
        app()->loadCampaignFromFile(writeCampaign(u"Full.brisko"_qs, u"subject"_qs));
        setRecipients({u"a@example.com"_qs});
        auto *action = app()->window()->findChild<QAction *>(u"newAction"_qs);
        QVERIFY(action);
        QCOMPARE(action->shortcut(), QKeySequence(u"Ctrl+N"_qs));
        DialogDriver driver({u"Cancel"_qs, u"Don't Save"_qs});
        action->trigger();
        QCOMPARE(app()->emailList(), QStringList{u"a@example.com"_qs});
        action->trigger();
        QCOMPARE(driver.shown(), 2);
        QVERIFY(app()->emailList().isEmpty());
        QCOMPARE(app()->subjectField()->text(), QString());
        QCOMPARE(app()->campaign().columns(), QStringList{u"EMAIL"_qs});
        QVERIFY(!app()->currentCampaignPath() && !app()->campaign().isModified());
        QCOMPARE(title(), u"Brisko"_qs);
        QVERIFY(!app()->undoStack()->canUndo());
    }

    // The first save proposes "Untitled.brisko" in the campaigns folder; a failed one is
    // reported and keeps the campaign's identity, a good one names it and the next save
    // reuses its path. A name typed without an extension gets ".brisko".
    void savingProposesUntitledThenReusesPath()
    {
        const QString blocked = m_dir.filePath(u"Blocked.brisko"_qs); // a folder: nothing can go there
        QVERIFY(QDir().mkpath(blocked));
        const QString path = m_dir.filePath(u"Chosen.brisko"_qs);
        QStringList proposed;
        app()->setSavePathChooser([&](const QString &name) -> std::optional<QString> {
            proposed.append(name);
            return proposed.size() == 1 ? blocked : m_dir.filePath(u"Chosen"_qs);
        });
        app()->subjectField()->setText(u"first"_qs);
        DialogDriver driver({u"OK"_qs});
        app()->saveCampaign();
        QCOMPARE(driver.shown(), 1);
        QVERIFY(driver.texts().first().contains(blocked));
        QVERIFY(!app()->currentCampaignPath());
        QCOMPARE(title(), u"Brisko"_qs);
        QVERIFY(app()->campaign().isModified());

        app()->saveCampaign();
        const QString untitled = app()->briskoCampaignsSupportFolder() + u"/Untitled.brisko"_qs;
        QCOMPARE(proposed, (QStringList{untitled, untitled}));
        QCOMPARE(app()->currentCampaignPath(), std::optional(path));
        QVERIFY(!QFile::exists(m_dir.filePath(u"Chosen"_qs)));
        QCOMPARE(title(), u"Brisko - Chosen"_qs);
        QCOMPARE(CampaignFile::read(path).document.subject, std::optional<QString>(u"first"_qs));
        app()->subjectField()->setText(u"second"_qs);
        app()->saveCampaign();
        QCOMPARE(proposed.size(), 2);
        QCOMPARE(CampaignFile::read(path).document.subject, std::optional<QString>(u"second"_qs));
        QVERIFY(recent().isEmpty()); // saving does not add to the recent list
        app()->setSavePathChooser({});

        // A save over a campaign that fails part-way (the disk fills) is told with the reason,
        // leaves the file whole and the campaign unsaved.
        AtomicFile::setFailureHookForTesting(
            [](AtomicFile::Step step) { return step == AtomicFile::Step::Write ? ENOSPC : 0; });
        driver.answer({u"OK"_qs});
        app()->subjectField()->setText(u"third"_qs);
        QVERIFY(!app()->saveCurrentCampaign(path));
        AtomicFile::setFailureHookForTesting({});
        QVERIFY(driver.texts().last().endsWith(u"”: No space left on device"_qs));
        QVERIFY(app()->campaign().isModified());
        QCOMPARE(CampaignFile::read(path).document.subject, std::optional<QString>(u"second"_qs));
    }

    void unsavedChangesAreAskedAbout()
    {
        const QString other = writeCampaign(u"Other.brisko"_qs, u"other"_qs);
        app()->setOpenPathChooser([&](const QString &) { return other; });
        // How many questions the command asked, plus a hundred for each answer that did not fit.
        const auto ask = [](const QStringList &answers, const std::function<void()> &command) {
            DialogDriver driver(answers);
            command();
            return driver.shown() + 100 * driver.unexpected();
        };
        const auto open = [] { app()->openCampaign(); };
        QCOMPARE(ask({}, open), 0); // nothing unsaved, nothing asked
        QCOMPARE(app()->subjectField()->text(), u"other"_qs);
        // Cancel keeps the edit and loads nothing.
        app()->subjectField()->setText(u"edited"_qs);
        QCOMPARE(ask({u"Cancel"_qs}, open), 1);
        QCOMPARE(app()->subjectField()->text(), u"edited"_qs);
        QVERIFY(app()->campaign().isModified());
        // Don't Save drops the edit and opens.
        QCOMPARE(ask({u"Don't Save"_qs}, open), 1);
        QCOMPARE(app()->subjectField()->text(), u"other"_qs);
        QVERIFY(!app()->campaign().isModified());
        // Save writes the edit to the open campaign's file first.
        app()->subjectField()->setText(u"edited again"_qs);
        QCOMPARE(ask({u"Save"_qs}, open), 1);
        QCOMPARE(CampaignFile::read(other).document.subject, std::optional<QString>(u"edited again"_qs));
        app()->setOpenPathChooser({});
        // Closing the window asks too; Cancel keeps it open.
        app()->subjectField()->setText(u"unsaved at quit"_qs);
        app()->window()->show();
        QCOMPARE(ask({u"Cancel"_qs}, [] { QVERIFY(!app()->window()->close()); }), 1);
        QVERIFY(app()->window()->isVisible());
    }
};

BRISKO_APP_TEST_MAIN(TestApplication, true)

#include "tst_application.moc"

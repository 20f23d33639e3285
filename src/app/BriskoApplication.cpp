#include "BriskoApplication.h"

#include "Bundle.h"
#include "CampaignFile.h"
#include "FennimarControls.h"
#include "FennimarFileSystem.h"
#include "FennimarHelpViewer.h"
#include "FennimarUserDefaults.h"
#include "InterfaceLoader.h"
#include "Localization.h"
#include "Localizer.h"
#include "RecipientTableModel.h"
#include "RidorIvuvud.h"
#include "applogging.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileOpenEvent>
#include <QHeaderView>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMetaType>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QProgressBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace brisko {

BriskoApplication::BriskoApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    // No separate display name: the desktop would append it to every window title, and
    // the main window's title already begins with the program's name.
    setApplicationName(QStringLiteral("Brisko"));
    setApplicationVersion(QStringLiteral(BRISKO_VERSION));
    setDesktopFileName(QStringLiteral("brisko"));
    setWindowIcon(QIcon(Bundle::resourcePath() + u"/images/brisko.png"_qs));

    m_localizer = std::make_unique<Localizer>();
    m_localizer->install();
    setup();
    // Answers of the account requests come back to the application object.
    MailHost::setShared(this);
}

BriskoApplication::~BriskoApplication()
{
    if (MailHost::shared() == this)
        MailHost::setShared(nullptr);
    FennimarNotifications::removeDistributedObserver(this);
    // The window's widgets lose the focus as they go; the edit actions go with them.
    disconnect(this, &QApplication::focusChanged, this, nullptr);
    // Web views must go while the application is whole.
    delete m_helpViewer;
    delete m_window;
    setLocalizeFunction({});
}

BriskoApplication *BriskoApplication::instance()
{
    return qobject_cast<BriskoApplication *>(QCoreApplication::instance());
}

void BriskoApplication::setup()
{
    m_campaign.recipients().clear();
    // The platform's data folder itself may not exist yet on a new account; the
    // program's own folders are then made one level at a time below it.
    QDir().mkpath(QFileInfo(briskoSupportFolder()).path());
    for (const QString &folder : {briskoSupportFolder(), briskoCampaignsSupportFolder()}) {
        if (!FennimarFileSystem::fileExists(folder))
            FennimarFileSystem::fileMakeDir(folder);
    }
}

QString BriskoApplication::briskoSupportFolder() const
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + u"/Brisko"_qs;
}

QString BriskoApplication::briskoCampaignsSupportFolder() const
{
    return briskoSupportFolder() + u"/Campaigns"_qs;
}

bool BriskoApplication::loadInterface()
{
    m_loader = std::make_unique<InterfaceLoader>(
        [this](const QString &key) { return valueForUndefinedKey(key); });
    m_window = qobject_cast<QMainWindow *>(m_loader->loadInterface(QStringLiteral("MainWindow")));
    if (!m_window)
        return false;

    m_listView = child<QTableView>(m_window, "listView");
    m_subjectField = child<QLineEdit>(m_window, "subjectField");
    m_fromField = child<QLineEdit>(m_window, "fromField");
    m_replyToField = child<QLineEdit>(m_window, "replyToField");
    m_returnPathField = child<QLineEdit>(m_window, "returnPathField");
    m_recentMenu = child<QMenu>(m_window, "recentMenu");
    m_quotaField = child<QLabel>(m_window, "quotaField");
    m_bodyView = child<QPlainTextEdit>(m_window, "bodyView");
    m_htmlView = child<QPlainTextEdit>(m_window, "htmlView");
    // Tab types a tab in the editors, so Ctrl+Tab and Ctrl+Shift+Tab move the focus on from
    // them (the body tabs change with the arrow keys on the tab bar).
    for (QPlainTextEdit *editor : {m_bodyView, m_htmlView}) {
        if (!editor)
            continue;
        for (const bool forward : {true, false}) {
            auto *leave = new QShortcut(forward ? QKeySequence(Qt::CTRL | Qt::Key_Tab)
                                                : QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab),
                                        editor);
            leave->setContext(Qt::WidgetShortcut);
            connect(leave, &QShortcut::activated, editor, [editor, forward] {
                // The window moves the focus on from its focus widget, as for Tab outside an editor.
                QKeyEvent tab(QEvent::KeyPress, forward ? Qt::Key_Tab : Qt::Key_Backtab,
                              forward ? Qt::NoModifier : Qt::ShiftModifier);
                QCoreApplication::sendEvent(editor->window(), &tab);
            });
        }
    }
    m_htmlPreviewView = child<QWebEngineView>(m_window, "htmlPreviewView");
    m_checkForUpdatesItem = child<QAction>(m_window, "checkForUpdatesItem");
    m_placeHoldersForHTMLPopUp = child<QComboBox>(m_window, "placeHoldersForHTMLPopUp");
    m_placeHoldersForTextPopUp = child<QComboBox>(m_window, "placeHoldersForTextPopUp");

    m_progressPanel = qobject_cast<QDialog *>(m_loader->loadInterface(QStringLiteral("ProgressPanel"), m_window));
    m_progressPanelBar = child<QProgressBar>(m_progressPanel, "progressPanel_Bar");
    m_progressPanelText = child<QLabel>(m_progressPanel, "progressPanel_Text");
    m_authPanel = qobject_cast<QDialog *>(m_loader->loadInterface(QStringLiteral("AccountPanel"), m_window));
    m_statisticsPanel =
        qobject_cast<QDialog *>(m_loader->loadInterface(QStringLiteral("StatisticsPanel"), m_window));
    m_statisticsWebview = child<QWebEngineView>(m_statisticsPanel, "statistics_webview");
    for (QDialog *panel : {m_progressPanel.data(), m_authPanel.data(), m_statisticsPanel.data()}) {
        if (panel)
            panel->setWindowFlag(Qt::Dialog);
    }

    connectInterface();
    return true;
}

void BriskoApplication::connectInterface()
{
    QMainWindow *w = m_window;
    w->installEventFilter(this);

    m_tableModel = new RecipientTableModel(&m_campaign, w);
    if (m_listView) {
        m_listView->setModel(m_tableModel);
        m_listView->horizontalHeader()->setSectionsMovable(true);
        m_listView->horizontalHeader()->setStretchLastSection(true);
        m_listView->verticalHeader()->hide();
        m_listView->setColumnWidth(0, 48);
        m_listView->setColumnWidth(1, 28);
        m_listView->setColumnWidth(2, 240);
    }
    auto *count = child<QLabel>(w, "recipientsCount");
    auto updateCount = [this, count] {
        if (count)
            count->setText(QStringLiteral("(%1)").arg(m_campaign.recipients().size()));
    };
    connect(&m_campaign, &Campaign::recipientsReset, w, updateCount);
    updateCount();

    // The four fields and both editors mirror the campaign.
    const std::pair<QLineEdit *, Campaign::Field> lines[] = {
        {m_subjectField, Campaign::Field::Subject},
        {m_fromField, Campaign::Field::From},
        {m_replyToField, Campaign::Field::ReplyTo},
        {m_returnPathField, Campaign::Field::ReturnPath},
    };
    for (const auto &[edit, which] : lines) {
        if (!edit)
            continue;
        connect(edit, &QLineEdit::textChanged, this, [this, which = which](const QString &text) {
            if (m_updatingFields)
                return;
            // The widget already shows the text: the campaign's change is not echoed back.
            m_updatingFields = true;
            m_campaign.setField(which, text);
            m_updatingFields = false;
        });
    }
    const std::pair<QPlainTextEdit *, Campaign::Field> editors[] = {
        {m_bodyView, Campaign::Field::Body},
        {m_htmlView, Campaign::Field::Html},
    };
    for (const auto &[editor, which] : editors) {
        if (!editor)
            continue;
        connect(editor, &QPlainTextEdit::textChanged, this, [this, editor = editor, which = which] {
            if (m_updatingFields)
                return;
            m_updatingFields = true;
            m_campaign.setField(which, editor->toPlainText());
            m_updatingFields = false;
            updateHTMLPreview();
        });
    }
    connect(&m_campaign, &Campaign::fieldChanged, this, &BriskoApplication::refreshField);
    connect(&m_campaign, &Campaign::modifiedChanged, w, &QWidget::setWindowModified);

    if (m_htmlPreviewView) {
        QWebEngineSettings *settings = m_htmlPreviewView->settings();
        settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    }
    if (m_statisticsWebview)
        m_statisticsWebview->settings()->setAttribute(QWebEngineSettings::JavascriptEnabled, false);

    if (m_quotaField) {
        m_quotaField->setStyleSheet(QStringLiteral(
            "QLabel#quotaField { color: white; border-radius: 5px; padding: 2px 10px;"
            " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #4a5566, stop:1 #2c333d); }"));
    }

    for (QComboBox *popUp : {m_placeHoldersForHTMLPopUp, m_placeHoldersForTextPopUp}) {
        if (!popUp)
            continue;
        // The chosen entry is what a screen reader calls the list: each list says its own.
        popUp->addItem(brisko::tr(popUp == m_placeHoldersForTextPopUp ? QStringLiteral("PlaceholdersForText")
                                                                      : QStringLiteral("PlaceholdersForHTML")));
        popUp->setEnabled(false);
    }

    auto *splitter = w->findChild<QSplitter *>(QStringLiteral("mainSplitter"));
    if (splitter)
        splitter->setSizes({540, 740});
    if (auto *editorSplitter = w->findChild<QSplitter *>(QStringLiteral("editorSplitter"))) {
        // Editor, attachment list, preview: the list keeps a few lines and the preview has
        // room of its own from the start; growing the window grows the editor and preview.
        editorSplitter->setSizes({360, 80, 280});
        const int list = editorSplitter->indexOf(w->findChild<QWidget *>(QStringLiteral("attachmentsPane")));
        for (int i = 0; i < editorSplitter->count(); ++i)
            editorSplitter->setStretchFactor(i, i == list ? 0 : 1);
    }

    // Actions
    auto action = [w](const char *name) { return child<QAction>(w, name); };
    QStyle *style = w->style();
    auto wire = [&](const char *name, auto slot, std::optional<QStyle::StandardPixmap> icon = std::nullopt) {
        if (QAction *a = action(name)) {
            connect(a, &QAction::triggered, this, slot);
            if (icon)
                a->setIcon(style->standardIcon(*icon));
        }
    };
    if (QAction *a = action("openAction"))
        a->setIcon(style->standardIcon(QStyle::SP_DialogOpenButton));
    if (QAction *a = action("saveAction"))
        a->setIcon(style->standardIcon(QStyle::SP_DialogSaveButton));
    wire("quitAction", [this] { m_window->close(); });
    wire("helpAction", [this] { showHelp(); });
    if (QAction *help = action("helpAction"))
        help->setShortcuts({QKeySequence(Qt::Key_F1), QKeySequence(u"Ctrl+?"_qs)});
    wire("aboutAction", [this] { showAbout(); });
    wire("cutAction", [this] { editAction("cut"); });
    wire("copyAction", [this] { editAction("copy"); });
    wire("pasteAction", [this] { editAction("paste"); });
    wire("selectAllAction", [this] { editAction("selectAll"); });

    // Commands whose work is not in this build yet stay visible but disabled; each
    // part's connect function below enables what it wires.
    const char *pending[] = {"importListAction", "exportListAction", "boldAction", "italicAction",
                             "lineBreakAction", "addRecipientAction", "removeRecipientAction",
                             "verifyAction", "accountSettingsAction", "checkQuotaAction",
                             "statisticsAction", "sendAction", "sendTestAction"};
    for (const char *name : pending) {
        if (QAction *a = action(name))
            a->setEnabled(false);
    }
    if (QAction *a = action("importListAction"))
        a->setIcon(style->standardIcon(QStyle::SP_FileDialogNewFolder));
    if (QAction *a = action("exportListAction"))
        a->setIcon(style->standardIcon(QStyle::SP_DriveFDIcon));
    if (QAction *a = action("sendAction"))
        a->setIcon(style->standardIcon(QStyle::SP_ArrowForward));
    for (const char *name : {"sendButton", "addRecipientButton", "removeRecipientButton"}) {
        if (auto *button = w->findChild<QWidget *>(QLatin1StringView(name)))
            button->setEnabled(false);
    }
    if (auto *search = w->findChild<QLineEdit *>(QStringLiteral("searchField")))
        search->setEnabled(false);

    connectUndo();
    connectStorage();
    connectImport();
    connectTable();
    connectEditor();
    connectAccount();
    connectDelivery();
    connectAttachments();
    connectTestSend();

    if (auto *cancel = child<QDialogButtonBox>(m_progressPanel, "progressButtons"))
        connect(cancel, &QDialogButtonBox::rejected, m_progressPanel, &QDialog::reject);
    if (auto *buttons = child<QDialogButtonBox>(m_authPanel, "authButtons"))
        connect(buttons, &QDialogButtonBox::rejected, m_authPanel, &QDialog::reject);
    if (auto *buttons = child<QDialogButtonBox>(m_statisticsPanel, "statisticsButtons"))
        connect(buttons, &QDialogButtonBox::rejected, m_statisticsPanel, &QDialog::reject);

    updateWindowTitle();
}

void BriskoApplication::applicationDidFinishLaunching()
{
    // With no access key stored there is nothing to ask, and the quota line keeps its
    // first text.
    if (hasAuthInfo())
        checkQuota();
    updateHTMLPreview();
    if (isForAppStore() && m_checkForUpdatesItem) {
        const QList<QObject *> owners = m_checkForUpdatesItem->associatedObjects();
        for (QObject *owner : owners) {
            if (auto *menu = qobject_cast<QMenu *>(owner))
                menu->removeAction(m_checkForUpdatesItem);
        }
    }
    FennimarNotifications::addDistributedObserver(this, SiblingNotificationName.toString());
    updateRecentMenu();
}

bool BriskoApplication::application(QApplication *, const QString &openFile)
{
    if (!FennimarFileSystem::fileIsExtension(openFile, QStringLiteral("brisko")))
        return false;
    if (!confirmDiscardChanges())
        return false;
    loadCampaignFromFile(openFile);
    return true;
}

QMainWindow *BriskoApplication::window() const
{
    return m_window;
}

void BriskoApplication::updateWindowTitle()
{
    if (!m_window)
        return;
    const auto name = currentCampaignName();
    if (name)
        m_window->setWindowTitle(QStringLiteral("Brisko - %1[*]").arg(*name));
    else
        m_window->setWindowTitle(QStringLiteral("Brisko[*]"));
    m_window->setWindowModified(m_campaign.isModified());
}

void BriskoApplication::campaignAction(QComboBox *sender)
{
    if (!sender || !confirmDiscardChanges())
        return;
    m_miscData.insert(CurrentCampaignKey.toString(), sender->currentText());
    loadCurrentCampaign();
}

void BriskoApplication::easyDistributedNotifications(const DistributedNotification &notification)
{
    if (notification.name != SiblingNotificationName)
        return;
    if (m_window) {
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
    }
    importHTMLPath(notification.object.toString());
}

void BriskoApplication::showHelp()
{
    if (!m_helpViewer) {
        m_helpViewer = new FennimarHelpViewer(this);
        m_helpViewer->setup();
    }
    m_helpViewer->showWindowAnimated();
}

FennimarHelpViewer *BriskoApplication::helpViewer() const
{
    return m_helpViewer;
}

bool BriskoApplication::isForAppStore() const
{
    // There is no update framework on this platform; the entry goes unless a class of
    // that name has been registered.
    return !QMetaType::fromName("SUUpdater").isValid();
}

std::optional<QString> BriskoApplication::localizedStringForKey(const std::optional<QString> &key)
{
    return m_localizer->localizedStringForKey(key);
}

std::optional<QString> BriskoApplication::valueForUndefinedKey(const QString &key)
{
    return m_localizer->valueForUndefinedKey(key);
}

void BriskoApplication::showStatus(const QString &text)
{
    if (!m_window)
        return;
    m_window->statusBar()->showMessage(text);
    qCInfo(lcApp).noquote() << text;
}

void BriskoApplication::editAction(const char *slot)
{
    if (QWidget *focus = focusWidget())
        QMetaObject::invokeMethod(focus, slot);
}

void BriskoApplication::showAbout()
{
    QMessageBox::about(m_window, brisko::tr(QStringLiteral("AboutBrisko")),
                       brisko::tr(QStringLiteral("AboutBrisko_Body")) + u"\n\n"_qs +
                           QStringLiteral("Brisko %1").arg(applicationVersion()));
}

bool BriskoApplication::event(QEvent *event)
{
    if (event->type() == QEvent::FileOpen) {
        application(this, static_cast<QFileOpenEvent *>(event)->file());
        return true;
    }
    return QApplication::event(event);
}

bool BriskoApplication::eventFilter(QObject *watched, QEvent *event)
{
    if (attachmentEvent(watched, event))
        return true;
    if (watched == m_window && event->type() == QEvent::Close) {
        if (!confirmDiscardChanges()) {
            event->ignore();
            return true;
        }
    }
    return QApplication::eventFilter(watched, event);
}

} // namespace brisko

#pragma once

#include "Campaign.h"
#include "FennimarNotifications.h"
#include "MailHost.h"
#include "RecipientImport.h"
#include "SendRun.h"
#include "TestSend.h"

#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QHash>
#include <QPointer>

#include <memory>
#include <optional>

class QAction;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QListWidget;
class QTimer;
class QMainWindow;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QTableView;
class QUndoStack;
class QWebEngineView;
class FennimarHelpViewer;

namespace brisko {

class BriskoConnector;
class InterfaceLoader;
class Localizer;
class RecipientTableModel;

// The application object: owns the campaign, the window and its panels, and is the
// target of every menu and button action.
class BriskoApplication : public QApplication, public DistributedObserver, public MailHost
{
    Q_OBJECT

public:
    // Keys of the open campaign's identity in miscData().
    static constexpr QStringView CurrentCampaignKey = u"CURRENTCAMPAIGN";
    static constexpr QStringView CurrentCampaignPathKey = u"CURRENTCAMPAIGN_PATH";
    static constexpr QStringView SiblingNotificationName = u"GLIMB_TO_BRISKO";

    BriskoApplication(int &argc, char **argv);
    ~BriskoApplication() override;

    static BriskoApplication *instance();

    // Start-up
    void setup();
    // Loads the interface files and connects them; false when the main window cannot be made.
    bool loadInterface();
    void applicationDidFinishLaunching();
    // Opens a campaign handed over by the desktop: only the exact extension "brisko".
    bool application(QApplication *app, const QString &openFile);

    QMainWindow *window() const;
    void updateWindowTitle();
    void campaignAction(QComboBox *sender);
    void easyDistributedNotifications(const DistributedNotification &notification) override;
    // Shows the help window, made and set up on first use and kept for the run.
    void showHelp();
    FennimarHelpViewer *helpViewer() const;
    bool isForAppStore() const;
    QString briskoSupportFolder() const;
    QString briskoCampaignsSupportFolder() const;

    // Localised texts
    std::optional<QString> localizedStringForKey(const std::optional<QString> &key);
    std::optional<QString> valueForUndefinedKey(const QString &key);

    // Campaign storage
    std::optional<QString> currentCampaignPath() const;
    std::optional<QString> currentCampaignName() const;
    QStringList columnNames() const;
    bool saveCurrentCampaign(const QString &path);
    void saveCampaign();
    void openCampaign();
    // File › New Campaign: after the unsaved-changes question, the empty campaign the
    // program starts with.
    void newCampaign();
    void loadCampaignFromFile(const QString &path);
    void loadCurrentCampaign();
    // The open campaign's send journal: beside its file, or in the support folder while it
    // has never been saved (it moves beside the file at the first save).
    QString sendJournalPath() const;
    RecipientList &recipients();
    QStringList emailList() const;
    void addRecentCampaign(const QString &path);
    void updateRecentMenu();
    void recentFileChosen(QAction *item);

    // Import and export (BriskoApplicationImport.cpp)
    void importList();
    void importListFile(const QString &path);
    void setupTableColumns(const QStringList &columns);
    void importDone();
    // One line for the status bar: how many records the file gave, how many lines were
    // dropped and why.
    static QString importSummary(const QString &fileName, const RecipientImport::Counts &counts);
    static bool isValidEmailAddress(const std::optional<QString> &address);
    void exportList();
    QString exportData() const;

    // Recipient table (BriskoApplicationTable.cpp)
    RecipientList selectedRecipients() const;
    // Edits of the list (removal, adding, cell edits, imports) are undone here; the text
    // fields and editors keep their own undo.
    QUndoStack *undoStack() const { return m_undoStack; }
    void addItem();
    void removeItem();
    void filterListFromField(QLineEdit *field);
    // Recipients › Select Failed / Select Not Yet Sent: the rows whose address's last outcome
    // is failed, or that have none, become the selection (the first one scrolled to). The
    // actions are enabled only while there is such a row, as of the last update: when the
    // menu opens, after a campaign is opened or made, and at the end of a run.
    void selectFailed();
    void selectNotYetSent();
    void updateOutcomeSelectionActions();

    // Message editor (BriskoApplicationEditor.cpp)
    void wrapSelectedPlainTextIn(const QString &opening, const std::optional<QString> &closing);
    void wrapSelectedTextIn(const QString &opening, const std::optional<QString> &closing);
    void bold();
    void italic();
    void insertBR();
    void textPlaceholderAction(QComboBox *sender);
    void htmlPlaceholderAction(QComboBox *sender);
    void updateHTMLPreview();
    void textDidChange();
    void importHTMLPath(const QString &path);

    // Account, quota and statistics (BriskoApplicationAccount.cpp)
    void showAuthPanel();
    void authDoneAction();
    // The panel's "Send through" choice enables the outbox folder row; the button picks it.
    void updateTransportRows();
    void chooseOutboxFolder();
    // The account panel's SMTP fields (what the SMTP transport's settings are typed in).
    QLineEdit *smtpHost() const;
    QLineEdit *smtpPort() const;
    QLineEdit *smtpUser() const;
    QLineEdit *smtpPass() const;
    bool hasAuthInfo() const;
    void showNoAuthWarning();
    void checkQuota();
    void setSendRateWithString(const QString &rate);
    // Seconds between two messages: the send rate chosen in the account panel (capped to
    // the account's maximum when that is known), else one over sendRate().
    float timerValueForSendRate() const override;
    // The account's MaxSendRate from the latest quota answer; none before one came.
    std::optional<double> knownMaximumSendRate() const { return m_maximumSendRate; }
    void verifyItems();
    void showStatistics();
    // The mail library's answers (MailHost).
    void setMax24Send(const std::optional<QString> &max24, const std::optional<QString> &maxRate,
                      const std::optional<QString> &sentLast24) override;
    void statisticsResponse(const QString &text) override;
    // True while a quota request (or login check) started by the window has not ended.
    bool isAskingService() const { return m_pendingQuota + m_pendingLogin > 0; }
    void showLoginFailure(const QString &heading, const std::optional<QString> &message) override;
    void accountProblem(const QString &problem) override;
    void requestEnded(const RequestOutcome &outcome) override;

    // Attachments and the message size (BriskoApplicationAttachments.cpp)
    void attachFiles();
    // Reads the files into the campaign (one undo step); a file that cannot be attached is
    // told with its reason. False when any was refused.
    bool addAttachments(const QStringList &paths);
    void removeSelectedAttachments();
    // Measures the first row's message now (normally a moment after the last edit).
    void updateMessageSize();

    // Delivery (BriskoApplicationDelivery.cpp)
    void deliver();
    void deliverMessages();
    void deliverSelectedMessages();
    void cancelSend();
    void mailSendResponseFor(const QString &address, const QString &response);
    void mailSendFailedFor(const QString &address, const QString &failure) override;
    void mailSendUnknownFor(const QString &address, const QString &why) override;
    void mailSavedFor(const QString &address, const QString &path) override;
    void sendProgress(qsizetype value, qsizetype maximum, const QString &address) override;
    void sendRunEnded(const std::optional<QString> &notStartedBecause) override;
    bool willSend(const QStringList &addresses) override;
    void mailSendRequeuedFor(const QString &address, const QString &why) override;
    void sendRateLowered(double rate, double fullRate, const QString &why) override;
    void quotaExhausted(qsizetype notSent) override;
    // The connector of the latest run; none before the first.
    BriskoConnector *briskocon() const;
    // True while a delivery run sends or still waits for answers.
    bool isDeliveryRunning() const;
    // The campaign's name in the messages' "campaign" tag: the file's base name, empty
    // while the campaign was never saved.
    QString campaignTagName() const;

    // Test send (BriskoApplicationTestSend.cpp): Message › Send Test… asks for a few
    // addresses and sends them the message merged with the selected row (or the first)
    // through the chosen transport, then shows the service's answers. It never touches the
    // outcome tables or the send journal, and is not offered while a run is under way.
    void sendTest();
    // The addresses typed last time (preference TestSendAddressesKey).
    static constexpr QStringView TestSendAddressesKey = u"TestSendAddresses";
    QDialog *testSendPanel() const { return m_testSendPanel; }
    // The test send under way, or the latest until its answers were shown.
    TestSend *testSend() const { return m_testSend; }

    Campaign &campaign() { return m_campaign; }
    const QHash<QString, QString> &miscData() const { return m_miscData; }
    int sendRate() const { return m_sendRate; }

    // Asks Save / Don't Save / Cancel when the campaign has unsaved changes; true when
    // the caller may go on (saved, discarded, or nothing to save).
    bool confirmDiscardChanges();

    // Interface elements, for the window's own code and its tests.
    QTableView *listView() const { return m_listView; }
    QLineEdit *subjectField() const { return m_subjectField; }
    QLineEdit *fromField() const { return m_fromField; }
    QLineEdit *replyToField() const { return m_replyToField; }
    QLineEdit *returnPathField() const { return m_returnPathField; }
    QLineEdit *unsubscribeField() const { return m_unsubscribeField; }
    QListWidget *attachmentList() const { return m_attachmentList; }
    QLabel *messageSizeLabel() const { return m_messageSizeLabel; }
    QLabel *quotaField() const { return m_quotaField; }
    QPlainTextEdit *bodyView() const { return m_bodyView; }
    QPlainTextEdit *htmlView() const { return m_htmlView; }
    QWebEngineView *htmlPreviewView() const { return m_htmlPreviewView; }
    QMenu *recentMenu() const { return m_recentMenu; }
    QDialog *progressPanel() const { return m_progressPanel; }
    QProgressBar *sendProgressMeter() const { return m_progressPanelBar; }
    QLabel *progressTextField() const { return m_progressPanelText; }
    QDialog *authPanel() const { return m_authPanel; }
    QDialog *statisticsPanel() const { return m_statisticsPanel; }
    QWebEngineView *statisticsWebview() const { return m_statisticsWebview; }

    // Seams for tests: the save and open panels' answers.
    using PathChooser = std::function<std::optional<QString>(const QString &proposed)>;
    void setSavePathChooser(PathChooser chooser) { m_saveChooser = std::move(chooser); }
    void setOpenPathChooser(PathChooser chooser) { m_openChooser = std::move(chooser); }
    // The import panel's chosen files (none chosen: cancelled) and the export panel's path.
    using PathsChooser = std::function<QStringList()>;
    void setImportPathsChooser(PathsChooser chooser) { m_importChooser = std::move(chooser); }
    void setExportPathChooser(PathChooser chooser) { m_exportChooser = std::move(chooser); }
    // The Attach Files panel's chosen files (none chosen: cancelled).
    void setAttachPathsChooser(PathsChooser chooser) { m_attachChooser = std::move(chooser); }
    // The outbox folder panel's answer (none: cancelled), given the folder set so far.
    void setOutboxFolderChooser(PathChooser chooser) { m_outboxChooser = std::move(chooser); }

Q_SIGNALS:
    void htmlPathImported(const QString &path);

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectInterface();
    // Each part of the window wires its own actions (one source file each).
    void connectStorage();
    void connectImport();
    void connectTable();
    void connectEditor();
    void connectAccount();
    void fillAuthPanel();
    void updateProfileControls();
    bool authPanelIsValid();
    void storeAuthPanel();
    void connectDelivery();
    void connectAttachments();
    void refreshAttachmentList();
    bool attachmentEvent(QObject *watched, QEvent *event);
    // The message as the window shows it now, with its unsubscribe targets and files.
    SendRun::RunInfo messageForChecks() const;
    void connectTestSend();
    void makeTestSendPanel();
    void startTestSend();
    void testSendFinished();
    void updateTestSendAction();
    void startDeliveryRun(const RecipientList &list);
    // When some of the list already received this campaign (accepted) or may have (unknown),
    // asks whether to leave them out. The list to send to; none when the user cancelled.
    std::optional<RecipientList> askAboutEarlierRuns(const RecipientList &list);
    // Selects exactly the rows whose address passes the test (none when anyRow is false);
    // false when that is no row at all.
    bool selectRowsWhere(const std::function<bool(const QString &address)> &test, bool anyRow);
    // Why Send cannot go on (nothing to send to, no sender, no body), none when it can.
    std::optional<QString> sendRefusal(bool toSelection) const;
    void showRunSummary();
    void showStatus(const QString &text);
    void quotaLineBusy(bool busy);
    void showQuotaProblem(const QString &text);
    void showStatisticsText(const QString &text);
    void updateSendRateNote();
    void connectUndo();
    void updateUndoActions();
    // The list before a change, taken before it is made; then pushed as one undo step.
    struct ListState
    {
        QStringList columns;
        RecipientList recipients;
    };
    ListState listState() const;
    void pushListChange(const QString &text, const ListState &before);
    void restoreListState(const ListState &state);
    void resetPlaceholderLists(bool fromColumns);
    void fitRowNumberColumn();
    // Appends one outcome to the run's journal; a failed write stops the run and is told.
    void journalOutcome(const QString &address, SendJournal::Event event, const QString &detail);
    void journalFailed();
    // Whether the chosen transport has what it needs; tells the user when not.
    bool transportIsReady();
    // Shows a field the campaign changed (a load, a hand-over) in its widget.
    void refreshField(Campaign::Field which);
    void editAction(const char *slot);
    void showAbout();

    Campaign m_campaign;
    QHash<QString, QString> m_miscData;
    std::unique_ptr<Localizer> m_localizer;
    std::unique_ptr<InterfaceLoader> m_loader;
    int m_sendRate = 0;
    std::optional<double> m_maximumSendRate;
    // Max24HourSend and SentLast24Hours of the latest quota answer, as the service wrote them.
    std::optional<QString> m_max24Send, m_sentLast24;
    int m_pendingQuota = 0;
    int m_pendingLogin = 0;
    bool m_statisticsPending = false;
    bool m_updatingFields = false;
    QUndoStack *m_undoStack = nullptr;
    bool m_restoringList = false;
    QPointer<QAction> m_undoAction;
    QPointer<QAction> m_redoAction;
    // The latest run's tally, for the summary in the status bar.
    struct RunTally
    {
        qsizetype total = 0;
        qsizetype accepted = 0;
        qsizetype failed = 0;
        qsizetype unknown = 0; // written, but no complete answer: perhaps delivered
        bool ended = false;
    } m_runTally;

    QPointer<QMainWindow> m_window;
    QTableView *m_listView = nullptr;
    RecipientTableModel *m_tableModel = nullptr;
    QLineEdit *m_subjectField = nullptr;
    QLineEdit *m_fromField = nullptr;
    QLineEdit *m_replyToField = nullptr;
    QLineEdit *m_returnPathField = nullptr;
    QLineEdit *m_unsubscribeField = nullptr;
    QListWidget *m_attachmentList = nullptr;
    QLabel *m_messageSizeLabel = nullptr;
    QTimer *m_sizeTimer = nullptr;
    QMenu *m_recentMenu = nullptr;
    QLabel *m_quotaField = nullptr;
    QPlainTextEdit *m_bodyView = nullptr;
    QPlainTextEdit *m_htmlView = nullptr;
    QWebEngineView *m_htmlPreviewView = nullptr;
    QAction *m_checkForUpdatesItem = nullptr;
    QComboBox *m_placeHoldersForHTMLPopUp = nullptr;
    QComboBox *m_placeHoldersForTextPopUp = nullptr;
    QPointer<QDialog> m_authPanel;
    QPointer<QDialog> m_progressPanel;
    QProgressBar *m_progressPanelBar = nullptr;
    QLabel *m_progressPanelText = nullptr;
    QLabel *m_progressPanelCount = nullptr;
    QPointer<BriskoConnector> m_briskocon;
    mutable QString m_unsavedJournalPath; // made on first use
    std::unique_ptr<SendJournal> m_journal; // of the latest run
    QTimer *m_journalFlush = nullptr;        // syncs outcome lines left waiting
    bool m_journalFailureTold = false;
    QPointer<QDialog> m_testSendPanel;
    QPointer<TestSend> m_testSend;
    RecipientPtr m_testSendRecord; // the record the test message is merged with
    QPointer<QDialog> m_statisticsPanel;
    QWebEngineView *m_statisticsWebview = nullptr;
    QPointer<QAction> m_selectFailedAction;
    QPointer<QAction> m_selectNotYetSentAction;
    QPointer<FennimarHelpViewer> m_helpViewer;

    PathChooser m_saveChooser;
    PathChooser m_openChooser;
    PathsChooser m_importChooser;
    PathsChooser m_attachChooser;
    PathChooser m_exportChooser;
    PathChooser m_outboxChooser;
};

} // namespace brisko

// The campaign file, the open campaign's identity and the recent-campaigns menu.

#include "BriskoApplication.h"

#include "CampaignFile.h"
#include "FennimarControls.h"
#include "FennimarFileSystem.h"
#include "FennimarUserDefaults.h"
#include "Localization.h"
#include "RecipientTableModel.h"
#include "RidorIvuvud.h"
#include "SendJournal.h"
#include "applogging.h"

#include <QAction>
#include <QFileDialog>
#include <QFileInfo>
#include <QUndoStack>
#include <QHeaderView>
#include <QMenu>
#include <QTableView>
#include <QUuid>

namespace brisko {

namespace {

constexpr QStringView RecentFilesKey = u"RecentFiles";

QString campaignNameOf(const QString &path)
{
    return FennimarFileSystem::fileWithoutExtensionOrPath(path);
}

template<typename T>
T *findAction(QObject *root, const char *name)
{
    return root ? root->findChild<T *>(QLatin1StringView(name)) : nullptr;
}

} // namespace

void BriskoApplication::connectStorage()
{
    if (QAction *open = findAction<QAction>(m_window, "openAction"))
        connect(open, &QAction::triggered, this, [this] { openCampaign(); });
    if (QAction *save = findAction<QAction>(m_window, "saveAction"))
        connect(save, &QAction::triggered, this, [this] { saveCampaign(); });
    if (QAction *create = findAction<QAction>(m_window, "newAction"))
        connect(create, &QAction::triggered, this, [this] { newCampaign(); });
}


std::optional<QString> BriskoApplication::currentCampaignPath() const
{
    auto it = m_miscData.constFind(CurrentCampaignPathKey.toString());
    if (it == m_miscData.constEnd())
        return std::nullopt;
    return *it;
}

std::optional<QString> BriskoApplication::currentCampaignName() const
{
    auto it = m_miscData.constFind(CurrentCampaignKey.toString());
    if (it == m_miscData.constEnd())
        return std::nullopt;
    return *it;
}

QStringList BriskoApplication::columnNames() const
{
    if (!m_listView || !m_tableModel)
        return m_campaign.columns();
    QStringList names;
    const QHeaderView *header = m_listView->horizontalHeader();
    for (int visual = 0; visual < header->count(); ++visual) {
        const QString identifier = m_tableModel->identifier(header->logicalIndex(visual));
        if (!identifier.startsWith(ProgramColumnPrefix))
            names.append(identifier);
    }
    return names;
}

bool BriskoApplication::saveCurrentCampaign(const QString &path)
{
    CampaignDocument document = m_campaign.document();
    document.columns = columnNames();
    if (const auto error = CampaignFile::write(path, document)) {
        qCWarning(lcApp) << "BriskoApplication.saveCurrentCampaign - could not write" << path << *error;
        RidorIvuvud::showDialog(brisko::tr(QStringLiteral("SaveFailed_Head")),
                                brisko::tr(QStringLiteral("SaveFailed_Body")).arg(path, *error),
                                brisko::tr(QStringLiteral("OK")));
        return false;
    }
    m_campaign.setModified(false);
    return true;
}

void BriskoApplication::saveCampaign()
{
    if (const auto path = currentCampaignPath()) {
        saveCurrentCampaign(*path);
        return;
    }
    // A campaign never saved before starts in the program's own campaigns folder.
    const QString proposed = QStringLiteral("%1/%2.brisko")
                                 .arg(briskoCampaignsSupportFolder(),
                                      currentCampaignName().value_or(brisko::tr(QStringLiteral("Untitled"))));
    std::optional<QString> chosen;
    if (m_saveChooser) {
        chosen = m_saveChooser(proposed);
    } else {
        QFileDialog panel(m_window, brisko::tr(QStringLiteral("Save")));
        panel.setAcceptMode(QFileDialog::AcceptSave);
        panel.setNameFilter(brisko::tr(QStringLiteral("CampaignFiles")) + u" (*.brisko)"_qs);
        panel.setDefaultSuffix(QStringLiteral("brisko"));
        panel.setDirectory(QFileInfo(proposed).path());
        panel.selectFile(QFileInfo(proposed).fileName());
        if (panel.exec() == QDialog::Accepted && !panel.selectedFiles().isEmpty())
            chosen = panel.selectedFiles().constFirst();
    }
    if (chosen && chosen->isEmpty())
        chosen.reset();
    // A name typed without an extension keeps the proposed one, or the Open panel, which
    // lists campaign files only, would never show the file again.
    if (chosen && QFileInfo(*chosen).suffix().isEmpty())
        *chosen += u".brisko"_qs;
    if (!chosen)
        return;
    const QHash<QString, QString> before = m_miscData;
    const QString journalBefore = sendJournalPath();
    m_miscData.insert(CurrentCampaignPathKey.toString(), *chosen);
    m_miscData.insert(CurrentCampaignKey.toString(), campaignNameOf(*chosen));
    if (!saveCurrentCampaign(*chosen)) {
        // A save that did not happen leaves the campaign's identity as it was.
        m_miscData = before;
        return;
    }
    // The runs of a campaign sent before its first save go with it.
    if (const auto error = SendJournal::move(journalBefore, sendJournalPath())) {
        qCWarning(lcApp).noquote() << "could not move the send journal:" << *error;
        RidorIvuvud::showDialog(brisko::tr(QStringLiteral("JournalMoveFailed_Head")),
                                brisko::tr(QStringLiteral("JournalMoveFailed_Body")).arg(journalBefore, *error),
                                brisko::tr(QStringLiteral("OK")));
    }
    updateWindowTitle();
}

QString BriskoApplication::sendJournalPath() const
{
    if (const auto path = currentCampaignPath())
        return SendJournal::pathForCampaign(*path);
    if (m_unsavedJournalPath.isEmpty()) {
        m_unsavedJournalPath = QStringLiteral("%1/Unsaved-%2.brisko.sent")
                                   .arg(briskoCampaignsSupportFolder(),
                                        QUuid::createUuid().toString(QUuid::WithoutBraces));
    }
    return m_unsavedJournalPath;
}

void BriskoApplication::openCampaign()
{
    if (!confirmDiscardChanges())
        return;
    std::optional<QString> chosen;
    if (m_openChooser) {
        chosen = m_openChooser(QString());
    } else {
        const QString path = QFileDialog::getOpenFileName(
            m_window, brisko::tr(QStringLiteral("Open…")), QString(),
            brisko::tr(QStringLiteral("CampaignFiles")) + u" (*.brisko)"_qs);
        if (!path.isEmpty())
            chosen = path;
    }
    if (chosen)
        loadCampaignFromFile(*chosen);
}

void BriskoApplication::loadCampaignFromFile(const QString &path)
{
    const CampaignFile::ReadResult result = CampaignFile::read(path);
    if (result.status == CampaignFile::ReadStatus::Invalid) {
        qCWarning(lcApp) << "BriskoApplication.loadCampaignFromFile - refused" << path << result.error;
        RidorIvuvud::showDialog(brisko::tr(QStringLiteral("OpenFailed_Head")),
                                brisko::tr(QStringLiteral("OpenFailed_Body")).arg(path, result.error),
                                brisko::tr(QStringLiteral("OK")));
        return;
    }
    m_campaign.apply(result.document);
    m_miscData.insert(CurrentCampaignKey.toString(), campaignNameOf(path));
    m_miscData.insert(CurrentCampaignPathKey.toString(), path);
    // Who was sent this campaign, as the last runs left it.
    const SendJournal::Replay replay = SendJournal::read(sendJournalPath());
    m_campaign.clearOutcomes();
    m_campaign.replayJournal(replay);
    updateOutcomeSelectionActions();
    if (replay.error || replay.malformed > 0 || replay.truncated) {
        qCWarning(lcApp).noquote() << "send journal" << sendJournalPath() << "malformed lines:" << replay.malformed
                                   << replay.error.value_or(QString());
        const QString why = replay.error ? *replay.error
                                         : brisko::tr(QStringLiteral("JournalDamaged_Body"))
                                               .arg(replay.malformed)
                                               .arg(sendJournalPath());
        RidorIvuvud::showDialog(brisko::tr(QStringLiteral("JournalDamaged_Head")), why,
                                brisko::tr(QStringLiteral("OK")));
    }
    m_campaign.setModified(false);
    updateWindowTitle();
    if (m_tableModel)
        m_tableModel->reload();
    // Another campaign's list is not this one's to undo.
    if (m_undoStack)
        m_undoStack->clear();
    // The placeholder lists name this campaign's columns: left as the last import filled
    // them, they would stay disabled after opening, or offer another campaign's columns.
    resetPlaceholderLists(true);
    addRecentCampaign(path);
}

void BriskoApplication::newCampaign()
{
    if (!confirmDiscardChanges())
        return;
    m_campaign.apply({QString(), QString(), QString(), QString(), QString(), QString(), QStringList(),
                      RecipientList()});
    m_miscData.remove(CurrentCampaignKey.toString());
    m_miscData.remove(CurrentCampaignPathKey.toString());
    // A new campaign has been sent to nobody, and its runs go into a journal of its own.
    m_campaign.clearOutcomes();
    m_unsavedJournalPath.clear();
    m_campaign.setModified(false);
    updateOutcomeSelectionActions();
    if (m_tableModel)
        m_tableModel->reload();
    if (m_undoStack)
        m_undoStack->clear();
    resetPlaceholderLists(false);
    updateWindowTitle();
}

void BriskoApplication::loadCurrentCampaign()
{
    const QString name = currentCampaignName().value_or(QString());
    loadCampaignFromFile(QStringLiteral("%1/%2").arg(briskoCampaignsSupportFolder(), name));
}

RecipientList &BriskoApplication::recipients()
{
    return m_campaign.recipients();
}

QStringList BriskoApplication::emailList() const
{
    return m_campaign.emailList();
}

void BriskoApplication::addRecentCampaign(const QString &path)
{
    QStringList recent = FennimarUserDefaults::objectForKey(RecentFilesKey.toString(), QStringList())
                             .toStringList();
    recent.removeAll(path);
    recent.append(path);
    FennimarUserDefaults::setObject(recent, RecentFilesKey.toString());
    updateRecentMenu();
}

void BriskoApplication::updateRecentMenu()
{
    if (!m_recentMenu)
        return;
    FennimarControls::removeAllMenuItems(m_recentMenu);
    const QStringList recent =
        FennimarUserDefaults::objectForKey(RecentFilesKey.toString(), QStringList()).toStringList();
    for (const QString &path : recent) {
        QAction *item = m_recentMenu->addAction(FennimarFileSystem::fileTail(path).value_or(path));
        item->setData(path);
        item->setToolTip(path);
        connect(item, &QAction::triggered, this, [this, item] { recentFileChosen(item); });
    }
    if (recent.isEmpty()) {
        QAction *none = m_recentMenu->addAction(QStringLiteral("No files"));
        none->setEnabled(false);
    }
}

void BriskoApplication::recentFileChosen(QAction *item)
{
    if (!item || !confirmDiscardChanges())
        return;
    loadCampaignFromFile(item->data().toString());
}

bool BriskoApplication::confirmDiscardChanges()
{
    if (!m_campaign.isModified())
        return true;
    const QString name = currentCampaignName().value_or(brisko::tr(QStringLiteral("Untitled")));
    const int answer = RidorIvuvud::showDialog(
        brisko::tr(QStringLiteral("UnsavedChanges_Head")), brisko::tr(QStringLiteral("UnsavedChanges_Body")).arg(name),
        brisko::tr(QStringLiteral("Save")), brisko::tr(QStringLiteral("DontSave")), brisko::tr(QStringLiteral("Cancel")));
    if (answer == RidorIvuvud::FirstButton) {
        saveCampaign();
        return !m_campaign.isModified();
    }
    return answer == RidorIvuvud::SecondButton;
}

} // namespace brisko

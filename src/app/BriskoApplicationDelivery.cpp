// The delivery run: the send command, its two confirmations, the progress sheet, cancel,
// and the outcome of each recipient as the answers come back.

#include "BriskoApplication.h"

#include "AccountSettings.h"
#include "BriskoConnector.h"
#include "BriskoSMTPConnector.h"
#include "Outbox.h"
#include "OutboxConnector.h"
#include "Localization.h"
#include "RidorIvuvud.h"
#include "SendRun.h"
#include "SendJournal.h"
#include "TestSend.h"
#include "applogging.h"
#include "FennimarStrings.h"
#include "FennimarUserDefaults.h"
#include "MimeMessage.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace brisko {

namespace {

// Preference: true once the user asked not to be reminded of a missing unsubscribe link.
constexpr QStringView UnsubscribeNoteKey = u"SuppressUnsubscribeNote";

} // namespace

void BriskoApplication::connectDelivery()
{
    if (!m_window)
        return;
    if (auto *action = m_window->findChild<QAction *>(u"sendAction"_s)) {
        action->setEnabled(true);
        connect(action, &QAction::triggered, this, [this] { deliver(); });
    }
    if (auto *button = m_window->findChild<QAbstractButton *>(u"sendButton"_s)) {
        button->setEnabled(true);
        connect(button, &QAbstractButton::clicked, this, [this] { deliver(); });
    }
    if (m_progressPanel) {
        m_progressPanelCount = m_progressPanel->findChild<QLabel *>(u"progressPanel_Count"_s);
        // The Cancel button, Escape and closing the sheet all stop the run.
        connect(m_progressPanel, &QDialog::rejected, this, [this] { cancelSend(); });
    }
}

bool BriskoApplication::transportIsReady()
{
    const AccountSettings settings = AccountSettings::load();
    std::optional<std::pair<QString, QString>> missing;
    switch (settings.transport) {
    case AccountSettings::Transport::Ses:
        if (!hasAuthInfo()) {
            showNoAuthWarning();
            return false;
        }
        return true;
    case AccountSettings::Transport::Smtp:
        if (settings.smtpHost.trimmed().isEmpty())
            missing = std::make_pair(u"SMTPNoHost_Head"_s, u"SMTPNoHost_Sub"_s);
        break;
    case AccountSettings::Transport::Outbox:
        if (settings.outboxFolder.trimmed().isEmpty())
            missing = std::make_pair(u"OutboxNoFolder_Head"_s, u"OutboxNoFolder_Sub"_s);
        break;
    }
    if (!missing)
        return true;
    const int choice = RidorIvuvud::showDialog(missing->first, missing->second, u"SetupAuth..."_s, u"Cancel"_s,
                                               std::nullopt, std::nullopt, std::nullopt, true);
    if (choice == RidorIvuvud::FirstButton)
        showAuthPanel();
    return false;
}

std::optional<QString> BriskoApplication::sendRefusal(bool toSelection) const
{
    const bool noRecipients = toSelection ? selectedRecipients().isEmpty() : m_campaign.recipients().isEmpty();
    if (noRecipients)
        return brisko::tr(toSelection ? u"SendRefused_NoSelection"_s : u"SendRefused_NoRecipients"_s);
    const QString from = m_fromField ? m_fromField->text() : m_campaign.from();
    if (from.trimmed().isEmpty())
        return brisko::tr(u"SendRefused_NoFrom"_s);
    const QString body = m_bodyView ? m_bodyView->toPlainText() : m_campaign.body();
    const QString html = m_htmlView ? m_htmlView->toPlainText() : m_campaign.html();
    if (body.trimmed().isEmpty() && html.trimmed().isEmpty())
        return brisko::tr(u"SendRefused_NoBody"_s);
    const QString unsubscribe = m_unsubscribeField ? m_unsubscribeField->text() : m_campaign.unsubscribe();
    const MimeMessage::UnsubscribeParse parsed = MimeMessage::parseUnsubscribe(unsubscribe);
    if (!parsed.error.isEmpty())
        return brisko::tr(u"SendRefused_Unsubscribe"_s).arg(parsed.error);
    return std::nullopt;
}

void BriskoApplication::deliver()
{
    // A test send's answers are shown before the campaign goes out.
    if (m_testSend && m_testSend->isRunning())
        return;
    // SES needs the account's keys, SMTP a server, the outbox a folder.
    if (!transportIsReady())
        return;
    if (const auto refusal = sendRefusal(false)) {
        RidorIvuvud::showSimpleDialog(brisko::tr(u"SendRefused_Head"_s), *refusal);
        return;
    }
    const qsizetype all = m_campaign.recipients().size();
    const qsizetype selected = selectedRecipients().size();
    const bool rowsSelected = selected > 0;

    // The confirmations say how many will receive the message; buttons as always.
    QString body = rowsSelected ? brisko::tr(u"SURETOSEND_COUNT_SELECTED"_s).arg(all).arg(selected)
                                : brisko::tr(u"SURETOSEND_COUNT"_s).arg(all);
    QStringList placeholders;
    const QString subject = m_subjectField ? m_subjectField->text() : m_campaign.subject();
    for (const QString &column : columnNames()) {
        const QString token = u"__%1__"_s.arg(column);
        if (subject.contains(token))
            placeholders.append(token);
    }
    if (!placeholders.isEmpty())
        body += u"\n\n"_s + brisko::tr(u"SubjectPlaceholders_Note"_s).arg(placeholders.join(u", "_s));
    body += u"\n\n"_s + brisko::tr(u"SURETOSEND_BODY"_s);
    // Large mailbox providers expect a one-click unsubscribe; said once per question until
    // the user asks not to be reminded.
    const QString unsubscribe = m_unsubscribeField ? m_unsubscribeField->text() : m_campaign.unsubscribe();
    const bool remind = unsubscribe.trimmed().isEmpty() &&
                        !FennimarUserDefaults::objectForKey(UnsubscribeNoteKey.toString(), false).toBool();
    if (remind)
        body += u"\n\n"_s + brisko::tr(u"UnsubscribeMissing_Note"_s);
    const std::optional<QString> sendSelected =
        rowsSelected ? std::optional<QString>(brisko::tr(u"SendSelected"_s)) : std::nullopt;
    const int first = remind ? RidorIvuvud::showDialogWithCheckBox(brisko::tr(u"SURETOSEND"_s), body, brisko::tr(u"Send"_s),
                                                                   brisko::tr(u"Cancel"_s), sendSelected,
                                                                   brisko::tr(u"DontAskAgain"_s), UnsubscribeNoteKey.toString())
                             : RidorIvuvud::showDialog(brisko::tr(u"SURETOSEND"_s), body, brisko::tr(u"Send"_s),
                                                       brisko::tr(u"Cancel"_s), sendSelected);
    // Only an explicit Send goes on: a dialog closed any other way sends nothing.
    if (first != RidorIvuvud::FirstButton && first != RidorIvuvud::ThirdButton)
        return;
    const bool toSelection = first == RidorIvuvud::ThirdButton;
    const RecipientList chosen = toSelection ? selectedRecipients() : recipients();
    // Nobody gets the campaign twice unless the user says so here.
    const std::optional<RecipientList> list = askAboutEarlierRuns(chosen);
    if (!list)
        return;
    // Every message must fit the service's limit: measured before anything leaves.
    const SendRun::SizeCheck sizes = SendRun::checkSizes(messageForChecks(), *list);
    qCInfo(lcApp).noquote() << u"largest message: %1 bytes (row %2)"_s.arg(sizes.largest).arg(sizes.index + 1);
    if (sizes.refusal) {
        RidorIvuvud::showSimpleDialog(brisko::tr(u"SendNotStarted_Head"_s), *sizes.refusal);
        return;
    }
    const bool othersOnly = list->size() != chosen.size();
    const QString countKey = othersOnly    ? u"FINALSURETOSEND_COUNT_OTHERS"_s
                             : toSelection ? u"FINALSURETOSEND_COUNT_SELECTED"_s
                                           : u"FINALSURETOSEND_COUNT"_s;
    const QString finalBody =
        brisko::tr(countKey).arg(list->size()) + u"\n\n"_s + brisko::tr(u"FINALSURETOSEND_BODY"_s);
    const int final = RidorIvuvud::showDialog(brisko::tr(u"FINALSURETOSEND"_s), finalBody, brisko::tr(u"Send"_s),
                                              brisko::tr(u"Cancel"_s), std::nullopt);
    if (final != RidorIvuvud::FirstButton)
        return;

    if (m_progressPanelText)
        m_progressPanelText->clear();
    if (m_progressPanelCount)
        m_progressPanelCount->clear();
    if (m_progressPanelBar) {
        m_progressPanelBar->setRange(0, 1);
        m_progressPanelBar->setValue(0);
    }
    RidorIvuvud::startASheet(m_progressPanel, m_window, this);
    startDeliveryRun(*list);
}

std::optional<RecipientList> BriskoApplication::askAboutEarlierRuns(const RecipientList &list)
{
    qsizetype accepted = 0, unknown = 0;
    RecipientList others;
    for (const RecipientPtr &record : list) {
        // An outbox save reached nobody: that recipient is among the others.
        const auto state = record ? m_campaign.outcome(record->email()) : std::nullopt;
        if (!state || !SendJournal::reachedRecipient(*state))
            others.append(record);
        else if (*state == SendJournal::Outcome::Accepted)
            ++accepted;
        else
            ++unknown;
    }
    if (accepted + unknown == 0)
        return list;
    const QString heading = accepted == 0 ? brisko::tr(u"ResendQuestion_HeadUnknown"_s).arg(unknown)
                            : unknown == 0
                                ? brisko::tr(u"ResendQuestion_HeadAccepted"_s).arg(accepted)
                                : brisko::tr(u"ResendQuestion_Head"_s).arg(accepted).arg(unknown);
    // With nobody left the first (default) button says so and sends nothing.
    const QString onlyOthers = others.isEmpty()      ? brisko::tr(u"SendOnlyToNoOthers"_s)
                               : others.size() == 1 ? brisko::tr(u"SendOnlyToOneOther"_s)
                                                    : brisko::tr(u"SendOnlyToOthers"_s).arg(others.size());
    const int answer = RidorIvuvud::showDialog(heading, brisko::tr(u"ResendQuestion_Body"_s), onlyOthers,
                                               brisko::tr(u"SendToEveryoneAgain"_s), brisko::tr(u"Cancel"_s));
    qCInfo(lcApp).noquote() << u"earlier runs: %1 accepted, %2 unknown, %3 others; answer %4"_s.arg(accepted)
                                   .arg(unknown)
                                   .arg(others.size())
                                   .arg(answer);
    if (answer == RidorIvuvud::FirstButton && !others.isEmpty())
        return others;
    if (answer == RidorIvuvud::SecondButton)
        return list;
    return std::nullopt;
}

void BriskoApplication::deliverMessages()
{
    startDeliveryRun(recipients());
}

void BriskoApplication::deliverSelectedMessages()
{
    startDeliveryRun(selectedRecipients());
}

void BriskoApplication::startDeliveryRun(const RecipientList &list)
{
    // The message as it stands now; edits made during the run do not reach it.
    const auto text = [](QLineEdit *field, const QString &fallback) {
        return field ? field->text() : fallback;
    };
    const QString body = m_bodyView ? m_bodyView->toPlainText() : m_campaign.body();
    const QString html = m_htmlView ? m_htmlView->toPlainText() : m_campaign.html();
    const QString subject = text(m_subjectField, m_campaign.subject());
    const QString from = text(m_fromField, m_campaign.from());
    const QString replyTo = text(m_replyToField, m_campaign.replyTo());
    const QString returnPath = text(m_returnPathField, m_campaign.returnPath());

    // Every request is on record before it leaves: no journal, no run.
    if (m_journal)
        m_journal->flush();
    m_journal = std::make_unique<SendJournal>(sendJournalPath());
    m_journalFailureTold = false;
    if (!m_journal->open()) {
        RidorIvuvud::stopASheet(m_progressPanel);
        journalFailed();
        return;
    }
    if (!m_journalFlush) {
        m_journalFlush = new QTimer(this);
        m_journalFlush->setSingleShot(true);
        m_journalFlush->setInterval(SendJournal::SyncIntervalMs);
        // Waiting outcome lines reach the disk one interval after the latest sync, or with the
        // next burst's sending lines when that comes first: one sync per interval, not two.
        connect(m_journalFlush, &QTimer::timeout, this, [this] {
            if (!m_journal || !m_journal->hasPending())
                return;
            if (const int wait = m_journal->msUntilSyncDue(); wait > 0) {
                m_journalFlush->start(wait);
                return;
            }
            if (!m_journal->flush())
                journalFailed();
        });
    }

    m_runTally = RunTally{list.size(), 0, 0, 0, false};
    // The earlier run's connector stays until its last answer is recorded.
    if (m_briskocon)
        m_briskocon->releaseWhenDone();
    // The connector of the transport the account panel names.
    const AccountSettings settings = AccountSettings::load();
    switch (settings.transport) {
    case AccountSettings::Transport::Smtp:
        m_briskocon = new BriskoSMTPConnector(this);
        break;
    case AccountSettings::Transport::Outbox:
        m_briskocon = new OutboxConnector(settings.outboxFolder, recipients(), this);
        break;
    case AccountSettings::Transport::Ses:
        m_briskocon = new BriskoConnector(this);
        break;
    }
    qCInfo(lcApp).noquote() << u"delivery run over %1 recipients through %2"_s.arg(list.size()).arg(
        AccountSettings::transportName(settings.transport));
    const SendRun::RunInfo extras = messageForChecks();
    m_briskocon->setMessageExtras(extras.unsubscribe, extras.attachments);
    m_briskocon->setCampaignName(campaignTagName());
    // No test send while the run sends or waits for answers.
    connect(m_briskocon, &BriskoConnector::finished, this, &BriskoApplication::updateTestSendAction);
    m_briskocon->sendMessageToRecipients(body, html, subject, from, list, replyTo, returnPath);
    updateTestSendAction();
    if (m_progressPanelBar)
        m_progressPanelBar->setMaximum(int(list.size()));
}

BriskoConnector *BriskoApplication::briskocon() const
{
    return m_briskocon;
}

bool BriskoApplication::isDeliveryRunning() const
{
    return m_briskocon && (!m_briskocon->hasStopped() || m_briskocon->pendingResponses() > 0);
}

QString BriskoApplication::campaignTagName() const
{
    const std::optional<QString> path = currentCampaignPath();
    return path ? QFileInfo(*path).completeBaseName() : QString();
}

void BriskoApplication::cancelSend()
{
    if (m_briskocon)
        m_briskocon->stopSending();
    else
        RidorIvuvud::stopASheet(m_progressPanel);
}

void BriskoApplication::sendProgress(qsizetype value, qsizetype maximum, const QString &address)
{
    if (m_progressPanelBar) {
        // The bar counts the message going out, as the "n of N" beside it does.
        m_progressPanelBar->setRange(0, int(maximum));
        m_progressPanelBar->setValue(int(std::min(value + 1, maximum)));
    }
    if (m_progressPanelText)
        m_progressPanelText->setText(address);
    if (m_progressPanelCount)
        m_progressPanelCount->setText(brisko::tr(u"%1 of %2"_s).arg(value + 1).arg(maximum));
}

bool BriskoApplication::willSend(const QStringList &addresses)
{
    if (m_journal && m_journal->recordSending(addresses))
        return true;
    journalFailed();
    return false;
}

void BriskoApplication::journalOutcome(const QString &address, SendJournal::Event event, const QString &detail)
{
    if (!m_journal)
        return;
    if (!m_journal->recordOutcome(address, event, detail)) {
        journalFailed();
        return;
    }
    if (m_journal->hasPending() && m_journalFlush && !m_journalFlush->isActive())
        m_journalFlush->start(std::max(1, m_journal->msUntilSyncDue()));
}

void BriskoApplication::journalFailed()
{
    if (m_briskocon)
        m_briskocon->stopSending();
    if (m_journalFailureTold)
        return;
    m_journalFailureTold = true;
    const QString why = m_journal ? m_journal->errorString() : QString();
    qCWarning(lcApp).noquote() << "send journal failed, run stopped:" << why;
    RidorIvuvud::showDialog(brisko::tr(u"JournalFailed_Head"_s), brisko::tr(u"JournalFailed_Body"_s).arg(why),
                            brisko::tr(u"OK"_s));
}

void BriskoApplication::mailSendResponseFor(const QString &address, const QString &response)
{
    const SendRun::Outcome outcome = SendRun::outcomeForResponse(response);
    if (outcome.code == SendRun::AcceptedCode) {
        journalOutcome(address, SendJournal::Event::Accepted, SendRun::acceptedDetail(response));
    } else {
        journalOutcome(address, SendJournal::Event::Failed, outcome.status.value_or(
                           FennimarStrings::stringBetween(u"<Code>"_s, u"</Code>"_s, response).value_or(u"error"_s)));
    }
    // The campaign tells the table, which repaints the status column.
    m_campaign.recordOutcome(address, outcome.code, outcome.status);
    if (outcome.code > 0)
        ++m_runTally.accepted;
    else
        ++m_runTally.failed;
    if (m_runTally.ended)
        showRunSummary();
}

void BriskoApplication::mailSendFailedFor(const QString &address, const QString &failure)
{
    journalOutcome(address, SendJournal::Event::Failed, failure);
    const SendRun::Outcome outcome = SendRun::outcomeForFailure(failure);
    m_campaign.recordOutcome(address, outcome.code, outcome.status);
    ++m_runTally.failed;
    if (m_runTally.ended)
        showRunSummary();
}

void BriskoApplication::showRunSummary()
{
    const qsizetype notSent = std::max<qsizetype>(
        0, m_runTally.total - m_runTally.accepted - m_runTally.failed - m_runTally.unknown);
    showStatus(brisko::tr(u"RunSummary"_s)
                   .arg(m_runTally.accepted)
                   .arg(m_runTally.failed)
                   .arg(m_runTally.unknown)
                   .arg(notSent));
}

void BriskoApplication::mailSendUnknownFor(const QString &address, const QString &why)
{
    // Neither a success nor a failure: the table shows its own image and says so.
    qCWarning(lcApp).noquote() << u"outcome unknown for %1: %2"_s.arg(address, why);
    journalOutcome(address, SendJournal::Event::Unknown, why);
    const SendRun::Outcome outcome = SendRun::outcomeForUnknown();
    m_campaign.recordOutcome(address, outcome.code, outcome.status);
    ++m_runTally.unknown;
    if (m_runTally.ended)
        showRunSummary();
}

void BriskoApplication::mailSendRequeuedFor(const QString &address, const QString &why)
{
    // No outcome: the recipient keeps what it showed before and is sent again later in the run
    // (or stays unsent when the run stops first).
    qCInfo(lcApp).noquote() << u"%1 turned away for now: %2"_s.arg(address, why);
    journalOutcome(address, SendJournal::Event::Retry, why);
}

void BriskoApplication::sendRateLowered(double rate, double fullRate, const QString &why)
{
    Q_UNUSED(fullRate);
    showStatus(brisko::tr(u"SendSlowed"_s).arg(why, QString::number(rate, 'g', 3)));
}

void BriskoApplication::quotaExhausted(qsizetype notSent)
{
    qCWarning(lcApp).noquote() << u"daily quota used up: %1 recipient(s) not sent"_s.arg(notSent);
    QString body = brisko::tr(u"QuotaExhausted_Body"_s).arg(notSent);
    if (m_max24Send)
        body += u"\n\n"_s + brisko::tr(u"QuotaExhausted_Figures"_s).arg(*m_max24Send, m_sentLast24.value_or(u"?"_s));
    showStatus(brisko::tr(u"QuotaExhausted_Head"_s));
    RidorIvuvud::showDialog(brisko::tr(u"QuotaExhausted_Head"_s), body, brisko::tr(u"OK"_s));
}

void BriskoApplication::mailSavedFor(const QString &address, const QString &path)
{
    journalOutcome(address, SendJournal::Event::Saved, path);
    m_campaign.recordSaved(address);
    ++m_runTally.accepted;
    if (m_runTally.ended)
        showRunSummary();
}

void BriskoApplication::sendRunEnded(const std::optional<QString> &notStartedBecause)
{
    RidorIvuvud::stopASheet(m_progressPanel);
    m_runTally.ended = true;
    updateOutcomeSelectionActions();
    if (!notStartedBecause) {
        showRunSummary();
        return;
    }
    showStatus(brisko::tr(u"SendNotStarted_Head"_s) + u' ' + *notStartedBecause);
    // The remedy with the reason: the account and its endpoint, or a send rate of one's own.
    const int answer = RidorIvuvud::showDialog(
        brisko::tr(u"SendNotStarted_Head"_s), *notStartedBecause + u"\n\n"_s + brisko::tr(u"SendNotStarted_Remedy"_s),
        brisko::tr(u"OK"_s), brisko::tr(u"AccountSettings…"_s), std::nullopt);
    if (answer == RidorIvuvud::SecondButton)
        showAuthPanel();
}

} // namespace brisko

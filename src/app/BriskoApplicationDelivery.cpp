// The delivery run: the send command, its two confirmations, the progress sheet, cancel,
// and the outcome of each recipient as the answers come back.

#include "BriskoApplication.h"

#include "BriskoConnector.h"
#include "Localization.h"
#include "RidorIvuvud.h"
#include "SendRun.h"
#include "applogging.h"

#include <QAbstractButton>
#include <QAction>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QProgressBar>

using namespace Qt::StringLiterals;

namespace brisko {

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

void BriskoApplication::deliver()
{
    if (!hasAuthInfo()) {
        showNoAuthWarning();
        return;
    }
    const bool rowsSelected = !selectedRecipients().isEmpty();
    const int first =
        RidorIvuvud::showDialog(u"SURETOSEND"_s, u"SURETOSEND_BODY"_s, u"Send"_s, u"Cancel"_s,
                                rowsSelected ? std::optional<QString>(u"SendSelected"_s) : std::nullopt,
                                std::nullopt, std::nullopt, true);
    // Only an explicit Send goes on: a dialog closed any other way sends nothing.
    if (first != RidorIvuvud::FirstButton && first != RidorIvuvud::ThirdButton)
        return;
    const int final = RidorIvuvud::showDialog(u"FINALSURETOSEND"_s, u"FINALSURETOSEND_BODY"_s, u"Send"_s,
                                              u"Cancel"_s, std::nullopt, std::nullopt, std::nullopt, true);
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
    if (first == RidorIvuvud::ThirdButton)
        deliverSelectedMessages();
    else
        deliverMessages();
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

    // The earlier run's connector stays until its last answer is recorded.
    if (m_briskocon)
        m_briskocon->releaseWhenDone();
    m_briskocon = new BriskoConnector(this);
    qCInfo(lcApp).noquote() << u"delivery run over %1 recipients"_s.arg(list.size());
    m_briskocon->sendMessageToRecipients(body, html, subject, from, list, replyTo, returnPath);
    if (m_progressPanelBar)
        m_progressPanelBar->setMaximum(int(list.size()));
}

BriskoConnector *BriskoApplication::briskocon() const
{
    return m_briskocon;
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
        m_progressPanelBar->setRange(0, int(maximum));
        m_progressPanelBar->setValue(int(value));
    }
    if (m_progressPanelText)
        m_progressPanelText->setText(address);
    if (m_progressPanelCount)
        m_progressPanelCount->setText(brisko::tr(u"%1 of %2"_s).arg(value + 1).arg(maximum));
}

void BriskoApplication::mailSendResponseFor(const QString &address, const QString &response)
{
    const SendRun::Outcome outcome = SendRun::outcomeForResponse(response);
    // The campaign tells the table, which repaints the status column.
    m_campaign.recordOutcome(address, outcome.code, outcome.status);
}

void BriskoApplication::mailSendFailedFor(const QString &address, const QString &failure)
{
    const SendRun::Outcome outcome = SendRun::outcomeForFailure(failure);
    m_campaign.recordOutcome(address, outcome.code, outcome.status);
}

void BriskoApplication::mailSendUnknownFor(const QString &address, const QString &why)
{
    // Neither a success nor a failure: the table shows its own image and says so.
    qCWarning(lcApp).noquote() << u"outcome unknown for %1: %2"_s.arg(address, why);
    const SendRun::Outcome outcome = SendRun::outcomeForUnknown();
    m_campaign.recordOutcome(address, outcome.code, outcome.status);
}

void BriskoApplication::sendRunEnded(const std::optional<QString> &notStartedBecause)
{
    RidorIvuvud::stopASheet(m_progressPanel);
    if (notStartedBecause)
        RidorIvuvud::showSimpleDialog(brisko::tr(u"SendNotStarted_Head"_s), *notStartedBecause);
}

} // namespace brisko

// Message › Send Test…: the campaign's message, merged with one row, sent to a few addresses
// the user types, with the service's answers shown at the end. A test send has connectors
// of its own that answer it alone, so the outcome tables and the send journal never hear
// of it.

#include "BriskoApplication.h"

#include "AccountSettings.h"
#include "FennimarUserDefaults.h"
#include "InterfaceLoader.h"
#include "Localization.h"
#include "RidorIvuvud.h"
#include "TestSend.h"
#include "applogging.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

using namespace Qt::StringLiterals;

namespace brisko {

void BriskoApplication::connectTestSend()
{
    if (!m_window)
        return;
    if (auto *action = m_window->findChild<QAction *>(u"sendTestAction"_s)) {
        connect(action, &QAction::triggered, this, [this] { sendTest(); });
        action->setEnabled(true);
    }
}

void BriskoApplication::updateTestSendAction()
{
    if (!m_window)
        return;
    if (auto *action = m_window->findChild<QAction *>(u"sendTestAction"_s))
        action->setEnabled(!isDeliveryRunning());
}

void BriskoApplication::makeTestSendPanel()
{
    auto *panel = new QDialog(m_window);
    panel->setObjectName(u"testSendPanel"_s);
    panel->setWindowTitle(brisko::tr(u"SendTest_Title"_s));
    panel->setMinimumWidth(480);
    auto *layout = new QVBoxLayout(panel);
    layout->setSpacing(10);

    auto *source = new QLabel(panel);
    source->setObjectName(u"sendTestSourceLabel"_s);
    source->setWordWrap(true);
    layout->addWidget(source);

    auto *form = new QFormLayout;
    auto *field = new QLineEdit(panel);
    field->setObjectName(u"sendTestAddressField"_s);
    field->setPlaceholderText(brisko::tr(u"SendTest_ToPlaceholder"_s));
    field->setAccessibleName(brisko::tr(u"SendTest_To"_s));
    auto *label = new QLabel(brisko::tr(u"SendTest_To"_s), panel);
    label->setBuddy(field);
    form->addRow(label, field);
    layout->addLayout(form);

    // Why the typed text cannot be sent to, or how the send is going.
    auto *note = new QLabel(panel);
    note->setObjectName(u"sendTestNoteLabel"_s);
    note->setWordWrap(true);
    note->setVisible(false);
    layout->addWidget(note);

    auto *buttons = new QDialogButtonBox(panel);
    buttons->setObjectName(u"sendTestButtons"_s);
    QPushButton *send = buttons->addButton(brisko::tr(u"Send"_s), QDialogButtonBox::AcceptRole);
    send->setObjectName(u"sendTestSendButton"_s);
    send->setDefault(true);
    buttons->addButton(brisko::tr(u"Cancel"_s), QDialogButtonBox::RejectRole);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &BriskoApplication::startTestSend);
    connect(buttons, &QDialogButtonBox::rejected, panel, &QDialog::reject);
    // Cancel, Escape or closing while the send is under way stops it after the message in
    // flight; its answers are shown all the same.
    connect(panel, &QDialog::rejected, this, [this] {
        if (m_testSend && m_testSend->isRunning())
            m_testSend->cancel();
    });
    m_testSendPanel = panel;
}

void BriskoApplication::sendTest()
{
    if (isDeliveryRunning()) {
        RidorIvuvud::showSimpleDialog(brisko::tr(u"SendTest_Title"_s), brisko::tr(u"SendTest_RunInProgress"_s));
        return;
    }
    if (m_testSend && m_testSend->isRunning()) {
        if (m_testSendPanel)
            m_testSendPanel->raise();
        return;
    }
    if (!transportIsReady())
        return;
    const QString from = m_fromField ? m_fromField->text() : m_campaign.from();
    const QString body = m_bodyView ? m_bodyView->toPlainText() : m_campaign.body();
    const QString html = m_htmlView ? m_htmlView->toPlainText() : m_campaign.html();
    if (from.trimmed().isEmpty() || (body.trimmed().isEmpty() && html.trimmed().isEmpty())) {
        RidorIvuvud::showSimpleDialog(brisko::tr(u"SendRefused_Head"_s),
                                      brisko::tr(from.trimmed().isEmpty() ? u"SendRefused_NoFrom"_s
                                                                          : u"SendRefused_NoBody"_s));
        return;
    }

    // The selected row, else the first; with no rows the message stays unmerged.
    const RecipientList selected = selectedRecipients();
    const RecipientList &all = m_campaign.recipients();
    m_testSendRecord = !selected.isEmpty() ? selected.first() : (all.isEmpty() ? RecipientPtr() : all.first());

    if (!m_testSendPanel)
        makeTestSendPanel();
    const AccountSettings settings = AccountSettings::load();
    QString through;
    switch (settings.transport) {
    case AccountSettings::Transport::Ses:
        through = brisko::tr(u"TransportSES"_s);
        break;
    case AccountSettings::Transport::Smtp:
        through = u"%1 (%2:%3)"_s.arg(brisko::tr(u"TransportSMTP"_s), settings.smtpHost).arg(settings.smtpPort);
        break;
    case AccountSettings::Transport::Outbox:
        through = u"%1 (%2)"_s.arg(brisko::tr(u"TransportOutbox"_s), QDir::toNativeSeparators(settings.outboxFolder));
        break;
    }
    if (auto *source = panelChild<QLabel>(m_testSendPanel, "sendTestSourceLabel")) {
        if (m_testSendRecord) {
            source->setText(brisko::tr(u"SendTest_Row"_s)
                                .arg(all.indexOf(m_testSendRecord) + 1)
                                .arg(m_testSendRecord->email(), through));
        } else {
            source->setText(brisko::tr(u"SendTest_NoRows"_s).arg(through));
        }
    }
    if (auto *field = panelChild<QLineEdit>(m_testSendPanel, "sendTestAddressField")) {
        field->setEnabled(true);
        // Written by hand without quotes, the preferences file gives a list for "a, b".
        const QVariant stored = FennimarUserDefaults::objectForKey(TestSendAddressesKey.toString());
        field->setText(stored.typeId() == QMetaType::QStringList ? stored.toStringList().join(u", "_s)
                                                                 : stored.toString());
        field->selectAll();
        field->setFocus();
    }
    if (auto *note = panelChild<QLabel>(m_testSendPanel, "sendTestNoteLabel"))
        note->setVisible(false);
    if (auto *send = panelChild<QPushButton>(m_testSendPanel, "sendTestSendButton"))
        send->setEnabled(true);
    m_testSendPanel->open();
}

void BriskoApplication::startTestSend()
{
    auto *field = panelChild<QLineEdit>(m_testSendPanel, "sendTestAddressField");
    auto *note = panelChild<QLabel>(m_testSendPanel, "sendTestNoteLabel");
    if (!field || (m_testSend && m_testSend->isRunning()))
        return;
    const TestSend::Addresses addresses = TestSend::parseAddresses(field->text());
    if (addresses.problem) {
        if (note) {
            note->setText(*addresses.problem);
            note->setStyleSheet(u"color: #b00020;"_s);
            note->setVisible(true);
        }
        field->setFocus();
        return;
    }
    // A run may have started since the dialog opened (from another window of the program).
    if (isDeliveryRunning()) {
        m_testSendPanel->reject();
        RidorIvuvud::showSimpleDialog(brisko::tr(u"SendTest_Title"_s), brisko::tr(u"SendTest_RunInProgress"_s));
        return;
    }
    FennimarUserDefaults::setObject(addresses.addresses.join(u", "_s), TestSendAddressesKey.toString());

    const auto text = [](QLineEdit *widget, const QString &fallback) { return widget ? widget->text() : fallback; };
    // The message as the window shows it now.
    SendRun::RunInfo message = messageForChecks();
    message.campaignName = campaignTagName();
    // The unsubscribe link and the files go with the test as with the campaign, and a message
    // the service would refuse for its size does not leave.
    std::optional<QString> refusal =
        SendRun::setExtras(message, text(m_unsubscribeField, m_campaign.unsubscribe()), m_campaign.attachments());
    if (!refusal)
        refusal = SendRun::checkSizes(message, {m_testSendRecord ? m_testSendRecord : makeRecipient({})}).refusal;
    if (refusal) {
        if (note) {
            note->setText(*refusal);
            note->setStyleSheet(u"color: #b00020;"_s);
            note->setVisible(true);
        }
        return;
    }

    field->setEnabled(false);
    if (auto *send = panelChild<QPushButton>(m_testSendPanel, "sendTestSendButton"))
        send->setEnabled(false);
    if (note) {
        note->setText(brisko::tr(u"SendTest_Sending"_s));
        note->setStyleSheet(QString());
        note->setVisible(true);
    }
    if (m_testSend)
        m_testSend->deleteLater();
    auto *test = new TestSend(this);
    m_testSend = test;
    // The pace of the delivery runs, when known; else one a second.
    const double interval = double(timerValueForSendRate());
    if (std::isfinite(interval) && interval > 0)
        test->setInterval(interval);
    connect(test, &TestSend::finished, this, &BriskoApplication::testSendFinished);
    qCInfo(lcApp).noquote() << u"test send to %1"_s.arg(addresses.addresses.join(u", "_s));
    test->start(message, m_testSendRecord, addresses.addresses, m_campaign.recipients());
}

void BriskoApplication::testSendFinished()
{
    if (!m_testSend)
        return;
    const QList<TestSend::Answer> answers = m_testSend->answers();
    const bool accepted = m_testSend->allAccepted();
    if (m_testSendPanel && m_testSendPanel->isVisible())
        m_testSendPanel->accept();
    QStringList lines;
    for (const TestSend::Answer &answer : answers) {
        lines.append(u"%1 — %2: %3"_s.arg(answer.address,
                                          brisko::tr(u"SendTest_"_s + TestSend::resultName(answer.result)),
                                          answer.text));
    }
    const QString heading = brisko::tr(accepted ? u"SendTest_Accepted_Head"_s : u"SendTest_NotAccepted_Head"_s);
    showStatus(heading);
    // Shown from the event loop, not from inside the last answer.
    QTimer::singleShot(0, this, [heading, text = lines.join(u"\n\n"_s)] {
        RidorIvuvud::showSimpleDialog(heading, text);
    });
}

} // namespace brisko

// The account panel, the quota line, verification and statistics.

#include "BriskoApplication.h"

#include "AccountOperations.h"
#include "AccountSettings.h"
#include "AwsProfiles.h"
#include "BriskoConnector.h"
#include "FennimarStrings.h"
#include "FennimarUserDefaults.h"
#include "InterfaceLoader.h"
#include "Localization.h"
#include "QuotaLine.h"
#include "RidorIvuvud.h"
#include "SecretStore.h"
#include "applogging.h"

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QTimer>
#include <QUrl>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>

using namespace Qt::StringLiterals;

namespace brisko {

namespace {

// Items of the panel's signature pop-up, in the interface file's order.
constexpr int SignatureV4Item = 0;
constexpr int SignatureV3Item = 1;
// Items of the send-rate pop-up.
constexpr int AccountMaximumItem = 0;
constexpr int ChosenRateItem = 1;

// Items of the "Send through" pop-up, in the interface file's order.
constexpr AccountSettings::Transport TransportItems[] = {
    AccountSettings::Transport::Ses, AccountSettings::Transport::Smtp, AccountSettings::Transport::Outbox};

// The integer at the start of the text, read the way the platform reads one: leading
// white space skipped, an optional sign, then decimal digits up to the first other
// character. No digits give 0; values beyond the range stop at its ends.
int leadingInteger(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < u'0' || c > u'9')
            break;
        value = std::min<qint64>(value * 10 + (c - u'0'), qint64(INT_MAX) + 1);
    }
    if (negative)
        return value > INT_MAX ? INT_MIN : int(-value);
    return value > INT_MAX ? INT_MAX : int(value);
}

// An endpoint the requests can go to: empty (the region's standard endpoint) or a full
// http or https address with a host.
bool isUsableEndpoint(const QString &text)
{
    if (text.isEmpty())
        return true;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http") && !url.host().isEmpty();
}

// An SMTP port: empty (the default) or a number from 1 to 65535.
std::optional<int> smtpPortFrom(const QString &text, bool *valid)
{
    *valid = true;
    if (text.isEmpty())
        return std::nullopt;
    bool ok = false;
    const int port = text.toInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        *valid = false;
        return std::nullopt;
    }
    return port;
}

} // namespace

void BriskoApplication::connectAccount()
{
    QMainWindow *w = m_window;
    const std::pair<const char *, void (BriskoApplication::*)()> actions[] = {
        {"accountSettingsAction", &BriskoApplication::showAuthPanel},
        {"checkQuotaAction", &BriskoApplication::checkQuota},
        {"statisticsAction", &BriskoApplication::showStatistics},
        {"verifyAction", &BriskoApplication::verifyItems},
    };
    for (const auto &[name, slot] : actions) {
        if (auto *action = w->findChild<QAction *>(QLatin1StringView(name))) {
            connect(action, &QAction::triggered, this, slot);
            action->setEnabled(true);
        }
    }

    if (auto *regions = panelChild<QComboBox>(m_authPanel, "regionPopUp")) {
        regions->clear();
        regions->addItems(AccountSettings::sesRegions());
    }
    if (auto *buttons = panelChild<QDialogButtonBox>(m_authPanel, "authButtons"))
        connect(buttons, &QDialogButtonBox::accepted, this, &BriskoApplication::authDoneAction);
    if (auto *useProfile = panelChild<QCheckBox>(m_authPanel, "useProfileCheck"))
        connect(useProfile, &QCheckBox::toggled, this, &BriskoApplication::updateProfileControls);
    if (auto *popUp = panelChild<QComboBox>(m_authPanel, "profilePopUp"))
        popUp->setAccessibleName(brisko::tr(u"UseAWSProfile"_s));
    if (auto *choice = panelChild<QComboBox>(m_authPanel, "sendRatePopUp"))
        connect(choice, &QComboBox::currentIndexChanged, this, &BriskoApplication::updateSendRateNote);
    if (auto *field = panelChild<QDoubleSpinBox>(m_authPanel, "sendRateField")) {
        field->setRange(0.1, AccountSettings::HighestSendRate);
        connect(field, &QDoubleSpinBox::valueChanged, this, &BriskoApplication::updateSendRateNote);
    }
    if (auto *choose = panelChild<QAbstractButton>(m_authPanel, "outboxChooseButton"))
        connect(choose, &QAbstractButton::clicked, this, &BriskoApplication::chooseOutboxFolder);
    if (auto *transport = panelChild<QComboBox>(m_authPanel, "transportPopUp"))
        connect(transport, &QComboBox::currentIndexChanged, this, &BriskoApplication::updateTransportRows);

    // The report is the service's text made into a page: nothing in it runs, and it
    // fetches nothing from elsewhere.
    if (m_statisticsWebview) {
        QWebEngineSettings *settings = m_statisticsWebview->settings();
        settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    }
}

// ---- Account panel --------------------------------------------------------------------

void BriskoApplication::showAuthPanel()
{
    fillAuthPanel();
    RidorIvuvud::startASheet(m_authPanel, m_window, this);
    if (auto *field = panelChild<QLineEdit>(m_authPanel, "accessKeyField"))
        field->setFocus();
}

void BriskoApplication::fillAuthPanel()
{
    const AccountSettings settings = AccountSettings::stored();
    const auto setText = [this](const char *name, const QString &text) {
        if (auto *field = panelChild<QLineEdit>(m_authPanel, name))
            field->setText(text);
    };
    setText("accessKeyField", settings.accessKey.value_or(QString()));
    setText("secretKeyField", settings.secretKey.value_or(QString()));
    setText("endpointField", settings.endpoint);
    setText("smtp_host", settings.smtpHost);
    setText("smtp_port", QString::number(settings.smtpPort));
    setText("smtp_user", settings.smtpUser);
    setText("smtp_pass", settings.smtpPassword);
    setText("outboxFolderField", QDir::toNativeSeparators(settings.outboxFolder));
    setText("configurationSetField", settings.configurationSet.value_or(QString()));
    if (auto *transport = panelChild<QComboBox>(m_authPanel, "transportPopUp")) {
        const auto item = std::find(std::begin(TransportItems), std::end(TransportItems), settings.transport);
        transport->setCurrentIndex(int(item - std::begin(TransportItems)));
    }
    updateTransportRows();

    if (auto *regions = panelChild<QComboBox>(m_authPanel, "regionPopUp")) {
        // A region stored by hand that the list does not know stays choosable.
        int index = regions->findText(settings.region);
        if (index < 0) {
            regions->addItem(settings.region);
            index = regions->count() - 1;
        }
        regions->setCurrentIndex(index);
    }
    if (auto *signature = panelChild<QComboBox>(m_authPanel, "signaturePopUp")) {
        signature->setCurrentIndex(settings.signatureVersion == AccountSettings::SignatureVersion::V3
                                       ? SignatureV3Item
                                       : SignatureV4Item);
    }

    // The AWS profiles of the shared credential files, read afresh each time the panel opens.
    QString filesProblem;
    QStringList profiles = AwsProfiles::profileNames(&filesProblem);
    if (settings.awsProfile && !profiles.contains(*settings.awsProfile))
        profiles.append(*settings.awsProfile); // the choice stays visible while its file is away
    if (auto *popUp = panelChild<QComboBox>(m_authPanel, "profilePopUp")) {
        popUp->clear();
        popUp->addItems(profiles);
        popUp->setCurrentIndex(settings.awsProfile ? int(profiles.indexOf(*settings.awsProfile)) : 0);
    }
    if (auto *useProfile = panelChild<QCheckBox>(m_authPanel, "useProfileCheck")) {
        useProfile->setChecked(settings.awsProfile.has_value());
        useProfile->setEnabled(!profiles.isEmpty());
    }
    if (auto *note = panelChild<QLabel>(m_authPanel, "profileNoteLabel")) {
        const QString files = AwsProfiles::credentialsFilePath() + u", "_s + AwsProfiles::configFilePath();
        if (!filesProblem.isEmpty()) {
            note->setText(brisko::tr(u"AWSFilesBroken"_s) + u"\n"_s + filesProblem);
            note->setStyleSheet(u"color: #b00020;"_s);
        } else {
            note->setText(brisko::tr(profiles.isEmpty() ? u"NoAWSProfiles"_s : u"AWSProfilesFrom"_s) + u" "_s
                          + files);
            note->setStyleSheet(QString());
        }
    }
    if (auto *place = panelChild<QLabel>(m_authPanel, "secretPlaceLabel")) {
        if (SecretStore::place() == SecretStore::Place::Keyring)
            place->setText(brisko::tr(u"SecretsInKeyring"_s));
        else
            place->setText(brisko::tr(u"SecretsInFile"_s) + u" "_s + FennimarUserDefaults::settingsFilePath());
    }
    if (auto *field = panelChild<QDoubleSpinBox>(m_authPanel, "sendRateField"))
        field->setValue(settings.sendRate.value_or(m_maximumSendRate.value_or(1.0)));
    if (auto *choice = panelChild<QComboBox>(m_authPanel, "sendRatePopUp"))
        choice->setCurrentIndex(settings.sendRate ? ChosenRateItem : AccountMaximumItem);
    updateSendRateNote();
    updateProfileControls();
}

void BriskoApplication::updateProfileControls()
{
    auto *useProfile = panelChild<QCheckBox>(m_authPanel, "useProfileCheck");
    const bool fromProfile = useProfile && useProfile->isChecked();
    if (auto *popUp = panelChild<QComboBox>(m_authPanel, "profilePopUp"))
        popUp->setEnabled(fromProfile);
    // The typed keys stay stored; they are only not used while a profile is.
    for (const char *name : {"accessKeyField", "secretKeyField"}) {
        if (auto *field = panelChild<QLineEdit>(m_authPanel, name))
            field->setEnabled(!fromProfile);
    }
}

void BriskoApplication::updateSendRateNote()
{
    auto *choice = panelChild<QComboBox>(m_authPanel, "sendRatePopUp");
    auto *field = panelChild<QDoubleSpinBox>(m_authPanel, "sendRateField");
    auto *note = panelChild<QLabel>(m_authPanel, "sendRateNote");
    if (!choice || !field || !note)
        return;
    const bool chosen = choice->currentIndex() == ChosenRateItem;
    field->setEnabled(chosen);
    QString text;
    if (chosen && m_maximumSendRate && *m_maximumSendRate > 0 && field->value() > *m_maximumSendRate)
        text = brisko::tr(u"SendRateCapped"_s).arg(*m_maximumSendRate);
    else if (!chosen && !m_maximumSendRate)
        text = brisko::tr(u"SendRateMaximumUnknown"_s);
    note->setText(text);
    note->setVisible(!text.isEmpty());
}

bool BriskoApplication::authPanelIsValid()
{
    auto *endpoint = panelChild<QLineEdit>(m_authPanel, "endpointField");
    if (endpoint && !isUsableEndpoint(endpoint->text().trimmed())) {
        RidorIvuvud::showSimpleDialog(u"EndpointInvalid_Head"_s, u"EndpointInvalid_Sub"_s, std::nullopt, true);
        endpoint->setFocus();
        endpoint->selectAll();
        return false;
    }
    auto *configurationSet = panelChild<QLineEdit>(m_authPanel, "configurationSetField");
    if (configurationSet && !configurationSet->text().trimmed().isEmpty()) {
        if (const auto problem = AccountSettings::configurationSetProblem(configurationSet->text().trimmed())) {
            qCInfo(lcApp).noquote() << u"configuration set refused: %1"_s.arg(*problem);
            RidorIvuvud::showSimpleDialog(u"ConfigurationSetInvalid_Head"_s, u"ConfigurationSetInvalid_Sub"_s,
                                          std::nullopt, true);
            configurationSet->setFocus();
            configurationSet->selectAll();
            return false;
        }
    }
    auto *port = panelChild<QLineEdit>(m_authPanel, "smtp_port");
    bool valid = true;
    if (port)
        smtpPortFrom(port->text().trimmed(), &valid);
    if (!valid) {
        RidorIvuvud::showSimpleDialog(u"SMTPPortInvalid_Head"_s, u"SMTPPortInvalid_Sub"_s, std::nullopt, true);
        port->setFocus();
        port->selectAll();
        return false;
    }
    return true;
}

void BriskoApplication::storeAuthPanel()
{
    AccountSettings settings = AccountSettings::stored();
    const auto text = [this](const char *name) -> std::optional<QString> {
        if (auto *field = panelChild<QLineEdit>(m_authPanel, name))
            return field->text();
        return std::nullopt;
    };
    // A cleared key field means no key: the account is then not set up.
    const auto key = [&text](const char *name) -> std::optional<QString> {
        const auto value = text(name);
        return value && !value->isEmpty() ? value : std::nullopt;
    };
    settings.accessKey = key("accessKeyField");
    settings.secretKey = key("secretKeyField");
    if (const auto endpoint = text("endpointField"))
        settings.endpoint = endpoint->trimmed();
    if (auto *regions = panelChild<QComboBox>(m_authPanel, "regionPopUp"); regions && regions->currentIndex() >= 0)
        settings.region = regions->currentText();
    if (auto *signature = panelChild<QComboBox>(m_authPanel, "signaturePopUp")) {
        settings.signatureVersion = signature->currentIndex() == SignatureV3Item ? AccountSettings::SignatureVersion::V3
                                                                                 : AccountSettings::SignatureVersion::V4;
    }
    if (const auto host = text("smtp_host"))
        settings.smtpHost = host->trimmed();
    if (const auto port = text("smtp_port")) {
        bool valid = true;
        settings.smtpPort = smtpPortFrom(port->trimmed(), &valid).value_or(AccountSettings().smtpPort);
    }
    if (const auto user = text("smtp_user"))
        settings.smtpUser = *user;
    if (const auto password = text("smtp_pass"))
        settings.smtpPassword = *password;
    auto *useProfile = panelChild<QCheckBox>(m_authPanel, "useProfileCheck");
    auto *popUp = panelChild<QComboBox>(m_authPanel, "profilePopUp");
    if (useProfile && popUp) {
        const QString name = popUp->currentText().trimmed();
        settings.awsProfile = useProfile->isChecked() && !name.isEmpty() ? std::optional<QString>(name)
                                                                         : std::nullopt;
    }
    auto *rateChoice = panelChild<QComboBox>(m_authPanel, "sendRatePopUp");
    auto *rateField = panelChild<QDoubleSpinBox>(m_authPanel, "sendRateField");
    if (rateChoice && rateField) {
        settings.sendRate = rateChoice->currentIndex() == ChosenRateItem ? std::optional(rateField->value())
                                                                          : std::nullopt;
    }
    if (const auto folder = text("outboxFolderField"))
        settings.outboxFolder = QDir::fromNativeSeparators(folder->trimmed());
    if (const auto name = text("configurationSetField"))
        settings.configurationSet = name->trimmed().isEmpty() ? std::nullopt : std::optional(name->trimmed());
    if (auto *transport = panelChild<QComboBox>(m_authPanel, "transportPopUp");
        transport && transport->currentIndex() >= 0 && transport->currentIndex() < int(std::size(TransportItems)))
        settings.transport = TransportItems[transport->currentIndex()];
    QString failure;
    if (!settings.save(&failure)) {
        // Nothing is lost: a secret the keyring refused stays in the preferences file.
        const QString heading = brisko::tr(u"AccountNotStored_Head"_s);
        QTimer::singleShot(0, this, [heading, failure] { RidorIvuvud::showSimpleDialog(heading, failure); });
    }
    qCInfo(lcApp).noquote() << u"Account settings stored: region %1, endpoint %2, signature %3, profile %4, send through %5, configuration set %6"_s
                                   .arg(settings.region, settings.endpointInUse(),
                                        AccountSettings::signatureVersionName(settings.signatureVersion),
                                        settings.awsProfile.value_or(u"none"_s),
                                        AccountSettings::transportName(settings.transport),
                                        settings.configurationSet.value_or(u"none"_s));
}

void BriskoApplication::updateTransportRows()
{
    auto *transport = panelChild<QComboBox>(m_authPanel, "transportPopUp");
    const bool outbox = transport && transport->currentIndex() >= 0 &&
                        transport->currentIndex() < int(std::size(TransportItems)) &&
                        TransportItems[transport->currentIndex()] == AccountSettings::Transport::Outbox;
    for (const char *name : {"outboxFolderLabel", "outboxFolderField", "outboxChooseButton"}) {
        if (auto *widget = panelChild<QWidget>(m_authPanel, name))
            widget->setEnabled(outbox);
    }
}

void BriskoApplication::chooseOutboxFolder()
{
    auto *field = panelChild<QLineEdit>(m_authPanel, "outboxFolderField");
    const QString current = field ? QDir::fromNativeSeparators(field->text().trimmed()) : QString();
    std::optional<QString> chosen;
    if (m_outboxChooser) {
        chosen = m_outboxChooser(current);
    } else {
        const QString path = QFileDialog::getExistingDirectory(m_authPanel, brisko::tr(u"ChooseOutboxFolder"_s),
                                                               current.isEmpty() ? QDir::homePath() : current);
        if (!path.isEmpty())
            chosen = path;
    }
    if (chosen && field)
        field->setText(QDir::toNativeSeparators(*chosen));
}

QLineEdit *BriskoApplication::smtpHost() const
{
    return panelChild<QLineEdit>(m_authPanel, "smtp_host");
}

QLineEdit *BriskoApplication::smtpPort() const
{
    return panelChild<QLineEdit>(m_authPanel, "smtp_port");
}

QLineEdit *BriskoApplication::smtpUser() const
{
    return panelChild<QLineEdit>(m_authPanel, "smtp_user");
}

QLineEdit *BriskoApplication::smtpPass() const
{
    return panelChild<QLineEdit>(m_authPanel, "smtp_pass");
}

void BriskoApplication::authDoneAction()
{
    if (!m_authPanel)
        return;
    // Leave the field being typed in, as a click on the done button would.
    if (QWidget *focus = m_authPanel->focusWidget())
        focus->clearFocus();
    if (!authPanelIsValid())
        return;
    storeAuthPanel();
    RidorIvuvud::stopASheet(m_authPanel);
    // The check's good answer is a quota answer: the quota line shows it.
    if (BriskoConnector().validateLogin()) {
        ++m_pendingLogin;
        quotaLineBusy(true);
    }
}

void BriskoApplication::showLoginFailure(const QString &heading, const std::optional<QString> &message)
{
    // Shown from the event loop, not from inside the network answer.
    QTimer::singleShot(0, this, [heading, message] { RidorIvuvud::showSimpleDialog(heading, message); });
}

void BriskoApplication::accountProblem(const QString &problem)
{
    const QString heading = brisko::tr(u"AccountProblem_Head"_s);
    QTimer::singleShot(0, this, [heading, problem] { RidorIvuvud::showSimpleDialog(heading, problem); });
}

// ---- Credentials -----------------------------------------------------------------------

bool BriskoApplication::hasAuthInfo() const
{
    if (FennimarUserDefaults::objectForKey(AccountSettings::AccessKeyKey.toString()).isValid())
        return true;
    // An AWS profile chosen in the panel stands for the typed keys.
    return !FennimarUserDefaults::objectForKey(AccountSettings::AwsProfileKey.toString())
                .toString()
                .trimmed()
                .isEmpty();
}

void BriskoApplication::showNoAuthWarning()
{
    const int choice = RidorIvuvud::showDialog(u"NoAuthInfo_Head"_s, u"NoAuthInfo_Sub"_s, u"SetupAuth..."_s,
                                               u"Cancel"_s, std::nullopt, std::nullopt, std::nullopt, true);
    if (choice == RidorIvuvud::FirstButton)
        showAuthPanel();
}

// ---- Quota and send rate ---------------------------------------------------------------

void BriskoApplication::checkQuota()
{
    if (!BriskoConnector().getAccountSendQuota()) {
        // Not sent: an account that cannot be used says why, else it is not set up.
        showQuotaProblem(AccountSettings::load().problem.value_or(brisko::tr(u"QuotaNotAsked"_s)));
        return;
    }
    ++m_pendingQuota;
    quotaLineBusy(true);
}

void BriskoApplication::quotaLineBusy(bool busy)
{
    if (!m_quotaField)
        return;
    if (busy) {
        m_quotaField->setCursor(Qt::BusyCursor);
        m_quotaField->setToolTip(QString());
        QuotaLine::fadeIn(m_quotaField, QuotaLine::note(brisko::tr(u"AskingService"_s)));
    } else {
        m_quotaField->unsetCursor();
    }
}

void BriskoApplication::showQuotaProblem(const QString &text)
{
    if (!m_quotaField)
        return;
    // The line is one row of the header: a long reason is cut short there and whole in
    // the tooltip.
    const QString shown = m_quotaField->fontMetrics().elidedText(text, Qt::ElideRight, 640);
    QuotaLine::fadeIn(m_quotaField, QuotaLine::note(shown));
    m_quotaField->setToolTip(text);
}

void BriskoApplication::requestEnded(const RequestOutcome &outcome)
{
    const QString endpoint = AccountSettings::load().endpointInUse();
    // Why a request came to nothing, or none when it brought a good answer.
    std::optional<QString> problem;
    if (!outcome.answer) {
        problem = brisko::tr(u"NoAnswerFrom"_s).arg(endpoint, outcome.failure);
    } else if (outcome.answer->contains(u"ErrorResponse")) {
        problem = brisko::tr(u"ServiceRefused"_s)
                      .arg(FennimarStrings::stringBetween(u"<Message>"_s, u"</Message>"_s, *outcome.answer)
                               .value_or(brisko::tr(u"NoMessage"_s)));
    }

    if (outcome.action == u"GetSendStatistics") {
        m_statisticsPending = false;
        if (m_statisticsPanel)
            m_statisticsPanel->unsetCursor();
        if (problem)
            showStatisticsText(*problem);
        return;
    }
    if (outcome.action != u"GetSendQuota")
        return;
    // Both the quota request and the login check ask GetSendQuota; the login check
    // counts first while one is out.
    const bool loginCheck = m_pendingLogin > 0;
    if (loginCheck)
        --m_pendingLogin;
    else if (m_pendingQuota > 0)
        --m_pendingQuota;
    else
        return;
    quotaLineBusy(isAskingService());
    if (problem) {
        // A failed request changes no stored value: only the line tells.
        showQuotaProblem(*problem);
        // An error document was told by the login check itself; no answer was not.
        if (loginCheck && !outcome.answer)
            showLoginFailure(AccountOperations::LoginFailureHeading.toString(),
                             *problem + u"\n\n"_s + brisko::tr(u"CheckEndpoint"_s));
        return;
    }
    if (loginCheck) {
        const QString &answer = *outcome.answer;
        const auto field = [&answer](const QString &name) {
            return FennimarStrings::stringBetween(u'<' + name + u'>', u"</"_s + name + u'>', answer);
        };
        setMax24Send(field(u"Max24HourSend"_s), field(u"MaxSendRate"_s), field(u"SentLast24Hours"_s));
    }
}

void BriskoApplication::setMax24Send(const std::optional<QString> &max24, const std::optional<QString> &maxRate,
                                     const std::optional<QString> &sentLast24)
{
    QuotaLine::hide(m_quotaField);
    if (m_quotaField)
        m_quotaField->setToolTip(QString());
    m_max24Send = max24;
    m_sentLast24 = sentLast24;
    bool valid = false;
    const double maximum = maxRate.value_or(QString()).toDouble(&valid);
    m_maximumSendRate = valid && std::isfinite(maximum) && maximum > 0 ? std::optional(maximum) : std::nullopt;
    setSendRateWithString(maxRate.value_or(QString()));
    const StyledText line = QuotaLine::build(max24, maxRate, sentLast24);
    QuotaLine::fadeIn(m_quotaField, line);
}

void BriskoApplication::setSendRateWithString(const QString &rate)
{
    m_sendRate = leadingInteger(rate);
    qCInfo(lcApp).noquote() << u"Set send rate to %1, making timer val of: %2"_s.arg(
        rate, QString::number(double(timerValueForSendRate()), 'f', 6));
}

float BriskoApplication::timerValueForSendRate() const
{
    // A rate of the user's own, no faster than the account allows when that is known.
    if (const std::optional<double> chosen = AccountSettings::load().sendRate) {
        double rate = *chosen;
        if (m_maximumSendRate && rate > *m_maximumSendRate) {
            qCInfo(lcApp).noquote() << u"send rate %1 capped to the account's maximum %2"_s.arg(rate).arg(
                *m_maximumSendRate);
            rate = *m_maximumSendRate;
        }
        return float(1.0 / rate);
    }
    return 1.0f / float(sendRate());
}

// ---- Verification ----------------------------------------------------------------------

void BriskoApplication::verifyItems()
{
    const RecipientList selected = selectedRecipients();
    if (selected.isEmpty())
        return;
    const int choice =
        RidorIvuvud::showDialog(u"SendVerificationMessages_Head"_s, u"SendVerificationMessages_Sub"_s, u"Send"_s,
                                u"Cancel"_s, std::nullopt, std::nullopt, std::nullopt, true);
    // Only "Send" goes on; "Cancel" or a dialog closed otherwise sends nothing.
    if (choice != RidorIvuvud::FirstButton)
        return;
    // Told once, not once per address.
    if (const auto problem = AccountSettings::load().problem) {
        accountProblem(*problem);
        return;
    }
    BriskoConnector connector;
    for (const RecipientPtr &record : selected)
        connector.verifyEmailAddress(record ? record->email() : QString());
    RidorIvuvud::showSimpleDialog(u"UserWillGetVerificationMail_Head"_s, u"UserWillGetVerificationMail_Sub"_s,
                                  std::nullopt, true, false);
}

// ---- Statistics ------------------------------------------------------------------------

void BriskoApplication::showStatistics()
{
    if (m_statisticsPanel) {
        m_statisticsPanel->show();
        m_statisticsPanel->raise();
        m_statisticsPanel->activateWindow();
    }
    if (!BriskoConnector().getAccountStatistics()) {
        showStatisticsText(AccountSettings::load().problem.value_or(brisko::tr(u"StatisticsNotAsked"_s)));
        return;
    }
    m_statisticsPending = true;
    if (m_statisticsPanel)
        m_statisticsPanel->setCursor(Qt::BusyCursor);
    showStatisticsText(brisko::tr(u"AskingService"_s));
}

void BriskoApplication::showStatisticsText(const QString &text)
{
    if (m_statisticsWebview)
        m_statisticsWebview->setHtml(u"<p style=\"font-family:sans-serif\">%1</p>"_s.arg(text.toHtmlEscaped()), QUrl());
}

void BriskoApplication::statisticsResponse(const QString &text)
{
    if (!m_statisticsWebview)
        return;
    m_statisticsWebview->setHtml(AccountOperations::statisticsPage(text), QUrl());
}

} // namespace brisko

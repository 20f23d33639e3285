#include "AccountOperations.h"

#include "FennimarStrings.h"
#include "MimeMessage.h"
#include "SendRun.h"
#include "maillogging.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

using namespace Qt::StringLiterals;

namespace brisko {

namespace AccountOperations {

namespace {

int g_timeoutMs = 30000;

template<typename Collector>
bool start(const AccountSettings &settings, const QString &action, const QList<SesRequest::Parameter> &parameters,
           const std::optional<QString> &address = std::nullopt)
{
    if (settings.problem) {
        qCWarning(lcMail).noquote() << action << "not sent:" << *settings.problem;
        if (MailHost *host = MailHost::shared())
            host->accountProblem(*settings.problem);
        return false;
    }
    const SesRequest::Request request = SesRequest::build(settings, action, parameters);
    QNetworkReply *reply = networkAccessManager()->post(request.networkRequest(g_timeoutMs), request.body);
    new Collector(reply, action, address);
    return true;
}

const QString StyleBlock = u"<style type=\"text/css\">\tbody\t{\tbackground-color:#bbb;\t}\t.statsection\t{\t"
                           "background-color:#eee;\tpadding:3px;\tmargin:3px;\tfont-family:'Lucida Grande',"
                           "san-serif;\t}\t</style>"_s;

} // namespace

bool getAccountSendQuota()
{
    const AccountSettings settings = AccountSettings::load();
    if (!settings.problem && (!settings.accessKey || !settings.secretKey)) {
        qCInfo(lcMail) << "GetSendQuota not sent: no access key or secret key stored";
        return false;
    }
    return start<BriskoQuotaDelegate>(settings, u"GetSendQuota"_s, {});
}

bool getAccountStatistics()
{
    const AccountSettings settings = AccountSettings::load();
    if (!settings.problem && !settings.secretKey) {
        qCInfo(lcMail) << "GetSendStatistics not sent: no secret key stored";
        return false;
    }
    return start<BriskoStatisticsDelegate>(settings, u"GetSendStatistics"_s, {});
}

bool validateLogin()
{
    return start<BriskoValidateDelegate>(AccountSettings::load(), u"GetSendQuota"_s, {});
}

bool verifyEmailAddress(const QString &address)
{
    return start<BriskoVerifyEmailDelegate>(AccountSettings::load(), u"VerifyEmailAddress"_s,
                                            {{u"EmailAddress"_s, address}}, address);
}

void setRequestTimeout(int milliseconds)
{
    g_timeoutMs = milliseconds;
}

int requestTimeout()
{
    return g_timeoutMs;
}

QNetworkAccessManager *networkAccessManager()
{
    static QPointer<QNetworkAccessManager> manager;
    if (!manager)
        manager = new QNetworkAccessManager(QCoreApplication::instance());
    return manager;
}

QString replaceXMLWithHTMLForElement(const QString &element, const QString &data, const QString &prettyName)
{
    const QString opened = FennimarStrings::replace(u"<%1>"_s.arg(element), u"<P><b>%1</b> : "_s.arg(prettyName), data);
    return FennimarStrings::replace(u"</%1>"_s.arg(element), u"</P>"_s, opened);
}

QString statisticsPage(const QString &answer)
{
    QString page = FennimarStrings::replace(u"<SendDataPoints>"_s, StyleBlock, answer);
    page = FennimarStrings::replace(u"<member>"_s, u"<div class=\"statsection\" >"_s, page);
    page = FennimarStrings::replace(u"</member>"_s, u"</div>"_s, page);
    static const std::pair<QString, QString> elements[] = {
        {u"DeliveryAttempts"_s, u"Delivery Attempts"_s}, {u"Timestamp"_s, u"Time"_s},
        {u"Rejects"_s, u"Rejects"_s},                    {u"Bounces"_s, u"Bounces"_s},
        {u"Complaints"_s, u"Complaints"_s},
    };
    for (const auto &[element, prettyName] : elements)
        page = replaceXMLWithHTMLForElement(element, page, prettyName);
    return page;
}

} // namespace AccountOperations

BriskoResponseCollector::BriskoResponseCollector(QNetworkReply *reply, const QString &action,
                                                 const std::optional<QString> &address)
    : QObject(reply), m_action(action), m_address(address), m_reply(reply)
{
    connect(reply, &QNetworkReply::metaDataChanged, this, &BriskoResponseCollector::didReceiveResponse);
    connect(reply, &QNetworkReply::readyRead, this, &BriskoResponseCollector::didReceiveData);
    connect(reply, &QNetworkReply::finished, this, &BriskoResponseCollector::didFinishLoading);
    // The whole request is bounded in time, not only the silence between two bytes.
    QTimer::singleShot(AccountOperations::TotalTimeFactor * AccountOperations::requestTimeout(), this, [this] {
        if (m_reply && m_reply->isRunning())
            m_reply->abort();
    });
}

void BriskoResponseCollector::didReceiveResponse()
{
    receivedData.clear();
}

void BriskoResponseCollector::didReceiveData()
{
    if (m_reply && m_reply->isOpen())
        receivedData.append(m_reply->readAll());
    if (m_reply && receivedData.size() > SendRun::MaxAnswerBytes) {
        m_tooLarge = true;
        receivedData.clear();
        m_reply->abort();
    }
}

void BriskoResponseCollector::didFinishLoading()
{
    if (!m_reply)
        return;
    if (m_reply->isOpen() && !m_tooLarge)
        receivedData.append(m_reply->readAll());
    // An HTTP error status still carries the service's error document; only errors below
    // the content range (connection, TLS, timeout, proxy) mean that no answer came.
    const QNetworkReply::NetworkError error = m_reply->error();
    const bool answered = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()
                          && !(error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied)
                          && !m_tooLarge && receivedData.size() <= SendRun::MaxAnswerBytes;
    MailHost::RequestOutcome outcome{m_action, m_address, std::nullopt, QString()};
    if (answered)
        outcome.answer = QString::fromUtf8(receivedData);
    else if (m_tooLarge || receivedData.size() > SendRun::MaxAnswerBytes)
        outcome.failure = u"the answer was longer than %1 MB"_s.arg(SendRun::MaxAnswerBytes / (1024 * 1024));
    else if (error == QNetworkReply::OperationCanceledError)
        outcome.failure = u"no answer within %1 seconds, or no data for %2 seconds (timeout)"_s
                              .arg(AccountOperations::TotalTimeFactor * AccountOperations::requestTimeout() / 1000.0)
                              .arg(AccountOperations::requestTimeout() / 1000.0);
    else
        outcome.failure = m_reply->errorString();
    m_reply->deleteLater();

    MailHost *host = MailHost::shared();
    if (!host) {
        qCWarning(lcMail).noquote() << u"%1 answer dropped: no host"_s.arg(m_action);
        return;
    }
    if (answered) {
        act(*host, *outcome.answer);
    } else {
        qCInfo(lcMail).noquote() << u"%1 got no answer: %2"_s.arg(m_action, outcome.failure);
        actOnFailure(*host);
    }
    host->requestEnded(outcome);
}

void BriskoQuotaDelegate::act(MailHost &host, const QString &answer)
{
    const auto field = [&answer](const QString &name) {
        return FennimarStrings::stringBetween(u'<' + name + u'>', u"</"_s + name + u'>', answer);
    };
    host.setMax24Send(field(u"Max24HourSend"_s), field(u"MaxSendRate"_s), field(u"SentLast24Hours"_s));
}

void BriskoStatisticsDelegate::act(MailHost &host, const QString &answer)
{
    host.statisticsResponse(answer);
}

void BriskoValidateDelegate::act(MailHost &host, const QString &answer)
{
    if (!answer.contains(u"ErrorResponse"))
        return;
    qCInfo(lcMail).noquote() << MimeMessage::withoutLineBreaks(answer);
    host.showLoginFailure(AccountOperations::LoginFailureHeading.toString(),
                          FennimarStrings::stringBetween(u"<Message>"_s, u"</Message>"_s, answer));
}

void BriskoVerifyEmailDelegate::act(MailHost &host, const QString &answer)
{
    host.verificationResponse(m_address.value_or(QString()), answer);
}

void BriskoVerifyEmailDelegate::actOnFailure(MailHost &host)
{
    host.verificationResponse(m_address.value_or(QString()), std::nullopt);
}

} // namespace brisko

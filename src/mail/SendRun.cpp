// The delivery run: BriskoConnector's paced send loop and the helpers it stands on.

#include "SendRun.h"

#include "AccountOperations.h"
#include "BriskoConnector.h"
#include "FennimarStrings.h"
#include "MailHost.h"
#include "MimeMessage.h"
#include "PlaceholderMerge.h"
#include "maillogging.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace brisko {

namespace SendRun {

namespace {

int g_sendTimeoutMs = 60000;
int g_quotaTimeoutMs = 10000;
int g_maxInFlight = 128;

QString seconds(int milliseconds)
{
    return milliseconds % 1000 == 0 ? QString::number(milliseconds / 1000)
                                    : QString::number(milliseconds / 1000.0);
}

} // namespace

QVariantMap RunInfo::dictionary() const
{
    QVariantMap map;
    map.insert(SubjectKey.toString(), subject);
    map.insert(SenderKey.toString(), sender);
    map.insert(ReplyToKey.toString(), replyTo);
    if (returnPath)
        map.insert(ReturnPathKey.toString(), *returnPath);
    map.insert(BodyKey.toString(), body);
    map.insert(HtmlMessageKey.toString(), htmlMessage);
    QStringList addresses;
    addresses.reserve(recipients.size());
    for (const RecipientPtr &record : recipients)
        addresses.append(record ? record->email() : QString());
    map.insert(RecipientsKey.toString(), addresses);
    return map;
}

SesRequest::Request buildRequest(const AccountSettings &settings, const RunInfo &info,
                                 const Recipient &record, const QDateTime &now)
{
    // The merge of BriskoConnector::doGreps, with the record's entries taken once for both bodies.
    QList<std::pair<QString, QString>> entries;
    record.forEach([&](const QString &key, const QString &value) { entries.emplace_back(key, value); });
    const QString address = record.email();
    const QString message = MimeMessage::createMessageTo(
        PlaceholderMerge::merge(info.body, entries), PlaceholderMerge::merge(info.htmlMessage, entries),
        info.subject, info.sender, address, info.replyTo, info.returnPath);
    // build() escapes the values for the settings' signing scheme.
    return SesRequest::build(
        settings, u"SendRawEmail"_s,
        {{u"Destinations.member.1"_s, address}, {u"RawMessage.Data"_s, MimeMessage::rawMessageData(message)}},
        now);
}

std::optional<Pacing> pacingFor(double intervalSeconds)
{
    if (!std::isfinite(intervalSeconds) || intervalSeconds <= 0)
        return std::nullopt;
    Pacing pacing;
    pacing.rate = 1.0 / intervalSeconds;
    const double milliseconds = intervalSeconds * 1000.0;
    if (milliseconds < ShortestTickMs) {
        pacing.tickMs = ShortestTickMs;
        pacing.batched = true;
        return pacing;
    }
    // Whole milliseconds, rounded up (a hair of floating-point noise is not a millisecond).
    const double whole = std::ceil(milliseconds - 1e-6);
    pacing.tickMs = whole >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(whole);
    return pacing;
}

qint64 messagesDueAt(double rate, qint64 elapsedMs)
{
    if (elapsedMs <= 0 || rate <= 0)
        return 0;
    return qint64(std::floor(rate * double(elapsedMs) / 1000.0 + 1e-9));
}

void setSendTimeout(int milliseconds)
{
    g_sendTimeoutMs = milliseconds;
}

int sendTimeout()
{
    return g_sendTimeoutMs;
}

void setMaxInFlight(int requests)
{
    g_maxInFlight = std::max(1, requests);
}

int maxInFlight()
{
    return g_maxInFlight;
}

void setQuotaTimeout(int milliseconds)
{
    g_quotaTimeoutMs = milliseconds;
}

int quotaTimeout()
{
    return g_quotaTimeoutMs;
}

std::optional<double> maxSendRate(const QString &answer)
{
    if (answer.contains(u"ErrorResponse"))
        return std::nullopt;
    const std::optional<QString> text =
        FennimarStrings::stringBetween(u"<MaxSendRate>"_s, u"</MaxSendRate>"_s, answer);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const double rate = text->trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(rate))
        return std::nullopt;
    return rate;
}

Outcome outcomeForResponse(const QString &response)
{
    if (!FennimarStrings::stringContains(response, u"ErrorResponse"_s))
        return {1, SuccessStatus.toString()};
    return {-1, FennimarStrings::stringBetweenAndLastOccurenceOf(u"<Message>"_s, u"</Message>"_s, response)};
}

Outcome outcomeForFailure(const QString &failure)
{
    return {-1, failure};
}

ReplyEnd replyEnd(QNetworkReply *reply, const QByteArray &body, int timeoutMs)
{
    const QNetworkReply::NetworkError error = reply->error();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    // Errors below the content range (connection, TLS, timeout, proxy) mean no answer came.
    const bool transport = error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
    if (!status.isValid() || transport) {
        if (error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError)
            return {std::nullopt, u"No answer within %1 seconds"_s.arg(seconds(timeoutMs))};
        return {std::nullopt, reply->errorString()};
    }
    const QString text = QString::fromUtf8(body);
    const int code = status.toInt();
    if ((code < 200 || code > 299) && !text.contains(u"ErrorResponse")) {
        const QString reason =
            QString::fromLatin1(reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray())
                .trimmed();
        QString failure = reason.isEmpty() ? u"HTTP %1"_s.arg(code) : u"HTTP %1 %2"_s.arg(code).arg(reason);
        // What the server said, if anything, on one line and in short.
        QString said = MimeMessage::withoutLineBreaks(text).simplified();
        if (said.size() > 200)
            said = said.left(200) + u'…';
        if (!said.isEmpty())
            failure += u": "_s + said;
        return {std::nullopt, failure};
    }
    return {text, QString()};
}

} // namespace SendRun

// -------------------------------------------------------------------------------------
// Delivery run

namespace {

// A record for the log: "{KEY = value; …}".
QString describe(const Recipient &record)
{
    QString text = u"{"_s;
    bool first = true;
    record.forEach([&](const QString &key, const QString &value) {
        if (!first)
            text += u"; "_s;
        first = false;
        text += key + u" = "_s + value;
    });
    return text + u'}';
}

QString identity(const QObject *object)
{
    return QString::asprintf("%p", static_cast<const void *>(object));
}

} // namespace

void BriskoConnector::sendMessageToRecipients(const QString &message, const QString &htmlMessage,
                                              const QString &subject, const QString &from,
                                              const RecipientList &recipients, const QString &replyTo,
                                              const std::optional<QString> &returnPath)
{
    if (m_runState != RunState::Idle) {
        qCWarning(lcMail) << "BriskoConnector.sendMessageToRecipients - a connector runs once";
        return;
    }
    m_userInfo = RunInfo{subject, from, replyTo, returnPath, message, htmlMessage, recipients};
    m_total = recipients.size();
    m_settings = AccountSettings::load();
    if (m_settings.problem) {
        m_runState = RunState::Running;
        endRun(u"The account cannot be used, so nothing was sent: %1"_s.arg(*m_settings.problem));
        return;
    }

    if (isSMTP()) {
        m_runState = RunState::Running;
        sendMessageWithInfo(m_userInfo);
        return;
    }
    MailHost *host = MailHost::shared();
    const double interval = host ? double(host->timerValueForSendRate()) : 0.0;
    if (const auto pacing = SendRun::pacingFor(interval)) {
        startTimer(*pacing);
        return;
    }
    askQuotaForRate();
}

void BriskoConnector::askQuotaForRate()
{
    m_runState = RunState::AwaitingQuota;
    qCInfo(lcMail) << "send rate not known: asking for the quota before sending";
    const SesRequest::Request request = SesRequest::build(m_settings, u"GetSendQuota"_s, {});
    QNetworkReply *reply = AccountOperations::networkAccessManager()->post(
        request.networkRequest(SendRun::quotaTimeout()), request.body);
    reply->setParent(this);
    m_quotaReply = reply;
    m_quotaData.clear();
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] { m_quotaData.clear(); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (reply->isOpen())
            m_quotaData += reply->readAll();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply->isOpen())
            m_quotaData += reply->readAll();
        quotaAnswered(reply, m_quotaData);
    });
    // The whole wait is bounded, not only the silence between two bytes.
    QTimer::singleShot(SendRun::quotaTimeout(), reply, [reply] {
        if (reply->isRunning())
            reply->abort();
    });
}

void BriskoConnector::quotaAnswered(QNetworkReply *reply, const QByteArray &body)
{
    reply->deleteLater();
    m_quotaReply = nullptr;
    if (m_runState != RunState::AwaitingQuota)
        return;
    const SendRun::ReplyEnd end = SendRun::replyEnd(reply, body, SendRun::quotaTimeout());
    if (!end.answer) {
        endRun(u"The send rate is not known and the quota request got no answer (%1), so nothing was sent."_s
                   .arg(end.failure));
        return;
    }
    const QString &answer = *end.answer;
    MailHost *host = MailHost::shared();
    if (answer.contains(u"ErrorResponse")) {
        const QString message =
            FennimarStrings::stringBetween(u"<Message>"_s, u"</Message>"_s, answer).value_or(u"no message"_s);
        endRun(
            u"The send rate is not known and the service refused the quota request (%1), so nothing was sent."_s
                .arg(message));
        return;
    }
    const auto field = [&answer](const QString &name) {
        return FennimarStrings::stringBetween(u'<' + name + u'>', u"</"_s + name + u'>', answer);
    };
    if (host)
        host->setMax24Send(field(u"Max24HourSend"_s), field(u"MaxSendRate"_s), field(u"SentLast24Hours"_s));
    const std::optional<double> rate = SendRun::maxSendRate(answer);
    const std::optional<SendRun::Pacing> pacing =
        rate && *rate > 0 ? SendRun::pacingFor(1.0 / *rate) : std::optional<SendRun::Pacing>();
    if (!pacing) {
        endRun(u"The quota answer gives no usable send rate (MaxSendRate: %1), so nothing was sent."_s.arg(
            field(u"MaxSendRate"_s).value_or(u"none"_s)));
        return;
    }
    startTimer(*pacing);
}

void BriskoConnector::startTimer(const SendRun::Pacing &pacing)
{
    m_runState = RunState::Running;
    m_pacing = pacing;
    m_credited = 0;
    auto *timer = new QTimer(this);
    timer->setTimerType(Qt::PreciseTimer);
    timer->setInterval(pacing.tickMs);
    connect(timer, &QTimer::timeout, this, &BriskoConnector::sendMessage);
    m_sendTimer = timer;
    qCInfo(lcMail).noquote() << u"send run of %1 at %2 per second, a tick every %3 ms%4"_s.arg(m_total)
                                    .arg(pacing.rate)
                                    .arg(pacing.tickMs)
                                    .arg(pacing.batched ? u" (several per tick)"_s : QString());
    m_clock.start();
    timer->start();
}

void BriskoConnector::sendMessage()
{
    if (m_runState != RunState::Running)
        return;
    const auto saturated = [this] { return m_responses.size() >= SendRun::maxInFlight(); };
    if (!m_userInfo.recipients.isEmpty() && saturated()) {
        qCInfo(lcMail).noquote() << u"%1 answers outstanding: no message this tick"_s.arg(m_responses.size());
        return;
    }
    // One step per tick; it ends the run when it finds the queue empty.
    if (!m_pacing || !m_pacing->batched || m_userInfo.recipients.isEmpty()) {
        sendMessageWithInfo(m_userInfo);
        return;
    }
    // Batched: as many steps as are due since the start. A late tick catches up at most two
    // ticks' worth; what a longer stall lost stays lost. The run still ends on the tick
    // after the one that sent the last message.
    const qint64 due = SendRun::messagesDueAt(m_pacing->rate, m_clock.elapsed());
    const qint64 most = qint64(std::ceil(m_pacing->rate * m_pacing->tickMs / 1000.0)) * 2;
    if (due - m_credited > most)
        m_credited = due - most;
    for (; m_credited < due && !m_userInfo.recipients.isEmpty() && m_runState == RunState::Running &&
           !saturated();
         ++m_credited)
        sendMessageWithInfo(m_userInfo);
}

void BriskoConnector::sendMessageWithInfo(RunInfo &info)
{
    if (info.recipients.isEmpty()) {
        stopSending();
        return;
    }
    const RecipientPtr record = info.recipients.first();
    const Recipient empty;
    const Recipient &current = record ? *record : empty;
    qCInfo(lcMail).noquote() << u"send:%1  self:%2"_s.arg(describe(current), identity(this));
    sendMessageToRecipient(info.body, info.htmlMessage, info.subject, info.sender, current, info.replyTo,
                           info.returnPath);
    if (MailHost *host = MailHost::shared())
        host->sendProgress(m_total - info.recipients.size(), m_total, current.email());
    info.recipients.removeFirst();
}

bool BriskoConnector::sendMessageToRecipient(const QString &message, const QString &htmlMessage,
                                             const QString &subject, const QString &from,
                                             const Recipient &record, const QString &replyTo,
                                             const std::optional<QString> &returnPath)
{
    const RunInfo one{subject, from, replyTo, returnPath, message, htmlMessage, {}};
    const SesRequest::Request request = SendRun::buildRequest(m_settings, one, record);
    QNetworkReply *reply = AccountOperations::networkAccessManager()->post(
        request.networkRequest(SendRun::sendTimeout()), request.body);
    if (!reply) {
        qCWarning(lcMail).noquote() << u"no request could be started for %1"_s.arg(record.email());
        return false;
    }
    reply->setParent(this);
    qCInfo(lcMail).noquote() << u"theConnection:%1 request:%2"_s.arg(identity(reply), request.url.toString());
    m_responses.insert(identity(reply), responseDictForEmail(record.email()));
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] { didReceiveResponse(reply); });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { didReceiveData(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { didFinishLoading(reply); });
    return true;
}

BriskoConnector::PendingResponse BriskoConnector::responseDictForEmail(const QString &address)
{
    return PendingResponse{address, QByteArray()};
}

void BriskoConnector::didReceiveResponse(QNetworkReply *reply)
{
    // Only the last response's body counts.
    const auto entry = m_responses.find(identity(reply));
    if (entry != m_responses.end())
        entry->response.clear();
}

void BriskoConnector::didReceiveData(QNetworkReply *reply)
{
    const auto entry = m_responses.find(identity(reply));
    if (entry != m_responses.end() && reply->isOpen())
        entry->response += reply->readAll();
}

void BriskoConnector::didFinishLoading(QNetworkReply *reply)
{
    reply->deleteLater();
    const auto entry = m_responses.find(identity(reply));
    if (entry == m_responses.end())
        return;
    PendingResponse pending = *entry;
    m_responses.erase(entry);
    if (reply->isOpen())
        pending.response += reply->readAll();
    const SendRun::ReplyEnd end = SendRun::replyEnd(reply, pending.response, SendRun::sendTimeout());
    MailHost *host = MailHost::shared();
    if (!host) {
        qCWarning(lcMail).noquote() << u"SendRawEmail answer for %1 dropped: no host"_s.arg(pending.email);
    } else if (end.answer) {
        host->mailSendResponseFor(pending.email, *end.answer);
    } else {
        qCInfo(lcMail).noquote() << u"SendRawEmail to %1 failed: %2"_s.arg(pending.email, end.failure);
        host->mailSendFailedFor(pending.email, end.failure);
    }
    checkFinished();
}

void BriskoConnector::stopSending()
{
    if (m_runState == RunState::Stopped)
        return;
    endRun(std::nullopt);
}

void BriskoConnector::endRun(const std::optional<QString> &notStartedBecause)
{
    m_runState = RunState::Stopped;
    if (m_sendTimer) {
        m_sendTimer->stop();
        m_sendTimer->deleteLater();
        m_sendTimer = nullptr;
    }
    if (m_quotaReply) {
        QNetworkReply *reply = m_quotaReply;
        m_quotaReply = nullptr;
        reply->abort();
    }
    if (notStartedBecause)
        qCInfo(lcMail).noquote() << *notStartedBecause;
    if (MailHost *host = MailHost::shared())
        host->sendRunEnded(notStartedBecause);
    checkFinished();
}

QTimer *BriskoConnector::timer() const
{
    return m_sendTimer;
}

void BriskoConnector::releaseWhenDone()
{
    m_releaseWhenDone = true;
    checkFinished();
}

void BriskoConnector::checkFinished()
{
    if (m_runState != RunState::Stopped || !m_responses.isEmpty())
        return;
    if (!m_finishedSignalled) {
        m_finishedSignalled = true;
        Q_EMIT finished();
    }
    if (m_releaseWhenDone)
        deleteLater();
}

} // namespace brisko

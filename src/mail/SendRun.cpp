// The delivery run: BriskoConnector's paced send loop and the helpers it stands on.

#include "SendRun.h"

#include "AccountOperations.h"
#include "BriskoConnector.h"
#include "CurlMultiDriver.h"
#include "FennimarStrings.h"
#include "MailHost.h"
#include "MimeMessage.h"
#include "PlaceholderMerge.h"
#include "maillogging.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

using namespace Qt::StringLiterals;

namespace brisko {

namespace SendRun {

namespace {

int g_sendTimeoutMs = 60000;
int g_quotaTimeoutMs = 10000;
int g_maxInFlight = 16;

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

namespace {

QList<std::pair<QString, QString>> entriesOf(const Recipient &record)
{
    QList<std::pair<QString, QString>> entries;
    record.forEach([&](const QString &key, const QString &value) { entries.emplace_back(key, value); });
    return entries;
}

MimeMessage::Extras extrasFor(const RunInfo &info, const QList<std::pair<QString, QString>> &entries)
{
    MimeMessage::Extras extras;
    if (info.unsubscribe)
        extras.unsubscribe = MimeMessage::mergeUnsubscribe(*info.unsubscribe, entries);
    extras.attachments = info.attachments;
    return extras;
}

// The longest merged target: two of them still fit one List-Unsubscribe line of 998 characters.
constexpr qsizetype MaxMergedUnsubscribe = 480;

} // namespace

QString messageFor(const RunInfo &info, const Recipient &record)
{
    // The merge of BriskoConnector::doGreps, with the record's entries taken once for both bodies.
    const QList<std::pair<QString, QString>> entries = entriesOf(record);
    return MimeMessage::createMessageTo(PlaceholderMerge::merge(info.body, entries),
                                        PlaceholderMerge::merge(info.htmlMessage, entries), info.subject,
                                        info.sender, info.addressFor(record), info.replyTo, info.returnPath,
                                        extrasFor(info, entries));
}

std::optional<QString> setExtras(RunInfo &info, const QString &unsubscribe, const AttachmentList &attachments)
{
    const MimeMessage::UnsubscribeParse parsed = MimeMessage::parseUnsubscribe(unsubscribe);
    if (!parsed.error.isEmpty())
        return parsed.error;
    info.unsubscribe = parsed.targets;
    info.attachments = attachments;
    return std::nullopt;
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + u" MB"_s;
}

SizeCheck checkSizes(const RunInfo &info, const RecipientList &records)
{
    SizeCheck check;
    const QString boundary = MimeMessage::longestBoundary();
    for (qsizetype i = 0; i < records.size(); ++i) {
        const Recipient empty;
        const Recipient &record = records.at(i) ? *records.at(i) : empty;
        const QList<std::pair<QString, QString>> entries = entriesOf(record);
        const MimeMessage::Extras extras = extrasFor(info, entries);
        if (extras.unsubscribe) {
            for (const std::optional<QString> &target : {extras.unsubscribe->https, extras.unsubscribe->mailto}) {
                if (target && target->size() > MaxMergedUnsubscribe && !check.refusal) {
                    check.refusal = u"The unsubscribe link of row %1 (%2) is %3 characters long once merged; "
                                    "a message header takes at most %4. Shorten the link or the values it holds."_s
                                        .arg(i + 1)
                                        .arg(record.email())
                                        .arg(target->size())
                                        .arg(MaxMergedUnsubscribe);
                }
            }
        }
        const qint64 size = MimeMessage::rawSize(
            boundary, PlaceholderMerge::merge(info.body, entries), PlaceholderMerge::merge(info.htmlMessage, entries),
            info.subject, info.sender, record.email(), info.replyTo, info.returnPath, extras);
        if (size > check.largest) {
            check.largest = size;
            check.index = i;
            check.address = record.email();
        }
    }
    if (check.largest > MimeMessage::MaxRawMessageBytes) {
        check.refusal = u"The message to %1 (row %2) is %3 with its attachments encoded for mail; the service "
                        "takes at most %4 per message. Nothing was sent: remove or shrink attachments, or "
                        "shorten the message."_s
                            .arg(check.address)
                            .arg(check.index + 1)
                            .arg(megabytes(check.largest), megabytes(MimeMessage::MaxRawMessageBytes));
    }
    return check;
}

QString RunInfo::addressFor(const Recipient &record) const
{
    return testAddress.value_or(record.email());
}

QString campaignTagValue(const QString &campaignName)
{
    // Accented letters lose their marks rather than becoming "_".
    const QString decomposed = campaignName.normalized(QString::NormalizationForm_KD);
    QString value;
    value.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() == QChar::Mark_NonSpacing)
            continue;
        const char16_t u = c.unicode();
        const bool allowed = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                             u == u'_' || u == u'-';
        value += allowed ? c : u'_';
    }
    value.truncate(LongestTagValue);
    return value.isEmpty() ? u"untitled"_s : value;
}

QList<SesRequest::Parameter> messageParameters(const AccountSettings &settings, const RunInfo &info)
{
    QList<SesRequest::Parameter> parameters;
    if (settings.configurationSet)
        parameters.append({u"ConfigurationSetName"_s, *settings.configurationSet});
    parameters.append({u"Tags.member.1.Name"_s, CampaignTagName.toString()});
    parameters.append({u"Tags.member.1.Value"_s, campaignTagValue(info.campaignName)});
    if (info.testAddress) {
        parameters.append({u"Tags.member.2.Name"_s, TestTagName.toString()});
        parameters.append({u"Tags.member.2.Value"_s, u"true"_s});
    }
    return parameters;
}

SesRequest::Request buildRequest(const AccountSettings &settings, const RunInfo &info,
                                 const Recipient &record, const QDateTime &now)
{
    const QString address = info.addressFor(record);
    const QString message = messageFor(info, record);
    // build() escapes the values for the settings' signing scheme.
    QList<SesRequest::Parameter> parameters{{u"Destinations.member.1"_s, address},
                                            {u"RawMessage.Data"_s, MimeMessage::rawMessageData(message)}};
    parameters += messageParameters(settings, info);
    return SesRequest::build(settings, u"SendRawEmail"_s, parameters, now);
}

std::optional<Pacing> pacingFor(double intervalSeconds)
{
    if (!std::isfinite(intervalSeconds) || intervalSeconds <= 0)
        return std::nullopt;
    Pacing pacing;
    pacing.rate = 1.0 / intervalSeconds;
    const double milliseconds = intervalSeconds * 1000.0;
    if (milliseconds < BurstMs) {
        pacing.tickMs = BurstMs;
        pacing.batched = true;
        return pacing;
    }
    // Whole milliseconds, rounded up (a microsecond of floating-point noise, as a float interval
    // carries, is not a millisecond).
    const double whole = std::ceil(milliseconds - 1e-3);
    pacing.tickMs = whole >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(whole);
    return pacing;
}

qint64 messagesDueAt(double rate, qint64 elapsedMs)
{
    if (elapsedMs <= 0 || rate <= 0)
        return 0;
    return qint64(std::floor(rate * double(elapsedMs) / 1000.0 + 1e-9));
}

double Throttle::rateAt(qint64 nowMs) const
{
    if (m_since < 0)
        return m_full;
    const qint64 seconds = std::max<qint64>(0, nowMs - m_since) / 1000;
    // 1.1^37 > 32: by then even the lowest rate is back to the full one.
    const double climbed = seconds > 40 ? m_full : m_base * std::pow(Recovery, double(seconds));
    return std::min(m_full, climbed);
}

bool Throttle::slowDown(qint64 sentAtMs, qint64 nowMs)
{
    if (m_since >= 0 && sentAtMs < m_since)
        return false;
    m_base = std::max(m_full / Floor, rateAt(nowMs) / 2);
    m_since = nowMs;
    return true;
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

QString acceptedDetail(const QString &answer)
{
    if (const auto id = FennimarStrings::stringBetween(u"<MessageId>"_s, u"</MessageId>"_s, answer))
        return id->trimmed();
    // A document without a MessageId says nothing worth keeping.
    if (answer.trimmed().startsWith(u'<'))
        return QString();
    QString reply = MimeMessage::withoutLineBreaks(answer).simplified();
    if (reply.size() > 500)
        reply = reply.left(500) + u'…';
    return reply;
}

Outcome outcomeForFailure(const QString &failure)
{
    return {-1, failure};
}

Outcome outcomeForUnknown()
{
    return {UnknownCode, UnknownStatus.toString()};
}

ReplyEnd answerEnd(int code, const QByteArray &reasonPhrase, const QByteArray &body)
{
    const QString text = QString::fromUtf8(body);
    if ((code < 200 || code > 299) && !text.contains(u"ErrorResponse")) {
        const QString reason = QString::fromLatin1(reasonPhrase).trimmed();
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
    return answerEnd(status.toInt(), reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray(),
                     body);
}

Disposition dispositionOfAnswer(int status, const QString &answer)
{
    if (!answer.contains(u"ErrorResponse"))
        return status == 503 ? Disposition::TryAgain : Disposition::Record;
    const QString message =
        FennimarStrings::stringBetweenAndLastOccurenceOf(u"<Message>"_s, u"</Message>"_s, answer).value_or(QString());
    if (message.contains(DailyQuotaMessage, Qt::CaseInsensitive))
        return Disposition::QuotaStop;
    const QString code =
        FennimarStrings::stringBetween(u"<Code>"_s, u"</Code>"_s, answer).value_or(QString()).trimmed();
    if (status == 503 || code == u"Throttling" || code == u"ServiceUnavailable")
        return Disposition::TryAgain;
    return Disposition::Record;
}

QString turnedAwayBecause(const TransferEnd &end)
{
    if (end.answer) {
        for (const QString &element : {u"Message"_s, u"Code"_s}) {
            const std::optional<QString> text = FennimarStrings::stringBetween(
                u'<' + element + u'>', u"</"_s + element + u'>', *end.answer);
            if (text && !text->trimmed().isEmpty())
                return text->trimmed();
        }
    }
    return end.failure.isEmpty() ? u"HTTP %1"_s.arg(end.status) : end.failure;
}

TransferEnd transferEnd(const TransferFacts &facts, int timeoutMs)
{
    if (facts.curlResult == CURLE_OK && facts.status > 0 && !facts.timedOut && !facts.tooLarge) {
        const ReplyEnd end = answerEnd(facts.status, facts.reason, facts.body);
        const Disposition next = dispositionOfAnswer(facts.status, end.answer.value_or(QString()));
        if (end.answer)
            return {Delivery::Answered, end.answer, QString(), facts.status, next};
        return {Delivery::Failed, std::nullopt, end.failure, facts.status, next};
    }
    QString why = facts.detail.trimmed();
    if (why.isEmpty())
        why = QString::fromUtf8(curl_easy_strerror(CURLcode(facts.curlResult)));
    if (facts.systemError != 0) {
        const QString system = QString::fromLocal8Bit(std::strerror(facts.systemError));
        if (!why.contains(system))
            why += u" ("_s + system + u')';
    }
    if (!facts.written) {
        // Refused, or reset before the request went out: another try may well get through.
        const bool again = facts.curlResult == CURLE_COULDNT_CONNECT || facts.curlResult == CURLE_SEND_ERROR ||
                           facts.curlResult == CURLE_RECV_ERROR || facts.curlResult == CURLE_GOT_NOTHING;
        return {Delivery::NotSent, std::nullopt, u"Not sent: "_s + why, 0,
                again ? Disposition::TryAgain : Disposition::Record};
    }
    if (facts.timedOut || facts.curlResult == CURLE_OPERATION_TIMEDOUT)
        why = u"No answer within %1 seconds"_s.arg(seconds(timeoutMs));
    else if (facts.tooLarge)
        why = u"The answer was longer than %1 MB and was not read"_s.arg(MaxAnswerBytes / (1024 * 1024));
    else if (facts.curlResult == CURLE_ABORTED_BY_CALLBACK)
        why = u"The connection closed after the request was sent, before any answer"_s;
    else if (facts.status > 0 || facts.curlResult == CURLE_PARTIAL_FILE)
        why = u"The answer was cut off: "_s + why;
    else if (facts.curlResult == CURLE_OK)
        why = u"No answer came"_s;
    return {Delivery::Unknown, std::nullopt, why, facts.status, Disposition::Record};
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
    RunInfo info{subject, from, replyTo, returnPath, message, htmlMessage, recipients, {}, {}, m_campaignName,
                 std::nullopt};
    info.unsubscribe = m_userInfo.unsubscribe;
    info.attachments = m_userInfo.attachments;
    startRun(info);
}

void BriskoConnector::startRun(const RunInfo &info)
{
    if (m_runState != RunState::Idle) {
        qCWarning(lcMail) << "BriskoConnector.sendMessageToRecipients - a connector runs once";
        return;
    }
    m_userInfo = info;
    m_total = info.recipients.size();
    m_settings = AccountSettings::load();
    if (m_settings.problem) {
        m_runState = RunState::Running;
        endRun(u"The account cannot be used, so nothing was sent: %1"_s.arg(*m_settings.problem));
        return;
    }

    if (!isPaced()) {
        m_runState = RunState::Running;
        sendMessageWithInfo(m_userInfo);
        return;
    }
    MailHost *host = runHost();
    const double interval = host ? double(host->timerValueForSendRate()) : 0.0;
    if (const auto pacing = SendRun::pacingFor(interval)) {
        startTimer(*pacing);
        return;
    }
    askQuotaForRate();
}

MailHost *BriskoConnector::runHost() const
{
    return m_host ? m_host : MailHost::shared();
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
        if (m_quotaData.size() > SendRun::MaxAnswerBytes)
            reply->abort(); // no quota answer is that long
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
    MailHost *host = runHost();
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
    m_credit = 0;
    m_lastTickMs = 0;
    m_throttle = SendRun::Throttle(pacing.rate);
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

void BriskoConnector::setRate(double rate)
{
    const std::optional<SendRun::Pacing> pacing = SendRun::pacingFor(1.0 / rate);
    if (!pacing || !m_pacing)
        return;
    const bool retimed = pacing->tickMs != m_pacing->tickMs || pacing->batched != m_pacing->batched;
    if (pacing->batched != m_pacing->batched)
        m_credit = 0;
    m_pacing = pacing;
    if (retimed && m_sendTimer) {
        m_sendTimer->setInterval(pacing->tickMs); // restarts it: the next tick is one new interval away
        m_lastTickMs = m_clock.elapsed();
    }
    qCInfo(lcMail).noquote() << u"now at %1 per second, a tick every %2 ms"_s.arg(pacing->rate).arg(pacing->tickMs);
}

void BriskoConnector::sendMessage()
{
    if (m_runState != RunState::Running)
        return;
    const qint64 now = m_clock.elapsed();
    // Climbing back after a slowdown.
    if (const double rate = m_throttle.rateAt(now); m_pacing && std::abs(rate - m_pacing->rate) > 1e-9)
        setRate(rate);
    const qint64 sinceLastTick = now - m_lastTickMs;
    m_lastTickMs = now;
    if (m_userInfo.recipients.isEmpty()) {
        // An answer still out may put its recipient back into the queue.
        if (pendingResponses() == 0)
            stopSending();
        return;
    }
    if (m_pacing && m_pacing->batched) {
        // Batched: what is due since the last tick. A late tick catches up at most two ticks'
        // worth; what a longer stall lost stays lost.
        const double most = std::ceil(m_pacing->rate * m_pacing->tickMs / 1000.0) * 2;
        m_credit = std::min(most, m_credit + m_pacing->rate * double(sinceLastTick) / 1000.0);
    }
    const qsizetype room = SendRun::maxInFlight() - pendingResponses();
    if (room <= 0) {
        qCInfo(lcMail).noquote() << u"%1 answers outstanding: no message this tick"_s.arg(pendingResponses());
        return;
    }
    // One message per tick, or as many as are due in a batched one.
    qint64 count = 1;
    if (m_pacing && m_pacing->batched) {
        count = std::min({qint64(std::floor(m_credit + 1e-9)), qint64(m_userInfo.recipients.size()), qint64(room)});
        if (count <= 0)
            return;
        m_credit -= double(count);
    }
    if (!announce(count))
        return;
    for (qint64 n = 0; n < count && m_runState == RunState::Running; ++n)
        sendMessageWithInfo(m_userInfo);
}

bool BriskoConnector::announce(qint64 count)
{
    MailHost *host = runHost();
    if (!host)
        return true;
    QStringList addresses;
    for (qint64 n = 0; n < count && n < m_userInfo.recipients.size(); ++n) {
        const RecipientPtr &record = m_userInfo.recipients.at(n);
        addresses.append(record ? m_userInfo.addressFor(*record) : QString());
    }
    if (host->willSend(addresses))
        return true;
    // The host has told why; nothing more leaves. It may have stopped the run itself.
    qCWarning(lcMail).noquote() << u"the host refused %1 request(s): run stopped"_s.arg(addresses.size());
    if (!hasStopped())
        endRun(std::nullopt);
    return false;
}

void BriskoConnector::sendMessageWithInfo(RunInfo &info)
{
    if (info.recipients.isEmpty()) {
        stopSending();
        return;
    }
    // Transports that step themselves put each message on record here, just before it
    // leaves; the paced run does so for a whole tick in sendMessage().
    if (!isPaced() && !announce(1))
        return;
    const RecipientPtr record = info.recipients.first();
    const Recipient empty;
    const Recipient &current = record ? *record : empty;
    qCInfo(lcMail).noquote() << u"send:%1  self:%2"_s.arg(describe(current), identity(this));
    m_sending = record;
    sendMessageToRecipient(info.body, info.htmlMessage, info.subject, info.sender, current, info.replyTo,
                           info.returnPath);
    m_sending.reset();
    if (MailHost *host = runHost())
        host->sendProgress(m_total - info.recipients.size(), m_total, info.addressFor(current));
    info.recipients.removeFirst();
}

// -------------------------------------------------------------------------------------
// The requests of a run on the wire
//
// How the HTTP client is set up, and why a request is never sent twice:
//  - A request counts as written from the moment curl is about to put it on a connection
//    (the pre-request callback, after the connection and its TLS handshake are up). A
//    failure before that (refused, DNS, TLS, no connection in time) means the message did
//    not leave; any failure after it makes the outcome unknown.
//  - Connections are reused (a TLS handshake per message would cost the send rate), and
//    that is the one case where curl resends on its own: a reused connection that closes
//    before any answer byte makes it retry the request on a fresh connection (a request
//    the server may well have read and acted on). The retry goes through the pre-request
//    callback again, so a second call for the same transfer aborts it before a byte is
//    written and the recipient is reported unknown. HTTP/1.1 only (no stream retries of
//    HTTP/2), redirects not followed, no proxy from the environment.
//  - No more transfers than connections: every request has a connection of its own when it
//    is added, so none waits in curl's queue, and its time limit, counted from the moment
//    it is written, covers the whole answer (not only the silence between two bytes).
//  - Answers are read up to SendRun::MaxAnswerBytes; beyond that the transfer is aborted.

namespace {

// Counts `length` more bytes of the answer, headers and body alike; false, with the transfer
// marked too large, once they pass SendRun::MaxAnswerBytes.
bool takeAnswerBytes(BriskoConnector::Transfer *transfer, size_t length)
{
    transfer->answerBytes += qsizetype(length);
    if (transfer->answerBytes <= SendRun::MaxAnswerBytes)
        return true;
    transfer->tooLarge = true;
    return false;
}

size_t onHeader(char *data, size_t size, size_t count, void *pointer)
{
    auto *transfer = static_cast<BriskoConnector::Transfer *>(pointer);
    const size_t length = size * count;
    if (!takeAnswerBytes(transfer, length))
        return 0;
    const QByteArrayView line(data, qsizetype(length));
    if (line.startsWith("HTTP/")) {
        // A new answer (after an interim one): only the final answer's body counts.
        const QList<QByteArray> parts = line.trimmed().toByteArray().split(' ');
        transfer->status = parts.value(1).toInt();
        transfer->reason = parts.mid(2).join(' ');
        transfer->body.clear();
    }
    return length;
}

size_t onBody(char *data, size_t size, size_t count, void *pointer)
{
    auto *transfer = static_cast<BriskoConnector::Transfer *>(pointer);
    const size_t length = size * count;
    if (!takeAnswerBytes(transfer, length))
        return 0;
    transfer->body.append(data, qsizetype(length));
    return length;
}

int onPrerequest(void *pointer, char *, char *, int, int)
{
    auto *transfer = static_cast<BriskoConnector::Transfer *>(pointer);
    if (transfer->written) {
        transfer->replayRefused = true;
        return CURL_PREREQFUNC_ABORT;
    }
    transfer->written = true;
    transfer->deadline.setRemainingTime(SendRun::sendTimeout());
    return CURL_PREREQFUNC_OK;
}

} // namespace

BriskoConnector::Transfer::~Transfer()
{
    if (easy)
        curl_easy_cleanup(easy);
    if (headers)
        curl_slist_free_all(headers);
}

CurlMultiDriver *BriskoConnector::driver()
{
    if (!m_driver) {
        m_driver = std::make_unique<CurlMultiDriver>();
        const long connections = SendRun::maxInFlight();
        m_driver->setOption(CURLMOPT_MAX_TOTAL_CONNECTIONS, connections);
        m_driver->setOption(CURLMOPT_MAX_HOST_CONNECTIONS, connections);
        m_driver->setOption(CURLMOPT_MAXCONNECTS, connections);
        m_driver->setOption(CURLMOPT_PIPELINING, CURLPIPE_NOTHING);
        m_watchdog = new QTimer(this);
        m_watchdog->setInterval(std::clamp(SendRun::sendTimeout() / 8, 10, 250));
        connect(m_watchdog, &QTimer::timeout, this, &BriskoConnector::checkDeadlines);
    }
    return m_driver.get();
}

bool BriskoConnector::sendMessageToRecipient(const QString &message, const QString &htmlMessage,
                                             const QString &subject, const QString &from,
                                             const Recipient &record, const QString &replyTo,
                                             const std::optional<QString> &returnPath)
{
    RunInfo one{subject, from, replyTo, returnPath, message, htmlMessage, {}, {}, {}, m_userInfo.campaignName,
                m_userInfo.testAddress};
    one.unsubscribe = m_userInfo.unsubscribe;
    one.attachments = m_userInfo.attachments;
    const QString address = one.addressFor(record);
    const SesRequest::Request request = SendRun::buildRequest(m_settings, one, record);
    auto transfer = std::make_unique<Transfer>();
    transfer->email = address;
    if (m_sending.get() == &record)
        transfer->record = m_sending;
    transfer->sentAtMs = m_clock.isValid() ? m_clock.elapsed() : 0;
    transfer->request = request.body;
    transfer->easy = curl_easy_init();
    CURL *easy = transfer->easy;
    if (!easy) {
        reportNotStarted(address, u"The request could not be prepared (out of memory)"_s);
        return false;
    }
    for (const auto &[name, value] : request.headers) {
        if (name.compare("Content-Length", Qt::CaseInsensitive) == 0)
            continue; // curl writes it from the body's size
        transfer->headers = curl_slist_append(transfer->headers, QByteArray(name + ": " + value).constData());
    }
    // No "Expect: 100-continue" round trip before the body.
    transfer->headers = curl_slist_append(transfer->headers, "Expect:");
    const QByteArray url = request.url.toEncoded();
    const long timeout = std::max(1, SendRun::sendTimeout());
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy, CURLOPT_PROXY, "");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDS, transfer->request.constData());
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(transfer->request.size()));
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, transfer->headers);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &onPrerequest);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, transfer.get());
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->error);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeout);
    // A backstop only: the watchdog gives up a written request after sendTimeout().
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, 2 * timeout + 1000);

    Transfer *pointer = transfer.get();
    m_transfers.emplace(easy, std::move(transfer));
    const CURLMcode added = driver()->add(easy, [this, pointer](CURLcode result) { transferEnded(pointer, result); });
    if (added != CURLM_OK) {
        m_transfers.erase(easy);
        reportNotStarted(address, QString::fromUtf8(curl_multi_strerror(added)));
        return false;
    }
    if (!m_watchdog->isActive())
        m_watchdog->start();
    qCInfo(lcMail).noquote() << u"request %1 for %2 to %3"_s.arg(identity(this), address,
                                                                 request.url.toString());
    return true;
}

BriskoConnector::PendingResponse BriskoConnector::responseDictForEmail(const QString &address)
{
    return PendingResponse{address, QByteArray()};
}

QStringList BriskoConnector::addressesInFlight() const
{
    QStringList addresses;
    for (const auto &[easy, transfer] : m_transfers)
        addresses.append(transfer->email);
    return addresses;
}

void BriskoConnector::reportNotStarted(const QString &address, const QString &why)
{
    qCWarning(lcMail).noquote() << u"no request could be started for %1: %2"_s.arg(address, why);
    if (MailHost *host = runHost())
        host->mailSendFailedFor(address, why);
}

void BriskoConnector::checkDeadlines()
{
    QList<Transfer *> late;
    for (const auto &[easy, transfer] : m_transfers) {
        if (transfer->written && transfer->deadline.hasExpired())
            late.append(transfer.get());
    }
    for (Transfer *transfer : late) {
        transfer->timedOut = true;
        m_driver->remove(transfer->easy);
        transferEnded(transfer, CURLE_OPERATION_TIMEDOUT);
    }
    if (m_transfers.empty())
        m_watchdog->stop();
}

void BriskoConnector::abandonInFlight()
{
    while (!m_transfers.empty()) {
        Transfer *transfer = m_transfers.begin()->second.get();
        m_driver->remove(transfer->easy);
        transfer->timedOut = false;
        const QString address = transfer->email;
        const bool written = transfer->written;
        m_transfers.erase(m_transfers.begin());
        qCInfo(lcMail).noquote() << u"stopped waiting for the answer for %1 (%2)"_s.arg(
            address, written ? u"request written"_s : u"request not yet written"_s);
        if (MailHost *host = runHost())
            host->mailSendUnknownFor(address, u"Stopped waiting for the answer"_s);
    }
    checkFinished();
}

void BriskoConnector::transferEnded(Transfer *transfer, CURLcode result)
{
    const auto found = m_transfers.find(transfer->easy);
    if (found == m_transfers.end())
        return;
    const std::unique_ptr<Transfer> done = std::move(found->second);
    m_transfers.erase(found);

    SendRun::TransferFacts facts;
    facts.curlResult = result;
    facts.written = done->written;
    facts.timedOut = done->timedOut;
    facts.tooLarge = done->tooLarge;
    facts.status = done->status;
    facts.reason = done->reason;
    facts.body = done->body;
    facts.detail = QString::fromUtf8(done->error);
    long systemError = 0;
    if (curl_easy_getinfo(done->easy, CURLINFO_OS_ERRNO, &systemError) == CURLE_OK)
        facts.systemError = int(systemError);
    if (done->replayRefused)
        qCWarning(lcMail).noquote() << u"curl would have sent the request for %1 again: refused"_s.arg(done->email);
    const SendRun::TransferEnd end = SendRun::transferEnd(facts, SendRun::sendTimeout());
    if (end.disposition != SendRun::Disposition::Record && requeue(*done, end)) {
        checkFinished();
        return;
    }

    MailHost *host = runHost();
    if (!host) {
        qCWarning(lcMail).noquote() << u"SendRawEmail answer for %1 dropped: no host"_s.arg(done->email);
    } else {
        switch (end.delivery) {
        case SendRun::Delivery::Answered:
            host->mailSendResponseFor(done->email, *end.answer);
            break;
        case SendRun::Delivery::NotSent:
        case SendRun::Delivery::Failed:
            qCInfo(lcMail).noquote() << u"SendRawEmail to %1 failed: %2"_s.arg(done->email, end.failure);
            host->mailSendFailedFor(done->email, end.failure);
            break;
        case SendRun::Delivery::Unknown:
            qCInfo(lcMail).noquote() << u"SendRawEmail to %1 unknown: %2"_s.arg(done->email, end.failure);
            host->mailSendUnknownFor(done->email, end.failure);
            break;
        }
    }
    checkFinished();
}

bool BriskoConnector::requeue(const Transfer &transfer, const SendRun::TransferEnd &end)
{
    const QString why = SendRun::turnedAwayBecause(end);
    const bool quota = end.disposition == SendRun::Disposition::QuotaStop;
    if (!transfer.record)
        return false;
    if (!quota) {
        const int tries = ++m_tries[transfer.record.get()];
        if (tries >= SendRun::MaxTries) {
            qCInfo(lcMail).noquote() << u"%1 turned away %2 times (%3): recorded as it stands"_s.arg(
                transfer.email).arg(tries).arg(why);
            return false;
        }
    }
    // Next in line: it leaves before the recipients that have not had a try yet.
    m_userInfo.recipients.prepend(transfer.record);
    qCInfo(lcMail).noquote() << u"%1 turned away for now (%2): back into the queue"_s.arg(transfer.email, why);
    MailHost *host = runHost();
    if (host)
        host->mailSendRequeuedFor(transfer.email, why);
    if (quota) {
        if (!m_quotaExhausted)
            qCWarning(lcMail).noquote() << u"the daily sending quota is used up: run stopped"_s;
        m_quotaExhausted = true;
        if (m_runState != RunState::Stopped)
            endRun(std::nullopt);
        return true;
    }
    if (m_runState == RunState::Running && m_throttle.slowDown(transfer.sentAtMs, m_clock.elapsed())) {
        const double rate = m_throttle.rateAt(m_clock.elapsed());
        setRate(rate);
        if (host)
            host->sendRateLowered(rate, m_throttle.fullRate(), why);
    }
    return true;
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
    if (MailHost *host = runHost())
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
    if (m_runState != RunState::Stopped || pendingResponses() > 0)
        return;
    if (m_quotaExhausted && !m_quotaTold) {
        m_quotaTold = true;
        if (MailHost *host = runHost())
            host->quotaExhausted(m_userInfo.recipients.size());
    }
    if (!m_finishedSignalled) {
        m_finishedSignalled = true;
        Q_EMIT finished();
    }
    if (m_releaseWhenDone)
        deleteLater();
}

} // namespace brisko

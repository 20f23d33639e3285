#include "TestSend.h"

#include "AccountSettings.h"
#include "BriskoConnector.h"
#include "BriskoSMTPConnector.h"
#include "FennimarStrings.h"
#include "Outbox.h"
#include "OutboxConnector.h"
#include "maillogging.h"

#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace brisko {

namespace {

bool isTestAddress(const QString &address)
{
    const qsizetype at = address.indexOf(u'@');
    if (at <= 0 || at != address.lastIndexOf(u'@') || address.size() > 254)
        return false;
    const QString domain = address.mid(at + 1);
    if (!domain.contains(u'.') || domain.startsWith(u'.') || domain.endsWith(u'.') || domain.contains(u".."_s))
        return false;
    for (const QChar c : address) {
        if (c.unicode() < 0x21 || c.unicode() == 0x7F || u"<>()[]\\\",;:"_s.contains(c))
            return false;
    }
    return true;
}

} // namespace

TestSend::Addresses TestSend::parseAddresses(const QString &text)
{
    static const QRegularExpression separators(u"[,;\\s]+"_s);
    Addresses result;
    for (const QString &word : text.split(separators, Qt::SkipEmptyParts)) {
        if (!isTestAddress(word)) {
            const QString shown = word.size() > 80 ? word.left(80) + u'…' : word;
            result.problem = u"\"%1\" is not an e-mail address."_s.arg(shown);
            return result;
        }
        if (!result.addresses.contains(word, Qt::CaseInsensitive))
            result.addresses.append(word);
    }
    if (result.addresses.isEmpty())
        result.problem = u"Type the address the test goes to."_s;
    else if (result.addresses.size() > MostAddresses)
        result.problem = u"A test goes to at most %1 addresses; %2 were given."_s.arg(MostAddresses).arg(
            result.addresses.size());
    return result;
}

QString TestSend::resultName(Result result)
{
    switch (result) {
    case Result::Accepted:
        return u"accepted"_s;
    case Result::Unknown:
        return u"unknown"_s;
    case Result::Failed:
        break;
    }
    return u"failed"_s;
}

TestSend::TestSend(QObject *parent) : QObject(parent) {}

TestSend::~TestSend()
{
    // A connector still under way goes first, while its answers can still come here (never
    // to the shared host).
    if (m_connector) {
        m_connector->disconnect(this);
        delete m_connector;
    }
}

void TestSend::setInterval(double seconds)
{
    if (std::isfinite(seconds) && seconds > 0)
        m_interval = seconds;
}

bool TestSend::allAccepted() const
{
    return !m_answers.isEmpty() &&
           std::all_of(m_answers.cbegin(), m_answers.cend(), [](const Answer &a) { return a.result == Result::Accepted; });
}

void TestSend::start(const SendRun::RunInfo &message, const RecipientPtr &record, const QStringList &addresses,
                     const RecipientList &rows)
{
    if (m_started) {
        qCWarning(lcMail) << "a test send runs once";
        return;
    }
    m_started = true;
    m_running = true;
    m_message = message;
    m_message.recipients.clear();
    if (!m_message.subject.startsWith(SubjectPrefix))
        m_message.subject.prepend(SubjectPrefix);
    m_record = record ? record : makeRecipient({});
    m_rows = rows;
    m_addresses = addresses;
    qCInfo(lcMail).noquote() << u"test send of the message for %1 to %2"_s.arg(m_record->email(),
                                                                                 addresses.join(u", "_s));
    // From the event loop, so that finished() never comes before the caller is ready for it.
    QTimer::singleShot(0, this, &TestSend::next);
}

void TestSend::cancel()
{
    m_cancelled = true;
    if (m_connector)
        m_connector->stopSending();
    else if (m_running)
        QTimer::singleShot(0, this, &TestSend::next);
}

void TestSend::next()
{
    if (!m_running || m_connector)
        return;
    if (m_cancelled || m_notStarted || m_next >= m_addresses.size()) {
        const QString why = m_notStarted ? *m_notStarted : u"cancelled"_s;
        for (; m_next < m_addresses.size(); ++m_next)
            record(m_addresses.at(m_next), Result::Failed, u"Not sent: "_s + why);
        finish();
        return;
    }
    const AccountSettings settings = AccountSettings::load();
    BriskoConnector *connector = nullptr;
    switch (settings.transport) {
    case AccountSettings::Transport::Smtp:
        connector = new BriskoSMTPConnector(this);
        break;
    case AccountSettings::Transport::Outbox:
        connector = new OutboxConnector(settings.outboxFolder, m_rows, this);
        break;
    case AccountSettings::Transport::Ses:
        connector = new BriskoConnector(this);
        break;
    }
    m_connector = connector;
    connector->setHost(this);
    // Queued: a run that cannot start finishes inside the call below.
    connect(connector, &BriskoConnector::finished, this, &TestSend::connectorFinished, Qt::QueuedConnection);
    SendRun::RunInfo run = m_message;
    run.recipients = {m_record};
    run.testAddress = m_addresses.at(m_next);
    connector->startRun(run);
}

void TestSend::connectorFinished()
{
    BriskoConnector *connector = m_connector;
    if (!connector || connector->pendingResponses() > 0)
        return;
    m_connector = nullptr;
    connector->deleteLater();
    const QString address = m_addresses.at(m_next);
    // Every address gets an answer, also when its run ended before its message left.
    if (m_answers.size() <= m_next) {
        const QString why = m_notStarted ? *m_notStarted : (m_cancelled ? u"cancelled"_s : u"no answer"_s);
        record(address, Result::Failed, u"Not sent: "_s + why);
    }
    ++m_next;
    next();
}

void TestSend::record(const QString &address, Result result, const QString &text)
{
    qCInfo(lcMail).noquote() << u"test send to %1: %2 %3"_s.arg(address, resultName(result), text);
    m_answers.append({address, result, text});
}

void TestSend::finish()
{
    m_running = false;
    Q_EMIT finished();
}

// ---- The connectors' answers -----------------------------------------------------------

void TestSend::mailSendResponseFor(const QString &address, const QString &response)
{
    const SendRun::Outcome outcome = SendRun::outcomeForResponse(response);
    if (outcome.code != SendRun::AcceptedCode) {
        const QString text = outcome.status.value_or(
            FennimarStrings::stringBetween(u"<Code>"_s, u"</Code>"_s, response).value_or(u"error"_s));
        record(address, Result::Failed, text);
        return;
    }
    // SES names the message; an SMTP server's reply says what it did with it.
    if (const auto id = FennimarStrings::stringBetween(u"<MessageId>"_s, u"</MessageId>"_s, response))
        record(address, Result::Accepted, u"MessageId: "_s + id->trimmed());
    else
        record(address, Result::Accepted, response.trimmed().isEmpty() ? SendRun::SuccessStatus.toString()
                                                                       : response.trimmed());
}

void TestSend::mailSendFailedFor(const QString &address, const QString &failure)
{
    record(address, Result::Failed, failure);
}

void TestSend::mailSendUnknownFor(const QString &address, const QString &why)
{
    record(address, Result::Unknown, SendRun::UnknownStatus.toString() + u" ("_s + why + u')');
}

void TestSend::mailSavedFor(const QString &address, const QString &path)
{
    record(address, Result::Accepted, u"Saved as "_s + path);
}

void TestSend::sendRunEnded(const std::optional<QString> &notStartedBecause)
{
    if (notStartedBecause)
        m_notStarted = notStartedBecause;
}

} // namespace brisko

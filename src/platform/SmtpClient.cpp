#include "SmtpClient.h"

#include "CurlMultiDriver.h"
#include "platformlogging.h"

#include <QCoreApplication>
#include <QPointer>
#include <QUuid>

#include <curl/curl.h>

#include <algorithm>
#include <cstring>

using namespace Qt::StringLiterals;

namespace brisko {

namespace {

// A reply kept for the outcome is cut to this many bytes; a server cannot fill memory.
constexpr qsizetype MaxReplyBytes = 2000;
constexpr int MaxHeaderLine = 998;

QString oneLine(const QString &text)
{
    QString line = text;
    for (QChar &c : line) {
        const char16_t u = c.unicode();
        if (u == u'\r' || u == u'\n' || u == 0x85 || u == 0x2028 || u == 0x2029)
            c = u' ';
    }
    return line;
}

bool isAscii(const QString &text)
{
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
}

bool isHeaderName(const QString &name)
{
    if (name.isEmpty() || name.size() > 76)
        return false;
    return std::all_of(name.cbegin(), name.cend(),
                       [](QChar c) { return c.unicode() > 32 && c.unicode() < 127 && c != u':'; });
}

// "Name <address>" with a display name that is not ASCII: the name as encoded-words.
QByteArray encodeAddress(const QString &text, int used)
{
    const QString line = oneLine(text).trimmed();
    if (isAscii(line))
        return line.toLatin1();
    const qsizetype open = line.lastIndexOf(u'<');
    if (open <= 0 || !line.mid(open).contains(u'>'))
        return SmtpMessage::encodeText(line, used);
    QString name = line.left(open).trimmed();
    if (name.size() >= 2 && name.startsWith(u'"') && name.endsWith(u'"'))
        name = name.mid(1, name.size() - 2);
    return SmtpMessage::encodeText(name, used) + ' ' + line.mid(open).toUtf8();
}

QByteArray crlfLines(const QByteArray &content)
{
    QByteArray text = content;
    text.replace("\r\n", "\n");
    text.replace('\r', '\n');
    text.replace("\n", "\r\n");
    return text;
}

bool sevenBitSafe(const QByteArray &crlfText)
{
    qsizetype lineLength = 0;
    for (const char c : crlfText) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || u == 0)
            return false;
        lineLength = c == '\n' ? 0 : lineLength + 1;
        if (lineLength > MaxHeaderLine + 1)
            return false;
    }
    return true;
}

CurlMultiDriver *threadDriver()
{
    thread_local QPointer<CurlMultiDriver> driver;
    if (!driver)
        driver = new CurlMultiDriver(QCoreApplication::instance());
    return driver;
}

} // namespace

// -------------------------------------------------------------------------------------
// Message

void SmtpMessage::addHeader(const QString &name, const QString &value)
{
    if (!isHeaderName(name)) {
        qCWarning(lcPlatform).noquote()
            << u"SmtpMessage.addHeader - not a header name: %1"_s.arg(oneLine(name));
        return;
    }
    m_headers.append({name, value});
}

std::optional<QString> SmtpMessage::addressOf(const QString &text)
{
    const QString line = oneLine(text).trimmed();
    const qsizetype open = line.lastIndexOf(u'<');
    if (open >= 0) {
        const qsizetype close = line.indexOf(u'>', open);
        if (close < 0)
            return std::nullopt;
        const QString address = line.mid(open + 1, close - open - 1).trimmed();
        return address.isEmpty() ? std::nullopt : std::optional<QString>(address);
    }
    if (line.isEmpty() || line.contains(u' ') || !line.contains(u'@'))
        return std::nullopt;
    return line;
}

QByteArray SmtpMessage::dateHeader(const QDateTime &when)
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = when.date();
    const QTime time = when.time();
    const int offset = when.offsetFromUtc() / 60;
    const int absolute = std::abs(offset);
    return QByteArray(days[date.dayOfWeek() - 1]) + ", " +
           QByteArray::number(date.day()).rightJustified(2, '0') + ' ' + months[date.month() - 1] + ' ' +
           QByteArray::number(date.year()) + ' ' + time.toString(u"HH:mm:ss"_s).toLatin1() + ' ' +
           (offset < 0 ? '-' : '+') + QByteArray::number(absolute / 60).rightJustified(2, '0') +
           QByteArray::number(absolute % 60).rightJustified(2, '0');
}

QByteArray SmtpMessage::encodeText(const QString &text, int firstLineUsed)
{
    const QString line = oneLine(text);
    if (isAscii(line))
        return line.toLatin1();
    // Encoded-words of at most 45 UTF-8 bytes (75 characters written), never splitting a
    // character, one per line after the first.
    constexpr qsizetype MostBytes = 45;
    QList<QByteArray> words;
    QByteArray chunk;
    for (qsizetype i = 0; i < line.size();) {
        const qsizetype step = line.at(i).isHighSurrogate() && i + 1 < line.size() ? 2 : 1;
        const QByteArray bytes = line.mid(i, step).toUtf8();
        if (chunk.size() + bytes.size() > MostBytes) {
            words.append(chunk);
            chunk.clear();
        }
        chunk += bytes;
        i += step;
    }
    if (!chunk.isEmpty())
        words.append(chunk);
    QByteArray encoded;
    int used = firstLineUsed;
    for (const QByteArray &word : words) {
        const QByteArray written = "=?UTF-8?B?" + word.toBase64() + "?=";
        if (!encoded.isEmpty()) {
            encoded += used + 1 + written.size() > 78 ? "\r\n " : " ";
            used = encoded.endsWith(' ') && !encoded.endsWith("\r\n ") ? used + 1 : 1;
        }
        encoded += written;
        used += int(written.size());
    }
    return encoded;
}

QByteArray SmtpMessage::toInternetFormat(const QDateTime &now) const
{
    const QString fromAddress = addressOf(m_from).value_or(QString());
    const qsizetype at = fromAddress.lastIndexOf(u'@');
    QString domain = at >= 0 ? fromAddress.mid(at + 1) : QString();
    if (domain.isEmpty() || !isAscii(domain) || domain.contains(u'>'))
        domain = u"localhost"_s;

    QByteArray out;
    const auto header = [&out](const char *name, const QByteArray &value) {
        out += name;
        out += ": ";
        out += value;
        out += "\r\n";
    };
    header("Date", dateHeader(now));
    header("Message-ID",
           '<' + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + '@' + domain.toLatin1() + '>');
    header("From", encodeAddress(m_from, 6));
    header("To", encodeAddress(m_to, 4));
    header("Subject", encodeText(m_subject, 9));
    for (const auto &[name, value] : m_headers) {
        const QByteArray key = name.toLatin1();
        header(key.constData(), encodeAddress(value, int(key.size()) + 2));
    }
    header("MIME-Version", "1.0");
    QString type = oneLine(m_contentType).trimmed();
    if (type.isEmpty())
        type = u"text/plain"_s;
    if (type.startsWith(u"text/", Qt::CaseInsensitive) && !type.contains(u"charset", Qt::CaseInsensitive))
        type += u"; charset=UTF-8"_s;
    header("Content-Type", type.toUtf8());
    const QByteArray body = crlfLines(m_content);
    if (sevenBitSafe(body)) {
        header("Content-Transfer-Encoding", "7bit");
        out += "\r\n";
        out += body;
    } else {
        header("Content-Transfer-Encoding", "base64");
        out += "\r\n";
        const QByteArray encoded = body.toBase64();
        for (qsizetype i = 0; i < encoded.size(); i += 76) {
            out += encoded.mid(i, 76);
            out += "\r\n";
        }
    }
    if (!out.endsWith("\r\n"))
        out += "\r\n";
    return out;
}

// -------------------------------------------------------------------------------------
// Client

struct SmtpClient::Transfer
{
    CURL *easy = nullptr;
    curl_slist *recipients = nullptr;
    QByteArray payload;
    qsizetype offset = 0;
    QByteArray pendingIn; // a server line not yet complete
    char error[CURL_ERROR_SIZE] = {};

    ~Transfer()
    {
        if (easy)
            curl_easy_cleanup(easy);
        if (recipients)
            curl_slist_free_all(recipients);
    }
};

SmtpClient::SmtpClient(const QString &host, int port, CurlMultiDriver *driver, QObject *parent)
    : QObject(parent), m_host(host.trimmed()), m_port(port), m_driver(driver ? driver : threadDriver())
{
}

SmtpClient::~SmtpClient()
{
    if (m_transfer && m_running && m_driver)
        m_driver->remove(m_transfer->easy);
    delete m_transfer;
}

void SmtpClient::setCredentials(const QString &user, const QString &password)
{
    if (user.isEmpty())
        m_credentials.reset();
    else
        m_credentials = std::make_pair(user, password);
}

bool SmtpClient::isLoopbackHost(const QString &host)
{
    QString h = host.trimmed().toLower();
    if (h.startsWith(u'[') && h.endsWith(u']'))
        h = h.mid(1, h.size() - 2);
    if (h == u"localhost" || h == u"::1" || h == u"0:0:0:0:0:0:0:1")
        return true;
    const QStringList parts = h.split(u'.');
    if (parts.size() != 4 || parts.first() != u"127")
        return false;
    return std::all_of(parts.cbegin(), parts.cend(), [](const QString &part) {
        bool ok = false;
        const int value = part.toInt(&ok);
        return ok && value >= 0 && value <= 255;
    });
}

bool SmtpClient::connectInBackgroundAndNotify()
{
    if (m_transfer || m_ended) {
        qCWarning(lcPlatform) << "SmtpClient.connectInBackgroundAndNotify - a client carries one exchange";
        return false;
    }
    const auto fail = [this](const QString &why) {
        qCWarning(lcPlatform).noquote() << u"SmtpClient - %1"_s.arg(why);
        finish(Delivery::Refused, why, false);
        return false;
    };
    if (m_host.isEmpty())
        return fail(u"No SMTP server is set."_s);
    if (m_port < 1 || m_port > 65535)
        return fail(u"%1 is not a port number."_s.arg(m_port));
    const std::optional<QString> to = SmtpMessage::addressOf(m_message.recipient());
    if (!to)
        return fail(u"The recipient \"%1\" is not an address."_s.arg(oneLine(m_message.recipient())));

    auto *transfer = new Transfer;
    transfer->easy = curl_easy_init();
    if (!transfer->easy) {
        delete transfer;
        return fail(u"The mail library could not start a transfer."_s);
    }
    m_transfer = transfer;
    CURL *easy = transfer->easy;
    transfer->payload = m_message.toInternetFormat();

    const bool loopback = isLoopbackHost(m_host);
    const bool implicitTls = m_port == 465;
    QString host = m_host;
    if (host.contains(u':') && !host.startsWith(u'['))
        host = u'[' + host + u']';
    const QByteArray url =
        ((implicitTls ? u"smtps://"_s : u"smtp://"_s) + host + u':' + QString::number(m_port)).toUtf8();
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer->error);
    // One message per connection: it is closed (QUIT) when the exchange ends.
    curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, long(std::min(m_timeoutMs, 30000)));
    curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, long(m_timeoutMs));
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     long(std::max(1, std::min(m_timeoutMs, 60000) / 1000)));

    // STARTTLS whenever offered; required when a password would otherwise travel in clear.
    const bool passwordNeedsTls = m_credentials && !loopback;
    curl_easy_setopt(easy, CURLOPT_USE_SSL, long(passwordNeedsTls ? CURLUSESSL_ALL : CURLUSESSL_TRY));
    const bool verify =
        m_verification == Verification::Always || (m_verification == Verification::Auto && !loopback);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, verify ? 1L : 0L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, verify ? 2L : 0L);
    QString caFile = m_caFile;
    if (caFile.isEmpty())
        caFile = qEnvironmentVariable("SSL_CERT_FILE");
    if (!caFile.isEmpty())
        curl_easy_setopt(easy, CURLOPT_CAINFO, caFile.toLocal8Bit().constData());
    if (m_credentials) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, m_credentials->first.toUtf8().constData());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, m_credentials->second.toUtf8().constData());
    }

    const QString from = SmtpMessage::addressOf(m_message.from()).value_or(QString());
    curl_easy_setopt(easy, CURLOPT_MAIL_FROM, (u'<' + from + u'>').toUtf8().constData());
    transfer->recipients = curl_slist_append(nullptr, (u'<' + *to + u'>').toUtf8().constData());
    curl_easy_setopt(easy, CURLOPT_MAIL_RCPT, transfer->recipients);
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, curl_off_t(transfer->payload.size()));
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, &SmtpClient::readCallback);
    curl_easy_setopt(easy, CURLOPT_READDATA, this);
    // The protocol lines are watched to tell the stages of the exchange apart.
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, &SmtpClient::debugCallback);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);

    const QPointer<SmtpClient> self(this);
    const CURLMcode added = m_driver->add(easy, [self](CURLcode result) {
        if (self)
            self->transferDone(int(result));
    });
    if (added != CURLM_OK) {
        delete m_transfer;
        m_transfer = nullptr;
        return fail(u"The mail library refused the transfer: %1"_s.arg(
            QString::fromUtf8(curl_multi_strerror(added))));
    }
    m_running = true;
    return true;
}

void SmtpClient::sendMessage()
{
    // The message is part of the exchange already under way (or about to start).
}

void SmtpClient::close()
{
    if (m_ended)
        return;
    if (!m_running) {
        finish(Delivery::Refused, u"Closed before the server was reached."_s, true);
        return;
    }
    if (m_driver)
        m_driver->remove(m_transfer->easy);
    m_running = false;
    if (m_dataDone && !m_answeredAfterData)
        finish(Delivery::Unknown,
               u"The connection was closed after the message was sent, before the server confirmed it."_s,
               true);
    else
        finish(Delivery::Refused, u"The connection was closed before the message was sent."_s, true);
}

void SmtpClient::transferDone(int code)
{
    m_running = false;
    const auto result = CURLcode(code);
    QString detail = m_transfer ? QString::fromUtf8(m_transfer->error).trimmed() : QString();
    if (detail.isEmpty())
        detail = QString::fromUtf8(curl_easy_strerror(result));
    // A refusal is followed by QUIT, so the refusal is not the last reply.
    const bool refusedByServer = !m_lastRefusal.isEmpty();

    if (result == CURLE_OK) {
        post(Event::MessageSent);
        finish(Delivery::Accepted, m_dataReply, true);
        return;
    }
    if (m_dataDone && !m_answeredAfterData) {
        finish(Delivery::Unknown,
               u"The connection ended after the message was sent, before the server confirmed it (%1)."_s.arg(
                   detail),
               false);
        return;
    }
    if (result == CURLE_LOGIN_DENIED) {
        post(Event::AuthenticationFailed);
        finish(Delivery::Refused,
               u"Authentication failed: %1"_s.arg(refusedByServer ? m_lastRefusal : detail), false);
        return;
    }
    if (result == CURLE_USE_SSL_FAILED) {
        finish(
            Delivery::Refused,
            u"The server %1 does not offer STARTTLS, so the password was not sent over an unencrypted connection."_s
                .arg(m_host),
            false);
        return;
    }
    finish(Delivery::Refused, refusedByServer ? m_lastRefusal : detail, false);
}

void SmtpClient::finish(Delivery delivery, const QString &reply, bool orderly)
{
    if (m_ended)
        return;
    m_ended = true;
    m_outcome = {delivery, reply.left(MaxReplyBytes)};
    if (orderly)
        post(Event::ConnectionTerminated);
    post(Event::ConnectionLost);
}

void SmtpClient::post(Event event)
{
    m_events.append(event);
    if (!m_deliveryQueued) {
        m_deliveryQueued = true;
        QMetaObject::invokeMethod(this, &SmtpClient::deliver, Qt::QueuedConnection);
    }
}

void SmtpClient::deliver()
{
    m_deliveryQueued = false;
    const QPointer<SmtpClient> self(this);
    while (self && !m_events.isEmpty()) {
        const Event event = m_events.takeFirst();
        SmtpClientDelegate *delegate = m_delegate;
        if (!delegate)
            continue;
        switch (event) {
        case Event::ConnectionEstablished:
            delegate->connectionEstablished(this);
            break;
        case Event::ServiceInitialized:
            delegate->serviceInitialized(this);
            break;
        case Event::AuthenticationCompleted:
            delegate->authenticationCompleted(this);
            break;
        case Event::AuthenticationFailed:
            delegate->authenticationFailed(this);
            break;
        case Event::MessageSent:
            delegate->messageSent(this);
            break;
        case Event::ConnectionTerminated:
            delegate->connectionTerminated(this);
            break;
        case Event::ConnectionLost:
            delegate->connectionLost(this);
            break;
        }
    }
}

void SmtpClient::serverLine(const QByteArray &raw)
{
    QByteArray line = raw;
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (m_replyLines.size() < MaxReplyBytes) {
        if (!m_replyLines.isEmpty())
            m_replyLines += ' ';
        m_replyLines += line.left(MaxReplyBytes);
    }
    if (line.size() > 3 && line.at(3) == '-')
        return; // more lines of this reply follow
    m_lastReply = QString::fromUtf8(m_replyLines).left(MaxReplyBytes);
    m_replyLines.clear();
    const int code = line.left(3).toInt();
    if (code >= 400)
        m_lastRefusal = m_lastReply;
    if (m_dataDone && !m_answeredAfterData) {
        m_answeredAfterData = true;
        m_dataReply = m_lastReply;
    }
    if (!m_greeted && m_lastCommand.isEmpty()) {
        m_greeted = true;
        if (code == 220)
            post(Event::ConnectionEstablished);
        return;
    }
    if (m_lastCommand == "AUTH" && code == 235 && !m_authenticated) {
        m_authenticated = true;
        post(Event::AuthenticationCompleted);
    }
}

void SmtpClient::clientCommand(const QByteArray &line)
{
    // Lines sent while the server asks for credentials (334) carry them: never looked at.
    if (m_lastCommand == "AUTH" && m_lastReply.startsWith(u"334"))
        return;
    const QByteArray verb = line.trimmed().split(' ').value(0).toUpper();
    static const QByteArrayList verbs = {"EHLO", "HELO", "STARTTLS", "AUTH", "MAIL",
                                         "RCPT", "DATA", "QUIT",     "RSET"};
    if (!verbs.contains(verb))
        return;
    if ((verb == "AUTH" || verb == "MAIL") && !m_initialised) {
        m_initialised = true;
        post(Event::ServiceInitialized);
    }
    m_lastCommand = verb;
}

qsizetype SmtpClient::readData(char *buffer, qsizetype size)
{
    if (!m_transfer)
        return 0;
    const qsizetype left = m_transfer->payload.size() - m_transfer->offset;
    const qsizetype n = std::min(left, size);
    if (n > 0)
        std::memcpy(buffer, m_transfer->payload.constData() + m_transfer->offset, size_t(n));
    m_transfer->offset += n;
    // From here on the message may reach the server: a connection that dies now leaves its
    // outcome unknown.
    if (m_transfer->offset >= m_transfer->payload.size())
        m_dataDone = true;
    return n;
}

int SmtpClient::debugCallback(void *, int type, char *data, size_t size, void *client)
{
    auto *self = static_cast<SmtpClient *>(client);
    const auto kind = curl_infotype(type);
    if (kind == CURLINFO_HEADER_IN && self->m_transfer) {
        QByteArray &pending = self->m_transfer->pendingIn;
        pending.append(data, qsizetype(std::min<size_t>(size, 4096)));
        qsizetype end;
        while ((end = pending.indexOf('\n')) >= 0) {
            self->serverLine(pending.left(end + 1));
            pending.remove(0, end + 1);
        }
        if (pending.size() > 4096)
            pending.clear();
    } else if (kind == CURLINFO_HEADER_OUT) {
        self->clientCommand(QByteArray(data, qsizetype(std::min<size_t>(size, 64))));
    }
    return 0;
}

size_t SmtpClient::readCallback(char *buffer, size_t size, size_t count, void *client)
{
    return size_t(static_cast<SmtpClient *>(client)->readData(buffer, qsizetype(size * count)));
}

} // namespace brisko

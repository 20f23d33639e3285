#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

namespace brisko {

class CurlMultiDriver;
class SmtpClient;

// One message for one SMTP exchange: a subject, a From address, extra header lines, one To
// recipient and a single text part.
class SmtpMessage
{
public:
    void setSubject(const QString &subject) { m_subject = subject; }
    // An address as typed: "jane@example.com" or "Jane Doe <jane@example.com>".
    void setFrom(const QString &from) { m_from = from; }
    // An extra header line; a name that is not a plain header name is left out.
    void addHeader(const QString &name, const QString &value);
    // The one To recipient (the envelope recipient too).
    void addRecipient(const QString &to) { m_to = to; }
    // "text/plain" unless set; text types get "; charset=UTF-8" when they name no charset.
    void setContentType(const QString &type) { m_contentType = type; }
    // The body as UTF-8 bytes.
    void setContent(const QByteArray &content) { m_content = content; }

    const QString &subject() const { return m_subject; }
    const QString &from() const { return m_from; }
    const QString &recipient() const { return m_to; }
    const QList<std::pair<QString, QString>> &headers() const { return m_headers; }

    // The message in Internet format (RFC 5322 with MIME): every line ends in CR LF; Date,
    // Message-ID, From, To, Subject, the extra headers, MIME-Version, Content-Type with the
    // charset and Content-Transfer-Encoding. A Subject or display name that is not ASCII
    // is written as UTF-8 encoded-words; a line break inside a header value becomes a
    // blank, so no value can add a header line. The body goes as 7bit when it is ASCII
    // with no line above 998 bytes, otherwise as Base64.
    QByteArray toInternetFormat(const QDateTime &now = QDateTime::currentDateTime()) const;

    // The bare address of "Name <address>" or of an address alone; none when the text
    // holds no address.
    static std::optional<QString> addressOf(const QString &text);
    // The RFC 5322 date: "Mon, 07 Dec 2026 03:04:05 +0100".
    static QByteArray dateHeader(const QDateTime &when);
    // An unstructured header value: as it is when ASCII, else folded UTF-8 encoded-words.
    static QByteArray encodeText(const QString &text, int firstLineUsed);

private:
    QString m_subject;
    QString m_from;
    QString m_to;
    QString m_contentType = QStringLiteral("text/plain");
    QByteArray m_content;
    QList<std::pair<QString, QString>> m_headers;
};

// What a client reports while it works. Every call comes from the event loop, never from
// inside a call on the client, so the delegate may call the client (close()) or delete it
// (deleteLater()) from any of them.
//
// Order for one exchange: connectionEstablished (the server greeted), serviceInitialized
// (it answered EHLO, after STARTTLS when that was used), authenticationCompleted or
// authenticationFailed (only when a user is set), messageSent (the server accepted the
// message at the end of DATA), connectionTerminated (the exchange ended in order, QUIT or
// close()), and last, exactly once and whatever happened before, connectionLost: the
// connection is gone and the client will report nothing more; outcome() is final then.
// transactionResetCompleted is never reported: every exchange carries one message on a
// connection of its own.
class SmtpClientDelegate
{
public:
    virtual ~SmtpClientDelegate() = default;
    virtual void connectionEstablished(SmtpClient *client) { Q_UNUSED(client); }
    virtual void serviceInitialized(SmtpClient *client) { Q_UNUSED(client); }
    virtual void authenticationCompleted(SmtpClient *client) { Q_UNUSED(client); }
    virtual void authenticationFailed(SmtpClient *client) { Q_UNUSED(client); }
    virtual void messageSent(SmtpClient *client) { Q_UNUSED(client); }
    virtual void connectionTerminated(SmtpClient *client) { Q_UNUSED(client); }
    virtual void connectionLost(SmtpClient *client) { Q_UNUSED(client); }
    virtual void transactionResetCompleted(SmtpClient *client) { Q_UNUSED(client); }
};

// A client for one SMTP server, host and port, that carries one message in one exchange on
// libcurl's SMTP support, driven from the event loop (no thread, nothing blocks).
//
// Security: port 465 speaks TLS from the start; on any other port the client upgrades with
// STARTTLS whenever the server offers it. When a user is set the client authenticates
// (the mechanism the server offers), and it never sends the password over a connection
// that is not encrypted, unless the host is a loopback address: a server without STARTTLS
// then gets no password and the exchange fails saying so. Certificates are checked
// against the system's authorities (or caFile); on a loopback host they are not checked
// unless verification is set to Always.
class SmtpClient : public QObject
{
    Q_OBJECT

public:
    enum class Verification { Auto, Always, Never };

    // How the exchange ended, for the message it carried.
    enum class Delivery {
        Pending,  // not over yet
        Accepted, // the server took the message at the end of DATA
        Refused,  // it did not leave: refused, no connection, authentication failed
        Unknown,  // the connection died after the message was sent, before the answer
    };
    struct Outcome
    {
        Delivery delivery = Delivery::Pending;
        QString reply; // the server's last reply, or what went wrong
    };

    // A client for the server, not connected yet. The driver runs the transfer; none: the
    // process-wide one of this thread.
    SmtpClient(const QString &host, int port, CurlMultiDriver *driver = nullptr, QObject *parent = nullptr);
    ~SmtpClient() override;

    void setDelegate(SmtpClientDelegate *delegate) { m_delegate = delegate; }
    void setMessage(const SmtpMessage &message) { m_message = message; }
    // Authenticate as this user (none: no authentication).
    void setCredentials(const QString &user, const QString &password);
    void setVerification(Verification verification) { m_verification = verification; }
    // Extra authorities to trust (PEM); empty: the system's, or SSL_CERT_FILE when set.
    void setCaFile(const QString &path) { m_caFile = path; }
    // The whole exchange is given up after this long (the outcome then follows the rules
    // above: after the data was sent it is unknown). 60 s unless set.
    void setTimeout(int milliseconds) { m_timeoutMs = milliseconds; }

    const QString &host() const { return m_host; }
    int port() const { return m_port; }
    const SmtpMessage &message() const { return m_message; }

    // Connects and, once the server is ready, sends the message; returns at once and the
    // exchange goes on from the event loop. False (with the reason in outcome()) when
    // nothing could be started; connectionLost follows all the same.
    bool connectInBackgroundAndNotify();
    // The message goes out in the exchange connectInBackgroundAndNotify() starts; asking
    // for it again while it is under way changes nothing.
    void sendMessage();
    // Ends the exchange. Before the server accepted the message it is dropped at once (its
    // outcome then refused, or unknown once the data was sent); after, the orderly QUIT
    // is left to finish.
    void close();

    bool isRunning() const { return m_running; }
    const Outcome &outcome() const { return m_outcome; }

    // True for "localhost", 127.0.0.0/8 and ::1.
    static bool isLoopbackHost(const QString &host);

private:
    struct Transfer;
    enum class Event {
        ConnectionEstablished,
        ServiceInitialized,
        AuthenticationCompleted,
        AuthenticationFailed,
        MessageSent,
        ConnectionTerminated,
        ConnectionLost,
    };

    void post(Event event);
    void deliver();
    void transferDone(int result);
    void finish(Delivery delivery, const QString &reply, bool orderly);
    void serverLine(const QByteArray &line);
    void clientCommand(const QByteArray &line);
    qsizetype readData(char *buffer, qsizetype size);

    static int debugCallback(void *easy, int type, char *data, size_t size, void *client);
    static size_t readCallback(char *buffer, size_t size, size_t count, void *client);

    QString m_host;
    int m_port = 25;
    CurlMultiDriver *m_driver = nullptr;
    SmtpClientDelegate *m_delegate = nullptr;
    SmtpMessage m_message;
    std::optional<std::pair<QString, QString>> m_credentials;
    Verification m_verification = Verification::Auto;
    QString m_caFile;
    int m_timeoutMs = 60000;

    Transfer *m_transfer = nullptr;
    bool m_running = false;
    bool m_ended = false;
    Outcome m_outcome;
    QList<Event> m_events;
    bool m_deliveryQueued = false;

    // What the exchange has reached, as seen on the wire.
    QByteArray m_lastCommand;
    QByteArray m_replyLines;
    QString m_lastReply;
    QString m_lastRefusal; // the last reply that said no (4xx, 5xx)
    QString m_dataReply;   // the answer to the message's data
    bool m_greeted = false;
    bool m_initialised = false;
    bool m_authenticated = false;
    bool m_dataDone = false;
    bool m_answeredAfterData = false;
};

} // namespace brisko

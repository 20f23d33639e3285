#pragma once

// A stand-in for the mail service: an HTTP/1.1 server on the loopback address that records
// every request and answers with canned documents while the test's event loop runs.

#include <QHash>
#include <QMap>
#include <QTcpServer>

#include <optional>

struct RecordedRequest
{
    QByteArray method;
    QByteArray path;
    QList<std::pair<QByteArray, QByteArray>> headers; // in the order they came
    QByteArray body;

    // The first header of that name (case-insensitive); empty when absent.
    QByteArray header(QByteArrayView name) const;
    QMap<QString, QString> form() const;
    QString action() const { return form().value(QStringLiteral("Action")); }
};

struct CannedAnswer
{
    int status = 200;
    QByteArray body;
    int pieces = 1;       // the body is written in this many parts …
    int pieceDelayMs = 0; // … this far apart
    int delayMs = 0;      // wait before the status line
    bool chunked = false; // Transfer-Encoding: chunked instead of Content-Length
    bool stall = false;   // send the head and half the body, then nothing
    // Hostile servers:
    bool keepAlive = false; // keep the connection open for the next request
    int resetEvery = 0;     // every Nth request (counted over the server's life) is read whole,
                            // then its connection is reset without an answer byte
    bool cutOff = false;    // send the head and half the body, then reset the connection
    bool endless = false;   // a chunked body that never ends
    int delayMaxMs = 0;     // when above delayMs: a random wait between the two
};

struct StatisticsPoint
{
    int deliveryAttempts = 0;
    QString timestamp;
    int rejects = 0;
    int bounces = 0;
    int complaints = 0;
};

class FakeSesServer
{
public:
    FakeSesServer();

    bool listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 port() const { return m_server.serverPort(); }
    QString endpoint() const { return QStringLiteral("http://127.0.0.1:%1").arg(port()); }
    // An endpoint on the loopback address where nothing listens: connections are refused.
    static QString refusingEndpoint();

    // The answer to every request whose action has no answer of its own.
    void setAnswer(const CannedAnswer &answer) { m_default = answer; }
    void setAnswerFor(const QString &action, const CannedAnswer &answer)
    {
        m_byAction.insert(action, answer);
    }

    // Every Nth SendRawEmail request (counted since clear()) gets `answer` instead: a
    // throttling error document, an HTTP 503. 0 turns it off.
    void setTurnAwayEvery(int n, const CannedAnswer &answer)
    {
        m_turnAwayEvery = n;
        m_turnAway = answer;
    }
    // After this many accepted messages every SendRawEmail is refused with the daily quota's
    // error document; -1 (the default) for no quota.
    void setDailyQuota(int messages) { m_dailyQuota = messages; }
    static QByteArray throttlingDocument();
    static QByteArray dailyQuotaDocument();
    // Messages accepted per recipient address: counted when the request is read and its
    // answer is to be a success, whether or not the client is still there to read it.
    QHash<QString, int> acceptedPerAddress() const { return m_acceptedPer; }
    int acceptedMessages() const { return m_acceptedTotal; }

    QList<RecordedRequest> requests() const { return m_requests; }
    // Connections accepted so far, and the answer bytes written by endless answers.
    int connections() const { return m_connections; }
    qint64 streamed() const { return m_streamed; }
    void clear();

    static QByteArray quotaDocument(const QString &max24, const QString &maxRate, const QString &sentLast24);
    static QByteArray statisticsDocument(const QList<StatisticsPoint> &points);
    static QByteArray verifyDocument();
    static QByteArray errorDocument(const QString &code, const std::optional<QString> &message);

private:
    void readFrom(QTcpSocket *socket);

    QHash<QTcpSocket *, QByteArray> m_buffers;
    QList<RecordedRequest> m_requests;
    CannedAnswer m_default;
    QHash<QString, CannedAnswer> m_byAction;
    int m_served = 0;
    int m_sendRequests = 0;
    int m_turnAwayEvery = 0;
    CannedAnswer m_turnAway;
    int m_dailyQuota = -1;
    int m_acceptedTotal = 0;
    QHash<QString, int> m_acceptedPer;
    int m_connections = 0;
    qint64 m_streamed = 0;
    // Last, so it goes first: sockets still open say goodbye as it goes and need the buffers.
    QTcpServer m_server;
};

QString pythonInterpreter();

// The Signature Version 4 signature of the request as a few lines of Python's hmac and hashlib
// compute it from its Authorization and X-Amz-Date headers; none when Python is missing or fails.
std::optional<QByteArray> referenceSigV4Signature(const RecordedRequest &request, const QByteArray &secretKey,
                                                  const QByteArray &region, const QByteArray &service);

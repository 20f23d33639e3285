#include "FakeSesServer.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace {

const QString Xmlns = QStringLiteral(" xmlns=\"http://ses.amazonaws.com/doc/2010-12-01/\"");

QByteArray document(QStringView action, const QString &content)
{
    return QStringLiteral(
               "<%1Response%2>%3<ResponseMetadata><RequestId>273021c6</RequestId></ResponseMetadata>"
               "</%1Response>\n")
        .arg(action, Xmlns, content)
        .toUtf8();
}

// Closes with a reset (RST), not an orderly close.
void reset(QTcpSocket *socket)
{
    const linger hard{1, 0};
    ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    socket->abort();
}

void answer(QTcpSocket *socket, const CannedAnswer &canned, qint64 *streamed)
{
    int delay = canned.delayMs;
    if (canned.delayMaxMs > canned.delayMs)
        delay = canned.delayMs + int(QRandomGenerator::global()->bounded(canned.delayMaxMs - canned.delayMs));
    QTimer::singleShot(delay, socket, [socket, canned, streamed] {
        const bool chunked = canned.chunked || canned.endless;
        socket->write("HTTP/1.1 " + QByteArray::number(canned.status) + " Whatever\r\nContent-Type: text/xml\r\n" +
                      (canned.keepAlive ? QByteArray() : QByteArray("Connection: close\r\n")) +
                      (chunked ? QByteArray("Transfer-Encoding: chunked")
                               : "Content-Length: " + QByteArray::number(canned.body.size())) +
                      "\r\n\r\n");
        if (canned.endless) {
            // 64 KB pieces as fast as the reader takes them.
            auto *pump = new QTimer(socket);
            QObject::connect(pump, &QTimer::timeout, socket, [socket, streamed] {
                static const QByteArray piece = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n";
                while (socket->state() == QAbstractSocket::ConnectedState &&
                       socket->bytesToWrite() < 4 * piece.size() && socket->write(piece) == piece.size())
                    *streamed += piece.size();
            });
            pump->start(1);
            return;
        }
        if (canned.cutOff) {
            socket->write(canned.body.left(canned.body.size() / 2));
            socket->flush();
            reset(socket);
            return;
        }
        const QByteArray body = canned.stall ? canned.body.left(canned.body.size() / 2) : canned.body;
        const int pieces = std::max(1, canned.pieces);
        const qsizetype size = (body.size() + pieces - 1) / pieces;
        for (int n = 0; n <= pieces; ++n) {
            QTimer::singleShot(n * canned.pieceDelayMs, socket, [socket, canned, body, n, pieces, size] {
                const QByteArray piece = body.mid(n * size, size);
                if (n < pieces && !piece.isEmpty()) {
                    socket->write(canned.chunked
                                      ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n"
                                      : piece);
                } else if (n == pieces && !canned.stall) {
                    socket->write(canned.chunked ? "0\r\n\r\n" : "");
                    if (!canned.keepAlive)
                        socket->disconnectFromHost();
                }
            });
        }
    });
}

} // namespace

QByteArray RecordedRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

QMap<QString, QString> RecordedRequest::form() const
{
    QMap<QString, QString> result;
    for (const QByteArray &pair : body.split('&')) {
        if (const qsizetype equals = pair.indexOf('='); equals >= 0)
            result.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(pair.left(equals))),
                          QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(equals + 1))));
    }
    return result;
}

FakeSesServer::FakeSesServer()
{
    clear();
    QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            ++m_connections;
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

QString FakeSesServer::refusingEndpoint()
{
    QTcpServer closed;
    return closed.listen(QHostAddress::LocalHost)
               ? QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort())
               : QString();
}

void FakeSesServer::clear()
{
    m_requests.clear();
    m_byAction.clear();
    m_served = 0;
    m_sendRequests = 0;
    m_turnAwayEvery = 0;
    m_dailyQuota = -1;
    m_acceptedTotal = 0;
    m_acceptedPer.clear();
    m_connections = 0;
    m_streamed = 0;
    m_default = {200, quotaDocument(QStringLiteral("200.0"), QStringLiteral("1.0"), QStringLiteral("0.0"))};
}

void FakeSesServer::readFrom(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    // One request at a time: the next is read once this one is answered.
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    RecordedRequest request{requestLine.value(0), requestLine.value(1), {}, {}};
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines.at(i).indexOf(':');
        if (colon >= 0)
            request.headers.append({lines.at(i).left(colon).trimmed(), lines.at(i).mid(colon + 1).trimmed()});
    }
    const qsizetype length = request.header("Content-Length").toLongLong();
    if (buffer.size() < headEnd + 4 + length)
        return;
    request.body = buffer.mid(headEnd + 4, length);
    buffer.remove(0, headEnd + 4 + length);
    m_requests.append(request);
    CannedAnswer canned = m_byAction.value(request.action(), m_default);
    const bool sending = request.action() == QStringLiteral("SendRawEmail");
    if (sending) {
        ++m_sendRequests;
        if (m_dailyQuota >= 0 && m_acceptedTotal >= m_dailyQuota)
            canned = {400, dailyQuotaDocument(), 1, 0, canned.delayMs};
        else if (m_turnAwayEvery > 0 && m_sendRequests % m_turnAwayEvery == 0)
            canned = m_turnAway;
    }
    if (canned.resetEvery > 0 && ++m_served % canned.resetEvery == 0) {
        reset(socket);
        return;
    }
    if (sending && canned.status == 200 && !canned.body.contains("ErrorResponse") && !canned.cutOff &&
        !canned.stall && !canned.endless) {
        ++m_acceptedTotal;
        ++m_acceptedPer[request.form().value(QStringLiteral("Destinations.member.1"))];
    }
    answer(socket, canned, &m_streamed);
    if (!buffer.isEmpty())
        QTimer::singleShot(0, socket, [this, socket] { readFrom(socket); });
}

QByteArray FakeSesServer::quotaDocument(const QString &max24, const QString &maxRate,
                                        const QString &sentLast24)
{
    // The service writes SentLast24Hours first.
    return document(u"GetSendQuota",
                    QStringLiteral("<GetSendQuotaResult><SentLast24Hours>%3</SentLast24Hours>"
                                   "<Max24HourSend>%1</Max24HourSend><MaxSendRate>%2</MaxSendRate>"
                                   "</GetSendQuotaResult>")
                        .arg(max24, maxRate, sentLast24));
}

QByteArray FakeSesServer::statisticsDocument(const QList<StatisticsPoint> &points)
{
    QString members;
    for (const StatisticsPoint &p : points) {
        members +=
            QStringLiteral("<member><DeliveryAttempts>%1</DeliveryAttempts><Timestamp>%2</Timestamp>"
                           "<Rejects>%3</Rejects><Bounces>%4</Bounces><Complaints>%5</Complaints></member>\n")
                .arg(QString::number(p.deliveryAttempts), p.timestamp, QString::number(p.rejects),
                     QString::number(p.bounces), QString::number(p.complaints));
    }
    return document(u"GetSendStatistics",
                    QStringLiteral("<GetSendStatisticsResult><SendDataPoints>\n%1</SendDataPoints>"
                                   "</GetSendStatisticsResult>")
                        .arg(members));
}

QByteArray FakeSesServer::verifyDocument()
{
    return document(u"VerifyEmailAddress", QString());
}

QByteArray FakeSesServer::errorDocument(const QString &code, const std::optional<QString> &message)
{
    return QStringLiteral("<ErrorResponse%1><Error><Type>Sender</Type><Code>%2</Code>%3</Error>"
                          "<RequestId>a8a5a8b6</RequestId></ErrorResponse>\n")
        .arg(Xmlns, code, message ? QStringLiteral("<Message>%1</Message>").arg(*message) : QString())
        .toUtf8();
}

QByteArray FakeSesServer::throttlingDocument()
{
    return errorDocument(QStringLiteral("Throttling"), QStringLiteral("Maximum sending rate exceeded."));
}

QByteArray FakeSesServer::dailyQuotaDocument()
{
    // The service names the daily quota's refusal a throttling too.
    return errorDocument(QStringLiteral("Throttling"), QStringLiteral("Daily message quota exceeded."));
}

QString pythonInterpreter()
{
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

namespace {

// The request line, header lines, a blank line and the body in; secret key, region, service as arguments.
const char *const ReferenceSigV4 = R"PY(
import sys, hmac, hashlib, re
from urllib.parse import quote, unquote
secret, region, service = sys.argv[1:4]
head, _, body = sys.stdin.buffer.read().partition(b'\n\n')
lines = head.decode('latin-1').split('\n')
method, path = lines[0].split(' ')  # our requests carry no query
def mac(key, msg): return hmac.new(key, msg.encode(), hashlib.sha256).digest()
def enc(s): return quote(s, safe='-_.~')
headers = {}
for name, _, value in (line.partition(':') for line in lines[1:]):
    headers.setdefault(name.strip().lower(), []).append(' '.join(value.split()))
auth = headers['authorization'][0]
signed = re.search(r'SignedHeaders=([^,]+)', auth).group(1).split(';')
stamp = headers['x-amz-date'][0]
scope = '%s/%s/%s/aws4_request' % (stamp[:8], region, service)
if re.search(r'Credential=[^/]+/([^,]+)', auth).group(1) != scope:
    sys.exit('scope-mismatch ' + auth)
path = '/'.join(enc(unquote(s)) for s in path.split('/')) or '/'
canonical = '\n'.join([method, path, '', ''.join('%s:%s\n' % (n, ','.join(headers[n])) for n in signed),
                       ';'.join(signed), hashlib.sha256(body).hexdigest()])
to_sign = '\n'.join(['AWS4-HMAC-SHA256', stamp, scope, hashlib.sha256(canonical.encode()).hexdigest()])
key = mac(('AWS4' + secret).encode(), stamp[:8])
for part in (region, service, 'aws4_request'):
    key = mac(key, part)
print(hmac.new(key, to_sign.encode(), hashlib.sha256).hexdigest())
)PY";

} // namespace

std::optional<QByteArray> referenceSigV4Signature(const RecordedRequest &request, const QByteArray &secretKey,
                                                  const QByteArray &region, const QByteArray &service)
{
    const QString python = pythonInterpreter();
    if (python.isEmpty())
        return std::nullopt;
    QByteArray input = request.method + ' ' + request.path + '\n';
    for (const auto &[name, value] : request.headers)
        input += name + ": " + value + '\n';
    QProcess process;
    process.start(python,
                  {QStringLiteral("-c"), QString::fromUtf8(ReferenceSigV4), QString::fromUtf8(secretKey),
                   QString::fromUtf8(region), QString::fromUtf8(service)});
    process.write(input + '\n' + request.body);
    process.closeWriteChannel();
    if (!process.waitForFinished(20000) || process.exitCode() != 0) {
        qWarning("reference signer failed: %s", process.readAllStandardError().constData());
        return std::nullopt;
    }
    return process.readAllStandardOutput().trimmed();
}

#include "FakeSesServer.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

QByteArray RecordedRequest::header(QByteArrayView name) const
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QByteArray();
}

QByteArrayList RecordedRequest::headerNames() const
{
    QByteArrayList names;
    for (const auto &header : headers)
        names.append(header.first);
    return names;
}

QMap<QString, QString> RecordedRequest::form() const
{
    QMap<QString, QString> result;
    for (const QByteArray &pair : body.split('&')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals < 0)
            continue;
        result.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(pair.left(equals))),
                      QString::fromUtf8(QByteArray::fromPercentEncoding(pair.mid(equals + 1))));
    }
    return result;
}

FakeSesServer::FakeSesServer() : m_server(std::make_unique<QTcpServer>())
{
    m_default.body = quotaDocument(QStringLiteral("200.0"), QStringLiteral("1.0"), QStringLiteral("0.0"));
    QObject::connect(m_server.get(), &QTcpServer::newConnection, m_server.get(), [this] {
        while (QTcpSocket *socket = m_server->nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                m_buffers.remove(socket);
                socket->deleteLater();
            });
        }
    });
}

FakeSesServer::~FakeSesServer()
{
    // Sockets still open say goodbye while the server goes; the buffers must outlive that.
    m_server.reset();
}

bool FakeSesServer::listen()
{
    return m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 FakeSesServer::port() const
{
    return m_server->serverPort();
}

QString FakeSesServer::endpoint() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void FakeSesServer::clear()
{
    m_requests.clear();
    m_byAction.clear();
    m_default = CannedAnswer();
    m_default.body = quotaDocument(QStringLiteral("200.0"), QStringLiteral("1.0"), QStringLiteral("0.0"));
}

void FakeSesServer::readFrom(QTcpSocket *socket)
{
    QByteArray &buffer = m_buffers[socket];
    buffer += socket->readAll();
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    RecordedRequest request;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    qsizetype length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines.at(i).trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
        if (line.left(colon).compare("content-length", Qt::CaseInsensitive) == 0)
            length = line.mid(colon + 1).trimmed().toLongLong();
    }
    if (buffer.size() < headEnd + 4 + length)
        return;
    request.body = buffer.mid(headEnd + 4, length);
    buffer.remove(0, headEnd + 4 + length);
    m_requests.append(request);
    answer(socket, m_byAction.value(request.action(), m_default));
}

void FakeSesServer::answer(QTcpSocket *socket, const CannedAnswer &canned)
{
    QTimer::singleShot(canned.delayMs, socket, [socket, canned] {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(canned.status) + " Whatever\r\n"
                          "Content-Type: text/xml\r\nConnection: close\r\n";
        head += canned.chunked ? QByteArray("Transfer-Encoding: chunked\r\n")
                               : "Content-Length: " + QByteArray::number(canned.body.size()) + "\r\n";
        socket->write(head + "\r\n");
        if (canned.stall) {
            socket->write(canned.body.left(canned.body.size() / 2));
            return;
        }
        const int pieces = std::max(1, canned.pieces);
        const qsizetype size = (canned.body.size() + pieces - 1) / pieces;
        for (int n = 0; n <= pieces; ++n) {
            QTimer::singleShot(n * canned.pieceDelayMs, socket, [socket, canned, n, pieces, size] {
                if (n == pieces) {
                    if (canned.chunked)
                        socket->write("0\r\n\r\n");
                    socket->disconnectFromHost();
                    return;
                }
                const QByteArray piece = canned.body.mid(n * size, size);
                if (piece.isEmpty())
                    return;
                if (canned.chunked)
                    socket->write(QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n");
                else
                    socket->write(piece);
                socket->flush();
            });
        }
    });
}

QByteArray FakeSesServer::quotaDocument(const QString &max24, const QString &maxRate, const QString &sentLast24)
{
    // The service writes SentLast24Hours first.
    return QStringLiteral("<GetSendQuotaResponse xmlns=\"http://ses.amazonaws.com/doc/2010-12-01/\">\n"
                          "  <GetSendQuotaResult>\n"
                          "    <SentLast24Hours>%3</SentLast24Hours>\n"
                          "    <Max24HourSend>%1</Max24HourSend>\n"
                          "    <MaxSendRate>%2</MaxSendRate>\n"
                          "  </GetSendQuotaResult>\n"
                          "  <ResponseMetadata>\n"
                          "    <RequestId>273021c6-c866-11e0-b926-699e21c3af9e</RequestId>\n"
                          "  </ResponseMetadata>\n"
                          "</GetSendQuotaResponse>\n")
        .arg(max24, maxRate, sentLast24)
        .toUtf8();
}

QByteArray FakeSesServer::statisticsDocument(const QList<StatisticsPoint> &points)
{
    QString members;
    for (const StatisticsPoint &p : points) {
        members += QStringLiteral("      <member>\n"
                                  "        <DeliveryAttempts>%1</DeliveryAttempts>\n"
                                  "        <Timestamp>%2</Timestamp>\n"
                                  "        <Rejects>%3</Rejects>\n"
                                  "        <Bounces>%4</Bounces>\n"
                                  "        <Complaints>%5</Complaints>\n"
                                  "      </member>\n")
                       .arg(p.deliveryAttempts)
                       .arg(p.timestamp)
                       .arg(p.rejects)
                       .arg(p.bounces)
                       .arg(p.complaints);
    }
    return (QStringLiteral("<GetSendStatisticsResponse xmlns=\"http://ses.amazonaws.com/doc/2010-12-01/\">\n"
                           "  <GetSendStatisticsResult>\n"
                           "    <SendDataPoints>\n")
            + members
            + QStringLiteral("    </SendDataPoints>\n"
                             "  </GetSendStatisticsResult>\n"
                             "  <ResponseMetadata>\n"
                             "    <RequestId>c2b66ee5-c866-11e0-b17f-cddb0ab334db</RequestId>\n"
                             "  </ResponseMetadata>\n"
                             "</GetSendStatisticsResponse>\n"))
        .toUtf8();
}

QByteArray FakeSesServer::verifyDocument()
{
    return QByteArrayLiteral("<VerifyEmailAddressResponse xmlns=\"http://ses.amazonaws.com/doc/2010-12-01/\">\n"
                             "  <ResponseMetadata>\n"
                             "    <RequestId>8edd7eb2-c864-11e0-9f8f-3da8fc215a7e</RequestId>\n"
                             "  </ResponseMetadata>\n"
                             "</VerifyEmailAddressResponse>\n");
}

QByteArray FakeSesServer::errorDocument(const QString &code, const std::optional<QString> &message)
{
    QString text = QStringLiteral("<ErrorResponse xmlns=\"http://ses.amazonaws.com/doc/2010-12-01/\">\n"
                                  "  <Error>\n"
                                  "    <Type>Sender</Type>\n"
                                  "    <Code>%1</Code>\n")
                       .arg(code);
    if (message)
        text += QStringLiteral("    <Message>%1</Message>\n").arg(*message);
    text += QStringLiteral("  </Error>\n"
                           "  <RequestId>a8a5a8b6-c864-11e0-8d6f-43b0c6b4e1bd</RequestId>\n"
                           "</ErrorResponse>\n");
    return text.toUtf8();
}

QString pythonInterpreter()
{
    if (QFile::exists(QStringLiteral("/usr/bin/python3")))
        return QStringLiteral("/usr/bin/python3");
    return QStandardPaths::findExecutable(QStringLiteral("python3"));
}

namespace {

// Reads the request as JSON on standard input, prints the signature.
const char *const ReferenceSigV4 = R"PY(
import sys, json, hmac, hashlib, base64, re
from urllib.parse import quote
r = json.load(sys.stdin)
def mac(key, msg): return hmac.new(key, msg.encode(), hashlib.sha256).digest()
headers = {}
for name, value in r['headers']:
    headers.setdefault(name.lower(), []).append(' '.join(value.split()))
auth = headers['authorization'][0]
signed = re.search(r'SignedHeaders=([^,]+)', auth).group(1).split(';')
scope_in = re.search(r'Credential=[^/]+/([^,]+)', auth).group(1)
stamp = headers['x-amz-date'][0]
day = stamp[:8]
scope = '%s/%s/%s/aws4_request' % (day, r['region'], r['service'])
if scope_in != scope:
    print('scope-mismatch ' + scope_in)
    sys.exit(0)
query = '&'.join(sorted(quote(k, safe='-_.~') + '=' + quote(v, safe='-_.~') for k, v in r['query']))
path = '/'.join(quote(s, safe='-_.~') for s in r['path'].split('/')) or '/'
canonical = '\n'.join([r['method'], path, query,
                       ''.join('%s:%s\n' % (n, ','.join(headers[n])) for n in signed),
                       ';'.join(signed), hashlib.sha256(base64.b64decode(r['body'])).hexdigest()])
to_sign = '\n'.join(['AWS4-HMAC-SHA256', stamp, scope, hashlib.sha256(canonical.encode()).hexdigest()])
key = mac(('AWS4' + r['secret']).encode(), day)
for part in (r['region'], r['service'], 'aws4_request'):
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
    QJsonArray headers;
    for (const auto &[name, value] : request.headers)
        headers.append(QJsonArray{QString::fromLatin1(name), QString::fromLatin1(value)});
    QJsonArray query;
    QByteArray path = request.path;
    if (const qsizetype mark = path.indexOf('?'); mark >= 0) {
        for (const QByteArray &pair : path.mid(mark + 1).split('&')) {
            const QList<QByteArray> parts = pair.split('=');
            query.append(QJsonArray{QString::fromUtf8(QByteArray::fromPercentEncoding(parts.value(0))),
                                    QString::fromUtf8(QByteArray::fromPercentEncoding(parts.value(1)))});
        }
        path.truncate(mark);
    }
    const QJsonObject input{
        {QStringLiteral("method"), QString::fromLatin1(request.method)},
        {QStringLiteral("path"), QString::fromUtf8(QByteArray::fromPercentEncoding(path))},
        {QStringLiteral("query"), query},
        {QStringLiteral("headers"), headers},
        {QStringLiteral("body"), QString::fromLatin1(request.body.toBase64())},
        {QStringLiteral("secret"), QString::fromUtf8(secretKey)},
        {QStringLiteral("region"), QString::fromUtf8(region)},
        {QStringLiteral("service"), QString::fromUtf8(service)},
    };
    QProcess process;
    process.start(python, {QStringLiteral("-c"), QString::fromUtf8(ReferenceSigV4)});
    if (!process.waitForStarted(10000))
        return std::nullopt;
    process.write(QJsonDocument(input).toJson(QJsonDocument::Compact));
    process.closeWriteChannel();
    if (!process.waitForFinished(20000) || process.exitCode() != 0) {
        qWarning("reference signer failed: %s", process.readAllStandardError().constData());
        return std::nullopt;
    }
    return process.readAllStandardOutput().trimmed();
}

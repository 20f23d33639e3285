// The delivery run's costs, measured on a Release build:
//  1. building one SendRawEmail request (both bodies merged with a ten-column record, the
//     raw message, Base64, escaping, Signature Version 4) for a 20 KB HTML and a 2 KB text
//     body; target at least 5,000 per second on one core;
//  2. pacing against a local server: 20 s at 50 per second must start 1,000 ± 10 requests
//     and never more than 51 within any one second; 10 s at 1,000 per second must start
//     10,000 ± 1%;
//  3. the process's memory growth over a 100,000-recipient run against a local server;
//     target below 50 MB.
//
// The local server is an HTTP/1.1 keep-alive server on the loopback address in a thread
// of its own, answering every request with a short success document.
//
// Usage: bench_send [build|pacing|memory]... (all three when none is named)
//        BENCH_SEND_MEMORY_RATE sets the memory run's rate (default 1000 per second).

#include "BriskoConnector.h"
#include "MailHost.h"
#include "MimeMessage.h"
#include "SendRun.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <functional>

using namespace brisko;
using namespace Qt::StringLiterals;

namespace {

const QString Columns[] = {u"EMAIL"_s,   u"FIRSTNAME"_s, u"LASTNAME"_s, u"CITY"_s,   u"COMPANY"_s,
                           u"COUNTRY"_s, u"TITLE"_s,     u"CODE"_s,     u"COUPON"_s, u"SIGNUP_DATE"_s};

QString makeHtml()
{
    QString html =
        u"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>News for __FIRSTNAME__</title>\n"
        u"<style>.main_table { width: 600px; }</style></head>\n<body>\n"_s;
    int paragraph = 0;
    while (html.size() < 20 * 1024 - 200) {
        html +=
            QStringLiteral("<table class=\"main_table\"><tr><td><p>Dear __%1__, this is paragraph %3 of our "
                           "monthly letter, with news from __%2__ and an offer valid until the end of the "
                           "month.</p></td></tr></table>\n")
                .arg(Columns[paragraph % 10], Columns[(paragraph * 7 + 3) % 10])
                .arg(paragraph);
        ++paragraph;
    }
    return html + u"<p>Sent to __EMAIL__.</p>\n</body></html>\n"_s;
}

QString makeText()
{
    QString text = u"Dear __FIRSTNAME__ __LASTNAME__,\n\n"_s;
    while (text.size() < 2 * 1024 - 100)
        text += u"Here is what is new in __CITY__ this month for __COMPANY__; your code is __CODE__.\n"_s;
    return text + u"\nSent to __EMAIL__.\n"_s;
}

RecipientPtr makeRecord(int n)
{
    QList<std::pair<QString, QString>> entries;
    entries.append({Columns[0], u"reader%1@example.com"_s.arg(n)});
    for (int c = 1; c < 10; ++c)
        entries.append({Columns[c], u"%1 value %2"_s.arg(Columns[c].toLower()).arg(n)});
    return makeRecipient(entries);
}

AccountSettings benchSettings(const QString &endpoint)
{
    AccountSettings settings;
    settings.accessKey = u"AKIDBENCHMARK0000001"_s;
    settings.secretKey = u"bench/Secret+Key/000000000000000000000000"_s;
    settings.region = u"eu-west-1"_s;
    settings.endpoint = endpoint;
    settings.signatureVersion = AccountSettings::SignatureVersion::V4;
    return settings;
}

qint64 residentKb()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

// ---- The local server ----

class LocalServer : public QObject
{
public:
    void start()
    {
        m_server = new QTcpServer(this);
        m_server->listen(QHostAddress::LocalHost, 0);
        port = m_server->serverPort();
        connect(m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server->nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                connect(socket, &QTcpSocket::disconnected, socket, [this, socket] {
                    m_buffers.remove(socket);
                    socket->deleteLater();
                });
            }
        });
    }

    std::atomic<quint16> port = 0;
    std::atomic<qint64> served = 0;

private:
    void serve(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        static const QByteArray answer =
            "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 125\r\n\r\n"
            "<SendRawEmailResponse><SendRawEmailResult><MessageId>0000000000000000-bench</MessageId>"
            "</SendRawEmailResult></SendRawEmailResponse>";
        for (;;) {
            const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
            if (headEnd < 0)
                return;
            qsizetype length = 0;
            const qsizetype at = buffer.left(headEnd).toLower().indexOf("content-length:");
            if (at >= 0) {
                const qsizetype lineEnd = buffer.indexOf("\r\n", at);
                length = buffer.mid(at + 15, lineEnd - at - 15).trimmed().toLongLong();
            }
            if (buffer.size() < headEnd + 4 + length)
                return;
            buffer.remove(0, headEnd + 4 + length);
            socket->write(answer);
            ++served;
        }
    }

    QTcpServer *m_server = nullptr;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

struct ServerThread
{
    ServerThread()
    {
        server.moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(
            &server, [this] { server.start(); }, Qt::BlockingQueuedConnection);
    }
    ~ServerThread()
    {
        // The server and its sockets go in their own thread.
        QMetaObject::invokeMethod(
            &server, [this] { qDeleteAll(server.children()); }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    QString endpoint() const { return u"http://127.0.0.1:%1"_s.arg(server.port.load()); }

    QThread thread;
    LocalServer server;
};

// ---- The host of a measured run ----

class BenchHost : public MailHost
{
public:
    explicit BenchHost(double rate) : m_rate(rate) {}
    void setMax24Send(const std::optional<QString> &, const std::optional<QString> &,
                      const std::optional<QString> &) override
    {
    }
    void statisticsResponse(const QString &) override {}
    void showLoginFailure(const QString &, const std::optional<QString> &) override {}
    float timerValueForSendRate() const override { return float(1.0 / m_rate); }
    void sendProgress(qsizetype, qsizetype, const QString &) override
    {
        ++started;
        if (keepTimes)
            times.push_back(clock.nsecsElapsed());
    }
    void mailSendResponseFor(const QString &, const QString &response) override
    {
        ++(response.contains(u"ErrorResponse") ? failed : accepted);
    }
    void mailSendFailedFor(const QString &, const QString &failure) override
    {
        if (failed++ == 0)
            std::fprintf(stderr, "first failure: %s\n", qPrintable(failure));
    }
    void mailSendUnknownFor(const QString &, const QString &why) override
    {
        // Counted with the failures: neither was accepted.
        if (failed++ == 0)
            std::fprintf(stderr, "first unknown outcome: %s\n", qPrintable(why));
    }

    double m_rate;
    QElapsedTimer clock;
    bool keepTimes = true;
    std::vector<qint64> times;
    qint64 started = 0;
    qint64 accepted = 0;
    qint64 failed = 0;
};

// The most start times within any window of one second.
qsizetype mostInOneSecond(const std::vector<qint64> &times)
{
    qsizetype most = 0;
    std::size_t first = 0;
    for (std::size_t last = 0; last < times.size(); ++last) {
        while (times[last] - times[first] >= 1'000'000'000)
            ++first;
        most = std::max<qsizetype>(most, qsizetype(last - first + 1));
    }
    return most;
}

// ---- 1. Building requests ----

bool benchBuild()
{
    SendRun::RunInfo info;
    info.subject = u"Our news for March"_s;
    info.sender = u"Newsletter <news@example.com>"_s;
    info.replyTo = u"replies@example.com"_s;
    info.body = makeText();
    info.htmlMessage = makeHtml();
    const AccountSettings settings = benchSettings(u"https://email.eu-west-1.amazonaws.com"_s);
    RecipientList records;
    for (int n = 0; n < 100; ++n)
        records.append(makeRecord(n));

    qint64 bytes = 0;
    for (int n = 0; n < 200; ++n) // warm-up
        bytes += SendRun::buildRequest(settings, info, *records.at(n % 100)).body.size();
    const int count = 20000;
    QElapsedTimer timer;
    timer.start();
    for (int n = 0; n < count; ++n)
        bytes += SendRun::buildRequest(settings, info, *records.at(n % 100)).body.size();
    const double seconds = timer.nsecsElapsed() / 1e9;
    const double perSecond = count / seconds;

    // Where the time goes, stage by stage (each stage on its own, 2,000 times).
    const int stageCount = 2000;
    const BriskoConnector merger;
    QString mergedText, mergedHtml, message, data;
    const auto stage = [&](const char *name, const std::function<void(int)> &work) {
        QElapsedTimer t;
        t.start();
        for (int n = 0; n < stageCount; ++n)
            work(n);
        std::printf("  %-34s %8.1f us\n", name, t.nsecsElapsed() / 1e3 / stageCount);
    };
    std::printf("build, per request:\n");
    stage("merge of both bodies", [&](int n) {
        mergedText = merger.doGreps(info.body, *records.at(n % 100));
        mergedHtml = merger.doGreps(info.htmlMessage, *records.at(n % 100));
    });
    stage("raw message", [&](int n) {
        message = MimeMessage::createMessageTo(mergedText, mergedHtml, info.subject, info.sender,
                                               records.at(n % 100)->email(), info.replyTo, info.returnPath);
    });
    stage("Base64", [&](int) { data = MimeMessage::rawMessageData(message); });
    stage("escaping and Signature Version 4", [&](int n) {
        bytes += SesRequest::build(settings, u"SendRawEmail"_s,
                                   {{u"Destinations.member.1"_s, records.at(n % 100)->email()},
                                    {u"RawMessage.Data"_s, data}})
                     .body.size();
    });
    const bool ok = perSecond >= 5000;
    std::printf("build: %d requests (HTML %lld chars, text %lld chars, body %lld bytes each) in %.3f s: "
                "%.0f per second (target >= 5,000) %s\n",
                count, qlonglong(info.htmlMessage.size()), qlonglong(info.body.size()),
                qlonglong(bytes / (count + 200)), seconds, perSecond, ok ? "ok" : "MISSED");
    return ok;
}

// ---- 2 and 3. Runs against the local server ----

struct RunResult
{
    qint64 started = 0;
    qint64 accepted = 0;
    qint64 failed = 0;
    qsizetype mostInOneSecond = 0;
    double seconds = 0;
    qint64 baseKb = 0;
    qint64 peakKb = 0;
    qint64 endKb = 0;
};

// A run at `rate` per second over `count` recipients, stopped after `limitMs` (0: runs to
// its end); waits for every answer.
RunResult paceRun(double rate, int count, int limitMs, bool keepTimes, const QString &text,
                  const QString &html)
{
    ServerThread server;
    AccountSettings::Overrides overrides;
    overrides.endpoint = server.endpoint();
    overrides.region = u"eu-west-1"_s;
    AccountSettings::setOverrides(overrides);

    RecipientList records;
    records.reserve(count);
    for (int n = 0; n < count; ++n)
        records.append(makeRecord(n));

    BenchHost host(rate);
    host.keepTimes = keepTimes;
    if (keepTimes)
        host.times.reserve(std::size_t(rate * (limitMs / 1000.0 + 2)));
    MailHost::setShared(&host);
    RunResult result;
    result.baseKb = residentKb();
    result.peakKb = result.baseKb;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { result.peakKb = std::max(result.peakKb, residentKb()); });
    sampler.start(100);

    {
        BriskoConnector connector;
        QEventLoop loop;
        QObject::connect(&connector, &BriskoConnector::finished, &loop, &QEventLoop::quit);
        host.clock.start();
        connector.sendMessageToRecipients(text, html, u"Pacing"_s, u"bench@example.com"_s, records, QString(),
                                          std::nullopt);
        QElapsedTimer elapsed;
        elapsed.start();
        QTimer report;
        if (qEnvironmentVariableIsSet("BENCH_SEND_VERBOSE")) {
            QObject::connect(&report, &QTimer::timeout, [&] {
                std::fprintf(stderr,
                             "%6.1f s: %lld started, %lld answered, %lld in flight, resident %.1f MB\n",
                             elapsed.nsecsElapsed() / 1e9, qlonglong(host.started),
                             qlonglong(host.accepted + host.failed), qlonglong(connector.pendingResponses()),
                             residentKb() / 1024.0);
            });
            report.start(1000);
        }
        if (limitMs > 0)
            QTimer::singleShot(limitMs, &connector, [&connector] { connector.stopSending(); });
        loop.exec();
        result.seconds = elapsed.nsecsElapsed() / 1e9;
    }
    result.peakKb = std::max(result.peakKb, residentKb());
    result.endKb = residentKb();
    MailHost::setShared(nullptr);
    result.started = host.started;
    result.accepted = host.accepted;
    result.failed = host.failed;
    if (keepTimes) {
        // Only the first `limitMs` of starts count; the stop comes within a tick of it.
        result.mostInOneSecond = mostInOneSecond(host.times);
    }
    return result;
}

bool benchPacing()
{
    bool ok = true;
    const QString text = makeText();
    const QString html = makeHtml();
    {
        const RunResult r = paceRun(50, 5000, 20000, true, text, html);
        const bool good = std::abs(r.started - 1000) <= 10 && r.mostInOneSecond <= 51 && r.failed == 0;
        std::printf("pacing 50/s for 20 s: %lld started (target 1,000 +- 10), at most %lld in any one second "
                    "(target <= 51), %lld accepted, %lld failed %s\n",
                    qlonglong(r.started), qlonglong(r.mostInOneSecond), qlonglong(r.accepted),
                    qlonglong(r.failed), good ? "ok" : "MISSED");
        ok = ok && good;
    }
    {
        const RunResult r = paceRun(1000, 20000, 10000, true, text, html);
        const bool good = std::abs(r.started - 10000) <= 100 && r.failed == 0;
        std::printf("pacing 1000/s for 10 s: %lld started (target 10,000 +- 1%%), at most %lld in any one "
                    "second, %lld accepted, %lld failed %s\n",
                    qlonglong(r.started), qlonglong(r.mostInOneSecond), qlonglong(r.accepted),
                    qlonglong(r.failed), good ? "ok" : "MISSED");
        ok = ok && good;
    }
    return ok;
}

bool benchMemory()
{
    bool okRate = false;
    double rate = qEnvironmentVariable("BENCH_SEND_MEMORY_RATE").toDouble(&okRate);
    if (!okRate || rate <= 0)
        rate = 1000;
    bool okCount = false;
    int count = qEnvironmentVariable("BENCH_SEND_MEMORY_COUNT").toInt(&okCount);
    if (!okCount || count <= 0)
        count = 100000;
    const RunResult r = paceRun(rate, count, 0, false, makeText(), makeHtml());
    const double growthMb = (r.peakKb - r.baseKb) / 1024.0;
    const bool good = growthMb < 50 && r.accepted == count;
    std::printf("memory: %d recipients at %.0f/s in %.1f s: %lld accepted, %lld failed; resident %.1f MB "
                "before, %.1f MB at most, %.1f MB after: growth %.1f MB (target < 50) %s\n",
                count, rate, r.seconds, qlonglong(r.accepted), qlonglong(r.failed), r.baseKb / 1024.0,
                r.peakKb / 1024.0, r.endKb / 1024.0, growthMb, good ? "ok" : "MISSED");
    return good;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(u"brisko.*.info=false\nbrisko.*.debug=false"_s);
    QStringList parts = app.arguments().mid(1);
    if (parts.isEmpty())
        parts = {u"build"_s, u"pacing"_s, u"memory"_s};
    bool ok = true;
    for (const QString &part : parts) {
        if (part == u"build")
            ok = benchBuild() && ok;
        else if (part == u"pacing")
            ok = benchPacing() && ok;
        else if (part == u"memory")
            ok = benchMemory() && ok;
        else
            std::fprintf(stderr, "bench_send: unknown part %s (build, pacing, memory)\n", qPrintable(part));
        std::fflush(stdout);
    }
    return ok ? 0 : 1;
}

#include "CurlMultiDriver.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace brisko;

namespace {

// Answers every request "GET /<n>" with the body "<n>", after delayMs; counts the
// connections open at once.
class LoopbackServer : public QObject
{
public:
    int delayMs = 0;
    bool silent = false;
    int open = 0;
    int mostOpen = 0;
    int requests = 0;

    LoopbackServer()
    {
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                mostOpen = std::max(mostOpen, ++open);
                connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
                    --open;
                    socket->deleteLater();
                });
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { read(socket); });
            }
        });
    }
    QByteArray url(int n) const
    {
        return QByteArrayLiteral("http://127.0.0.1:") + QByteArray::number(m_server.serverPort()) + '/' +
               QByteArray::number(n);
    }

private:
    void read(QTcpSocket *socket)
    {
        QByteArray &buffer = m_buffers[socket];
        buffer += socket->readAll();
        qsizetype end;
        while ((end = buffer.indexOf("\r\n\r\n")) >= 0) {
            const QByteArray head = buffer.left(end);
            buffer.remove(0, end + 4);
            ++requests;
            if (silent)
                continue;
            const QByteArray body = head.split(' ').value(1).mid(1);
            const QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
                                      "\r\n\r\n" + body;
            QPointer<QTcpSocket> guard(socket);
            QTimer::singleShot(delayMs, this, [guard, answer] {
                if (guard)
                    guard->write(answer);
            });
        }
    }

    QTcpServer m_server;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

struct Easy
{
    CURL *handle = curl_easy_init();
    QByteArray body;
    ~Easy() { curl_easy_cleanup(handle); }

    static size_t write(char *data, size_t size, size_t count, void *self)
    {
        static_cast<Easy *>(self)->body.append(data, qsizetype(size * count));
        return size * count;
    }
    explicit Easy(const QByteArray &url)
    {
        curl_easy_setopt(handle, CURLOPT_URL, url.constData());
        curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &Easy::write);
        curl_easy_setopt(handle, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(handle, CURLOPT_NOSIGNAL, 1L);
    }
};

} // namespace

class TestCurlMultiDriver : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Many transfers over a capped number of connections: each completes once, with its
    // own body, never from inside add(), and the cap holds.
    void transfersCompleteWithinTheConnectionCap()
    {
        LoopbackServer server;
        server.delayMs = 20;
        CurlMultiDriver driver;
        QCOMPARE(driver.setOption(CURLMOPT_MAX_TOTAL_CONNECTIONS, 2), CURLM_OK);
        QSignalSpy idle(&driver, &CurlMultiDriver::idle);
        std::vector<std::unique_ptr<Easy>> transfers;
        QList<int> finished;
        bool inAdd = false;
        for (int n = 0; n < 12; ++n) {
            transfers.push_back(std::make_unique<Easy>(server.url(n)));
            inAdd = true;
            QCOMPARE(driver.add(transfers.back()->handle,
                                [&, n](CURLcode result) {
                                    QVERIFY(!inAdd);
                                    QCOMPARE(result, CURLE_OK);
                                    finished.append(n);
                                }),
                     CURLM_OK);
            inAdd = false;
        }
        QCOMPARE(driver.add(transfers.front()->handle, {}), CURLM_ADDED_ALREADY);
        QCOMPARE(driver.count(), 12);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 12, 10000);
        QCOMPARE(idle.count(), 1);
        QCOMPARE(driver.count(), 0);
        for (int n = 0; n < 12; ++n)
            QCOMPARE(transfers[size_t(n)]->body, QByteArray::number(n));
        QCOMPARE(server.requests, 12);
        QVERIFY2(server.mostOpen <= 2, qPrintable(QString::number(server.mostOpen)));
    }

    // Failures arrive through the callback: a refused connection, and curl's own timeout
    // (which only the driver's timer can notice, the server being silent).
    void failuresAndTimeouts()
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const QByteArray refusedUrl = "http://127.0.0.1:" + QByteArray::number(closed.serverPort()) + "/";
        closed.close();

        LoopbackServer server;
        server.silent = true;
        CurlMultiDriver driver;
        Easy refused(refusedUrl);
        Easy silent(server.url(1));
        curl_easy_setopt(silent.handle, CURLOPT_TIMEOUT_MS, 300L);
        std::optional<CURLcode> refusedResult, silentResult;
        driver.add(refused.handle, [&](CURLcode result) { refusedResult = result; });
        driver.add(silent.handle, [&](CURLcode result) { silentResult = result; });
        QTRY_VERIFY_WITH_TIMEOUT(refusedResult && silentResult, 5000);
        QCOMPARE(*refusedResult, CURLE_COULDNT_CONNECT);
        QCOMPARE(*silentResult, CURLE_OPERATION_TIMEDOUT);
        QCOMPARE(server.requests, 1);
    }

    // remove() takes a transfer back without its callback; a callback may re-add its own
    // handle, and may delete the driver while other transfers end in the same pass.
    void removeReaddAndDeleteFromCallback()
    {
        LoopbackServer server;
        {
            server.silent = true;
            CurlMultiDriver driver;
            Easy easy(server.url(1));
            bool called = false;
            driver.add(easy.handle, [&](CURLcode) { called = true; });
            QTRY_COMPARE(server.requests, 1);
            QVERIFY(driver.remove(easy.handle));
            QVERIFY(!driver.remove(easy.handle));
            QTest::qWait(100);
            QVERIFY(!called);
            // A removed handle can be used again.
            server.silent = false;
            driver.add(easy.handle, [&](CURLcode result) { called = result == CURLE_OK; });
            QTRY_VERIFY(called);
        }
        {
            auto *driver = new CurlMultiDriver;
            Easy easy(server.url(7));
            int rounds = 0;
            std::function<void(CURLcode)> again = [&](CURLcode result) {
                QCOMPARE(result, CURLE_OK);
                if (++rounds < 3) {
                    easy.body.clear();
                    QCOMPARE(driver->add(easy.handle, again), CURLM_OK);
                } else {
                    delete driver;
                    driver = nullptr;
                }
            };
            Easy other(server.url(8));
            driver->add(easy.handle, again);
            driver->add(other.handle, [](CURLcode) {});
            QTRY_COMPARE(rounds, 3);
            QVERIFY(!driver);
            QCOMPARE(easy.body, QByteArray("7"));
        }
    }
};

QTEST_GUILESS_MAIN(TestCurlMultiDriver)
#include "tst_curlmultidriver.moc"

#pragma once

#include <QHash>
#include <QObject>

#include <curl/curl.h>

#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace brisko {

// Runs libcurl transfers on the Qt event loop of the thread that made it: one curl multi
// handle, driven by socket notifiers for the sockets curl watches and one single-shot timer
// for curl's own timeouts. Nothing blocks and no thread is started; every callback comes
// from the event loop.
//
// The caller makes and configures its easy handles (any protocol curl speaks: HTTP, SMTP…)
// and owns them. add() hands one to the driver together with a completion callback:
//
//     CurlMultiDriver driver;
//     driver.setOption(CURLMOPT_MAX_TOTAL_CONNECTIONS, 4);
//     CURL *easy = curl_easy_init();
//     curl_easy_setopt(easy, CURLOPT_URL, "http://127.0.0.1:8080/");
//     driver.add(easy, [easy](CURLcode result) { …; curl_easy_cleanup(easy); });
//
// The callback runs once, from the event loop (never from inside add()), after the easy
// handle has left the multi handle: it may clean the handle up, reuse it, add() it or
// others again, remove() other handles, or delete the driver. remove() takes a handle back
// without calling its callback (a cancelled transfer); the handle stays the caller's.
// Destroying the driver removes every handle still running, without callbacks, and leaves
// the handles to their owners; clean them up after the driver, or before it after
// remove().
//
// Options of the multi handle (connection limits, pipelining, connection cache size) are
// set with setOption() or directly on multi(); the socket and timer callbacks belong to
// the driver and must not be replaced.
class CurlMultiDriver : public QObject
{
    Q_OBJECT

public:
    using Done = std::function<void(CURLcode result)>;

    explicit CurlMultiDriver(QObject *parent = nullptr);
    ~CurlMultiDriver() override;

    CurlMultiDriver(const CurlMultiDriver &) = delete;
    CurlMultiDriver &operator=(const CurlMultiDriver &) = delete;

    // Sets a long-valued option of the multi handle (CURLMOPT_MAX_TOTAL_CONNECTIONS,
    // CURLMOPT_MAX_HOST_CONNECTIONS, CURLMOPT_MAXCONNECTS, CURLMOPT_PIPELINING…).
    CURLMcode setOption(CURLMoption option, long value);
    CURLM *multi() const { return m_multi; }

    // Starts the transfer; `done` receives its result once it ends. Fails (and keeps no
    // reference to the handle) when curl refuses it, e.g. a handle already added.
    CURLMcode add(CURL *easy, Done done);
    // Takes a running transfer back without calling its callback; false when the handle
    // is not (or no longer) the driver's.
    bool remove(CURL *easy);
    bool contains(CURL *easy) const { return m_transfers.contains(easy); }
    // Transfers added and not yet finished or removed.
    qsizetype count() const { return m_transfers.size(); }

Q_SIGNALS:
    // Every transfer has finished or been removed.
    void idle();

private:
    struct Watch;

    static int socketCallback(CURL *easy, curl_socket_t socket, int what, void *driver, void *socketData);
    static int timerCallback(CURLM *multi, long timeoutMs, void *driver);

    void watch(curl_socket_t socket, int what, Watch *existing);
    void socketReady(curl_socket_t socket, int event);
    void timeout();
    void finishDone();

    CURLM *m_multi = nullptr;
    QTimer *m_timer = nullptr;
    QHash<CURL *, Done> m_transfers;
    QHash<curl_socket_t, Watch *> m_watches;
    // Cleared by the destructor, so that a callback that deletes the driver is noticed.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

} // namespace brisko

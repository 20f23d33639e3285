#include "CurlMultiDriver.h"

#include "platformlogging.h"

#include <QList>
#include <QSocketNotifier>
#include <QTimer>

#include <mutex>
#include <utility>

namespace brisko {

namespace {

void initialiseCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

// The notifiers of one socket curl watches. They have no parent: a transfer's callback may
// delete the driver while one of them is delivering its signal, so they are only ever
// disabled and deleted later.
struct CurlMultiDriver::Watch
{
    QSocketNotifier *read = nullptr;
    QSocketNotifier *write = nullptr;

    static void retire(QSocketNotifier *&notifier)
    {
        if (!notifier)
            return;
        notifier->setEnabled(false);
        notifier->disconnect();
        notifier->deleteLater();
        notifier = nullptr;
    }
    ~Watch()
    {
        retire(read);
        retire(write);
    }
};

CurlMultiDriver::CurlMultiDriver(QObject *parent) : QObject(parent)
{
    initialiseCurlOnce();
    m_multi = curl_multi_init();
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &CurlMultiDriver::timeout);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CurlMultiDriver::socketCallback);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CurlMultiDriver::timerCallback);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
}

CurlMultiDriver::~CurlMultiDriver()
{
    *m_alive = false;
    const QList<CURL *> running = m_transfers.keys();
    m_transfers.clear();
    for (CURL *easy : running)
        curl_multi_remove_handle(m_multi, easy);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, nullptr);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, nullptr);
    curl_multi_cleanup(m_multi);
    qDeleteAll(m_watches);
    m_watches.clear();
}

CURLMcode CurlMultiDriver::setOption(CURLMoption option, long value)
{
    return curl_multi_setopt(m_multi, option, value);
}

CURLMcode CurlMultiDriver::add(CURL *easy, Done done)
{
    if (!easy)
        return CURLM_BAD_EASY_HANDLE;
    if (m_transfers.contains(easy))
        return CURLM_ADDED_ALREADY;
    // Stored first: curl may call back into the driver from within add.
    m_transfers.insert(easy, std::move(done));
    const CURLMcode code = curl_multi_add_handle(m_multi, easy);
    if (code != CURLM_OK) {
        m_transfers.remove(easy);
        qCWarning(lcPlatform) << "curl refused a transfer:" << curl_multi_strerror(code);
    }
    return code;
}

bool CurlMultiDriver::remove(CURL *easy)
{
    if (!m_transfers.remove(easy))
        return false;
    curl_multi_remove_handle(m_multi, easy);
    if (m_transfers.isEmpty())
        Q_EMIT idle();
    return true;
}

int CurlMultiDriver::socketCallback(CURL *, curl_socket_t socket, int what, void *driver, void *socketData)
{
    static_cast<CurlMultiDriver *>(driver)->watch(socket, what, static_cast<Watch *>(socketData));
    return 0;
}

int CurlMultiDriver::timerCallback(CURLM *, long timeoutMs, void *driver)
{
    // curl must not be called back from here, so even "now" (0) goes through the loop.
    QTimer *timer = static_cast<CurlMultiDriver *>(driver)->m_timer;
    if (timeoutMs < 0)
        timer->stop();
    else
        timer->start(int(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void CurlMultiDriver::watch(curl_socket_t socket, int what, Watch *existing)
{
    if (what == CURL_POLL_REMOVE) {
        if (Watch *watch = m_watches.take(socket))
            delete watch;
        return;
    }
    Watch *watch = existing ? existing : m_watches.value(socket);
    if (!watch) {
        watch = new Watch;
        m_watches.insert(socket, watch);
        curl_multi_assign(m_multi, socket, watch);
    }
    const auto wanted = [&](QSocketNotifier *&notifier, QSocketNotifier::Type type, bool on, int event) {
        if (!on) {
            if (notifier)
                notifier->setEnabled(false);
            return;
        }
        if (!notifier) {
            notifier = new QSocketNotifier(qintptr(socket), type);
            connect(notifier, &QSocketNotifier::activated, this,
                    [this, socket, event] { socketReady(socket, event); });
        }
        notifier->setEnabled(true);
    };
    wanted(watch->read, QSocketNotifier::Read, what == CURL_POLL_IN || what == CURL_POLL_INOUT, CURL_CSELECT_IN);
    wanted(watch->write, QSocketNotifier::Write, what == CURL_POLL_OUT || what == CURL_POLL_INOUT,
           CURL_CSELECT_OUT);
}

void CurlMultiDriver::socketReady(curl_socket_t socket, int event)
{
    int running = 0;
    curl_multi_socket_action(m_multi, socket, event, &running);
    finishDone();
}

void CurlMultiDriver::timeout()
{
    int running = 0;
    curl_multi_socket_action(m_multi, CURL_SOCKET_TIMEOUT, 0, &running);
    finishDone();
}

void CurlMultiDriver::finishDone()
{
    // The messages do not outlive curl_multi_remove_handle(): copy them out first.
    QList<std::pair<CURL *, CURLcode>> ended;
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg == CURLMSG_DONE)
            ended.append({message->easy_handle, message->data.result});
    }
    if (ended.isEmpty())
        return;
    const std::shared_ptr<bool> alive = m_alive;
    for (const auto &[easy, result] : ended) {
        const auto found = m_transfers.find(easy);
        if (found == m_transfers.end())
            continue; // removed by an earlier callback
        Done done = std::move(*found);
        m_transfers.erase(found);
        curl_multi_remove_handle(m_multi, easy);
        if (done)
            done(result);
        if (!*alive)
            return;
    }
    if (m_transfers.isEmpty())
        Q_EMIT idle();
}

} // namespace brisko

#include "SecretStore.h"

#include "FennimarUserDefaults.h"
#include "maillogging.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <qt6keychain/keychain.h>

using namespace Qt::StringLiterals;

namespace brisko {

namespace SecretStore {

namespace {

int g_timeoutMs = 30000;

// Keys whose move to the keyring failed in this process: not tried again until it ends.
QSet<QString> &failedMoves()
{
    static QSet<QString> keys;
    return keys;
}

// Values read from or written to the keyring in this process.
QHash<QString, std::optional<QString>> &cache()
{
    static QHash<QString, std::optional<QString>> values;
    return values;
}

struct JobResult
{
    QKeychain::Error error = QKeychain::OtherError;
    QString errorString;
    QString text;
};

// Starts the job and waits for its end in a local event loop, at most timeoutMs().
JobResult runJob(QKeychain::Job *job, const std::function<QString(QKeychain::Job *)> &textOf = {})
{
    JobResult result;
    result.errorString = u"the keyring did not answer within %1 s"_s.arg(g_timeoutMs / 1000.0);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    QEventLoop loop;
    bool done = false;
    QObject::connect(job, &QKeychain::Job::finished, &loop, [&](QKeychain::Job *finished) {
        done = true;
        result.error = finished->error();
        result.errorString = finished->errorString();
        if (textOf && result.error == QKeychain::NoError)
            result.text = textOf(finished);
        loop.quit();
    });
    QTimer::singleShot(g_timeoutMs, &loop, &QEventLoop::quit);
    job->start();
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    return result;
}

std::optional<QString> fromPreferences(const QString &key)
{
    const QVariant value = FennimarUserDefaults::objectForKey(key);
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

bool preferencesHold(const QString &key)
{
    return FennimarUserDefaults::settings()->contains(key);
}

void storeInPreferences(const QString &key, const std::optional<QString> &value)
{
    const auto store = FennimarUserDefaults::settings();
    if (value)
        store->setValue(key, *value);
    else
        store->remove(key);
    store->sync();
}

// The keyring's item: its value, none when there is no such item; *error when the keyring
// failed.
std::optional<QString> readKeyring(const QString &key, QString *error)
{
    if (const auto cached = cache().constFind(key); cached != cache().cend())
        return *cached;
    auto *job = new QKeychain::ReadPasswordJob(ServiceName.toString());
    job->setKey(key);
    const JobResult result = runJob(job, [](QKeychain::Job *finished) {
        return static_cast<QKeychain::ReadPasswordJob *>(finished)->textData();
    });
    if (result.error == QKeychain::EntryNotFound) {
        cache().insert(key, std::nullopt);
        return std::nullopt;
    }
    if (result.error != QKeychain::NoError) {
        if (error)
            *error = u"the keyring could not give %1: %2"_s.arg(key, result.errorString);
        return std::nullopt;
    }
    cache().insert(key, result.text);
    return result.text;
}

bool writeKeyring(const QString &key, const std::optional<QString> &value, QString *error)
{
    cache().remove(key);
    JobResult result;
    if (value) {
        auto *job = new QKeychain::WritePasswordJob(ServiceName.toString());
        job->setKey(key);
        job->setTextData(*value);
        result = runJob(job);
    } else {
        auto *job = new QKeychain::DeletePasswordJob(ServiceName.toString());
        job->setKey(key);
        result = runJob(job);
        if (result.error == QKeychain::EntryNotFound)
            result.error = QKeychain::NoError;
    }
    if (result.error != QKeychain::NoError) {
        if (error)
            *error = u"the keyring could not store %1: %2"_s.arg(key, result.errorString);
        return false;
    }
    cache().insert(key, value);
    return true;
}

} // namespace

Place place()
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return Place::PreferencesFile;
    // Running now, not merely activatable: starting a keyring daemon on demand would ask the
    // user to unlock a keyring they do not use.
    const auto registered = bus.interface()->isServiceRegistered(u"org.freedesktop.secrets"_s);
    return registered.isValid() && registered.value() ? Place::Keyring : Place::PreferencesFile;
}

QString placeDescription(Place where)
{
    if (where == Place::Keyring)
        return u"Secrets are kept in the desktop keyring."_s;
    return u"No keyring is running: secrets are kept in %1, readable only by you."_s.arg(
        FennimarUserDefaults::settingsFilePath());
}

std::optional<QString> read(const QString &key, QString *error)
{
    if (place() == Place::Keyring) {
        QString failure;
        const auto value = readKeyring(key, &failure);
        if (value)
            return value;
        // A move that did not finish leaves the secret in the file.
        if (const auto stored = fromPreferences(key))
            return stored;
        if (!failure.isEmpty()) {
            qCWarning(lcMail).noquote() << failure;
            if (error)
                *error = failure;
        }
        return std::nullopt;
    }
    return fromPreferences(key);
}

bool write(const QString &key, const std::optional<QString> &value, QString *error)
{
    if (place() == Place::Keyring) {
        QString failure;
        if (writeKeyring(key, value, &failure)) {
            if (preferencesHold(key))
                storeInPreferences(key, std::nullopt);
            return true;
        }
        qCWarning(lcMail).noquote() << failure << "- kept in the preferences file instead";
        storeInPreferences(key, value);
        if (error)
            *error = failure;
        return false;
    }
    storeInPreferences(key, value);
    return true;
}

bool moveFromPreferences(const QStringList &keys, QString *error)
{
    QStringList waiting;
    for (const QString &key : keys) {
        if (!failedMoves().contains(key) && preferencesHold(key))
            waiting.append(key);
    }
    if (waiting.isEmpty() || place() != Place::Keyring)
        return true;
    bool allMoved = true;
    for (const QString &key : waiting) {
        const auto value = fromPreferences(key);
        QString failure;
        if (!writeKeyring(key, value, &failure)) {
            allMoved = false;
            failedMoves().insert(key);
            qCWarning(lcMail).noquote() << failure << "- left in the preferences file";
            if (error && error->isEmpty())
                *error = failure;
            continue;
        }
        // Removed from the file only once the keyring gives the same value back.
        cache().remove(key);
        QString readFailure;
        if (readKeyring(key, &readFailure) != value) {
            allMoved = false;
            failedMoves().insert(key);
            const QString why = readFailure.isEmpty()
                                    ? u"the keyring gave back another value for %1"_s.arg(key)
                                    : readFailure;
            qCWarning(lcMail).noquote() << why << "- left in the preferences file";
            if (error && error->isEmpty())
                *error = why;
            continue;
        }
        storeInPreferences(key, std::nullopt);
        qCInfo(lcMail).noquote() << u"%1 moved from the preferences file to the keyring"_s.arg(key);
    }
    return allMoved;
}

int timeoutMs()
{
    return g_timeoutMs;
}

void setTimeoutMs(int milliseconds)
{
    g_timeoutMs = milliseconds;
}

void clearCache()
{
    cache().clear();
    failedMoves().clear();
}

} // namespace SecretStore

} // namespace brisko

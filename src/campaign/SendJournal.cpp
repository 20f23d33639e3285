#include "SendJournal.h"

#include "campaignlogging.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace brisko {

namespace {

QString systemError(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

// One field of a line: tabs, line breaks and other control characters become spaces so
// that every event stays one line of four fields.
QByteArray field(const QString &text)
{
    QString clean = text;
    for (QChar &c : clean) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = u' ';
    }
    return clean.toUtf8();
}

QByteArray line(const QString &address, SendJournal::Event event, const QString &detail)
{
    const QByteArray time =
        QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toLatin1();
    return time + '\t' + field(address) + '\t' + SendJournal::eventName(event).toLatin1() + '\t' +
           field(detail) + '\n';
}

bool writeAll(int fd, const QByteArray &bytes, int *error)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

} // namespace

QString SendJournal::pathForCampaign(const QString &campaignPath)
{
    return campaignPath + u".sent"_s;
}

QString SendJournal::eventName(Event event)
{
    switch (event) {
    case Event::Sending:
        return u"sending"_s;
    case Event::Accepted:
        return u"accepted"_s;
    case Event::Failed:
        return u"failed"_s;
    case Event::Saved:
        return u"saved"_s;
    case Event::Retry:
        return u"retry"_s;
    case Event::Unknown:
        break;
    }
    return u"unknown"_s;
}

std::optional<SendJournal::Event> SendJournal::eventFromName(QStringView name)
{
    for (Event event : {Event::Sending, Event::Accepted, Event::Failed, Event::Unknown, Event::Saved, Event::Retry}) {
        if (name == eventName(event))
            return event;
    }
    return std::nullopt;
}

SendJournal::SendJournal(const QString &path) : m_path(path) {}

SendJournal::~SendJournal()
{
    if (isOpen()) {
        flush();
        close();
    }
}

bool SendJournal::open()
{
    if (isOpen())
        return true;
    const QByteArray native = QFile::encodeName(m_path);
    m_fd = ::open(native.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        m_error = u"cannot open the send journal %1: %2"_s.arg(m_path, systemError(errno));
        qCWarning(lcCampaign).noquote() << m_error;
        return false;
    }
    m_error.clear();
    return true;
}

void SendJournal::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool SendJournal::writeAndSync()
{
    if (!isOpen()) {
        if (m_error.isEmpty())
            m_error = u"the send journal %1 is not open"_s.arg(m_path);
        return false;
    }
    int error = 0;
    const bool written = m_pending.isEmpty() || writeAll(m_fd, m_pending, &error);
    if (written)
        ++m_syncs;
    if (!written) {
        m_error = u"cannot write the send journal %1: %2"_s.arg(m_path, systemError(error));
    } else if (::fdatasync(m_fd) != 0) {
        m_error = u"cannot write the send journal %1 to disk: %2"_s.arg(m_path, systemError(errno));
    } else {
        m_pending.clear();
        m_sinceSync.start();
        return true;
    }
    qCWarning(lcCampaign).noquote() << m_error;
    // Nothing more goes into a journal that failed once: its end may be torn.
    close();
    return false;
}

bool SendJournal::recordSending(const QStringList &addresses)
{
    for (const QString &address : addresses)
        m_pending += line(address, Event::Sending, QString());
    return writeAndSync();
}

bool SendJournal::recordOutcome(const QString &address, Event event, const QString &detail)
{
    if (!isOpen())
        return false;
    m_pending += line(address, event, detail);
    if (m_sinceSync.isValid() && m_sinceSync.elapsed() < SyncIntervalMs)
        return true;
    return writeAndSync();
}

int SendJournal::msUntilSyncDue() const
{
    if (!m_sinceSync.isValid())
        return 0;
    return int(std::max<qint64>(0, SyncIntervalMs - m_sinceSync.elapsed()));
}

bool SendJournal::flush()
{
    if (m_pending.isEmpty())
        return isOpen() || m_error.isEmpty();
    return writeAndSync();
}

std::optional<QString> SendJournal::move(const QString &from, const QString &to)
{
    if (from == to || !QFileInfo::exists(from))
        return std::nullopt;
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        return u"cannot read %1: %2"_s.arg(from, source.errorString());
    const QByteArray bytes = source.readAll();
    if (source.error() != QFileDevice::NoError)
        return u"cannot read %1: %2"_s.arg(from, source.errorString());
    source.close();
    SendJournal target(to);
    if (!target.open())
        return target.errorString();
    target.m_pending = bytes;
    if (!target.writeAndSync())
        return target.errorString();
    target.close();
    if (!QFile::remove(from))
        qCWarning(lcCampaign).noquote() << "could not remove the moved send journal" << from;
    return std::nullopt;
}

SendJournal::Replay SendJournal::read(const QString &path)
{
    Replay replay;
    QFile file(path);
    if (!file.exists())
        return replay;
    if (!file.open(QIODevice::ReadOnly)) {
        replay.error = u"cannot read the send journal %1: %2"_s.arg(path, file.errorString());
        return replay;
    }
    // A save into the outbox reached nobody, yet it must not hide that an earlier run did
    // reach the recipient: the outcome before each address's latest "sending" is kept for it.
    QHash<QString, Entry> beforeSending;
    QSet<QString> inFlight; // addresses whose last line is "sending"
    qint64 consumed = 0;
    QByteArray buffer;
    buffer.resize(MaxLineBytes + 2);
    while (!file.atEnd()) {
        if (consumed >= MaxReadBytes) {
            replay.truncated = true;
            break;
        }
        const qint64 got = file.readLine(buffer.data(), buffer.size());
        if (got <= 0)
            break;
        consumed += got;
        const QByteArrayView text(buffer.constData(), got);
        ++replay.lines;
        if (!text.endsWith('\n')) {
            if (got >= MaxLineBytes) {
                // Too long: skip the rest of it.
                ++replay.malformed;
                char c = 0;
                while (file.getChar(&c) && c != '\n')
                    ++consumed;
                continue;
            }
            // A last line without its line break was torn by a crash mid-write.
            ++replay.malformed;
            continue;
        }
        const QList<QByteArrayView> fields = [&] {
            QList<QByteArrayView> parts;
            qsizetype start = 0;
            const QByteArrayView body = text.chopped(1);
            for (qsizetype i = 0; i <= body.size(); ++i) {
                if (i == body.size() || body[i] == '\t') {
                    parts.append(body.sliced(start, i - start));
                    start = i + 1;
                }
            }
            return parts;
        }();
        const auto event = fields.size() == 4 ? eventFromName(QString::fromLatin1(fields[2])) : std::nullopt;
        if (!event || fields[1].isEmpty()) {
            ++replay.malformed;
            continue;
        }
        Entry entry;
        entry.time = QString::fromUtf8(fields[0]);
        entry.detail = QString::fromUtf8(fields[3]);
        const QString address = QString::fromUtf8(fields[1]);
        if (*event == Event::Retry) {
            // The request of the "sending" before had no outcome: back to where the address
            // stood before it. A retry with no request in flight changes nothing.
            if (inFlight.remove(address)) {
                if (const auto before = beforeSending.constFind(address); before != beforeSending.constEnd())
                    replay.outcomes.insert(address, *before);
                else
                    replay.outcomes.remove(address);
            }
            continue;
        }
        const auto earlier = replay.outcomes.constFind(address);
        switch (*event) {
        case Event::Accepted:
            entry.outcome = Outcome::Accepted;
            break;
        case Event::Failed:
            entry.outcome = Outcome::Failed;
            break;
        case Event::Saved: {
            std::optional<Entry> before;
            if (inFlight.contains(address)) {
                if (const auto it = beforeSending.constFind(address); it != beforeSending.constEnd())
                    before = *it;
            } else if (earlier != replay.outcomes.constEnd()) {
                before = *earlier;
            }
            if (before && reachedRecipient(before->outcome)) {
                entry = *before;
            } else {
                entry.outcome = Outcome::Saved;
            }
            break;
        }
        case Event::Sending:
            // Also after a "sending" left without an answer: that one stays unknown.
            if (earlier != replay.outcomes.constEnd())
                beforeSending.insert(address, *earlier);
            else
                beforeSending.remove(address);
            inFlight.insert(address);
            entry.outcome = Outcome::Unknown;
            break;
        case Event::Unknown:
        case Event::Retry:
            entry.outcome = Outcome::Unknown;
            break;
        }
        if (*event != Event::Sending)
            inFlight.remove(address);
        replay.outcomes.insert(address, entry);
    }
    if (file.error() != QFileDevice::NoError)
        replay.error = u"cannot read the send journal %1: %2"_s.arg(path, file.errorString());
    return replay;
}

} // namespace brisko

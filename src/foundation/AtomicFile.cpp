#include "AtomicFile.h"

#include "foundationlogging.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AtomicFile {

namespace {

FailureHook &hook()
{
    static FailureHook installed;
    return installed;
}

// The errno the hook asks for at this step, 0 when none.
int injected(Step step)
{
    const FailureHook &h = hook();
    return h ? h(step) : 0;
}

QString reasonOf(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Writes per call at most this much, so a failure can strike between parts.
constexpr qsizetype WriteChunk = 1 << 20;

// The temporary file: created, then removed again unless it was renamed into place.
class Temporary
{
public:
    ~Temporary()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_name.isEmpty())
            ::unlink(m_name.constData());
    }

    // Creates ".<name>.<random>" beside the target; returns errno, 0 on success.
    int create(const QString &folder, const QString &fileName, mode_t mode)
    {
        if (const int error = injected(Step::Create))
            return error;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const QString candidate = QStringLiteral("%1/.%2.%3")
                                          .arg(folder, fileName)
                                          .arg(QRandomGenerator::global()->generate(), 8, 16, QChar(u'0'));
            const QByteArray encoded = QFile::encodeName(candidate);
            const int fd = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd >= 0) {
                m_fd = fd;
                m_name = encoded;
                return 0;
            }
            if (errno != EEXIST)
                return errno;
        }
        return EEXIST;
    }

    int fd() const { return m_fd; }
    const QByteArray &name() const { return m_name; }

    // Closes the descriptor; returns errno, 0 on success.
    int close()
    {
        const int error = injected(Step::Close);
        const int result = ::close(m_fd);
        m_fd = -1;
        if (error)
            return error;
        return result == 0 ? 0 : errno;
    }

    // The file now lives under the target's name: nothing left to remove.
    void release() { m_name.clear(); }

private:
    int m_fd = -1;
    QByteArray m_name;
};

// A temporary file of a write that never finished (the process was killed mid-write) is
// removed by the next complete write of the same file, once it is an hour old: a younger
// one may belong to a write still under way in another process.
void removeAbandoned(const QString &folder, const QString &fileName)
{
    const QString prefix = u'.' + fileName + u'.';
    const QDateTime hourAgo = QDateTime::currentDateTimeUtc().addSecs(-3600);
    const QDir dir(folder);
    for (const QFileInfo &entry : dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks)) {
        const QString name = entry.fileName();
        if (name.size() != prefix.size() + 8 || !name.startsWith(prefix))
            continue;
        const QStringView suffix = QStringView(name).sliced(prefix.size());
        const bool hex = std::all_of(suffix.begin(), suffix.end(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
        });
        if (hex && entry.lastModified() < hourAgo && QFile::remove(entry.filePath()))
            qCInfo(lcFoundation).noquote() << "AtomicFile.write - removed an abandoned temporary file"
                                           << entry.filePath();
    }
}

int writeAll(int fd, QByteArrayView bytes)
{
    const char *p = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        if (const int error = injected(Step::Write))
            return error;
        const ssize_t done = ::write(fd, p, size_t(std::min(left, WriteChunk)));
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (done == 0)
            return EIO;
        p += done;
        left -= done;
    }
    return 0;
}

} // namespace

void setFailureHookForTesting(FailureHook installed)
{
    hook() = std::move(installed);
}

std::optional<QString> write(const QString &path, QByteArrayView bytes)
{
    QString target = path;
    const QFileInfo link(path);
    if (link.isSymLink())
        target = link.symLinkTarget();
    const QFileInfo info(target);
    const QString folder = info.absolutePath();

    // An existing file keeps its permissions; umask does not apply to fchmod.
    struct stat old = {};
    const bool replacing = ::stat(QFile::encodeName(target).constData(), &old) == 0;
    if (replacing && !S_ISREG(old.st_mode))
        return QStringLiteral("not a regular file");
    const mode_t mode = replacing ? (old.st_mode & 07777) : 0666;

    Temporary temporary;
    if (const int error = temporary.create(folder, info.fileName(), mode))
        return reasonOf(error);
    if (replacing && ::fchmod(temporary.fd(), mode) != 0)
        return reasonOf(errno);
    if (const int error = writeAll(temporary.fd(), bytes))
        return reasonOf(error);
    if (const int error = injected(Step::Sync))
        return reasonOf(error);
    if (::fsync(temporary.fd()) != 0)
        return reasonOf(errno);
    struct stat written = {};
    if (::fstat(temporary.fd(), &written) != 0)
        return reasonOf(errno);
    if (qint64(written.st_size) != qint64(bytes.size())) {
        qCWarning(lcFoundation).noquote() << "AtomicFile.write -" << target << "holds" << qint64(written.st_size)
                                          << "bytes of" << bytes.size() << "after writing";
        return QStringLiteral("the file on disk is %1 bytes long instead of %2")
            .arg(qint64(written.st_size))
            .arg(bytes.size());
    }
    if (const int error = temporary.close())
        return reasonOf(error);
    if (const int error = injected(Step::Rename))
        return reasonOf(error);
    if (::rename(temporary.name().constData(), QFile::encodeName(target).constData()) != 0)
        return reasonOf(errno);
    temporary.release();

    // The rename is done; syncing the folder makes it last through a crash. A folder that
    // cannot be synced (some file systems refuse) does not undo a complete write.
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        if (::fsync(dir) != 0 && errno != EINVAL)
            qCWarning(lcFoundation).noquote() << "AtomicFile.write - could not sync the folder of" << target
                                              << reasonOf(errno);
        ::close(dir);
    }
    removeAbandoned(folder, info.fileName());
    return std::nullopt;
}

} // namespace AtomicFile

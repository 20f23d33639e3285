#include "Outbox.h"

#include "SmtpClient.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace brisko::Outbox {

QString fileName(qsizetype row, const QString &address, qsizetype rows)
{
    const int width = std::max(4, int(QString::number(std::max(rows, row)).size()));
    // "Name <address>" is named after the address alone.
    const QString bare = SmtpMessage::addressOf(address).value_or(address);
    QString safe;
    safe.reserve(bare.size());
    for (const QChar c : bare) {
        const char16_t u = c.unicode();
        const bool plain = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                           u == u'@' || u == u'.' || u == u'_' || u == u'+' || u == u'-';
        safe += plain ? c : u'_';
    }
    if (safe.startsWith(u'.'))
        safe[0] = u'_';
    safe.truncate(100);
    if (safe.isEmpty())
        safe = u"no-address"_s;
    return u"%1-%2.eml"_s.arg(row, width, 10, QChar(u'0')).arg(safe);
}

WriteResult writeMessage(const QString &folder, const QString &name, const QByteArray &message)
{
    WriteResult result;
    result.path = QDir(folder).filePath(name);
    if (folder.isEmpty()) {
        result.failure = u"No outbox folder is set."_s;
        return result;
    }
    const QFileInfo info(folder);
    if (info.exists() && !info.isDir()) {
        result.failure = u"The outbox %1 is not a folder."_s.arg(QDir::toNativeSeparators(folder));
        return result;
    }
    if (!info.exists() && !QDir().mkpath(folder)) {
        result.failure = u"The outbox folder %1 could not be made."_s.arg(QDir::toNativeSeparators(folder));
        return result;
    }
    QSaveFile file(result.path);
    const auto failed = [&](const QString &what) {
        result.failure = u"%1 could not be written: %2"_s.arg(QDir::toNativeSeparators(result.path), what);
        return result;
    };
    if (!file.open(QIODevice::WriteOnly))
        return failed(file.errorString());
    if (file.write(message) != message.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return failed(error);
    }
    if (!file.commit())
        return failed(file.errorString());
    result.ok = true;
    return result;
}

} // namespace brisko::Outbox

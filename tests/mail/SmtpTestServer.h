#pragma once

// The loopback mail server of the SMTP tests (smtp_server.py on Python's aiosmtpd), started
// by the test and ended with it, and the same script's reader of .eml files.

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

class SmtpTestServer
{
public:
    ~SmtpTestServer()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }

    // The Debian interpreter first: aiosmtpd comes as a Debian package.
    static QString python()
    {
        if (QFile::exists(QStringLiteral("/usr/bin/python3")))
            return QStringLiteral("/usr/bin/python3");
        return QStandardPaths::findExecutable(QStringLiteral("python3"));
    }

    // Starts "serve" with the options; an empty reason when it listens, else why not.
    QString start(const QStringList &options = {})
    {
        m_process.setProcessChannelMode(QProcess::SeparateChannels);
        m_process.start(python(),
                        QStringList{QStringLiteral(BRISKO_SMTP_SERVER_SCRIPT), QStringLiteral("serve")} +
                            options);
        if (!m_process.waitForStarted(5000))
            return QStringLiteral("python3 does not start");
        while (m_process.canReadLine() || m_process.waitForReadyRead(10000)) {
            if (!m_process.canReadLine())
                continue;
            const QJsonObject line = QJsonDocument::fromJson(m_process.readLine()).object();
            if (line.contains(QStringLiteral("missing")))
                return QStringLiteral("Python's aiosmtpd is not installed (python3-aiosmtpd)");
            if (line.contains(QStringLiteral("ready"))) {
                m_port = quint16(line.value(QStringLiteral("ready")).toInt());
                return {};
            }
        }
        return QStringLiteral("the mail server did not start: ") +
               QString::fromUtf8(m_process.readAllStandardError());
    }

    quint16 port() const { return m_port; }

    // The messages received so far, waiting up to `timeoutMs` for `count` of them.
    QList<QJsonObject> messages(int count = 0, int timeoutMs = 5000)
    {
        QDeadlineTimer deadline(timeoutMs);
        while (true) {
            while (m_process.canReadLine())
                m_messages.append(QJsonDocument::fromJson(m_process.readLine()).object());
            if (m_messages.size() >= count || deadline.hasExpired())
                break;
            m_process.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
        }
        return m_messages;
    }

    // Each file as an independent MIME reader (Python's email package) sees it.
    static QList<QJsonObject> parse(const QStringList &files)
    {
        QProcess process;
        process.start(python(),
                      QStringList{QStringLiteral(BRISKO_SMTP_SERVER_SCRIPT), QStringLiteral("parse")} +
                          files);
        process.waitForFinished(20000);
        QList<QJsonObject> parsed;
        for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
            if (!line.isEmpty())
                parsed.append(QJsonDocument::fromJson(line).object());
        }
        return parsed;
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
    QList<QJsonObject> m_messages;
};

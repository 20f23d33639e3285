#pragma once

// Runs the built brisko-cli (BRISKO_CLI) as a script would, with standard input closed.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

struct Run
{
    int status = -1; // -1: crashed or still running after a minute
    QString out;
    QString err;
};

// Preferences come from `home` when given, AWS_* only from `env` ("NAME=value").
inline QProcessEnvironment cliEnvironment(const QString &home = {}, const QStringList &env = {})
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString &name : {u"AWS_ACCESS_KEY_ID"_s, u"AWS_SECRET_ACCESS_KEY"_s, u"AWS_SESSION_TOKEN"_s,
                                u"AWS_REGION"_s, u"AWS_DEFAULT_REGION"_s, u"AWS_PROFILE"_s,
                                u"AWS_SHARED_CREDENTIALS_FILE"_s, u"AWS_CONFIG_FILE"_s})
        environment.remove(name);
    if (!home.isEmpty())
        environment.insert(u"XDG_CONFIG_HOME"_s, home + u"/.config"_s);
    for (const QString &pair : env)
        environment.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    return environment;
}

// The event loop runs meanwhile, so a stand-in server can answer.
inline Run cli(const QStringList &arguments, const QString &home = {}, const QStringList &env = {},
               const QString &folder = {})
{
    QProcess process;
    process.setProcessEnvironment(cliEnvironment(home, env));
    process.setWorkingDirectory(folder);
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(qEnvironmentVariable("BRISKO_CLI"), arguments);
    process.closeWriteChannel();
    Run run;
    if (finished.isEmpty() && !finished.wait(60000))
        return run; // killed as `process` goes
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QVERIFY(QDir().mkpath(path.section(u'/', 0, -2)));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
    // Preferences hold a secret: the program keeps them owner-only, and so do the fixtures.
    if (path.endsWith(u"/Brisko.conf"_s))
        QVERIFY(file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
}

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The outbox transport: the files of a run read back by an independent MIME reader, their
// names, and a folder that cannot be written.

#include "MailHost.h"
#include "Outbox.h"
#include "OutboxConnector.h"
#include "SmtpTestServer.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

namespace {

class OutboxHost : public MailHost
{
public:
    void setMax24Send(const std::optional<QString> &, const std::optional<QString> &,
                      const std::optional<QString> &) override
    {
    }
    void statisticsResponse(const QString &) override {}
    void showLoginFailure(const QString &, const std::optional<QString> &) override {}
    void sendProgress(qsizetype, qsizetype, const QString &address) override { progress.append(address); }
    bool willSend(const QStringList &addresses) override
    {
        announced.append(addresses.join(u','));
        // Each message is announced on its own, after the one before it was written.
        if (QDir(folder).entryList(QDir::Files).size() != announced.size() - 1)
            order = false;
        return announced.size() != refuseAt;
    }
    void mailSavedFor(const QString &address, const QString &path) override { saved.append({address, path}); }
    void mailSendFailedFor(const QString &address, const QString &failure) override
    {
        failed.append({address, failure});
    }
    QStringList progress;
    QList<std::pair<QString, QString>> saved, failed;
    QStringList announced;
    QString folder;
    bool order = true;
    qsizetype refuseAt = -1;
};

RecipientList campaign()
{
    return {makeRecipient({{u"EMAIL"_s, u"ann@example.com"_s}, {u"NAME"_s, u"Ann"_s}}),
            makeRecipient({{u"EMAIL"_s, u"bob@example.com"_s}, {u"NAME"_s, u"Bob"_s}}),
            makeRecipient({{u"EMAIL"_s, u"ann@example.com"_s}, {u"NAME"_s, u"Ann again"_s}}),
            makeRecipient({{u"EMAIL"_s, u"Zoë <zoe@example.com>"_s}, {u"NAME"_s, u"Zoë"_s}})};
}

void runInto(OutboxConnector &connector, const RecipientList &list)
{
    QSignalSpy finished(&connector, &BriskoConnector::finished);
    connector.sendMessageToRecipients(u"Hello __NAME__,\nsee you."_s, u"<p>Hello <b>__NAME__</b></p>"_s,
                                      u"Spring news für __NAME__"_s, u"Shop <shop@example.com>"_s, list,
                                      u"reply@example.com"_s, std::nullopt);
    QVERIFY(finished.wait(10000));
}

} // namespace

class TestOutbox : public QObject
{
    Q_OBJECT

    OutboxHost m_host;

private Q_SLOTS:
    void init()
    {
        m_host = OutboxHost();
        MailHost::setShared(&m_host);
    }
    void cleanup() { MailHost::setShared(nullptr); }

    void writesMessagesAMailReaderReads()
    {
        QTemporaryDir dir;
        const RecipientList rows = campaign();
        // The selection: rows 2, 3 and 4 of the campaign.
        OutboxConnector connector(dir.filePath(u"proofs"_s), rows);
        runInto(connector, rows.mid(1));

        const QStringList names{u"0002-bob@example.com.eml"_s, u"0003-ann@example.com.eml"_s,
                                u"0004-zoe@example.com.eml"_s};
        QCOMPARE(QDir(dir.filePath(u"proofs"_s)).entryList(QDir::Files), names);
        QCOMPARE(m_host.failed.size(), 0);
        QCOMPARE(m_host.saved.size(), 3);
        QCOMPARE(m_host.saved.at(1).first, u"ann@example.com"_s);
        QCOMPARE(QFileInfo(m_host.saved.at(1).second).fileName(), names.at(1));

        QStringList paths;
        for (const QString &name : names)
            paths.append(dir.filePath(u"proofs/"_s + name));
        const QList<QJsonObject> parsed = SmtpTestServer::parse(paths);
        if (parsed.isEmpty())
            QSKIP("python3 is not available to read the files back");
        QCOMPARE(parsed.size(), 3);
        const QStringList to{u"bob@example.com"_s, u"ann@example.com"_s, u"Zoë <zoe@example.com>"_s};
        const QStringList who{u"Bob"_s, u"Ann again"_s, u"Zoë"_s};
        for (int i = 0; i < 3; ++i) {
            const QJsonObject m = parsed.at(i);
            QCOMPARE(m.value(u"defects").toInt(), 0);
            QCOMPARE(m.value(u"to").toString(), to.at(i));
            QCOMPARE(m.value(u"from").toString(), u"Shop <shop@example.com>"_s);
            QCOMPARE(m.value(u"subject").toString(), u"Spring news für __NAME__"_s);
            QCOMPARE(m.value(u"content_type").toString(), u"multipart/alternative"_s);
            QCOMPARE(m.value(u"text").toString().trimmed(), u"Hello %1,\nsee you."_s.arg(who.at(i)));
        }
    }

    // Every file is announced (willSend) before it is written; a refusal writes nothing
    // more and leaves the rest in the queue.
    void eachFileIsAnnouncedBeforeItIsWritten()
    {
        QTemporaryDir dir;
        m_host.folder = dir.filePath(u"proofs"_s);
        m_host.refuseAt = 3;
        OutboxConnector connector(m_host.folder, campaign());
        runInto(connector, campaign());
        QVERIFY(m_host.order);
        QCOMPARE(m_host.announced,
                 (QStringList{u"ann@example.com"_s, u"bob@example.com"_s, u"ann@example.com"_s}));
        QCOMPARE(m_host.saved.size(), 2);
        QCOMPARE(QDir(m_host.folder).entryList(QDir::Files).size(), 2);
        QCOMPARE(connector.userInfo().recipients.size(), 2);
    }

    void aFileThatCannotBeWrittenIsAFailure()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(u"not-a-folder"_s));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        OutboxConnector connector(blocker.fileName(), campaign());
        runInto(connector, campaign().mid(0, 2));
        // Every recipient is told, with the reason; the run still ends.
        QCOMPARE(m_host.saved.size(), 0);
        QCOMPARE(m_host.failed.size(), 2);
        QCOMPARE(m_host.progress.size(), 2);
        QVERIFY2(m_host.failed.at(0).second.contains(u"not a folder"),
                 qPrintable(m_host.failed.at(0).second));
    }

    void fileNames_data()
    {
        QTest::addColumn<qsizetype>("row");
        QTest::addColumn<QString>("address");
        QTest::addColumn<qsizetype>("rows");
        QTest::addColumn<QString>("name");
        QTest::newRow("wide list") << qsizetype(7) << u"a@x.org"_s << qsizetype(12345)
                                   << u"00007-a@x.org.eml"_s;
        QTest::newRow("path and hidden")
            << qsizetype(1) << u"../../etc/passwd"_s << qsizetype(1) << u"0001-_._.._etc_passwd.eml"_s;
        QTest::newRow("empty") << qsizetype(2) << QString() << qsizetype(2) << u"0002-no-address.eml"_s;
    }
    void fileNames()
    {
        QFETCH(qsizetype, row);
        QFETCH(QString, address);
        QFETCH(qsizetype, rows);
        QFETCH(QString, name);
        QCOMPARE(Outbox::fileName(row, address, rows), name);
    }
};

QTEST_GUILESS_MAIN(TestOutbox)
#include "tst_outbox.moc"

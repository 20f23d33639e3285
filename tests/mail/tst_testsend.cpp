// Message tags and the configuration set on the wire, and test sends: what reaches the stand-in
// service, that its signature still holds, and that a test send answers nobody but itself.

#include "BriskoConnector.h"
#include "FakeSesServer.h"
#include "FennimarUserDefaults.h"
#include "MailHost.h"
#include "SendRun.h"
#include "TestSend.h"

#include <QDir>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

namespace {

// The shared host: a test send must never call it.
class CountingHost : public MailHost
{
public:
    void setMax24Send(const std::optional<QString> &, const std::optional<QString> &,
                      const std::optional<QString> &) override
    {
        ++calls;
    }
    void statisticsResponse(const QString &) override { ++calls; }
    void showLoginFailure(const QString &, const std::optional<QString> &) override { ++calls; }
    float timerValueForSendRate() const override { return 0.01f; }
    bool willSend(const QStringList &) override { return ++calls, true; }
    void mailSendResponseFor(const QString &, const QString &) override { ++calls; }
    void mailSendFailedFor(const QString &, const QString &) override { ++calls; }
    void mailSendUnknownFor(const QString &, const QString &) override { ++calls; }
    void mailSavedFor(const QString &, const QString &) override { ++calls; }
    void sendRunEnded(const std::optional<QString> &) override { ++calls; }
    int calls = 0;
};

void store(QStringView key, const std::optional<QString> &value)
{
    if (value)
        FennimarUserDefaults::setObject(*value, key.toString());
    else
        FennimarUserDefaults::settings()->remove(key.toString());
}

const QByteArray SendAnswer = "<SendRawEmailResponse><SendRawEmailResult><MessageId>0100-test</MessageId>"
                              "</SendRawEmailResult></SendRawEmailResponse>\n";
const QString Secret = u"Test/Send+Secret00000000000000000000000"_s;

SendRun::RunInfo message()
{
    SendRun::RunInfo info;
    info.subject = u"Spring offer"_s;
    info.sender = u"Ann <ann@example.com>"_s;
    info.body = u"Dear __NAME__ (__EMAIL__)"_s;
    info.htmlMessage = u"<p>Dear __NAME__</p>"_s;
    info.campaignName = u"Spring"_s;
    return info;
}

QString rawMessage(const RecordedRequest &request)
{
    return QString::fromUtf8(QByteArray::fromBase64(request.form().value(u"RawMessage.Data"_s).toLatin1()));
}

QStringList sentTo(const FakeSesServer &server)
{
    QStringList addresses;
    for (const RecordedRequest &request : server.requests())
        addresses.append(request.form().value(u"Destinations.member.1"_s));
    return addresses;
}

} // namespace

class TestTestSend : public QObject
{
    Q_OBJECT

    FakeSesServer m_server;
    CountingHost m_shared;

private Q_SLOTS:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(u"brisko.mail.info=false"_s);
        QVERIFY(m_server.listen());
    }

    void init()
    {
        m_server.clear();
        m_server.setAnswer({200, SendAnswer});
        AccountSettings::setOverrides({});
        store(AccountSettings::AccessKeyKey, u"AKIDTESTSEND00000001"_s);
        store(AccountSettings::SecretKeyKey, Secret);
        store(AccountSettings::RegionKey, u"eu-west-1"_s);
        store(AccountSettings::EndpointKey, m_server.endpoint());
        store(AccountSettings::SignatureVersionKey, u"v4"_s);
        store(AccountSettings::ConfigurationSetKey, std::nullopt);
        store(AccountSettings::TransportKey, std::nullopt);
        m_shared = CountingHost();
        MailHost::setShared(&m_shared);
        SendRun::setSendTimeout(5000);
    }

    void cleanup() { MailHost::setShared(nullptr); }

    void tagValues_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << u"Spring-2026_a"_s << u"Spring-2026_a"_s;
        QTest::newRow("unsaved") << QString() << u"untitled"_s;
        QTest::newRow("accents lose their marks") << u"Frühling Öl"_s << u"Fruhling_Ol"_s;
        QTest::newRow("dots and other scripts") << u"v1.2 日本"_s << u"v1_2___"_s;
        QTest::newRow("cut to 256") << QString(300, u'a') << QString(256, u'a');
    }

    void tagValues()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        QCOMPARE(SendRun::campaignTagValue(name), value);
    }

    void configurationSetNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::newRow("letters, digits, _ and -") << u"Events_2026-a"_s << true;
        QTest::newRow("64 characters") << QString(64, u'x') << true;
        QTest::newRow("65 characters") << QString(65, u'x') << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("blank") << u"my set"_s << false;
        QTest::newRow("dot") << u"my.set"_s << false;
        QTest::newRow("accent") << u"événements"_s << false;
        QTest::newRow("emoji") << u"set\U0001F600"_s << false;
    }

    void configurationSetNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        const auto problem = AccountSettings::configurationSetProblem(name);
        QCOMPARE(!problem.has_value(), valid);
        if (problem)
            QVERIFY2(problem->startsWith(u"A configuration set"_s), qPrintable(*problem));
    }

    void typedAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("addresses"); // empty: refused
        QTest::addColumn<QString>("problem");
        QTest::newRow("one") << u" tester@example.org "_s << QStringList{u"tester@example.org"_s} << QString();
        QTest::newRow("commas, semicolons, blanks, repeats")
            << u"a@x.org,b@y.org; c@z.org\td@w.org A@X.org"_s
            << QStringList{u"a@x.org"_s, u"b@y.org"_s, u"c@z.org"_s, u"d@w.org"_s} << QString();
        QTest::newRow("nothing") << u" , "_s << QStringList() << u"Type the address"_s;
        QTest::newRow("no domain dot") << u"a@x.org, b@localhost"_s << QStringList() << u"\"b@localhost\""_s;
        QTest::newRow("two @") << u"a@b@x.org"_s << QStringList() << u"not an e-mail address"_s;
        QTest::newRow("display name") << u"Ann <ann@x.org>"_s << QStringList() << u"\"Ann\""_s;
        QTest::newRow("header injection") << u"a@x.org\r\nBcc:b@y.org"_s << QStringList() << u"Bcc:b@y.org"_s;
        QStringList eleven;
        for (int n = 1; n <= 11; ++n)
            eleven.append(u"t%1@x.org"_s.arg(n));
        QTest::newRow("more than ten") << eleven.join(u',') << QStringList() << u"at most 10"_s;
    }

    void typedAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, addresses);
        QFETCH(QString, problem);
        const TestSend::Addresses parsed = TestSend::parseAddresses(text);
        QVERIFY2(parsed.problem.value_or(QString()).contains(problem), qPrintable(parsed.problem.value_or(u"-"_s)));
        QCOMPARE(parsed.problem.has_value(), !problem.isEmpty());
        if (!parsed.problem)
            QCOMPARE(parsed.addresses, addresses);
    }

    // A campaign run names the configuration set (when one is set) and tags every message, in
    // either signing scheme; Signature Version 4 still signs the whole body.
    void runRequestsCarryTagAndSet_data()
    {
        QTest::addColumn<QString>("signature");
        QTest::addColumn<QString>("configurationSet"); // empty: none stored
        QTest::newRow("v4 with a set") << u"v4"_s << u"Events-1"_s;
        QTest::newRow("v4 without") << u"v4"_s << QString();
        QTest::newRow("v3 with a set") << u"v3"_s << u"Events_2"_s;
    }

    void runRequestsCarryTagAndSet()
    {
        QFETCH(QString, signature);
        QFETCH(QString, configurationSet);
        store(AccountSettings::SignatureVersionKey, signature);
        if (!configurationSet.isEmpty())
            store(AccountSettings::ConfigurationSetKey, configurationSet);
        BriskoConnector connector;
        QSignalSpy finished(&connector, &BriskoConnector::finished);
        connector.setCampaignName(u"Frühling 2026"_s);
        const RecipientList list{makeRecipient({{u"EMAIL"_s, u"one@example.com"_s}}),
                                 makeRecipient({{u"EMAIL"_s, u"two@example.com"_s}})};
        const SendRun::RunInfo info = message();
        connector.sendMessageToRecipients(info.body, info.htmlMessage, info.subject, info.sender, list,
                                          info.replyTo, info.returnPath);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 5000);

        QCOMPARE(sentTo(m_server), (QStringList{u"one@example.com"_s, u"two@example.com"_s}));
        for (const RecordedRequest &request : m_server.requests()) {
            const QMap<QString, QString> form = request.form();
            QCOMPARE(form.value(u"ConfigurationSetName"_s), configurationSet);
            QCOMPARE(form.contains(u"ConfigurationSetName"_s), !configurationSet.isEmpty());
            QCOMPARE(form.value(u"Tags.member.1.Name"_s), u"campaign"_s);
            QCOMPARE(form.value(u"Tags.member.1.Value"_s), u"Fruhling_2026"_s);
            QVERIFY(!form.contains(u"Tags.member.2.Name"_s)); // not a test
            if (signature == u"v4" && !pythonInterpreter().isEmpty()) {
                const QByteArray authorization = request.header("Authorization");
                QCOMPARE(referenceSigV4Signature(request, Secret.toUtf8(), "eu-west-1", "ses"),
                         authorization.mid(authorization.indexOf("Signature=") + 10));
            }
        }
        // A campaign run answers the shared host: one willSend for the burst of both, two answers, the end.
        QCOMPARE(m_shared.calls, 1 + 2 + 1);
    }

    // A test send mails the typed addresses only, merged with the record, marked as a test, and
    // answers nobody but itself: the shared host (the window's tables and journal) hears nothing.
    void sesTestSendReachesOnlyTheTypedAddresses()
    {
        store(AccountSettings::ConfigurationSetKey, u"Events"_s);
        const RecipientPtr record = makeRecipient({{u"EMAIL"_s, u"row@example.com"_s}, {u"NAME"_s, u"Rowan"_s}});
        SendRun::RunInfo info = message();
        QCOMPARE(SendRun::setExtras(info, u"https://example.com/u?e=__EMAIL__"_s,
                                    {{u"terms.txt"_s, u"text/plain"_s, "the terms"}}),
                 std::nullopt);
        TestSend test;
        test.setInterval(0.01);
        QSignalSpy finished(&test, &TestSend::finished);
        test.start(info, record, {u"tester@example.org"_s, u"boss@example.org"_s});
        QVERIFY(test.isRunning());
        QVERIFY(finished.wait(5000));
        QVERIFY(!test.isRunning());

        QCOMPARE(sentTo(m_server), (QStringList{u"tester@example.org"_s, u"boss@example.org"_s}));
        for (const RecordedRequest &request : m_server.requests()) {
            const QString raw = rawMessage(request);
            const QString to = request.form().value(u"Destinations.member.1"_s);
            QVERIFY2(raw.contains(u"\nTo: "_s + to), qPrintable(raw));
            QVERIFY(raw.contains(u"\nSubject: [Test] Spring offer"_s));
            QVERIFY(raw.contains(u"Dear Rowan (row@example.com)"_s)); // merged with the row
            // The campaign's unsubscribe link and files go with the test.
            QVERIFY(raw.contains(u"List-Unsubscribe: <https://example.com/u?e=row%40example.com>"_s));
            QVERIFY(raw.contains(u"terms.txt"_s));
            QCOMPARE(request.form().value(u"ConfigurationSetName"_s), u"Events"_s);
            QCOMPARE(request.form().value(u"Tags.member.1.Value"_s), u"Spring"_s);
            QCOMPARE(request.form().value(u"Tags.member.2.Name"_s), u"test"_s);
            QCOMPARE(request.form().value(u"Tags.member.2.Value"_s), u"true"_s);
        }
        QCOMPARE(test.answers().size(), 2);
        for (const TestSend::Answer &answer : test.answers()) {
            QCOMPARE(answer.result, TestSend::Result::Accepted);
            QCOMPARE(answer.text, u"MessageId: 0100-test"_s);
        }
        QVERIFY(test.allAccepted());
        QCOMPARE(m_shared.calls, 0);
    }

    // Each address gets exactly one answer saying what happened; nothing is sent twice.
    void testSendAnswers_data()
    {
        QTest::addColumn<CannedAnswer>("answer"); // status 0: the connection is refused
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("requests");
        QTest::newRow("refused by the service")
            << CannedAnswer{400, FakeSesServer::errorDocument(u"MessageRejected"_s, u"Email address is not verified."_s)}
            << int(TestSend::Result::Failed) << u"Email address is not verified."_s << 2;
        QTest::newRow("connection refused") << CannedAnswer{0, {}} << int(TestSend::Result::Failed)
                                            << u"Not sent"_s << 0;
        QTest::newRow("no answer in time") << CannedAnswer{200, SendAnswer, 1, 0, 3000}
                                           << int(TestSend::Result::Unknown) << u"may have been delivered"_s << 2;
    }

    void testSendAnswers()
    {
        QFETCH(CannedAnswer, answer);
        QFETCH(int, result);
        QFETCH(QString, text);
        QFETCH(int, requests);
        SendRun::setSendTimeout(300);
        m_server.setAnswer(answer);
        if (answer.status == 0)
            store(AccountSettings::EndpointKey, FakeSesServer::refusingEndpoint());
        TestSend test;
        test.setInterval(0.01);
        QSignalSpy finished(&test, &TestSend::finished);
        test.start(message(), makeRecipient({{u"EMAIL"_s, u"row@example.com"_s}}),
                   {u"a@example.org"_s, u"b@example.org"_s});
        QVERIFY(finished.wait(5000));
        QCOMPARE(test.answers().size(), 2);
        for (const TestSend::Answer &a : test.answers())
            QVERIFY2(int(a.result) == result && a.text.contains(text), qPrintable(a.address + u": "_s + a.text));
        QVERIFY(!test.allAccepted());
        QTest::qWait(50);
        QCOMPARE(m_server.requests().size(), requests);
        QCOMPARE(m_shared.calls, 0);
    }

    // Through the outbox the test message is a file of its own beside the rows' proofs.
    void outboxTestSendWritesATestFile()
    {
        QTemporaryDir folder;
        store(AccountSettings::TransportKey, u"outbox"_s);
        store(AccountSettings::OutboxFolderKey, folder.path());
        const RecipientList rows{makeRecipient({{u"EMAIL"_s, u"first@example.com"_s}}),
                                 makeRecipient({{u"EMAIL"_s, u"second@example.com"_s}, {u"NAME"_s, u"Sue"_s}})};
        TestSend test;
        QSignalSpy finished(&test, &TestSend::finished);
        test.start(message(), rows.at(1), {u"tester@example.org"_s}, rows);
        QVERIFY(finished.wait(5000));
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{u"test-0002-tester@example.org.eml"_s});
        QCOMPARE(test.answers().value(0).result, TestSend::Result::Accepted);
        QVERIFY(test.answers().value(0).text.startsWith(u"Saved as "_s));
        QFile file(QDir(folder.path()).filePath(u"test-0002-tester@example.org.eml"_s));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString raw = QString::fromUtf8(file.readAll());
        QVERIFY(raw.contains(u"\nTo: tester@example.org"_s));
        QVERIFY(raw.contains(u"Dear Sue"_s));
        QVERIFY(m_server.requests().isEmpty());
        QCOMPARE(m_shared.calls, 0);
    }
};

QTEST_GUILESS_MAIN(TestTestSend)
#include "tst_testsend.moc"

// Message › Send Test… against the stand-in service: the test message reaches the typed
// addresses and nobody else, tagged with the campaign, and leaves the outcome tables and
// the send journal as they were; bad addresses keep the dialog open; no test send during a run.

#include "AppTestMain.h"
// The stand-in service is shared with the mail tests.
#include "../mail/FakeSesServer.cpp"

#include "BriskoConnector.h"
#include "CampaignFile.h"
#include "Localization.h"
#include "SendRun.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

using namespace Qt::StringLiterals;
using namespace brisko;
using namespace brisko::test;

static const QByteArray SendAnswer = "<SendRawEmailResponse><SendRawEmailResult><MessageId>m-7</MessageId>"
                                     "</SendRawEmailResult></SendRawEmailResponse>";

class TestWindowTestSend : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeSesServer> m_server;
    QTemporaryDir m_dir; // the saved campaign's folder, for the whole test

    template <typename T> static T *panel(const char *name)
    {
        return app()->testSendPanel()->findChild<T *>(QLatin1StringView(name));
    }
    static QLineEdit *addressField() { return panel<QLineEdit>("sendTestAddressField"); }
    static void pressSend() { panel<QPushButton>("sendTestSendButton")->click(); }
    static QAction *sendTestAction() { return app()->window()->findChild<QAction *>(u"sendTestAction"_s); }

    QList<RecordedRequest> sent() const
    {
        QList<RecordedRequest> requests;
        for (const RecordedRequest &request : m_server->requests()) {
            if (request.action() == u"SendRawEmail")
                requests.append(request);
        }
        return requests;
    }
    static QString raw(const RecordedRequest &request)
    {
        return QString::fromUtf8(QByteArray::fromBase64(request.form().value(u"RawMessage.Data"_s).toLatin1()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        app()->campaign().apply({u"Spring offer"_s, u"ann@example.com"_s, u"Dear __NAME__"_s,
                                 u"<p>Dear __NAME__</p>"_s, QString(), QString(),
                                 QStringList{u"EMAIL"_s, u"NAME"_s}, RecipientList()});
    }

    void init()
    {
        m_server = std::make_unique<FakeSesServer>();
        QVERIFY(m_server->listen());
        m_server->setAnswer({200, SendAnswer});
        storeAccount(m_server->endpoint());
        SendRun::setSendTimeout(5000);
        app()->setSendRateWithString(u"50.0"_s);
        setRecipients({u"one@row.test"_s, u"two@row.test"_s, u"three@row.test"_s});
        selectRows({});
    }

    void cleanup()
    {
        if (app()->testSendPanel() && app()->testSendPanel()->isVisible())
            app()->testSendPanel()->reject();
        QTRY_VERIFY(!app()->testSend() || !app()->testSend()->isRunning());
        if (app()->progressPanel()->isVisible())
            app()->cancelSend();
        QTRY_VERIFY(!app()->isDeliveryRunning());
        m_server.reset();
    }

    // The selected row's message goes to each typed address, with the campaign file's name as
    // its tag; the answers are shown; nothing is recorded for the rows, nothing journalled.
    void reachesOnlyTheTypedAddresses()
    {
        const QString path = m_dir.filePath(u"Spring Sale.brisko"_s);
        QVERIFY(!CampaignFile::write(path, app()->campaign().document()));
        app()->loadCampaignFromFile(path);
        selectRows({1});
        DialogDriver boxes({brisko::tr(u"OK"_s)});
        app()->sendTest();
        QVERIFY(app()->testSendPanel()->isVisible());
        QVERIFY(panel<QLabel>("sendTestSourceLabel")->text().contains(u"row 2 (two@row.test)"_s));
        addressField()->setText(u"tester@example.org; boss@example.org"_s);
        pressSend();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.shown(), 1, 5000);
        QCOMPARE(boxes.unexpected(), 0);
        QVERIFY(!app()->testSendPanel()->isVisible());
        QCOMPARE(boxes.texts().first(), u"The test message was accepted.\n"
                                        "tester@example.org — accepted: MessageId: m-7\n\n"
                                        "boss@example.org — accepted: MessageId: m-7"_s);

        const QList<RecordedRequest> requests = sent();
        QCOMPARE(requests.size(), 2);
        const QStringList typed = {u"tester@example.org"_s, u"boss@example.org"_s};
        for (qsizetype n = 0; n < requests.size(); ++n) {
            QCOMPARE(requests.at(n).form().value(u"Destinations.member.1"_s), typed.at(n));
            QCOMPARE(requests.at(n).form().value(u"Tags.member.1.Value"_s), u"Spring_Sale"_s);
            QCOMPARE(requests.at(n).form().value(u"Tags.member.2.Name"_s), u"test"_s);
            QVERIFY(raw(requests.at(n)).contains(u"\nTo: "_s + typed.at(n)));
            QVERIFY(raw(requests.at(n)).contains(u"Subject: [Test] Spring offer"_s));
            QVERIFY(raw(requests.at(n)).contains(u"Dear ntwo@row.test"_s));
        }
        for (const QString &row : {u"one@row.test"_s, u"two@row.test"_s, u"three@row.test"_s}) {
            QCOMPARE(app()->campaign().response(row), std::nullopt);
            QCOMPARE(app()->campaign().status(row), std::nullopt);
        }
        for (const QString &address : typed)
            QCOMPARE(app()->campaign().response(address), std::nullopt);
        QCOMPARE(app()->sendJournalPath(), path + u".sent"_s);
        QVERIFY(!QFile::exists(path + u".sent"_s));
        // The addresses are offered again next time.
        QCOMPARE(FennimarUserDefaults::objectForKey(BriskoApplication::TestSendAddressesKey.toString()).toString(),
                 u"tester@example.org, boss@example.org"_s);
        app()->sendTest();
        QCOMPARE(addressField()->text(), u"tester@example.org, boss@example.org"_s);
    }

    // What cannot be mailed is said in the dialog, which stays open; nothing is sent.
    void refusesBadAddresses_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("said");
        QTest::newRow("empty") << u""_s << u"Type the address"_s;
        QTest::newRow("no domain") << u"tester@localhost"_s << u"\"tester@localhost\" is not an e-mail address."_s;
        QTest::newRow("one bad of two") << u"a@example.org, b@"_s << u"\"b@\""_s;
    }

    void refusesBadAddresses()
    {
        QFETCH(QString, typed);
        QFETCH(QString, said);
        DialogDriver boxes;
        app()->sendTest();
        addressField()->setText(typed);
        pressSend();
        auto *note = panel<QLabel>("sendTestNoteLabel");
        QVERIFY(note->isVisible());
        QVERIFY2(note->text().contains(said), qPrintable(note->text()));
        QVERIFY(app()->testSendPanel()->isVisible());
        QVERIFY(addressField()->isEnabled());
        QTest::qWait(100);
        QCOMPARE(sent().size(), 0);
        QCOMPARE(boxes.shown(), 0);
    }

    // With no rows the message goes unmerged, and the dialog says so.
    void noRowsSendsTheUnmergedMessage()
    {
        setRecipients({});
        DialogDriver boxes({brisko::tr(u"OK"_s)});
        app()->sendTest();
        QVERIFY(panel<QLabel>("sendTestSourceLabel")->text().contains(u"no recipients"_s));
        addressField()->setText(u"tester@example.org"_s);
        pressSend();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.shown(), 1, 5000);
        QCOMPARE(sent().size(), 1);
        QVERIFY(raw(sent().first()).contains(u"Dear __NAME__"_s));
    }

    // The service's refusal is what the dialog shows.
    void showsTheRefusal()
    {
        m_server->setAnswer(
            {400, FakeSesServer::errorDocument(u"MessageRejected"_s, u"Email address is not verified."_s)});
        DialogDriver boxes({brisko::tr(u"OK"_s)});
        app()->sendTest();
        addressField()->setText(u"tester@example.org"_s);
        pressSend();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.shown(), 1, 5000);
        QCOMPARE(boxes.texts().first(), u"The test message was not accepted for every address.\n"
                                        "tester@example.org — failed: Email address is not verified."_s);
        QCOMPARE(app()->campaign().response(u"tester@example.org"_s), std::nullopt);
    }

    // While a run sends or waits for answers, Send Test is not offered.
    void notDuringARun()
    {
        m_server->setAnswer({200, SendAnswer, 1, 0, 400});
        QVERIFY(sendTestAction()->isEnabled());
        DialogDriver boxes({u"Send"_s, u"Send"_s});
        app()->deliver();
        QVERIFY(app()->isDeliveryRunning());
        QVERIFY(!sendTestAction()->isEnabled());
        boxes.answer({brisko::tr(u"OK"_s)});
        app()->sendTest(); // called directly all the same
        QTRY_COMPARE(boxes.shown(), 3);
        QCOMPARE(boxes.texts().at(2).section(u'\n', 1), brisko::tr(u"SendTest_RunInProgress"_s));
        QVERIFY(!app()->testSendPanel() || !app()->testSendPanel()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!app()->isDeliveryRunning(), 10000);
        QVERIFY(sendTestAction()->isEnabled());
        QCOMPARE(sendTestAction()->shortcut(), QKeySequence(u"Ctrl+Shift+T"_s));
    }
};

BRISKO_APP_TEST_MAIN(TestWindowTestSend, true)
#include "tst_sendtest.moc"

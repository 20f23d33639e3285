// What the send command checks and says before and after a run: refusals that name the
// empty part, confirmations with the numbers, the subject note, a run paced by the
// chosen send rate, the remedy when the rate stays unknown, and the run's summary.

#include "AppTestMain.h"
// The stand-in service is shared with the mail tests.
#include "../mail/FakeSesServer.cpp"

#include "BriskoConnector.h"
#include "SendRun.h"

#include <QStatusBar>

using namespace Qt::StringLiterals;
using namespace brisko;
using namespace brisko::test;

static const QByteArray SendAnswer = "<SendRawEmailResponse><SendRawEmailResult><MessageId>m-1</MessageId>"
                                     "</SendRawEmailResult></SendRawEmailResponse>";

class TestSendChecks : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeSesServer> m_server;

    static void setMessage(const QString &subject, const QString &from, const QString &body, const QString &html)
    {
        app()->subjectField()->setText(subject);
        app()->fromField()->setText(from);
        app()->bodyView()->setPlainText(body);
        app()->htmlView()->setPlainText(html);
    }
    QStringList actions() const
    {
        QStringList seen;
        for (const RecordedRequest &request : m_server->requests())
            seen.append(request.action());
        return seen;
    }
    static QString status() { return app()->window()->statusBar()->currentMessage(); }

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<FakeSesServer>();
        QVERIFY(m_server->listen());
        m_server->setAnswer({200, SendAnswer});
        storeAccount(m_server->endpoint());
        store(AccountSettings::SendRateKey, std::nullopt);
        app()->setSendRateWithString(u"0"_s);
        app()->campaign().setupTableColumns({u"EMAIL"_s, u"NAME"_s, u"CITY"_s});
        setRecipients({u"a@checks.test"_s, u"b@checks.test"_s, u"c@checks.test"_s});
        // Each case sends afresh: no earlier case's outcomes make Send ask about sending again.
        app()->campaign().clearOutcomes();
        selectRows({});
        setMessage(u"Hello"_s, u"me@checks.test"_s, u"Dear __NAME__"_s, QString());
    }

    void cleanup()
    {
        if (app()->progressPanel()->isVisible())
            app()->cancelSend();
        QTRY_VERIFY(!app()->briskocon() || app()->briskocon()->pendingResponses() == 0);
        store(AccountSettings::SendRateKey, std::nullopt);
        m_server.reset();
    }

    void refusals_data()
    {
        QTest::addColumn<bool>("emptyList");
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("body");
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("named");
        QTest::newRow("no recipients") << true << u"me@checks.test"_s << u"x"_s << QString()
                                       << u"The recipient list is empty."_s;
        QTest::newRow("no sender") << false << u"  "_s << u"x"_s << QString() << u"The From field is empty."_s;
        QTest::newRow("no body") << false << u"me@checks.test"_s << u" \n"_s << u"\t"_s
                                 << u"Both the plain-text and the HTML body are empty."_s;
    }

    // One message naming the empty part; no confirmation, no run.
    void refusals()
    {
        QFETCH(bool, emptyList);
        QFETCH(QString, from);
        QFETCH(QString, body);
        QFETCH(QString, html);
        QFETCH(QString, named);
        if (emptyList)
            setRecipients({});
        setMessage(u"Hello"_s, from, body, html);
        BriskoConnector *before = app()->briskocon();
        DialogDriver boxes({u"OK"_s});
        app()->deliver();
        QCOMPARE(boxes.shown(), 1);
        QVERIFY2(boxes.texts().first().startsWith(u"There is nothing to send yet.\n"_s + named),
                 qPrintable(boxes.texts().first()));
        QCOMPARE(app()->briskocon(), before);
        QVERIFY(!app()->progressPanel()->isVisible());
    }

    void confirmationTexts_data()
    {
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("final");
        QTest::addColumn<bool>("note");
        QTest::newRow("all") << QList<int>() << u"Hello"_s << QStringList{u"Send"_s, u"Cancel"_s}
                             << u"Send to all 3 recipients."_s
                             << u"3 messages will be sent, one to each recipient of the list."_s << false;
        QTest::newRow("selected, placeholder in subject")
            << QList<int>{0, 2} << u"Hello __CITY__"_s << QStringList{u"Send to Selected"_s, u"Cancel"_s}
            << u"Send to all 3 recipients, or only to the 2 selected."_s
            << u"2 messages will be sent, one to each selected recipient."_s << true;
        QTest::newRow("unknown column: no note")
            << QList<int>() << u"Hello __TOWN__"_s << QStringList{u"Cancel"_s} << u"Send to all 3 recipients."_s
            << QString() << false;
    }

    void confirmationTexts()
    {
        QFETCH(QList<int>, selected);
        QFETCH(QString, subject);
        QFETCH(QStringList, answers);
        QFETCH(QString, first);
        QFETCH(QString, final);
        QFETCH(bool, note);
        app()->subjectField()->setText(subject);
        selectRows(selected);
        DialogDriver boxes(answers);
        app()->deliver();
        QCOMPARE(boxes.unexpected(), 0);
        QCOMPARE(boxes.shown(), final.isEmpty() ? 1 : 2);
        const QString body = boxes.texts().first().section(u'\n', 1);
        QVERIFY2(body.startsWith(first), qPrintable(body));
        QCOMPARE(body.contains(u"Placeholders are replaced in the bodies only"_s), note);
        if (note)
            QVERIFY(body.contains(u"__CITY__"_s));
        if (!final.isEmpty())
            QVERIFY(boxes.texts().at(1).section(u'\n', 1).startsWith(final));
        QVERIFY(m_server->requests().isEmpty());
    }

    // With a rate of the user's own the run starts at once, even where the service would
    // not answer the quota request, and the status bar sums the run up.
    void chosenRateStartsTheRun()
    {
        m_server->setAnswerFor(u"GetSendQuota"_s, {200, {}, 1, 0, 0, false, true});
        m_server->setAnswerFor(u"SendRawEmail"_s, {200, SendAnswer});
        store(AccountSettings::SendRateKey, u"50"_s);
        DialogDriver boxes({u"Send"_s, u"Send"_s});
        app()->deliver();
        QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(app()->briskocon()->pendingResponses(), 0, 5000);
        QCOMPARE(actions(), QStringList(3, u"SendRawEmail"_s));
        QCOMPARE(status(), u"Sending ended. Accepted: 3, failed: 0, outcome unknown: 0, not sent: 0."_s);
    }

    // Without one, a quota request that fails ends the run before it starts; the message
    // names the remedy and its second button opens the account settings.
    void unknownRateNamesTheRemedy()
    {
        m_server->setAnswerFor(u"GetSendQuota"_s,
                               {403, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"Bad token."_s)});
        DialogDriver boxes({u"Send"_s, u"Send"_s, u"Account Settings…"_s});
        app()->deliver();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.shown(), 3, 5000);
        QVERIFY(boxes.texts().at(2).startsWith(u"Sending did not start.\n"_s));
        QVERIFY(boxes.texts().at(2).contains(u"set a send rate"_s));
        QTRY_VERIFY(app()->authPanel()->isVisible());
        app()->authPanel()->reject();
        QCOMPARE(actions(), QStringList{u"GetSendQuota"_s});
        QVERIFY(status().startsWith(u"Sending did not start."_s));
    }
};

BRISKO_APP_TEST_MAIN(TestSendChecks, true)

#include "tst_sendchecks.moc"

// The window's send command against the stand-in service: the two confirmations, the
// progress sheet, cancel, the outcomes recorded (also those arriving after the sheet
// closed), and the messages when sending cannot start.

#include "AppTestMain.h"
// The stand-in service is shared with the mail tests.
#include "../mail/FakeSesServer.cpp"

#include "BriskoConnector.h"
#include "CampaignFile.h"
#include "RecipientTableModel.h"
#include "SendJournal.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>

using namespace Qt::StringLiterals;
using namespace brisko;
using namespace brisko::test;

static const QByteArray SendAnswer = "<SendRawEmailResponse><SendRawEmailResult><MessageId>m-1</MessageId>"
                                     "</SendRawEmailResult></SendRawEmailResponse>";

class TestDelivery : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeSesServer> m_server;

    static QString heading(const DialogDriver &d, int n) { return d.texts().value(n).section(u'\n', 0, 0); }
    // Outcomes last as long as the program: a test that looks at fresh ones uses a domain of its own.
    static void loadList(int count, const QString &domain = u"example.com"_s)
    {
        QStringList addresses;
        for (const QString &name : {u"one"_s, u"two"_s, u"three"_s, u"four"_s, u"five"_s})
            addresses.append(name + u'@' + domain);
        setRecipients(addresses.first(count));
        selectRows({});
    }
    QStringList sentAddresses() const
    {
        QStringList addresses;
        for (const RecordedRequest &request : m_server->requests())
            addresses.append(request.form().value(u"Destinations.member.1"_s));
        addresses.removeAll(QString()); // the quota requests
        return addresses;
    }
    static void waitForTheRun()
    {
        QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 5000);
        QTRY_COMPARE_WITH_TIMEOUT(app()->briskocon()->pendingResponses(), 0, 5000);
    }

    // The status column's codes, row by row (0: no outcome).
    static QList<int> statusCodes()
    {
        auto *model = qobject_cast<RecipientTableModel *>(app()->listView()->model());
        if (!model)
            return {};
        const int column = model->columnOf(RecipientTableModel::StatusColumn);
        QList<int> codes;
        for (int row = 0; row < model->rowCount(); ++row)
            codes.append(model->index(row, column).data(RecipientTableModel::ResponseRole).toInt());
        return codes;
    }
    static QList<int> selectedRowNumbers()
    {
        QList<int> rows;
        for (const QModelIndex &index : app()->listView()->selectionModel()->selectedRows())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    // Sends to the one row, answered as given.
    void sendToRow(int row, const CannedAnswer &answer)
    {
        m_server->setAnswer(answer);
        selectRows({row});
        DialogDriver boxes({u"Send to Selected"_s, u"Send"_s});
        app()->deliver();
        QTRY_COMPARE(boxes.shown(), 2);
        waitForTheRun();
        QCOMPARE(boxes.unexpected(), 0);
    }

    static void applyMessage()
    {
        app()->campaign().apply({u"Hello __NAME__"_s, u"ann@example.com"_s, u"Dear __NAME__"_s,
                                 u"<p>Dear __NAME__</p>"_s, QString(), QString(),
                                 QStringList{u"EMAIL"_s, u"NAME"_s}, RecipientList()});
    }

private Q_SLOTS:
    void initTestCase() { applyMessage(); }

    void init()
    {
        // A campaign opened by an earlier case lived in a folder that is gone now.
        if (app()->currentCampaignPath()) {
            app()->campaign().setModified(false);
            app()->newCampaign();
            applyMessage();
        }
        m_server = std::make_unique<FakeSesServer>();
        QVERIFY(m_server->listen());
        m_server->setAnswer({200, SendAnswer});
        storeAccount(m_server->endpoint());
        SendRun::setSendTimeout(5000);
        app()->setSendRateWithString(u"5.0"_s);
        // Earlier cases' outcomes would make Send ask about sending again.
        app()->campaign().clearOutcomes();
        loadList(3);
    }

    void cleanup()
    {
        if (app()->progressPanel()->isVisible())
            app()->cancelSend();
        QTRY_VERIFY(!app()->briskocon() || app()->briskocon()->pendingResponses() == 0);
        m_server.reset();
    }

    // Cancel at either confirmation sends nothing and opens no sheet.
    void confirmations_data()
    {
        QTest::addColumn<QList<int>>("selectedRows");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QStringList>("sent"); // names; empty: no run at all
        const QStringList all = {u"one"_s, u"two"_s, u"three"_s}, send = {u"Send"_s, u"Send"_s};
        QTest::newRow("no selection: whole list") << QList<int>() << send << all;
        QTest::newRow("selection: selected rows")
            << QList<int>{0, 2} << QStringList{u"Send to Selected"_s, u"Send"_s}
            << QStringList{u"one"_s, u"three"_s};
        QTest::newRow("selection, but Send: whole list") << QList<int>{1} << send << all;
        QTest::newRow("cancel at the first") << QList<int>() << QStringList{u"Cancel"_s} << QStringList();
        QTest::newRow("cancel at the final")
            << QList<int>() << QStringList{u"Send"_s, u"Cancel"_s} << QStringList();
    }

    void confirmations()
    {
        QFETCH(QList<int>, selectedRows);
        QFETCH(QStringList, answers);
        QFETCH(QStringList, sent);
        for (QString &name : sent)
            name += u"@example.com"_s;
        selectRows(selectedRows);
        BriskoConnector *before = app()->briskocon();
        DialogDriver boxes(answers);
        app()->deliver();

        // A third button only when rows are selected.
        QCOMPARE(boxes.buttonsSeen().value(0),
                 selectedRows.isEmpty() ? u"Send|Cancel"_s : u"Send|Cancel|Send to Selected"_s);
        QCOMPARE(heading(boxes, 0), u"Send this campaign now?"_s);
        QCOMPARE(boxes.unexpected(), 0);
        if (sent.isEmpty()) {
            QCOMPARE(app()->briskocon(), before); // no connector, no sheet
            QVERIFY(!app()->progressPanel()->isVisible());
            QTest::qWait(100);
            QVERIFY(m_server->requests().isEmpty());
            return;
        }
        QCOMPARE(heading(boxes, 1), u"Are you sure?"_s);

        // The sheet shows the bar (1…N), the address going out and "n of N", then closes
        // on the tick after the last message.
        QDialog *sheet = app()->progressPanel();
        QVERIFY(sheet->isVisible());
        auto *count = sheet->findChild<QLabel *>(u"progressPanel_Count"_s);
        QCOMPARE(app()->progressTextField()->text(), QString()); // nothing leaves before the first tick
        QStringList seen, expected;
        while (sheet->isVisible() && seen.size() < sent.size()) {
            QTest::qWait(5);
            const QString address = app()->progressTextField()->text();
            if (!address.isEmpty() && !seen.join(u'\n').contains(address))
                seen.append(u"%1/%2 %3 %4"_s.arg(app()->sendProgressMeter()->value())
                                .arg(app()->sendProgressMeter()->maximum())
                                .arg(address, count->text()));
        }
        for (int n = 0; n < sent.size(); ++n)
            expected.append(u"%1/%2 %3 %1 of %2"_s.arg(n + 1).arg(sent.size()).arg(sent.at(n)));
        QCOMPARE(seen, expected);
        waitForTheRun();
        QCOMPARE(sentAddresses(), sent);
    }

    // A failure is recorded as -1 with the answer's message, up to its last closing tag
    // (an answer without a message, and a refused connection: tst_sendrun, tst_campaign).
    // An answer cut off mid-body is neither: 2, with its own image and text.
    void outcomeIsRecorded_data()
    {
        QTest::addColumn<CannedAnswer>("answer");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("status");
        QTest::newRow("failed")
            << CannedAnswer{400, "<ErrorResponse><Message>Not verified.</Message> b</Message></ErrorResponse>"}
            << -1 << u"Not verified.</Message> b"_s;
        CannedAnswer cut{200, SendAnswer};
        cut.cutOff = true;
        QTest::newRow("unknown") << cut << 2 << u"Sent, but no answer arrived: it may have been delivered"_s;
    }
    void outcomeIsRecorded()
    {
        QFETCH(CannedAnswer, answer);
        QFETCH(int, code);
        QFETCH(QString, status);
        const QString address = QString::fromLatin1(QTest::currentDataTag()) + u"@outcome.example.com"_s;
        setRecipients({address});
        m_server->setAnswer(answer);
        DialogDriver boxes({u"Send"_s, u"Send"_s});
        app()->deliver();
        waitForTheRun();
        QCOMPARE(app()->campaign().response(address), code);
        QCOMPARE(app()->campaign().status(address), status);
        QCOMPARE(m_server->requests().size(), 1);
    }

    // Cancel closes the sheet at once and sends nothing more; answers to messages already
    // sent are recorded after the sheet has closed, even once a new run has replaced the
    // cancelled one's connector.
    void cancelKeepsAnswersInFlight()
    {
        const auto response = [](const QString &name) {
            return app()->campaign().response(name + u"@cancel.example.com"_s);
        };
        loadList(5, u"cancel.example.com"_s);
        app()->setSendRateWithString(u"10"_s);
        m_server->setAnswer({200, SendAnswer, 1, 0, 700});
        DialogDriver boxes({u"Send"_s, u"Send"_s});
        app()->deliver();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 2, 5000);
        auto *buttons = app()->progressPanel()->findChild<QDialogButtonBox *>(u"progressButtons"_s);
        buttons->button(QDialogButtonBox::Cancel)->click();
        QVERIFY(!app()->progressPanel()->isVisible());
        QPointer<BriskoConnector> cancelled = app()->briskocon();
        QVERIFY(cancelled->hasStopped());
        const int sent = int(m_server->requests().size());
        QVERIFY(sent == 2 || sent == 3);
        QCOMPARE(response(u"one"_s), std::nullopt); // still in flight

        // A new run over the last record only, answered at once.
        m_server->setAnswer({200, SendAnswer});
        selectRows({4});
        boxes.answer({u"Send to Selected"_s, u"Send"_s});
        app()->deliver();

        for (const QString &name : QStringList{u"one"_s, u"two"_s, u"three"_s}.first(sent))
            QTRY_COMPARE_WITH_TIMEOUT(response(name), std::optional(1), 5000);
        QCOMPARE(response(u"four"_s), std::nullopt); // never sent
        QTRY_COMPARE_WITH_TIMEOUT(response(u"five"_s), std::optional(1), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(cancelled.isNull(), 5000); // gone once its last answer was in
        QCOMPARE(m_server->requests().size(), sent + 1);
    }

    // Without an account, or with a send rate that stays unknown, the window says why.
    void notStarted_data()
    {
        QTest::addColumn<bool>("account");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("last"); // heading of the last message
        QTest::newRow("no account") << false << QStringList{u"Cancel"_s}
                                    << u"Your Amazon SES account is not set up."_s;
        QTest::newRow("rate stays unknown")
            << true << QStringList{u"Send"_s, u"Send"_s, u"OK"_s} << u"Sending did not start."_s;
    }

    void notStarted()
    {
        QFETCH(bool, account);
        QFETCH(QStringList, answers);
        QFETCH(QString, last);
        if (!account)
            store(AccountSettings::AccessKeyKey, std::nullopt);
        app()->setSendRateWithString(u"0"_s);
        m_server->setAnswerFor(u"GetSendQuota"_s, {403, FakeSesServer::errorDocument(
                                                            u"InvalidClientTokenId"_s, u"Bad token."_s)});
        DialogDriver boxes(answers);
        app()->deliver();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.shown(), answers.size(), 5000);
        QCOMPARE(heading(boxes, int(answers.size()) - 1), last);
        QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 5000);
        QVERIFY(sentAddresses().isEmpty());
        QCOMPARE(boxes.unexpected(), 0);
    }

    // A run of a saved campaign leaves its journal beside the file; opening the campaign again
    // (after the program forgot everything) shows the same outcomes, also the unknown one of
    // a request that never got its answer.
    void journalledRunComesBackOnOpen()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Spring.brisko"_s);
        loadList(2, u"journal.test"_s);
        QVERIFY(!CampaignFile::write(path, app()->campaign().document()));
        app()->loadCampaignFromFile(path);
        QCOMPARE(app()->sendJournalPath(), path + u".sent"_s);

        DialogDriver boxes({u"Send"_s, u"Send"_s});
        app()->deliver();
        waitForTheRun();
        QTRY_VERIFY(QFile(path + u".sent"_s).size() > 0);
        QTRY_COMPARE(SendJournal::read(path + u".sent"_s).outcomes.value(u"two@journal.test"_s).outcome,
                     SendJournal::Outcome::Accepted);
        const SendJournal::Replay replay = SendJournal::read(path + u".sent"_s);
        QCOMPARE(replay.lines, 4);
        QCOMPARE(replay.outcomes.value(u"one@journal.test"_s).detail, u"m-1"_s);

        // A third line: "one" was sent again and the program died before its answer.
        QFile journal(path + u".sent"_s);
        QVERIFY(journal.open(QIODevice::Append));
        journal.write("2026-12-07T02:00:00.000Z\tone@journal.test\tsending\t\n");
        journal.close();
        app()->campaign().clearOutcomes();
        app()->loadCampaignFromFile(path);
        QCOMPARE(app()->campaign().response(u"one@journal.test"_s), Campaign::UnknownCode);
        QCOMPARE(app()->campaign().status(u"one@journal.test"_s), Campaign::UnknownText.toString());
        QCOMPARE(app()->campaign().response(u"two@journal.test"_s), Campaign::AcceptedCode);
    }

    // The question's heading follows what is known: only accepted, only unknown; "Send to
    // everyone again" sends to all of them.
    void resendQuestionWording_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("heading");
        QTest::newRow("accepted") << 1 << u"1 of these recipients already received this campaign."_s;
        QTest::newRow("unknown") << 2 << u"1 of these recipients may already have received this campaign."_s;
    }
    void resendQuestionWording()
    {
        QFETCH(int, code);
        QFETCH(QString, heading);
        app()->campaign().recordOutcome(u"one@example.com"_s, code, std::nullopt);
        DialogDriver boxes({u"Send"_s, u"Send to everyone again"_s, u"Send"_s});
        app()->deliver();
        QTRY_COMPARE(boxes.shown(), 3);
        QCOMPARE(TestDelivery::heading(boxes, 1), heading);
        QCOMPARE(boxes.buttonsSeen().value(1), u"Send only to the 2 others|Send to everyone again|Cancel"_s);
        waitForTheRun();
        QCOMPARE(sentAddresses(),
                 (QStringList{u"one@example.com"_s, u"two@example.com"_s, u"three@example.com"_s}));
    }

    // A message saved into the outbox reached nobody: that row is among the others, and the
    // one other is named in the singular.
    void savedRowsAreNotYetSent()
    {
        app()->campaign().recordSaved(u"one@example.com"_s);
        app()->campaign().recordOutcome(u"two@example.com"_s, Campaign::AcceptedCode, std::nullopt);
        app()->campaign().recordOutcome(u"three@example.com"_s, Campaign::AcceptedCode, std::nullopt);
        QCOMPARE(statusCodes(), (QList<int>{1, 1, 1}));
        app()->selectNotYetSent();
        QCOMPARE(selectedRowNumbers(), QList<int>{0});
        selectRows({});
        DialogDriver boxes({u"Send"_s, u"Send only to the 1 other"_s, u"Send"_s});
        app()->deliver();
        QTRY_COMPARE(boxes.shown(), 3);
        QCOMPARE(heading(boxes, 1), u"2 of these recipients already received this campaign."_s);
        QCOMPARE(boxes.buttonsSeen().value(1), u"Send only to the 1 other|Send to everyone again|Cancel"_s);
        waitForTheRun();
        QCOMPARE(sentAddresses(), QStringList{u"one@example.com"_s});
    }

    // Runs that accepted, failed, lost the answer of and never reached a recipient each come
    // back when the saved campaign is opened again; Send then asks before anyone gets the
    // campaign twice, and "only the others" sends to the failed and unsent rows alone. The
    // Recipients menu selects the failed and the unsent rows.
    void reopenedCampaignResumes()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Resume.brisko"_s);
        loadList(4, u"resume.test"_s);
        QVERIFY(!CampaignFile::write(path, app()->campaign().document()));
        app()->loadCampaignFromFile(path);

        sendToRow(0, {200, SendAnswer});
        sendToRow(1, {400, FakeSesServer::errorDocument(u"MessageRejected"_s, u"Address blacklisted."_s)});
        CannedAnswer cut{200, SendAnswer};
        cut.cutOff = true;
        sendToRow(2, cut);
        QCOMPARE(statusCodes(), (QList<int>{1, -1, 2, 0}));

        {
            DialogDriver discard;
            app()->newCampaign();
            QCOMPARE(discard.shown(), 0); // nothing unsaved
        }
        QCOMPARE(app()->campaign().recipients().size(), 0);
        QCOMPARE(app()->campaign().response(u"one@resume.test"_s), std::nullopt); // sent to nobody yet
        QVERIFY(app()->sendJournalPath() != path + u".sent"_s);
        app()->loadCampaignFromFile(path);
        QCOMPARE(statusCodes(), (QList<int>{1, -1, 2, 0}));
        QCOMPARE(app()->campaign().status(u"two@resume.test"_s), u"Address blacklisted."_s);

        QAction *failed = app()->window()->findChild<QAction *>(u"selectFailedAction"_s);
        QAction *unsent = app()->window()->findChild<QAction *>(u"selectNotYetSentAction"_s);
        auto *menu = app()->window()->findChild<QMenu *>(u"recipientsMenu"_s);
        QVERIFY(failed && unsent && menu);
        QVERIFY(failed->isEnabled() && unsent->isEnabled());
        failed->trigger();
        QCOMPARE(selectedRowNumbers(), QList<int>{1});
        unsent->trigger();
        QCOMPARE(selectedRowNumbers(), QList<int>{3});
        QCOMPARE(app()->listView()->currentIndex().row(), 3);

        // The accepted and the unknown row together: nobody else to send to, and the default
        // button says so and sends nothing.
        m_server->clear();
        m_server->setAnswer({200, SendAnswer});
        selectRows({0, 2});
        {
            DialogDriver nobody({u"Send to Selected"_s, u"No others to send to"_s});
            app()->deliver();
            QTRY_COMPARE(nobody.shown(), 2);
            QCOMPARE(heading(nobody, 1),
                     u"1 of these recipients already received this campaign (1 more may have)."_s);
            QCOMPARE(nobody.buttonsSeen().value(1), u"No others to send to|Send to everyone again|Cancel"_s);
            QCOMPARE(nobody.unexpected(), 0);
            QVERIFY(!app()->progressPanel()->isVisible());
        }

        // The whole list: only the failed and the never sent one are sent to.
        selectRows({});
        DialogDriver boxes({u"Send"_s, u"Send only to the 2 others"_s, u"Send"_s});
        app()->deliver();
        QTRY_COMPARE(boxes.shown(), 3);
        QCOMPARE(heading(boxes, 1), u"1 of these recipients already received this campaign (1 more may have)."_s);
        QCOMPARE(boxes.buttonsSeen().value(1), u"Send only to the 2 others|Send to everyone again|Cancel"_s);
        QVERIFY(boxes.texts().value(2).contains(u"2 messages will be sent"));
        waitForTheRun();
        QCOMPARE(sentAddresses(), (QStringList{u"two@resume.test"_s, u"four@resume.test"_s}));
        QCOMPARE(statusCodes(), (QList<int>{1, 1, 2, 1}));
        // Nothing failed or unsent any more, as the menu shows when it opens.
        Q_EMIT menu->aboutToShow();
        QVERIFY(!failed->isEnabled() && !unsent->isEnabled());
        selectRows({0});
        app()->selectFailed();
        QCOMPARE(selectedRowNumbers(), QList<int>());
        QCOMPARE(boxes.unexpected(), 0);
    }

    // A throttled message is sent again and accepted, with no failure on the way; at the daily
    // quota the run stops, the box says how many were not sent with the quota figures, and
    // those keep no outcome.
    void throttlingAndTheDailyQuota()
    {
        loadList(5, u"quota.example.com"_s);
        app()->setMax24Send(u"3.0"_s, u"5.0"_s, u"0.0"_s);
        m_server->setTurnAwayEvery(2, {400, FakeSesServer::throttlingDocument()});
        m_server->setDailyQuota(3);
        DialogDriver boxes({u"Send"_s, u"Send"_s, u"OK"_s});
        app()->deliver();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.texts().size(), 3, 10000);
        QCOMPARE(heading(boxes, 2), u"Sending stopped: the account’s 24-hour sending quota is used up."_s);
        QVERIFY2(boxes.texts().value(2).contains(u"2 recipient(s) of this run were not sent"_s),
                 qPrintable(boxes.texts().value(2)));
        QVERIFY(boxes.texts().value(2).contains(u"Quota: 3.0 messages per 24 hours, 0.0 sent"_s));
        waitForTheRun();
        QCOMPARE(statusCodes(), (QList<int>{1, 1, 1, 0, 0}));
        QCOMPARE(m_server->acceptedMessages(), 3);
        // The last lines reach the disk with the next grouped write.
        const auto journal = [] {
            QFile file(app()->sendJournalPath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_VERIFY(journal().contains("\tretry\tDaily message quota exceeded.\n"));
        QVERIFY(journal().contains("\tretry\tMaximum sending rate exceeded.\n"));
        QCOMPARE(boxes.unexpected(), 0);
    }

    // No record, no message: a journal that cannot be opened stops the run before the first
    // request and says why.
    void unwritableJournalSendsNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"Blocked.brisko"_s);
        loadList(2, u"blocked.test"_s);
        QVERIFY(!CampaignFile::write(path, app()->campaign().document()));
        app()->loadCampaignFromFile(path);
        QVERIFY(QDir().mkpath(path + u".sent"_s)); // a folder in the journal's place
        DialogDriver boxes({u"Send"_s, u"Send"_s, u"OK"_s});
        app()->deliver();
        QTRY_COMPARE(boxes.texts().size(), 3);
        QCOMPARE(heading(boxes, 2), u"Sending stopped: the send journal could not be written."_s);
        QVERIFY(boxes.texts().value(2).contains(path + u".sent"_s));
        QTest::qWait(300);
        QCOMPARE(sentAddresses(), QStringList());
        QCOMPARE(app()->campaign().response(u"one@blocked.test"_s), std::nullopt);
        QVERIFY(!app()->progressPanel()->isVisible());
    }
};

BRISKO_APP_TEST_MAIN(TestDelivery, true)

#include "tst_delivery.moc"

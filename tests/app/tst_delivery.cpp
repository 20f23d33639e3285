// The window's send command against the stand-in service: the two confirmations (two or
// three buttons), the progress sheet and its texts, cancel, the outcomes in the table
// (also those arriving after the sheet closed), and the message when sending cannot
// start because the send rate stays unknown.

#include "AppTestMain.h"
#include "DialogDriver.h"
// The stand-in service is shared with the mail tests.
#include "../mail/FakeSesServer.cpp"

#include "AccountSettings.h"
#include "BriskoConnector.h"
#include "FennimarUserDefaults.h"
#include "RecipientTableModel.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

using namespace Qt::StringLiterals;
using namespace brisko;

namespace {

const QByteArray SendAnswer = "<SendRawEmailResponse><SendRawEmailResult><MessageId>m-1</MessageId>"
                              "</SendRawEmailResult></SendRawEmailResponse>";

} // namespace

class TestDelivery : public QObject
{
    Q_OBJECT

    std::unique_ptr<FakeSesServer> m_server;

    static BriskoApplication *app() { return BriskoApplication::instance(); }
    static QString heading(const DialogDriver &d, int n) { return d.texts().value(n).section(u'\n', 0, 0); }
    static QVariant status(int row, int role)
    {
        auto *model = qobject_cast<RecipientTableModel *>(app()->listView()->model());
        return model->index(row, model->columnOf(RecipientTableModel::StatusColumn)).data(role);
    }
    static void select(int row)
    {
        app()->listView()->selectionModel()->select(app()->listView()->model()->index(row, 2),
                                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    // Outcomes last as long as the program: a test that looks at fresh ones uses a domain of its own.
    static void loadList(int count, const QString &domain = u"example.com"_s)
    {
        RecipientList list;
        const QStringList names = {u"one"_s, u"two"_s, u"three"_s, u"four"_s, u"five"_s};
        for (int n = 0; n < count; ++n)
            list.append(makeRecipient({{u"EMAIL"_s, names.at(n) + u'@' + domain}, {u"NAME"_s, names.at(n)}}));
        app()->campaign().apply({u"Hello __NAME__"_s, u"ann@example.com"_s, u"Dear __NAME__"_s,
                                 u"<p>Dear __NAME__</p>"_s, QString(), QString(),
                                 QStringList{u"EMAIL"_s, u"NAME"_s}, list});
        app()->listView()->clearSelection();
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

private Q_SLOTS:
    void initTestCase() { QLoggingCategory::setFilterRules(u"brisko.mail.info=false"_s); }

    void init()
    {
        m_server = std::make_unique<FakeSesServer>();
        QVERIFY(m_server->listen());
        m_server->setAnswer({200, SendAnswer});
        for (const auto &[key, value] : {std::pair(AccountSettings::AccessKeyKey, u"AKIDWINDOWTEST"_s),
                                         {AccountSettings::SecretKeyKey, u"window/Secret+Key"_s},
                                         {AccountSettings::EndpointKey, m_server->endpoint()},
                                         {AccountSettings::SignatureVersionKey, u"v4"_s}})
            FennimarUserDefaults::setObject(value, key.toString());
        SendRun::setSendTimeout(5000);
        app()->setSendRateWithString(u"5.0"_s);
        loadList(3);
    }

    void cleanup()
    {
        if (app()->progressPanel()->isVisible())
            app()->cancelSend();
        QTRY_VERIFY(!app()->briskocon() || app()->briskocon()->pendingResponses() == 0);
        m_server.reset();
    }

    // Cancel at either confirmation sends nothing and opens no sheet; Escape is checked
    // with the dialogs themselves.
    void confirmations_data()
    {
        QTest::addColumn<QList<int>>("selectedRows");
        QTest::addColumn<QStringList>("answers");
        QTest::addColumn<QString>("firstButtons");
        QTest::addColumn<QStringList>("sent"); // names; empty: no run at all
        const QStringList all = {u"one"_s, u"two"_s, u"three"_s};
        QTest::newRow("no selection: two buttons, whole list")
            << QList<int>() << QStringList{u"Send"_s, u"Send"_s} << u"Send|Cancel"_s << all;
        QTest::newRow("selection: three buttons, selected rows")
            << QList<int>{0, 2} << QStringList{u"Send to Selected"_s, u"Send"_s}
            << u"Send|Cancel|Send to Selected"_s << QStringList{u"one"_s, u"three"_s};
        QTest::newRow("selection, but Send: whole list")
            << QList<int>{1} << QStringList{u"Send"_s, u"Send"_s} << u"Send|Cancel|Send to Selected"_s << all;
        QTest::newRow("cancel at the first")
            << QList<int>() << QStringList{u"Cancel"_s} << u"Send|Cancel"_s << QStringList();
        QTest::newRow("cancel at the final")
            << QList<int>() << QStringList{u"Send"_s, u"Cancel"_s} << u"Send|Cancel"_s << QStringList();
    }

    void confirmations()
    {
        QFETCH(QList<int>, selectedRows);
        QFETCH(QStringList, answers);
        QFETCH(QString, firstButtons);
        QFETCH(QStringList, sent);
        static int run = 0; // fresh addresses, so that the outcomes below are this run's
        const QString domain = u"@c%1.example.com"_s.arg(++run);
        loadList(3, domain.mid(1));
        for (QString &name : sent)
            name += domain;
        for (int row : selectedRows)
            select(row);
        BriskoConnector *before = app()->briskocon();
        DialogDriver boxes(true);
        boxes.answer(answers);
        app()->deliver();

        QCOMPARE(boxes.buttonsSeen().value(0), firstButtons);
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
        QCOMPARE(boxes.buttonsSeen().value(1), u"Send|Cancel"_s);
        QVERIFY(app()->briskocon() != before);

        // The sheet shows the bar (0…N−1), the address going out and "n of N", then closes
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
            expected.append(u"%1/%2 %3 %4 of %2"_s.arg(n).arg(sent.size()).arg(sent.at(n)).arg(n + 1));
        QCOMPARE(seen, expected);
        waitForTheRun();
        QCOMPARE(sentAddresses(), sent);
        for (int row = 0; row < 3; ++row) {
            const bool wasSent = sent.contains(app()->recipients().at(row)->email());
            QCOMPARE(status(row, RecipientTableModel::ResponseRole).toInt(), wasSent ? 1 : 0);
            QCOMPARE(status(row, Qt::ToolTipRole).toString(), wasSent ? u"Success!"_s : QString());
        }
    }

    void outcomesInTheTable_data()
    {
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QByteArray>("answer"); // empty with status 0: connection refused
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("error without message keeps the earlier text")
            << 400 << FakeSesServer::errorDocument(u"Throttling"_s, std::nullopt) << -1 << u"Earlier text"_s;
        QTest::newRow("message up to the last closing tag")
            << 400
            << QByteArray("<ErrorResponse><Message>Not verified.</Message> b</Message></ErrorResponse>") << -1
            << u"Not verified.</Message> b"_s;
        QTest::newRow("transport failure") << 0 << QByteArray() << -1 << u"Connection refused"_s;
    }

    void outcomesInTheTable()
    {
        QFETCH(int, httpStatus);
        QFETCH(QByteArray, answer);
        QFETCH(int, code);
        QFETCH(QString, toolTip);
        loadList(1);
        app()->campaign().recordOutcome(u"one@example.com"_s, 1, u"Earlier text"_s);
        if (httpStatus == 0) {
            QTcpServer closed; // gone at the end of the block: nobody listens
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            FennimarUserDefaults::setObject(u"http://127.0.0.1:%1"_s.arg(closed.serverPort()),
                                            AccountSettings::EndpointKey.toString());
        } else {
            m_server->setAnswer({httpStatus, answer});
        }
        DialogDriver boxes(true);
        boxes.answer({u"Send"_s, u"Send"_s});
        app()->deliver();
        waitForTheRun();
        QCOMPARE(status(0, RecipientTableModel::ResponseRole).toInt(), code);
        QCOMPARE(status(0, Qt::ToolTipRole).toString(), toolTip);
        QCOMPARE(app()->campaign().status(u"one@example.com"_s), toolTip);
    }

    // Cancel closes the sheet at once and sends nothing more; answers to messages already
    // sent are recorded after the sheet has closed, even once a new run has replaced the
    // cancelled one's connector.
    void cancelKeepsAnswersInFlight()
    {
        loadList(5, u"cancel.example.com"_s);
        app()->setSendRateWithString(u"10"_s);
        m_server->setAnswer({200, SendAnswer, 1, 0, 700});
        DialogDriver boxes(true);
        boxes.answer({u"Send"_s, u"Send"_s});
        app()->deliver();
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 2, 5000);
        auto *buttons = app()->progressPanel()->findChild<QDialogButtonBox *>(u"progressButtons"_s);
        QVERIFY(buttons);
        buttons->button(QDialogButtonBox::Cancel)->click();
        QVERIFY(!app()->progressPanel()->isVisible());
        QPointer<BriskoConnector> cancelled = app()->briskocon();
        QVERIFY(cancelled->hasStopped());
        const int sent = int(m_server->requests().size());
        QVERIFY(sent == 2 || sent == 3);
        QCOMPARE(app()->campaign().response(u"one@cancel.example.com"_s), std::nullopt); // still in flight

        // A new run over the last record only, answered at once.
        m_server->setAnswer({200, SendAnswer});
        select(4);
        boxes.answer({u"Send to Selected"_s, u"Send"_s});
        app()->deliver();
        QVERIFY(app()->briskocon() != cancelled);
        QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 5000);

        const QStringList addresses = {u"one@cancel.example.com"_s, u"two@cancel.example.com"_s,
                                       u"three@cancel.example.com"_s};
        for (int n = 0; n < sent; ++n)
            QTRY_COMPARE_WITH_TIMEOUT(app()->campaign().response(addresses.at(n)), std::optional<int>(1),
                                      5000);
        QCOMPARE(app()->campaign().response(u"four@cancel.example.com"_s), std::nullopt); // never sent
        QTRY_COMPARE_WITH_TIMEOUT(app()->campaign().response(u"five@cancel.example.com"_s),
                                  std::optional<int>(1), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(cancelled.isNull(), 5000); // gone once its last answer was in
        QCOMPARE(m_server->requests().size(), sent + 1);
    }

    // Without an account, or with a send rate that stays unknown, nothing is sent and the
    // window says why.
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
            FennimarUserDefaults::settings()->remove(AccountSettings::AccessKeyKey.toString());
        app()->setSendRateWithString(u"0"_s);
        m_server->setAnswerFor(u"GetSendQuota"_s, {403, FakeSesServer::errorDocument(
                                                            u"InvalidClientTokenId"_s, u"Bad token."_s)});
        DialogDriver boxes(true);
        boxes.answer(answers);
        app()->deliver();
        QTRY_COMPARE_WITH_TIMEOUT(boxes.shown(), answers.size(), 5000);
        QCOMPARE(heading(boxes, int(answers.size()) - 1), last);
        QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 5000);
        QVERIFY(sentAddresses().isEmpty());
        QCOMPARE(boxes.unexpected(), 0);
    }
};

BRISKO_APP_TEST_MAIN(TestDelivery)

#include "tst_delivery.moc"

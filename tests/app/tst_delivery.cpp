// The window's send command against the stand-in service: the two confirmations (two or
// three buttons), the progress sheet and its texts, cancel, the outcomes in the table
// (also those arriving after the sheet closed), and the message when sending cannot
// start because the send rate stays unknown.

// The stand-in service is shared with the mail tests.
#include "AppTestMain.h"
#include "../mail/FakeSesServer.cpp"

#include "AccountSettings.h"
#include "BriskoApplication.h"
#include "BriskoConnector.h"
#include "FennimarUserDefaults.h"
#include "RecipientTableModel.h"

#include <QAbstractButton>
#include <QDialogButtonBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace brisko;

namespace {

BriskoApplication *app()
{
    return BriskoApplication::instance();
}

const QByteArray SendAnswer = "<SendRawEmailResponse><SendRawEmailResult><MessageId>m-1</MessageId>"
                              "</SendRawEmailResult></SendRawEmailResponse>";

// Answers the message boxes of the send command by button title; a box that finds no
// answer queued is closed with Escape. The progress sheet is no message box and is left
// alone.
class Answerer : public QObject
{
public:
    Answerer()
    {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }
    void answer(const QStringList &titles) { m_answers += titles; }
    QStringList headings;
    QStringList buttons; // per box, the titles joined by "|"
    int unanswered = 0;

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == m_last || !box->isVisible())
            return;
        m_last = box;
        headings.append(box->text());
        QStringList titles;
        const auto all = box->buttons();
        for (QAbstractButton *button : all)
            titles.append(button->text());
        buttons.append(titles.join(u'|'));
        if (m_answers.isEmpty()) {
            ++unanswered;
            QTest::keyClick(box, Qt::Key_Escape);
            return;
        }
        const QString wanted = m_answers.takeFirst();
        for (QAbstractButton *button : all) {
            if (button->text() == wanted) {
                QTimer::singleShot(0, button, &QAbstractButton::click);
                return;
            }
        }
        ++unanswered;
        box->reject();
    }

    QTimer m_timer;
    QPointer<QMessageBox> m_last;
    QStringList m_answers;
};

void setPreference(QStringView key, const std::optional<QString> &value)
{
    if (value)
        FennimarUserDefaults::setObject(*value, key.toString());
    else
        FennimarUserDefaults::settings()->remove(key.toString());
}

QString statusToolTip(int row)
{
    auto *model = qobject_cast<RecipientTableModel *>(app()->listView()->model());
    const int column = model->columnOf(RecipientTableModel::StatusColumn);
    return model->data(model->index(row, column), Qt::ToolTipRole).toString();
}

int statusCode(int row)
{
    auto *model = qobject_cast<RecipientTableModel *>(app()->listView()->model());
    const int column = model->columnOf(RecipientTableModel::StatusColumn);
    return model->data(model->index(row, column), RecipientTableModel::ResponseRole).toInt();
}

} // namespace

class TestDelivery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void confirmations_data();
    void confirmations();
    void noAccessKeyShowsWarning();
    void progressSheetTexts();
    void outcomesInTheTable_data();
    void outcomesInTheTable();
    void cancelKeepsAnswersInFlight();
    void unusableQuotaTellsWhy();

private:
    // Outcomes last as long as the program: a test that looks at fresh ones uses a domain of its own.
    void loadList(int count, const QString &domain = u"example.com"_s);
    QStringList sentAddresses() const;

    std::unique_ptr<FakeSesServer> m_server;
};

void TestDelivery::initTestCase()
{
    QLoggingCategory::setFilterRules(u"brisko.mail.info=false"_s);
}

void TestDelivery::init()
{
    m_server = std::make_unique<FakeSesServer>();
    QVERIFY(m_server->listen());
    m_server->setAnswer({200, SendAnswer});
    setPreference(AccountSettings::AccessKeyKey, u"AKIDWINDOWTEST"_s);
    setPreference(AccountSettings::SecretKeyKey, u"window/Secret+Key"_s);
    setPreference(AccountSettings::EndpointKey, m_server->endpoint());
    setPreference(AccountSettings::SignatureVersionKey, u"v4"_s);
    SendRun::setSendTimeout(5000);
    app()->setSendRateWithString(u"20.0"_s);
    loadList(3);
}

void TestDelivery::cleanup()
{
    if (app()->progressPanel()->isVisible())
        app()->cancelSend();
    QTRY_VERIFY(!app()->briskocon() || app()->briskocon()->pendingResponses() == 0);
    m_server.reset();
}

void TestDelivery::cleanupTestCase()
{
    for (QStringView key :
         {AccountSettings::AccessKeyKey, AccountSettings::SecretKeyKey, AccountSettings::EndpointKey})
        setPreference(key, std::nullopt);
}

void TestDelivery::loadList(int count, const QString &domain)
{
    CampaignDocument document{u"Hello __NAME__"_s,
                              u"ann@example.com"_s,
                              u"Dear __NAME__"_s,
                              u"<p>Dear __NAME__</p>"_s,
                              QString(),
                              QString(),
                              QStringList{u"EMAIL"_s, u"NAME"_s},
                              RecipientList()};
    RecipientList list;
    const QStringList names = {u"one"_s, u"two"_s, u"three"_s, u"four"_s, u"five"_s};
    for (int n = 0; n < count; ++n)
        list.append(makeRecipient({{u"EMAIL"_s, names.at(n) + u'@' + domain}, {u"NAME"_s, names.at(n)}}));
    document.recipients = list;
    app()->campaign().apply(document);
    app()->listView()->clearSelection();
}

QStringList TestDelivery::sentAddresses() const
{
    QStringList addresses;
    for (const RecordedRequest &request : m_server->requests()) {
        if (request.action() == u"SendRawEmail")
            addresses.append(request.form().value(u"Destinations.member.1"_s));
    }
    return addresses;
}

void TestDelivery::confirmations_data()
{
    QTest::addColumn<QList<int>>("selectedRows");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("firstButtons");
    QTest::addColumn<QStringList>("sent"); // empty: no run at all
    const QStringList all = {u"one@example.com"_s, u"two@example.com"_s, u"three@example.com"_s};
    QTest::newRow("no selection: two buttons, whole list")
        << QList<int>() << QStringList{u"Send"_s, u"Send"_s} << u"Send|Cancel"_s << all;
    QTest::newRow("selection: three buttons, selected rows")
        << QList<int>{0, 2} << QStringList{u"Send to Selected"_s, u"Send"_s}
        << u"Send|Cancel|Send to Selected"_s << QStringList{u"one@example.com"_s, u"three@example.com"_s};
    QTest::newRow("selection, but Send: whole list")
        << QList<int>{1} << QStringList{u"Send"_s, u"Send"_s} << u"Send|Cancel|Send to Selected"_s << all;
    QTest::newRow("cancel at the first")
        << QList<int>() << QStringList{u"Cancel"_s} << u"Send|Cancel"_s << QStringList();
    QTest::newRow("cancel at the final")
        << QList<int>() << QStringList{u"Send"_s, u"Cancel"_s} << u"Send|Cancel"_s << QStringList();
    QTest::newRow("escape at the first")
        << QList<int>() << QStringList() << u"Send|Cancel"_s << QStringList();
}

void TestDelivery::confirmations()
{
    QFETCH(QList<int>, selectedRows);
    QFETCH(QStringList, answers);
    QFETCH(QString, firstButtons);
    QFETCH(QStringList, sent);
    QTableView *view = app()->listView();
    for (int row : selectedRows)
        view->selectionModel()->select(view->model()->index(row, 2),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
    BriskoConnector *before = app()->briskocon();
    Answerer answerer;
    answerer.answer(answers);
    app()->deliver();

    QCOMPARE(answerer.buttons.value(0), firstButtons);
    QCOMPARE(answerer.headings.value(0), u"Send this campaign now?"_s);
    if (sent.isEmpty()) {
        QCOMPARE(app()->briskocon(), before); // no connector, no sheet
        QVERIFY(!app()->progressPanel()->isVisible());
        QTest::qWait(100);
        QVERIFY(m_server->requests().isEmpty());
        return;
    }
    QCOMPARE(answerer.headings.value(1), u"Are you sure?"_s);
    QCOMPARE(answerer.buttons.value(1), u"Send|Cancel"_s);
    QVERIFY(app()->progressPanel()->isVisible());
    QVERIFY(app()->briskocon() != before);
    QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(app()->briskocon()->pendingResponses(), 0, 5000);
    QCOMPARE(sentAddresses(), sent);
    QCOMPARE(answerer.unanswered, 0);
}

void TestDelivery::noAccessKeyShowsWarning()
{
    setPreference(AccountSettings::AccessKeyKey, std::nullopt);
    Answerer answerer;
    answerer.answer({u"Cancel"_s});
    BriskoConnector *before = app()->briskocon();
    app()->deliver();
    QCOMPARE(answerer.headings, QStringList{u"Your Amazon SES account is not set up."_s});
    QCOMPARE(app()->briskocon(), before);
    QVERIFY(!app()->progressPanel()->isVisible());
}

// The sheet shows the bar (0…N−1), the address going out and "n of N", then closes on
// the tick after the last message.
void TestDelivery::progressSheetTexts()
{
    app()->setSendRateWithString(u"5.0"_s);
    Answerer answerer;
    answerer.answer({u"Send"_s, u"Send"_s});
    app()->deliver();
    QDialog *sheet = app()->progressPanel();
    QVERIFY(sheet->isVisible());
    QCOMPARE(sheet->windowModality(), Qt::WindowModal);
    QCOMPARE(sheet->parentWidget(), app()->window());
    auto *count = sheet->findChild<QLabel *>(u"progressPanel_Count"_s);
    QVERIFY(count);
    QCOMPARE(app()->progressTextField()->text(), QString()); // nothing leaves before the first tick

    struct Seen
    {
        int value;
        int maximum;
        QString address;
        QString count;
    };
    QList<Seen> seen;
    while (sheet->isVisible() && seen.size() < 3) {
        QTest::qWait(5);
        const QString address = app()->progressTextField()->text();
        if (!address.isEmpty() && (seen.isEmpty() || seen.last().address != address))
            seen.append({app()->sendProgressMeter()->value(), app()->sendProgressMeter()->maximum(), address,
                         count->text()});
    }
    QCOMPARE(seen.size(), 3);
    const QStringList addresses = {u"one@example.com"_s, u"two@example.com"_s, u"three@example.com"_s};
    for (int n = 0; n < 3; ++n) {
        QCOMPARE(seen.at(n).value, n);
        QCOMPARE(seen.at(n).maximum, 3);
        QCOMPARE(seen.at(n).address, addresses.at(n));
        QCOMPARE(seen.at(n).count, u"%1 of 3"_s.arg(n + 1));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!sheet->isVisible(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(app()->briskocon()->pendingResponses(), 0, 5000);
    for (int row = 0; row < 3; ++row) {
        QCOMPARE(statusCode(row), 1);
        QCOMPARE(statusToolTip(row), u"Success!"_s);
    }
}

void TestDelivery::outcomesInTheTable_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("answer"); // empty with status 0: connection refused
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("toolTip");
    QTest::newRow("accepted") << 200 << SendAnswer << 1 << u"Success!"_s;
    QTest::newRow("service error") << 400
                                   << FakeSesServer::errorDocument(u"MessageRejected"_s,
                                                                   u"Email address is not verified."_s)
                                   << -1 << u"Email address is not verified."_s;
    QTest::newRow("error without message keeps the earlier text")
        << 400 << FakeSesServer::errorDocument(u"Throttling"_s, std::nullopt) << -1 << u"Earlier text"_s;
    QTest::newRow("message up to the last closing tag")
        << 400 << QByteArray("<ErrorResponse><Message>a</Message> b</Message></ErrorResponse>") << -1
        << u"a</Message> b"_s;
    QTest::newRow("transport failure") << 0 << QByteArray() << -1 << u"Connection refused"_s;
}

void TestDelivery::outcomesInTheTable()
{
    QFETCH(int, status);
    QFETCH(QByteArray, answer);
    QFETCH(int, code);
    QFETCH(QString, toolTip);
    loadList(1);
    app()->campaign().recordOutcome(u"one@example.com"_s, 1, u"Earlier text"_s);
    if (status == 0) {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        setPreference(AccountSettings::EndpointKey, u"http://127.0.0.1:%1"_s.arg(closed.serverPort()));
    } else {
        m_server->setAnswer({status, answer});
    }
    Answerer answerer;
    answerer.answer({u"Send"_s, u"Send"_s});
    app()->deliver();
    QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(app()->briskocon()->pendingResponses(), 0, 5000);
    QCOMPARE(statusCode(0), code);
    QCOMPARE(statusToolTip(0), toolTip);
    QCOMPARE(app()->campaign().status(u"one@example.com"_s), toolTip);
}

// Cancel closes the sheet at once and sends nothing more; answers to messages already
// sent are recorded after the sheet has closed, even once a new run has replaced the
// cancelled one's connector.
void TestDelivery::cancelKeepsAnswersInFlight()
{
    loadList(5, u"cancel.example.com"_s);
    app()->setSendRateWithString(u"10"_s);
    m_server->setAnswer({200, SendAnswer, 1, 0, 700});
    Answerer answerer;
    answerer.answer({u"Send"_s, u"Send"_s});
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
    app()->listView()->selectionModel()->select(app()->listView()->model()->index(4, 2),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
    answerer.answer({u"Send to Selected"_s, u"Send"_s});
    app()->deliver();
    QVERIFY(app()->briskocon() != cancelled);
    QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 5000);

    const QStringList addresses = {u"one@cancel.example.com"_s, u"two@cancel.example.com"_s,
                                   u"three@cancel.example.com"_s};
    for (int n = 0; n < sent; ++n)
        QTRY_COMPARE_WITH_TIMEOUT(app()->campaign().response(addresses.at(n)), std::optional<int>(1), 5000);
    QCOMPARE(app()->campaign().response(u"four@cancel.example.com"_s), std::nullopt); // never sent
    QTRY_COMPARE_WITH_TIMEOUT(app()->campaign().response(u"five@cancel.example.com"_s), std::optional<int>(1),
                              5000);
    QTRY_VERIFY_WITH_TIMEOUT(cancelled.isNull(), 5000); // gone once its last answer was in
    QCOMPARE(m_server->requests().size(), sent + 1);
}

void TestDelivery::unusableQuotaTellsWhy()
{
    app()->setSendRateWithString(u"0"_s);
    m_server->setAnswerFor(u"GetSendQuota"_s,
                           {403, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"Bad token."_s)});
    Answerer answerer;
    answerer.answer({u"Send"_s, u"Send"_s, u"OK"_s});
    app()->deliver();
    QTRY_COMPARE_WITH_TIMEOUT(answerer.headings.size(), 3, 5000);
    QCOMPARE(answerer.headings.at(2), u"Sending did not start."_s);
    QTRY_VERIFY_WITH_TIMEOUT(!app()->progressPanel()->isVisible(), 5000);
    QVERIFY(sentAddresses().isEmpty());
}

BRISKO_APP_TEST_MAIN(TestDelivery)

#include "tst_delivery.moc"

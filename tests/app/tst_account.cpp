// The account side of the window against the stand-in service (reached through the
// Endpoint setting): the account panel and its login check, the quota at launch, the
// quota line and send rate, verification of selected rows and the statistics report.

#include "AppTestMain.h"
#include "AccountSettings.h"
#include "BriskoApplication.h"
#include "FennimarUserDefaults.h"
#include "Localization.h"
#include "QuotaLine.h"

// The stand-in service lives with the mail tests; it is compiled into this test as well.
#include "../mail/FakeSesServer.cpp"

#include <QAbstractButton>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>
#include <QTextDocument>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <climits>
#include <cmath>

using namespace Qt::StringLiterals;
using namespace brisko;

using OptionalText = std::optional<QString>;

namespace {

const QString AccessKey = u"AKIDWINDOWTEST000001"_s;
const QString SecretKey = u"wJalr/Window+Secret/Key0000000000000000"_s;

BriskoApplication *app()
{
    return BriskoApplication::instance();
}

QString text(const QString &key)
{
    return brisko::tr(key);
}

void store(QStringView key, const OptionalText &value)
{
    if (value)
        FennimarUserDefaults::setObject(*value, key.toString());
    else
        FennimarUserDefaults::settings()->remove(key.toString());
}

OptionalText stored(QStringView key)
{
    const QVariant value = FennimarUserDefaults::objectForKey(key.toString());
    return value.isValid() ? OptionalText(value.toString()) : std::nullopt;
}

template<typename T = QLineEdit>
T *panel(const char *name)
{
    return app()->authPanel()->findChild<T *>(QLatin1StringView(name));
}

void pressPanelButton(QDialogButtonBox::StandardButton which)
{
    panel<QDialogButtonBox>("authButtons")->button(which)->click();
}

QString quotaLineText()
{
    QTextDocument document;
    document.setHtml(app()->quotaField()->text());
    return document.toPlainText();
}

QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

void captureLog(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    g_log.append(message);
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

// Answers the program's message boxes, and only those (the account panel is a modal
// sheet too), pressing the buttons asked for in order and noting each box's texts and
// buttons. A box with no answer left is rejected.
class MessageBoxAnswerer : public QObject
{
public:
    explicit MessageBoxAnswerer(const QStringList &answers) : m_answers(answers)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start(10);
    }
    int shown() const { return int(m_texts.size()); }
    QStringList texts() const { return m_texts; }
    QStringList buttons() const { return m_buttons; }

private:
    void poll()
    {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box == m_last || !box->isVisible())
            return;
        m_last = box;
        m_texts.append(box->text() + u'\n' + box->informativeText());
        QStringList titles;
        const auto buttons = box->buttons();
        for (QAbstractButton *button : buttons)
            titles.append(button->text());
        m_buttons.append(titles.join(u'|'));
        const QString wanted = m_answers.isEmpty() ? QString() : m_answers.takeFirst();
        for (QAbstractButton *button : buttons) {
            if (button->text() == wanted) {
                QTimer::singleShot(0, button, &QAbstractButton::click);
                return;
            }
        }
        box->reject();
    }

    QTimer m_timer;
    QPointer<QMessageBox> m_last;
    QStringList m_answers;
    QStringList m_texts;
    QStringList m_buttons;
};

// The statistics view's page as the view serialises it, with white space between tags
// taken out.
QString statisticsHtml()
{
    QString html;
    bool done = false;
    app()->statisticsWebview()->page()->toHtml([&](const QString &result) {
        html = result;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        return u"<timed out>"_s;
    return html.replace(QRegularExpression(u">\\s+<"_s), u"><"_s);
}

} // namespace

class TestAccount : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void noAuthWarningOffersThePanel_data();
    void noAuthWarningOffersThePanel();
    void panelIsFilledFromSettings_data();
    void panelIsFilledFromSettings();
    void panelStoresWhatWasEntered_data();
    void panelStoresWhatWasEntered();
    void unusableEntriesKeepThePanelOpen_data();
    void unusableEntriesKeepThePanelOpen();
    void loginCheckShowsOnlyErrorDocuments_data();
    void loginCheckShowsOnlyErrorDocuments();
    void launchAsksForQuotaOnlyWithAccessKey_data();
    void launchAsksForQuotaOnlyWithAccessKey();
    void quotaAnswerFillsLineAndRate_data();
    void quotaAnswerFillsLineAndRate();
    void quotaLineRunsAreWhiteWithBoldFigures();
    void quotaWithoutAnswerChangesNothing();
    void sendRateFromText_data();
    void sendRateFromText();
    void verificationGoesOutPerSelectedRow_data();
    void verificationGoesOutPerSelectedRow();
    void statisticsPageShowsDataPoints_data();
    void statisticsPageShowsDataPoints();

private:
    FakeSesServer m_server;
};

void TestAccount::initTestCase()
{
    QVERIFY(m_server.listen());
    g_previousHandler = qInstallMessageHandler(captureLog);
}

void TestAccount::init()
{
    m_server.clear();
    store(AccountSettings::AccessKeyKey, AccessKey);
    store(AccountSettings::SecretKeyKey, SecretKey);
    store(AccountSettings::RegionKey, u"us-east-1"_s);
    store(AccountSettings::EndpointKey, m_server.endpoint());
    store(AccountSettings::SignatureVersionKey, u"v4"_s);
    g_log.clear();
}

void TestAccount::cleanup()
{
    if (app()->authPanel()->isVisible())
        app()->authPanel()->reject();
    app()->statisticsPanel()->hide();
    app()->listView()->clearSelection();
}

void TestAccount::noAuthWarningOffersThePanel_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("set up") << text(u"SetupAuth..."_s);
    QTest::newRow("cancel") << text(u"Cancel"_s);
}

void TestAccount::noAuthWarningOffersThePanel()
{
    QFETCH(QString, button);
    MessageBoxAnswerer boxes({button});
    app()->showNoAuthWarning();
    QCOMPARE(boxes.texts(), QStringList{text(u"NoAuthInfo_Head"_s) + u'\n' + text(u"NoAuthInfo_Sub"_s)});
    QCOMPARE(boxes.buttons(), QStringList{text(u"SetupAuth..."_s) + u'|' + text(u"Cancel"_s)});
    const bool setUp = button == text(u"SetupAuth..."_s);
    QCOMPARE(app()->authPanel()->isVisible(), setUp);
    if (setUp) {
        QCOMPARE(app()->authPanel()->parentWidget(), app()->window());
        QCOMPARE(app()->authPanel()->windowModality(), Qt::WindowModal);
    }
}

void TestAccount::panelIsFilledFromSettings_data()
{
    QTest::addColumn<OptionalText>("region");
    QTest::addColumn<OptionalText>("signature");
    QTest::addColumn<QString>("shownRegion");
    QTest::addColumn<int>("shownSignature");
    QTest::newRow("defaults") << OptionalText() << OptionalText() << u"us-east-1"_s << 0;
    QTest::newRow("eu-west-1, legacy") << OptionalText(u"eu-west-1"_s) << OptionalText(u"v3"_s) << u"eu-west-1"_s << 1;
    QTest::newRow("region not offered") << OptionalText(u"xx-test-7"_s) << OptionalText(u"v9"_s) << u"xx-test-7"_s
                                        << 0;
}

void TestAccount::panelIsFilledFromSettings()
{
    QFETCH(OptionalText, region);
    QFETCH(OptionalText, signature);
    QFETCH(QString, shownRegion);
    QFETCH(int, shownSignature);
    store(AccountSettings::RegionKey, region);
    store(AccountSettings::SignatureVersionKey, signature);
    store(AccountSettings::SmtpPortKey, u"587"_s);

    app()->showAuthPanel();
    QVERIFY(app()->authPanel()->isVisible());
    QCOMPARE(panel("accessKeyField")->text(), AccessKey);
    QCOMPARE(panel("secretKeyField")->text(), SecretKey);
    QCOMPARE(panel("secretKeyField")->echoMode(), QLineEdit::Password);
    QCOMPARE(panel("endpointField")->text(), m_server.endpoint());
    QCOMPARE(panel("smtp_port")->text(), u"587"_s);
    QCOMPARE(panel<QComboBox>("regionPopUp")->currentText(), shownRegion);
    QCOMPARE(panel<QComboBox>("regionPopUp")->itemText(0), u"us-east-1"_s);
    QCOMPARE(panel<QComboBox>("signaturePopUp")->currentIndex(), shownSignature);

    // Cancel stores nothing and checks nothing.
    panel("accessKeyField")->setText(u"CHANGED"_s);
    pressPanelButton(QDialogButtonBox::Cancel);
    QVERIFY(!app()->authPanel()->isVisible());
    QCOMPARE(stored(AccountSettings::AccessKeyKey), AccessKey);
    QTest::qWait(100);
    QCOMPARE(m_server.requests().size(), 0);
}

void TestAccount::panelStoresWhatWasEntered_data()
{
    QTest::addColumn<QString>("region");
    QTest::addColumn<int>("signature");
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("v4") << u"eu-central-1"_s << 0 << QByteArray("Authorization")
                        << QByteArray("AWS4-HMAC-SHA256 Credential=AKIDNEW0000000000001/");
    QTest::newRow("legacy") << u"sa-east-1"_s << 1 << QByteArray("X-Amzn-Authorization")
                            << QByteArray("AWS3-HTTPS AWSAccessKeyId=AKIDNEW0000000000001,");
}

void TestAccount::panelStoresWhatWasEntered()
{
    QFETCH(QString, region);
    QFETCH(int, signature);
    QFETCH(QByteArray, header);
    QFETCH(QByteArray, value);
    app()->showAuthPanel();
    panel("accessKeyField")->setText(u"AKIDNEW0000000000001"_s);
    panel("secretKeyField")->setText(SecretKey + u"2"_s);
    panel<QComboBox>("regionPopUp")->setCurrentText(region);
    panel("endpointField")->setText(u"  "_s + m_server.endpoint() + u" "_s);
    panel<QComboBox>("signaturePopUp")->setCurrentIndex(signature);
    panel("smtp_host")->setText(u"mail.example.org"_s);
    panel("smtp_port")->setText(u"2525"_s);
    panel("smtp_user")->setText(u"mailer"_s);
    panel("smtp_pass")->setText(u"pw"_s);
    pressPanelButton(QDialogButtonBox::Ok);

    QVERIFY(!app()->authPanel()->isVisible());
    const AccountSettings settings = AccountSettings::load();
    QCOMPARE(settings.accessKey, u"AKIDNEW0000000000001"_s);
    QCOMPARE(settings.secretKey, SecretKey + u"2"_s);
    QCOMPARE(settings.region, region);
    QCOMPARE(settings.endpoint, m_server.endpoint());
    QCOMPARE(int(settings.signatureVersion), signature);
    QCOMPARE(settings.smtpHost, u"mail.example.org"_s);
    QCOMPARE(settings.smtpPort, 2525);
    QCOMPARE(settings.smtpUser, u"mailer"_s);
    QCOMPARE(settings.smtpPassword, u"pw"_s);

    // The login check goes out with what was entered; no quota request follows.
    QTRY_COMPARE(m_server.requests().size(), 1);
    const RecordedRequest request = m_server.requests().first();
    QCOMPARE(request.action(), u"GetSendQuota"_s);
    QVERIFY2(request.header(header).startsWith(value), request.header(header).constData());
    if (signature == 0)
        QVERIFY(request.header(header).contains("/" + region.toLatin1() + "/ses/aws4_request"));
    QTest::qWait(200);
    QCOMPARE(m_server.requests().size(), 1);
    QVERIFY(!g_log.join(u'\n').contains(u"Secret/Key"_s));

    // A cleared access key field leaves the account not set up.
    app()->showAuthPanel();
    QCOMPARE(panel<QComboBox>("regionPopUp")->currentText(), region);
    panel("accessKeyField")->clear();
    app()->authDoneAction();
    QCOMPARE(stored(AccountSettings::AccessKeyKey), std::nullopt);
    QVERIFY(!app()->hasAuthInfo());
    QTRY_COMPARE(m_server.requests().size(), 2);
}

void TestAccount::unusableEntriesKeepThePanelOpen_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("heading");
    const QString badEndpoint = u"The endpoint is not a web address."_s;
    QTest::newRow("no scheme") << u"email.eu-west-1.amazonaws.com"_s << u"25"_s << badEndpoint;
    QTest::newRow("other scheme") << u"ftp://email.example.org"_s << u"25"_s << badEndpoint;
    QTest::newRow("no host") << u"https://"_s << u"25"_s << badEndpoint;
    QTest::newRow("port") << QString() << u"70000"_s << u"The SMTP port is not a port number."_s;
}

void TestAccount::unusableEntriesKeepThePanelOpen()
{
    QFETCH(QString, endpoint);
    QFETCH(QString, port);
    QFETCH(QString, heading);
    app()->showAuthPanel();
    panel("accessKeyField")->setText(u"AKIDNOTSTORED"_s);
    panel("endpointField")->setText(endpoint);
    panel("smtp_port")->setText(port);

    MessageBoxAnswerer boxes({text(u"OK"_s)});
    app()->authDoneAction();
    QCOMPARE(boxes.shown(), 1);
    QVERIFY2(boxes.texts().first().startsWith(heading + u'\n'), qPrintable(boxes.texts().first()));
    QVERIFY(app()->authPanel()->isVisible());
    QCOMPARE(stored(AccountSettings::AccessKeyKey), AccessKey);
    QTest::qWait(100);
    QCOMPARE(m_server.requests().size(), 0);
}

void TestAccount::loginCheckShowsOnlyErrorDocuments_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("texts");
    const QString heading = u"Please check your Amazon AWS login details.\n"_s;
    QTest::newRow("good answer") << 200 << FakeSesServer::quotaDocument(u"200.0"_s, u"1.0"_s, u"0.0"_s)
                                 << QStringList();
    QTest::newRow("refused key") << 403
                                 << FakeSesServer::errorDocument(u"InvalidClientTokenId"_s,
                                                                 u"The security token is invalid."_s)
                                 << QStringList{heading + u"The security token is invalid."_s};
    QTest::newRow("no message") << 400 << FakeSesServer::errorDocument(u"Throttling"_s, std::nullopt)
                                << QStringList{heading};
}

void TestAccount::loginCheckShowsOnlyErrorDocuments()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, texts);
    m_server.setAnswer({status, body});

    MessageBoxAnswerer boxes({text(u"OK"_s)});
    app()->showAuthPanel();
    app()->authDoneAction();
    QVERIFY(!app()->authPanel()->isVisible());
    QTRY_COMPARE(m_server.requests().size(), 1);
    if (texts.isEmpty())
        QTest::qWait(400);
    else
        QTRY_COMPARE(boxes.shown(), 1);
    QCOMPARE(boxes.texts(), texts);
    QCOMPARE(stored(AccountSettings::AccessKeyKey), AccessKey);
}

void TestAccount::launchAsksForQuotaOnlyWithAccessKey_data()
{
    QTest::addColumn<OptionalText>("accessKey");
    QTest::newRow("no access key") << OptionalText();
    QTest::newRow("empty access key counts") << OptionalText(u""_s);
    QTest::newRow("access key") << OptionalText(AccessKey);
}

void TestAccount::launchAsksForQuotaOnlyWithAccessKey()
{
    QFETCH(OptionalText, accessKey);
    store(AccountSettings::AccessKeyKey, accessKey);
    QCOMPARE(app()->hasAuthInfo(), accessKey.has_value());
    app()->setMax24Send(u"1.0"_s, u"3.0"_s, u"2.0"_s);
    const QString before = app()->quotaField()->text();
    m_server.setAnswer({200, FakeSesServer::quotaDocument(u"700.0"_s, u"7.0"_s, u"0.0"_s)});

    app()->applicationDidFinishLaunching();
    if (!accessKey) {
        QTest::qWait(300);
        QCOMPARE(m_server.requests().size(), 0);
        QCOMPARE(app()->quotaField()->text(), before);
        QCOMPARE(app()->sendRate(), 3);
    } else {
        QTRY_COMPARE(app()->sendRate(), 7);
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(m_server.requests().first().action(), u"GetSendQuota"_s);
    }
}

void TestAccount::quotaAnswerFillsLineAndRate_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("figures");
    QTest::addColumn<int>("rate");
    QTest::addColumn<float>("timer");
    QTest::newRow("200/1/0") << 200 << FakeSesServer::quotaDocument(u"200.0"_s, u"1.0"_s, u"0.0"_s)
                             << QStringList{u"200.0"_s, u"1.0"_s, u"0.0"_s} << 1 << 1.0f;
    QTest::newRow("rate 14") << 200 << FakeSesServer::quotaDocument(u"50000.0"_s, u"14.0"_s, u"1234.0"_s)
                             << QStringList{u"50000.0"_s, u"14.0"_s, u"1234.0"_s} << 14 << 0.0714286f;
    QTest::newRow("error answer") << 403 << FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"bad"_s)
                                  << QStringList{QString(), QString(), QString()} << 0 << INFINITY;
}

void TestAccount::quotaAnswerFillsLineAndRate()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, figures);
    QFETCH(int, rate);
    QFETCH(float, timer);
    app()->setSendRateWithString(u"99"_s);
    m_server.setAnswer({status, body});

    app()->checkQuota();
    QTRY_COMPARE(app()->sendRate(), rate);
    QCOMPARE(app()->timerValueForSendRate(), timer);
    QCOMPARE(quotaLineText(), u"Amazon SES : "_s + text(u"Max24HrSend:"_s) + figures.at(0) + u"  "_s
                                  + text(u"MaxSendRate:"_s) + figures.at(1) + u"  "_s + text(u"SentLast24:"_s)
                                  + figures.at(2));
    // The line fades in from transparent.
    QVERIFY(QuotaLine::opacity(app()->quotaField()) < 1.0);
    QTRY_COMPARE(QuotaLine::opacity(app()->quotaField()), 1.0);
}

void TestAccount::quotaLineRunsAreWhiteWithBoldFigures()
{
    const StyledText line = QuotaLine::build(u"200.0"_s, u"1.0"_s, std::nullopt);
    // The figures and the service's name are bold 11, the labels and gaps regular 10.
    const std::pair<QString, bool> parts[] = {
        {u"Amazon SES : "_s, true}, {text(u"Max24HrSend:"_s), false}, {u"200.0"_s, true},
        {u"  "_s + text(u"MaxSendRate:"_s), false}, {u"1.0"_s, true}, {u"  "_s + text(u"SentLast24:"_s), false},
    };
    QString expected;
    QList<bool> bold;
    for (const auto &[part, isBold] : parts) {
        expected += part;
        bold += QList<bool>(part.size(), isBold);
    }
    QCOMPARE(line.text(), expected);
    for (qsizetype i = 0; i < line.length(); ++i) {
        const auto attributes = line.attributesAt(i);
        QCOMPARE(attributes->foreground, QColor(Qt::white));
        QCOMPARE(attributes->font.bold(), bold.at(i));
        QCOMPARE(attributes->font.pointSizeF(), bold.at(i) ? 11.0 : 10.0);
    }
}

void TestAccount::quotaWithoutAnswerChangesNothing()
{
    app()->setMax24Send(u"200.0"_s, u"2.0"_s, u"0.0"_s);
    const QString before = app()->quotaField()->text();
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
    store(AccountSettings::EndpointKey, u"http://127.0.0.1:%1"_s.arg(closed.serverPort()));
    closed.close();

    app()->checkQuota();
    QTRY_VERIFY(g_log.join(u'\n').contains(u"GetSendQuota got no answer"_s));
    QCOMPARE(app()->sendRate(), 2);
    QCOMPARE(app()->quotaField()->text(), before);
}

void TestAccount::sendRateFromText_data()
{
    QTest::addColumn<QString>("rateText");
    QTest::addColumn<int>("rate");
    QTest::addColumn<float>("timer");
    QTest::newRow("14.0") << u"14.0"_s << 14 << 0.0714286f;
    QTest::newRow("0.5") << u"0.5"_s << 0 << INFINITY;
    QTest::newRow("5.0") << u"5.0"_s << 5 << 0.2f;
    QTest::newRow("empty") << QString() << 0 << INFINITY;
    QTest::newRow("leading white space, trailing text") << u" \t\n7abc"_s << 7 << 1.0f / 7;
    QTest::newRow("signs") << u"-4"_s << -4 << -0.25f;
    QTest::newRow("sign then space") << u"- 3"_s << 0 << INFINITY;
    QTest::newRow("exponent not read") << u"1e3"_s << 1 << 1.0f;
    QTest::newRow("beyond the range") << u"99999999999"_s << INT_MAX << 1.0f / float(INT_MAX);
}

void TestAccount::sendRateFromText()
{
    QFETCH(QString, rateText);
    QFETCH(int, rate);
    QFETCH(float, timer);
    app()->setSendRateWithString(rateText);
    QCOMPARE(app()->sendRate(), rate);
    QCOMPARE(app()->timerValueForSendRate(), timer);
    if (rateText == u"14.0")
        QCOMPARE(g_log, QStringList{u"Set send rate to 14.0, making timer val of: 0.071429"_s});
}

void TestAccount::verificationGoesOutPerSelectedRow_data()
{
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QStringList>("addresses");
    QTest::newRow("nothing selected") << QList<int>() << QString() << QStringList();
    QTest::newRow("three rows, send") << QList<int>{3, 0, 2} << text(u"Send"_s)
                                      << QStringList{u"ann@one.test"_s, u"cy+news@three.test"_s, u"di@four.test"_s};
    QTest::newRow("cancelled") << QList<int>{1} << text(u"Cancel"_s) << QStringList();
}

void TestAccount::verificationGoesOutPerSelectedRow()
{
    QFETCH(QList<int>, rows);
    QFETCH(QString, button);
    QFETCH(QStringList, addresses);
    RecipientList list;
    for (const QString &address : {u"ann@one.test"_s, u"bo@two.test"_s, u"cy+news@three.test"_s, u"di@four.test"_s})
        list.append(makeRecipient({{u"EMAIL"_s, address}}));
    app()->campaign().setRecipients(list);
    for (int row : rows) {
        app()->listView()->selectionModel()->select(app()->listView()->model()->index(row, 0),
                                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    m_server.setAnswer({200, FakeSesServer::verifyDocument()});

    MessageBoxAnswerer boxes({button, text(u"OK"_s)});
    app()->verifyItems();

    QStringList expectedTexts;
    if (!rows.isEmpty())
        expectedTexts << text(u"SendVerificationMessages_Head"_s) + u'\n' + text(u"SendVerificationMessages_Sub"_s);
    if (!addresses.isEmpty())
        expectedTexts << text(u"UserWillGetVerificationMail_Head"_s) + u'\n'
                             + text(u"UserWillGetVerificationMail_Sub"_s);
    QCOMPARE(boxes.texts(), expectedTexts);
    if (!rows.isEmpty())
        QCOMPARE(boxes.buttons().first(), text(u"Send"_s) + u'|' + text(u"Cancel"_s));

    QTRY_COMPARE(m_server.requests().size(), addresses.size());
    QTest::qWait(100);
    QStringList sent;
    const auto requests = m_server.requests();
    for (const RecordedRequest &request : requests) {
        QCOMPARE(request.action(), u"VerifyEmailAddress"_s);
        QVERIFY(request.body.contains("%40"));
        sent.append(request.form().value(u"EmailAddress"_s));
    }
    // They leave in row order but run side by side, so they may arrive in any order.
    sent.sort();
    QCOMPARE(sent, addresses);
}

void TestAccount::statisticsPageShowsDataPoints_data()
{
    QTest::addColumn<QList<StatisticsPoint>>("points");
    QTest::newRow("none") << QList<StatisticsPoint>();
    QTest::newRow("one") << QList<StatisticsPoint>{{12, u"2024-03-01T10:15:00Z"_s, 0, 1, 0}};
    QTest::newRow("two, as given") << QList<StatisticsPoint>{{7, u"2024-03-02T09:00:00Z"_s, 1, 0, 2},
                                                            {30, u"2024-03-01T08:45:00Z"_s, 0, 3, 0}};
}

void TestAccount::statisticsPageShowsDataPoints()
{
    QFETCH(QList<StatisticsPoint>, points);
    app()->statisticsWebview()->setHtml(u"<p>empty</p>"_s);
    QTRY_VERIFY(statisticsHtml().contains(u"empty"_s));
    m_server.setAnswer({200, FakeSesServer::statisticsDocument(points)});

    app()->showStatistics();
    QVERIFY(app()->statisticsPanel()->isVisible());
    QVERIFY(!app()->statisticsWebview()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
    QString html;
    QVERIFY(QTest::qWaitFor([&] { return (html = statisticsHtml()).contains(u"background-color:#bbb"_s); }, 10000));
    QCOMPARE(m_server.requests().size(), 1);
    QCOMPARE(m_server.requests().first().action(), u"GetSendStatistics"_s);

    QCOMPARE(html.count(u"<div class=\"statsection\">"_s), points.size());
    qsizetype from = 0;
    for (const StatisticsPoint &point : points) {
        const QString box = u"<p><b>Delivery Attempts</b> : %1</p><p><b>Time</b> : %2</p><p><b>Rejects</b> : %3</p>"
                            "<p><b>Bounces</b> : %4</p><p><b>Complaints</b> : %5</p></div>"_s.arg(point.deliveryAttempts)
                                .arg(point.timestamp)
                                .arg(point.rejects)
                                .arg(point.bounces)
                                .arg(point.complaints);
        const qsizetype at = html.indexOf(box, from);
        QVERIFY2(at >= 0, qPrintable(html));
        from = at + 1;
    }
}

BRISKO_APP_TEST_MAIN_NOT_LAUNCHED(TestAccount)

#include "tst_account.moc"

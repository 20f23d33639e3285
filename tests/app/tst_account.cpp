// The account side of the window against the stand-in service (reached through the
// Endpoint setting): the account panel and its login check, the quota at launch, the
// quota line and send rate, verification of selected rows and the statistics report.

#include "AccountSettings.h"
#include "AppTestMain.h"
#include "DialogDriver.h"
#include "FennimarUserDefaults.h"
#include "Localization.h"

// The stand-in service lives with the mail tests; it is compiled into this test as well.
#include "../mail/FakeSesServer.cpp"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
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

QStringList g_log;
QtMessageHandler g_previousHandler = nullptr;

} // namespace

class TestAccount : public QObject
{
    Q_OBJECT

    FakeSesServer m_server;

    static BriskoApplication *app() { return BriskoApplication::instance(); }
    static QString text(const QString &key) { return brisko::tr(key); }
    template <typename T = QLineEdit> static T *panel(const QString &name)
    {
        return app()->authPanel()->findChild<T *>(name);
    }
    static void press(QDialogButtonBox::StandardButton which)
    {
        panel<QDialogButtonBox>(u"authButtons"_s)->button(which)->click();
    }
    static void store(QStringView key, const OptionalText &value)
    {
        if (value)
            FennimarUserDefaults::setObject(*value, key.toString());
        else
            FennimarUserDefaults::settings()->remove(key.toString());
    }
    static OptionalText stored(QStringView key)
    {
        const QVariant value = FennimarUserDefaults::objectForKey(key.toString());
        return value.isValid() ? OptionalText(value.toString()) : std::nullopt;
    }
    // The statistics page as the view serialises it, without white space between tags.
    static QString statisticsHtml()
    {
        QString html;
        app()->statisticsWebview()->page()->toHtml([&](const QString &result) { html = result; });
        if (!QTest::qWaitFor([&] { return !html.isNull(); }, 5000))
            return u"<timed out>"_s;
        return html.replace(QRegularExpression(u">\\s+<"_s), u"><"_s);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        g_previousHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                g_log.append(message);
                g_previousHandler(type, context, message);
            });
    }

    void init()
    {
        m_server.clear();
        store(AccountSettings::AccessKeyKey, AccessKey);
        store(AccountSettings::SecretKeyKey, SecretKey);
        store(AccountSettings::RegionKey, u"us-east-1"_s);
        store(AccountSettings::EndpointKey, m_server.endpoint());
        store(AccountSettings::SignatureVersionKey, u"v4"_s);
        g_log.clear();
    }

    void cleanup()
    {
        if (app()->authPanel()->isVisible())
            app()->authPanel()->reject();
        app()->statisticsPanel()->hide();
        app()->listView()->clearSelection();
    }

    // The panel, opened from the no-account warning, shows what is stored; Cancel keeps it,
    // unusable entries keep it open, OK stores what was entered and checks the login with
    // it, telling only of an error document.
    void panelRoundTrip_data()
    {
        QTest::addColumn<OptionalText>("region");
        QTest::addColumn<OptionalText>("signature");
        QTest::addColumn<QString>("newRegion");
        QTest::addColumn<int>("newSignature");
        QTest::addColumn<QStringList>("unusable"); // endpoint, SMTP port, heading of the message
        QTest::addColumn<CannedAnswer>("answer");
        QTest::addColumn<QStringList>("texts");
        const QString heading = u"Please check your Amazon AWS login details.\n"_s;
        const QString badEndpoint = u"The endpoint is not a web address."_s;
        const CannedAnswer good{200, FakeSesServer::quotaDocument(u"200.0"_s, u"1.0"_s, u"0.0"_s)};
        QTest::newRow("defaults, v4, no scheme, good answer")
            << OptionalText() << OptionalText() << u"eu-central-1"_s << 0
            << QStringList{u"email.eu-west-1.amazonaws.com"_s, u"25"_s, badEndpoint} << good << QStringList();
        QTest::newRow("legacy, other scheme, refused key")
            << OptionalText(u"eu-west-1"_s) << OptionalText(u"v3"_s) << u"sa-east-1"_s << 1
            << QStringList{u"ftp://email.example.org"_s, u"25"_s, badEndpoint}
            << CannedAnswer{403,
                            FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"Token is invalid."_s)}
            << QStringList{heading + u"Token is invalid."_s};
        QTest::newRow("region not offered, no host, error without message")
            << OptionalText(u"xx-test-7"_s) << OptionalText(u"v9"_s) << u"xx-test-7"_s << 0
            << QStringList{u"https://"_s, u"25"_s, badEndpoint}
            << CannedAnswer{400, FakeSesServer::errorDocument(u"Throttling"_s, std::nullopt)}
            << QStringList{heading};
        QTest::newRow("port") << OptionalText() << OptionalText() << u"us-east-1"_s << 0
                              << QStringList{QString(), u"70000"_s, u"The SMTP port is not a port number."_s}
                              << good << QStringList();
    }

    void panelRoundTrip()
    {
        QFETCH(OptionalText, region);
        QFETCH(OptionalText, signature);
        QFETCH(QString, newRegion);
        QFETCH(int, newSignature);
        QFETCH(QStringList, unusable);
        QFETCH(CannedAnswer, answer);
        QFETCH(QStringList, texts);
        store(AccountSettings::RegionKey, region);
        store(AccountSettings::SignatureVersionKey, signature);
        store(AccountSettings::SmtpPortKey, u"587"_s);
        m_server.setAnswer(answer);
        DialogDriver boxes(true);
        boxes.answer({text(u"SetupAuth..."_s), text(u"OK"_s), text(u"OK"_s)});
        app()->showNoAuthWarning(); // its first button opens the panel
        QCOMPARE(boxes.buttonsSeen(), QStringList{text(u"SetupAuth..."_s) + u'|' + text(u"Cancel"_s)});
        QVERIFY(app()->authPanel()->isVisible());
        const QStringList fields = {u"accessKeyField"_s, u"secretKeyField"_s, u"endpointField"_s,
                                    u"smtp_port"_s,      u"smtp_host"_s,      u"smtp_user"_s,
                                    u"smtp_pass"_s};
        const QStringList shown = {AccessKey, SecretKey, m_server.endpoint(), u"587"_s};
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(panel(fields.at(i))->text(), shown.at(i));
        QCOMPARE(panel(u"secretKeyField"_s)->echoMode(), QLineEdit::Password);
        // A stored region shows even when not offered; none is the first offered.
        QCOMPARE(panel<QComboBox>(u"regionPopUp"_s)->currentText(), region.value_or(u"us-east-1"_s));
        QCOMPARE(panel<QComboBox>(u"signaturePopUp"_s)->currentIndex(), signature == u"v3"_s ? 1 : 0);
        panel(u"accessKeyField"_s)->setText(u"CHANGED"_s);
        press(QDialogButtonBox::Cancel);
        QVERIFY(!app()->authPanel()->isVisible());
        QCOMPARE(stored(AccountSettings::AccessKeyKey), AccessKey);

        app()->showAuthPanel();
        const QStringList entered = {
            u"AKIDNEW0000000000001"_s, SecretKey + u"2"_s, unusable.at(0), unusable.at(1),
            u"mail.example.org"_s,     u"mailer"_s,        u"pw"_s};
        for (int i = 0; i < entered.size(); ++i)
            panel(fields.at(i))->setText(entered.at(i));
        panel<QComboBox>(u"regionPopUp"_s)->setCurrentText(newRegion);
        panel<QComboBox>(u"signaturePopUp"_s)->setCurrentIndex(newSignature);
        press(QDialogButtonBox::Ok);
        QCOMPARE(boxes.shown(), 2);
        QVERIFY2(boxes.texts().at(1).startsWith(unusable.at(2) + u'\n'), qPrintable(boxes.texts().at(1)));
        QVERIFY(app()->authPanel()->isVisible());
        QCOMPARE(stored(AccountSettings::AccessKeyKey), AccessKey);
        panel(u"endpointField"_s)->setText(u"  "_s + m_server.endpoint() + u" "_s);
        panel(u"smtp_port"_s)->setText(u"2525"_s);
        press(QDialogButtonBox::Ok);
        QVERIFY(!app()->authPanel()->isVisible());
        QCOMPARE(stored(AccountSettings::AccessKeyKey), u"AKIDNEW0000000000001"_s);
        const AccountSettings s = AccountSettings::load();
        QCOMPARE((QVariantList{s.secretKey.value_or(u"none"_s), s.region, s.endpoint, int(s.signatureVersion),
                               s.smtpHost, s.smtpPort, s.smtpUser, s.smtpPassword}),
                 (QVariantList{SecretKey + u"2"_s, newRegion, m_server.endpoint(), newSignature,
                               u"mail.example.org"_s, 2525, u"mailer"_s, u"pw"_s}));

        // One login check with what was entered (none after Cancel or refused entries), no
        // quota request.
        QTRY_COMPARE(m_server.requests().size(), 1);
        const RecordedRequest request = m_server.requests().first();
        QCOMPARE(request.action(), u"GetSendQuota"_s);
        const QByteArray authorization =
            request.header(newSignature ? "X-Amzn-Authorization" : "Authorization");
        QVERIFY2(authorization.startsWith(newSignature ? "AWS3-HTTPS AWSAccessKeyId=AKIDNEW0000000000001,"
                                                       : "AWS4-HMAC-SHA256 Credential=AKIDNEW0000000000001/"),
                 authorization.constData());
        if (newSignature == 0)
            QVERIFY(authorization.contains("/" + newRegion.toLatin1() + "/ses/aws4_request"));
        QTest::qWait(400);
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(boxes.texts().mid(2), texts);
        QVERIFY(!g_log.join(u'\n').contains(u"Secret/Key"_s));

        // A cleared access key field leaves the account not set up.
        app()->showAuthPanel();
        QCOMPARE(panel<QComboBox>(u"regionPopUp"_s)->currentText(), newRegion);
        panel(u"accessKeyField"_s)->clear();
        app()->authDoneAction();
        QCOMPARE(stored(AccountSettings::AccessKeyKey), std::nullopt);
        QVERIFY(!app()->hasAuthInfo());
        QTRY_COMPARE(m_server.requests().size(), 2);
    }

    void quotaAtLaunch_data()
    {
        QTest::addColumn<OptionalText>("accessKey");
        QTest::addColumn<CannedAnswer>("answer"); // status 0: nobody listens
        QTest::addColumn<QStringList>("figures"); // empty: line and rate unchanged
        QTest::addColumn<int>("rate");
        const CannedAnswer quota{200, FakeSesServer::quotaDocument(u"200.0"_s, u"1.0"_s, u"0.0"_s)};
        QTest::newRow("no access key") << OptionalText() << quota << QStringList() << 3;
        QTest::newRow("empty access key")
            << OptionalText(u""_s) << quota << QStringList{u"200.0"_s, u"1.0"_s, u"0.0"_s} << 1;
        QTest::newRow("rate 14") << OptionalText(AccessKey)
                                 << CannedAnswer{200, FakeSesServer::quotaDocument(u"50000.0"_s, u"14.0"_s,
                                                                                   u"1234.0"_s)}
                                 << QStringList{u"50000.0"_s, u"14.0"_s, u"1234.0"_s} << 14;
        QTest::newRow("error answer")
            << OptionalText(AccessKey)
            << CannedAnswer{403, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"bad"_s)}
            << QStringList{QString(), QString(), QString()} << 0;
        QTest::newRow("no answer") << OptionalText(AccessKey) << CannedAnswer{0, {}} << QStringList() << 3;
    }

    void quotaAtLaunch()
    {
        QFETCH(OptionalText, accessKey);
        QFETCH(CannedAnswer, answer);
        QFETCH(QStringList, figures);
        QFETCH(int, rate);
        store(AccountSettings::AccessKeyKey, accessKey);
        QCOMPARE(app()->hasAuthInfo(), accessKey.has_value());
        m_server.setAnswer(answer);
        QTcpServer closed;
        if (answer.status == 0) {
            QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
            store(AccountSettings::EndpointKey, u"http://127.0.0.1:%1"_s.arg(closed.serverPort()));
            closed.close();
        }
        app()->setMax24Send(u"1.0"_s, u"3.0"_s, u"2.0"_s);
        const QString before = app()->quotaField()->text();
        app()->applicationDidFinishLaunching();
        if (figures.isEmpty()) {
            if (accessKey)
                QTRY_VERIFY(g_log.join(u'\n').contains(u"GetSendQuota got no answer"_s));
            QTest::qWait(300);
            QCOMPARE(m_server.requests().size(), 0);
            QCOMPARE(app()->quotaField()->text(), before);
            QCOMPARE(app()->sendRate(), 3);
            return;
        }
        QTRY_COMPARE(app()->sendRate(), rate);
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(m_server.requests().first().action(), u"GetSendQuota"_s);
        QTextDocument line;
        line.setHtml(app()->quotaField()->text());
        QCOMPARE(line.toPlainText(), u"Amazon SES : "_s + text(u"Max24HrSend:"_s) + figures.at(0) + u"  "_s +
                                         text(u"MaxSendRate:"_s) + figures.at(1) + u"  "_s +
                                         text(u"SentLast24:"_s) + figures.at(2));
    }

    void sendRateFromText_data()
    {
        QTest::addColumn<QString>("rateText");
        QTest::addColumn<int>("rate");
        QTest::addColumn<float>("timer");
        QTest::newRow("14.0") << u"14.0"_s << 14 << 0.0714286f;
        QTest::newRow("0.5") << u"0.5"_s << 0 << INFINITY;
        QTest::newRow("empty") << QString() << 0 << INFINITY;
        QTest::newRow("leading white space, trailing text") << u" \t\n7abc"_s << 7 << 1.0f / 7;
        QTest::newRow("signs") << u"-4"_s << -4 << -0.25f;
        QTest::newRow("sign then space") << u"- 3"_s << 0 << INFINITY;
        QTest::newRow("exponent not read") << u"1e3"_s << 1 << 1.0f;
        QTest::newRow("beyond the range") << u"99999999999"_s << INT_MAX << 1.0f / float(INT_MAX);
    }

    void sendRateFromText()
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

    void verificationGoesOutPerSelectedRow_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QString>("button");
        QTest::addColumn<QStringList>("addresses");
        QTest::newRow("nothing selected") << QList<int>() << QString() << QStringList();
        QTest::newRow("three rows, send")
            << QList<int>{3, 0, 2} << u"Send"_s
            << QStringList{u"ann@one.test"_s, u"cy+news@three.test"_s, u"di@four.test"_s};
        QTest::newRow("cancelled") << QList<int>{1} << u"Cancel"_s << QStringList();
    }

    void verificationGoesOutPerSelectedRow()
    {
        QFETCH(QList<int>, rows);
        QFETCH(QString, button);
        QFETCH(QStringList, addresses);
        RecipientList list;
        for (const QString &address :
             {u"ann@one.test"_s, u"bo@two.test"_s, u"cy+news@three.test"_s, u"di@four.test"_s})
            list.append(makeRecipient({{u"EMAIL"_s, address}}));
        app()->campaign().setRecipients(list);
        for (int row : rows)
            app()->listView()->selectionModel()->select(app()->listView()->model()->index(row, 0),
                                                        QItemSelectionModel::Select |
                                                            QItemSelectionModel::Rows);
        m_server.setAnswer({200, FakeSesServer::verifyDocument()});
        DialogDriver boxes(true);
        boxes.answer({text(button), text(u"OK"_s)});
        app()->verifyItems();

        const QStringList messages = {
            text(u"SendVerificationMessages_Head"_s) + u'\n' + text(u"SendVerificationMessages_Sub"_s),
            text(u"UserWillGetVerificationMail_Head"_s) + u'\n' + text(u"UserWillGetVerificationMail_Sub"_s)};
        QCOMPARE(boxes.texts(), messages.mid(0, rows.isEmpty() ? 0 : addresses.isEmpty() ? 1 : 2));
        QCOMPARE(boxes.buttonsSeen().value(0),
                 rows.isEmpty() ? QString() : text(u"Send"_s) + u'|' + text(u"Cancel"_s));
        QTRY_COMPARE(m_server.requests().size(), addresses.size());
        QTest::qWait(100);
        QStringList sent;
        for (const RecordedRequest &request : m_server.requests()) {
            QCOMPARE(request.action(), u"VerifyEmailAddress"_s);
            sent.append(request.form().value(u"EmailAddress"_s));
        }
        // They leave in row order but run side by side, so they may arrive in any order.
        sent.sort();
        QCOMPARE(sent, addresses);
    }

    void statisticsPageShowsDataPoints_data()
    {
        QTest::addColumn<QList<StatisticsPoint>>("points");
        QTest::newRow("none") << QList<StatisticsPoint>();
        QTest::newRow("one") << QList<StatisticsPoint>{{12, u"2024-03-01T10:15:00Z"_s, 0, 1, 0}};
        QTest::newRow("two, as given") << QList<StatisticsPoint>{{7, u"2024-03-02T09:00:00Z"_s, 1, 0, 2},
                                                                 {30, u"2024-03-01T08:45:00Z"_s, 0, 3, 0}};
    }

    void statisticsPageShowsDataPoints()
    {
        QFETCH(QList<StatisticsPoint>, points);
        app()->statisticsWebview()->setHtml(u"<p>empty</p>"_s);
        QTRY_VERIFY(statisticsHtml().contains(u"empty"_s));
        m_server.setAnswer({200, FakeSesServer::statisticsDocument(points)});
        app()->showStatistics();
        QVERIFY(app()->statisticsPanel()->isVisible());
        QVERIFY(
            !app()->statisticsWebview()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
        QString html;
        QVERIFY(QTest::qWaitFor(
            [&] { return (html = statisticsHtml()).contains(u"background-color:#bbb"_s); }, 10000));
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(m_server.requests().first().action(), u"GetSendStatistics"_s);
        QCOMPARE(html.count(u"<div class=\"statsection\">"_s), points.size());
        const QString box =
            u"<p><b>Delivery Attempts</b> : %1</p><p><b>Time</b> : %2</p><p><b>Rejects</b> : %3</p>"
            "<p><b>Bounces</b> : %4</p><p><b>Complaints</b> : %5</p></div>"_s;
        qsizetype from = 0;
        for (const StatisticsPoint &p : points) {
            from = html.indexOf(box.arg(QString::number(p.deliveryAttempts), p.timestamp,
                                        QString::number(p.rejects), QString::number(p.bounces),
                                        QString::number(p.complaints)),
                                from) +
                   1;
            QVERIFY2(from > 0, qPrintable(html));
        }
    }
};

BRISKO_APP_TEST_MAIN_NOT_LAUNCHED(TestAccount)

#include "tst_account.moc"

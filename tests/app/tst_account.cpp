// The account side of the window against the stand-in service: the account panel and its
// login check, the quota at launch, the send rate, verification and statistics.

#include "AppTestMain.h"
#include "Localization.h"

// The stand-in service lives with the mail tests; it is compiled into this test as well.
#include "../mail/FakeSesServer.cpp"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextDocument>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <climits>
#include <cmath>

using namespace Qt::StringLiterals;
using namespace brisko;
using namespace brisko::test;
using OptionalText = std::optional<QString>;
Q_DECLARE_METATYPE(CannedAnswer)

class TestAccount : public QObject
{
    Q_OBJECT

    FakeSesServer m_server;
    static inline QStringList s_log;
    static inline QtMessageHandler s_previousHandler = nullptr;

    static QString text(const QString &key) { return brisko::tr(key); }
    template <typename T = QLineEdit> static T *panel(const QString &name)
    {
        return app()->authPanel()->findChild<T *>(name);
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
    static void pressOk()
    {
        panel<QDialogButtonBox>(u"authButtons"_s)->button(QDialogButtonBox::Ok)->click();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        s_previousHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext &context, const QString &message) {
                s_log.append(message);
                s_previousHandler(type, context, message);
            });
    }

    void init()
    {
        m_server.clear();
        storeAccount(m_server.endpoint());
        store(AccountSettings::RegionKey, u"us-east-1"_s);
        s_log.clear();
    }

    void cleanup()
    {
        if (app()->authPanel()->isVisible())
            app()->authPanel()->reject();
        store(AccountSettings::SendRateKey, std::nullopt);
    }

    static QString quotaLine()
    {
        QTextDocument line;
        line.setHtml(app()->quotaField()->text());
        return line.toPlainText();
    }

    // The panel, opened from the no-account warning, shows what is stored (a region not
    // offered too); unusable entries keep it open; OK stores what was entered and checks
    // the login with it, telling only of an error document.
    void panelRoundTrip()
    {
        store(AccountSettings::RegionKey, u"xx-test-7"_s);
        store(AccountSettings::SignatureVersionKey, u"v3"_s);
        store(AccountSettings::SmtpPortKey, u"587"_s);
        DialogDriver boxes({text(u"SetupAuth..."_s), text(u"OK"_s), text(u"OK"_s), text(u"OK"_s)});
        app()->showNoAuthWarning(); // its first button opens the panel
        QVERIFY(app()->authPanel()->isVisible());
        const QStringList fields = {u"accessKeyField"_s, u"secretKeyField"_s, u"endpointField"_s,
                                    u"smtp_port"_s};
        const QStringList shown = {TestAccessKey, TestSecretKey, m_server.endpoint(), u"587"_s};
        for (int i = 0; i < shown.size(); ++i)
            QCOMPARE(panel(fields.at(i))->text(), shown.at(i));
        QCOMPARE(panel(u"secretKeyField"_s)->echoMode(), QLineEdit::Password);
        QCOMPARE(panel<QComboBox>(u"regionPopUp"_s)->currentText(), u"xx-test-7"_s);
        QCOMPARE(panel<QComboBox>(u"signaturePopUp"_s)->currentIndex(), 1);

        // An endpoint without a scheme, then a port out of range.
        const QStringList entered = {u"AKIDNEW0000000000001"_s, u"new/secret"_s,
                                     u"email.eu-west-1.amazonaws.com"_s, u"25"_s};
        for (int i = 0; i < entered.size(); ++i)
            panel(fields.at(i))->setText(entered.at(i));
        panel<QComboBox>(u"regionPopUp"_s)->setCurrentText(u"sa-east-1"_s);
        panel<QComboBox>(u"signaturePopUp"_s)->setCurrentIndex(0);
        pressOk();
        panel(u"endpointField"_s)->setText(u"  "_s + m_server.endpoint() + u" "_s);
        panel(u"smtp_port"_s)->setText(u"70000"_s);
        pressOk();
        QCOMPARE(boxes.shown(), 3);
        QVERIFY(boxes.texts().at(1).startsWith(u"The endpoint is not a web address.\n"_s));
        QVERIFY(boxes.texts().at(2).startsWith(u"The SMTP port is not a port number.\n"_s));
        QVERIFY(app()->authPanel()->isVisible());
        QCOMPARE(AccountSettings::load().accessKey, TestAccessKey);
        panel(u"smtp_port"_s)->setText(u"2525"_s);
        pressOk();
        QVERIFY(!app()->authPanel()->isVisible());
        const AccountSettings s = AccountSettings::load();
        QCOMPARE((QVariantList{s.accessKey.value_or(QString()), s.secretKey.value_or(QString()), s.region,
                               s.endpoint, int(s.signatureVersion), s.smtpPort}),
                 (QVariantList{u"AKIDNEW0000000000001"_s, u"new/secret"_s, u"sa-east-1"_s,
                               m_server.endpoint(), 0, 2525}));

        // One login check with what was entered, no quota request; a good answer says nothing …
        QTRY_COMPARE(m_server.requests().size(), 1);
        QCOMPARE(m_server.requests().first().action(), u"GetSendQuota"_s);
        QVERIFY(m_server.requests().first().header("Authorization").contains("AKIDNEW0000000000001/"));
        QTest::qWait(400);
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(boxes.shown(), 3);
        // … an error document is told.
        m_server.setAnswer(
            {403, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"Token is invalid."_s)});
        app()->showAuthPanel();
        pressOk();
        QTRY_COMPARE(boxes.shown(), 4);
        QCOMPARE(boxes.texts().at(3), u"Please check your Amazon AWS login details.\nToken is invalid."_s);
        QVERIFY(!s_log.join(u'\n').contains(u"Secret/Key"_s) && !s_log.join(u'\n').contains(u"new/secret"_s));
    }

    // "Use AWS profile": the profiles of the shared files are offered beside the typed keys;
    // once chosen, the window's requests carry the profile's key, token and region, and a
    // broken file is told with its line instead of sending. No keyring runs on the test's bus,
    // so the panel says the secrets are in the preferences file.
    void awsProfileChoice()
    {
        QTemporaryDir dir;
        const QString credentials = dir.filePath(u"credentials"_s);
        const auto write = [](const QString &path, const QByteArray &bytes) {
            QFile file(path);
            return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
        };
        QVERIFY(write(credentials, "[work]\naws_access_key_id = AKWORK\naws_secret_access_key = w/s\n"
                                   "aws_session_token = TEMPTOKEN\n"));
        QVERIFY(write(dir.filePath(u"config"_s), "[profile work]\nregion = eu-central-1\n[profile other]\n"));
        qputenv("AWS_SHARED_CREDENTIALS_FILE", credentials.toLocal8Bit());
        qputenv("AWS_CONFIG_FILE", dir.filePath(u"config"_s).toLocal8Bit());
        const auto restore = qScopeGuard([] {
            qunsetenv("AWS_SHARED_CREDENTIALS_FILE");
            qunsetenv("AWS_CONFIG_FILE");
            store(AccountSettings::AwsProfileKey, std::nullopt);
        });
        DialogDriver boxes({text(u"OK"_s)});

        app()->showAuthPanel();
        auto *useProfile = panel<QCheckBox>(u"useProfileCheck"_s);
        auto *profiles = panel<QComboBox>(u"profilePopUp"_s);
        QVERIFY(useProfile->isEnabled() && !useProfile->isChecked() && !profiles->isEnabled());
        QCOMPARE(profiles->count(), 2);
        QCOMPARE(profiles->itemText(0), u"other"_s);
        QCOMPARE(panel<QLabel>(u"secretPlaceLabel"_s)->text(),
                 text(u"SecretsInFile"_s) + u" "_s + FennimarUserDefaults::settingsFilePath());
        useProfile->setChecked(true);
        QVERIFY(profiles->isEnabled() && !panel(u"accessKeyField"_s)->isEnabled());
        profiles->setCurrentText(u"work"_s);
        pressOk();
        QCOMPARE(FennimarUserDefaults::objectForKey(u"AwsProfile"_s).toString(), u"work"_s);
        QCOMPARE(AccountSettings::stored().accessKey, TestAccessKey); // typed keys kept
        QTRY_COMPARE(m_server.requests().size(), 1);
        const RecordedRequest request = m_server.requests().first();
        QVERIFY(request.header("Authorization").contains("AKWORK/" + request.header("X-Amz-Date").left(8)
                                                         + "/eu-central-1/ses/"));
        QCOMPARE(request.header("X-Amz-Security-Token"), "TEMPTOKEN"_ba);

        // A profile chosen counts as an account set up, even without typed keys.
        store(AccountSettings::AccessKeyKey, std::nullopt);
        QVERIFY(app()->hasAuthInfo());

        // A broken file: shown in the panel, and the login check is not sent but told.
        QVERIFY(write(credentials, "[work]\naws_access_key_id = AKWORK\nnonsense\n"));
        m_server.clear();
        app()->showAuthPanel();
        QVERIFY(useProfile->isChecked());
        QCOMPARE(panel<QLabel>(u"profileNoteLabel"_s)->text(),
                 text(u"AWSFilesBroken"_s) + u"\n"_s + credentials + u":3: expected \"name = value\" or a [section] head"_s);
        pressOk();
        QTRY_COMPARE(boxes.shown(), 1);
        QCOMPARE(boxes.texts().first(), text(u"AccountProblem_Head"_s) + u"\n"_s + credentials
                                            + u":3: expected \"name = value\" or a [section] head"_s);
        QCOMPARE(m_server.requests().size(), 0);
    }

    // Only a stored access key, even an empty one, asks for the quota at launch; the
    // answer sets the quota line and the send rate (an error answer: tst_accountoperations).
    void quotaAtLaunch_data()
    {
        QTest::addColumn<OptionalText>("accessKey");
        QTest::newRow("none: line and rate unchanged") << OptionalText();
        QTest::newRow("empty") << OptionalText(u""_s);
    }

    void quotaAtLaunch()
    {
        QFETCH(OptionalText, accessKey);
        store(AccountSettings::AccessKeyKey, accessKey);
        QCOMPARE(app()->hasAuthInfo(), accessKey.has_value());
        m_server.setAnswer({200, FakeSesServer::quotaDocument(u"200.0"_s, u"7.0"_s, u"0.0"_s)});
        app()->setMax24Send(u"1.0"_s, u"3.0"_s, u"2.0"_s);
        app()->applicationDidFinishLaunching();
        const QStringList figures = accessKey ? QStringList{u"200.0"_s, u"7.0"_s, u"0.0"_s}
                                              : QStringList{u"1.0"_s, u"3.0"_s, u"2.0"_s};
        QTRY_COMPARE(app()->sendRate(), accessKey ? 7 : 3);
        QTest::qWait(300);
        QCOMPARE(m_server.requests().size(), accessKey ? 1 : 0);
        QCOMPARE(m_server.requests().value(0).action(), accessKey ? u"GetSendQuota"_s : QString());
        QTextDocument line;
        line.setHtml(app()->quotaField()->text());
        QCOMPARE(line.toPlainText(), u"Amazon SES : "_s + text(u"Max24HrSend:"_s) + figures.at(0) + u"  "_s +
                                         text(u"MaxSendRate:"_s) + figures.at(1) + u"  "_s +
                                         text(u"SentLast24:"_s) + figures.at(2));
    }

    // A quota request shows that it is out, then the figures or why there are none; a
    // failed one leaves the send rate as it was. The login check behind OK tells the same.
    void quotaRequestTellsItsEnd_data()
    {
        QTest::addColumn<bool>("refused"); // no server: the connection is refused
        QTest::addColumn<CannedAnswer>("answer");
        QTest::addColumn<QString>("shown");
        QTest::newRow("figures") << false << CannedAnswer{200, FakeSesServer::quotaDocument(u"50.0"_s, u"9.0"_s, u"1.0"_s), 1, 0, 300}
                                 << u"Max. send rate: 9.0"_s;
        QTest::newRow("error document")
            << false << CannedAnswer{403, FakeSesServer::errorDocument(u"InvalidClientTokenId"_s, u"Bad token."_s), 1, 0, 300}
            << u"The service refused the request: Bad token."_s;
        QTest::newRow("connection refused") << true << CannedAnswer{} << u"No answer from %1: Connection refused"_s;
    }

    void quotaRequestTellsItsEnd()
    {
        QFETCH(bool, refused);
        QFETCH(CannedAnswer, answer);
        QFETCH(QString, shown);
        const QString endpoint = refused ? FakeSesServer::refusingEndpoint() : m_server.endpoint();
        store(AccountSettings::EndpointKey, endpoint);
        m_server.setAnswer(answer);
        app()->setSendRateWithString(u"3"_s);
        app()->checkQuota();
        QVERIFY(app()->isAskingService());
        QCOMPARE(quotaLine(), u"Asking the service…"_s);
        QCOMPARE(app()->quotaField()->cursor().shape(), Qt::BusyCursor);
        QTRY_VERIFY_WITH_TIMEOUT(!app()->isAskingService(), 10000);
        QVERIFY(quotaLine().contains(shown.arg(endpoint)));
        QCOMPARE(app()->quotaField()->cursor().shape(), Qt::ArrowCursor);
        QCOMPARE(app()->sendRate(), refused ? 3 : answer.status == 200 ? 9 : 0);

        // OK in the account panel: a check that gets no answer says so in a message too.
        DialogDriver boxes({text(u"OK"_s)});
        app()->showAuthPanel();
        pressOk();
        QVERIFY(app()->isAskingService());
        QTRY_VERIFY_WITH_TIMEOUT(!app()->isAskingService(), 10000);
        QVERIFY(quotaLine().contains(shown.arg(endpoint)));
        QTRY_COMPARE(boxes.shown(), refused || answer.status != 200 ? 1 : 0);
        if (refused)
            QVERIFY(boxes.texts().first().contains(u"No answer from "_s + endpoint));
    }

    // The statistics window says it is asking, then shows the page or why there is none.
    void statisticsTellWhyEmpty()
    {
        m_server.setAnswer({200, FakeSesServer::statisticsDocument({}), 1, 0, 6000});
        app()->showStatistics();
        QTRY_VERIFY2_WITH_TIMEOUT(statisticsHtml().contains(u"Asking the service"_s), qPrintable(statisticsHtml()), 5000);
        QTRY_VERIFY_WITH_TIMEOUT(statisticsHtml().contains(u"background-color:#bbb"_s), 10000);
        store(AccountSettings::EndpointKey, FakeSesServer::refusingEndpoint());
        app()->showStatistics();
        QTRY_VERIFY_WITH_TIMEOUT(statisticsHtml().contains(u"No answer from http://127.0.0.1:"_s), 10000);
    }

    // The panel's send rate: the account's maximum by default, or a number, stored and
    // used for the pace, capped to a known maximum with a note.
    void sendRateSetting()
    {
        auto *choice = panel<QComboBox>(u"sendRatePopUp"_s);
        auto *field = panel<QDoubleSpinBox>(u"sendRateField"_s);
        auto *note = panel<QLabel>(u"sendRateNote"_s);
        // The login checks behind OK answer with the same maximum.
        m_server.setAnswer({200, FakeSesServer::quotaDocument(u"200.0"_s, u"14.0"_s, u"0.0"_s)});
        app()->setMax24Send(u"200.0"_s, u"14.0"_s, u"0.0"_s);
        DialogDriver boxes;
        app()->showAuthPanel();
        QCOMPARE(choice->currentIndex(), 0);
        QVERIFY(!field->isEnabled());
        choice->setCurrentIndex(1);
        QVERIFY(field->isEnabled());
        field->setValue(20);
        QVERIFY(note->isVisible() && note->text().contains(u"14"_s));
        field->setValue(4);
        QVERIFY(note->isHidden());
        pressOk();
        QTRY_VERIFY(!app()->isAskingService());
        QCOMPARE(AccountSettings::load().sendRate, std::optional(4.0));
        QCOMPARE(app()->timerValueForSendRate(), 0.25f);
        // Above the maximum: the maximum.
        store(AccountSettings::SendRateKey, u"50"_s);
        QCOMPARE(app()->timerValueForSendRate(), float(1.0 / 14));
        // Back to the account's maximum.
        app()->showAuthPanel();
        QCOMPARE(field->value(), 50.0);
        choice->setCurrentIndex(0);
        pressOk();
        QCOMPARE(AccountSettings::load().sendRate, std::nullopt);
        QCOMPARE(app()->timerValueForSendRate(), 1.0f / 14);
        QTRY_VERIFY(!app()->isAskingService());
    }

    // The configuration set: a name SES would refuse keeps the panel open, says why and is not
    // stored; a good one is stored trimmed, and an empty field removes it.
    void configurationSetField_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("refused");
        QTest::addColumn<QString>("stored"); // empty: none
        QTest::newRow("letters, digits, _ and -") << u"Events_2026-a"_s << false << u"Events_2026-a"_s;
        QTest::newRow("trimmed") << u"  Events  "_s << false << u"Events"_s;
        QTest::newRow("empty removes it") << QString() << false << QString();
        QTest::newRow("blank inside") << u"my events"_s << true << u"Before"_s;
        QTest::newRow("dot") << u"events.prod"_s << true << u"Before"_s;
        QTest::newRow("65 characters") << QString(65, u'e') << true << u"Before"_s;
    }

    void configurationSetField()
    {
        QFETCH(QString, typed);
        QFETCH(bool, refused);
        QFETCH(QString, stored);
        store(AccountSettings::ConfigurationSetKey, u"Before"_s);
        m_server.setAnswer({200, FakeSesServer::quotaDocument(u"200.0"_s, u"14.0"_s, u"0.0"_s)});
        DialogDriver boxes({text(u"OK"_s)});
        app()->showAuthPanel();
        QLineEdit *field = panel(u"configurationSetField"_s);
        QCOMPARE(field->text(), u"Before"_s);
        QVERIFY(!field->toolTip().isEmpty());
        field->setText(typed);
        pressOk();
        QCOMPARE(boxes.shown(), refused ? 1 : 0);
        QCOMPARE(app()->authPanel()->isVisible(), refused);
        if (refused)
            QVERIFY(boxes.texts().first().startsWith(u"The configuration set's name is not valid.\n"_s));
        QCOMPARE(AccountSettings::stored().configurationSet.value_or(QString()), stored);
        QTRY_VERIFY(!app()->isAskingService());
        store(AccountSettings::ConfigurationSetKey, std::nullopt);
    }

    void sendRateFromText_data()
    {
        QTest::addColumn<QString>("rateText");
        QTest::addColumn<int>("rate");
        QTest::addColumn<float>("timer");
        QTest::newRow("14.0") << u"14.0"_s << 14 << 0.0714286f;
        QTest::newRow("0.5") << u"0.5"_s << 0 << INFINITY;
        QTest::newRow("leading white space, trailing text") << u" \t\n7abc"_s << 7 << 1.0f / 7;
        QTest::newRow("signs") << u"-4"_s << -4 << -0.25f;
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
            QCOMPARE(s_log, QStringList{u"Set send rate to 14.0, making timer val of: 0.071429"_s});
    }

    void verificationGoesOutPerSelectedRow_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QStringList>("addresses"); // none: the question is cancelled
        QTest::newRow("nothing selected") << QList<int>() << QStringList();
        QTest::newRow("three rows, send")
            << QList<int>{3, 0, 2}
            << QStringList{u"ann@one.test"_s, u"cy+news@three.test"_s, u"di@four.test"_s};
        QTest::newRow("cancelled") << QList<int>{1} << QStringList();
    }

    void verificationGoesOutPerSelectedRow()
    {
        QFETCH(QList<int>, rows);
        QFETCH(QStringList, addresses);
        setRecipients({u"ann@one.test"_s, u"bo@two.test"_s, u"cy+news@three.test"_s, u"di@four.test"_s});
        selectRows(rows);
        m_server.setAnswer({200, FakeSesServer::verifyDocument()});
        DialogDriver boxes({text(addresses.isEmpty() ? u"Cancel"_s : u"Send"_s), text(u"OK"_s)});
        app()->verifyItems();

        // A question with Send and Cancel, then word that the mails are on their way.
        QCOMPARE(boxes.shown(), rows.isEmpty() ? 0 : addresses.isEmpty() ? 1 : 2);
        QCOMPARE(boxes.unexpected(), 0);
        QTRY_COMPARE(m_server.requests().size(), addresses.size());
        QTest::qWait(100);
        QStringList sent;
        for (const RecordedRequest &request : m_server.requests())
            sent.append(request.form().value(u"EmailAddress"_s));
        sent.sort(); // they leave in row order but run side by side
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
        QVERIFY(
            !app()->statisticsWebview()->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
        QString html;
        QTRY_VERIFY_WITH_TIMEOUT((html = statisticsHtml()).contains(u"background-color:#bbb"_s), 10000);
        QCOMPARE(m_server.requests().size(), 1);
        QCOMPARE(m_server.requests().first().action(), u"GetSendStatistics"_s);
        QString boxes; // one after the other, in the order given
        for (const StatisticsPoint &p : points)
            boxes +=
                u"<div class=\"statsection\"><p><b>Delivery Attempts</b> : %1</p><p><b>Time</b> : %2</p>"
                "<p><b>Rejects</b> : %3</p><p><b>Bounces</b> : %4</p><p><b>Complaints</b> : %5</p></div>"_s
                    .arg(QString::number(p.deliveryAttempts), p.timestamp, QString::number(p.rejects),
                         QString::number(p.bounces), QString::number(p.complaints));
        QCOMPARE(html.count(u"statsection\">"_s), points.size());
        QVERIFY(html.contains(boxes));
    }
};

BRISKO_APP_TEST_MAIN(TestAccount, false)

#include "tst_account.moc"

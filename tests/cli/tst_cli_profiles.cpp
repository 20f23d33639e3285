// brisko-cli with AWS profiles and temporary credentials: which keys, token and region a
// request is signed with, in the order command line, environment, profile, preferences; the
// signature checked by the reference signer; broken credential files told with their line.

#include "../mail/FakeSesServer.cpp"
#include "CliRun.h"

#include <QRegularExpression>
#include <QTemporaryDir>

class TestCliProfiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    FakeSesServer m_server;

    QStringList files() const
    {
        return {u"AWS_SHARED_CREDENTIALS_FILE="_s + m_dir.filePath(u"credentials"_s),
                u"AWS_CONFIG_FILE="_s + m_dir.filePath(u"config"_s)};
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_server.listen());
        m_server.setAnswer({200, FakeSesServer::quotaDocument(u"200.0"_s, u"1.0"_s, u"0.0"_s)});
        writeFile(m_dir.filePath(u"home/.config/Brisko/Brisko.conf"_s),
                  "[General]\nAccessKey=AKPREFS\nSecretKey=prefs/secret\nRegion=eu-west-1\n");
        writeFile(m_dir.filePath(u"credentials"_s),
                  "[default]\naws_access_key_id = AKDEFAULT\naws_secret_access_key = default+secret\n\n"
                  "[work]\naws_access_key_id=AKWORK\naws_secret_access_key=work/secret\n"
                  "aws_session_token = IQoJb3JpZ2luX2VjE/temporary+token==\n");
        writeFile(m_dir.filePath(u"config"_s),
                  "[default]\nregion = us-west-2\n[profile work]\nregion = ap-southeast-2\n"
                  "s3 =\n    addressing_style = path\n[profile regionless]\noutput = json\n");
        writeFile(m_dir.filePath(u"broken"_s), "[default]\naws_access_key_id = AKX\n\n[oops\n");
    }

    void init() { m_server.clear(); }

    // Options and environment → the key ID, secret, region and token the request carries.
    void precedence_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("keyId");
        QTest::addColumn<QString>("secret");
        QTest::addColumn<QString>("region");
        QTest::addColumn<QString>("token");
        const QString workToken = u"IQoJb3JpZ2luX2VjE/temporary+token=="_s;
        const QStringList envKeys{u"AWS_ACCESS_KEY_ID=AKENV"_s, u"AWS_SECRET_ACCESS_KEY=env/secret"_s,
                                  u"AWS_SESSION_TOKEN=ENVTOKEN"_s};
        QTest::newRow("the default profile before the preferences")
            << QString() << QStringList() << u"AKDEFAULT"_s << u"default+secret"_s << u"us-west-2"_s << QString();
        QTest::newRow("AWS_PROFILE") << QString() << QStringList{u"AWS_PROFILE=work"_s} << u"AKWORK"_s
                                     << u"work/secret"_s << u"ap-southeast-2"_s << workToken;
        QTest::newRow("--profile") << u"--profile work"_s << QStringList() << u"AKWORK"_s << u"work/secret"_s
                                   << u"ap-southeast-2"_s << workToken;
        QTest::newRow("--profile before AWS_PROFILE")
            << u"--profile work"_s << QStringList{u"AWS_PROFILE=default"_s} << u"AKWORK"_s << u"work/secret"_s
            << u"ap-southeast-2"_s << workToken;
        QTest::newRow("environment keys before AWS_PROFILE's, its region kept")
            << QString() << envKeys + QStringList{u"AWS_PROFILE=work"_s} << u"AKENV"_s << u"env/secret"_s
            << u"ap-southeast-2"_s << u"ENVTOKEN"_s;
        QTest::newRow("--profile keys before the environment's")
            << u"--profile work"_s << envKeys << u"AKWORK"_s << u"work/secret"_s << u"ap-southeast-2"_s
            << workToken;
        QTest::newRow("AWS_REGION before the profile's region")
            << u"--profile work"_s << QStringList{u"AWS_REGION=eu-north-1"_s} << u"AKWORK"_s << u"work/secret"_s
            << u"eu-north-1"_s << workToken;
        QTest::newRow("--region before AWS_REGION")
            << u"--profile work --region sa-east-1"_s << QStringList{u"AWS_REGION=eu-north-1"_s} << u"AKWORK"_s
            << u"work/secret"_s << u"sa-east-1"_s << workToken;
        QTest::newRow("a profile without keys: the preferences' keys, no region of its own")
            << u"--profile regionless"_s << QStringList() << u"AKPREFS"_s << u"prefs/secret"_s << u"eu-west-1"_s
            << QString();
        QTest::newRow("no shared files: the preferences")
            << QString()
            << QStringList{u"AWS_SHARED_CREDENTIALS_FILE=/nonexistent/c"_s, u"AWS_CONFIG_FILE=/nonexistent/f"_s}
            << u"AKPREFS"_s << u"prefs/secret"_s << u"eu-west-1"_s << QString();
    }
    void precedence()
    {
        QFETCH(QString, options);
        QFETCH(QStringList, environment);
        QFETCH(QString, keyId);
        QFETCH(QString, secret);
        QFETCH(QString, region);
        QFETCH(QString, token);
        QStringList arguments{u"quota"_s, u"--endpoint"_s, m_server.endpoint()};
        if (!options.isEmpty())
            arguments += options.split(u' ');
        const Run r = cli(arguments, m_dir.filePath(u"home"_s), files() + environment);
        QVERIFY2(r.status == 0, qPrintable(r.err));
        QCOMPARE(m_server.requests().size(), 1);
        const RecordedRequest request = m_server.requests().first();
        const QByteArray authorization = request.header("Authorization");
        const QByteArray scope = keyId.toUtf8() + '/' + request.header("X-Amz-Date").left(8) + '/'
                                 + region.toUtf8() + "/ses/aws4_request";
        QVERIFY2(authorization.startsWith("AWS4-HMAC-SHA256 Credential=" + scope + ", "), authorization);
        QCOMPARE(request.header("X-Amz-Security-Token"), token.toUtf8());
        QCOMPARE(authorization.contains(";x-amz-security-token"), !token.isEmpty());
        const auto expected = referenceSigV4Signature(request, secret.toUtf8(), region.toUtf8(), "ses");
        if (!expected)
            QSKIP("no Python to check the signature with");
        QVERIFY2(authorization.endsWith("Signature=" + *expected), authorization);
    }

    // The legacy scheme signs only the date; the token goes along unsigned.
    void legacySignatureCarriesToken()
    {
        const Run r = cli({u"quota"_s, u"--endpoint"_s, m_server.endpoint(), u"--signature"_s, u"v3"_s},
                          m_dir.filePath(u"home"_s), files() + QStringList{u"AWS_PROFILE=work"_s});
        QVERIFY2(r.status == 0, qPrintable(r.err));
        const RecordedRequest request = m_server.requests().first();
        QVERIFY(request.header("X-Amzn-Authorization").startsWith("AWS3-HTTPS AWSAccessKeyId=AKWORK,"));
        QCOMPARE(request.header("X-Amz-Security-Token"), "IQoJb3JpZ2luX2VjE/temporary+token=="_ba);
    }

    // Nothing is sent when the account cannot be used, and the reason names file and line.
    void unusable_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<QString>("error");
        const QString broken = m_dir.filePath(u"broken"_s);
        QTest::newRow("missing profile") << u"quota --profile nope"_s << files()
                                         << u"brisko-cli quota: the AWS profile \"nope\" is in neither "_s;
        QTest::newRow("broken credentials file")
            << u"quota"_s << QStringList{u"AWS_SHARED_CREDENTIALS_FILE="_s + broken}
            << u"brisko-cli quota: "_s + broken + u":4: a section head without its closing \"]\""_s;
        QTest::newRow("broken even when the environment has keys")
            << u"verify a@x.com"_s
            << QStringList{u"AWS_CONFIG_FILE="_s + broken, u"AWS_ACCESS_KEY_ID=A"_s, u"AWS_SECRET_ACCESS_KEY=B"_s}
            << u"brisko-cli verify: "_s + broken + u":4:"_s;
    }
    void unusable()
    {
        QFETCH(QString, command);
        QFETCH(QStringList, environment);
        QFETCH(QString, error);
        const QStringList arguments = command.split(u' ') + QStringList{u"--endpoint"_s, m_server.endpoint()};
        const Run r = cli(arguments, m_dir.filePath(u"home"_s), environment);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.startsWith(error), qPrintable(r.err));
        QVERIFY(m_server.requests().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestCliProfiles)
#include "tst_cli_profiles.moc"

// The shared AWS credential files: their INI form, the errors with line numbers, the profile
// list, and which file's values win.

#include "AccountSettings.h"
#include "AwsProfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace brisko;
using namespace Qt::StringLiterals;

class TestAwsProfiles : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

private Q_SLOTS:
    void init()
    {
        qunsetenv("AWS_SHARED_CREDENTIALS_FILE");
        qunsetenv("AWS_CONFIG_FILE");
    }

    // Text → "section.key=value" lines of what was read, or the error.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("error");
        QTest::newRow("byte order mark, comments, blanks, CRLF, both separators")
            << "\xEF\xBB\xBF# top\r\n[default]\r\n; note\r\naws_access_key_id = AKID\r\n\r\nRegion: eu-west-1\r\n"_ba
            << QStringList{u"default.aws_access_key_id=AKID"_s, u"default.region=eu-west-1"_s} << QString();
        QTest::newRow("a value keeps its own = and blanks inside")
            << "[p]\naws_secret_access_key = ab/c=d+e==\nx =  two  words \n"_ba
            << QStringList{u"p.aws_secret_access_key=ab/c=d+e=="_s, u"p.x=two  words"_s} << QString();
        QTest::newRow("nested settings stay out of the values")
            << "[profile p]\ns3 =\n  max_concurrent_requests = 20\n\tsignature_version = s3v4\nregion = us-west-2\n"_ba
            << QStringList{u"profile p.region=us-west-2"_s, u"profile p.s3="_s} << QString();
        QTest::newRow("empty file") << QByteArray() << QStringList() << QString();
        QTest::newRow("a setting before any section")
            << "\n# c\naws_access_key_id = AKID\n[default]\n"_ba << QStringList() << u"f:3: "_s;
        QTest::newRow("no separator") << "[default]\naws_access_key_id AKID\n"_ba << QStringList() << u"f:2: "_s;
        QTest::newRow("unclosed section head") << "[default]\nk=v\n[work\n"_ba << QStringList() << u"f:3: "_s;
        QTest::newRow("empty section name") << "[ ]\n"_ba << QStringList() << u"f:1: "_s;
        QTest::newRow("a value without a name") << "[a]\n = v\n"_ba << QStringList() << u"f:2: "_s;
        QTest::newRow("a section twice") << "[a]\nk=1\n[b]\n[a]\n"_ba << QStringList() << u"f:4: "_s;
    }
    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, values);
        QFETCH(QString, error);
        const AwsProfiles::ParseResult result = AwsProfiles::parse(text, u"f"_s);
        if (!error.isEmpty()) {
            QVERIFY(result.error);
            QVERIFY2(result.error->startsWith(error), qPrintable(*result.error));
            QVERIFY(result.sections.isEmpty());
            return;
        }
        QVERIFY2(!result.error, qPrintable(result.error.value_or(QString())));
        QStringList found;
        for (auto section = result.sections.cbegin(); section != result.sections.cend(); ++section) {
            for (auto value = section->cbegin(); value != section->cend(); ++value)
                found.append(section.key() + u'.' + value.key() + u'=' + value.value());
        }
        QCOMPARE(found, values);
    }

    void filesAndProfiles()
    {
        qputenv("AWS_SHARED_CREDENTIALS_FILE",
                write(u"credentials"_s, "[work]\naws_access_key_id = AKWORK\naws_secret_access_key = s\n"
                                        "aws_session_token = TOKEN\nregion = eu-south-1\n"
                                        "[zeta]\naws_access_key_id = AKZ\n")
                    .toLocal8Bit());
        qputenv("AWS_CONFIG_FILE",
                write(u"config"_s, "[profile work]\nregion = ap-south-1\naws_access_key_id = AKCONFIG\n"
                                   "[default]\nregion = us-west-2\naws_access_key_id = AKDEF\n"
                                   "aws_secret_access_key = d\n[sso-session corp]\nsso_region = x\n"
                                   "[profile alpha]\n")
                    .toLocal8Bit());
        QString error;
        QCOMPARE(AwsProfiles::profileNames(&error), (QStringList{u"default"_s, u"alpha"_s, u"work"_s, u"zeta"_s}));
        QVERIFY(error.isEmpty());

        // The credentials file's values go first, the config file fills the rest.
        auto work = AwsProfiles::load(u"work"_s, &error);
        QVERIFY(work && work->found && work->hasKeys());
        QCOMPARE(work->accessKeyId, u"AKWORK"_s);
        QCOMPARE(work->sessionToken, u"TOKEN"_s);
        QCOMPARE(work->region, u"eu-south-1"_s);
        const auto zeta = AwsProfiles::load(u"zeta"_s, &error);
        QVERIFY(zeta && zeta->found && !zeta->hasKeys());
        const auto absent = AwsProfiles::load(u"corp"_s, &error);
        QVERIFY(absent && !absent->found);

        // One broken file makes every profile unusable, with the file and line named.
        write(u"config"_s, "[default]\nregion = us-west-2\n\nthis is not a setting\n");
        QVERIFY(!AwsProfiles::load(u"work"_s, &error));
        QCOMPARE(error, m_dir.filePath(u"config"_s) + u":4: expected \"name = value\" or a [section] head"_s);
        AwsProfiles::profileNames(&error);
        QVERIFY(error.startsWith(m_dir.filePath(u"config"_s) + u":4:"_s));

        // Bounded: a file past the limit is refused, not read.
        write(u"config"_s, QByteArray(AwsProfiles::MaxFileSize + 1, '#'));
        QVERIFY(!AwsProfiles::load(u"work"_s, &error));
        QVERIFY2(error.contains(u"larger than 1024 KiB"_s), qPrintable(error));

        // Missing files hold no profiles and are no error.
        qputenv("AWS_CONFIG_FILE", m_dir.filePath(u"none"_s).toLocal8Bit());
        qputenv("AWS_SHARED_CREDENTIALS_FILE", m_dir.filePath(u"none2"_s).toLocal8Bit());
        QVERIFY(AwsProfiles::profileNames(&error).isEmpty());
        QVERIFY(error.isEmpty());
    }

    // A profile chosen in the window that is gone or has no keys stops its requests; the
    // typed keys are not used in its place.
    void chosenProfileUnusable()
    {
        qputenv("AWS_SHARED_CREDENTIALS_FILE",
                write(u"credentials"_s, "[keyless]\nregion = eu-west-3\n").toLocal8Bit());
        AccountSettings::setOverrides({});
        AccountSettings typed;
        typed.accessKey = u"AKTYPED"_s;
        typed.secretKey = u"typed"_s;
        for (const QString &name : {u"keyless"_s, u"gone"_s}) {
            typed.awsProfile = name;
            QVERIFY(typed.save());
            const AccountSettings settings = AccountSettings::load();
            QVERIFY2(settings.problem && settings.problem->contains(u'"' + name + u'"'), qPrintable(name));
            QVERIFY(!settings.accessKey && !settings.secretKey);
            QCOMPARE(AccountSettings::stored().accessKey, u"AKTYPED"_s); // still there for the panel
        }
    }
};

QTEST_GUILESS_MAIN(TestAwsProfiles)
#include "tst_awsprofiles.moc"

// The widget-free campaign: shared records, column rebuilding, load rules, outcomes, the file.

#include "AtomicFile.h"
#include "Campaign.h"
#include "CampaignFile.h"
#include "KeyedArchive.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <cstring>

using namespace brisko;
using namespace Qt::StringLiterals;

class TestCampaign : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void sourceBackedRecords()
    {
        // "a@x.org,Ann" and "b@x.org" (a short line): spans into one shared buffer.
        const auto source =
            std::make_shared<RecordSource>(RecordSource{"a@x.org,Ann\nb@x.org\n",
                                                        {u"EMAIL"_s, u"NAME"_s},
                                                        {0, 7, 8, 11, 12, 19, RecordSource::Absent, 0}});
        Recipient ann(source, 0);
        Recipient bob(source, 2);
        QCOMPARE(ann.email(), u"a@x.org"_s);
        QCOMPARE(ann.value(u"NAME"), std::optional<QString>(u"Ann"_s));
        QCOMPARE(ann.keys(), (QStringList{u"EMAIL"_s, u"NAME"_s}));
        QCOMPARE(bob.value(u"NAME"), std::nullopt);
        QCOMPARE(bob.keys(), QStringList{u"EMAIL"_s});

        // Edits live beside the shared bytes and never change them.
        ann.setValue(u"NAME"_s, u"Anna"_s);
        ann.setValue(u"CITY"_s, u"Wien"_s);
        bob.setValue(u"NAME"_s, u"Bob"_s);
        QCOMPARE(ann.value(u"NAME"), std::optional<QString>(u"Anna"_s));
        QCOMPARE(ann.keys(), (QStringList{u"EMAIL"_s, u"NAME"_s, u"CITY"_s}));
        QCOMPARE(bob.keys(), (QStringList{u"EMAIL"_s, u"NAME"_s}));
        QCOMPARE(Recipient(source, 0).value(u"NAME"), std::optional<QString>(u"Ann"_s));

        QVERIFY(ann.removeValue(u"NAME"));
        QCOMPARE(ann.value(u"NAME"), std::nullopt);
        QCOMPARE(ann.keys(), (QStringList{u"EMAIL"_s, u"CITY"_s}));

        // A copy is a separate record.
        Recipient copy = bob;
        copy.setValue(u"NAME"_s, u"Robert"_s);
        QCOMPARE(bob.value(u"NAME"), std::optional<QString>(u"Bob"_s));
    }

    void recordsAreSharedByReference()
    {
        Campaign campaign;
        campaign.setRecipients({makeRecipient({{u"EMAIL"_s, u"ann@example.com"_s}})});
        RecipientList queue = campaign.recipients();
        queue.first()->setValue(u"NAME"_s, u"Ann"_s);
        QCOMPARE(campaign.recipients().first()->value(u"NAME"), std::optional<QString>(u"Ann"_s));
    }

    void setupTableColumnsKeepsEmailAndDropsProgramColumns()
    {
        Campaign campaign;
        QCOMPARE(campaign.columns(), QStringList{u"EMAIL"_s});
        QSignalSpy changed(&campaign, &Campaign::columnsChanged);
        campaign.setupTableColumns({u"NAME"_s, u"EMAIL"_s, u"_BRISKO_STATUS"_s, u"CITY"_s});
        QCOMPARE(campaign.columns(), (QStringList{u"EMAIL"_s, u"NAME"_s, u"CITY"_s}));
        campaign.setupTableColumns({u"ZIP"_s});
        QCOMPARE(campaign.columns(), (QStringList{u"EMAIL"_s, u"ZIP"_s}));
        QCOMPARE(changed.count(), 2);
        QVERIFY(campaign.isModified());
    }

    // A loaded document sets what it holds: a missing text empties the field, except Reply-To; a
    // missing list leaves the list alone.
    void applyFollowsTheLoadRules()
    {
        Campaign campaign;
        campaign.setField(Campaign::Field::ReplyTo, u"typed"_s);
        campaign.setField(Campaign::Field::ReturnPath, u"bounce"_s);
        campaign.setRecipients({makeRecipient({{u"EMAIL"_s, u"kept@example.com"_s}})});
        CampaignDocument document;
        document.subject = u"s"_s;
        campaign.apply(document);
        QCOMPARE(campaign.subject(), u"s"_s);
        QCOMPARE(campaign.replyTo(), u"typed"_s);
        QCOMPARE(campaign.returnPath(), QString());
        QCOMPARE(campaign.emailList(), QStringList{u"kept@example.com"_s});
        document.recipients = RecipientList{makeRecipient({{u"EMAIL"_s, u"new@example.com"_s}})};
        campaign.apply(document);
        QCOMPARE(campaign.emailList(), QStringList{u"new@example.com"_s});
    }

    void outcomesKeepEarlierTextWhenNoneIsGiven()
    {
        Campaign campaign;
        campaign.recordOutcome(u"a@x.org"_s, -1, u"Address blacklisted."_s);
        campaign.recordOutcome(u"a@x.org"_s, -1, std::nullopt);
        QCOMPARE(campaign.response(u"a@x.org"_s), std::optional<int>(-1));
        QCOMPARE(campaign.status(u"a@x.org"_s), std::optional<QString>(u"Address blacklisted."_s));
    }

    // An outbox save shows as "Saved" with code 1, yet leaves the recipient not yet sent; it
    // never covers up a delivery, and a later real outcome replaces it.
    void outboxSavesAreNotDeliveries()
    {
        Campaign campaign;
        campaign.recordSaved(u"a@x.org"_s);
        QCOMPARE(campaign.response(u"a@x.org"_s), std::optional<int>(Campaign::AcceptedCode));
        QCOMPARE(campaign.status(u"a@x.org"_s), std::optional<QString>(u"Saved"_s));
        QCOMPARE(campaign.outcome(u"a@x.org"_s), std::optional(SendJournal::Outcome::Saved));
        QVERIFY(campaign.notYetSent(u"a@x.org"_s));
        QVERIFY(!campaign.alreadyReceived(u"a@x.org"_s));
        campaign.recordOutcome(u"a@x.org"_s, Campaign::AcceptedCode, u"Success!"_s);
        QVERIFY(campaign.alreadyReceived(u"a@x.org"_s));
        QVERIFY(!campaign.notYetSent(u"a@x.org"_s));

        campaign.recordOutcome(u"b@x.org"_s, Campaign::UnknownCode, std::nullopt);
        campaign.recordSaved(u"b@x.org"_s);
        QCOMPARE(campaign.outcome(u"b@x.org"_s), std::optional(SendJournal::Outcome::Unknown));
        campaign.recordOutcome(u"c@x.org"_s, Campaign::FailedCode, u"bad"_s);
        QVERIFY(!campaign.notYetSent(u"c@x.org"_s));
        campaign.recordSaved(u"c@x.org"_s);
        QVERIFY(campaign.notYetSent(u"c@x.org"_s));

        SendJournal::Replay replay;
        replay.outcomes.insert(u"d@x.org"_s, {SendJournal::Outcome::Saved, u"/out/d.eml"_s, QString()});
        campaign.replayJournal(replay);
        QCOMPARE(campaign.status(u"d@x.org"_s), std::optional<QString>(u"Saved"_s));
        QVERIFY(campaign.notYetSent(u"d@x.org"_s));
        campaign.clearOutcomes();
        QCOMPARE(campaign.outcome(u"a@x.org"_s), std::nullopt);
    }

    // What is written reads back the same, here and in Python's own property-list reader (object
    // graph and class chain resolved by itself). A field left out is written as an empty text.
    void fileRoundTrip()
    {
        CampaignDocument document;
        document.subject = u"Grüße an __NAME__ 🌷"_s;
        document.from = u"Shop <shop@example.com>"_s;
        document.body = u"line 1\r\nline 2\n"_s;
        document.html = u"<p>x</p>"_s;
        document.returnPath = u"bounce@example.com"_s;
        document.columns = QStringList{u"EMAIL"_s, u"NAME"_s, u"CITY"_s};
        document.recipients = RecipientList();
        for (int i = 0; i < 50; ++i)
            document.recipients->append(makeRecipient(
                {{u"EMAIL"_s, u"user%1@example.com"_s.arg(i)}, {u"NAME"_s, i % 2 ? u"Ann"_s : u"Bø"_s}}));
        document.recipients->at(7)->setValue(u"CITY"_s, u"Köln"_s);
        const QString path = m_dir.filePath(u"round.brisko"_s);
        QCOMPARE(CampaignFile::write(path, document), std::nullopt);

        const CampaignFile::ReadResult result = CampaignFile::read(path);
        QCOMPARE(result.status, CampaignFile::ReadStatus::Ok);
        const CampaignDocument &back = result.document;
        QCOMPARE(back.subject, document.subject);
        QCOMPARE(back.from, document.from);
        QCOMPARE(back.body, document.body);
        QCOMPARE(back.html, document.html);
        QCOMPARE(back.replyTo, std::optional<QString>(QString()));
        QCOMPARE(back.returnPath, document.returnPath);
        QCOMPARE(back.columns, document.columns);
        QCOMPARE(back.recipients->size(), 50);
        for (int i = 0; i < 50; ++i)
            QVERIFY2(*back.recipients->at(i) == *document.recipients->at(i), qPrintable(QString::number(i)));

        const QString script = uR"(
import plistlib, sys, json
a = plistlib.load(open(sys.argv[1], 'rb'))
assert a['$archiver'] == 'NSKeyedArchiver' and a['$version'] == 100000
objs = a['$objects']
def res(u):
    o = objs[u.data if isinstance(u, plistlib.UID) else u]
    if not (isinstance(o, dict) and '$class' in o):
        return o
    name = objs[o['$class'].data]['$classname']
    if 'Dictionary' in name:
        return {res(k): res(v) for k, v in zip(o['NS.keys'], o['NS.objects'])}
    assert 'Array' in name, name
    return [res(x) for x in o['NS.objects']]
top = a['$top']['root']
r = res(top)
print(json.dumps([r['SUBJECT'], r['REPLYTO'], r['RETURNPATH'], r['COLUMNS'], len(r['RECIPIENTS']),
                  r['RECIPIENTS'][7], r['RECIPIENTS'][48]]))
print(objs[objs[top.data]['$class'].data]['$classes'])
)"_s;
        QProcess python;
        python.start(u"python3"_s, {u"-c"_s, script, path});
        QVERIFY(python.waitForFinished(20000));
        QCOMPARE(python.exitCode(), 0);
        QCOMPARE(python.readAllStandardOutput(),
                 R"(["Gr\u00fc\u00dfe an __NAME__ \ud83c\udf37", "", "bounce@example.com", )"
                 R"(["EMAIL", "NAME", "CITY"], 50, )"
                 R"({"EMAIL": "user7@example.com", "NAME": "Ann", "CITY": "K\u00f6ln"}, )"
                 R"({"EMAIL": "user48@example.com", "NAME": "B\u00f8"}])"
                 "\n"
                 "['NSMutableDictionary', 'NSDictionary', 'NSObject']\n"_ba);
    }

    // Unsubscribe and attachments are saved only when set, read back byte for byte (a non-ASCII
    // name, a 5 MB binary), and seen the same by Python's own property-list reader. A file
    // without them opens as before and clears what the previous campaign had.
    void optionalKeysRoundTrip()
    {
        QByteArray binary(5 * 1024 * 1024, Qt::Uninitialized);
        quint32 x = 2463534242u;
        for (char &c : binary) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            c = char(x);
        }
        CampaignDocument document;
        document.subject = u"s"_s;
        document.unsubscribe = u"https://example.com/u?e=__EMAIL__, mailto:off@example.com"_s;
        document.attachments = AttachmentList{{u"Preisliste Grüße.pdf"_s, u"application/pdf"_s, "%PDF-1.4\n"_ba},
                                              {u"blob.bin"_s, u"application/octet-stream"_s, binary},
                                              {u"empty.txt"_s, u"text/plain"_s, QByteArray()}};
        const QString path = m_dir.filePath(u"extras.brisko"_s);
        QCOMPARE(CampaignFile::write(path, document), std::nullopt);
        const CampaignFile::ReadResult result = CampaignFile::read(path);
        QCOMPARE(result.status, CampaignFile::ReadStatus::Ok);
        QCOMPARE(result.document.unsubscribe, document.unsubscribe);
        QVERIFY(result.document.attachments == document.attachments);

        const QString script = uR"(
import plistlib, sys, hashlib
a = plistlib.load(open(sys.argv[1], 'rb'))
objs = a['$objects']
def res(u):
    o = objs[u.data if isinstance(u, plistlib.UID) else u]
    if not (isinstance(o, dict) and '$class' in o):
        return o
    name = objs[o['$class'].data]['$classname']
    if 'Dictionary' in name:
        return {res(k): res(v) for k, v in zip(o['NS.keys'], o['NS.objects'])}
    return [res(x) for x in o['NS.objects']]
r = res(a['$top']['root'])
print(r['UNSUBSCRIBE'])
for f in r['ATTACHMENTS']:
    print(f['NAME'], f['TYPE'], type(f['DATA']).__name__, len(f['DATA']), hashlib.sha256(f['DATA']).hexdigest())
)"_s;
        QProcess python;
        python.start(u"python3"_s, {u"-c"_s, script, path});
        QVERIFY(python.waitForFinished(20000));
        QCOMPARE(python.exitCode(), 0);
        const auto sha = [](const QByteArray &d) { return QString::fromLatin1(QCryptographicHash::hash(d, QCryptographicHash::Sha256).toHex()); };
        QCOMPARE(QString::fromUtf8(python.readAllStandardOutput()),
                 u"https://example.com/u?e=__EMAIL__, mailto:off@example.com\n"
                 "Preisliste Grüße.pdf application/pdf bytes 9 %1\n"
                 "blob.bin application/octet-stream bytes 5242880 %2\n"
                 "empty.txt text/plain bytes 0 %3\n"_s.arg(sha("%PDF-1.4\n"), sha(binary), sha({})));

        // Through the model: set, saved, opened; then a file without the keys clears them.
        Campaign campaign;
        campaign.apply(result.document);
        QCOMPARE(campaign.unsubscribe(), *document.unsubscribe);
        QCOMPARE(campaign.attachments().size(), 3);
        CampaignDocument saved = campaign.document();
        QVERIFY(saved.unsubscribe && saved.attachments);
        QSignalSpy cleared(&campaign, &Campaign::attachmentsChanged);
        campaign.apply(CampaignDocument{});
        QCOMPARE(cleared.size(), 1);
        QVERIFY(campaign.attachments().isEmpty() && campaign.unsubscribe().isEmpty());
        saved = campaign.document();
        QVERIFY(!saved.unsubscribe && !saved.attachments);
        const QByteArray plain = CampaignFile::encode(saved);
        QVERIFY(!plain.contains("UNSUBSCRIBE") && !plain.contains("ATTACHMENTS"));
    }

    void fileRefusals_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        using V = ArchiveValue;
        const auto archive = [](const ArchiveValue &root) {
            const auto bytes = KeyedArchiver::archivedData(root);
            return bytes.ok() ? bytes.value() : QByteArray();
        };
        QTest::newRow("truncated archive")
            << archive(V::dictionary({{u"SUBJECT"_s, V::string(u"x"_s)}})).left(40);
        QTest::newRow("subject is a number") << archive(V::dictionary({{u"SUBJECT"_s, V::integer(3)}}));
        QTest::newRow("recipients hold a text")
            << archive(V::dictionary({{u"RECIPIENTS"_s, V::array({V::string(u"a@x.org"_s)})}}));
        QTest::newRow("record value is a list") << archive(
            V::dictionary({{u"RECIPIENTS"_s, V::array({V::dictionary({{u"EMAIL"_s, V::array({})}})})}}));
        QTest::newRow("unsubscribe is a number") << archive(V::dictionary({{u"UNSUBSCRIBE"_s, V::integer(1)}}));
        QTest::newRow("attachment without data") << archive(
            V::dictionary({{u"ATTACHMENTS"_s, V::array({V::dictionary({{u"NAME"_s, V::string(u"a"_s)}})})}}));
        QTest::newRow("attachment data as text") << archive(V::dictionary(
            {{u"ATTACHMENTS"_s, V::array({V::dictionary({{u"NAME"_s, V::string(u"a"_s)},
                                                          {u"DATA"_s, V::string(u"x"_s)}})})}}));
    }

    void fileRefusals()
    {
        QFETCH(QByteArray, bytes);
        const QString path = m_dir.filePath(u"bad.brisko"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        file.close();
        const CampaignFile::ReadResult result = CampaignFile::read(path);
        QCOMPARE(result.status, CampaignFile::ReadStatus::Invalid);
        QVERIFY(!result.error.isEmpty());
    }

    // A save failing at any step, even part of the way through the bytes, leaves the old file byte
    // for byte, no temporary file beside it, and names the system's reason.
    void failedSaveKeepsTheOldFile_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("call"); // the call of that step that fails, from 1
        QTest::addColumn<int>("error");
        using S = AtomicFile::Step;
        QTest::newRow("no room for the temporary file") << int(S::Create) << 1 << ENOSPC;
        QTest::newRow("first write") << int(S::Write) << 1 << ENOSPC;
        QTest::newRow("second megabyte") << int(S::Write) << 2 << ENOSPC;
        QTest::newRow("quota at sync") << int(S::Sync) << 1 << EDQUOT;
        QTest::newRow("close") << int(S::Close) << 1 << EIO;
        QTest::newRow("rename") << int(S::Rename) << 1 << EACCES;
    }

    void failedSaveKeepsTheOldFile()
    {
        QFETCH(int, step);
        QFETCH(int, call);
        QFETCH(int, error);
        QTemporaryDir folder;
        const QString path = folder.filePath(u"c.brisko"_s);
        CampaignDocument old;
        old.subject = u"old"_s;
        QCOMPARE(CampaignFile::write(path, old), std::nullopt);
        const QByteArray before = [&] { QFile f(path); return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(); }();

        CampaignDocument large; // over 1 MB: written in two parts
        large.recipients = RecipientList();
        for (int i = 0; i < 3000; ++i)
            large.recipients->append(makeRecipient({{u"EMAIL"_s, u"u%1@example.com"_s.arg(i)},
                                                    {u"NOTE"_s, QString(400, QChar(u'a' + i % 26)) + QString::number(i)}}));
        int calls = 0;
        AtomicFile::setFailureHookForTesting([&](AtomicFile::Step at) { return int(at) == step && ++calls == call ? error : 0; });
        const std::optional<QString> reason = CampaignFile::write(path, large);
        AtomicFile::setFailureHookForTesting({});
        QCOMPARE(reason, QString::fromLocal8Bit(std::strerror(error)));
        QFile after(path);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), before);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"c.brisko"_s});
    }

    // A save keeps the file's mode and writes through a link to its target.
    void saveKeepsModeAndLink()
    {
        QTemporaryDir folder;
        const QString target = folder.filePath(u"real.brisko"_s), link = folder.filePath(u"link.brisko"_s);
        CampaignDocument document;
        document.subject = u"first"_s;
        QCOMPARE(CampaignFile::write(target, document), std::nullopt);
        const auto mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup;
        QVERIFY(QFile::setPermissions(target, mode));
        QVERIFY(QFile::link(target, link));
        document.subject = u"second"_s;
        QCOMPARE(CampaignFile::write(link, document), std::nullopt);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(CampaignFile::read(target).document.subject, document.subject);
        const auto user = QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
        QCOMPARE(QFile::permissions(target) & ~user, mode);
        QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 2);

        // What a killed save left is cleared by the next save once it is an hour old.
        const auto leftover = [&](const QString &name, qint64 age) {
            QFile file(folder.filePath(name));
            if (!file.open(QIODevice::WriteOnly) || file.write("partial") != 7 || !file.flush() ||
                !file.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-age), QFileDevice::FileModificationTime))
                qFatal("cannot place a leftover");
        };
        leftover(u".real.brisko.0badc0de"_s, 7200);
        leftover(u".real.brisko.12345678"_s, 60);      // maybe a save under way elsewhere
        leftover(u".real.brisko.old"_s, 7200);          // not one of ours
        leftover(u".other.brisko.0badc0de"_s, 7200);    // another file's
        QCOMPARE(CampaignFile::write(target, document), std::nullopt);
        QStringList left = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System);
        left.sort();
        QCOMPARE(left, (QStringList{u".other.brisko.0badc0de"_s, u".real.brisko.12345678"_s, u".real.brisko.old"_s,
                                    u"link.brisko"_s, u"real.brisko"_s}));
    }

    // Records as the platform's archiver may store them read back the same, whatever reader
    // takes the file: string objects, numbers, records with keys of their own, records listed twice.
    void recordShapes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("records"); // "KEY=value" sorted by key, "|"-joined; one record a line
        using V = ArchiveValue;
        const auto archive = [](const V &recipients, const V &subject = V::string(u"s"_s)) {
            const auto bytes = KeyedArchiver::archivedData(
                V::dictionary({{u"SUBJECT"_s, subject}, {u"RECIPIENTS"_s, recipients}}, V::Mutable));
            return bytes.ok() ? bytes.value() : QByteArray();
        };
        const auto record = [](QList<std::pair<QString, V>> entries) {
            V::Dictionary d;
            for (auto &[key, value] : entries)
                d.emplace_back(key, value);
            return V::dictionary(std::move(d), V::Mutable);
        };
        QTest::newRow("mutable string objects")
            << archive(V::array({record({{u"EMAIL"_s, V::string(u"a@x.org"_s, V::Mutable)},
                                         {u"NAME"_s, V::string(u"Zoë 🌷"_s, V::Mutable)}})}),
                       V::string(u"s"_s, V::Mutable))
            << u"EMAIL=a@x.org|NAME=Zoë 🌷"_s;
        QTest::newRow("numbers and booleans")
            << archive(V::array({record({{u"EMAIL"_s, V::string(u"a@x.org"_s)}, {u"AGE"_s, V::integer(42)},
                                         {u"VIP"_s, V::boolean(true)}})}))
            << u"AGE=42|EMAIL=a@x.org|VIP=1"_s;
        QTest::newRow("keys of their own, shared values")
            << archive(V::array({record({{u"EMAIL"_s, V::string(u"a@x.org"_s)}, {u"CITY"_s, V::string(u"Oslo"_s)}}),
                                 record({{u"NAME"_s, V::string(u"B"_s)}, {u"EMAIL"_s, V::string(u"b@x.org"_s)},
                                         {u"CITY"_s, V::string(u"Oslo"_s)}}),
                                 record({})}))
            << u"CITY=Oslo|EMAIL=a@x.org\nCITY=Oslo|EMAIL=b@x.org|NAME=B\n"_s;

        // One record stored once and listed twice: two records.
        KeyedArchiver archiver;
        const auto root = archiver.reserve();
        const auto recipients = archiver.reserve();
        const auto one = archiver.reserve();
        const std::vector<KeyedArchiver::Uid> keys{archiver.encodeString(u"EMAIL"_s)},
            values{archiver.encodeString(u"a@x.org"_s)};
        archiver.finishDictionary(one, keys, values, V::Mutable);
        archiver.finishArray(recipients, std::vector<KeyedArchiver::Uid>{one, one}, V::Mutable);
        archiver.finishDictionary(root, std::vector<KeyedArchiver::Uid>{archiver.encodeString(u"RECIPIENTS"_s)},
                                  std::vector<KeyedArchiver::Uid>{recipients}, V::Mutable);
        QTest::newRow("a record listed twice") << archiver.finish(root) << u"EMAIL=a@x.org\nEMAIL=a@x.org"_s;
    }

    void recordShapes()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, records);
        QVERIFY(!bytes.isEmpty());
        const QString path = m_dir.filePath(u"shapes.brisko"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
        file.close();
        const CampaignFile::ReadResult result = CampaignFile::read(path);
        QCOMPARE(result.status, CampaignFile::ReadStatus::Ok);
        QStringList lines;
        for (const RecipientPtr &record : *result.document.recipients) {
            QStringList parts;
            record->forEach([&](const QString &key, const QString &value) { parts.append(key + u'=' + value); });
            parts.sort();
            lines.append(parts.join(u'|'));
        }
        QCOMPARE(lines.join(u'\n'), records);
    }

    // A record listed over and over would make a small file a huge campaign: refused.
    void recordsListedOverAndOverAreRefused()
    {
        KeyedArchiver archiver;
        const auto root = archiver.reserve();
        const auto recipients = archiver.reserve();
        const auto one = archiver.reserve();
        std::vector<KeyedArchiver::Uid> keys, values;
        for (int i = 0; i < 10; ++i) {
            keys.push_back(archiver.encodeString(u"K%1"_s.arg(i)));
            values.push_back(archiver.encodeString(u"value %1"_s.arg(i)));
        }
        archiver.finishDictionary(one, keys, values, ArchiveValue::Mutable);
        archiver.finishArray(recipients, std::vector<KeyedArchiver::Uid>(20000, one), ArchiveValue::Mutable);
        archiver.finishDictionary(root, std::vector<KeyedArchiver::Uid>{archiver.encodeString(u"RECIPIENTS"_s)},
                                  std::vector<KeyedArchiver::Uid>{recipients}, ArchiveValue::Mutable);
        const QByteArray bytes = archiver.finish(root);
        QVERIFY(bytes.size() < 100000); // small enough for the general reader's own limit to let it through
        const QString path = m_dir.filePath(u"shared.brisko"_s);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
        file.close();
        const CampaignFile::ReadResult result = CampaignFile::read(path);
        QCOMPARE(result.status, CampaignFile::ReadStatus::Invalid);
        QVERIFY2(result.error.contains(u"over and over"_s), qPrintable(result.error));
    }

    void missingFileIsNotAnError()
    {
        const CampaignFile::ReadResult result = CampaignFile::read(m_dir.filePath(u"absent.brisko"_s));
        QCOMPARE(result.status, CampaignFile::ReadStatus::Missing);
        QVERIFY(!result.document.subject && !result.document.recipients && !result.document.returnPath);
    }

    // The campaign writer lays its objects out as the platform's archiver does: the
    // fixture was built object by object in that layout, with shared strings stored once.
    void writerUsesThePlatformLayout()
    {
        CampaignDocument document{u"Hi __NAME__"_s, u"a@b.c"_s, u"Dear __NAME__"_s, u"<p>Dear __NAME__</p>"_s,
                                  QString(), QString(), QStringList{u"EMAIL"_s, u"NAME"_s}, RecipientList{}};
        document.recipients->append(makeRecipient({{u"EMAIL"_s, u"x@y.z"_s}, {u"NAME"_s, u"Zoë"_s}}));
        document.recipients->append(makeRecipient({{u"EMAIL"_s, u"q@y.z"_s}, {u"NAME"_s, u"Hi __NAME__"_s}}));
        QFile fixture(QStringLiteral(BRISKO_TEST_DATA) + u"/archives/campaign_layout.archive"_s);
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        const auto expected = BinaryPlist::read(fixture.readAll());
        const auto written = BinaryPlist::read(CampaignFile::encode(document));
        QVERIFY(expected.ok() && written.ok());
        QVERIFY(written->value(u"$objects")->items() == expected->value(u"$objects")->items());
        QVERIFY(*written == *expected);
    }
};

QTEST_GUILESS_MAIN(TestCampaign)
#include "tst_campaign.moc"

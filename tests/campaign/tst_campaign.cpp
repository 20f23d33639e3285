// The widget-free campaign: shared records, column rebuilding, load rules, outcomes
// and the campaign file.

#include "Campaign.h"
#include "CampaignFile.h"
#include "KeyedArchive.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace brisko;

namespace {

std::shared_ptr<RecordSource> sourceOf(const QByteArray &bytes, const QStringList &keys,
                                       const std::vector<quint32> &spans)
{
    auto source = std::make_shared<RecordSource>();
    source->bytes = bytes;
    source->keys = keys;
    source->spans = spans;
    return source;
}

QByteArray archiveOf(const ArchiveValue &root)
{
    const auto bytes = KeyedArchiver::archivedData(root);
    return bytes.ok() ? bytes.value() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestCampaign : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sourceBackedRecords();
    void recordsAreSharedByReference();
    void setupTableColumnsKeepsEmailAndDropsProgramColumns();
    void applyFollowsTheLoadRules();
    void outcomesKeepEarlierTextWhenNoneIsGiven();
    void fileRoundTrip();
    void fileIsReadableByAnIndependentReader();
    void fileRefusals_data();
    void fileRefusals();
    void missingFileIsNotAnError();
    void failedWriteReportsAndCreatesNothing();

private:
    QTemporaryDir m_dir;
};

void TestCampaign::sourceBackedRecords()
{
    // "a@x.org,Ann" and "b@x.org" (a short line): spans into one shared buffer.
    const QByteArray bytes = "a@x.org,Ann\nb@x.org\n";
    auto source = sourceOf(bytes, {u"EMAIL"_qs, u"NAME"_qs},
                           {0, 7, 8, 11, 12, 19, RecordSource::Absent, 0});
    Recipient ann(source, 0);
    Recipient bob(source, 2);
    QCOMPARE(ann.email(), u"a@x.org"_qs);
    QCOMPARE(ann.value(u"NAME"), std::optional<QString>(u"Ann"_qs));
    QCOMPARE(bob.value(u"NAME"), std::nullopt);
    QCOMPARE(bob.keys(), QStringList{u"EMAIL"_qs});
    QCOMPARE(ann.keys(), (QStringList{u"EMAIL"_qs, u"NAME"_qs}));

    // Edits live beside the shared bytes and never change them.
    ann.setValue(u"NAME"_qs, u"Anna"_qs);
    ann.setValue(u"CITY"_qs, u"Wien"_qs);
    bob.setValue(u"NAME"_qs, u"Bob"_qs);
    QCOMPARE(ann.value(u"NAME"), std::optional<QString>(u"Anna"_qs));
    QCOMPARE(ann.keys(), (QStringList{u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs}));
    QCOMPARE(bob.keys(), (QStringList{u"EMAIL"_qs, u"NAME"_qs}));
    QCOMPARE(source->bytes, bytes);
    QCOMPARE(Recipient(source, 0).value(u"NAME"), std::optional<QString>(u"Ann"_qs));

    QVERIFY(ann.removeValue(u"NAME"));
    QCOMPARE(ann.value(u"NAME"), std::nullopt);
    QCOMPARE(ann.count(), 2);
    QVERIFY(!ann.removeValue(u"NAME"));

    // A copy is a separate record.
    Recipient copy = bob;
    copy.setValue(u"NAME"_qs, u"Robert"_qs);
    QCOMPARE(bob.value(u"NAME"), std::optional<QString>(u"Bob"_qs));
    QVERIFY(!(copy == bob));
}

void TestCampaign::recordsAreSharedByReference()
{
    Campaign campaign;
    RecipientPtr ann = makeRecipient({{u"EMAIL"_qs, u"ann@example.com"_qs}});
    campaign.setRecipients({ann});
    RecipientList queue = campaign.recipients();
    queue.first()->setValue(u"NAME"_qs, u"Ann"_qs);
    QCOMPARE(campaign.recipients().first()->value(u"NAME"), std::optional<QString>(u"Ann"_qs));
    QCOMPARE(campaign.emailList(), QStringList{u"ann@example.com"_qs});
}

void TestCampaign::setupTableColumnsKeepsEmailAndDropsProgramColumns()
{
    Campaign campaign;
    QCOMPARE(campaign.columns(), QStringList{u"EMAIL"_qs});
    QSignalSpy changed(&campaign, &Campaign::columnsChanged);
    campaign.setupTableColumns({u"NAME"_qs, u"EMAIL"_qs, u"_BRISKO_STATUS"_qs, u"CITY"_qs});
    QCOMPARE(campaign.columns(), (QStringList{u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs}));
    campaign.setupTableColumns({u"ZIP"_qs});
    QCOMPARE(campaign.columns(), (QStringList{u"EMAIL"_qs, u"ZIP"_qs}));
    QCOMPARE(changed.count(), 2);
    QVERIFY(campaign.isModified());
}

void TestCampaign::applyFollowsTheLoadRules()
{
    Campaign campaign;
    campaign.setField(Campaign::Field::ReplyTo, u"typed"_qs);
    campaign.setField(Campaign::Field::ReturnPath, u"bounce"_qs);
    campaign.setRecipients({makeRecipient({{u"EMAIL"_qs, u"kept@example.com"_qs}})});

    CampaignDocument partial;
    partial.subject = u"s"_qs;
    campaign.apply(partial);
    QCOMPARE(campaign.subject(), u"s"_qs);
    QCOMPARE(campaign.replyTo(), u"typed"_qs);
    QCOMPARE(campaign.returnPath(), QString());
    QCOMPARE(campaign.emailList(), QStringList{u"kept@example.com"_qs});

    CampaignDocument withList;
    withList.recipients = RecipientList{makeRecipient({{u"EMAIL"_qs, u"new@example.com"_qs}})};
    campaign.apply(withList);
    QCOMPARE(campaign.emailList(), QStringList{u"new@example.com"_qs});
}

void TestCampaign::outcomesKeepEarlierTextWhenNoneIsGiven()
{
    Campaign campaign;
    QCOMPARE(campaign.response(u"a@x.org"_qs), std::nullopt);
    campaign.recordOutcome(u"a@x.org"_qs, -1, u"Address blacklisted."_qs);
    campaign.recordOutcome(u"a@x.org"_qs, -1, std::nullopt);
    QCOMPARE(campaign.response(u"a@x.org"_qs), std::optional<int>(-1));
    QCOMPARE(campaign.status(u"a@x.org"_qs), std::optional<QString>(u"Address blacklisted."_qs));
    campaign.recordOutcome(u"a@x.org"_qs, 1, u"Success!"_qs);
    QCOMPARE(campaign.response(u"a@x.org"_qs), std::optional<int>(1));
    QCOMPARE(campaign.status(u"a@x.org"_qs), std::optional<QString>(u"Success!"_qs));
}

void TestCampaign::fileRoundTrip()
{
    CampaignDocument document;
    document.subject = u"Grüße an __NAME__ 🌷"_qs;
    document.from = u"Shop <shop@example.com>"_qs;
    document.body = u"line 1\r\nline 2\n"_qs;
    document.html = u"<p>x</p>"_qs;
    document.replyTo = QString();
    document.returnPath = u"bounce@example.com"_qs;
    document.columns = QStringList{u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs};
    RecipientList list;
    for (int i = 0; i < 50; ++i) {
        RecipientPtr r = makeRecipient({{u"EMAIL"_qs, u"user%1@example.com"_qs.arg(i)},
                                        {u"NAME"_qs, i % 2 ? u"Ann"_qs : u"Bob"_qs}});
        if (i == 7)
            r->setValue(u"CITY"_qs, u"Köln"_qs);
        list.append(r);
    }
    document.recipients = list;

    const QString path = m_dir.filePath(u"round.brisko"_qs);
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
        QVERIFY2(*back.recipients->at(i) == *list.at(i), qPrintable(QString::number(i)));
}

void TestCampaign::fileIsReadableByAnIndependentReader()
{
    CampaignDocument document;
    document.subject = u"Hello"_qs;
    document.columns = QStringList{u"EMAIL"_qs, u"NAME"_qs};
    document.recipients = RecipientList{
        makeRecipient({{u"EMAIL"_qs, u"a@example.com"_qs}, {u"NAME"_qs, u"Ann"_qs}}),
        makeRecipient({{u"EMAIL"_qs, u"b@example.com"_qs}, {u"NAME"_qs, u"Bø"_qs}})};
    const QString path = m_dir.filePath(u"python.brisko"_qs);
    QCOMPARE(CampaignFile::write(path, document), std::nullopt);

    // Resolve the object graph with Python's own property-list reader.
    const QString script = QStringLiteral(R"(
import plistlib, sys, json
a = plistlib.load(open(sys.argv[1], 'rb'))
assert a['$archiver'] == 'NSKeyedArchiver' and a['$version'] == 100000
objs = a['$objects']
def res(u):
    o = objs[u.data if isinstance(u, plistlib.UID) else u]
    if isinstance(o, dict) and '$class' in o:
        cls = objs[o['$class'].data]
        name = cls['$classname']
        if 'Dictionary' in name:
            return {res(k): res(v) for k, v in zip(o['NS.keys'], o['NS.objects'])}
        if 'Array' in name:
            return [res(x) for x in o['NS.objects']]
        raise SystemExit('unexpected class ' + name)
    return o
root = res(a['$top']['root'])
print(json.dumps([root['SUBJECT'], root['RETURNPATH'], root['COLUMNS'], root['RECIPIENTS']], ensure_ascii=True))
cls = objs[objs[a['$top']['root'].data]['$class'].data]
print(cls['$classes'])
)");
    QProcess python;
    python.start(u"python3"_qs, {u"-c"_qs, script, path});
    QVERIFY(python.waitForFinished(20000));
    QCOMPARE(python.exitCode(), 0);
    const QStringList lines = QString::fromUtf8(python.readAllStandardOutput()).split(u'\n');
    QCOMPARE(lines.at(0), uR"(["Hello", "", ["EMAIL", "NAME"], [{"EMAIL": "a@example.com", "NAME": "Ann"}, {"EMAIL": "b@example.com", "NAME": "B\u00f8"}]])"_qs);
    QCOMPARE(lines.at(1), u"['NSMutableDictionary', 'NSDictionary', 'NSObject']"_qs);
}

void TestCampaign::fileRefusals_data()
{
    QTest::addColumn<QByteArray>("bytes");
    using V = ArchiveValue;
    QTest::newRow("plain text") << QByteArray("SUBJECT=Hello\n");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("truncated archive")
        << archiveOf(V::dictionary({{u"SUBJECT"_qs, V::string(u"x"_qs)}})).left(40);
    QTest::newRow("root is a list") << archiveOf(V::array({V::string(u"x"_qs)}));
    QTest::newRow("subject is a number") << archiveOf(V::dictionary({{u"SUBJECT"_qs, V::integer(3)}}));
    QTest::newRow("columns hold a list")
        << archiveOf(V::dictionary({{u"COLUMNS"_qs, V::array({V::array({})})}}));
    QTest::newRow("recipients hold a text")
        << archiveOf(V::dictionary({{u"RECIPIENTS"_qs, V::array({V::string(u"a@x.org"_qs)})}}));
    QTest::newRow("record value is a list")
        << archiveOf(V::dictionary(
               {{u"RECIPIENTS"_qs, V::array({V::dictionary({{u"EMAIL"_qs, V::array({})}})})}}));
}

void TestCampaign::fileRefusals()
{
    QFETCH(QByteArray, bytes);
    const QString path = m_dir.filePath(u"bad.brisko"_qs);
    QVERIFY(writeFile(path, bytes));
    const CampaignFile::ReadResult result = CampaignFile::read(path);
    QCOMPARE(result.status, CampaignFile::ReadStatus::Invalid);
    QVERIFY(!result.error.isEmpty());
}

void TestCampaign::missingFileIsNotAnError()
{
    const CampaignFile::ReadResult result = CampaignFile::read(m_dir.filePath(u"absent.brisko"_qs));
    QCOMPARE(result.status, CampaignFile::ReadStatus::Missing);
    QVERIFY(!result.document.subject && !result.document.recipients && !result.document.returnPath);
}

void TestCampaign::failedWriteReportsAndCreatesNothing()
{
    CampaignDocument document;
    document.subject = u"x"_qs;
    // A folder in the file's place, and a folder that does not exist.
    QVERIFY(QDir(m_dir.path()).mkpath(u"folder.brisko"_qs));
    QVERIFY(CampaignFile::write(m_dir.filePath(u"folder.brisko"_qs), document).has_value());
    QVERIFY(CampaignFile::write(m_dir.filePath(u"no/such/folder/x.brisko"_qs), document).has_value());
    QVERIFY(!QFile::exists(m_dir.filePath(u"no/such/folder/x.brisko"_qs)));
}

QTEST_GUILESS_MAIN(TestCampaign)
#include "tst_campaign.moc"

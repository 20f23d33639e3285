#include "Campaign.h"
#include "RecipientExport.h"
#include "RecipientImport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

using namespace brisko;
using namespace Qt::StringLiterals;
using RecipientImport::Separator;
using RecipientImport::Status;

namespace {

// A record as "KEY=value|KEY=value" in its key order.
QString describe(const Recipient &record)
{
    QStringList parts;
    record.forEach([&](const QString &key, const QString &value) { parts.append(key + u'=' + value); });
    return parts.join(u'|');
}

QStringList describe(const RecipientList &records)
{
    QStringList out;
    for (const RecipientPtr &record : records)
        out.append(describe(*record));
    return out;
}

// taken, missing, invalid, repeated, blank
QList<qsizetype> countsOf(const RecipientImport::Counts &c)
{
    return {c.taken, c.missingAddress, c.invalidAddress, c.repeatedAddress, c.blankLines};
}

} // namespace

class TestRecipientImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_folder.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write a fixture");
        return path;
    }

private Q_SLOTS:
    void rules_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("tabs");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("headings");
        QTest::addColumn<QStringList>("records");
        QTest::addColumn<QList<qsizetype>>("counts"); // taken, missing, invalid, repeated, blank

        static const char withNul[] = "EMAIL,NAME\na@x.org,x\0y\n";
        const auto ok = int(Status::Ok);
        const auto refused = int(Status::NoEmailHeading);
        const QStringList emailName{u"EMAIL"_s, u"NAME"_s};
        const QStringList ada{u"EMAIL=ada@example.com|NAME=Ada"_s};
        using C = QList<qsizetype>;

        QTest::newRow("email and name") << "EMAIL,NAME\nada@example.com,Ada\n"_ba << false << ok << emailName
                                        << ada << C{1, 0, 0, 0, 0};
        QTest::newRow("no final line end") << "EMAIL,NAME\nada@example.com,Ada"_ba << false << ok << emailName
                                           << ada << C{1, 0, 0, 0, 0};
        QTest::newRow("CRLF") << "EMAIL,NAME\r\nada@example.com,Ada\r\n"_ba << false << ok << emailName << ada
                              << C{1, 0, 0, 0, 0};
        QTest::newRow("CR") << "EMAIL,NAME\rada@example.com,Ada\r"_ba << false << ok << emailName << ada
                            << C{1, 0, 0, 0, 0};
        QTest::newRow("other line ends")
            << "EMAIL,NAME\x0b" "a@x.org,A\x0c" "b@x.org,B\xc2\x85" "c@x.org,C\xe2\x80\xa8" "d@x.org,D\xe2\x80\xa9"
               "e@x.org,E"_ba
            << false << ok << emailName
            << QStringList{u"EMAIL=a@x.org|NAME=A"_s, u"EMAIL=b@x.org|NAME=B"_s, u"EMAIL=c@x.org|NAME=C"_s,
                           u"EMAIL=d@x.org|NAME=D"_s, u"EMAIL=e@x.org|NAME=E"_s}
            << C{5, 0, 0, 0, 0};
        QTest::newRow("near misses of line ends are text")
            << "EMAIL,NAME\na@x.org,\xc2\xa0\xe2\x80\xaa\xe2\x81\xa8"_ba << false << ok << emailName
            << QStringList{u"EMAIL=a@x.org|NAME=\u00a0\u202a\u2068"_s} << C{1, 0, 0, 0, 0};
        QTest::newRow("empty lines skipped")
            << "EMAIL,NAME\n\nada@example.com,Ada\n\n\r\n"_ba << false << ok << emailName << ada << C{1, 0, 0, 0, 3};
        QTest::newRow("lower-case heading") << "email,name\nada@example.com,Ada\n"_ba << false << refused
                                            << QStringList{u"email"_s, u"name"_s} << QStringList() << C{0, 0, 0, 0, 0};
        QTest::newRow("heading with a blank") << "EMAIL ,NAME\nada@example.com,Ada\n"_ba << false << refused
                                              << QStringList{u"EMAIL "_s, u"NAME"_s} << QStringList()
                                              << C{0, 0, 0, 0, 0};
        QTest::newRow("short and long lines")
            << "EMAIL,NAME,CITY\na@x.org,A\nb@x.org,B,Oslo,extra,more\n"_ba << false << ok
            << QStringList{u"EMAIL"_s, u"NAME"_s, u"CITY"_s}
            << QStringList{u"EMAIL=a@x.org|NAME=A"_s, u"EMAIL=b@x.org|NAME=B|CITY=Oslo"_s} << C{2, 0, 0, 0, 0};
        QTest::newRow("trailing separator gives an empty field")
            << "EMAIL,NAME\na@x.org,\n"_ba << false << ok << emailName << QStringList{u"EMAIL=a@x.org|NAME="_s}
            << C{1, 0, 0, 0, 0};
        QTest::newRow("bad addresses")
            << "NAME,EMAIL\nnone\nno-at.example.com,x\nA,no-dot@example\nB,\nC,ok@example.com\n"_ba << false << ok
            << QStringList{u"NAME"_s, u"EMAIL"_s} << QStringList{u"NAME=C|EMAIL=ok@example.com"_s}
            << C{1, 1, 3, 0, 0};
        QTest::newRow("a dropped line leaves nothing behind")
            << "EMAIL,NAME,CITY\na@x.org,A,Oslo\ninvalid,B,Rome\nb@x.org\n"_ba << false << ok
            << QStringList{u"EMAIL"_s, u"NAME"_s, u"CITY"_s}
            << QStringList{u"EMAIL=a@x.org|NAME=A|CITY=Oslo"_s, u"EMAIL=b@x.org"_s} << C{2, 0, 1, 0, 0};
        QTest::newRow("dot and at in any order") << "EMAIL\nuser.name@host\n"_ba << false << ok
                                                 << QStringList{u"EMAIL"_s}
                                                 << QStringList{u"EMAIL=user.name@host"_s} << C{1, 0, 0, 0, 0};
        QTest::newRow("first occurrence wins")
            << "EMAIL,NAME\na@x.org,First\nA@x.org,Upper\na@x.org,Second\n a@x.org,Blank\n"_ba << false << ok
            << emailName
            << QStringList{u"EMAIL=a@x.org|NAME=First"_s, u"EMAIL=A@x.org|NAME=Upper"_s,
                           u"EMAIL= a@x.org|NAME=Blank"_s}
            << C{3, 0, 0, 1, 0};
        QTest::newRow("quotes kept, comma splits")
            << "EMAIL,NAME,CITY\na@x.org,\"Smith, John\",Oslo\n"_ba << false << ok
            << QStringList{u"EMAIL"_s, u"NAME"_s, u"CITY"_s}
            << QStringList{u"EMAIL=a@x.org|NAME=\"Smith|CITY= John\""_s} << C{1, 0, 0, 0, 0};
        QTest::newRow("blanks kept") << "EMAIL,NAME\n a@x.org , Ada \n"_ba << false << ok << emailName
                                     << QStringList{u"EMAIL= a@x.org |NAME= Ada "_s} << C{1, 0, 0, 0, 0};
        QTest::newRow("tabs") << "EMAIL\tNAME\na@x.org\tSmith, John\n"_ba << true << ok << emailName
                              << QStringList{u"EMAIL=a@x.org|NAME=Smith, John"_s} << C{1, 0, 0, 0, 0};
        QTest::newRow("TSV chosen for a CSV file")
            << "EMAIL,NAME\na@x.org,Ada\n"_ba << true << refused << QStringList{u"EMAIL,NAME"_s} << QStringList()
            << C{0, 0, 0, 0, 0};
        QTest::newRow("TSV chosen, heading just EMAIL")
            << "EMAIL\na@x.org,Ada\n"_ba << true << ok << QStringList{u"EMAIL"_s}
            << QStringList{u"EMAIL=a@x.org,Ada"_s} << C{1, 0, 0, 0, 0};
        QTest::newRow("equal headings: the later field wins where the line has it")
            << "EMAIL,X,NAME,X\na@x.org,1,A,2\nb@x.org,1,B\n"_ba << false << ok
            << QStringList{u"EMAIL"_s, u"X"_s, u"NAME"_s, u"X"_s}
            << QStringList{u"EMAIL=a@x.org|X=2|NAME=A"_s, u"EMAIL=b@x.org|X=1|NAME=B"_s} << C{2, 0, 0, 0, 0};
        QTest::newRow("program columns are no keys")
            << "EMAIL,_BRISKO_STATUS,NAME\na@x.org,1,A\n"_ba << false << ok
            << QStringList{u"EMAIL"_s, u"_BRISKO_STATUS"_s, u"NAME"_s} << QStringList{u"EMAIL=a@x.org|NAME=A"_s}
            << C{1, 0, 0, 0, 0};
        QTest::newRow("heading only") << "EMAIL,NAME\n"_ba << false << ok << emailName << QStringList()
                                      << C{0, 0, 0, 0, 0};
        QTest::newRow("empty") << QByteArray() << false << refused << QStringList{QString()} << QStringList()
                               << C{0, 0, 0, 0, 0};
        QTest::newRow("NUL bytes are text")
            << QByteArray(withNul, sizeof withNul - 1) << false << ok << emailName
            << QStringList{u"EMAIL=a@x.org|NAME=x"_s + QChar(0) + u"y"_s} << C{1, 0, 0, 0, 0};
    }

    void rules()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, tabs);
        QFETCH(int, status);
        QFETCH(QStringList, headings);
        QFETCH(QStringList, records);
        QFETCH(QList<qsizetype>, counts);
        const RecipientImport::Result result =
            RecipientImport::importText(text, tabs ? Separator::Tab : Separator::Comma);
        QCOMPARE(int(result.status), status);
        QCOMPARE(result.headings, headings);
        QCOMPARE(describe(result.records), records);
        QCOMPARE(countsOf(result.counts), counts);
    }

    // Many addresses, each twice, some three times: the seen-address table grows and
    // still finds every repeat.
    void repeatsInALongList()
    {
        QByteArray text = "EMAIL,N\n";
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 20000; ++i) {
                if (round < 2 || i % 5 == 0)
                    text += "user" + QByteArray::number(i) + "@example.com," + QByteArray::number(round) + '\n';
            }
        }
        const RecipientImport::Result result = RecipientImport::importText(text, Separator::Comma);
        QCOMPARE(result.counts.taken, 20000);
        QCOMPARE(result.counts.repeatedAddress, 20000 + 4000);
        QCOMPARE(result.records.at(12345)->valueOr(u"EMAIL"_s), u"user12345@example.com"_s);
        QCOMPARE(result.records.at(12345)->valueOr(u"N"_s), u"0"_s);
    }

    // Records of one file share its bytes but are edited one by one, and outlive the
    // result they came in.
    void recordsAreIndependent()
    {
        RecipientList kept;
        {
            RecipientImport::Result result =
                RecipientImport::importText("EMAIL,NAME\na@x.org,A\nb@x.org,B\n"_ba, Separator::Comma);
            QCOMPARE(result.records.size(), 2);
            result.records.at(0)->setValue(u"NAME"_s, u"Changed"_s);
            result.records.at(0)->setValue(u"CITY"_s, u"Oslo"_s);
            QVERIFY(result.records.at(1)->removeValue(u"NAME"_s));
            kept.append(result.records.at(1));
            kept.append(result.records.at(0));
        }
        QCOMPARE(describe(kept), (QStringList{u"EMAIL=b@x.org"_s, u"EMAIL=a@x.org|NAME=Changed|CITY=Oslo"_s}));
    }

    void files_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("records");

        const QString text = u"EMAIL,NAME\nzoe@example.com,Zo\u00eb\n"_s;
        const QStringList zoe{u"EMAIL=zoe@example.com|NAME=Zo\u00eb"_s};
        const auto utf16 = [&](bool bigEndian) {
            QByteArray out = bigEndian ? "\xfe\xff"_ba : "\xff\xfe"_ba;
            for (const QChar c : text) {
                const char hi = char(c.unicode() >> 8), lo = char(c.unicode() & 0xff);
                out.append(bigEndian ? hi : lo).append(bigEndian ? lo : hi);
            }
            return out;
        };
        QTest::newRow("UTF-8") << text.toUtf8() << int(Status::Ok) << zoe;
        QTest::newRow("UTF-8 with mark") << "\xef\xbb\xbf"_ba + text.toUtf8() << int(Status::Ok) << zoe;
        QTest::newRow("UTF-16 LE with mark") << utf16(false) << int(Status::Ok) << zoe;
        QTest::newRow("UTF-16 BE with mark") << utf16(true) << int(Status::Ok) << zoe;
        QTest::newRow("Windows-1252") << "EMAIL,NAME\nzoe@example.com,Zo\xeb \x80\n"_ba << int(Status::Ok)
                                      << QStringList{u"EMAIL=zoe@example.com|NAME=Zo\u00eb \u20ac"_s};
        QTest::newRow("UTF-16 of odd length") << utf16(false) + 'x' << int(Status::Unreadable) << QStringList();
        QTest::newRow("UTF-8 mark, then not UTF-8")
            << "\xef\xbb\xbf"_ba + "EMAIL\n\xff@x.org\n"_ba << int(Status::Unreadable) << QStringList();

        QByteArray binary(4096, Qt::Uninitialized);
        QRandomGenerator random(7);
        for (char &c : binary)
            c = char(random.bounded(256));
        QTest::newRow("binary") << "\x89PNG\r\n\x1a\n"_ba + binary << int(Status::NoEmailHeading) << QStringList();
    }

    void files()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, status);
        QFETCH(QStringList, records);
        const QString path = writeFile(QString::fromLatin1(QTest::currentDataTag()) + u".csv"_s, bytes);
        const RecipientImport::Result result = RecipientImport::importFile(path, Separator::Comma);
        QCOMPARE(int(result.status), status);
        QCOMPARE(describe(result.records), records);
    }

    void unreadableFiles()
    {
        QCOMPARE(RecipientImport::importFile(m_folder.filePath(u"missing.csv"_s), Separator::Comma).status,
                 Status::Unreadable);
        QCOMPARE(RecipientImport::importFile(m_folder.path(), Separator::Comma).status, Status::Unreadable);
        // Chosen, then gone before it is read.
        const QString path = writeFile(u"vanishing.csv"_s, "EMAIL\na@x.org\n"_ba);
        QVERIFY(QFile::remove(path));
        QCOMPARE(RecipientImport::importFile(path, Separator::Comma).status, Status::Unreadable);
    }

    // A 10 MB line: without an "EMAIL" heading it is refused; with one, it is a heading
    // row of two columns and no records.
    void tenMegabyteLine()
    {
        const QByteArray filler(10 * 1024 * 1024, 'a');
        RecipientImport::Result result =
            RecipientImport::importFile(writeFile(u"long1.csv"_s, filler), Separator::Comma);
        QCOMPARE(result.status, Status::NoEmailHeading);
        result = RecipientImport::importFile(writeFile(u"long2.csv"_s, "EMAIL,"_ba + filler), Separator::Comma);
        QCOMPARE(result.status, Status::Ok);
        QCOMPARE(result.headings.size(), 2);
        QCOMPARE(result.headings.at(1).size(), filler.size());
        QVERIFY(result.records.isEmpty());
        result = RecipientImport::importFile(writeFile(u"long3.csv"_s, "EMAIL,N\na@x.org,"_ba + filler),
                                             Separator::Comma);
        QCOMPARE(result.records.size(), 1);
        QCOMPARE(result.records.first()->valueOr(u"N"_s).size(), filler.size());
    }

    // A wide heading row over many short lines would need more values than an import
    // allows: refused before anything is taken.
    void tooManyValues()
    {
        QByteArray heading = "EMAIL";
        for (int i = 0; i < 70000; ++i)
            heading += ",C" + QByteArray::number(i);
        QByteArray text = heading + '\n';
        for (int i = 0; i < 1000; ++i)
            text += "u" + QByteArray::number(i) + "@x.org\n";
        const RecipientImport::Result result = RecipientImport::importText(text, Separator::Comma);
        QCOMPARE(result.status, Status::TooLarge);
        QVERIFY(result.records.isEmpty());
    }

    void exportText()
    {
        RecipientList records{makeRecipient({{u"EMAIL"_s, u"a@x.org"_s}, {u"NAME"_s, u"Ada"_s}}),
                              makeRecipient({{u"NAME"_s, u"No address"_s}}),
                              makeRecipient({{u"EMAIL"_s, u"b@x.org"_s}, {u"CITY"_s, u"not a column"_s}}),
                              makeRecipient({{u"EMAIL"_s, u"c@x.org"_s}, {u"NAME"_s, u"Tab\there\nline"_s}})};
        const QString text = RecipientExport::exportData(
            records, {u"_BRISKO_INDEX"_s, u"EMAIL"_s, u"_BRISKO_STATUS"_s, u"NAME"_s});
        QCOMPARE(text, u"EMAIL\tNAME\ra@x.org\tAda\r\tNo address\rb@x.org\t\rc@x.org\tTab\there\nline\r"_s);
        QCOMPARE(RecipientExport::exportData({}, {u"EMAIL"_s}), u"EMAIL\r"_s);
    }

    // What is exported imports again, as tab-separated text, into the same records.
    void exportImportRoundTrip()
    {
        const RecipientImport::Result first = RecipientImport::importText(
            "NAME,EMAIL,CITY\nAda,ada@x.org,London\nZo\xc3\xab,zoe@x.org\n\"Q\",q@x.org,\n"_ba, Separator::Comma);
        Campaign campaign;
        campaign.setupTableColumns(first.headings);
        campaign.appendRecipients(first.records);
        campaign.recipients().at(0)->setValue(u"CITY"_s, u"Paris"_s);
        const QString exported = RecipientExport::exportData(campaign.recipients(), campaign.columns());
        const RecipientImport::Result again = RecipientImport::importText(exported.toUtf8(), Separator::Tab);
        QCOMPARE(again.headings, campaign.columns());
        QCOMPARE(again.records.size(), 3);
        for (int i = 0; i < 3; ++i) {
            for (const QString &column : campaign.columns())
                QCOMPARE(again.records.at(i)->valueOr(column), campaign.recipients().at(i)->valueOr(column));
        }
    }
};

QTEST_GUILESS_MAIN(TestRecipientImport)
#include "tst_recipientimport.moc"

#include "RecipientExport.h"
#include "RecipientImport.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>

using namespace brisko;
using namespace Qt::StringLiterals;
using RecipientImport::Separator;
using RecipientImport::Status;
using Counts = QList<qsizetype>; // taken, missing, invalid, control, repeated, blank

namespace {

// Records as "KEY=value|KEY=value", one a line, in key order.
QString describe(const RecipientList &records)
{
    QStringList lines;
    for (const RecipientPtr &record : records) {
        QStringList parts;
        record->forEach([&](const QString &key, const QString &value) { parts.append(key + u'=' + value); });
        lines.append(parts.join(u'|'));
    }
    return lines.join(u'\n');
}

} // namespace

class TestRecipientImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_folder;

    QString writeFile(const QByteArray &bytes)
    {
        QFile file(m_folder.filePath(u"list.csv"_s));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write a fixture");
        return file.fileName();
    }

private Q_SLOTS:
    // Run first, while the process's peak is low: a file refused for a long line is not read whole.
    void longLineStopsTheReading()
    {
        const auto peakKb = [] {
            QFile status(u"/proc/self/status"_s);
            if (!status.open(QIODevice::ReadOnly))
                return qint64(-1);
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("VmHWM:"))
                    return line.mid(6).trimmed().split(' ').first().toLongLong();
            }
            return qint64(-1);
        };
        QFile file(m_folder.filePath(u"long.csv"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xef\xbb\xbf" "EMAIL,N\r\na@x.org,A\r\nb@x.org,");
        const QByteArray part(1 << 20, 'x');
        for (int i = 0; i < 64; ++i)
            file.write(part);
        file.close();
        const qint64 before = peakKb();
        if (before < 0)
            QSKIP("no /proc/self/status here");
        const RecipientImport::Result result = RecipientImport::importFile(file.fileName(), Separator::Comma);
        QCOMPARE(result.status, Status::LineTooLong);
        QCOMPARE(result.line, 3);
        QVERIFY2(peakKb() - before < 32 * 1024, qPrintable(u"peak grew by %1 kB"_s.arg(peakKb() - before)));
    }

    // Headings are "|"-joined (none given: not compared), records as describe() gives them.
    void files_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("tabs");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("headings");
        QTest::addColumn<QString>("records");
        QTest::addColumn<Counts>("counts");
        const Status ok = Status::Ok, refused = Status::NoEmailHeading, unreadable = Status::Unreadable;
        const Counts one{1, 0, 0, 0, 0, 0}, none{0, 0, 0, 0, 0, 0};
        const auto row = [&](const char *name, const QByteArray &bytes, const QString &records,
                             const Counts &counts, Status status = Status::Ok,
                             const QString &headings = u"EMAIL|NAME"_s, bool tabs = false) {
            QTest::newRow(name) << bytes << tabs << int(status) << headings << records << counts;
        };
        const QString ada = u"EMAIL=ada@example.com|NAME=Ada"_s;
        row("CR, no final line end", "EMAIL,NAME\rada@example.com,Ada", ada, one);
        row("other line ends",
            "EMAIL,NAME\013a@x.org,A\014b@x.org,B\302\205c@x.org,C\342\200\250d@x.org,D\342\200\251e@x.org,E",
            u"EMAIL=a@x.org|NAME=A\nEMAIL=b@x.org|NAME=B\nEMAIL=c@x.org|NAME=C\nEMAIL=d@x.org|NAME=D\n"
            u"EMAIL=e@x.org|NAME=E"_s,
            {5, 0, 0, 0, 0, 0});
        row("near misses of line ends are text", "EMAIL,NAME\na@x.org,\xc2\xa0\xe2\x80\xaa\xe2\x81\xa8",
            u"EMAIL=a@x.org|NAME=\u00a0\u202a\u2068"_s, one);
        row("CRLF, empty lines skipped", "EMAIL,NAME\r\n\r\nada@example.com,Ada\r\n\n\r\n", ada,
            {1, 0, 0, 0, 0, 3});
        row("lower-case heading", "email,name\nada@example.com,Ada\n", {}, none, refused, u"email|name"_s);
        row("short, long, ending in a separator",
            "EMAIL,NAME,CITY\na@x.org,A\nb@x.org,B,Oslo,extra,more\nc@x.org,C,\n",
            u"EMAIL=a@x.org|NAME=A\nEMAIL=b@x.org|NAME=B|CITY=Oslo\nEMAIL=c@x.org|NAME=C|CITY="_s,
            {3, 0, 0, 0, 0, 0}, ok, u"EMAIL|NAME|CITY"_s);
        row("bad addresses; dot and at in any order",
            "NAME,EMAIL\nnone\nno-at.x.org,x\nA,no-dot@example\nB,\nC,ok@example.com\nD,user.name@host\n",
            u"NAME=C|EMAIL=ok@example.com\nNAME=D|EMAIL=user.name@host"_s, {2, 1, 3, 0, 0, 0}, ok,
            u"NAME|EMAIL"_s);
        row("a dropped line leaves nothing behind",
            "EMAIL,NAME,CITY\na@x.org,A,Oslo\ninvalid,B,Rome\nb@x.org\n",
            u"EMAIL=a@x.org|NAME=A|CITY=Oslo\nEMAIL=b@x.org"_s, {2, 0, 1, 0, 0, 0}, ok, u"EMAIL|NAME|CITY"_s);
        row("first occurrence wins",
            "EMAIL,NAME\na@x.org,First\nA@x.org,Upper\na@x.org,Second\n a@x.org,Blank\n",
            u"EMAIL=a@x.org|NAME=First\nEMAIL=A@x.org|NAME=Upper\nEMAIL= a@x.org|NAME=Blank"_s,
            {3, 0, 0, 0, 1, 0});
        row("quotes and blanks kept, comma splits", "EMAIL,NAME,CITY\n a@x.org ,\"Smith, John\",Oslo\n",
            u"EMAIL= a@x.org |NAME=\"Smith|CITY= John\""_s, one, ok, u"EMAIL|NAME|CITY"_s);
        row("tabs", "EMAIL\tNAME\na@x.org\tSmith, John\n", u"EMAIL=a@x.org|NAME=Smith, John"_s, one, ok,
            u"EMAIL|NAME"_s, true);
        row("TSV chosen for a CSV file", "EMAIL,NAME\na@x.org,Ada\n", {}, none, refused, u"EMAIL,NAME"_s,
            true);
        row("equal headings (the later wins where the line has it), program columns",
            "EMAIL,X,_BRISKO_STATUS,NAME,X\na@x.org,1,s,A,2\nb@x.org,1,s,B\n",
            u"EMAIL=a@x.org|X=2|NAME=A\nEMAIL=b@x.org|X=1|NAME=B"_s, {2, 0, 0, 0, 0, 0}, ok,
            u"EMAIL|X|_BRISKO_STATUS|NAME|X"_s);
        row("empty", {}, {}, none, refused, u""_s);
        row("NUL bytes are text", "EMAIL,NAME\na@x.org,x\0y\n"_ba,
            u"EMAIL=a@x.org|NAME=x"_s + QChar(0) + u"y"_s, one);

        const QString text = u"EMAIL,NAME\nzoe@x.org,Zo\u00eb\n"_s, zoe = u"EMAIL=zoe@x.org|NAME=Zo\u00eb"_s;
        const auto utf16 = [&](QStringConverter::Encoding encoding) {
            return QByteArray(QStringEncoder(encoding, QStringConverter::Flag::WriteBom)(text));
        };
        row("UTF-8", text.toUtf8(), zoe, one);
        row("UTF-8 with mark", "\xef\xbb\xbf"_ba + text.toUtf8(), zoe, one);
        row("UTF-16 LE with mark", utf16(QStringConverter::Utf16LE), zoe, one);
        row("Windows-1252", "EMAIL,NAME\nzoe@x.org,Zo\xeb \x80\n", u"EMAIL=zoe@x.org|NAME=Zo\u00eb \u20ac"_s,
            one);
        const QString accented = u"EMAIL,N\na@x.org,"_s + QString(700000, u'\u00e9');
        row("UTF-16 line of 1.4 MB, 1.4 MB in UTF-8", QStringEncoder(QStringConverter::Utf16LE,
                                                                     QStringConverter::Flag::WriteBom)(accented),
            {}, none, Status::LineTooLong, {});
        const QString narrow = u"EMAIL,N\na@x.org,"_s + QString(700000, u'x');
        row("UTF-16 line of 1.4 MB, 0.7 MB in UTF-8", QStringEncoder(QStringConverter::Utf16LE,
                                                                     QStringConverter::Flag::WriteBom)(narrow),
            u"EMAIL=a@x.org|N="_s + QString(700000, u'x'), one, ok, u"EMAIL|N"_s);
        row("UTF-16 of odd length", utf16(QStringConverter::Utf16LE) + 'x', {}, none, unreadable, {});
        row("UTF-8 mark, then not UTF-8", "\357\273\277EMAIL\n\377@x.org\n", {}, none, unreadable, {});
        QByteArray binary = "\x89PNG\r\n\x1a\n";
        for (int i = 0; i < 4096; ++i)
            binary += char((i * 7919) >> 3);
        row("binary", binary, {}, none, refused, {});

        // Control characters make an address invalid (a NUL would reach the To header raw);
        // elsewhere they are text. A tab is one too where it does not separate.
        row("control characters in addresses",
            "EMAIL,NAME\nn1@example.com,A\nn2@exa\0mple.com,B\nn3@exa\tmple.com,C\nn4@x.org\x7f,D\n"
            "\x1fn5@x.org,E\nn6@x.org,F\x01\n"_ba,
            u"EMAIL=n1@example.com|NAME=A\nEMAIL=n6@x.org|NAME=F\u0001"_s, {2, 0, 0, 4, 0, 0});

        // Lines up to 1 MB are taken; a longer one refuses the file, whichever line it is.
        const QByteArray limit(RecipientImport::MaxLineBytes - 8, 'a');
        row("a line of exactly 1 MB", "EMAIL,N\na@x.org," + limit, u"EMAIL=a@x.org|N="_s + QString::fromLatin1(limit),
            one, ok, u"EMAIL|N"_s);
        const QByteArray filler(10 * 1024 * 1024, 'a');
        row("10 MB heading row", filler, {}, none, Status::LineTooLong, {});
        row("a line one byte over 1 MB", "EMAIL,N\na@x.org," + limit + 'a', {}, none, Status::LineTooLong,
            u"EMAIL|N"_s);

        // Many addresses, each twice, some three times: the seen-address table grows, finds every repeat.
        QByteArray many = "EMAIL,N";
        QStringList kept;
        for (int i = 0; i < 60000; ++i) {
            if (i < 40000 || i % 5 == 0)
                many += "\nuser" + QByteArray::number(i % 20000) + "@example.com," +
                        QByteArray::number(i / 20000);
            if (i < 20000)
                kept.append(u"EMAIL=user%1@example.com|N=0"_s.arg(i));
        }
        row("repeats in a long list", many, kept.join(u'\n'), {20000, 0, 0, 0, 24000, 0}, ok, u"EMAIL|N"_s);

        // A wide heading row over many short lines: more values than one import allows, refused.
        QByteArray wide = "EMAIL";
        for (int i = 0; i < 70000; ++i)
            wide += ",C" + QByteArray::number(i);
        for (int i = 0; i < 1000; ++i)
            wide += "\nu" + QByteArray::number(i) + "@x.org";
        row("too many values", wide, {}, none, Status::TooLarge, {});
    }

    void files()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, tabs);
        QFETCH(int, status);
        QFETCH(QString, headings);
        QFETCH(QString, records);
        QFETCH(Counts, counts);
        const RecipientImport::Result result =
            RecipientImport::importFile(writeFile(bytes), tabs ? Separator::Tab : Separator::Comma);
        QCOMPARE(int(result.status), status);
        if (!headings.isNull())
            QCOMPARE(result.headings, headings.split(u'|'));
        QCOMPARE(describe(result.records), records);
        if (result.status == Status::LineTooLong)
            QVERIFY(result.records.isEmpty());
        const RecipientImport::Counts &c = result.counts;
        QCOMPARE(Counts({c.taken, c.missingAddress, c.invalidAddress, c.controlAddress, c.repeatedAddress,
                         c.blankLines}),
                 counts);
    }

    // The refusal names the line as an editor counts it: CR LF ends one line, empty lines count.
    void longLineNumber_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<qsizetype>("line");
        QTest::newRow("LF") << "EMAIL\na@x.org\nb@x.org\n"_ba << qsizetype(4);
        QTest::newRow("CRLF and empty lines") << "EMAIL\r\na@x.org\r\n\r\n\nb@x.org\r\n"_ba << qsizetype(6);
        QTest::newRow("CR") << "EMAIL\ra@x.org\r"_ba << qsizetype(3);
    }

    void longLineNumber()
    {
        QFETCH(QByteArray, before);
        QFETCH(qsizetype, line);
        const QByteArray bytes = before + "c@x.org" + QByteArray(RecipientImport::MaxLineBytes, 'x') + "\nd@x.org\n";
        const RecipientImport::Result result = RecipientImport::importText(bytes, Separator::Comma);
        QCOMPARE(result.status, Status::LineTooLong);
        QCOMPARE(result.line, line);
        QVERIFY(result.records.isEmpty());
    }

    void unreadableFiles()
    {
        for (const QString &path : {m_folder.filePath(u"missing.csv"_s), m_folder.path()})
            QCOMPARE(RecipientImport::importFile(path, Separator::Comma).status, Status::Unreadable);
    }

    void exportText()
    {
        RecipientList records{makeRecipient({{u"EMAIL"_s, u"a@x.org"_s}, {u"NAME"_s, u"Ada"_s}}),
                              makeRecipient({{u"NAME"_s, u"No address"_s}}),
                              makeRecipient({{u"EMAIL"_s, u"b@x.org"_s}, {u"CITY"_s, u"not a column"_s}}),
                              makeRecipient({{u"EMAIL"_s, u"c@x.org"_s}, {u"NAME"_s, u"Tab\there\nline"_s}})};
        QCOMPARE(RecipientExport::exportData(
                     records, {u"_BRISKO_INDEX"_s, u"EMAIL"_s, u"_BRISKO_STATUS"_s, u"NAME"_s}),
                 u"EMAIL\tNAME\ra@x.org\tAda\r\tNo address\rb@x.org\t\rc@x.org\tTab\there\nline\r"_s);
        QCOMPARE(RecipientExport::exportData({}, {u"EMAIL"_s}), u"EMAIL\r"_s);
    }
};

QTEST_GUILESS_MAIN(TestRecipientImport)
#include "tst_recipientimport.moc"

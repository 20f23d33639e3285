#include "BriskoConnector.h"
#include "PlaceholderMerge.h"
#include "RecipientImport.h"

#include <QRandomGenerator>
#include <QTest>

using namespace brisko;
using namespace Qt::StringLiterals;

namespace {

using Entries = QList<std::pair<QString, QString>>;

// Key by key with QString::replace: what the merge must always equal.
QString mergeKeyByKey(QString text, const Entries &entries)
{
    for (const auto &[key, value] : entries)
        text.replace(u"__"_s + key + u"__"_s, value);
    return text;
}

RecipientPtr record(const Entries &entries)
{
    return makeRecipient(entries);
}

} // namespace

Q_DECLARE_METATYPE(Entries)

class TestMerge : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void examples_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Entries>("entries");
        QTest::addColumn<QString>("expected");

        const Entries ada{{u"EMAIL"_s, u"ada@example.com"_s}, {u"NAME"_s, u"Ada"_s}};
        QTest::newRow("no tokens") << u"Hello there, friend."_s << ada << u"Hello there, friend."_s;
        QTest::newRow("two columns") << u"Dear __NAME__ <__EMAIL__>"_s << ada << u"Dear Ada <ada@example.com>"_s;
        QTest::newRow("unknown column stays") << u"Hi __CITY__ __NAME__"_s << ada << u"Hi __CITY__ Ada"_s;
        QTest::newRow("empty value vanishes")
            << u"[__NAME__]"_s << Entries{{u"EMAIL"_s, u"a@b.c"_s}, {u"NAME"_s, QString()}} << u"[]"_s;
        QTest::newRow("case-sensitive") << u"__email__ __Email__ __EMAIL__"_s << ada
                                        << u"__email__ __Email__ ada@example.com"_s;
        QTest::newRow("third underscore") << u"___EMAIL__"_s << ada << u"_ada@example.com"_s;
        QTest::newRow("markup goes in as markup")
            << u"<p>__NAME__</p>"_s << Entries{{u"NAME"_s, u"<b>Ada</b> & co"_s}} << u"<p><b>Ada</b> & co</p>"_s;
        QTest::newRow("every occurrence") << u"__NAME__, __NAME__ and __NAME__"_s << ada << u"Ada, Ada and Ada"_s;
        QTest::newRow("blank in the column name")
            << u"Hi __FIRST NAME__"_s << Entries{{u"FIRST NAME"_s, u"Ada"_s}} << u"Hi Ada"_s;
        QTest::newRow("line breaks kept") << u"__NAME__!"_s << Entries{{u"NAME"_s, u"A\r\nB"_s}} << u"A\r\nB!"_s;
        QTest::newRow("no normalisation")
            << u"__CAFE\u0301__ __CAF\u00c9__"_s << Entries{{u"CAF\u00c9"_s, u"x"_s}} << u"__CAFE\u0301__ x"_s;
        QTest::newRow("adjacent tokens") << u"__NAME____NAME__"_s << ada << u"AdaAda"_s;
        QTest::newRow("empty key") << u"a____b"_s << Entries{{QString(), u"X"_s}} << u"aXb"_s;
        QTest::newRow("empty template") << QString() << ada << QString();
        QTest::newRow("no entries") << u"__NAME__"_s << Entries{} << u"__NAME__"_s;
        // Later columns see what earlier ones inserted; earlier ones do not.
        QTest::newRow("value holds a later token")
            << u"__A__"_s << Entries{{u"A"_s, u"<__B__>"_s}, {u"B"_s, u"b"_s}} << u"<b>"_s;
        QTest::newRow("value holds an earlier token")
            << u"__B__"_s << Entries{{u"A"_s, u"a"_s}, {u"B"_s, u"<__A__>"_s}} << u"<__A__>"_s;
        QTest::newRow("value holds its own token")
            << u"__A__"_s << Entries{{u"A"_s, u"__A__"_s}} << u"__A__"_s;
        QTest::newRow("token formed across a value's edge")
            << u"____A____"_s << Entries{{u"A"_s, u"X"_s}, {u"X"_s, u"y"_s}} << u"y"_s;
        QTest::newRow("empty value joins underscores")
            << u"_____A___B__"_s << Entries{{u"A"_s, QString()}, {u"__B"_s, u"!"_s}, {u"B"_s, u"b"_s}} << u"!"_s;
        QTest::newRow("empty value joins two characters of a key")
            << u"__A__x__B__"_s << Entries{{u"x"_s, QString()}, {u"AB"_s, u"joined"_s}} << u"joined"_s;
        QTest::newRow("key containing the inserted value")
            << u"__C__ __A____"_s << Entries{{u"A"_s, u"Y"_s}, {u"C__ Y"_s, u"whole"_s}, {u"C"_s, u"c"_s}}
            << u"whole"_s;
        QTest::newRow("overlapping tokens, earlier column wins")
            << u"__A__B__"_s << Entries{{u"B"_s, u"b"_s}, {u"A"_s, u"a"_s}} << u"__Ab"_s;
    }

    void examples()
    {
        QFETCH(QString, text);
        QFETCH(Entries, entries);
        QFETCH(QString, expected);
        QCOMPARE(mergeKeyByKey(text, entries), expected); // the examples are right
        const RecipientPtr r = record(entries);
        const BriskoConnector connector;
        QCOMPARE(connector.doGreps(text, *r), expected);
    }

    // Random templates over a small alphabet rich in underscores, keys and values that
    // hold underscores, each other, or nothing: both ways of merging must agree with
    // replacing key by key.
    void agreesWithKeyByKey()
    {
        QRandomGenerator random(20240611);
        const QString alphabet = u"__AB x_"_s;
        const auto pick = [&](const QStringList &from) { return from.at(random.bounded(int(from.size()))); };
        const QStringList keyPool{u"A"_s, u"B"_s, u"AB"_s, u"A_"_s, u"_B"_s, QString(), u"x"_s, u"A B"_s};
        const QStringList valuePool{QString(), u"v"_s, u"_"_s, u"__"_s, u"__A__"_s, u"__B__"_s,
                                    u"A"_s,    u"x"_s, u"B_"_s, u"_A"_s, u"word"_s, u"A B"_s,
                                    u"A_B"_s,  u"x_x_x"_s};
        int sweeps = 0;
        for (int round = 0; round < 100000; ++round) {
            QString text;
            const int chunks = random.bounded(0, 7);
            for (int c = 0; c < chunks; ++c) {
                if (random.bounded(2)) {
                    text += u"__"_s + pick(keyPool) + u"__"_s;
                } else {
                    const int length = random.bounded(0, 4);
                    for (int i = 0; i < length; ++i)
                        text += alphabet.at(random.bounded(int(alphabet.size())));
                }
            }
            Entries entries;
            const int count = random.bounded(0, 5);
            for (int i = 0; i < count; ++i)
                entries.append({pick(keyPool), pick(valuePool)});
            const QString expected = mergeKeyByKey(text, entries);
            const QString merged = PlaceholderMerge::merge(text, entries);
            if (merged != expected) {
                QString shown;
                for (const auto &[key, value] : entries)
                    shown += u"  ["_s + key + u"] -> ["_s + value + u"]"_s;
                QFAIL(qPrintable(u"text ["_s + text + u"]"_s + shown + u": got ["_s + merged + u"], expected ["_s +
                                 expected + u"]"_s));
            }
            sweeps += merged != text;
        }
        QVERIFY(sweeps > 10000); // the cases did replace things
    }

    // Long templates with many placeholders, ordinary values and awkward ones.
    void longTemplates()
    {
        QString text;
        for (int i = 0; i < 300; ++i)
            text += u"<p class=\"a_b\">Dear __FIRST__ __LAST__, code __CODE__ (row %1)</p>__"_s.arg(i);
        const Entries plain{{u"FIRST"_s, u"Ada"_s}, {u"LAST"_s, u"Lovelace"_s}, {u"CODE"_s, u"AE-1"_s}};
        const Entries awkward{{u"FIRST"_s, u"__LAST__"_s}, {u"LAST"_s, QString()}, {u"CODE"_s, u"_"_s}};
        QCOMPARE(PlaceholderMerge::merge(text, plain), mergeKeyByKey(text, plain));
        QCOMPARE(PlaceholderMerge::merge(text, awkward), mergeKeyByKey(text, awkward));
    }

    // An imported record is merged in heading order, then the keys added by hand.
    void orderOfAnImportedRecord()
    {
        const RecipientImport::Result imported = RecipientImport::importText(
            "B,EMAIL,A\n<__A__>,ada@example.com,a\n", RecipientImport::Separator::Comma);
        QCOMPARE(imported.records.size(), 1);
        Recipient &r = *imported.records.first();
        r.setValue(u"C"_s, u"<__B__>"_s);
        const BriskoConnector connector;
        // B first: its value's token of A is replaced by A's pass; C comes last, so the
        // token of B inside it stays.
        QCOMPARE(connector.doGreps(u"__B__ __C__ __EMAIL__"_s, r), u"<a> <__B__> ada@example.com"_s);
    }

    void templateAndRecordUnchanged()
    {
        const QString text = u"Hi __NAME__"_s;
        const RecipientPtr r = record({{u"NAME"_s, u"Ada"_s}});
        const BriskoConnector connector;
        QCOMPARE(connector.doGreps(text, *r), u"Hi Ada"_s);
        QCOMPARE(text, u"Hi __NAME__"_s);
        QCOMPARE(r->keys(), QStringList{u"NAME"_s});
        QCOMPARE(r->valueOr(u"NAME"_s), u"Ada"_s);
    }
};

QTEST_GUILESS_MAIN(TestMerge)
#include "tst_merge.moc"

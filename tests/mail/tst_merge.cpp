// The placeholder merge: the examples and agreement with replacing key by key for random templates.

#include "BriskoConnector.h"
#include "PlaceholderMerge.h"

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

} // namespace

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
        QTest::newRow("two columns") << u"Dear __NAME__ <__EMAIL__>"_s << ada
                                     << u"Dear Ada <ada@example.com>"_s;
        QTest::newRow("unknown column stays") << u"Hi __CITY__ __NAME__"_s << ada << u"Hi __CITY__ Ada"_s;
        QTest::newRow("case-sensitive")
            << u"__email__ __Email__ __EMAIL__"_s << ada << u"__email__ __Email__ ada@example.com"_s;
        QTest::newRow("third underscore") << u"___EMAIL__"_s << ada << u"_ada@example.com"_s;
        // Later columns see what earlier ones inserted; earlier ones do not.
        QTest::newRow("value holds a later token")
            << u"__A__"_s << Entries{{u"A"_s, u"<__B__>"_s}, {u"B"_s, u"b"_s}} << u"<b>"_s;
        QTest::newRow("value holds an earlier token")
            << u"__B__"_s << Entries{{u"A"_s, u"a"_s}, {u"B"_s, u"<__A__>"_s}} << u"<__A__>"_s;
        QTest::newRow("token formed across a value's edge")
            << u"____A____"_s << Entries{{u"A"_s, u"X"_s}, {u"X"_s, u"y"_s}} << u"y"_s;
        QTest::newRow("empty value joins underscores")
            << u"_____A___B__"_s << Entries{{u"A"_s, QString()}, {u"__B"_s, u"!"_s}, {u"B"_s, u"b"_s}}
            << u"!"_s;
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
        QCOMPARE(BriskoConnector().doGreps(text, *makeRecipient(entries)), expected);
    }

    // Random templates rich in underscores; keys and values that hold underscores, each other or nothing.
    void agreesWithKeyByKey()
    {
        QRandomGenerator random(20240611);
        const QString alphabet = u"__AB x_"_s;
        const auto pick = [&](const QStringList &from) { return from.at(random.bounded(int(from.size()))); };
        const QStringList keys{u"A"_s, u"B"_s, u"AB"_s, u"A_"_s, u"_B"_s, QString(), u"x"_s, u"A B"_s};
        const QStringList values{QString(), u"v"_s,  u"_"_s,  u"__"_s,   u"__A__"_s, u"__B__"_s, u"A"_s,
                                 u"x"_s,    u"B_"_s, u"_A"_s, u"word"_s, u"A B"_s,   u"A_B"_s,   u"x_x_x"_s};
        int sweeps = 0;
        for (int round = 0; round < 100000; ++round) {
            QString text;
            for (int c = random.bounded(round % 1000 ? 7 : 700); c > 0; --c)
                text += random.bounded(2) ? u"__"_s + pick(keys) + u"__"_s
                                          : alphabet.mid(random.bounded(7), random.bounded(4));
            Entries entries;
            for (int i = random.bounded(0, 5); i > 0; --i)
                entries.append({pick(keys), pick(values)});
            const QString merged = PlaceholderMerge::merge(text, entries);
            const QString expected = mergeKeyByKey(text, entries);
            if (merged != expected)
                QFAIL(qPrintable(u"round %1, text [%2]: got [%3], expected [%4]"_s.arg(round).arg(
                    text, merged, expected)));
            sweeps += merged != text;
        }
        QVERIFY(sweeps > 10000); // the cases did replace things
    }
};

QTEST_GUILESS_MAIN(TestMerge)
#include "tst_merge.moc"

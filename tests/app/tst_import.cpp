// Importing and exporting recipient lists through the window: the separator question,
// the refusal message, several files in order, the table's columns, both placeholder
// lists, bad files, and the export panel.

#include "AppTestMain.h"
#include "BriskoApplication.h"
#include "DialogDriver.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QMainWindow>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

using namespace brisko;
using namespace Qt::StringLiterals;

namespace {

BriskoApplication *app()
{
    return BriskoApplication::instance();
}

const QString SeparatorQuestion =
    u"What kind of file are you importing?\nTSV is a text file separated with tabs, CSV is separated by commas."_s;
const QString HeadingsMessage = u"Import file needs column headings.\nThe import file must have headings for "
                                u"columns, one of which must be 'EMAIL'."_s;

QStringList items(QComboBox *box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out.append(box->itemText(i));
    return out;
}

QStringList emails()
{
    return app()->emailList();
}

} // namespace

class TestImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write a fixture");
        return path;
    }

    QComboBox *htmlList() const { return app()->window()->findChild<QComboBox *>(u"placeHoldersForHTMLPopUp"_s); }
    QComboBox *textList() const { return app()->window()->findChild<QComboBox *>(u"placeHoldersForTextPopUp"_s); }

    // Imports the files as the panel would hand them over, answering the dialogs.
    void import(const QStringList &paths, const QStringList &answers, DialogDriver &driver)
    {
        driver.answer(answers);
        app()->setImportPathsChooser([paths] { return paths; });
        app()->importList();
        app()->setImportPathsChooser({});
    }

private Q_SLOTS:
    void init()
    {
        app()->campaign().apply(CampaignDocument{QString(), QString(), QString(), QString(), QString(), QString(),
                                                 QStringList(), RecipientList()});
        app()->campaign().setModified(false);
    }

    void commandsAreEnabled()
    {
        for (const char *name : {"importListAction", "exportListAction"}) {
            auto *action = app()->window()->findChild<QAction *>(QLatin1StringView(name));
            QVERIFY(action);
            QVERIFY(action->isEnabled());
        }
    }

    void importBuildsColumnsAndPlaceholderLists()
    {
        const QString list = write(u"people.csv"_s, "NAME,EMAIL,CITY\r\nAda,ada@x.org,London\r\nBob,bob@x.org\r\n"_ba);
        DialogDriver driver;
        import({list}, {u"CSV"_s}, driver);
        QCOMPARE(driver.texts(), QStringList{SeparatorQuestion});
        const QStringList buttons = driver.buttonsSeen().value(0).split(u'|');
        QCOMPARE(QSet<QString>(buttons.begin(), buttons.end()), (QSet<QString>{u"CSV"_s, u"TSV"_s, u"Cancel"_s}));
        QCOMPARE(driver.unexpected(), 0);

        QCOMPARE(emails(), (QStringList{u"ada@x.org"_s, u"bob@x.org"_s}));
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s, u"CITY"_s}));
        QCOMPARE(app()->listView()->model()->columnCount(), 5);
        QCOMPARE(app()->listView()->model()->rowCount(), 2);
        QCOMPARE(app()->recipients().at(1)->contains(u"CITY"_s), false);
        for (QComboBox *box : {htmlList(), textList()}) {
            QVERIFY(box->isEnabled());
            QCOMPARE(items(box), (QStringList{u"Placeholders"_s, u"EMAIL"_s, u"NAME"_s, u"CITY"_s}));
            QCOMPARE(box->currentIndex(), 0);
        }
    }

    // Files chosen together import one after another, each with its own question;
    // the same file twice doubles the list, and the columns follow the last file.
    void severalFilesInOrder()
    {
        const QString a = write(u"a.csv"_s, "EMAIL,NAME\na@x.org,A\nshared@x.org,A2\n"_ba);
        const QString b = write(u"b.tsv"_s, "EMAIL\tCITY\nshared@x.org\tOslo\nb@x.org\tRome\n"_ba);
        DialogDriver driver;
        import({a, b, a}, {u"CSV"_s, u"TSV"_s, u"CSV"_s}, driver);
        QCOMPARE(driver.shown(), 3);
        QCOMPARE(driver.unexpected(), 0);
        QCOMPARE(emails(), (QStringList{u"a@x.org"_s, u"shared@x.org"_s, u"shared@x.org"_s, u"b@x.org"_s,
                                        u"a@x.org"_s, u"shared@x.org"_s}));
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s}));
        // Keys without a column stay in their records.
        QCOMPARE(app()->recipients().at(3)->valueOr(u"CITY"_s), u"Rome"_s);
    }

    // Cancel, a refused heading row and an unreadable file change nothing: not the
    // list, not the columns, not the placeholder lists.
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("message"); // heading of the message shown; none when empty
        const QString headings = HeadingsMessage.section(u'\n', 0, 0);
        QTest::newRow("cancel") << "EMAIL\nc@x.org\n"_ba << u"Cancel"_s << QString();
        QTest::newRow("lower-case heading") << "email,name\nc@x.org,C\n"_ba << u"CSV"_s << headings;
        QTest::newRow("TSV chosen for CSV") << "EMAIL,NAME\nc@x.org,C\n"_ba << u"TSV"_s << headings;
        QByteArray binary(65536, Qt::Uninitialized);
        QRandomGenerator random(3);
        for (char &c : binary)
            c = char(random.bounded(256));
        QTest::newRow("binary") << binary << u"CSV"_s << headings;
        QTest::newRow("10 MB line") << QByteArray(10 * 1024 * 1024, 'x') << u"CSV"_s << headings;
        QTest::newRow("vanished") << QByteArray("EMAIL\nc@x.org\n") << u"CSV"_s << headings;
        QByteArray wide = "EMAIL";
        for (int i = 0; i < 70000; ++i)
            wide += ",C" + QByteArray::number(i);
        QTest::newRow("too many values") << wide + QByteArray("\nc@x.org\n").repeated(1000) << u"CSV"_s
                                         << u"Import file is too large."_s;
    }

    void refusals()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, separator);
        QFETCH(QString, message);
        DialogDriver driver;
        import({write(u"first.csv"_s, "EMAIL,NAME\na@x.org,A\n"_ba)}, {u"CSV"_s}, driver);
        const QStringList before = items(htmlList());

        const QString path = write(u"bad.csv"_s, bytes);
        const QStringList answers = message.isEmpty() ? QStringList{separator} : QStringList{separator, u"OK"_s};
        if (QByteArray(QTest::currentDataTag()) == "vanished") {
            driver.answer(answers);
            app()->setImportPathsChooser([path] {
                QFile::remove(path); // chosen, then gone before it is read
                return QStringList{path};
            });
            app()->importList();
            app()->setImportPathsChooser({});
        } else {
            import({path}, answers, driver);
        }
        QCOMPARE(driver.shown(), message.isEmpty() ? 2 : 3);
        if (message == HeadingsMessage.section(u'\n', 0, 0))
            QCOMPARE(driver.texts().at(2), HeadingsMessage);
        else if (!message.isEmpty())
            QCOMPARE(driver.texts().at(2).section(u'\n', 0, 0), message);
        QCOMPARE(driver.unexpected(), 0);
        QCOMPARE(emails(), QStringList{u"a@x.org"_s});
        QCOMPARE(app()->recipients().first()->valueOr(u"NAME"_s), u"A"_s);
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s}));
        QCOMPARE(items(htmlList()), before);
        QCOMPARE(items(textList()), before);
    }

    // Odd files that still hold an "EMAIL" heading import what they hold.
    void oddButAccepted_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("emails");
        QTest::addColumn<QString>("name");
        QTest::newRow("heading only") << "EMAIL,CITY\n"_ba << QStringList{u"a@x.org"_s} << QString();
        QByteArray utf16 = "\xff\xfe"_ba;
        for (const QChar c : u"EMAIL,NAME\r\nz@x.org,Zo\u00eb\r\n"_s)
            utf16.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
        QTest::newRow("UTF-16 with mark") << utf16 << QStringList{u"a@x.org"_s, u"z@x.org"_s} << u"Zo\u00eb"_s;
    }

    void oddButAccepted()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, emails);
        QFETCH(QString, name);
        DialogDriver driver;
        import({write(u"first.csv"_s, "EMAIL,NAME\na@x.org,A\n"_ba), write(u"odd.csv"_s, bytes)},
               {u"CSV"_s, u"CSV"_s}, driver);
        QCOMPARE(driver.unexpected(), 0);
        QCOMPARE(::emails(), emails);
        if (emails.size() > 1)
            QCOMPARE(app()->recipients().last()->valueOr(u"NAME"_s), name);
        // The columns are rebuilt from the last file's headings either way.
        const QStringList columns = app()->columnNames();
        QCOMPARE(items(htmlList()), QStringList{u"Placeholders"_s} + columns);
    }

    // The export and the placeholder lists follow the table's display order; the export
    // leaves the program's columns out, writes tabs and "\r", and always ends in ".tsv".
    void exportInDisplayOrder()
    {
        DialogDriver driver;
        import({write(u"in.csv"_s, "EMAIL,NAME,CITY\na@x.org,Ada,London\nb@x.org,Bob\n"_ba)}, {u"CSV"_s}, driver);
        QHeaderView *header = app()->listView()->horizontalHeader();
        header->moveSection(header->visualIndex(4), header->visualIndex(2)); // CITY before EMAIL
        QCOMPARE(app()->columnNames(), (QStringList{u"CITY"_s, u"EMAIL"_s, u"NAME"_s}));
        app()->importDone();
        QCOMPARE(items(textList()), (QStringList{u"Placeholders"_s, u"CITY"_s, u"EMAIL"_s, u"NAME"_s}));
        QCOMPARE(app()->exportData(), u"CITY\tEMAIL\tNAME\rLondon\ta@x.org\tAda\r\tb@x.org\tBob\r"_s);

        QString proposed;
        app()->setExportPathChooser([&](const QString &name) {
            proposed = name;
            return std::optional<QString>(m_dir.filePath(u"out"_s));
        });
        app()->exportList();
        QCOMPARE(proposed, u"Untitled.tsv"_s);
        QFile out(m_dir.filePath(u"out.tsv"_s));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), "CITY\tEMAIL\tNAME\rLondon\ta@x.org\tAda\r\tb@x.org\tBob\r"_ba);

        // Cancelled: nothing written.
        QFile::remove(out.fileName());
        app()->setExportPathChooser([](const QString &) { return std::optional<QString>(); });
        app()->exportList();
        QVERIFY(!QFile::exists(out.fileName()));
        app()->setExportPathChooser({});

        for (int i = 0; i < header->count(); ++i)
            header->moveSection(header->visualIndex(i), i);
    }
};

BRISKO_APP_TEST_MAIN(TestImport)

#include "tst_import.moc"

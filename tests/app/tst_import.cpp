// Importing and exporting recipient lists through the window: the separator question,
// the refusal messages, several files in order, the table's columns, both placeholder
// lists and the export panel. What a file parses to is checked with the campaign.

#include "AppTestMain.h"
#include "DialogDriver.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QMainWindow>
#include <QTableView>
#include <QTemporaryDir>

using namespace brisko;
using namespace Qt::StringLiterals;

class TestImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    static BriskoApplication *app() { return BriskoApplication::instance(); }
    static QStringList items(const char *name)
    {
        auto *box = app()->window()->findChild<QComboBox *>(QLatin1StringView(name));
        QStringList out;
        for (int i = 0; i < box->count(); ++i)
            out.append(box->itemText(i));
        return out;
    }
    QString write(const QString &name, const QByteArray &bytes)
    {
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write a fixture");
        return file.fileName();
    }
    // Imports the files as the panel would hand them over, answering the dialogs.
    static void import(const QStringList &paths, const QStringList &answers, DialogDriver &driver)
    {
        driver.answer(answers);
        app()->setImportPathsChooser([paths] { return paths; });
        app()->importList();
        app()->setImportPathsChooser({});
    }

private Q_SLOTS:
    void init()
    {
        app()->campaign().apply(CampaignDocument{QString(), QString(), QString(), QString(), QString(),
                                                 QString(), QStringList(), RecipientList()});
        app()->campaign().setModified(false);
    }

    void importBuildsColumnsAndPlaceholderLists()
    {
        for (const char *name : {"importListAction", "exportListAction"})
            QVERIFY(app()->window()->findChild<QAction *>(QLatin1StringView(name))->isEnabled());
        const QString list =
            write(u"people.csv"_s, "NAME,EMAIL,CITY\r\nAda,ada@x.org,London\r\nBob,bob@x.org\r\n"_ba);
        DialogDriver driver;
        import({list}, {u"CSV"_s}, driver);
        QCOMPARE(driver.texts(),
                 QStringList{u"What kind of file are you importing?\nTSV is a text file separated "
                             u"with tabs, CSV is separated by commas."_s});
        const QStringList buttons = driver.buttonsSeen().value(0).split(u'|');
        QCOMPARE(QSet<QString>(buttons.begin(), buttons.end()),
                 (QSet<QString>{u"CSV"_s, u"TSV"_s, u"Cancel"_s}));
        QCOMPARE(driver.unexpected(), 0);

        QCOMPARE(app()->emailList(), (QStringList{u"ada@x.org"_s, u"bob@x.org"_s}));
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s, u"CITY"_s}));
        QCOMPARE(app()->listView()->model()->columnCount(), 5);
        QCOMPARE(app()->listView()->model()->rowCount(), 2);
        QCOMPARE(app()->recipients().at(1)->contains(u"CITY"_s), false);
        for (const char *name : {"placeHoldersForHTMLPopUp", "placeHoldersForTextPopUp"}) {
            auto *box = app()->window()->findChild<QComboBox *>(QLatin1StringView(name));
            QVERIFY(box->isEnabled());
            QCOMPARE(items(name), (QStringList{u"Placeholders"_s, u"EMAIL"_s, u"NAME"_s, u"CITY"_s}));
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
        QCOMPARE(app()->emailList(), (QStringList{u"a@x.org"_s, u"shared@x.org"_s, u"shared@x.org"_s,
                                                  u"b@x.org"_s, u"a@x.org"_s, u"shared@x.org"_s}));
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s}));
        // Keys without a column stay in their records.
        QCOMPARE(app()->recipients().at(3)->valueOr(u"CITY"_s), u"Rome"_s);
    }

    // Cancel, a refused heading row, an unreadable file and one too large change nothing:
    // not the list, not the columns, not the placeholder lists.
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // null: the file is gone before it is read
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("message"); // empty: none
        const QString headings =
            u"Import file needs column headings.\nThe import file must have headings for "
            u"columns, one of which must be 'EMAIL'."_s;
        QTest::newRow("cancel") << "EMAIL\nc@x.org\n"_ba << u"Cancel"_s << QString();
        QTest::newRow("lower-case heading") << "email,name\nc@x.org,C\n"_ba << u"CSV"_s << headings;
        QTest::newRow("vanished") << QByteArray() << u"CSV"_s << headings;
        QByteArray wide = "EMAIL";
        for (int i = 0; i < 70000; ++i)
            wide += ",C" + QByteArray::number(i);
        QTest::newRow("too many values")
            << wide + QByteArray("\nc@x.org\n").repeated(1000) << u"CSV"_s << u"Import file is too large."_s;
    }

    void refusals()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, separator);
        QFETCH(QString, message);
        DialogDriver driver;
        import({write(u"first.csv"_s, "EMAIL,NAME\na@x.org,A\n"_ba)}, {u"CSV"_s}, driver);
        const QStringList before = items("placeHoldersForHTMLPopUp");
        const QString path = bytes.isNull() ? m_dir.filePath(u"gone.csv"_s) : write(u"bad.csv"_s, bytes);
        import({path}, message.isEmpty() ? QStringList{separator} : QStringList{separator, u"OK"_s}, driver);
        QCOMPARE(driver.shown(), message.isEmpty() ? 2 : 3);
        if (!message.isEmpty())
            QCOMPARE(driver.texts().at(2).section(u'\n', 0, int(message.count(u'\n'))), message);
        QCOMPARE(driver.unexpected(), 0);
        QCOMPARE(app()->emailList(), QStringList{u"a@x.org"_s});
        QCOMPARE(app()->recipients().first()->valueOr(u"NAME"_s), u"A"_s);
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s}));
        QCOMPARE(items("placeHoldersForHTMLPopUp"), before);
        QCOMPARE(items("placeHoldersForTextPopUp"), before);
    }

    // The export and the placeholder lists follow the table's display order; the export
    // leaves the program's columns out, writes tabs and "\r", and always ends in ".tsv".
    void exportInDisplayOrder()
    {
        DialogDriver driver;
        import({write(u"in.csv"_s, "EMAIL,NAME,CITY\na@x.org,Ada,London\nb@x.org,Bob\n"_ba)}, {u"CSV"_s},
               driver);
        QHeaderView *header = app()->listView()->horizontalHeader();
        header->moveSection(header->visualIndex(4), header->visualIndex(2)); // CITY before EMAIL
        QCOMPARE(app()->columnNames(), (QStringList{u"CITY"_s, u"EMAIL"_s, u"NAME"_s}));
        app()->importDone();
        QCOMPARE(items("placeHoldersForTextPopUp"),
                 (QStringList{u"Placeholders"_s, u"CITY"_s, u"EMAIL"_s, u"NAME"_s}));
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
        QVERIFY(out.remove());
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

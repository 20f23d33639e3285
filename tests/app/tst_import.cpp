// Importing and exporting recipient lists through the window; what a file parses to is
// checked with the campaign.

#include "AppTestMain.h"
#include "AtomicFile.h"
#include "CampaignFile.h"

#include <QHeaderView>
#include <QStatusBar>

using namespace brisko;
using namespace brisko::test;
using namespace Qt::StringLiterals;

class TestImport : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<DialogDriver> m_driver;

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
    void import(const QStringList &paths, const QStringList &answers)
    {
        m_driver->answer(answers);
        app()->setImportPathsChooser([paths] { return paths; });
        app()->importList();
    }

private Q_SLOTS:
    void init()
    {
        clearCampaign();
        m_driver = std::make_unique<DialogDriver>();
    }

    void cleanup() { QCOMPARE(m_driver->unexpected(), 0); }

    // Opening a campaign lists its own columns, not what the last import left.
    void openingACampaignListsItsColumns()
    {
        import({write(u"people.csv"_s, "NAME,EMAIL,CITY\r\nAda,ada@x.org,London\r\n"_ba)}, {u"CSV"_s});
        CampaignDocument document;
        document.columns = QStringList{u"EMAIL"_s, u"ZIP"_s};
        const QString path = m_dir.filePath(u"Zip.brisko"_s);
        QVERIFY(!CampaignFile::write(path, document));
        app()->loadCampaignFromFile(path);
        QCOMPARE(items("placeHoldersForTextPopUp"), (QStringList{u"Plain-text placeholders"_s, u"EMAIL"_s, u"ZIP"_s}));
        QCOMPARE(items("placeHoldersForHTMLPopUp"), (QStringList{u"HTML placeholders"_s, u"EMAIL"_s, u"ZIP"_s}));
        QVERIFY(app()->window()->findChild<QComboBox *>(u"placeHoldersForTextPopUp"_s)->isEnabled());
        app()->newCampaign(); // the cases after this one start untitled
    }

    void importBuildsColumnsAndPlaceholderLists()
    {
        import({write(u"people.csv"_s, "NAME,EMAIL,CITY\r\nAda,ada@x.org,London\r\nBob,bob@x.org\r\n"_ba)},
               {u"CSV"_s});
        QCOMPARE(m_driver->texts(), QStringList{u"What kind of file are you importing?\nTSV is a text file "
                                                u"separated with tabs, CSV is separated by commas."_s});
        QCOMPARE(app()->emailList(), (QStringList{u"ada@x.org"_s, u"bob@x.org"_s}));
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s, u"CITY"_s}));
        QCOMPARE(items("placeHoldersForTextPopUp"),
                 (QStringList{u"Plain-text placeholders"_s, u"EMAIL"_s, u"NAME"_s, u"CITY"_s}));
        QCOMPARE(items("placeHoldersForHTMLPopUp"),
                 (QStringList{u"HTML placeholders"_s, u"EMAIL"_s, u"NAME"_s, u"CITY"_s}));
    }

    // The status bar sums an import up; undo takes the records and the new columns back
    // out, redo puts them in again.
    void importIsSummedUpAndUndoable()
    {
        setRecipients({u"kept@x.org"_s});
        app()->undoStack()->clear();
        const RecipientList before = app()->recipients();
        import({write(u"mixed.csv"_s, "EMAIL,NAME\na@x.org,A\nnot-an-address,B\na@x.org,C\nb@x.org,D\n"_ba)},
               {u"CSV"_s});
        QCOMPARE(app()->window()->statusBar()->currentMessage(),
                 u"Recipients added from “mixed.csv”: 2. Lines left out: 2 (address not valid: 1; address repeated: 1)."_s);
        const RecipientList after = app()->recipients();
        QCOMPARE(after.size(), 3);
        app()->listView()->setFocus();
        auto *undo = app()->window()->findChild<QAction *>(u"undoAction"_s);
        auto *redo = app()->window()->findChild<QAction *>(u"redoAction"_s);
        QVERIFY(undo->isEnabled());
        undo->trigger();
        QCOMPARE(app()->recipients(), before);
        QCOMPARE(app()->columnNames(), QStringList{u"EMAIL"_s});
        QCOMPARE(items("placeHoldersForTextPopUp"), (QStringList{u"Plain-text placeholders"_s, u"EMAIL"_s}));
        QVERIFY(!undo->isEnabled());
        redo->trigger();
        QCOMPARE(app()->recipients(), after);
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s}));
        QVERIFY(app()->campaign().isModified());
    }

    // Files chosen together import one after another, each with its own question;
    // the same file twice doubles the list, and the columns follow the last file.
    void severalFilesInOrder()
    {
        const QString a = write(u"a.csv"_s, "EMAIL,NAME\na@x.org,A\nshared@x.org,A2\n"_ba);
        const QString b = write(u"b.tsv"_s, "EMAIL\tCITY\nshared@x.org\tOslo\nb@x.org\tRome\n"_ba);
        import({a, b, a}, {u"CSV"_s, u"TSV"_s, u"CSV"_s});
        QCOMPARE(m_driver->shown(), 3);
        QCOMPARE(app()->emailList(), (QStringList{u"a@x.org"_s, u"shared@x.org"_s, u"shared@x.org"_s,
                                                  u"b@x.org"_s, u"a@x.org"_s, u"shared@x.org"_s}));
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s}));
        // Keys without a column stay in their records.
        QCOMPARE(app()->recipients().at(3)->valueOr(u"CITY"_s), u"Rome"_s);
    }

    // Cancel, a refused heading row and a file too large change nothing: not the list,
    // not the columns, not the placeholder lists.
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("message"); // its start; empty: none
        QTest::newRow("cancel") << "EMAIL\nc@x.org\n"_ba << u"Cancel"_s << QString();
        QTest::newRow("lower-case heading")
            << "email,name\nc@x.org,C\n"_ba << u"CSV"_s
            << u"Import file needs column headings.\nThe import file must have headings for columns, one of "
               u"which must be 'EMAIL'."_s;
        QByteArray wide = "EMAIL";
        for (int i = 0; i < 70000; ++i)
            wide += ",C" + QByteArray::number(i);
        QTest::newRow("too many values") << wide + QByteArray("\nc@x.org\n").repeated(1000) << u"CSV"_s
                                         << u"Import file is too large.\n"_s;
        QTest::newRow("a line over 1 MB") << "EMAIL\r\nc@x.org\r\n" + QByteArray(2 << 20, 'x') << u"CSV"_s
                                          << u"A line of the import file is too long.\nLine 3 is longer than 1 MB."_s;
    }

    void refusals()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, separator);
        QFETCH(QString, message);
        import({write(u"first.csv"_s, "EMAIL,NAME\na@x.org,A\n"_ba)}, {u"CSV"_s});
        const QStringList htmlBefore = items("placeHoldersForHTMLPopUp"), textBefore = items("placeHoldersForTextPopUp");
        import({write(u"bad.csv"_s, bytes)}, {separator, u"OK"_s});
        QCOMPARE(m_driver->shown(), message.isEmpty() ? 2 : 3);
        QVERIFY(m_driver->texts().last().startsWith(message));
        QCOMPARE(app()->emailList(), QStringList{u"a@x.org"_s});
        QCOMPARE(app()->recipients().first()->valueOr(u"NAME"_s), u"A"_s);
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_s, u"NAME"_s}));
        QCOMPARE(items("placeHoldersForHTMLPopUp"), htmlBefore);
        QCOMPARE(items("placeHoldersForTextPopUp"), textBefore);
    }

    // Lines whose address holds a control character are left out, and the window says how many.
    void controlCharactersInAddressesAreTold()
    {
        import({write(u"nul.csv"_s, "EMAIL,NAME\nn1@x.org,A\nn2@x\0.org,B\nn3@x.org\x1b,C\n"_ba)},
               {u"CSV"_s, u"OK"_s});
        QCOMPARE(m_driver->shown(), 2);
        QVERIFY(m_driver->texts().last().startsWith(u"Some addresses were not imported.\n2 lines were left out"_s));
        QCOMPARE(app()->emailList(), QStringList{u"n1@x.org"_s});
    }

    // An export that cannot be written (here the disk fills at the sync) is told with the
    // system's reason, and the file already at the path stays as it was.
    void failedExportIsToldAndKeepsTheOldFile()
    {
        import({write(u"in.csv"_s, "EMAIL\na@x.org\n"_ba)}, {u"CSV"_s});
        const QString old = write(u"old.tsv"_s, "EMAIL\rold@x.org\r"_ba);
        app()->setExportPathChooser([&](const QString &) { return std::optional<QString>(old); });
        AtomicFile::setFailureHookForTesting(
            [](AtomicFile::Step step) { return step == AtomicFile::Step::Sync ? ENOSPC : 0; });
        m_driver->answer({u"OK"_s});
        app()->exportList();
        AtomicFile::setFailureHookForTesting({});
        app()->setExportPathChooser({});
        QCOMPARE(m_driver->shown(), 2);
        QCOMPARE(m_driver->texts().last(), u"The list could not be exported.\nBrisko could not write the file “"_s
                                               + old + u"”: No space left on device"_s);
        QFile file(old);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), "EMAIL\rold@x.org\r"_ba);
    }

    // The export follows the table's display order, leaves the program's columns out,
    // writes tabs and "\r", and always ends in ".tsv".
    void exportInDisplayOrder()
    {
        import({write(u"in.csv"_s, "EMAIL,NAME,CITY\na@x.org,Ada,London\nb@x.org,Bob\n"_ba)}, {u"CSV"_s});
        QHeaderView *header = app()->listView()->horizontalHeader();
        header->moveSection(header->visualIndex(4), header->visualIndex(2)); // CITY before EMAIL
        QCOMPARE(app()->columnNames(), (QStringList{u"CITY"_s, u"EMAIL"_s, u"NAME"_s}));
        QString proposed;
        app()->setExportPathChooser([&](const QString &name) {
            proposed = name;
            return std::optional<QString>(m_dir.filePath(u"out"_s));
        });
        app()->exportList();
        app()->setExportPathChooser({});
        QCOMPARE(proposed, u"Untitled.tsv"_s);
        QFile out(m_dir.filePath(u"out.tsv"_s));
        QVERIFY(out.open(QIODevice::ReadOnly));
        QCOMPARE(out.readAll(), "CITY\tEMAIL\tNAME\rLondon\ta@x.org\tAda\r\tb@x.org\tBob\r"_ba);
    }
};

BRISKO_APP_TEST_MAIN(TestImport, true)

#include "tst_import.moc"

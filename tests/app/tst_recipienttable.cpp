// The recipient table at window level: row numbers, outcomes, adding, editing, removing
// and searching. A model tester checks every notice the model sends.

#include "AppTestMain.h"
#include "BriskoRowCounterCell.h"
#include "FennimarImaging.h"
#include "RecipientTableModel.h"

#include <QAbstractItemModelTester>

using namespace brisko;
using namespace brisko::test;

class TestRecipientTable : public QObject
{
    Q_OBJECT

    RecipientTableModel *m = nullptr;

    static QList<int> selectedRows()
    {
        QList<int> rows;
        for (const RecipientPtr &record : app()->selectedRecipients())
            rows.append(int(app()->recipients().indexOf(record)));
        return rows;
    }
    // Whether a row's outcome cell shows that image, by its pixels; none: no image at all.
    bool shows(int row, const QString &image) const
    {
        const QVariant decoration =
            m->index(row, m->columnOf(RecipientTableModel::StatusColumn)).data(Qt::DecorationRole);
        const auto format = QImage::Format_ARGB32_Premultiplied;
        return image.isEmpty()
                   ? !decoration.isValid()
                   : decoration.value<QIcon>().pixmap(QSize(16, 16), 1.0).toImage().convertToFormat(format) ==
                         FennimarImaging::imageNamed(image).convertToFormat(format);
    }

    static QAction *undoAction() { return app()->window()->findChild<QAction *>(u"undoAction"_qs); }
    static QAction *redoAction() { return app()->window()->findChild<QAction *>(u"redoAction"_qs); }

private Q_SLOTS:
    void initTestCase()
    {
        m = qobject_cast<RecipientTableModel *>(app()->listView()->model());
        new QAbstractItemModelTester(m, QAbstractItemModelTester::FailureReportingMode::QtTest, this);
        app()->window()->show();
        QVERIFY(QTest::qWaitForWindowActive(app()->window()));
    }

    void init()
    {
        clearCampaign();
        app()->campaign().setupTableColumns({u"EMAIL"_qs, u"NAME"_qs});
        app()->undoStack()->clear();
        app()->listView()->setFocus();
    }

    void outcomeImagesAndTooltips_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("image");
        QTest::newRow("accepted") << 1 << u"Success!"_qs << u"status_ok"_qs;
        QTest::newRow("failed") << -1 << u"Address blacklisted."_qs << u"status_fail"_qs;
        QTest::newRow("failed, no text") << -1 << QString() << u"status_fail"_qs;
        QTest::newRow("unknown") << 2 << u"Sent, but no answer arrived: it may have been delivered"_qs
                                 << u"status_unknown"_qs;
        QTest::newRow("never sent") << 0 << QString() << QString();
    }

    void outcomeImagesAndTooltips()
    {
        QFETCH(int, code);
        QFETCH(QString, text);
        QFETCH(QString, image);
        // Rows 1 and 3 share an address and so an outcome.
        const QString address = QString::fromLatin1(QTest::currentDataTag()).remove(u' ') + u"@x.test"_qs;
        setRecipients({address, u"other@x.test"_qs, address});
        if (code != 0)
            app()->campaign().recordOutcome(address, code,
                                            text.isNull() ? std::nullopt : std::optional(text));
        const int status = m->columnOf(RecipientTableModel::StatusColumn);
        for (int row : {0, 2}) {
            QCOMPARE(m->index(row, 0).data(RecipientTableModel::RowNumberRole),
                     QVariant(QString::number(row + 1)));
            QVERIFY(shows(row, image));
            QCOMPARE(m->index(row, status).data(Qt::ToolTipRole),
                     text.isNull() ? QVariant() : QVariant(text));
        }
        QVERIFY(!m->index(0, m->columnOf(u"EMAIL")).data(Qt::ToolTipRole).isValid());
    }

    // The menu command and the button each append a fresh placeholder record, keeping the
    // selection; what is put into a cell is stored under its column, an edited address
    // shows that address's outcome, and the program's own columns are never stored.
    void addingAndEditing()
    {
        setRecipients({u"a@edit.test"_qs});
        app()->campaign().setupTableColumns({u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs});
        app()->campaign().recordOutcome(u"new@edit.test"_qs, 1, u"Success!"_qs);
        app()->campaign().setModified(false);
        selectRows({0});
        app()->window()->findChild<QAction *>(u"addRecipientAction"_qs)->trigger();
        QTest::mouseClick(app()->window()->findChild<QWidget *>(u"addRecipientButton"_qs), Qt::LeftButton);
        QCOMPARE(app()->emailList(), (QStringList{u"a@edit.test"_qs, u"new.recipient@example.com"_qs,
                                                  u"new.recipient@example.com"_qs}));
        QVERIFY(app()->recipients().at(1) != app()->recipients().at(2));
        QCOMPARE(selectedRows(), QList<int>{0});
        QVERIFY(app()->campaign().isModified());
        const RecipientPtr record = app()->recipients().at(2);
        QCOMPARE(record->keys(), QStringList{u"EMAIL"_qs});

        QVERIFY(m->setData(m->index(2, m->columnOf(u"CITY")), u"Paris"_qs, Qt::EditRole));
        QVERIFY(m->setData(m->index(2, m->columnOf(u"EMAIL")), u"new@edit.test"_qs, Qt::EditRole));
        QVERIFY(shows(2, u"status_ok"_qs));
        for (int column : {0, 1})
            QVERIFY(!m->setData(m->index(2, column), u"x"_qs, Qt::EditRole));
        QCOMPARE(record->keys(), (QStringList{u"EMAIL"_qs, u"CITY"_qs}));
        QCOMPARE(record->value(u"CITY"), std::optional(u"Paris"_qs));
    }

    void removeItem_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<int>>("selected");
        QTest::addColumn<bool>("alt");
        QTest::addColumn<QList<int>>("kept");
        QTest::newRow("two runs") << 5 << QList<int>{0, 1, 3, 4} << false << QList<int>{2};
        QTest::newRow("nothing selected") << 3 << QList<int>{} << false << QList<int>{0, 1, 2};
        QTest::newRow("Alt, one selected") << 3 << QList<int>{1} << true << QList<int>{};
        // More separate runs than are worth a notice each: one pass.
        QList<int> even, odd;
        for (int i = 0; i < 300; ++i)
            (i % 2 ? odd : even).append(i);
        QTest::newRow("150 runs") << 300 << even << false << odd;
    }

    // Neither the columns nor the outcomes go with the rows.
    void removeItem()
    {
        QFETCH(int, count);
        QFETCH(QList<int>, selected);
        QFETCH(bool, alt);
        QFETCH(QList<int>, kept);
        QStringList addresses, expected;
        for (int i = 0; i < count; ++i)
            addresses.append(u"r"_qs + QString::number(i));
        for (int row : kept)
            expected.append(addresses.at(row));
        setRecipients(addresses);
        app()->campaign().recordOutcome(u"r0"_qs, 1, u"Success!"_qs);
        selectRows(selected);
        auto *button = app()->window()->findChild<QWidget *>(u"removeRecipientButton"_qs);
        QTest::mouseClick(button, Qt::LeftButton, alt ? Qt::AltModifier : Qt::NoModifier);
        QTest::mouseMove(button); // later cases see no modifier
        QCOMPARE(app()->campaign().emailList(), expected);
        QVERIFY(!app()->listView()->selectionModel()->hasSelection());
        QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_qs, u"NAME"_qs}));
        QCOMPARE(app()->campaign().response(u"r0"_qs), std::optional(1));

        // Ctrl+Z in the table puts back the very records in their order, Ctrl+Shift+Z
        // takes them out again; with nothing removed there is nothing to undo.
        const bool removed = kept.size() != count;
        QCOMPARE(undoAction()->isEnabled(), removed);
        const RecipientList after = app()->recipients();
        app()->campaign().setModified(false);
        QTest::keyClick(app()->listView(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(app()->campaign().emailList(), addresses);
        QCOMPARE(app()->campaign().isModified(), removed);
        QTest::keyClick(app()->listView(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(app()->recipients(), after);
    }

    // Adding a row and editing cells undo step by step, back to the exact records and
    // values (a value that was not there is gone again, not empty); the editors keep
    // their own text undo.
    void undoOfAddingAndEditing()
    {
        setRecipients({u"a@undo.test"_qs, u"b@undo.test"_qs});
        const RecipientList before = app()->recipients();
        app()->listView()->setFocus();
        QVERIFY(!undoAction()->isEnabled());
        app()->window()->findChild<QAction *>(u"addRecipientAction"_qs)->trigger();
        const RecipientPtr added = app()->recipients().at(2);
        QVERIFY(m->setData(m->index(2, m->columnOf(u"NAME")), u"Ann"_qs, Qt::EditRole));
        QVERIFY(m->setData(m->index(2, m->columnOf(u"NAME")), u"Anne"_qs, Qt::EditRole));
        QVERIFY(m->setData(m->index(1, m->columnOf(u"EMAIL")), u"c@undo.test"_qs, Qt::EditRole));

        QCOMPARE(app()->undoStack()->count(), 4);
        undoAction()->trigger();
        QCOMPARE(app()->emailList().at(1), u"b@undo.test"_qs);
        for (const QString &name : {u"Anne"_qs, u"Ann"_qs, QString()}) {
            QCOMPARE(added->value(u"NAME"), name.isNull() ? std::nullopt : std::optional(name));
            undoAction()->trigger();
        }
        QCOMPARE(app()->recipients(), before);
        QCOMPARE(added->keys(), QStringList{u"EMAIL"_qs});
        QVERIFY(!undoAction()->isEnabled());
        for (int i = 0; i < 4; ++i)
            redoAction()->trigger();
        QCOMPARE(app()->emailList(), (QStringList{u"a@undo.test"_qs, u"c@undo.test"_qs, u"new.recipient@example.com"_qs}));
        QCOMPARE(app()->recipients().at(2), added);
        QCOMPARE(added->value(u"NAME"), std::optional(u"Anne"_qs));

        // In the subject field, Undo is the field's own and leaves the list alone.
        QLineEdit *subject = app()->subjectField();
        subject->clear();
        subject->setFocus();
        QVERIFY(!undoAction()->isEnabled());
        QTest::keyClicks(subject, u"Hi"_qs);
        QVERIFY(undoAction()->isEnabled());
        undoAction()->trigger();
        QCOMPARE(subject->text(), QString());
        QCOMPARE(app()->emailList().size(), 3);
        app()->listView()->setFocus();
        QVERIFY(undoAction()->isEnabled());
    }

    // The row-number column is as wide as its largest number, here six digits.
    void rowNumbersFit()
    {
        QStringList addresses;
        for (int i = 0; i < 100000; ++i)
            addresses.append(u"r%1@wide.test"_qs.arg(i));
        setRecipients(addresses);
        const int column = m->columnOf(RecipientTableModel::IndexColumn);
        QVERIFY(app()->listView()->columnWidth(column) >= BriskoRowCounterCell::widthFor(u"100000"_qs));
    }

    // A search selects the rows whose address holds the text, case and all; an earlier
    // selection never survives it.
    void search_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QList<int>>("rows");
        QTest::newRow("two of five") << u"example.com"_qs << QList<int>{0, 3};
        QTest::newRow("other case") << u"EXAMPLE.COM"_qs << QList<int>{};
        QTest::newRow("empty") << QString() << QList<int>{};
        QTest::newRow("addresses only") << u"neve"_qs << QList<int>{};
    }

    void search()
    {
        QFETCH(QString, text);
        QFETCH(QList<int>, rows);
        setRecipients({u"ann@example.com"_qs, u"bob@Example.org"_qs, u"carl@mail.test"_qs,
                       u"dora@mail.example.com"_qs, u"eve@test.net"_qs});
        selectRows({4});
        QLineEdit field(text);
        app()->filterListFromField(&field);
        QCOMPARE(selectedRows(), rows);
        QCOMPARE(m->rowCount(), 5);
    }
};

BRISKO_APP_TEST_MAIN(TestRecipientTable, true)

#include "tst_recipienttable.moc"

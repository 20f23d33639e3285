// The recipient table at window level: cells, outcomes, editing, adding, removing,
// searching and the row-number cell.

#include "BriskoApplication.h"
#include "BriskoRowCounterCell.h"
#include "BriskoSearchToolbarItem.h"
#include "FennimarImaging.h"
#include "RecipientTableModel.h"

#include <QAbstractButton>
#include <QAbstractItemModelTester>
#include <QAction>
#include <QHeaderView>
#include <QImage>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>

using namespace brisko;

namespace {

BriskoApplication *app()
{
    return BriskoApplication::instance();
}

RecipientTableModel *model()
{
    return qobject_cast<RecipientTableModel *>(app()->listView()->model());
}

QItemSelectionModel *selection()
{
    return app()->listView()->selectionModel();
}

// A list of records with the addresses given and a NAME "n<row>".
RecipientList makeList(const QStringList &addresses)
{
    RecipientList list;
    for (qsizetype i = 0; i < addresses.size(); ++i)
        list.append(makeRecipient({{u"EMAIL"_qs, addresses.at(i)}, {u"NAME"_qs, u"n%1"_qs.arg(i)}}));
    return list;
}

QStringList addresses()
{
    return app()->campaign().emailList();
}

QList<int> selectedRowNumbers()
{
    QList<int> rows;
    const RecipientList &list = app()->recipients();
    for (const RecipientPtr &record : app()->selectedRecipients())
        rows.append(int(list.indexOf(record)));
    return rows;
}

void selectRows(const QList<int> &rows)
{
    selection()->clearSelection();
    for (int row : rows)
        selection()->select(model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QWidget *windowChild(const char *name)
{
    return app()->window()->findChild<QWidget *>(QLatin1StringView(name));
}

// Clicks the remove button with the modifiers held, then lets the application see a
// plain event again so that no later case inherits the modifiers.
void clickRemove(Qt::KeyboardModifiers modifiers)
{
    QWidget *button = windowChild("removeRecipientButton");
    QTest::mouseClick(button, Qt::LeftButton, modifiers);
    QTest::mouseMove(button);
    QTest::keyClick(app()->listView(), Qt::Key_Shift);
}

QString iconKey(const QVariant &decoration)
{
    const QIcon icon = decoration.value<QIcon>();
    if (icon.isNull())
        return QString();
    const auto format = QImage::Format_ARGB32_Premultiplied;
    const QImage shown = icon.pixmap(QSize(16, 16), 1.0).toImage().convertToFormat(format);
    for (const QString &name : {u"status_ok"_qs, u"status_fail"_qs}) {
        if (shown == FennimarImaging::imageNamed(name).convertToFormat(format))
            return name;
    }
    return u"other"_qs;
}

bool near(QColor a, QColor b)
{
    return qAbs(a.red() - b.red()) <= 6 && qAbs(a.green() - b.green()) <= 6 && qAbs(a.blue() - b.blue()) <= 6;
}

} // namespace

class TestRecipientTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cellsShowRowNumbersAndValues();
    void outcomeImagesAndTooltips_data();
    void outcomeImagesAndTooltips();
    void editingStoresUnderTheColumn();
    void editingThroughTheView();
    void addItemAppendsPlaceholderRow();
    void removeSelectedRowsKeepsOrder_data();
    void removeSelectedRowsKeepsOrder();
    void removeScatteredRowsInOnePass();
    void optionRemoveEmptiesTheList();
    void searchSelectsMatchingAddresses_data();
    void searchSelectsMatchingAddresses();
    void searchFieldFollowsTyping();
    void selectedRecipientsAreTheRecordsInRowOrder();
    void newColumnsAreInsertedNotReset();
    void rowCounterCellColours_data();
    void rowCounterCellColours();
};

void TestRecipientTable::initTestCase()
{
    // Checks every notice the model sends, in every case below.
    new QAbstractItemModelTester(model(), QAbstractItemModelTester::FailureReportingMode::QtTest, this);
    app()->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(app()->window()));
    for (const char *name : {"addRecipientButton", "removeRecipientButton", "searchField"})
        QVERIFY2(windowChild(name)->isEnabled(), name);
    QVERIFY(qobject_cast<BriskoSearchToolbarItem *>(windowChild("searchField")));
}

void TestRecipientTable::init()
{
    app()->campaign().setupTableColumns({u"EMAIL"_qs, u"NAME"_qs});
    app()->campaign().setRecipients({});
    app()->campaign().setModified(false);
    selection()->clearSelection();
}

void TestRecipientTable::cellsShowRowNumbersAndValues()
{
    app()->campaign().setRecipients(makeList({u"a@x.org"_qs, u"b@x.org"_qs, u"c@x.org"_qs}));
    app()->recipients().at(1)->removeValue(u"NAME");
    RecipientTableModel *m = model();
    QCOMPARE(m->rowCount(), 3);
    QCOMPARE(m->identifiers(), (QStringList{u"_BRISKO_INDEX"_qs, u"_BRISKO_STATUS"_qs, u"EMAIL"_qs, u"NAME"_qs}));
    for (int row = 0; row < 3; ++row)
        QCOMPARE(m->index(row, 0).data(RecipientTableModel::RowNumberRole).toString(), QString::number(row + 1));
    QCOMPARE(m->index(2, 2).data().toString(), u"c@x.org"_qs);
    QCOMPARE(m->index(0, 3).data().toString(), u"n0"_qs);
    QVERIFY(!m->index(1, 3).data().isValid());
    QVERIFY(qobject_cast<BriskoRowCounterCell *>(app()->listView()->itemDelegateForColumn(0)));
}

void TestRecipientTable::outcomeImagesAndTooltips_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("tooltip");
    QTest::newRow("accepted") << 1 << u"Success!"_qs << u"status_ok"_qs << u"Success!"_qs;
    QTest::newRow("failed") << -1 << u"Address blacklisted."_qs << u"status_fail"_qs << u"Address blacklisted."_qs;
    QTest::newRow("other code") << 7 << u"odd"_qs << u"status_fail"_qs << u"odd"_qs;
    QTest::newRow("failed without text") << -1 << QString() << u"status_fail"_qs << QString();
    QTest::newRow("never sent") << 0 << QString() << QString() << QString();
}

void TestRecipientTable::outcomeImagesAndTooltips()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QString, image);
    QFETCH(QString, tooltip);
    // Rows 0 and 2 share an address and so an outcome; row 1 is never sent.
    const QString address = u"%1@outcome.test"_qs.arg(QString::fromLatin1(QTest::currentDataTag()).remove(u' '));
    app()->campaign().setRecipients(makeList({address, u"other@outcome.test"_qs, address}));
    QSignalSpy changed(model(), &QAbstractItemModel::dataChanged);
    if (code != 0)
        app()->campaign().recordOutcome(address, code, text.isNull() ? std::nullopt : std::optional(text));
    QCOMPARE(changed.isEmpty(), code == 0);

    RecipientTableModel *m = model();
    const int status = m->columnOf(RecipientTableModel::StatusColumn);
    for (int row : {0, 2}) {
        QCOMPARE(iconKey(m->index(row, status).data(Qt::DecorationRole)), image);
        QCOMPARE(m->index(row, status).data(Qt::ToolTipRole).toString(), tooltip);
        QCOMPARE(m->index(row, status).data(Qt::ToolTipRole).isValid(), !tooltip.isNull());
    }
    QVERIFY(!m->index(1, status).data(Qt::DecorationRole).isValid());
    QVERIFY(!m->index(1, status).data(Qt::ToolTipRole).isValid());
    // Only the outcome column has a tooltip.
    QVERIFY(!m->index(0, m->columnOf(u"EMAIL")).data(Qt::ToolTipRole).isValid());
}

void TestRecipientTable::editingStoresUnderTheColumn()
{
    app()->campaign().setRecipients(makeList({u"old@edit.test"_qs, u"keep@edit.test"_qs}));
    app()->campaign().recordOutcome(u"new@edit.test"_qs, 1, u"Success!"_qs);
    app()->campaign().setModified(false);
    RecipientTableModel *m = model();
    const RecipientPtr record = app()->recipients().at(0);
    QSignalSpy changed(m, &QAbstractItemModel::dataChanged);

    // A column the record has no value for: the record gains the key.
    app()->campaign().setupTableColumns({u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs});
    const int city = m->columnOf(u"CITY");
    QVERIFY(m->setData(m->index(0, city), u"Köln"_qs, Qt::EditRole));
    QCOMPARE(record->value(u"CITY"), std::optional(u"Köln"_qs));
    QVERIFY(app()->campaign().isModified());

    // An edited address is a new address: the row shows that address's outcome.
    const int status = m->columnOf(RecipientTableModel::StatusColumn);
    QVERIFY(!m->index(0, status).data(Qt::DecorationRole).isValid());
    changed.clear();
    QVERIFY(m->setData(m->index(0, m->columnOf(u"EMAIL")), u"new@edit.test"_qs, Qt::EditRole));
    QCOMPARE(record->email(), u"new@edit.test"_qs);
    QCOMPARE(iconKey(m->index(0, status).data(Qt::DecorationRole)), u"status_ok"_qs);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex().row(), 0);
    QCOMPARE(changed.first().at(1).toModelIndex().row(), 0);
    QVERIFY(changed.first().at(0).toModelIndex().column() <= status);

    // The program's own columns are not editable and never become record keys.
    for (int column : {0, status}) {
        QVERIFY(!(m->flags(m->index(0, column)) & Qt::ItemIsEditable));
        QVERIFY(!m->setData(m->index(0, column), u"x"_qs, Qt::EditRole));
    }
    QVERIFY(!record->contains(u"_BRISKO_INDEX"));
    QVERIFY(!record->contains(u"_BRISKO_STATUS"));
    QCOMPARE(app()->recipients().at(1)->email(), u"keep@edit.test"_qs);
}

void TestRecipientTable::editingThroughTheView()
{
    app()->campaign().setRecipients(makeList({u"ann@view.test"_qs}));
    QTableView *view = app()->listView();
    QVERIFY(QTest::qWaitForWindowActive(app()->window()));
    const QModelIndex name = model()->index(0, model()->columnOf(u"NAME"));
    view->setCurrentIndex(name);
    view->edit(name);
    QWidget *editor = QApplication::focusWidget();
    QVERIFY(qobject_cast<QLineEdit *>(editor));
    QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(editor, u"Ann Lee"_qs);
    QTest::keyClick(editor, Qt::Key_Return);
    // The view commits on its next turn of the event loop.
    QTRY_COMPARE(app()->recipients().at(0)->valueOr(u"NAME"), u"Ann Lee"_qs);
    QTRY_VERIFY(!view->indexWidget(name));
    QVERIFY(app()->campaign().isModified());
}

void TestRecipientTable::addItemAppendsPlaceholderRow()
{
    app()->campaign().setRecipients(makeList({u"a@add.test"_qs, u"b@add.test"_qs}));
    selectRows({0});
    QSignalSpy inserted(model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(model(), &QAbstractItemModel::modelReset);
    auto *count = app()->window()->findChild<QLabel *>(u"recipientsCount"_qs);

    app()->window()->findChild<QAction *>(u"addRecipientAction"_qs)->trigger();
    QTest::mouseClick(windowChild("addRecipientButton"), Qt::LeftButton);

    QCOMPARE(app()->recipients().size(), 4);
    for (int row : {2, 3}) {
        const RecipientPtr &added = app()->recipients().at(row);
        QCOMPARE(added->keys(), QStringList{u"EMAIL"_qs});
        QCOMPARE(added->email(), u"new.recipient@example.com"_qs);
    }
    QVERIFY(app()->recipients().at(2) != app()->recipients().at(3));
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(inserted.at(1).at(1).toInt(), 3);
    QCOMPARE(inserted.at(1).at(2).toInt(), 3);
    QCOMPARE(reset.size(), 0);
    // The selection stays where it was; the campaign and the count know of the rows.
    QCOMPARE(selectedRowNumbers(), QList<int>{0});
    QVERIFY(app()->campaign().isModified());
    if (count)
        QCOMPARE(count->text(), u"(4)"_qs);
}

void TestRecipientTable::removeSelectedRowsKeepsOrder_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<QList<int>>("removedFirstRows"); // rowsRemoved notices, in order
    QTest::newRow("rows 1 and 3 of five") << QList<int>{0, 2} << QStringList{u"r1"_qs, u"r3"_qs, u"r4"_qs}
                                          << QList<int>{2, 0};
    QTest::newRow("one run") << QList<int>{1, 2, 3} << QStringList{u"r0"_qs, u"r4"_qs} << QList<int>{1};
    QTest::newRow("two runs") << QList<int>{0, 1, 3, 4} << QStringList{u"r2"_qs} << QList<int>{3, 0};
    QTest::newRow("all") << QList<int>{0, 1, 2, 3, 4} << QStringList() << QList<int>{0};
    QTest::newRow("nothing selected") << QList<int>{} << QStringList{u"r0"_qs, u"r1"_qs, u"r2"_qs, u"r3"_qs, u"r4"_qs}
                                      << QList<int>{};
}

void TestRecipientTable::removeSelectedRowsKeepsOrder()
{
    QFETCH(QList<int>, selected);
    QFETCH(QStringList, left);
    QFETCH(QList<int>, removedFirstRows);
    app()->campaign().setRecipients(makeList({u"r0"_qs, u"r1"_qs, u"r2"_qs, u"r3"_qs, u"r4"_qs}));
    app()->campaign().setModified(false);
    const QStringList columns = app()->columnNames();
    selectRows(selected);
    QSignalSpy removed(model(), &QAbstractItemModel::rowsRemoved);

    clickRemove(Qt::NoModifier);

    QCOMPARE(addresses(), left);
    for (int row = 0; row < left.size(); ++row)
        QCOMPARE(model()->index(row, 0).data(RecipientTableModel::RowNumberRole), QVariant(QString::number(row + 1)));
    QList<int> firstRows;
    for (const QList<QVariant> &notice : removed)
        firstRows.append(notice.at(1).toInt());
    QCOMPARE(firstRows, removedFirstRows);
    QVERIFY(!selection()->hasSelection());
    QCOMPARE(app()->columnNames(), columns);
    QCOMPARE(app()->campaign().isModified(), !selected.isEmpty());
}

void TestRecipientTable::removeScatteredRowsInOnePass()
{
    // Far more separate runs than are worth a notice each: one pass, one reset.
    QStringList names;
    for (int i = 0; i < 1000; ++i)
        names.append(u"s%1"_qs.arg(i));
    app()->campaign().setRecipients(makeList(names));
    QItemSelection everyOther;
    for (int row = 0; row < 1000; row += 2)
        everyOther.select(model()->index(row, 0), model()->index(row, model()->columnCount() - 1));
    selection()->select(everyOther, QItemSelectionModel::Select);
    QSignalSpy reset(model(), &QAbstractItemModel::modelReset);

    app()->removeItem();

    QCOMPARE(reset.size(), 1);
    QStringList odd;
    for (int i = 1; i < 1000; i += 2)
        odd.append(u"s%1"_qs.arg(i));
    QCOMPARE(addresses(), odd);
}

void TestRecipientTable::optionRemoveEmptiesTheList()
{
    app()->campaign().setRecipients(makeList({u"a@alt.test"_qs, u"b@alt.test"_qs, u"c@alt.test"_qs}));
    app()->campaign().recordOutcome(u"a@alt.test"_qs, 1, u"Success!"_qs);
    QVERIFY(!selection()->hasSelection());
    QSignalSpy removed(model(), &QAbstractItemModel::rowsRemoved);

    clickRemove(Qt::AltModifier);

    QVERIFY(app()->recipients().isEmpty());
    QCOMPARE(removed.size(), 1);
    QCOMPARE(removed.first().at(2).toInt(), 2);
    // Neither the columns nor the outcomes go with the rows.
    QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_qs, u"NAME"_qs}));
    QCOMPARE(app()->campaign().response(u"a@alt.test"_qs), std::optional(1));

    // Without the modifier and without a selection nothing happens.
    app()->campaign().setRecipients(makeList({u"a@alt.test"_qs}));
    clickRemove(Qt::NoModifier);
    QCOMPARE(addresses(), QStringList{u"a@alt.test"_qs});
}

void TestRecipientTable::searchSelectsMatchingAddresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("two of five") << u"example.com"_qs << QList<int>{0, 3};
    QTest::newRow("other case") << u"EXAMPLE.COM"_qs << QList<int>{};
    QTest::newRow("capital in address") << u"Example"_qs << QList<int>{1};
    QTest::newRow("every row") << u"@"_qs << QList<int>{0, 1, 2, 3, 4};
    QTest::newRow("a run") << u"mail"_qs << QList<int>{2, 3};
    QTest::newRow("no match") << u"nobody"_qs << QList<int>{};
    QTest::newRow("empty") << QString() << QList<int>{};
    QTest::newRow("not other columns") << u"n4"_qs << QList<int>{};
}

void TestRecipientTable::searchSelectsMatchingAddresses()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, rows);
    app()->campaign().setRecipients(makeList({u"ann@example.com"_qs, u"bob@Example.org"_qs,
                                              u"carl@mail.test"_qs, u"dora@mail.example.com"_qs,
                                              u"eve@test.net"_qs}));
    // An earlier selection never survives a search.
    selectRows({4});
    const int firstVisible = app()->listView()->rowAt(0);
    QLineEdit field;
    field.setText(text);

    app()->filterListFromField(&field);

    QCOMPARE(selectedRowNumbers(), rows);
    for (int row : rows)
        QVERIFY(selection()->isRowSelected(row));
    QCOMPARE(app()->listView()->rowAt(0), firstVisible);
    QCOMPARE(model()->rowCount(), 5);
}

void TestRecipientTable::searchFieldFollowsTyping()
{
    app()->campaign().setRecipients(makeList({u"ann@a.test"_qs, u"bob@b.test"_qs, u"ann@c.test"_qs}));
    auto *field = qobject_cast<QLineEdit *>(windowChild("searchField"));
    QVERIFY(field);
    field->setFocus();
    QTest::keyClicks(field, u"ann"_qs);
    QTRY_COMPARE(selectedRowNumbers(), (QList<int>{0, 2}));
    // Clearing the field clears the selection at once.
    field->clear();
    QCOMPARE(selectedRowNumbers(), QList<int>{});
    field->setText(u"bob"_qs);
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(selectedRowNumbers(), QList<int>{1});
    field->blockSignals(true);
    field->clear();
    field->blockSignals(false);
}

void TestRecipientTable::selectedRecipientsAreTheRecordsInRowOrder()
{
    app()->campaign().setRecipients(makeList({u"a@s.test"_qs, u"b@s.test"_qs, u"c@s.test"_qs, u"d@s.test"_qs}));
    selectRows({3, 0, 2});
    // Overlapping ranges count each row once.
    selection()->select(QItemSelection(model()->index(2, 0), model()->index(3, 2)), QItemSelectionModel::Select);
    const RecipientList chosen = app()->selectedRecipients();
    QCOMPARE(chosen.size(), 3);
    QVERIFY(chosen.at(0) == app()->recipients().at(0));
    QVERIFY(chosen.at(1) == app()->recipients().at(2));
    QVERIFY(chosen.at(2) == app()->recipients().at(3));
    selection()->clearSelection();
    QVERIFY(app()->selectedRecipients().isEmpty());
}

void TestRecipientTable::newColumnsAreInsertedNotReset()
{
    app()->campaign().setRecipients(makeList({u"a@c.test"_qs}));
    QSignalSpy inserted(model(), &QAbstractItemModel::columnsInserted);
    QSignalSpy reset(model(), &QAbstractItemModel::modelReset);
    app()->listView()->setColumnWidth(2, 211);

    app()->campaign().setupTableColumns({u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs, u"ZIP"_qs});
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(inserted.first().at(1).toInt(), 4);
    QCOMPARE(inserted.first().at(2).toInt(), 5);
    QCOMPARE(reset.size(), 0);
    QCOMPARE(app()->listView()->columnWidth(2), 211);
    QCOMPARE(model()->index(0, 5).data(), QVariant());

    // Columns that are not an extension start afresh.
    app()->campaign().setupTableColumns({u"EMAIL"_qs, u"ZIP"_qs});
    QCOMPARE(reset.size(), 1);
    QCOMPARE(model()->identifiers().mid(2), (QStringList{u"EMAIL"_qs, u"ZIP"_qs}));
}

void TestRecipientTable::rowCounterCellColours_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("top");
    QTest::addColumn<QColor>("bottom");
    QTest::addColumn<QColor>("ink");
    QTest::newRow("plain") << u"12"_qs << QColor::fromRgbF(0.97f, 0.97f, 0.97f) << QColor::fromRgbF(0.833f, 0.833f, 0.833f)
                           << QColor::fromRgbF(0.333f, 0.333f, 0.333f);
    QTest::newRow("starred") << u"12*"_qs << QColor::fromRgbF(0.5f, 0.5f, 0.5f) << QColor::fromRgbF(0.1f, 0.1f, 0.1f)
                             << QColor(Qt::white);
}

void TestRecipientTable::rowCounterCellColours()
{
    QFETCH(QString, text);
    QFETCH(QColor, top);
    QFETCH(QColor, bottom);
    QFETCH(QColor, ink);
    const BriskoRowCounterCell::Colours colours = BriskoRowCounterCell::coloursFor(text);
    QVERIFY(near(colours.top, top));
    QVERIFY(near(colours.bottom, bottom));
    QVERIFY(near(colours.text, ink));

    QImage image(80, 40, QImage::Format_ARGB32);
    image.fill(Qt::red);
    {
        QPainter painter(&image);
        BriskoRowCounterCell::drawWithFrame(painter, QRectF(0, 0, 80, 40), text);
    }
    // The fade fills the frame from the first colour at the top to the second at the bottom.
    QVERIFY(near(image.pixelColor(0, 0), top));
    QVERIFY(near(image.pixelColor(0, 39), bottom));
    // The number sits against the right edge, near the top.
    int leftmostInk = 80, lowestInk = -1;
    for (int y = 0; y < 40; ++y) {
        for (int x = 0; x < 80; ++x) {
            const QColor c = image.pixelColor(x, y);
            const QColor fade = image.pixelColor(0, y);
            if (qAbs(c.lightness() - fade.lightness()) > 60) {
                leftmostInk = qMin(leftmostInk, x);
                lowestInk = qMax(lowestInk, y);
            }
        }
    }
    QVERIFY2(leftmostInk > 40 && leftmostInk < 80, qPrintable(QString::number(leftmostInk)));
    QVERIFY2(lowestInk > 0 && lowestInk < 24, qPrintable(QString::number(lowestInk)));
}

int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    BriskoApplication application(argc, argv);
    if (!application.loadInterface())
        return 1;
    application.applicationDidFinishLaunching();
    TestRecipientTable test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_recipienttable.moc"

// The recipient table at window level: cells, outcomes, editing, adding, removing,
// searching and the row-number cell.

#include "AppTestMain.h"
#include "BriskoApplication.h"
#include "BriskoRowCounterCell.h"
#include "FennimarImaging.h"
#include "RecipientTableModel.h"

#include <QAbstractItemModelTester>
#include <QAction>
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

void setList(const QStringList &addresses)
{
    RecipientList list;
    for (const QString &address : addresses)
        list.append(makeRecipient({{u"EMAIL"_qs, address}, {u"NAME"_qs, u"n"_qs + address}}));
    app()->campaign().setRecipients(list);
}

QStringList numbered(int count, const QString &prefix)
{
    QStringList result;
    for (int i = 0; i < count; ++i)
        result.append(prefix + QString::number(i));
    return result;
}

QList<int> selectedRows()
{
    QList<int> rows;
    for (const RecipientPtr &record : app()->selectedRecipients())
        rows.append(int(app()->recipients().indexOf(record)));
    return rows;
}

void selectRows(const QList<int> &rows)
{
    selection()->clearSelection();
    for (int row : rows)
        selection()->select(model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QWidget *windowChild(const QString &name)
{
    return app()->window()->findChild<QWidget *>(name);
}

// Which outcome image a decoration is, by its pixels.
QString imageName(const QVariant &decoration)
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

} // namespace

class TestRecipientTable : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void outcomeImagesAndTooltips_data();
    void outcomeImagesAndTooltips();
    void editingStoresUnderTheColumn();
    void addItemAppendsPlaceholderRow();
    void removeItem_data();
    void removeItem();
    void search_data();
    void search();
    void searchFieldSendsItsText();
    void rowCounterCell_data();
    void rowCounterCell();
};

void TestRecipientTable::initTestCase()
{
    // Checks every notice the model sends, in every case below.
    new QAbstractItemModelTester(model(), QAbstractItemModelTester::FailureReportingMode::QtTest, this);
    app()->window()->show();
    QVERIFY(QTest::qWaitForWindowActive(app()->window()));
    for (const QString &name : {u"addRecipientButton"_qs, u"removeRecipientButton"_qs, u"searchField"_qs})
        QVERIFY(windowChild(name)->isEnabled());
}

void TestRecipientTable::init()
{
    app()->campaign().setupTableColumns({u"EMAIL"_qs, u"NAME"_qs});
    app()->campaign().setRecipients({});
    app()->campaign().setModified(false);
}

void TestRecipientTable::outcomeImagesAndTooltips_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("image");
    QTest::newRow("accepted") << 1 << u"Success!"_qs << u"status_ok"_qs;
    QTest::newRow("failed") << -1 << u"Address blacklisted."_qs << u"status_fail"_qs;
    QTest::newRow("failed, no text") << -1 << QString() << u"status_fail"_qs;
    QTest::newRow("never sent") << 0 << QString() << QString();
}

void TestRecipientTable::outcomeImagesAndTooltips()
{
    QFETCH(int, code);
    QFETCH(QString, text);
    QFETCH(QString, image);
    // Rows 1 and 3 share an address and so an outcome; row 2 is never sent.
    const QString address = QString::fromLatin1(QTest::currentDataTag()).remove(u' ') + u"@x.test"_qs;
    setList({address, u"other@x.test"_qs, address});
    if (code != 0)
        app()->campaign().recordOutcome(address, code, text.isNull() ? std::nullopt : std::optional(text));

    RecipientTableModel *m = model();
    const int status = m->columnOf(RecipientTableModel::StatusColumn);
    for (int row : {0, 2}) {
        QCOMPARE(m->index(row, 0).data(RecipientTableModel::RowNumberRole), QVariant(QString::number(row + 1)));
        QCOMPARE(imageName(m->index(row, status).data(Qt::DecorationRole)), image);
        QCOMPARE(m->index(row, status).data(Qt::ToolTipRole), text.isNull() ? QVariant() : QVariant(text));
    }
    QVERIFY(!m->index(1, status).data(Qt::DecorationRole).isValid());
    QVERIFY(!m->index(1, status).data(Qt::ToolTipRole).isValid());
    QVERIFY(!m->index(0, m->columnOf(u"EMAIL")).data(Qt::ToolTipRole).isValid());
}

void TestRecipientTable::editingStoresUnderTheColumn()
{
    setList({u"old@edit.test"_qs});
    app()->campaign().setupTableColumns({u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs});
    app()->campaign().recordOutcome(u"new@edit.test"_qs, 1, u"Success!"_qs);
    app()->campaign().setModified(false);
    RecipientTableModel *m = model();
    const RecipientPtr record = app()->recipients().at(0);

    // Typed into a column the record has no value for: the record gains the key.
    QTableView *view = app()->listView();
    const QModelIndex city = m->index(0, m->columnOf(u"CITY"));
    view->setCurrentIndex(city);
    view->edit(city);
    QTest::keyClicks(QApplication::focusWidget(), u"Paris"_qs);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTRY_COMPARE(record->value(u"CITY"), std::optional(u"Paris"_qs)); // committed on the next turn
    QTRY_VERIFY(!view->indexWidget(city));
    QVERIFY(app()->campaign().isModified());

    // An edited address is a new address: the row shows that address's outcome.
    QVERIFY(m->setData(m->index(0, m->columnOf(u"EMAIL")), u"new@edit.test"_qs, Qt::EditRole));
    QCOMPARE(imageName(m->index(0, 1).data(Qt::DecorationRole)), u"status_ok"_qs);
    // The program's own columns are never stored.
    for (int column : {0, 1})
        QVERIFY(!m->setData(m->index(0, column), u"x"_qs, Qt::EditRole));
    QCOMPARE(record->keys(), (QStringList{u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs}));
}

void TestRecipientTable::addItemAppendsPlaceholderRow()
{
    setList({u"a@add.test"_qs, u"b@add.test"_qs});
    selectRows({0});
    QSignalSpy inserted(model(), &QAbstractItemModel::rowsInserted);
    app()->window()->findChild<QAction *>(u"addRecipientAction"_qs)->trigger();
    QTest::mouseClick(windowChild(u"addRecipientButton"_qs), Qt::LeftButton);

    QCOMPARE(app()->recipients().size(), 4);
    QCOMPARE(app()->recipients().at(3)->keys(), QStringList{u"EMAIL"_qs});
    QCOMPARE(app()->recipients().at(3)->email(), u"new.recipient@example.com"_qs);
    QVERIFY(app()->recipients().at(2) != app()->recipients().at(3));
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(selectedRows(), QList<int>{0});
    QVERIFY(app()->campaign().isModified());
}

void TestRecipientTable::removeItem_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("alt");
    QTest::addColumn<QList<int>>("kept");
    QTest::newRow("rows 1 and 3 of five") << 5 << QList<int>{0, 2} << false << QList<int>{1, 3, 4};
    QTest::newRow("two runs") << 5 << QList<int>{0, 1, 3, 4} << false << QList<int>{2};
    QTest::newRow("nothing selected") << 3 << QList<int>{} << false << QList<int>{0, 1, 2};
    QTest::newRow("Alt, nothing selected") << 3 << QList<int>{} << true << QList<int>{};
    QTest::newRow("Alt, one selected") << 3 << QList<int>{1} << true << QList<int>{};
    // More separate runs than are worth a notice each: one pass.
    QList<int> even, odd;
    for (int i = 0; i < 300; ++i)
        (i % 2 ? odd : even).append(i);
    QTest::newRow("150 runs") << 300 << even << false << odd;
}

void TestRecipientTable::removeItem()
{
    QFETCH(int, count);
    QFETCH(QList<int>, selected);
    QFETCH(bool, alt);
    QFETCH(QList<int>, kept);
    setList(numbered(count, u"r"_qs));
    app()->campaign().recordOutcome(u"r0"_qs, 1, u"Success!"_qs);
    selectRows(selected);

    QWidget *button = windowChild(u"removeRecipientButton"_qs);
    QTest::mouseClick(button, Qt::LeftButton, alt ? Qt::AltModifier : Qt::NoModifier);
    QTest::mouseMove(button); // later cases see no modifier

    QStringList expected;
    for (int row : kept)
        expected.append(u"r%1"_qs.arg(row));
    QCOMPARE(app()->campaign().emailList(), expected);
    QVERIFY(!selection()->hasSelection());
    // Neither the columns nor the outcomes go with the rows.
    QCOMPARE(app()->columnNames(), (QStringList{u"EMAIL"_qs, u"NAME"_qs}));
    QCOMPARE(app()->campaign().response(u"r0"_qs), std::optional(1));
}

void TestRecipientTable::search_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("rows");
    QTest::newRow("two of five") << u"example.com"_qs << QList<int>{0, 3};
    QTest::newRow("other case") << u"EXAMPLE.COM"_qs << QList<int>{};
    QTest::newRow("a run") << u"mail"_qs << QList<int>{2, 3};
    QTest::newRow("empty") << QString() << QList<int>{};
    QTest::newRow("addresses only") << u"neve"_qs << QList<int>{};
}

void TestRecipientTable::search()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, rows);
    setList({u"ann@example.com"_qs, u"bob@Example.org"_qs, u"carl@mail.test"_qs, u"dora@mail.example.com"_qs,
             u"eve@test.net"_qs});
    selectRows({4}); // an earlier selection never survives a search
    QLineEdit field(text);
    app()->filterListFromField(&field);
    QCOMPARE(selectedRows(), rows);
    QCOMPARE(model()->rowCount(), 5);
}

void TestRecipientTable::searchFieldSendsItsText()
{
    setList({u"ann@a.test"_qs, u"bob@b.test"_qs, u"ann@c.test"_qs});
    auto *field = qobject_cast<QLineEdit *>(windowChild(u"searchField"_qs));
    QTest::keyClicks(field, u"ann"_qs);
    QTRY_COMPARE(selectedRows(), (QList<int>{0, 2}));
    field->clear(); // at once
    QCOMPARE(selectedRows(), QList<int>{});
}

void TestRecipientTable::rowCounterCell_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<qreal>>("greys"); // top and bottom of the fade, then the text
    QTest::newRow("plain") << u"12"_qs << QList<qreal>{0.97, 0.833, 0.333};
    QTest::newRow("starred") << u"12*"_qs << QList<qreal>{0.5, 0.1, 1.0};
}

void TestRecipientTable::rowCounterCell()
{
    QFETCH(QString, text);
    QFETCH(QList<qreal>, greys);
    QImage image(80, 40, QImage::Format_ARGB32);
    QPainter painter(&image);
    BriskoRowCounterCell::drawWithFrame(painter, QRectF(0, 0, 80, 40), text);
    painter.end();
    QVERIFY(qAbs(image.pixelColor(0, 0).redF() - greys.at(0)) < 0.03);
    QVERIFY(qAbs(image.pixelColor(0, 39).redF() - greys.at(1)) < 0.03);
    QVERIFY(qAbs(BriskoRowCounterCell::coloursFor(text).text.redF() - greys.at(2)) < 0.01);
}

BRISKO_APP_TEST_MAIN(TestRecipientTable)

#include "tst_recipienttable.moc"

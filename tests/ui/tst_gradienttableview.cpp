#include "OAGradientTableView.h"

#include <QApplication>
#include <QHeaderView>
#include <QLineEdit>
#include <QStandardItemModel>
#include <QTest>
#include <QVBoxLayout>

namespace {

constexpr int Rows = 12;
constexpr int RowHeight = 20;

// The selection colour the desktop is given in these tests: hue 210, saturation 0.7,
// brightness 0.7.
QColor testHighlight()
{
    return QColor::fromHsvF(210.0f / 360, 0.7f, 0.7f);
}

bool isGrey(const QColor &c)
{
    return qAbs(c.red() - c.green()) <= 2 && qAbs(c.green() - c.blue()) <= 2;
}

bool near(const QColor &a, const QColor &b, int tolerance = 3)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class TestGradientTableView : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void selectionColors_data();
    void selectionColors();
    void runsOfSelectedRowsPaintAsBlocks_data();
    void runsOfSelectedRowsPaintAsBlocks();
    void blocksAreGreyWithoutTheFocus();
    void hiddenRowsJoinTheRunsAroundThem();
    void cellsPaintNoSelectionOfTheirOwn();

private:
    // The viewport as painted, with the rows of `selected` selected.
    QImage paintWith(const QList<int> &selected);
    QColor pixelOfRow(const QImage &image, int row, int offset) const;

    QWidget *m_window = nullptr;
    QLineEdit *m_other = nullptr;
    OAGradientTableView *m_table = nullptr;
    QStandardItemModel *m_model = nullptr;
};

void TestGradientTableView::initTestCase()
{
    QPalette palette = QApplication::palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::Highlight, testHighlight());
    palette.setColor(QPalette::Base, Qt::white);
    QApplication::setPalette(palette);
}

void TestGradientTableView::init()
{
    m_window = new QWidget;
    auto *layout = new QVBoxLayout(m_window);
    m_other = new QLineEdit(m_window);
    m_table = new OAGradientTableView(m_window);
    layout->addWidget(m_other);
    layout->addWidget(m_table);
    m_model = new QStandardItemModel(Rows, 2, m_table);
    for (int row = 0; row < Rows; ++row)
        m_model->setItem(row, 0, new QStandardItem(QString()));
    m_table->setModel(m_model);
    m_table->setShowGrid(false);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::MultiSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(RowHeight);
    m_window->resize(240, Rows * RowHeight + 80);
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    m_table->setFocus();
    QTRY_VERIFY(m_table->hasFocus());
}

void TestGradientTableView::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

QImage TestGradientTableView::paintWith(const QList<int> &selected)
{
    m_table->clearSelection();
    for (int row : selected)
        m_table->selectRow(row);
    return m_table->viewport()->grab().toImage();
}

QColor TestGradientTableView::pixelOfRow(const QImage &image, int row, int offset) const
{
    return image.pixelColor(image.width() / 2, m_table->rowViewportPosition(row) + offset);
}

void TestGradientTableView::selectionColors_data()
{
    QTest::addColumn<float>("saturation");
    QTest::addColumn<float>("brightness");
    QTest::addColumn<float>("topSaturation");
    QTest::addColumn<float>("topBrightness");
    QTest::addColumn<float>("bottomSaturation");
    QTest::addColumn<float>("bottomBrightness");
    QTest::newRow("typical") << 0.7f << 0.7f << 0.58f << 1.0f << 0.82f << 0.655f;
    QTest::newRow("nearly grey loses its tint at the foot") << 0.03f << 0.5f << 0.0f << 0.8f << 0.0f << 0.455f;
    QTest::newRow("just above the grey limit") << 0.05f << 0.5f << 0.0f << 0.8f << 0.17f << 0.455f;
    QTest::newRow("saturated caps at 1") << 0.95f << 0.9f << 0.83f << 1.0f << 1.0f << 0.855f;
    // Black has no saturation left to show.
    QTest::newRow("black stays at 0") << 0.5f << 0.02f << 0.38f << 0.32f << 0.0f << 0.0f;
}

void TestGradientTableView::selectionColors()
{
    QFETCH(float, saturation);
    QFETCH(float, brightness);
    QFETCH(float, topSaturation);
    QFETCH(float, topBrightness);
    QFETCH(float, bottomSaturation);
    QFETCH(float, bottomBrightness);
    const QColor base = QColor::fromHsvF(0.5f, saturation, brightness, 0.8f);
    const OAGradientTableView::SelectionColors colors = OAGradientTableView::selectionColors(base, true);
    QCOMPARE(colors.line, base.toRgb());
    // 16-bit components: compare to a few thousandths.
    QVERIFY2(qAbs(colors.top.hsvSaturationF() - topSaturation) < 0.003, qPrintable(QString::number(colors.top.hsvSaturationF())));
    QVERIFY(qAbs(colors.top.valueF() - topBrightness) < 0.003);
    QVERIFY2(qAbs(colors.bottom.hsvSaturationF() - bottomSaturation) < 0.003,
             qPrintable(QString::number(colors.bottom.hsvSaturationF())));
    QVERIFY(qAbs(colors.bottom.valueF() - bottomBrightness) < 0.003);
    QCOMPARE(colors.top.alphaF(), base.alphaF());
    QCOMPARE(colors.bottom.alphaF(), base.alphaF());
    if (colors.top.hsvSaturationF() > 0.01)
        QVERIFY(qAbs(colors.top.hsvHueF() - 0.5f) < 0.01);
}

void TestGradientTableView::runsOfSelectedRowsPaintAsBlocks_data()
{
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QList<QList<int>>>("runs");
    QTest::newRow("two runs") << QList<int>{2, 3, 4, 7} << QList<QList<int>>{{2, 3, 4}, {7}};
    QTest::newRow("selected out of order") << QList<int>{7, 3, 2, 4} << QList<QList<int>>{{2, 3, 4}, {7}};
    QTest::newRow("first and last rows") << QList<int>{0, Rows - 1} << QList<QList<int>>{{0}, {Rows - 1}};
    QTest::newRow("everything") << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}
                                << QList<QList<int>>{{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}};
}

void TestGradientTableView::runsOfSelectedRowsPaintAsBlocks()
{
    QFETCH(QList<int>, selected);
    QFETCH(QList<QList<int>>, runs);
    const QImage image = paintWith(selected);
    const OAGradientTableView::SelectionColors colors = OAGradientTableView::selectionColors(testHighlight(), true);

    QList<bool> inRun(Rows, false);
    for (const QList<int> &run : runs) {
        // One line at the top of the run, in the selection colour itself.
        QVERIFY2(near(pixelOfRow(image, run.first(), 0), colors.line),
                 qPrintable(pixelOfRow(image, run.first(), 0).name()));
        // Just under it the gradient starts light, and at the foot of the run it is dark.
        QVERIFY(near(pixelOfRow(image, run.first(), 1), colors.top, 8));
        QVERIFY(near(pixelOfRow(image, run.last(), RowHeight - 1), colors.bottom, 8));
        // Within the run the gradient darkens steadily and no further line is drawn.
        for (int i = 1; i < run.size(); ++i) {
            const QColor above = pixelOfRow(image, run.at(i), -1);
            const QColor here = pixelOfRow(image, run.at(i), 0);
            QVERIFY(!near(here, colors.line, 2) || near(above, colors.line, 2));
            QVERIFY(here.valueF() <= above.valueF() + 0.01);
            QVERIFY(pixelOfRow(image, run.at(i), 0).valueF() < pixelOfRow(image, run.first(), 1).valueF());
        }
        for (int row : run)
            inRun[row] = true;
    }
    for (int row = 0; row < Rows; ++row) {
        if (!inRun.at(row))
            QCOMPARE(pixelOfRow(image, row, RowHeight / 2), QColor(Qt::white));
    }
}

void TestGradientTableView::blocksAreGreyWithoutTheFocus()
{
    const QImage focused = paintWith({2, 3, 4, 7});
    QVERIFY(!isGrey(pixelOfRow(focused, 3, 5)));

    m_other->setFocus();
    QTRY_VERIFY(!m_table->hasFocus());
    QVERIFY(!m_table->isSelectionActive());
    const QImage image = m_table->viewport()->grab().toImage();
    const OAGradientTableView::SelectionColors grey = OAGradientTableView::selectionColors(testHighlight(), false);
    for (int row : {2, 7})
        QVERIFY(near(pixelOfRow(image, row, 0), grey.line));
    for (int row : {2, 3, 4, 7}) {
        for (int offset : {1, RowHeight / 2, RowHeight - 1})
            QVERIFY(isGrey(pixelOfRow(image, row, offset)));
    }
    QVERIFY(near(pixelOfRow(image, 4, RowHeight - 1), grey.bottom, 8));
}

void TestGradientTableView::hiddenRowsJoinTheRunsAroundThem()
{
    m_table->setRowHidden(5, true);
    const OAGradientTableView::SelectionColors colors = OAGradientTableView::selectionColors(testHighlight(), true);
    const QImage image = paintWith({4, 6});
    // Rows 4 and 6 stand next to each other on screen and make one run, with one line.
    QVERIFY(near(pixelOfRow(image, 4, 0), colors.line));
    QVERIFY(!near(pixelOfRow(image, 6, 0), colors.line, 8));
    QVERIFY(pixelOfRow(image, 6, RowHeight - 1).valueF() < pixelOfRow(image, 4, 1).valueF());
}

void TestGradientTableView::cellsPaintNoSelectionOfTheirOwn()
{
    // Text in every cell: the cells draw it over the block without a fill of their own.
    for (int row = 0; row < Rows; ++row)
        m_model->item(row, 0)->setText(QStringLiteral("."));
    m_table->setAlternatingRowColors(true);
    const QImage image = paintWith({1});
    const OAGradientTableView::SelectionColors colors = OAGradientTableView::selectionColors(testHighlight(), true);
    QVERIFY(near(pixelOfRow(image, 1, 0), colors.line));
    const QColor middle = image.pixelColor(image.width() - 4, m_table->rowViewportPosition(1) + RowHeight / 2);
    QVERIFY(!near(middle, testHighlight(), 2));
    QVERIFY(!isGrey(middle));
    // Unselected odd rows keep their alternate background.
    const QColor alternate = m_table->palette().color(QPalette::AlternateBase);
    QCOMPARE(image.pixelColor(image.width() - 4, m_table->rowViewportPosition(3) + RowHeight / 2), alternate);
}

QTEST_MAIN(TestGradientTableView)
#include "tst_gradienttableview.moc"

#include "FennimarDarkGradientPanelDecor.h"
#include "FennimarDarkGradientView.h"
#include "FennimarFancyPanelView.h"
#include "FennimarGradientView.h"
#include "FennimarGradientViewWithBottomStroke.h"
#include "InterfaceWidgets.h"
#include "OAGradientTableView.h"

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QVBoxLayout>

namespace {

// The grey level (0..1) of a pixel, from its green channel.
double level(const QImage &image, int x, int y)
{
    return image.pixelColor(x, y).greenF();
}

// Counts the paint events a widget gets.
struct PaintCounter : QObject
{
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::Paint;
        return false;
    }
    int count = 0;
};

QImage render(QWidget &widget)
{
    return widget.grab().toImage();
}

} // namespace

class TestDecorativeViews : public QObject
{
    Q_OBJECT

private slots:
    void createdByClassName();
    void gradientViewDrawsOnlyOnceAwake();
    void barFills_data();
    void barFills();
    void panelDecorFollowsItsWindowsActivation();
    void fancyPanelBandAndRidge();
};

void TestDecorativeViews::createdByClassName()
{
    QWidget parent;
    for (const QString &className : InterfaceWidgets::classNames()) {
        QWidget *widget = InterfaceWidgets::create(className, &parent, QStringLiteral("made"));
        QVERIFY(widget);
        QCOMPARE(QString::fromLatin1(widget->metaObject()->className()), className);
        QCOMPARE(widget->parentWidget(), &parent);
        QCOMPARE(widget->objectName(), QStringLiteral("made"));
        // A bar from an interface file draws its gradient.
        if (auto *bar = qobject_cast<FennimarGradientView *>(widget))
            QVERIFY(bar->drawGradient());
    }
    QCOMPARE(InterfaceWidgets::classNames().size(), 7);
    QVERIFY(!InterfaceWidgets::create(QStringLiteral("FennimarGradientViewX"), &parent));
}

void TestDecorativeViews::gradientViewDrawsOnlyOnceAwake()
{
    QWidget parent;
    parent.setAutoFillBackground(true);
    QPalette palette = parent.palette();
    palette.setColor(QPalette::Window, Qt::red);
    parent.setPalette(palette);
    parent.resize(100, 40);
    auto *bar = new FennimarGradientView(&parent);
    bar->setGeometry(0, 0, 100, 40);

    QVERIFY(!bar->isOpaque());
    QCOMPARE(render(parent).pixelColor(50, 20), QColor(Qt::red));

    bar->awakeFromNib();
    QVERIFY(bar->isOpaque());
    QVERIFY(bar->testAttribute(Qt::WA_OpaquePaintEvent));
    QCOMPARE_NE(render(parent).pixelColor(50, 20), QColor(Qt::red));

    bar->setDrawGradient(false);
    QVERIFY(!bar->isOpaque());
    QCOMPARE(render(parent).pixelColor(50, 20), QColor(Qt::red));
}

void TestDecorativeViews::barFills_data()
{
    // Grey levels sampled down the middle of a 60 x 100 bar, top row first; the bars are
    // lighter at the top, and a stroke is one dark grey (1/3) pixel row.
    QTest::addColumn<QString>("className");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QList<double>>("levels");
    QTest::newRow("light") << "FennimarGradientView" << QList<int>{0, 50, 99} << QList<double>{0.95, 0.90, 0.85};
    QTest::newRow("light, stroke at the foot")
        << "FennimarGradientViewWithBottomStroke" << QList<int>{0, 98, 99} << QList<double>{0.95, 0.85, 1.0 / 3};
    QTest::newRow("dark") << "FennimarDarkGradientView" << QList<int>{0, 99} << QList<double>{0.6, 0.45};
}

void TestDecorativeViews::barFills()
{
    QFETCH(QString, className);
    QFETCH(QList<int>, rows);
    QFETCH(QList<double>, levels);
    QWidget parent;
    QWidget *bar = InterfaceWidgets::create(className, &parent);
    bar->resize(60, 100);
    if (auto *dark = qobject_cast<FennimarDarkGradientView *>(bar))
        QVERIFY(!dark->disabledGradient());
    const QImage image = render(*bar);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        for (int x : {0, 30, 59})
            QVERIFY2(qAbs(level(image, x, rows.at(i)) - levels.at(i)) < 0.01,
                     qPrintable(QStringLiteral("row %1: %2").arg(rows.at(i)).arg(level(image, x, rows.at(i)))));
    }
    // The disabled look is made on the first draw and kept.
    if (auto *dark = qobject_cast<FennimarDarkGradientView *>(bar))
        QCOMPARE(dark->disabledGradient(), CTGradient::unifiedDarkGradient());
}

void TestDecorativeViews::panelDecorFollowsItsWindowsActivation()
{
    QWidget window;
    window.resize(200, 120);
    auto *layout = new QVBoxLayout(&window);
    auto *field = new QLineEdit(&window);
    auto *decor = new FennimarDarkGradientPanelDecor(&window);
    decor->setFixedHeight(40);
    layout->addWidget(field);
    layout->addWidget(decor);

    // Not the active window: the normal light gradient, 0.75 at the foot to 0.9 at the top.
    QImage image = render(*decor);
    QVERIFY(qAbs(level(image, 100, 39) - 0.75) < 0.015);
    QVERIFY(qAbs(level(image, 100, 1) - 0.9) < 0.015);
    // The dark grey line along the top edge.
    QVERIFY(qAbs(level(image, 100, 0) - 1.0 / 3) < 0.01);

    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QWidget other;
    other.setGeometry(300, 0, 50, 50);
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QTest::qWait(20);
    PaintCounter paints(decor);

    // It repaints itself when its window gains activation, then draws very dark.
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QTRY_VERIFY(paints.count > 0);
    image = render(*decor);
    QVERIFY2(qAbs(level(image, 100, 39) - 0.2) < 0.015, qPrintable(QString::number(level(image, 100, 39))));
    QVERIFY(qAbs(level(image, 100, 1) - 0.4) < 0.015);
    QVERIFY(qAbs(level(image, 100, 0) - 1.0 / 3) < 0.01);

    // And again when it loses it.
    const int before = paints.count;
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    QTRY_VERIFY(paints.count > before);
    QVERIFY(qAbs(level(render(*decor), 100, 39) - 0.75) < 0.015);
}

void TestDecorativeViews::fancyPanelBandAndRidge()
{
    QCOMPARE(FennimarFancyPanelView::bandBottomColor().greenF(), 0.75f);
    QVERIFY(qAbs(FennimarFancyPanelView::bandTopColor().greenF() - 0.873) < 0.002);

    FennimarFancyPanelView panel;
    panel.resize(120, 200);
    const QImage image = render(panel);
    const int h = 200;
    QVERIFY(qAbs(level(image, 60, 10) - 0.95) < 0.005);
    // The ridge: light grey above white, just above the band.
    QVERIFY(qAbs(level(image, 60, h - 61) - 2.0 / 3) < 0.01);
    QCOMPARE(image.pixelColor(60, h - 60), QColor(Qt::white));
    // The band runs from about 0.87 under the ridge down to 0.75 at the foot.
    QVERIFY(level(image, 60, h - 58) > 0.85);
    QVERIFY(qAbs(level(image, 60, h - 1) - 0.75) < 0.01);
    QVERIFY(level(image, 60, h - 30) < level(image, 60, h - 58));
}

QTEST_MAIN(TestDecorativeViews)
#include "tst_decorativeviews.moc"

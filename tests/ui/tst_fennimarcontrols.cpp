#include "FennimarControls.h"
#include "ZilkPrettyHeadingField.h"

#include <QAction>
#include <QApplication>
#include <QGraphicsDropShadowEffect>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QTest>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;
namespace FC = FennimarControls;

namespace {

QStringList names(const QList<QWidget *> &widgets)
{
    QStringList list;
    for (const QWidget *w : widgets)
        list.append(w->objectName());
    return list;
}

QWidget *named(const QString &name, QWidget *parent)
{
    auto *w = new QWidget(parent);
    w->setObjectName(name);
    return w;
}

} // namespace

class TestFennimarControls : public QObject
{
    Q_OBJECT

private slots:
    void walksInDepthFirstPreOrder();
    void classAndClassNameMatching();
    void hideAndRemoveDirectSubviews();
    void detachAndReportItemViews();
    void centredOrigin_data();
    void centredOrigin();
    void framesHaveTheirOriginAtTheLowerLeft();
    void replaceAndEncapsulate();
    void expandTextFieldKeepsWidthAndMinimum();
    void alphaThroughOpacityEffects();
    void menusBuiltAndCleared();
};

void TestFennimarControls::walksInDepthFirstPreOrder()
{
    QWidget root;
    QWidget *a = named(QStringLiteral("A"), &root);
    named(QStringLiteral("A1"), a);
    QWidget *b = named(QStringLiteral("B"), &root);
    named(QStringLiteral("B1"), b);
    named(QStringLiteral("B2"), b);
    // A window parented to the tree is not one of its subviews.
    auto *dialog = new QWidget(&root, Qt::Dialog);
    dialog->setObjectName(QStringLiteral("dialog"));

    QList<QWidget *> list{&root};
    FC::flatListOfSubViews(&root, list);
    QCOMPARE(names(list), (QStringList{QString(), u"A"_s, u"A1"_s, u"B"_s, u"B1"_s, u"B2"_s}));

    // Raising a widget moves it to the front, the end of the order.
    a->raise();
    list.clear();
    FC::flatListOfSubViews(&root, list);
    QCOMPARE(names(list), (QStringList{u"B"_s, u"B1"_s, u"B2"_s, u"A"_s, u"A1"_s}));

    list.clear();
    FC::flatListOfSubViews(nullptr, list);
    QVERIFY(list.isEmpty());
}

void TestFennimarControls::classAndClassNameMatching()
{
    QWidget root;
    auto *plain = new QLabel(&root);
    plain->setObjectName(QStringLiteral("plain"));
    QWidget *box = named(QStringLiteral("box"), &root);
    auto *heading = new ZilkPrettyHeadingField(box);
    heading->setObjectName(QStringLiteral("heading"));
    auto *inner = new QLabel(heading);
    inner->setObjectName(QStringLiteral("inner"));

    QCOMPARE(names(FC::recursiveSubviewsInView(&root, QLabel::staticMetaObject)),
             (QStringList{u"plain"_s, u"heading"_s, u"inner"_s}));
    QCOMPARE(FC::recursiveSubviewsInView<ZilkPrettyHeadingField>(&root), QList<ZilkPrettyHeadingField *>{heading});
    QCOMPARE(names(FC::recursiveSubviewsInViewOfClassName(&root, QStringLiteral("QLabel"))),
             (QStringList{u"plain"_s, u"inner"_s}));
    QCOMPARE(names(FC::recursiveSubviewsInViewOfClassName(&root, QStringLiteral("ZilkPrettyHeadingField"))),
             QStringList{u"heading"_s});
    QVERIFY(FC::recursiveSubviewsInViewOfClassName(&root, QStringLiteral("QLabe")).isEmpty());
    QCOMPARE(FC::firstSubviewInView<QLabel>(box), heading);
    QCOMPARE(FC::firstSubviewInView<QPushButton>(&root), nullptr);
}

void TestFennimarControls::hideAndRemoveDirectSubviews()
{
    QWidget root;
    QWidget *a = named(QStringLiteral("A"), &root);
    QWidget *a1 = named(QStringLiteral("A1"), a);
    auto *label = new QLabel(&root);
    auto *heading = new ZilkPrettyHeadingField(&root);
    auto *deepLabel = new QLabel(a);
    root.show();

    FC::setHidden(true, &root);
    QVERIFY(a->isHidden() && label->isHidden() && heading->isHidden());
    QVERIFY(!a1->isHidden());
    QVERIFY(!root.isHidden());
    FC::setHidden(false, &root);
    QVERIFY(!a->isHidden());

    // Only direct subviews of the class (subclasses too) go; they are deleted later.
    QPointer<QLabel> gone1 = label, gone2 = heading, kept = deepLabel;
    FC::removeAllSubViewsOfClass<QLabel>(&root);
    QCOMPARE(FC::subviews(&root), QList<QWidget *>{a});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!gone1 && !gone2);
    QVERIFY(kept);

    QPointer<QWidget> aGone = a;
    FC::removeAllSubViews(&root);
    QVERIFY(FC::subviews(&root).isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!aGone && !kept);
}

void TestFennimarControls::detachAndReportItemViews()
{
    QWidget root;
    root.setObjectName(QStringLiteral("root"));
    QWidget *pane = named(QStringLiteral("pane"), &root);
    auto *table = new QTableView(pane);
    table->setObjectName(QStringLiteral("table"));
    QStandardItemModel model(3, 2);
    QStyledItemDelegate controller;
    table->setModel(&model);
    table->setItemDelegateForColumn(1, &controller);
    auto *label = new QLabel(&root);
    auto *button = new QPushButton(&root);
    label->setBuddy(button);

    QCOMPARE(FC::reportEverythingInViewTree(&root, &model), QStringList{u"DATASOURCE of QTableView \"table\" "_s});
    QCOMPARE(FC::reportEverythingInViewTree(&root, &controller), QStringList{u"DELEGATE of QTableView \"table\" "_s});
    QCOMPARE(FC::reportEverythingInViewTree(&root, button), QStringList{u"TARGET of QLabel "_s});
    QVERIFY(FC::reportEverythingInViewTree(&root, &root).isEmpty());

    int clicks = 0;
    connect(button, &QPushButton::clicked, this, [&clicks] { ++clicks; });
    FC::detachEverythingInViewTree(&root);
    QVERIFY(table->model() != &model);
    QCOMPARE(table->itemDelegateForColumn(1), nullptr);
    QVERIFY(FC::reportEverythingInViewTree(&root, &model).isEmpty());
    QVERIFY(FC::reportEverythingInViewTree(&root, &controller).isEmpty());
    button->click();
    QCOMPARE(clicks, 0);
}

void TestFennimarControls::centredOrigin_data()
{
    QTest::addColumn<QSizeF>("parent");
    QTest::addColumn<QSizeF>("view");
    QTest::addColumn<QPointF>("origin");
    QTest::addColumn<QPoint>("topLeft");
    QTest::newRow("odd parent width") << QSizeF(301, 200) << QSizeF(100, 50) << QPointF(101.5, 75.5) << QPoint(101, 75);
    QTest::newRow("even fit") << QSizeF(300, 200) << QSizeF(100, 50) << QPointF(100.5, 75.5) << QPoint(100, 75);
    QTest::newRow("odd parent height") << QSizeF(300, 201) << QSizeF(100, 50) << QPointF(100.5, 76.5) << QPoint(100, 75);
    // Halves round away from zero, also below zero for a view larger than its parent.
    QTest::newRow("larger than the parent") << QSizeF(100, 100) << QSizeF(201, 100) << QPointF(-50.5, 0.5)
                                            << QPoint(-51, 0);
}

void TestFennimarControls::centredOrigin()
{
    QFETCH(QSizeF, parent);
    QFETCH(QSizeF, view);
    QFETCH(QPointF, origin);
    QFETCH(QPoint, topLeft);
    QCOMPARE(FC::centredOrigin(parent, view), origin);

    QWidget p;
    p.resize(parent.toSize());
    auto *v = new QWidget(&p);
    v->resize(view.toSize());
    FC::centreViewInParent(v);
    QCOMPARE(v->pos(), topLeft);
    QCOMPARE(v->size(), view.toSize());
}

void TestFennimarControls::framesHaveTheirOriginAtTheLowerLeft()
{
    QWidget parent;
    parent.resize(400, 300);
    auto *view = new QWidget(&parent);
    view->setGeometry(10, 20, 100, 50);
    QCOMPARE(FC::frameOf(view), QRectF(10, 230, 100, 50));

    // Taller grows upward: the bottom edge stays.
    FC::adjustSizeOfView(view, 20, 30);
    QCOMPARE(view->geometry(), QRect(10, -10, 120, 80));
    FC::adjustSizeOfView(view, -20, -30);
    QCOMPARE(view->geometry(), QRect(10, 20, 100, 50));

    // A positive dy moves the view up.
    FC::adjustOriginOfView(view, 5, 15);
    QCOMPARE(view->geometry(), QRect(15, 5, 100, 50));
    FC::adjustOriginOfView(view, -5, -15);
    QCOMPARE(view->geometry(), QRect(10, 20, 100, 50));

    FC::adjustSizeOfView(nullptr, 1, 1);
    FC::centreViewInParent(nullptr);
}

void TestFennimarControls::replaceAndEncapsulate()
{
    // In a layout: the new widget takes the old one's slot.
    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    QWidget *first = named(QStringLiteral("first"), &window);
    QWidget *old = named(QStringLiteral("old"), &window);
    QWidget *last = named(QStringLiteral("last"), &window);
    for (QWidget *w : {first, old, last})
        layout->addWidget(w);
    old->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    auto *replacement = new QWidget;
    FC::replaceView(old, replacement);
    QCOMPARE(layout->indexOf(replacement), 1);
    QCOMPARE(replacement->parentWidget(), &window);
    QCOMPARE(replacement->sizePolicy(), old->sizePolicy());
    QCOMPARE(old->parentWidget(), nullptr);
    delete old;

    // Without a layout: same place, same geometry.
    QWidget free;
    QWidget *loose = named(QStringLiteral("loose"), &free);
    loose->setGeometry(30, 40, 50, 60);
    auto *container = new QWidget;
    FC::encapsulateView(loose, container);
    QCOMPARE(container->parentWidget(), &free);
    QCOMPARE(container->geometry(), QRect(30, 40, 50, 60));
    QCOMPARE(loose->parentWidget(), container);
    QCOMPARE(loose->pos(), QPoint(0, 0));

    // A laid-out view moves into the container's own layout.
    auto *framed = new QWidget;
    auto *inner = new QVBoxLayout(framed);
    FC::encapsulateView(first, framed);
    QCOMPARE(layout->indexOf(framed), 0);
    QCOMPARE(inner->indexOf(first), 0);
    QCOMPARE(first->parentWidget(), framed);
}

void TestFennimarControls::expandTextFieldKeepsWidthAndMinimum()
{
    QLabel field;
    field.setWordWrap(true);
    field.setText(QStringLiteral("word ").repeated(80));
    field.resize(150, 5);
    FC::expandTextFieldVerticallyToFit(&field, 10);
    QCOMPARE(field.size(), QSize(150, field.heightForWidth(150)));
    QVERIFY(field.height() > 10);
    field.setText(QStringLiteral("One line"));
    FC::expandTextFieldVerticallyToFit(&field, 200);
    QCOMPARE(field.size(), QSize(150, 200));
}

void TestFennimarControls::alphaThroughOpacityEffects()
{
    QWidget window;
    QWidget *a = named(QStringLiteral("a"), &window);
    QWidget *b = named(QStringLiteral("b"), &window);
    QWidget *shadowed = named(QStringLiteral("shadowed"), &window);
    auto *shadow = new QGraphicsDropShadowEffect(shadowed);
    shadowed->setGraphicsEffect(shadow);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    FC::setAlphaValue(0.25, {a, b, shadowed, nullptr}, false);
    QCOMPARE(FC::alphaValue(a), 0.25);
    QCOMPARE(qobject_cast<QGraphicsOpacityEffect *>(b->graphicsEffect())->opacity(), 0.25);
    QCOMPARE(shadowed->graphicsEffect(), shadow);
    QCOMPARE(FC::alphaValue(shadowed), 1.0);

    // Animated, the target is known at once and reached after the fade.
    FC::setAlphaValue(1.5, {a}, true);
    QCOMPARE(FC::alphaValue(a), 1.0);
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(a->graphicsEffect());
    QVERIFY(effect->opacity() < 1.0);
    QTRY_COMPARE(effect->opacity(), 1.0);
    // A new fade replaces one still running.
    FC::setAlphaValue(0, {a}, true);
    FC::setAlphaValue(0.5, {a}, true);
    QTRY_COMPARE(effect->opacity(), 0.5);
    QTest::qWait(300);
    QCOMPARE(effect->opacity(), 0.5);
}

void TestFennimarControls::menusBuiltAndCleared()
{
    QMenu menu;
    QAction *first = menu.addAction(QStringLiteral("Same"));
    menu.addAction(QStringLiteral("Same"));
    QAction foreign(QStringLiteral("Foreign"));
    menu.addAction(&foreign);
    QCOMPARE(FC::menuItemWithTitle(QStringLiteral("Same"), &menu), first);
    QCOMPARE(FC::menuItemWithTitle(QStringLiteral("same"), &menu), nullptr);
    QCOMPARE(FC::menuItemWithTitle(QStringLiteral("Same"), nullptr), nullptr);

    QAction *note = FC::addDisabledMenuItemWithString(QStringLiteral("Nothing yet"), &menu);
    QCOMPARE(menu.actions().last(), note);
    QVERIFY(!note->isEnabled());
    QVERIFY(note->shortcut().isEmpty());
    QCOMPARE(note->parent(), &menu);
    std::unique_ptr<QAction> loose(FC::disabledMenuItemWithString(QStringLiteral("Loose")));
    QVERIFY(!loose->isEnabled());
    QCOMPARE(loose->parent(), nullptr);

    FC::addSeparatorToMenu(&menu);
    QVERIFY(menu.actions().last()->isSeparator());
    QMenu *sub = menu.addMenu(QStringLiteral("Sub"));

    QFont font = QApplication::font();
    font.setPointSize(17);
    font.setItalic(true);
    FC::setFontOfMenuItemsIn(&menu, font);
    QCOMPARE(first->font().pointSize(), 17);
    QVERIFY(note->font().italic());

    QPointer<QAction> owned = first;
    QPointer<QMenu> ownedSub = sub;
    FC::removeAllMenuItems(&menu);
    QVERIFY(menu.actions().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!owned && !ownedSub);
    QCOMPARE(foreign.text(), QStringLiteral("Foreign")); // not the menu's to delete
}

QTEST_MAIN(TestFennimarControls)
#include "tst_fennimarcontrols.moc"

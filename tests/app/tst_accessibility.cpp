// The window as assistive technology and the keyboard meet it: every control named in the
// accessibility tree, the outcome of each status cell in words, and the main job (edit,
// select rows, send, confirm) without the mouse.

#include "AppTestMain.h"

#include "RecipientTableModel.h"

#include <QAccessible>
#include <QMessageBox>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace brisko;
using namespace brisko::test;

namespace {

// Roles a user operates, as opposed to labels, panes and decoration.
bool isControl(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::EditableText:
    case QAccessible::PushButton:
    case QAccessible::ComboBox:
    case QAccessible::Table:
    case QAccessible::PageTabList:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::SpinBox:
    case QAccessible::ProgressBar:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
        return true;
    default:
        return false;
    }
}

struct Control
{
    QString name, description;
    QAccessible::Role role;
};

// Every visible control below `interface`, keyed by its widget's object name (or its
// place in the tree when it has none).
void collect(QAccessibleInterface *interface, QMap<QString, Control> &controls, const QString &path = {})
{
    if (!interface || interface->state().invisible)
        return;
    const QAccessible::Role role = interface->role();
    if (isControl(role)) {
        const QString key = interface->object() && !interface->object()->objectName().isEmpty()
            ? interface->object()->objectName()
            : path;
        controls.insert(key, {interface->text(QAccessible::Name), interface->text(QAccessible::Description), role});
    }
    if (role == QAccessible::Table || role == QAccessible::ComboBox)
        return; // cells and list entries are checked on their own
    for (int i = 0; i < interface->childCount(); ++i)
        collect(interface->child(i), controls, path + u'/' + QString::number(i));
}

QAccessibleInterface *accessible(QObject *object)
{
    return QAccessible::queryAccessibleInterface(object);
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        clearCampaign();
        setRecipients({u"ann@a11y.test"_s, u"bob@a11y.test"_s, u"cy@a11y.test"_s});
        app()->importDone(); // the placeholder lists fill and open up as after an import
        app()->window()->show();
        QVERIFY(QTest::qWaitForWindowActive(app()->window()));
    }

    // No control is nameless; the editors and the placeholder lists say which is which.
    void everyControlIsNamed()
    {
        QMap<QString, Control> controls;
        collect(accessible(app()->window()), controls);
        QVERIFY(controls.size() >= 12);
        for (auto it = controls.cbegin(); it != controls.cend(); ++it)
            QVERIFY2(!it->name.trimmed().isEmpty(), qPrintable(it.key() + u" has no accessible name"_s));

        // One editor and its list are on a hidden tab: asked for directly.
        const auto name = [](const char *object) {
            return accessible(app()->window()->findChild<QWidget *>(QString::fromLatin1(object)))->text(QAccessible::Name);
        };
        QCOMPARE(name("bodyView"), u"Plain-text body"_s);
        QCOMPARE(name("htmlView"), u"HTML body"_s);
        QVERIFY(accessible(app()->htmlView())->text(QAccessible::Description).contains(u"__NAME__"));
        QCOMPARE(name("placeHoldersForTextPopUp"), u"Plain-text placeholders"_s);
        QCOMPARE(name("placeHoldersForHTMLPopUp"), u"HTML placeholders"_s);
        QCOMPARE(controls.value(u"subjectField"_s).name, u"Subject:"_s); // from its label
        QCOMPARE(controls.value(u"addRecipientButton"_s).name, app()->window()
                     ->findChild<QAction *>(u"addRecipientAction"_s)->text()); // not "+"
        QCOMPARE(controls.value(u"listView"_s).name, u"Recipients"_s);
    }

    // The status cell says the outcome: the success text, the service's error, or nothing.
    void statusCellsSayTheOutcome()
    {
        app()->campaign().recordOutcome(u"ann@a11y.test"_s, 1, u"Success!"_s);
        app()->campaign().recordOutcome(u"bob@a11y.test"_s, -1, u"Address is not verified."_s);
        auto *model = qobject_cast<RecipientTableModel *>(app()->listView()->model());
        QVERIFY(model);
        const int status = model->columnOf(RecipientTableModel::StatusColumn);
        QAccessibleTableInterface *table = accessible(app()->listView())->tableInterface();
        QVERIFY(table);
        const QStringList expected = {u"Success!"_s, u"Address is not verified."_s, QString()};
        for (int row = 0; row < 3; ++row) {
            QAccessibleInterface *cell = table->cellAt(row, status);
            QVERIFY(cell);
            QCOMPARE(cell->text(QAccessible::Name), expected.at(row));
            // The row number cell is read as its number, as it is drawn.
            QCOMPARE(table->cellAt(row, model->columnOf(RecipientTableModel::IndexColumn))->text(QAccessible::Name),
                     QString::number(row + 1));
        }
    }

    // Tab visits the fields, the list, the buttons, the tabs, the list of placeholders and the
    // editor in reading order; a table takes one Tab, not one per cell, and an editor is left
    // with Ctrl+Tab (Tab types a tab there).
    void tabOrder()
    {
        app()->window()->findChild<QWidget *>(u"subjectField"_s)->setFocus();
        // A tab widget's focus goes to its bar.
        const auto focusName = [] {
            QWidget *focus = QApplication::focusWidget();
            if (focus && qobject_cast<QTabWidget *>(focus->parentWidget()))
                focus = focus->parentWidget();
            return focus ? focus->objectName() : QString();
        };
        QStringList visited;
        for (int i = 0; i < 40 && (visited.isEmpty() || focusName() != visited.first()); ++i) {
            visited.append(focusName());
            const bool editor = qobject_cast<QPlainTextEdit *>(QApplication::focusWidget()) != nullptr;
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab, editor ? Qt::ControlModifier : Qt::NoModifier);
        }
        const QStringList expected = {u"subjectField"_s, u"fromField"_s, u"replyToField"_s, u"returnPathField"_s,
                                      u"unsubscribeField"_s, u"searchField"_s, u"listView"_s,
                                      u"addRecipientButton"_s, u"removeRecipientButton"_s, u"sendButton"_s,
                                      u"editorTabs"_s, u"placeHoldersForTextPopUp"_s, u"bodyView"_s,
                                      u"attachFilesButton"_s, u"attachmentList"_s};
        // The whole window in one round, with nothing that keeps the focus (the preview takes it by click).
        QVERIFY2(visited == expected && focusName() == expected.first(), qPrintable(visited.join(u' ')));

        // The HTML body is one arrow key away on the tab bar.
        auto *tabs = app()->window()->findChild<QTabWidget *>(u"editorTabs"_s);
        tabs->tabBar()->setFocus();
        QTest::keyClick(tabs->tabBar(), Qt::Key_Right);
        QCOMPARE(tabs->currentWidget(), app()->htmlView()->parentWidget());
        tabs->setCurrentIndex(0);
    }

    // Rows are selected with the arrow keys; the send shortcut asks first, the question has a
    // default button, and Escape answers it with nothing sent.
    void selectAndSendByKeyboard()
    {
        QTableView *list = app()->listView();
        list->setFocus();
        list->setCurrentIndex(list->model()->index(0, 2));
        list->selectionModel()->select(list->currentIndex(), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
        QCOMPARE(list->selectionModel()->selectedRows().size(), 2);

        QString question;
        bool hadDefault = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || !question.isEmpty())
                return;
            question = box->text();
            hadDefault = box->defaultButton() != nullptr;
            QTest::keyClick(box, Qt::Key_Escape);
        });
        poll.start(10);
        const QKeySequence send = app()->window()->findChild<QAction *>(u"sendAction"_s)->shortcut();
        QVERIFY(!send.isEmpty());
        QTest::keySequence(app()->window(), send);
        QTRY_VERIFY(!question.isEmpty());
        QVERIFY(hadDefault);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QVERIFY(!app()->progressPanel()->isVisible());
    }

    // Every command of the main job has its own shortcut; a shortcut given twice would do nothing.
    void shortcutsAreUnique()
    {
        QHash<QKeySequence, QString> owners;
        for (QAction *action : app()->window()->findChildren<QAction *>()) {
            for (const QKeySequence &key : action->shortcuts()) {
                QVERIFY2(!owners.contains(key), qPrintable(key.toString() + u" is given to "_s + owners.value(key) +
                                                           u" and "_s + action->objectName()));
                owners.insert(key, action->objectName());
            }
        }
        for (const char *name : {"openAction", "saveAction", "importListAction", "addRecipientAction",
                                 "removeRecipientAction", "sendAction"})
            QVERIFY2(owners.values().contains(QString::fromLatin1(name)), name);
    }
};

BRISKO_APP_TEST_MAIN(TestAccessibility, true)
#include "tst_accessibility.moc"

#include "Localization.h"
#include "RidorIvuvud.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// Answers the next modal dialog from inside its own loop and records what it showed.
// A dialog still open after five seconds is closed, so a fault fails the test instead
// of hanging it. The timers die with the driver.
struct ModalDriver
{
    bool shown = false, hasCheckBox = false, checkBoxTicked = false;
    QString heading, subHeading;
    QStringList buttons; // sorted
    QTimer poll;

    explicit ModalDriver(std::function<void(QWidget *)> answer)
    {
        QObject::connect(&poll, &QTimer::timeout, [this, answer] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            poll.stop();
            shown = true;
            auto *box = qobject_cast<QMessageBox *>(modal);
            for (QAbstractButton *button : box ? box->buttons() : modal->findChildren<QAbstractButton *>())
                buttons.append(button->text());
            buttons.sort();
            if (box) {
                heading = box->text();
                subHeading = box->informativeText();
                hasCheckBox = box->checkBox() != nullptr;
                checkBoxTicked = hasCheckBox && box->checkBox()->isChecked();
            }
            answer(modal);
        });
        poll.start(5);
        QTimer::singleShot(5000, &poll, [] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->done(0);
        });
    }
};

// Presses the titled button ("Esc": the escape key; null: the program closes the dialog).
std::function<void(QWidget *)> press(const QString &title, bool tick = false)
{
    return [title, tick](QWidget *dialog) {
        if (auto *box = qobject_cast<QMessageBox *>(dialog); tick && box && box->checkBox())
            box->checkBox()->setChecked(true);
        if (title.isNull())
            return static_cast<QDialog *>(dialog)->done(0);
        if (title == u"Esc"_s)
            return QTest::keyClick(dialog, Qt::Key_Escape);
        for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
            if (button->text() == title)
                return button->click();
    };
}

QSettings preferences()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, u"Brisko"_s, u"Brisko"_s);
}

// Keys as callers write them, dots and spaces included: they must be used unchanged.
const QString SuppressionKey = u"Dont Ask.SendTwice"_s;
const char *const UnknownButtonLine = "RidorIvuvud.showDialog Unknown button";

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private:
    QStringList m_lookups;

private Q_SLOTS:
    void init()
    {
        preferences().clear();
        m_lookups.clear();
        brisko::setLocalizeFunction([this](const std::optional<QString> &key) -> std::optional<QString> {
            m_lookups.append(*key);
            return u"<"_s + *key + u">"_s;
        });
    }

    void cleanup() { brisko::setLocalizeFunction({}); }

    // Whatever button closes the dialog, a ticked box stores true under the caller's
    // key as given; from then on the same call shows nothing (and returns -1).
    void suppressionBox_data()
    {
        QTest::addColumn<bool>("simple");
        QTest::addColumn<bool>("tickedBefore"); // suppressionKeyDefault of the simple dialog
        QTest::addColumn<bool>("tick");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("stored");
        QTest::newRow("button dialog, ticked, first") << false << false << true << u"Send"_s << true;
        QTest::newRow("button dialog, ticked, second") << false << false << true << u"Cancel"_s << true;
        QTest::newRow("button dialog, not ticked") << false << false << false << u"Send"_s << false;
        QTest::newRow("simple dialog, ticked") << true << false << true << u"<OK>"_s << true;
        QTest::newRow("simple dialog, ticked by default") << true << true << false << u"<OK>"_s << true;
    }

    void suppressionBox()
    {
        QFETCH(bool, simple);
        QFETCH(bool, tickedBefore);
        QFETCH(bool, tick);
        QFETCH(QString, button);
        QFETCH(bool, stored);
        auto call = [&] {
            if (!simple)
                return RidorIvuvud::showDialog(u"Heading"_s, std::nullopt, u"Send"_s, u"Cancel"_s,
                                               std::nullopt, std::nullopt, SuppressionKey, false);
            RidorIvuvud::showSimpleDialog(u"Heading"_s, std::nullopt, SuppressionKey, false, tickedBefore);
            return 0;
        };
        {
            ModalDriver driver(press(button, tick));
            call();
            QVERIFY(driver.hasCheckBox);
            QCOMPARE(driver.checkBoxTicked, tickedBefore);
        }
        QCOMPARE(preferences().value(SuppressionKey).toBool(), stored);

        ModalDriver again(press(button));
        const int code = call();
        QCOMPARE(again.shown, !stored);
        if (!simple && stored)
            QCOMPARE(code, RidorIvuvud::Suppressed);
    }

    // A fourth title goes with every call and is never shown (nor looked up).
    void buttonDialog_data()
    {
        QTest::addColumn<std::optional<QString>>("button2");
        QTest::addColumn<std::optional<QString>>("button3");
        QTest::addColumn<bool>("localize");
        QTest::addColumn<QStringList>("shown"); // sorted
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<int>("code");
        const std::optional<QString> none, no = u"No"_s, later = u"Later"_s;
        const QStringList yesNo{u"No"_s, u"Yes"_s};
        QTest::newRow("first") << no << none << false << yesNo << u"Yes"_s << 1;
        QTest::newRow("second") << no << none << false << yesNo << u"No"_s << 2;
        QTest::newRow("third") << no << later << false << QStringList{u"Later"_s, u"No"_s, u"Yes"_s}
                               << u"Later"_s << 3;
        QTest::newRow("translated, no second")
            << none << none << true << QStringList{u"<Yes>"_s} << u"<Yes>"_s << 1;
        QTest::newRow("translated, third without second")
            << none << later << true << QStringList{u"<Later>"_s, u"<Yes>"_s} << u"<Later>"_s << 3;
        QTest::newRow("closed by the program") << no << none << false << yesNo << QString() << -999;
        QTest::newRow("escape answers Cancel") << std::optional(u"Cancel"_s) << none << false
                                               << QStringList{u"Cancel"_s, u"Yes"_s} << u"Esc"_s << 2;
    }

    void buttonDialog()
    {
        QFETCH(std::optional<QString>, button2);
        QFETCH(std::optional<QString>, button3);
        QFETCH(bool, localize);
        QFETCH(QStringList, shown);
        QFETCH(QString, pressed);
        QFETCH(int, code);
        ModalDriver driver(press(pressed));
        if (code == RidorIvuvud::UnknownButton)
            QTest::ignoreMessage(QtWarningMsg, UnknownButtonLine);
        QCOMPARE(RidorIvuvud::showDialog(u"Heading"_s, u"Sub"_s, u"Yes"_s, button2, button3, u"Never"_s,
                                         std::nullopt, localize),
                 code);
        QCOMPARE(driver.buttons, shown);
        QCOMPARE(driver.heading, localize ? u"<Heading>"_s : u"Heading"_s);
        QCOMPARE(driver.subHeading, localize ? u"<Sub>"_s : u"Sub"_s);
        QVERIFY(!driver.hasCheckBox);
        QVERIFY(!m_lookups.contains(u"Never"_s));
    }

    void simpleDialog()
    {
        for (bool localize : {false, true}) {
            ModalDriver driver(press(u"<OK>"_s));
            RidorIvuvud::showSimpleDialog(u"HEAD"_s, u"BODY"_s, std::nullopt, localize);
            QCOMPARE(driver.heading, localize ? u"<HEAD>"_s : u"HEAD"_s);
            QCOMPARE(driver.subHeading, localize ? u"<BODY>"_s : u"BODY"_s);
            QCOMPARE(driver.buttons, QStringList{u"<OK>"_s});
            QVERIFY(!driver.hasCheckBox);
        }
        QCOMPARE(m_lookups.count(u"OK"_s), 2); // looked up on every call, translated or not
    }

    // The field opens on "Hello world" with the range selected; "Renamed" is typed, then
    // a button pressed.
    void writableDialog_data()
    {
        QTest::addColumn<RidorIvuvud::TextRange>("range");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<QVariantMap>("result");
        const QString text = u"TEXT"_s, renamed = u"Renamed"_s;
        QTest::newRow("first five selected") << RidorIvuvud::TextRange{0, 5} << u"Hello"_s << u"Save"_s
                                             << QVariantMap{{text, renamed}, {u"RESULT"_s, 1}};
        QTest::newRow("not found selects nothing") << RidorIvuvud::TextRange{} << QString() << u"Cancel"_s
                                                   << QVariantMap{{text, renamed}, {u"RESULT"_s, 2}};
        QTest::newRow("closed by the program")
            << RidorIvuvud::TextRange{} << QString() << QString() << QVariantMap{{text, renamed}};
    }

    void writableDialog()
    {
        QFETCH(RidorIvuvud::TextRange, range);
        QFETCH(QString, selected);
        QFETCH(QString, pressed);
        QFETCH(QVariantMap, result);
        bool fieldFocused = false;
        QString selectedAtOpen = u"no field"_s;
        ModalDriver driver([&](QWidget *dialog) {
            if (auto *field = dialog->findChild<QLineEdit *>()) {
                fieldFocused = dialog->focusWidget() == field;
                selectedAtOpen = field->selectedText();
                field->setText(u"Renamed"_s);
            }
            press(pressed)(dialog);
        });
        if (pressed.isNull())
            QTest::ignoreMessage(QtWarningMsg, UnknownButtonLine);
        const RidorIvuvud::WritableDialogResult answer = RidorIvuvud::showWritableDialog(
            u"Name"_s, u"Choose a name"_s, u"Save"_s, u"Cancel"_s, u"Other"_s, u"Hello world"_s, range);
        QVERIFY(driver.shown && fieldFocused);
        QCOMPARE(selectedAtOpen, selected);
        QCOMPARE(answer.toVariantMap(), result);
    }

    void sheet()
    {
        QWidget window;
        window.show();
        QDialog panel;
        RidorIvuvud::startASheet(&panel, &window, this);
        QVERIFY(panel.isVisible() && panel.isWindow());
        QCOMPARE(panel.parentWidget(), &window);
        QCOMPARE(panel.windowModality(), Qt::WindowModal);
        RidorIvuvud::stopASheet(&panel);
        QVERIFY(!panel.isVisible());

        QWidget loose;
        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.startASheet - Panel is nil");
        RidorIvuvud::startASheet(nullptr, &window, nullptr);
        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.startASheet - Window is nil");
        RidorIvuvud::startASheet(&loose, nullptr, nullptr);
        QVERIFY(!loose.isVisible());
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"

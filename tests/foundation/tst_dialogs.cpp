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

// Answers the next modal dialog and records what it showed: ticks its box if asked, lets `touch`
// act, then presses `title` ("Esc": the escape key; null: the program closes the dialog).
// A dialog still open after five seconds is closed, so a fault fails instead of hanging.
struct ModalDriver
{
    bool shown = false, hasCheckBox = false, checkBoxTicked = false;
    QString heading, subHeading;
    QStringList buttons; // sorted
    QTimer poll;

    explicit ModalDriver(const QString &title, bool tick = false, std::function<void(QDialog *)> touch = {})
    {
        QObject::connect(&poll, &QTimer::timeout, [=, this] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog || !dialog->isVisible())
                return;
            poll.stop();
            shown = true;
            if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
                heading = box->text();
                subHeading = box->informativeText();
                for (QAbstractButton *button : box->buttons())
                    buttons.append(button->text());
                buttons.sort();
                hasCheckBox = box->checkBox();
                checkBoxTicked = hasCheckBox && box->checkBox()->isChecked();
                if (tick && hasCheckBox)
                    box->checkBox()->setChecked(true);
            }
            if (touch)
                touch(dialog);
            if (title.isNull())
                return dialog->done(0);
            if (title == u"Esc"_s)
                return QTest::keyClick(dialog, Qt::Key_Escape);
            for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
                if (button->text() == title)
                    return button->click();
        });
        poll.start(5);
        QTimer::singleShot(5000, &poll, [] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->done(0);
        });
    }
};

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

    // Whatever button closes it, a ticked box stores true under the key as given; then nothing shows.
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
            ModalDriver driver(button, tick);
            call();
            QVERIFY(driver.hasCheckBox);
            QCOMPARE(driver.checkBoxTicked, tickedBefore);
        }
        QCOMPARE(preferences().value(SuppressionKey).toBool(), stored);

        ModalDriver again(button);
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
        QTest::newRow("three, second")
            << no << later << false << QStringList{u"Later"_s, u"No"_s, u"Yes"_s} << u"No"_s << 2;
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
        ModalDriver driver(pressed);
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

    // The field opens on "Hello world" with the range selected; "Renamed" is typed, a button pressed.
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
        ModalDriver driver(pressed, false, [&](QDialog *dialog) {
            if (auto *field = dialog->findChild<QLineEdit *>()) {
                fieldFocused = dialog->focusWidget() == field;
                selectedAtOpen = field->selectedText();
                field->setText(u"Renamed"_s);
            }
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

#include "Localization.h"
#include "RidorIvuvud.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

// What a modal dialog showed when it came up.
struct Seen
{
    bool shown = false;
    QString heading;
    QString subHeading;
    QStringList buttons;
    bool hasCheckBox = false;
    bool checkBoxTicked = false;
};

// Waits for a modal dialog inside the dialog's own loop, records it and answers it.
// A dialog still open after the answer (or one never answered) is closed by the
// watchdog, so a fault fails the test instead of hanging it. Timers die with the driver.
class ModalDriver
{
public:
    explicit ModalDriver(std::function<void(QWidget *)> answer)
        : m_answer(std::move(answer))
    {
        m_poll.setInterval(5);
        QObject::connect(&m_poll, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            m_poll.stop();
            record(modal);
            m_answer(modal);
        });
        m_poll.start();

        m_watchdog.setSingleShot(true);
        m_watchdog.setInterval(5000);
        QObject::connect(&m_watchdog, &QTimer::timeout, [] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                dialog->done(0);
        });
        m_watchdog.start();
    }

    const Seen &seen() const { return m_seen; }

private:
    void record(QWidget *modal)
    {
        m_seen.shown = true;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            m_seen.heading = box->text();
            m_seen.subHeading = box->informativeText();
            for (QAbstractButton *button : box->buttons())
                m_seen.buttons.append(button->text());
            m_seen.hasCheckBox = box->checkBox() != nullptr;
            m_seen.checkBoxTicked = m_seen.hasCheckBox && box->checkBox()->isChecked();
        } else {
            for (QPushButton *button : modal->findChildren<QPushButton *>())
                m_seen.buttons.append(button->text());
        }
    }

    std::function<void(QWidget *)> m_answer;
    QTimer m_poll;
    QTimer m_watchdog;
    Seen m_seen;
};

QAbstractButton *buttonTitled(QWidget *dialog, const QString &title)
{
    for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>())
        if (button->text() == title)
            return button;
    return nullptr;
}

std::function<void(QWidget *)> press(const QString &title, bool tick = false)
{
    return [title, tick](QWidget *dialog) {
        if (tick)
            if (auto *box = qobject_cast<QMessageBox *>(dialog); box && box->checkBox())
                box->checkBox()->setChecked(true);
        if (QAbstractButton *button = buttonTitled(dialog, title))
            button->click();
    };
}

QVariant storedPreference(const QString &key)
{
    QSettings preferences(QSettings::NativeFormat, QSettings::UserScope, u"Brisko"_s, u"Brisko"_s);
    return preferences.value(key);
}

void storePreference(const QString &key, const QVariant &value)
{
    QSettings preferences(QSettings::NativeFormat, QSettings::UserScope, u"Brisko"_s, u"Brisko"_s);
    preferences.setValue(key, value);
}

// Keys as callers write them, dots and spaces included: they must be used unchanged.
const QString SuppressionKey = u"Dont Ask.SendTwice"_s;

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private:
    QStringList m_lookups;

private Q_SLOTS:
    void init()
    {
        QSettings preferences(QSettings::NativeFormat, QSettings::UserScope, u"Brisko"_s, u"Brisko"_s);
        preferences.clear();
        m_lookups.clear();
        brisko::setLocalizeFunction([this](const std::optional<QString> &key) -> std::optional<QString> {
            m_lookups.append(*key);
            return u"<"_s + *key + u">"_s;
        });
    }

    void cleanup() { brisko::setLocalizeFunction({}); }

    void suppressedDialogShowsNothing_data()
    {
        QTest::addColumn<bool>("simple");
        QTest::newRow("button dialog") << false;
        QTest::newRow("simple dialog") << true;
    }

    void suppressedDialogShowsNothing()
    {
        QFETCH(bool, simple);
        storePreference(SuppressionKey, true);
        ModalDriver driver(press(u"<OK>"_s));
        if (simple) {
            RidorIvuvud::showSimpleDialog(u"Heading"_s, u"Sub"_s, SuppressionKey, true);
        } else {
            QCOMPARE(RidorIvuvud::showDialog(u"Heading"_s, u"Sub"_s, u"Send"_s, u"Cancel"_s, std::nullopt,
                                             std::nullopt, SuppressionKey, false),
                     RidorIvuvud::Suppressed);
        }
        QVERIFY(!driver.seen().shown);
    }

    // Whatever button closes the dialog, a ticked box stores true under the caller's
    // key as given, and the same call is suppressed from then on.
    void suppressionBoxStoresKey_data()
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
        QTest::newRow("simple dialog, not ticked") << true << false << false << u"<OK>"_s << false;
        QTest::newRow("simple dialog, ticked by default") << true << true << false << u"<OK>"_s << true;
    }

    void suppressionBoxStoresKey()
    {
        QFETCH(bool, simple);
        QFETCH(bool, tickedBefore);
        QFETCH(bool, tick);
        QFETCH(QString, button);
        QFETCH(bool, stored);

        auto call = [&] {
            if (simple) {
                RidorIvuvud::showSimpleDialog(u"Heading"_s, std::nullopt, SuppressionKey, false, tickedBefore);
                return 0;
            }
            return RidorIvuvud::showDialog(u"Heading"_s, std::nullopt, u"Send"_s, u"Cancel"_s, std::nullopt,
                                           std::nullopt, SuppressionKey, false);
        };

        {
            ModalDriver driver(press(button, tick));
            call();
            QVERIFY(driver.seen().hasCheckBox);
            QCOMPARE(driver.seen().checkBoxTicked, tickedBefore);
        }
        QCOMPARE(storedPreference(SuppressionKey).toBool(), stored);

        ModalDriver again(press(button));
        const int code = call();
        QCOMPARE(again.seen().shown, !stored);
        if (!simple && stored)
            QCOMPARE(code, RidorIvuvud::Suppressed);
    }

    void buttonDialog_data()
    {
        QTest::addColumn<std::optional<QString>>("button2");
        QTest::addColumn<std::optional<QString>>("button3");
        QTest::addColumn<std::optional<QString>>("button4");
        QTest::addColumn<bool>("localize");
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<int>("code");

        const std::optional<QString> none;
        QTest::newRow("first") << std::optional(u"No"_s) << none << none << false
                               << QStringList{u"Yes"_s, u"No"_s} << u"Yes"_s << 1;
        QTest::newRow("second") << std::optional(u"No"_s) << none << none << false
                                << QStringList{u"Yes"_s, u"No"_s} << u"No"_s << 2;
        QTest::newRow("third of four titles")
            << std::optional(u"No"_s) << std::optional(u"Later"_s) << std::optional(u"Never"_s) << false
            << QStringList{u"Yes"_s, u"No"_s, u"Later"_s} << u"Later"_s << 3;
        QTest::newRow("translated, no second") << none << none << none << true << QStringList{u"<Yes>"_s}
                                               << u"<Yes>"_s << 1;
        QTest::newRow("translated, third without second")
            << none << std::optional(u"Later"_s) << none << true << QStringList{u"<Yes>"_s, u"<Later>"_s}
            << u"<Later>"_s << 3;
    }

    void buttonDialog()
    {
        QFETCH(std::optional<QString>, button2);
        QFETCH(std::optional<QString>, button3);
        QFETCH(std::optional<QString>, button4);
        QFETCH(bool, localize);
        QFETCH(QStringList, shown);
        QFETCH(QString, pressed);
        QFETCH(int, code);

        ModalDriver driver(press(pressed));
        QCOMPARE(RidorIvuvud::showDialog(u"Heading"_s, u"Sub"_s, u"Yes"_s, button2, button3, button4,
                                         std::nullopt, localize),
                 code);
        QStringList buttons = driver.seen().buttons;
        buttons.sort();
        shown.sort();
        QCOMPARE(buttons, shown);
        QCOMPARE(driver.seen().heading, localize ? u"<Heading>"_s : u"Heading"_s);
        QCOMPARE(driver.seen().subHeading, localize ? u"<Sub>"_s : u"Sub"_s);
        QVERIFY(!driver.seen().hasCheckBox);
        QVERIFY(!m_lookups.contains(u"Never"_s));
    }

    void otherEndings_data()
    {
        QTest::addColumn<QString>("button2");
        QTest::addColumn<bool>("escape");
        QTest::addColumn<int>("code");
        QTest::newRow("closed by the program") << u"No"_s << false << RidorIvuvud::UnknownButton;
        QTest::newRow("escape answers Cancel") << u"Cancel"_s << true << RidorIvuvud::SecondButton;
    }

    void otherEndings()
    {
        QFETCH(QString, button2);
        QFETCH(bool, escape);
        QFETCH(int, code);
        if (code == RidorIvuvud::UnknownButton)
            QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.showDialog Unknown button");
        ModalDriver driver([escape](QWidget *dialog) {
            if (escape)
                QTest::keyClick(dialog, Qt::Key_Escape);
            else
                static_cast<QDialog *>(dialog)->reject();
        });
        QCOMPARE(RidorIvuvud::showDialog(u"Heading"_s, std::nullopt, u"Yes"_s, button2), code);
    }

    void simpleDialog()
    {
        {
            ModalDriver driver(press(u"<OK>"_s));
            RidorIvuvud::showSimpleDialog(u"Only a heading"_s);
            QCOMPARE(driver.seen().heading, u"Only a heading"_s);
            QVERIFY(driver.seen().subHeading.isEmpty());
            QCOMPARE(driver.seen().buttons, QStringList{u"<OK>"_s});
            QVERIFY(!driver.seen().hasCheckBox);
        }
        {
            ModalDriver driver(press(u"<OK>"_s));
            RidorIvuvud::showSimpleDialog(u"HEAD"_s, u"BODY"_s, std::nullopt, true);
            QCOMPARE(driver.seen().heading, u"<HEAD>"_s);
            QCOMPARE(driver.seen().subHeading, u"<BODY>"_s);
        }
        // The button's title is looked up on every call, translated or not.
        QCOMPARE(m_lookups.count(u"OK"_s), 2);
    }

    void writableDialog_data()
    {
        QTest::addColumn<QString>("startText");
        QTest::addColumn<qint64>("location");
        QTest::addColumn<qint64>("length");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("typed"); // replaces the text before a button is pressed
        QTest::addColumn<QString>("pressed");
        QTest::addColumn<QVariantMap>("result");

        QTest::newRow("first five selected")
            << u"Hello world"_s << qint64(0) << qint64(5) << u"Hello"_s << QString() << u"Save"_s
            << QVariantMap{{u"TEXT"_s, u"Hello world"_s}, {u"RESULT"_s, 1}};
        QTest::newRow("not found selects nothing")
            << u"Hello world"_s << RidorIvuvud::NotFound << qint64(0) << QString() << u"Renamed"_s << u"Cancel"_s
            << QVariantMap{{u"TEXT"_s, u"Renamed"_s}, {u"RESULT"_s, 2}};
        QTest::newRow("length past the end")
            << u"Hello world"_s << qint64(6) << qint64(100) << u"world"_s << QString() << u"Other"_s
            << QVariantMap{{u"TEXT"_s, u"Hello world"_s}, {u"RESULT"_s, 3}};
        QTest::newRow("closed by the program") << u"abc"_s << RidorIvuvud::NotFound << qint64(0) << QString()
                                               << QString() << QString() << QVariantMap{{u"TEXT"_s, u"abc"_s}};
    }

    void writableDialog()
    {
        QFETCH(QString, startText);
        QFETCH(qint64, location);
        QFETCH(qint64, length);
        QFETCH(QString, selected);
        QFETCH(QString, typed);
        QFETCH(QString, pressed);
        QFETCH(QVariantMap, result);

        bool fieldFocused = false;
        QString selectedAtOpen;
        ModalDriver driver([&](QWidget *dialog) {
            auto *field = dialog->findChild<QLineEdit *>();
            if (!field)
                return;
            fieldFocused = dialog->focusWidget() == field;
            selectedAtOpen = field->selectedText();
            if (!typed.isNull())
                field->setText(typed);
            if (pressed.isEmpty())
                static_cast<QDialog *>(dialog)->done(0);
            else
                press(pressed)(dialog);
        });
        if (!result.contains(u"RESULT"_s))
            QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.showDialog Unknown button");

        const RidorIvuvud::WritableDialogResult answer =
            RidorIvuvud::showWritableDialog(u"Name"_s, u"Choose a name"_s, u"Save"_s, u"Cancel"_s,
                                            pressed == u"Other"_s ? std::optional(u"Other"_s) : std::nullopt,
                                            startText, {location, length});
        QVERIFY(driver.seen().shown);
        QVERIFY(fieldFocused);
        QCOMPARE(selectedAtOpen, selected);
        QCOMPARE(answer.toVariantMap(), result);
    }

    void sheet()
    {
        QWidget window;
        window.show();
        QDialog panel;

        RidorIvuvud::startASheet(&panel, &window, this);
        QVERIFY(panel.isVisible());
        QVERIFY(panel.isWindow());
        QCOMPARE(panel.parentWidget(), &window);
        QCOMPARE(panel.windowModality(), Qt::WindowModal);
        QVERIFY(!QApplication::activeModalWidget() || QApplication::activeModalWidget() == &panel);

        RidorIvuvud::stopASheet(&panel);
        QVERIFY(!panel.isVisible());
    }

    void sheetWithoutPanelOrWindow()
    {
        QWidget window;
        QWidget panel;
        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.startASheet - Panel is nil");
        RidorIvuvud::startASheet(nullptr, &window, nullptr);
        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.startASheet - Window is nil");
        RidorIvuvud::startASheet(&panel, nullptr, nullptr);
        QVERIFY(!panel.isVisible());
        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.startASheet - Panel is nil");
        QTest::ignoreMessage(QtWarningMsg, "RidorIvuvud.startASheet - Window is nil");
        RidorIvuvud::startASheet(nullptr, nullptr, nullptr);
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"

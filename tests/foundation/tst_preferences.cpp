#include "Bundle.h"
#include "FennimarBundles.h"
#include "FennimarEvents.h"
#include "FennimarNotifications.h"
#include "FennimarObject.h"
#include "FennimarUserDefaults.h"
#include "RidorIvuvudPreferences.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QWidget>

#include <functional>

using namespace Qt::StringLiterals;
namespace UD = FennimarUserDefaults;

namespace {

const char *const NilNameLine =
    "You have passed nil as the name, Apple claims this can cause performance problems, please don't do it.";

struct Listener : LocalObserver
{
    QStringList heard;
    std::function<void()> onHeard;
    void easyNotifications(const LocalNotification &notification) override
    {
        heard << notification.name + u'=' + notification.object.toString();
        if (onHeard)
            onHeard();
    }
};

// Records the modifier tests as they answer inside the handling of a click.
struct ModifierProbe : QWidget
{
    QList<bool> answers; // shift, control, option, command
    bool mouseDown = false;
    void mousePressEvent(QMouseEvent *) override
    {
        answers = {FennimarEvents::isShiftPressed(), FennimarEvents::isControlPressed(),
                   FennimarEvents::isOptionPressed(), FennimarEvents::isCommandPressed()};
        mouseDown = FennimarEvents::isMouseDown();
    }
};

} // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { UD::settings()->clear(); }

    // Values come back as the other process left them in the file: as text.
    void typedReads_data()
    {
        QTest::addColumn<QVariant>("stored"); // invalid: nothing stored
        QTest::addColumn<int>("asInt");       // default 7
        QTest::addColumn<bool>("asBool");     // default true
        QTest::newRow("absent") << QVariant() << 7 << true;
        QTest::newRow("digits") << QVariant(u"12"_s) << 12 << true;
        QTest::newRow("digits then text") << QVariant(u" -12abc"_s) << -12 << true;
        QTest::newRow("zero") << QVariant(u"000"_s) << 0 << false;
        QTest::newRow("words") << QVariant(u"yes"_s) << 0 << true;
        QTest::newRow("false") << QVariant(u"false"_s) << 0 << false;
        QTest::newRow("too large") << QVariant(u"99999999999"_s) << INT_MAX << true;
        QTest::newRow("a list") << QVariant(QStringList{u"1"_s, u"2"_s}) << 0 << false;
    }

    void typedReads()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, asInt);
        QFETCH(bool, asBool);
        if (stored.isValid()) {
            QSettings other(UD::settingsFilePath(), QSettings::IniFormat);
            other.setValue(u"Key"_s, stored);
        }
        QCOMPARE(UD::intForKey(u"Key"_s, 7), asInt);
        QCOMPARE(UD::boolForKey(u"Key"_s, true), asBool);
    }

    void typedWrites()
    {
        UD::setBool(false, u"Flag"_s);
        QCOMPARE(UD::boolForKey(u"Flag"_s, true), false);
        UD::setInt(-42, u"Count"_s);
        QCOMPARE(UD::intForKey(u"Count"_s, 0), -42);
        QCOMPARE(RidorIvuvud::getPrefObjectForKey(u"Count"_s).toInt(), -42);
        RidorIvuvud::setPrefObject(u"x"_s, u"Text"_s);
        QCOMPARE(UD::objectForKey(u"Text"_s), QVariant(u"x"_s));
    }

    void colourPreference()
    {
        const QColor fallback(1, 2, 3);
        QCOMPARE(RidorIvuvud::getPrefColorForKey(u"Tint"_s, fallback), fallback);
        RidorIvuvud::setPrefObject(RidorIvuvud::archivedColor(QColor(10, 20, 30, 40)), u"Tint"_s);
        QCOMPARE(RidorIvuvud::getPrefColorForKey(u"Tint"_s, fallback), QColor(10, 20, 30, 40));
        RidorIvuvud::setPrefObject(QByteArray("junk"), u"Tint"_s);
        QCOMPARE(RidorIvuvud::getPrefColorForKey(u"Tint"_s, fallback), fallback);
    }

    void localNotifications()
    {
        Listener byName, everything;
        FennimarNotifications::addObserver(&byName, u"Saved"_s);
        QTest::ignoreMessage(QtWarningMsg, NilNameLine);
        FennimarNotifications::addObserver(&everything, std::nullopt);
        FennimarNotifications::postNotification(u"Saved"_s, u"a"_s, true);
        FennimarNotifications::postNotification(u"Other"_s, u"b"_s);
        QCOMPARE(byName.heard, QStringList{u"Saved=a"_s});
        QCOMPARE(everything.heard, (QStringList{u"Saved=a"_s, u"Other=b"_s}));

        // An observer that leaves (or is gone) while a post is under way is not called.
        byName.onHeard = [&] { FennimarNotifications::removeObserver(&everything); };
        FennimarNotifications::postNotification(u"Saved"_s, u"c"_s);
        QCOMPARE(everything.heard.size(), 2);
        {
            Listener shortLived;
            FennimarNotifications::addObserver(&shortLived, u"Saved"_s);
        }
        FennimarNotifications::postNotification(u"Saved"_s, u"d"_s);
        QCOMPARE(byName.heard.last(), u"Saved=d"_s);
    }

    void bundles()
    {
        QCOMPARE(FennimarBundles::pathToFileInBundle(u"HelpFiles"_s), brisko::Bundle::resourcePath() + u"/HelpFiles"_s);

        FennimarObject owner;
        QTest::ignoreMessage(QtWarningMsg, "Could not load bundle:(null)");
        QVERIFY(FennimarBundles::loadNibNamed(u"NoSuchPanel"_s, &owner));
        QVERIFY(owner.retainedObjects().isEmpty());

        QVERIFY(FennimarBundles::loadNibNamed(u"ProgressPanel"_s, &owner));
        QCOMPARE(owner.retainedObjects().size(), 1);
        QPointer<QObject> panel = owner.retainedObjects().first();
        QVERIFY(qobject_cast<QWidget *>(panel));
        owner.releaseRetainedObjects();
        QVERIFY(owner.retainedObjects().isEmpty());
        QVERIFY(!panel);

        QVERIFY(!FennimarBundles::loadObjectFromBundle(u"/nonexistent/plugin.so"_s));
    }

    // The modifiers are those of the click being handled, whatever the keyboard says now.
    void modifiersOfTheEventBeingHandled_data()
    {
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QList<bool>>("answers");
        QTest::newRow("none") << int(Qt::NoModifier) << QList<bool>{false, false, false, false};
        QTest::newRow("shift") << int(Qt::ShiftModifier) << QList<bool>{true, false, false, false};
        QTest::newRow("control and alt")
            << int(Qt::ControlModifier | Qt::AltModifier) << QList<bool>{false, true, true, false};
        QTest::newRow("super") << int(Qt::MetaModifier) << QList<bool>{false, false, false, true};
    }

    void modifiersOfTheEventBeingHandled()
    {
        QFETCH(int, modifiers);
        QFETCH(QList<bool>, answers);
        ModifierProbe probe;
        probe.show();
        QVERIFY(QTest::qWaitForWindowExposed(&probe));
        QTest::ignoreMessage(QtWarningMsg, "FennimarEvents.isMouseDown DOES NOT WORK!!!");
        QTest::ignoreMessage(QtWarningMsg, "[currentEvent buttonNumber]:1");
        QTest::ignoreMessage(QtWarningMsg, "[currentEvent buttonNumber] == 1:YES");
        QTest::mouseClick(&probe, Qt::RightButton, Qt::KeyboardModifiers(modifiers));
        QCOMPARE(probe.answers, answers);
        QVERIFY(probe.mouseDown);
        QCOMPARE(FennimarEvents::modifierFlags() != 0, modifiers != 0);
    }
};

QTEST_MAIN(TestPreferences)
#include "tst_preferences.moc"

// The message editors at window level: mark-up commands, placeholder pull-downs, the HTML
// preview and the HTML hand-over.

#include "AppTestMain.h"

#include <QDir>
#include <QWebEnginePage>
#include <QWebEngineView>

using namespace brisko;
using namespace brisko::test;

class TestMessageEditor : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // The editor's text with its selection between two "|", and the other way round.
    static QString marked(QPlainTextEdit *editor)
    {
        const QTextCursor cursor = editor->textCursor();
        return editor->toPlainText()
            .insert(cursor.selectionEnd(), u'|')
            .insert(cursor.selectionStart(), u'|');
    }
    static void setMarked(QPlainTextEdit *editor, QString text)
    {
        const int start = int(text.indexOf(u'|')), end = int(text.indexOf(u'|', start + 1)) - 1;
        editor->setPlainText(text.remove(u'|'));
        QTextCursor cursor(editor->document());
        cursor.setPosition(start);
        cursor.setPosition(end, QTextCursor::KeepAnchor);
        editor->setTextCursor(cursor);
    }
    // Waits until the preview's page, as the web view serialises it, holds the text.
    static bool previewShows(const QString &text)
    {
        return QTest::qWaitFor(
            [&] {
                QString html;
                app()->htmlPreviewView()->page()->toHtml([&](const QString &result) { html = result; });
                return QTest::qWaitFor([&] { return !html.isNull(); }, 5000) && html.contains(text);
            },
            10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        app()->window()->show();
        QVERIFY(QTest::qWaitForWindowActive(app()->window()));
    }

    // Each command by its menu item, wherever the focus is, and by its key in the HTML
    // editor. The selection stays on the text it covered; one undo takes the wrap back.
    void wrap_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after");
        QTest::newRow("bold across lines")
            << u"boldAction"_qs << QKeySequence(u"Ctrl+B"_qs) << u"ä\n|öü\nx|"_qs << u"ä\n<b>|öü\nx|</b>"_qs;
        QTest::newRow("italic at an insertion point") << u"italicAction"_qs << QKeySequence(u"Ctrl+I"_qs)
                                                      << u"say ||hello"_qs << u"say <i>||</i>hello"_qs;
        QTest::newRow("line break before a word") << u"lineBreakAction"_qs << QKeySequence(u"Ctrl+Return"_qs)
                                                  << u"one |two|"_qs << u"one <br>|two|"_qs;
    }

    void wrap()
    {
        QFETCH(QString, action);
        QFETCH(QKeySequence, key);
        QFETCH(QString, before);
        QFETCH(QString, after);
        QPlainTextEdit *html = app()->htmlView();
        app()->bodyView()->setPlainText(u"untouched"_qs);
        setMarked(html, before);
        app()->bodyView()->setFocus();
        app()->window()->findChild<QAction *>(action)->trigger();
        QCOMPARE(marked(html), after);
        setMarked(html, before);
        html->setFocus();
        QTest::keySequence(html, key);
        QCOMPARE(marked(html), after);
        QCOMPARE(app()->campaign().html(), QString(after).remove(u'|'));
        QCOMPARE(app()->bodyView()->toPlainText(), u"untouched"_qs);
        html->undo();
        QCOMPARE(html->toPlainText(), QString(before).remove(u'|'));
    }

    void placeholderPullDowns()
    {
        auto *text = app()->window()->findChild<QComboBox *>(u"placeHoldersForTextPopUp"_qs);
        auto *html = app()->window()->findChild<QComboBox *>(u"placeHoldersForHTMLPopUp"_qs);
        app()->setupTableColumns({u"EMAIL"_qs, u"FIRST NAME"_qs});
        app()->importDone();
        // EMAIL in the plain-text list, at an insertion point.
        setMarked(app()->bodyView(), u"Hi ||, bye"_qs);
        text->setFocus();
        QTest::keyClick(text, Qt::Key_Down);
        QCOMPARE(app()->bodyView()->toPlainText(), u"Hi __EMAIL__, bye"_qs);
        // Typing goes on in the editor just after the token, not in the list.
        QTRY_COMPARE(QApplication::focusWidget(), app()->bodyView());
        QTest::keyClicks(QApplication::focusWidget(), u"c"_qs);
        QCOMPARE(app()->bodyView()->toPlainText(), u"Hi __EMAIL__c, bye"_qs);
        QCOMPARE(text->currentIndex(), 0);
        // The HTML list puts the token before a selection, which stays selected.
        setMarked(app()->htmlView(), u"<p>Dear |you|</p>"_qs);
        QTest::keyClick(html, Qt::Key_End);
        QCOMPARE(marked(app()->htmlView()), u"<p>Dear __FIRST NAME__|you|</p>"_qs);
        QCOMPARE(html->currentIndex(), 0); // the title shows again
    }

    void previewFollowsEditsButNotLoads()
    {
        QSignalSpy started(app()->htmlPreviewView(), &QWebEngineView::loadStarted);
        // Typing in the HTML editor; scripts in the page do not run.
        setMarked(app()->htmlView(), u"<title>t</title><script>document.title = 'ran';</script>||"_qs);
        QTest::keyClicks(app()->htmlView(), u"<p>typed</p>"_qs);
        QVERIFY(previewShows(u"<p>typed</p>"_qs));
        QCOMPARE(app()->htmlPreviewView()->title(), u"t"_qs);
        // An edit of the plain-text body refreshes it too.
        started.clear();
        QTest::keyClicks(app()->bodyView(), u"x"_qs);
        QTRY_VERIFY(!started.isEmpty());

        // Loading a campaign sets the editor but leaves the page as it was.
        QTest::qWait(300);
        started.clear();
        CampaignDocument loaded;
        loaded.html = u"<p>loaded</p>"_qs;
        app()->campaign().apply(loaded);
        QTest::qWait(500);
        QCOMPARE(started.size(), 0);
        QVERIFY(previewShows(u"<p>typed</p>"_qs));
    }

    void importHTMLPath_data()
    {
        QTest::addColumn<QString>("written"); // where the file is; empty: no file
        QTest::addColumn<QString>("handedOver");
        QTest::addColumn<QString>("expected");
        const QString dir = m_dir.path();
        QTest::newRow("utf-8") << dir + u"/a.html"_qs << dir + u"/a.html"_qs << u"<p>Grüße</p>"_qs;
        QTest::newRow("home folder") << QDir::homePath() + u"/h.html"_qs << u"~/h.html"_qs
                                     << u"<p>home</p>"_qs;
        QTest::newRow("unreadable") << QString() << dir + u"/gone.html"_qs << u"<p>before</p>"_qs;
    }

    void importHTMLPath()
    {
        QFETCH(QString, written);
        QFETCH(QString, handedOver);
        QFETCH(QString, expected);
        QFile file(written);
        QVERIFY(written.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(expected.toUtf8()) > 0));
        file.close();
        app()->bodyView()->setPlainText(u"plain stays"_qs);
        app()->htmlView()->setPlainText(u"<p>before</p>"_qs);
        QVERIFY(previewShows(u"<p>before</p>"_qs));
        QSignalSpy handed(app(), &BriskoApplication::htmlPathImported);
        app()->importHTMLPath(handedOver);
        QCOMPARE(app()->htmlView()->toPlainText(), expected);
        QCOMPARE(app()->bodyView()->toPlainText(), u"plain stays"_qs);
        QCOMPARE(handed.size(), 1);
        QVERIFY(previewShows(expected));
    }
};

BRISKO_APP_TEST_MAIN(TestMessageEditor, true)

#include "tst_messageeditor.moc"

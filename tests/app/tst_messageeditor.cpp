// The message editors at window level: wrapping, the mark-up shortcuts, the placeholder
// pull-downs, the live HTML preview and the HTML hand-over.

#include "BriskoApplication.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCursor>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

using namespace brisko;

namespace {

BriskoApplication *app()
{
    return BriskoApplication::instance();
}

void setText(QPlainTextEdit *editor, const QString &text, int start, int length)
{
    editor->setPlainText(text);
    QTextCursor cursor(editor->document());
    cursor.setPosition(start);
    cursor.setPosition(start + length, QTextCursor::KeepAnchor);
    editor->setTextCursor(cursor);
}

QString selected(QPlainTextEdit *editor)
{
    return editor->textCursor().selectedText();
}

QComboBox *popUp(const char *name)
{
    return app()->window()->findChild<QComboBox *>(QLatin1StringView(name));
}

// What the preview's page holds now, as the web view serialises it.
QString previewHtml()
{
    QString html;
    bool done = false;
    app()->htmlPreviewView()->page()->toHtml([&](const QString &result) {
        html = result;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 5000))
        return u"<timed out>"_qs;
    return html;
}

bool previewShows(const QString &text)
{
    return QTest::qWaitFor([&] { return previewHtml().contains(text); }, 10000);
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

} // namespace

class TestMessageEditor : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void wrapHtmlSelection_data();
    void wrapHtmlSelection();
    void wrapPlainTextTouchesOnlyTheBody();
    void wrapIsOneUndoStep();
    void shortcutActions_data();
    void shortcutActions();
    void placeholderPullDowns();
    void previewFollowsEditsButNotLoads();
    void previewRunsNoScript();
    void importHTMLPath_data();
    void importHTMLPath();
    void unreadableHandOverChangesNothing();

private:
    QTemporaryDir m_dir;
};

void TestMessageEditor::initTestCase()
{
    QVERIFY(m_dir.isValid());
    app()->window()->show();
    QVERIFY(QTest::qWaitForWindowExposed(app()->window()));
}

void TestMessageEditor::init()
{
    app()->campaign().setField(Campaign::Field::Body, QString());
    app()->campaign().setField(Campaign::Field::Html, QString());
}

void TestMessageEditor::wrapHtmlSelection_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("selectionAfter");
    QTest::newRow("bold word in the middle") << u"say hello there"_qs << 4 << 5 << u"bold"_qs
                                             << u"say <b>hello</b> there"_qs << u"hello"_qs;
    QTest::newRow("italic at an insertion point") << u"say hello"_qs << 4 << 0 << u"italic"_qs
                                                  << u"say <i></i>hello"_qs << QString();
    QTest::newRow("line break before a word") << u"one two"_qs << 4 << 3 << u"insertBR"_qs << u"one <br>two"_qs
                                              << u"two"_qs;
    QTest::newRow("line break at an insertion point") << u"one two"_qs << 3 << 0 << u"insertBR"_qs
                                                      << u"one<br> two"_qs << QString();
    QTest::newRow("bold the whole text") << u"all"_qs << 0 << 3 << u"bold"_qs << u"<b>all</b>"_qs << u"all"_qs;
    QTest::newRow("italic at the end") << u"end"_qs << 3 << 0 << u"italic"_qs << u"end<i></i>"_qs << QString();
    QTest::newRow("empty editor") << QString() << 0 << 0 << u"bold"_qs << u"<b></b>"_qs << QString();
    QTest::newRow("across lines and non-Latin text") << u"ä\nöü\nx"_qs << 2 << 4 << u"bold"_qs
                                                     << u"ä\n<b>öü\nx</b>"_qs << u"öü\u2029x"_qs;
}

void TestMessageEditor::wrapHtmlSelection()
{
    QFETCH(QString, text);
    QFETCH(int, start);
    QFETCH(int, length);
    QFETCH(QString, command);
    QFETCH(QString, expected);
    QFETCH(QString, selectionAfter);
    setText(app()->htmlView(), text, start, length);
    app()->bodyView()->setPlainText(u"body"_qs);

    if (command == u"bold")
        app()->bold();
    else if (command == u"italic")
        app()->italic();
    else
        app()->insertBR();

    QCOMPARE(app()->htmlView()->toPlainText(), expected);
    QCOMPARE(app()->campaign().html(), expected);
    QCOMPARE(selected(app()->htmlView()), selectionAfter);
    QCOMPARE(app()->bodyView()->toPlainText(), u"body"_qs);
}

void TestMessageEditor::wrapPlainTextTouchesOnlyTheBody()
{
    setText(app()->bodyView(), u"Dear friend"_qs, 5, 6);
    app()->htmlView()->setPlainText(u"<p>x</p>"_qs);
    app()->wrapSelectedPlainTextIn(u"[["_qs, u"]]"_qs);
    QCOMPARE(app()->bodyView()->toPlainText(), u"Dear [[friend]]"_qs);
    app()->wrapSelectedPlainTextIn(u"__NAME__"_qs, std::nullopt);
    QCOMPARE(app()->bodyView()->toPlainText(), u"Dear [[__NAME__friend]]"_qs);
    QCOMPARE(app()->campaign().body(), u"Dear [[__NAME__friend]]"_qs);
    QCOMPARE(app()->htmlView()->toPlainText(), u"<p>x</p>"_qs);
}

void TestMessageEditor::wrapIsOneUndoStep()
{
    setText(app()->htmlView(), u"a word"_qs, 2, 4);
    app()->bold();
    QCOMPARE(app()->htmlView()->toPlainText(), u"a <b>word</b>"_qs);
    app()->htmlView()->undo();
    QCOMPARE(app()->htmlView()->toPlainText(), u"a word"_qs);
}

void TestMessageEditor::shortcutActions_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QKeySequence>("shortcut");
    QTest::addColumn<QString>("expected");
    QTest::newRow("bold") << u"boldAction"_qs << QKeySequence(u"Ctrl+B"_qs) << u"x <b>word</b>"_qs;
    QTest::newRow("italic") << u"italicAction"_qs << QKeySequence(u"Ctrl+I"_qs) << u"x <i>word</i>"_qs;
    QTest::newRow("line break") << u"lineBreakAction"_qs << QKeySequence(u"Ctrl+Return"_qs) << u"x <br>word"_qs;
}

void TestMessageEditor::shortcutActions()
{
    QFETCH(QString, action);
    QFETCH(QKeySequence, shortcut);
    QFETCH(QString, expected);
    auto *command = app()->window()->findChild<QAction *>(action);
    QVERIFY(command);
    QVERIFY(command->isEnabled());
    QCOMPARE(command->shortcut(), shortcut);

    // The menu command acts on the HTML editor wherever the focus is.
    setText(app()->htmlView(), u"x word"_qs, 2, 4);
    app()->bodyView()->setFocus();
    command->trigger();
    QCOMPARE(app()->htmlView()->toPlainText(), expected);

    // The key press from inside the HTML editor does the same.
    app()->window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(app()->window()));
    setText(app()->htmlView(), u"x word"_qs, 2, 4);
    app()->htmlView()->setFocus();
    QTest::keySequence(app()->htmlView(), shortcut);
    QCOMPARE(app()->htmlView()->toPlainText(), expected);
}

void TestMessageEditor::placeholderPullDowns()
{
    QComboBox *text = popUp("placeHoldersForTextPopUp");
    QComboBox *html = popUp("placeHoldersForHTMLPopUp");
    QVERIFY(text && html);
    for (QComboBox *list : {text, html}) {
        list->clear();
        list->addItem(u"Placeholders"_qs);
        // A list with nothing but its title offers nothing.
        QVERIFY(!list->isEnabled());
        list->addItems({u"EMAIL"_qs, u"FIRST NAME"_qs});
        QVERIFY(list->isEnabled());
    }

    // Choosing EMAIL in the plain-text list with an insertion point.
    setText(app()->bodyView(), u"Hi , bye"_qs, 3, 0);
    text->setFocus();
    QTest::keyClick(text, Qt::Key_Down);
    QCOMPARE(app()->bodyView()->toPlainText(), u"Hi __EMAIL__, bye"_qs);
    QCOMPARE(text->currentIndex(), 0);

    // The HTML list puts the token before a selection, which stays in the text.
    setText(app()->htmlView(), u"<p>Dear you</p>"_qs, 8, 3);
    html->setFocus();
    QTest::keyClick(html, Qt::Key_End);
    QCOMPARE(app()->htmlView()->toPlainText(), u"<p>Dear __FIRST NAME__you</p>"_qs);
    QCOMPARE(selected(app()->htmlView()), u"you"_qs);
    QCOMPARE(html->currentIndex(), 0);
    QCOMPARE(app()->bodyView()->toPlainText(), u"Hi __EMAIL__, bye"_qs);

    // The title item inserts nothing.
    html->setCurrentIndex(0);
    Q_EMIT html->activated(0);
    QCOMPARE(app()->htmlView()->toPlainText(), u"<p>Dear __FIRST NAME__you</p>"_qs);
}

void TestMessageEditor::previewFollowsEditsButNotLoads()
{
    QWebEngineView *preview = app()->htmlPreviewView();
    QSignalSpy started(preview, &QWebEngineView::loadStarted);

    // Typing in the HTML editor.
    app()->htmlView()->setFocus();
    app()->htmlView()->moveCursor(QTextCursor::End);
    QTest::keyClicks(app()->htmlView(), u"<p>typed</p>"_qs);
    QVERIFY(previewShows(u"<p>typed</p>"_qs));
    QVERIFY(started.size() >= 1);

    // An edit of the plain-text body refreshes it too.
    app()->htmlView()->setPlainText(u"<p>second</p>"_qs);
    QVERIFY(previewShows(u"<p>second</p>"_qs));
    started.clear();
    QTest::keyClicks(app()->bodyView(), u"x"_qs);
    QTRY_VERIFY(started.size() >= 1);

    // Loading a campaign sets the editor but leaves the page as it was.
    QTest::qWait(300);
    started.clear();
    CampaignDocument loaded;
    loaded.html = u"<p>loaded</p>"_qs;
    app()->campaign().apply(loaded);
    QCOMPARE(app()->htmlView()->toPlainText(), u"<p>loaded</p>"_qs);
    QTest::qWait(500);
    QCOMPARE(started.size(), 0);
    QVERIFY(previewHtml().contains(u"<p>second</p>"_qs));

    // The next edit shows the loaded text with the edit.
    app()->htmlView()->moveCursor(QTextCursor::End);
    QTest::keyClicks(app()->htmlView(), u"!"_qs);
    QVERIFY(previewShows(u"<p>loaded</p>!"_qs));
}

void TestMessageEditor::previewRunsNoScript()
{
    QWebEngineView *preview = app()->htmlPreviewView();
    QVERIFY(!preview->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
    app()->htmlView()->setPlainText(u"<html><head><title>before</title></head><body>"
                                     "<script>document.title = 'ran';</script><p>scripted</p></body></html>"_qs);
    QVERIFY(previewShows(u"scripted"_qs));
    QCOMPARE(preview->title(), u"before"_qs);
    // No base address: nothing in the page resolves against a folder or a site.
    const QString scheme = preview->url().scheme();
    QVERIFY2(scheme != u"file" && scheme != u"http" && scheme != u"https", qPrintable(scheme));
}

void TestMessageEditor::importHTMLPath_data()
{
    QTest::addColumn<QString>("written");  // relative to the temporary folder
    QTest::addColumn<QString>("handedOver");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("expected");
    QTest::newRow("utf-8") << u"a.html"_qs << u"a.html"_qs << QByteArray("<p>Grüße</p>")
                           << u"<p>Grüße</p>"_qs;
    QTest::newRow("dot-dot components") << u"b.html"_qs << u"sub/../sub/./../b.html"_qs
                                        << QByteArray("<p>b</p>") << u"<p>b</p>"_qs;
    QTest::newRow("utf-16 with mark") << u"c.html"_qs << u"c.html"_qs
                                      << QByteArray("\xff\xfe<\0b\0>\0\xe9\0<\0/\0b\0>\0", 18)
                                      << u"<b>é</b>"_qs;
    QTest::newRow("home folder") << u"~/handover.html"_qs << u"~/handover.html"_qs
                                 << QByteArray("<p>from home</p>") << u"<p>from home</p>"_qs;
}

void TestMessageEditor::importHTMLPath()
{
    QFETCH(QString, written);
    QFETCH(QString, handedOver);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, expected);
    QDir(m_dir.path()).mkpath(u"sub"_qs);
    auto resolve = [&](const QString &path) {
        return path.startsWith(u"~/") ? QDir::homePath() + path.mid(1) : m_dir.filePath(path);
    };
    writeFile(resolve(written), bytes);
    const QString path = handedOver.startsWith(u'~') ? handedOver : m_dir.path() + u'/' + handedOver;
    app()->bodyView()->setPlainText(u"plain stays"_qs);
    app()->htmlView()->setPlainText(u"<p>before</p>"_qs);
    QSignalSpy handed(app(), &BriskoApplication::htmlPathImported);

    QTest::ignoreMessage(QtInfoMsg, qPrintable(u"path:"_qs + QDir::cleanPath(resolve(written))));
    app()->importHTMLPath(path);

    QCOMPARE(app()->htmlView()->toPlainText(), expected);
    QCOMPARE(app()->campaign().html(), expected);
    QCOMPARE(app()->bodyView()->toPlainText(), u"plain stays"_qs);
    QCOMPARE(handed.size(), 1);
    QVERIFY(previewShows(expected));
    QFile::remove(resolve(written));
}

void TestMessageEditor::unreadableHandOverChangesNothing()
{
    app()->htmlView()->setPlainText(u"<p>kept</p>"_qs);
    QVERIFY(previewShows(u"<p>kept</p>"_qs));
    QSignalSpy started(app()->htmlPreviewView(), &QWebEngineView::loadStarted);
    const QString missing = m_dir.filePath(u"gone.html"_qs);
    QTest::ignoreMessage(QtInfoMsg, qPrintable(u"path:"_qs + missing));
    QTest::ignoreMessage(QtWarningMsg, qPrintable(u"BriskoApplication.importHTMLPath - could not read:"_qs + missing));
    app()->importHTMLPath(missing);
    QCOMPARE(app()->htmlView()->toPlainText(), u"<p>kept</p>"_qs);
    QTest::qWait(200);
    QCOMPARE(started.size(), 0);
}

int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    BriskoApplication application(argc, argv);
    if (!application.loadInterface())
        return 1;
    application.applicationDidFinishLaunching();
    TestMessageEditor test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_messageeditor.moc"

// The help window: the page list read from the index, titles, showing pages, search, the
// link policy, the divider, history, the animated close and saving as PDF. Each case
// writes its own small help folder; nothing is fetched from outside.

#include "AtomicFile.h"
#include "FennimarHelpViewer.h"
#include "Localization.h"
#include "StringsFile.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPointer>
#include <QSignalSpy>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineHistory>
#include <QWebEngineView>

using namespace Qt::StringLiterals;
using Policy = FennimarHelpViewer::NavigationPolicy;

Q_DECLARE_METATYPE(Policy)
Q_DECLARE_METATYPE(QWebEnginePage::NavigationType)

namespace {

QString page(const QString &title, const QString &body)
{
    return u"<html><head><title>%1</title><link href=\"main.css\" rel=\"stylesheet\"/></head>"
           "<body><h1>%1</h1><div>%2</div></body></html>"_s.arg(title, body);
}

// Catches what the viewer hands to the desktop instead of opening a browser.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;
public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

} // namespace

class TestHelpViewer : public QObject
{
    Q_OBJECT

    QTemporaryDir m_resources;
    std::unique_ptr<FennimarHelpViewer> m_viewer;

    QString helpFolder() const { return m_resources.path() + u"/HelpFiles"_s; }

    void write(const QString &name, const QString &text)
    {
        QFile file(helpFolder() + u'/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }

    // A fresh help folder with the index and the pages given, and a viewer set up on it.
    void makeHelp(const QString &index, const QMap<QString, QString> &pages)
    {
        QDir(helpFolder()).removeRecursively();
        QVERIFY(QDir().mkpath(helpFolder()));
        if (!index.isNull())
            write(u"helpfiles.txt"_s, index);
        write(u"main.css"_s, u"body { font-family: sans-serif; }"_s);
        for (auto it = pages.cbegin(); it != pages.cend(); ++it)
            write(it.key(), it.value());
        m_viewer = std::make_unique<FennimarHelpViewer>();
        if (pages.contains(u"cover.html"_s))
            QVERIFY(waitLoaded([this] { m_viewer->setup(); }));
        else
            m_viewer->setup();
    }

    // The standard folder: a cover, three top-level pages and one sub-page.
    void makeStandardHelp()
    {
        makeHelp(u"start.html\t0\naccount.html\t0\nkeys.html\t1\nsending.html\t0\n"_s,
                 {{u"cover.html"_s, page(u"Welcome"_s, u"Welcome to Zilk."_s)},
                  {u"start.html"_s, page(u"Getting Started"_s, u"Import an apple list."_s)},
                  {u"account.html"_s, page(u"The Account"_s, u"Keys and region. <a href=\"keys.html\">keys</a>"_s)},
                  {u"keys.html"_s, page(u"Access Keys"_s, u"Secret keys stay in Zilk's keyring."_s)},
                  {u"sending.html"_s, page(u"Sending"_s, u"Every APPLE gets one message."_s)}});
    }

    QStringList listedFiles() const
    {
        QStringList files;
        for (const HelpPage &p : m_viewer->pages())
            files << p.file;
        return files;
    }

    std::optional<int> selectedRow() const
    {
        const QModelIndexList rows = m_viewer->listView()->selectionModel()->selectedRows();
        if (rows.isEmpty())
            return std::nullopt;
        return rows.constFirst().row();
    }

    // The text the web view shows once it holds the needle.
    bool viewShows(const QString &needle)
    {
        return QTest::qWaitFor(
            [&] {
                QString text;
                m_viewer->webView()->page()->toPlainText([&](const QString &result) { text = result; });
                return QTest::qWaitFor([&] { return !text.isNull(); }, 5000) && text.contains(needle);
            },
            10000);
    }

    // Runs the action and waits until the view has loaded what it asked for.
    bool waitLoaded(const std::function<void()> &action)
    {
        QSignalSpy done(m_viewer->webView(), &QWebEngineView::loadFinished);
        action();
        return done.wait(10000) && done.last().at(0).toBool();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_resources.isValid());
        qputenv("BRISKO_RESOURCES", QFile::encodeName(m_resources.path()));
        QCoreApplication::setApplicationName(u"Brisko"_s);
        // The program's English texts, as the window shows them.
        QFile strings(QStringLiteral(BRISKO_TEST_DATA "/../../resources/English.lproj/Localizable.strings"));
        QVERIFY(strings.open(QIODevice::ReadOnly));
        const brisko::StringsFileResult english = brisko::StringsFile::parse(QString::fromUtf8(strings.readAll()));
        QVERIFY(!english.error);
        brisko::setLocalizeFunction([table = english.entries](const std::optional<QString> &key) {
            return key ? std::optional<QString>(table.value(*key, *key)) : std::nullopt;
        });
    }

    void cleanup()
    {
        m_viewer.reset();
        AtomicFile::setFailureHookForTesting({});
    }

    // The index: a flag of exactly "1" marks a sub-page (indented, regular type), any
    // other flag a bold top-level page; the first line with fewer than two fields ends it.
    void indexParsing_data()
    {
        QTest::addColumn<QString>("index");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QList<bool>>("bold");
        QTest::newRow("flags") << u"a.html\t1\nb.html\t0\nc.html\tyes\n"_s
                               << QStringList{u"   A"_s, u"B"_s, u"C"_s} << QList<bool>{false, true, true};
        QTest::newRow("empty third line ends it") << u"a.html\t0\nb.html\t1\n\nc.html\t0\n"_s
                                                  << QStringList{u"A"_s, u"   B"_s} << QList<bool>{true, false};
        QTest::newRow("CRLF lines") << u"a.html\t1\r\nb.html\t0\r\n"_s << QStringList{u"   A"_s, u"B"_s}
                                    << QList<bool>{false, true};
        QTest::newRow("no index") << QString() << QStringList{} << QList<bool>{};
    }

    void indexParsing()
    {
        QFETCH(QString, index);
        QFETCH(QStringList, titles);
        QFETCH(QList<bool>, bold);
        QMap<QString, QString> pages;
        for (const QString &name : {u"a"_s, u"b"_s, u"c"_s})
            pages.insert(name + u".html"_s, page(name.toUpper(), u"text"_s));
        makeHelp(index, pages);

        QAbstractItemModel *model = m_viewer->pageModel();
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model->rowCount(), titles.size());
        for (int row = 0; row < titles.size(); ++row) {
            const QModelIndex at = model->index(row, 0);
            QCOMPARE(at.data(Qt::DisplayRole).toString(), titles.at(row));
            const QFont font = at.data(Qt::FontRole).value<QFont>();
            QCOMPARE(font.bold(), bold.at(row));
            QCOMPARE(font.pointSizeF(), 10.0);
            QCOMPARE(at.data(Qt::ForegroundRole).value<QColor>(), QColor(Qt::black));
        }
        // Setting up again reads the index afresh rather than adding to the list.
        m_viewer->setup();
        QCOMPARE(model->rowCount(), titles.size());
    }

    // "&amp;" is the one entity decoded; "Zilk" is the application's name.
    void titles_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("title");
        QTest::newRow("ampersand") << page(u"Tips &amp; Tricks"_s, {}) << u"Tips & Tricks"_s;
        QTest::newRow("other entities stay") << page(u"a &lt; b"_s, {}) << u"a &lt; b"_s;
        QTest::newRow("application name") << page(u"Zilk Basics"_s, {}) << u"Brisko Basics"_s;
        QTest::newRow("white space folded") << page(u"\n  Two\n  Lines "_s, {}) << u"Two Lines"_s;
        QTest::newRow("no title") << u"<html><body>x</body></html>"_s << u"untitled"_s;
    }

    void titles()
    {
        QFETCH(QString, html);
        QFETCH(QString, title);
        makeHelp(u"untitled.html\t0\n"_s, {{u"untitled.html"_s, html}});
        QCOMPARE(m_viewer->pages().value(0).title.text(), title);
    }

    // The cover at set-up selects nothing; a listed page selects its row; a page the list
    // does not name answers 0 from indexOfPath(); a missing page changes nothing but says so.
    void showingPages()
    {
        makeStandardHelp();
        QSignalSpy loads(m_viewer.get(), &FennimarHelpViewer::htmlLoaded);
        QCOMPARE(selectedRow(), std::nullopt);
        QCOMPARE(m_viewer->indexOfPath(u"keys.html"_s), 2);
        QCOMPARE(m_viewer->indexOfPath(u"nowhere.html"_s), 0);
        QCOMPARE(m_viewer->indexOfPath(u"cover.html"_s), 0);

        QVERIFY(m_viewer->showFile(u"keys.html"_s));
        QCOMPARE(selectedRow(), 2);
        QCOMPARE(loads.size(), 1);
        QCOMPARE(loads.at(0).at(1).toUrl(), QUrl::fromLocalFile(helpFolder() + u"/keys.html"_s));

        QVERIFY(!m_viewer->showFile(u"nowhere.html"_s));
        QCOMPARE(selectedRow(), 2);
        QCOMPARE(loads.size(), 1);
        QVERIFY(m_viewer->statusText().contains(u"nowhere.html"_s));

        // Choosing a row shows its page; the status line clears once a page shows.
        m_viewer->listView()->setCurrentIndex(m_viewer->pageModel()->index(3, 0));
        QCOMPARE(loads.size(), 2);
        QCOMPARE(loads.last().at(1).toUrl(), QUrl::fromLocalFile(helpFolder() + u"/sending.html"_s));
        QVERIFY(m_viewer->statusText().isEmpty());

        // A listed page whose file has gone keeps the list on the page still shown.
        QFile::remove(helpFolder() + u"/start.html"_s);
        m_viewer->listView()->setCurrentIndex(m_viewer->pageModel()->index(0, 0));
        QCOMPARE(loads.size(), 2);
        QVERIFY(!m_viewer->statusText().isEmpty());
    }

    void coverMissing()
    {
        makeHelp(QString(), {});
        QVERIFY(m_viewer->pages().isEmpty());
        QVERIFY(m_viewer->statusText().contains(helpFolder()));
    }

    // Exactly the pages whose text holds the term, ignoring case, in list order.
    void search_data()
    {
        QTest::addColumn<QString>("term");
        QTest::addColumn<QStringList>("links");
        QTest::newRow("two pages") << u"apple"_s << QStringList{u"start.html"_s, u"sending.html"_s};
        QTest::newRow("sub-page") << u"KEYRING"_s << QStringList{u"keys.html"_s};
        QTest::newRow("application name") << u"brisko"_s << QStringList{u"keys.html"_s};
        QTest::newRow("mark-up only") << u"stylesheet"_s << QStringList{};
        QTest::newRow("nowhere") << u"pear"_s << QStringList{};
    }

    void search()
    {
        QFETCH(QString, term);
        QFETCH(QStringList, links);
        makeStandardHelp();
        const std::optional<QString> results = m_viewer->searchResultsHTML(term);
        QVERIFY(results);
        QVERIFY(results->startsWith(
            u"<html><body><link href=\"main.css\" rel=\"stylesheet\" media=\"screen\" type=\"text/css\"/>"_s));
        QStringList found;
        static const QRegularExpression link(u"<a href=\"([^\"]*)\" >"_s);
        for (auto it = link.globalMatch(*results); it.hasNext();)
            found << it.next().captured(1);
        QCOMPARE(found, links);
        QCOMPARE(results->contains(u"<h1>No results.</h1>"_s), links.isEmpty());
        if (links.contains(u"keys.html"_s))
            QVERIFY(results->contains(u">   Access Keys</a>"_s));
    }

    // An empty term changes nothing; a search keeps the list selection; a link of the
    // results page opens that page and selects its row.
    void searchInTheWindow()
    {
        makeStandardHelp();
        m_viewer->window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_viewer->window()));
        QVERIFY(waitLoaded([this] { m_viewer->showFile(u"account.html"_s); }));
        QSignalSpy loads(m_viewer.get(), &FennimarHelpViewer::htmlLoaded);
        m_viewer->searchAction(QString());
        QCOMPARE(loads.size(), 0);

        m_viewer->searchField()->setText(u"apple"_s);
        QVERIFY(waitLoaded([this] { QTest::keyClick(m_viewer->searchField(), Qt::Key_Return); }));
        QCOMPARE(loads.size(), 1);
        QCOMPARE(loads.at(0).at(1).toUrl(), QUrl::fromLocalFile(helpFolder() + u'/'));
        QCOMPARE(selectedRow(), 1);
        QVERIFY(viewShows(u"Getting Started"_s));

        // The row still selected shows its page again when clicked.
        QListView *list = m_viewer->listView();
        const QPoint row = list->visualRect(m_viewer->pageModel()->index(1, 0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
        QCOMPARE(loads.size(), 2);
        QCOMPARE(loads.at(1).at(1).toUrl(), QUrl::fromLocalFile(helpFolder() + u"/account.html"_s));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, row);
        QCOMPARE(loads.size(), 2);

        m_viewer->webView()->load(QUrl::fromLocalFile(helpFolder() + u"/sending.html"_s));
        QTRY_COMPARE(selectedRow(), 3);
        QVERIFY(viewShows(u"Every APPLE"_s));
    }

    void navigationPolicy_data()
    {
        using NT = QWebEnginePage::NavigationType;
        QTest::addColumn<QString>("url");
        QTest::addColumn<NT>("type");
        QTest::addColumn<bool>("mainFrame");
        QTest::addColumn<Policy>("policy");
        const QString help = QUrl::fromLocalFile(u"%HELP%"_s).toString();
        const NT click = QWebEnginePage::NavigationTypeLinkClicked;
        QTest::newRow("zilkhelp") << u"zilkhelp:anchor"_s << click << true << Policy::Ignore;
        QTest::newRow("help page") << help + u"/keys.html"_s << click << true << Policy::ShowHelpPage;
        QTest::newRow("help page in a frame") << help + u"/keys.html"_s << click << false << Policy::Use;
        QTest::newRow("outside the folder") << help + u"/../secret.html"_s << click << true << Policy::Ignore;
        QTest::newRow("other file") << u"file:///etc/passwd"_s << click << true << Policy::Ignore;
        QTest::newRow("web link") << u"https://example.com/x"_s << click << true << Policy::OpenExternally;
        QTest::newRow("web frame") << u"https://example.com/"_s << click << false << Policy::Ignore;
        QTest::newRow("own page load") << u"data:text/html;charset=UTF-8,x"_s
                                       << QWebEnginePage::NavigationTypeTyped << true << Policy::Use;
        QTest::newRow("clicked data link") << u"data:text/html,x"_s << click << true << Policy::Ignore;
    }

    void navigationPolicy()
    {
        QFETCH(QString, url);
        QFETCH(QWebEnginePage::NavigationType, type);
        QFETCH(bool, mainFrame);
        QFETCH(Policy, policy);
        makeHelp(QString(), {});
        const QString help = QUrl::fromLocalFile(helpFolder()).toString();
        const QUrl target(QString(url).replace(QUrl::fromLocalFile(u"%HELP%"_s).toString(), help));
        QCOMPARE(m_viewer->decidePolicyForNavigation(target, type, mainFrame), policy);
    }

    // A click on a link: web addresses go to the desktop and never load in the view,
    // "zilkhelp:" goes nowhere, a help page opens with its row selected.
    void linkClicks_data()
    {
        QTest::addColumn<QString>("href");
        QTest::addColumn<QString>("handedOn");
        QTest::addColumn<QString>("shown");
        QTest::newRow("web") << u"https://example.com/docs"_s << u"https://example.com/docs"_s << QString();
        QTest::newRow("zilkhelp") << u"zilkhelp:anchor"_s << QString() << QString();
        QTest::newRow("help page") << u"a.html"_s << QString() << u"a.html"_s;
    }

    void linkClicks()
    {
        QFETCH(QString, href);
        QFETCH(QString, handedOn);
        QFETCH(QString, shown);
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(u"https"_s, &catcher, "open");
        // One link covering the whole page, so a click anywhere follows it.
        const QString link = u"<a href=\"%1\" style=\"position:fixed;left:0;top:0;right:0;bottom:0;"
                             "display:block\">link</a>"_s.arg(href);
        makeHelp(u"a.html\t0\n"_s, {{u"cover.html"_s, page(u"Cover"_s, link)}, {u"a.html"_s, page(u"A"_s, u"a"_s)}});
        m_viewer->window()->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_viewer->window()));
        QVERIFY(viewShows(u"link"_s));
        QSignalSpy loads(m_viewer.get(), &FennimarHelpViewer::htmlLoaded);
        QWidget *surface = m_viewer->webView()->focusProxy();
        QVERIFY(surface);
        QTest::mouseClick(surface, Qt::LeftButton, {}, surface->rect().center());
        if (!shown.isEmpty()) {
            QTRY_COMPARE(loads.size(), 1);
            QCOMPARE(loads.at(0).at(1).toUrl(), QUrl::fromLocalFile(helpFolder() + u'/' + shown));
            QCOMPARE(selectedRow(), m_viewer->indexOfPath(shown));
        } else if (!handedOn.isEmpty()) {
            QTRY_COMPARE(catcher.urls, QList<QUrl>{QUrl(handedOn)});
        } else {
            QTest::qWait(300);
        }
        QDesktopServices::unsetUrlHandler(u"https"_s);
        if (shown.isEmpty()) {
            QCOMPARE(loads.size(), 0);
            QVERIFY(viewShows(u"link"_s));
            QCOMPARE(m_viewer->webView()->history()->count(), 1);
        }
        if (handedOn.isEmpty())
            QVERIFY(catcher.urls.isEmpty());
    }

    // The divider stays 100 points from either end; the list keeps its width when the
    // window is resized.
    void divider()
    {
        makeStandardHelp();
        QWidget *window = m_viewer->window();
        window->resize(800, 500);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QSplitter *split = m_viewer->splitView();
        QWidget *handle = split->handle(1);
        const auto drag = [&](int x) {
            const QPoint start = handle->rect().center();
            QTest::mousePress(handle, Qt::LeftButton, {}, start);
            QTest::mouseMove(handle, QPoint(start.x() + x, start.y()));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(start.x() + x, start.y()));
        };
        drag(-1000);
        QCOMPARE(split->sizes().at(0), FennimarHelpViewer::DividerMargin);
        drag(2000);
        QCOMPARE(split->sizes().at(1), FennimarHelpViewer::DividerMargin);
        drag(-300);
        const int listWidth = split->sizes().at(0);
        QVERIFY(listWidth > FennimarHelpViewer::DividerMargin);
        window->resize(1100, 600);
        QTRY_COMPARE(split->width(), 1100);
        QCOMPARE(split->sizes().at(0), listWidth);
        QCOMPARE(m_viewer->listView()->height(), split->height());
        QCOMPARE(m_viewer->webView()->height(), split->height());
    }

    // Back goes back and forward goes forward through the pages shown.
    void history()
    {
        makeStandardHelp();
        QVERIFY(viewShows(u"Welcome"_s));
        QVERIFY(waitLoaded([this] { m_viewer->showFile(u"start.html"_s); }));
        QVERIFY(viewShows(u"Getting Started"_s));
        QVERIFY(waitLoaded([this] { m_viewer->showFile(u"keys.html"_s); }));
        QVERIFY(viewShows(u"Access Keys"_s));
        QCOMPARE(selectedRow(), 2);
        QVERIFY(waitLoaded([this] { m_viewer->goBack(); }));
        QVERIFY(viewShows(u"Getting Started"_s));
        QCOMPARE(selectedRow(), 0);
        QVERIFY(waitLoaded([this] { m_viewer->goBack(); }));
        QVERIFY(viewShows(u"Welcome to Brisko"_s));
        QVERIFY(waitLoaded([this] { m_viewer->goForward(); }));
        QVERIFY(viewShows(u"Getting Started"_s));
    }

    // Toggling a visible window fades it out and orders it out after the delay; toggling
    // again within the delay starts the delay afresh, and the window goes only once. A
    // show within the delay keeps the window.
    void toggleTimer()
    {
        makeStandardHelp();
        m_viewer->setCloseDelay(300);
        QSignalSpy out(m_viewer.get(), &FennimarWindowController::windowOrderedOut);
        m_viewer->toggleWindowAnimated();
        QVERIFY(QTest::qWaitForWindowExposed(m_viewer->window()));
        QVERIFY(!m_viewer->closeTimer());

        m_viewer->toggleWindowAnimated();
        const QTimer *first = m_viewer->closeTimer();
        QVERIFY(first && first->isActive());
        QVERIFY(m_viewer->isVisible());
        m_viewer->toggleWindowAnimated();
        const QTimer *second = m_viewer->closeTimer();
        QVERIFY(second && second->isActive());
        QVERIFY(m_viewer->isVisible());
        QTRY_VERIFY(!m_viewer->isVisible());
        QCOMPARE(out.size(), 1);
        QVERIFY(!m_viewer->closeTimer());
        QTest::qWait(400);
        QCOMPARE(out.size(), 1);

        m_viewer->showWindowAnimated();
        m_viewer->closeWindowAnimated();
        m_viewer->showWindowAnimated();
        QVERIFY(!m_viewer->closeTimer());
        QTest::qWait(400);
        QVERIFY(m_viewer->isVisible());
        QCOMPARE(out.size(), 1);
    }

    // An interface file's first widget becomes the window and is kept; a missing file
    // leaves no window. The modal loop ends with stopModal().
    void windowController()
    {
        QVERIFY(QDir().mkpath(m_resources.path() + u"/ui"_s));
        QFile ui(m_resources.path() + u"/ui/Probe.ui"_s);
        QVERIFY(ui.open(QIODevice::WriteOnly));
        ui.write(R"(<ui version="4.0"><class>Probe</class><widget class="QWidget" name="probe"/></ui>)");
        ui.close();
        FennimarWindowController missing;
        QVERIFY(missing.loadBundle(u"NoSuchInterface"_s));
        QVERIFY(!missing.window() && missing.retainedObjects().isEmpty());
        missing.showWindowAnimated();
        missing.toggleWindowAnimated();

        FennimarWindowController controller;
        QVERIFY(controller.loadBundle(u"Probe"_s));
        QVERIFY(controller.window());
        QCOMPARE(controller.window()->objectName(), u"probe"_s);
        QCOMPARE(controller.retainedObjects(), QList<QObject *>{controller.window()});
        QTimer::singleShot(50, &controller, [&] { controller.stopModal(); });
        controller.showAsModal();
        QVERIFY(!controller.isVisible());
        QPointer<QWidget> window = controller.window();
        controller.shutdown();
        QVERIFY(!window);
    }

    // Ctrl+F goes to the search field; Escape and Ctrl+W close the window.
    void keys()
    {
        makeStandardHelp();
        m_viewer->setCloseDelay(10);
        QWidget *window = m_viewer->window();
        m_viewer->showWindowAnimated();
        QVERIFY(QTest::qWaitForWindowActive(window));
        m_viewer->listView()->setFocus();
        QTest::keySequence(window, QKeySequence::Find);
        QVERIFY(m_viewer->searchField()->hasFocus());
        for (const QKeySequence &close : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
            m_viewer->showWindowAnimated();
            QTRY_VERIFY(window->isVisible());
            QTest::keySequence(window, close);
            QTRY_VERIFY(!m_viewer->isVisible());
        }
    }

    // The shown page goes to the chosen path as a PDF; then every page is shown.
    void saveAsPDF()
    {
        makeStandardHelp();
        QVERIFY(viewShows(u"Welcome"_s));
        QSignalSpy saved(m_viewer.get(), &FennimarHelpViewer::pdfSaved);
        QSignalSpy loads(m_viewer.get(), &FennimarHelpViewer::htmlLoaded);
        const QString path = m_resources.path() + u"/help.pdf"_s;
        m_viewer->saveAsPDF(path);
        QVERIFY(saved.wait(20000));
        QCOMPARE(saved.at(0).at(1).value<std::optional<QString>>(), std::nullopt);
        QFile pdf(path);
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QVERIFY(pdf.readAll().startsWith("%PDF"));
        QCOMPARE(loads.size(), 1);
        const QString all = loads.at(0).at(0).toString();
        qsizetype from = 0;
        for (const QString &title : {u"Getting Started"_s, u"The Account"_s, u"Access Keys"_s, u"Sending"_s}) {
            const qsizetype at = all.indexOf(title, from);
            QVERIFY2(at > from, qPrintable(title));
            from = at;
        }
    }

    // A PDF that cannot be written is told, and the file there stays as it was.
    void saveAsPDFFails_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("failWrite");
        QTest::newRow("missing folder") << u"/no/such/folder/help.pdf"_s << false;
        QTest::newRow("write fails") << u"existing.pdf"_s << true;
    }

    void saveAsPDFFails()
    {
        QFETCH(QString, target);
        QFETCH(bool, failWrite);
        makeStandardHelp();
        QVERIFY(viewShows(u"Welcome"_s));
        const QString path = target.startsWith(u'/') ? target : m_resources.path() + u'/' + target;
        if (failWrite) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
            old.write("old");
            old.close();
            AtomicFile::setFailureHookForTesting(
                [](AtomicFile::Step step) { return step == AtomicFile::Step::Write ? ENOSPC : 0; });
        }
        QSignalSpy saved(m_viewer.get(), &FennimarHelpViewer::pdfSaved);
        QSignalSpy loads(m_viewer.get(), &FennimarHelpViewer::htmlLoaded);
        m_viewer->saveAsPDF(path);
        QVERIFY(saved.wait(20000));
        const std::optional<QString> error = saved.at(0).at(1).value<std::optional<QString>>();
        QVERIFY(error && !error->isEmpty());
        QCOMPARE(loads.size(), 0);
        auto *box = m_viewer->window()->findChild<QMessageBox *>();
        QVERIFY(box);
        QVERIFY(box->informativeText().contains(*error));
        box->close();
        if (failWrite) {
            QFile old(path);
            QVERIFY(old.open(QIODevice::ReadOnly));
            QCOMPARE(old.readAll(), QByteArray("old"));
        } else {
            QVERIFY(!QFile::exists(path));
        }
    }
};

int main(int argc, char **argv)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    TestHelpViewer test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_helpviewer.moc"

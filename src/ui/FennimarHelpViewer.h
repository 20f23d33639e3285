#pragma once

#include "FennimarWindowController.h"
#include "StyledText.h"

#include <QAbstractListModel>
#include <QList>
#include <QUrl>
#include <QWebEnginePage>

#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QListView;
class QPrinter;
class QSplitter;
class QToolButton;
class QWebEngineView;

// One page of the help: its file name relative to the help folder and the title the list
// shows (bold for a top-level page, indented regular type for a sub-page).
struct HelpPage
{
    QString file;
    StyledText title;
    bool isSubPage = false;
};

// The application's help window: a list of pages on the left and the shown page on the
// right, split by a divider, with search, back and forward, printing and saving as PDF.
//
// The pages are HTML files in the folder "HelpFiles" of the resources. Its index
// "helpfiles.txt" names them one per line as "<file>\t<flag>", the flag "1" marking a
// sub-page; the first line with fewer than two fields ends the index. "cover.html" is
// shown first. In titles and pages the word "Zilk" stands for the application's name.
//
// Links to other help pages open in the viewer, links to the web and mail addresses in
// the desktop's own programs; "zilkhelp:" links and anything else are not followed.
class FennimarHelpViewer : public FennimarWindowController
{
    Q_OBJECT

public:
    static constexpr int DividerMargin = 100; // the divider's nearest distance to either end

    enum class NavigationPolicy {
        Use,            // load it in the view (the viewer's own loads, history, anchors)
        ShowHelpPage,   // a help page: shown through showFile()
        OpenExternally, // handed to the desktop (web and mail addresses)
        Ignore,         // not followed; the view stays where it is
    };

    explicit FennimarHelpViewer(QObject *parent = nullptr);
    ~FennimarHelpViewer() override;

    // Builds the page list from the index and shows the cover page. Run once.
    void setup();
    // Makes the window active and brings it to the front.
    void showWindow();

    // The help folder: "HelpFiles" in the resources.
    QString pathToHelpFiles() const;

    // Shows the page (a file name relative to the help folder) and selects its row, or no
    // row for a page the list does not name (the cover). False, with the view and the
    // selection left as they were, when the file cannot be read.
    bool showFile(const QString &name);
    // The row of the first page with the file name; 0 when no page has it.
    int indexOfPath(const QString &name) const;
    // Appends one page, its title read from the file's <title> element.
    void addPage(const QString &name, bool isSubPage);
    // The HTML of every listed page, in list order, one after another.
    QString collateAllHTML() const;

    // The results page of a search: a link per page that holds the term (ignoring case),
    // in list order, or "No results."; none for an empty term.
    std::optional<QString> searchResultsHTML(const QString &term) const;
    // Shows the results page of the term; an empty term changes nothing.
    void searchAction(const QString &term);

    void printAction();
    void printDocument() { printAction(); }
    bool canPrint() const { return true; }
    // Asks where to save a PDF of the shown page, saves it and then shows every page.
    void saveAsPDFAction();
    // Saves a PDF of the shown page to the path, replacing a file there only once the
    // whole PDF is written; then shows every page. Reports a failure to the user and
    // through pdfSaved().
    void saveAsPDF(const QString &path);

    void goBack();
    void goForward();

    // What becomes of a navigation to the URL.
    NavigationPolicy decidePolicyForNavigation(const QUrl &url, QWebEnginePage::NavigationType type,
                                               bool isMainFrame) const;

    // Divider limits: the proposed minimum plus, the proposed maximum less, the margin.
    static int constrainMinCoordinate(int proposedMinimum, int dividerIndex);
    static int constrainMaxCoordinate(int proposedMaximum, int dividerIndex);

    const QList<HelpPage> &pages() const { return _pages; }
    QAbstractItemModel *pageModel() const;
    QListView *listView() const { return _list; }
    QWebEngineView *webView() const { return _webview; }
    QSplitter *splitView() const { return _splitview; }
    QLineEdit *searchField() const { return m_searchField; }
    // The line under the page that tells what went wrong; empty when nothing did.
    QString statusText() const;

    // The application's name put in place of "Zilk".
    static QString applicationName();

Q_SIGNALS:
    // A PDF save ended: no error when the file is complete at the path.
    void pdfSaved(const QString &path, const std::optional<QString> &error);
    // The HTML handed to the web view (a page, the results or the collated pages).
    void htmlLoaded(const QString &html, const QUrl &baseUrl);

private:
    class PageModel;
    class Page;

    void buildWindow();
    void loadHTML(const QString &html, const QUrl &baseUrl);
    void selectRow(std::optional<int> row);
    void pageSelectionChanged();
    void tell(const QString &text);
    void reportPDFFailure(const QString &path, const QString &reason);
    QString helpPathFor(const QString &name) const;
    std::optional<QString> helpPageFor(const QUrl &url) const;

    QWebEngineView *_webview = nullptr;
    QListView *_list = nullptr;
    QSplitter *_splitview = nullptr;
    QList<HelpPage> _pages;
    PageModel *m_model = nullptr;
    QLineEdit *m_searchField = nullptr;
    QToolButton *m_backButton = nullptr;
    QToolButton *m_forwardButton = nullptr;
    QLabel *m_status = nullptr;
    std::unique_ptr<QPrinter> m_printer;
    bool m_printing = false;
    QString m_shownFile; // the help page in the view; empty for search results and the like
    bool m_selectingRow = false;
};

#include "FennimarHelpViewer.h"

#include "AtomicFile.h"
#include "FennimarAttributedStrings.h"
#include "FennimarBundles.h"
#include "FennimarStrings.h"
#include "Localization.h"
#include "uilogging.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPrintDialog>
#include <QPrinter>
#include <QShortcut>
#include <QSplitter>
#include <QStandardPaths>
#include <QStyle>
#include <QTextDocumentFragment>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineSettings>
#include <QWebEngineView>

using namespace Qt::StringLiterals;

namespace {

// What setHtml() can hand to the web engine (it goes as a data URL).
constexpr qsizetype MaximumHTMLBytes = 2 * 1024 * 1024 - 1024;

QString withApplicationName(QString text)
{
    return text.replace(u"Zilk"_s, FennimarHelpViewer::applicationName());
}

QFont listFont(bool bold)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(10);
    font.setBold(bold);
    return font;
}

// A file name as a relative link: reserved characters escaped, folders kept.
QString relativeHref(const QString &file)
{
    return QString::fromUtf8(QUrl::toPercentEncoding(file, "/"));
}

} // namespace

// The page list as the list view shows it: one row per page, its title in the title's
// own font and colour.
class FennimarHelpViewer::PageModel : public QAbstractListModel
{
public:
    PageModel(const QList<HelpPage> &pages, QObject *parent) : QAbstractListModel(parent), m_pages(pages) {}

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(m_pages.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
            return {};
        const HelpPage &page = m_pages.at(index.row());
        const std::optional<TextAttributes> attributes = page.title.attributesAt(0);
        switch (role) {
        case Qt::DisplayRole:
            return page.title.text();
        case Qt::AccessibleTextRole:
            return page.title.text().trimmed();
        case Qt::ToolTipRole:
            return page.file;
        case Qt::FontRole:
            return attributes ? QVariant(attributes->font) : QVariant();
        case Qt::ForegroundRole:
            return attributes && attributes->foreground ? QVariant(*attributes->foreground) : QVariant();
        default:
            return {};
        }
    }

    void reset(const std::function<void()> &change)
    {
        beginResetModel();
        change();
        endResetModel();
    }

    void appended(const std::function<void()> &change)
    {
        const int row = int(m_pages.size());
        beginInsertRows({}, row, row);
        change();
        endInsertRows();
    }

private:
    const QList<HelpPage> &m_pages;
};

// The view's page: every navigation goes through the viewer's policy.
class FennimarHelpViewer::Page : public QWebEnginePage
{
public:
    Page(FennimarHelpViewer *viewer, QObject *parent) : QWebEnginePage(parent), m_viewer(viewer) {}

    // Follows a navigation the view will not load itself.
    static void follow(FennimarHelpViewer *viewer, const QUrl &url, NavigationPolicy policy)
    {
        if (policy == NavigationPolicy::OpenExternally) {
            if (!QDesktopServices::openUrl(url))
                viewer->tell(brisko::tr(u"HelpViewer_LinkFailed"_s).arg(url.toDisplayString()));
        } else if (policy == NavigationPolicy::ShowHelpPage) {
            if (const std::optional<QString> page = viewer->helpPageFor(url)) {
                // Not from inside the engine's navigation call.
                QTimer::singleShot(0, viewer, [viewer, file = *page] { viewer->showFile(file); });
            }
        }
    }

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        const NavigationPolicy policy = m_viewer->decidePolicyForNavigation(url, type, isMainFrame);
        if (policy == NavigationPolicy::Use)
            return true;
        follow(m_viewer, url, policy);
        return false;
    }

    // A link that asks for a new window: the page made here only catches where it leads.
    QWebEnginePage *createWindow(WebWindowType) override
    {
        auto *catcher = new LinkCatcher(m_viewer);
        return catcher;
    }

private:
    class LinkCatcher : public QWebEnginePage
    {
    public:
        explicit LinkCatcher(FennimarHelpViewer *viewer) : QWebEnginePage(viewer), m_viewer(viewer) {}

    protected:
        bool acceptNavigationRequest(const QUrl &url, NavigationType, bool isMainFrame) override
        {
            const NavigationPolicy policy =
                m_viewer->decidePolicyForNavigation(url, NavigationTypeLinkClicked, isMainFrame);
            follow(m_viewer, url, policy);
            deleteLater();
            return false;
        }

    private:
        FennimarHelpViewer *m_viewer;
    };

    FennimarHelpViewer *m_viewer;
};

FennimarHelpViewer::FennimarHelpViewer(QObject *parent) : FennimarWindowController(parent)
{
    m_model = new PageModel(_pages, this);
    buildWindow();
}

FennimarHelpViewer::~FennimarHelpViewer()
{
    // The window (and the web view with its page) goes with the retained objects; the
    // page must not outlive the view's profile, so it goes first.
    if (_webview)
        delete _webview->page();
}

QString FennimarHelpViewer::applicationName()
{
    return QCoreApplication::applicationName();
}

void FennimarHelpViewer::buildWindow()
{
    auto *window = new QWidget(nullptr, Qt::Window);
    window->setObjectName(u"helpWindow"_s);
    window->setWindowTitle(brisko::tr(u"HelpViewer_Title"_s).arg(applicationName()));
    window->resize(980, 680);
    FennimarObject::setTopLevelObjectsDict(NibNameTable{{window}, this});
    setWindow(window);

    QStyle *style = window->style();
    auto button = [&](const char *name, const QString &key, QStyle::StandardPixmap icon, auto slot) {
        auto *tool = new QToolButton(window);
        tool->setObjectName(QLatin1StringView(name));
        tool->setIcon(style->standardIcon(icon));
        tool->setText(brisko::tr(key));
        tool->setToolTip(brisko::tr(key));
        tool->setAccessibleName(brisko::tr(key));
        tool->setAutoRaise(true);
        connect(tool, &QToolButton::clicked, this, slot);
        return tool;
    };
    m_backButton = button("helpBackButton", u"HelpViewer_Back"_s, QStyle::SP_ArrowBack, [this] { goBack(); });
    m_forwardButton =
        button("helpForwardButton", u"HelpViewer_Forward"_s, QStyle::SP_ArrowForward, [this] { goForward(); });
    QToolButton *print =
        button("helpPrintButton", u"HelpViewer_Print"_s, QStyle::SP_FileDialogDetailedView, [this] { printAction(); });
    QToolButton *pdf =
        button("helpPDFButton", u"HelpViewer_SaveAsPDF"_s, QStyle::SP_DialogSaveButton, [this] { saveAsPDFAction(); });
    m_backButton->setEnabled(false);
    m_forwardButton->setEnabled(false);
    print->setIcon(QIcon::fromTheme(u"document-print"_s, print->icon()));
    for (QToolButton *labelled : {print, pdf})
        labelled->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);

    m_searchField = new QLineEdit(window);
    m_searchField->setObjectName(u"helpSearchField"_s);
    m_searchField->setPlaceholderText(brisko::tr(u"HelpViewer_Search"_s));
    m_searchField->setAccessibleName(brisko::tr(u"HelpViewer_Search"_s));
    m_searchField->setClearButtonEnabled(true);
    m_searchField->setMinimumWidth(220);
    connect(m_searchField, &QLineEdit::returnPressed, this, [this] { searchAction(m_searchField->text()); });

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(6, 6, 6, 6);
    for (QWidget *widget : {static_cast<QWidget *>(m_backButton), static_cast<QWidget *>(m_forwardButton),
                            static_cast<QWidget *>(print), static_cast<QWidget *>(pdf)})
        bar->addWidget(widget);
    bar->addStretch(1);
    bar->addWidget(m_searchField);

    _list = new QListView(window);
    _list->setObjectName(u"helpPageList"_s);
    _list->setAccessibleName(brisko::tr(u"HelpViewer_Pages"_s));
    _list->setModel(m_model);
    _list->setSelectionMode(QAbstractItemView::SingleSelection);
    _list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    _list->setUniformItemSizes(true);
    _list->setMinimumWidth(DividerMargin);
    connect(_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &FennimarHelpViewer::pageSelectionChanged);
    // After a search (or the collated pages) the row still selected shows its page again.
    connect(_list, &QListView::clicked, this, [this](const QModelIndex &index) {
        if (index.isValid() && _pages.at(index.row()).file != m_shownFile)
            showFile(_pages.at(index.row()).file);
    });

    _webview = new QWebEngineView(window);
    _webview->setObjectName(u"helpWebView"_s);
    _webview->setAccessibleName(brisko::tr(u"HelpViewer_Content"_s));
    _webview->setPage(new Page(this, _webview));
    _webview->setMinimumWidth(DividerMargin);
    QWebEngineSettings *settings = _webview->settings();
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::PrintElementBackgrounds, true);
    auto updateHistoryButtons = [this] {
        m_backButton->setEnabled(_webview->history()->canGoBack());
        m_forwardButton->setEnabled(_webview->history()->canGoForward());
    };
    connect(_webview, &QWebEngineView::urlChanged, this, updateHistoryButtons);
    // Going back or forward to a page keeps the list on it.
    connect(_webview, &QWebEngineView::urlChanged, this, [this](const QUrl &url) {
        const std::optional<QString> page = helpPageFor(url);
        m_shownFile = page.value_or(QString());
        if (!page || page->isEmpty()) // elsewhere, or the results of a search
            return;
        const bool listed = std::any_of(_pages.cbegin(), _pages.cend(),
                                        [&](const HelpPage &p) { return p.file == *page; });
        selectRow(listed ? std::optional<int>(indexOfPath(*page)) : std::nullopt);
    });
    connect(_webview, &QWebEngineView::loadFinished, this, updateHistoryButtons);
    connect(_webview, &QWebEngineView::printFinished, this, [this](bool success) {
        m_printing = false;
        if (!success) {
            QMessageBox *box = new QMessageBox(QMessageBox::Warning, applicationName(),
                                               brisko::tr(u"HelpViewer_PrintFailed"_s), QMessageBox::Ok, this->window());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
    });

    // The list keeps its width when the window is resized; the page takes the rest.
    _splitview = new QSplitter(Qt::Horizontal, window);
    _splitview->setObjectName(u"helpSplitView"_s);
    _splitview->setChildrenCollapsible(false);
    _splitview->addWidget(_list);
    _splitview->addWidget(_webview);
    _splitview->setStretchFactor(0, 0);
    _splitview->setStretchFactor(1, 1);
    _splitview->setSizes({260, 720});

    m_status = new QLabel(window);
    m_status->setObjectName(u"helpStatus"_s);
    m_status->setWordWrap(true);
    m_status->setContentsMargins(8, 4, 8, 4);
    m_status->hide();

    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(bar);
    layout->addWidget(_splitview, 1);
    layout->addWidget(m_status);

    auto shortcut = [&](const QKeySequence &keys, auto slot) {
        auto *key = new QShortcut(keys, window);
        key->setContext(Qt::WindowShortcut);
        connect(key, &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::Key_Escape), [this] { closeWindowAnimated(); });
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_W), [this] { closeWindowAnimated(); });
    shortcut(QKeySequence::Find, [this] {
        m_searchField->setFocus(Qt::ShortcutFocusReason);
        m_searchField->selectAll();
    });
    shortcut(QKeySequence::Back, [this] { goBack(); });
    shortcut(QKeySequence::Forward, [this] { goForward(); });
    shortcut(QKeySequence::Print, [this] { printAction(); });
}

QAbstractItemModel *FennimarHelpViewer::pageModel() const
{
    return m_model;
}

QString FennimarHelpViewer::pathToHelpFiles() const
{
    return FennimarBundles::pathToFileInBundle(u"HelpFiles"_s);
}

QString FennimarHelpViewer::helpPathFor(const QString &name) const
{
    return u"%1/%2"_s.arg(pathToHelpFiles(), name);
}

void FennimarHelpViewer::setup()
{
    m_model->reset([this] { _pages.clear(); });
    const QString indexPath = u"%1/helpfiles.txt"_s.arg(pathToHelpFiles());
    const std::optional<QString> index = FennimarStrings::readFile(indexPath);
    if (!index)
        qCWarning(lcUi).noquote() << "FennimarHelpViewer.setup - no page list at" << indexPath;
    const QStringList lines = index ? index->split(u'\n') : QStringList();
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringList fields = line.split(u'\t');
        if (fields.size() < 2)
            break;
        addPage(fields.at(0), fields.at(1) == u"1"_s);
    }
    if (!showFile(u"cover.html"_s) && _pages.isEmpty())
        tell(brisko::tr(u"HelpViewer_NoHelp"_s).arg(pathToHelpFiles()));
}

void FennimarHelpViewer::showWindow()
{
    if (!window())
        return;
    window()->show();
    window()->raise();
    window()->activateWindow();
}

void FennimarHelpViewer::addPage(const QString &name, bool isSubPage)
{
    const std::optional<QString> html = FennimarStrings::readFile(helpPathFor(name));
    std::optional<QString> title;
    if (html)
        title = FennimarStrings::stringBetween(u"<title>"_s, u"</title>"_s, *html);
    // A page without a title is listed by its file name.
    QString text = title ? title->simplified() : QFileInfo(name).completeBaseName();
    text.replace(u"&amp;"_s, u"&"_s);
    text = withApplicationName(text);
    if (isSubPage)
        text.prepend(u"   "_s);
    HelpPage page;
    page.file = name;
    page.isSubPage = isSubPage;
    page.title = FennimarAttributedStrings::attributedString(text, listFont(!isSubPage), QColor(Qt::black), false);
    m_model->appended([&] { _pages.append(page); });
}

int FennimarHelpViewer::indexOfPath(const QString &name) const
{
    for (qsizetype row = 0; row < _pages.size(); ++row) {
        if (_pages.at(row).file == name)
            return int(row);
    }
    return 0;
}

bool FennimarHelpViewer::showFile(const QString &name)
{
    const QString path = helpPathFor(name);
    const std::optional<QString> html = FennimarStrings::readFile(path);
    if (!html) {
        qCWarning(lcUi).noquote() << u"Problem with helpFile:%1"_s.arg(path);
        tell(brisko::tr(u"HelpViewer_PageMissing"_s).arg(name));
        return false;
    }
    tell(QString());
    loadHTML(withApplicationName(*html), QUrl::fromLocalFile(path));
    m_shownFile = name;
    // A page the list does not name (the cover) leaves no row selected: the first row would
    // claim a page that is not shown.
    const bool listed = std::any_of(_pages.cbegin(), _pages.cend(),
                                    [&](const HelpPage &page) { return page.file == name; });
    selectRow(listed ? std::optional<int>(indexOfPath(name)) : std::nullopt);
    return true;
}

void FennimarHelpViewer::selectRow(std::optional<int> row)
{
    m_selectingRow = true;
    if (row)
        _list->selectionModel()->setCurrentIndex(m_model->index(*row, 0), QItemSelectionModel::ClearAndSelect);
    else
        _list->selectionModel()->clearSelection();
    m_selectingRow = false;
    if (row)
        _list->scrollTo(m_model->index(*row, 0));
}

void FennimarHelpViewer::pageSelectionChanged()
{
    if (m_selectingRow)
        return;
    const QModelIndexList selected = _list->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return;
    showFile(_pages.at(selected.constFirst().row()).file);
}

void FennimarHelpViewer::loadHTML(const QString &html, const QUrl &baseUrl)
{
    if (html.toUtf8().size() > MaximumHTMLBytes) {
        qCWarning(lcUi) << "FennimarHelpViewer - page too large to show:" << baseUrl;
        tell(brisko::tr(u"HelpViewer_TooLarge"_s));
        return;
    }
    Q_EMIT htmlLoaded(html, baseUrl);
    m_shownFile.clear();
    _webview->setHtml(html, baseUrl);
}

QString FennimarHelpViewer::collateAllHTML() const
{
    QString all;
    for (const HelpPage &page : _pages)
        all += FennimarStrings::readFile(helpPathFor(page.file)).value_or(QString());
    return withApplicationName(all);
}

std::optional<QString> FennimarHelpViewer::searchResultsHTML(const QString &term) const
{
    if (term.isEmpty())
        return std::nullopt;
    QString results =
        u"<html><body><link href=\"main.css\" rel=\"stylesheet\" media=\"screen\" type=\"text/css\"/>"_s;
    bool found = false;
    for (const HelpPage &page : _pages) {
        // What the reader sees is searched, not the mark-up: "style" or "div" would
        // otherwise find every page.
        const std::optional<QString> html = FennimarStrings::readFile(helpPathFor(page.file));
        if (!html)
            continue;
        const QString text = QTextDocumentFragment::fromHtml(withApplicationName(*html)).toPlainText();
        if (FennimarStrings::numberOfOccurencesOf(term, text) > 0) {
            results += u"<p><a href=\"%1\" >%2</a></p>"_s.arg(relativeHref(page.file).toHtmlEscaped(),
                                                               page.title.text().toHtmlEscaped());
            found = true;
        }
    }
    if (!found)
        results += u"<h1>%1</h1>"_s.arg(brisko::tr(u"No results."_s).toHtmlEscaped());
    results += u"</body></html>"_s;
    return results;
}

void FennimarHelpViewer::searchAction(const QString &term)
{
    const std::optional<QString> results = searchResultsHTML(term);
    if (!results)
        return;
    tell(QString());
    loadHTML(*results, QUrl::fromLocalFile(pathToHelpFiles() + u'/'));
}

void FennimarHelpViewer::printAction()
{
    // The printer of a print still going must live until the view is done with it.
    if (m_printing)
        return;
    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    QPrintDialog dialog(m_printer.get(), window());
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_printing = true;
    _webview->print(m_printer.get());
}

void FennimarHelpViewer::saveAsPDFAction()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = brisko::tr(u"HelpViewer_Title"_s).arg(applicationName()) + u".pdf"_s;
    QString path = QFileDialog::getSaveFileName(window(), brisko::tr(u"HelpViewer_SaveAsPDF"_s),
                                                folder + u'/' + suggested, brisko::tr(u"HelpViewer_PDFFiles"_s));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += u".pdf"_s;
    saveAsPDF(path);
}

void FennimarHelpViewer::saveAsPDF(const QString &path)
{
    const QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(15, 15, 15, 15),
                             QPageLayout::Millimeter);
    QPointer<FennimarHelpViewer> self(this);
    _webview->page()->printToPdf(
        [self, path](const QByteArray &pdf) {
            if (!self)
                return;
            if (pdf.isEmpty()) {
                self->reportPDFFailure(path, brisko::tr(u"HelpViewer_PDFNotMade"_s));
                return;
            }
            if (const std::optional<QString> error = AtomicFile::write(path, pdf)) {
                self->reportPDFFailure(path, *error);
                return;
            }
            qCInfo(lcUi).noquote() << "FennimarHelpViewer - saved" << pdf.size() << "bytes of PDF to" << path;
            Q_EMIT self->pdfSaved(path, std::nullopt);
            self->loadHTML(self->collateAllHTML(), QUrl::fromLocalFile(self->pathToHelpFiles() + u'/'));
        },
        layout);
}

void FennimarHelpViewer::reportPDFFailure(const QString &path, const QString &reason)
{
    qCWarning(lcUi).noquote() << "FennimarHelpViewer - could not save PDF to" << path << ":" << reason;
    Q_EMIT pdfSaved(path, reason);
    auto *box = new QMessageBox(QMessageBox::Warning, applicationName(), brisko::tr(u"HelpViewer_PDFFailed_Head"_s),
                                QMessageBox::Ok, window());
    box->setInformativeText(brisko::tr(u"HelpViewer_PDFFailed_Body"_s).arg(QDir::toNativeSeparators(path), reason));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

void FennimarHelpViewer::goBack()
{
    _webview->back();
}

void FennimarHelpViewer::goForward()
{
    _webview->forward();
}

std::optional<QString> FennimarHelpViewer::helpPageFor(const QUrl &url) const
{
    if (!url.isLocalFile())
        return std::nullopt;
    const QString folder = QDir::cleanPath(pathToHelpFiles());
    const QString path = QDir::cleanPath(url.toLocalFile());
    if (!path.startsWith(folder + u'/'))
        return std::nullopt;
    return path.mid(folder.size() + 1);
}

FennimarHelpViewer::NavigationPolicy
FennimarHelpViewer::decidePolicyForNavigation(const QUrl &url, QWebEnginePage::NavigationType type,
                                              bool isMainFrame) const
{
    const QString address = url.toString();
    if (address.startsWith(u"zilkhelp:"_s, Qt::CaseInsensitive))
        return NavigationPolicy::Ignore;
    const bool clicked = type == QWebEnginePage::NavigationTypeLinkClicked;
    const QString scheme = url.scheme().toLower();

    // The viewer's own loads (pages go in as data), the history of them, and a blank frame.
    if (scheme == u"data"_s || scheme == u"about"_s)
        return clicked ? NavigationPolicy::Ignore : NavigationPolicy::Use;

    if (scheme == u"file"_s) {
        const std::optional<QString> page = helpPageFor(url);
        if (!page)
            return NavigationPolicy::Ignore; // nothing outside the help folder
        const QString suffix = QFileInfo(*page).suffix().toLower();
        const bool isPage = suffix == u"html"_s || suffix == u"htm"_s;
        if (!isPage || !isMainFrame)
            return NavigationPolicy::Use;
        // An anchor inside the page already shown stays in the view.
        if (url.hasFragment() && _webview && _webview->url().adjusted(QUrl::RemoveFragment) ==
                                                 url.adjusted(QUrl::RemoveFragment))
            return NavigationPolicy::Use;
        return NavigationPolicy::ShowHelpPage;
    }

    if (scheme == u"http"_s || scheme == u"https"_s || scheme == u"mailto"_s)
        return clicked && isMainFrame ? NavigationPolicy::OpenExternally : NavigationPolicy::Ignore;
    return NavigationPolicy::Ignore;
}

int FennimarHelpViewer::constrainMinCoordinate(int proposedMinimum, int)
{
    return proposedMinimum + DividerMargin;
}

int FennimarHelpViewer::constrainMaxCoordinate(int proposedMaximum, int)
{
    return proposedMaximum - DividerMargin;
}

QString FennimarHelpViewer::statusText() const
{
    return m_status->isVisible() || !m_status->text().isEmpty() ? m_status->text() : QString();
}

void FennimarHelpViewer::tell(const QString &text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
}

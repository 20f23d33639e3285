// The message editors, the HTML preview and the placeholder lists.

#include "BriskoApplication.h"

#include "FennimarStrings.h"
#include "applogging.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QTextCursor>
#include <QTimer>
#include <QWebEngineView>

#include <tuple>

namespace brisko {

namespace {

// The largest page the web view takes as a string (its data-address limit).
constexpr qsizetype PreviewLimit = 2 * 1024 * 1024;

// Inserts the closing text after the editor's selection, then the opening text before
// it, as one step of the editor's undo. The selection (or insertion point) stays on the
// text it covered, now just after the opening text.
void wrapSelection(QPlainTextEdit *editor, const QString &opening, const std::optional<QString> &closing)
{
    if (!editor)
        return;
    const QTextCursor selection = editor->textCursor();
    const int start = selection.selectionStart();
    const int length = selection.selectionEnd() - start;

    QTextCursor cursor(editor->document());
    cursor.beginEditBlock();
    if (closing) {
        cursor.setPosition(start + length);
        cursor.insertText(*closing);
    }
    cursor.setPosition(start);
    cursor.insertText(opening);
    cursor.endEditBlock();

    QTextCursor kept(editor->document());
    kept.setPosition(start + int(opening.size()));
    kept.setPosition(start + int(opening.size()) + length, QTextCursor::KeepAnchor);
    editor->setTextCursor(kept);
}

// The token of the pull-down's chosen column; none for the first item, which only
// titles the list.
std::optional<QString> chosenToken(const QComboBox *popUp)
{
    if (!popUp || popUp->currentIndex() <= 0)
        return std::nullopt;
    return QStringLiteral("__%1__").arg(popUp->currentText());
}

// "~" and "~/..." in the home folder; "." and ".." components resolved.
QString standardizedPath(const QString &path)
{
    QString result = path;
    if (result == u"~" || result.startsWith(u"~/"))
        result = QDir::homePath() + result.mid(1);
    return QDir::cleanPath(result);
}

} // namespace

void BriskoApplication::connectEditor()
{
    QMainWindow *w = m_window;
    const std::pair<const char *, void (BriskoApplication::*)()> shortcuts[] = {
        {"boldAction", &BriskoApplication::bold},
        {"italicAction", &BriskoApplication::italic},
        {"lineBreakAction", &BriskoApplication::insertBR},
    };
    for (const auto &[name, slot] : shortcuts) {
        if (auto *action = w->findChild<QAction *>(QLatin1StringView(name))) {
            connect(action, &QAction::triggered, this, slot);
            action->setEnabled(true);
        }
    }

    const std::tuple<QComboBox *, void (BriskoApplication::*)(QComboBox *), QPlainTextEdit *> popUps[] = {
        {m_placeHoldersForTextPopUp, &BriskoApplication::textPlaceholderAction, m_bodyView},
        {m_placeHoldersForHTMLPopUp, &BriskoApplication::htmlPlaceholderAction, m_htmlView},
    };
    for (const auto &[popUp, slot, editor] : popUps) {
        if (!popUp)
            continue;
        connect(popUp, &QComboBox::activated, this, [this, popUp = popUp, slot = slot, editor = editor] {
            const bool inserted = popUp->currentIndex() > 0;
            (this->*slot)(popUp);
            // A pull-down: it shows its title again once a column is chosen.
            popUp->setCurrentIndex(0);
            // Typing goes on in the editor, just after the placeholder, not in the list
            // (where a letter would choose another column). The list's closing may take
            // the focus back once more after this.
            if (inserted && editor) {
                editor->setFocus(Qt::OtherFocusReason);
                QTimer::singleShot(0, editor, [editor] { editor->setFocus(Qt::OtherFocusReason); });
            }
        });
        // Usable once it lists a column beside its title, whoever fills it.
        auto follow = [popUp = popUp] { popUp->setEnabled(popUp->count() > 1); };
        QAbstractItemModel *items = popUp->model();
        connect(items, &QAbstractItemModel::rowsInserted, popUp, follow);
        connect(items, &QAbstractItemModel::rowsRemoved, popUp, follow);
        connect(items, &QAbstractItemModel::modelReset, popUp, follow);
        follow();
    }
}

void BriskoApplication::wrapSelectedPlainTextIn(const QString &opening, const std::optional<QString> &closing)
{
    wrapSelection(m_bodyView, opening, closing);
}

void BriskoApplication::wrapSelectedTextIn(const QString &opening, const std::optional<QString> &closing)
{
    wrapSelection(m_htmlView, opening, closing);
}

void BriskoApplication::bold()
{
    wrapSelectedTextIn(QStringLiteral("<b>"), QStringLiteral("</b>"));
}

void BriskoApplication::italic()
{
    wrapSelectedTextIn(QStringLiteral("<i>"), QStringLiteral("</i>"));
}

void BriskoApplication::insertBR()
{
    wrapSelectedTextIn(QStringLiteral("<br>"), std::nullopt);
}

void BriskoApplication::textPlaceholderAction(QComboBox *sender)
{
    if (const auto token = chosenToken(sender))
        wrapSelectedPlainTextIn(*token, std::nullopt);
}

void BriskoApplication::htmlPlaceholderAction(QComboBox *sender)
{
    if (const auto token = chosenToken(sender))
        wrapSelectedTextIn(*token, std::nullopt);
}

void BriskoApplication::textDidChange()
{
    updateHTMLPreview();
}

void BriskoApplication::updateHTMLPreview()
{
    if (!m_htmlPreviewView || !m_htmlView)
        return;
    const QString html = m_htmlView->toPlainText();
    if (html.size() * 3 > PreviewLimit && html.toUtf8().size() > PreviewLimit)
        qCWarning(lcApp) << "BriskoApplication.updateHTMLPreview - HTML too large to preview:" << html.size();
    // No base address: relative links and images in the source stay unresolved.
    m_htmlPreviewView->setHtml(html, QUrl());
}

void BriskoApplication::importHTMLPath(const QString &path)
{
    const QString standardized = standardizedPath(path);
    qCInfo(lcApp).noquote() << u"path:"_qs + standardized;
    if (const auto text = FennimarStrings::readFile(standardized)) {
        // Set through the campaign, which fills the editor as code does (no change
        // reported); the preview then follows once.
        m_campaign.setField(Campaign::Field::Html, *text);
        updateHTMLPreview();
    } else {
        qCWarning(lcApp).noquote() << u"BriskoApplication.importHTMLPath - could not read:"_qs + standardized;
    }
    Q_EMIT htmlPathImported(path);
}

void BriskoApplication::refreshField(Campaign::Field which)
{
    if (m_updatingFields)
        return;
    m_updatingFields = true;
    const QString text = m_campaign.field(which);
    QLineEdit *line = nullptr;
    QPlainTextEdit *editor = nullptr;
    switch (which) {
    case Campaign::Field::Subject:
        line = m_subjectField;
        break;
    case Campaign::Field::From:
        line = m_fromField;
        break;
    case Campaign::Field::ReplyTo:
        line = m_replyToField;
        break;
    case Campaign::Field::ReturnPath:
        line = m_returnPathField;
        break;
    case Campaign::Field::Body:
        editor = m_bodyView;
        break;
    case Campaign::Field::Html:
        editor = m_htmlView;
        break;
    case Campaign::Field::Unsubscribe:
        line = m_unsubscribeField;
        break;
    }
    if (line && line->text() != text)
        line->setText(text);
    if (editor && editor->toPlainText() != text)
        editor->setPlainText(text);
    m_updatingFields = false;
}

} // namespace brisko

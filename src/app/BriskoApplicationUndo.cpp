// Edit › Undo and Redo: the recipient list's changes on one undo stack, the text
// fields and editors with their own.

#include "BriskoApplication.h"

#include "BriskoRowCounterCell.h"
#include "Localization.h"
#include "RecipientTableModel.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTableView>
#include <QTextDocument>
#include <QUndoStack>

#include <functional>

using namespace Qt::StringLiterals;

namespace brisko {

namespace {

// A change already made when it is pushed: the stack's first redo does nothing, later
// ones make the change again.
class DoneStep : public QUndoCommand
{
public:
    DoneStep(const QString &text, std::function<void()> undo, std::function<void()> redo)
        : QUndoCommand(text), m_undo(std::move(undo)), m_redo(std::move(redo))
    {
    }
    void undo() override { m_undo(); }
    void redo() override
    {
        if (m_pushed)
            m_redo();
        m_pushed = true;
    }

private:
    std::function<void()> m_undo;
    std::function<void()> m_redo;
    bool m_pushed = false;
};

// The widget Edit › Undo works on instead of the list: a text field or editor that
// has the focus (a table cell being edited is one).
QLineEdit *focusedLine()
{
    auto *line = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    return line && !line->isReadOnly() ? line : nullptr;
}

QPlainTextEdit *focusedEditor()
{
    auto *editor = qobject_cast<QPlainTextEdit *>(QApplication::focusWidget());
    return editor && !editor->isReadOnly() ? editor : nullptr;
}

// Only this many list changes are kept; each may hold a copy of the whole list.
constexpr int UndoLimit = 50;

} // namespace

void BriskoApplication::connectUndo()
{
    m_undoStack = new QUndoStack(this);
    m_undoStack->setUndoLimit(UndoLimit);
    m_undoAction = m_window->findChild<QAction *>(u"undoAction"_s);
    m_redoAction = m_window->findChild<QAction *>(u"redoAction"_s);
    if (m_undoAction) {
        connect(m_undoAction, &QAction::triggered, this, [this] {
            if (QLineEdit *line = focusedLine())
                line->undo();
            else if (QPlainTextEdit *editor = focusedEditor())
                editor->undo();
            else
                m_undoStack->undo();
            updateUndoActions();
        });
    }
    if (m_redoAction) {
        connect(m_redoAction, &QAction::triggered, this, [this] {
            if (QLineEdit *line = focusedLine())
                line->redo();
            else if (QPlainTextEdit *editor = focusedEditor())
                editor->redo();
            else
                m_undoStack->redo();
            updateUndoActions();
        });
    }
    connect(m_undoStack, &QUndoStack::indexChanged, this, &BriskoApplication::updateUndoActions);
    connect(m_undoStack, &QUndoStack::cleanChanged, this, &BriskoApplication::updateUndoActions);
    // The actions follow whatever has the focus, and that widget's own text history.
    connect(this, &QApplication::focusChanged, this, [this](QWidget *, QWidget *now) {
        if (auto *line = qobject_cast<QLineEdit *>(now))
            connect(line, &QLineEdit::textChanged, this, &BriskoApplication::updateUndoActions,
                    Qt::UniqueConnection);
        updateUndoActions();
    });
    for (QPlainTextEdit *editor : {m_bodyView, m_htmlView}) {
        if (!editor)
            continue;
        connect(editor, &QPlainTextEdit::undoAvailable, this, &BriskoApplication::updateUndoActions);
        connect(editor, &QPlainTextEdit::redoAvailable, this, &BriskoApplication::updateUndoActions);
    }

    if (m_tableModel) {
        connect(m_tableModel, &RecipientTableModel::cellEdited, this,
                [this](const RecipientPtr &record, const QString &column, const std::optional<QString> &before,
                       const QString &after) {
                    const auto put = [this, record, column](const std::optional<QString> &value) {
                        const int row = int(m_campaign.recipients().indexOf(record));
                        if (row >= 0)
                            m_tableModel->restoreObjectValue(value, column, row);
                    };
                    m_undoStack->push(new DoneStep(brisko::tr(u"EditCell"_s), [put, before] { put(before); },
                                                   [put, after] { put(after); }));
                });
        for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
            connect(m_tableModel, signal, this, &BriskoApplication::fitRowNumberColumn);
        connect(m_tableModel, &QAbstractItemModel::modelReset, this, &BriskoApplication::fitRowNumberColumn);
    }
    updateUndoActions();
}

void BriskoApplication::updateUndoActions()
{
    bool canUndo = false;
    bool canRedo = false;
    if (QLineEdit *line = focusedLine()) {
        canUndo = line->isUndoAvailable();
        canRedo = line->isRedoAvailable();
    } else if (QPlainTextEdit *editor = focusedEditor()) {
        canUndo = editor->document()->isUndoAvailable();
        canRedo = editor->document()->isRedoAvailable();
    } else if (m_undoStack) {
        canUndo = m_undoStack->canUndo();
        canRedo = m_undoStack->canRedo();
    }
    if (m_undoAction)
        m_undoAction->setEnabled(canUndo);
    if (m_redoAction)
        m_redoAction->setEnabled(canRedo);
}

BriskoApplication::ListState BriskoApplication::listState() const
{
    return {m_campaign.columns(), m_campaign.recipients()};
}

void BriskoApplication::pushListChange(const QString &text, const ListState &before)
{
    if (!m_undoStack)
        return;
    const ListState after = listState();
    m_undoStack->push(new DoneStep(text, [this, before] { restoreListState(before); },
                                   [this, after] { restoreListState(after); }));
}

void BriskoApplication::restoreListState(const ListState &state)
{
    const bool columnsChange = state.columns != m_campaign.columns();
    if (m_listView)
        m_listView->clearSelection();
    m_campaign.restoreColumns(state.columns);
    m_campaign.setRecipients(state.recipients);
    if (columnsChange)
        resetPlaceholderLists(true);
}

void BriskoApplication::resetPlaceholderLists(bool fromColumns)
{
    const QStringList columns = fromColumns ? columnNames() : QStringList();
    for (QComboBox *popUp : {m_placeHoldersForHTMLPopUp, m_placeHoldersForTextPopUp}) {
        if (!popUp)
            continue;
        // Refilling is no choice of the user's: nothing may be inserted meanwhile.
        const QSignalBlocker quiet(popUp);
        popUp->clear();
        // The chosen entry is what a screen reader calls the list: each list says its own.
        popUp->addItem(brisko::tr(popUp == m_placeHoldersForTextPopUp ? u"PlaceholdersForText"_s
                                                                      : u"PlaceholdersForHTML"_s));
        popUp->addItems(columns);
        popUp->setCurrentIndex(0);
        popUp->setEnabled(popUp->count() > 1);
    }
}

void BriskoApplication::fitRowNumberColumn()
{
    if (!m_listView || !m_tableModel)
        return;
    const int column = m_tableModel->columnOf(RecipientTableModel::IndexColumn);
    if (column < 0)
        return;
    // Wide enough for the largest number; digits of some fonts differ in width.
    const qsizetype digits = QString::number(m_tableModel->rowCount()).size();
    const int wanted = BriskoRowCounterCell::widthFor(QString(digits, u'8'));
    if (m_listView->columnWidth(column) < wanted)
        m_listView->setColumnWidth(column, wanted);
}

} // namespace brisko

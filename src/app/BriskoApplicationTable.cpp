// The recipient table: rows, outcomes, editing, adding, removing and searching.

#include "BriskoApplication.h"

#include "BriskoRowCounterCell.h"
#include "BriskoSearchToolbarItem.h"
#include "FennimarEvents.h"
#include "FennimarStrings.h"
#include "Localization.h"
#include "RecipientTableModel.h"
#include "SendRun.h"

#include <QAbstractButton>
#include <QAction>
#include <QHeaderView>
#include <QItemSelection>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QTableView>

#include <algorithm>

namespace brisko {

namespace {

// The address a row added by hand starts with; the user types over it.
const QString NewRecipientAddress = QStringLiteral("new.recipient@example.com");

// The outcome column: the row's background and selection as usual, the outcome image
// centred on it.
class StatusCell : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        QStyleOptionViewItem background = option;
        initStyleOption(&background, index);
        background.icon = QIcon();
        background.features &= ~QStyleOptionViewItem::HasDecoration;
        background.text.clear();
        const QWidget *widget = option.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

        const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
        if (icon.isNull())
            return;
        QRect at(QPoint(0, 0), option.decorationSize.boundedTo(option.rect.size()));
        at.moveCenter(option.rect.center());
        icon.paint(painter, at, Qt::AlignCenter);
    }
};

// Selection changes repaint the whole table once instead of working out the region of
// every selected run, which costs time in proportion to the number of runs.
class UpdatesSuspended
{
public:
    explicit UpdatesSuspended(QAbstractItemView *view)
        : m_view(view), m_suspended(view && view->updatesEnabled())
    {
        if (m_suspended)
            m_view->setUpdatesEnabled(false);
    }
    ~UpdatesSuspended()
    {
        if (!m_suspended)
            return;
        m_view->setUpdatesEnabled(true);
        m_view->viewport()->update();
    }
    UpdatesSuspended(const UpdatesSuspended &) = delete;
    UpdatesSuspended &operator=(const UpdatesSuspended &) = delete;

private:
    QAbstractItemView *m_view;
    bool m_suspended;
};

// Indexes of the rows the selection touches, ascending, each once. Read from the
// selection's runs: the item model's own per-row test would look at every run for
// every row.
QList<int> selectedRows(const QTableView *view)
{
    QList<int> rows;
    if (!view || !view->selectionModel())
        return rows;
    const QItemSelection selection = view->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        if (!range.isValid())
            continue;
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows.append(row);
    }
    if (!std::is_sorted(rows.cbegin(), rows.cend()))
        std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

// One range per run of rows whose address passes the test, the first `count` rows of the
// list: a selection of a million rows is then a handful of ranges rather than a million.
template<typename Test>
QItemSelection rowRunsWhere(const RecipientList &list, int count, const QAbstractItemModel *model, Test &&test)
{
    const int lastColumn = model->columnCount() - 1;
    QItemSelection selection;
    int runStart = -1;
    for (int row = 0; row <= count; ++row) {
        const bool match = row < count && test(list.at(row)->email());
        if (match && runStart < 0) {
            runStart = row;
        } else if (!match && runStart >= 0) {
            selection.append(QItemSelectionRange(model->index(runStart, 0), model->index(row - 1, lastColumn)));
            runStart = -1;
        }
    }
    return selection;
}

} // namespace

void BriskoApplication::connectTable()
{
    QMainWindow *w = m_window;
    if (m_listView && m_tableModel) {
        const int indexColumn = m_tableModel->columnOf(RecipientTableModel::IndexColumn);
        const int statusColumn = m_tableModel->columnOf(RecipientTableModel::StatusColumn);
        m_listView->setItemDelegateForColumn(indexColumn, new BriskoRowCounterCell(m_listView));
        m_listView->setItemDelegateForColumn(statusColumn, new StatusCell(m_listView));
        // Every row has the same fixed height, so the table never measures rows and a
        // list of a million scrolls as lightly as one of ten.
        QHeaderView *rows = m_listView->verticalHeader();
        rows->setSectionResizeMode(QHeaderView::Fixed);
        rows->setDefaultSectionSize(m_listView->fontMetrics().height() + 6);
        // Whole rows are selected, so no column heading is ever shown selected. The
        // headings still ask whether their columns are selected when they repaint, which
        // the table's selection answers by testing row after row; they get a selection
        // of their own that stays empty.
        QHeaderView *headings = m_listView->horizontalHeader();
        headings->setHighlightSections(false);
        headings->setSelectionModel(new QItemSelectionModel(m_tableModel, headings));
        m_listView->setIconSize(QSize(16, 16));
        fitRowNumberColumn();
    }

    auto enable = [](QObject *control, auto slot, QObject *receiver) {
        if (auto *action = qobject_cast<QAction *>(control)) {
            QObject::connect(action, &QAction::triggered, receiver, slot);
            action->setEnabled(true);
        } else if (auto *button = qobject_cast<QAbstractButton *>(control)) {
            QObject::connect(button, &QAbstractButton::clicked, receiver, slot);
            button->setEnabled(true);
        }
    };
    auto find = [w](const char *name) { return w->findChild<QObject *>(QLatin1StringView(name)); };
    auto add = [this] { addItem(); };
    auto remove = [this] { removeItem(); };
    enable(find("addRecipientAction"), add, this);
    enable(find("addRecipientButton"), add, this);
    enable(find("removeRecipientAction"), remove, this);
    enable(find("removeRecipientButton"), remove, this);

    m_selectFailedAction = w->findChild<QAction *>(QStringLiteral("selectFailedAction"));
    m_selectNotYetSentAction = w->findChild<QAction *>(QStringLiteral("selectNotYetSentAction"));
    if (m_selectFailedAction)
        connect(m_selectFailedAction, &QAction::triggered, this, [this] { selectFailed(); });
    if (m_selectNotYetSentAction)
        connect(m_selectNotYetSentAction, &QAction::triggered, this, [this] { selectNotYetSent(); });
    // Both live in the Recipients menu only: they are brought up to date when it opens, and
    // after loads and runs (a look at every row of a long list is too dear for each outcome).
    if (auto *menu = w->findChild<QMenu *>(QStringLiteral("recipientsMenu")))
        connect(menu, &QMenu::aboutToShow, this, [this] { updateOutcomeSelectionActions(); });
    updateOutcomeSelectionActions();

    if (auto *search = w->findChild<BriskoSearchToolbarItem *>(QStringLiteral("searchField"))) {
        connect(search, &BriskoSearchToolbarItem::searchRequested, this,
                [this](QLineEdit *field) { filterListFromField(field); });
        search->setEnabled(true);
    }
}

RecipientList BriskoApplication::selectedRecipients() const
{
    RecipientList result;
    const RecipientList &list = m_campaign.recipients();
    const QList<int> rows = selectedRows(m_listView);
    result.reserve(rows.size());
    for (int row : rows) {
        if (row < list.size())
            result.append(list.at(row));
    }
    return result;
}

void BriskoApplication::addItem()
{
    if (!m_tableModel)
        return;
    const ListState before = listState();
    m_tableModel->appendRecipients({makeRecipient({{EmailKey.toString(), NewRecipientAddress}})});
    pushListChange(brisko::tr(QStringLiteral("AddRecipient")), before);
}

void BriskoApplication::removeItem()
{
    if (!m_tableModel || !m_listView)
        return;
    const ListState before = listState();
    if (FennimarEvents::isOptionPressed()) {
        if (before.recipients.isEmpty())
            return;
        UpdatesSuspended quiet(m_listView);
        m_listView->clearSelection();
        m_tableModel->removeAllRecipients();
        pushListChange(brisko::tr(QStringLiteral("RemoveRecipient")), before);
        return;
    }
    const QList<int> rows = selectedRows(m_listView);
    if (rows.isEmpty())
        return;
    UpdatesSuspended quiet(m_listView);
    m_listView->clearSelection();
    m_tableModel->removeRecipientRows(rows);
    pushListChange(brisko::tr(QStringLiteral("RemoveRecipient")), before);
}

void BriskoApplication::filterListFromField(QLineEdit *field)
{
    if (!m_listView || !m_tableModel || !m_listView->selectionModel())
        return;
    QItemSelectionModel *selectionModel = m_listView->selectionModel();
    UpdatesSuspended quiet(m_listView);
    selectionModel->clearSelection();
    const QString text = field ? field->text() : QString();
    if (text.isEmpty())
        return;

    // The runs of matching rows, selected in one call.
    const RecipientList &list = m_campaign.recipients();
    const QItemSelection selection = rowRunsWhere(list, int(list.size()), m_tableModel, [&text](const QString &email) {
        return FennimarStrings::stringContains(email, text);
    });
    // Selecting into an empty selection: the model then has no old selection to compare
    // the new one with.
    if (!selection.isEmpty())
        selectionModel->select(selection, QItemSelectionModel::Select);
}

void BriskoApplication::selectFailed()
{
    // Failures are few: a set of them is cheap to test each row against.
    const QSet<QString> failed = m_campaign.addressesWithResponse(SendRun::FailedCode);
    const bool found =
        selectRowsWhere([&failed](const QString &address) { return failed.contains(address); }, !failed.isEmpty());
    // A command that found nobody turns itself off.
    if (!found && m_selectFailedAction)
        m_selectFailedAction->setEnabled(false);
}

void BriskoApplication::selectNotYetSent()
{
    const bool found = selectRowsWhere([this](const QString &address) { return m_campaign.notYetSent(address); }, true);
    if (!found && m_selectNotYetSentAction)
        m_selectNotYetSentAction->setEnabled(false);
}

void BriskoApplication::updateOutcomeSelectionActions()
{
    const RecipientList &list = m_campaign.recipients();
    const QSet<QString> failures = m_campaign.addressesWithResponse(SendRun::FailedCode);
    bool failed = false;
    for (qsizetype row = 0; row < list.size() && !failures.isEmpty() && !failed; ++row)
        failed = failures.contains(list.at(row)->email());
    // A run goes down the list, so a row still unsent is most likely near its end. Looking up
    // a row's outcome is dear enough that a very long list is only looked at so far back: past
    // that the command stays on, and turns itself off when it finds nobody.
    constexpr qsizetype MostRowsLookedAt = 100000;
    bool unsent = list.size() > MostRowsLookedAt;
    for (qsizetype row = list.size() - 1, end = list.size() - MostRowsLookedAt; row >= 0 && row >= end; --row) {
        if (m_campaign.notYetSent(list.at(row)->email())) {
            unsent = true;
            break;
        }
    }
    if (m_selectFailedAction)
        m_selectFailedAction->setEnabled(failed);
    if (m_selectNotYetSentAction)
        m_selectNotYetSentAction->setEnabled(unsent);
}

bool BriskoApplication::selectRowsWhere(const std::function<bool(const QString &address)> &test, bool anyRow)
{
    if (!m_listView || !m_tableModel || !m_listView->selectionModel())
        return false;
    QItemSelectionModel *selectionModel = m_listView->selectionModel();
    const RecipientList &list = m_campaign.recipients();
    // One range per run of matching rows, as the search does; the first run starts first.
    const QItemSelection selection = rowRunsWhere(list, anyRow ? int(list.size()) : 0, m_tableModel, test);
    const int first = selection.isEmpty() ? -1 : selection.constFirst().top();
    {
        UpdatesSuspended quiet(m_listView);
        selectionModel->clearSelection();
        if (!selection.isEmpty())
            selectionModel->select(selection, QItemSelectionModel::Select);
    }
    if (first < 0)
        return false;
    // The keyboard goes on from the first of them.
    const QModelIndex start = m_tableModel->index(first, 0);
    selectionModel->setCurrentIndex(start, QItemSelectionModel::NoUpdate);
    m_listView->scrollTo(start);
    return true;
}

} // namespace brisko

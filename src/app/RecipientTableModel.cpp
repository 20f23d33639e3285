#include "RecipientTableModel.h"

#include "FennimarImaging.h"
#include "Localization.h"
#include "SendRun.h"

#include <QPixmap>

#include <algorithm>

namespace brisko {

namespace {

QIcon loadStatusImage(QStringView name)
{
    QIcon icon;
    // The double-size image, when there is one, serves high-density screens.
    for (const QString &file : {name.toString(), name.toString() + u"@2x"_qs}) {
        QImage image = FennimarImaging::imageNamed(file);
        if (image.isNull())
            continue;
        if (file.endsWith(u"@2x"))
            image.setDevicePixelRatio(2);
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

} // namespace

RecipientTableModel::RecipientTableModel(Campaign *campaign, QObject *parent)
    : QAbstractTableModel(parent), m_campaign(campaign),
      m_identifiers(QStringList{IndexColumn.toString(), StatusColumn.toString()} + campaign->columns())
{
    connect(campaign, &Campaign::recipientsReset, this, [this] {
        if (!m_changingList)
            reload();
    });
    connect(campaign, &Campaign::columnsChanged, this, &RecipientTableModel::rebuildColumns);
    connect(campaign, &Campaign::outcomeRecorded, this, [this](const QString &) {
        // Outcomes are keyed by address and several rows may share one: the whole
        // column is told, and the view repaints only the rows it shows.
        const int status = columnOf(StatusColumn);
        if (rowCount() > 0 && status >= 0)
            Q_EMIT dataChanged(index(0, status), index(rowCount() - 1, status),
                               {Qt::DecorationRole, Qt::ToolTipRole, Qt::AccessibleTextRole, ResponseRole});
    });
}

int RecipientTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_campaign->recipients().size());
}

int RecipientTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_identifiers.size());
}

int RecipientTableModel::columnOf(QStringView identifier) const
{
    for (int i = 0; i < m_identifiers.size(); ++i) {
        if (m_identifiers.at(i) == identifier)
            return i;
    }
    return -1;
}

QIcon RecipientTableModel::statusImage(int code)
{
    static const QIcon ok = loadStatusImage(AcceptedImage);
    static const QIcon fail = loadStatusImage(FailedImage);
    static const QIcon unknown = loadStatusImage(UnknownImage);
    return code == SendRun::AcceptedCode ? ok : code == SendRun::UnknownCode ? unknown : fail;
}

QVariant RecipientTableModel::objectValue(QStringView column, int row) const
{
    if (row < 0 || row >= rowCount())
        return {};
    if (column == IndexColumn)
        return QString::number(row + 1);
    const RecipientPtr &record = m_campaign->recipients().at(row);
    if (column == StatusColumn) {
        const auto response = m_campaign->response(record->email());
        if (!response)
            return QIcon();
        return statusImage(*response);
    }
    if (auto value = record->value(column))
        return *value;
    return {};
}

std::optional<QString> RecipientTableModel::toolTip(QStringView column, int row) const
{
    if (column != StatusColumn || row < 0 || row >= rowCount())
        return std::nullopt;
    const QString address = m_campaign->recipients().at(row)->email();
    if (m_campaign->response(address) == SendRun::UnknownCode)
        return brisko::tr(SendRun::UnknownStatus.toString());
    return m_campaign->status(address);
}

QVariant RecipientTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const QString &column = m_identifiers.at(index.column());
    const int row = index.row();
    if (column == IndexColumn) {
        if (role == RowNumberRole || role == Qt::AccessibleTextRole)
            return objectValue(column, row);
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    if (column == StatusColumn) {
        switch (role) {
        case Qt::DecorationRole: {
            QIcon icon = objectValue(column, row).value<QIcon>();
            return icon.isNull() ? QVariant() : QVariant(icon);
        }
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole: // the outcome in words, not only as an image
            if (auto text = toolTip(column, row))
                return *text;
            return {};
        case ResponseRole:
            return m_campaign->response(m_campaign->recipients().at(row)->email()).value_or(0);
        default:
            return {};
        }
    }
    if (role == Qt::DisplayRole)
        return objectValue(column, row);
    if (role == Qt::EditRole)
        return m_campaign->recipients().at(row)->valueOr(column);
    return {};
}

bool RecipientTableModel::setObjectValue(const QString &value, const QString &column, int row)
{
    if (row < 0 || row >= rowCount() || column.startsWith(ProgramColumnPrefix))
        return false;
    const RecipientPtr &record = m_campaign->recipients().at(row);
    // An empty cell left empty is no edit: the record does not gain an empty value.
    if (record->valueOr(column) == value)
        return true;
    const std::optional<QString> before = record->value(column);
    record->setValue(column, value);
    // The whole row: an edited address may bring another outcome with it.
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
    m_campaign->setModified(true);
    Q_EMIT cellEdited(record, column, before, value);
    return true;
}

bool RecipientTableModel::restoreObjectValue(const std::optional<QString> &value, const QString &column, int row)
{
    if (row < 0 || row >= rowCount() || column.startsWith(ProgramColumnPrefix))
        return false;
    const RecipientPtr &record = m_campaign->recipients().at(row);
    if (value)
        record->setValue(column, *value);
    else
        record->removeValue(column);
    Q_EMIT dataChanged(index(row, 0), index(row, columnCount() - 1));
    m_campaign->setModified(true);
    return true;
}

bool RecipientTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid)
        || !(flags(index) & Qt::ItemIsEditable))
        return false;
    return setObjectValue(value.toString(), m_identifiers.at(index.column()), index.row());
}

QVariant RecipientTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical) {
        if (role == Qt::DisplayRole && section >= 0 && section < rowCount())
            return objectValue(IndexColumn, section);
        return {};
    }
    if (section < 0 || section >= m_identifiers.size())
        return {};
    const QString &column = m_identifiers.at(section);
    if (role == Qt::DisplayRole) {
        if (column == IndexColumn)
            return QStringLiteral("#");
        if (column == StatusColumn)
            return QString();
        return column;
    }
    return {};
}

Qt::ItemFlags RecipientTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags result = QAbstractTableModel::flags(index);
    if (index.isValid() && !m_identifiers.at(index.column()).startsWith(ProgramColumnPrefix))
        result |= Qt::ItemIsEditable;
    return result;
}

void RecipientTableModel::rebuildColumns()
{
    const QStringList columns = QStringList{IndexColumn.toString(), StatusColumn.toString()} + m_campaign->columns();
    if (columns == m_identifiers)
        return;
    // New columns after the present ones (the common case of an import) keep the
    // view's column widths and order; anything else starts the columns afresh.
    if (columns.size() > m_identifiers.size() && columns.mid(0, m_identifiers.size()) == m_identifiers) {
        beginInsertColumns({}, int(m_identifiers.size()), int(columns.size()) - 1);
        m_identifiers = columns;
        endInsertColumns();
        return;
    }
    beginResetModel();
    m_identifiers = columns;
    endResetModel();
}

void RecipientTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

void RecipientTableModel::announceListChange()
{
    m_changingList = true;
    m_campaign->recipientsChanged();
    m_changingList = false;
}

void RecipientTableModel::appendRecipients(const RecipientList &records)
{
    if (records.isEmpty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + int(records.size()) - 1);
    m_campaign->recipients().append(records);
    endInsertRows();
    announceListChange();
}

void RecipientTableModel::removeRecipientRows(QList<int> rows)
{
    const int count = rowCount();
    rows.removeIf([count](int row) { return row < 0 || row >= count; });
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());

    // Runs of neighbouring rows, as (first, last).
    QList<std::pair<int, int>> runs;
    for (int row : std::as_const(rows)) {
        if (!runs.isEmpty() && runs.last().second + 1 == row)
            runs.last().second = row;
        else
            runs.append({row, row});
    }

    RecipientList &list = m_campaign->recipients();
    if (runs.size() <= MaxRemovedRuns) {
        for (auto run = runs.crbegin(); run != runs.crend(); ++run) {
            beginRemoveRows({}, run->first, run->second);
            list.remove(run->first, run->second - run->first + 1);
            endRemoveRows();
        }
    } else {
        // Scattered rows: mark every removed entry, then drop the marks in one pass,
        // which keeps the order of the rest and costs one walk over the list.
        beginResetModel();
        for (int row : std::as_const(rows))
            list[row] = nullptr;
        list.removeIf([](const RecipientPtr &record) { return !record; });
        endResetModel();
    }
    announceListChange();
}

void RecipientTableModel::removeAllRecipients()
{
    const int count = rowCount();
    if (count == 0)
        return;
    beginRemoveRows({}, 0, count - 1);
    m_campaign->recipients().clear();
    endRemoveRows();
    announceListChange();
}

} // namespace brisko

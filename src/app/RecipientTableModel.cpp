#include "RecipientTableModel.h"

namespace brisko {

RecipientTableModel::RecipientTableModel(Campaign *campaign, QObject *parent)
    : QAbstractTableModel(parent), m_campaign(campaign),
      m_identifiers(QStringList{IndexColumn.toString(), StatusColumn.toString()} + campaign->columns())
{
    connect(campaign, &Campaign::recipientsReset, this, &RecipientTableModel::reload);
    connect(campaign, &Campaign::columnsChanged, this, &RecipientTableModel::rebuildColumns);
    connect(campaign, &Campaign::outcomeRecorded, this, [this](const QString &) {
        const int status = columnOf(StatusColumn);
        if (rowCount() > 0 && status >= 0)
            Q_EMIT dataChanged(index(0, status), index(rowCount() - 1, status));
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

QVariant RecipientTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const QString &column = m_identifiers.at(index.column());
    const RecipientPtr &record = m_campaign->recipients().at(index.row());
    if (column == IndexColumn) {
        if (role == Qt::DisplayRole)
            return index.row() + 1;
        if (role == Qt::TextAlignmentRole)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    if (column == StatusColumn) {
        if (role == Qt::ToolTipRole)
            return m_campaign->status(record->email()).value_or(QString());
        if (role == Qt::UserRole)
            return m_campaign->response(record->email()).value_or(0);
        return {};
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return record->valueOr(column);
    return {};
}

bool RecipientTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || !(flags(index) & Qt::ItemIsEditable))
        return false;
    const QString &column = m_identifiers.at(index.column());
    const RecipientPtr &record = m_campaign->recipients().at(index.row());
    const QString text = value.toString();
    if (record->value(column) == text)
        return true;
    record->setValue(column, text);
    Q_EMIT dataChanged(index, index);
    m_campaign->setModified(true);
    return true;
}

QVariant RecipientTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= m_identifiers.size())
        return QAbstractTableModel::headerData(section, orientation, role);
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
    beginResetModel();
    m_identifiers = QStringList{IndexColumn.toString(), StatusColumn.toString()} + m_campaign->columns();
    endResetModel();
}

void RecipientTableModel::reload()
{
    beginResetModel();
    endResetModel();
}

} // namespace brisko

#pragma once

#include "Campaign.h"

#include <QAbstractTableModel>
#include <QStringList>

namespace brisko {

// The recipient table's data: row n is record n of the campaign's list; columns are
// identified by name ("_BRISKO_INDEX", "_BRISKO_STATUS", "EMAIL", then data columns).
class RecipientTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr QStringView IndexColumn = u"_BRISKO_INDEX";
    static constexpr QStringView StatusColumn = u"_BRISKO_STATUS";

    explicit RecipientTableModel(Campaign *campaign, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The program's two columns, then the campaign's data columns.
    QStringList identifiers() const { return m_identifiers; }
    QString identifier(int column) const { return m_identifiers.value(column); }
    int columnOf(QStringView identifier) const;
    void reload();

private:
    void rebuildColumns();

    Campaign *m_campaign;
    QStringList m_identifiers;
};

} // namespace brisko

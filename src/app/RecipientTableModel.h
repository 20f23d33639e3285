#pragma once

#include "Campaign.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QStringList>

#include <optional>

namespace brisko {

// The recipient table's data: row n is record n of the campaign's list; columns are
// identified by name ("_BRISKO_INDEX", "_BRISKO_STATUS", "EMAIL", then data columns).
//
// Changes made through this model are announced with the matching insert, remove and
// data-changed notices; changes made to the campaign's list elsewhere arrive as the
// campaign's recipientsReset() and reset the model.
class RecipientTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    static constexpr QStringView IndexColumn = u"_BRISKO_INDEX";
    static constexpr QStringView StatusColumn = u"_BRISKO_STATUS";
    // Names of the outcome images (FennimarImaging::imageNamed).
    static constexpr QStringView AcceptedImage = u"status_ok";
    static constexpr QStringView FailedImage = u"status_fail";
    static constexpr QStringView UnknownImage = u"status_unknown";
    // Above this many separate runs of rows a removal is one pass and one reset rather
    // than one remove notice per run.
    static constexpr int MaxRemovedRuns = 64;

    // The status column's send outcome: 1 accepted, -1 failed, 0 none.
    static constexpr int ResponseRole = Qt::UserRole;
    // The row-number column's text. A row's number is where the row stands, not data
    // that moves with it, so it is kept out of the display role (as in the vertical
    // header, which shows the same number).
    static constexpr int RowNumberRole = Qt::UserRole + 1;

    explicit RecipientTableModel(Campaign *campaign, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    // The cell's content by column identifier: the row number counting from 1 as text,
    // the outcome image of the row's address (a null icon when it has none), or the
    // record's value (an invalid variant when it has none).
    QVariant objectValue(QStringView column, int row) const;
    // Stores an edit in the row's record under the column's identifier and marks the
    // campaign modified. The program's own columns are never stored.
    bool setObjectValue(const QString &value, const QString &column, int row);
    // Puts a cell back as it was before an edit: the value, or no value at all. Marks
    // the campaign modified; no cellEdited() notice.
    bool restoreObjectValue(const std::optional<QString> &value, const QString &column, int row);
    // The outcome text of the row's address for the status column; none elsewhere.
    std::optional<QString> toolTip(QStringView column, int row) const;

    // The program's two columns, then the campaign's data columns.
    QStringList identifiers() const { return m_identifiers; }
    QString identifier(int column) const { return m_identifiers.value(column); }
    int columnOf(QStringView identifier) const;
    void reload();

    // Appends the records at the end of the list.
    void appendRecipients(const RecipientList &records);
    // Removes the records at these rows (any order, repeats allowed); the others keep
    // their order. Contiguous runs go from the bottom up, one notice each.
    void removeRecipientRows(QList<int> rows);
    // Empties the list.
    void removeAllRecipients();

    // The outcome images, loaded once; a missing image gives a null icon.
    // The image of an outcome code (SendRun::AcceptedCode, FailedCode, UnknownCode).
    static QIcon statusImage(int code);

Q_SIGNALS:
    // A cell was changed through the table (not by restoreObjectValue()).
    void cellEdited(const brisko::RecipientPtr &record, const QString &column, const std::optional<QString> &before,
                    const QString &after);

private:
    void rebuildColumns();
    // Tells the campaign its list changed without resetting this model.
    void announceListChange();

    Campaign *m_campaign;
    QStringList m_identifiers;
    bool m_changingList = false;
};

} // namespace brisko

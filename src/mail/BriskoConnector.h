#pragma once

#include "Recipient.h"

#include <QObject>
#include <QString>

namespace brisko {

// Talks to the mail service for one delivery run or one account request; a new
// connector is made for each and keeps nothing between operations.
class BriskoConnector : public QObject
{
    Q_OBJECT

public:
    explicit BriskoConnector(QObject *parent = nullptr);
    ~BriskoConnector() override;

    // ---------------------------------------------------------------------------------
    // Placeholder merge
    //
    // The template with every placeholder "__KEY__" replaced by the record's value for
    // KEY. Matching is literal: code unit by code unit, case-sensitive, no normalisation.
    //
    // Every key of the record is processed exactly once, in the record's keys() order:
    // the columns of the list the record was imported or loaded from, in heading order,
    // then the keys set by hand, in the order they were first set. One key's pass
    // replaces every occurrence of its token in the whole current text, found left to
    // right without overlapping; the inserted values are not searched again during that
    // pass, but later keys' passes do see them. So a value holding the token of a
    // column that comes later in that order has it replaced, one holding the token of
    // an earlier column keeps it.
    //
    // Values go in as they stand (no trimming, no escaping, line breaks unchanged). A
    // token whose column the record lacks stays. "___EMAIL__" yields "_" followed by the
    // address: the match starts at the second underscore.
    //
    // Uses no state of the connector; the template and the record are not changed.
    QString doGreps(const QString &text, const Recipient &record) const;
    // ---------------------------------------------------------------------------------

    // ---------------------------------------------------------------------------------
    // Account operations (AccountOperations.h): each starts one signed request with the
    // account settings of the moment and returns whether it went out; the answer reaches
    // the shared MailHost. One connector may start several, e.g. one verification per
    // address.
    bool getAccountSendQuota();
    bool getAccountStatistics();
    bool validateLogin();
    bool verifyEmailAddress(const QString &address);
    // ---------------------------------------------------------------------------------
};

} // namespace brisko

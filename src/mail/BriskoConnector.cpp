#include "BriskoConnector.h"

#include "AccountOperations.h"

namespace brisko {

BriskoConnector::BriskoConnector(QObject *parent) : QObject(parent) {}

BriskoConnector::~BriskoConnector() = default;

// -------------------------------------------------------------------------------------
// Placeholder merge

QString BriskoConnector::doGreps(const QString &text, const Recipient &record) const
{
    QString result = text;
    record.forEach([&](const QString &key, const QString &value) {
        QString token;
        token.reserve(key.size() + 4);
        token.append(u"__").append(key).append(u"__");
        result.replace(token, value, Qt::CaseSensitive);
    });
    return result;
}

// -------------------------------------------------------------------------------------
// Account operations

bool BriskoConnector::getAccountSendQuota()
{
    return AccountOperations::getAccountSendQuota();
}

bool BriskoConnector::getAccountStatistics()
{
    return AccountOperations::getAccountStatistics();
}

bool BriskoConnector::validateLogin()
{
    return AccountOperations::validateLogin();
}

bool BriskoConnector::verifyEmailAddress(const QString &address)
{
    return AccountOperations::verifyEmailAddress(address);
}

// -------------------------------------------------------------------------------------

} // namespace brisko

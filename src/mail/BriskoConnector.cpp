#include "BriskoConnector.h"

#include "AccountOperations.h"
#include "CurlMultiDriver.h"
#include "PlaceholderMerge.h"

namespace brisko {

BriskoConnector::BriskoConnector(QObject *parent) : QObject(parent) {}

BriskoConnector::~BriskoConnector() = default;

// -------------------------------------------------------------------------------------
// Placeholder merge

QString BriskoConnector::doGreps(const QString &text, const Recipient &record) const
{
    QList<std::pair<QString, QString>> entries;
    record.forEach([&](const QString &key, const QString &value) { entries.emplace_back(key, value); });
    return PlaceholderMerge::merge(text, entries);
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

// Importing and exporting recipient lists.

#include "BriskoApplication.h"

namespace brisko {

void BriskoApplication::connectImport() {}

void BriskoApplication::setupTableColumns(const QStringList &columns)
{
    m_campaign.setupTableColumns(columns);
}

} // namespace brisko

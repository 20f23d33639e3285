// The account panel, the quota line, verification and statistics.

#include "BriskoApplication.h"

namespace brisko {

void BriskoApplication::connectAccount() {}

} // namespace brisko

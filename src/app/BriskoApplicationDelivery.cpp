// The delivery run: confirmations, the progress sheet and the outcomes.

#include "BriskoApplication.h"

namespace brisko {

void BriskoApplication::connectDelivery() {}

} // namespace brisko

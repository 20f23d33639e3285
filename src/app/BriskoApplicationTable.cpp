// The recipient table: rows, outcomes, editing, adding, removing and searching.

#include "BriskoApplication.h"

namespace brisko {

void BriskoApplication::connectTable() {}

} // namespace brisko

#pragma once

#include "clitool.h"

namespace brisko::cli {

Command showCommand();
Command createCommand();

} // namespace brisko::cli

#pragma once

#include "clitool.h"

namespace brisko::cli {

Command showCommand();
Command createCommand();
Command quotaCommand();
Command statsCommand();
Command verifyCommand();
Command previewCommand();
Command importCommand();
Command exportCommand();
Command mergeCommand();
Command sendCommand();
Command sendTestCommand();
Command statusCommand();

} // namespace brisko::cli

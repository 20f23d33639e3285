#include "foundationlogging.h"

Q_LOGGING_CATEGORY(lcFoundation, "brisko.foundation", QtInfoMsg)

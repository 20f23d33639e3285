#include "platformlogging.h"

Q_LOGGING_CATEGORY(lcPlatform, "brisko.platform", QtInfoMsg)

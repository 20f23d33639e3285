#include "applogging.h"

Q_LOGGING_CATEGORY(lcApp, "brisko.app", QtInfoMsg)

#include "uilogging.h"

Q_LOGGING_CATEGORY(lcUi, "brisko.ui", QtInfoMsg)

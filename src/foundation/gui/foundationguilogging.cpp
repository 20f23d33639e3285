#include "foundationguilogging.h"

Q_LOGGING_CATEGORY(lcFoundationGui, "brisko.foundation.gui", QtInfoMsg)

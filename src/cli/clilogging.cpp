#include "clilogging.h"

Q_LOGGING_CATEGORY(lcCli, "brisko.cli", QtInfoMsg)

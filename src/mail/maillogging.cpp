#include "maillogging.h"

Q_LOGGING_CATEGORY(lcMail, "brisko.mail", QtInfoMsg)

#include "campaignlogging.h"

Q_LOGGING_CATEGORY(lcCampaign, "brisko.campaign", QtInfoMsg)

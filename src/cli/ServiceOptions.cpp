#include "ServiceOptions.h"

#include "AccountSettings.h"

#include <QCommandLineParser>
#include <QLoggingCategory>
#include <QUrl>

#include <cmath>

using namespace Qt::StringLiterals;

namespace brisko::cli {

ServiceOptions::ServiceOptions(int defaultTimeoutSeconds)
    : profile(u"profile"_s,
              u"AWS profile of ~/.aws/credentials and ~/.aws/config (or AWS_SHARED_CREDENTIALS_FILE, "
              "AWS_CONFIG_FILE) whose keys, token and region to use; AWS_PROFILE, else \"default\"."_s,
              u"NAME"_s),
      region(u"region"_s, u"SES region, e.g. eu-west-1."_s, u"REGION"_s),
      endpoint(u"endpoint"_s, u"Service URL instead of the region's standard endpoint."_s, u"URL"_s),
      signature(u"signature"_s, u"Request signing: v4 (default) or v3 (legacy)."_s, u"v4|v3"_s),
      timeout(u"timeout"_s,
              u"Count a request as failed after this many seconds without an answer (%1)."_s.arg(
                  defaultTimeoutSeconds),
              u"SECONDS"_s),
      verbose(u"verbose"_s, u"Log each request to standard error."_s)
{
}

void ServiceOptions::addTo(QCommandLineParser &parser) const
{
    parser.addOptions({profile, region, endpoint, signature, timeout, verbose});
}

bool ServiceOptions::apply(const QCommandLineParser &parser, const QString &command, Io &io)
{
    exitStatus = UsageError;
    AccountSettings::Overrides overrides;
    overrides.useEnvironment = true;
    if (parser.isSet(profile)) {
        overrides.profile = parser.value(profile).trimmed();
        if (overrides.profile->isEmpty()) {
            io.err << "brisko-cli " << command << ": --profile needs a profile name\n";
            return false;
        }
    }
    if (parser.isSet(region))
        overrides.region = parser.value(region);
    if (parser.isSet(endpoint)) {
        const QUrl url(parser.value(endpoint));
        if (!url.isValid() || (url.scheme() != u"http" && url.scheme() != u"https") || url.host().isEmpty()) {
            io.err << "brisko-cli " << command << ": --endpoint needs an http or https URL\n";
            return false;
        }
        overrides.endpoint = parser.value(endpoint);
    }
    if (parser.isSet(signature)) {
        overrides.signatureVersion = AccountSettings::signatureVersionFromString(parser.value(signature));
        if (!overrides.signatureVersion) {
            io.err << "brisko-cli " << command << ": --signature is v4 or v3\n";
            return false;
        }
    }
    if (parser.isSet(timeout)) {
        bool ok = false;
        const double seconds = parser.value(timeout).toDouble(&ok);
        if (!ok || !(seconds > 0) || seconds > 86400) {
            io.err << "brisko-cli " << command << ": --timeout needs a positive number of seconds\n";
            return false;
        }
        timeoutMs = int(seconds * 1000);
    }
    AccountSettings::setOverrides(overrides);
    if (!parser.isSet(verbose))
        QLoggingCategory::setFilterRules(u"brisko.mail.info=false"_s);
    if (const auto problem = AccountSettings::load().problem) {
        io.err << "brisko-cli " << command << ": " << *problem << '\n';
        exitStatus = Failure;
        return false;
    }
    exitStatus = 0;
    return true;
}

} // namespace brisko::cli

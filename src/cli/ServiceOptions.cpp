#include "ServiceOptions.h"

#include "AccountSettings.h"

#include <QCommandLineParser>
#include <QDir>
#include <QLoggingCategory>
#include <QUrl>

#include <cmath>

using namespace Qt::StringLiterals;

namespace brisko::cli {

ServiceOptions::ServiceOptions(int defaultTimeoutSeconds, bool withTransport)
    : profile(u"profile"_s,
              u"AWS profile of ~/.aws/credentials and ~/.aws/config (or AWS_SHARED_CREDENTIALS_FILE, "
              "AWS_CONFIG_FILE) whose keys, token and region to use; AWS_PROFILE, else \"default\"."_s,
              u"NAME"_s),
      region(u"region"_s, u"SES region, e.g. eu-west-1."_s, u"REGION"_s),
      endpoint(u"endpoint"_s, u"Service URL instead of the region's standard endpoint."_s, u"URL"_s),
      signature(u"signature"_s, u"Request signing: v4 (default) or v3 (legacy)."_s, u"v4|v3"_s),
      timeout(u"timeout"_s,
              u"Stop waiting after this many seconds (%1): a message written but not answered by then is unknown, one never written is failed."_s.arg(
                  defaultTimeoutSeconds),
              u"SECONDS"_s),
      verbose(u"verbose"_s, u"Log each request to standard error."_s),
      transport(u"transport"_s,
                u"Send through Amazon SES (default), the SMTP server, or write each message as a .eml file "
                u"into the folder DIR."_s,
                u"ses|smtp|outbox:DIR"_s),
      smtp(u"smtp"_s, u"The SMTP server for this run (port 25 unless given)."_s, u"HOST:PORT"_s),
      smtpUser(u"smtp-user"_s,
               u"Log in to the SMTP server as NAME; the password comes from the preferences or "
               u"BRISKO_SMTP_PASSWORD."_s,
               u"NAME"_s),
      configurationSet(u"configuration-set"_s,
                       u"The SES configuration set that publishes the messages' events, instead of the one of "
                       u"the account settings (SMTP and the outbox ignore it)."_s,
                       u"NAME"_s),
      withTransport(withTransport)
{
}

void ServiceOptions::addTo(QCommandLineParser &parser) const
{
    parser.addOptions({profile, region, endpoint, signature, timeout, verbose});
    if (withTransport)
        parser.addOptions({transport, smtp, smtpUser, configurationSet});
}

namespace {

// "host", "host:port", "[v6]:port", or a bare IPv6 address; none when the text is wrong.
std::optional<std::pair<QString, std::optional<int>>> hostAndPort(const QString &text)
{
    QString host = text.trimmed();
    QString port;
    if (host.startsWith(u'[')) {
        const qsizetype close = host.indexOf(u']');
        if (close < 0)
            return std::nullopt;
        const QString rest = host.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(u':'))
            return std::nullopt;
        port = rest.mid(1);
        host = host.mid(1, close - 1);
        if (!rest.isEmpty() && port.isEmpty())
            return std::nullopt;
    } else if (host.count(u':') == 1) {
        port = host.section(u':', 1);
        host = host.section(u':', 0, 0);
        if (port.isEmpty())
            return std::nullopt;
    }
    if (host.isEmpty() || host.contains(u'/') || host.contains(u' '))
        return std::nullopt;
    if (port.isEmpty())
        return std::make_pair(host, std::optional<int>());
    bool ok = false;
    const int number = port.toInt(&ok);
    if (!ok || number < 1 || number > 65535)
        return std::nullopt;
    return std::make_pair(host, std::optional<int>(number));
}

} // namespace

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
    if (withTransport && parser.isSet(transport)) {
        const QString value = parser.value(transport);
        if (value.startsWith(u"outbox:")) {
            const QString folder = value.mid(7);
            if (folder.trimmed().isEmpty()) {
                io.err << "brisko-cli " << command << ": --transport outbox:DIR needs a folder\n";
                return false;
            }
            overrides.transport = AccountSettings::Transport::Outbox;
            overrides.outboxFolder = QDir(folder).absolutePath();
        } else {
            overrides.transport = AccountSettings::transportFromString(value);
            if (!overrides.transport || *overrides.transport == AccountSettings::Transport::Outbox) {
                io.err << "brisko-cli " << command << ": --transport is ses, smtp or outbox:DIR\n";
                return false;
            }
        }
    }
    if (withTransport && parser.isSet(smtp)) {
        const auto server = hostAndPort(parser.value(smtp));
        if (!server) {
            io.err << "brisko-cli " << command << ": --smtp needs HOST or HOST:PORT (port 1 to 65535)\n";
            return false;
        }
        overrides.smtpHost = server->first;
        overrides.smtpPort = server->second.value_or(25);
    }
    if (withTransport && parser.isSet(smtpUser))
        overrides.smtpUser = parser.value(smtpUser);
    if (withTransport && parser.isSet(configurationSet)) {
        const QString name = parser.value(configurationSet).trimmed();
        if (const auto problem = AccountSettings::configurationSetProblem(name)) {
            io.err << "brisko-cli " << command << ": --configuration-set: " << *problem << '\n';
            return false;
        }
        overrides.configurationSet = name;
    }
    AccountSettings::setOverrides(overrides);
    if (!parser.isSet(verbose))
        QLoggingCategory::setFilterRules(u"brisko.mail.info=false"_s);
    // The SES account's problems do not stop a run through SMTP or into the outbox.
    const AccountSettings settings = AccountSettings::load();
    if (const auto problem = settings.problem; problem && settings.transport == AccountSettings::Transport::Ses) {
        io.err << "brisko-cli " << command << ": " << *problem << '\n';
        exitStatus = Failure;
        return false;
    }
    exitStatus = 0;
    return true;
}

std::optional<QString> transportProblem(const AccountSettings &settings)
{
    switch (settings.transport) {
    case AccountSettings::Transport::Ses:
        if (!settings.accessKey)
            return u"no access key stored (account panel, an AWS profile, or AWS_ACCESS_KEY_ID and "
                   "AWS_SECRET_ACCESS_KEY)"_s;
        break;
    case AccountSettings::Transport::Smtp:
        if (settings.smtpHost.isEmpty())
            return u"no SMTP server set (account panel, or --smtp HOST:PORT)"_s;
        break;
    case AccountSettings::Transport::Outbox:
        if (settings.outboxFolder.isEmpty())
            return u"no outbox folder set (account panel, or --transport outbox:DIR)"_s;
        break;
    }
    return std::nullopt;
}

} // namespace brisko::cli

#include "AccountSettings.h"

#include "AwsProfiles.h"
#include "FennimarUserDefaults.h"
#include "SecretStore.h"

#include <QSettings>

#include <cmath>

using namespace Qt::StringLiterals;

namespace brisko {

namespace {

AccountSettings::Overrides &processOverrides()
{
    static AccountSettings::Overrides overrides;
    return overrides;
}

std::optional<QString> storedString(QStringView key)
{
    const QVariant value = FennimarUserDefaults::objectForKey(key.toString());
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

std::optional<QString> environment(const char *name)
{
    const QString value = qEnvironmentVariable(name);
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

} // namespace

AccountSettings AccountSettings::stored()
{
    // Secrets still in the preferences file go to the keyring the first time one runs.
    SecretStore::moveFromPreferences({SecretKeyKey.toString(), SmtpPasswordKey.toString()});

    AccountSettings settings;
    QString keyringFailure;
    settings.accessKey = storedString(AccessKeyKey);
    settings.secretKey = SecretStore::read(SecretKeyKey.toString(), &keyringFailure);
    if (const auto region = storedString(RegionKey); region && !region->trimmed().isEmpty())
        settings.region = region->trimmed();
    settings.endpoint = storedString(EndpointKey).value_or(QString()).trimmed();
    if (const auto text = storedString(SignatureVersionKey)) {
        if (const auto version = signatureVersionFromString(*text))
            settings.signatureVersion = *version;
    }
    settings.smtpHost = storedString(SmtpHostKey).value_or(QString());
    bool ok = false;
    const int port = storedString(SmtpPortKey).value_or(QString()).toInt(&ok);
    if (ok && port > 0 && port < 65536)
        settings.smtpPort = port;
    settings.smtpUser = storedString(SmtpUserKey).value_or(QString());
    settings.smtpPassword = SecretStore::read(SmtpPasswordKey.toString(), &keyringFailure).value_or(QString());
    if (const auto profile = storedString(AwsProfileKey); profile && !profile->trimmed().isEmpty())
        settings.awsProfile = profile->trimmed();
    if (const auto text = storedString(SendRateKey)) {
        bool valid = false;
        const double rate = text->toDouble(&valid);
        if (valid && std::isfinite(rate) && rate > 0 && rate <= HighestSendRate)
            settings.sendRate = rate;
    }
    if (const auto text = storedString(TransportKey)) {
        if (const auto transport = transportFromString(*text))
            settings.transport = *transport;
    }
    settings.outboxFolder = storedString(OutboxFolderKey).value_or(QString());
    if (const auto name = storedString(ConfigurationSetKey); name && !name->trimmed().isEmpty())
        settings.configurationSet = name->trimmed();
    if (!keyringFailure.isEmpty())
        settings.problem = keyringFailure;
    return settings;
}

AccountSettings AccountSettings::load()
{
    AccountSettings settings = stored();
    const Overrides &overrides = processOverrides();

    // The profile: the run's, else the environment's, else the stored choice; brisko-cli
    // also looks at "default" when none is named. One that was named must be there.
    std::optional<QString> profileName = overrides.profile;
    if (!profileName && overrides.useEnvironment)
        profileName = environment("AWS_PROFILE");
    if (!profileName)
        profileName = settings.awsProfile;
    const bool named = profileName.has_value();
    if (!profileName && overrides.useEnvironment)
        profileName = AwsProfiles::DefaultProfile.toString();
    // Keys from the window's chosen profile replace the typed ones, never mix with them.
    if (!overrides.useEnvironment && settings.awsProfile) {
        settings.accessKey.reset();
        settings.secretKey.reset();
    }

    bool keysFromProfile = false;
    if (profileName) {
        QString error;
        const auto profile = AwsProfiles::load(*profileName, &error);
        if (!profile) {
            settings.problem = error;
        } else if (named && !profile->found) {
            settings.problem = u"the AWS profile \"%1\" is in neither %2 nor %3"_s.arg(
                *profileName, AwsProfiles::credentialsFilePath(), AwsProfiles::configFilePath());
        } else if (profile->found) {
            if (profile->hasKeys()) {
                settings.accessKey = profile->accessKeyId;
                settings.secretKey = profile->secretAccessKey;
                settings.sessionToken = profile->sessionToken;
                settings.profileInUse = profile->name;
                keysFromProfile = true;
            } else if (named && (profile->accessKeyId || profile->secretAccessKey || settings.awsProfile)) {
                settings.problem = u"the AWS profile \"%1\" has no aws_access_key_id and "
                                   "aws_secret_access_key"_s.arg(*profileName);
            }
            if (profile->region)
                settings.region = profile->region->trimmed();
        }
    }

    if (overrides.useEnvironment) {
        // Keys of a profile named on the command line go before the environment's.
        const bool profileFromRun = overrides.profile && keysFromProfile;
        if (!profileFromRun) {
            if (const auto value = environment("AWS_ACCESS_KEY_ID")) {
                settings.accessKey = value;
                settings.sessionToken = environment("AWS_SESSION_TOKEN");
                settings.profileInUse.clear();
            }
            if (const auto value = environment("AWS_SECRET_ACCESS_KEY"))
                settings.secretKey = value;
        }
        if (const auto value = environment("AWS_REGION"))
            settings.region = value->trimmed();
        else if (const auto fallback = environment("AWS_DEFAULT_REGION"))
            settings.region = fallback->trimmed();
        if (const auto value = environment("BRISKO_SMTP_PASSWORD"))
            settings.smtpPassword = *value;
    }
    if (overrides.region)
        settings.region = overrides.region->trimmed();
    if (overrides.endpoint)
        settings.endpoint = overrides.endpoint->trimmed();
    if (overrides.signatureVersion)
        settings.signatureVersion = *overrides.signatureVersion;
    if (overrides.transport)
        settings.transport = *overrides.transport;
    if (overrides.outboxFolder)
        settings.outboxFolder = *overrides.outboxFolder;
    if (overrides.smtpHost)
        settings.smtpHost = overrides.smtpHost->trimmed();
    if (overrides.smtpPort)
        settings.smtpPort = *overrides.smtpPort;
    if (overrides.smtpUser)
        settings.smtpUser = *overrides.smtpUser;
    if (overrides.configurationSet)
        settings.configurationSet = *overrides.configurationSet;
    return settings;
}

bool AccountSettings::save(QString *error) const
{
    bool ok = true;
    QString failure;
    {
        const auto store = FennimarUserDefaults::settings();
        const auto put = [&store](QStringView key, const std::optional<QString> &value) {
            if (value)
                store->setValue(key.toString(), *value);
            else
                store->remove(key.toString());
        };
        put(AccessKeyKey, accessKey);
        put(RegionKey, region);
        put(EndpointKey, endpoint);
        put(SignatureVersionKey, signatureVersionName(signatureVersion));
        put(SmtpHostKey, smtpHost);
        put(SmtpPortKey, QString::number(smtpPort));
        put(SmtpUserKey, smtpUser);
        put(AwsProfileKey, awsProfile);
        put(SendRateKey, sendRate ? std::optional<QString>(QString::number(*sendRate)) : std::nullopt);
        put(TransportKey, transportName(transport));
        put(OutboxFolderKey, outboxFolder);
        put(ConfigurationSetKey, configurationSet);
        store->sync();
        if (store->status() != QSettings::NoError) {
            ok = false;
            failure = u"the preferences could not be written to %1"_s.arg(store->fileName());
        }
    }
    const std::optional<QString> password =
        smtpPassword.isEmpty() ? std::nullopt : std::optional<QString>(smtpPassword);
    ok = SecretStore::write(SecretKeyKey.toString(), secretKey, failure.isEmpty() ? &failure : nullptr) && ok;
    ok = SecretStore::write(SmtpPasswordKey.toString(), password, failure.isEmpty() ? &failure : nullptr) && ok;
    if (error)
        *error = failure;
    return ok;
}

void AccountSettings::setOverrides(const Overrides &overrides)
{
    processOverrides() = overrides;
}

AccountSettings::Overrides AccountSettings::overrides()
{
    return processOverrides();
}

QStringList AccountSettings::sesRegions()
{
    return {
        u"us-east-1"_s,      u"us-east-2"_s,      u"us-west-1"_s,      u"us-west-2"_s,
        u"af-south-1"_s,     u"ap-south-1"_s,     u"ap-south-2"_s,     u"ap-northeast-1"_s,
        u"ap-northeast-2"_s, u"ap-northeast-3"_s, u"ap-southeast-1"_s, u"ap-southeast-2"_s,
        u"ap-southeast-3"_s, u"ca-central-1"_s,   u"eu-central-1"_s,   u"eu-central-2"_s,
        u"eu-north-1"_s,     u"eu-south-1"_s,     u"eu-west-1"_s,      u"eu-west-2"_s,
        u"eu-west-3"_s,      u"il-central-1"_s,   u"me-south-1"_s,     u"me-central-1"_s,
        u"sa-east-1"_s,      u"us-gov-east-1"_s,  u"us-gov-west-1"_s,
    };
}

QString AccountSettings::standardEndpoint(const QString &region)
{
    return u"https://email."_s + region + u".amazonaws.com"_s;
}

QString AccountSettings::endpointInUse() const
{
    if (!endpoint.isEmpty())
        return endpoint;
    return standardEndpoint(region.isEmpty() ? DefaultRegion.toString() : region);
}

QUrl AccountSettings::requestUrl() const
{
    QUrl url(endpointInUse());
    if (url.path().isEmpty())
        url.setPath(u"/"_s);
    return url;
}

std::optional<AccountSettings::SignatureVersion> AccountSettings::signatureVersionFromString(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == u"v4" || t == u"4")
        return SignatureVersion::V4;
    if (t == u"v3" || t == u"3")
        return SignatureVersion::V3;
    return std::nullopt;
}

QString AccountSettings::signatureVersionName(SignatureVersion version)
{
    return version == SignatureVersion::V3 ? u"v3"_s : u"v4"_s;
}

std::optional<AccountSettings::Transport> AccountSettings::transportFromString(const QString &text)
{
    const QString t = text.trimmed().toLower();
    if (t == u"ses")
        return Transport::Ses;
    if (t == u"smtp")
        return Transport::Smtp;
    if (t == u"outbox")
        return Transport::Outbox;
    return std::nullopt;
}

QString AccountSettings::transportName(Transport transport)
{
    switch (transport) {
    case Transport::Smtp:
        return u"smtp"_s;
    case Transport::Outbox:
        return u"outbox"_s;
    case Transport::Ses:
        break;
    }
    return u"ses"_s;
}

std::optional<QString> AccountSettings::configurationSetProblem(const QString &name)
{
    if (name.isEmpty())
        return u"A configuration set needs a name."_s;
    if (name.size() > LongestConfigurationSetName)
        return u"A configuration set's name has at most %1 characters; this one has %2."_s.arg(
            LongestConfigurationSetName).arg(name.size());
    for (const QChar c : name) {
        const char16_t u = c.unicode();
        const bool allowed = (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9') ||
                             u == u'_' || u == u'-';
        if (!allowed) {
            const QString what = c.isSpace()       ? u"a blank"_s
                                 : c.isSurrogate() ? u"a character outside A to Z"_s
                                                   : u"\"%1\""_s.arg(c);
            return u"A configuration set's name holds only the letters A to Z, digits, \"_\" and \"-\"; %1 is "
                   "not allowed."_s.arg(what);
        }
    }
    return std::nullopt;
}

} // namespace brisko

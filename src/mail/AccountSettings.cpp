#include "AccountSettings.h"

#include "FennimarUserDefaults.h"

#include <QSettings>

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

AccountSettings AccountSettings::load()
{
    AccountSettings settings;
    settings.accessKey = storedString(AccessKeyKey);
    settings.secretKey = storedString(SecretKeyKey);
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
    settings.smtpPassword = storedString(SmtpPasswordKey).value_or(QString());

    const Overrides &overrides = processOverrides();
    if (overrides.useEnvironment) {
        if (const auto value = environment("AWS_ACCESS_KEY_ID"))
            settings.accessKey = value;
        if (const auto value = environment("AWS_SECRET_ACCESS_KEY"))
            settings.secretKey = value;
        if (const auto value = environment("AWS_REGION"))
            settings.region = value->trimmed();
    }
    if (overrides.region)
        settings.region = overrides.region->trimmed();
    if (overrides.endpoint)
        settings.endpoint = overrides.endpoint->trimmed();
    if (overrides.signatureVersion)
        settings.signatureVersion = *overrides.signatureVersion;
    return settings;
}

void AccountSettings::save() const
{
    const auto store = FennimarUserDefaults::settings();
    const auto put = [&store](QStringView key, const std::optional<QString> &value) {
        if (value)
            store->setValue(key.toString(), *value);
        else
            store->remove(key.toString());
    };
    put(AccessKeyKey, accessKey);
    put(SecretKeyKey, secretKey);
    put(RegionKey, region);
    put(EndpointKey, endpoint);
    put(SignatureVersionKey, signatureVersionName(signatureVersion));
    put(SmtpHostKey, smtpHost);
    put(SmtpPortKey, QString::number(smtpPort));
    put(SmtpUserKey, smtpUser);
    put(SmtpPasswordKey, smtpPassword);
    store->sync();
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

} // namespace brisko

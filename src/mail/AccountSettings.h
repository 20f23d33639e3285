#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace brisko {

// The account the program talks to: the SES credentials, where the service is and how
// requests are signed, and the SMTP server. Read afresh for every request from the shared
// preferences (the window's account panel writes them), then overridden, where the
// process asked for it, by the environment and by the settings of one run (brisko-cli).
struct AccountSettings
{
    enum class SignatureVersion {
        V4, // AWS Signature Version 4 (the default)
        V3, // the "AWS3-HTTPS" scheme, for SES-compatible services that still need it
    };

    // Preference keys.
    static constexpr QStringView AccessKeyKey = u"AccessKey";
    static constexpr QStringView SecretKeyKey = u"SecretKey";
    static constexpr QStringView RegionKey = u"Region";                     // e.g. "eu-west-1"
    static constexpr QStringView EndpointKey = u"Endpoint";                 // full URL or empty
    static constexpr QStringView SignatureVersionKey = u"SignatureVersion"; // "v4" or "v3"
    static constexpr QStringView SmtpHostKey = u"SMTPHost";
    static constexpr QStringView SmtpPortKey = u"SMTPPort";
    static constexpr QStringView SmtpUserKey = u"SMTPUser";
    static constexpr QStringView SmtpPasswordKey = u"SMTPPassword";

    static constexpr QStringView DefaultRegion = u"us-east-1";

    // None when nothing is stored; an empty string counts as stored.
    std::optional<QString> accessKey;
    std::optional<QString> secretKey;
    QString region = DefaultRegion.toString();
    QString endpoint; // empty: the region's standard endpoint
    SignatureVersion signatureVersion = SignatureVersion::V4;
    QString smtpHost;
    int smtpPort = 25;
    QString smtpUser;
    QString smtpPassword;

    // What one process lays over the stored settings.
    struct Overrides
    {
        // Take AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY and AWS_REGION from the environment
        // when they are set and not empty (brisko-cli does; the window does not).
        bool useEnvironment = false;
        std::optional<QString> region;
        std::optional<QString> endpoint;
        std::optional<SignatureVersion> signatureVersion;
    };

    // The stored settings with the process's overrides applied. Missing or unreadable
    // values fall back to the defaults above.
    static AccountSettings load();
    // Writes every field to the preferences (a none key is removed).
    void save() const;

    // Overrides for the rest of the process (brisko-cli sets them from its options).
    static void setOverrides(const Overrides &overrides);
    static Overrides overrides();

    // The SES regions the account panel offers, us-east-1 first.
    static QStringList sesRegions();
    // "https://email.<region>.amazonaws.com".
    static QString standardEndpoint(const QString &region);

    // The endpoint in use: the one given, else the region's standard endpoint.
    QString endpointInUse() const;
    // The URL requests are posted to: the endpoint with the path "/" when it has none.
    QUrl requestUrl() const;

    // "v4"/"v3" (also "4", "3", "V4", "V3"); none for anything else.
    static std::optional<SignatureVersion> signatureVersionFromString(const QString &text);
    static QString signatureVersionName(SignatureVersion version);
};

} // namespace brisko

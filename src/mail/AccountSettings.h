#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace brisko {

// The account the program talks to: the SES credentials, where the service is and how
// requests are signed, the SMTP server, and which way a delivery run sends (SES, SMTP, or
// an outbox folder). Read afresh for every request from the shared
// preferences (the window's account panel writes them) and, where one is chosen, an AWS
// profile of the shared credential files, then overridden, where the process asked for it,
// by the environment and by the settings of one run (brisko-cli).
//
// Order, highest first: the run's options (--region, --profile, …), the environment
// (AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN, AWS_REGION, AWS_PROFILE),
// the profile, the preferences. A profile named by --profile supplies the keys even when
// the environment holds others, as the AWS command line does; the region from --region or
// AWS_REGION still goes first.
//
// The secret key and the SMTP password are kept by SecretStore: in the desktop keyring when
// one runs, else in the preferences file.
struct AccountSettings
{
    enum class SignatureVersion {
        V4, // AWS Signature Version 4 (the default)
        V3, // the "AWS3-HTTPS" scheme, for SES-compatible services that still need it
    };

    // Which way a delivery run sends its messages.
    enum class Transport {
        Ses,    // Amazon SES (the default)
        Smtp,   // the SMTP server below
        Outbox, // no sending: each message is written as a .eml file into outboxFolder
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
    // The AWS profile whose keys, token and region the window uses; absent or empty: the
    // keys typed in the account panel.
    static constexpr QStringView AwsProfileKey = u"AwsProfile";
    static constexpr QStringView SendRateKey = u"SendRate"; // messages per second; absent: the account's maximum
    static constexpr QStringView TransportKey = u"Transport"; // "ses", "smtp" or "outbox"
    static constexpr QStringView OutboxFolderKey = u"OutboxFolder";
    // The SES configuration set every SendRawEmail names; absent or empty: none.
    static constexpr QStringView ConfigurationSetKey = u"ConfigurationSet";

    static constexpr QStringView DefaultRegion = u"us-east-1";

    // None when nothing is stored; an empty string counts as stored.
    std::optional<QString> accessKey;
    std::optional<QString> secretKey;
    // The session token of temporary credentials (sent as X-Amz-Security-Token).
    std::optional<QString> sessionToken;
    QString region = DefaultRegion.toString();
    QString endpoint; // empty: the region's standard endpoint
    SignatureVersion signatureVersion = SignatureVersion::V4;
    QString smtpHost;
    int smtpPort = 25;
    QString smtpUser;
    QString smtpPassword;
    Transport transport = Transport::Ses;
    QString outboxFolder;
    // The stored profile choice (AwsProfileKey); none: keys typed by hand.
    std::optional<QString> awsProfile;
    // The configuration set whose event publishing (deliveries, bounces, complaints, opens)
    // applies to the messages sent through SES; none: the account's default. SMTP and the
    // outbox do not use it.
    std::optional<QString> configurationSet;

    // Filled by load(), not stored:
    // the profile whose keys are in use; empty when the keys come from elsewhere.
    QString profileInUse;
    // Why the account cannot be used as it stands: a credential file that breaks the INI
    // form (with file and line), a chosen profile that is missing or has no keys, a keyring
    // that does not answer. Requests are not sent while it is set.
    std::optional<QString> problem;

    // The pace the user chose, in messages per second; none: the account's maximum from
    // its quota. Only values above 0 and up to HighestSendRate are kept.
    std::optional<double> sendRate;
    static constexpr double HighestSendRate = 1000;

    // What one process lays over the stored settings.
    struct Overrides
    {
        // Take AWS_ACCESS_KEY_ID, AWS_SECRET_ACCESS_KEY, AWS_SESSION_TOKEN, AWS_REGION (or
        // AWS_DEFAULT_REGION) and AWS_PROFILE from the environment when they are set and not
        // empty, and read the "default" profile when no profile is chosen (brisko-cli does;
        // the window uses only the profile stored in the preferences). Also take the SMTP
        // password from BRISKO_SMTP_PASSWORD.
        bool useEnvironment = false;
        std::optional<QString> profile;
        std::optional<QString> region;
        std::optional<QString> endpoint;
        std::optional<SignatureVersion> signatureVersion;
        std::optional<Transport> transport;
        std::optional<QString> outboxFolder;
        std::optional<QString> smtpHost;
        std::optional<int> smtpPort;
        std::optional<QString> smtpUser;
        std::optional<QString> configurationSet;
    };

    // The settings in use: the stored settings, the profile and the process's overrides.
    // Missing or unreadable values fall back to the defaults above.
    static AccountSettings load();
    // Only what the preferences (and the secret store) hold, as the account panel edits it.
    static AccountSettings stored();
    // Writes every field to the preferences (a none key is removed), the secrets through
    // SecretStore. False, with the reason in *error, when a secret could not go to the
    // keyring; it is then kept in the preferences file.
    bool save(QString *error = nullptr) const;

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
    // "ses", "smtp", "outbox" (any case); none for anything else.
    static std::optional<Transport> transportFromString(const QString &text);
    static QString transportName(Transport transport);

    // Why the text cannot name a configuration set, none when it can: SES takes 1 to 64
    // ASCII letters, digits, "_" and "-".
    static std::optional<QString> configurationSetProblem(const QString &name);
    static constexpr int LongestConfigurationSetName = 64;
};

} // namespace brisko

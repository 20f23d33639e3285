#pragma once

#include "clitool.h"

#include <QCommandLineOption>

#include <optional>

class QCommandLineParser;

namespace brisko {
struct AccountSettings;
}

namespace brisko::cli {

// The options of every subcommand that talks to the service: --profile, --region,
// --endpoint, --signature, --timeout and --verbose, applied to the account settings for one
// run; for send and send-test also the transport: --transport ses|smtp|outbox:DIR,
// --smtp HOST[:PORT] and --smtp-user NAME (the SMTP password comes from the preferences or
// BRISKO_SMTP_PASSWORD, never from the command line, where other users could read it), and
// --configuration-set NAME for the SES messages.
struct ServiceOptions
{
    explicit ServiceOptions(int defaultTimeoutSeconds, bool withTransport = false);

    void addTo(QCommandLineParser &parser) const;
    // Applies the options for this run; false (after saying why) when one is wrong or the
    // account cannot be used as it stands (a malformed AWS credential file, a missing
    // profile, a keyring that does not answer). exitStatus then tells which.
    // A --timeout given is left in timeoutMs for the caller's own requests.
    bool apply(const QCommandLineParser &parser, const QString &command, Io &io);

    QCommandLineOption profile;
    QCommandLineOption region;
    QCommandLineOption endpoint;
    QCommandLineOption signature;
    QCommandLineOption timeout;
    QCommandLineOption verbose;
    QCommandLineOption transport;
    QCommandLineOption smtp;
    QCommandLineOption smtpUser;
    QCommandLineOption configurationSet;
    bool withTransport = false;
    std::optional<int> timeoutMs;
    int exitStatus = 0;
};

// What the transport of the settings lacks to send (SES: an access key; SMTP: a server; the
// outbox: a folder), with where to set it; none when it can send.
std::optional<QString> transportProblem(const AccountSettings &settings);

} // namespace brisko::cli

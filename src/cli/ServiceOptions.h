#pragma once

#include "clitool.h"

#include <QCommandLineOption>

#include <optional>

class QCommandLineParser;

namespace brisko::cli {

// The options of every subcommand that talks to the service: --profile, --region,
// --endpoint, --signature, --timeout and --verbose, applied to the account settings for one
// run.
struct ServiceOptions
{
    explicit ServiceOptions(int defaultTimeoutSeconds);

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
    std::optional<int> timeoutMs;
    int exitStatus = 0;
};

} // namespace brisko::cli

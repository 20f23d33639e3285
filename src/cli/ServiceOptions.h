#pragma once

#include "clitool.h"

#include <QCommandLineOption>

#include <optional>

class QCommandLineParser;

namespace brisko::cli {

// The options of every subcommand that talks to the service: --region, --endpoint,
// --signature, --timeout and --verbose, applied to the account settings for one run.
struct ServiceOptions
{
    explicit ServiceOptions(int defaultTimeoutSeconds);

    void addTo(QCommandLineParser &parser) const;
    // Applies the options for this run; false (after saying why) when one is wrong.
    // A --timeout given is left in timeoutMs for the caller's own requests.
    bool apply(const QCommandLineParser &parser, const QString &command, Io &io);

    QCommandLineOption region;
    QCommandLineOption endpoint;
    QCommandLineOption signature;
    QCommandLineOption timeout;
    QCommandLineOption verbose;
    std::optional<int> timeoutMs;
};

} // namespace brisko::cli

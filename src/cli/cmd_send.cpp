// brisko-cli send: the delivery run without a window. The same connector, pacing and
// outcome rules as the window's send command; progress on standard error, one line per
// recipient's outcome on standard output.

#include "AccountSettings.h"
#include "BriskoConnector.h"
#include "CampaignFile.h"
#include "FennimarStrings.h"
#include "BriskoSMTPConnector.h"
#include "MailHost.h"
#include "Outbox.h"
#include "OutboxConnector.h"
#include "SendJournal.h"
#include "SendRun.h"
#include "ServiceOptions.h"
#include "clicommands.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <set>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace brisko::cli {

namespace {

// The conventional status of a program stopped by SIGINT.
constexpr int Interrupted = 130;
// The account's 24-hour quota stopped the run; the rest can be sent later.
constexpr int QuotaStopped = 2;
// Off a terminal, a summary line this often.
constexpr int SummaryEveryMs = 5000;

// ---- Ctrl-C, SIGTERM, SIGHUP: the handler only writes the signal's number to a pipe; the
// event loop reads it. ----

int g_signalPipe[2] = {-1, -1};
constexpr int WatchedSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void onInterrupt(int signal)
{
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

class InterruptWatch
{
public:
    // Called once per signal received, in the order they came.
    explicit InterruptWatch(std::function<void(int signal)> onSignal)
    {
        if (::pipe(g_signalPipe) != 0)
            return;
        for (const int fd : g_signalPipe)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        m_notifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(),
                         [onSignal = std::move(onSignal)] {
                             char buffer[16];
                             ssize_t count;
                             while ((count = ::read(g_signalPipe[0], buffer, sizeof buffer)) > 0) {
                                 for (ssize_t n = 0; n < count; ++n)
                                     onSignal(int(buffer[n]));
                             }
                         });
        struct sigaction action = {};
        action.sa_handler = onInterrupt;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (size_t n = 0; n < std::size(WatchedSignals); ++n)
            ::sigaction(WatchedSignals[n], &action, &m_previous[n]);
        m_installed = true;
    }
    ~InterruptWatch()
    {
        if (m_installed) {
            for (size_t n = 0; n < std::size(WatchedSignals); ++n)
                ::sigaction(WatchedSignals[n], &m_previous[n], nullptr);
        }
        m_notifier.reset();
        for (int &fd : g_signalPipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;

private:
    std::unique_ptr<QSocketNotifier> m_notifier;
    struct sigaction m_previous[std::size(WatchedSignals)] = {};
    bool m_installed = false;
};

// ---- Progress and outcomes ----

QString timeText(double seconds)
{
    const qlonglong total = qlonglong(std::ceil(std::max(0.0, seconds)));
    const QChar zero = u'0';
    if (total >= 3600)
        return u"%1:%2:%3"_s.arg(total / 3600).arg(total / 60 % 60, 2, 10, zero).arg(total % 60, 2, 10, zero);
    return u"%1:%2"_s.arg(total / 60).arg(total % 60, 2, 10, zero);
}

class CliSendHost : public MailHost
{
public:
    CliSendHost(Io &io, std::optional<double> rate, bool barOnTerminal, bool everyMessage, SendJournal &journal)
        : m_io(io), m_rate(rate), m_bar(barOnTerminal), m_everyMessage(everyMessage), m_journal(journal)
    {
        m_summary.setInterval(SummaryEveryMs);
        QObject::connect(&m_summary, &QTimer::timeout, [this] {
            m_io.err << "brisko-cli send: " << progressText() << '\n';
            m_io.err.flush();
        });
        // Outcome lines are grouped; whatever waits reaches the disk one interval later, or with
        // the next burst's sending lines when one comes sooner (one sync per interval, not two).
        m_journalFlush.setSingleShot(true);
        m_journalFlush.setInterval(SendJournal::SyncIntervalMs);
        QObject::connect(&m_journalFlush, &QTimer::timeout, [this] {
            if (!m_journal.hasPending())
                return;
            if (const int wait = m_journal.msUntilSyncDue(); wait > 0) {
                m_journalFlush.start(wait);
                return;
            }
            if (!m_journal.flush())
                journalFailed();
        });
    }

    // Every request is on record before it leaves: a journal that cannot be written stops the run.
    bool willSend(const QStringList &addresses) override
    {
        if (!m_journalFailed && m_journal.recordSending(addresses))
            return true;
        // The run stops itself when this answers false.
        journalFailed(false);
        return false;
    }

    void setMax24Send(const std::optional<QString> &max24, const std::optional<QString> &maxRate,
                      const std::optional<QString> &sentLast24) override
    {
        m_max24 = max24;
        m_sentLast24 = sentLast24;
        clearBar();
        m_io.err << "brisko-cli send: the account's MaxSendRate is " << maxRate.value_or(u"(none)"_s) << '\n';
        m_io.err.flush();
    }
    void statisticsResponse(const QString &) override {}
    void showLoginFailure(const QString &, const std::optional<QString> &) override {}

    float timerValueForSendRate() const override { return m_rate ? float(1.0 / *m_rate) : 0.0f; }

    void sendProgress(qsizetype value, qsizetype maximum, const QString &address) override
    {
        if (!m_clock.isValid())
            m_clock.start();
        Q_UNUSED(value);
        ++m_requests;
        m_maximum = maximum;
        m_address = address;
        if (m_bar) {
            drawBar();
        } else if (m_everyMessage) {
            m_io.err << "sending " << value + 1 << " of " << maximum << ": " << address << '\n';
            m_io.err.flush();
        } else if (!m_summary.isActive() && !m_ended) {
            m_summary.start();
        }
    }

    void mailSendRequeuedFor(const QString &address, const QString &why) override
    {
        ++m_requeued;
        journal(address, SendJournal::Event::Retry, why);
        if (m_everyMessage) {
            clearBar();
            m_io.err << "brisko-cli send: " << address << " turned away for now (" << oneLine(why)
                     << "): back into the queue\n";
            m_io.err.flush();
        }
        if (m_bar && !m_ended)
            drawBar();
    }

    void sendRateLowered(double rate, double fullRate, const QString &why) override
    {
        clearBar();
        m_io.err << "brisko-cli send: the service turned a request away (" << oneLine(why) << "): slowing to "
                 << QString::number(rate, 'g', 3) << " messages per second (of " << QString::number(fullRate, 'g', 3)
                 << ") and trying again\n";
        m_io.err.flush();
        if (m_bar && !m_ended)
            drawBar();
    }

    void quotaExhausted(qsizetype notSent) override
    {
        clearBar();
        m_io.err << "brisko-cli send: the account's 24-hour sending quota is used up (\""
                 << SendRun::DailyQuotaMessage << "\"), so the run stopped: " << notSent
                 << " recipient(s) not sent";
        if (m_max24)
            m_io.err << " (quota " << *m_max24 << " messages per 24 hours, " << m_sentLast24.value_or(u"?"_s)
                     << " sent in the last 24 hours)";
        m_io.err << ". The quota allows more as the 24 hours roll on: run the same send again later "
                    "and it sends to those only (brisko-cli quota shows the figures)\n";
        m_io.err.flush();
    }

    void mailSendResponseFor(const QString &address, const QString &response) override
    {
        const SendRun::Outcome outcome = SendRun::outcomeForResponse(response);
        QString text = outcome.status.value_or(QString());
        if (!outcome.status) {
            // No <Message>: name the error by its code rather than print nothing.
            text = FennimarStrings::stringBetween(u"<Code>"_s, u"</Code>"_s, response).value_or(u"error"_s);
        }
        if (outcome.code == SendRun::AcceptedCode) {
            journal(address, SendJournal::Event::Accepted, SendRun::acceptedDetail(response));
        } else {
            journal(address, SendJournal::Event::Failed, text);
        }
        report(address, outcome.code == SendRun::AcceptedCode ? Accepted : Failed, text);
    }

    void mailSendFailedFor(const QString &address, const QString &failure) override
    {
        journal(address, SendJournal::Event::Failed, failure);
        report(address, Failed, failure);
    }

    void mailSendUnknownFor(const QString &address, const QString &why) override
    {
        journal(address, SendJournal::Event::Unknown, why);
        report(address, Unknown, SendRun::UnknownStatus.toString() + u" ("_s + why + u')');
    }

    void mailSavedFor(const QString &address, const QString &path) override
    {
        journal(address, SendJournal::Event::Saved, path);
        report(address, Accepted, Outbox::SavedStatus.toString());
    }

    void sendRunEnded(const std::optional<QString> &notStartedBecause) override
    {
        clearBar();
        m_summary.stop();
        m_ended = true;
        if (notStartedBecause) {
            m_notStarted = true;
            m_io.err << "brisko-cli send: " << *notStartedBecause << '\n';
        }
        m_io.err.flush();
    }

    qsizetype accepted() const { return m_counts[Accepted]; }
    qsizetype failed() const { return m_counts[Failed]; }
    qsizetype unknown() const { return m_counts[Unknown]; }
    // Requests that left and were not turned away.
    qsizetype sent() const { return m_requests - m_requeued; }
    bool notStarted() const { return m_notStarted; }
    void setPacingRate(std::function<double()> rate) { m_pacingRate = std::move(rate); }
    // Called once when the journal cannot be written: nothing more may leave.
    void setOnJournalFailure(std::function<void()> stop) { m_stopRun = std::move(stop); }
    bool journalFailedAlready() const { return m_journalFailed; }

    // Writes every waiting outcome line; false (and told) when the journal cannot take them.
    bool flushJournal()
    {
        m_journalFlush.stop();
        if (!m_journalFailed && m_journal.flush())
            return true;
        journalFailed();
        return false;
    }

private:
    enum Kind { Accepted, Failed, Unknown };

    void journal(const QString &address, SendJournal::Event event, const QString &detail)
    {
        if (m_journalFailed)
            return;
        if (!m_journal.recordOutcome(address, event, detail)) {
            journalFailed();
            return;
        }
        if (m_journal.hasPending() && !m_journalFlush.isActive())
            m_journalFlush.start(std::max(1, m_journal.msUntilSyncDue()));
    }

    void journalFailed(bool stopRun = true)
    {
        if (m_journalFailed)
            return;
        m_journalFailed = true;
        clearBar();
        m_io.err << "brisko-cli send: " << m_journal.errorString() << "; the run stopped, as nothing may be sent without a record (free disk space or fix "
                    "the file's permissions, then send again)\n";
        m_io.err.flush();
        if (stopRun && m_stopRun)
            m_stopRun();
    }
    void report(const QString &address, Kind kind, const QString &text)
    {
        static const char *const words[] = {"accepted", "failed", "unknown"};
        m_counts[kind] += 1;
        clearBar();
        m_io.out << address << '\t' << words[kind] << '\t' << oneLine(text) << '\n';
        m_io.out.flush();
        if (m_bar && !m_ended)
            drawBar();
    }

    // Outcome lines stay one line each.
    static QString oneLine(const QString &text)
    {
        QString line = text;
        line.replace(u'\r', u' ').replace(u'\n', u' ').replace(u'\t', u' ');
        return line;
    }

    // "12 of 40 sent, 10 accepted, 1 failed, 0 unknown, 5.0/s, 0:06 left": the rate the run
    // paces at now (lower while the service throttles), the time left at that rate.
    QString progressText() const
    {
        const qsizetype done = sent();
        const double pacing = m_pacingRate();
        const double left = pacing > 0 ? double(m_maximum - done) / pacing : 0;
        return u"%1 of %2 sent, %3 accepted, %4 failed, %5 unknown, %6/s, %7 left"_s.arg(done)
            .arg(m_maximum)
            .arg(m_counts[Accepted])
            .arg(m_counts[Failed])
            .arg(m_counts[Unknown])
            .arg(pacing, 0, 'f', 1)
            .arg(timeText(left));
    }

    void drawBar()
    {
        constexpr int Width = 20;
        const qsizetype done = sent();
        const int filled = m_maximum > 0 ? int(Width * std::clamp<qsizetype>(done, 0, m_maximum) / m_maximum) : Width;
        QString line = u"\r["_s + QString(filled, u'#') + QString(Width - filled, u'-') + u"] "_s;
        line += progressText() + u"  "_s + m_address;
        m_io.err << line << "\x1b[K";
        m_io.err.flush();
        m_barShown = true;
    }

    void clearBar()
    {
        if (!m_barShown)
            return;
        m_io.err << "\r\x1b[K";
        m_io.err.flush();
        m_barShown = false;
    }

    Io &m_io;
    std::optional<double> m_rate;
    bool m_bar;
    bool m_everyMessage;
    QTimer m_summary;
    std::optional<QString> m_max24, m_sentLast24;
    bool m_barShown = false;
    bool m_ended = false;
    bool m_notStarted = false;
    std::function<double()> m_pacingRate = [] { return 0.0; };
    SendJournal &m_journal;
    QTimer m_journalFlush;
    bool m_journalFailed = false;
    std::function<void()> m_stopRun;
    QElapsedTimer m_clock;
    qsizetype m_requests = 0; // sendProgress calls: requests made
    qsizetype m_requeued = 0; // of them turned away for now
    qsizetype m_maximum = 0;
    QString m_address;
    qsizetype m_counts[3] = {};
};

struct HostScope
{
    explicit HostScope(MailHost *host) { MailHost::setShared(host); }
    ~HostScope() { MailHost::setShared(nullptr); }
};

// "1,4-9" as row indices from 0, ascending and without repeats; none (after saying why)
// when the text is wrong or names a row the campaign lacks.
std::optional<QList<qsizetype>> parseRows(const QString &text, qsizetype count, Io &io)
{
    std::set<qsizetype> rows;
    const QStringList parts = text.split(u',', Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        io.err << "brisko-cli send: --rows needs row numbers, e.g. 1,4-9\n";
        return std::nullopt;
    }
    for (const QString &part : parts) {
        const QStringList ends = part.trimmed().split(u'-');
        bool okFirst = false;
        bool okLast = false;
        const qsizetype first = ends.value(0).trimmed().toLongLong(&okFirst);
        const qsizetype last = ends.size() == 2 ? ends.value(1).trimmed().toLongLong(&okLast) : first;
        if (ends.size() > 2 || !okFirst || (ends.size() == 2 && !okLast) || first < 1 || last < first) {
            io.err << "brisko-cli send: --rows: '" << part.trimmed()
                   << "' is not a row number or a range like 4-9\n";
            return std::nullopt;
        }
        if (last > count) {
            io.err << "brisko-cli send: --rows: the campaign has " << count << " recipients, no row " << last
                   << '\n';
            return std::nullopt;
        }
        for (qsizetype row = first; row <= last; ++row)
            rows.insert(row - 1);
    }
    return QList<qsizetype>(rows.cbegin(), rows.cend());
}

// Asks a yes/no question on the terminal; true only for "y" or "yes".
bool confirm(Io &io, const QString &question)
{
    io.err << question << " [y/N] ";
    io.err.flush();
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    return answer == u"y" || answer == u"yes";
}

int runSend(const QStringList &arguments, Io &io)
{
    QCommandLineParser parser;
    const QCommandLineOption rowsOption(u"rows"_s, u"Send only these rows, counted from 1 (e.g. 1,4-9)."_s,
                                        u"ROWS"_s);
    const QCommandLineOption rateOption(u"rate"_s, u"Messages per second for this run, without asking for the quota (default: the send rate of the account settings, if set)."_s,
                                        u"N"_s);
    const QCommandLineOption yesOption(u"yes"_s, u"Do not ask the two confirmations."_s);
    const QCommandLineOption resendOption(
        u"resend"_s, u"Send also to the recipients the send journal (CAMPAIGN.brisko.sent) records as accepted "
                     u"or unknown; by default they are skipped."_s);
    const QCommandLineOption retryFailedOption(
        u"retry-failed"_s, u"Send only to the recipients whose last outcome in the send journal is failed."_s);
    ServiceOptions service(60, true);
    parser.addOptions({rowsOption, rateOption, yesOption, resendOption, retryFailedOption});
    service.addTo(parser);
    if (!parseArguments(parser, u"send"_s, arguments, io))
        return UsageError;
    const QStringList files = parser.positionalArguments();
    if (files.size() != 1) {
        io.err << "brisko-cli send: name one campaign file\n";
        return UsageError;
    }
    const bool resend = parser.isSet(resendOption);
    const bool retryFailed = parser.isSet(retryFailedOption);
    if (resend && retryFailed) {
        io.err << "brisko-cli send: --resend and --retry-failed cannot be used together\n";
        return UsageError;
    }

    if (!service.apply(parser, u"send"_s, io))
        return service.exitStatus;
    if (service.timeoutMs)
        SendRun::setSendTimeout(*service.timeoutMs);
    std::optional<double> rate;
    if (parser.isSet(rateOption)) {
        bool ok = false;
        rate = parser.value(rateOption).toDouble(&ok);
        if (!ok || !std::isfinite(*rate) || !(*rate > 0)) {
            io.err << "brisko-cli send: --rate needs a number of messages per second above 0\n";
            return UsageError;
        }
    }
    // The send rate chosen in the window's account panel, unless --rate overrides it for this run.
    if (!rate)
        rate = AccountSettings::load().sendRate;

    const QString &path = files.first();
    const std::optional<CampaignDocument> campaign = readCampaign(u"send"_s, path, io);
    if (!campaign)
        return Failure;
    const CampaignDocument &document = *campaign;
    const RecipientList all = document.recipients.value_or(RecipientList());
    RecipientList recipients = all;
    if (parser.isSet(rowsOption)) {
        const auto rows = parseRows(parser.value(rowsOption), all.size(), io);
        if (!rows)
            return UsageError;
        recipients.clear();
        for (const qsizetype row : *rows)
            recipients.append(all.at(row));
    }

    // What earlier runs did: a recipient already accepted, or whose message may have arrived,
    // gets no second one unless asked.
    // --resend sends to everyone, whatever the journal holds.
    const SendJournal::Replay replay = resend ? SendJournal::Replay() : readJournal(u"send"_s, path, io);
    if (replay.error && !resend) {
        io.err << "brisko-cli send: without the journal it cannot tell who already received this campaign; "
                  "nothing sent (--resend sends to everyone)\n";
        return Failure;
    }
    qsizetype skippedAccepted = 0, skippedUnknown = 0, skippedOther = 0;
    if (!resend) {
        RecipientList chosen;
        for (const RecipientPtr &recipient : std::as_const(recipients)) {
            const QString address = recipient ? recipient->email() : QString();
            const SendState state = sendState(replay, address);
            // Saved into the outbox only counts as never sent.
            if (retryFailed ? state == SendState::Failed : !replay.alreadyReceived(address)) {
                chosen.append(recipient);
            } else if (state == SendState::Accepted) {
                ++skippedAccepted;
            } else if (state == SendState::Unknown) {
                ++skippedUnknown;
            } else {
                ++skippedOther;
            }
        }
        recipients = chosen;
    }
    if (skippedAccepted + skippedUnknown > 0) {
        io.err << "brisko-cli send: skipped " << skippedAccepted + skippedUnknown
               << " recipient(s) who already received this campaign (" << skippedAccepted << " accepted, "
               << skippedUnknown << " unknown: it may have arrived); --resend sends to them again\n";
    }
    if (skippedOther > 0)
        io.err << "brisko-cli send: --retry-failed: skipped " << skippedOther << " recipient(s) never sent\n";
    if (recipients.isEmpty() && skippedAccepted + skippedUnknown + skippedOther > 0) {
        io.err << "brisko-cli send: nothing to send\n";
        io.err.flush();
        return Success;
    }

    const AccountSettings settings = AccountSettings::load();
    using Transport = AccountSettings::Transport;
    if (const auto problem = transportProblem(settings)) {
        io.err << "brisko-cli send: " << *problem << '\n';
        return Failure;
    }
    QString through = settings.endpointInUse();
    if (settings.transport == Transport::Smtp)
        through = u"the SMTP server %1:%2"_s.arg(settings.smtpHost).arg(settings.smtpPort);

    const QString subject = document.subject.value_or(QString());
    // The unsubscribe text and the size of every message are checked before anything leaves.
    SendRun::RunInfo extras;
    if (const auto why = SendRun::setExtras(extras, document.unsubscribe.value_or(QString()),
                                            document.attachments.value_or(AttachmentList()))) {
        io.err << "brisko-cli send: " << *why << "; nothing sent (fix the Unsubscribe field)\n";
        return Failure;
    }
    {
        SendRun::RunInfo measured = extras;
        setMessageFields(measured, document);
        measured.subject = subject;
        const SendRun::SizeCheck sizes = SendRun::checkSizes(measured, recipients);
        if (sizes.refusal) {
            io.err << "brisko-cli send: " << *sizes.refusal << '\n';
            return Failure;
        }
    }
    // Writing the outbox sends nothing, so there is nothing to confirm.
    if (!parser.isSet(yesOption) && settings.transport != Transport::Outbox) {
        if (!::isatty(STDIN_FILENO)) {
            io.err << "brisko-cli send: standard input is not a terminal, so nothing can be confirmed: "
                      "add --yes to send\n";
            return UsageError;
        }
        const QString first = u"Send \"%1\" to %2 recipient%3 through %4?"_s.arg(subject)
                                  .arg(recipients.size())
                                  .arg(recipients.size() == 1 ? QString() : u"s"_s)
                                  .arg(through);
        if (!extras.unsubscribe)
            io.err << "Note: the campaign has no Unsubscribe link; large mailbox providers expect one.\n";
        if (!confirm(io, first) ||
            !confirm(io, u"Are you sure? Sending starts at once; sent messages cannot be recalled."_s)) {
            io.err << "brisko-cli send: nothing sent\n";
            return Failure;
        }
    }

    // Opened before anything is sent: no journal, no run.
    SendJournal journal(SendJournal::pathForCampaign(path));
    if (!journal.open()) {
        io.err << "brisko-cli send: " << journal.errorString() << "; nothing sent (free disk space or fix the "
                  "file's permissions, then send again)\n";
        return Failure;
    }

    CliSendHost host(io, rate, ::isatty(STDERR_FILENO), parser.isSet(service.verbose), journal);
    const HostScope scope(&host);
    QEventLoop loop;
    std::unique_ptr<BriskoConnector> made;
    if (settings.transport == Transport::Smtp)
        made = std::make_unique<BriskoSMTPConnector>();
    else if (settings.transport == Transport::Outbox)
        made = std::make_unique<OutboxConnector>(settings.outboxFolder, all);
    else
        made = std::make_unique<BriskoConnector>();
    BriskoConnector &connector = *made;
    connector.setCampaignName(QFileInfo(path).completeBaseName());
    // Known once the run paces (after the quota answer when it asks for one).
    host.setPacingRate([&connector] { return connector.pacing() ? connector.pacing()->rate : 0.0; });
    bool interrupted = false;
    bool abandoned = false;
    host.setOnJournalFailure([&connector] { connector.stopSending(); });
    QObject::connect(&connector, &BriskoConnector::finished, &loop, &QEventLoop::quit);
    // The first Ctrl-C, SIGTERM or SIGHUP stops like Cancel: nothing more leaves and the
    // answers in flight are waited for. A second one stops waiting: every address still
    // without an answer is told as unknown (its message may have arrived).
    const InterruptWatch watch([&](int signal) {
        if (interrupted) {
            abandoned = true;
            connector.abandonInFlight();
            loop.quit();
            return;
        }
        interrupted = true;
        connector.stopSending();
        io.err << "brisko-cli send: interrupted (" << (signal == SIGTERM ? "SIGTERM" : signal == SIGHUP ? "SIGHUP" : "SIGINT")
               << ")";
        if (connector.pendingResponses() > 0)
            io.err << ": waiting for " << connector.pendingResponses()
                   << " answer(s) in flight (Ctrl-C again to stop waiting)";
        io.err << '\n';
        io.err.flush();
    });

    connector.setMessageExtras(extras.unsubscribe, extras.attachments);
    connector.sendMessageToRecipients(document.body.value_or(QString()), document.html.value_or(QString()),
                                      subject, document.from.value_or(QString()), recipients,
                                      document.replyTo.value_or(QString()), document.returnPath);
    if (!connector.hasStopped() || connector.pendingResponses() > 0)
        loop.exec();

    // Every outcome line on disk before the program ends, after Ctrl-C too.
    const bool journalWritten = host.flushJournal();
    journal.close();
    const qsizetype unanswered = connector.pendingResponses();
    const qsizetype notSent = connector.userInfo().recipients.size();
    io.err << "brisko-cli send: " << host.accepted() << " accepted, " << host.failed() << " failed";
    io.err << ", " << host.unknown() << " unknown";
    if (unanswered > 0)
        io.err << ", " << unanswered << " without an answer";
    if (notSent > 0)
        io.err << ", " << notSent << " not sent";
    io.err << " (of " << recipients.size() << ")\n";
    io.err.flush();
    if (interrupted || abandoned)
        return Interrupted;
    if (connector.stoppedAtQuota())
        return QuotaStopped;
    if (!journalWritten || host.notStarted() || host.accepted() != recipients.size() || host.failed() > 0)
        return Failure;
    return Success;
}

} // namespace

Command sendCommand()
{
    return {u"send"_s,
            u"CAMPAIGN.brisko [--rows 1,4-9] [--rate N] [--yes] [--resend | --retry-failed] [--region R] [--endpoint URL] "
            u"[--signature v4|v3] [--timeout S] [--verbose] [--transport ses|smtp|outbox:DIR] "
            u"[--smtp HOST:PORT] [--smtp-user NAME] [--configuration-set NAME]"_s,
            u"Send the campaign to every recipient (or to --rows), paced at the account's send rate, "
            u"through an SMTP server, or into an outbox folder. "
            u"Every run is recorded in CAMPAIGN.brisko.sent; recipients it records as accepted or unknown "
            u"are skipped unless --resend is given; a message only saved into an outbox folder does not count as "
            u"received. A request the service turns away for now (throttled, "
            u"unavailable, or its connection refused before it left) is sent again, up to 5 tries, and the "
            u"run slows down (half the rate each time, 10 % back per second). "
            u"On a terminal one line shows the progress; otherwise a summary line comes every 5 seconds "
            u"(--verbose: a line per message). "
            u"Exit status: 0 every recipient accepted; 1 some failed or unknown, or nothing could be sent; "
            u"2 the account's 24-hour quota stopped the run (send again later for the rest), or the "
            u"command line was wrong; 130 stopped by Ctrl-C, SIGTERM or SIGHUP."_s,
            runSend};
}

} // namespace brisko::cli

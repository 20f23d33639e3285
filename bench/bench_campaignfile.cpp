// Saving and loading a campaign of 100,000 recipients x 5 columns through the real
// campaign-file code, beside Python's plistlib reading and writing the same archive.
// Then the memory one opening takes, in a process of its own, against the target of at
// most four times the file's size.
// Run on a Release build: bench-bin/bench_campaignfile [recipients]

#include "CampaignFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>

using namespace brisko;

namespace {

template<typename F>
double bestOf(int runs, F &&f)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        f();
        best = std::min(best, timer.nsecsElapsed() / 1e6);
    }
    return best;
}

// VmHWM of /proc/self/status, in kB; -1 when unknown.
qint64 peakMemoryKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "--open") {
        // The child: how much the peak grows while one campaign opens.
        const qint64 before = peakMemoryKb();
        const auto result = CampaignFile::read(QString::fromLocal8Bit(argv[2]));
        const qint64 after = peakMemoryKb();
        std::printf("%lld %lld\n", (long long)before, (long long)(result.status == CampaignFile::ReadStatus::Ok ? after : -1));
        return 0;
    }
    const int count = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 100000;
    QTextStream out(stdout);

    CampaignDocument document;
    document.subject = QStringLiteral("Spring offers for __FIRSTNAME__");
    document.from = QStringLiteral("Shop <shop@example.com>");
    document.body = QStringLiteral("Dear __FIRSTNAME__,\n").repeated(50);
    document.html = QStringLiteral("<p>Dear __FIRSTNAME__</p>\n").repeated(200);
    document.replyTo = QString();
    document.returnPath = QString();
    const QStringList columns{QStringLiteral("EMAIL"), QStringLiteral("FIRSTNAME"), QStringLiteral("LASTNAME"),
                              QStringLiteral("CITY"), QStringLiteral("CODE")};
    document.columns = columns;
    RecipientList list;
    list.reserve(count);
    const QString cities[] = {QStringLiteral("Berlin"), QStringLiteral("Köln"), QStringLiteral("Wien")};
    for (int i = 0; i < count; ++i) {
        list.append(makeRecipient({{columns[0], QStringLiteral("user%1@example.com").arg(i)},
                                   {columns[1], QStringLiteral("First%1").arg(i)},
                                   {columns[2], QStringLiteral("Last%1").arg(i % 977)},
                                   {columns[3], cities[i % 3]},
                                   {columns[4], QString::number(10000 + i)}}));
    }
    document.recipients = list;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.brisko"));
    const double save = bestOf(3, [&] {
        if (CampaignFile::write(path, document))
            qFatal("save failed");
    });
    const qint64 size = QFileInfo(path).size();
    const double load = bestOf(3, [&] {
        const auto result = CampaignFile::read(path);
        if (result.status != CampaignFile::ReadStatus::Ok || result.document.recipients->size() != count)
            qFatal("load failed");
    });

    out << "campaign file, " << count << " recipients x 5 columns, " << size / 1024 << " KiB\n";
    out << QStringLiteral("  Brisko save: %1 ms\n").arg(save, 0, 'f', 1);
    out << QStringLiteral("  Brisko load: %1 ms\n").arg(load, 0, 'f', 1);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--open"), path});
    const QList<QByteArray> peaks =
        child.waitForFinished(600000) ? child.readAllStandardOutput().trimmed().split(' ') : QList<QByteArray>();
    if (peaks.size() == 2 && peaks[1].toLongLong() > 0) {
        const double grownKb = double(peaks[1].toLongLong() - peaks[0].toLongLong());
        const double ratio = grownKb * 1024 / double(size);
        out << QStringLiteral("  Brisko open, peak memory growth: %1 MB (%2x the file; target at most 4x: %3)\n")
                   .arg(grownKb / 1024, 0, 'f', 1)
                   .arg(ratio, 0, 'f', 2)
                   .arg(ratio <= 4 ? QStringLiteral("met") : QStringLiteral("NOT MET"));
    }
    out.flush();

    const QString script = QStringLiteral(R"(
import plistlib, sys, time
p = sys.argv[1]
raw = open(p, 'rb').read()
best_load = min((lambda: (lambda t: (plistlib.loads(raw), time.perf_counter() - t)[1])(time.perf_counter()))() for _ in range(3))
obj = plistlib.loads(raw)
best_dump = min((lambda: (lambda t: (plistlib.dumps(obj, fmt=plistlib.FMT_BINARY), time.perf_counter() - t)[1])(time.perf_counter()))() for _ in range(3))
print('  plistlib read: %.1f ms' % (best_load * 1000))
print('  plistlib write: %.1f ms' % (best_dump * 1000))
)");
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), script, path});
    if (python.waitForFinished(600000))
        out << QString::fromUtf8(python.readAllStandardOutput()) << QString::fromUtf8(python.readAllStandardError());
    else
        out << "  python3 not available\n";
    return 0;
}

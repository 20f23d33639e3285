// Imports a generated 1,000,000-line, five-column CSV list (about 68 MB) through the
// real import code and reports the time taken and the process's peak memory; then times
// a plain Python script doing the same split-and-dedupe, for reference.
//
//   bench_import [LINES]

#include "Campaign.h"
#include "RecipientImport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>

using namespace brisko;
using namespace Qt::StringLiterals;

namespace {

// VmHWM of /proc/self/status, in kB; -1 when unknown.
qint64 peakMemoryKb()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Writes the list in pieces, so that making it costs the process little memory.
// About one line in a hundred repeats an earlier address, one in two hundred has an
// invalid one.
bool writeList(const QString &path, int lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    static const char *const cities[] = {"Amsterdam", "Berlin", "Lisbon", "Oslo", "Prague", "Vienna"};
    QByteArray chunk;
    chunk.reserve(1 << 20);
    chunk += "EMAIL,FIRSTNAME,LASTNAME,CITY,COMPANY\n";
    char buffer[256];
    for (int i = 0; i < lines; ++i) {
        const int id = (i % 100 == 99) ? i - 50 : i;
        int n;
        if (i % 200 == 7)
            n = std::snprintf(buffer, sizeof buffer, "p%07d-at-example.com,Firstname%d,Lastname%d,%s,Company %d\n", id,
                              id % 9973, id % 7919, cities[id % 6], id % 1000);
        else
            n = std::snprintf(buffer, sizeof buffer,
                              "p%07d@example.com,Firstname%d,Lastname%d,%s,Company %d\n", id,
                              id % 9973, id % 7919, cities[id % 6], id % 1000);
        chunk.append(buffer, n);
        if (chunk.size() > (1 << 20) - 256) {
            if (file.write(chunk) != chunk.size())
                return false;
            chunk.clear();
        }
    }
    return file.write(chunk) == chunk.size();
}

const char pythonScript[] = R"(import resource, sys, time
start = time.perf_counter()
with open(sys.argv[1], encoding='utf-8') as f:
    lines = f.read().splitlines()
headings = lines[0].split(',')
seen = set()
records = []
for line in lines[1:]:
    if not line:
        continue
    fields = line.split(',')
    record = dict(zip(headings, fields))
    address = record.get('EMAIL')
    if address is None or '@' not in address or '.' not in address or address in seen:
        continue
    seen.add(address)
    records.append(record)
elapsed = time.perf_counter() - start
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
print('python3: %d records in %.2f s, peak %.0f MB' % (len(records), elapsed, peak / 1024))
)";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int lines = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;

    QTemporaryDir folder;
    if (!folder.isValid()) {
        std::fprintf(stderr, "bench_import: no temporary folder\n");
        return 1;
    }
    const QString listPath = folder.filePath(u"list.csv"_s);
    if (!writeList(listPath, lines)) {
        std::fprintf(stderr, "bench_import: could not write %s\n", qPrintable(listPath));
        return 1;
    }
    const qint64 size = QFile(listPath).size();
    const qint64 peakBefore = peakMemoryKb();

    Campaign campaign;
    QElapsedTimer timer;
    timer.start();
    RecipientImport::Result result = RecipientImport::importFile(listPath, RecipientImport::Separator::Comma);
    const qint64 importMs = timer.elapsed();
    campaign.setupTableColumns(result.headings);
    campaign.appendRecipients(result.records);
    result.records.clear();
    const qint64 totalMs = timer.elapsed();
    const qint64 peak = peakMemoryKb();

    // Reading a few values back shows the records are usable (and costs nothing to speak of).
    const RecipientList &list = campaign.recipients();
    const QString last = list.isEmpty() ? QString() : list.last()->valueOr(u"COMPANY"_s);

    std::printf("list: %d lines, %.1f MB\n", lines, double(size) / 1e6);
    std::printf("import: %lld records taken, %lld dropped (%lld invalid address, %lld repeated)\n",
                qint64(result.counts.taken), qint64(result.counts.dropped()),
                qint64(result.counts.invalidAddress), qint64(result.counts.repeatedAddress));
    std::printf("import: %.3f s (%.3f s with appending to the campaign); last COMPANY \"%s\"\n",
                double(importMs) / 1000, double(totalMs) / 1000, qPrintable(last));
    std::printf("peak memory of the process (VmHWM): %.0f MB (before importing: %.0f MB)\n", double(peak) / 1024,
                double(peakBefore) / 1024);
    std::printf("targets: <= 1.0 s, <= 350 MB: %s\n",
                (totalMs <= 1000 && peak <= 350 * 1024) ? "met" : "NOT MET");
    std::fflush(stdout);

    const QString python = QStandardPaths::findExecutable(u"python3"_s);
    if (python.isEmpty()) {
        std::printf("python3: not found, no reference\n");
        return 0;
    }
    const QString scriptPath = folder.filePath(u"reference.py"_s);
    QFile script(scriptPath);
    if (!script.open(QIODevice::WriteOnly) || script.write(pythonScript) < 0)
        return 0;
    script.close();
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(python, {scriptPath, listPath});
    process.waitForFinished(-1);
    return 0;
}

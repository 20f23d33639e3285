// Keyed-archive speed on a campaign of 100,000 recipients with five columns:
// archive + write and read + unarchive, through the value tree and through the
// record builder, next to Python's plistlib on the same file.
//
//   bench_keyedarchive [recipients]

#include "KeyedArchive.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace brisko;
using V = ArchiveValue;

namespace {

const QStringList Columns = {QStringLiteral("EMAIL"), QStringLiteral("FIRSTNAME"), QStringLiteral("LASTNAME"),
                             QStringLiteral("COMPANY"), QStringLiteral("CITY")};

QString cell(int row, int column)
{
    switch (column) {
    case 0: return QStringLiteral("user%1@example.org").arg(row);
    case 1: return QStringLiteral("First%1").arg(row);
    case 2: return QStringLiteral("L\u00e4stname %1").arg(row);
    case 3: return QStringLiteral("Company %1").arg(row);
    default: return QStringLiteral("Street %1").arg(row);
    }
}

// Every cell differs, so the archive holds one object per cell and per record.
QStringList cells(int rows)
{
    QStringList out;
    out.reserve(qsizetype(rows) * Columns.size());
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < Columns.size(); ++c)
            out.append(cell(r, c));
    }
    return out;
}

V campaign(const QStringList &cells, int rows)
{
    V::Array recipients;
    recipients.reserve(size_t(rows));
    const qsizetype n = Columns.size();
    for (int r = 0; r < rows; ++r) {
        V::Dictionary record;
        for (qsizetype c = 0; c < n; ++c)
            record.emplace_back(Columns[c], V::string(cells[r * n + c]));
        recipients.push_back(V::dictionary(std::move(record), V::Mutable));
    }
    V::Array columns;
    for (const QString &c : Columns)
        columns.push_back(V::string(c));
    return V::dictionary({{QStringLiteral("SUBJECT"), V::string(QStringLiteral("Hello __FIRSTNAME__"))},
                          {QStringLiteral("FROM"), V::string(QStringLiteral("news@example.org"))},
                          {QStringLiteral("BODY"), V::string(QStringLiteral("Dear __FIRSTNAME__,\n..."))},
                          {QStringLiteral("HTML"), V::string(QStringLiteral("<p>Dear __FIRSTNAME__</p>"))},
                          {QStringLiteral("REPLYTO"), V::string(QString())},
                          {QStringLiteral("RETURNPATH"), V::string(QString())},
                          {QStringLiteral("COLUMNS"), V::array(std::move(columns), V::Mutable)},
                          {QStringLiteral("RECIPIENTS"), V::array(std::move(recipients), V::Mutable)}},
                         V::Mutable);
}

// The same campaign written record by record, without a value tree.
QByteArray archiveWithBuilder(const QStringList &cells, int rows)
{
    using Uid = KeyedArchiver::Uid;
    KeyedArchiver a;
    const Uid root = a.reserve();
    const QStringList keys = {QStringLiteral("SUBJECT"), QStringLiteral("FROM"), QStringLiteral("BODY"),
                              QStringLiteral("HTML"), QStringLiteral("REPLYTO"), QStringLiteral("RETURNPATH"),
                              QStringLiteral("COLUMNS"), QStringLiteral("RECIPIENTS")};
    std::vector<Uid> keyUids, valueUids;
    for (const QString &k : keys)
        keyUids.push_back(a.encodeString(k));
    for (const QString &v : {QStringLiteral("Hello __FIRSTNAME__"), QStringLiteral("news@example.org"),
                             QStringLiteral("Dear __FIRSTNAME__,\n..."), QStringLiteral("<p>Dear __FIRSTNAME__</p>"),
                             QString(), QString()})
        valueUids.push_back(a.encodeString(v));
    const Uid columns = a.reserve();
    std::vector<Uid> columnUids;
    for (const QString &c : Columns)
        columnUids.push_back(a.encodeString(c));
    a.finishArray(columns, columnUids, V::Mutable);
    valueUids.push_back(columns);
    const Uid list = a.reserve();
    std::vector<Uid> records;
    records.reserve(size_t(rows));
    std::vector<Uid> k(size_t(Columns.size())), v(size_t(Columns.size()));
    for (int r = 0; r < rows; ++r) {
        const Uid record = a.reserve();
        for (int c = 0; c < Columns.size(); ++c)
            k[size_t(c)] = a.encodeString(Columns[c]);
        for (int c = 0; c < Columns.size(); ++c)
            v[size_t(c)] = a.encodeString(cells[r * Columns.size() + c]);
        a.finishDictionary(record, k, v, V::Mutable);
        records.push_back(record);
    }
    a.finishArray(list, records, V::Mutable);
    valueUids.push_back(list);
    a.finishDictionary(root, keyUids, valueUids, V::Mutable);
    return a.finish(root);
}

// Median and best of a few runs, in milliseconds.
std::pair<double, double> timed(int runs, const std::function<void()> &f)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.front()};
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const char *PythonScript = R"(
import base64, plistlib, sys, time
path = sys.argv[1]
t = time.perf_counter()
with open(path, "rb") as f:
    top = plistlib.load(f)
read_ms = (time.perf_counter() - t) * 1000
objects = top["$objects"]
def resolve(ref):
    if ref.data == 0: return None
    o = objects[ref.data]
    if not isinstance(o, dict): return o
    name = objects[o["$class"].data]["$classname"]
    if name.endswith("Dictionary"):
        return {resolve(k): resolve(v) for k, v in zip(o["NS.keys"], o["NS.objects"])}
    if name.endswith("Array"): return [resolve(v) for v in o["NS.objects"]]
    raise ValueError(name)
t = time.perf_counter()
root = resolve(top["$top"]["root"])
resolve_ms = (time.perf_counter() - t) * 1000
t = time.perf_counter()
data = plistlib.dumps(top, fmt=plistlib.FMT_BINARY, sort_keys=False)
with open(path + ".py", "wb") as f:
    f.write(data)
write_ms = (time.perf_counter() - t) * 1000
print("%.1f %.1f %.1f %d" % (read_ms, resolve_ms, write_ms, len(root["RECIPIENTS"])))
)";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.brisko"));

    const QStringList texts = cells(rows);
    QElapsedTimer t;
    t.start();
    const V value = campaign(texts, rows);
    std::printf("campaign of %d recipients x %lld columns built in %.1f ms\n", rows,
                qlonglong(Columns.size()), double(t.nsecsElapsed()) / 1e6);

    QByteArray file;
    const auto write = timed(5, [&] {
        file = *KeyedArchiver::archivedData(value);
        writeFile(path, file);
    });
    BinaryPlistReader info;
    if (info.open(file)) {
        std::fprintf(stderr, "written file does not open\n");
        return 1;
    }
    const auto top = BinaryPlist::read(file);
    std::printf("file: %lld bytes, %llu property-list objects, %zu archived objects (UIDs)\n",
                qlonglong(file.size()), qulonglong(info.objectCount()),
                top.ok() ? top->value(u"$objects")->items().size() : size_t(0));

    const auto builder = timed(5, [&] { writeFile(path + QStringLiteral(".b"), archiveWithBuilder(texts, rows)); });
    if (readFile(path + QStringLiteral(".b")) != file) {
        std::fprintf(stderr, "builder and value tree disagree\n");
        return 1;
    }

    bool ok = true;
    const auto read = timed(5, [&] {
        const auto v = KeyedUnarchiver::unarchive(readFile(path));
        ok = ok && v.ok() && v->value(u"RECIPIENTS")->items().size() == size_t(rows);
    });
    if (!ok) {
        std::fprintf(stderr, "unarchive failed\n");
        return 1;
    }
    const auto plist = timed(5, [&] { (void)BinaryPlist::read(readFile(path)); });

    std::printf("\n%-44s %10s %10s\n", "ours (ms)", "median", "best");
    std::printf("%-44s %10.1f %10.1f\n", "archive + write (value tree)", write.first, write.second);
    std::printf("%-44s %10.1f %10.1f\n", "archive + write (record builder)", builder.first, builder.second);
    std::printf("%-44s %10.1f %10.1f\n", "read + unarchive", read.first, read.second);
    std::printf("%-44s %10.1f %10.1f\n", "read as plain property list", plist.first, plist.second);

    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        std::printf("\npython3 not found: no comparison\n");
        return 0;
    }
    QProcess p;
    p.start(python, {QStringLiteral("-c"), QString::fromLatin1(PythonScript), path});
    if (!p.waitForFinished(300000) || p.exitCode() != 0) {
        std::printf("\npython3 plistlib failed: %s\n", p.readAllStandardError().constData());
        return 0;
    }
    const QList<QByteArray> f = p.readAllStandardOutput().simplified().split(' ');
    if (f.size() == 4) {
        std::printf("\n%-44s %10s\n", "python3 plistlib, same file (ms)", "one run");
        std::printf("%-44s %10s\n", "load", f[0].constData());
        std::printf("%-44s %10s\n", "resolve the archive graph", f[1].constData());
        std::printf("%-44s %10s\n", "dumps + write", f[2].constData());
        std::printf("%-44s %10.1f\n", "load + resolve", f[0].toDouble() + f[1].toDouble());
        const auto theirs = BinaryPlist::read(readFile(path + QStringLiteral(".py")));
        std::printf("our reader on plistlib's rewrite: %s\n",
                    theirs.ok() && theirs.value() == top.value() ? "same values" : "DIFFERENT");
    }
    return 0;
}

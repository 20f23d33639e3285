// Search-selecting, scrolling and editing in the recipient table of the real window,
// with 1,000,000 recipients held the way an import holds them (one shared buffer of
// UTF-8 bytes, records as offsets into it). Target: a search-select in at most 0.2 s.
// Run offscreen: QT_QPA_PLATFORM=offscreen bench-bin/bench_search [rows]

#include "BriskoApplication.h"
#include "RecipientTableModel.h"

#include <QElapsedTimer>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMainWindow>
#include <QScrollBar>
#include <QStandardPaths>
#include <QTableView>

#include <algorithm>
#include <cstdio>

using namespace brisko;

namespace {

constexpr int Domains = 50;
// Rows [ClusterBegin, ClusterEnd) have addresses at "cluster.test".
constexpr int ClusterBegin = 100000;
constexpr int ClusterEnd = 200000;

RecipientList makeRecipients(int count)
{
    auto source = std::make_shared<RecordSource>();
    source->keys = {u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs, u"ZIP"_qs, u"PHONE"_qs};
    source->bytes.reserve(qsizetype(count) * 70);
    source->spans.reserve(size_t(count) * 10);
    auto field = [&](const QByteArray &value) {
        source->spans.push_back(quint32(source->bytes.size()));
        source->bytes.append(value);
        source->spans.push_back(quint32(source->bytes.size()));
    };
    for (int i = 0; i < count; ++i) {
        const QByteArray n = QByteArray::number(i);
        const bool cluster = i >= ClusterBegin && i < ClusterEnd;
        // Odd rows are "member..." and even rows "user...": a search for "user" selects
        // every other row, the most scattered selection there is.
        field((i % 2 ? "member" : "user") + n + "@" + (cluster ? QByteArray("cluster.test") : "domain" + QByteArray::number(i % Domains) + ".example.com"));
        field("Name " + n);
        field(i % 2 ? "Köln" : "Berlin");
        field(QByteArray::number(10000 + i % 90000));
        field("+49 30 " + n);
    }
    RecipientList list;
    list.reserve(count);
    for (int i = 0; i < count; ++i)
        list.append(std::make_shared<Recipient>(source, quint32(i) * 5));
    return list;
}

qint64 selectedRowCount(QTableView *view)
{
    qint64 rows = 0;
    const QItemSelection selection = view->selectionModel()->selection();
    for (const QItemSelectionRange &range : selection)
        rows += range.height();
    return rows;
}

} // namespace

int main(int argc, char **argv)
{
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    BriskoApplication app(argc, argv);
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    if (!app.loadInterface())
        return 1;
    app.window()->resize(1280, 800);
    app.window()->show();
    QTableView *view = app.listView();

    QElapsedTimer clock;
    clock.start();
    app.campaign().setupTableColumns({u"EMAIL"_qs, u"NAME"_qs, u"CITY"_qs, u"ZIP"_qs, u"PHONE"_qs});
    app.campaign().setRecipients(makeRecipients(count));
    QCoreApplication::processEvents();
    std::printf("rows: %d, list made and shown in %.3f s\n", count, clock.nsecsElapsed() / 1e9);

    struct Case
    {
        const char *label;
        QString text;
        bool target = true; // counted against the 0.2 s target
    };
    const Case cases[] = {
        {"every row (one run)", u"@"_qs},
        {"one block of 100,000 rows", u"cluster.test"_qs},
        {"every 50th row (2% scattered)", u"@domain7.example"_qs},
        // Half a million separate runs: the item views test a cell against the runs one
        // by one, so this is reported beside the target rather than held to it.
        {"every other row (worst case)", u"user"_qs, false},
        {"one row", u"user765432@"_qs},
        {"no row", u"nobody"_qs},
        {"other letter case", u"CLUSTER"_qs},
        {"empty text (clears)", QString()},
    };
    QLineEdit field;
    double worst = 0;
    for (const Case &c : cases) {
        // Start each search from a selection like the one the last search left.
        double best = 1e9;
        qint64 selected = 0;
        for (int round = 0; round < 3; ++round) {
            field.setText(c.text);
            clock.restart();
            app.filterListFromField(&field);
            QCoreApplication::processEvents(); // the repaint that follows
            best = std::min(best, clock.nsecsElapsed() / 1e9);
            selected = selectedRowCount(view);
        }
        if (c.target)
            worst = std::max(worst, best);
        std::printf("search %-32s %8lld rows selected  %.3f s\n", c.label, static_cast<long long>(selected), best);
    }

    // Scrolling: jumps across the whole list, each followed by its repaint.
    QScrollBar *bar = view->verticalScrollBar();
    clock.restart();
    constexpr int Jumps = 200;
    for (int i = 0; i < Jumps; ++i) {
        bar->setValue(int(qint64(bar->maximum()) * ((i * 7919) % Jumps) / Jumps));
        view->viewport()->repaint();
    }
    std::printf("scroll jump and repaint: %.2f ms each\n", clock.nsecsElapsed() / 1e6 / Jumps);

    // Editing a cell near the end, with its repaint.
    RecipientTableModel *model = qobject_cast<RecipientTableModel *>(view->model());
    const QModelIndex cell = model->index(count - 2, model->columnOf(u"NAME"));
    view->scrollTo(cell);
    clock.restart();
    constexpr int Edits = 100;
    for (int i = 0; i < Edits; ++i) {
        model->setData(cell, u"Edited %1"_qs.arg(i), Qt::EditRole);
        view->viewport()->repaint();
    }
    std::printf("cell edit and repaint: %.2f ms each\n", clock.nsecsElapsed() / 1e6 / Edits);

    // Recipients › Select Failed / Select Not Yet Sent after a run that reached the first
    // half of the list, every 50th of it failed; and the check that enables both commands
    // when the menu opens. Reported beside the search target: each row's address is looked
    // up among the outcomes, which a search does not do.
    {
        const RecipientList &list = app.recipients();
        clock.restart();
        for (int i = 0; i < count / 2; ++i)
            app.campaign().recordOutcome(list.at(i)->email(), i % 50 == 7 ? -1 : 1, std::nullopt);
        std::printf("outcomes recorded for %d rows: %.3f s\n", count / 2, clock.nsecsElapsed() / 1e9);
        const auto timed = [&](const char *label, auto &&step) {
            double best = 1e9;
            for (int round = 0; round < 3; ++round) {
                clock.restart();
                step();
                QCoreApplication::processEvents();
                best = std::min(best, clock.nsecsElapsed() / 1e9);
            }
            std::printf("%-40s %8lld rows selected  %.3f s\n", label, static_cast<long long>(selectedRowCount(view)),
                        best);
        };
        timed("select failed (1% scattered)", [&] { app.selectFailed(); });
        timed("select not yet sent (one block)", [&] { app.selectNotYetSent(); });
        // The check's worst case: every row sent and none failed, so every row is looked at.
        for (int i = 0; i < count; ++i) {
            if (i >= count / 2 || i % 50 == 7)
                app.campaign().recordOutcome(list.at(i)->email(), 1, std::nullopt);
        }
        clock.restart();
        constexpr int Checks = 5;
        for (int i = 0; i < Checks; ++i)
            app.updateOutcomeSelectionActions();
        std::printf("menu check, every row sent, none failed: %.3f s each\n", clock.nsecsElapsed() / 1e9 / Checks);
    }

    // Removing the 2% scattered rows found by a search (20,000 runs: one pass).
    field.setText(u"@domain7.example"_qs);
    app.filterListFromField(&field);
    clock.restart();
    app.removeItem();
    QCoreApplication::processEvents();
    std::printf("remove %lld scattered rows: %.3f s, %lld left\n", static_cast<long long>(count / Domains),
                clock.nsecsElapsed() / 1e9, static_cast<long long>(app.recipients().size()));

    std::printf("slowest search-select: %.3f s (target 0.200 s) %s\n", worst, worst <= 0.2 ? "OK" : "OVER");
    app.campaign().setModified(false);
    return 0;
}

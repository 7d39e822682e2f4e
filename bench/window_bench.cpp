// The terminal-management window over an SQLite host database of 10, 255 or 10,000 terminals.
//
// BM_WindowLoad/N: ShowA until the window is on screen with its list filled (the pending
// show and paint events processed). Counters: first_load_ms is the process's first load,
// which also pays for fonts, styles and icons; peak_growth_kB is the rise of the resident
// high-water mark (VmHWM, reset through /proc/self/clear_refs just before the first load)
// over the resident size before it, across all loads of the run; peak_rss_kB is the
// process's VmHWM at the end. The peak is process-wide, so run each size in a process of its
// own (--benchmark_filter='BM_WindowLoad/10$' and so on) for its peak_rss_kB.
//
// BM_ListRefresh/N: one ListMachine on the loaded window (query, list rebuilt, painted).
//
// BM_LoadVsBare/N and BM_RefreshVsBare/N: the window's load and list refresh side by side with
// a bare list (the same query, a plain tree filled and shown), alternately in one run;
// counters window_ms, bare_ms and their ratio.

#include "bench_support.h"

#include "store/connection_string.h"
#include "store/statements.h"
#include <QApplication>
#include <QSqlQuery>
#include <QTreeWidget>
#include <benchmark/benchmark.h>

using namespace bw;
using namespace bw::bench;

namespace {

// A register of n terminals in a new SQLite database, the components registered and every
// message box answered at once, for as long as it lives.
struct Register {
    explicit Register(int n) { db.addTerminals(1, n); }
    ~Register() { resetState(); }
    static Backend fresh() {
        resetState();
        registerComponentsOnce();
        return Backend::Sqlite;
    }
    SilentMessageBox boxes;
    HostDb db{fresh()};
};

void BM_WindowLoad(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Register reg(n);

    const bool resettable = resetPeakRss();
    const long rssBefore = statusKb("VmRSS");
    double first = -1;
    for (auto _ : state) {
        F_Machine* w = nullptr;
        const double secs = secondsOf([&] {
            w = showA();
            QCoreApplication::processEvents();
        });
        state.SetIterationTime(secs);
        if (first < 0)
            first = secs;
        if (!shownWithList(w, n) || reg.boxes.count > 0) {
            state.SkipWithError(reg.boxes.count ? qPrintable(reg.boxes.lastText)
                                                : "window not shown with its list");
            break;
        }
        closeWindow();
    }
    closeWindow();
    state.counters["first_load_ms"] = first * 1000;
    state.counters["rss_before_kB"] = static_cast<double>(rssBefore);
    if (resettable)
        state.counters["peak_growth_kB"] = static_cast<double>(statusKb("VmHWM") - rssBefore);
    state.counters["peak_rss_kB"] = static_cast<double>(statusKb("VmHWM"));
    state.counters["maxrss_kB"] = static_cast<double>(maxRssKb());
}

void BM_ListRefresh(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Register reg(n);
    F_Machine* w = showA();
    QCoreApplication::processEvents();
    if (!shownWithList(w, n)) {
        state.SkipWithError("window not shown with its list");
        closeWindow();
        return;
    }
    for (auto _ : state) {
        w->ListMachine();
        QCoreApplication::processEvents();
    }
    if (w->LVW_Machine->topLevelItemCount() != n || reg.boxes.count > 0)
        state.SkipWithError("list not refilled");
    closeWindow();
}

// ---- side by side with a bare list ----

// Processes events until what the last change asked for is on screen: a tree lays out its
// items on a zero timer and only then asks for its repaint, which one pass would leave to
// whatever runs next.
void settle() {
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

// The bare baseline: the window's list query through Qt SQL on the same database, and a
// plain 5-column tree of the window's list's size filled with the same texts and the small
// terminal icon, shown and painted. What the window adds on top of it is the measure of its own
// overhead.
class BareList {
public:
    BareList(const QString& connection, QSize size) : size_(size) {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("bare"));
        db_.setDatabaseName(store::parseConnectionString(connection).databaseName);
        db_.open();
        icon_ = QIcon(QPixmap(QStringLiteral(":/window/icons/terminal16.xpm")));
    }
    ~BareList() {
        tree_.reset();
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(QStringLiteral("bare"));
    }

    // A new tree, filled and shown; the old one is deleted untimed.
    double load() {
        tree_.reset();
        return secondsOf([&] {
            tree_ = std::make_unique<QTreeWidget>();
            tree_->setColumnCount(5);
            tree_->setHeaderLabels({"MachAddr", "COMX", "MachDesc", "Team", "Ver"});
            tree_->resize(size_);
            fill();
            tree_->show();
            settle();
        });
    }
    // The shown tree emptied, filled again and repainted.
    double refresh() {
        return secondsOf([&] {
            tree_->clear();
            fill();
            settle();
        });
    }
    int count() const { return tree_ ? tree_->topLevelItemCount() : 0; }

private:
    // The items are made whole and added together, the quickest way a tree takes them.
    void fill() {
        QSqlQuery q(db_);
        q.setForwardOnly(true);
        q.exec(store::terminalsOfModel());
        QList<QTreeWidgetItem*> items;
        while (q.next()) {
            const QString ip = q.value(2).toString();
            auto* item = new QTreeWidgetItem(
                QStringList{q.value(0).toString(), ip.size() > 7 ? ip : q.value(1).toString(),
                            q.value(6).toString(), q.value(3).toString(), q.value(4).toString()});
            item->setIcon(0, icon_);
            items.append(item);
        }
        tree_->addTopLevelItems(items);
    }

    QSqlDatabase db_;
    QSize size_;
    QIcon icon_;
    std::unique_ptr<QTreeWidget> tree_;
};

void reportRatio(benchmark::State& state, double windowSecs, double bareSecs) {
    const double n = static_cast<double>(state.iterations());
    state.counters["window_ms"] = windowSecs / n * 1000;
    state.counters["bare_ms"] = bareSecs / n * 1000;
    state.counters["ratio"] = windowSecs / bareSecs;
}

// Window loads and bare loads, alternately, in one run.
void BM_LoadVsBare(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Register reg(n);
    F_Machine* w = showA(); // both pay their first-use costs before timing
    BareList bare(reg.db.connection(), w->LVW_Machine->size());
    closeWindow();
    bare.load();
    double windowSecs = 0, bareSecs = 0;
    for (auto _ : state) {
        const double secs = secondsOf([&] {
            w = showA();
            settle();
        });
        windowSecs += secs;
        state.SetIterationTime(secs); // the window's time is the benchmark's
        const bool shown = shownWithList(w, n);
        closeWindow();
        bareSecs += bare.load();
        if (!shown || bare.count() != n || reg.boxes.count > 0) {
            state.SkipWithError("window or bare list not shown with its list");
            break;
        }
    }
    reportRatio(state, windowSecs, bareSecs);
}

// List refreshes on the loaded window and refills of the shown bare tree, alternately.
void BM_RefreshVsBare(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    Register reg(n);
    F_Machine* w = showA();
    QCoreApplication::processEvents();
    BareList bare(reg.db.connection(), w->LVW_Machine->size());
    bare.load();
    double windowSecs = 0, bareSecs = 0;
    for (auto _ : state) {
        const double secs = secondsOf([&] {
            w->ListMachine();
            settle();
        });
        windowSecs += secs;
        state.SetIterationTime(secs);
        bareSecs += bare.refresh();
    }
    if (w->LVW_Machine->topLevelItemCount() != n || bare.count() != n || reg.boxes.count > 0)
        state.SkipWithError("list not refilled");
    reportRatio(state, windowSecs, bareSecs);
    closeWindow();
}

} // namespace

BENCHMARK(BM_LoadVsBare)
    ->Arg(10000)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshVsBare)
    ->Arg(10000)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_WindowLoad)
    ->Arg(10)
    ->Arg(255)
    ->Arg(10000)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListRefresh)->Arg(10)->Arg(255)->Arg(10000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    return runWindowBenchmarks(argc, argv);
}

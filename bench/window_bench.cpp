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

#include "bench_support.h"

#include <QApplication>
#include <benchmark/benchmark.h>

using namespace bw;
using namespace bw::bench;

namespace {

void BM_WindowLoad(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    SilentMessageBox boxes;
    resetState();
    registerComponentsOnce();
    HostDb db(Backend::Sqlite);
    db.addTerminals(1, n);

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
        if (!shownWithList(w, n) || boxes.count > 0) {
            state.SkipWithError(boxes.count ? qPrintable(boxes.lastText)
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
    resetState();
}

void BM_ListRefresh(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    SilentMessageBox boxes;
    resetState();
    registerComponentsOnce();
    HostDb db(Backend::Sqlite);
    db.addTerminals(1, n);
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
    if (w->LVW_Machine->topLevelItemCount() != n || boxes.count > 0)
        state.SkipWithError("list not refilled");
    closeWindow();
    resetState();
}

} // namespace

BENCHMARK(BM_WindowLoad)
    ->Arg(10)
    ->Arg(255)
    ->Arg(10000)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListRefresh)->Arg(10)->Arg(255)->Arg(10000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quietOffscreenNotes();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

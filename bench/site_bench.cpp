// The site engine against paced simulator programs on pseudo-terminals.
//
// BM_NightlyThreeLines: nightly (collect, clocks, name lists) over three serial lines, one
// terminal with N records on each, all at once against each line alone; "ratio" is the time of
// the three together over the slowest line's time alone.
// BM_SyncNamesInStep: sync-names of 255 terminals on one line whose lists are in step (one
// status request each); "ratio" is the time over 255 x (the status request's wire time + 15 ms).

#include "bell/serial_port.h"
#include "bench_support.h"
#include "host/link/terminal_protocol.h"
#include "host/site/site_run.h"
#include "sim/process.h"

#include <QApplication>
#include <benchmark/benchmark.h>

using namespace bw;
using host::site::Step;

namespace {

QString simProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../brackwater-sim");
}

void addTerminal(store::SqlConnection& cn, int address, int com) {
    cn.executeBound(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, MachVer) "
                                   "VALUES (?, ?, '*', '6429')"),
                    {address, QString::number(com)});
}

// Seconds of one run; failed steps are counted into failed.
double run(const QString& connection, const QList<Step>& steps, const QList<int>& terminals,
           int& failed) {
    host::site::Request rq;
    rq.connection = connection;
    rq.steps = steps;
    rq.terminals = terminals;
    return bench::secondsOf(
        [&] { failed += host::site::runSite(rq, [](const host::site::StepResult&) {}).failed; });
}

void BM_NightlyThreeLines(benchmark::State& state) {
    const int n = int(state.range(0));
    bench::HostDb db(bench::Backend::Sqlite);
    sim::SimProcess sims[3];
    {
        store::SqlConnection cn(db.connection());
        for (int i = 0; i < 3; ++i) {
            if (!sims[i].start(simProgram(), {QStringLiteral("--addr"), QString::number(i + 1),
                                              QStringLiteral("--records"), QString::number(n)})) {
                state.SkipWithError(qPrintable(sims[i].error()));
                return;
            }
            bell::setDevicePath(i + 1, sims[i].ptyPath());
            addTerminal(cn, i + 1, i + 1);
        }
    }
    const QList<Step> nightly{Step::Collect, Step::Clock, Step::Names};
    int failed = 0;
    run(db.connection(), {Step::Names}, {}, failed); // the lists in step once
    double alone = 0, together = 0;
    for (auto _ : state) {
        for (int t = 1; t <= 3; ++t)
            alone = std::max(alone, run(db.connection(), nightly, {t}, failed));
        together += run(db.connection(), nightly, {}, failed);
    }
    if (failed > 0)
        state.SkipWithError("a step failed");
    together /= double(state.iterations());
    state.counters["slowest_alone_secs"] = alone;
    state.counters["together_secs"] = together;
    state.counters["ratio"] = together / alone;
}

void BM_SyncNamesInStep(benchmark::State& state) {
    const int terminals = 255;
    bench::HostDb db(bench::Backend::Sqlite);
    QStringList addresses;
    for (int a = 1; a <= terminals; ++a)
        addresses << QString::number(a);
    sim::SimProcess s;
    if (!s.start(simProgram(), {QStringLiteral("--addr"), addresses.join(u','),
                                QStringLiteral("--records"), QStringLiteral("0")})) {
        state.SkipWithError(qPrintable(s.error()));
        return;
    }
    bell::setDevicePath(1, s.ptyPath());
    {
        store::SqlConnection cn(db.connection());
        cn.BeginTrans();
        for (int a = 1; a <= terminals; ++a)
            addTerminal(cn, a, 1);
        cn.CommitTrans();
    }
    int failed = 0;
    run(db.connection(), {Step::Names}, {}, failed); // the lists in step once
    double total = 0;
    for (auto _ : state)
        total += run(db.connection(), {Step::Names}, {}, failed);
    if (failed > 0)
        state.SkipWithError("a step failed");
    const double per = total / double(state.iterations());
    const double request = (4 + host::protocol::NamesStatusReplyLength) * 11.0 / 19200.0;
    const double budget = terminals * (request + 0.015);
    state.counters["secs"] = per;
    state.counters["budget_secs"] = budget;
    state.counters["ratio"] = per / budget;
}

} // namespace

BENCHMARK(BM_NightlyThreeLines)->Arg(1000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SyncNamesInStep)->Iterations(2)->UseRealTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

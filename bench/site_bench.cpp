// The site engine against paced simulator programs on pseudo-terminals.
//
// BM_NightlyThreeLines: nightly (collect, clocks, name lists) over three serial lines, one
// terminal with N records on each, all at once against each line alone; "ratio" is the time of
// the three together over the slowest line's time alone.
// BM_SyncNamesInStep: sync-names of 255 terminals on one line whose lists are in step (one
// status request each); "ratio" is the time over 255 x (the status request's wire time + 15 ms).
// BM_StatusOneLine: the status of 255 terminals on one line (record status, clock and name-list
// status of each); "ratio" is the time over 255 x (those exchanges' wire time + 15 ms).
// BM_StatusThreeLines: the status of three lines of N terminals each, all at once against each
// line alone; "ratio" is the time of the three together over the slowest line's time alone.

#include "bell/serial_port.h"
#include "bench_support.h"
#include "host/link/terminal_protocol.h"
#include "host/site/site_run.h"
#include "host/site/status.h"
#include "platform/clock_guard.h"
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
    // The clock step runs whatever this machine's time service says: the bench measures lines.
    trustUnsynchronisedClock(true);
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

// Seconds of one status refresh; terminals that did not answer are counted into silent.
double refresh(const QString& connection, const QList<int>& terminals, int& silent) {
    return bench::secondsOf([&] {
        for (const auto& s : host::site::readStatus({connection, terminals}))
            silent += s.answers ? 0 : 1;
    });
}

// Starts one paced simulator per line with `each` terminals numbered on from line * each + 1,
// and registers them on COM<line + 1>.
bool startLines(benchmark::State& state, const QString& connection, sim::SimProcess* sims,
                int lines, int each) {
    store::SqlConnection cn(connection);
    cn.BeginTrans();
    for (int line = 0; line < lines; ++line) {
        QStringList addresses;
        for (int a = line * each + 1; a <= (line + 1) * each; ++a) {
            addresses << QString::number(a);
            addTerminal(cn, a, line + 1);
        }
        if (!sims[line].start(simProgram(), {QStringLiteral("--addr"), addresses.join(u','),
                                             QStringLiteral("--records"), QStringLiteral("10")})) {
            state.SkipWithError(qPrintable(sims[line].error()));
            return false;
        }
        bell::setDevicePath(line + 1, sims[line].ptyPath());
    }
    cn.CommitTrans();
    return true;
}

void BM_StatusOneLine(benchmark::State& state) {
    const int terminals = 255;
    bench::HostDb db(bench::Backend::Sqlite);
    sim::SimProcess s;
    if (!startLines(state, db.connection(), &s, 1, terminals))
        return;
    int silent = 0;
    double total = 0;
    for (auto _ : state)
        total += refresh(db.connection(), {}, silent);
    if (silent > 0)
        state.SkipWithError("a terminal did not answer");
    using namespace host::protocol;
    const int characters = (4 + 17) + (4 + ClockReplyLength) + (4 + NamesStatusReplyLength);
    const double budget = terminals * (characters * 11.0 / 19200.0 + 0.015);
    const double per = total / double(state.iterations());
    state.counters["secs"] = per;
    state.counters["budget_secs"] = budget;
    state.counters["ratio"] = per / budget;
}

void BM_StatusThreeLines(benchmark::State& state) {
    const int each = int(state.range(0));
    bench::HostDb db(bench::Backend::Sqlite);
    sim::SimProcess sims[3];
    if (!startLines(state, db.connection(), sims, 3, each))
        return;
    int silent = 0;
    double alone = 0, together = 0;
    for (auto _ : state) {
        for (int line = 0; line < 3; ++line) {
            QList<int> mine;
            for (int a = line * each + 1; a <= (line + 1) * each; ++a)
                mine << a;
            alone = std::max(alone, refresh(db.connection(), mine, silent));
        }
        together += refresh(db.connection(), {}, silent);
    }
    if (silent > 0)
        state.SkipWithError("a terminal did not answer");
    together /= double(state.iterations());
    state.counters["slowest_alone_secs"] = alone;
    state.counters["together_secs"] = together;
    state.counters["ratio"] = together / alone;
}

} // namespace

BENCHMARK(BM_StatusOneLine)->Iterations(2)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_StatusThreeLines)->Arg(40)->Iterations(2)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_NightlyThreeLines)->Arg(1000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SyncNamesInStep)->Iterations(2)->UseRealTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

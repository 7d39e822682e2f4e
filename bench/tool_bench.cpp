// brackwater-bell as the field runs it: the program against brackwater-sim on its
// pseudo-terminal, paced at the line speed, each run timed from start to exit.
//
// BM_Scan: "scan" of 1..255 with the default wait, three terminals present (1, 2, 3).
// BM_SyncClocks/N/0: "sync-clocks" of a register of N terminals on one port, all present; the
// counter "budget_secs" is N x (the clock setting's wire time + 15 ms) and "ratio" the time
// over it. BM_SyncClocks/N/1: the same with --dry-run, which opens no port: what the run costs
// besides the line (starting the program, reading the register).

#include "host/ledger/schema.h"
#include "sim/process.h"
#include "store/sql_connection.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>

namespace {

constexpr double CharSecs = 11.0 / 19200.0;
// The clock setting on the wire: a 10-character request, a 2-character reply, a 1 ms pause.
constexpr double DateTimeWireSecs = 12 * CharSecs + 0.001;
constexpr double SyncAllowanceSecs = 0.015;

QString program(const QString& name) {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../") + name;
}

QString addressList(int from, int to) {
    QStringList list;
    for (int a = from; a <= to; ++a)
        list << QString::number(a);
    return list.join(QLatin1Char(','));
}

// Runs brackwater-bell to its end; the seconds it took, or a negative value when it failed.
double timedRun(const QStringList& args, int expectedExit) {
    QProcess p;
    const auto t0 = std::chrono::steady_clock::now();
    p.start(program(QStringLiteral("brackwater-bell")), args);
    if (!p.waitForFinished(120000) || p.exitCode() != expectedExit)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_Scan(benchmark::State& state) {
    bw::sim::SimProcess sim;
    if (!sim.start(program(QStringLiteral("brackwater-sim")),
                   {QStringLiteral("--addr"), QStringLiteral("1,2,3")})) {
        state.SkipWithError(sim.error().toStdString().c_str());
        return;
    }
    double total = 0;
    for (auto _ : state) {
        const double secs =
            timedRun({QStringLiteral("--port"), sim.ptyPath(), QStringLiteral("scan")}, 0);
        if (secs < 0)
            state.SkipWithError("scan failed");
        total += secs;
    }
    state.counters["secs"] = total / double(state.iterations());
}

void BM_SyncClocks(benchmark::State& state) {
    const int n = int(state.range(0));
    const bool dryRun = state.range(1) != 0;
    QTemporaryDir dir;
    const QString db = dir.path() + QStringLiteral("/register.db");
    {
        auto cn = bw::store::SqlConnection::open(db, bw::store::Create::Yes);
        bw::host::createHostSchema(*cn, false);
        cn->BeginTrans();
        for (int a = 1; a <= n; ++a)
            cn->executeBound(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, MachVer) "
                                            "VALUES (?, '1', '*', '6429')"),
                             {a});
        cn->CommitTrans();
    }
    bw::sim::SimProcess sim;
    if (!sim.start(program(QStringLiteral("brackwater-sim")),
                   {QStringLiteral("--addr"), addressList(1, n)})) {
        state.SkipWithError(sim.error().toStdString().c_str());
        return;
    }
    double total = 0;
    for (auto _ : state) {
        QStringList args{QStringLiteral("--com"), QStringLiteral("1=") + sim.ptyPath(),
                         QStringLiteral("sync-clocks"), QStringLiteral("--db"), db};
        // Set whatever this machine's time service says (--force): the bench measures the
        // line, not the clock guard.
        args << (dryRun ? QStringLiteral("--dry-run") : QStringLiteral("--force"));
        const double secs = timedRun(args, 0);
        if (secs < 0)
            state.SkipWithError("sync-clocks failed");
        total += secs;
    }
    const double per = total / double(state.iterations());
    const double budget = n * (DateTimeWireSecs + SyncAllowanceSecs);
    state.counters["secs"] = per;
    state.counters["per_terminal_ms"] = per / n * 1000.0;
    state.counters["budget_secs"] = budget;
    state.counters["ratio"] = per / budget;
}

} // namespace

BENCHMARK(BM_Scan)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SyncClocks)
    ->ArgsProduct({{3, 30, 255}, {0, 1}})
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

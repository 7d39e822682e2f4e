// Meal-record collection from the simulator program into the host database.
//
// BM_CollectSerialPaced: over its pseudo-terminal with replies paced at the line speed; the
// time is reported against the wire time of every character exchanged (11 bits at 19200
// baud) as the counter "ratio".
// BM_CollectTcp: over TCP without pacing into SQLite and into PostgreSQL, with the growth of
// the process's peak resident size over the collection ("peak_growth_kb"), for three record
// counts: memory must not grow with the count.

#include "bell/serial_port.h"
#include "bench_support.h"
#include "host/collect/collect_run.h"
#include "host/link/link.h"
#include "sim/process.h"

#include <QApplication>
#include <benchmark/benchmark.h>

using namespace bw;
using namespace bw::host::collect;

namespace {

constexpr double CharSecs = 11.0 / 19200.0;

QString simProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../brackwater-sim");
}

bool startSim(sim::SimProcess& s, int records, bool pacing) {
    QStringList args{QStringLiteral("--addr"),    QStringLiteral("1"),
                     QStringLiteral("--tcp"),     QStringLiteral("127.0.0.1:0"),
                     QStringLiteral("--records"), QString::number(records)};
    if (!pacing)
        args << QStringLiteral("--no-pacing");
    if (!s.start(simProgram(), args))
        return false;
    bell::setDevicePath(9, s.ptyPath());
    host::setTcpPortMap(1001, s.tcpPort());
    return true;
}

Outcome collectOnce(const QString& port) {
    LinkSource source(1, port);
    MealStore sink(*host::sharedConnection(), QStringLiteral("bench"));
    if (!source.open())
        return {};
    return collectTerminal(1, source, sink, Options{});
}

// Characters of a whole collection of n records: the status request and its reply, then per
// block its request and the reply's head and check byte, and the records.
double wireSecs(qint64 n, int blockSize) {
    const qint64 blocks = (n + blockSize - 1) / blockSize;
    return double(4 + host::protocol::StatusReplyLength + blocks * (9 + 6) +
                  n * host::protocol::RecordBytes) *
           CharSecs;
}

void BM_CollectSerialPaced(benchmark::State& state) {
    const int n = int(state.range(0));
    bench::HostDb db(bench::Backend::Sqlite);
    sim::SimProcess s;
    if (!startSim(s, n, true)) {
        state.SkipWithError(qPrintable(s.error()));
        return;
    }
    double total = 0;
    for (auto _ : state) {
        Outcome out;
        total += bench::secondsOf([&] { out = collectOnce(QStringLiteral("COM9")); });
        if (!out.ok() || out.read != n) {
            state.SkipWithError(qPrintable(QStringLiteral("collection failed: ") + out.reason));
            return;
        }
    }
    const double per = total / double(state.iterations());
    const double wire = wireSecs(n, Options{}.blockSize);
    state.counters["secs"] = per;
    state.counters["wire_secs"] = wire;
    state.counters["ratio"] = per / wire;
}

void BM_CollectTcp(benchmark::State& state) {
    const int n = int(state.range(1));
    const auto backend = state.range(0) == 0 ? bench::Backend::Sqlite : bench::Backend::Postgres;
    sim::SimProcess s;
    if (!startSim(s, n, false)) {
        state.SkipWithError(qPrintable(s.error()));
        return;
    }
    double total = 0;
    long growth = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::unique_ptr<bench::HostDb> db;
        try {
            db = std::make_unique<bench::HostDb>(backend);
        } catch (const Error& e) {
            state.SkipWithError(qPrintable(e.description()));
            return;
        }
        bench::resetPeakRss();
        const long before = bench::statusKb("VmHWM");
        state.ResumeTiming();
        Outcome out;
        total += bench::secondsOf([&] { out = collectOnce(QStringLiteral("127.0.0.1")); });
        growth = std::max(growth, bench::statusKb("VmHWM") - before);
        if (!out.ok() || out.added != n) {
            state.SkipWithError(qPrintable(QStringLiteral("collection failed: ") + out.reason));
            return;
        }
    }
    state.counters["secs"] = total / double(state.iterations());
    state.counters["records_per_sec"] = double(n) * double(state.iterations()) / total;
    state.counters["peak_growth_kb"] = double(growth);
}

} // namespace

BENCHMARK(BM_CollectSerialPaced)->Arg(5000)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_CollectTcp)
    ->ArgNames({"postgres", "records"})
    ->Args({0, 5000})
    ->Args({0, 50000})
    ->Args({0, 200000})
    ->Args({1, 5000})
    ->Args({1, 50000})
    ->Args({1, 200000})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bw::bench::quietOffscreenNotes();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    bw::bench::PgServer::instance().stop();
    return 0;
}

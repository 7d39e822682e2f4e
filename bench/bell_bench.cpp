// Bell-link commands over a pseudo-terminal whose terminal paces its replies at the line
// speed (11-bit characters at 19200 baud). Each command's time is reported against its wire
// time (characters both ways x 11 / 19200 s, plus the 1 ms pauses) as the counter "ratio";
// the time-out benchmark reports the process CPU seconds that one 3-second wait costs.
// The command benchmarks run without (argument 0) and with (1) the line trace to a file.

#include "bell/bell_link.h"
#include "bell/device_port.h"
#include "bell/pty_terminal.h"
#include "bell/traced_port.h"
#include "host/trace/trace_file.h"
#include "platform/line_trace.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <ctime>

using namespace bw::bell;

namespace {

constexpr double CharSecs = 11.0 / 19200.0;

// Characters on the wire (request including the address byte, reply) and pauses in ms.
double wireSecs(int requestChars, int replyChars, int pausesMs) {
    return (requestChars + replyChars) * CharSecs + pausesMs / 1000.0;
}

std::unique_ptr<SerialPort> benchPort(bool traced) {
    auto port = std::make_unique<DevicePort>();
    if (!traced)
        return port;
    return std::make_unique<TracedPort>(std::move(port));
}

// With state.range(0) set, every frame goes to a trace file for the fixture's lifetime.
struct Fixture {
    QTemporaryDir dir;
    bool traced;
    bw::test::PtyTerminal term{bw::test::PtyOptions{{1}, true, 0, -1, false}};
    BellLink link;
    explicit Fixture(const benchmark::State& state)
        : traced(state.range(0) != 0), link(benchPort(traced)) {
        setDevicePath(9, term.path());
        if (traced)
            bw::host::startLineTrace(dir.filePath(QStringLiteral("line.trace")));
    }
    ~Fixture() { bw::host::stopLineTrace(); }
};

void report(benchmark::State& state, double totalSecs, double wire) {
    const double per = totalSecs / static_cast<double>(state.iterations());
    state.counters["secs"] = per;
    state.counters["wire_secs"] = wire;
    state.counters["ratio"] = per / wire;
}

template <class F> double timed(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_TestBellLink(benchmark::State& state) {
    Fixture f(state);
    double total = 0;
    for (auto _ : state) {
        f.link.OpenBellPort(9);
        total += timed([&] {
            if (!f.link.TestBellLink(1))
                state.SkipWithError("no answer");
        });
    }
    report(state, total, wireSecs(4, 2, 1));
}

void BM_SetMachDateTime(benchmark::State& state) {
    Fixture f(state);
    double total = 0;
    for (auto _ : state) {
        f.link.OpenBellPort(9);
        total += timed([&] {
            if (!f.link.SetMachDateTime(1, QDateTime::currentDateTime()))
                state.SkipWithError("no answer");
        });
    }
    report(state, total, wireSecs(10, 2, 1));
}

void BM_SetBellCount(benchmark::State& state) {
    Fixture f(state);
    f.link.OpenBellPort(9);
    double total = 0;
    for (auto _ : state) {
        total += timed([&] {
            if (!f.link.SetBellCount(1, 5))
                state.SkipWithError("no answer");
        });
    }
    report(state, total, wireSecs(6, 5, 2));
}

void BM_ReadBellSettings(benchmark::State& state) {
    Fixture f(state);
    f.link.OpenBellPort(9);
    double total = 0;
    for (auto _ : state) {
        total += timed([&] {
            if (f.link.ReadBellSettings(1).size() != 122)
                state.SkipWithError("no answer");
        });
    }
    // The read ends with a 50 ms pause after decoding.
    report(state, total, wireSecs(5, 131, 1 + 50));
}

// The cost of one traced frame (a 6-byte request) on its own, written to the trace file.
void BM_TraceFrame(benchmark::State& state) {
    QTemporaryDir dir;
    bw::host::startLineTrace(dir.filePath(QStringLiteral("line.trace")));
    const bw::trace::Frame frame{QStringLiteral("COM9"), bw::trace::Frame::Direction::Out,
                                 QByteArray::fromHex("043E053D00"), QBitArray(5)};
    for (auto _ : state)
        bw::trace::record(frame);
    bw::host::stopLineTrace();
}

void BM_TimeOutCpu(benchmark::State& state) {
    Fixture f(state);
    f.term.setSilent(true);
    f.link.OpenBellPort(9);
    double cpu = 0;
    double wall = 0;
    for (auto _ : state) {
        const std::clock_t c0 = std::clock();
        wall += timed([&] { f.link.ReadBellSettings(1); });
        cpu += double(std::clock() - c0) / CLOCKS_PER_SEC;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["cpu_secs"] = cpu / n;
    state.counters["wall_secs"] = wall / n;
    state.counters["cpu_share"] = cpu / wall;
}

} // namespace

BENCHMARK(BM_TestBellLink)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetMachDateTime)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetBellCount)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBellSettings)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(10)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TraceFrame)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimeOutCpu)->Arg(0)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

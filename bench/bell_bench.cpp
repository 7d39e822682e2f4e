// Bell-link commands over a pseudo-terminal whose terminal paces its replies at the line
// speed (11-bit characters at 19200 baud). Each command's time is reported against its wire
// time (characters both ways x 11 / 19200 s, plus the 1 ms pauses) as the counter "ratio";
// the time-out benchmark reports the process CPU seconds that one 3-second wait costs.

#include "bell/bell_link.h"
#include "bell/pty_terminal.h"
#include "bell/qt_serial_port.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <ctime>

using namespace bw::bell;

namespace {

constexpr double CharSecs = 11.0 / 19200.0;

// Characters on the wire (request including the address byte, reply) and pauses in ms.
double wireSecs(int requestChars, int replyChars, int pausesMs) {
    return (requestChars + replyChars) * CharSecs + pausesMs / 1000.0;
}

struct Fixture {
    bw::test::PtyTerminal term{bw::test::PtyOptions{{1}, true, 0, -1, false}};
    BellLink link{std::make_unique<QtSerialPort>()};
    Fixture() { setDevicePath(9, term.path()); }
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
    Fixture f;
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
    Fixture f;
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
    Fixture f;
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
    Fixture f;
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

void BM_TimeOutCpu(benchmark::State& state) {
    Fixture f;
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

BENCHMARK(BM_TestBellLink)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetMachDateTime)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SetBellCount)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadBellSettings)->Iterations(10)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TimeOutCpu)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

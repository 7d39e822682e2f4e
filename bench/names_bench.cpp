// Name-list download to the simulator program.
//
// BM_NameListDownloadPaced: 5,000 cards to one terminal over the simulator's pseudo-terminal
// with its replies paced at the line speed; the time is reported against the wire time of
// every character of the download both ways (11 bits at 19200 baud) as the counter "ratio".

#include "bell/serial_port.h"
#include "host/link/link.h"
#include "sim/process.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <chrono>

using namespace bw;
namespace proto = bw::host::protocol;

namespace {

QString simProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../brackwater-sim");
}

QStringList cards(int n) {
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << QStringLiteral("%1").arg(20000000 + i, 8, 10, QLatin1Char('0'));
    return out;
}

// Characters of a download of n cards: begin, every block and the commit, each with its
// four-byte reply.
double wireSecs(int n) {
    const int blocks = (n + proto::MaxNamesBlock - 1) / proto::MaxNamesBlock;
    const qint64 chars =
        (4 + 4) + qint64(blocks) * (7 + 4) + qint64(n) * proto::CardBytes + (12 + 4);
    return double(chars) * 11.0 / 19200.0;
}

void BM_NameListDownloadPaced(benchmark::State& state) {
    const int n = int(state.range(0));
    sim::SimProcess s;
    if (!s.start(simProgram(), {QStringLiteral("--addr"), QStringLiteral("1")})) {
        state.SkipWithError(qPrintable(s.error()));
        return;
    }
    bell::setDevicePath(9, s.ptyPath());
    const QStringList list = cards(n);
    double total = 0;
    for (auto _ : state) {
        host::Link link;
        short port = 9;
        if (!link.SetPort(port)) {
            state.SkipWithError("cannot open the pseudo-terminal");
            return;
        }
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = link.writeNameList(1, list);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        proto::NameListStatus status;
        if (!ok || !link.readNameListStatus(1, status) || status.count != quint32(n)) {
            state.SkipWithError(qPrintable(QStringLiteral("download failed: ") + link.lastError()));
            return;
        }
    }
    const double per = total / double(state.iterations());
    state.counters["secs"] = per;
    state.counters["wire_secs"] = wireSecs(n);
    state.counters["ratio"] = per / wireSecs(n);
}

} // namespace

BENCHMARK(BM_NameListDownloadPaced)
    ->Arg(5000)
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

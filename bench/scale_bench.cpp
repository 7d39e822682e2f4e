// Collection at the scale of a chain of sites sharing one PostgreSQL server (BW_PG_CONN, a
// schema of its own per round).
//
// BM_SixteenCollectors/n: 16 TCP/IP terminals of n records each, every one a brackwater-sim
// program of its own listening on 127.0.0.N (all on one port, to which the terminals' port
// 1001 is mapped), collected at once on the site pool (workPool: a worker thread and a
// database connection per line, 16 workers). The product's side is collectTerminal into
// MealStore on the worker's connection; the bare side, on the same workers and connections,
// reads the same blocks and COPYs each batch (bare_collector.h). The two sides alternate for
// five rounds in one run, each round into a fresh schema. Counters: the medians of each side's
// aggregate records/s, "ratio" (product over bare; at least 0.8 wanted), and, for the product's
// side, the CPU seconds of the server's backends, of this process (the collectors) and of the
// simulators per round, and the server's share of the CPU the three took.
//
// BM_CollectMillion/n: brackwater-collect --terminal 1 run as a child process for n records
// held by a simulator (another process), each size into a fresh schema. Counters: the wall
// time, microseconds per record (flat when the time is linear in the records), the program's
// peak resident size from wait4 (at most 30 MiB wanted, and flat in n), the records stored and
// the size of MealRecord with its indexes per record.

#include "bare_collector.h"
#include "bench_support.h"
#include "host/collect/collect_run.h"
#include "host/link/link.h"
#include "host/site/site_layer.h"
#include "sim/process.h"

#include <QTcpServer>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <memory>
#include <unistd.h>
#include <vector>

using namespace bw;

namespace {

constexpr int Terminals = 16;

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// CPU seconds (user and system) of a process so far; 0 when it cannot be read.
double processCpuSecs(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // The fields after the command's closing parenthesis: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(sysconf(_SC_CLK_TCK));
}

double selfCpuSecs() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Adds to an atomic double.
void add(std::atomic<double>& to, double v) {
    for (double old = to.load(); !to.compare_exchange_weak(old, old + v);) {
    }
}

// A loopback port that nothing listens on now (on 127.0.0.1).
int freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

QString terminalIp(int address) {
    return QStringLiteral("127.0.0.%1").arg(address);
}

// The product's collection of terminal `address` behind `port` into cn, as a site's worker
// makes it; the records it added, or -1.
qint64 productCollect(int address, const QString& port, store::SqlConnection& cn) {
    host::Link link;
    QString error;
    if (!host::collect::openLink(link, port, error))
        return -1;
    host::collect::LinkSource source(address, link);
    host::collect::MealStore sink(cn, QStringLiteral("bench"));
    const host::collect::Outcome out = host::collect::collectTerminal(address, source, sink, {});
    return out.ok() ? out.added : -1;
}

// What one round on all terminals took.
struct Round {
    bool ok = false;
    double secs = 0;
    double serverCpu = 0; // the backends of the workers' connections
    double clientCpu = 0; // this process
    double simCpu = 0;    // the simulator programs
};

Round collectAll(const std::vector<std::unique_ptr<sim::SimProcess>>& sims, qint64 records,
                 bool product) {
    Round r;
    bench::HostDb db(bench::Backend::Postgres);
    QList<host::collect::TerminalLine> lines;
    for (int a = 1; a <= Terminals; ++a)
        lines.append({terminalIp(a), false, {a}});
    std::atomic<double> serverCpu{0};
    std::atomic_int good{0};
    double simBefore = 0;
    for (const auto& s : sims)
        simBefore += processCpuSecs(s->pid());
    const double selfBefore = selfCpuSecs();
    r.secs = bench::secondsOf([&] {
        host::site::workPool(lines, Terminals, db.connection(),
                             [&](host::site::Worker& worker, const host::collect::TerminalLine& l) {
                                 store::SqlConnection* cn = worker.database();
                                 if (!cn)
                                     return;
                                 const qint64 backend =
                                     cn->queryBound(QStringLiteral("SELECT pg_backend_pid()"))
                                         .value(0)
                                         .value(0)
                                         .toLongLong();
                                 const double before = processCpuSecs(backend);
                                 const int address = l.members.first();
                                 const qint64 stored =
                                     product ? productCollect(address, l.name, *cn)
                                             : bench::bareCollect(address, l.name, *cn);
                                 add(serverCpu, processCpuSecs(backend) - before);
                                 if (stored == records)
                                     ++good;
                             });
    });
    r.clientCpu = selfCpuSecs() - selfBefore;
    for (const auto& s : sims)
        r.simCpu += processCpuSecs(s->pid());
    r.simCpu -= simBefore;
    r.serverCpu = serverCpu;
    r.ok = good == Terminals &&
           db.count(QStringLiteral("SELECT COUNT(*) FROM MealRecord")) == Terminals * records;
    return r;
}

void BM_SixteenCollectors(benchmark::State& state) {
    const qint64 n = state.range(0);
    constexpr int Rounds = 5;
    const int port = freePort();
    std::vector<std::unique_ptr<sim::SimProcess>> sims;
    for (int a = 1; a <= Terminals && port > 0; ++a) {
        sims.push_back(std::make_unique<sim::SimProcess>());
        if (!sims.back()->start(
                bench::program("brackwater-sim"),
                {QStringLiteral("--addr"), QString::number(a), QStringLiteral("--tcp"),
                 QStringLiteral("%1:%2").arg(terminalIp(a)).arg(port), QStringLiteral("--records"),
                 QString::number(n), QStringLiteral("--no-pacing")},
                {}, 60000)) {
            state.SkipWithError(qPrintable(sims.back()->error()));
            return;
        }
    }
    host::setTcpPortMap(1001, port);
    std::vector<double> engine, bare, server, client, simulators;
    for (auto _ : state) {
        for (int round = 0; round < Rounds; ++round) {
            try {
                for (const bool product : {true, false}) {
                    const Round r = collectAll(sims, n, product);
                    if (!r.ok) {
                        state.SkipWithError(product ? "collection failed"
                                                    : "bare collection failed");
                        return;
                    }
                    (product ? engine : bare).push_back(double(Terminals * n) / r.secs);
                    if (product) {
                        server.push_back(r.serverCpu);
                        client.push_back(r.clientCpu);
                        simulators.push_back(r.simCpu);
                    }
                }
            } catch (const Error& e) {
                state.SkipWithError(qPrintable(e.description()));
                return;
            }
        }
    }
    host::clearTcpPortMap();
    state.counters["engine_rps"] = median(engine);
    state.counters["bare_rps"] = median(bare);
    state.counters["ratio"] = median(engine) / median(bare);
    state.counters["server_cpu_s"] = median(server);
    state.counters["client_cpu_s"] = median(client);
    state.counters["sim_cpu_s"] = median(simulators);
    state.counters["server_share"] =
        median(server) / (median(server) + median(client) + median(simulators));
}

void BM_CollectMillion(benchmark::State& state) {
    const qint64 n = state.range(0);
    sim::SimProcess sim;
    if (!sim.start(bench::program("brackwater-sim"),
                   {QStringLiteral("--addr"), QStringLiteral("1"), QStringLiteral("--tcp"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("--records"), QString::number(n),
                    QStringLiteral("--no-pacing")},
                   {}, 120000)) {
        state.SkipWithError(qPrintable(sim.error()));
        return;
    }
    bench::Run run;
    qlonglong stored = 0, tableBytes = 0;
    for (auto _ : state) {
        try {
            bench::HostDb db(bench::Backend::Postgres);
            db.cn().executeBound(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, "
                                                "MachVer) VALUES (1, '1', '127.0.0.1', '6429')"),
                                 {});
            run = bench::runProgram("brackwater-collect",
                                    {QStringLiteral("--db"), db.connection(),
                                     QStringLiteral("--tcp-port-map"),
                                     QStringLiteral("1001=%1").arg(sim.tcpPort()),
                                     QStringLiteral("--terminal"), QStringLiteral("1")});
            stored = db.count(QStringLiteral("SELECT COUNT(*) FROM MealRecord"));
            tableBytes = db.count(QStringLiteral("SELECT pg_total_relation_size('mealrecord')"));
        } catch (const Error& e) {
            state.SkipWithError(qPrintable(e.description()));
            return;
        }
    }
    if (run.exitCode != 0 || stored != n)
        std::fprintf(stderr, "exit %d, %lld of %lld stored: %s\n", run.exitCode, stored,
                     static_cast<long long>(n), run.out.constData());
    state.counters["secs"] = run.secs;
    state.counters["us_per_record"] = run.secs * 1e6 / double(n);
    state.counters["peak_rss_mib"] = double(run.peakKb) / 1024.0;
    state.counters["stored"] = double(stored);
    state.counters["exit"] = run.exitCode;
    state.counters["table_bytes_per_record"] = stored > 0 ? double(tableBytes) / double(stored) : 0;
}

} // namespace

BENCHMARK(BM_SixteenCollectors)
    ->ArgName("records")
    ->Arg(20000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_CollectMillion)
    ->ArgName("records")
    ->Arg(10000)
    ->Arg(250000)
    ->Arg(500000)
    ->Arg(1000000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    const int rc = bw::bench::runBenchmarks(argc, argv);
    bw::bench::PgServer::instance().stop();
    return rc;
}

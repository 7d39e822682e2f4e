// brackwater-bell as the field runs it: the program against brackwater-sim on its
// pseudo-terminal, paced at the line speed, each run timed from start to exit.
//
// BM_Scan: "scan" of 1..255 with the default wait, three terminals present (1, 2, 3).
// BM_SyncClocks/N/0: "sync-clocks --force" of a register of N terminals on one port, all
// present; the counter "budget_secs" is N x (the clock setting's wire time + 15 ms) and "ratio"
// the time over it. BM_SyncClocks/N/1: the same with --dry-run, which opens no port: what the run
// costs besides the line (starting the program, reading the register). BM_SyncClocks/N/2: the
// run as the nightly timer makes it, the clock guard judging each push by the terminal's clock,
// read first: the budget adds the reading's wire time for each terminal.
// BM_Version: "--version" of brackwater-site, brackwater-collect and brackwater-bell, and of
// bw-bare-version (a bare QCoreApplication program), one after the other in each round; the
// counters are each program's median in milliseconds and its median over the bare one's.
// BM_ProgramVsBare: each program as a user runs it against a bare program doing the same, the
// two taking turns (which goes first alternates) in every round; the counters are the medians
// in milliseconds and "ratio", the program's over the bare one's.
//   /0: "brackwater-site status --json" on an empty register (an SQLite file) against
//       bw-bare-register (the same Qt modules loaded, the register read and printed);
//   /1: "brackwater-collect --terminal 1" of 50,000 records from brackwater-sim over TCP into
//       PostgreSQL (BW_PG_CONN or a throwaway cluster) against bw-bare-collector (connects,
//       reads the same blocks, COPYs each batch); MealRecord is emptied before each run;
//   /2: the same with a terminal that holds no record: the program's fixed cost on PostgreSQL
//       (settings, connection, schema and rights checks, register), "beyond_ms" the wall time
//       it takes beyond the bare collector's connection and status request.

#include "bench_support.h"
#include "host/ledger/schema.h"
#include "sim/process.h"
#include "store/sql_connection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <iterator>
#include <string>
#include <vector>

using namespace bw;

namespace {

constexpr double CharSecs = 11.0 / 19200.0;
// The clock setting on the wire: a 10-character request, a 2-character reply, a 1 ms pause.
constexpr double DateTimeWireSecs = 12 * CharSecs + 0.001;
constexpr double SyncAllowanceSecs = 0.015;
// The clock reading on the wire: a 4-character request and an 11-character reply.
constexpr double ClockReadWireSecs = 15 * CharSecs;

QString program(const QString& name) {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../") + name;
}

QString addressList(int from, int to) {
    QStringList list;
    for (int a = from; a <= to; ++a)
        list << QString::number(a);
    return list.join(QLatin1Char(','));
}

// Runs a program to its end; the seconds it took, or a negative value when it failed.
double timedProgram(const QString& name, const QStringList& args, int expectedExit,
                    const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess p;
    p.setProcessEnvironment(env);
    const auto t0 = std::chrono::steady_clock::now();
    p.start(program(name), args);
    if (!p.waitForFinished(120000) || p.exitCode() != expectedExit)
        return -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double timedRun(const QStringList& args, int expectedExit,
                const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    return timedProgram(QStringLiteral("brackwater-bell"), args, expectedExit, env);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
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
    const bool dryRun = state.range(1) == 1, guarded = state.range(1) == 2;
    QTemporaryDir dir;
    // The guarded run takes this machine's clock as kept right (it may have no time service).
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (guarded) {
        QDir().mkpath(dir.path() + QStringLiteral("/conf/Brackwater"));
        QFile conf(dir.path() + QStringLiteral("/conf/Brackwater/brackwater.conf"));
        if (!conf.open(QIODevice::WriteOnly) ||
            conf.write("[clock]\nrequire-synchronised=false\n") < 0) {
            state.SkipWithError("no settings file");
            return;
        }
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/conf"));
    }
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
        // Set whatever this machine's time service says (--force), or as the guard allows.
        if (!guarded)
            args << (dryRun ? QStringLiteral("--dry-run") : QStringLiteral("--force"));
        const double secs = timedRun(args, 0, env);
        if (secs < 0)
            state.SkipWithError("sync-clocks failed");
        total += secs;
    }
    const double per = total / double(state.iterations());
    const double budget =
        n * (DateTimeWireSecs + (guarded ? ClockReadWireSecs : 0.0) + SyncAllowanceSecs);
    state.counters["secs"] = per;
    state.counters["per_terminal_ms"] = per / n * 1000.0;
    state.counters["budget_secs"] = budget;
    state.counters["ratio"] = per / budget;
}

void BM_Version(benchmark::State& state) {
    const char* const names[] = {"bw-bare-version", "brackwater-site", "brackwater-collect",
                                 "brackwater-bell"};
    std::vector<double> secs[std::size(names)];
    for (auto _ : state)
        for (std::size_t i = 0; i < std::size(names); ++i) {
            const double s =
                timedProgram(QString::fromLatin1(names[i]), {QStringLiteral("--version")}, 0);
            if (s < 0)
                state.SkipWithError(names[i]);
            secs[i].push_back(s);
        }
    const double bare = median(secs[0]);
    state.counters["bare_ms"] = bare * 1000.0;
    for (std::size_t i = 1; i < std::size(names); ++i) {
        const std::string tool = std::string(names[i]).substr(std::string("brackwater-").size());
        state.counters[tool + "_ms"] = median(secs[i]) * 1000.0;
        state.counters[tool + "_ratio"] = bare > 0 ? median(secs[i]) / bare : 0.0;
    }
}

void BM_ProgramVsBare(benchmark::State& state) {
    const int which = int(state.range(0));
    const QString records = QString::number(which == 1 ? 50000 : 0);
    sim::SimProcess sim;
    if (which > 0 &&
        !sim.start(bench::program("brackwater-sim"),
                   {QStringLiteral("--addr"), QStringLiteral("1"), QStringLiteral("--tcp"),
                    QStringLiteral("127.0.0.1:0"), QStringLiteral("--records"), records,
                    QStringLiteral("--no-pacing")},
                   {}, 120000)) {
        state.SkipWithError(qPrintable(sim.error()));
        return;
    }
    // One register for the whole run, as a site has: the first run of the program (not counted)
    // finds its schema as a day's runs do.
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/register.db");
    std::unique_ptr<bench::HostDb> db;
    try {
        if (which == 0) {
            store::SqlConnection cn(QStringLiteral("sqlite:") + file, store::Create::Yes);
            host::createHostSchema(cn, false);
        } else {
            db = std::make_unique<bench::HostDb>(bench::Backend::Postgres);
            db->cn().Execute(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, "
                                            "MachVer) VALUES (1, '1', '127.0.0.1', '6429')"));
        }
    } catch (const Error& e) {
        state.SkipWithError(qPrintable(e.description()));
        return;
    }
    std::vector<double> product, bare;
    int round = -1;
    for (auto _ : state) {
        try {
            const auto runProduct = [&] {
                if (db)
                    db->cn().Execute(QStringLiteral("DELETE FROM MealRecord"));
                return which == 0
                           ? bench::runProgram("brackwater-site",
                                               {QStringLiteral("--db"), "sqlite:" + file,
                                                QStringLiteral("status"), QStringLiteral("--json")})
                           : bench::runProgram("brackwater-collect",
                                               {QStringLiteral("--db"), db->connection(),
                                                QStringLiteral("--tcp-port-map"),
                                                QStringLiteral("1001=%1").arg(sim.tcpPort()),
                                                QStringLiteral("--terminal"), QStringLiteral("1")});
            };
            const auto runBare = [&] {
                if (db)
                    db->cn().Execute(QStringLiteral("DELETE FROM MealRecord"));
                return which == 0
                           ? bench::runProgram("bw-bare-register", {file})
                           : bench::runProgram("bw-bare-collector",
                                               {db->connection(), QString::number(sim.tcpPort()),
                                                QStringLiteral("1")});
            };
            bench::Run p, b;
            if (round++ < 0)
                runProduct(); // the first run of the day
            if (round % 2 == 0) {
                p = runProduct();
                b = runBare();
            } else {
                b = runBare();
                p = runProduct();
            }
            if (p.exitCode != 0 || b.exitCode != 0) {
                std::fprintf(stderr, "exit %d and %d: %s / %s\n", p.exitCode, b.exitCode,
                             p.out.constData(), b.out.constData());
                state.SkipWithError("a program failed");
                return;
            }
            product.push_back(p.secs);
            bare.push_back(b.secs);
        } catch (const Error& e) {
            state.SkipWithError(qPrintable(e.description()));
            return;
        }
    }
    state.counters["program_ms"] = median(product) * 1000.0;
    state.counters["bare_ms"] = median(bare) * 1000.0;
    state.counters["ratio"] = median(bare) > 0 ? median(product) / median(bare) : 0;
    state.counters["beyond_ms"] = (median(product) - median(bare)) * 1000.0;
}

} // namespace

BENCHMARK(BM_ProgramVsBare)
    ->ArgName("case")
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(11)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Version)->Iterations(100)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Scan)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_SyncClocks)
    ->ArgsProduct({{3, 30, 255}, {0, 1, 2}})
    ->Iterations(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    const int rc = bw::bench::runBenchmarks(argc, argv);
    bw::bench::PgServer::instance().stop();
    return rc;
}

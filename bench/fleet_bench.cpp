// brackwater-site itself against many TCP/IP terminals, each with a listener of its own as
// real terminals have: one simulator program listens on 127.0.0.N for terminal N, all on one
// port that the register's port 1001 is mapped to (--tcp-port-map).
//
// BM_StatusTcpTerminals: `brackwater-site status --json` over N terminals. Counters: the
// program's wall time and peak resident size, the terminals reported answering and those that
// did not ("silent", which must be 0: no "no connection" from the program's own crowding),
// one terminal's status alone (the program started for it alone), and "ratio", the time over
// (N / pool) x one terminal's time. The pool is BW_BENCH_POOL (default 8), passed as --pool
// when the program takes it.
// BM_NightlyTcpTerminals: `brackwater-site nightly` over N terminals holding R records each
// (replies unpaced, so that the host's own work is measured). Counters: wall time, peak
// resident size and the records stored.
// BM_WebStatusTcpTerminals: the web view over the same N terminals: a fresh reading through its
// site view (in-process, as brackwater-web reads), the status page's and /api/v1/status's server
// time from that reading, and "ratio", the reading and the page together over the time of
// `brackwater-site status --json` on the same site.

#include "bench_support.h"
#include "host/ledger/operators.h"
#include "host/ledger/tokens.h"
#include "host/link/link.h"
#include "host/web/site_view.h"
#include "host/web/web_server.h"
#include "sim/process.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTcpServer>
#include <QTemporaryDir>
#include <vector>

using namespace bw;

namespace {

using bench::Run;
using bench::runProgram;

// A loopback port free on every 127.0.0.N (nothing listens on it on 127.0.0.1 now).
int freePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// One simulator program with terminals 1..n, terminal N listening on 127.0.0.N:port, and
// the register's rows of them.
bool startTerminals(benchmark::State& state, bench::HostDb& db, sim::SimProcess& sim, int n,
                    int port, const QStringList& extra) {
    QStringList args{QStringLiteral("--addr")}, addresses;
    for (int a = 1; a <= n; ++a)
        addresses << QString::number(a);
    args << addresses.join(u',') << extra;
    for (int a = 1; a <= n; ++a)
        args << QStringLiteral("--tcp") << QStringLiteral("127.0.0.%1:%2").arg(a).arg(port);
    if (!sim.start(bench::program("brackwater-sim"), args, {}, 60000)) {
        state.SkipWithError(qPrintable(sim.error()));
        return false;
    }
    db.cn().BeginTrans();
    for (int a = 1; a <= n; ++a)
        db.cn().executeBound(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, "
                                            "MachVer) VALUES (?, '1', ?, '6429')"),
                             {a, QStringLiteral("127.0.0.%1").arg(a)});
    db.cn().CommitTrans();
    return true;
}

// SQLite unless BW_BENCH_BACKEND=postgres (the server of BW_PG_CONN, a schema of its own).
bench::Backend backend() {
    return qEnvironmentVariable("BW_BENCH_BACKEND") == QLatin1String("postgres")
               ? bench::Backend::Postgres
               : bench::Backend::Sqlite;
}

int poolSize() {
    const int pool = qEnvironmentVariableIntValue("BW_BENCH_POOL");
    return pool > 0 ? pool : 8;
}

// The options every run of brackwater-site gets; --pool only where the program takes it.
QStringList siteOptions(const bench::HostDb& db, int port, int pool) {
    const QStringList common{QStringLiteral("--db"), db.connection(),
                             QStringLiteral("--tcp-port-map"), QStringLiteral("1001=%1").arg(port)};
    const QStringList withPool = common + QStringList{"--pool", QString::number(pool)};
    // A bad command line exits 2 before anything else.
    const Run probe = runProgram("brackwater-site", withPool + QStringList{"--help"});
    return probe.exitCode == 0 ? withPool : common;
}

// The first line of the program's output that says something failed.
QString firstFailure(const QByteArray& out) {
    for (const QByteArray& line : out.split('\n'))
        if (line.contains("fail"))
            return QString::fromUtf8(line);
    return {};
}

// Terminals answering and not in one status document.
void countAnswers(const QByteArray& json, int& answering, int& silent) {
    const QJsonArray all = QJsonDocument::fromJson(json).object().value("terminals").toArray();
    for (const QJsonValue& t : all)
        (t.toObject().value("answers").toBool() ? answering : silent) += 1;
}

void BM_StatusTcpTerminals(benchmark::State& state) {
    const int n = int(state.range(0)), pool = poolSize(), port = freePort();
    bench::HostDb db(backend());
    const QStringList options = siteOptions(db, port, pool);
    // The program's start and end around no terminal: `status 1` while the register is empty.
    const double start = runProgram("brackwater-site", options + QStringList{"status", "1"}).secs;
    sim::SimProcess sim;
    if (port == 0 || !startTerminals(state, db, sim, n, port, {"--records", "10"}))
        return;
    // One terminal alone: the best of three runs of the program (the first starts it cold).
    double one = 0;
    for (int i = 0; i < 3; ++i) {
        const double secs =
            runProgram("brackwater-site", options + QStringList{"status", "1"}).secs;
        one = i == 0 ? secs : std::min(one, secs);
    }
    Run all;
    for (auto _ : state)
        all = runProgram("brackwater-site", options + QStringList{"status", "--json"});
    int answering = 0, silent = 0;
    countAnswers(all.out, answering, silent);
    if (answering != n) // counted, not hidden behind an error, so that the figures still print
        std::fprintf(stderr, "%d of %d terminals reported answering\n", answering, n);
    state.counters["secs"] = all.secs;
    state.counters["peak_rss_mib"] = double(all.peakKb) / 1024.0;
    state.counters["answering"] = answering;
    state.counters["silent"] = silent;
    state.counters["one_secs"] = one;
    state.counters["pool"] = pool;
    state.counters["pool_option"] = options.contains(QStringLiteral("--pool")) ? 1 : 0;
    state.counters["ratio"] = all.secs / (double(n) / pool * one);
    // The same without the program's start, which the one terminal's run holds once as well.
    state.counters["start_secs"] = start;
    state.counters["ratio_net"] = (all.secs - start) / (double(n) / pool * (one - start));
}

void BM_NightlyTcpTerminals(benchmark::State& state) {
    const int n = int(state.range(0)), records = int(state.range(1)), port = freePort();
    bench::HostDb db(backend());
    sim::SimProcess sim;
    if (port == 0 || !startTerminals(state, db, sim, n, port,
                                     {"--records", QString::number(records), "--no-pacing"}))
        return;
    const QStringList options = siteOptions(db, port, poolSize());
    Run nightly;
    for (auto _ : state)
        nightly = runProgram("brackwater-site", options + QStringList{"nightly"});
    const qlonglong stored = db.count(QStringLiteral("SELECT COUNT(*) FROM MealRecord"));
    // Failures are counted, not hidden behind an error, so that the figures still print.
    state.counters["failed"] = double(nightly.out.count("failed"));
    state.counters["exit"] = nightly.exitCode;
    if (nightly.exitCode != 0)
        std::fprintf(stderr, "%s\n", qPrintable(firstFailure(nightly.out)));
    state.counters["secs"] = nightly.secs;
    state.counters["peak_rss_mib"] = double(nightly.peakKb) / 1024.0;
    state.counters["stored"] = double(stored);
}

void BM_WebStatusTcpTerminals(benchmark::State& state) {
    const int n = int(state.range(0)), port = freePort();
    bench::HostDb db(bench::Backend::Sqlite);
    sim::SimProcess sim;
    if (port == 0 || !startTerminals(state, db, sim, n, port, {"--records", "10"}))
        return;
    const QStringList options = siteOptions(db, port, poolSize());
    const double cli =
        runProgram("brackwater-site", options + QStringList{"status", "--json"}).secs;
    host::setTcpPortMap(1001, port);
    const QString me = host::operators::desktopAccount();
    host::operators::setPassword(db.cn(), me, me, QStringLiteral("bench-pass"));
    const QByteArray token =
        host::tokens::addToken(db.cn(), QStringLiteral("bench"), QStringLiteral("status"))
            .toLatin1();
    const auto site = host::web::siteView(db.connection(), QStringLiteral("就餐机管理"),
                                          host::defaultMealWindows());
    host::web::WebServer server(*site, {});
    host::web::Request in;
    in.method = "POST";
    in.path = "/signin";
    in.body = "name=" + QUrl::toPercentEncoding(me) + "&password=bench-pass";
    QByteArray cookie;
    for (const auto& [name, value] : server.answer(in).headers)
        if (name == "Set-Cookie")
            cookie = value.split(';').first();
    double reading = 0, page = 0, api = 0;
    qsizetype pageBytes = 0;
    for (auto _ : state) {
        reading = bench::secondsOf([&] {
            site->status(true);
            while (site->status(false).isEmpty())
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        host::web::Request get;
        get.method = "GET";
        get.path = "/status";
        get.headers = {{"cookie", cookie}};
        page = bench::secondsOf([&] { pageBytes = server.answer(get).body.size(); });
        get.path = "/api/v1/status";
        get.headers = {{"authorization", "Bearer " + token}};
        api = bench::secondsOf([&] { server.answer(get); });
    }
    state.counters["cli_secs"] = cli;
    state.counters["reading_secs"] = reading;
    state.counters["page_ms"] = page * 1000;
    state.counters["page_kib"] = double(pageBytes) / 1024;
    state.counters["api_ms"] = api * 1000;
    state.counters["ratio"] = (reading + page) / cli;
}

} // namespace

BENCHMARK(BM_WebStatusTcpTerminals)
    ->Arg(255)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_StatusTcpTerminals)->Arg(255)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_NightlyTcpTerminals)
    ->Args({16, 20000})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
    return bw::bench::runBenchmarks(argc, argv);
}

// Meal-record collection from the simulator program into the host database.
//
// BM_CollectSerialPaced: over its pseudo-terminal with replies paced at the line speed; the
// time is reported against the wire time of every character exchanged (11 bits at 19200
// baud) as the counter "ratio".
// BM_CollectTcp: over TCP without pacing into SQLite and into PostgreSQL, with the growth of
// the process's peak resident size over the collection ("peak_growth_kb"), for three record
// counts: memory must not grow with the count.
// BM_CollectTcpVsBare: the same collection over TCP into a fresh SQLite database, side by side
// with a plain batched insert of the very rows it stored into a fresh one (one statement
// prepared once, one transaction per batch); the medians of a few rounds of each, and their
// quotient as "ratio".
// BM_CollectVsBareCollector/B/n: the same collection of n records over TCP into a fresh
// database (B 0 SQLite, 1 PostgreSQL), alternating in one run with a bare collector that
// reads the same blocks from the same simulator and stores them the database's plainest fast
// way: SQLite one prepared sqlite3 insert per record, PostgreSQL one COPY per batch, each batch
// its own transaction. The medians of five rounds of each, and their quotient as "ratio".

#include "bare_collector.h"
#include "bell/serial_port.h"
#include "bench_support.h"
#include "host/collect/collect_run.h"
#include "host/collect/lines.h"
#include "host/link/link.h"
#include "sim/process.h"

#include <QApplication>
#include <QSqlQuery>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

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
    host::Link link;
    QString error;
    if (!host::collect::openLink(link, port, error))
        return {};
    LinkSource source(1, link);
    MealStore sink(*host::sharedConnection(), QStringLiteral("bench"));
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

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

constexpr const char* kMealColumns =
    "MachAddr, RecordNo, CardNo, EmpNo, RecordTime, Flag, CollectedAt, CollectedBy, Series";

// Inserts the rows into MealRecord the most direct way Qt offers: one statement prepared
// once, its values bound by position, one transaction per batch.
bool bareInsert(const QList<QVariantList>& rows, int batch) {
    QSqlDatabase db = host::sharedConnection()->database();
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO MealRecord (%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)")
                       .arg(QLatin1String(kMealColumns))))
        return false;
    for (qsizetype first = 0; first < rows.size(); first += batch) {
        if (!db.transaction())
            return false;
        for (qsizetype i = first; i < std::min<qsizetype>(first + batch, rows.size()); ++i) {
            const QVariantList& row = rows[i];
            for (int c = 0; c < row.size(); ++c)
                q.bindValue(c, row[c]);
            if (!q.exec())
                return false;
        }
        if (!db.commit())
            return false;
    }
    return true;
}

void BM_CollectTcpVsBare(benchmark::State& state) {
    const int n = int(state.range(0));
    constexpr int Rounds = 5;
    sim::SimProcess s;
    if (!startSim(s, n, false)) {
        state.SkipWithError(qPrintable(s.error()));
        return;
    }
    std::vector<double> engine, bare;
    for (auto _ : state) {
        for (int round = 0; round < Rounds; ++round) {
            QList<QVariantList> rows;
            {
                bench::HostDb db(bench::Backend::Sqlite);
                Outcome out;
                engine.push_back(
                    bench::secondsOf([&] { out = collectOnce(QStringLiteral("127.0.0.1")); }));
                if (!out.ok() || out.added != n) {
                    state.SkipWithError(
                        qPrintable(QStringLiteral("collection failed: ") + out.reason));
                    return;
                }
                rows = host::sharedConnection()->queryBound(
                    QStringLiteral("SELECT %1 FROM MealRecord ORDER BY RecordNo")
                        .arg(QLatin1String(kMealColumns)));
            }
            bench::HostDb db(bench::Backend::Sqlite);
            bool ok = false;
            bare.push_back(bench::secondsOf([&] { ok = bareInsert(rows, Options{}.batchSize); }));
            if (!ok || rows.size() != n) {
                state.SkipWithError("bare insert failed");
                return;
            }
        }
    }
    state.counters["engine_secs"] = median(engine);
    state.counters["bare_secs"] = median(bare);
    state.counters["ratio"] = median(engine) / median(bare);
}

void BM_CollectVsBareCollector(benchmark::State& state) {
    const auto backend = state.range(0) == 0 ? bench::Backend::Sqlite : bench::Backend::Postgres;
    const int n = int(state.range(1));
    constexpr int Rounds = 5;
    sim::SimProcess s;
    if (!startSim(s, n, false)) {
        state.SkipWithError(qPrintable(s.error()));
        return;
    }
    std::vector<double> engine, bare;
    for (auto _ : state) {
        for (int round = 0; round < Rounds; ++round) {
            try {
                {
                    bench::HostDb db(backend);
                    Outcome out;
                    engine.push_back(
                        bench::secondsOf([&] { out = collectOnce(QStringLiteral("127.0.0.1")); }));
                    if (!out.ok() || out.added != n) {
                        state.SkipWithError(
                            qPrintable(QStringLiteral("collection failed: ") + out.reason));
                        return;
                    }
                }
                bench::HostDb db(backend);
                qint64 stored = 0;
                bare.push_back(bench::secondsOf([&] {
                    stored = bench::bareCollect(1, QStringLiteral("127.0.0.1"),
                                                *host::sharedConnection());
                }));
                const auto rows = host::sharedConnection()->queryBound(
                    QStringLiteral("SELECT COUNT(*) FROM MealRecord"));
                if (stored != n || rows.value(0).value(0).toLongLong() != n) {
                    state.SkipWithError("bare collection failed");
                    return;
                }
            } catch (const Error& e) {
                state.SkipWithError(qPrintable(e.description()));
                return;
            }
        }
    }
    state.counters["engine_secs"] = median(engine);
    state.counters["bare_secs"] = median(bare);
    state.counters["ratio"] = median(engine) / median(bare);
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

BENCHMARK(BM_CollectTcpVsBare)
    ->ArgName("records")
    ->Arg(50000)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

BENCHMARK(BM_CollectVsBareCollector)
    ->ArgNames({"postgres", "records"})
    ->Args({0, 50000})
    ->Args({1, 50000})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

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

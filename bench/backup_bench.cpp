// A backup of the embedded database (VACUUM INTO, checked, named) while a collection writes
// into it, against the sqlite3 program's .backup of the same file at rest (the online backup
// starts over whenever another connection writes, so under a steady writer it never ends).
// The size is BW_BENCH_BACKUP_MIB (default 256; 1024 for the figure of a 1 GiB database); the
// collection stores BW_BENCH_BACKUP_RATE records a second (default 1000, far more than a
// terminal line delivers; 0: as fast as it can).

#include "host/ledger/backup.h"
#include "store/sql_connection.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <thread>

namespace {

QTemporaryDir* work = nullptr;

int sizeMiB() {
    const int mib = qEnvironmentVariableIntValue("BW_BENCH_BACKUP_MIB");
    return mib > 0 ? mib : 256;
}

// A database of about sizeMiB() of meal-record-like rows (about 300 bytes each) with an index
// on the card, made once per process.
QString database() {
    const QString file = work->filePath(QStringLiteral("host.db"));
    if (QFileInfo::exists(file))
        return file;
    bw::store::SqlConnection cn(QStringLiteral("sqlite:") + file, bw::store::Create::Yes);
    cn.Execute(QStringLiteral("CREATE TABLE Meal (Id INTEGER PRIMARY KEY, CardNo TEXT, At TEXT, "
                              "Pad BLOB)"));
    cn.Execute(QStringLiteral("CREATE INDEX MealCard ON Meal (CardNo)"));
    const qint64 rows = qint64(sizeMiB()) * 1024 * 1024 / 300;
    cn.executeBound(QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM "
                                   "c LIMIT ?) INSERT INTO Meal (CardNo, At, Pad) SELECT "
                                   "printf('%08d', x % 20000), datetime(x, 'unixepoch'), "
                                   "randomblob(200) FROM c"),
                    {rows});
    return file;
}

int recordsPerSecond() {
    const QByteArray rate = qgetenv("BW_BENCH_BACKUP_RATE");
    return rate.isEmpty() ? 1000 : rate.toInt();
}

// A collection storing batches of 100 records, one transaction each, until stopped.
class Collection {
public:
    explicit Collection(const QString& file)
        : thread_([this, file] {
              bw::store::SqlConnection cn(QStringLiteral("sqlite:") + file);
              const int rate = recordsPerSecond();
              const auto start = std::chrono::steady_clock::now();
              while (!stop_) {
                  if (rate > 0)
                      std::this_thread::sleep_until(start +
                                                    std::chrono::milliseconds(rows_ * 1000 / rate));
                  cn.BeginTrans();
                  for (int i = 0; i < 100; ++i)
                      cn.executeBound(QStringLiteral("INSERT INTO Meal (CardNo, At, Pad) VALUES "
                                                     "('00010001', datetime('now'), "
                                                     "randomblob(200))"),
                                      {});
                  cn.CommitTrans();
                  rows_ += 100;
              }
          }) {}
    ~Collection() {
        stop_ = true;
        thread_.join();
    }
    qint64 rows() const { return rows_; }

private:
    std::atomic_bool stop_{false};
    std::atomic<qint64> rows_{0};
    std::thread thread_;
};

void backupRuns(benchmark::State& state, bool writing) {
    const QString file = database();
    bw::store::SqlConnection cn(QStringLiteral("sqlite:") + file);
    const QString folder =
        work->filePath(writing ? QStringLiteral("backups-writing") : QStringLiteral("backups"));
    std::unique_ptr<Collection> collection;
    if (writing)
        collection = std::make_unique<Collection>(file);
    QDateTime at = QDateTime::currentDateTime();
    for (auto _ : state) {
        at = at.addSecs(1);
        const auto made = bw::host::backup::backupDatabase(cn, folder, 1, at);
        if (!made.ok()) {
            state.SkipWithError(bw::host::backup::describe(made).toUtf8().constData());
            break;
        }
    }
    if (collection)
        state.counters["rows_written"] = double(collection->rows());
    state.counters["MiB"] = double(QFileInfo(file).size()) / (1024 * 1024);
}

void BM_BackupWhileCollecting(benchmark::State& state) {
    backupRuns(state, true);
}
void BM_BackupAtRest(benchmark::State& state) {
    backupRuns(state, false);
}

void BM_Sqlite3DotBackup(benchmark::State& state) {
    const QString program = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (program.isEmpty()) {
        state.SkipWithError("the sqlite3 program is not installed (Debian package sqlite3)");
        return;
    }
    const QString file = database(), out = work->filePath(QStringLiteral("dot-backup.db"));
    for (auto _ : state) {
        QFile::remove(out);
        if (QProcess::execute(program, {file, QStringLiteral(".backup '%1'").arg(out)}) != 0) {
            state.SkipWithError("sqlite3 .backup failed");
            break;
        }
    }
}

BENCHMARK(BM_Sqlite3DotBackup)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_BackupAtRest)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_BackupWhileCollecting)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    work = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

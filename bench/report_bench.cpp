// The monthly report of a busy site: 1,000,000 meal records of one month on 255 terminals by
// 20,000 employees (one record in 50 of a card without an employee), in the embedded
// database, counted and written to a workbook (BM_MonthReportXlsx; BM_MonthReportXlsxByDay also
// counts each terminal's days). The counters: the report's seconds, the process's peak
// resident size (getrusage; the database is filled by SQL beforehand, inside the database),
// and whether both stay within 3 s and 200 MiB. The employees are in the site's register, in 60
// departments: the workbook has a sheet per department and their summary, and
// BM_MonthReportPayroll also writes the payroll's file.

#include "host/ledger/schema.h"
#include "host/report/report_writer.h"
#include "platform/language.h"
#include "store/sql_connection.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <chrono>
#include <sys/resource.h>

namespace {

QTemporaryDir* work = nullptr;

constexpr qint64 kRecords = 1000000;

QString database() {
    const QString file = work->filePath(QStringLiteral("host.db"));
    if (QFileInfo::exists(file))
        return file;
    bw::store::SqlConnection cn(QStringLiteral("sqlite:") + file, bw::store::Create::Yes);
    bw::host::createHostSchema(cn, false);
    cn.Execute(
        QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM c "
                       "LIMIT 20000) INSERT INTO Employees (EmpNo, Name, Department, StartDay) "
                       "SELECT printf('E%05d', x), printf('员工%d', x), printf('部门%d', x "
                       "% 60), '2026-01-01' FROM c"));
    // Collected in time order, as a month of nightly runs stores them.
    cn.executeBound(
        QStringLiteral(
            "WITH RECURSIVE c(x) AS (SELECT 0 UNION ALL SELECT x + 1 FROM c LIMIT ?) INSERT INTO "
            "MealRecord (MachAddr, RecordNo, CardNo, EmpNo, RecordTime, Flag, Series) SELECT "
            "x % 255 + 1, x, printf('%08d', x % 20011), CASE WHEN x % 50 = 0 THEN NULL ELSE "
            "printf('E%05d', x % 20011 % 20000) END, datetime('2026-03-01', '+' || (x * 2678399 / "
            "?) || ' seconds'), 3, 0 FROM c"),
        {kRecords, kRecords});
    return file;
}

double peakMiB() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_maxrss) / 1024.0; // KiB on Linux
}

void run(benchmark::State& state, bool byDay, bool payroll = false) {
    const QString file = database();
    const QString out = work->filePath(QStringLiteral("month.xlsx"));
    double total = 0;
    qint64 records = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        bw::store::SqlConnection cn(QStringLiteral("sqlite:") + file);
        bw::host::report::Request rq;
        rq.month = QDate(2026, 3, 1);
        rq.byDay = byDay;
        const auto report = bw::host::report::readMonthReport(cn, rq);
        const auto fault = bw::host::report::writeReport(
            bw::host::report::reportTables(report, bw::LangSimplified), out,
            bw::host::report::Format::Xlsx);
        if (payroll && !fault.failed()) {
            bw::host::report::Prices prices;
            prices.mealFen = {300, 1200, 1000};
            prices.subsidyFen = 20000;
            const auto paid = bw::host::report::writePayroll(
                report, prices, work->filePath(QStringLiteral("payroll.csv")), bw::LangSimplified);
            if (paid.failed()) {
                state.SkipWithError(qPrintable(paid.reason));
                return;
            }
        }
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        records = report.total.total();
        if (fault.failed()) {
            state.SkipWithError(qPrintable(fault.reason));
            return;
        }
    }
    const double secs = total / double(state.iterations());
    state.counters["secs"] = secs;
    state.counters["records"] = double(records);
    state.counters["peak_MiB"] = peakMiB();
    state.counters["within_limits"] = secs <= 3.0 && peakMiB() <= 200.0 ? 1 : 0;
}

void BM_MonthReportXlsx(benchmark::State& state) {
    run(state, false);
}

void BM_MonthReportXlsxByDay(benchmark::State& state) {
    run(state, true);
}

void BM_MonthReportPayroll(benchmark::State& state) {
    run(state, false, true);
}

} // namespace

BENCHMARK(BM_MonthReportPayroll)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MonthReportXlsx)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_MonthReportXlsxByDay)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    work = &dir;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

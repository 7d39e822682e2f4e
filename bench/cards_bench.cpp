// An import of cards from a CSV file into the embedded database, as `brackwater-site cards
// import` makes it: the file read (encoding, header, every row checked), then every row written
// in one transaction with the operation log's entry.
//
// BM_ImportCards/20000: 20,000 cards with names, a GB18030 file, onto a terminal that holds
// them already (every row an update) or none (--replace: every row an insert); the limit is 1 s.
//
// The site's register, as `brackwater-site employees import` makes it, on 255 terminals in 15
// groups: BM_ImportEmployees/20000 reads HR's list of 20,000 employees with cards in 60
// departments (GB18030) and writes it into an empty register, the name lists of every terminal
// derived in the same transaction (limited: each department on one group's 17 terminals,
// 340,000 rows; else every department on every terminal, 5,100,000 rows). BM_DeriveAll makes
// every list again; BM_DeriveOne one employee's rows. On SQLite, and on PostgreSQL when
// BW_PG_CONN names a throwaway database. The limit for the import with its lists is 1 s.

#include "host/ledger/schema.h"
#include "host/names/cards.h"
#include "host/names/employees.h"
#include "store/sql_connection.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <iconv.h>

namespace {

QByteArray gb18030(const QByteArray& utf8) {
    iconv_t cd = iconv_open("GB18030", "UTF-8");
    QByteArray out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.constData());
    size_t inLeft = size_t(utf8.size()), outLeft = size_t(out.size());
    char* to = out.data();
    iconv(cd, &in, &inLeft, &to, &outLeft);
    iconv_close(cd);
    out.truncate(out.size() - int(outLeft));
    return out;
}

QString cardFile(const QTemporaryDir& dir, int n) {
    QByteArray text = "卡号,工号,姓名\r\n";
    for (int i = 0; i < n; ++i)
        text += QStringLiteral("%1,E%2,职工%3\r\n")
                    .arg(i + 1, 8, 10, QLatin1Char('0'))
                    .arg(i, 6, 10, QLatin1Char('0'))
                    .arg(i)
                    .toUtf8();
    const QString path = dir.filePath(QStringLiteral("cards.csv"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(gb18030(text));
    return path;
}

void BM_ImportCards(benchmark::State& state) {
    QTemporaryDir dir;
    const QString file = cardFile(dir, int(state.range(0)));
    bw::store::SqlConnection cn(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("h.db")),
                                bw::store::Create::Yes);
    bw::host::createHostSchema(cn, true);
    const bool replace = state.range(1) != 0;
    for (auto _ : state) {
        const bw::host::names::CardFile cards = bw::host::names::readCardFile(file);
        if (!cards.ok()) {
            state.SkipWithError("the file was refused");
            return;
        }
        bw::host::names::importCards(cn, 1, cards, replace, {});
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ImportCards)
    ->ArgsProduct({{20000}, {0, 1}})
    ->ArgNames({"cards", "replace"})
    ->Unit(benchmark::kMillisecond);

QString registerFile(const QTemporaryDir& dir, int n) {
    QByteArray text = "工号,姓名,部门,卡号,入职日期\r\n";
    for (int i = 0; i < n; ++i)
        text += QStringLiteral("E%1,职工%2,部门%3,%4,2026-01-01\r\n")
                    .arg(i, 6, 10, QLatin1Char('0'))
                    .arg(i)
                    .arg(i % 60)
                    .arg(i + 1)
                    .toUtf8();
    const QString path = dir.filePath(QStringLiteral("staff.csv"));
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(gb18030(text));
    return path;
}

// An empty register on 255 terminals of 15 groups; limited: each department on one group.
std::unique_ptr<bw::store::SqlConnection> site(const QTemporaryDir& dir, bool postgres,
                                               bool limited) {
    const QString pg = qEnvironmentVariable("BW_PG_CONN");
    auto cn = std::make_unique<bw::store::SqlConnection>(
        postgres ? pg : QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("r.db")),
        bw::store::Create::Yes);
    bw::host::createHostSchema(*cn, false);
    for (const char* table : {"MachineInfo", "CardMapping", "Employees", "EmployeeCard",
                              "Departments", "DepartmentGroup", "CtrlLog"})
        cn->Execute(QStringLiteral("DELETE FROM %1").arg(QLatin1String(table)));
    cn->BeginTrans();
    for (int t = 1; t <= 255; ++t)
        cn->executeBound(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, "
                                        "MachVer, MachDesc) VALUES (?, '1', '*', 'x', ?, '6429', "
                                        "'计次')"),
                         {t, QStringLiteral("G%1").arg(t % 15)});
    for (int d = 0; d < 60 && limited; ++d) {
        cn->executeBound(QStringLiteral("INSERT INTO Departments (Name) VALUES (?)"),
                         {QStringLiteral("部门%1").arg(d)});
        cn->executeBound(QStringLiteral("INSERT INTO DepartmentGroup (Department, TerminalGroup) "
                                        "VALUES (?, ?)"),
                         {QStringLiteral("部门%1").arg(d), QStringLiteral("G%1").arg(d % 15)});
    }
    cn->CommitTrans();
    return cn;
}

// range(0) employees, range(1) 1: PostgreSQL, range(2) 1: departments limited to a group.
bool skipped(benchmark::State& state) {
    if (state.range(1) == 1 && qEnvironmentVariableIsEmpty("BW_PG_CONN")) {
        state.SkipWithError("BW_PG_CONN is not set");
        return true;
    }
    return false;
}

void BM_ImportEmployees(benchmark::State& state) {
    if (skipped(state))
        return;
    QTemporaryDir dir;
    const QString path = registerFile(dir, int(state.range(0)));
    const QDate today(2026, 3, 10);
    std::unique_ptr<bw::store::SqlConnection> cn;
    for (auto _ : state) {
        state.PauseTiming();
        cn = site(dir, state.range(1) == 1, state.range(2) == 1);
        state.ResumeTiming();
        const auto file = bw::host::names::readEmployeeFile(path, today);
        const auto done = bw::host::names::importEmployees(*cn, file, true, today, {});
        if (!done.refused.isEmpty()) {
            state.SkipWithError("the file was refused");
            return;
        }
    }
    state.counters["rows"] =
        double(cn->queryBound(QStringLiteral("SELECT COUNT(*) FROM CardMapping"))
                   .value(0)
                   .value(0)
                   .toLongLong());
}
BENCHMARK(BM_ImportEmployees)
    ->ArgsProduct({{20000}, {0, 1}, {1, 0}})
    ->ArgNames({"employees", "pg", "limited"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

void BM_Derive(benchmark::State& state, bool one) {
    if (skipped(state))
        return;
    QTemporaryDir dir;
    const QDate today(2026, 3, 10);
    auto cn = site(dir, state.range(1) == 1, true);
    bw::host::names::importEmployees(
        *cn, bw::host::names::readEmployeeFile(registerFile(dir, int(state.range(0))), today), true,
        today, {});
    int rows = 0;
    for (auto _ : state)
        rows = bw::host::names::deriveNameLists(
            *cn, today, one ? QStringList{QStringLiteral("E000042")} : QStringList());
    state.counters["rows_touched"] = rows;
}
void BM_DeriveAll(benchmark::State& state) {
    BM_Derive(state, false);
}
void BM_DeriveOne(benchmark::State& state) {
    BM_Derive(state, true);
}
BENCHMARK(BM_DeriveAll)
    ->ArgsProduct({{20000}, {0, 1}})
    ->ArgNames({"employees", "pg"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);
BENCHMARK(BM_DeriveOne)
    ->ArgsProduct({{20000}, {0, 1}})
    ->ArgNames({"employees", "pg"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(20);

} // namespace

BENCHMARK_MAIN();

// Saving and deleting a terminal through the window, on SQLite and on PostgreSQL, with a
// register of 255 terminals of model 6429.
//
// BM_SaveExisting: the "Save" tool on a terminal that is in the register (its row rewritten),
// BM_SaveNew: the "Save" tool on a terminal that is not (a row added); both include what the
// tool does after the write: the list refreshed and the action logged.
// BM_Delete: the "dele" tool on the current terminal (the row, its card mappings copied to
// CardMappingTmp and removed in one transaction, the list refreshed, the action logged).
// Between timed steps the register is put back, untimed.
//
// PostgreSQL: the server of BW_PG_CONN, else a throwaway cluster started with
// tools/pg-test-cluster.sh for this run; without either the PostgreSQL cases are skipped.

#include "bench_support.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <benchmark/benchmark.h>
#include <cstring>
#include <optional>

using namespace bw;
using namespace bw::bench;

namespace {

constexpr int kTerminals = 255;

// The database and the window opened over it for one benchmark case.
struct Session {
    SilentMessageBox boxes;
    std::optional<HostDb> db;
    F_Machine* window = nullptr;
    QString error;

    explicit Session(Backend backend) {
        resetState();
        registerComponentsOnce();
        try {
            db.emplace(backend);
            db->addTerminals(1, kTerminals);
        } catch (const Error& e) {
            error = e.boxText();
            return;
        }
        window = showA();
        QCoreApplication::processEvents();
        if (!shownWithList(window, kTerminals))
            error = QStringLiteral("window not shown with its list");
        else if (boxes.count > 0)
            error = QStringLiteral("box at load: ") + boxes.lastText;
    }
    ~Session() {
        closeWindow();
        db.reset();
        resetState();
    }

    void fillPanel(int number) {
        window->Txt_Machine->setText(QString::number(number));
        window->Cbo_COM->setEditText(QStringLiteral("COM%1").arg(number % 4 + 1));
        window->Cbo_Team->setEditText(QStringLiteral("班组%1").arg(number % 7 + 1));
        window->CmbGroup->setEditText(QStringLiteral("%1楼").arg(number % 10 + 1));
        window->CmbMachType->setEditText(QStringLiteral("考勤"));
    }
    qlonglong rowsOf(int number) {
        return db->count(QStringLiteral("SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = ?"),
                         {number});
    }
};

bool failed(benchmark::State& state, const Session& s) {
    if (!s.error.isEmpty()) {
        state.SkipWithError(qPrintable(s.error));
        return true;
    }
    if (s.boxes.count > 0) {
        state.SkipWithError(qPrintable(QStringLiteral("box: ") + s.boxes.lastText));
        return true;
    }
    return false;
}

void BM_SaveExisting(benchmark::State& state, Backend backend) {
    Session s(backend);
    if (failed(state, s))
        return;
    int number = 0;
    for (auto _ : state) {
        number = number % kTerminals + 1;
        s.fillPanel(number);
        s.window->ActiveBar21_ToolClick(QStringLiteral("Save"));
        QCoreApplication::processEvents();
        if (failed(state, s))
            break;
    }
    if (s.db->count(QStringLiteral("SELECT COUNT(*) FROM MachineInfo")) != kTerminals)
        state.SkipWithError("register changed size");
}

void BM_SaveNew(benchmark::State& state, Backend backend) {
    Session s(backend);
    if (failed(state, s))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        s.db->cn().executeBound(QStringLiteral("DELETE FROM MachineInfo WHERE MachAddr = ?"),
                                {kTerminals});
        s.fillPanel(kTerminals);
        state.ResumeTiming();
        s.window->ActiveBar21_ToolClick(QStringLiteral("Save"));
        QCoreApplication::processEvents();
        if (failed(state, s))
            break;
        state.PauseTiming();
        const qlonglong rows = s.rowsOf(kTerminals);
        state.ResumeTiming();
        if (rows != 1) {
            state.SkipWithError("the new terminal was not saved");
            break;
        }
    }
}

void BM_Delete(benchmark::State& state, Backend backend) {
    Session s(backend);
    if (failed(state, s))
        return;
    for (auto _ : state) {
        state.PauseTiming();
        if (s.rowsOf(kTerminals) == 0)
            s.db->addTerminal(kTerminals);
        // Two people's cards on the terminal, copied to CardMappingTmp by the deletion.
        for (int k = 1; k <= 2; ++k)
            s.db->cn().executeBound(
                QStringLiteral(
                    "INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES (?, ?, ?)"),
                {QStringLiteral("0001%1").arg(k, 4, 10, QLatin1Char('0')),
                 QStringLiteral("E%1").arg(k), kTerminals});
        bw::state().CurrentMachAddr = kTerminals;
        state.ResumeTiming();
        s.window->ActiveBar21_ToolClick(QStringLiteral("dele"));
        QCoreApplication::processEvents();
        if (failed(state, s))
            break;
        state.PauseTiming();
        const qlonglong rows = s.rowsOf(kTerminals);
        state.ResumeTiming();
        if (rows != 0) {
            state.SkipWithError("the terminal was not deleted");
            break;
        }
    }
}

// True when the command line's filter can select a PostgreSQL case (no filter: all run).
bool wantsPostgres(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* prefix = "--benchmark_filter=";
        if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) {
            const QString filter = QString::fromLocal8Bit(argv[i] + std::strlen(prefix));
            return filter.isEmpty() || filter == QLatin1String(".") ||
                   filter == QLatin1String("all") ||
                   filter.contains(QLatin1String("Postgre"), Qt::CaseInsensitive);
        }
    }
    return true;
}

void registerCases(Backend backend, const char* suffix) {
    const std::string s = suffix;
    benchmark::RegisterBenchmark(("BM_SaveExisting/" + s).c_str(), BM_SaveExisting, backend)
        ->Iterations(50)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_SaveNew/" + s).c_str(), BM_SaveNew, backend)
        ->Iterations(50)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("BM_Delete/" + s).c_str(), BM_Delete, backend)
        ->Iterations(50)
        ->Unit(benchmark::kMillisecond);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quietOffscreenNotes();
    const bool postgres = wantsPostgres(argc, argv);
    benchmark::Initialize(&argc, argv);

    registerCases(Backend::Sqlite, "SQLite");
    if (postgres) {
        if (PgServer::instance().connectionString().isEmpty())
            std::fprintf(stderr, "PostgreSQL benchmarks skipped: %s\n",
                         qPrintable(PgServer::instance().why()));
        else
            registerCases(Backend::Postgres, "PostgreSQL");
    }

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PgServer::instance().stop();
    return 0;
}

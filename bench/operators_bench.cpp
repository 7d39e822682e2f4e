// The sign-in and the permission check of a signed-in operator.
//
// BM_SignIn: operators::signIn with the right password. On SQLite that is the Argon2id check
// of the stored hash (libsodium's interactive limits: 2 passes over 64 MiB); on PostgreSQL a
// session opened as the operator's role with SCRAM-SHA-256. It is what the sign-in adds to the
// console's start: the limit is 300 ms.
// BM_PermissionCheck: one CheckPermission of the permission component for the operator, on
// the host's shared connection, as the windows ask before every action: the limit is 1 ms.
//
// PostgreSQL: the server of BW_PG_CONN, else a throwaway cluster started with
// tools/pg-test-cluster.sh for this run; without either the PostgreSQL cases are skipped.

#include "bench_support.h"
#include "host/ledger/operators.h"

#include <benchmark/benchmark.h>

using namespace bw;
using namespace bw::bench;

namespace {

const QString kPassword = QStringLiteral("correct horse battery staple");

// An operator of the bench's own, with the communication test right, on a fresh database.
struct OperatorDb {
    std::optional<HostDb> db;
    QString name;
    QString error;

    explicit OperatorDb(Backend backend) {
        if (backend == Backend::Postgres && PgServer::instance().connectionString().isEmpty()) {
            error = PgServer::instance().why();
            return;
        }
        resetState();
        registerComponentsOnce();
        try {
            db.emplace(backend);
            name = backend == Backend::Sqlite
                       ? QStringLiteral("clerk")
                       : QStringLiteral("bw_bench_op_%1").arg(QCoreApplication::applicationPid());
            if (backend == Backend::Postgres) {
                db->cn().Execute(QStringLiteral("SET client_min_messages TO warning"));
                db->cn().Execute(QStringLiteral("DROP ROLE IF EXISTS ") + name);
                db->cn().Execute(
                    QStringLiteral("DO $$BEGIN CREATE ROLE bw_signin NOLOGIN; "
                                   "EXCEPTION WHEN duplicate_object THEN NULL; END$$"));
            }
            host::operators::addOperator(db->cn(), host::operators::desktopAccount(), name,
                                         {QStringLiteral("test")}, kPassword,
                                         QString::fromUtf8(host::kDemoCaption));
            if (backend == Backend::Postgres)
                db->cn().Execute(QStringLiteral("GRANT bw_signin TO ") + name);
        } catch (const Error& e) {
            error = e.description();
        } catch (const host::operators::Refused& r) {
            error = host::operators::describe(r);
        }
    }
    ~OperatorDb() {
        store::setServerSignIn({});
        if (db && db->connection().startsWith(QStringLiteral("postgres"))) {
            const QString role = name;
            db.reset();
            try {
                store::SqlConnection owner(PgServer::instance().connectionString());
                owner.Execute(QStringLiteral("SET client_min_messages TO warning"));
                owner.Execute(QStringLiteral("DROP ROLE IF EXISTS ") + role);
            } catch (const Error&) {
            }
        }
    }
};

void BM_SignIn(benchmark::State& state, Backend backend) {
    OperatorDb s(backend);
    if (!s.error.isEmpty()) {
        state.SkipWithError(qPrintable(s.error));
        return;
    }
    for (auto _ : state) {
        const QString who = host::operators::signIn(s.db->connection(), s.name, kPassword);
        benchmark::DoNotOptimize(who);
        store::setServerSignIn({});
    }
    state.counters["limit_ms"] = 300;
}

void BM_PermissionCheck(benchmark::State& state, Backend backend) {
    OperatorDb s(backend);
    if (!s.error.isEmpty()) {
        state.SkipWithError(qPrintable(s.error));
        return;
    }
    auto permission = CreateObject<IPermission>(progid::Permission);
    ConnectionPtr cn = host::sharedConnection();
    const QString function = QString::fromUtf8(host::kDemoCaption) + QStringLiteral(".通讯测试");
    for (auto _ : state) {
        const bool ok = permission->CheckPermission(cn, QStringLiteral("考勤系统"), s.name,
                                                    QVariant(), function, true, true);
        if (!ok) {
            state.SkipWithError("the operator's right was refused");
            return;
        }
    }
    state.counters["limit_ms"] = 1;
}

} // namespace

BENCHMARK_CAPTURE(BM_SignIn, sqlite, Backend::Sqlite)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SignIn, postgres, Backend::Postgres)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PermissionCheck, sqlite, Backend::Sqlite)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_PermissionCheck, postgres, Backend::Postgres)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PgServer::instance().stop();
    return 0;
}

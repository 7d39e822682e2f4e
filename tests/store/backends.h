#pragma once

// The two real back ends the store tests run against: an SQLite file in a fresh folder, and
// PostgreSQL named by BW_PG_CONN (each test in a schema of its own, dropped afterwards, so
// tests may run in parallel on one server). Without BW_PG_CONN the PostgreSQL tests are skipped.

#include "common/postgres_schema.h"
#include "common/test_support.h"
#include "host/ledger/ledger.h"
#include "host/ledger/schema.h"
#include "qt_print.h"
#include "store/sql_connection.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QString>
#include <gtest/gtest.h>
#include <memory>

namespace bw::test {

struct SqliteBackend {
    static QString name() { return QStringLiteral("SQLite"); }
    static QString unavailable() { return QString(); }

    QString connectionString;

    void setUp() { connectionString = QStringLiteral("sqlite:") + tempDir() + "/host.db"; }
    void tearDown() {}
};

struct PostgresBackend {
    static QString name() { return QStringLiteral("PostgreSQL"); }
    static QString unavailable() {
        if (qEnvironmentVariableIsEmpty("BW_PG_CONN"))
            return QStringLiteral("BW_PG_CONN is not set (tools/pg-test-cluster.sh start DIR "
                                  "PORT prints one)");
        return QString();
    }

    QString connectionString;
    QString schema;
    std::shared_ptr<store::SqlConnection> admin;
    std::unique_ptr<PostgresSchema> made;

    void setUp() {
        made = std::make_unique<PostgresSchema>(QStringLiteral("bw_store"));
        connectionString = made->connectionString();
        schema = made->name();
        admin = made->admin();
    }
    void tearDown() {
        made.reset();
        admin.reset();
    }
};

// The same two databases reached through unixODBC, with the drivers that tools/install-deps.sh
// installs ("SQLite3" from libsqliteodbc, "PostgreSQL Unicode" from odbc-postgresql).
struct OdbcSqliteBackend : SqliteBackend {
    static QString name() { return QStringLiteral("OdbcSQLite"); }
    void setUp() {
        connectionString = QStringLiteral("odbc:Driver={SQLite3};Database=") + tempDir() +
                           QStringLiteral("/host.db");
    }
};

struct OdbcPostgresBackend : PostgresBackend {
    static QString name() { return QStringLiteral("OdbcPostgreSQL"); }
    void setUp() {
        PostgresBackend::setUp();
        const auto pg = store::parseConnectionString(qEnvironmentVariable("BW_PG_CONN"));
        connectionString = QStringLiteral("odbc:Driver={PostgreSQL Unicode};Server=%1;Port=%2;"
                                          "Database=%3;UID=%4;PWD={%5};"
                                          "ConnSettings=SET search_path TO %6")
                               .arg(pg.host, QString::number(pg.port > 0 ? pg.port : 5432),
                                    pg.databaseName, pg.user, pg.password, schema);
    }
};

// A test on one back end with the host schema in place and the ledger pointed at it.
template <class B> class OnBackend : public ::testing::Test {
protected:
    void SetUp() override {
        const QString why = B::unavailable();
        if (!why.isEmpty())
            GTEST_SKIP() << qPrintable(why);
        backend.setUp();
        cn = store::SqlConnection::open(backend.connectionString, store::Create::Yes);
        host::createHostSchema(*cn, withDemoData());
        host::registerDbComponents();
        host::setConnectionString(backend.connectionString);
    }
    void TearDown() override {
        host::setConnectionString(QString());
        cn.reset();
        backend.tearDown();
    }
    virtual bool withDemoData() const { return false; }

    // A second, independent connection (another workstation).
    std::shared_ptr<store::SqlConnection> other() {
        return store::SqlConnection::open(backend.connectionString);
    }
    qlonglong count(const QString& sql, const QVariantList& values = {}) {
        return cn->queryBound(sql, values).value(0).value(0).toLongLong();
    }

    B backend;
    std::shared_ptr<store::SqlConnection> cn;
};

using Backends =
    ::testing::Types<SqliteBackend, PostgresBackend, OdbcSqliteBackend, OdbcPostgresBackend>;

struct BackendNames {
    template <class T> static std::string GetName(int) { return T::name().toStdString(); }
};

} // namespace bw::test

#pragma once

#include "store/sql_connection.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QString>
#include <memory>

namespace bw::test {

// A schema of its own on a PostgreSQL server (BW_PG_CONN unless named), made afresh and dropped
// with the object, so that tests and benchmarks may run in parallel on one server. The
// connection string names the schema (a URL or an ODBC string); admin() is the server's own
// session, which outlives the schema when kept. Raises bw::Error when the server cannot be used.
class PostgresSchema {
public:
    explicit PostgresSchema(const QString& prefix,
                            const QString& base = qEnvironmentVariable("BW_PG_CONN")) {
        static QAtomicInt counter;
        name_ = QStringLiteral("%1_%2_%3")
                    .arg(prefix)
                    .arg(QCoreApplication::applicationPid())
                    .arg(counter.fetchAndAddRelaxed(1) + 1);
        if (base.startsWith(QStringLiteral("postgres"), Qt::CaseInsensitive))
            connectionString_ = base + (base.contains(u'?') ? "&" : "?") + "schema=" + name_;
        else
            connectionString_ = base + (base.endsWith(u';') ? "" : ";") + "Schema=" + name_;
        admin_ = store::SqlConnection::open(base);
        admin_->Execute(QStringLiteral("SET client_min_messages TO warning"));
        admin_->Execute(QStringLiteral("DROP SCHEMA IF EXISTS ") + name_ +
                        QStringLiteral(" CASCADE"));
        admin_->Execute(QStringLiteral("CREATE SCHEMA ") + name_);
    }
    ~PostgresSchema() {
        try {
            admin_->Execute(QStringLiteral("DROP SCHEMA IF EXISTS ") + name_ +
                            QStringLiteral(" CASCADE"));
        } catch (const Error&) {
        }
    }
    PostgresSchema(const PostgresSchema&) = delete;
    PostgresSchema& operator=(const PostgresSchema&) = delete;

    const QString& connectionString() const { return connectionString_; }
    const QString& name() const { return name_; }
    const std::shared_ptr<store::SqlConnection>& admin() const { return admin_; }

private:
    QString name_;
    QString connectionString_;
    std::shared_ptr<store::SqlConnection> admin_;
};

} // namespace bw::test

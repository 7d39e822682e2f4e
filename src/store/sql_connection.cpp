#include "store/sql_connection.h"

#include <QAtomicInt>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>

namespace bw::store {

namespace {
QString nextConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("bw_store_%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}
} // namespace

Error rowChangedError() {
    return Error(dberr::RowChanged,
                 QStringLiteral("Row cannot be located for updating: it was changed or deleted by "
                                "another user since it was read. Nothing was written."));
}

Error databaseError(int number, const QString& what, const QSqlError& error) {
    QString detail = error.databaseText().trimmed();
    if (detail.isEmpty())
        detail = error.driverText().trimmed();
    if (detail.isEmpty())
        detail = error.text().trimmed();
    // Qt refuses a statement on a connection that its driver has closed (the server went
    // away) without any text; the operator would otherwise see a number alone.
    if (detail.isEmpty() && what.isEmpty())
        detail = QStringLiteral("The connection to the database is closed");
    QString description = what;
    if (!detail.isEmpty())
        description += (what.isEmpty() ? QString() : QStringLiteral(": ")) + detail;
    return Error(number, description);
}

SqlConnection::SqlConnection(const QString& connectionString)
    : connectionString_(connectionString), settings_(parseConnectionString(connectionString)),
      name_(nextConnectionName()) {
    if (settings_.kind == BackendSettings::Kind::Invalid)
        throw Error(dberr::ProviderFailure,
                    QStringLiteral("Cannot open the database (%1): %2")
                        .arg(settings_.problem, maskPassword(connectionString_)));
    if (!QSqlDatabase::isDriverAvailable(settings_.driver))
        throw Error(
            dberr::ProviderFailure,
            QStringLiteral("The database driver %1 is not installed").arg(settings_.driver));
    db_ = QSqlDatabase::addDatabase(settings_.driver, name_);
    db_.setDatabaseName(settings_.databaseName);
    if (!settings_.host.isEmpty())
        db_.setHostName(settings_.host);
    if (settings_.port > 0)
        db_.setPort(settings_.port);
    if (!settings_.user.isEmpty())
        db_.setUserName(settings_.user);
    if (!settings_.password.isEmpty())
        db_.setPassword(settings_.password);
    if (!settings_.connectOptions.isEmpty())
        db_.setConnectOptions(settings_.connectOptions);
    if (!db_.open()) {
        const QSqlError error = db_.lastError();
        close();
        Error e = databaseError(dberr::ProviderFailure, QStringLiteral("Cannot open the database"),
                                error);
        // A driver may repeat what it was given; the password never goes further.
        QString description = e.description();
        if (settings_.password.size() >= 3)
            description.replace(settings_.password, QStringLiteral("***"));
        throw Error(e.number(), description);
    }
    engine_ = detectEngine();
    if (engine_ == Engine::Postgres)
        startPostgresSession();
}

// Statements join quoted values with their quotes doubled; a backslash must stay an ordinary
// character in them whatever the server or database was set to.
void SqlConnection::startPostgresSession() {
    QSqlQuery set(db_);
    if (!set.exec(QStringLiteral("SET standard_conforming_strings = on"))) {
        const QSqlError error = set.lastError();
        set.finish();
        close();
        throw databaseError(dberr::ProviderFailure,
                            QStringLiteral("Cannot set up the database session"), error);
    }
}

SqlConnection::Engine SqlConnection::detectEngine() {
    switch (db_.driver()->dbmsType()) {
    case QSqlDriver::PostgreSQL:
        return Engine::Postgres;
    case QSqlDriver::SQLite:
        return Engine::Sqlite;
    case QSqlDriver::UnknownDbms:
        break;
    default:
        return Engine::Other;
    }
    // Qt's ODBC driver does not name SQLite; SQLite answers its own version function.
    if (settings_.kind != BackendSettings::Kind::Odbc)
        return Engine::Other;
    QSqlQuery probe(db_);
    probe.setForwardOnly(true);
    const bool sqlite = probe.exec(QStringLiteral("SELECT sqlite_version()")) && probe.next();
    probe.finish();
    return sqlite ? Engine::Sqlite : Engine::Other;
}

SqlConnection::~SqlConnection() {
    close();
}

std::shared_ptr<SqlConnection> SqlConnection::open(const QString& connectionString) {
    return std::make_shared<SqlConnection>(connectionString);
}

void SqlConnection::close() {
    if (name_.isEmpty())
        return;
    if (db_.isValid())
        db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
    name_.clear();
    inTransaction_ = false;
}

bool SqlConnection::isOpen() const {
    return db_.isValid() && db_.isOpen();
}

void SqlConnection::requireOpen() const {
    if (!isOpen())
        throw Error(dberr::ObjectClosed,
                    QStringLiteral("Operation is not allowed when the object is closed."));
}

void SqlConnection::Execute(const QString& sql, int /*options*/) {
    requireOpen();
    QSqlQuery query(db_);
    query.setForwardOnly(true);
    if (!query.exec(sql))
        throw databaseError(dberr::CommandFailed, QString(), query.lastError());
    // Whatever the statement returned is released unread.
    query.finish();
}

void SqlConnection::BeginTrans() {
    requireOpen();
    if (inTransaction_)
        throw Error(dberr::CommandFailed,
                    QStringLiteral("A transaction is already open on this connection"));
    if (!db_.transaction())
        throw databaseError(dberr::CommandFailed, QStringLiteral("Cannot begin a transaction"),
                            db_.lastError());
    inTransaction_ = true;
}

void SqlConnection::CommitTrans() {
    requireOpen();
    if (!inTransaction_)
        throw Error(dberr::CommandFailed, QStringLiteral("No transaction is open"));
    if (!db_.commit()) {
        const QSqlError error = db_.lastError();
        db_.rollback();
        inTransaction_ = false;
        throw databaseError(dberr::CommandFailed, QStringLiteral("Cannot commit"), error);
    }
    inTransaction_ = false;
}

void SqlConnection::RollbackTrans() {
    requireOpen();
    if (!inTransaction_)
        throw Error(dberr::CommandFailed, QStringLiteral("No transaction is open"));
    inTransaction_ = false;
    if (!db_.rollback())
        throw databaseError(dberr::CommandFailed, QStringLiteral("Cannot roll back"),
                            db_.lastError());
}

namespace {

// Prepares a statement, binds the values in order and runs it; errors as database errors.
QSqlQuery runBound(QSqlDatabase& db, const QString& sql, const QVariantList& values) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throw databaseError(dberr::CommandFailed, QString(), query.lastError());
    for (const QVariant& v : values)
        query.addBindValue(v);
    if (!query.exec())
        throw databaseError(dberr::CommandFailed, QString(), query.lastError());
    return query;
}

} // namespace

int SqlConnection::executeBound(const QString& sql, const QVariantList& values) {
    requireOpen();
    QSqlQuery query = runBound(db_, sql, values);
    const int affected = query.numRowsAffected();
    query.finish();
    return affected;
}

QVector<QVariantList> SqlConnection::queryBound(const QString& sql, const QVariantList& values) {
    requireOpen();
    QSqlQuery query = runBound(db_, sql, values);
    QVector<QVariantList> rows;
    while (query.next()) {
        QVariantList row;
        const int n = query.record().count();
        for (int i = 0; i < n; ++i)
            row.append(query.value(i));
        rows.append(row);
    }
    query.finish();
    return rows;
}

} // namespace bw::store

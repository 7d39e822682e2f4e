#pragma once

#include "platform/ado.h"
#include "platform/error.h"
#include "store/connection_string.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVector>
#include <memory>

namespace bw::store {

// Error numbers raised by the store, in the host platform's numbering.
namespace dberr {
constexpr int ProviderFailure = -2147467259; // the database could not be opened / general failure
constexpr int CommandFailed = -2147217900;   // a statement the database refused
constexpr int RowChanged = -2147217864;      // the row to update is no longer as it was read
constexpr int ItemNotFound = 3265;           // no column of that name
constexpr int NoCurrentRecord = 3021;        // at EOF (or BOF)
constexpr int NotUpdatable = 3251;           // the recordset cannot be written back
constexpr int ObjectClosed = 3704;           // the recordset or connection is closed
constexpr int InvalidConnection = 3709;      // no usable connection
} // namespace dberr

// A database error with the driver's own description.
Error databaseError(int number, const QString& what, const QSqlError& error);

// The row to be written was changed or deleted by another user since it was read.
Error rowChangedError();

// Whether a file system, by its statfs type number, keeps its files on this computer. Network
// and cluster file systems do not: SQLite's write-ahead log needs memory shared by every
// program that opens the file, which does not reach other computers.
bool localFileSystem(qint64 type);
// Whether the file (or the folder it would be made in) lies on such a local file system;
// false when that cannot be told.
bool onLocalDisk(const QString& path);

// A connection to the host's database over Qt SQL. Every instance owns its own, uniquely named
// QSqlDatabase connection, so two instances on the same database behave as two workstations.
// All use is on the thread that created it.
class SqlConnection : public Connection {
public:
    // Opens the connection; a connection string that is not understood, or a database that
    // cannot be opened, raises bw::Error with the driver's description.
    explicit SqlConnection(const QString& connectionString);
    ~SqlConnection() override;

    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    static std::shared_ptr<SqlConnection> open(const QString& connectionString);

    QString ConnectionString() const override { return connectionString_; }
    bool isOpen() const override;
    void Execute(const QString& sql, int options = -1) override;
    void BeginTrans() override;
    void CommitTrans() override;
    void RollbackTrans() override;

    // The database engine behind the driver, also when reached through ODBC; the recordset's
    // row ids and savepoints depend on it.
    enum class Engine { Sqlite, Postgres, Other };
    BackendSettings::Kind backend() const { return settings_.kind; }
    Engine engine() const { return engine_; }
    bool inTransaction() const { return inTransaction_; }
    QSqlDatabase database() const { return db_; }
    QString qtConnectionName() const { return name_; }

    // Runs one statement with bound values; returns the number of rows it affected.
    int executeBound(const QString& sql, const QVariantList& values);
    // Runs a query with bound values and returns its rows.
    QVector<QVariantList> queryBound(const QString& sql, const QVariantList& values = {});

    void close();

private:
    void requireOpen() const;
    Engine detectEngine();
    void prepareSession();
    void startPostgresSession();

    QString connectionString_;
    BackendSettings settings_;
    QString name_;
    QSqlDatabase db_;
    bool inTransaction_ = false;
    Engine engine_ = Engine::Other;
};

} // namespace bw::store

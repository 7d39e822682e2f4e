#pragma once

#include "platform/ado.h"
#include "platform/error.h"
#include "store/connection_string.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QVariant>
#include <QVector>
#include <functional>
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
constexpr int NoTable = -2147217865;         // a table the database should hold is not there
constexpr int FileGone = 3024;               // the database file is no longer at its path
constexpr int FileReplaced = 3045;           // another file took the opened one's place
} // namespace dberr

// Whether opening a connection may make a new database: only where a new one is meant (the
// embedded default's first start, --demo, the settings dialog's "new database"). Elsewhere an
// SQLite file that is not there is an error, never an empty database made in its place.
enum class Create { No, Yes };

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

// The time-out of the server connections opened from now on whose connection string sets none
// (see connectOptionsWithTimeouts): seconds from 1 to 600; another value restores the default.
// The programs set it from the settings at their start.
void setConnectTimeoutS(int seconds);
int connectTimeoutS();

// The operator signed in on this program, for a database server that checks operators itself
// (PostgreSQL): every such connection opened from now on signs in to the server as this role
// with this password, whatever the connection string names. The password stays in this
// program's memory and goes nowhere but to the server. An empty user: the string's own again.
struct ServerSignIn {
    QString user;
    QString password;
};
void setServerSignIn(const ServerSignIn& signIn);
ServerSignIn serverSignIn();

// A connection to the host's database over Qt SQL. Every instance owns its own, uniquely named
// QSqlDatabase connection, so two instances on the same database behave as two workstations.
// All use is on the thread that created it.
class SqlConnection : public Connection {
public:
    // Opens the connection; a connection string that is not understood, or a database that
    // cannot be opened, raises bw::Error with the driver's description. A missing SQLite file
    // raises dberr::FileGone unless create says a new database is meant.
    explicit SqlConnection(const QString& connectionString, Create create = Create::No);
    // A server connection signed in as `as` (the sign-in's own attempt), not as the program's
    // signed-in operator.
    SqlConnection(const QString& connectionString, const ServerSignIn& as);
    ~SqlConnection() override;

    SqlConnection(const SqlConnection&) = delete;
    SqlConnection& operator=(const SqlConnection&) = delete;

    static std::shared_ptr<SqlConnection> open(const QString& connectionString,
                                               Create create = Create::No);

    QString ConnectionString() const override { return connectionString_; }
    // True until the connection is closed by the program; a server connection that was lost
    // stays open in this sense and is opened again at its next use.
    bool isOpen() const override;
    void Execute(const QString& sql, int options = -1) override;
    void BeginTrans() override;
    void CommitTrans() override;
    void RollbackTrans() override;
    // Runs work in a transaction of its own: committed when work returns; when anything
    // raises, rolled back if still open and the error raised again (a failed rollback is
    // not what the caller needs to hear).
    void inOneTransaction(const std::function<void()>& work);

    // The database engine behind the driver, also when reached through ODBC; the recordset's
    // row ids and savepoints depend on it.
    enum class Engine { Sqlite, Postgres, Other };
    BackendSettings::Kind backend() const { return settings_.kind; }
    Engine engine() const { return engine_; }
    bool inTransaction() const { return inTransaction_; }
    // The driver's connection, for statements of the caller's own; call ensureUsable() before
    // a use that does not go through the functions here. Opening it again gives it a new name.
    QSqlDatabase database() const { return db_; }
    QString qtConnectionName() const { return name_; }

    // What a use of the connection does, for the one rule on lost server connections: a read
    // (or a statement that changes nothing, as BEGIN) may be repeated; a write may not, as
    // whether it took effect is not known once the connection broke under it.
    enum class Use { Read, Write };
    // Makes sure the connection can take a use before anything is sent: a closed connection
    // raises dberr::ObjectClosed; an SQLite file that was deleted or replaced since it was
    // opened raises dberr::FileGone or dberr::FileReplaced; outside a transaction, a server
    // connection the driver found lost is opened again, and before a write one that is found
    // lost by a short probe. A server connection lost inside a transaction raises, with the
    // transaction gone.
    void ensureUsable(Use use);
    // Runs a use of the connection after ensureUsable(use). When it fails, outside a
    // transaction, because the server connection was lost, a read is run once more on the
    // connection opened again; a write's failure is raised as it came.
    void attempt(Use use, const std::function<void()>& step);
    // Read for SELECT, PRAGMA, SHOW, SET, BEGIN and START; Write for every other statement.
    static Use useOf(const QString& sql);

    // Runs one statement with bound values; returns the number of rows it affected.
    int executeBound(const QString& sql, const QVariantList& values);
    // Runs a query with bound values and returns its rows.
    QVector<QVariantList> queryBound(const QString& sql, const QVariantList& values = {});

    void close();

private:
    void requireOpen() const;
    void openDatabase(Create create);
    void applySignIn(const ServerSignIn& as);
    void dropDatabase();
    void begin();
    void reopen();
    bool serverConnection() const;
    bool lost();
    void noteFile();
    void checkFile() const;
    Engine detectEngine();
    void prepareSession();
    void startPostgresSession();

    QString connectionString_;
    BackendSettings settings_;
    QString name_;
    QSqlDatabase db_;
    bool inTransaction_ = false;
    bool closed_ = false; // by the program, for good
    Engine engine_ = Engine::Other;
    // The SQLite file as opened: its path and identity, compared with the path's at each use.
    QString file_;
    quint64 fileDevice_ = 0;
    quint64 fileInode_ = 0;
};

} // namespace bw::store

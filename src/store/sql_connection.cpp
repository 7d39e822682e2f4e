#include "store/sql_connection.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>

#include <QRegularExpression>
#include <QUrl>
#include <optional>

#ifdef Q_OS_LINUX
#include <sys/vfs.h>
#endif
#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace bw::store {

namespace {

// An SQLite file refused as it is.
Error notSqlite(const QString& file, bool empty) {
    return Error(dberr::ProviderFailure,
                 QStringLiteral("%1 is not an SQLite database%2: it was left as it is")
                     .arg(file, empty ? QStringLiteral(" (it is empty)") : QString()));
}

QAtomicInt connectTimeout(DefaultConnectTimeoutS);

QString nextConnectionName() {
    static QAtomicInt counter;
    return QStringLiteral("bw_store_%1").arg(counter.fetchAndAddRelaxed(1) + 1);
}
} // namespace

namespace {
QMutex signInMutex;
ServerSignIn signedIn;
} // namespace

void setServerSignIn(const ServerSignIn& signIn) {
    const QMutexLocker lock(&signInMutex);
    signedIn = signIn;
}

ServerSignIn serverSignIn() {
    const QMutexLocker lock(&signInMutex);
    return signedIn;
}

void setConnectTimeoutS(int seconds) {
    connectTimeout.storeRelaxed(isConnectTimeout(seconds) ? seconds : DefaultConnectTimeoutS);
}

int connectTimeoutS() {
    return connectTimeout.loadRelaxed();
}

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

bool localFileSystem(qint64 type) {
    switch (quint32(type)) {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2 / SMB3
    case 0x564C:     // NCP
    case 0x73757245: // Coda
    case 0x5346414F: // AFS
    case 0x6B414653: // kAFS
    case 0x01021997: // 9P (virtual machines' shared folders)
    case 0x786F4256: // VirtualBox shared folders
    case 0x6A656A63: // virtiofs
    case 0x65735546: // FUSE: sshfs, glusterfs and the like
    case 0x00C36400: // Ceph
    case 0x01161970: // GFS2
    case 0x7461636F: // OCFS2
    case 0x0BD00BD0: // Lustre
    case 0x47504653: // GPFS
    case 0x20030528: // OrangeFS
        return false;
    default:
        return true;
    }
}

bool onLocalDisk(const QString& path) {
#ifdef Q_OS_LINUX
    const QFileInfo file(path);
    const QString probe = file.exists() ? file.absoluteFilePath() : file.absolutePath();
    struct statfs fs {};
    if (path.isEmpty() || statfs(QFile::encodeName(probe).constData(), &fs) != 0)
        return false;
    return localFileSystem(qint64(fs.f_type));
#else
    Q_UNUSED(path);
    return false;
#endif
}

SqlConnection::SqlConnection(const QString& connectionString, Create create)
    : connectionString_(connectionString), settings_(parseConnectionString(connectionString)) {
    if (settings_.kind == BackendSettings::Kind::Invalid)
        throw Error(dberr::ProviderFailure,
                    QStringLiteral("Cannot open the database (%1): %2")
                        .arg(settings_.problem, maskPassword(connectionString_)));
    if (!QSqlDatabase::isDriverAvailable(settings_.driver))
        throw Error(
            dberr::ProviderFailure,
            QStringLiteral("The database driver %1 is not installed").arg(settings_.driver));
    applySignIn(serverSignIn());
    openDatabase(create);
}

SqlConnection::SqlConnection(const QString& connectionString, const ServerSignIn& as)
    : connectionString_(connectionString), settings_(parseConnectionString(connectionString)) {
    if (settings_.kind != BackendSettings::Kind::Postgres)
        throw Error(dberr::ProviderFailure,
                    QStringLiteral("Cannot open the database (%1): not a PostgreSQL server")
                        .arg(maskPassword(connectionString_)));
    if (!QSqlDatabase::isDriverAvailable(settings_.driver))
        throw Error(
            dberr::ProviderFailure,
            QStringLiteral("The database driver %1 is not installed").arg(settings_.driver));
    applySignIn(as);
    openDatabase(Create::No);
}

// A PostgreSQL server signs the operator in: its role and password take the string's place.
void SqlConnection::applySignIn(const ServerSignIn& as) {
    if (settings_.kind != BackendSettings::Kind::Postgres || as.user.isEmpty())
        return;
    settings_.user = as.user;
    settings_.password = as.password;
}

// Opens the driver's connection under a name of its own and sets the session up; on failure
// nothing of it is left and the error is raised.
void SqlConnection::openDatabase(Create create) {
    QString databaseName = settings_.databaseName;
    // A server that takes the connection and never answers must not hold the program.
    QString options = connectOptionsWithTimeouts(settings_, connectTimeoutS());
    if (settings_.kind == BackendSettings::Kind::Sqlite && create == Create::No) {
        const QFileInfo file(databaseName);
        if (!file.exists())
            throw Error(dberr::FileGone,
                        QStringLiteral("There is no database at %1").arg(databaseName));
        // An empty file is refused as it is: SQLite would take it for a new database and write
        // its own into it. (Looked at without opening it: closing a descriptor of the file
        // would drop the locks this program's other connections hold on it.)
        if (file.isFile() && file.size() == 0)
            throw notSqlite(databaseName, true);
        // Opened as a URI in read-write mode, SQLite refuses to make the file should it go
        // between the look and the open.
        databaseName = QUrl::fromLocalFile(file.absoluteFilePath()).toString(QUrl::FullyEncoded) +
                       QStringLiteral("?mode=rw");
        options += QStringLiteral(";QSQLITE_OPEN_URI");
    }
    name_ = nextConnectionName();
    db_ = QSqlDatabase::addDatabase(settings_.driver, name_);
    db_.setDatabaseName(databaseName);
    if (!settings_.host.isEmpty())
        db_.setHostName(settings_.host);
    if (settings_.port > 0)
        db_.setPort(settings_.port);
    if (!settings_.user.isEmpty())
        db_.setUserName(settings_.user);
    if (!settings_.password.isEmpty())
        db_.setPassword(settings_.password);
    if (!options.isEmpty())
        db_.setConnectOptions(options);
    if (!db_.open()) {
        const QSqlError error = db_.lastError();
        dropDatabase();
        Error e = databaseError(dberr::ProviderFailure, QStringLiteral("Cannot open the database"),
                                error);
        // A driver may repeat what it was given; the password never goes further.
        QString description = e.description();
        if (settings_.password.size() >= 3)
            description.replace(settings_.password, QStringLiteral("***"));
        throw Error(e.number(), description);
    }
    try {
        // Another kind of file is refused before the session's set-up writes to it: its first
        // reading fails.
        if (settings_.kind == BackendSettings::Kind::Sqlite && create == Create::No &&
            !QSqlQuery(db_).exec(QStringLiteral("PRAGMA schema_version")))
            throw notSqlite(settings_.databaseName, false);
        engine_ = detectEngine();
        if (engine_ == Engine::Postgres)
            startPostgresSession();
        prepareSession();
        noteFile();
    } catch (...) {
        dropDatabase();
        throw;
    }
}

namespace {

// A file's identity, or none when it is not there.
std::optional<std::pair<quint64, quint64>> identity(const QString& path) {
#ifdef Q_OS_UNIX
    struct stat st {};
    if (!path.isEmpty() && ::stat(QFile::encodeName(path).constData(), &st) == 0)
        return std::pair{quint64(st.st_dev), quint64(st.st_ino)};
#else
    Q_UNUSED(path);
#endif
    return std::nullopt;
}

// Whether this program holds the file at the path open (as SQLite holds its write-ahead log and
// shared memory while a connection is open).
bool heldOpen(const QString& path) {
    const auto id = identity(path);
    if (!id)
        return false;
    const QString fds = QStringLiteral("/proc/self/fd");
    for (const QString& fd :
         QDir(fds).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot))
        if (identity(fds + QLatin1Char('/') + fd) == id)
            return true;
    return false;
}

} // namespace

void SqlConnection::dropDatabase() {
    if (name_.isEmpty())
        return;
    // SQLite leaves its write-ahead log and shared memory at the path when the database file
    // was replaced or deleted while open: whoever opens the file now there would read them as
    // its own. Those that are still this program's go once the connection is closed.
    const auto main = identity(file_);
    QList<std::pair<QString, std::pair<quint64, quint64>>> own;
    if (!file_.isEmpty() && main != std::pair{fileDevice_, fileInode_})
        for (const char* suffix : {"-wal", "-shm"})
            if (const QString side = file_ + QLatin1String(suffix); heldOpen(side))
                own.append({side, *identity(side)});
    if (db_.isValid())
        db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(name_);
    name_.clear();
    for (const auto& [path, id] : own)
        if (identity(path) == id)
            QFile::remove(path);
}

// The SQLite file as the database names it (the main database), with its identity now.
void SqlConnection::noteFile() {
    file_.clear();
    if (engine_ != Engine::Sqlite)
        return;
    QSqlQuery list(db_);
    list.setForwardOnly(true);
    if (list.exec(QStringLiteral("PRAGMA database_list")))
        while (list.next())
            if (list.value(1).toString() == QLatin1String("main"))
                file_ = list.value(2).toString();
    list.finish();
#ifdef Q_OS_UNIX
    struct stat st {};
    if (file_.isEmpty() || ::stat(QFile::encodeName(file_).constData(), &st) != 0) {
        file_.clear(); // a database in memory, or one whose file cannot be told
        return;
    }
    fileDevice_ = quint64(st.st_dev);
    fileInode_ = quint64(st.st_ino);
#else
    file_.clear();
#endif
}

// A deleted file stays readable and writable through the connection that has it open, but
// what is written there is lost with it; a file put in its place is another database.
void SqlConnection::checkFile() const {
#ifdef Q_OS_UNIX
    if (file_.isEmpty())
        return;
    struct stat st {};
    if (::stat(QFile::encodeName(file_).constData(), &st) != 0)
        throw Error(dberr::FileGone,
                    QStringLiteral("The database file %1 is no longer there: it was deleted or "
                                   "moved while it was open. Nothing was written.")
                        .arg(file_));
    if (quint64(st.st_dev) != fileDevice_ || quint64(st.st_ino) != fileInode_)
        throw Error(dberr::FileReplaced,
                    QStringLiteral("The database file %1 was replaced by another file while it "
                                   "was open. Nothing was written.")
                        .arg(file_));
#endif
}

// What every session sets up once it is open:
// - a commit is on the disk when it returns, whatever the database's default: a terminal's
//   records are deleted on the strength of it, and a power cut must not take them back;
// - SQLite writes ahead into a log where the file lies on a local disk, so that readers never
//   hold up a writer (another workstation's save, a collection); on a file server it keeps the
//   rollback journal, as every computer sharing the file must. A connection string may name
//   the journal mode instead. A mode that cannot be set (the file is busy or read-only) leaves
//   the one the file has.
void SqlConnection::prepareSession() {
    try {
        if (engine_ == Engine::Postgres) {
            Execute(QStringLiteral("SET synchronous_commit TO on"));
            return;
        }
        if (engine_ != Engine::Sqlite)
            return;
        Execute(QStringLiteral("PRAGMA synchronous = FULL"));
        QString file;
        for (const QVariantList& row : queryBound(QStringLiteral("PRAGMA database_list")))
            if (row.value(1).toString() == QLatin1String("main"))
                file = row.value(2).toString();
        const QString current = queryBound(QStringLiteral("PRAGMA journal_mode"))
                                    .value(0)
                                    .value(0)
                                    .toString()
                                    .toLower();
        const bool wal = current == QLatin1String("wal");
        QString wanted = settings_.journalMode;
        if (wanted.isEmpty() && !file.isEmpty())
            wanted = onLocalDisk(file) ? QStringLiteral("wal")
                                       : (wal ? QStringLiteral("delete") : current);
        if (!wanted.isEmpty() && wanted != current)
            queryBound(QStringLiteral("PRAGMA journal_mode = ") + wanted);
    } catch (const Error& e) {
        qWarning("Database session set-up incomplete (%s)", qUtf8Printable(e.description()));
    }
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

std::shared_ptr<SqlConnection> SqlConnection::open(const QString& connectionString, Create create) {
    return std::make_shared<SqlConnection>(connectionString, create);
}

void SqlConnection::close() {
    closed_ = true;
    dropDatabase();
    inTransaction_ = false;
}

bool SqlConnection::isOpen() const {
    return !closed_ && (db_.isValid() || serverConnection());
}

void SqlConnection::requireOpen() const {
    if (!isOpen())
        throw Error(dberr::ObjectClosed,
                    QStringLiteral("Operation is not allowed when the object is closed."));
}

// A database behind a server, which may go away and come back; not a file of this computer.
bool SqlConnection::serverConnection() const {
    return engine_ != Engine::Sqlite && settings_.kind != BackendSettings::Kind::Sqlite;
}

// Whether the server connection is lost: the driver closed it when a statement found it
// broken (Qt's PostgreSQL driver does), or a probe fails with a connection error. Over ODBC the
// driver's error carries no type: PostgreSQL and SQL Server answer the probe whenever the
// connection is alive, so there its failure alone says the connection is lost.
bool SqlConnection::lost() {
    if (!db_.isValid() || !db_.isOpen())
        return true;
    QSqlQuery probe(db_);
    if (probe.exec(QStringLiteral("SELECT 1"))) {
        probe.finish();
        return false;
    }
    const QSqlError error = probe.lastError();
    const auto dbms = db_.driver()->dbmsType();
    return !db_.isOpen() || error.type() == QSqlError::ConnectionError ||
           dbms == QSqlDriver::PostgreSQL || dbms == QSqlDriver::MSSqlServer;
}

void SqlConnection::reopen() {
    dropDatabase();
    openDatabase(Create::No);
}

SqlConnection::Use SqlConnection::useOf(const QString& sql) {
    static const QRegularExpression head(QStringLiteral("^\\s*([A-Za-z]+)"));
    const QString word = head.match(sql).captured(1).toLower();
    for (const char* read : {"select", "pragma", "show", "set", "begin", "start"})
        if (word == QLatin1String(read))
            return Use::Read;
    return Use::Write;
}

void SqlConnection::ensureUsable(Use use) {
    requireOpen();
    checkFile();
    if (!serverConnection())
        return;
    if (inTransaction_) {
        if (!db_.isValid() || !db_.isOpen())
            throw Error(dberr::ProviderFailure,
                        QStringLiteral("The connection to the database was lost during a "
                                       "transaction; nothing of the transaction was written."));
        return;
    }
    // Nothing is sent yet: a connection found lost is opened again, whatever the use.
    if (!db_.isValid() || !db_.isOpen() || (use == Use::Write && lost()))
        reopen();
}

void SqlConnection::attempt(Use use, const std::function<void()>& step) {
    ensureUsable(use);
    try {
        step();
    } catch (const Error&) {
        if (use != Use::Read || inTransaction_ || !serverConnection() || !lost())
            throw;
        reopen();
        step();
    }
}

void SqlConnection::Execute(const QString& sql, int /*options*/) {
    attempt(useOf(sql), [&] {
        QSqlQuery query(db_);
        query.setForwardOnly(true);
        if (!query.exec(sql))
            throw databaseError(dberr::CommandFailed, QString(), query.lastError());
        // Whatever the statement returned is released unread.
        query.finish();
    });
}

void SqlConnection::BeginTrans() {
    requireOpen();
    if (inTransaction_)
        throw Error(dberr::CommandFailed,
                    QStringLiteral("A transaction is already open on this connection"));
    // A transaction holds writes, and ODBC's beginning sends nothing (it turns auto-commit
    // off): a server connection is probed as before a write. Beginning itself changes
    // nothing and is repeated on a connection opened again.
    ensureUsable(Use::Write);
    attempt(Use::Read, [this] { begin(); });
    inTransaction_ = true;
}

void SqlConnection::begin() {
    // SQLite: the write lock is taken at the start, so that two connections that each read and
    // then write in a transaction wait for one another (the busy time-out) instead of one of
    // them failing at once with "database is locked".
    if (settings_.kind == BackendSettings::Kind::Sqlite) {
        QSqlQuery begin(db_);
        bool begun = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
        // Off the window's thread (the lines' workers of a collection), a database that stays
        // busy beyond the busy time-out because several lines write at once is waited for
        // longer: one batch of a line is committed in well under a second, so a writer that
        // gave up after one time-out would fail a terminal for no fault of its own.
        const QCoreApplication* app = QCoreApplication::instance();
        if (!begun && app && QThread::currentThread() != app->thread()) {
            QDeadlineTimer deadline(60000);
            while (!begun && begin.lastError().nativeErrorCode() == QLatin1String("5") &&
                   !deadline.hasExpired())
                begun = begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
        }
        if (!begun)
            throw databaseError(dberr::CommandFailed, QStringLiteral("Cannot begin a transaction"),
                                begin.lastError());
    } else if (!db_.transaction()) {
        throw databaseError(dberr::CommandFailed, QStringLiteral("Cannot begin a transaction"),
                            db_.lastError());
    }
}

void SqlConnection::CommitTrans() {
    requireOpen();
    if (!inTransaction_)
        throw Error(dberr::CommandFailed, QStringLiteral("No transaction is open"));
    // What was written goes nowhere once the file has gone: the transaction is not committed.
    try {
        checkFile();
    } catch (const Error&) {
        db_.rollback();
        inTransaction_ = false;
        throw;
    }
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
    // A server connection lost in the transaction took the transaction with it.
    if (!db_.isValid() || !db_.isOpen())
        return;
    if (!db_.rollback())
        throw databaseError(dberr::CommandFailed, QStringLiteral("Cannot roll back"),
                            db_.lastError());
}

void SqlConnection::inOneTransaction(const std::function<void()>& work) {
    BeginTrans();
    try {
        work();
        CommitTrans();
    } catch (...) {
        if (inTransaction_) {
            try {
                RollbackTrans();
            } catch (...) {
            }
        }
        throw;
    }
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
    int affected = 0;
    attempt(useOf(sql), [&] {
        QSqlQuery query = runBound(db_, sql, values);
        affected = query.numRowsAffected();
        query.finish();
    });
    return affected;
}

QVector<QVariantList> SqlConnection::queryBound(const QString& sql, const QVariantList& values) {
    QVector<QVariantList> rows;
    attempt(useOf(sql), [&] {
        rows.clear();
        QSqlQuery query = runBound(db_, sql, values);
        while (query.next()) {
            QVariantList row;
            const int n = query.record().count();
            for (int i = 0; i < n; ++i)
                row.append(query.value(i));
            rows.append(row);
        }
        query.finish();
    });
    return rows;
}

} // namespace bw::store

#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace bw::store {
class SqlConnection;
}

// Copies of the embedded (SQLite) database, made while programs use it: a consistent snapshot
// into a temporary file of the backup folder, checked, then given its name
// brackwater-YYYYmmdd-HHMMSS.db (the local time). Only the owner may read the copies (0600) or
// enter the folder (0700). The newest backups are kept; nothing but files of that name pattern
// is ever removed.
namespace bw::host::backup {

constexpr int DefaultKeep = 14;
constexpr int MaxKeep = 10000;

// Why a backup was not made. Every failure leaves the older backups as they were and no
// temporary file behind.
enum class Failure {
    None,
    NotSqlite,     // a database server (or an ODBC source other than SQLite): its own tools
    InTransaction, // the connection is in a transaction, where a copy cannot be taken
    NoFolder,      // the folder is not there and cannot be made, or is no folder
    SharedFolder,  // the folder may be entered by others than its owner: nothing written
    Exists,        // every name of that second is taken
    CannotCreate,  // the temporary file cannot be made
    CopyFailed,    // the database refused the copy (a full disk, a read error)
    CheckFailed,   // the copy does not pass its integrity check
    CannotFinish,  // the copy cannot be written out or given its name
};

struct Outcome {
    Failure failure = Failure::None;
    QString detail;      // the system's or the database's words, when there are any
    QString file;        // the backup made
    qint64 bytes = 0;    // its size
    QStringList removed; // older backups removed to keep the newest
    QStringList stale;   // temporary files of backups killed in their work, removed
    bool ok() const { return failure == Failure::None; }
};

// Whether a file name is a backup's (only those are ever removed), and the name for a time.
bool isBackupName(const QString& fileName);
// "brackwater-YYYYMMDD-HHMMSS.db"; the n-th backup of one second (n > 1) ends "-n.db".
QString backupName(const QDateTime& at, int n = 1);

// Backs up the database of cn into folder (made 0700 when missing) and keeps the newest keep
// (1..MaxKeep) backups there, the new one included. `at` names the file. The temporary files
// that backups killed in their work left there (a backup's name with ".tmp", locked by no
// backup, older than a minute) are removed first.
Outcome backupDatabase(store::SqlConnection& cn, const QString& folder, int keep,
                       const QDateTime& at = QDateTime::currentDateTime());

// An outcome in English, for the command-line programs.
QString describe(const Outcome& outcome);

} // namespace bw::host::backup

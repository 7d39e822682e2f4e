#include "host/ledger/backup.h"

#include "platform/error.h"
#include "store/sql_connection.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <fcntl.h>
#include <future>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bw::host::backup {

namespace {

constexpr QFile::Permissions OwnerOnly = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions OthersMay = QFile::Permissions(0x0077);
constexpr QFile::Permissions OthersEnter = QFile::Permissions(0x0007);
// Backups of one second at most (their names end "-2" to "-99").
constexpr int MaxPerSecond = 99;

Outcome failed(Failure why, const QString& detail = {}) {
    Outcome out;
    out.failure = why;
    out.detail = detail;
    return out;
}

// A folder that keeps its group's files (set-group-id, as the site's folder of group brackwater
// is) is the group's: every member of the site may back it up and keep its backups in step.
bool isGroupFolder(const QString& folder) {
    struct stat st {};
    return ::stat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_mode & S_ISGID);
}

// The folder is made when it is not there: for its owner alone, or in a group's folder for the
// group (2770). One that others may enter is refused rather than tightened: it may be a folder
// of the system's own (/var/backups) whose other users would lose it; so is one the group may
// enter without being a group's folder.
Failure prepareFolder(const QString& folder) {
    if (!QFileInfo::exists(folder)) {
        const bool shared = isGroupFolder(QFileInfo(folder).absolutePath());
        if (!QDir().mkpath(folder) ||
            ::chmod(QFile::encodeName(folder).constData(), shared ? 02770 : 0700) != 0)
            return Failure::NoFolder;
    }
    const QFileInfo info(folder);
    if (!info.isDir())
        return Failure::NoFolder;
    const QFile::Permissions closed = isGroupFolder(folder) ? OthersEnter : OthersMay;
    return info.permissions() & closed ? Failure::SharedFolder : Failure::None;
}

// The copy's own check, on a connection of its own; empty when the copy is sound, else what
// the check found (its first line) or why it could not be run.
QString integrityProblem(const QString& file) {
    static QAtomicInt serial;
    const QString name = QStringLiteral("bw-backup-check-%1").arg(serial.fetchAndAddRelaxed(1));
    QString problem;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(file);
        if (!db.isValid() || !db.open()) {
            problem = QStringLiteral("cannot open the copy: ") + db.lastError().text();
        } else {
            QSqlQuery q(db);
            // Each row is looked up in every index of its table: a page cache of up to 256 MiB
            // (taken only as the copy's pages are read) saves a quarter of the time on a large
            // database. What the check sorts stays in memory. The copy is read with a read call
            // per page, not through a memory map: a read error of the disk must fail the check,
            // not end the program.
            q.exec(QStringLiteral("PRAGMA cache_size = -262144"));
            q.exec(QStringLiteral("PRAGMA temp_store = MEMORY"));
            // A sound file gives the one row "ok"; else a row per fault, the first one said.
            if (!q.exec(QStringLiteral("PRAGMA integrity_check")))
                problem = q.lastError().text();
            else if (!q.next())
                problem = QStringLiteral("no answer");
            else if (const QString first = q.value(0).toString();
                     first != QLatin1String("ok") || q.next())
                problem = first.isEmpty() ? QStringLiteral("faults found") : first;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
    return problem;
}

// Writes a file, or a folder's entries, to the disk; false when the system says it failed.
bool syncToDisk(const QString& path, bool folder) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), folder ? O_RDONLY | O_DIRECTORY : O_RDWR);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok;
}

// The connection's own setting again (FULL, as the store opens it, when it was not read).
void restoreSynchronous(store::SqlConnection& cn, const QString& level) {
    bool number = false;
    level.toInt(&number);
    try {
        cn.Execute(QStringLiteral("PRAGMA synchronous = ") +
                   (number ? level : QStringLiteral("FULL")));
    } catch (const Error& e) {
        qWarning("Database synchronous setting not restored (%s)", qUtf8Printable(e.description()));
    }
}

// A copy in the making: a backup's name with ".tmp", and the rollback journal the copy is
// written with (".tmp-journal"). Returns the copy's own name, or an empty text.
QString temporaryOf(const QString& fileName) {
    for (const QLatin1String tail : {QLatin1String(".tmp"), QLatin1String(".tmp-journal")})
        if (fileName.endsWith(tail) && isBackupName(fileName.chopped(tail.size())))
            return fileName.chopped(tail.size()) + QLatin1String(".tmp");
    return QString();
}

// The order of backups: by their second, then by their number within it.
QString backupOrder(const QString& fileName) {
    const QString stem = fileName.chopped(3); // without ".db"
    const qsizetype dash = stem.indexOf(QLatin1Char('-'), 26);
    return stem.left(26) + QStringLiteral("%1").arg(dash < 0 ? 1 : stem.mid(dash + 1).toInt(), 6,
                                                    10, QLatin1Char('0'));
}

// Takes the lock a backup holds on its temporary file while it works (false: another backup
// works on it, or it cannot be opened).
bool lockTemporary(int fd) {
    return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Removes the temporary files that backups killed in their work left: those no backup holds
// locked and written more than a minute ago (a backup locks its file just after making it).
QStringList removeStale(const QString& folder) {
    QStringList removed;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-60);
    for (const QFileInfo& f : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden)) {
        const QString copy = temporaryOf(f.fileName());
        if (copy.isEmpty() || f.lastModified() > before)
            continue;
        // A journal goes with its copy: when the copy is gone, or no backup holds it.
        const QString path = QDir(folder).filePath(copy);
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if ((fd < 0 ? !QFileInfo::exists(path) : lockTemporary(fd)) && QFile::remove(f.filePath()))
            removed << f.fileName();
        if (fd >= 0)
            ::close(fd);
    }
    return removed;
}

// Removes the oldest backups beyond the newest keep, never the one just made.
QStringList keepNewest(const QString& folder, int keep, const QString& made) {
    QStringList names = QDir(folder).entryList(QDir::Files);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const QString& n) { return !isBackupName(n); }),
                names.end());
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return backupOrder(a) > backupOrder(b); });
    QStringList removed;
    for (qsizetype i = keep; i < names.size(); ++i)
        if (names[i] != made && QFile::remove(QDir(folder).filePath(names[i])))
            removed << names[i];
    return removed;
}

} // namespace

bool isBackupName(const QString& fileName) {
    static const QRegularExpression pattern(
        QStringLiteral("^brackwater-\\d{8}-\\d{6}(-[1-9]\\d{0,3})?\\.db$"));
    return pattern.match(fileName).hasMatch();
}

QString backupName(const QDateTime& at, int n) {
    return QStringLiteral("brackwater-") + at.toString(QStringLiteral("yyyyMMdd-HHmmss")) +
           (n > 1 ? QStringLiteral("-%1").arg(n) : QString()) + QStringLiteral(".db");
}

Outcome backupDatabase(store::SqlConnection& cn, const QString& folder, int keep,
                       const QDateTime& at) {
    if (cn.engine() != store::SqlConnection::Engine::Sqlite)
        return failed(Failure::NotSqlite);
    if (cn.inTransaction())
        return failed(Failure::InTransaction);
    if (const Failure f = prepareFolder(folder); f != Failure::None)
        return failed(f);
    const QStringList stale = removeStale(folder);
    // Made empty and for its owner alone before the copy goes in: the database fills an empty
    // file, and the copy is never readable by others, not even for a moment. A second backup
    // of the same second takes the next number.
    int n = 1;
    QFile made;
    for (;; ++n) {
        if (n > MaxPerSecond)
            return failed(Failure::Exists, backupName(at));
        const QString file = QDir(folder).filePath(backupName(at, n));
        if (QFileInfo::exists(file))
            continue;
        made.setFileName(file + QStringLiteral(".tmp"));
        if (made.open(QIODevice::WriteOnly | QIODevice::NewOnly, OwnerOnly))
            break;
        if (made.error() != QFileDevice::OpenError || !QFileInfo::exists(made.fileName()))
            return failed(Failure::CannotCreate, made.errorString());
    }
    QString name = backupName(at, n);
    const QString temporary = made.fileName();
    // Held open and locked until the backup ends, however it ends: a later backup leaves it.
    lockTemporary(made.handle());
    const auto dropTemporary = [&](Failure why, const QString& detail) {
        QFile::remove(temporary);
        QFile::remove(temporary + QStringLiteral("-journal"));
        return failed(why, detail);
    };
    // One read transaction of the database's: writers on other connections go on meanwhile
    // (write-ahead log), and the copy holds what was committed when it began. The copy follows
    // the connection's synchronous setting: it is written without waiting for the disk, and
    // written out below while its check runs, which is as safe and takes half the time.
    QString synchronous;
    try {
        synchronous =
            cn.queryBound(QStringLiteral("PRAGMA synchronous")).value(0).value(0).toString();
        cn.Execute(QStringLiteral("PRAGMA synchronous = OFF"));
        cn.executeBound(QStringLiteral("VACUUM INTO ?"), {temporary});
    } catch (const Error& e) {
        restoreSynchronous(cn, synchronous);
        return dropTemporary(Failure::CopyFailed, e.description());
    }
    restoreSynchronous(cn, synchronous);
    std::future<bool> written =
        std::async(std::launch::async, [&temporary] { return syncToDisk(temporary, false); });
    const QString problem = integrityProblem(temporary);
    const bool synced = written.get();
    if (!problem.isEmpty())
        return dropTemporary(Failure::CheckFailed, problem);
    if (!synced)
        return dropTemporary(Failure::CannotFinish, QStringLiteral("cannot write the copy out"));
    // The rename does not replace: a backup of the same second made meanwhile stays, and this
    // one takes the next free number.
    while (!QFile::rename(temporary, QDir(folder).filePath(name))) {
        if (!QFileInfo::exists(QDir(folder).filePath(name)) || ++n > MaxPerSecond)
            return dropTemporary(Failure::CannotFinish, QStringLiteral("cannot name it ") + name);
        name = backupName(at, n);
    }
    const QString file = QDir(folder).filePath(name);
    syncToDisk(folder, true);
    Outcome out;
    out.file = file;
    out.bytes = QFileInfo(file).size();
    out.removed = keepNewest(folder, std::clamp(keep, 1, MaxKeep), name);
    out.stale = stale;
    return out;
}

QString describe(const Outcome& o) {
    QString text;
    switch (o.failure) {
    case Failure::None:
        text = QStringLiteral("backup %1 (%2 bytes)").arg(o.file).arg(o.bytes);
        if (!o.removed.isEmpty())
            text += QStringLiteral(", removed %1").arg(o.removed.join(QStringLiteral(", ")));
        if (!o.stale.isEmpty())
            text += QStringLiteral(", removed the unfinished %1")
                        .arg(o.stale.join(QStringLiteral(", ")));
        return text;
    case Failure::NotSqlite:
        return QStringLiteral("only the embedded SQLite database is backed up here; back a "
                              "database server up with its own tools (PostgreSQL: use pg_dump, "
                              "see README)");
    case Failure::InTransaction:
        text = QStringLiteral("the database is in a transaction");
        break;
    case Failure::NoFolder:
        text = QStringLiteral("the backup folder is no folder and cannot be made");
        break;
    case Failure::SharedFolder:
        text = QStringLiteral(
            "the backup folder may be entered by other users: chmod 700 it (2770 for a group's)");
        break;
    case Failure::Exists:
        text = QStringLiteral("every backup name of that second is taken");
        break;
    case Failure::CannotCreate:
        text = QStringLiteral("cannot make the copy's file");
        break;
    case Failure::CopyFailed:
        text = QStringLiteral("the copy failed");
        break;
    case Failure::CheckFailed:
        text = QStringLiteral("the copy failed its integrity check");
        break;
    case Failure::CannotFinish:
        text = QStringLiteral("cannot finish the copy");
        break;
    }
    text.prepend(QStringLiteral("backup failed, the older backups are kept: "));
    return o.detail.isEmpty() ? text : text + QStringLiteral(" (") + o.detail + u')';
}

} // namespace bw::host::backup

#include "platform/line_lock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QLoggingCategory>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bw {

namespace {

Q_LOGGING_CATEGORY(lineLog, "bw.line")

constexpr int PollMs = 50;
constexpr int NameChars = 64;
std::atomic_int waitMs{30000};

const QString Unknown = QStringLiteral("another program");

// The directory of the lock files: the first one every user may write in, so that programs
// of different users meet in the same place.
QString lockDirectory() {
    for (const char* dir : {"/run/lock", "/var/lock"}) {
        struct stat st {};
        if (::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_IWOTH) &&
            ::access(dir, W_OK | X_OK) == 0)
            return QString::fromLatin1(dir);
    }
    return QStringLiteral("/tmp");
}

// A device path as one file name: without /dev/, slashes as underscores.
QString flatName(const QString& path) {
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    return name.replace(QLatin1Char('/'), QLatin1Char('_')).right(200);
}

// "<program> (pid N)" of what a lock file says, with only printable characters of a short
// name: the file is writable by every user.
QString holderText(const QString& program, qint64 pid) {
    QString name;
    for (const QChar c : program.left(NameChars))
        if (c.isPrint())
            name += c;
    name = name.trimmed();
    if (pid <= 0)
        return Unknown;
    return QStringLiteral("%1 (pid %2)").arg(name.isEmpty() ? QStringLiteral("?") : name).arg(pid);
}

// The holder our lock file names ("PROGRAM PID"), or Unknown.
QString holderIn(int fd) {
    char buf[128];
    const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
    if (n <= 0)
        return Unknown;
    const QString line = QString::fromUtf8(buf, int(n)).section(QLatin1Char('\n'), 0, 0).trimmed();
    const int space = line.lastIndexOf(QLatin1Char(' '));
    bool ok = false;
    const qint64 pid = line.mid(space + 1).toLongLong(&ok);
    return space > 0 && ok ? holderText(line.left(space), pid) : Unknown;
}

bool processAlive(qint64 pid) {
    return pid > 0 && pid <= INT_MAX && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

// Who holds Qt's lock of the device, empty when it is free: a lock of a process that ended
// is not in the way (Qt takes such a lock over).
QString qtLockHolder(const QString& device) {
    const QString path = qtSerialLockPath(device);
    if (path.isEmpty() || !QFileInfo::exists(path))
        return {};
    QLockFile lock(path);
    if (lock.tryLock(0)) {
        lock.unlock();
        return {};
    }
    qint64 pid = 0;
    QString host, program;
    if (!lock.getLockInfo(&pid, &host, &program))
        return lock.error() == QLockFile::LockFailedError ? Unknown : QString();
    return processAlive(pid) ? holderText(program, pid) : QString();
}

} // namespace

int lineLockWaitMs() {
    return waitMs.load();
}

void setLineLockWaitMs(int ms) {
    waitMs.store(qMax(0, ms));
}

QString qtSerialLockPath(const QString& device) {
    const QString name = QStringLiteral("/LCK..") + flatName(device);
    for (const char* d : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp", "/tmp",
                          "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        const QString dir = QString::fromLatin1(d);
        const QFileInfo info(dir);
        if (info.isReadable() && (QFile::exists(dir + name) || info.isWritable()))
            return dir + name;
    }
    return {};
}

LineLock::LineLock(const QString& device) : device_(device) {
    real_ = QFileInfo(device).canonicalFilePath();
    if (real_.isEmpty())
        real_ = QDir::cleanPath(device);
    path_ = lockDirectory() + QStringLiteral("/brackwater-LCK..") + flatName(real_);
}

LineLock::~LineLock() {
    release();
}

void LineLock::release() {
    if (fd_ >= 0)
        ::close(fd_); // drops the flock
    fd_ = -1;
    held_ = false;
}

QString LineLock::busyText() const {
    return QStringLiteral("line %1 busy: held by %2")
        .arg(device_, holder_.isEmpty() ? Unknown : holder_);
}

bool LineLock::acquire(int waitMs) {
    if (held_)
        return true;
    QDeadlineTimer deadline(qMax(0, waitMs < 0 ? lineLockWaitMs() : waitMs));
    for (;;) {
        if (tryOnce()) {
            held_ = true;
            holder_.clear();
            return true;
        }
        const qint64 left = deadline.remainingTime();
        if (left <= 0) {
            release();
            qCWarning(lineLog).noquote() << busyText();
            return false;
        }
        // A window waiting for its line keeps painting; the operator's clicks wait with it.
        const QCoreApplication* app = QCoreApplication::instance();
        if (app && QThread::currentThread() == app->thread())
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(static_cast<unsigned long>(qMin<qint64>(PollMs, left)));
    }
}

bool LineLock::tryOnce() {
    // No device, no line to share: the open that follows fails on its own, and no lock file
    // is left behind for a path that names nothing.
    if (!QFileInfo::exists(real_))
        return true;
    if (fd_ < 0) {
        const QByteArray file = QFile::encodeName(path_);
        fd_ = ::open(file.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno == EACCES) // a file that is not ours to write still locks
            fd_ = ::open(file.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd_ >= 0)
            ::fchmod(fd_, 0666); // past the umask; refused harmlessly on another user's file
        else
            qWarning("cannot open the line lock %s: %s", file.constData(), strerror(errno));
    }
    // Without the file only Qt's lock keeps the line to one program.
    if (fd_ >= 0) {
        int rc;
        while ((rc = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
        }
        if (rc != 0) {
            holder_ = holderIn(fd_);
            return false;
        }
    }
    for (const QString& name : {device_, real_}) {
        holder_ = qtLockHolder(name);
        if (!holder_.isEmpty()) {
            if (fd_ >= 0)
                ::flock(fd_, LOCK_UN);
            return false;
        }
    }
    if (fd_ >= 0) {
        const QByteArray me = QByteArray(program_invocation_short_name) + ' ' +
                              QByteArray::number(qint64(::getpid())) + '\n';
        if (::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, me.constData(), size_t(me.size()), 0) < 0)
            qWarning("cannot write the line lock %s", qPrintable(path_));
    }
    return true;
}

} // namespace bw

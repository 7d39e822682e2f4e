#include "platform/line_lock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace bw {

namespace {

Q_LOGGING_CATEGORY(lineLog, "bw.line")

constexpr int PollMs = 50;
constexpr int NameChars = 64;
std::atomic_int waitMs{30000};

const QString Unknown = QStringLiteral("another program");

// A device path as one file name: without /dev/, slashes as underscores (Qt's lock files).
QString flatName(const QString& path) {
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    return name.replace(QLatin1Char('/'), QLatin1Char('_')).right(200);
}

// The whole of a small file of the kernel's (/proc), empty when it cannot be read.
QByteArray readProc(const QByteArray& path) {
    QByteArray text;
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buf[4096];
    while (text.size() < (1 << 22)) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0)
            text.append(buf, int(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(fd);
    return text;
}

// "<program> (pid N)" of a process the kernel names, with only printable characters.
QString processText(qint64 pid) {
    if (pid <= 0)
        return Unknown;
    QString name;
    const QByteArray comm = readProc("/proc/" + QByteArray::number(pid) + "/comm");
    for (const QChar c : QString::fromUtf8(comm).left(NameChars))
        if (c.isPrint())
            name += c;
    name = name.trimmed();
    return QStringLiteral("%1 (pid %2)").arg(name.isEmpty() ? QStringLiteral("?") : name).arg(pid);
}

// The process holding a flock() on the inode (dev, ino) as the kernel lists it: nullopt when
// none is listed, 0 when its pid is not visible from here.
std::optional<qint64> flockHolder(dev_t dev, ino_t ino) {
    // "1: FLOCK  ADVISORY  WRITE 1234 00:19:5 0 EOF"; waiters are "1: -> FLOCK ..." lines.
    const QByteArray id = QByteArray::number(major(dev), 16).rightJustified(2, '0') + ':' +
                          QByteArray::number(minor(dev), 16).rightJustified(2, '0') + ':' +
                          QByteArray::number(quint64(ino));
    for (const QByteArray& line : readProc("/proc/locks").split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 6 && f[1] == "FLOCK" && f[5] == id) {
            bool ok = false;
            const qint64 pid = f[4].toLongLong(&ok);
            return ok && pid > 0 ? pid : 0;
        }
    }
    return std::nullopt;
}

QString holderOf(dev_t dev, ino_t ino) {
    const auto pid = flockHolder(dev, ino);
    return pid ? processText(*pid) : Unknown;
}

// Who holds Qt's lock file of the device, empty when no one does. The file is never followed
// nor opened: a live Qt holder keeps a flock() on it, which the kernel lists with its pid. A
// file there that is not a regular file is no lock of Qt's, but Qt would wait on it forever.
QString qtLockHolder(const QString& device) {
    const QString path = qtSerialLockPath(device);
    struct stat st {};
    if (path.isEmpty() || ::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("the file %1").arg(path);
    const auto pid = flockHolder(st.st_dev, st.st_ino);
    return pid ? processText(*pid) : QString();
}

// The thread of a window program's event loop: it never waits for a line.
bool onGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread() && app->inherits("QGuiApplication");
}

QString& sharedLockDir() {
    static QString dir;
    return dir;
}

// A folder fit for lock files: a directory itself (not a link), that not every user may write
// in and this user may; owned by this user when `own`.
bool lockDirFits(const QString& dir, bool own) {
    const QByteArray path = QFile::encodeName(dir);
    struct stat st {};
    return !dir.isEmpty() && ::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           !(st.st_mode & S_IWOTH) && (!own || st.st_uid == ::geteuid()) &&
           ::access(path.constData(), W_OK | X_OK) == 0;
}

// The folder warned about once: no TCP/IP terminal is locked without one.
std::atomic_bool warnedNoDir{false};

} // namespace

QString endpointLockDir() {
    const QString shared =
        sharedLockDir().isEmpty() ? QStringLiteral("/run/brackwater") : sharedLockDir();
    if (lockDirFits(shared, false))
        return shared;
    const QString own = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return lockDirFits(own, true) ? own : QString();
}

QString endpointLockPath(const QString& address, quint16 port) {
    const QString dir = endpointLockDir();
    if (dir.isEmpty())
        return {};
    QString name = QStringLiteral("brackwater-tcp-");
    for (const char c : address.left(NameChars).toUtf8()) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.')
            name += QLatin1Char(c);
        else
            name += QStringLiteral("_%1").arg(uchar(c), 2, 16, QLatin1Char('0'));
    }
    return dir + QLatin1Char('/') + name + QStringLiteral("-%1.lock").arg(port);
}

void setSharedLockDir(const QString& dir) {
    sharedLockDir() = dir;
}

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
        if (info.isReadable() && (QFileInfo(dir + name).exists() || info.isWritable()))
            return dir + name;
    }
    return {};
}

LineLock::LineLock(const QString& device) : device_(device) {
    real_ = QFileInfo(device).canonicalFilePath();
    if (real_.isEmpty())
        real_ = QDir::cleanPath(device);
}

LineLock::LineLock(const QString& address, quint16 port)
    : device_(QStringLiteral("%1:%2").arg(address).arg(port)),
      real_(endpointLockPath(address, port)), endpoint_(true) {
    if (real_.isEmpty() && !warnedNoDir.exchange(true))
        qCWarning(lineLog).noquote()
            << QStringLiteral("no folder for the TCP/IP terminals' locks (/run/brackwater, "
                              "$XDG_RUNTIME_DIR): they are not locked");
}

LineLock::~LineLock() {
    release();
}

void LineLock::release() {
    if (fd_ >= 0)
        ::close(fd_); // drops the flock
    fd_ = -1;
    held_ = false;
    missing_.clear();
}

QString LineLock::busyText() const {
    return QStringLiteral("line %1 busy: held by %2")
        .arg(device_, holder_.isEmpty() ? Unknown : holder_);
}

bool LineLock::acquire(int waitMs) {
    if (held_)
        return true;
    const int wait = onGuiThread() ? 0 : waitMs < 0 ? lineLockWaitMs() : waitMs;
    QDeadlineTimer deadline(qMax(0, wait));
    for (;;) {
        if (tryOnce()) {
            held_ = true;
            holder_.clear();
            return true;
        }
        const qint64 left = deadline.remainingTime();
        if (left <= 0) {
            qCWarning(lineLog).noquote() << busyText();
            return false;
        }
        QThread::msleep(static_cast<unsigned long>(qMin<qint64>(PollMs, left)));
    }
}

bool LineLock::tryFile() {
    if (real_.isEmpty())
        return true; // no folder for the lock: nothing to share it through
    const QByteArray file = QFile::encodeName(real_);
    const QString notALock = QStringLiteral("the file %1").arg(real_);
    struct stat st {};
    if (::lstat(file.constData(), &st) == 0 && !S_ISREG(st.st_mode)) {
        holder_ = notALock;
        return false;
    }
    int fd;
    while ((fd = ::open(file.constData(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                        0660)) < 0 &&
           errno == EINTR) {
    }
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        holder_ = notALock;
        return false;
    }
    // The group of the shared folder (brackwater) may take it too, whatever the umask made of it.
    if (st.st_uid == ::geteuid() && (st.st_mode & 07777) != 0660)
        (void)::fchmod(fd, 0660);
    int rc;
    while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        ::close(fd);
        holder_ = holderOf(st.st_dev, st.st_ino);
        return false;
    }
    fd_ = fd;
    return true;
}

bool LineLock::tryOnce() {
    missing_.clear();
    if (endpoint_)
        return tryFile();
    // Only a character device (or a regular file) is a line to share; anything else is never
    // opened here, and the program's own open of it says what it is.
    const QByteArray file = QFile::encodeName(real_);
    struct stat st {};
    if (::stat(file.constData(), &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISREG(st.st_mode)))
        return true;
    // Qt's lock first: a line kept that way is not opened (and closed) again and again.
    for (const QString& name : {device_, real_}) {
        holder_ = qtLockHolder(name);
        if (!holder_.isEmpty())
            return false;
    }
    int fd;
    while ((fd = ::open(file.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
           errno == EINTR) {
    }
    // A node with no device behind it (no hardware at a serial port's number, a pseudo-terminal
    // not unlocked) is no line: nothing to lock, and the program does not open it again.
    if (fd < 0 && (errno == ENXIO || errno == ENODEV || errno == EIO || errno == ENOENT)) {
        missing_ = QString::fromLocal8Bit(std::strerror(errno));
        return true;
    }
    // EBUSY: another program made the device exclusive (Qt's serial port does). Any other
    // failure is the program's own open's to report.
    if (fd < 0 && errno != EBUSY)
        return true;
    struct stat opened {};
    if (fd >= 0 &&
        (::fstat(fd, &opened) != 0 || !(S_ISCHR(opened.st_mode) || S_ISREG(opened.st_mode)))) {
        ::close(fd);
        return true;
    }
    int rc = -1;
    while (fd >= 0 && (rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (rc != 0) {
        if (fd >= 0)
            ::close(fd);
        holder_ = holderOf(st.st_dev, st.st_ino);
        return false;
    }
    fd_ = fd;
    return true;
}

} // namespace bw

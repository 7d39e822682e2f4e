#include "platform/safe_file.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace bw {

namespace {

// Links followed one after another before the path counts as a loop.
constexpr int kMaxLinks = 16;
// Bytes gathered before they go to the file: an export of many short lines stays few calls.
constexpr qsizetype kBuffer = 64 * 1024;

QByteArray folderOf(const QByteArray& path) {
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return ".";
    return slash == 0 ? QByteArray("/") : path.left(slash);
}

QByteArray nameOf(const QByteArray& path) {
    return path.mid(path.lastIndexOf('/') + 1);
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

SafeFile::SafeFile(const QString& path, Access access) : path_(path), access_(access) {}

SafeFile::~SafeFile() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!temporary_.isEmpty())
        ::unlink(temporary_.constData());
}

bool SafeFile::fail(Refusal kind, const QString& reason) {
    refusal_ = kind;
    reason_ = reason;
    return false;
}

bool SafeFile::failErrno(Refusal kind, int error) {
    return fail(kind, QString::fromLocal8Bit(std::strerror(error)));
}

bool SafeFile::open() {
    QByteArray p = QFile::encodeName(path_);
    if (p.isEmpty())
        return failErrno(Refusal::CannotCreate, ENOENT);
    mode_ = access_ == Access::Private ? 0600 : 0644;
    for (int hop = 0;; ++hop) {
        struct stat st {};
        if (::lstat(p.constData(), &st) != 0) {
            if (errno != ENOENT)
                return failErrno(Refusal::CannotCreate, errno);
            break; // a new file
        }
        if (!S_ISLNK(st.st_mode)) {
            if (!S_ISREG(st.st_mode))
                return fail(Refusal::NotAFile, QStringLiteral("it is not a regular file"));
            mode_ = st.st_mode & 0777;
            break;
        }
        if (hop == kMaxLinks)
            return fail(Refusal::LinkLoop, QStringLiteral("too many symbolic links"));
        const QByteArray folder = folderOf(p);
        struct stat dir {};
        if (::stat(folder.constData(), &dir) != 0)
            return failErrno(Refusal::CannotCreate, errno);
        if ((dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH))
            return fail(Refusal::StickyLink,
                        QStringLiteral("it is a symbolic link in a folder every user may write "
                                       "in; refused"));
        if (st.st_uid != ::geteuid())
            return fail(Refusal::ForeignLink,
                        QStringLiteral("it is a symbolic link owned by another user; refused"));
        QByteArray to(qsizetype(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(p.constData(), to.data(), size_t(to.size()));
        if (n < 0)
            return failErrno(Refusal::CannotCreate, errno);
        to.truncate(n);
        p = to.startsWith('/') ? to : folder + '/' + to;
    }
    target_ = QFile::decodeName(p);
    const QByteArray base = folderOf(p) + "/." + nameOf(p) + '.';
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        const QByteArray name =
            base + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".part";
        fd_ = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0)
            temporary_ = name;
        else if (errno != EEXIST)
            return failErrno(Refusal::CannotCreate, errno);
    }
    return fd_ >= 0 || failErrno(Refusal::CannotCreate, EEXIST);
}

bool SafeFile::write(const QByteArray& bytes) {
    if (fd_ < 0 || writeErrno_ != 0)
        return false;
    buffer_ += bytes;
    if (buffer_.size() < kBuffer)
        return true;
    if (!writeAll(fd_, buffer_.constData(), buffer_.size()))
        writeErrno_ = errno ? errno : EIO;
    buffer_.clear();
    return writeErrno_ == 0;
}

QString SafeFile::temporaryName() const {
    return QFile::decodeName(temporary_);
}

bool SafeFile::commit() {
    if (fd_ < 0)
        return refusal_ != Refusal::None ? false : failErrno(Refusal::CannotWrite, EBADF);
    if (writeErrno_ == 0 && !buffer_.isEmpty() &&
        !writeAll(fd_, buffer_.constData(), buffer_.size()))
        writeErrno_ = errno ? errno : EIO;
    buffer_.clear();
    if (writeErrno_ == 0 && (::fsync(fd_) != 0 || ::fchmod(fd_, mode_) != 0))
        writeErrno_ = errno;
    if (::close(fd_) != 0 && writeErrno_ == 0)
        writeErrno_ = errno;
    fd_ = -1;
    const QByteArray target = QFile::encodeName(target_);
    if (writeErrno_ == 0 && ::rename(temporary_.constData(), target.constData()) != 0)
        writeErrno_ = errno;
    if (writeErrno_ != 0)
        return failErrno(Refusal::CannotWrite, writeErrno_); // the destructor removes the part
    temporary_.clear();
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

QString writeSafely(const QString& path, const QByteArray& bytes, SafeFile::Access access) {
    SafeFile file(path, access);
    if (file.open() && file.write(bytes) && file.commit())
        return QString();
    return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
}

} // namespace bw

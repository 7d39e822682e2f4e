#include "bell/device_port.h"

#include "platform/line_trace.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThread>

#include <fcntl.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace bw::bell {

namespace {

// The system's reason for a port that cannot be opened goes to the program's diagnostics:
// the window's own message names only the port number. Programs that report the reason
// themselves turn this category off.
Q_LOGGING_CATEGORY(lcPortOpen, "brackwater.port.open")

// Pseudo-terminal slaves (/dev/pts/N) and the multiplexer carry bytes without any line
// framing, so they keep CMSPAR but report PARENB cleared.
bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned maj = major(st.st_rdev);
    return (maj >= 136 && maj <= 143) || (maj == 5 && minor(st.st_rdev) == 2);
}

speed_t speedOf(int baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

QString systemReason(int error) {
    return QString::fromLocal8Bit(strerror(error));
}

// Bytes waiting to leave the device (the driver's queue).
int unsent(int fd) {
    int queued = 0;
    return ioctl(fd, TIOCOUTQ, &queued) == 0 ? queued : 0;
}

} // namespace

Error DevicePort::refuseOpen(OpenFailure failure, int number, const QString& detail) {
    openFailure_ = std::move(failure);
    lineBusy_ = openFailure_.kind == OpenFailure::Kind::Busy;
    const QString where = QStringLiteral("COM%1").arg(commPort_);
    if (openWarnings_)
        qCWarning(lcPortOpen, "cannot open %s: %s", qUtf8Printable(where), qUtf8Printable(detail));
    trace::note(where, QStringLiteral("cannot open ") + detail);
    return serialFault(number, detail);
}

DevicePort::DevicePort() {
    settings_ = *LineSettings::parse(QStringLiteral("9600,n,8,1"));
}

DevicePort::~DevicePort() {
    closeDevice();
}

void DevicePort::closeDevice() {
    if (fd_ >= 0) {
        // The flag belongs to the device, not to this descriptor: on a device another
        // descriptor keeps open (a pseudo-terminal's master) it would outlive the close.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);
    }
    fd_ = -1;
    received_.clear();
    parityCheck_ = false;
}

void DevicePort::requireOpen() const {
    if (fd_ < 0)
        throw serialFault(serr::DeviceNotOpen);
}

void DevicePort::pull() {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd_, chunk, sizeof chunk);
        if (n > 0) {
            received_.append(chunk, n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK)
            return;
        throw serialFault(serr::ReadError,
                          path_ + QStringLiteral(" (") + systemReason(errno) + u')');
    }
}

void DevicePort::discardReceived() {
    if (fd_ < 0)
        return;
    tcflush(fd_, TCIFLUSH);
    received_.clear();
}

// output() returns only when its bytes have left the port, so nothing written stays unsent.
// Flushing the device's queue would, on a pseudo-terminal, drop bytes that were sent but not
// yet read by the other side.
void DevicePort::discardUnsent() {}

int DevicePort::inBufferCount() {
    requireOpen();
    pull();
    return static_cast<int>(received_.size());
}

void DevicePort::setSettings(const QString& text) {
    const auto s = LineSettings::parse(text);
    if (!s)
        throw serialFault(serr::InvalidValue, text);
    if (fd_ >= 0) {
        drain();
        apply(*s);
    }
    settings_ = *s;
}

void DevicePort::apply(const LineSettings& s) {
    const speed_t speed = speedOf(s.baud);
    termios tio{};
    bool ok = speed != B0 && tcgetattr(fd_, &tio) == 0;
    if (ok) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tio.c_cflag &= ~(CSIZE | CSTOPB | CRTSCTS | PARENB | PARODD | CMSPAR);
        tio.c_cflag |= s.dataBits == 5 ? CS5 : s.dataBits == 6 ? CS6 : s.dataBits == 7 ? CS7 : CS8;
        if (s.stopBits == 2)
            tio.c_cflag |= CSTOPB;
        // The parity bits go to the device as they are; mark and space parity are then read
        // back by verifyParity, which accepts a pseudo-terminal that drops PARENB.
        tio.c_cflag |= s.parity == 'e'   ? PARENB
                       : s.parity == 'o' ? PARENB | PARODD
                       : s.parity == 'm' ? PARENB | PARODD | CMSPAR
                       : s.parity == 's' ? PARENB | CMSPAR
                                         : 0;
        // Bytes with a wrong parity bit are dropped while the check is on (IGNPAR), else
        // taken as they are.
        tio.c_iflag &= ~(IXON | IXOFF | IXANY | PARMRK | INPCK);
        tio.c_iflag |= IGNPAR | (parityCheck_ ? INPCK : 0);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;
        // The C library reads the settings back and calls a parity the device dropped an
        // invalid argument, although the rest was taken: a pseudo-terminal always drops it.
        ok = cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0 &&
             (tcsetattr(fd_, TCSANOW, &tio) == 0 ||
              (errno == EINVAL && (tio.c_cflag & PARENB) && isPseudoTerminal(fd_)));
    }
    if (!ok) {
        const QString detail = speed == B0 ? QStringLiteral("no such speed") : systemReason(errno);
        throw serialFault(serr::CannotSetSettings,
                          s.text() + QStringLiteral(" (") + detail + QStringLiteral(")"));
    }
    if (s.parity == 'm' || s.parity == 's')
        verifyParity(s);
}

void DevicePort::verifyParity(const LineSettings& s) {
    termios tio{};
    if (fd_ < 0 || tcgetattr(fd_, &tio) != 0)
        throw serialFault(serr::CannotSetSettings, path_);
    const bool refused = [&] {
        if (!(tio.c_cflag & CMSPAR))
            return true;
        if (!(tio.c_cflag & PARENB))
            return !isPseudoTerminal(fd_);
        return bool(tio.c_cflag & PARODD) != (s.parity == 'm');
    }();
    if (refused)
        throw serialFault(
            serr::CannotSetSettings,
            QStringLiteral("the device %1 does not support %2 parity")
                .arg(path_, s.parity == 'm' ? QStringLiteral("mark") : QStringLiteral("space")));
}

// Waits until the device's queue is empty, bounded so that a line held by flow control cannot
// block for ever; tcdrain then waits for the last character's stop bits.
void DevicePort::drain() {
    if (fd_ < 0)
        return;
    QElapsedTimer t;
    t.start();
    while (unsent(fd_) > 0) {
        if (t.elapsed() > 2000)
            throw serialFault(serr::WriteError, path_);
        QThread::msleep(1);
    }
    while (tcdrain(fd_) != 0 && errno == EINTR) {
    }
}

void DevicePort::setInputMode(int mode) {
    if (mode != 0 && mode != 1)
        throw serialFault(serr::InvalidValue);
    inputMode_ = mode;
}

void DevicePort::setInBufferSize(int size) {
    if (size < 1)
        throw serialFault(serr::InvalidValue);
    inBufferSize_ = size;
}

void DevicePort::setOutBufferSize(int size) {
    if (size < 1)
        throw serialFault(serr::InvalidValue);
    outBufferSize_ = size;
}

void DevicePort::setInputLen(int n) {
    if (n < 0)
        throw serialFault(serr::InvalidValue);
    inputLen_ = n;
}

void DevicePort::setCommPort(short port) {
    if (port < 1 || port > 255)
        throw serialFault(serr::InvalidPort);
    if (fd_ >= 0)
        throw serialFault(serr::PortAlreadyOpen);
    commPort_ = port;
}

void DevicePort::setPortOpen(bool open) {
    if (!open) {
        closeDevice();
        line_.reset();
        return;
    }
    lineBusy_ = false;
    openFailure_ = {};
    if (fd_ >= 0)
        throw serialFault(serr::PortAlreadyOpen);
    using Kind = OpenFailure::Kind;
    const QString path = devicePath(commPort_);
    if (path.isEmpty())
        throw refuseOpen({Kind::NoDevice, {}, {}, {}}, serr::InvalidPort,
                         QStringLiteral("no device for COM%1").arg(commPort_));
    if (!QFileInfo::exists(path)) {
        const QString reason = systemReason(ENOENT);
        throw refuseOpen({Kind::CannotOpen, path, {}, reason}, serr::InvalidPort,
                         path + QStringLiteral(" (") + reason + QStringLiteral(")"));
    }
    line_ = std::make_unique<LineLock>(path);
    if (!line_->acquire(lineWaitMs_)) {
        const QString busy = line_->busyText(), holder = line_->holder();
        line_.reset();
        throw refuseOpen({Kind::Busy, path, holder, busy}, serr::PortAlreadyOpen,
                         path + QStringLiteral(" (") + busy + u')');
    }
    path_ = path;
    const QByteArray file = QFile::encodeName(path);
    int fd;
    while ((fd = ::open(file.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) < 0 &&
           errno == EINTR) {
    }
    struct stat st {};
    if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode) || !::isatty(fd))) {
        ::close(fd);
        fd = -1;
        errno = ENOTTY;
    }
    if (fd < 0) {
        const int error = errno;
        line_.reset();
        const QString reason = systemReason(error);
        const QString detail = path + QStringLiteral(" (") + reason + QStringLiteral(")");
        const OpenFailure failure{Kind::CannotOpen, path, {}, reason};
        if (error == ENOENT || error == ENXIO || error == ENODEV)
            throw refuseOpen(failure, serr::InvalidPort, detail);
        if (error == EACCES || error == EPERM || error == EBUSY)
            throw refuseOpen(failure, serr::PortAlreadyOpen, detail);
        throw refuseOpen(failure, serr::HardwareNotAvailable, detail);
    }
    fd_ = fd;
    try {
        // Other programs' opens fail while the line is ours. Not on a pseudo-terminal: its
        // flag belongs to the pair, which outlives a holder killed while its other end stays
        // open, and would keep the line from every user but root for good.
        if (!isPseudoTerminal(fd_))
            ::ioctl(fd_, TIOCEXCL);
        apply(settings_);
    } catch (const Error& e) {
        closeDevice();
        line_.reset();
        openFailure_ = {Kind::CannotOpen, path, {}, e.description()};
        throw;
    }
    // Only what came in before is dropped: flushing the output side of a pseudo-terminal
    // drops what its other end has not read yet.
    tcflush(fd_, TCIFLUSH);
}

bool DevicePort::setReceiveParityCheck(bool on) {
    if (fd_ < 0)
        return false;
    parityCheck_ = on;
    apply(settings_);
    return true;
}

void DevicePort::output(const QByteArray& bytes) {
    requireOpen();
    QElapsedTimer t;
    t.start();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0) {
            done += n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && t.elapsed() < 2000) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        throw serialFault(serr::WriteError,
                          path_ + QStringLiteral(" (") +
                              (n < 0 ? systemReason(errno) : QStringLiteral("nothing written")) +
                              u')');
    }
    drain();
}

QByteArray DevicePort::input() {
    requireOpen();
    pull();
    if (inputLen_ > 0) {
        if (received_.size() < inputLen_)
            return QByteArray();
        const QByteArray out = received_.left(inputLen_);
        received_.remove(0, inputLen_);
        return out;
    }
    return std::exchange(received_, QByteArray());
}

// What the device received before the call and the port had not read yet is new to the
// caller: it has not seen it. (Reading it first and counting it as waiting already made a
// wait that began just after a reply came in wait for bytes that never came, and the link
// took the reply for lost.)
bool DevicePort::waitForInput(int ms) {
    if (fd_ < 0) {
        QThread::msleep(static_cast<unsigned long>(qMax(ms, 0)));
        return false;
    }
    const qsizetype before = received_.size();
    QDeadlineTimer deadline(qMax(ms, 0));
    for (;;) {
        pull();
        if (received_.size() > before)
            return true;
        if (deadline.hasExpired())
            return false;
        pollfd p{fd_, POLLIN, 0};
        const int rc = ::poll(&p, 1, int(deadline.remainingTime()));
        if (rc < 0 && errno != EINTR)
            throw serialFault(serr::ReadError,
                              path_ + QStringLiteral(" (") + systemReason(errno) + u')');
        if (rc > 0 && (p.revents & (POLLERR | POLLNVAL)))
            throw serialFault(serr::ReadError, path_);
        if (rc > 0 && (p.revents & POLLHUP) && !(p.revents & POLLIN)) {
            // The other end of a pseudo-terminal is gone: nothing more will come, and poll
            // would answer at once again. Sleep the rest rather than let the caller spin.
            QThread::msleep(static_cast<unsigned long>(qMax<qint64>(0, deadline.remainingTime())));
            pull();
            return received_.size() > before;
        }
    }
}

} // namespace bw::bell

#include "bell/qt_serial_port.h"

#include "platform/line_trace.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QThread>

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

} // namespace

Error QtSerialPort::refuseOpen(OpenFailure failure, int number, const QString& detail) {
    openFailure_ = std::move(failure);
    lineBusy_ = openFailure_.kind == OpenFailure::Kind::Busy;
    const QString where = QStringLiteral("COM%1").arg(commPort_);
    if (openWarnings_)
        qCWarning(lcPortOpen, "cannot open %s: %s", qUtf8Printable(where), qUtf8Printable(detail));
    trace::note(where, QStringLiteral("cannot open ") + detail);
    return serialFault(number, detail);
}

QtSerialPort::QtSerialPort() {
    settings_ = *LineSettings::parse(QStringLiteral("9600,n,8,1"));
}

QtSerialPort::~QtSerialPort() {
    if (port_.isOpen())
        port_.close();
}

void QtSerialPort::requireOpen() const {
    if (!port_.isOpen())
        throw serialFault(serr::DeviceNotOpen);
}

void QtSerialPort::checkReadError() {
    const auto e = port_.error();
    if (e == QSerialPort::ResourceError || e == QSerialPort::ReadError) {
        const QString detail = port_.errorString();
        port_.clearError();
        throw serialFault(serr::ReadError, detail);
    }
    if (e != QSerialPort::NoError)
        port_.clearError();
}

void QtSerialPort::pull() {
    port_.waitForReadyRead(0);
    checkReadError();
}

void QtSerialPort::discardReceived() {
    if (!port_.isOpen())
        return;
    port_.clear(QSerialPort::Input);
    port_.clearError();
}

// output() returns only when its bytes have left the port, so what can still be unsent is
// what a failed write left in QSerialPort's buffer. Flushing the device's queue as well would,
// on a pseudo-terminal, drop bytes that were sent but not yet read by the other side.
void QtSerialPort::discardUnsent() {
    if (!port_.isOpen() || port_.bytesToWrite() == 0)
        return;
    port_.clear(QSerialPort::Output);
    port_.clearError();
}

int QtSerialPort::inBufferCount() {
    requireOpen();
    pull();
    return static_cast<int>(port_.bytesAvailable());
}

void QtSerialPort::setSettings(const QString& text) {
    const auto s = LineSettings::parse(text);
    if (!s)
        throw serialFault(serr::InvalidValue, text);
    if (port_.isOpen()) {
        drain();
        apply(*s);
    }
    settings_ = *s;
}

void QtSerialPort::apply(const LineSettings& s) {
    bool ok = port_.setBaudRate(s.baud);
    ok = ok && port_.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits));
    ok = ok && port_.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
    ok = ok && setParity(s.parity);
    if (!ok) {
        const QString detail = port_.errorString();
        port_.clearError();
        throw serialFault(serr::CannotSetSettings,
                          s.text() + QStringLiteral(" (") + detail + QStringLiteral(")"));
    }
    if (s.parity == 'm' || s.parity == 's')
        verifyParity(s);
}

// Parity goes straight to the device: QSerialPort reads the termios back and reports mark
// and space parity on a pseudo-terminal (which drops PARENB) as an error, while here the
// read-back is judged by verifyParity.
bool QtSerialPort::setParity(char parity) {
    const int fd = static_cast<int>(port_.handle());
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_iflag &= ~(PARMRK | INPCK);
    tio.c_iflag |= IGNPAR;
    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (parity) {
    case 'e':
        tio.c_cflag |= PARENB;
        break;
    case 'o':
        tio.c_cflag |= PARENB | PARODD;
        break;
    case 'm':
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case 's':
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    default:
        break;
    }
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

void QtSerialPort::verifyParity(const LineSettings& s) {
    const int fd = static_cast<int>(port_.handle());
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0)
        throw serialFault(serr::CannotSetSettings, path_);
    const bool refused = [&] {
        if (!(tio.c_cflag & CMSPAR))
            return true;
        if (!(tio.c_cflag & PARENB))
            return !isPseudoTerminal(fd);
        return bool(tio.c_cflag & PARODD) != (s.parity == 'm');
    }();
    if (refused)
        throw serialFault(
            serr::CannotSetSettings,
            QStringLiteral("the device %1 does not support %2 parity")
                .arg(path_, s.parity == 'm' ? QStringLiteral("mark") : QStringLiteral("space")));
}

void QtSerialPort::drain() {
    if (!port_.isOpen())
        return;
    // Everything QSerialPort still holds goes to the device first.
    QElapsedTimer t;
    t.start();
    while (port_.bytesToWrite() > 0) {
        if (t.elapsed() > 2000)
            throw serialFault(serr::WriteError, path_);
        port_.waitForBytesWritten(100);
    }
    const int fd = static_cast<int>(port_.handle());
    // Then the device's own queue, bounded so that a line held by flow control cannot
    // block for ever; tcdrain waits for the last character's stop bits.
    int queued = 0;
    while (ioctl(fd, TIOCOUTQ, &queued) == 0 && queued > 0) {
        if (t.elapsed() > 2000)
            throw serialFault(serr::WriteError, path_);
        QThread::msleep(1);
    }
    while (tcdrain(fd) != 0 && errno == EINTR) {
    }
}

void QtSerialPort::setInputMode(int mode) {
    if (mode != 0 && mode != 1)
        throw serialFault(serr::InvalidValue);
    inputMode_ = mode;
}

void QtSerialPort::setInBufferSize(int size) {
    if (size < 1)
        throw serialFault(serr::InvalidValue);
    inBufferSize_ = size;
}

void QtSerialPort::setOutBufferSize(int size) {
    if (size < 1)
        throw serialFault(serr::InvalidValue);
    outBufferSize_ = size;
}

void QtSerialPort::setInputLen(int n) {
    if (n < 0)
        throw serialFault(serr::InvalidValue);
    inputLen_ = n;
}

void QtSerialPort::setCommPort(short port) {
    if (port < 1 || port > 255)
        throw serialFault(serr::InvalidPort);
    if (port_.isOpen())
        throw serialFault(serr::PortAlreadyOpen);
    commPort_ = port;
}

void QtSerialPort::setPortOpen(bool open) {
    if (!open) {
        if (port_.isOpen())
            port_.close();
        port_.clearError();
        line_.reset();
        return;
    }
    lineBusy_ = false;
    openFailure_ = {};
    if (port_.isOpen())
        throw serialFault(serr::PortAlreadyOpen);
    using Kind = OpenFailure::Kind;
    const QString path = devicePath(commPort_);
    if (path.isEmpty())
        throw refuseOpen({Kind::NoDevice, {}, {}, {}}, serr::InvalidPort,
                         QStringLiteral("no device for COM%1").arg(commPort_));
    if (!QFileInfo::exists(path)) {
        const QString reason = QString::fromLocal8Bit(strerror(ENOENT));
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
    // A name with no hardware behind it is not opened again (the fault Qt's open gives it):
    // Qt's port would first make (and sync) its lock file for it.
    if (const QString missing = line_->missing(); !missing.isEmpty()) {
        line_.reset();
        throw refuseOpen({Kind::CannotOpen, path, {}, missing}, serr::HardwareNotAvailable,
                         path + QStringLiteral(" (") + missing + u')');
    }
    port_.setPortName(path);
    path_ = path;
    port_.setReadBufferSize(0);
    if (!port_.open(QIODevice::ReadWrite)) {
        line_.reset();
        const auto e = port_.error();
        const QString reason = port_.errorString();
        const QString detail = path + QStringLiteral(" (") + reason + QStringLiteral(")");
        port_.clearError();
        const OpenFailure failure{Kind::CannotOpen, path, {}, reason};
        if (e == QSerialPort::DeviceNotFoundError)
            throw refuseOpen(failure, serr::InvalidPort, detail);
        if (e == QSerialPort::PermissionError)
            throw refuseOpen(failure, serr::PortAlreadyOpen, detail);
        throw refuseOpen(failure, serr::HardwareNotAvailable, detail);
    }
    try {
        port_.setFlowControl(QSerialPort::NoFlowControl);
        apply(settings_);
    } catch (const Error& e) {
        port_.close();
        line_.reset();
        openFailure_ = {Kind::CannotOpen, path, {}, e.description()};
        throw;
    }
    port_.clear(QSerialPort::AllDirections);
    port_.clearError();
}

void QtSerialPort::output(const QByteArray& bytes) {
    requireOpen();
    if (port_.write(bytes) != bytes.size()) {
        const QString detail = port_.errorString();
        port_.clearError();
        throw serialFault(serr::WriteError, detail);
    }
    drain();
    if (port_.error() == QSerialPort::WriteError || port_.error() == QSerialPort::ResourceError) {
        const QString detail = port_.errorString();
        port_.clearError();
        throw serialFault(serr::WriteError, detail);
    }
}

QByteArray QtSerialPort::input() {
    requireOpen();
    pull();
    if (inputLen_ > 0) {
        if (port_.bytesAvailable() < inputLen_)
            return QByteArray();
        return port_.read(inputLen_);
    }
    return port_.readAll();
}

bool QtSerialPort::waitForInput(int ms) {
    if (!port_.isOpen()) {
        QThread::msleep(static_cast<unsigned long>(qMax(ms, 0)));
        return false;
    }
    const qint64 before = port_.bytesAvailable();
    QElapsedTimer t;
    t.start();
    bool got = port_.waitForReadyRead(qMax(ms, 0));
    checkReadError();
    if (!got && ms > 0 && t.elapsed() < ms / 2) {
        // Returned early without data (e.g. an interrupted wait): sleep the rest rather
        // than let the caller spin.
        QThread::msleep(static_cast<unsigned long>(ms - t.elapsed()));
    }
    return got || port_.bytesAvailable() > before;
}

} // namespace bw::bell

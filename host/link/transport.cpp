#include "host/link/transport.h"

#include "bell/ninth_bit.h"
#include "platform/error.h"

#include <QTcpSocket>

namespace bw::host {

SerialTransport::SerialTransport() {
    // The link words its own failures.
    port_.setOpenWarnings(false);
    port_.setInputMode(1);
    port_.setInputLen(0);
}

bool SerialTransport::open(int port, int lineWaitMs) {
    try {
        port_.setLineWaitMs(lineWaitMs);
        port_.setCommPort(short(port));
        port_.setSettings(bell::ninth::AddressSetting);
        port_.setPortOpen(true);
        return true;
    } catch (const Error&) {
        return false;
    }
}

void SerialTransport::lost() {
    try {
        port_.setPortOpen(false);
    } catch (...) {
    }
}

QByteArray SerialTransport::dropStale() {
    port_.discardReceived();
    return {};
}

// The port bounds its own wait for the bytes to leave.
bool SerialTransport::send(const QByteArray& request, int) {
    try {
        bell::ninth::send(port_, request);
        return true;
    } catch (const Error&) {
        return false;
    }
}

QByteArray SerialTransport::readAll() {
    try {
        return port_.input();
    } catch (const Error&) {
        lost();
        return {};
    }
}

bool SerialTransport::waitForData(int ms) {
    try {
        return port_.waitForInput(ms);
    } catch (const Error&) {
        lost();
        return false;
    }
}

QBitArray SerialTransport::ninthBits(const QByteArray& request) const {
    return bell::ninth::bits(request);
}

TcpTransport::TcpTransport() : socket_(std::make_unique<QTcpSocket>()) {}

TcpTransport::~TcpTransport() {
    socket_->abort();
}

bool TcpTransport::open(const QHostAddress& host, quint16 port, int timeoutMs, QString& reason,
                        QString* systemReason) {
    socket_->connectToHost(host, port);
    if (socket_->waitForConnected(timeoutMs))
        return true;
    const bool timedOut = socket_->error() == QAbstractSocket::SocketTimeoutError;
    reason = timedOut ? QStringLiteral("no connection within %1 ms").arg(timeoutMs)
                      : socket_->errorString();
    if (systemReason && !timedOut)
        *systemReason = reason;
    socket_->abort();
    return false;
}

bool TcpTransport::isOpen() const {
    return socket_->state() == QAbstractSocket::ConnectedState;
}

QByteArray TcpTransport::dropStale() {
    socket_->waitForReadyRead(0);
    return socket_->readAll();
}

bool TcpTransport::send(const QByteArray& request, int timeoutMs) {
    return socket_->write(request) == request.size() && socket_->waitForBytesWritten(timeoutMs);
}

QByteArray TcpTransport::readAll() {
    return socket_->readAll();
}

bool TcpTransport::waitForData(int ms) {
    return socket_->waitForReadyRead(ms);
}

} // namespace bw::host

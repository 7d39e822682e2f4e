#pragma once

#include "bell/device_port.h"

#include <QBitArray>
#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <memory>

class QTcpSocket;

namespace bw::host {

// How the link's requests reach a terminal and its replies come back: a serial line or a TCP
// connection. The terminal protocol (host/link/terminal_protocol.h) is the same over both.
class Transport {
public:
    virtual ~Transport() = default;
    virtual bool isOpen() const = 0;
    // Drops whatever came and was not read, before a request; gives back what it could see
    // of it (for the line trace).
    virtual QByteArray dropStale() = 0;
    // Sends one whole request within about timeoutMs; false when it did not leave.
    virtual bool send(const QByteArray& request, int timeoutMs) = 0;
    // Bytes received and not yet read.
    virtual QByteArray readAll() = 0;
    // Waits up to ms for more bytes; false when none came (or the line went away).
    virtual bool waitForData(int ms) = 0;
    // The ninth bit of each byte of request as it goes out (empty where the line has none).
    virtual QBitArray ninthBits(const QByteArray&) const { return {}; }
};

// A serial multi-drop line, through the bell component's serial port: the port number is
// mapped to its device as every Brackwater program maps it, the line is held (bw::LineLock)
// from open to close, and each request is framed with the address byte's ninth bit set
// (bell/ninth_bit.h).
class SerialTransport : public Transport {
public:
    SerialTransport();
    // Opens COM<port>, waiting up to lineWaitMs (-1: lineLockWaitMs()) for a line another
    // program holds; false with openFailure() telling why.
    bool open(int port, int lineWaitMs);
    bell::OpenFailure openFailure() const { return port_.openFailure(); }

    bool isOpen() const override { return port_.portOpen(); }
    QByteArray dropStale() override;
    bool send(const QByteArray& request, int timeoutMs) override;
    QByteArray readAll() override;
    bool waitForData(int ms) override;
    QBitArray ninthBits(const QByteArray& request) const override;

private:
    void lost(); // the device failed under us: closed, so that the link sees the line gone

    bell::DevicePort port_;
};

// A TCP/IP connection to a terminal.
class TcpTransport : public Transport {
public:
    TcpTransport();
    ~TcpTransport() override;
    // reason: why it failed; systemReason, when given: the system's own reason (not a time-out).
    bool open(const QHostAddress& host, quint16 port, int timeoutMs, QString& reason,
              QString* systemReason = nullptr);

    bool isOpen() const override;
    QByteArray dropStale() override;
    bool send(const QByteArray& request, int timeoutMs) override;
    QByteArray readAll() override;
    bool waitForData(int ms) override;

private:
    std::unique_ptr<QTcpSocket> socket_;
};

} // namespace bw::host

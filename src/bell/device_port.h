#pragma once

#include "bell/serial_port.h"
#include "platform/line_lock.h"

namespace bw::bell {

// The serial port on a real device, driven through termios. The port number selects the
// device (devicePath). A change of line settings waits until every byte already written has
// left the port; mark and space parity are read back from the device and refused (fault 8015)
// when the device did not take them. A pseudo-terminal, which carries no parity at all, is
// accepted.
//
// From open to close the port holds the device's line lock (bw::LineLock, a flock on the
// device) and makes a real device exclusive (TIOCEXCL), taken back before the close. No lock
// file is made, opened or removed: the folders such files live in (/var/lock, /run/lock) are
// writable by every user, so a file there could hang or hold the line.
//
// Reading: the device is non-blocking with VMIN = VTIME = 0, so a read never waits; waits
// are poll() on the device with their time limit from the moment the wait began.
class DevicePort : public SerialPort {
public:
    DevicePort();
    ~DevicePort() override;

    void discardReceived() override;
    void discardUnsent() override;
    int inBufferCount() override;

    void setSettings(const QString& text) override;
    QString settings() const override { return settings_.text(); }

    void setInputMode(int mode) override;
    int inputMode() const override { return inputMode_; }
    void setInBufferSize(int size) override;
    int inBufferSize() const override { return inBufferSize_; }
    void setOutBufferSize(int size) override;
    int outBufferSize() const override { return outBufferSize_; }
    void setInputLen(int n) override;
    int inputLen() const override { return inputLen_; }

    void setCommPort(short port) override;
    short commPort() const override { return commPort_; }

    void setPortOpen(bool open) override;
    bool portOpen() const override { return fd_ >= 0; }
    bool lineBusy() const override { return lineBusy_; }
    OpenFailure openFailure() const override { return openFailure_; }
    // How long an open waits for a line another program holds (-1: lineLockWaitMs()).
    void setLineWaitMs(int ms) { lineWaitMs_ = ms; }
    // Whether a failed open is told on the diagnostic output (category
    // "brackwater.port.open"); a program that words openFailure() itself turns it off.
    void setOpenWarnings(bool on) { openWarnings_ = on; }

    void output(const QByteArray& bytes) override;
    QByteArray input() override;
    bool waitForInput(int ms) override;
    bool setReceiveParityCheck(bool on) override;

    // The device the port is open on (empty when closed).
    QString device() const { return fd_ >= 0 ? path_ : QString(); }

private:
    void requireOpen() const;
    void pull(); // moves bytes the device has received into the read buffer
    void closeDevice();
    void drain(); // waits until every written byte has left the port
    void apply(const LineSettings& s);
    void verifyParity(const LineSettings& s);
    // Records why the open failed and gives the fault to throw.
    Error refuseOpen(OpenFailure failure, int number, const QString& detail);

    int fd_ = -1;
    QByteArray received_;            // read from the device, not yet taken
    std::unique_ptr<LineLock> line_; // held from open to close
    bool lineBusy_ = false;
    OpenFailure openFailure_;
    int lineWaitMs_ = -1;
    bool openWarnings_ = true;
    bool parityCheck_ = false;
    QString path_;
    LineSettings settings_;
    int inputMode_ = 0;
    int inBufferSize_ = 1024;
    int outBufferSize_ = 512;
    int inputLen_ = 0;
    short commPort_ = 1;
};

} // namespace bw::bell

#pragma once

#include "bell/serial_port.h"
#include "platform/line_lock.h"

#include <QSerialPort>

namespace bw::bell {

// The serial port on a real device through QSerialPort. The port number selects the device
// (devicePath). A change of line settings waits until every byte already written has left
// the port; mark and space parity are read back from the device and refused (fault 8015)
// when the device did not take them. A pseudo-terminal, which carries no parity at all, is
// accepted. From open to close the port holds the device's line lock (bw::LineLock); an open
// waits for a line another program holds (on a window program's own thread it does not wait).
class QtSerialPort : public SerialPort {
public:
    QtSerialPort();
    ~QtSerialPort() override;

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
    bool portOpen() const override { return port_.isOpen(); }
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

    // The device the port is open on (empty when closed).
    QString device() const { return port_.isOpen() ? path_ : QString(); }

private:
    void requireOpen() const;
    void pull(); // moves bytes the device has received into the read buffer
    void checkReadError();
    void drain(); // waits until every written byte has left the port
    void apply(const LineSettings& s);
    bool setParity(char parity);
    void verifyParity(const LineSettings& s);
    // Records why the open failed and gives the fault to throw.
    Error refuseOpen(OpenFailure failure, int number, const QString& detail);

    QSerialPort port_;
    std::unique_ptr<LineLock> line_; // held from open to close
    bool lineBusy_ = false;
    OpenFailure openFailure_;
    int lineWaitMs_ = -1;
    bool openWarnings_ = true;
    QString path_;
    LineSettings settings_;
    int inputMode_ = 0;
    int inBufferSize_ = 1024;
    int outBufferSize_ = 512;
    int inputLen_ = 0;
    short commPort_ = 1;
};

} // namespace bw::bell

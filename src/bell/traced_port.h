#pragma once

#include "bell/serial_port.h"

#include <memory>

namespace bw::bell {

// A serial port that records every write and every read that returned bytes as a line-trace
// frame ("COM<n>"), each written byte with the ninth bit the line settings in force gave it.
// Everything else goes to the port it wraps unchanged. makePort() wraps its ports in one
// while a trace sink is installed.
class TracedPort : public SerialPort {
public:
    explicit TracedPort(std::unique_ptr<SerialPort> port) : port_(std::move(port)) {}

    void discardReceived() override { port_->discardReceived(); }
    void discardUnsent() override { port_->discardUnsent(); }
    int inBufferCount() override { return port_->inBufferCount(); }
    void setSettings(const QString& text) override;
    QString settings() const override { return port_->settings(); }
    void setInputMode(int mode) override { port_->setInputMode(mode); }
    int inputMode() const override { return port_->inputMode(); }
    void setInBufferSize(int size) override { port_->setInBufferSize(size); }
    int inBufferSize() const override { return port_->inBufferSize(); }
    void setOutBufferSize(int size) override { port_->setOutBufferSize(size); }
    int outBufferSize() const override { return port_->outBufferSize(); }
    void setInputLen(int n) override { port_->setInputLen(n); }
    int inputLen() const override { return port_->inputLen(); }
    void setCommPort(short port) override { port_->setCommPort(port); }
    short commPort() const override { return port_->commPort(); }
    void setPortOpen(bool open) override { port_->setPortOpen(open); }
    bool portOpen() const override { return port_->portOpen(); }
    bool lineBusy() const override { return port_->lineBusy(); }
    OpenFailure openFailure() const override { return port_->openFailure(); }
    void output(const QByteArray& bytes) override;
    QByteArray input() override;
    bool waitForInput(int ms) override { return port_->waitForInput(ms); }
    bool setReceiveParityCheck(bool on) override { return port_->setReceiveParityCheck(on); }

private:
    std::unique_ptr<SerialPort> port_;
    std::optional<LineSettings> settings_; // of the wrapped port, parsed once per change
};

} // namespace bw::bell

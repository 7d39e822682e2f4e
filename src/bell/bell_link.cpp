#include "bell/bell_link.h"

#include "bell/bell_frame.h"
#include "messages/catalogue.h"
#include "platform/timing.h"
#include "platform/ui.h"

#include <QElapsedTimer>
#include <cmath>

namespace bw::bell {

const QString BellLink::MachineNoError = QStringLiteral("Machine No Error");
const QString BellLink::WaitTimeOut = QStringLiteral("Wait TimeOut");

namespace {

// Seconds since start as a single-precision value.
float secondsSince(const QElapsedTimer& t) {
    return static_cast<float>(static_cast<double>(t.nsecsElapsed()) / 1e9);
}

// The address as the one byte it goes out as; Error 6 when it does not fit.
quint8 addressByte(short address) {
    if (address < 0 || address > 255)
        throw overflow();
    return static_cast<quint8>(address);
}

// Marks the link as waiting for as long as it lives.
class WaitingFlag {
public:
    explicit WaitingFlag(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~WaitingFlag() { flag_ = old_; }
    WaitingFlag(const WaitingFlag&) = delete;
    WaitingFlag& operator=(const WaitingFlag&) = delete;

private:
    bool& flag_;
    bool old_;
};

} // namespace

BellLink::BellLink() : BellLink(makePort()) {}

BellLink::BellLink(std::unique_ptr<SerialPort> port) : port_(std::move(port)) {}

BellLink::~BellLink() = default;

bool BellLink::awaitReply(int count, float limitSecs) {
    WaitingFlag w(waiting_);
    QElapsedTimer start;
    start.start();
    for (;;) {
        const float elapsed = secondsSince(start);
        if (elapsed >= limitSecs)
            return false;
        DoEvents();
        if (port_->inBufferCount() >= count)
            return true;
        block(limitSecs - elapsed);
    }
}

void BellLink::block(double remainingSecs) {
    const int ms = static_cast<int>(std::ceil(remainingSecs * 1000.0)) + 1;
    port_->waitForInput(qBound(1, ms, waitSliceMs_));
}

void BellLink::writeRequest(quint8 address, const QByteArray& data) {
    port_->output(QByteArray(1, static_cast<char>(address)));
    Sleep(1);
    port_->setSettings(frame::DataSetting);
    port_->output(data);
}

bool BellLink::isSettingsText(const QString& result) {
    return result.size() >= 122 && !result.contains(QLatin1Char(':'));
}

void BellLink::closeAfterExchange() {
    if (!keepPortOpen_ && port_->portOpen())
        port_->setPortOpen(false);
}

bool BellLink::OpenBellPort(short port) {
    openFault_.clear();
    openFaultNumber_ = 0;
    openFaultDescription_.clear();
    if (port < 1 || port > 16)
        return false;
    try {
        if (port_->portOpen())
            port_->setPortOpen(false);
        port_->setInputMode(1);
        port_->setInBufferSize(2048);
        port_->setOutBufferSize(512);
        port_->setInputLen(0);
        port_->setCommPort(port);
        port_->setPortOpen(true);
        return true;
    } catch (const Error& e) {
        openFault_ = QString::number(e.number()) + QLatin1Char(':') + e.description();
        openFaultNumber_ = e.number();
        openFaultDescription_ = e.description();
        return false;
    }
}

void BellLink::CloseBellPort() {
    if (port_->portOpen())
        port_->setPortOpen(false);
}

QString BellLink::ReadBellSettings(short address) {
    lastReadReply_.clear();
    if (address < 1 || address > 255)
        return MachineNoError;
    try {
        const auto addr = static_cast<quint8>(address);
        port_->discardReceived();
        port_->discardUnsent();
        port_->setSettings(frame::AddressSetting);
        port_->setInputMode(1);
        if (!port_->portOpen())
            port_->setPortOpen(true);
        port_->output(QByteArray(1, static_cast<char>(addr)));
        Sleep(1);
        port_->setSettings(frame::DataSetting);
        port_->output(frame::readRequest(addr));

        if (!awaitReply(frame::ReadReplyLength, 3.0f))
            return WaitTimeOut;
        port_->setInputLen(frame::ReadReplyLength);
        lastReadReply_ = port_->input();
        const auto text = frame::decodeBellSettings(lastReadReply_);
        Sleep(50);
        return text ? *text : WaitTimeOut;
    } catch (const Error& e) {
        return QString::number(e.number()) + QLatin1Char(':') + e.description();
    }
}

bool BellLink::SetBellCount(short address, short count) {
    if (address < 1 || address > 255 || count < 0 || count > 30)
        return false;
    try {
        const auto addr = static_cast<quint8>(address);
        port_->discardReceived();
        port_->setSettings(frame::AddressSetting);
        if (!port_->portOpen())
            port_->setPortOpen(true);
        writeRequest(addr, frame::setCountRequest(addr, static_cast<quint8>(count)));
        port_->setInputMode(1);
        Sleep(1);

        if (!awaitReply(frame::SetCountReplyLength, 3.0f))
            return false;
        port_->setInputLen(frame::SetCountReplyLength);
        return frame::setCountReplyOk(port_->input(), address, count);
    } catch (const Error& e) {
        MsgBox(QString::number(e.number()) + e.description(), mb::OKOnly, messages::text(1110));
        return false;
    }
}

bool BellLink::TestBellLink(short address) {
    if (!port_->portOpen())
        port_->setPortOpen(true);
    port_->discardUnsent();
    port_->discardReceived();
    port_->setSettings(frame::AddressSetting);
    const quint8 addr = addressByte(address);
    port_->output(QByteArray(1, static_cast<char>(addr)));
    Sleep(1);
    port_->discardUnsent();
    port_->setSettings(frame::DataSetting);
    port_->output(frame::testRequest(addr));

    {
        WaitingFlag w(waiting_);
        QElapsedTimer start;
        start.start();
        float elapsed = 0.0f;
        for (;;) {
            if (elapsed > testWaitSecs_ || port_->inBufferCount() >= frame::TestReplyLength)
                break;
            elapsed = secondsSince(start);
            DoEvents();
            block(testWaitSecs_ - elapsed);
        }
    }
    port_->setInputMode(1);
    port_->setInputLen(0);
    const QByteArray reply = port_->input();
    if (reply.size() < frame::TestReplyLength)
        return false;
    const bool ok = frame::testReplyOk(reply, address);
    port_->discardUnsent();
    port_->discardReceived();
    closeAfterExchange();
    return ok;
}

bool BellLink::SetMachDateTime(short address, const QDateTime& when) {
    if (!port_->portOpen())
        port_->setPortOpen(true);
    port_->discardUnsent();
    port_->discardReceived();
    port_->setSettings(frame::AddressSetting);
    const quint8 addr = addressByte(address);
    writeRequest(addr, frame::dateTimeRequest(addr, when));

    {
        WaitingFlag w(waiting_);
        QElapsedTimer start;
        start.start();
        for (;;) {
            const float elapsed = secondsSince(start);
            DoEvents();
            if (port_->inBufferCount() >= frame::DateTimeReplyLength || elapsed >= 2.0f)
                break;
            block(2.0 - elapsed);
        }
    }
    port_->setInputLen(0);
    const QByteArray reply = port_->input();
    if (reply.isEmpty())
        return false;
    const bool ok = frame::dateTimeReplyOk(reply, address);
    closeAfterExchange();
    return ok;
}

} // namespace bw::bell

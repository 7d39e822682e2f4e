#pragma once

#include "bell/serial_port.h"

#include <QDateTime>
#include <QString>
#include <memory>

namespace bw::bell {

// The bell link: the window's own serial exchange with one terminal's controller. Owns the
// window's one serial port (closed, port number 1 at creation).
//
// Each request goes out in two parts: the address byte under the address setting
// "19200,n,8,2" (ninth bit 1), then the data bytes under the data setting "19200,s,8,1"
// (ninth bit 0). Reply waits process the window's waiting events and block on the port in
// between, so a wait costs next to no processor time.
class BellLink {
public:
    // Results of ReadBellSettings other than the settings text.
    static const QString MachineNoError; // "Machine No Error": address outside 1..255
    static const QString WaitTimeOut;    // "Wait TimeOut": no complete reply in 3 s

    BellLink(); // a port from makePort()
    explicit BellLink(std::unique_ptr<SerialPort> port);
    ~BellLink();

    SerialPort& port() { return *port_; }

    // Closes and reopens the port on the given number (1..16); false when out of range
    // (port untouched) or on a fault, whose "number:description" openFault() then gives.
    bool OpenBellPort(short port);
    QString openFault() const { return openFault_; }
    // The same as data: the serial fault's number and description, and whether another
    // program held the line for the whole wait.
    int openFaultNumber() const { return openFaultNumber_; }
    QString openFaultDescription() const { return openFaultDescription_; }
    bool openLineBusy() const { return port_->lineBusy(); }
    QString openLineHolder() const { return port_->lineHolder(); }
    // Closes the port if it is open; faults go to the caller.
    void CloseBellPort();

    // The 122-character bell settings text, "Machine No Error", "Wait TimeOut", or
    // "code:description" of a serial fault.
    QString ReadBellSettings(short address);
    // True when the terminal echoed the address and the count. A serial fault shows the box
    // "code" + "description" (style 0, title message 1110) and gives false.
    bool SetBellCount(short address, short count);
    // True on the reply address, 0x55. Faults (and an address that does not fit in a byte:
    // Error 6) go to the caller.
    bool TestBellLink(short address);
    // True on the reply address, 0x81. Faults as TestBellLink.
    bool SetMachDateTime(short address, const QDateTime& when);

    // True when a ReadBellSettings result is the settings text: 122 characters or more and
    // no colon (a fault's "code:description" may be as long, with a long device path in it).
    static bool isSettingsText(const QString& result);
    // The reply bytes the last ReadBellSettings decoded (empty when it had none).
    QByteArray lastReadReply() const { return lastReadReply_; }

    // How long TestBellLink waits for the reply (500 ms unless set).
    void setTestWait(int ms) { testWaitSecs_ = static_cast<float>(ms > 0 ? ms : 1) / 1000.0f; }
    // When set, TestBellLink and SetMachDateTime leave the port open after their exchange,
    // so that one opening serves a run over many terminals.
    void setKeepPortOpen(bool keep) { keepPortOpen_ = keep; }

    // Longest single block on the port between two passes of the window's event pump.
    void setWaitSlice(int ms) { waitSliceMs_ = ms > 0 ? ms : 1; }
    // True while a command is waiting for its reply.
    bool waiting() const { return waiting_; }

private:
    void writeRequest(quint8 address, const QByteArray& data);
    void block(double remainingSecs);
    // The wait of the read and set-count exchanges: the time is tested before the receive
    // count, window events are processed on every pass. False when the limit passed first.
    bool awaitReply(int count, float limitSecs);

    std::unique_ptr<SerialPort> port_;
    void closeAfterExchange();

    int waitSliceMs_ = 10;
    bool waiting_ = false;
    float testWaitSecs_ = 0.5f;
    bool keepPortOpen_ = false;
    QString openFault_;
    int openFaultNumber_ = 0;
    QString openFaultDescription_;
    QByteArray lastReadReply_;
};

} // namespace bw::bell

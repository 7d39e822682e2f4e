#pragma once

#include "platform/error.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace bw::bell {

// Faults of the serial layer, raised as bw::Error with these numbers and descriptions:
//
//   380  "Invalid property value"                 a settings text, buffer size, input mode or
//                                                 read length that cannot be taken
//   8002 "Invalid port number"                    port number below 1 or above 255, or no
//                                                 device behind the number
//   8005 "Port already open"                      opening an open port, changing the port
//                                                 number of an open port, or the device is
//                                                 held by another program (the line stayed
//                                                 busy: lineBusy())
//   8010 "The hardware is not available"          the device exists but cannot be opened
//                                                 (access refused)
//   8012 "The device is not open"                 count, read or write on a closed port
//   8015 "Could not set the line settings: ..."   the device refused the settings, or took
//                                                 them without the mark or space parity asked
//                                                 for (the description names the device)
//   8020 "Error reading comm device"              a read failed (device gone)
//   8021 "Error writing comm device"              a write failed or did not leave the port
namespace serr {
constexpr int InvalidValue = 380;
constexpr int InvalidPort = 8002;
constexpr int PortAlreadyOpen = 8005;
constexpr int HardwareNotAvailable = 8010;
constexpr int DeviceNotOpen = 8012;
constexpr int CannotSetSettings = 8015;
constexpr int ReadError = 8020;
constexpr int WriteError = 8021;
} // namespace serr

Error serialFault(int number, const QString& detail = QString());

// A line settings text "baud,parity,data bits,stop bits", e.g. "19200,n,8,2".
struct LineSettings {
    int baud = 9600;
    char parity = 'n'; // n, e, o, m, s
    int dataBits = 8;
    int stopBits = 1; // 1 or 2

    // nullopt when the text is not a valid settings text.
    static std::optional<LineSettings> parse(const QString& text);
    QString text() const;
    // The bit that follows the data bits on the wire for a byte sent under these settings:
    // the parity bit, or the first stop bit (1) when there is no parity.
    bool ninthBit(quint8 byte) const;
};

// Why a port could not be opened, as data for the program that words it.
struct OpenFailure {
    enum class Kind {
        None,
        Busy,       // another program held the line for the whole wait (bw::LineLock)
        NoDevice,   // the port number is mapped to no device (setNoDevice)
        CannotOpen, // the device is missing, refused, or did not take the line settings
    };
    Kind kind = Kind::None;
    QString device; // the device path (empty for NoDevice)
    QString holder; // Busy: "PROGRAM (pid N)", or "another program"
    // Busy: "line DEVICE busy: held by ..."; CannotOpen: the system's reason.
    QString reason;
};

// The window's serial port, offering the operations of the MSComm control that the bell
// link drives. Every fault is raised as bw::Error (numbers above).
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // InBufferCount = 0: drops bytes received and not yet read (nothing on a closed port).
    virtual void discardReceived() = 0;
    // OutBufferCount = 0: drops bytes written and not yet sent (nothing on a closed port).
    virtual void discardUnsent() = 0;
    // InBufferCount read: bytes received and not yet read.
    virtual int inBufferCount() = 0;

    // Settings: applies to the bytes written after it, also while the port is open.
    virtual void setSettings(const QString& text) = 0;
    virtual QString settings() const = 0;

    virtual void setInputMode(int mode) = 0; // 0 text, 1 raw bytes
    virtual int inputMode() const = 0;
    virtual void setInBufferSize(int size) = 0;
    virtual int inBufferSize() const = 0;
    virtual void setOutBufferSize(int size) = 0;
    virtual int outBufferSize() const = 0;
    virtual void setInputLen(int n) = 0; // 0: a read takes every byte waiting
    virtual int inputLen() const = 0;

    virtual void setCommPort(short port) = 0; // only while closed
    virtual short commPort() const = 0;

    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    // The last open failed because another program held the line for the whole wait
    // (bw::LineLock); the fault's description then reads "line DEVICE busy: held by ...".
    virtual bool lineBusy() const { return false; }
    // Why the last open failed (Kind::None after a good one).
    virtual OpenFailure openFailure() const { return {}; }

    // Output: the bytes go out in array order.
    virtual void output(const QByteArray& bytes) = 0;
    // Input: removes and returns the bytes the read length allows (empty when fewer wait).
    virtual QByteArray input() = 0;

    // Blocks until more bytes have been received than were waiting at the call, or ms
    // milliseconds have passed. True when new bytes arrived. Never spins.
    virtual bool waitForInput(int ms) = 0;

    // Received bytes whose parity bit (under mark or space parity: the ninth bit) is wrong
    // are dropped while on; false when the port cannot check it.
    virtual bool setReceiveParityCheck(bool) { return false; }
};

// Device of a port number: set by setDevicePath, else the environment variable BW_COM<n>,
// else /dev/ttyS<n-1>; empty for a port marked by setNoDevice, which no program opens (the
// settings file names it without a device: whatever device a guess gives may be another
// line's). setDevicePath with a path takes the mark away; with an empty path it forgets the
// port's path and leaves the mark.
QString devicePath(int port);
void setDevicePath(int port, const QString& path);
void setNoDevice(int port);
// The command line's words for such a port: "cannot open COMn: the settings file names no
// device for it ([com] n=)".
QString noDeviceText(int port);
bool hasNoDevice(int port);
void clearDevicePaths(); // every path and every mark

// Where the window gets its one port from.
using PortFactory = std::function<std::unique_ptr<SerialPort>()>;
// nullptr restores the default (a DevicePort). While a line-trace sink is installed,
// makePort wraps the port in a TracedPort.
void setPortFactory(PortFactory factory);
std::unique_ptr<SerialPort> makePort();

} // namespace bw::bell

#pragma once

#include "bell/serial_port.h"

#include <QList>
#include <QString>
#include <QStringList>

// What a serial line is and what is likely wrong with it when a terminal does not answer.
// One engine for the field tool, the console and the terminal window: the facts come from the
// system's device tree (sysfs, read through SysfsTree) and, where a port is open on the line,
// from a few harmless trials on it (LineTrials). The engine only judges; callers word the
// advice in their own language from the Advice codes.
namespace bw::bell::diag {

enum class Kind { Usb, Onboard, PseudoTerminal, Other };
// Whether mark and space parity read back as set: kept, refused by the driver, not asked
// (no port), or not applicable (a pseudo-terminal carries no parity).
enum class MarkSpace { Kept, Refused, NotTried, NotApplicable };
// Where the adapter echoes what it sends (half-duplex RS-485 without echo suppression),
// whether the echo carried the ninth bit as sent.
enum class Echo { None, NinthBitKept, NinthBitLost, NotTried };
// Whether tcdrain returned only after the wire time of what was written had passed.
enum class Drain { OnTime, Early, NotTried };

enum class Advice {
    NoDevice,          // the name has no device behind it
    PseudoTerminal,    // a pseudo-terminal: no wire, no parity (the simulator's line)
    MarkSpaceRefused,  // the driver refuses mark/space parity: no ninth bit at all
    MarkSpaceIgnored,  // a chip known to report mark/space set while sending neither
    EchoLosesNinthBit, // the echo shows data bytes going out with the ninth bit wrong
    DrainEarly,        // tcdrain returns before the bytes left: the parity switch cuts them
    LatencyTimer,      // FTDI latency timer above 1 ms: replies arrive late
    LatencyFixable,    // ... and this user may set it to 1 ms
    Unknown,           // nothing wrong found on the computer's side: wiring, address, power
};

// A chip known to put the ninth bit at risk, by USB vendor and product id.
struct KnownChip {
    const char* vendorId;
    const char* productId;
    const char* chip;
    Advice risk;
};
const QList<KnownChip>& knownChips();
const KnownChip* knownChip(const QString& vendorId, const QString& productId);

// The device tree below a root folder: /sys, or $BW_SYSFS_ROOT (recorded trees in tests).
class SysfsTree {
public:
    explicit SysfsTree(QString root = QString()); // empty: $BW_SYSFS_ROOT, else /sys
    QString root() const { return root_; }
    // The first line of a small attribute file, trimmed; empty when it cannot be read.
    QString read(const QString& path) const;
    // The real path of a link or folder below the root, as a path below the root.
    QString resolve(const QString& path) const;
    bool writable(const QString& path) const;
    // The tty names (ttyS0, ttyUSB0, ...) that have a device behind them.
    QStringList ttys() const;

private:
    QString root_;
};

// What the device tree says of one line.
struct Facts {
    QString device; // as given, e.g. /dev/ttyUSB0
    QString tty;    // ttyUSB0
    Kind kind = Kind::Other;
    QString driver;    // ftdi_sio, ch341-uart, cp210x, pl2303, cdc_acm, serial8250, ...
    QString vendorId;  // four hexadecimal digits, USB only
    QString productId; // USB only
    QString product;   // the adapter's own name, USB only
    QString manufacturer;
    QString serialNumber;
    int latencyMs = -1; // FTDI's latency timer, -1 when the device has none
    QString latencyPath;
    bool latencyWritable = false;
    bool exists = true;
};
Facts facts(const QString& device, const SysfsTree& sys);
// The serial devices of this computer (/dev/NAME for every tty the tree has hardware for).
QList<Facts> serialDevices(const SysfsTree& sys);
// A device's adapter in a few words: its product name, else its driver.
QString adapterText(const Facts& f);

// Trials on an open port of the line.
class LineTrials {
public:
    virtual ~LineTrials() = default;
    virtual MarkSpace markSpace() = 0;
    virtual Echo echo() = 0;
    virtual Drain drain() = 0;
};

// The trials over the serial port (opened by the caller, left open with the data setting):
// mark and space parity read back; an address byte no terminal has (0) and two data bytes
// sent, their echo looked for; 64 data bytes after that address, timed to their tcdrain.
class PortTrials : public LineTrials {
public:
    explicit PortTrials(SerialPort& port) : port_(port) {}
    MarkSpace markSpace() override;
    Echo echo() override;
    Drain drain() override;

private:
    SerialPort& port_;
};

struct Report {
    Facts facts;
    MarkSpace markSpace = MarkSpace::NotTried;
    Echo echo = Echo::NotTried;
    Drain drain = Drain::NotTried;
    const KnownChip* chip = nullptr;
    QList<Advice> advice; // most likely first; never empty
};
// trials may be null (only the device tree is read).
Report diagnose(const QString& device, const SysfsTree& sys, LineTrials* trials);

// Sets FTDI's latency timer to 1 ms; false when it could not be written.
bool setLatencyOneMs(const Facts& f);

// The operator's words for a report, in the user-interface language (2052 or 1028): what
// the line is, then what is likely wrong and what to do, most likely first.
QString operatorText(const Report& r, int lang);

// The words of the tool (English) for each value.
QString kindText(Kind k);
QString markSpaceText(MarkSpace m);
QString echoText(Echo e);
QString drainText(Drain d);
QString adviceText(Advice a, const Facts& f);

} // namespace bw::bell::diag

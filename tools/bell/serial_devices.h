#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace bw::tool {

// A serial device of this computer.
struct SerialDevice {
    QString device; // e.g. /dev/ttyUSB0
    QString description;
    QString manufacturer;
    QString serialNumber;
    QString byId;       // its /dev/serial/by-id name, when it has one
    bool listed = true; // reported by the system's serial device list (false: a mapped device
                        // such as a pseudo-terminal)
};

// The system's serial devices, then every one of `mapped` that exists and is not among them.
QList<SerialDevice> serialDevices(const QStringList& mapped);

// The /dev/serial/by-id name of a device; empty when it has none.
QString byIdName(const QString& device);

// Whether a device keeps mark and space parity when asked for it, found by opening it briefly
// through the bell link's serial port.
struct ParityProbe {
    enum Result { Kept, Ignored, CannotOpen } result = CannotOpen;
    QString reason; // why it could not be opened, or the fault naming the parity ignored
};
ParityProbe probeMarkSpace(const QString& device);

} // namespace bw::tool

#include "tools/bell/serial_devices.h"

#include "bell/device_port.h"
#include "bell/line_diagnosis.h"
#include "platform/line_lock.h"

#include <QDir>
#include <QFileInfo>

namespace bw::tool {

namespace {

constexpr char ByIdFolder[] = "/dev/serial/by-id";
// The port number the probe borrows to reach a device through the serial layer.
constexpr short ProbePort = 255;

} // namespace

QString byIdName(const QString& device) {
    const QString target = QFileInfo(device).canonicalFilePath();
    if (target.isEmpty())
        return {};
    const QDir dir(QString::fromLatin1(ByIdFolder));
    for (const QFileInfo& link : dir.entryInfoList(QDir::System | QDir::Files, QDir::Name))
        if (link.canonicalFilePath() == target)
            return link.absoluteFilePath();
    return {};
}

QList<SerialDevice> serialDevices(const QStringList& mapped) {
    QList<SerialDevice> devices;
    QStringList known;
    const bell::diag::SysfsTree sys;
    for (const bell::diag::Facts& f : bell::diag::serialDevices(sys)) {
        SerialDevice d;
        d.device = f.device;
        d.description = bell::diag::adapterText(f);
        d.manufacturer = f.manufacturer;
        d.serialNumber = f.serialNumber;
        d.byId = byIdName(d.device);
        known << QFileInfo(d.device).canonicalFilePath();
        devices << d;
    }
    for (const QString& path : mapped) {
        const QString canonical = QFileInfo(path).canonicalFilePath();
        if (canonical.isEmpty() || known.contains(canonical))
            continue;
        known << canonical;
        SerialDevice d;
        d.device = path;
        d.byId = byIdName(path);
        d.listed = false;
        devices << d;
    }
    return devices;
}

ParityProbe probeMarkSpace(const QString& device) {
    ParityProbe probe;
    bell::setDevicePath(ProbePort, device);
    bell::DevicePort port;
    // A line another program holds is reported busy at once, not waited for.
    const int waitMs = lineLockWaitMs();
    setLineLockWaitMs(0);
    try {
        port.setCommPort(ProbePort);
        port.setPortOpen(true);
        setLineLockWaitMs(waitMs);
    } catch (const Error& e) {
        setLineLockWaitMs(waitMs);
        bell::setDevicePath(ProbePort, QString());
        const QString reason = port.openFailure().reason;
        probe.reason = reason.isEmpty() ? e.description() : reason;
        return probe;
    }
    try {
        port.setSettings(QStringLiteral("19200,m,8,1"));
        port.setSettings(QStringLiteral("19200,s,8,1"));
        probe.result = ParityProbe::Kept;
    } catch (const Error& e) {
        probe.result = ParityProbe::Ignored;
        probe.reason = e.description();
    }
    port.setPortOpen(false);
    bell::setDevicePath(ProbePort, QString());
    return probe;
}

} // namespace bw::tool

#include "bell/serial_port.h"

#include "bell/device_port.h"
#include "bell/traced_port.h"
#include "platform/line_trace.h"

#include <QMap>
#include <QSet>
#include <QStringList>

namespace bw::bell {

Error serialFault(int number, const QString& detail) {
    QString text;
    switch (number) {
    case serr::InvalidValue:
        text = QStringLiteral("Invalid property value");
        break;
    case serr::InvalidPort:
        text = QStringLiteral("Invalid port number");
        break;
    case serr::PortAlreadyOpen:
        text = QStringLiteral("Port already open");
        break;
    case serr::HardwareNotAvailable:
        text = QStringLiteral("The hardware is not available");
        break;
    case serr::DeviceNotOpen:
        text = QStringLiteral("The device is not open");
        break;
    case serr::CannotSetSettings:
        text = QStringLiteral("Could not set the line settings");
        break;
    case serr::ReadError:
        text = QStringLiteral("Error reading comm device");
        break;
    case serr::WriteError:
        text = QStringLiteral("Error writing comm device");
        break;
    default:
        text = QStringLiteral("Serial port fault");
    }
    if (!detail.isEmpty())
        text += QStringLiteral(": ") + detail;
    return Error(number, text);
}

std::optional<LineSettings> LineSettings::parse(const QString& text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.baud = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baud <= 0)
        return std::nullopt;
    const QString p = parts[1].trimmed().toLower();
    if (p.size() != 1 || !QStringLiteral("neoms").contains(p))
        return std::nullopt;
    s.parity = p.at(0).toLatin1();
    s.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        return std::nullopt;
    s.stopBits = parts[3].trimmed().toInt(&ok);
    if (!ok || (s.stopBits != 1 && s.stopBits != 2))
        return std::nullopt;
    return s;
}

QString LineSettings::text() const {
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baud)
        .arg(QLatin1Char(parity))
        .arg(dataBits)
        .arg(stopBits);
}

bool LineSettings::ninthBit(quint8 byte) const {
    const bool odd = (qPopulationCount(byte) & 1) != 0;
    switch (parity) {
    case 'e':
        return odd; // makes the count of ones even
    case 'o':
        return !odd;
    case 'm':
        return true;
    case 's':
        return false;
    default:
        return true; // no parity: the first stop bit
    }
}

namespace {

QMap<int, QString>& devicePaths() {
    static QMap<int, QString> paths;
    return paths;
}

QSet<int>& noDevicePorts() {
    static QSet<int> ports;
    return ports;
}

PortFactory& factory() {
    static PortFactory f;
    return f;
}

} // namespace

QString devicePath(int port) {
    if (noDevicePorts().contains(port))
        return QString();
    const auto it = devicePaths().constFind(port);
    if (it != devicePaths().constEnd())
        return it.value();
    const QByteArray env = qgetenv(QStringLiteral("BW_COM%1").arg(port).toLatin1().constData());
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
}

void setDevicePath(int port, const QString& path) {
    if (path.isEmpty())
        devicePaths().remove(port);
    else {
        devicePaths().insert(port, path);
        noDevicePorts().remove(port);
    }
}

QString noDeviceText(int port) {
    return QStringLiteral("cannot open COM%1: the settings file names no device for it ([com] %1=)")
        .arg(port);
}

void setNoDevice(int port) {
    devicePaths().remove(port);
    noDevicePorts().insert(port);
}

bool hasNoDevice(int port) {
    return noDevicePorts().contains(port);
}

void clearDevicePaths() {
    devicePaths().clear();
    noDevicePorts().clear();
}

void setPortFactory(PortFactory f) {
    factory() = std::move(f);
}

std::unique_ptr<SerialPort> makePort() {
    std::unique_ptr<SerialPort> port = factory() ? factory()() : std::make_unique<DevicePort>();
    if (port && trace::enabled())
        return std::make_unique<TracedPort>(std::move(port));
    return port;
}

} // namespace bw::bell

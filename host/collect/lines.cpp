#include "host/collect/lines.h"

#include "bell/serial_port.h"
#include "connect/connection_choice.h"
#include "host/link/link.h"
#include "platform/error.h"

#include <QFileInfo>

namespace bw::host::collect {

namespace {

// The line a port text names: the device behind a COM number (links followed, so two names
// of one device are one line); an empty name for a TCP/IP terminal or a text naming nothing.
QString serialLineOf(const QString& port) {
    try {
        const connect::ConnectionChoice choice = connect::chooseConnection(port);
        if (choice.tcp || choice.port < 1)
            return QString();
        const QString device = bell::devicePath(choice.port);
        const QString real = QFileInfo(device).canonicalFilePath();
        return real.isEmpty() ? device : real;
    } catch (const Error&) {
        return QString();
    }
}

} // namespace

QList<TerminalLine> linesOf(const QList<TerminalEntry>& terminals) {
    QList<TerminalLine> lines;
    for (int i = 0; i < terminals.size(); ++i) {
        const QString device = serialLineOf(terminals[i].port);
        auto it = std::find_if(lines.begin(), lines.end(), [&](const TerminalLine& l) {
            return l.serial && !device.isEmpty() && l.name == device;
        });
        if (it == lines.end()) {
            TerminalLine line;
            line.serial = !device.isEmpty();
            line.name = line.serial ? device : terminals[i].port;
            lines << line;
            it = std::prev(lines.end());
        }
        it->members << i;
    }
    return lines;
}

bool openLink(Link& link, const QString& port, QString& error) {
    try {
        const connect::ConnectionChoice choice = connect::chooseConnection(port);
        connect::applyChoice(link, choice);
        short number = choice.port;
        if (link.SetPort(number))
            return true;
        error = link.lastError();
    } catch (const Error&) {
    }
    if (error.isEmpty())
        error = QStringLiteral("the port \"%1\" names no serial port or address").arg(port);
    return false;
}

} // namespace bw::host::collect

#pragma once

#include "host/collect/meal_store.h"

#include <QList>
#include <QString>
#include <functional>

namespace bw::host {
class Link;
}

namespace bw::host::collect {

// Terminals that share one wire: every terminal of a serial device (two COM numbers of the
// same device are one line), or one TCP/IP terminal alone.
struct TerminalLine {
    QString name; // the device path, or the terminal's address text for TCP/IP
    bool serial = false;
    QList<int> members; // indexes into the terminal list, in its order
};

// The lines of terminals, in the order of their first terminal.
QList<TerminalLine> linesOf(const QList<TerminalEntry>& terminals);

// Opens link to the terminal behind a port text ("COM<n>" or an IP address); false with the
// reason in error: the device or address and the system's reason, or the program that held
// the serial line throughout the wait.
bool openLink(Link& link, const QString& port, QString& error);

} // namespace bw::host::collect

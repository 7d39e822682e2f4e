#pragma once

#include <QList>
#include <QString>

namespace bw::tool {

// One model-6429 terminal of the register (table MachineInfo).
struct RegisteredTerminal {
    int address = 0; // MachAddr
    QString comX;    // ComX: the serial port number
    QString ip;      // IP: "*" for a terminal on a serial port

    // A terminal on a serial port, not reached by TCP/IP.
    bool serial() const;
    // The serial port number 1..16 of ComX; 0 when ComX holds none.
    int port() const;
};

// The model-6429 terminals of the register, in address order. A database that cannot be
// opened or read raises bw::Error; a missing SQLite file is never created.
QList<RegisteredTerminal> readRegister(const QString& connectionString);

} // namespace bw::tool

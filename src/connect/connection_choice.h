#pragma once

#include <QString>

namespace bw {
class IConnect;
}

namespace bw::connect {

// How the connect component reaches a terminal, chosen from the port text of Cbo_COM:
// 7 or more characters is TCP/IP at that address (mode 1, tcpPort 1001, port 0);
// fewer is a serial port whose number stands from the 4th character on (mode 0).
struct ConnectionChoice {
    bool tcp = false;
    short mode = 0;
    QString ip;
    short tcpPort = 0;
    short port = 0;
};

// Raises Error 13 (Type mismatch) or 6 (Overflow) when a serial port text has no
// 16-bit number from its 4th character on ("COM" alone, "COMx").
ConnectionChoice chooseConnection(const QString& portText);

// Writes mode, and for TCP/IP IP and tcpPort, to the connect component.
void applyChoice(IConnect& link, const ConnectionChoice& choice);

} // namespace bw::connect

#include "connect/connection_choice.h"

#include "platform/convert.h"
#include "platform/interfaces.h"
#include "platform/port_text.h"

namespace bw::connect {

namespace {
constexpr short kModeSerial = 0;
constexpr short kModeTcp = 1;
constexpr short kTcpPort = 1001;
} // namespace

ConnectionChoice chooseConnection(const QString& portText) {
    ConnectionChoice choice;
    if (isIpAddressText(portText)) {
        choice.tcp = true;
        choice.mode = kModeTcp;
        choice.ip = portText;
        choice.tcpPort = kTcpPort;
        choice.port = 0;
    } else {
        choice.tcp = false;
        choice.mode = kModeSerial;
        // "COM3" -> 3; "COM" alone leaves an empty text, which is a type mismatch.
        choice.port = CInt(Mid(portText, 4));
    }
    return choice;
}

void applyChoice(IConnect& link, const ConnectionChoice& choice) {
    link.mode(choice.mode);
    if (choice.tcp) {
        link.IP(choice.ip);
        link.tcpPort(choice.tcpPort);
    }
}

} // namespace bw::connect

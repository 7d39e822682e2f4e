#pragma once

#include "bell/serial_port.h"

#include <QBitArray>
#include <QByteArray>
#include <QString>

// How a request goes over a multi-drop line of model-6429 terminals: its first byte, the
// terminal's address, goes out with the ninth bit set, every other byte with it clear. A
// terminal listens from a byte with the ninth bit set on, and only when that byte is its
// address. The bell link and the connect link both send their requests through send().
namespace bw::bell::ninth {

// The address byte goes out under the address setting: no parity and two stop bits, the
// first stop bit being the ninth bit (1). The data bytes go out under the data setting:
// space parity, the parity bit being the ninth bit (0).
inline const QString AddressSetting = QStringLiteral("19200,n,8,2");
inline const QString DataSetting = QStringLiteral("19200,s,8,1");

// Sends request (address byte first) on an open port: the address byte under the address
// setting, then, once it has left the port, the rest under the data setting; pauseMs is a
// pause between the two. Faults of the port (bw::Error) go to the caller.
void send(SerialPort& port, const QByteArray& request, int pauseMs = 0);

// The ninth bit send() gives each byte of request, as the two settings give it.
QBitArray bits(const QByteArray& request);

} // namespace bw::bell::ninth

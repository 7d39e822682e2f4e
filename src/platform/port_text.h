#pragma once

#include <QString>

namespace bw {

// A terminal's port text is either "COM" followed by a serial port number or the IP address
// of a terminal reached by TCP/IP. The one rule that tells them apart, wherever a port text
// or a stored IP column is read: 7 or more characters is an IP address ("1.2.3.4" is one),
// fewer is a serial port (a serial terminal's IP column holds "*").
bool isIpAddressText(const QString& text);

} // namespace bw

#pragma once

#include <QString>

namespace bw::host {

// A text from a register, a terminal or the system made safe for a terminal window: control
// characters (C0, DEL, C1 and the Unicode line and paragraph separators) become \xHH or \uHHHH,
// a backslash stays as it is.
QString printable(const QString& text);

} // namespace bw::host

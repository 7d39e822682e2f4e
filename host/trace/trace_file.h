#pragma once

#include <QString>

namespace bw::host {

// Starts the line trace: every frame of the window's bell link and of the connect component
// is appended to the file, one line each (see docs/line-trace.md). Lines are written through
// a buffer that is handed to the system at most every 100 ms and when the trace ends, never
// synced to the disk per line. Returns an error text, empty on success; an empty path stops
// the trace.
QString startLineTrace(const QString& path);
void stopLineTrace();

} // namespace bw::host

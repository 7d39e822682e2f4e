#pragma once

#include <QString>

namespace bw::host {

// A text from a register, a terminal or the system made safe for a terminal window: control
// characters (C0, DEL, C1, the Unicode line and paragraph separators and the bidirectional
// controls) become \xHH or \uHHHH, a backslash stays as it is.
QString printable(const QString& text);

// A line on standard output, made printable, written out at once.
void sayLine(const QString& line);
// "PROGRAM: message" on standard error, made printable; returns code, the exit status.
int failWith(const char* program, int code, const QString& message);

// Whether standard error is the systemd journal's stream: JOURNAL_STREAM names the device and
// inode of the stream systemd gave the service, and standard error is still that one.
bool stderrIsJournal();
// "PROGRAM: message" on standard error at priority err: with the "<3>" the journal takes as
// that priority when standard error is the journal's stream, a plain line otherwise.
void alertLine(const char* program, const QString& message);

} // namespace bw::host

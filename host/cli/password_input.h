#pragma once

#include <QString>
#include <optional>

namespace bw::host {

// A password for a command-line program, never from its command line: the first line of
// standard input (fromStdin), else typed on the controlling terminal without echo, twice when
// confirm asks for it. nullopt with the reason in error when there is none to be had (no
// terminal, the two differ, an empty password).
std::optional<QString> readPassword(bool fromStdin, const QString& prompt, bool confirm,
                                    QString& error);

} // namespace bw::host

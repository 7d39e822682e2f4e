#pragma once

#include "host/app/host_options.h"

#include <QString>

namespace bw::host {

// Registers the component and every default host component under their ProgIDs.
void registerDefaultComponents();

// Applies the language (with Qt's own texts in it), serial-device, TCP-port and bell-section
// choices of the command line.
void applyLineOptions(const HostOptions& options);

// Points the database tools at the chosen database. A new SQLite file (the embedded default
// or a --db path that does not exist yet) gets the host schema and the demo data; an existing
// database gets any missing host table, and the demo data too with --demo when it has no
// terminal yet. Returns an error text, empty on success.
QString prepareDatabase(const HostOptions& options);

} // namespace bw::host

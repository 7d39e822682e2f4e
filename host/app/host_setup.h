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
// terminal yet. Returns why the database cannot be used, empty on success.
QString prepareDatabase(const HostOptions& options);

// The operator's message, in lang's language, for a host database that cannot be opened:
// which one (its password masked), why, and where the settings file is.
QString databaseProblemText(const QString& connection, const QString& reason,
                            const QString& settingsFile, int lang);

// Tells the operator that the chosen host database cannot be opened, and why: on the
// diagnostic output and in a box in the user-interface language. Returns the exit code.
int reportDatabaseProblem(const QString& reason);

} // namespace bw::host

#pragma once

#include "host/cli/host_options.h"

#include <QString>

namespace bw::host {

// Registers the component and every default host component under their ProgIDs.
void registerDefaultComponents();

// Applies the language (with Qt's own texts in it), serial-device, TCP-port and bell-section
// choices of the command line.
void applyLineOptions(const HostOptions& options);

// Points the database tools at the chosen database. A new database is made, with the host
// schema, only where one is meant: the embedded default's first start and --demo. It holds no
// terminals, cards or operators but its first administrator, unless the demo is asked for
// (--demo, or --sim on the embedded default), which also puts the demo data into a database
// without terminals. Any other database must hold the register's tables already, and gets the
// host's own tables it lacks. Returns why the database cannot be used, empty on success.
QString prepareDatabase(const HostOptions& options);

// An account outside group brackwater on an installed system, given no database of its own
// choosing (and not the demo): tells it, on the diagnostic output and in a box in its
// language, that it must join the group, and returns true.
bool refuseOutsider(const HostOptions& options);

// Offers once to move the account's own database from before into the site's, when the site's
// is in use and holds nothing yet: every table, or nothing (the answer is kept beside the
// account's database, which stays as it is either way).
void offerOwnDatabase(const HostOptions& options);

// The operator's message, in lang's language, for a host database that cannot be opened:
// which one (its password masked), why, and where the settings file is.
QString databaseProblemText(const QString& connection, const QString& reason,
                            const QString& settingsFile, int lang);

// Tells the operator that the chosen host database cannot be opened, and why: on the
// diagnostic output and in a box in the user-interface language. Returns the exit code.
int reportDatabaseProblem(const QString& reason);

} // namespace bw::host

#pragma once

#include "platform/ado.h"

#include <QStringList>

namespace bw::store {
class SqlConnection;
}

namespace bw::host {

// The register's tables, which every host database holds: the terminals, their card lists and
// the operation log. A database without them is not the host's (an empty file, another
// program's database); only a new database gets them made.
QStringList missingRegisterTables(store::SqlConnection& cn);
// Raises store::dberr::NoTable naming the missing register tables, if any.
void requireRegister(store::SqlConnection& cn);

// An existing host database: the register must be there (requireRegister), and the tables of
// the host's own that are missing (MealRecord, SiteStep, ... of an older database) are added.
void completeHostSchema(store::SqlConnection& cn);

// A new database: creates the host's tables where they are missing (MachineInfo, CardMapping,
// CardMappingTmp, CtrlLog, UserGrants, MealRecord, SiteStep, TerminalStation), in SQL that SQLite
// and PostgreSQL
// both take. With demo data, an empty MachineInfo gets a few terminals, card mappings and the
// grants of the demo users "admin" (everything) and "guest" (communication test, clock setting and
// collecting without clearing).
void createHostSchema(Connection& cn, bool withDemoData);

// The column that numbers the rows of the log and the routine's steps in the order they were
// written: SQLite's rowid, the Seq the schema gives PostgreSQL's tables; empty for another
// engine.
QString writeOrderColumn(const store::SqlConnection& cn);

// Whether a host database holds what a site has done: a terminal, a card, an employee, a meal
// record or a log entry (its operators alone are what a new database is made with). The file
// form opens the SQLite file, which must hold the register's tables.
bool holdsSiteData(store::SqlConnection& cn);
bool holdsSiteData(const QString& file);

// Moves the rows of every table of the SQLite file `from` into the same tables of cn's SQLite
// database, replacing theirs, in one transaction (the columns both have; the file is left as
// it is). Raises the database's error; nothing is changed then.
void moveDatabaseInto(store::SqlConnection& cn, const QString& from);

// The caption the demo grants are written for.
inline constexpr const char* kDemoCaption = "就餐机管理";

} // namespace bw::host

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

// The caption the demo grants are written for.
inline constexpr const char* kDemoCaption = "就餐机管理";

} // namespace bw::host

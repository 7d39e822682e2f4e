#pragma once

#include "platform/ado.h"

namespace bw::host {

// Creates the host's tables where they are missing (MachineInfo, CardMapping, CardMappingTmp,
// CtrlLog, UserGrants, MealRecord, SiteStep, TerminalStation), in SQL that SQLite and PostgreSQL
// both take. With demo data, an empty MachineInfo gets a few terminals, card mappings and the
// grants of the demo users "admin" (everything) and "guest" (communication test, clock setting and
// collecting without clearing).
void createHostSchema(Connection& cn, bool withDemoData);

// The caption the demo grants are written for.
inline constexpr const char* kDemoCaption = "就餐机管理";

} // namespace bw::host

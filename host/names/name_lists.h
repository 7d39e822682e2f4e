#pragma once

#include "store/sql_connection.h"

#include <QStringList>

namespace bw::host::names {

// The cards of the CardMapping rows whose MachAddr is address: the list the terminal should
// hold, normalised (eight digits, sorted, each once).
QStringList cardsOf(store::SqlConnection& cn, int address);

} // namespace bw::host::names

#pragma once

#include "host/names/cards.h"
#include "host/names/employees.h"

#include <QString>

namespace bw::host::site {

// The operation log's entry of a change of a terminal's cards (the console's window and
// brackwater-site write the same), in the operator's language; raises bw::Error when the
// database refuses it, which undoes the change it is written in.
void logCardChange(store::SqlConnection& cn, const QString& user, int terminal,
                   const names::CardChange& change);

// The same for a change of the register of employees (object: the employee, or the card).
void logRegisterChange(store::SqlConnection& cn, const QString& user,
                       const names::RegisterChange& change);

} // namespace bw::host::site

#pragma once

#include "store/sql_connection.h"

#include <QHash>
#include <QList>
#include <QStringList>

namespace bw::host::names {

// The cards of the CardMapping rows whose MachAddr is address: the list the terminal should
// hold, normalised (eight digits, sorted, each once).
QStringList cardsOf(store::SqlConnection& cn, int address);

// The lists of these terminals, read together (one query for up to 500 terminals) and each
// normalised as cardsOf's: a terminal without cards has an empty list.
QHash<int, QStringList> cardsOfEach(store::SqlConnection& cn, const QList<int>& addresses);

} // namespace bw::host::names

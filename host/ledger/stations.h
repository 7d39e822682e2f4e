#pragma once

#include <QHash>
#include <QList>
#include <QString>

namespace bw::store {
class SqlConnection;
}

// Several workstations on one register: each terminal is worked by the workstation the
// register's TerminalStation names, or by any when it names none. A workstation knows itself
// by a name: the computer's host name unless the settings or the command line give another.
namespace bw::host {

// The longest workstation name taken.
constexpr int MaxWorkstationName = 64;

// Whether text is a workstation name: 1 to MaxWorkstationName printable characters, without
// space at either end.
bool isWorkstationName(const QString& text);

// This program's workstation: the one set, else the host name (a host name that is no
// workstation name gives "localhost").
QString workstation();
// Sets this program's workstation for the run; an empty or invalid name puts the host name back.
void setWorkstation(const QString& name);

// The register's assignments: terminal number to workstation name. A database without the
// table, or one that cannot be read, has none; rows with no terminal number are left out.
QHash<int, QString> readStations(store::SqlConnection& cn);
// The workstation of one terminal ("" for none), read at the moment of asking.
QString stationOf(store::SqlConnection& cn, int terminal);

// Whether this workstation works a terminal assigned to `station` ("" for none).
bool worksHere(const QString& station);

// Assigns the terminals to station, or to none when station is empty, in one transaction.
// Throws bw::Error when the database refuses.
void assignStation(store::SqlConnection& cn, const QList<int>& terminals, const QString& station);

} // namespace bw::host

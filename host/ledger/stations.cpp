#include "host/ledger/stations.h"

#include "platform/error.h"
#include "store/sql_connection.h"

#include <QMutex>
#include <QSysInfo>
#include <algorithm>
#include <cmath>

namespace bw::host {

namespace {

QMutex nameLock;
QString chosenName; // guarded by nameLock; empty: the host name

QString hostName() {
    const QString host = QSysInfo::machineHostName();
    return isWorkstationName(host) ? host : QStringLiteral("localhost");
}

// A MachAddr value as a terminal number: a whole number from 1 to 255, else 0.
int terminalNumber(const QVariant& value) {
    bool ok = false;
    const double n = value.toString().trimmed().toDouble(&ok);
    return ok && n >= 1 && n <= 255 && n == std::floor(n) ? int(n) : 0;
}

} // namespace

bool isWorkstationName(const QString& text) {
    if (text.isEmpty() || text.size() > MaxWorkstationName || text.trimmed() != text)
        return false;
    return std::all_of(text.cbegin(), text.cend(), [](QChar c) {
        return c.isPrint() && c.category() != QChar::Separator_Line &&
               c.category() != QChar::Separator_Paragraph;
    });
}

QString workstation() {
    {
        const QMutexLocker lock(&nameLock);
        if (!chosenName.isEmpty())
            return chosenName;
    }
    return hostName();
}

void setWorkstation(const QString& name) {
    const QMutexLocker lock(&nameLock);
    chosenName = isWorkstationName(name) ? name : QString();
}

QHash<int, QString> readStations(store::SqlConnection& cn) {
    QHash<int, QString> out;
    QVector<QVariantList> rows;
    try {
        rows = cn.queryBound(QStringLiteral("SELECT MachAddr, Station FROM TerminalStation"));
    } catch (const Error&) {
        return out; // a register older than the workstations: every terminal is anyone's
    }
    for (const QVariantList& row : rows) {
        const int n = terminalNumber(row.value(0));
        // A name written by hand that is no workstation name is still some other one's.
        const QString station = row.value(1).toString();
        if (n != 0 && !station.isEmpty())
            out.insert(n, station);
    }
    return out;
}

QString stationOf(store::SqlConnection& cn, int terminal) {
    try {
        const auto rows = cn.queryBound(
            QStringLiteral("SELECT Station FROM TerminalStation WHERE MachAddr = ?"), {terminal});
        return rows.isEmpty() ? QString() : rows.first().value(0).toString();
    } catch (const Error&) {
        return QString();
    }
}

bool worksHere(const QString& station) {
    return station.isEmpty() || station == workstation();
}

void assignStation(store::SqlConnection& cn, const QList<int>& terminals, const QString& station) {
    if (!station.isEmpty() && !isWorkstationName(station))
        throw Error(err::InvalidProcedureCall, QStringLiteral("not a workstation name"));
    cn.BeginTrans();
    try {
        for (int n : terminals) {
            cn.executeBound(QStringLiteral("DELETE FROM TerminalStation WHERE MachAddr = ?"), {n});
            if (!station.isEmpty())
                cn.executeBound(
                    QStringLiteral("INSERT INTO TerminalStation (MachAddr, Station) VALUES (?, ?)"),
                    {n, station});
        }
        cn.CommitTrans();
    } catch (...) {
        cn.RollbackTrans();
        throw;
    }
}

} // namespace bw::host

#pragma once

#include "host/report/report_writer.h"
#include "host/settings/settings.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

namespace bw::store {
class SqlConnection;
}

// The month's files that make themselves: with [report] out-dir set, the first nightly run of a
// month writes last month's workbook and payroll file into that folder, once (MonthFiles keeps
// which months are made).
namespace bw::host::report {

struct MadeMonth {
    QString month; // yyyy-MM
    QDateTime madeAt;
    QString workbook;
    QString payroll;
};
// The months made, newest first; none when the database has no MonthFiles.
QList<MadeMonth> madeMonths(store::SqlConnection& cn);

struct MonthFilesOutcome {
    enum class State { NotSet, MadeAlready, Made, Failed } state = State::NotSet;
    MadeMonth made;  // Made, MadeAlready: the month (and, Made, its files)
    QString failure; // Failed: the file and the system's reason, or the database's
};
// Makes last month's files for today when they are due; the files are written whole or not at
// all, and the month is marked made only when both are. Raises nothing.
MonthFilesOutcome makeLastMonthFiles(store::SqlConnection& cn, const Settings& settings,
                                     const QDate& today, int lang);

} // namespace bw::host::report

#include "host/report/month_files.h"

#include "platform/error.h"
#include "store/ctrl_log.h"
#include "store/sql_connection.h"

#include <QDir>

namespace bw::host::report {

QList<MadeMonth> madeMonths(store::SqlConnection& cn) {
    QList<MadeMonth> out;
    try {
        for (const QVariantList& row : cn.queryBound(
                 QStringLiteral("SELECT Month, MadeAt, Workbook, Payroll FROM MonthFiles ORDER BY "
                                "Month DESC")))
            out << MadeMonth{row.value(0).toString(), row.value(1).toDateTime(),
                             row.value(2).toString(), row.value(3).toString()};
    } catch (const Error& e) {
        if (e.number() != store::dberr::CommandFailed)
            throw;
    }
    return out;
}

MonthFilesOutcome makeLastMonthFiles(store::SqlConnection& cn, const Settings& settings,
                                     const QDate& today, int lang) {
    MonthFilesOutcome out;
    if (settings.reportOutDir.isEmpty())
        return out;
    const QDate month = QDate(today.year(), today.month(), 1).addMonths(-1);
    out.made.month = month.toString(QStringLiteral("yyyy-MM"));
    try {
        const auto rows = cn.queryBound(
            QStringLiteral("SELECT COUNT(*) FROM MonthFiles WHERE Month = ?"), {out.made.month});
        if (!rows.isEmpty() && rows.first().value(0).toInt() > 0) {
            out.state = MonthFilesOutcome::State::MadeAlready;
            return out;
        }
        Request rq;
        rq.month = month;
        rq.windows = mealWindows(settings);
        const MonthReport report = readMonthReport(cn, rq);
        const QDir dir(settings.reportOutDir);
        out.made.workbook = dir.filePath(QStringLiteral("meals-%1.xlsx").arg(out.made.month));
        out.made.payroll = dir.filePath(QStringLiteral("payroll-%1.csv").arg(out.made.month));
        for (const auto& [path, fault] :
             {std::make_pair(out.made.workbook, writeReport(reportTables(report, lang),
                                                            out.made.workbook, Format::Xlsx)),
              std::make_pair(out.made.payroll,
                             writePayroll(report, pricesOf(settings), out.made.payroll, lang))}) {
            if (fault.failed()) {
                out.state = MonthFilesOutcome::State::Failed;
                out.failure = path + QStringLiteral(": ") + fault.reason;
                return out;
            }
        }
        out.made.madeAt = QDateTime::currentDateTime();
        cn.executeBound(QStringLiteral("INSERT INTO MonthFiles (Month, MadeAt, Workbook, Payroll) "
                                       "VALUES (?, ?, ?, ?)"),
                        {out.made.month, store::logTimeText(out.made.madeAt), out.made.workbook,
                         out.made.payroll});
        out.state = MonthFilesOutcome::State::Made;
    } catch (const Error& e) {
        out.state = MonthFilesOutcome::State::Failed;
        out.failure = e.description();
    }
    return out;
}

} // namespace bw::host::report

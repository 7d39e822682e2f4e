// brackwater-collect: collects the meal records of model-6429 terminals into the host
// database, for a nightly job, or exports the collected ones as the collection window does.
//
//   brackwater-collect [--db CONNECTION] [--com n=DEVICE] [--tcp-port-map FROM=TO]
//                      (--all | --terminal N ...) [--clear] [--user NAME] [--line-wait SECONDS]
//   brackwater-collect [--db CONNECTION] --export FILE --from DATE --to DATE [--terminal N ...]
//   brackwater-collect [--db CONNECTION] --report YYYY-MM --out FILE.xlsx|FILE.csv
//                      [--terminal N ...] [--by-day] [--lang 2052|1028] [--payroll FILE.csv]
//
// One line per terminal on stdout (an export or a report: one line with what was written).
// Exit status: 0 every terminal collected (the file written), 1 any terminal failed (the file
// not written), 2 bad arguments, 3 the database cannot be used (not there, gone, or without the
// register's tables), 4 not allowed (this program's operator, the desktop account on a file
// database or the session's role on a server, is none or may not collect or clear: nothing
// was sent).

#include "host/cli/host_options.h"
#include "host/cli/printable.h"
#include "host/collect/collect_run.h"
#include "host/collect/record_export.h"
#include "host/ledger/ledger.h"
#include "host/ledger/operators.h"
#include "host/ledger/schema.h"
#include "host/report/report_writer.h"
#include "host/site/site_run.h"
#include "platform/error.h"
#include "platform/language.h"
#include "platform/line_lock.h"
#include "store/sql_connection.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <cstdio>

namespace {

enum Exit { Ok = 0, TerminalFailed = 1, BadArguments = 2, NoDatabase = 3, NotAllowed = 4 };

int fail(int code, const QString& message) {
    return bw::host::failWith("brackwater-collect", code, message);
}

using bw::host::sayLine;

// The monthly report: counted in the database, written to the file, and the payroll's file
// when one is named.
int writeMonthReport(bw::store::SqlConnection& cn, const bw::host::report::Request& rq,
                     const QString& path, const QString& payroll,
                     const bw::host::report::Prices& prices, int lang) {
    namespace report = bw::host::report;
    report::MonthReport r;
    try {
        r = report::readMonthReport(cn, rq);
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot read the records: ") + e.description());
    }
    for (const auto& [file, fault] :
         {std::make_pair(path, report::writeReport(report::reportTables(r, lang), path,
                                                   report::formatOf(path))),
          std::make_pair(payroll, payroll.isEmpty()
                                      ? report::WriteFault()
                                      : report::writePayroll(r, prices, payroll, lang))})
        if (fault.failed())
            return fail(
                TerminalFailed,
                QStringLiteral("cannot write %1: %2").arg(bw::host::printable(file), fault.reason));
    const auto counted = [](qint64 n, const char* one, const char* many) {
        return QStringLiteral("%1 %2").arg(n).arg(QLatin1String(n == 1 ? one : many));
    };
    sayLine(
        QStringLiteral("%1: %2, %3 without an employee, %4 (%5) written to %6")
            .arg(r.month.toString(QStringLiteral("yyyy-MM")),
                 counted(r.employees.size(), "employee", "employees"),
                 counted(r.cards.size(), "card", "cards"),
                 counted(r.total.total(), "meal or record", "meals and records"),
                 counted(r.repeats.size(), "repeated swipe", "repeated swipes"),
                 bw::host::printable(path)) +
        (payroll.isEmpty() ? QString() : QStringLiteral(" and ") + bw::host::printable(payroll)));
    return Ok;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The operator's rights come from the permission component, as in the windows.
    bw::host::registerDbComponents();
    QCoreApplication::setApplicationName(QStringLiteral("brackwater-collect"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BW_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Collect the meal records of model-6429 terminals into the host database.\n\n"
        "Exit status: 0 every terminal collected (the file written), 1 any "
        "terminal failed (the file not written), 2 bad arguments, 3 the database "
        "cannot be used (or its records cannot be read), 4 not allowed (this program's operator is "
        "none or lacks "
        "the right)."));
    p.addHelpOption();
    p.addVersionOption();
    const bw::host::LineOptions lines;
    const QCommandLineOption all(QStringLiteral("all"),
                                 QStringLiteral("Every model-6429 terminal of MachineInfo."));
    const QCommandLineOption terminal(QStringLiteral("terminal"),
                                      QStringLiteral("Terminal number (repeatable)."),
                                      QStringLiteral("N"));
    const QCommandLineOption clear(
        QStringLiteral("clear"),
        QStringLiteral("Delete on each terminal the records that were stored."));
    const QCommandLineOption user(
        QStringLiteral("user"),
        QStringLiteral("The operator this program acts as (the desktop account on a file "
                       "database, the session's role on a server): another name is refused."),
        QStringLiteral("NAME"));
    const QCommandLineOption exportTo(
        QStringLiteral("export"),
        QStringLiteral("Write the collected records of --from to --to (of the --terminal "
                       "numbers, or all) to a CSV file, as the collection window exports them, "
                       "instead of collecting."),
        QStringLiteral("FILE"));
    const QCommandLineOption from(QStringLiteral("from"),
                                  QStringLiteral("First day of the export (yyyy-MM-dd)."),
                                  QStringLiteral("DATE"));
    const QCommandLineOption to(QStringLiteral("to"),
                                QStringLiteral("Last day of the export (yyyy-MM-dd)."),
                                QStringLiteral("DATE"));
    const QCommandLineOption reportMonth(
        QStringLiteral("report"),
        QStringLiteral("Write the month's meals per employee (breakfast, lunch, dinner, outside "
                       "the windows, total; the cards without an employee apart) to --out, of "
                       "the --terminal numbers or all, instead of collecting. The meal windows "
                       "are the settings file's [report] ones."),
        QStringLiteral("YYYY-MM"));
    const QCommandLineOption out(
        QStringLiteral("out"),
        QStringLiteral("The report's file: a workbook (.xlsx) or, named .csv, a CSV file."),
        QStringLiteral("FILE"));
    const QCommandLineOption byDay(QStringLiteral("by-day"),
                                   QStringLiteral("The report also counts each terminal's days."));
    const QCommandLineOption lang(
        QStringLiteral("lang"),
        QStringLiteral("The report's language: 2052 or 1028 (default: the settings file's, "
                       "else 2052)."),
        QStringLiteral("ID"));
    p.addOptions(lines.list());
    const QCommandLineOption payroll(
        QStringLiteral("payroll"),
        QStringLiteral("The report also writes the payroll's CSV file: one line per employee "
                       "with the meals and the amount at the settings file's [report] prices "
                       "less the subsidy."),
        QStringLiteral("FILE.csv"));
    p.addOptions(
        {all, terminal, clear, user, exportTo, from, to, reportMonth, out, byDay, lang, payroll});
    if (!p.parse(app.arguments()))
        return fail(BadArguments, p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return Ok;
    }
    if (p.isSet(QStringLiteral("version"))) {
        sayLine(QStringLiteral("brackwater-collect ") + QCoreApplication::applicationVersion());
        return Ok;
    }
    if (!p.positionalArguments().isEmpty())
        return fail(BadArguments,
                    QStringLiteral("unexpected argument: ") + p.positionalArguments().first());
    const bool exporting = p.isSet(exportTo);
    const bool reporting = p.isSet(reportMonth);
    bw::host::collect::RecordFilter period;
    bw::host::report::Request request;
    if (reporting) {
        request.month = bw::host::report::parseMonth(p.value(reportMonth).trimmed());
        if (!request.month.isValid())
            return fail(BadArguments, QStringLiteral("--report takes a month YYYY-MM"));
        if (p.value(out).isEmpty())
            return fail(BadArguments, QStringLiteral("--report needs --out FILE"));
        if (exporting || p.isSet(clear) || p.isSet(all) || p.isSet(from) || p.isSet(to))
            return fail(BadArguments, QStringLiteral("--report goes without --export, --all, "
                                                     "--clear, --from and --to"));
        if (p.isSet(lang) && !bw::host::isLanguage(p.value(lang).trimmed().toInt()))
            return fail(BadArguments, QStringLiteral("--lang takes 2052 or 1028"));
    } else if (p.isSet(out) || p.isSet(byDay) || p.isSet(lang) || p.isSet(payroll)) {
        return fail(BadArguments,
                    QStringLiteral("--out, --by-day, --lang and --payroll go with --report"));
    } else if (exporting) {
        if (p.value(exportTo).isEmpty())
            return fail(BadArguments, QStringLiteral("--export needs a file name"));
        if (p.isSet(clear) || p.isSet(all))
            return fail(BadArguments, QStringLiteral("--export goes without --all and --clear"));
        period.from = QDate::fromString(p.value(from).trimmed(), Qt::ISODate);
        period.to = QDate::fromString(p.value(to).trimmed(), Qt::ISODate);
        if (!period.from.isValid() || !period.to.isValid() || period.from > period.to)
            return fail(BadArguments,
                        QStringLiteral("--export takes --from and --to, two dates yyyy-MM-dd, "
                                       "the first not after the second"));
    } else if (p.isSet(from) || p.isSet(to)) {
        return fail(BadArguments, QStringLiteral("--from and --to go with --export"));
    } else if (p.isSet(all) == p.isSet(terminal)) {
        return fail(BadArguments, QStringLiteral("give either --all or --terminal N"));
    }
    QList<int> wanted;
    for (const QString& v : p.values(terminal)) {
        bool ok = false;
        const int n = v.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > 255)
            return fail(BadArguments, QStringLiteral("bad terminal number: ") + v);
        if (!wanted.contains(n))
            wanted << n;
    }
    bw::host::LineSetup setup;
    QString wrong;
    if (!bw::host::applyLineOptions(p, lines, setup, wrong))
        return fail(BadArguments, wrong);
    if (setup.lineWaitGiven)
        bw::setLineLockWaitMs(setup.lineWaitMs);
    if (!setup.missingDatabase.isEmpty())
        return fail(NoDatabase, setup.missingDatabase);
    const QString& connection = setup.connection;
    std::shared_ptr<bw::store::SqlConnection> cn;
    try {
        cn = bw::store::SqlConnection::open(connection);
        bw::host::completeHostSchema(*cn); // the register, and MealRecord of an older database
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot use the database: ") + e.description());
    }

    if (reporting) {
        // The records of terminals no longer in MachineInfo are counted too.
        request.terminals = wanted;
        request.windows = setup.meals;
        request.byDay = p.isSet(byDay);
        const int language = p.isSet(lang) ? p.value(lang).trimmed().toInt() : bw::uiLanguage();
        return writeMonthReport(*cn, request, p.value(out), p.value(payroll),
                                bw::host::report::pricesOf(setup.saved), language);
    }
    if (exporting) {
        // The records of terminals no longer in MachineInfo are exported too.
        period.terminals = wanted;
        QString why;
        const qint64 rows = bw::host::collect::exportRecords(*cn, period, p.value(exportTo), &why);
        if (rows < 0)
            return fail(TerminalFailed,
                        QStringLiteral("cannot write %1: %2").arg(p.value(exportTo), why));
        sayLine(QStringLiteral("%1 records written to %2").arg(rows).arg(p.value(exportTo)));
        return Ok;
    }

    // The collection runs through the site layer, which reads the register, words nothing and
    // reports each terminal's typed result, with the rights of the operator this program acts
    // as.
    bw::host::site::Request rq;
    rq.connection = connection;
    rq.terminals = wanted;
    rq.steps = {bw::host::site::Step::Collect};
    rq.clear = p.isSet(clear);
    rq.database = cn; // the register is read on the connection open already
    try {
        const bw::host::site::Acting acting =
            bw::host::site::programOperator(connection, bw::host::HostOptions().caption, cn);
        if (p.isSet(user) && p.value(user) != acting.name)
            return fail(NotAllowed, QStringLiteral("not allowed: --user names %1, but this program "
                                                   "acts as %2")
                                        .arg(bw::host::printable(p.value(user)),
                                             bw::host::printable(acting.name)));
        rq.user = acting.name;
        rq.rights = acting.rights;
    } catch (const bw::host::operators::Refused& r) {
        return fail(NotAllowed, QStringLiteral("not allowed: ") + bw::host::operators::describe(r));
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot use the database: ") + e.description());
    }
    int rc = Ok;
    // The lines run at once; the lines are printed in the order of the terminals asked for
    // (the register's with --all) when all are done.
    QList<bw::host::site::StepResult> results;
    const bw::host::site::RunSummary summary =
        bw::host::site::runSite(rq, [&](const bw::host::site::StepResult& r) { results << r; });
    const auto rank = [&](const bw::host::site::StepResult& r) {
        return wanted.isEmpty() ? r.terminal : int(wanted.indexOf(r.terminal));
    };
    std::stable_sort(results.begin(), results.end(),
                     [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
    for (const bw::host::site::StepResult& r : std::as_const(results)) {
        if (r.collected.address != 0)
            sayLine(bw::host::collect::resultLine(r.collected));
        else
            sayLine(QStringLiteral("terminal %1: ").arg(r.terminal) +
                    bw::host::site::resultWords(r));
        if (!r.ok && rc != NotAllowed)
            rc = r.fault.kind == bw::host::site::Failure::NotAllowed ? NotAllowed : TerminalFailed;
    }
    if (!summary.databaseOpened)
        return fail(NoDatabase,
                    QStringLiteral("cannot use the database: ") + summary.databaseError);
    for (const QString& line : summary.skipped)
        std::fprintf(stderr, "brackwater-collect: %s\n", line.toUtf8().constData());
    if (p.isSet(all) && results.isEmpty())
        sayLine(QStringLiteral("no model-6429 terminal in MachineInfo"));
    if (summary.unwritten > 0)
        return fail(NoDatabase, bw::host::site::unwrittenLine(summary.unwritten));
    return rc;
}

// brackwater-collect: collects the meal records of model-6429 terminals into the host
// database, for a nightly job, or exports the collected ones as the collection window does.
//
//   brackwater-collect [--db CONNECTION] [--com n=DEVICE] [--tcp-port-map FROM=TO]
//                      (--all | --terminal N ...) [--clear] [--user NAME] [--line-wait SECONDS]
//   brackwater-collect [--db CONNECTION] --export FILE --from DATE --to DATE [--terminal N ...]
//
// One line per terminal on stdout (an export: one line with the records written). Exit
// status: 0 every terminal collected (the file written), 1 any terminal failed (the file not
// written), 2 bad arguments, 3 the database cannot be opened.

#include "bell/serial_port.h"
#include "connect/connection_choice.h"
#include "host/app/host_options.h"
#include "host/app/printable.h"
#include "host/collect/collect_run.h"
#include "host/collect/record_export.h"
#include "host/ledger/schema.h"
#include "host/link/link.h"
#include "platform/error.h"
#include "platform/line_lock.h"
#include "store/sql_connection.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDate>
#include <QSet>
#include <cstdio>

namespace {

enum Exit { Ok = 0, TerminalFailed = 1, BadArguments = 2, NoDatabase = 3 };

int fail(int code, const QString& message) {
    return bw::host::failWith("brackwater-collect", code, message);
}

using bw::host::sayLine;

// The COMn of a serial terminal's port text; 0 for a TCP/IP terminal or a text that names none.
int serialPortOf(const QString& portText) {
    try {
        const bw::connect::ConnectionChoice choice = bw::connect::chooseConnection(portText);
        return choice.tcp ? 0 : choice.port;
    } catch (const bw::Error&) {
        return 0;
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brackwater-collect"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BW_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Collect the meal records of model-6429 terminals into the host database."));
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
    const QCommandLineOption user(QStringLiteral("user"),
                                  QStringLiteral("Name written as the collector."),
                                  QStringLiteral("NAME"), QStringLiteral("brackwater-collect"));
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
    p.addOptions(lines.list());
    p.addOptions({all, terminal, clear, user, exportTo, from, to});
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
    bw::host::collect::RecordFilter period;
    if (exporting) {
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
    const QSet<int> withoutDevice(setup.comWithoutDevice.cbegin(), setup.comWithoutDevice.cend());
    std::shared_ptr<bw::store::SqlConnection> cn;
    QList<bw::host::collect::TerminalEntry> terminals;
    QStringList skipped;
    try {
        cn = bw::store::SqlConnection::open(connection);
        bw::host::createHostSchema(*cn, false); // MealRecord, when the database predates it
        terminals = bw::host::collect::listTerminals(*cn, &skipped);
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot open the database: ") + e.description());
    }

    if (exporting) {
        // The records of terminals no longer in MachineInfo are exported too.
        period.terminals = wanted;
        const qint64 rows = bw::host::collect::exportRecords(*cn, period, p.value(exportTo));
        if (rows < 0)
            return fail(TerminalFailed, QStringLiteral("cannot write ") + p.value(exportTo));
        sayLine(QStringLiteral("%1 records written to %2").arg(rows).arg(p.value(exportTo)));
        return Ok;
    }

    for (const QString& line : std::as_const(skipped))
        std::fprintf(stderr, "brackwater-collect: %s\n", line.toUtf8().constData());
    int rc = Ok;
    QList<bw::host::collect::TerminalEntry> chosen;
    if (p.isSet(all)) {
        chosen = terminals;
        if (chosen.isEmpty())
            sayLine(QStringLiteral("no model-6429 terminal in MachineInfo"));
    } else {
        for (int n : wanted) {
            auto it = std::find_if(terminals.begin(), terminals.end(),
                                   [n](const auto& t) { return t.address == n; });
            if (it == terminals.end()) {
                sayLine(QStringLiteral("terminal %1: failed: not a model-6429 terminal of "
                                       "MachineInfo")
                            .arg(n));
                rc = TerminalFailed;
            } else {
                chosen << *it;
            }
        }
    }

    for (auto it = chosen.begin(); it != chosen.end();) {
        const int n = serialPortOf(it->port);
        if (n == 0 || !withoutDevice.contains(n)) {
            ++it;
            continue;
        }
        sayLine(QStringLiteral("terminal %1: failed: cannot open COM%2: the settings file names no "
                               "device for it ([com] %2=)")
                    .arg(QString::number(it->address), QString::number(n)));
        rc = TerminalFailed;
        it = chosen.erase(it);
    }

    bw::host::collect::Options options;
    options.clear = p.isSet(clear);
    bw::host::collect::RunHandlers handlers;
    handlers.done = [&](int, const bw::host::collect::Outcome& o) {
        sayLine(bw::host::collect::resultLine(o));
        if (!o.ok())
            rc = TerminalFailed;
    };
    bw::host::collect::runCollection(*cn, chosen, p.value(user), options, handlers);
    return rc;
}

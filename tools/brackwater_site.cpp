// brackwater-site: a site's routine without anyone watching: name lists, clocks and the
// nightly collection of every model-6429 terminal of the register, and their status.
//
//   brackwater-site [--db CONNECTION] [--com n=DEVICE] [--tcp-port-map FROM=TO] [--json]
//                   [--line-wait SECONDS]
//     sync-names [N ...] [--dry-run] [--force]
//     sync-clocks [N ...] [--force]
//     sync-clocks [N ...]
//     nightly [--clear]
//     status [N ...]
//     assign N [N ...] [--workstation NAME]    (NAME "": to none)
//     unassign N [N ...]
//
// One line per terminal and step on stdout (--json: one document). Exit status: 0 all done,
// 1 some terminal failed, 2 bad arguments, 3 the database cannot be used (not there, gone, or
// without the register's tables), 5 a line stayed busy. status prints one line per terminal; its
// exit status is 0 when every terminal answers and none needs a hand, 1 when some does, 2 and 3 as
// above. assign gives terminals of the register to a workstation (this one unless --workstation
// names another), unassign to none; they exit 1 when a number is no terminal of the register.

#include "host/app/host_options.h"
#include "host/app/printable.h"
#include "host/ledger/schema.h"
#include "host/ledger/stations.h"
#include "host/site/site_run.h"
#include "host/site/status.h"
#include "platform/error.h"
#include "platform/line_lock.h"
#include "store/sql_connection.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <cstdio>

using bw::host::site::Step;

namespace {

enum Exit { Ok = 0, TerminalFailed = 1, BadArguments = 2, NoDatabase = 3, LineBusy = 5 };

int fail(int code, const QString& message) {
    return bw::host::failWith("brackwater-site", code, message);
}

using bw::host::sayLine;

// The steps of a command; empty for an unknown one.
QList<Step> stepsOf(const QString& command) {
    if (command == QLatin1String("sync-names"))
        return {Step::Names};
    if (command == QLatin1String("sync-clocks"))
        return {Step::Clock};
    if (command == QLatin1String("nightly"))
        return {Step::Collect, Step::Clock, Step::Names};
    return {};
}

const char* const Usage =
    "brackwater-site [--db CONNECTION] [--com n=DEVICE] "
    "[--tcp-port-map FROM=TO] [--json] [--line-wait SECONDS] (sync-names [N ...] [--dry-run] "
    "[--force] | sync-clocks [N ...] [--force] | nightly [--clear] | status [N ...] | "
    "assign N [N ...] [--workstation NAME] | unassign N [N ...])";

// Every requested terminal's status, one line each (or one document); the exit status says
// whether any needs a hand. error: why the database is not opened (then no terminal is asked).
int printStatus(const bw::host::site::StatusRequest& rq, bool asJson, QString error) {
    QList<bw::host::site::TerminalStatus> all;
    if (error.isEmpty()) {
        try {
            all = bw::host::site::readStatus(rq, [asJson](const auto& s) {
                if (!asJson)
                    sayLine(bw::host::site::statusLine(s));
            });
        } catch (const bw::Error& e) {
            error = QStringLiteral("cannot use the database: ") + e.description();
        }
    }
    const bool hand =
        std::any_of(all.cbegin(), all.cend(), [](const auto& s) { return s.needsHand(); });
    const int rc = !error.isEmpty() ? fail(NoDatabase, error) : hand ? TerminalFailed : Ok;
    if (asJson) {
        QJsonObject doc = bw::host::site::statusJson(all, rc);
        if (!error.isEmpty())
            doc[QStringLiteral("error")] = error;
        sayLine(QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Compact)));
    }
    return rc;
}

// Gives the terminals to station ("" for none) in the register, one line each; a number that
// is no model-6429 terminal of MachineInfo is said and left out.
int assignTerminals(const QString& connection, const QList<int>& terminals,
                    const QString& station) {
    QList<int> known;
    int rc = Ok;
    try {
        bw::store::SqlConnection cn(connection);
        bw::host::completeHostSchema(cn); // TerminalStation, when the register predates it
        const bw::host::site::Register reg = bw::host::site::readRegister(cn);
        for (int n : terminals) {
            const auto same = [n](const auto& t) { return t.address == n; };
            if (std::any_of(reg.terminals.cbegin(), reg.terminals.cend(), same) ||
                std::any_of(reg.elsewhere.cbegin(), reg.elsewhere.cend(), same)) {
                known << n;
            } else {
                sayLine(
                    QStringLiteral("terminal %1: not a model-6429 terminal of MachineInfo").arg(n));
                rc = TerminalFailed;
            }
        }
        // Unattended: every right, as for the tools' other commands.
        bw::host::site::assignTerminals(cn, known, station, QStringLiteral("brackwater-site"),
                                        bw::host::site::allowEverything());
    } catch (const bw::Error& e) {
        return fail(NoDatabase,
                    QStringLiteral("cannot assign in the database: ") + e.description());
    }
    for (int n : std::as_const(known))
        sayLine(
            station.isEmpty()
                ? QStringLiteral("terminal %1: assigned to no workstation").arg(n)
                : QStringLiteral("terminal %1: assigned to workstation %2").arg(n).arg(station));
    return rc;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brackwater-site"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BW_VERSION));
    // Each result line names the device and the system's reason, or the line's holder, already.
    QLoggingCategory::setFilterRules(
        QStringLiteral("brackwater.port.open.warning=false\nbw.line=false"));

    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral(
            "Keep a site's model-6429 terminals in step with the host database: name lists, "
            "clocks, the nightly collection and every terminal's status, the lines at the same "
            "time.\n\n") +
        QString::fromLatin1(Usage));
    p.addHelpOption();
    p.addVersionOption();
    const bw::host::LineOptions lines;
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON document on standard output."));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("sync-names: say which lists would be downloaded, change nothing."));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("sync-names: download every list, also those in step. sync-clocks: set "
                       "the clocks also when the computer's clock is not synchronised or the "
                       "change is more than [clock] max-change allows."));
    const QCommandLineOption clear(
        QStringLiteral("clear"),
        QStringLiteral("nightly: delete on each terminal the records that were stored."));
    p.addOptions(lines.list());
    p.addOptions({json, dryRun, force, clear});
    p.addPositionalArgument(
        QStringLiteral("command"),
        QStringLiteral("sync-names, sync-clocks, nightly, status, assign or unassign."));
    p.addPositionalArgument(QStringLiteral("N"),
                            QStringLiteral("Terminal numbers (default: every terminal)."),
                            QStringLiteral("[N ...]"));
    if (!p.parse(app.arguments()))
        return fail(BadArguments, p.errorText());
    if (p.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return Ok;
    }
    if (p.isSet(QStringLiteral("version"))) {
        sayLine(QStringLiteral("brackwater-site ") + QCoreApplication::applicationVersion());
        return Ok;
    }

    QStringList args = p.positionalArguments();
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    bw::host::site::Request rq;
    rq.steps = stepsOf(command);
    const bool status = command == QLatin1String("status");
    const bool assign = command == QLatin1String("assign");
    const bool unassign = command == QLatin1String("unassign");
    if (rq.steps.isEmpty() && !status && !assign && !unassign)
        return fail(BadArguments, QStringLiteral("usage: ") + QString::fromLatin1(Usage));
    const bool names = command == QLatin1String("sync-names");
    const bool nightly = command == QLatin1String("nightly");
    const bool clocks = command == QLatin1String("sync-clocks");
    if (p.isSet(dryRun) && !names)
        return fail(BadArguments, QStringLiteral("--dry-run goes with sync-names"));
    if (p.isSet(force) && !names && !clocks)
        return fail(BadArguments, QStringLiteral("--force goes with sync-names and sync-clocks"));
    if (p.isSet(clear) && !nightly)
        return fail(BadArguments, QStringLiteral("--clear goes with nightly"));
    if (nightly && !args.isEmpty())
        return fail(BadArguments, QStringLiteral("nightly works every terminal: ") + args.first());
    if ((assign || unassign) && args.isEmpty())
        return fail(BadArguments, command + QStringLiteral(" needs terminal numbers"));
    for (const QString& v : args) {
        bool ok = false;
        const int n = v.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > 255)
            return fail(BadArguments, QStringLiteral("bad terminal number: ") + v);
        if (!rq.terminals.contains(n))
            rq.terminals << n;
    }
    rq.dryRun = p.isSet(dryRun);
    rq.force = p.isSet(force) && names;
    rq.forceClock = p.isSet(force) && clocks;
    rq.clear = p.isSet(clear);

    bw::host::LineSetup setup;
    QString wrong;
    if (!bw::host::applyLineOptions(p, lines, setup, wrong))
        return fail(BadArguments, wrong);
    // The status has a short wait of its own; the other commands wait as long as asked.
    if (setup.lineWaitGiven && !status)
        bw::setLineLockWaitMs(setup.lineWaitMs);
    rq.connection = setup.connection;
    if (setup.noWorkstation && !assign)
        return fail(BadArguments,
                    QStringLiteral("--workstation \"\" goes with assign (to no workstation)"));
    if (unassign && p.isSet(lines.workstation))
        return fail(BadArguments, QStringLiteral("unassign goes without --workstation"));
    if (assign || unassign) {
        if (!setup.missingDatabase.isEmpty())
            return fail(NoDatabase, setup.missingDatabase);
        return assignTerminals(rq.connection, rq.terminals,
                               unassign || setup.noWorkstation ? QString()
                                                               : bw::host::workstation());
    }
    // Unattended: every right (the tools are to sign in with a user of their own later).
    rq.rights = bw::host::site::allowEverything();
    const bool asJson = p.isSet(json);
    if (status) {
        bw::host::site::StatusRequest srq;
        srq.connection = rq.connection;
        srq.terminals = rq.terminals;
        if (setup.lineWaitGiven)
            srq.lineWaitMs = setup.lineWaitMs;
        return printStatus(srq, asJson, setup.missingDatabase);
    }
    QJsonArray results;
    QString error = setup.missingDatabase;
    bw::host::site::RunSummary summary;
    if (error.isEmpty()) {
        summary = bw::host::site::runSite(rq, [&](const bw::host::site::StepResult& r) {
            if (!asJson) {
                sayLine(bw::host::site::resultLine(r));
                return;
            }
            results.append(QJsonObject{{QStringLiteral("terminal"), r.terminal},
                                       {QStringLiteral("step"), bw::host::site::stepName(r.step)},
                                       {QStringLiteral("ok"), r.ok},
                                       {QStringLiteral("busy"), r.busy()},
                                       {QStringLiteral("result"), bw::host::site::resultWords(r)}});
        });
        if (!summary.databaseOpened)
            error = QStringLiteral("cannot use the database: ") + summary.databaseError;
        for (const QString& line : summary.skipped)
            std::fprintf(stderr, "brackwater-site: %s\n", line.toUtf8().constData());
    }
    const int rc = !error.isEmpty()     ? fail(NoDatabase, error)
                   : summary.busy > 0   ? LineBusy
                   : summary.failed > 0 ? TerminalFailed
                                        : Ok;
    if (asJson) {
        QJsonObject doc{{QStringLiteral("command"), command},
                        {QStringLiteral("dryRun"), rq.dryRun},
                        {QStringLiteral("results"), results},
                        {QStringLiteral("exit"), rc}};
        if (!error.isEmpty())
            doc[QStringLiteral("error")] = error;
        sayLine(QString::fromUtf8(QJsonDocument(doc).toJson(QJsonDocument::Compact)));
    }
    return rc;
}

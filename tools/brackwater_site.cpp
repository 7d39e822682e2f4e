// brackwater-site: a site's routine without anyone watching: name lists, clocks and the
// nightly collection of every model-6429 terminal of the register.
//
//   brackwater-site [--db CONNECTION] [--com n=DEVICE] [--tcp-port-map FROM=TO] [--json]
//                   [--line-wait SECONDS]
//     sync-names [N ...] [--dry-run] [--force]
//     sync-clocks [N ...]
//     nightly [--clear]
//     status [N ...]
//
// One line per terminal and step on stdout (--json: one document). Exit status: 0 all done,
// 1 some terminal failed, 2 bad arguments, 3 the database cannot be opened, 5 a line stayed
// busy. status prints one line per terminal; its exit status is 0 when every terminal
// answers and none needs a hand, 1 when some does, 2 and 3 as above.

#include "bell/serial_port.h"
#include "host/app/host_options.h"
#include "host/app/printable.h"
#include "host/link/link.h"
#include "host/settings/settings.h"
#include "host/site/site_run.h"
#include "host/site/status.h"
#include "platform/line_lock.h"
#include "store/connection_string.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <cstdio>

using bw::host::site::Step;

namespace {

enum Exit { Ok = 0, TerminalFailed = 1, BadArguments = 2, NoDatabase = 3, LineBusy = 5 };

int fail(int code, const QString& message) {
    std::fprintf(stderr, "brackwater-site: %s\n",
                 bw::host::printable(message).toUtf8().constData());
    return code;
}

void say(const QString& line) {
    std::fprintf(stdout, "%s\n", bw::host::printable(line).toUtf8().constData());
    std::fflush(stdout);
}

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
    "[--force] | sync-clocks [N ...] | nightly [--clear] | status [N ...])";

// Every requested terminal's status, one line each (or one document); the exit status says
// whether any needs a hand.
int printStatus(bw::host::site::StatusRequest rq, bool asJson) {
    QList<bw::host::site::TerminalStatus> all;
    try {
        all = bw::host::site::readStatus(rq, [asJson](const bw::host::site::TerminalStatus& s) {
            if (!asJson)
                say(bw::host::site::statusLine(s));
        });
    } catch (const bw::Error& e) {
        return fail(NoDatabase, QStringLiteral("cannot open the database: ") + e.description());
    }
    const bool hand =
        std::any_of(all.cbegin(), all.cend(), [](const auto& s) { return s.needsHand(); });
    const int rc = hand ? TerminalFailed : Ok;
    if (asJson)
        std::fprintf(stdout, "%s\n",
                     QJsonDocument(bw::host::site::statusJson(all, rc))
                         .toJson(QJsonDocument::Compact)
                         .constData());
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
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("Host database connection string (default: the "
                                               "settings file's, else the host program's "
                                               "SQLite file)."),
                                QStringLiteral("CONNECTION"));
    const QCommandLineOption com(QStringLiteral("com"),
                                 QStringLiteral("Serial device of port n (repeatable)."),
                                 QStringLiteral("n=DEVICE"));
    const QCommandLineOption tcpMap(QStringLiteral("tcp-port-map"),
                                    QStringLiteral("Reach terminals' TCP port FROM on port TO."),
                                    QStringLiteral("FROM=TO"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON document on standard output."));
    const QCommandLineOption dryRun(
        QStringLiteral("dry-run"),
        QStringLiteral("sync-names: say which lists would be downloaded, change nothing."));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("sync-names: download every list, also those in step."));
    const QCommandLineOption clear(
        QStringLiteral("clear"),
        QStringLiteral("nightly: delete on each terminal the records that were stored."));
    const QCommandLineOption lineWait(
        QStringLiteral("line-wait"),
        QStringLiteral("Wait this long for a serial line another program holds (default 30)."),
        QStringLiteral("SECONDS"));
    p.addOptions({db, com, tcpMap, json, dryRun, force, clear, lineWait});
    p.addPositionalArgument(QStringLiteral("command"),
                            QStringLiteral("sync-names, sync-clocks, nightly or status."));
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
        say(QStringLiteral("brackwater-site ") + QCoreApplication::applicationVersion());
        return Ok;
    }

    QStringList args = p.positionalArguments();
    const QString command = args.isEmpty() ? QString() : args.takeFirst();
    bw::host::site::Request rq;
    rq.steps = stepsOf(command);
    const bool status = command == QLatin1String("status");
    if (rq.steps.isEmpty() && !status)
        return fail(BadArguments, QStringLiteral("usage: ") + QString::fromLatin1(Usage));
    const bool names = command == QLatin1String("sync-names");
    const bool nightly = command == QLatin1String("nightly");
    if ((p.isSet(dryRun) || p.isSet(force)) && !names)
        return fail(BadArguments, QStringLiteral("--dry-run and --force go with sync-names"));
    if (p.isSet(clear) && !nightly)
        return fail(BadArguments, QStringLiteral("--clear goes with nightly"));
    if (nightly && !args.isEmpty())
        return fail(BadArguments, QStringLiteral("nightly works every terminal: ") + args.first());
    for (const QString& v : args) {
        bool ok = false;
        const int n = v.trimmed().toInt(&ok);
        if (!ok || n < 1 || n > 255)
            return fail(BadArguments, QStringLiteral("bad terminal number: ") + v);
        if (!rq.terminals.contains(n))
            rq.terminals << n;
    }
    int waitMs = 0;
    if (p.isSet(lineWait) && !bw::host::parseLineWaitOption(p.value(lineWait), waitMs))
        return fail(BadArguments, QStringLiteral("--line-wait takes 0 to 3600 seconds"));
    if (p.isSet(lineWait) && !status)
        bw::setLineLockWaitMs(waitMs);
    rq.dryRun = p.isSet(dryRun);
    rq.force = p.isSet(force);
    rq.clear = p.isSet(clear);

    // The settings file first (database, COMn devices, TCP port map), as every Brackwater
    // program reads it; the command line overrides it for this run.
    QStringList problems;
    const bw::host::Settings saved = bw::host::readSettings(&problems);
    for (const QString& problem : problems)
        std::fprintf(stderr, "settings: %s\n", bw::host::printable(problem).toUtf8().constData());
    for (const auto& [n, device] : saved.com)
        bw::bell::setDevicePath(n, device);
    rq.comWithoutDevice = saved.comWithoutDevice;
    for (const auto& [from, to] : saved.tcpPortMap)
        bw::host::setTcpPortMap(from, to);
    for (const QString& v : p.values(com)) {
        int n = 0;
        QString device;
        if (!bw::host::parseComOption(v, n, device))
            return fail(BadArguments, QStringLiteral("--com takes n=DEVICE: ") + v);
        bw::bell::setDevicePath(n, device);
        rq.comWithoutDevice.removeAll(n);
    }
    for (const QString& v : p.values(tcpMap)) {
        int from = 0, to = 0;
        if (!bw::host::parsePortMapOption(v, from, to))
            return fail(BadArguments, QStringLiteral("--tcp-port-map takes FROM=TO: ") + v);
        bw::host::setTcpPortMap(from, to);
    }

    // The host program's database; a missing SQLite file is not made here.
    rq.connection = bw::host::hostConnection(p.value(db), saved);
    const auto settings = bw::store::parseConnectionString(rq.connection);
    if (settings.kind == bw::store::BackendSettings::Kind::Sqlite &&
        !QFileInfo::exists(settings.databaseName))
        return fail(NoDatabase, QStringLiteral("no database at ") + settings.databaseName);

    const bool asJson = p.isSet(json);
    if (status) {
        bw::host::site::StatusRequest srq;
        srq.connection = rq.connection;
        srq.terminals = rq.terminals;
        srq.comWithoutDevice = rq.comWithoutDevice;
        if (p.isSet(lineWait))
            srq.lineWaitMs = waitMs;
        return printStatus(srq, asJson);
    }
    QJsonArray results;
    const bw::host::site::RunSummary summary =
        bw::host::site::runSite(rq, [&](const bw::host::site::StepResult& r) {
            if (!asJson) {
                say(bw::host::site::resultLine(r));
                return;
            }
            results.append(QJsonObject{{QStringLiteral("terminal"), r.terminal},
                                       {QStringLiteral("step"), bw::host::site::stepName(r.step)},
                                       {QStringLiteral("ok"), r.ok},
                                       {QStringLiteral("busy"), r.busy},
                                       {QStringLiteral("result"), r.text}});
        });
    if (!summary.databaseOpened)
        return fail(NoDatabase,
                    QStringLiteral("cannot open the database: ") + summary.databaseError);
    const int rc = summary.busy > 0 ? LineBusy : summary.failed > 0 ? TerminalFailed : Ok;
    if (asJson)
        say(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("command"), command},
                                                        {QStringLiteral("dryRun"), rq.dryRun},
                                                        {QStringLiteral("results"), results},
                                                        {QStringLiteral("exit"), rc}})
                                  .toJson(QJsonDocument::Compact)));
    return rc;
}

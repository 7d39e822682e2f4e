// brackwater-bell: the bell-link commands from the command line, for field work and scripts.
//
//   brackwater-bell [--port COM3|DEVICE] [--com n=DEVICE] [--line-wait SECONDS] [--json] COMMAND
//     test ADDR
//     set-time ADDR [YYYY-MM-DD HH:MM:SS] [--force]
//     read-bells ADDR
//     set-bell-count ADDR N
//     scan [FROM TO] [--timeout MS]
//     sync-clocks [--db CONNECTION] [--dry-run] [--force]
//     ports [--probe]
//
// Exit status: 0 success, 1 a terminal gave no or a wrong answer, 2 bad arguments, 3 a fault
// of a serial port (also a line another program held for the whole wait, 30 s unless
// --line-wait says otherwise), 4 not allowed (sync-clocks: this program's operator, the desktop
// account on a file database or the session's role on a server, is none or may not set
// clocks), 6 the register could not be read, 5 the clock guard refused to
// set a clock (the computer's clock is not synchronised: --force sets it anyway; a year outside
// 2000..2099 is never sent). Every failure is one line on
// stderr; with --json standard output holds exactly one JSON document.

#include "bell/bell_link.h"
#include "bell/serial_port.h"
#include "host/cli/host_options.h"
#include "host/cli/printable.h"
#include "host/ledger/ledger.h"
#include "host/ledger/operators.h"
#include "host/ledger/stations.h"
#include "host/link/link.h"
#include "host/settings/settings.h"
#include "host/site/site_run.h"
#include "platform/clock_guard.h"
#include "platform/error.h"
#include "platform/line_lock.h"
#include "platform/port_text.h"
#include "platform/ui.h"
#include "store/connection_string.h"
#include "store/sql_connection.h"
#include "store/statements.h"
#include "tools/bell/bell_reading.h"
#include "tools/bell/report.h"
#include "tools/bell/serial_devices.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLoggingCategory>
#include <QMap>
#include <QRegularExpression>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <unistd.h>

using namespace bw::tool;
using bw::host::collect::TerminalEntry;

namespace {

constexpr int ScanWaitMs = 100; // a silent address costs this much in a scan
constexpr int ComPorts = 16;
const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// Message boxes of the bell link become the failure text of the command instead.
class FailureBox : public bw::IMessageBox {
public:
    int MsgBox(const QString& text, int, const QString&) override {
        last = text;
        ++shown;
        return bw::mb::OK;
    }
    void Beep() override {}
    int shown = 0;
    QString last;
};

bool toInt(const QString& text, int low, int high, int& value) {
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value >= low && value <= high;
}

// The command line, read once.
struct Options {
    QString command;
    QStringList args;
    short port = 1;         // the port of the single-terminal commands and scan
    QString portText;       // as given with --port ("COM1" by default)
    QMap<int, QString> com; // COMn mappings given on the command line (--com, --port DEVICE)
    bool json = false;
    int timeoutMs = ScanWaitMs;
    QString db;
    bw::host::Settings saved; // the settings file, as read at the start
    bool dryRun = false;
    bool probe = false;
    bool force = false;
};

// What every command has to work with.
struct Tool {
    Options o;
    Report& report;
    FailureBox& box;
    bw::bell::BellLink link;

    QString device(int port) const { return bw::bell::devicePath(port); }
    // Why the port did not open: "cannot open DEVICE (the system's reason)", the line's
    // holder, or no device for a COMn the settings file names without one.
    QString cannotOpen(int port) const {
        const bw::bell::OpenFailure why = link.openFailure();
        if (why.kind == bw::bell::OpenFailure::Kind::NoDevice)
            return bw::bell::noDeviceText(port);
        return QStringLiteral("cannot open %1 (%2)")
            .arg(why.device.isEmpty() ? device(port) : why.device,
                 bw::host::withPermissionAdvice(why.reason));
    }
    // The address argument checked and the port opened: Ok, or the failure's exit status.
    int begin(int low, bool argsFit, const QString& usage, int& addr) {
        if (!argsFit || o.args.isEmpty() || !toInt(o.args[0], low, 255, addr))
            return report.fail(BadArguments, QStringLiteral("bad arguments: ") + usage);
        report.set(QStringLiteral("address"), addr);
        return openPort();
    }
    // The command's port opened: Ok, or the failure's exit status.
    int openPort() {
        if (link.OpenBellPort(o.port))
            return Ok;
        return report.fail(PortFault, QStringLiteral("port fault: ") + cannotOpen(o.port));
    }
};

int noAnswer(Report& r, const QString& text) {
    r.set(QStringLiteral("answered"), false);
    return r.fail(NoAnswer, QStringLiteral("no answer: ") + text);
}

int runTest(Tool& t) {
    int addr = 0;
    if (const int rc = t.begin(0, t.o.args.size() == 1, QStringLiteral("test ADDR (0..255)"), addr))
        return rc;
    if (!t.link.TestBellLink(static_cast<short>(addr)))
        return noAnswer(
            t.report,
            QStringLiteral("terminal %1 gave no or a wrong answer to the test").arg(addr));
    t.report.set(QStringLiteral("answered"), true);
    t.report.line(QStringLiteral("terminal %1 answers").arg(addr));
    return Ok;
}

QString refusalName(bw::ClockRefusal refusal) {
    switch (refusal) {
    case bw::ClockRefusal::None:
        break;
    case bw::ClockRefusal::Unsynchronised:
        return QStringLiteral("unsynchronised");
    case bw::ClockRefusal::TooFar:
        return QStringLiteral("too-far");
    case bw::ClockRefusal::YearOutOfRange:
        return QStringLiteral("year-out-of-range");
    }
    return QString();
}

int runSetTime(Tool& t) {
    const qint64 maxChangeS = bw::host::clockMaxChangeS(t.o.saved);
    // The bell link cannot read the terminal's clock: only the time itself is judged.
    bw::ClockVerdict verdict = bw::clockToSend(std::nullopt, t.o.force, maxChangeS);
    if (t.o.args.size() > 1) {
        const QString text = t.o.args.mid(1).join(QLatin1Char(' '));
        const QDateTime given = QDateTime::fromString(text, TimeFormat);
        if (!given.isValid())
            return t.report.fail(
                BadArguments,
                QStringLiteral("bad arguments: \"%1\" is not YYYY-MM-DD HH:MM:SS").arg(text));
        verdict = bw::givenClockToSend(given, std::nullopt, t.o.force, maxChangeS);
    }
    const QDateTime when = verdict.send;
    if (verdict.refusal == bw::ClockRefusal::YearOutOfRange && t.o.args.size() > 1)
        return t.report.fail(BadArguments, QStringLiteral("bad arguments: ") +
                                               bw::host::site::clockRefusalLine(verdict));
    if (!verdict.allowed()) {
        t.report.set(QStringLiteral("refusal"), refusalName(verdict.refusal));
        return t.report.fail(Refused, QStringLiteral("refused: ") +
                                          bw::host::site::clockRefusalLine(verdict));
    }
    int addr = 0;
    if (const int rc =
            t.begin(0, true, QStringLiteral("set-time ADDR [YYYY-MM-DD HH:MM:SS]"), addr))
        return rc;
    t.report.set(QStringLiteral("time"), when.toString(TimeFormat));
    if (!t.link.SetMachDateTime(static_cast<short>(addr), when))
        return noAnswer(t.report,
                        QStringLiteral("terminal %1 did not confirm the date and time").arg(addr));
    t.report.set(QStringLiteral("answered"), true);
    t.report.line(QStringLiteral("terminal %1 set to %2").arg(addr).arg(when.toString(TimeFormat)));
    return Ok;
}

int runReadBells(Tool& t) {
    int addr = 0;
    if (const int rc =
            t.begin(1, t.o.args.size() == 1, QStringLiteral("read-bells ADDR (1..255)"), addr))
        return rc;
    const QString result = t.link.ReadBellSettings(static_cast<short>(addr));
    const int waiting = t.link.port().portOpen() ? t.link.port().inBufferCount() : 0;
    t.link.CloseBellPort();
    const BellReading reading = judgeBellReading(result, t.link.lastReadReply(), addr, waiting);
    if (reading.exit != Ok)
        return t.report.fail(reading.exit, reading.reason);
    t.report.set(QStringLiteral("count"), reading.count);
    t.report.set(QStringLiteral("times"), QJsonArray::fromStringList(reading.times));
    t.report.line(QStringLiteral("count %1").arg(reading.count));
    for (const QString& time : reading.times)
        t.report.line(time);
    return Ok;
}

int runSetBellCount(Tool& t) {
    int addr = 0;
    int count = 0;
    const bool argsFit = t.o.args.size() == 2 && toInt(t.o.args[1], 0, 30, count);
    if (const int rc =
            t.begin(1, argsFit, QStringLiteral("set-bell-count ADDR (1..255) N (0..30)"), addr))
        return rc;
    t.report.set(QStringLiteral("count"), count);
    const int boxesBefore = t.box.shown;
    const bool ok = t.link.SetBellCount(static_cast<short>(addr), static_cast<short>(count));
    t.link.CloseBellPort();
    if (t.box.shown != boxesBefore)
        // The box says the fault's number and description run together.
        return t.report.fail(PortFault,
                             QStringLiteral("port fault: ") +
                                 t.box.last.remove(QRegularExpression(QStringLiteral("^[0-9]+"))));
    if (!ok)
        return noAnswer(t.report,
                        QStringLiteral("terminal %1 did not confirm the bell count").arg(addr));
    t.report.set(QStringLiteral("answered"), true);
    t.report.line(QStringLiteral("terminal %1 bell count %2").arg(addr).arg(count));
    return Ok;
}

int runScan(Tool& t) {
    int from = 1;
    int to = 255;
    const QStringList& a = t.o.args;
    if (!(a.isEmpty() ||
          (a.size() == 2 && toInt(a[0], 0, 255, from) && toInt(a[1], 0, 255, to) && from <= to)))
        return t.report.fail(BadArguments,
                             QStringLiteral("bad arguments: scan [FROM TO] (0..255, FROM <= TO)"));
    t.report.set(QStringLiteral("from"), from);
    t.report.set(QStringLiteral("to"), to);
    t.report.set(QStringLiteral("timeout_ms"), t.o.timeoutMs);
    t.report.set(QStringLiteral("found"), QJsonArray());
    if (const int rc = t.openPort())
        return rc;
    t.link.setTestWait(t.o.timeoutMs);
    t.link.setKeepPortOpen(true);
    int found = 0;
    for (int addr = from; addr <= to; ++addr) {
        t.report.progress(QStringLiteral("scanning %1 (%2 to %3), %4 found")
                              .arg(addr)
                              .arg(from)
                              .arg(to)
                              .arg(found));
        if (t.link.TestBellLink(static_cast<short>(addr))) {
            t.report.line(QString::number(addr));
            t.report.append(QStringLiteral("found"), addr);
            ++found;
        }
    }
    t.link.CloseBellPort();
    if (found == 0)
        return noAnswer(t.report,
                        QStringLiteral("no terminal answered between %1 and %2").arg(from).arg(to));
    return Ok;
}

// ---- sync-clocks ----

// One terminal's line: "terminal 1 on COM1: answered, clock set to ..."
void tell(Tool& t, const TerminalEntry& term, const QString& result, const QString& detail) {
    const int port = bw::host::site::comOf(term.port);
    QJsonObject o{{QStringLiteral("address"), term.address},
                  {QStringLiteral("port"), term.port},
                  {QStringLiteral("result"), result}};
    if (port > 0)
        o[QStringLiteral("device")] = t.device(port);
    if (!detail.isEmpty())
        o[QStringLiteral("detail")] = detail;
    t.report.append(QStringLiteral("terminals"), o);
    t.report.line(
        QStringLiteral("terminal %1 on %2: %3%4")
            .arg(term.address)
            .arg(term.port, result, detail.isEmpty() ? QString() : QStringLiteral(", ") + detail));
}

// The clocks of the register's serial terminals, set through the site layer (each port's
// terminals in turn, the ports at once); TCP/IP terminals are left to brackwater-site.
int runSyncClocks(Tool& t) {
    using bw::host::site::StepResult;
    if (!t.o.args.isEmpty())
        return t.report.fail(
            BadArguments, QStringLiteral("bad arguments: sync-clocks [--db CONNECTION] [--force] "
                                         "[--dry-run]"));
    const QString db = bw::host::hostConnection(t.o.db, t.o.saved);
    if (const QString outside = bw::host::outsideSiteProblem(t.o.db, t.o.saved); !outside.isEmpty())
        return t.report.fail(DatabaseFault, outside);
    t.report.set(QStringLiteral("dry_run"), t.o.dryRun);
    t.report.set(QStringLiteral("terminals"), QJsonArray());
    bw::host::site::Register reg;
    bw::host::site::Acting acting;
    // Open for the whole run, so that the site layer's connections find the database warm.
    std::unique_ptr<bw::store::SqlConnection> registerConnection;
    try {
        // A missing SQLite file is never created.
        const bw::store::BackendSettings backend = bw::store::parseConnectionString(db);
        if (backend.kind == bw::store::BackendSettings::Kind::Sqlite &&
            !QFileInfo::exists(backend.databaseName))
            throw bw::Error(bw::store::dberr::ProviderFailure,
                            QStringLiteral("no register at %1 (start brackwater once, or give "
                                           "--db)")
                                .arg(backend.databaseName));
        registerConnection = std::make_unique<bw::store::SqlConnection>(db);
        reg = bw::host::site::readRegister(*registerConnection);
        acting = bw::host::site::programOperator(db, bw::host::HostOptions().caption);
    } catch (const bw::host::operators::Refused& r) {
        return t.report.fail(NotAllowed,
                             QStringLiteral("not allowed: ") + bw::host::operators::describe(r));
    } catch (const bw::Error& e) {
        return t.report.fail(DatabaseFault,
                             QStringLiteral("database fault: %1").arg(e.description()));
    }
    for (const QString& line : std::as_const(reg.skipped))
        std::fprintf(stderr, "brackwater-bell: %s\n", line.toUtf8().constData());
    QList<TerminalEntry> serial, tcp, unusable;
    for (const TerminalEntry& term : std::as_const(reg.terminals)) {
        const int port = bw::host::site::comOf(term.port);
        (bw::isIpAddressText(term.port) ? tcp
         : port >= 1 && port <= 16      ? serial
                                        : unusable)
            << term;
    }
    std::stable_sort(serial.begin(), serial.end(), [](const auto& a, const auto& b) {
        return bw::host::site::comOf(a.port) < bw::host::site::comOf(b.port);
    });
    int answered = 0;
    bool notAllowed = false;
    if (t.o.dryRun) {
        for (const TerminalEntry& term : std::as_const(serial))
            tell(t, term, QStringLiteral("would be set"), QString());
        answered = int(serial.size());
    } else if (!serial.isEmpty()) {
        bw::host::site::Request rq;
        rq.connection = db;
        rq.steps = {bw::host::site::Step::Clock};
        rq.user = acting.name;
        rq.rights = acting.rights;
        rq.forceClock = t.o.force;
        bw::host::site::setClockMaxChangeS(bw::host::clockMaxChangeS(t.o.saved));
        for (const TerminalEntry& term : std::as_const(serial)) {
            rq.terminals << term.address;
        }
        QHash<int, StepResult> results;
        bw::host::site::runSite(rq, [&](const StepResult& r) { results.insert(r.terminal, r); });
        for (const TerminalEntry& term : std::as_const(serial)) {
            const StepResult r = results.value(term.address);
            if (r.ok) {
                ++answered;
                tell(t, term, QStringLiteral("answered"),
                     QStringLiteral("clock set to ") + r.clockSetTo.toString(TimeFormat));
            } else if (r.fault.kind == bw::host::site::Failure::NoAnswer) {
                tell(t, term, QStringLiteral("no answer"), QString());
            } else if (r.fault.kind == bw::host::site::Failure::NotAllowed) {
                tell(t, term, QStringLiteral("not allowed"),
                     bw::host::printable(acting.name) + QStringLiteral(" may not set clocks"));
                notAllowed = true;
            } else if (r.fault.kind == bw::host::site::Failure::ClockRefused) {
                tell(t, term, QStringLiteral("refused"), bw::host::site::faultLine(r.fault));
            } else {
                tell(t, term, QStringLiteral("port fault"), bw::host::site::faultLine(r.fault));
            }
        }
    }
    for (const TerminalEntry& term : std::as_const(tcp))
        tell(t, term, QStringLiteral("skipped because TCP/IP"), QString());
    for (const TerminalEntry& term : std::as_const(unusable))
        tell(t, term, QStringLiteral("skipped"),
             QStringLiteral("port \"%1\" is not 1..16").arg(term.port.mid(3)));
    if (notAllowed)
        return t.report.fail(NotAllowed, QStringLiteral("not allowed: %1 may not set clocks")
                                             .arg(bw::host::printable(acting.name)));
    const qsizetype total = serial.size() + unusable.size();
    if (total == 0)
        return t.report.fail(NoAnswer,
                             QStringLiteral("no answer: no model-6429 terminal on a serial port "
                                            "in the register"));
    if (answered < total)
        return t.report.fail(NoAnswer, QStringLiteral("no answer: %1 of %2 terminals on serial "
                                                      "ports did not answer")
                                           .arg(total - answered)
                                           .arg(total));
    return Ok;
}

// ---- ports ----

// Where COMn's device comes from.
QString mappingSource(const Options& o, int n) {
    if (o.com.contains(n))
        return QStringLiteral("command line");
    for (const auto& [port, device] : o.saved.com)
        if (port == n)
            return QStringLiteral("settings file");
    if (!qEnvironmentVariableIsEmpty(QStringLiteral("BW_COM%1").arg(n).toLatin1().constData()))
        return QStringLiteral("BW_COM%1").arg(n);
    return QStringLiteral("default");
}

int runPorts(Tool& t) {
    if (!t.o.args.isEmpty())
        return t.report.fail(BadArguments, QStringLiteral("bad arguments: ports [--probe]"));
    QStringList mapped;
    QMap<QString, QStringList> comsOf; // device -> "COMn" names
    t.report.set(QStringLiteral("mapping"), QJsonArray());
    QStringList mappingLines;
    for (int n = 1; n <= ComPorts; ++n) {
        const QString dev = t.device(n);
        const QString source = mappingSource(t.o, n);
        const bool exists = QFileInfo::exists(dev);
        t.report.append(QStringLiteral("mapping"),
                        QJsonObject{{QStringLiteral("port"), QStringLiteral("COM%1").arg(n)},
                                    {QStringLiteral("device"), dev},
                                    {QStringLiteral("source"), source},
                                    {QStringLiteral("exists"), exists}});
        if (source == QStringLiteral("default") && !exists)
            continue;
        mapped << dev;
        comsOf[QFileInfo(dev).canonicalFilePath()] << QStringLiteral("COM%1").arg(n);
        mappingLines << QStringLiteral("COM%1 = %2 (%3%4)")
                            .arg(n)
                            .arg(dev, source, exists ? QString() : QStringLiteral(", missing"));
    }
    t.report.set(QStringLiteral("devices"), QJsonArray());
    int ignored = 0;
    int unopened = 0;
    const QList<SerialDevice> devices = serialDevices(mapped);
    for (const SerialDevice& d : devices) {
        const QStringList coms = comsOf.value(QFileInfo(d.device).canonicalFilePath());
        QJsonObject o{{QStringLiteral("device"), d.device},
                      {QStringLiteral("description"), d.description},
                      {QStringLiteral("manufacturer"), d.manufacturer},
                      {QStringLiteral("serial_number"), d.serialNumber},
                      {QStringLiteral("by_id"), d.byId},
                      {QStringLiteral("listed"), d.listed},
                      {QStringLiteral("com"), QJsonArray::fromStringList(coms)}};
        QStringList parts;
        for (const auto& [label, value] :
             {std::pair{QStringLiteral("description"), d.description},
              std::pair{QStringLiteral("manufacturer"), d.manufacturer},
              std::pair{QStringLiteral("serial number"), d.serialNumber},
              std::pair{QStringLiteral("by-id"), d.byId}})
            if (!value.isEmpty())
                parts << QStringLiteral("%1 %2").arg(label, value);
        if (!d.listed)
            parts << QStringLiteral("not in the system's serial device list");
        // Only members of the device's group (dialout on Debian) may open it.
        const bool mayOpen = ::access(QFile::encodeName(d.device).constData(), R_OK | W_OK) == 0;
        o[QStringLiteral("may_open")] = mayOpen;
        if (!mayOpen && errno == EACCES)
            parts << bw::host::withPermissionAdvice(QStringLiteral("Permission denied"));
        if (!coms.isEmpty())
            parts << coms.join(QLatin1Char(' '));
        if (t.o.probe) {
            const ParityProbe p = probeMarkSpace(d.device);
            static const char* const names[] = {"kept", "ignored", "cannot open"};
            o[QStringLiteral("mark_space_parity")] = QLatin1String(names[p.result]);
            if (!p.reason.isEmpty())
                o[QStringLiteral("probe_detail")] = p.reason;
            if (p.result == ParityProbe::Kept)
                parts << QStringLiteral("keeps mark/space parity");
            else if (p.result == ParityProbe::Ignored)
                parts << QStringLiteral("IGNORES mark/space parity");
            else
                parts << QStringLiteral("cannot open (%1)")
                             .arg(bw::host::withPermissionAdvice(p.reason));
            ignored += p.result == ParityProbe::Ignored;
            unopened += p.result == ParityProbe::CannotOpen;
        }
        t.report.append(QStringLiteral("devices"), o);
        t.report.line(d.device + (parts.isEmpty() ? QString() : QStringLiteral(": ")) +
                      parts.join(QStringLiteral(", ")));
    }
    if (devices.isEmpty())
        t.report.line(QStringLiteral("no serial device found"));
    for (const QString& l : mappingLines)
        t.report.line(l);
    if (unopened > 0)
        return t.report.fail(PortFault, QStringLiteral("port fault: %1 of %2 devices could not "
                                                       "be opened")
                                            .arg(unopened)
                                            .arg(devices.size()));
    if (ignored > 0)
        return t.report.fail(NoAnswer, QStringLiteral("%1 of %2 devices ignore mark/space parity "
                                                      "and cannot carry the bell link")
                                           .arg(ignored)
                                           .arg(devices.size()));
    return Ok;
}

// ---- the command line ----

struct Command {
    const char* name;
    std::function<int(Tool&)> run;
    QStringList options; // the command's own options
};

const QList<Command>& commands() {
    static const QList<Command> list{
        {"test", runTest, {}},
        {"set-time", runSetTime, {QStringLiteral("force")}},
        {"read-bells", runReadBells, {}},
        {"set-bell-count", runSetBellCount, {}},
        {"scan", runScan, {QStringLiteral("timeout")}},
        {"sync-clocks",
         runSyncClocks,
         {QStringLiteral("db"), QStringLiteral("dry-run"), QStringLiteral("force")}},
        {"ports", runPorts, {QStringLiteral("probe")}},
    };
    return list;
}

const QString Description = QStringLiteral(
    "The bell-link commands of the model-6429 terminals, for field work and scripts.\n"
    "\n"
    "Commands:\n"
    "  test ADDR\n"
    "  set-time ADDR [YYYY-MM-DD HH:MM:SS] [--force]\n"
    "                                         (default: now, when the computer's clock is\n"
    "                                         synchronised; years 2000..2099 only)\n"
    "  read-bells ADDR\n"
    "  set-bell-count ADDR N                  (N 0..30)\n"
    "  scan [FROM TO] [--timeout MS]          (default 1 255, 100 ms per address)\n"
    "  sync-clocks [--db CONNECTION] [--dry-run] [--force]\n"
    "  ports [--probe]\n"
    "\n"
    "Exit status: 0 success, 1 no or wrong answer, 2 bad arguments, 3 port fault,\n"
    "4 not allowed (sync-clocks), 5 the clock guard refused, 6 the register could not be read.");

// Reads the command line into o; an error text when it is wrong.
QString parse(QCommandLineParser& p, const QStringList& arguments, Options& o) {
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port COM1..COM16 or a device (default COM1)."),
                                  QStringLiteral("COMn|DEVICE"), QStringLiteral("COM1"));
    const QCommandLineOption com(QStringLiteral("com"),
                                 QStringLiteral("Serial device of port COMn, e.g. "
                                                "3=/dev/ttyUSB0 (repeatable)."),
                                 QStringLiteral("n=DEVICE"));
    const QCommandLineOption json(QStringLiteral("json"),
                                  QStringLiteral("One JSON document on standard output."));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("scan: wait per address (default 100)."),
                                     QStringLiteral("MS"));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("sync-clocks: the register's database (default: "
                                               "the host program's)."),
                                QStringLiteral("CONNECTION"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("sync-clocks: say what would be done."));
    const QCommandLineOption probe(QStringLiteral("probe"),
                                   QStringLiteral("ports: open each device to test its parity."));
    const QCommandLineOption lineWait(
        QStringLiteral("line-wait"),
        QStringLiteral("Wait this long for a line another program holds (default 30)."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("set-time, sync-clocks: set the computer's clock even when it is not "
                       "synchronised or the change is more than [clock] max-change allows."));
    p.addOptions({port, com, json, timeout, db, dryRun, probe, lineWait, force});
    p.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands above."),
                            QStringLiteral("COMMAND [ARGS]"));
    if (!p.parse(arguments))
        return p.errorText();
    o.json = p.isSet(json);
    QStringList positional = p.positionalArguments();
    if (positional.isEmpty())
        return QStringLiteral("no command given (see --help)");
    o.command = positional.takeFirst();
    o.args = positional;
    const Command* cmd = nullptr;
    for (const Command& c : commands())
        if (o.command == QLatin1String(c.name))
            cmd = &c;
    if (!cmd)
        return QStringLiteral("unknown command \"%1\"").arg(o.command);
    for (const QCommandLineOption& own : {timeout, db, dryRun, probe, force})
        if (p.isSet(own) && !cmd->options.contains(own.names().constFirst()))
            return QStringLiteral("--%1 does not go with %2")
                .arg(own.names().constFirst(), o.command);
    for (const QString& v : p.values(com)) {
        int n = 0;
        QString device;
        if (!bw::host::parseComOption(v, n, device))
            return QStringLiteral("--com takes n=DEVICE with n from 1 to 16: ") + v;
        o.com[n] = device;
    }
    o.portText = p.value(port);
    if (o.portText.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive)) {
        int n = 0;
        if (!toInt(o.portText.mid(3), 1, ComPorts, n))
            return QStringLiteral("port \"%1\" is neither COM1..COM16 nor a device")
                .arg(o.portText);
        o.port = static_cast<short>(n);
    } else if (o.command == QStringLiteral("sync-clocks")) {
        return QStringLiteral("sync-clocks takes the ports of the register; map them with "
                              "--com n=DEVICE");
    } else if (o.portText.isEmpty()) {
        return QStringLiteral("--port needs COM1..COM16 or a device");
    } else {
        o.com[1] = o.portText; // a device goes behind port 1
        o.port = 1;
    }
    if (p.isSet(timeout) && !toInt(p.value(timeout), 1, 60000, o.timeoutMs))
        return QStringLiteral("--timeout takes 1 to 60000 ms");
    int waitMs = 0;
    if (p.isSet(lineWait) && !bw::host::parseLineWaitOption(p.value(lineWait), waitMs))
        return QStringLiteral("--line-wait takes 0 to 3600 seconds");
    if (p.isSet(lineWait))
        bw::setLineLockWaitMs(waitMs);
    o.db = p.value(db);
    o.dryRun = p.isSet(dryRun);
    o.probe = p.isSet(probe);
    o.force = p.isSet(force);
    return {};
}

} // namespace

// The program, started by tools/program_start.cpp for every command but --version.
extern "C" int bwProgramMain(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The operator's rights come from the permission component, as in the windows.
    bw::host::registerDbComponents();
    QCoreApplication::setApplicationName(QStringLiteral("brackwater-bell"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BW_VERSION));
    // The failure line names the device and the system's reason, or the line's holder,
    // already.
    QLoggingCategory::setFilterRules(
        QStringLiteral("brackwater.port.open.warning=false\nbw.line=false"));
    FailureBox box;
    bw::setUi(&box);
    Options o;
    QCommandLineParser p;
    p.setApplicationDescription(Description);
    const QCommandLineOption help = p.addHelpOption();
    const QCommandLineOption version = p.addVersionOption();
    const QString error = parse(p, app.arguments(), o);
    if (p.isSet(help)) {
        std::fputs(qPrintable(p.helpText()), stdout);
        return Ok;
    }
    if (p.isSet(version)) {
        std::printf("brackwater-bell %s\n", qPrintable(QCoreApplication::applicationVersion()));
        return Ok;
    }
    // COMn devices as the operator set them for every Brackwater program; --port DEVICE
    // still names a device for this run. --help and --version read no settings file.
    QStringList settingsProblems;
    o.saved = bw::host::readSettings(&settingsProblems);
    bw::host::setWorkstation(o.saved.workstation); // the register's terminals of this one
    bw::host::useSettingsLanguage(o.saved);        // its log rows in the site's language
    bw::trustUnsynchronisedClock(!o.saved.clockRequireSynchronised);
    bw::store::setConnectTimeoutS(bw::host::dbTimeoutS(o.saved));
    for (const auto& [n, device] : o.saved.com)
        bw::bell::setDevicePath(n, device);
    // A COMn the file names without a device opens nothing, unless --com gives it one.
    for (int n : o.saved.comWithoutDevice)
        bw::bell::setNoDevice(n);
    for (const QString& problem : settingsProblems)
        std::fprintf(stderr, "settings: %s\n", qPrintable(bw::host::printable(problem)));

    Report report(o.command, o.json);
    if (!error.isEmpty())
        return report.finish(report.fail(BadArguments, QStringLiteral("bad arguments: ") + error));
    for (auto it = o.com.cbegin(); it != o.com.cend(); ++it)
        bw::bell::setDevicePath(it.key(), it.value());

    Tool tool{o, report, box, {}};
    if (o.command != QStringLiteral("sync-clocks") && o.command != QStringLiteral("ports"))
        report.set(QStringLiteral("port"), bw::bell::devicePath(o.port));
    int rc = Ok;
    try {
        for (const Command& c : commands())
            if (o.command == QLatin1String(c.name))
                rc = c.run(tool);
    } catch (const bw::Error& e) {
        rc = report.fail(PortFault, QStringLiteral("port fault: ") + e.description());
    }
    return report.finish(rc);
}

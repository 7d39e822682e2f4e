#pragma once

#include "host/site/site_layer.h"

#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace bw::store {
class SqlConnection;
}

namespace bw::host::site {

// The steps that change a terminal, in the order a nightly run takes them.
enum class Step { Collect, Clock, Names };
// "collect", "clock", "names": the step as the command line and SiteStep name it.
QString stepName(Step step);

// The typed outcome of one step on one terminal: its data, or the fault that stopped it.
struct StepResult {
    int terminal = 0;
    Step step = Step::Collect;
    bool ok = false;
    Fault fault;                // when not ok
    collect::Outcome collected; // Collect: the collection's own outcome
    int cards = 0;              // Names: the cards of CardMapping for the terminal
    qint64 held = -1;           // Names: the cards the terminal held before (-1: not read)
    bool inStep = false;        // Names: the terminal's list was CardMapping's already
    bool wouldDownload = false; // Names, dry run: the list would be downloaded
    bool downloaded = false;    // Names: the list was downloaded and acknowledged
    QDateTime clockSetTo;       // Clock: the time sent, when set
    int unwritten = 0;          // its operation-log entries and SiteStep row the database refused
    bool busy() const { return fault.kind == Failure::LineBusy; }
};

// What a run is asked to do.
struct Request {
    QString connection;   // the host database
    QList<int> terminals; // terminal numbers; empty: every model-6429 terminal of MachineInfo
    QList<Step> steps;    // taken in this order on every line
    bool clear = false;   // collect: delete on the terminal what was stored
    collect::Options collectOptions; // collect: block and batch sizes, a hook before a delete
    bool dryRun = false;             // names: say what would be downloaded, change nothing
    bool force = false;              // names: download also a list that is in step
    // clock: set also when the computer's clock is not synchronised or the change exceeds
    // clockMaxChangeS() (never a year outside 2000..2099)
    bool forceClock = false;
    // The operator the logs name (a server writes its session's user); every front end sets it.
    QString user = QStringLiteral("brackwater-site");
    int pool = 0; // lines worked at once (0: poolSize())
    // The operator's: every front end sets them (operatorRights, programOperator).
    Rights rights = allowEverything();
    // The words SiteStep keeps for a result, in the language of the front end (default: the
    // tools' English line).
    std::function<QString(const StepResult&)> stepWords;
    // A connection to `connection` that the caller's thread has open already, for the register
    // (the lines' workers open their own); empty: the run opens one.
    std::shared_ptr<store::SqlConnection> database;
    // Told when a worker starts (true) and ends (false) a line.
    std::function<void(const TerminalLine&, bool)> lineWatch;
};

struct RunSummary {
    bool databaseOpened = true;
    QString databaseError;
    QStringList skipped; // the register's rows left out, one line each
    int failed = 0;      // step results that are not ok
    int busy = 0;        // of them, on a line that stayed busy
    int notAllowed = 0;  // of them, refused to the operator: nothing was sent
    int unwritten = 0;   // operation-log entries and SiteStep rows the database refused
};

// Progress of a step on a terminal: (terminal, done, total).
using StepProgress = std::function<void(int, qint64, qint64)>;

// Takes the steps on the requested terminals through the door (takeStep), the lines on the
// pool. report gets every step's result as it is known, one call at a time. A database that
// cannot be opened at the start ends the run before any terminal is touched.
RunSummary runSite(const Request& request, const std::function<void(const StepResult&)>& report,
                   const std::atomic_bool* cancel = nullptr, const StepProgress& progress = {});

// The door: one step on one terminal of the line the worker holds. Checks the right (refused:
// nothing is sent, a NotAllowed result), uses the line's link, writes the operation log and
// SiteStep naming the operator, and returns the typed result.
StepResult takeStep(Worker& worker, LineContext& line, const TerminalEntry& terminal, Step step,
                    const Request& request, const std::atomic_bool* cancel = nullptr,
                    const StepProgress& progress = {});

// The one clock step of a terminal over the line: the time is sent and acknowledged.
StepResult setClock(LineContext& line, const TerminalEntry& terminal, bool force = false);
// Why the clock guard refused a push, in words for the command line.
QString clockRefusalLine(const ClockVerdict& verdict);

// Gives the terminals to station ("" for none) in the register when the operator may change it
// (Action::Assign; false: nothing changed). Each terminal's change is in the operation log,
// naming the operator. Throws bw::Error when the database refuses the change.
bool assignTerminals(store::SqlConnection& cn, const QList<int>& terminals, const QString& station,
                     const QString& user, const Rights& rights);

// Keeps a step's result in SiteStep, its fault by name (faultName); a row the database refuses
// is dropped with a warning, and false returned.
bool recordStep(store::SqlConnection& cn, const StepResult& result, const QString& user,
                const QString& words);

// What a run could not keep (RunSummary::unwritten), one line for the tools' error output:
// "2 operation-log entries or step rows could not be written to the database".
QString unwrittenLine(int unwritten);

// "1 card", "120 cards".
QString cardCount(qint64 n);
// The tools' English: "terminal 3 names: downloaded 120 cards", and a fault's words.
QString resultLine(const StepResult& result);
QString resultWords(const StepResult& result); // the part after "terminal N step: "
QString faultLine(const Fault& fault);
// Any step's result in the operator's language (2052, 1028), for the windows.
QString stepText(const StepResult& result);
// The same as shown to the operator: with the operation-log entries and the step's row that the
// database refused, when there were any.
QString shownStepText(const StepResult& result);
// A fault kind as SiteStep's column Fault keeps it ("two-units"; empty for none), and back.
QString faultName(Failure kind);
Failure faultNamed(const QString& name);

} // namespace bw::host::site

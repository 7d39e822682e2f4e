#pragma once

#include <QList>
#include <QString>
#include <atomic>
#include <functional>

namespace bw::store {
class SqlConnection;
}

namespace bw::host::site {

// The routine steps of a site, in the order a nightly run takes them.
enum class Step { Collect, Clock, Names };
// "collect", "clock", "names": the step as the command line and SiteStep name it.
QString stepName(Step step);

// What a run is asked to do.
struct Request {
    QString connection;   // the host database
    QList<int> terminals; // terminal numbers; empty: every model-6429 terminal of MachineInfo
    QList<Step> steps;    // taken in this order on every line
    bool clear = false;   // collect: delete on the terminal what was stored
    bool dryRun = false;  // names: say what would be downloaded, change nothing
    bool force = false;   // names: download also a list that is in step
    QString user = QStringLiteral("brackwater-site");
    QList<int> comWithoutDevice; // COM numbers the settings name without a device: not opened
};

// The outcome of one step on one terminal.
struct StepResult {
    int terminal = 0;
    Step step = Step::Collect;
    bool ok = false;
    bool busy = false; // the line was held by another program throughout
    QString text;      // one line in plain English
};

// "terminal 3 names: downloaded 120 cards"
QString resultLine(const StepResult& result);

struct RunSummary {
    bool databaseOpened = true;
    QString databaseError;
    int failed = 0; // step results that are not ok
    int busy = 0;   // of them, on a line that stayed busy
};

// Takes the steps on the requested terminals: the lines (serial devices, and each TCP/IP
// terminal alone) at the same time, each with its own database connection and link, the
// terminals of one line one after the other. report gets every step's result as it is known,
// one call at a time; each result is also kept in SiteStep. A database that cannot be opened
// at the start ends the run before any terminal is touched.
RunSummary runSite(const Request& request, const std::function<void(const StepResult&)>& report,
                   const std::atomic_bool* cancel = nullptr);

// Keeps a step's result in SiteStep; a row the database refuses is dropped with a warning.
void recordStep(store::SqlConnection& cn, const StepResult& result, const QString& user);

} // namespace bw::host::site

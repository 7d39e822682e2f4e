#include "host/site/site_run.h"

#include "host/names/employees.h"

#include "bell/bell_link.h"
#include "host/collect/collect_run.h"
#include "host/collect/collect_texts.h"
#include "host/ledger/schema.h"
#include "host/ledger/stations.h"
#include "host/link/link.h"
#include "host/names/employees.h"
#include "host/names/name_lists.h"
#include "host/site/clock_step.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <QDateTime>
#include <mutex>

namespace bw::host::site {

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

Action actionOf(Step step, bool clear) {
    switch (step) {
    case Step::Collect:
        return clear ? Action::Clear : Action::Collect;
    case Step::Clock:
        return Action::Clock;
    case Step::Names:
        return Action::Names;
    }
    return Action::Collect;
}

StepResult failed(const TerminalEntry& t, Step step, Fault fault) {
    StepResult r;
    r.terminal = t.address;
    r.step = step;
    r.fault = std::move(fault);
    return r;
}

// A step that stopped before the terminal was asked; a collection keeps its outcome too.
StepResult notReached(const TerminalEntry& t, Step step, const Fault& f) {
    StepResult r = failed(t, step, f);
    if (step == Step::Collect) {
        r.collected.address = t.address;
        r.collected.state = collect::Outcome::State::Failed;
        r.collected.failure = f.kind;
        r.collected.where = f.where;
        r.collected.cause = f.cause;
        r.collected.reason = f.words;
    }
    return r;
}

Fault fault(Failure kind, const QString& cause = QString(), const QString& words = QString()) {
    Fault f;
    f.kind = kind;
    f.cause = cause;
    f.words = words;
    return f;
}

// The entries "clear sent up to N, awaiting confirmation" that a collection which ended before
// the delete's reply left on this terminal: its record status tells now whether the records up
// to N are gone. A terminal that cannot be asked leaves them for the next run (the collection
// says why it failed).
void completeLeftClears(store::SqlConnection& cn, collect::RecordSource& source, int address) {
    QList<collect::LeftClear> left;
    try {
        left = collect::leftClears(cn, address);
    } catch (const Error& e) {
        qWarning("Operation log not read (%d: %s)", e.number(), qUtf8Printable(e.description()));
        return;
    }
    collect::RecordStatus status;
    if (left.isEmpty() || !source.status(status))
        return;
    for (const collect::LeftClear& entry : std::as_const(left))
        collect::completeLeftClear(cn, address, entry,
                                   status.count == 0 || status.first > entry.upTo);
}

// Records per PostgreSQL batch at most.
constexpr int PostgresBatch = 2000;

// A collection on the line's link: records into MealRecord, its log entry written before a
// delete goes out (a collector that dies after it still leaves one) and completed afterwards.
StepResult collectStep(store::SqlConnection& cn, Link& link, const TerminalEntry& t,
                       const Request& rq, const std::atomic_bool* cancel,
                       const StepProgress& progress) {
    collect::MealStore sink(cn, rq.user);
    collect::LinkSource source(t.address, link);
    QString pending;
    collect::Options options = rq.collectOptions;
    options.clear = rq.clear;
    // On PostgreSQL a batch's COPY is written while the next blocks are read: smaller batches
    // keep the two overlapping, and each worker of the pool holds less of a night's records.
    if (cn.backend() == store::BackendSettings::Kind::Postgres)
        options.batchSize = std::min(options.batchSize, PostgresBatch);
    options.beforeClear = [&](quint32 upTo) {
        const QString entry = collect::text(collect::Text::ClearPending).arg(upTo);
        // The entry is the delete's condition: one the database refuses raises, and the
        // collector then deletes nothing.
        collect::writeTerminalAction(cn, rq.user, t.address,
                                     collect::text(collect::Text::ActionCollectClear), entry);
        pending = entry;
        if (rq.collectOptions.beforeClear)
            rq.collectOptions.beforeClear(upTo);
    };
    completeLeftClears(cn, source, t.address);
    StepResult r;
    r.terminal = t.address;
    r.step = Step::Collect;
    r.collected = collect::collectTerminal(
        t.address, source, sink, options,
        [&](qint64 done, qint64 total) {
            if (progress)
                progress(t.address, done, total);
        },
        cancel);
    r.ok = r.collected.ok();
    if (!r.ok) {
        r.fault.kind = r.collected.state == collect::Outcome::State::Cancelled
                           ? Failure::Cancelled
                           : r.collected.failure;
        r.fault.cause = r.collected.cause;
        r.fault.words = r.collected.reason;
    }
    const QString words = collect::resultText(r.collected);
    const bool logged =
        pending.isEmpty()
            ? collect::logCollection(cn, rq.user, r.collected, rq.clear, words)
            : collect::completeLogEntry(cn, rq.user, r.collected, rq.clear, pending, words);
    r.unwritten += logged ? 0 : 1;
    return r;
}

// The name list: CardMapping's cards for the terminal, downloaded unless the terminal holds
// them already (or always, forced); a dry run only says what it would do.
StepResult namesStep(store::SqlConnection& cn, Link& link, const TerminalEntry& t,
                     const Request& rq, const std::atomic_bool* cancel,
                     const StepProgress& progress) {
    QStringList cards;
    try {
        cards = names::cardsOf(cn, t.address);
    } catch (const Error& e) {
        return failed(t, Step::Names, fault(Failure::Database, e.description()));
    }
    StepResult r;
    r.terminal = t.address;
    r.step = Step::Names;
    r.cards = int(cards.size());
    if (cards.size() > protocol::MaxNames) {
        r.fault = fault(Failure::TooManyCards, QString::number(cards.size()));
        return r;
    }
    protocol::NameListStatus held;
    if (!link.readNameListStatus(t.address, held)) {
        r.fault = faultOfLink(link);
        return r;
    }
    r.held = held.count;
    r.inStep =
        held.count == quint32(cards.size()) && held.checksum == protocol::nameListChecksum(cards);
    if (r.inStep && !rq.force) {
        r.ok = true;
        return r;
    }
    if (rq.dryRun) {
        r.ok = r.wouldDownload = true;
        return r;
    }
    if (link.writeNameList(
            t.address, cards,
            [&](int done, int total) {
                if (progress)
                    progress(t.address, done, total);
            },
            cancel)) {
        r.ok = r.downloaded = true;
    } else {
        r.fault = faultOfLink(link);
    }
    return r;
}

} // namespace

StepResult setClock(LineContext& line, const TerminalEntry& t, bool force) {
    StepResult r;
    r.terminal = t.address;
    r.step = Step::Clock;
    // What the terminal's clock shows now, where the terminal protocol can read it: the guard
    // refuses a push that would move it too far. A forced push is not judged by it, and the
    // line is spared the exchange.
    std::optional<QDateTime> before;
    Link* link = nullptr;
    if (!force) {
        if (const std::optional<QDateTime> read = line.clockRead(t.address)) {
            if (read->isValid())
                before = *read;
        } else {
            link = line.link();
            if (!link && line.com() == 0)
                return failed(t, Step::Clock, line.fault());
            QDateTime shown;
            if (link && link->readTerminalClock(t.address, shown))
                before = shown;
        }
    }
    const ClockVerdict verdict = clockToSend(before, force, clockMaxChangeS());
    if (!verdict.allowed()) {
        r.fault = fault(Failure::ClockRefused, {}, clockRefusalLine(verdict));
        r.fault.clock = verdict.refusal;
        r.fault.clockChangeS = verdict.changeS;
        return r;
    }
    if (line.com() > 0) {
        // A serial terminal: its clock is set over the bell link.
        bell::BellLink* bell = line.bellLink();
        if (!bell)
            return failed(t, Step::Clock, line.fault());
        const BellClockResult set = setClockOverBell(*bell, t.address, verdict.send);
        r.ok = set.state == BellClockResult::State::Set;
        if (r.ok)
            r.clockSetTo = verdict.send;
        else if (set.state == BellClockResult::State::NoAnswer)
            r.fault = fault(Failure::NoAnswer, {}, QStringLiteral("no answer"));
        else
            r.fault = fault(Failure::ConnectionLost, set.fault,
                            QStringLiteral("port fault: ") + set.fault);
        return r;
    }
    if (!link && !(link = line.link()))
        return failed(t, Step::Clock, line.fault());
    if (link->setTerminalClock(t.address, verdict.send)) {
        r.ok = true;
        r.clockSetTo = verdict.send;
    } else {
        r.fault = faultOfLink(*link);
    }
    return r;
}

StepResult takeStep(Worker& worker, LineContext& line, const TerminalEntry& t, Step step,
                    const Request& rq, const std::atomic_bool* cancel,
                    const StepProgress& progress) {
    if (rq.rights && !rq.rights(actionOf(step, rq.clear)))
        return failed(t, step, fault(Failure::NotAllowed));
    if (cancel && cancel->load())
        return failed(t, step, fault(Failure::Cancelled, {}, QStringLiteral("cancelled")));
    store::SqlConnection* cn = worker.database();
    if (!cn)
        return failed(t, step,
                      fault(Failure::Database, worker.dbError,
                            QStringLiteral("database: ") + worker.dbError));
    // The register as it is now: a terminal given to another workstation since the run began
    // is not touched (a unit of that number on this line is another one).
    if (const QString station = stationOf(*cn, t.address); !worksHere(station))
        return failed(t, step, fault(Failure::OtherWorkstation, station));
    StepResult r;
    Link* link = step == Step::Clock ? nullptr : line.link();
    if (step == Step::Clock) {
        r = setClock(line, t, rq.forceClock);
    } else if (!link) {
        r = notReached(t, step, line.fault());
    } else if (step == Step::Collect) {
        return collectStep(*cn, *link, t, rq, cancel, progress); // logs itself
    } else {
        r = namesStep(*cn, *link, t, rq, cancel, progress);
    }
    bool logged = true;
    if (step == Step::Collect && !link) {
        logged = collect::logCollection(*cn, rq.user, r.collected, rq.clear,
                                        collect::resultText(r.collected));
    } else if (!(step == Step::Names && (rq.dryRun || (r.ok && !r.downloaded)))) {
        logged = collect::logTerminalAction(*cn, rq.user, t.address,
                                            collect::text(step == Step::Clock
                                                              ? collect::Text::ActionClock
                                                              : collect::Text::DownloadNames),
                                            stepText(r));
    }
    r.unwritten += logged ? 0 : 1;
    return r;
}

QString stepName(Step step) {
    switch (step) {
    case Step::Collect:
        return QStringLiteral("collect");
    case Step::Clock:
        return QStringLiteral("clock");
    case Step::Names:
        return QStringLiteral("names");
    }
    return QString();
}

// Why the clock guard refused a push, in words for the command line.
QString clockRefusalLine(const ClockVerdict& v) {
    switch (v.refusal) {
    case ClockRefusal::None:
        break;
    case ClockRefusal::Unsynchronised:
        return QStringLiteral("the computer's clock is not synchronised (the kernel says so); "
                              "use --force to set it anyway");
    case ClockRefusal::TooFar:
        return QStringLiteral("the change of %1 s is more than allowed ([clock] max-change=); "
                              "use --force to set it anyway")
            .arg(v.changeS.value_or(0));
    case ClockRefusal::YearOutOfRange:
        return QStringLiteral("the terminal holds the years 2000 to 2099 only, not %1")
            .arg(v.send.isValid() ? QString::number(v.send.date().year()) : QStringLiteral("?"));
    }
    return QString();
}

QString faultLine(const Fault& f) {
    switch (f.kind) {
    case Failure::NotAllowed:
        return QStringLiteral("not allowed");
    case Failure::NotInRegister:
        return QStringLiteral("not a model-6429 terminal of MachineInfo");
    case Failure::OtherWorkstation:
        return QStringLiteral("worked by workstation %1, not this one (%2)")
            .arg(f.cause, workstation());
    case Failure::TooManyCards:
        return QStringLiteral("%1 cards, more than a terminal holds (%2)")
            .arg(f.cause)
            .arg(protocol::MaxNames);
    case Failure::Database:
        return singleLine(f.words.isEmpty() ? QStringLiteral("database: ") + f.cause : f.words);
    case Failure::Cancelled:
        return QStringLiteral("cancelled");
    default:
        return f.words;
    }
}

QString unwrittenLine(int n) {
    return QStringLiteral("%1 operation-log %2 or step %3 could not be written to the database")
        .arg(n)
        .arg(n == 1 ? QStringLiteral("entry") : QStringLiteral("entries"),
             n == 1 ? QStringLiteral("row") : QStringLiteral("rows"));
}

QString cardCount(qint64 n) {
    return n == 1 ? QStringLiteral("1 card") : QStringLiteral("%1 cards").arg(n);
}

QString resultWords(const StepResult& r) {
    if (r.step == Step::Collect && r.collected.address != 0) {
        // The collection's own line without its "terminal N: " head.
        const QString line = collect::resultLine(r.collected);
        const QString head = QStringLiteral("terminal %1: ").arg(r.terminal);
        return line.startsWith(head) ? line.mid(head.size()) : line;
    }
    if (!r.ok) {
        if (r.fault.kind == Failure::Cancelled)
            return QStringLiteral("cancelled");
        if (r.step == Step::Names && r.held >= 0)
            return QStringLiteral("failed: %1 (the terminal keeps its list of %2)")
                .arg(faultLine(r.fault), cardCount(r.held));
        return QStringLiteral("failed: ") + faultLine(r.fault);
    }
    if (r.step == Step::Clock)
        return QStringLiteral("clock set to ") + r.clockSetTo.toString(TimeFormat);
    if (r.wouldDownload)
        return QStringLiteral("would download %1 (the terminal holds %2%3)")
            .arg(cardCount(r.cards), QString::number(r.held),
                 r.inStep ? QStringLiteral(", in step") : QString());
    if (r.downloaded)
        return QStringLiteral("downloaded ") + cardCount(r.cards);
    return QStringLiteral("in step, ") + cardCount(r.cards);
}

QString resultLine(const StepResult& r) {
    return QStringLiteral("terminal %1 %2: %3")
        .arg(QString::number(r.terminal), stepName(r.step), resultWords(r));
}

namespace {

// Every fault kind by the name SiteStep keeps: never renamed, so that older rows still read.
const std::pair<Failure, const char*> kFaultNames[] = {
    {Failure::CannotOpen, "cannot-open"},
    {Failure::NoAnswer, "no-answer"},
    {Failure::Refused, "refused"},
    {Failure::BadBlock, "bad-block"},
    {Failure::BadStatus, "bad-status"},
    {Failure::ConnectionLost, "connection-lost"},
    {Failure::Database, "database"},
    {Failure::LineBusy, "line-busy"},
    {Failure::NoDevice, "no-device"},
    {Failure::NotAllowed, "not-allowed"},
    {Failure::Unconfirmed, "unconfirmed"},
    {Failure::Cancelled, "cancelled"},
    {Failure::NotInRegister, "not-in-register"},
    {Failure::TooManyCards, "too-many-cards"},
    {Failure::BadPort, "bad-port"},
    {Failure::ClockRefused, "clock-refused"},
    {Failure::OtherWorkstation, "other-workstation"},
    {Failure::TwoUnits, "two-units"},
};

} // namespace

QString faultName(Failure kind) {
    for (const auto& [k, name] : kFaultNames)
        if (k == kind)
            return QString::fromLatin1(name);
    return QString();
}

Failure faultNamed(const QString& name) {
    for (const auto& [k, n] : kFaultNames)
        if (name == QLatin1String(n))
            return k;
    return Failure::None;
}

bool recordStep(store::SqlConnection& cn, const StepResult& r, const QString& user,
                const QString& words) {
    const QString fault = r.ok ? QString() : faultName(r.fault.kind);
    const QVariantList values{r.terminal,
                              stepName(r.step),
                              QDateTime::currentDateTime().toString(TimeFormat),
                              user.left(255),
                              words.left(255),
                              r.ok ? 1 : 0,
                              workstation(),
                              fault.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : fault};
    try {
        cn.executeBound(QStringLiteral("INSERT INTO SiteStep (MachAddr, Step, StepAt, StepBy, "
                                       "Result, Ok, Station, Fault) VALUES (?, ?, ?, ?, ?, ?, ?, "
                                       "?)"),
                        values);
        return true;
    } catch (const Error& e) {
        // A SiteStep without the workstation and fault columns (a table the schema leaves as it
        // is) refuses the statement; any other failure is not tried again.
        if (e.number() != store::dberr::CommandFailed) {
            qWarning("Site step not kept (%d: %s)", e.number(), qUtf8Printable(e.description()));
            return false;
        }
    }
    try {
        cn.executeBound(QStringLiteral("INSERT INTO SiteStep (MachAddr, Step, StepAt, StepBy, "
                                       "Result, Ok) VALUES (?, ?, ?, ?, ?, ?)"),
                        values.mid(0, 6));
        return true;
    } catch (const Error& e) {
        qWarning("Site step not kept (%d: %s)", e.number(), qUtf8Printable(e.description()));
        return false;
    }
}

bool assignTerminals(store::SqlConnection& cn, const QList<int>& terminals, const QString& station,
                     const QString& user, const Rights& rights) {
    if (!rights || !rights(Action::Assign))
        return false;
    assignStation(cn, terminals, station);
    const QString result =
        station.isEmpty() ? collect::text(collect::Text::NoWorkstation) : station;
    for (int n : terminals)
        collect::logTerminalAction(cn, user, n, collect::text(collect::Text::ActionAssign), result);
    return true;
}

RunSummary runSite(const Request& rq, const std::function<void(const StepResult&)>& report,
                   const std::atomic_bool* cancel, const StepProgress& progress) {
    RunSummary summary;
    std::mutex mutex;
    const auto tell = [&](const StepResult& r) {
        const std::lock_guard<std::mutex> lock(mutex);
        summary.unwritten += r.unwritten;
        if (!r.ok) {
            ++summary.failed;
            if (r.busy())
                ++summary.busy;
            if (r.fault.kind == Failure::NotAllowed)
                ++summary.notAllowed;
        }
        if (report)
            report(r);
    };
    const auto lockedProgress = [&](int terminal, qint64 done, qint64 total) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (progress)
            progress(terminal, done, total);
    };

    Register reg;
    // Held until the run ends: with SQLite, closing the last connection between the register
    // and the workers would checkpoint and remove the write-ahead log only to create it again.
    std::shared_ptr<store::SqlConnection> registerConnection = rq.database;
    try {
        if (!registerConnection)
            registerConnection = std::make_shared<store::SqlConnection>(rq.connection);
        // the register, and SiteStep and MealRecord of an older database
        completeHostSchema(*registerConnection);
        reg = readRegister(*registerConnection);
    } catch (const Error& e) {
        summary.databaseOpened = false;
        summary.databaseError = e.description();
        return summary;
    }
    summary.skipped = reg.skipped;
    // A site with a register of employees: the lists are made what the register says today
    // before they are compared with the terminals'.
    if (rq.steps.contains(Step::Names) && !rq.dryRun && (!rq.rights || rq.rights(Action::Names))) {
        try {
            names::deriveNameLists(*registerConnection, QDate::currentDate());
        } catch (const Error& e) {
            summary.skipped << QStringLiteral("name lists not made from the register: ") +
                                   e.description();
        }
    }
    QList<TerminalEntry> chosen;
    if (rq.terminals.isEmpty()) {
        chosen = reg.terminals;
    } else {
        for (int n : rq.terminals) {
            auto it = std::find_if(reg.terminals.cbegin(), reg.terminals.cend(),
                                   [n](const TerminalEntry& t) { return t.address == n; });
            if (it != reg.terminals.cend()) {
                chosen << *it;
                continue;
            }
            TerminalEntry unknown;
            unknown.address = n;
            // Another workstation's terminal is neither asked nor logged here.
            const Fault why = reg.stations.contains(n)
                                  ? fault(Failure::OtherWorkstation, reg.stations.value(n))
                                  : fault(Failure::NotInRegister);
            for (Step step : rq.steps)
                tell(failed(unknown, step, why));
        }
    }
    const auto words = rq.stepWords ? rq.stepWords : resultWords;
    // The workers only read the terminals: through a const list, so that no worker detaches
    // (copies) a list it shares with the register while another reads it.
    const QList<TerminalEntry>& terminals = chosen;
    workPool(
        collect::linesOf(terminals), rq.pool, rq.connection,
        [&](Worker& worker, const TerminalLine& line) {
            LineContext context(terminals[line.members.first()].port);
            for (Step step : rq.steps) {
                // A serial line's clocks are read before any is set (see readClocks).
                if (step == Step::Clock && context.com() > 0 && !rq.dryRun && !rq.forceClock) {
                    QList<int> addresses;
                    for (int i : line.members)
                        addresses << terminals[i].address;
                    if (!rq.rights || rq.rights(Action::Clock))
                        context.readClocks(addresses);
                }
                for (int i : line.members) {
                    StepResult r =
                        takeStep(worker, context, terminals[i], step, rq, cancel, lockedProgress);
                    if (!rq.dryRun && r.fault.kind != Failure::NotAllowed &&
                        r.fault.kind != Failure::OtherWorkstation && worker.database() &&
                        !recordStep(*worker.database(), r, rq.user, words(r)))
                        ++r.unwritten;
                    tell(r);
                }
            }
        },
        rq.lineWatch);
    return summary;
}

QString stepText(const StepResult& r) {
    using namespace collect;
    // Refused for want of a right: nothing was sent, nothing failed.
    if (r.fault.kind == Failure::NotAllowed)
        return text(Text::Refused);
    if (r.step == Step::Collect && r.fault.kind != Failure::NotAllowed &&
        r.fault.kind != Failure::NotInRegister && r.fault.kind != Failure::NoDevice &&
        r.fault.kind != Failure::OtherWorkstation && r.collected.address != 0)
        return resultText(r.collected);
    if (r.step == Step::Collect)
        return text(Text::Failed).arg(faultText(r.fault)).arg(0);
    if (r.step == Step::Clock)
        return r.ok ? text(Text::ClockSet).arg(timeText(r.clockSetTo))
                    : text(Text::ClockFailed).arg(faultText(r.fault));
    if (!r.ok)
        return r.fault.kind == Failure::Cancelled ? text(Text::NamesCancelled)
                                                  : text(Text::NamesFailed).arg(faultText(r.fault));
    if (r.wouldDownload)
        return text(Text::NamesWould).arg(r.cards).arg(r.held);
    return r.downloaded ? text(Text::NamesDone).arg(r.cards) : text(Text::NamesInStep).arg(r.cards);
}

QString shownStepText(const StepResult& r) {
    return stepText(r) + (r.unwritten > 0
                              ? collect::text(collect::Text::NoteUnwritten).arg(r.unwritten)
                              : QString());
}

} // namespace bw::host::site

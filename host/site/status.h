#pragma once

#include "host/site/site_layer.h"

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <optional>

namespace bw::host::site {

// One step the host database remembers: a collection, or a step of the site routine.
struct StepRecord {
    QDateTime at;
    QString by;
    QString result;
    bool ok = false;
};

// A terminal's clock may differ this much from the computer's before it asks for a hand.
constexpr qint64 ClockToleranceS = 60;
// The records a terminal is reckoned to hold; waiting records above 80 % of it ask for a hand.
constexpr qint64 RecordsHeld = 30000;
constexpr qint64 RecordsWaitingLimit = RecordsHeld * 8 / 10;

// What is known of one terminal of the register at one moment.
struct TerminalStatus {
    int terminal = 0;
    QString port;                   // "COM<n>" or the IP address text
    QString place;                  // MachineInfo's place text (Team)
    bool answers = false;           // answered the record status (a possible one or not)
    std::optional<int> roundTripMs; // of the record-status exchange
    Fault fault; // why it does not answer: the line busy, the port not opened, no answer, ...
    std::optional<qint64> clockOffsetS;           // terminal clock minus computer clock, seconds
    std::optional<qint64> recordsWaiting;         // meal records stored on the terminal
    bool impossibleRecords = false;               // answered a record status that cannot be
    std::optional<bool> namesInStep;              // list size and checksum equal CardMapping's
    std::optional<StepRecord> lastCollection;     // from CtrlLog or SiteStep, the newest
    std::optional<StepRecord> lastGoodCollection; // the newest of them that went well
    std::optional<StepRecord> lastNightly;        // the last nightly run's steps, from SiteStep
    // Another workstation's terminal: its name. Such a terminal is never asked; what is known
    // of it is what the database keeps of its workstation's runs.
    QString station;
    // What needs a hand: silent; an impossible record status; the clock not read, or off by
    // more than clockToleranceS; the name list not read (or its expected list unknown), or
    // out of step; the last collection failed; more than recordsLimit records waiting. What
    // could not be read of a terminal that answers is never taken as fine.
    enum class Hand {
        Silent,
        Clock,
        Names,
        Collection,
        Records,
        ImpossibleRecords,
        ClockUnread,
        NamesUnread
    };
    QList<Hand> handsNeeded(qint64 clockToleranceS = ClockToleranceS,
                            qint64 recordsLimit = RecordsWaitingLimit) const;
    bool needsHand(qint64 clockToleranceS = ClockToleranceS,
                   qint64 recordsLimit = RecordsWaitingLimit) const {
        return !handsNeeded(clockToleranceS, recordsLimit).isEmpty();
    }
};

struct StatusRequest {
    QString connection;   // the host database
    QList<int> terminals; // terminal numbers; empty: every model-6429 terminal of MachineInfo
    // How long a serial line another program holds is waited for before it is reported busy.
    int lineWaitMs = 1000;
    // How long one exchange waits for a terminal's reply.
    int replyTimeoutMs = 1000;
    int pool = 0; // lines read at once (0: poolSize())
    // A reading of every terminal gives also those of other workstations, from the database.
    bool withOthers = false;
    // A line test asks for the right of the terminal window's communication test (refused:
    // nothing is sent, each terminal's fault is NotAllowed); a status reading needs none.
    bool lineTest = false;
    Rights rights = allowEverything();
    QString caption = {};
    std::function<void(const TerminalLine&, bool)> lineWatch = {};
};

// Reads every terminal's status: the lines at the same time (each serial device, and each
// TCP/IP terminal alone; a serial line is taken with its lock for the whole line), the
// terminals of one line in turn. `each` is called, one call at a time, from the lines' threads
// as each terminal's status is known. Returns all, in register order; a requested number that
// is no model-6429 terminal of MachineInfo comes last with its reason. Throws bw::Error when
// the database cannot be opened or its terminals cannot be read. A set cancel stops before the
// next terminal; the terminals not read are reported with reason "cancelled". Another
// workstation's terminal is never asked: asked for by number (or withOthers), it comes after
// this workstation's with its station and its history only.
QList<TerminalStatus> readStatus(const StatusRequest& request,
                                 const std::function<void(const TerminalStatus&)>& each = {},
                                 const std::atomic_bool* cancel = nullptr);

// {"terminals": [{"terminal": 3, "answers": true, "roundTripMs": 12, "reason": "",
//   "clockOffsetS": 120, "recordsWaiting": 40, "impossibleRecords": false, "namesInStep": true,
//   "lastCollection": {"at": "...", "by": "...", "result": "...", "ok": true}, ...}],
//   "hands": ["clock-unread", ...]}], "exit": 0}; null where a value could not be read.
QJsonObject statusJson(const QList<TerminalStatus>& all, int exitCode);

// The site's state in the text format a node exporter's textfile collector reads: per terminal
// (label terminal="N") whether it answers, its round trip and clock offset in seconds, the
// records waiting, whether its name list is in step, the seconds since its last collection
// that went well (never_collected 1 for a terminal that had none), whether it needs a hand,
// and an info series naming its port, place
// and workstation; a value that was not read is left out. Another workstation's terminal
// gives only what its workstation wrote; a number that is no terminal of the register none.
// read: whether the database was read at all (brackwater_site_read_ok); at: when, the scrape
// time gauge and the base of the ages.
QString statusPrometheus(const QList<TerminalStatus>& all, const QDateTime& at, bool read = true);

// One line of plain English for a terminal: "terminal 3 (COM1, A): answers in 12 ms, clock
// +120 s, 40 records waiting, names in step, last collection ..., last nightly run ...".
QString statusLine(const TerminalStatus& status);

// A hand's name in the JSON document and the tools' lines: "silent", "clock", "names",
// "collection", "records", "impossible-records", "clock-unread", "names-unread".
QString handName(TerminalStatus::Hand hand);

} // namespace bw::host::site

#pragma once

#include "host/link/terminal_protocol.h"
#include "platform/clock_guard.h"
#include "platform/error.h"

#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <utility>

namespace bw::host::collect {

using protocol::MealRecord;
using protocol::RecordStatus;

// Why a step on a terminal failed: a collection, a name list, a clock, a status reading. The
// edges word it (the windows in the operator's language, the tools in English); nothing reads
// it back out of words.
enum class Failure {
    None,
    CannotOpen, // the device or address could not be opened (the system's reason as data)
    NoAnswer,
    Refused,
    BadBlock,  // a bad reply
    BadStatus, // an impossible record status
    ConnectionLost,
    Database,    // the database's own message as data
    LineBusy,    // another program held the line throughout the wait (its holder as data)
    NoDevice,    // the settings name no device for that COM number
    NotAllowed,  // the operator has no right for the step: nothing was sent
    Unconfirmed, // sent, its acknowledgement never came
    Cancelled,
    NotInRegister,    // no model-6429 terminal of MachineInfo has that number
    TooManyCards,     // more cards than a terminal holds
    BadPort,          // the register's port text names no serial port or address
    ClockRefused,     // the clock guard kept the computer's time from the terminal (why: clock)
    OtherWorkstation, // the register gives the terminal to another workstation (its name: cause)
    TwoUnits          // another unit answers to the same number: its records differ from ours
};

// A failure as data: what went wrong and what the system, the line or the database said.
struct Fault {
    Failure kind = Failure::None;
    QString where; // the device path or address:port, or "COM<n>" (NoDevice)
    QString cause; // the system's reason (CannotOpen), the holder (LineBusy), the database's
                   // message (Database)
    QString words; // the link's own English line, for the tools' output only
    ClockRefusal clock = ClockRefusal::None; // ClockRefused: why
    std::optional<qint64> clockChangeS;      // ClockRefused: how far the push would move it
    explicit operator bool() const { return kind != Failure::None; }
};

// Raised by a sink that found, under the numbers of a batch, records with another card or time
// stored by another unit answering to the same terminal number: the batch was not stored, and
// its records are held back (the number held in `held`) for a hand to sort out.
class UnitConflict : public Error {
public:
    UnitConflict(int address, qint64 held);
    qint64 held() const { return held_; }

private:
    qint64 held_;
};

// The terminal's side of a collection. Each member answers false with the reason in
// error() when the terminal does not answer as it should.
class RecordSource {
public:
    virtual ~RecordSource() = default;
    virtual bool status(RecordStatus& status) = 0;
    // Up to count records numbered from `from` on, oldest first (empty: none left).
    virtual bool read(quint32 from, int count, QVector<MealRecord>& out) = 0;
    // Deletes the terminal's records up to and including upTo.
    virtual bool erase(quint32 upTo) = 0;
    virtual QString error() const = 0;
    virtual Failure failure() const = 0;
    // The system's reason or the database's message behind failure(), when there is one.
    virtual QString cause() const { return QString(); }
};

// What one commit stored.
struct Stored {
    qint64 added = 0; // records new to the database, the raw ones included
    qint64 raw = 0;   // of them, records kept as they came (they could not be read)
    int restarts = 0; // times the terminal's numbering was found started again
};

// The database's side: records are added, then committed together. A commit either stores
// every added record (one already stored is left as it is) or none, raising bw::Error.
// A commit may also be started and finished later, so that the terminal is read while the
// database writes: startCommit() takes the records added so far (new ones may be added at
// once), finishCommit() waits for the database and tells what was stored, raising bw::Error
// when nothing was. Nothing but add(), pending(), discard() and advance() may come between the
// two, and a commit counts as stored only once finishCommit() has returned. A sink that cannot
// wait commits in startCommit().
class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual void begin(int address) = 0;
    virtual void add(const MealRecord& record) = 0;
    virtual int pending() const = 0;
    virtual Stored commit() = 0;
    // Forgets records added since the last commit (or its start).
    virtual void discard() = 0;
    virtual void startCommit() { started_ = commit(); }
    virtual Stored finishCommit() { return std::exchange(started_, Stored{}); }
    // Lets a commit under way go on (sends what the database is ready to take); never waits.
    virtual void advance() {}

private:
    Stored started_;
};

struct Options {
    bool clear = false;       // delete on the terminal what was committed
    int blockSize = 128;      // records per block request
    int batchSize = 5000;     // records per database commit at most
    int commitEveryMs = 2000; // a batch waits no longer than this (a slow serial line)
    // Called with the number the delete will name, just before it is sent. It raises bw::Error
    // when what must precede the delete (its log entry) could not be done: then nothing is
    // deleted and the collection fails on the database.
    std::function<void(quint32)> beforeClear;
};

// What became of one terminal's collection.
struct Outcome {
    enum class State { Done, Failed, Cancelled };
    int address = 0;
    State state = State::Done;
    Failure failure = Failure::None;
    QString reason;            // why it failed, in detail (English, for the tools)
    QString where;             // the device or address (CannotOpen, LineBusy)
    QString cause;             // the system's reason, the holder, the database's message
    qint64 total = 0;          // records the terminal held at the start
    qint64 read = 0;           // records read and committed
    qint64 added = 0;          // of them, new to the database
    qint64 raw = 0;            // of the new ones, records kept raw (they could not be read)
    qint64 held = 0;           // records held back, not stored: another unit has the number
    int restarts = 0;          // the terminal's numbering started again (stored as a new series)
    quint32 committedUpTo = 0; // the highest record number committed
    bool gap = false;          // clearing, numbers were missing: the records after them stay
    quint32 clearUpTo = 0;     // the number the delete named (0: none sent)
    bool cleared = false;      // the terminal deleted its records up to clearUpTo
    bool clearUnconfirmed = false; // the delete was sent, its reply never came
    bool ok() const { return state == State::Done; }
};

// (records so far, records at the start)
using Progress = std::function<void(qint64, qint64)>;

// Collects one terminal: reads the records it held at the start block by block, commits them
// in batches and, when asked to and only when every one of them is committed, deletes them on
// the terminal up to the highest number N such that every record from the first one asked for
// up to N was committed (records made meanwhile, and any after a gap, stay).
// A database error (before the delete too), a failed block or a cancel ends the collection
// without deleting anything.
Outcome collectTerminal(int address, RecordSource& source, RecordSink& sink, const Options& options,
                        const Progress& progress = {}, const std::atomic_bool* cancel = nullptr);

} // namespace bw::host::collect

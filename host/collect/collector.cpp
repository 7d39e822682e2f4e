#include "host/collect/collector.h"

#include "platform/error.h"
#include "store/sql_connection.h"

#include <QElapsedTimer>
#include <algorithm>
#include <utility>

namespace bw::host::collect {

UnitConflict::UnitConflict(int address, qint64 held)
    : Error(store::dberr::CommandFailed,
            QStringLiteral("two units answer to terminal %1").arg(address)),
      held_(held) {}

namespace {

// A batch whose commit was started: what it holds once the commit is finished.
struct InFlight {
    bool active = false;
    qint64 read = 0;  // records read into it
    quint32 upTo = 0; // the last number added to it
};

bool databaseFailed(Outcome& out, const Error& e) {
    out.state = Outcome::State::Failed;
    out.failure = Failure::Database;
    if (const auto* conflict = dynamic_cast<const UnitConflict*>(&e)) {
        out.failure = Failure::TwoUnits;
        out.where = QString::number(out.address);
        out.held += conflict->held();
    }
    out.reason = e.description();
    out.cause = e.description();
    return false;
}

// Waits for the batch under way; on a database error it is gone, and so are the records added
// since, and the outcome failed.
bool finishBatch(RecordSink& sink, Outcome& out, InFlight& flight) {
    if (!flight.active)
        return true;
    const InFlight done = std::exchange(flight, InFlight{});
    try {
        const Stored stored = sink.finishCommit();
        out.added += stored.added;
        out.raw += stored.raw;
        out.restarts += stored.restarts;
        out.read += done.read;
        out.committedUpTo = done.upTo;
        return true;
    } catch (const Error& e) {
        sink.discard();
        return databaseFailed(out, e);
    }
}

// Finishes the batch under way, then starts committing what was added since: one batch at
// most is in flight, and the records after it wait for it.
bool startBatch(RecordSink& sink, Outcome& out, InFlight& flight, quint32 lastAdded,
                qint64& readPending) {
    if (!finishBatch(sink, out, flight))
        return false;
    if (sink.pending() == 0)
        return true;
    try {
        sink.startCommit();
    } catch (const Error& e) {
        sink.discard();
        return databaseFailed(out, e);
    }
    flight = InFlight{true, readPending, lastAdded};
    readPending = 0;
    return true;
}

} // namespace

Outcome collectTerminal(int address, RecordSource& source, RecordSink& sink, const Options& options,
                        const Progress& progress, const std::atomic_bool* cancel) {
    Outcome out;
    out.address = address;
    auto failed = [&](Failure kind, const QString& why, const QString& cause = QString()) {
        out.state = Outcome::State::Failed;
        out.failure = kind;
        out.reason = why;
        out.cause = cause;
        return out;
    };
    RecordStatus status;
    if (!source.status(status))
        return failed(source.failure(), source.error(), source.cause());
    out.total = status.count;
    try {
        sink.begin(address);
    } catch (const Error& e) {
        return failed(Failure::Database, e.description(), e.description());
    }
    if (progress)
        progress(0, out.total);

    // Only the records held at the start: a record made during the collection has a higher
    // number than status.last and stays for the next one.
    const quint32 last = status.last;
    quint32 from = status.first;
    // The next number of the unbroken run from the first one asked for: only that run may be
    // deleted on the terminal.
    quint64 next = from;
    bool gap = false;
    quint32 lastAdded = 0;
    qint64 readPending = 0;
    InFlight flight;
    QVector<MealRecord> block;
    QElapsedTimer sinceCommit;
    sinceCommit.start();
    while (status.count > 0 && from <= last) {
        if (cancel && cancel->load()) {
            out.state = Outcome::State::Cancelled;
            break;
        }
        const int want =
            int(std::min<quint64>(quint64(options.blockSize), quint64(last) - from + 1));
        if (!source.read(from, want, block)) {
            failed(source.failure(), source.error(), source.cause());
            break;
        }
        if (block.isEmpty())
            break; // deleted meanwhile (another workstation collected and cleared them)
        for (const MealRecord& r : block) {
            if (r.number > last)
                break;
            sink.add(r);
            lastAdded = r.number;
            if (r.number == next && !gap)
                ++next;
            else
                gap = true;
            ++readPending;
        }
        from = block.constLast().number + 1;
        sink.advance();
        const bool due =
            sink.pending() >= options.batchSize || sinceCommit.hasExpired(options.commitEveryMs);
        if (due && !startBatch(sink, out, flight, lastAdded, readPending))
            return out;
        if (due)
            sinceCommit.start();
        if (progress)
            progress(out.read + flight.read + readPending, out.total);
        if (block.constLast().number >= last)
            break;
    }
    // Records read before a link fault or a cancel are whole: they are kept. Every commit is
    // finished before the terminal is cleared.
    if (!startBatch(sink, out, flight, lastAdded, readPending) || !finishBatch(sink, out, flight))
        return out;
    if (progress)
        progress(out.read, out.total);
    out.gap = gap && options.clear;
    if (out.ok() && options.clear && next > status.first) {
        const quint32 upTo = quint32(next - 1);
        if (options.beforeClear) {
            try {
                options.beforeClear(upTo);
            } catch (const Error& e) {
                return failed(Failure::Database, e.description(), e.description());
            }
        }
        out.clearUpTo = upTo;
        if (!source.erase(out.clearUpTo)) {
            // A refusal deleted nothing; without a reply the records may be gone or not.
            out.clearUnconfirmed = source.failure() != Failure::Refused;
            return failed(source.failure(), source.error(), source.cause());
        }
        out.cleared = true;
    }
    return out;
}

} // namespace bw::host::collect

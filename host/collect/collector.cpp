#include "host/collect/collector.h"

#include "platform/error.h"

#include <QElapsedTimer>
#include <algorithm>

namespace bw::host::collect {

namespace {

// Commits what was added; on a database error the batch is gone and the outcome failed.
bool commitBatch(RecordSink& sink, Outcome& out, quint32 lastAdded, qint64& readPending) {
    if (sink.pending() == 0)
        return true;
    try {
        const Stored stored = sink.commit();
        out.added += stored.added;
        out.raw += stored.raw;
        out.restarts += stored.restarts;
        out.read += readPending;
        out.committedUpTo = lastAdded;
        readPending = 0;
        return true;
    } catch (const Error& e) {
        sink.discard();
        out.state = Outcome::State::Failed;
        out.failure = Failure::Database;
        out.reason = e.description();
        out.cause = e.description();
        return false;
    }
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
        const bool due =
            sink.pending() >= options.batchSize || sinceCommit.hasExpired(options.commitEveryMs);
        if (due && !commitBatch(sink, out, lastAdded, readPending))
            return out;
        if (due)
            sinceCommit.start();
        if (progress)
            progress(out.read + readPending, out.total);
        if (block.constLast().number >= last)
            break;
    }
    // Records read before a link fault or a cancel are whole: they are kept.
    if (!commitBatch(sink, out, lastAdded, readPending))
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

#include "host/collect/collect_run.h"

#include "host/collect/collect_texts.h"
#include "host/collect/lines.h"
#include "host/names/name_lists.h"
#include "platform/error.h"

#include <mutex>

namespace bw::host::collect {

LinkSource::LinkSource(int address, const QString& port) : address_(address), port_(port) {}

LinkSource::~LinkSource() {
    link_.DestoryPort();
}

bool LinkSource::open() {
    openError_.clear();
    return openLink(link_, port_, openError_);
}

bool LinkSource::status(RecordStatus& status) {
    return link_.isOpen() && link_.readRecordStatus(address_, status);
}

bool LinkSource::read(quint32 from, int count, QVector<MealRecord>& out) {
    return link_.readRecords(address_, from, count, out);
}

bool LinkSource::erase(quint32 upTo) {
    return link_.deleteRecordsUpTo(address_, upTo);
}

QString LinkSource::error() const {
    if (!openError_.isEmpty())
        return openError_;
    return link_.isOpen() ? link_.lastError() : QStringLiteral("connection lost");
}

Failure LinkSource::failure() const {
    if (!openError_.isEmpty())
        return Failure::CannotOpen;
    switch (link_.lastFailure()) {
    case Link::Failure::Refused:
        return Failure::Refused;
    case Link::Failure::BadReply:
        return Failure::BadBlock;
    case Link::Failure::BadStatus:
        return Failure::BadStatus;
    case Link::Failure::ConnectionLost:
        return Failure::ConnectionLost;
    default:
        return link_.isOpen() ? Failure::NoAnswer : Failure::ConnectionLost;
    }
}

void runCollection(store::SqlConnection& cn, const QList<TerminalEntry>& terminals,
                   const QString& user, const Options& options, const RunHandlers& handlers,
                   const std::atomic_bool* cancel) {
    MealStore sink(cn, user);
    for (int i = 0; i < terminals.size(); ++i) {
        const TerminalEntry& t = terminals[i];
        QString pending; // the log entry's result while the delete is on its way
        Outcome out;
        out.address = t.address;
        if (cancel && cancel->load()) {
            out.state = Outcome::State::Cancelled;
        } else {
            LinkSource source(t.address, t.port);
            // The entry is written before the delete goes out, so a collector that dies
            // after it still leaves one; it is completed with the result afterwards.
            Options o = options;
            o.beforeClear = [&](quint32 upTo) {
                Outcome sent;
                sent.address = t.address;
                pending = text(Text::ClearPending).arg(upTo);
                logCollection(cn, user, sent, options.clear, pending);
                if (options.beforeClear)
                    options.beforeClear(upTo);
            };
            if (source.open()) {
                out = collectTerminal(
                    t.address, source, sink, o,
                    [&](qint64 done, qint64 total) {
                        if (handlers.progress)
                            handlers.progress(i, done, total);
                    },
                    cancel);
            } else {
                out.state = Outcome::State::Failed;
                out.failure = Failure::CannotOpen;
                out.reason = source.error();
            }
        }
        if (pending.isEmpty())
            logCollection(cn, user, out, options.clear, resultText(out));
        else
            completeLogEntry(cn, user, out, options.clear, pending, resultText(out));
        if (handlers.done)
            handlers.done(i, out);
    }
}

namespace {

Outcome downloadNames(store::SqlConnection& cn, const TerminalEntry& t,
                      const std::function<void(int, int)>& progress,
                      const std::atomic_bool* cancel) {
    Outcome out;
    out.address = t.address;
    out.state = Outcome::State::Failed;
    QStringList cards;
    try {
        cards = names::cardsOf(cn, t.address);
    } catch (const Error& e) {
        out.failure = Failure::Database;
        out.reason = e.description();
        return out;
    }
    out.total = cards.size();
    if (cards.size() > protocol::MaxNames) {
        out.reason = text(Text::ReasonTooManyCards).arg(cards.size()).arg(protocol::MaxNames);
        return out;
    }
    LinkSource source(t.address, t.port);
    if (!source.open()) {
        out.failure = Failure::CannotOpen;
        out.reason = source.error();
        return out;
    }
    if (source.link().writeNameList(
            t.address, cards,
            [&](int done, int) {
                out.read = done;
                if (progress)
                    progress(done, int(cards.size()));
            },
            cancel)) {
        out.state = Outcome::State::Done;
    } else if (source.link().lastFailure() == Link::Failure::Cancelled) {
        out.state = Outcome::State::Cancelled;
    } else {
        out.failure = source.failure();
        out.reason = source.error();
    }
    return out;
}

// A reason on one line: a database's message may run over several, and a native error code
// that the driver left empty shows as "()".
QString oneLine(QString text) {
    text.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    text = text.simplified();
    text.replace(QLatin1String(" ()"), QString());
    return text == QLatin1String("()") ? QString() : text;
}

// What failed, in plain English: the port, the line, the terminal or the database.
QString failureLine(const Outcome& o) {
    const QString reason = oneLine(o.reason);
    switch (o.failure) {
    case Failure::CannotOpen:
        return reason;
    case Failure::NoAnswer:
    case Failure::Refused:
    case Failure::BadStatus:
        return QStringLiteral("terminal: ") + reason;
    case Failure::BadBlock:
    case Failure::ConnectionLost:
        return QStringLiteral("line: ") + reason;
    case Failure::Database:
        return QStringLiteral("database: ") +
               (reason.isEmpty() ? QStringLiteral("failed") : reason);
    case Failure::None:
        break;
    }
    return reason;
}

} // namespace

void runNameDownload(store::SqlConnection& cn, const QList<TerminalEntry>& terminals,
                     const QString& user, const RunHandlers& handlers,
                     const std::atomic_bool* cancel) {
    for (int i = 0; i < terminals.size(); ++i) {
        Outcome out;
        out.address = terminals[i].address;
        if (cancel && cancel->load())
            out.state = Outcome::State::Cancelled;
        else
            out = downloadNames(
                cn, terminals[i],
                [&](int done, int total) {
                    if (handlers.progress)
                        handlers.progress(i, done, total);
                },
                cancel);
        logTerminalAction(cn, user, out.address, text(Text::DownloadNames), namesResultText(out));
        if (handlers.done)
            handlers.done(i, out);
    }
}

void runOnLines(const QString& connection, const QList<TerminalEntry>& terminals,
                const RunHandlers& handlers, const LineJob& job) {
    std::mutex mutex;
    workLines(linesOf(terminals), [&](const TerminalLine& line) {
        QList<TerminalEntry> mine;
        for (int i : line.members)
            mine << terminals[i];
        QList<bool> told(mine.size(), false);
        RunHandlers h;
        h.progress = [&](int i, qint64 done, qint64 total) {
            const std::lock_guard<std::mutex> lock(mutex);
            if (handlers.progress)
                handlers.progress(line.members[i], done, total);
        };
        h.done = [&](int i, const Outcome& o) {
            const std::lock_guard<std::mutex> lock(mutex);
            told[i] = true;
            if (handlers.done)
                handlers.done(line.members[i], o);
        };
        try {
            store::SqlConnection cn(connection);
            job(cn, mine, h);
        } catch (const Error& e) {
            for (int i = 0; i < mine.size(); ++i) {
                if (told[i])
                    continue;
                Outcome o;
                o.address = mine[i].address;
                o.state = Outcome::State::Failed;
                o.failure = Failure::Database;
                o.reason = e.description();
                h.done(i, o);
            }
        }
    });
}

QString failureText(const Outcome& o) {
    switch (o.failure) {
    case Failure::CannotOpen:
        return text(Text::ReasonCannotOpen) + QStringLiteral("：") + oneLine(o.reason);
    case Failure::NoAnswer:
        return text(Text::ReasonNoAnswer);
    case Failure::Refused:
        return text(Text::ReasonRefused);
    case Failure::BadBlock:
        return text(Text::ReasonBadBlock);
    case Failure::BadStatus:
        return text(Text::ReasonBadStatus);
    case Failure::ConnectionLost:
        return text(Text::ReasonConnectionLost);
    case Failure::Database:
        return text(Text::ReasonDatabase) + oneLine(o.reason);
    case Failure::None:
        break;
    }
    return oneLine(o.reason);
}

// Records kept raw, a restarted numbering, a gap that kept records on the terminal.
QString notesText(const Outcome& o) {
    QString notes;
    if (o.raw > 0)
        notes += text(Text::NoteRaw).arg(o.raw);
    if (o.restarts > 0)
        notes += text(Text::NoteRestart);
    if (o.gap && o.ok())
        notes += text(Text::NoteGap);
    return notes;
}

QString resultText(const Outcome& o) {
    switch (o.state) {
    case Outcome::State::Done:
        return (o.cleared
                    ? text(Text::DoneCleared)
                          .arg(QString::number(o.read), QString::number(o.added),
                               QString::number(o.clearUpTo))
                    : text(Text::Done).arg(QString::number(o.read), QString::number(o.added))) +
               notesText(o);
    case Outcome::State::Failed:
        return text(o.clearUnconfirmed ? Text::FailedUnconfirmed : Text::Failed)
                   .arg(failureText(o), QString::number(o.read)) +
               notesText(o);
    case Outcome::State::Cancelled:
        return text(Text::Cancelled).arg(QString::number(o.read)) + notesText(o);
    }
    return QString();
}

QString namesResultText(const Outcome& o) {
    switch (o.state) {
    case Outcome::State::Done:
        return text(Text::NamesDone).arg(o.total);
    case Outcome::State::Failed:
        return text(Text::NamesFailed).arg(failureText(o));
    case Outcome::State::Cancelled:
        return text(Text::NamesCancelled);
    }
    return QString();
}

QString notesLine(const Outcome& o) {
    QString notes;
    if (o.raw > 0)
        notes += QStringLiteral(", %1 unreadable kept raw").arg(o.raw);
    if (o.restarts > 0)
        notes += QStringLiteral(", numbering started again (new series)");
    if (o.gap && o.ok())
        notes += QStringLiteral(", a gap in the numbers kept the rest on the terminal");
    return notes;
}

QString resultLine(const Outcome& o) {
    const QString head = QStringLiteral("terminal %1: ").arg(o.address);
    switch (o.state) {
    case Outcome::State::Done:
        return head +
               QStringLiteral("ok, %1 read, %2 new")
                   .arg(QString::number(o.read), QString::number(o.added)) +
               (o.cleared ? QStringLiteral(", cleared up to record %1").arg(o.clearUpTo)
                          : QString()) +
               notesLine(o);
    case Outcome::State::Failed:
        return head +
               QStringLiteral("failed: %1 (%2 stored, %3)")
                   .arg(failureLine(o), QString::number(o.read),
                        o.clearUnconfirmed ? QStringLiteral("clearing not confirmed")
                                           : QStringLiteral("nothing cleared")) +
               notesLine(o);
    case Outcome::State::Cancelled:
        return head + QStringLiteral("cancelled (%1 stored, nothing cleared)").arg(o.read) +
               notesLine(o);
    }
    return head;
}

} // namespace bw::host::collect

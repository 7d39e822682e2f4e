#include "host/collect/collect_run.h"

#include "connect/connection_choice.h"
#include "host/collect/collect_texts.h"
#include "host/names/name_lists.h"
#include "platform/error.h"

namespace bw::host::collect {

LinkSource::LinkSource(int address, const QString& port) : address_(address), port_(port) {}

LinkSource::~LinkSource() {
    link_.DestoryPort();
}

bool LinkSource::open() {
    try {
        const connect::ConnectionChoice choice = connect::chooseConnection(port_);
        connect::applyChoice(link_, choice);
        short port = choice.port;
        if (link_.SetPort(port))
            return true;
        openError_ = QStringLiteral("cannot open %1").arg(port_);
    } catch (const Error&) {
        openError_ = QStringLiteral("bad port %1").arg(port_);
    }
    return false;
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
        Outcome out;
        out.address = t.address;
        if (cancel && cancel->load()) {
            out.state = Outcome::State::Cancelled;
        } else {
            LinkSource source(t.address, t.port);
            if (source.open()) {
                out = collectTerminal(
                    t.address, source, sink, options,
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
        logCollection(cn, user, out, options.clear, resultText(out));
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

QString failureText(const Outcome& o) {
    switch (o.failure) {
    case Failure::CannotOpen:
        return text(Text::ReasonCannotOpen);
    case Failure::NoAnswer:
        return text(Text::ReasonNoAnswer);
    case Failure::Refused:
        return text(Text::ReasonRefused);
    case Failure::BadBlock:
        return text(Text::ReasonBadBlock);
    case Failure::ConnectionLost:
        return text(Text::ReasonConnectionLost);
    case Failure::Database:
        return text(Text::ReasonDatabase) + o.reason;
    case Failure::None:
        break;
    }
    return o.reason;
}

QString resultText(const Outcome& o) {
    switch (o.state) {
    case Outcome::State::Done:
        return o.cleared ? text(Text::DoneCleared).arg(o.read).arg(o.added).arg(o.committedUpTo)
                         : text(Text::Done).arg(o.read).arg(o.added);
    case Outcome::State::Failed:
        return text(Text::Failed).arg(failureText(o)).arg(o.read);
    case Outcome::State::Cancelled:
        return text(Text::Cancelled).arg(o.read);
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

QString resultLine(const Outcome& o) {
    const QString head = QStringLiteral("terminal %1: ").arg(o.address);
    switch (o.state) {
    case Outcome::State::Done:
        return head + QStringLiteral("ok, %1 read, %2 new").arg(o.read).arg(o.added) +
               (o.cleared ? QStringLiteral(", cleared up to record %1").arg(o.committedUpTo)
                          : QString());
    case Outcome::State::Failed:
        return head +
               QStringLiteral("failed: %1 (%2 stored, nothing cleared)").arg(o.reason).arg(o.read);
    case Outcome::State::Cancelled:
        return head + QStringLiteral("cancelled (%1 stored, nothing cleared)").arg(o.read);
    }
    return head;
}

} // namespace bw::host::collect

#include "host/collect/collect_run.h"

#include "host/collect/collect_texts.h"
#include "host/link/link.h"
#include "host/site/site_run.h"
#include "platform/error.h"

namespace bw::host::collect {

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
    return link_.isOpen() ? link_.lastError() : QStringLiteral("connection lost");
}

Failure LinkSource::failure() const {
    return link_.isOpen() ? site::faultOfLink(link_).kind : Failure::ConnectionLost;
}

namespace {

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
    default:
        break;
    }
    return reason;
}

} // namespace

QString faultText(const Fault& f) {
    const QString cause = oneLine(f.cause);
    switch (f.kind) {
    case Failure::CannotOpen:
        return text(Text::ReasonCannotOpen) + QStringLiteral("：") + f.where +
               (cause.isEmpty() ? QString() : text(Text::ReasonSystem).arg(cause));
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
        return text(Text::ReasonDatabase) + cause;
    case Failure::LineBusy:
        return text(Text::ReasonLineBusy)
            .arg(f.where, cause.isEmpty() ? text(Text::HeldBy) : cause);
    case Failure::NoDevice:
        return text(Text::ReasonNoDevice).arg(f.where);
    case Failure::NotAllowed:
        return text(Text::Refused);
    case Failure::Unconfirmed:
        return text(Text::ReasonUnconfirmed);
    case Failure::Cancelled:
        return text(Text::NamesCancelled).section(QChar(0xFF08), 0, 0);
    case Failure::NotInRegister:
        return text(Text::ReasonNotInRegister);
    case Failure::TooManyCards:
        return text(Text::ReasonTooManyCards).arg(cause).arg(protocol::MaxNames);
    case Failure::BadPort:
        return text(Text::ReasonBadPort).arg(f.where);
    case Failure::OtherWorkstation:
        return text(Text::ReasonOtherWorkstation).arg(cause);
    case Failure::ClockRefused:
        switch (f.clock) {
        case ClockRefusal::Unsynchronised:
            return text(Text::ReasonClockUnsynchronised);
        case ClockRefusal::TooFar:
            return text(Text::ReasonClockTooFar).arg(f.clockChangeS.value_or(0));
        case ClockRefusal::YearOutOfRange:
            return text(Text::ReasonClockYear).arg(QDate::currentDate().year());
        case ClockRefusal::None:
            break;
        }
        break;
    case Failure::None:
        break;
    }
    return QString();
}

namespace {

Fault faultOf(const Outcome& o) {
    Fault f;
    f.kind = o.failure;
    f.where = o.where;
    f.cause = o.cause;
    f.words = o.reason;
    return f;
}

} // namespace

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
                   .arg(faultText(faultOf(o)), QString::number(o.read)) +
               notesText(o);
    case Outcome::State::Cancelled:
        return text(Text::Cancelled).arg(QString::number(o.read)) + notesText(o);
    }
    return QString();
}

QString stepText(const site::StepResult& r) {
    using site::Step;
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

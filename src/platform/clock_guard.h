#pragma once

#include <QDateTime>
#include <QtGlobal>
#include <functional>
#include <optional>

namespace bw {

// The terminals keep two digits of the year and read them as 20yy: no other year may be sent.
constexpr int FirstTerminalYear = 2000;
constexpr int LastTerminalYear = 2099;
// How far a push may move a terminal's clock whose reading is known, unless forced.
constexpr qint64 DefaultMaxClockChangeS = 24 * 60 * 60;

// The computer's clock as the kernel keeps it.
struct ComputerClock {
    QDateTime now;             // local wall-clock time
    bool synchronised = false; // the kernel's time status: kept in step by a time service
};

// The computer's clock read from the kernel (ntp_adjtime): unsynchronised when the call fails,
// answers TIME_ERROR or leaves STA_UNSYNC set.
ComputerClock kernelClock();

// Where computerClock() reads from; tests install their own (an empty function: the kernel).
using ComputerClockQuery = std::function<ComputerClock()>;
void setComputerClockQuery(ComputerClockQuery query);
ComputerClock computerClock();
// A site whose computer keeps its time without a time service (no network) and is set right by
// hand takes its clock as synchronised: the settings' [clock] require-synchronised=false. The
// limit on the change and the years still hold.
void trustUnsynchronisedClock(bool trust);

// Why a clock push is refused.
enum class ClockRefusal {
    None,           // the push may go
    Unsynchronised, // the computer's clock is not synchronised (force overrides)
    TooFar,         // it would move the terminal's clock by more than the limit (force overrides)
    YearOutOfRange, // the year to send is outside 2000..2099 (never sent, even forced)
};

struct ClockVerdict {
    ClockRefusal refusal = ClockRefusal::None;
    QDateTime send;                // the time the terminal is to be set to
    std::optional<qint64> changeS; // send minus the terminal's reading, when that is known
    bool allowed() const { return refusal == ClockRefusal::None; }
};

// What is known when a terminal's clock is about to be set.
struct ClockPush {
    QDateTime send;                         // wall-clock time to send
    bool fromComputer = true;               // send is the computer's clock (not typed in)
    bool computerSynchronised = false;      // the kernel's word on the computer's clock
    std::optional<QDateTime> terminalClock; // the terminal's current reading, when read
    qint64 maxChangeS = DefaultMaxClockChangeS;
    bool force = false; // the operator's "set anyway": overrides Unsynchronised and TooFar
};

// The one rule: the year first (nothing overrides it), then the computer's synchronisation
// (only when the time to send is the computer's), then the size of the change.
ClockVerdict judgeClockPush(const ClockPush& push);

// For each terminal of a clock step: the computer's time now (computerClock()), judged against
// the terminal's reading when there is one. verdict.send is what to send when allowed.
ClockVerdict clockToSend(const std::optional<QDateTime>& terminalClock, bool force,
                         qint64 maxChangeS = DefaultMaxClockChangeS);

// A time given by the operator (fromComputer false), judged the same way.
ClockVerdict givenClockToSend(const QDateTime& send, const std::optional<QDateTime>& terminalClock,
                              bool force, qint64 maxChangeS = DefaultMaxClockChangeS);

bool isTerminalYear(int year);
// A date-time's wall-clock reading in milliseconds, whatever its time zone: a terminal's
// reading and the computer's local time compare as the wall clock shows them.
qint64 wallClockMs(const QDateTime& t);

} // namespace bw

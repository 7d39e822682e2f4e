#include "platform/clock_guard.h"

#include <atomic>

#include <mutex>
#include <sys/timex.h>

namespace bw {

namespace {

std::mutex queryMutex;
ComputerClockQuery installedQuery;

} // namespace

qint64 wallClockMs(const QDateTime& t) {
    return QDateTime(t.date(), t.time(), Qt::UTC).toMSecsSinceEpoch();
}

ComputerClock kernelClock() {
    struct timex tx {};
    const int state = ntp_adjtime(&tx);
    ComputerClock c;
    c.now = QDateTime::currentDateTime();
    c.synchronised = state != -1 && state != TIME_ERROR && !(tx.status & STA_UNSYNC);
    return c;
}

void setComputerClockQuery(ComputerClockQuery query) {
    const std::lock_guard<std::mutex> lock(queryMutex);
    installedQuery = std::move(query);
}

namespace {
std::atomic_bool trustedUnsynchronised{false};
}

void trustUnsynchronisedClock(bool trust) {
    trustedUnsynchronised = trust;
}

ComputerClock computerClock() {
    ComputerClockQuery query;
    {
        const std::lock_guard<std::mutex> lock(queryMutex);
        query = installedQuery;
    }
    ComputerClock c = query ? query() : kernelClock();
    c.synchronised = c.synchronised || trustedUnsynchronised;
    return c;
}

bool isTerminalYear(int year) {
    return year >= FirstTerminalYear && year <= LastTerminalYear;
}

ClockVerdict judgeClockPush(const ClockPush& push) {
    ClockVerdict v;
    v.send = push.send;
    if (push.terminalClock && push.terminalClock->isValid() && push.send.isValid())
        v.changeS = (wallClockMs(push.send) - wallClockMs(*push.terminalClock)) / 1000;
    if (!push.send.isValid() || !isTerminalYear(push.send.date().year()))
        v.refusal = ClockRefusal::YearOutOfRange;
    else if (push.force)
        v.refusal = ClockRefusal::None;
    else if (push.fromComputer && !push.computerSynchronised)
        v.refusal = ClockRefusal::Unsynchronised;
    else if (v.changeS && (*v.changeS > push.maxChangeS || *v.changeS < -push.maxChangeS))
        v.refusal = ClockRefusal::TooFar;
    return v;
}

ClockVerdict clockToSend(const std::optional<QDateTime>& terminalClock, bool force,
                         qint64 maxChangeS) {
    const ComputerClock c = computerClock();
    return judgeClockPush({c.now, true, c.synchronised, terminalClock, maxChangeS, force});
}

ClockVerdict givenClockToSend(const QDateTime& send, const std::optional<QDateTime>& terminalClock,
                              bool force, qint64 maxChangeS) {
    return judgeClockPush({send, false, true, terminalClock, maxChangeS, force});
}

} // namespace bw

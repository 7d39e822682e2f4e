#include "host/site/clock_step.h"

#include "bell/bell_link.h"
#include "platform/error.h"

namespace bw::host::site {

BellClockResult setClockOverBell(bell::BellLink& link, int address, const QDateTime& time) {
    BellClockResult r;
    try {
        r.state = link.SetMachDateTime(static_cast<short>(address), time)
                      ? BellClockResult::State::Set
                      : BellClockResult::State::NoAnswer;
    } catch (const Error& e) {
        r.state = BellClockResult::State::PortFault;
        r.fault = e.description();
    }
    return r;
}

} // namespace bw::host::site

#pragma once

#include <QDateTime>
#include <QString>

namespace bw::bell {
class BellLink;
}

namespace bw::host::site {

// What became of setting one terminal's clock over the bell link.
struct BellClockResult {
    enum class State { Set, NoAnswer, PortFault };
    State state = State::NoAnswer;
    QString fault; // the serial fault's description (PortFault)
};

// Sets the clock of the terminal at address to time over link, whose port is open.
BellClockResult setClockOverBell(bell::BellLink& link, int address, const QDateTime& time);

} // namespace bw::host::site

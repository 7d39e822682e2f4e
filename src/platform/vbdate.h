#pragma once

#include <QDateTime>

namespace bw {

// A date-time value as the host platform keeps it: days since 1899-12-30 (the zero
// date), the fraction being the time of day. A time of day alone is a value in [0, 1).
using VbDate = double;

VbDate toVbDate(const QDateTime& dt);
QDateTime fromVbDate(VbDate value);
VbDate vbTime(int hour, int minute, int second); // time of day on the zero date
QTime timePart(VbDate value);
QDate zeroDate(); // 1899-12-30

} // namespace bw

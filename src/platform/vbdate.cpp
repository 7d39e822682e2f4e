#include "platform/vbdate.h"

#include <cmath>

namespace bw {

QDate zeroDate() {
    return QDate(1899, 12, 30);
}

VbDate vbTime(int hour, int minute, int second) {
    return (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
}

VbDate toVbDate(const QDateTime& dt) {
    const double days = zeroDate().daysTo(dt.date());
    const QTime t = dt.time();
    const double frac = vbTime(t.hour(), t.minute(), t.second()) + t.msec() / 86400000.0;
    // Dates before the zero date keep a positive time fraction ("-1.25" is 1899-12-29 06:00).
    return days >= 0 ? days + frac : days - frac;
}

QTime timePart(VbDate value) {
    double frac = std::fabs(value - std::trunc(value));
    qint64 ms = std::llround(frac * 86400000.0);
    if (ms >= 86400000)
        ms = 86400000 - 1;
    return QTime::fromMSecsSinceStartOfDay(int(ms));
}

QDateTime fromVbDate(VbDate value) {
    const double days = std::trunc(value);
    return QDateTime(zeroDate().addDays(qint64(days)), timePart(value));
}

} // namespace bw

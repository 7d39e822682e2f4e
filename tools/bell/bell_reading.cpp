#include "tools/bell/bell_reading.h"

#include "bell/bell_frame.h"
#include "bell/bell_link.h"
#include "tools/bell/report.h"

namespace bw::tool {

namespace {

constexpr int CountOffset = 126;
constexpr int MaxCount = 30;

// Two hexadecimal digits of the settings text as a BCD value no greater than max; -1 when
// they are not decimal digits or the value is larger.
int bcdValue(const QString& digits, int max) {
    if (digits.size() != 2 || !digits[0].isDigit() || !digits[1].isDigit())
        return -1;
    const int v = digits.toInt();
    return v <= max ? v : -1;
}

BellReading failed(int exit, const QString& reason) {
    BellReading r;
    r.exit = exit;
    r.reason = reason;
    return r;
}

} // namespace

BellReading judgeBellReading(const QString& result, const QByteArray& reply, int address,
                             int waiting) {
    using bell::BellLink;
    if (result == BellLink::WaitTimeOut) {
        if (waiting > 0)
            return failed(NoAnswer, QStringLiteral("no answer: terminal %1 sent %2 of the %3 "
                                                   "bytes of its bell settings within 3 s")
                                        .arg(address)
                                        .arg(waiting)
                                        .arg(bell::frame::ReadReplyLength));
        return failed(
            NoAnswer,
            QStringLiteral("no answer: terminal %1 sent no bell settings within 3 s").arg(address));
    }
    if (!BellLink::isSettingsText(result)) {
        // A fault of the port comes as "number:description".
        const int colon = result.indexOf(QLatin1Char(':'));
        bool number = false;
        result.left(colon).toInt(&number);
        if (colon > 0 && number)
            return failed(PortFault, QStringLiteral("port fault: ") + result.mid(colon + 1));
        return failed(NoAnswer,
                      QStringLiteral("wrong answer: terminal %1 gave \"%2\", not bell settings")
                          .arg(address)
                          .arg(result.left(60)));
    }
    if (reply.isEmpty() || quint8(reply[0]) != address)
        return failed(NoAnswer, QStringLiteral("wrong answer: terminal %1 answered as terminal %2")
                                    .arg(address)
                                    .arg(reply.isEmpty() ? -1 : int(quint8(reply[0]))));
    const int count = reply.size() > CountOffset ? quint8(reply[CountOffset]) : -1;
    if (count < 0 || count > MaxCount)
        return failed(NoAnswer, QStringLiteral("wrong answer: terminal %1 gave a bell count of "
                                               "%2, above %3")
                                    .arg(address)
                                    .arg(count)
                                    .arg(MaxCount));
    BellReading r;
    r.count = count;
    for (int k = 0; k < 30; ++k) {
        const QString hh = result.mid(4 * k + 2, 2);
        const QString mm = result.mid(4 * k + 4, 2);
        if (bcdValue(hh, 23) < 0 || bcdValue(mm, 59) < 0)
            return failed(NoAnswer, QStringLiteral("wrong answer: terminal %1 gave bell time %2 "
                                                   "as %3:%4, not an hour 00-23 and a minute "
                                                   "00-59")
                                        .arg(address)
                                        .arg(k + 1)
                                        .arg(hh, mm));
        r.times << hh + QLatin1Char(':') + mm;
    }
    return r;
}

} // namespace bw::tool

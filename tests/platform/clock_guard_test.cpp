// The clock guard: which pushes of the computer's clock to a terminal are refused.

#include "platform/clock_guard.h"

#include "common/test_support.h"

#include <gtest/gtest.h>

using namespace bw;

namespace {

const QDateTime TerminalNow(QDate(2026, 3, 10), QTime(8, 0), Qt::UTC);

QDateTime at(int year, int month, int day, int hour = 8) {
    return QDateTime(QDate(year, month, day), QTime(hour, 0));
}

} // namespace

TEST(ClockGuard, RefusesWhatWouldMoveATerminalWrongly) {
    using R = ClockRefusal;
    const struct {
        const char* name;
        ComputerClock computer;
        bool terminalKnown, force;
        R expected;
    } rows[] = {
        {"1970", {at(1970, 1, 1), true}, true, false, R::YearOutOfRange},
        {"two years ahead", {at(2028, 3, 10), true}, true, false, R::TooFar},
        {"two years ahead, forced", {at(2028, 3, 10), true}, true, true, R::None},
        {"unsynchronised", {at(2026, 3, 10, 9), false}, true, false, R::Unsynchronised},
        {"unsynchronised, forced", {at(2026, 3, 10), false}, true, true, R::None},
        {"within a day", {at(2026, 3, 10, 20), true}, true, false, R::None},
        {"year 2100, forced", {at(2100, 1, 1), true}, true, true, R::YearOutOfRange},
    };
    for (const auto& row : rows) {
        setComputerClockQuery([&] { return row.computer; });
        const ClockVerdict v =
            clockToSend(row.terminalKnown ? std::optional(TerminalNow) : std::nullopt, row.force);
        EXPECT_EQ(v.refusal, row.expected) << row.name;
        EXPECT_EQ(v.send, row.computer.now) << row.name;
        EXPECT_EQ(v.changeS.has_value(), row.terminalKnown) << row.name;
    }
    bw::test::useSynchronisedComputerClock();
    // A typed time needs no synchronised computer; the change is counted in seconds.
    EXPECT_TRUE(givenClockToSend(at(2011, 12, 31), std::nullopt, false).allowed());
    EXPECT_EQ(*givenClockToSend(at(2026, 3, 11), TerminalNow, false, 3600).changeS, 86400);
}

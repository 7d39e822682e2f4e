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
    struct Row {
        const char* name;
        ComputerClock computer;
        bool terminalKnown;
        bool force;
        ClockRefusal expected;
    };
    const Row rows[] = {
        {"computer clock of 1970",
         {at(1970, 1, 1), true},
         true,
         false,
         ClockRefusal::YearOutOfRange},
        {"1970, terminal unread, forced",
         {at(1970, 1, 1), true},
         false,
         true,
         ClockRefusal::YearOutOfRange},
        {"two years ahead", {at(2028, 3, 10), true}, true, false, ClockRefusal::TooFar},
        {"two years ahead, forced", {at(2028, 3, 10), true}, true, true, ClockRefusal::None},
        {"unsynchronised", {at(2026, 3, 10, 9), false}, true, false, ClockRefusal::Unsynchronised},
        {"unsynchronised, terminal unread",
         {at(2026, 3, 10), false},
         false,
         false,
         ClockRefusal::Unsynchronised},
        {"unsynchronised, forced", {at(2026, 3, 10), false}, true, true, ClockRefusal::None},
        {"within a day", {at(2026, 3, 10, 20), true}, true, false, ClockRefusal::None},
        {"year 2100, forced", {at(2100, 1, 1), true}, true, true, ClockRefusal::YearOutOfRange},
    };
    for (const Row& row : rows) {
        setComputerClockQuery([&] { return row.computer; });
        const ClockVerdict v =
            clockToSend(row.terminalKnown ? std::optional(TerminalNow) : std::nullopt, row.force);
        EXPECT_EQ(v.refusal, row.expected) << row.name;
        EXPECT_EQ(v.send, row.computer.now) << row.name;
        EXPECT_EQ(v.changeS.has_value(), row.terminalKnown) << row.name;
    }
    bw::test::useSynchronisedComputerClock();
}

TEST(ClockGuard, ATypedTimeNeedsNoSynchronisedComputer) {
    setComputerClockQuery([] { return ComputerClock{at(2026, 3, 10), false}; });
    EXPECT_TRUE(givenClockToSend(at(2011, 12, 31), std::nullopt, false).allowed());
    EXPECT_EQ(givenClockToSend(at(2011, 12, 31), TerminalNow, false).refusal, ClockRefusal::TooFar);
    EXPECT_EQ(*givenClockToSend(at(2026, 3, 11), TerminalNow, false, 3600).changeS, 86400);
    bw::test::useSynchronisedComputerClock();
}

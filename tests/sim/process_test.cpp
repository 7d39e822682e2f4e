#include "common/test_support.h"
#include "sim/process.h"

#include <gtest/gtest.h>

namespace {

// A restarted simulator reports afresh: what the tests and the host use (its pty path and
// TCP port) is the new run's, never the previous one's.
TEST(SimProcess, RestartReportsTheNewRunsEndpoints) {
    bw::sim::SimProcess sim;
    const QString program = bw::test::program(QStringLiteral("brackwater-sim"));
    ASSERT_TRUE(sim.start(program, {QStringLiteral("--addr"), QStringLiteral("1")}))
        << sim.error().toStdString();
    EXPECT_FALSE(sim.ptyPath().isEmpty());
    EXPECT_LE(sim.tcpPort(), 0);

    ASSERT_TRUE(sim.start(program, {QStringLiteral("--addr"), QStringLiteral("1"),
                                    QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0")}))
        << sim.error().toStdString();
    EXPECT_GT(sim.tcpPort(), 0);
    EXPECT_FALSE(sim.ptyPath().isEmpty());
    EXPECT_EQ(sim.stop(), 0);
}

} // namespace

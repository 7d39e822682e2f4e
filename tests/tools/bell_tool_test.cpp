// brackwater-bell, run as a program against a terminal on a pseudo-terminal.

#include "bell/pty_terminal.h"
#include "common/test_support.h"

#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList& args) {
    QProcess p;
    // No settings file: the operator's own must not change what is tested.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), bw::test::tempDir());
    p.setProcessEnvironment(env);
    p.start(bw::test::program(QStringLiteral("brackwater-bell")), args);
    ToolRun r;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(2000);
        r.err = QStringLiteral("did not finish");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

class BellToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFileInfo::exists(bw::test::program(QStringLiteral("brackwater-bell"))));
        ASSERT_TRUE(term.ok());
    }
    ToolRun run(QStringList args) {
        args.prepend(term.path());
        args.prepend(QStringLiteral("--port"));
        return runTool(args);
    }
    bw::test::PtyTerminal term{bw::test::PtyOptions{{1, 5, 7}, false, 0, -1, false}};
};

} // namespace

TEST_F(BellToolTest, TestAnsweringAndAbsentTerminal) {
    ToolRun r = run({QStringLiteral("test"), QStringLiteral("5")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString() << " requests: "
                             << (term.requests().isEmpty() ? QByteArray()
                                                           : term.requests().last().toHex(' '))
                                    .toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("5"))) << r.out.toStdString();

    r = run({QStringLiteral("test"), QStringLiteral("9")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("no answer")));
}

TEST_F(BellToolTest, SetTimeSendsTheGivenTime) {
    ToolRun r = run({QStringLiteral("set-time"), QStringLiteral("1"), QStringLiteral("2011-12-31"),
                     QStringLiteral("23:59:58")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(term.lastDateTime(), QByteArray::fromHex("11 12 31 23 59 58"));
    EXPECT_EQ(term.requests().last(), QByteArray::fromHex("01 08 15 11 12 31 23 59 58 0C"));

    r = run({QStringLiteral("set-time"), QStringLiteral("1")}); // now
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
}

TEST_F(BellToolTest, ReadBellsPrintsCountAndTimes) {
    term.setBells(QByteArray::fromHex("08 30 12 00"), 5);
    ToolRun r = run({QStringLiteral("read-bells"), QStringLiteral("7")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 31);
    EXPECT_EQ(lines[0], QStringLiteral("count 5"));
    EXPECT_EQ(lines[1], QStringLiteral("08:30"));
    EXPECT_EQ(lines[2], QStringLiteral("12:00"));
    EXPECT_EQ(lines[30], QStringLiteral("00:00"));
}

TEST_F(BellToolTest, SetBellCount) {
    ToolRun r = run({QStringLiteral("set-bell-count"), QStringLiteral("5"), QStringLiteral("12")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(term.bellCount(), 12);
}

TEST_F(BellToolTest, ScanListsTheAnsweringAddresses) {
    ToolRun r = run({QStringLiteral("scan"), QStringLiteral("1"), QStringLiteral("6")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("1"), QStringLiteral("5")}));
}

TEST_F(BellToolTest, NoAnswerExitsOne) {
    term.setSilent(true);
    ToolRun r = run({QStringLiteral("set-bell-count"), QStringLiteral("5"), QStringLiteral("3")});
    EXPECT_EQ(r.exitCode, 1);
    r = run({QStringLiteral("scan"), QStringLiteral("1"), QStringLiteral("2")});
    EXPECT_EQ(r.exitCode, 1);
}

TEST(BellTool, BadArgumentsExitTwo) {
    for (const QStringList& args :
         {QStringList{}, QStringList{QStringLiteral("test")},
          QStringList{QStringLiteral("test"), QStringLiteral("abc")},
          QStringList{QStringLiteral("read-bells"), QStringLiteral("0")},
          QStringList{QStringLiteral("set-bell-count"), QStringLiteral("1"), QStringLiteral("31")},
          QStringList{QStringLiteral("set-time"), QStringLiteral("1"), QStringLiteral("2011-13-01"),
                      QStringLiteral("00:00:00")},
          QStringList{QStringLiteral("--port"), QStringLiteral("COM17"), QStringLiteral("test"),
                      QStringLiteral("1")},
          QStringList{QStringLiteral("fly")}}) {
        const ToolRun r = runTool(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("bad arguments"))) << r.err.toStdString();
    }
}

TEST(BellTool, MissingDeviceExitsThree) {
    const ToolRun r = runTool({QStringLiteral("--port"), QStringLiteral("/dev/no-such-bell-port"),
                               QStringLiteral("test"), QStringLiteral("1")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("port fault"))) << r.err.toStdString();
    EXPECT_EQ(r.err.count(QLatin1Char('\n')), 1);
}

// brackwater-bell in the field's way: against brackwater-sim on its pseudo-terminal, paced at
// the line speed, the terminal's state read back from the simulator.

#include "common/test_support.h"
#include "sim/process.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

struct Result {
    int exitCode = -1;
    QStringList lines;
    QString err;
};

class BellToolOnSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.start(bw::test::program(QStringLiteral("brackwater-sim")),
                              {QStringLiteral("--addr"), QStringLiteral("2,9")},
                              bw::test::tempDir() + QStringLiteral("/sim.json")))
            << sim.error().toStdString();
    }

    // Runs the tool on the simulator's device, or, with a COMn port, on what the settings
    // file in configHome maps it to.
    Result tool(QStringList args, const QString& port = QString()) {
        args.prepend(port.isEmpty() ? sim.ptyPath() : port);
        args.prepend(QStringLiteral("--port"));
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), configHome);
        p.setProcessEnvironment(env);
        p.start(bw::test::program(QStringLiteral("brackwater-bell")), args);
        Result r;
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished(2000);
            return r;
        }
        r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
        r.lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

    bw::sim::SimProcess sim;
    QString configHome = bw::test::tempDir();
};

TEST_F(BellToolOnSimulator, ComPortsComeFromTheSettingsFile) {
    QDir().mkpath(configHome + QStringLiteral("/Brackwater"));
    QFile f(configHome + QStringLiteral("/Brackwater/brackwater.conf"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[com]\n5=" + sim.ptyPath().toUtf8() + "\n6=/nonexistent/tty\n");
    f.close();
    EXPECT_EQ(tool({QStringLiteral("test"), QStringLiteral("9")}, QStringLiteral("COM5")).exitCode,
              0);
    EXPECT_EQ(tool({QStringLiteral("test"), QStringLiteral("9")}, QStringLiteral("COM6")).exitCode,
              3);
}

TEST_F(BellToolOnSimulator, EveryCommandReachesTheTerminal) {
    Result r = tool({QStringLiteral("test"), QStringLiteral("9")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();

    r = tool(
        {QStringLiteral("set-time"), QStringLiteral("9"), QStringLiteral("2009-06-15 07:08:09")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(sim.waitState([](const QJsonObject& s) {
        return s["terminals"].toObject()["9"].toObject()["clock"].toString().startsWith(
            QStringLiteral("2009-06-15T07:08"));
    }));

    r = tool({QStringLiteral("set-bell-count"), QStringLiteral("9"), QStringLiteral("17")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(sim.terminal(9)["bellCount"].toInt(), 17);

    r = tool({QStringLiteral("read-bells"), QStringLiteral("9")});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(r.lines.size(), 31);
    EXPECT_EQ(r.lines[0], QStringLiteral("count 17"));
    const QJsonArray bells = sim.terminal(9)["bellTimes"].toArray();
    ASSERT_EQ(bells.size(), 30);
    for (int k = 0; k < 30; ++k)
        EXPECT_EQ(r.lines[k + 1], bells[k].toString()) << k;

    r = tool({QStringLiteral("scan"), QStringLiteral("1"), QStringLiteral("10")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.lines, (QStringList{QStringLiteral("2"), QStringLiteral("9")}));

    // An address nobody answers to: a one-line reason and exit 1.
    r = tool({QStringLiteral("test"), QStringLiteral("4")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err.trimmed().count(u'\n'), 0) << r.err.toStdString();
}

TEST_F(BellToolOnSimulator, SilentTerminalIsNoAnswer) {
    ASSERT_TRUE(
        sim.start(bw::test::program(QStringLiteral("brackwater-sim")),
                  {QStringLiteral("--addr"), QStringLiteral("2"), QStringLiteral("--silent")},
                  bw::test::tempDir() + QStringLiteral("/silent.json")));
    EXPECT_EQ(
        tool({QStringLiteral("set-bell-count"), QStringLiteral("2"), QStringLiteral("3")}).exitCode,
        1);
    EXPECT_EQ(tool({QStringLiteral("read-bells"), QStringLiteral("2")}).exitCode, 1);
}

} // namespace

// brackwater-bell, run as a program against a terminal on a pseudo-terminal.

#include "bell/pty_terminal.h"
#include "common/test_support.h"
#include "host/cli/printable.h"
#include "host/link/link.h"
#include "platform/clock_guard.h"
#include "store/sql_connection.h"
#include "tools/bell/bell_reading.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct ToolRun {
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun runTool(const QStringList& args, const QByteArray& settings = {},
                const QString& program = QStringLiteral("brackwater-bell")) {
    QProcess p;
    // Only the given settings file: the operator's own must not change what is tested.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString config = bw::test::tempDir();
    QDir().mkpath(config + QStringLiteral("/Brackwater"));
    QFile file(config + QStringLiteral("/Brackwater/brackwater.conf"));
    if (file.open(QIODevice::WriteOnly))
        file.write(settings);
    file.close();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    p.setProcessEnvironment(env);
    p.start(bw::test::program(program), args);
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

    // Now: sent when the kernel calls the computer's clock synchronised, else refused (5).
    r = run({QStringLiteral("set-time"), QStringLiteral("1")});
    EXPECT_EQ(r.exitCode, bw::kernelClock().synchronised ? 0 : 5) << r.err.toStdString();
    r = run({QStringLiteral("set-time"), QStringLiteral("1"), QStringLiteral("--force")});
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
          QStringList{QStringLiteral("set-time"), QStringLiteral("1"), QStringLiteral("1999-12-31"),
                      QStringLiteral("23:59:59")},
          QStringList{QStringLiteral("set-time"), QStringLiteral("1"), QStringLiteral("2100-01-01"),
                      QStringLiteral("00:00:00"), QStringLiteral("--force")},
          QStringList{QStringLiteral("test"), QStringLiteral("1"), QStringLiteral("--force")},
          QStringList{QStringLiteral("--port"), QStringLiteral("COM17"), QStringLiteral("test"),
                      QStringLiteral("1")},
          QStringList{QStringLiteral("fly")}}) {
        const ToolRun r = runTool(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("bad arguments"))) << r.err.toStdString();
    }
}

TEST(BellTool, PortThatCannotBeOpenedGivesTheSystemsReason) {
    for (const auto& [device, reason] :
         {std::pair{"/dev/no-such-bell-port", "No such file or directory"},
          std::pair{"/dev/null", "Inappropriate ioctl for device"}}) {
        const ToolRun r = runTool({QStringLiteral("--port"), QString::fromLatin1(device),
                                   QStringLiteral("test"), QStringLiteral("1")});
        EXPECT_EQ(r.exitCode, 3);
        EXPECT_EQ(r.err, QStringLiteral("brackwater-bell: port fault: cannot open %1 (%2)\n")
                             .arg(QLatin1String(device), QLatin1String(reason)));
    }
    // A COMn named without a device is not opened on a default one.
    const ToolRun r = runTool({QStringLiteral("test"), QStringLiteral("1")}, "[com]\n1=\n");
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.startsWith(QStringLiteral("settings: [com] 1= is not a valid entry\n")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("the settings file names no device")))
        << r.err.toStdString();
}

// A database server that takes connections and never answers: opening fails after the time-out
// (libpq waits 2 s at least), natively and through ODBC, and the site's status exits 3.
TEST(SiteTool, SilentDatabaseServerTimesOut) {
    QTcpServer silent; // never accepts: the system takes the connections, nothing answers
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    const QString port = QString::number(silent.serverPort()), pg = "postgresql://u@127.0.0.1:";
    bw::store::setConnectTimeoutS(1);
    ::alarm(120); // the watchdog: a hang ends the test program
    for (const QString& db :
         {pg + port, "odbc:Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + port})
        try { // without the ODBC driver for PostgreSQL, unixODBC does not find or open it
            bw::store::SqlConnection cn(db);
            ADD_FAILURE() << "opened " << db.toStdString();
        } catch (const bw::Error& e) {
            EXPECT_TRUE(
                e.description().contains(QRegularExpression("timeout expired|not found|open lib")))
                << e.description().toStdString();
        }
    const ToolRun r = runTool({"status", "--db", pg + port}, "[database]\ntimeout=1\n",
                              QStringLiteral("brackwater-site"));
    EXPECT_EQ(r.exitCode, 3) << r.err.toStdString();
    ::alarm(0);
    bw::store::setConnectTimeoutS(bw::store::DefaultConnectTimeoutS);
}

// What the tools print of a register's or the system's text.
TEST(BellTool, ControlCharactersEscapedAndPermissionExplained) {
    EXPECT_EQ(bw::host::printable(QStringLiteral("A\x1b[2J%1\n\u0085\u2028")),
              QStringLiteral("A\\x1b[2J%1\\x0a\\x85\\u2028"));
    EXPECT_EQ(bw::host::printable(QStringLiteral("\u202eTXT.exe\u200e\u200f\u202a\u2069\u061c")),
              QStringLiteral("\\u202eTXT.exe\\u200e\\u200f\\u202a\\u2069\\u061c"));
    EXPECT_EQ(bw::host::withPermissionAdvice(QStringLiteral("Permission denied")),
              QStringLiteral("Permission denied; add the user to the dialout group"));
    EXPECT_EQ(bw::host::withPermissionAdvice(QStringLiteral("Device or resource busy")),
              QStringLiteral("Device or resource busy"));
}

// A read reply from `address`: the count and the BCD hour and minute of bell time 1.
QByteArray readReply(int address, int count, quint8 hour, quint8 minute) {
    QByteArray r(131, '\0');
    r[0] = char(address);
    r[66] = char(hour);
    r[67] = char(minute);
    r[126] = char(count);
    return r;
}

TEST(BellTool, ReadBellsBelievesOnlyTrueSettings) {
    const QString longFault = QStringLiteral(
        "8015:Could not set the line settings: the device /dev/serial/by-id/usb-FTDI_FT232R_USB_"
        "UART_A50285BI-if00-port0 does not support space parity");
    ASSERT_GE(longFault.size(), 122);
    const struct {
        QString result;
        QByteArray reply;
        int exit;
        const char* reason;
    } cases[] = {
        {{}, readReply(7, 5, 0x08, 0x30), 0, ""},
        {{}, readReply(7, 31, 0x08, 0x30), 1, "bell count of 31"},
        {{}, readReply(7, 130, 0x08, 0x30), 1, "bell count of 130"},
        {{}, readReply(7, 5, 0x24, 0x30), 1, "bell time 1 as 24:30"},
        {{}, readReply(7, 5, 0x08, 0x60), 1, "bell time 1 as 08:60"},
        {{}, readReply(7, 5, 0x0A, 0x00), 1, "bell time 1 as 0A:00"},
        {{}, readReply(8, 5, 0x08, 0x30), 1, "answered as terminal 8"},
        {longFault, {}, 3, "port fault: Could not set the line settings: the device /dev/serial"},
        {QStringLiteral("Wait TimeOut"), {}, 1, "no answer"},
    };
    for (const auto& c : cases) {
        const QString text =
            c.result.isEmpty() ? *bw::bell::frame::decodeBellSettings(c.reply) : c.result;
        const bw::tool::BellReading r = bw::tool::judgeBellReading(text, c.reply, 7, 0);
        EXPECT_EQ(r.exit, c.exit) << c.reason;
        EXPECT_TRUE(r.reason.contains(QLatin1String(c.reason))) << r.reason.toStdString();
        EXPECT_EQ(r.times.size(), c.exit == 0 ? 30 : 0) << c.reason;
    }
}

// brackwater-bell in the field's way: against brackwater-sim on its pseudo-terminal, paced at
// the line speed, the terminal's state read back from the simulator.

#include "common/test_support.h"
#include "host/ledger/schema.h"
#include "platform/line_lock.h"
#include "sim/process.h"
#include "store/sql_connection.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
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
        return run(args);
    }

    Result run(const QStringList& args) {
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

    // A register of model-6429 terminals: address, ComX, IP.
    static QString registerOf(const QList<std::tuple<int, const char*, const char*>>& rows) {
        static int made = 0;
        const QString path = bw::test::tempDir() + QStringLiteral("/register%1.db").arg(++made);
        auto cn = bw::store::SqlConnection::open(path, bw::store::Create::Yes);
        bw::host::createHostSchema(*cn, false);
        for (const auto& [addr, com, ip] : rows)
            cn->executeBound(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, MachVer) "
                                            "VALUES (?, ?, ?, '6429')"),
                             {addr, QString::fromLatin1(com), QString::fromLatin1(ip)});
        return path;
    }

    QString clockOf(int addr) { return sim.terminal(addr)["clock"].toString(); }

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
    EXPECT_TRUE(run({"ports"}).lines.contains("COM5 = " + sim.ptyPath() + " (settings file)"));
}

// The whole of standard output is one JSON document whose exit is the program's.
void expectJson(const Result& r, int exitCode) {
    EXPECT_EQ(r.exitCode, exitCode) << r.err.toStdString();
    QJsonParseError e{};
    const QJsonDocument doc = QJsonDocument::fromJson(r.lines.join(u'\n').toUtf8(), &e);
    ASSERT_EQ(e.error, QJsonParseError::NoError) << r.lines.join(u'\n').toStdString();
    EXPECT_EQ(doc.object()["exit"].toInt(), exitCode);
    EXPECT_LE(r.err.count(u'\n'), 1);
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

    // A found terminal is checked, not the scan's pace: a wait that a busy machine keeps.
    r = tool({QStringLiteral("scan"), QStringLiteral("1"), QStringLiteral("10"),
              QStringLiteral("--timeout"), QStringLiteral("300")});
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

TEST_F(BellToolOnSimulator, ReadBellsRefusesAnswersThatCannotBeBelieved) {
    const struct {
        const char* fault;
        const char* arg;
        const char* reason;
    } cases[] = {{"--wrong-address", nullptr, "answered as terminal 10"},
                 {"--garbage", nullptr, "wrong answer"},
                 {"--partial", "40", "40 of the 131 bytes"}};
    for (const auto& c : cases) {
        QStringList args{QStringLiteral("--addr"), QStringLiteral("9"),
                         QString::fromLatin1(c.fault)};
        if (c.arg)
            args << QString::fromLatin1(c.arg);
        ASSERT_TRUE(sim.start(bw::test::program(QStringLiteral("brackwater-sim")), args));
        const Result r = tool({QStringLiteral("read-bells"), QStringLiteral("9")});
        EXPECT_EQ(r.exitCode, 1) << c.fault;
        EXPECT_TRUE(r.lines.isEmpty()) << c.fault;
        EXPECT_TRUE(r.err.contains(QLatin1String(c.reason))) << r.err.toStdString();
        EXPECT_EQ(r.err.count(u'\n'), 1) << r.err.toStdString();
    }
}

TEST_F(BellToolOnSimulator, SyncClocksSetsEverySerialTerminalOfTheRegister) {
    tool({QStringLiteral("set-time"), QStringLiteral("9"), QStringLiteral("2009-06-15 07:08:09")});
    const QString com = QStringLiteral("1=") + sim.ptyPath();
    const QString db = registerOf({{2, "1", "*"}, {3, "1", "10.0.0.3"}, {9, "1", "*"}});
    const QStringList sync{QStringLiteral("--com"), com, QStringLiteral("sync-clocks"),
                           QStringLiteral("--db"), db};

    Result r = run(sync + QStringList{QStringLiteral("--dry-run")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(clockOf(9).startsWith(QStringLiteral("2009-06-15")));

    // The computer's clock is taken as synchronised (a site setting): terminal 9's clock,
    // eleven years behind, is kept from a change of more than a day unless forced.
    QDir().mkpath(configHome + QStringLiteral("/Brackwater"));
    QFile conf(configHome + QStringLiteral("/Brackwater/brackwater.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly) &&
                conf.write("[clock]\nrequire-synchronised=false\n") > 0);
    conf.close();
    r = run(sync);
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.lines.value(0).startsWith(QStringLiteral("terminal 2 on COM1: answered")));
    EXPECT_TRUE(
        r.lines.value(1).startsWith(QStringLiteral("terminal 9 on COM1: refused, the change of ")))
        << r.lines.join('\n').toStdString();
    EXPECT_TRUE(clockOf(9).startsWith(QStringLiteral("2009-06-15")));

    r = run(sync + QStringList{QStringLiteral("--force")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    ASSERT_EQ(r.lines.size(), 3);
    EXPECT_TRUE(r.lines[0].startsWith(QStringLiteral("terminal 2 on COM1: answered")));
    EXPECT_TRUE(r.lines[1].startsWith(QStringLiteral("terminal 9 on COM1: answered")));
    EXPECT_EQ(r.lines[2], QStringLiteral("terminal 3 on 10.0.0.3: skipped because TCP/IP"));
    EXPECT_TRUE(sim.waitState([&](const QJsonObject&) {
        return clockOf(9).startsWith(QDate::currentDate().toString(Qt::ISODate));
    }));

    r = run({QStringLiteral("--com"), com, QStringLiteral("sync-clocks"), QStringLiteral("--db"),
             registerOf({{4, "1", "*"}, {9, "1", "*"}})});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.lines.value(0), QStringLiteral("terminal 4 on COM1: no answer"));
    EXPECT_EQ(r.err.count(u'\n'), 1);

    for (const auto& [args, code] :
         {std::pair{QStringList{QStringLiteral("sync-clocks"), QStringLiteral("--db"), db + "x"},
                    6},
          std::pair{
              QStringList{QStringLiteral("--port"), sim.ptyPath(), QStringLiteral("sync-clocks")},
              2},
          std::pair{QStringList{QStringLiteral("--com"), QStringLiteral("1=/dev/null"),
                                QStringLiteral("sync-clocks"), QStringLiteral("--db"), db},
                    1}})
        EXPECT_EQ(run(args).exitCode, code) << args.join(u' ').toStdString();
}

TEST_F(BellToolOnSimulator, JsonOnEveryCommand) {
    const QString db = registerOf({{9, "1", "*"}});
    const QString com = QStringLiteral("1=") + sim.ptyPath();
    const std::pair<QStringList, int> cases[] = {
        {{QStringLiteral("test"), QStringLiteral("9")}, 0},
        {{QStringLiteral("test"), QStringLiteral("4")}, 1},
        {{QStringLiteral("set-time"), QStringLiteral("9"), QStringLiteral("--force")}, 0},
        {{QStringLiteral("read-bells"), QStringLiteral("9")}, 0},
        {{QStringLiteral("set-bell-count"), QStringLiteral("9"), QStringLiteral("4")}, 0},
        {{QStringLiteral("scan"), QStringLiteral("1"), QStringLiteral("10"),
          QStringLiteral("--timeout"), QStringLiteral("50")},
         0},
        {{QStringLiteral("scan"), QStringLiteral("3"), QStringLiteral("4")}, 1},
        {{QStringLiteral("test"), QStringLiteral("9"), QStringLiteral("--timeout"),
          QStringLiteral("5")},
         2},
        {{QStringLiteral("sync-clocks"), QStringLiteral("--db"), db, QStringLiteral("--force")}, 0},
        {{QStringLiteral("ports")}, 0},
        {{QStringLiteral("--com"), QStringLiteral("2=/dev/null"), QStringLiteral("ports"),
          QStringLiteral("--probe")},
         3},
    };
    for (const auto& [args, code] : cases) {
        const Result r =
            run(QStringList{QStringLiteral("--com"), com, QStringLiteral("--json")} + args);
        SCOPED_TRACE(args.join(u' ').toStdString());
        expectJson(r, code);
    }
    const auto doc = [&](const QStringList& args) {
        return QJsonDocument::fromJson(tool(args).lines.join(u'\n').toUtf8());
    };
    EXPECT_EQ(
        doc({QStringLiteral("--json"), QStringLiteral("scan"), QStringLiteral("1"),
             QStringLiteral("10"), QStringLiteral("--timeout"), QStringLiteral("300")})["found"]
            .toArray(),
        (QJsonArray{2, 9}));
    // The probe keeps mark/space parity on the simulator's pseudo-terminal, not on /dev/null.
    QStringList parity;
    for (const auto& d :
         doc({QStringLiteral("--com"), QStringLiteral("2=/dev/null"), QStringLiteral("--json"),
              QStringLiteral("ports"), QStringLiteral("--probe")})["devices"]
             .toArray())
        if (!d.toObject()["com"].toArray().isEmpty())
            parity << d.toObject()["mark_space_parity"].toString();
    EXPECT_EQ(parity, (QStringList{QStringLiteral("kept"), QStringLiteral("cannot open")}));
}

// Two programs on one line: the second waits for the first, or, with a short wait, names it;
// each gets its own answers. A killed holder leaves the line free at once.
TEST_F(BellToolOnSimulator, OneLineOneTalker) {
    auto holding = [&](QProcess& p) {
        p.start(bw::test::program(QStringLiteral("brackwater-bell")),
                {QStringLiteral("--port"), sim.ptyPath(), QStringLiteral("scan"),
                 QStringLiteral("1"), QStringLiteral("12"), QStringLiteral("--timeout"),
                 QStringLiteral("300")});
        const QString mine = QStringLiteral("brackwater-bell (pid %1)").arg(p.processId());
        for (int i = 0; i < 500 && p.waitForStarted(); ++i) {
            bw::LineLock probe(sim.ptyPath());
            if (!probe.acquire(0) && probe.holder() == mine)
                return true;
            probe.release();
            QThread::msleep(20);
        }
        return false;
    };
    QProcess scan;
    ASSERT_TRUE(holding(scan));
    Result r = tool({QStringLiteral("--line-wait"), QStringLiteral("0.2"), QStringLiteral("test"),
                     QStringLiteral("9")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("line %1 busy: held by brackwater-bell (pid %2)")
                                   .arg(sim.ptyPath())
                                   .arg(scan.processId())))
        << r.err.toStdString();
    EXPECT_EQ(tool({QStringLiteral("test"), QStringLiteral("2")}).exitCode, 0);
    ASSERT_TRUE(scan.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(scan.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts),
              (QStringList{QStringLiteral("2"), QStringLiteral("9")}));

    QProcess killed;
    ASSERT_TRUE(holding(killed));
    killed.kill();
    killed.waitForFinished(5000);
    r = tool({QStringLiteral("--line-wait"), QStringLiteral("0"), QStringLiteral("test"),
              QStringLiteral("9")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
}

// What the line is: the simulator's pseudo-terminal, and a recorded FTDI adapter (no device
// node here, so the tree alone speaks) whose latency timer the tool sets to 1 ms.
TEST_F(BellToolOnSimulator, DiagnoseSaysWhatTheLineIs) {
    Result r = tool({QStringLiteral("--json"), QStringLiteral("diagnose")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    QJsonObject o = QJsonDocument::fromJson(r.lines.join(u'\n').toUtf8()).object();
    EXPECT_EQ(o["kind"].toString(), QStringLiteral("pseudo-terminal"));
    EXPECT_EQ(o["markSpace"].toString(), QStringLiteral("not applicable"));

    const QString tree = bw::test::tempDir() + QStringLiteral("/ftdi");
    ASSERT_EQ(
        QProcess::execute(QStringLiteral("cp"),
                          {QStringLiteral("-a"),
                           bw::test::sourceDir() + QStringLiteral("/tests/bell/sysfs/ftdi"), tree}),
        0);
    qputenv("BW_SYSFS_ROOT", tree.toUtf8());
    r = tool(
        {QStringLiteral("--json"), QStringLiteral("diagnose"), QStringLiteral("--fix-latency")},
        QStringLiteral("/dev/ttyUSB0"));
    qunsetenv("BW_SYSFS_ROOT");
    o = QJsonDocument::fromJson(r.lines.join(u'\n').toUtf8()).object();
    EXPECT_EQ(o["kind"].toString(), QStringLiteral("usb"));
    EXPECT_EQ(o["driver"].toString(), QStringLiteral("ftdi_sio"));
    EXPECT_EQ(o["vendorId"].toString() + o["productId"].toString(), QStringLiteral("04036001"));
    EXPECT_EQ(o["markSpace"].toString(), QStringLiteral("not tried")); // no node to open
    EXPECT_TRUE(o["latencyFixed"].toBool());
    QFile latency(tree + QStringLiteral("/devices/pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/"
                                        "ttyUSB0/latency_timer"));
    ASSERT_TRUE(latency.open(QIODevice::ReadOnly));
    EXPECT_EQ(latency.readAll().trimmed(), QByteArray("1"));
}

// --version and --help read no settings file: a faulty one says nothing.
TEST(BellToolPrograms, ReportTheirVersion) {
    const QString config = bw::test::tempDir();
    QDir().mkpath(config + QStringLiteral("/Brackwater"));
    QFile file(config + QStringLiteral("/Brackwater/brackwater.conf"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("[com]\n1=\n") > 0);
    file.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    for (const char* program :
         {"brackwater-bell", "brackwater-site", "brackwater-collect", "brackwater-sim"})
        for (const QString& option : {QStringLiteral("--version"), QStringLiteral("--help")}) {
            SCOPED_TRACE(std::string(program) + " " + option.toStdString());
            QProcess p;
            p.setProcessEnvironment(env);
            p.start(bw::test::program(QString::fromLatin1(program)), {option});
            ASSERT_TRUE(p.waitForFinished(10000));
            EXPECT_EQ(p.exitCode(), 0);
            EXPECT_EQ(p.readAllStandardError(), QByteArray());
            const QByteArray out = p.readAllStandardOutput().trimmed();
            if (option == QLatin1String("--version")) {
                EXPECT_EQ(out, QByteArray(program) + " " BW_VERSION);
            }
        }
}

} // namespace

#include "common/test_support.h"
#include "sim/process.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QTcpSocket>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using bw::sim::SimProcess;

namespace {

QByteArray bytes(std::initializer_list<int> list) {
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

QString simProgram() {
    return bw::test::program(QStringLiteral("brackwater-sim"));
}

// The far end of the simulator's pseudo-terminal, opened raw with termios.
class RawPty {
public:
    explicit RawPty(const QString& path) {
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0) {
            termios t{};
            ::tcgetattr(fd_, &t);
            ::cfmakeraw(&t);
            ::tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~RawPty() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    // Writes the request and reads until `want` bytes came or timeoutMs passed.
    QByteArray exchange(const QByteArray& request, int want, int timeoutMs = 2000) {
        if (::write(fd_, request.constData(), size_t(request.size())) != request.size())
            return {};
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < want && t.elapsed() < timeoutMs) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, int(qMax<qint64>(1, timeoutMs - t.elapsed()))) <= 0)
                continue;
            char buf[256];
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
        return got;
    }

private:
    int fd_ = -1;
};

QByteArray tcpExchange(int port, const QByteArray& request, int want, int timeoutMs = 2000) {
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!s.waitForConnected(timeoutMs))
        return {};
    s.write(request);
    s.waitForBytesWritten(timeoutMs);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < want && t.elapsed() < timeoutMs) {
        if (s.bytesAvailable() == 0)
            s.waitForReadyRead(int(qMax<qint64>(1, timeoutMs - t.elapsed())));
        got += s.readAll();
    }
    return got;
}

const QByteArray testReq1 = bytes({0x01, 0x02, 0x55, 0x56});
const QByteArray readReq5 = bytes({0x05, 0x03, 0x10, 0x16, 0x00});

} // namespace

TEST(SimProgram, AnswersOnItsPseudoTerminal) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(simProgram(), {QStringLiteral("--addr"), QStringLiteral("1,5,7")}))
        << qPrintable(sim.error());
    ASSERT_TRUE(sim.ptyPath().startsWith(QLatin1String("/dev/pts/"))) << qPrintable(sim.ptyPath());
    RawPty pty(sim.ptyPath());
    ASSERT_TRUE(pty.ok());
    EXPECT_EQ(pty.exchange(testReq1, 2), bytes({0x01, 0x55}));
    const QByteArray r = pty.exchange(readReq5, 131);
    ASSERT_EQ(r.size(), 131);
    // Demo bell times 07:00, 11:30, 17:30 and count 3.
    EXPECT_EQ(r.mid(66, 6), bytes({0x07, 0x00, 0x11, 0x30, 0x17, 0x30}));
    EXPECT_EQ(quint8(r[126]), 3);
    EXPECT_EQ(pty.exchange(bytes({0x07, 0x08, 0x15, 0x11, 0x12, 0x31, 0x23, 0x59, 0x58, 0x0A}), 2),
              bytes({0x07, 0x81}));
    // No terminal 2 on this line.
    EXPECT_TRUE(pty.exchange(bytes({0x02, 0x02, 0x55, 0x55}), 2, 300).isEmpty());
    EXPECT_EQ(sim.stop(), 0);
}

TEST(SimProgram, PacesRepliesAtLineSpeedUnlessTold) {
    SimProcess paced;
    ASSERT_TRUE(paced.start(simProgram(), {QStringLiteral("--addr"), QStringLiteral("5")}));
    RawPty pty(paced.ptyPath());
    QElapsedTimer t;
    t.start();
    ASSERT_EQ(pty.exchange(readReq5, 131).size(), 131);
    // 131 characters of 11 bits at 19200 baud take 75 ms on the wire.
    EXPECT_GE(t.elapsed(), 60);
}

TEST(SimProgram, TcpListenerOnAnEphemeralPort) {
    SimProcess sim;
    const QString state = bw::test::tempDir() + QStringLiteral("/state.json");
    ASSERT_TRUE(sim.start(simProgram(),
                          {QStringLiteral("--addr"), QStringLiteral("1,5"), QStringLiteral("--tcp"),
                           QStringLiteral("127.0.0.1:0"), QStringLiteral("--no-pacing")},
                          state))
        << qPrintable(sim.error());
    ASSERT_GT(sim.tcpPort(), 0);
    EXPECT_EQ(tcpExchange(sim.tcpPort(), testReq1, 2), bytes({0x01, 0x55}));
    EXPECT_EQ(tcpExchange(sim.tcpPort(), readReq5, 131).size(), 131);
    // Set count 9 on terminal 5 over TCP: the state file shows it, and the pty sees the
    // same terminal.
    EXPECT_EQ(tcpExchange(sim.tcpPort(), bytes({0x05, 0x04, 0x3E, 0x09, 0x36, 0x00}), 5),
              bytes({0x05, 0x04, 0x3E, 0x09, 0x36}));
    EXPECT_TRUE(sim.waitState([](const QJsonObject& s) {
        return s[QStringLiteral("terminals")][QStringLiteral("5")][QStringLiteral("bellCount")]
                   .toInt() == 9;
    }));
    RawPty pty(sim.ptyPath());
    const QByteArray r = pty.exchange(readReq5, 131);
    ASSERT_EQ(r.size(), 131);
    EXPECT_EQ(quint8(r[126]), 9);
}

TEST(SimProgram, StateFileHoldsEveryTerminal) {
    SimProcess sim;
    const QString state = bw::test::tempDir() + QStringLiteral("/state.json");
    ASSERT_TRUE(
        sim.start(simProgram(),
                  {QStringLiteral("--addr"), QStringLiteral("1,5"), QStringLiteral("--records"),
                   QStringLiteral("7"), QStringLiteral("--no-pacing")},
                  state));
    const QJsonObject t5 = sim.terminal(5);
    EXPECT_EQ(t5[QStringLiteral("records")].toInt(), 7);
    EXPECT_EQ(t5[QStringLiteral("nameListSize")].toInt(), 10);
    EXPECT_EQ(t5[QStringLiteral("bellCount")].toInt(), 3);
    ASSERT_EQ(t5[QStringLiteral("bellTimes")].toArray().size(), 30);
    EXPECT_EQ(t5[QStringLiteral("bellTimes")].toArray()[1].toString(), QStringLiteral("11:30"));
    EXPECT_EQ(t5[QStringLiteral("groups")].toArray().size(), 3);
    EXPECT_FALSE(sim.terminal(1).isEmpty());
    EXPECT_TRUE(sim.terminal(2).isEmpty());
    // Card numbers and meal times are the owner's alone.
    EXPECT_EQ(QFile::permissions(state) & 0x7077, QFile::ReadOwner | QFile::WriteOwner);

    RawPty pty(sim.ptyPath());
    EXPECT_EQ(pty.exchange(bytes({0x01, 0x08, 0x15, 0x11, 0x12, 0x31, 0x23, 0x59, 0x58, 0x0C}), 2),
              bytes({0x01, 0x81}));
    EXPECT_TRUE(sim.waitState([&](const QJsonObject&) {
        return sim.terminal(1)[QStringLiteral("clock")].toString().startsWith(
            QLatin1String("2011-12-31T23:5"));
    }));

    // A restart is a power cycle: the terminals keep what they held; --reset wipes it.
    const QStringList again{QStringLiteral("--addr"), QStringLiteral("1,5"),
                            QStringLiteral("--records"), QStringLiteral("3")};
    ASSERT_TRUE(sim.start(simProgram(), again, state));
    EXPECT_EQ(sim.terminal(5)[QStringLiteral("records")].toInt(), 7);
    EXPECT_EQ(sim.terminal(5)[QStringLiteral("bellTimes")].toArray()[1].toString(), "11:30");
    ASSERT_TRUE(sim.start(simProgram(), again + QStringList{QStringLiteral("--reset")}, state));
    EXPECT_EQ(sim.terminal(5)[QStringLiteral("records")].toInt(), 3);
}

TEST(SimProgram, LinkMadeAndRemovedAndTraceWritten) {
    const QString link = bw::test::tempDir() + QStringLiteral("/ttySIM");
    QFile::link(QStringLiteral("/dev/pts/999"), link); // an earlier simulator's, replaced
    SimProcess sim;
    ASSERT_TRUE(sim.start(simProgram(),
                          {QStringLiteral("--addr"), QStringLiteral("1"), QStringLiteral("--link"),
                           link, QStringLiteral("--trace"), QStringLiteral("--no-pacing")}));
    ASSERT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(QFileInfo(link).symLinkTarget(), sim.ptyPath());
    RawPty pty(link);
    EXPECT_EQ(pty.exchange(testReq1, 2), bytes({0x01, 0x55}));
    QStringList out;
    for (int i = 0; i < 50 && out.size() < 2; ++i)
        out = sim.output();
    ASSERT_GE(out.size(), 2);
    EXPECT_EQ(out[0], QStringLiteral("pty rx 01 02 55 56"));
    EXPECT_EQ(out[1], QStringLiteral("pty tx 01 55"));
    EXPECT_EQ(sim.stop(), 0);
    EXPECT_FALSE(QFileInfo::exists(link) || QFileInfo(link).isSymLink());
    QFile foreign(link); // anything else at the path is left alone
    ASSERT_TRUE(foreign.open(QIODevice::WriteOnly) && foreign.write("mine") == 4);
    foreign.close();
    EXPECT_FALSE(sim.start(simProgram(), {QStringLiteral("--link"), link}));
    EXPECT_EQ(QFileInfo(link).size(), 4);
}

TEST(SimProgram, FaultModesFromTheCommandLine) {
    {
        SimProcess sim;
        ASSERT_TRUE(
            sim.start(simProgram(), {QStringLiteral("--silent"), QStringLiteral("--no-pacing")}));
        RawPty pty(sim.ptyPath());
        EXPECT_TRUE(pty.exchange(testReq1, 2, 300).isEmpty());
    }
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start(simProgram(), {QStringLiteral("--partial"), QStringLiteral("1"),
                                             QStringLiteral("--no-pacing")}));
        RawPty pty(sim.ptyPath());
        EXPECT_EQ(pty.exchange(testReq1, 2, 300), bytes({0x01}));
    }
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start(simProgram(),
                              {QStringLiteral("--wrong-address"), QStringLiteral("--no-pacing")}));
        RawPty pty(sim.ptyPath());
        const QByteArray r = pty.exchange(testReq1, 2);
        ASSERT_EQ(r.size(), 2);
        EXPECT_NE(quint8(r[0]), 0x01);
        EXPECT_EQ(quint8(r[1]), 0x55);
    }
    {
        SimProcess sim;
        ASSERT_TRUE(
            sim.start(simProgram(), {QStringLiteral("--garbage"), QStringLiteral("--no-pacing")}));
        RawPty pty(sim.ptyPath());
        const QByteArray r = pty.exchange(testReq1, 2);
        ASSERT_EQ(r.size(), 2);
        EXPECT_NE(quint8(r[0]), 0x01);
    }
    {
        SimProcess sim;
        ASSERT_TRUE(sim.start(simProgram(), {QStringLiteral("--delay"), QStringLiteral("400"),
                                             QStringLiteral("--no-pacing")}));
        RawPty pty(sim.ptyPath());
        EXPECT_TRUE(pty.exchange(testReq1, 2, 150).isEmpty());
        EXPECT_EQ(pty.exchange({}, 2, 2000), bytes({0x01, 0x55}));
    }
}

TEST(SimProgram, BadArgumentsEndWithCode2) {
    for (const QStringList& args :
         {QStringList{QStringLiteral("--addr"), QStringLiteral("0")},
          QStringList{QStringLiteral("--addr"), QStringLiteral("1,x")},
          QStringList{QStringLiteral("--partial"), QStringLiteral("-3")},
          QStringList{QStringLiteral("--delay"), QStringLiteral("soon")},
          QStringList{QStringLiteral("--record-every"), QStringLiteral("0")},
          QStringList{QStringLiteral("--corrupt-every"), QStringLiteral("x")},
          QStringList{QStringLiteral("--record-bytes"), QStringLiteral("5=00112233")},
          QStringList{QStringLiteral("--hide-records"), QStringLiteral("3")},
          QStringList{QStringLiteral("--status-count"), QStringLiteral("-1")}}) {
        QProcess p;
        p.start(simProgram(), args);
        ASSERT_TRUE(p.waitForFinished(5000)) << qPrintable(args.join(QLatin1Char(' ')));
        EXPECT_EQ(p.exitCode(), 2) << qPrintable(args.join(QLatin1Char(' ')));
    }
    QProcess p;
    p.start(simProgram(), {QStringLiteral("--tcp"), QStringLiteral("nowhere")});
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 3);
}

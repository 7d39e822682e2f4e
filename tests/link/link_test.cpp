#include "bell/serial_port.h"
#include "common/fakes.h"
#include "common/test_support.h"
#include "host/link/link.h"
#include "host/link/terminal_protocol.h"
#include "platform/line_lock.h"
#include "sim/process.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QRandomGenerator>
#include <QTcpServer>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

using bw::VbDate;
using bw::host::Link;
using bw::sim::SimProcess;
namespace proto = bw::host::protocol;

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

std::array<VbDate, 11> times(int firstHour, int minute) {
    std::array<VbDate, 11> t{};
    for (int i = 0; i < 10; ++i)
        t[i] = bw::vbTime(firstHour + i, minute, 0);
    t[10] = 0;
    return t;
}

QStringList groupOf(const QJsonObject& terminal, int group) {
    QStringList out;
    for (const auto& v : terminal[QStringLiteral("groups")].toArray()[group - 1].toArray())
        out << v.toString();
    return out;
}

// A simulator with terminals 1 and 5 on a pty and on TCP, and its state file.
struct Sim {
    SimProcess proc;
    bool start(QStringList extra = {}) {
        const QString state = bw::test::tempDir() + QStringLiteral("/state.json");
        QStringList args{QStringLiteral("--addr"), QStringLiteral("1,5"), QStringLiteral("--tcp"),
                         QStringLiteral("127.0.0.1:0")};
        return proc.start(simProgram(), args + extra, state);
    }
};

// A Link set up for TCP/IP to the simulator through the host's port map.
void useTcp(Link& link, int simPort) {
    bw::host::setTcpPortMap(1001, simPort);
    link.mode(1);
    link.IP(QStringLiteral("127.0.0.1"));
    link.tcpPort(1001);
}

// n eight-digit cards from first on.
QStringList cardRange(int first, int n) {
    QStringList out;
    for (int i = 0; i < n; ++i)
        out << QStringLiteral("%1").arg(first + i, 8, 10, QLatin1Char('0'));
    return out;
}

int closedPort() {
    QTcpServer s;
    s.listen(QHostAddress::LocalHost, 0);
    const int port = s.serverPort();
    s.close();
    return port;
}

} // namespace

// ---------------------------------------------------------------------------------------
// Frames

TEST(LinkProtocol, RequestsByteForByte) {
    EXPECT_EQ(proto::clearRecordRequest(1), bytes({0x01, 0x0A, 0x01, 0x0A}));
    EXPECT_EQ(proto::clearRecordRequest(5), bytes({0x05, 0x0A, 0x01, 0x0E}));
    EXPECT_EQ(proto::clearNameListRequest(5), bytes({0x05, 0x0A, 0x02, 0x0D}));
    std::array<QTime, 10> t;
    t.fill(QTime(0, 0));
    t[0] = QTime(7, 5);
    t[9] = QTime(23, 59);
    const QByteArray r = proto::setClockRequest(1, 2, t);
    ASSERT_EQ(r.size(), 24);
    EXPECT_EQ(r.left(5), bytes({0x01, 0x09, 0x02, 0x07, 0x05}));
    EXPECT_EQ(r.mid(21, 2), bytes({0x23, 0x59}));
    // 01 ^ 09 ^ 02 ^ 07 ^ 05 ^ 23 ^ 59 = 0x72
    EXPECT_EQ(quint8(r[23]), 0x72);
}

TEST(LinkProtocol, OnlyTheRightAcknowledgementCounts) {
    const QByteArray req = proto::clearRecordRequest(5);
    EXPECT_TRUE(proto::isAck(bytes({0x05, 0x0A, 0x01, 0x06}), req));
    EXPECT_TRUE(proto::isAck(bytes({0x05, 0x0A, 0x01, 0x06, 0x00}), req));
    EXPECT_FALSE(proto::isAck(bytes({0x05, 0x0A, 0x01, 0x15}), req));
    EXPECT_FALSE(proto::isAck(bytes({0x06, 0x0A, 0x01, 0x06}), req));
    EXPECT_FALSE(proto::isAck(bytes({0x05, 0x09, 0x01, 0x06}), req));
    // The name-list acknowledgement is not the record one.
    EXPECT_FALSE(proto::isAck(bytes({0x05, 0x0A, 0x02, 0x06}), req));
    EXPECT_FALSE(proto::isAck(bytes({0x05, 0x0A, 0x01}), req));
    EXPECT_FALSE(proto::isAck({}, req));
}

TEST(LinkProtocol, RecordRequestsAndBlocks) {
    EXPECT_EQ(proto::recordStatusRequest(1), bytes({0x01, 0x0B, 0x01, 0x0B}));
    EXPECT_EQ(proto::readRecordsRequest(1, 1, 128),
              bytes({0x01, 0x0B, 0x02, 0x00, 0x00, 0x00, 0x01, 0x80, 0x89}));
    EXPECT_EQ(proto::deleteRecordsRequest(1, 300),
              bytes({0x01, 0x0B, 0x03, 0x00, 0x00, 0x01, 0x2C, 0x24}));
    // Two records from number 7 on: card 00010002 at 2026-12-07 11:30:05 (in), then number 9.
    const QByteArray rec7 =
        bytes({0, 0, 0, 7, 0x00, 0x01, 0x00, 0x02, 0x26, 0x12, 0x07, 0x11, 0x30, 0x05, 0x01});
    QByteArray rec9 = rec7;
    rec9[3] = 9;
    auto block = [](QByteArray body) { // with its head and check byte
        body.prepend(bytes({0x01, 0x0B, 0x02, 0x06, int(body.size() / 15)}));
        return body.append(char(proto::checkByte(body)));
    };
    const QByteArray req = proto::readRecordsRequest(1, 7, 2);
    const QByteArray good = block(rec7 + rec9);
    EXPECT_EQ(proto::replyLength(req, good.left(5)), good.size());
    QVector<proto::MealRecord> out;
    ASSERT_TRUE(proto::decodeRecords(good, 7, 2, out));
    ASSERT_EQ(out.size(), 2);
    EXPECT_EQ(out[0].card, QStringLiteral("00010002"));
    EXPECT_EQ(out[0].time, QDateTime(QDate(2026, 12, 7), QTime(11, 30, 5), Qt::UTC));
    EXPECT_EQ(out[0].flag, 1);
    EXPECT_EQ(out[1].number, 9u);
    QByteArray corrupt = good;
    corrupt[20] = char(corrupt[20] ^ 0x01);
    for (const QByteArray& bad :
         {corrupt, good.left(good.size() - 1), block(rec9 + rec7), block(rec7 + rec9 + rec9)})
        EXPECT_FALSE(proto::decodeRecords(bad, 7, 2, out)) << bad.toHex().toStdString();
    // Records that cannot be read come with their bytes: month 13, hour 24, second 60, a card
    // digit above 9, flag 3, number 0. The one around them is read.
    for (const auto& [at, value] :
         {std::pair{9, 0x13}, {11, 0x24}, {13, 0x60}, {5, 0x0A}, {14, 0x03}, {3, 0x00}}) {
        QByteArray odd = rec7;
        odd[at] = char(value);
        ASSERT_TRUE(proto::decodeRecords(block(odd + rec9), 0, 2, out)) << at;
        EXPECT_EQ(out[0].raw, odd);
        EXPECT_TRUE(out[1].readable());
    }
    proto::RecordStatus st{4000000000u, 1, 4000000000u};
    EXPECT_FALSE(proto::plausible(st));
    st = {5, 10, 12};
    EXPECT_FALSE(proto::plausible(st));
    st = {3, 10, 12};
    EXPECT_TRUE(proto::plausible(st));
    EXPECT_FALSE(proto::decodeRecords(good, 8, 2, out)); // a late reply to an earlier block
}

TEST(LinkProtocol, NameListAndClockRequests) {
    // Blanks trimmed, sorted, each once; what is not eight digits is dropped.
    const QStringList cards = proto::normalisedCards(
        {QStringLiteral(" 00010002"), QStringLiteral("00010001"), QStringLiteral("00010002"),
         QStringLiteral("1234567"), QStringLiteral("0001000x"), QStringLiteral("123456789")});
    EXPECT_EQ(cards, QStringList({QStringLiteral("00010001"), QStringLiteral("00010002")}));
    EXPECT_EQ(proto::nameListChecksum(cards), 0x11F9F676u); // CRC-32 of 00 01 00 01 00 01 00 02
    EXPECT_EQ(proto::nameListChecksum({}), 0u);
    EXPECT_EQ(proto::nameListBlockRequest(1, 2, {QStringLiteral("12345678")}),
              bytes({0x01, 0x0C, 0x03, 0x00, 0x02, 0x01, 0x12, 0x34, 0x56, 0x78, 0x05}));
    EXPECT_EQ(proto::nameListCommitRequest(1, 2, 0x11F9F676u).mid(3, 8),
              bytes({0, 0, 0, 2, 0x11, 0xF9, 0xF6, 0x76}));
    const QDateTime when(QDate(2026, 12, 7), QTime(14, 5, 9));
    EXPECT_EQ(proto::clockSetRequest(1, when).mid(3, 6),
              bytes({0x26, 0x12, 0x07, 0x14, 0x05, 0x09}));
    QByteArray clock = bytes({0x01, 0x0D, 0x02, 0x06, 0x26, 0x12, 0x07, 0x14, 0x05, 0x09});
    clock.append(char(proto::checkByte(clock)));
    QDateTime read;
    EXPECT_EQ(proto::replyLength(proto::clockReadRequest(1), clock.left(4)), clock.size());
    ASSERT_TRUE(proto::decodeClock(clock, read));
    EXPECT_EQ(read, when);
    clock[5] = 0x13;
    EXPECT_FALSE(proto::decodeClock(clock, read));
}

// ---------------------------------------------------------------------------------------
// The component

TEST(LinkComponent, RegisteredUnderItsProgId) {
    bw::host::registerLink();
    auto c = bw::CreateObject<bw::IConnect>(bw::progid::Connect);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->Ver(), QStringLiteral("V7.3"));
    auto* link = dynamic_cast<Link*>(c.get());
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->tcpPortValue(), 1001);
    c->mode(1);
    c->IP(QStringLiteral("192.168.1.5"));
    c->tcpPort(1002);
    EXPECT_EQ(link->modeValue(), 1);
    EXPECT_EQ(link->ipValue(), QStringLiteral("192.168.1.5"));
    EXPECT_EQ(link->tcpPortValue(), 1002);
}

TEST(LinkComponent, NothingWorksBeforeSetPort) {
    Link link;
    QString a = QStringLiteral("1");
    auto t = times(7, 0);
    EXPECT_FALSE(link.isOpen());
    EXPECT_FALSE(link.ClearRecord(a));
    EXPECT_FALSE(link.ClearNameList(a));
    EXPECT_FALSE(link.SetClock(1, t, 1));
    link.DestoryPort(); // harmless when nothing is open
    link.DestoryPort();
}

TEST(LinkComponent, TcpPortMap) {
    bw::host::clearTcpPortMap();
    EXPECT_EQ(bw::host::mappedTcpPort(1001), 1001);
    bw::host::setTcpPortMap(1001, 15001);
    EXPECT_EQ(bw::host::mappedTcpPort(1001), 15001);
    EXPECT_EQ(bw::host::mappedTcpPort(1002), 1002);
    bw::host::clearTcpPortMap();
}

// ---------------------------------------------------------------------------------------
// Against brackwater-sim

TEST(LinkSim, InitialiseAndDownloadOverTcp) {
    Sim sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--no-pacing")})) << qPrintable(sim.proc.error());
    Link link;
    useTcp(link, sim.proc.tcpPort());
    short port = 0;
    ASSERT_TRUE(link.SetPort(port));
    EXPECT_TRUE(link.isOpen());
    EXPECT_EQ(link.endpoint(), QStringLiteral("127.0.0.1:%1").arg(sim.proc.tcpPort()));
    QString a = QStringLiteral("5");
    auto trace = bw::test::RecordingTraceSink::install();
    EXPECT_TRUE(link.ClearRecord(a));
    bw::trace::setSink(nullptr);
    EXPECT_EQ(trace->lines.join(" | ").remove(link.endpoint()).toStdString(),
              " out 05 0A 01 0E |  in  05 0A 01 06");
    EXPECT_TRUE(link.ClearNameList(a));
    auto g1 = times(6, 0), g2 = times(8, 15), g3 = times(13, 45);
    EXPECT_TRUE(link.SetClock(5, g1, 1));
    EXPECT_TRUE(link.SetClock(5, g2, 2));
    EXPECT_TRUE(link.SetClock(5, g3, 3));
    link.DestoryPort();
    EXPECT_FALSE(link.isOpen());

    EXPECT_TRUE(sim.proc.waitState([&](const QJsonObject&) {
        return groupOf(sim.proc.terminal(5), 3).value(9) == QStringLiteral("22:45");
    }));
    const QJsonObject t5 = sim.proc.terminal(5);
    EXPECT_EQ(t5[QStringLiteral("records")].toInt(), 0);
    EXPECT_EQ(t5[QStringLiteral("nameListSize")].toInt(), 0);
    EXPECT_EQ(groupOf(t5, 1).value(0), QStringLiteral("06:00"));
    EXPECT_EQ(groupOf(t5, 2).value(9), QStringLiteral("17:15"));
    const QJsonArray bells = t5[QStringLiteral("bellTimes")].toArray();
    EXPECT_EQ(bells[10].toString(), QStringLiteral("08:15"));
    EXPECT_EQ(bells[29].toString(), QStringLiteral("22:45"));
    // Terminal 1 was not touched.
    EXPECT_EQ(sim.proc.terminal(1)[QStringLiteral("records")].toInt(), 25);
    bw::host::clearTcpPortMap();
}

TEST(LinkSim, InitialiseOverThePseudoTerminal) {
    Sim sim;
    ASSERT_TRUE(sim.start()) << qPrintable(sim.proc.error()); // paced, as a real line
    bw::bell::setDevicePath(3, sim.proc.ptyPath());
    Link link;
    link.mode(0);
    short port = 3;
    ASSERT_TRUE(link.SetPort(port));
    EXPECT_EQ(link.endpoint(), sim.proc.ptyPath());
    QString a = QStringLiteral(" 1 ");
    EXPECT_TRUE(link.ClearRecord(a));
    EXPECT_TRUE(link.ClearNameList(a));
    auto g = times(9, 30);
    EXPECT_TRUE(link.SetClock(1, g, 2));
    // Absent terminal on the same line: false, and the line still works afterwards.
    QString absent = QStringLiteral("9");
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.ClearRecord(absent));
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_TRUE(link.ClearRecord(a));
    link.DestoryPort();
    EXPECT_TRUE(sim.proc.waitState([&](const QJsonObject&) {
        return groupOf(sim.proc.terminal(1), 2).value(0) == QStringLiteral("09:30");
    }));
    EXPECT_EQ(sim.proc.terminal(1)[QStringLiteral("records")].toInt(), 0);
    EXPECT_EQ(sim.proc.terminal(1)[QStringLiteral("nameListSize")].toInt(), 0);
    bw::bell::setDevicePath(3, QString());
}

TEST(LinkSim, RequestBytesOnThePseudoTerminal) {
    Sim sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--trace"), QStringLiteral("--wrong-address")}));
    bw::bell::setDevicePath(2, sim.proc.ptyPath());
    Link link;
    short port = 2;
    ASSERT_TRUE(link.SetPort(port));
    link.setTimeoutMs(500);
    QString a = QStringLiteral("5");
    auto trace = bw::test::RecordingTraceSink::install();
    EXPECT_FALSE(link.ClearNameList(a)); // answered with another address
    bw::trace::setSink(nullptr);
    // The paced reply may arrive in more than one read.
    EXPECT_EQ(trace->lines.value(0).toStdString(), "COM2 out 05* 0A 02 0D");
    EXPECT_EQ(trace->lines.mid(1).join(" ").remove("COM2 in  ").toStdString(), "06 0A 02 06");
    link.DestoryPort();
    QStringList out;
    for (int i = 0; i < 50 && out.size() < 2; ++i)
        out = sim.proc.output();
    ASSERT_GE(out.size(), 2);
    EXPECT_EQ(out[0], QStringLiteral("pty rx 05 0A 02 0D"));
    EXPECT_EQ(out[1], QStringLiteral("pty tx 06 0A 02 06"));
    bw::bell::setDevicePath(2, QString());
}

TEST(LinkSim, RefusedGroupAndBadArgumentsAnswerFalse) {
    Sim sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--no-pacing")}));
    Link link;
    useTcp(link, sim.proc.tcpPort());
    short port = 0;
    ASSERT_TRUE(link.SetPort(port));
    auto g = times(7, 0);
    EXPECT_FALSE(link.SetClock(5, g, 4)); // the terminal answers Nak
    EXPECT_FALSE(link.SetClock(5, g, 0));
    EXPECT_FALSE(link.SetClock(0, g, 1));
    EXPECT_FALSE(link.SetClock(256, g, 1));
    for (const QString& text : {QStringLiteral(""), QStringLiteral("abc"), QStringLiteral("0"),
                                QStringLiteral("256"), QStringLiteral("5x")}) {
        QString a = text;
        EXPECT_FALSE(link.ClearRecord(a)) << qPrintable(text);
        EXPECT_FALSE(link.ClearNameList(a)) << qPrintable(text);
    }
    EXPECT_EQ(sim.proc.terminal(5)[QStringLiteral("records")].toInt(), 25);
    EXPECT_EQ(groupOf(sim.proc.terminal(5), 1).value(0), QStringLiteral("07:00"));
    EXPECT_EQ(groupOf(sim.proc.terminal(5), 1).value(3), QStringLiteral("00:00"));
    // The connection still serves a good request.
    EXPECT_TRUE(link.SetClock(5, g, 1));
    bw::host::clearTcpPortMap();
}

TEST(LinkSim, FaultyTerminalsAnswerFalseInBoundedTime) {
    for (const QStringList& mode :
         {QStringList{QStringLiteral("--silent")}, QStringList{QStringLiteral("--garbage")},
          QStringList{QStringLiteral("--wrong-address")},
          QStringList{QStringLiteral("--partial"), QStringLiteral("2")}}) {
        Sim sim;
        ASSERT_TRUE(sim.start(mode + QStringList{QStringLiteral("--no-pacing")}));
        Link link;
        useTcp(link, sim.proc.tcpPort());
        link.setTimeoutMs(500);
        short port = 0;
        ASSERT_TRUE(link.SetPort(port));
        QString a = QStringLiteral("5");
        auto g = times(7, 0);
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(link.ClearRecord(a)) << qPrintable(mode.join(QLatin1Char(' ')));
        EXPECT_FALSE(link.ClearNameList(a)) << qPrintable(mode.join(QLatin1Char(' ')));
        EXPECT_FALSE(link.SetClock(5, g, 1)) << qPrintable(mode.join(QLatin1Char(' ')));
        proto::NameListStatus st;
        EXPECT_FALSE(link.readNameListStatus(5, st));
        EXPECT_LT(timer.elapsed(), 10000);
        link.DestoryPort();
    }
    bw::host::clearTcpPortMap();
}

TEST(LinkSim, DefaultTimeOutIsThreeSeconds) {
    Sim sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--silent"), QStringLiteral("--no-pacing")}));
    Link link;
    useTcp(link, sim.proc.tcpPort());
    short port = 0;
    ASSERT_TRUE(link.SetPort(port));
    QString a = QStringLiteral("1");
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.ClearRecord(a));
    EXPECT_GE(timer.elapsed(), 2900);
    EXPECT_LT(timer.elapsed(), 10000);
    bw::host::clearTcpPortMap();
}

TEST(LinkSim, SlowButTimelyReplyIsAccepted) {
    Sim sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--delay"), QStringLiteral("300")}));
    Link link;
    useTcp(link, sim.proc.tcpPort());
    short port = 0;
    ASSERT_TRUE(link.SetPort(port));
    QString a = QStringLiteral("1");
    EXPECT_TRUE(link.ClearRecord(a));
    bw::host::clearTcpPortMap();
}

TEST(LinkSim, LateReplyIsNotTakenForTheNextOne) {
    Sim sim;
    ASSERT_TRUE(sim.start(
        {QStringLiteral("--delay"), QStringLiteral("700"), QStringLiteral("--no-pacing")}));
    Link link;
    useTcp(link, sim.proc.tcpPort());
    link.setTimeoutMs(500);
    short port = 0;
    ASSERT_TRUE(link.SetPort(port));
    auto g = times(7, 0);
    // Group 1 is acknowledged after the time-out; its Ack arrives while group 4 (refused by
    // the terminal) waits, and must not count for it.
    EXPECT_FALSE(link.SetClock(5, g, 1));
    EXPECT_FALSE(link.SetClock(5, g, 4));
    // With time enough, the acknowledgement counts.
    link.setTimeoutMs(3000);
    EXPECT_TRUE(link.SetClock(5, g, 2));
    bw::host::clearTcpPortMap();
}

TEST(LinkSim, SimulatorGoneMidSession) {
    Sim sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--no-pacing")}));
    Link link;
    useTcp(link, sim.proc.tcpPort());
    short port = 0;
    ASSERT_TRUE(link.SetPort(port));
    QString a = QStringLiteral("1");
    EXPECT_TRUE(link.ClearRecord(a));
    sim.proc.stop();
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.ClearNameList(a));
    EXPECT_LT(timer.elapsed(), 10000);
    link.DestoryPort();
    bw::host::clearTcpPortMap();
}

TEST(LinkSim, NameListAndClockOverTcp) {
    Sim sim;
    ASSERT_TRUE(
        sim.start({QStringLiteral("--no-pacing"), QStringLiteral("--names"), QStringLiteral("3"),
                   QStringLiteral("--clock-offset"), QStringLiteral("-3600")}));
    Link link;
    useTcp(link, sim.proc.tcpPort());
    short port = 0;
    ASSERT_TRUE(link.SetPort(port));
    proto::NameListStatus st;
    ASSERT_TRUE(link.readNameListStatus(5, st)) << qPrintable(link.lastError());
    EXPECT_EQ(st, (proto::NameListStatus{3, proto::nameListChecksum(cardRange(10001, 3))}));
    const QStringList cards = cardRange(30000000, 150); // three blocks
    int sent = 0;
    ASSERT_TRUE(link.writeNameList(5, cards, [&](int done, int) { sent = done; }));
    EXPECT_EQ(sent, 150);
    ASSERT_TRUE(link.readNameListStatus(5, st));
    EXPECT_EQ(st, (proto::NameListStatus{150, proto::nameListChecksum(cards)}));
    ASSERT_TRUE(link.readNameListStatus(1, st));
    EXPECT_EQ(st.count, 3u);
    EXPECT_FALSE(link.writeNameList(5, cardRange(40000000, proto::MaxNames + 1)));
    EXPECT_EQ(link.lastFailure(), Link::Failure::BadRequest);

    QDateTime t;
    ASSERT_TRUE(link.readTerminalClock(5, t));
    EXPECT_NEAR(t.secsTo(QDateTime::currentDateTime()), 3600, 5);
    const QDateTime when(QDate(2027, 1, 2), QTime(3, 4, 5));
    ASSERT_TRUE(link.setTerminalClock(5, when));
    ASSERT_TRUE(link.readTerminalClock(5, t));
    EXPECT_NEAR(when.secsTo(t), 0, 5);
    EXPECT_FALSE(link.setTerminalClock(5, QDateTime(QDate(1999, 12, 31), QTime(23, 0))));
    bw::host::clearTcpPortMap();
}

// A download broken off at a random moment, by killing the simulator or by the program
// stopping, leaves the old list or the new one whole; the next download gives the new one.
TEST(LinkSim, InterruptedNameListDownloadLeavesAWholeList) {
    const QString state = bw::test::tempDir() + QStringLiteral("/state.json");
    const QStringList args{QStringLiteral("--addr"), QStringLiteral("1"), QStringLiteral("--tcp"),
                           QStringLiteral("127.0.0.1:0"), QStringLiteral("--no-pacing")};
    const QStringList cards = cardRange(50000000, 1000);
    const proto::NameListStatus before{5, proto::nameListChecksum(cardRange(10001, 5))},
        after{1000, proto::nameListChecksum(cards)};
    auto* rng = QRandomGenerator::global();
    for (int round = 0; round < 6; ++round) {
        SimProcess sim;
        ASSERT_TRUE(sim.start(simProgram(), args + QStringList{"--reset", "--names", "5"}, state));
        Link link;
        useTcp(link, sim.tcpPort());
        short port = 0;
        ASSERT_TRUE(link.SetPort(port));
        const bool killSim = round % 2 == 0;
        const int atCards = int(rng->bounded(17)) * proto::MaxNamesBlock;
        std::atomic_bool stop{false};
        std::thread killer;
        link.writeNameList(
            1, cards,
            [&](int done, int) {
                if (done < atCards || killer.joinable() || stop)
                    return;
                if (!killSim)
                    stop = true;
                else
                    killer = std::thread([pid = sim.pid(), us = rng->bounded(3000)] {
                        std::this_thread::sleep_for(std::chrono::microseconds(us));
                        ::kill(pid_t(pid), SIGKILL);
                    });
            },
            &stop);
        if (killer.joinable())
            killer.join();
        link.DestoryPort();
        SimProcess again;
        ASSERT_TRUE(again.start(simProgram(), args, state)) << qPrintable(again.error());
        useTcp(link, again.tcpPort());
        ASSERT_TRUE(link.SetPort(port));
        proto::NameListStatus st;
        ASSERT_TRUE(link.readNameListStatus(1, st));
        EXPECT_TRUE(st == before || st == after) << round << " " << st.count;
        ASSERT_TRUE(link.writeNameList(1, cards));
        ASSERT_TRUE(link.readNameListStatus(1, st));
        EXPECT_EQ(st, after);
        sim.stop();
    }
    bw::host::clearTcpPortMap();
}

TEST(LinkSetPort, MissingDeviceAndClosedPortAnswerFalse) {
    Link link;
    bw::bell::setDevicePath(4, QStringLiteral("/nonexistent/ttyNone"));
    short four = 4, zero = 0;
    EXPECT_FALSE(link.SetPort(four));
    EXPECT_FALSE(link.SetPort(zero)); // serial mode needs a port number
    EXPECT_FALSE(link.isOpen());
    bw::bell::setDevicePath(4, QString());

    bw::host::setTcpPortMap(1001, closedPort());
    link.mode(1);
    link.IP(QStringLiteral("127.0.0.1"));
    link.tcpPort(1001);
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(link.SetPort(zero));
    EXPECT_LT(timer.elapsed(), 10000);
    link.IP(QStringLiteral("not an address"));
    EXPECT_FALSE(link.SetPort(zero));
    link.IP(QString());
    EXPECT_FALSE(link.SetPort(zero));
    EXPECT_FALSE(link.isOpen());
    bw::host::clearTcpPortMap();
}

TEST(LinkSetPort, ALineHeldByAnotherIsBusy) {
    Sim sim;
    ASSERT_TRUE(sim.start({QStringLiteral("--no-pacing")}));
    bw::bell::setDevicePath(3, sim.proc.ptyPath());
    bw::LineLock other(sim.proc.ptyPath());
    ASSERT_TRUE(other.acquire(0));
    bw::setLineLockWaitMs(0);
    Link link;
    short three = 3;
    EXPECT_FALSE(link.SetPort(three));
    EXPECT_EQ(link.lastFailure(), Link::Failure::LineBusy);
    EXPECT_EQ(link.lastError(), QStringLiteral("line %1 busy: held by test_link (pid %2)")
                                    .arg(sim.proc.ptyPath())
                                    .arg(QCoreApplication::applicationPid()));
    EXPECT_EQ(link.lastHolder(),
              QStringLiteral("test_link (pid %1)").arg(QCoreApplication::applicationPid()));
    other.release();
    EXPECT_TRUE(link.SetPort(three));
    bw::setLineLockWaitMs(30000);
    bw::bell::setDevicePath(3, QString());
}

// A TCP/IP terminal is locked through a file in a folder not everyone may write in (else the
// user's own), named safely from any address; one that is no regular file is never opened.
TEST(LinkSetPort, ATcpTerminalsLockFile) {
    const QString own = qEnvironmentVariable("XDG_RUNTIME_DIR"), dir = bw::test::tempDir();
    for (const QString& shared : {QString("/tmp"), dir + "/no", QString("/etc/passwd"), dir}) {
        bw::setSharedLockDir(shared);
        EXPECT_EQ(bw::endpointLockDir(), shared == dir ? dir : own) << qPrintable(shared);
    }
    EXPECT_EQ(bw::endpointLockPath("../x y", 7), dir + "/brackwater-tcp-.._2fx_20y-7.lock");
    ASSERT_EQ(::mkfifo(QFile::encodeName(bw::endpointLockPath("::1", 9)).constData(), 0600), 0);
    bw::LineLock fifo("::1", 9);
    EXPECT_FALSE(fifo.acquire(0));
    EXPECT_EQ(fifo.holder(), "the file " + bw::endpointLockPath("::1", 9));
    bw::setSharedLockDir(QString());
}

// A COM number the settings name without a device: SetPort opens nothing and says so.
TEST(LinkSetPort, NoDeviceForTheNumberOpensNothing) {
    bw::bell::setNoDevice(6);
    Link link;
    short six = 6;
    EXPECT_FALSE(link.SetPort(six));
    EXPECT_EQ(link.lastFailure(), Link::Failure::NoDevice);
    EXPECT_FALSE(link.isOpen());
    bw::bell::clearDevicePaths();
}

// The commit is taken but its reply is lost or spoilt: never a success, never a refusal, but
// "not confirmed"; the terminal's status then shows the new list.
TEST(LinkSim, ACommitWithoutAGoodReplyIsUnconfirmed) {
    const QStringList cards = cardRange(30000000, 70);
    for (const char* reply : {"lost", "short", "wrong-address", "garbled"}) {
        Sim sim;
        ASSERT_TRUE(sim.start({"--no-pacing", "--commit-reply", reply}));
        Link link;
        useTcp(link, sim.proc.tcpPort());
        link.setTimeoutMs(300);
        short port = 0;
        ASSERT_TRUE(link.SetPort(port));
        EXPECT_FALSE(link.writeNameList(1, cards)) << reply;
        EXPECT_EQ(link.lastFailure(), Link::Failure::Unconfirmed) << reply;
        proto::NameListStatus st;
        ASSERT_TRUE(link.readNameListStatus(1, st)) << reply;
        EXPECT_EQ(st, (proto::NameListStatus{70, proto::nameListChecksum(cards)})) << reply;
    }
    bw::host::clearTcpPortMap();
}

TEST(LinkSetPort, SecondSetPortReplacesTheFirst) {
    Sim a, b;
    ASSERT_TRUE(a.start({QStringLiteral("--no-pacing")}));
    ASSERT_TRUE(b.start({QStringLiteral("--no-pacing")}));
    Link link;
    useTcp(link, a.proc.tcpPort());
    short port = 0;
    ASSERT_TRUE(link.SetPort(port));
    bw::host::setTcpPortMap(1001, b.proc.tcpPort());
    ASSERT_TRUE(link.SetPort(port));
    QString addr = QStringLiteral("1");
    EXPECT_TRUE(link.ClearRecord(addr));
    EXPECT_TRUE(b.proc.waitState([&](const QJsonObject&) {
        return b.proc.terminal(1)[QStringLiteral("records")].toInt() == 0;
    }));
    EXPECT_EQ(a.proc.terminal(1)[QStringLiteral("records")].toInt(), 25);
    bw::host::clearTcpPortMap();
}

#include "bell/bell_link.h"

#include "bell/bell_frame.h"
#include "bell/memory_line.h"
#include "bell_test_support.h"
#include "common/fakes.h"
#include "messages/catalogue.h"
#include "sim/line.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace bw::bell;
using bw::test::hex;
using bw::test::wire;

namespace {

class BellLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        lang = bw::test::installFakeLanguage();
        line->setPeer(peer.peer());
        link = std::make_unique<BellLink>(line->makePort());
    }
    void TearDown() override { bw::state().language.reset(); }

    QByteArray readReply(quint8 count, const QByteArray& bells) {
        QByteArray r(131, '\0');
        r.replace(66, bells.size(), bells);
        r[126] = static_cast<char>(count);
        return r;
    }

    bw::test::RecordingMessageBox boxes;
    std::shared_ptr<bw::test::FakeLanguage> lang;
    std::shared_ptr<MemoryLine> line = MemoryLine::create();
    ScriptedPeer peer;
    std::unique_ptr<BellLink> link;
};

double secondsOf(const std::function<void()>& f) {
    QElapsedTimer t;
    t.start();
    f();
    return t.nsecsElapsed() / 1e9;
}

} // namespace

// ---- requests on the wire, with their ninth bits ----

TEST_F(BellLinkTest, ReadRequestBytesAndNinthBits) {
    peer.reply(readReply(5, hex("08 30 12 00")));
    const QString text = link->ReadBellSettings(1);
    EXPECT_EQ(wire(line->written()), QStringLiteral("01' 03 10 12 00"));
    EXPECT_TRUE(text.startsWith(QStringLiteral("0508301200")));
    EXPECT_EQ(text.size(), 122);
    EXPECT_EQ(text.mid(10), QString(112, QLatin1Char('0')));

    line->clearWritten();
    peer.reply(readReply(0x1E, {}));
    EXPECT_EQ(link->ReadBellSettings(5).left(2), QStringLiteral("30"));
    EXPECT_EQ(wire(line->written()), QStringLiteral("05' 03 10 16 00"));

    peer.reply(readReply(0x7B, {}));
    EXPECT_EQ(link->ReadBellSettings(5).left(2), QStringLiteral("23"));
}

TEST_F(BellLinkTest, SetCountRequestBytesAndNinthBits) {
    peer.replyHex("01 04 3E 05 3E");
    EXPECT_TRUE(link->SetBellCount(1, 5));
    EXPECT_EQ(wire(line->written()), QStringLiteral("01' 04 3E 05 3E 00"));
    line->clearWritten();
    peer.replyHex("01 04 3E 00 3B");
    EXPECT_TRUE(link->SetBellCount(1, 0));
    EXPECT_EQ(wire(line->written()), QStringLiteral("01' 04 3E 00 3B 00"));
}

TEST_F(BellLinkTest, TestRequestBytesAndNinthBits) {
    peer.replyHex("01 55");
    EXPECT_TRUE(link->TestBellLink(1));
    EXPECT_EQ(wire(line->written()), QStringLiteral("01' 02 55 56"));
    line->clearWritten();
    peer.replyHex("05 55");
    EXPECT_TRUE(link->TestBellLink(5));
    EXPECT_EQ(wire(line->written()), QStringLiteral("05' 02 55 52"));
}

TEST_F(BellLinkTest, DateTimeRequestBytesAndNinthBits) {
    peer.replyHex("01 81");
    EXPECT_TRUE(link->SetMachDateTime(1, QDateTime(QDate(2011, 12, 31), QTime(23, 59, 58))));
    EXPECT_EQ(wire(line->written()), QStringLiteral("01' 08 15 11 12 31 23 59 58 0C"));
    line->clearWritten();
    peer.replyHex("01 81");
    EXPECT_TRUE(link->SetMachDateTime(1, QDateTime(QDate(2000, 2, 29), QTime(8, 5, 0))));
    EXPECT_EQ(line->written().at(3).byte, 0x00);
    line->clearWritten();
    peer.replyHex("01 81");
    EXPECT_TRUE(link->SetMachDateTime(1, QDateTime(QDate(2009, 1, 1), QTime(0, 0, 0))));
    EXPECT_EQ(line->written().at(3).byte, 0x09);
    // The line settings stay as the last command left them.
    EXPECT_EQ(link->port().settings(), frame::DataSetting);
}

TEST_F(BellLinkTest, TraceShowsEveryFrameWithItsNinthBits) {
    auto sink = bw::test::RecordingTraceSink::install();
    setPortFactory(line->factory());
    link = std::make_unique<BellLink>();
    peer.replyHex("01 55");
    EXPECT_TRUE(link->TestBellLink(1));
    peer.replyHex("02 04 3E 05 3D");
    EXPECT_TRUE(link->SetBellCount(2, 5));
    bw::trace::setSink(nullptr);
    setPortFactory(nullptr);
    EXPECT_EQ(sink->lines.join(" | ").toStdString(),
              "COM1 out 01* | COM1 out 02 55 56 | COM1 in  01 55 | COM1 out 02* | "
              "COM1 out 04 3E 05 3D 00 | COM1 in  02 04 3E 05 3D");
}

// ---- replies and the port left open or closed ----

TEST_F(BellLinkTest, TestReplies) {
    peer.replyHex("01 55");
    EXPECT_TRUE(link->TestBellLink(1));
    EXPECT_FALSE(link->port().portOpen());

    peer.replyHex("01 55 7F");
    EXPECT_TRUE(link->TestBellLink(1));
    EXPECT_FALSE(link->port().portOpen());

    peer.replyHex("02 55");
    EXPECT_FALSE(link->TestBellLink(1));
    EXPECT_FALSE(link->port().portOpen());

    peer.replyHex("01");
    EXPECT_FALSE(link->TestBellLink(1));
    EXPECT_TRUE(link->port().portOpen());
    // The next OpenBellPort closes and reopens it.
    EXPECT_TRUE(link->OpenBellPort(2));
    EXPECT_EQ(line->openedPorts(), (QList<short>{1, 1, 1, 1, 2}));
}

TEST_F(BellLinkTest, TestWithoutReplyGivesUpAfterHalfASecond) {
    peer.noReply();
    const double s = secondsOf([&] { EXPECT_FALSE(link->TestBellLink(1)); });
    EXPECT_GE(s, 0.5);
    EXPECT_LT(s, 3.0);
    EXPECT_TRUE(link->port().portOpen());
}

TEST_F(BellLinkTest, DelayedReplyStillCounts) {
    line->setReplyDelay(150);
    peer.replyHex("01 55");
    EXPECT_TRUE(link->TestBellLink(1));
}

TEST_F(BellLinkTest, DateTimeReplies) {
    const QDateTime when(QDate(2011, 12, 31), QTime(23, 59, 58));
    peer.replyHex("01 81");
    EXPECT_TRUE(link->SetMachDateTime(1, when));
    EXPECT_FALSE(link->port().portOpen());

    peer.replyHex("01 80");
    EXPECT_FALSE(link->SetMachDateTime(1, when));
    EXPECT_FALSE(link->port().portOpen());

    peer.replyHex("01");
    EXPECT_FALSE(link->SetMachDateTime(1, when));
    EXPECT_FALSE(link->port().portOpen());

    peer.replyHex("02 81");
    EXPECT_FALSE(link->SetMachDateTime(1, when));
}

TEST_F(BellLinkTest, DateTimeWithoutReplyWaitsTwoSecondsAndLeavesPortOpen) {
    peer.noReply();
    const double s = secondsOf([&] {
        EXPECT_FALSE(link->SetMachDateTime(1, QDateTime(QDate(2011, 12, 31), QTime(1, 2, 3))));
    });
    EXPECT_GE(s, 2.0);
    EXPECT_LT(s, 5.0);
    EXPECT_TRUE(link->port().portOpen());
}

TEST_F(BellLinkTest, SetCountReplies) {
    peer.replyHex("01 04 3E 05 3B");
    EXPECT_FALSE(link->SetBellCount(1, 0)); // count echo differs
    peer.replyHex("02 04 3E 00 3B");
    EXPECT_FALSE(link->SetBellCount(1, 0)); // address differs
    peer.replyHex("01 04 3E 00 3B");
    EXPECT_TRUE(link->SetBellCount(1, 0));
    // The set-count command leaves closing to its caller.
    EXPECT_TRUE(link->port().portOpen());
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(BellLinkTest, OutOfRangeArgumentsSendNothing) {
    EXPECT_EQ(link->ReadBellSettings(0), BellLink::MachineNoError);
    EXPECT_EQ(link->ReadBellSettings(256), BellLink::MachineNoError);
    EXPECT_FALSE(link->SetBellCount(1, 31));
    EXPECT_FALSE(link->SetBellCount(1, -1));
    EXPECT_FALSE(link->SetBellCount(256, 5));
    EXPECT_FALSE(link->SetBellCount(0, 5));
    EXPECT_TRUE(line->written().isEmpty());
    EXPECT_TRUE(line->openedPorts().isEmpty());
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(BellLinkTest, AddressThatDoesNotFitInAByteIsOverflow) {
    try {
        link->TestBellLink(256);
        FAIL() << "no error";
    } catch (const bw::Error& e) {
        EXPECT_EQ(e.number(), 6);
    }
    EXPECT_THROW(link->SetMachDateTime(-1, QDateTime::currentDateTime()), bw::Error);
    EXPECT_TRUE(line->written().isEmpty());
}

// ---- time-outs ----

TEST_F(BellLinkTest, ReadOf130BytesTimesOutAndLeftoversAreDiscarded) {
    peer.reply(readReply(5, hex("08 30")).left(130));
    const double s =
        secondsOf([&] { EXPECT_EQ(link->ReadBellSettings(1), BellLink::WaitTimeOut); });
    EXPECT_GE(s, 3.0);
    EXPECT_LT(s, 6.0);
    EXPECT_TRUE(link->port().portOpen());
    EXPECT_EQ(link->port().inBufferCount(), 130); // not read

    // The next command discards them before it writes its request.
    peer.replyHex("01 55");
    EXPECT_TRUE(link->TestBellLink(1));
    peer.reply(readReply(5, {}).left(130));
    EXPECT_EQ(link->ReadBellSettings(1), BellLink::WaitTimeOut);
    peer.reply(readReply(7, hex("12 00")));
    EXPECT_EQ(link->ReadBellSettings(1).left(6), QStringLiteral("071200"));
}

TEST_F(BellLinkTest, SetCountWithoutReplyGivesFalseAfterThreeSeconds) {
    peer.noReply();
    const double s = secondsOf([&] { EXPECT_FALSE(link->SetBellCount(1, 5)); });
    EXPECT_GE(s, 3.0);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(BellLinkTest, WaitsProcessWindowEvents) {
    bool sawWaiting = false;
    QTimer::singleShot(100, [&] { sawWaiting = link->waiting(); });
    line->setReplyDelay(400);
    peer.replyHex("01 81");
    EXPECT_TRUE(link->SetMachDateTime(1, QDateTime::currentDateTime()));
    EXPECT_TRUE(sawWaiting);
    EXPECT_FALSE(link->waiting());
}

// ---- opening and closing ----

TEST_F(BellLinkTest, CommandsOpenTheClosedPortOnItsOwnNumber) {
    peer.replyHex("01 04 3E 05 3E");
    EXPECT_TRUE(link->SetBellCount(1, 5));
    EXPECT_EQ(line->openedPorts(), QList<short>{1});
    for (const auto& c : line->written())
        EXPECT_EQ(c.port, 1);

    link->CloseBellPort();
    EXPECT_TRUE(link->OpenBellPort(12));
    link->CloseBellPort();
    line->clearWritten();
    peer.replyHex("01 04 3E 05 3E");
    EXPECT_TRUE(link->SetBellCount(1, 5));
    EXPECT_EQ(line->written().first().port, 12);
}

TEST_F(BellLinkTest, OpenBellPortRange) {
    EXPECT_FALSE(link->OpenBellPort(0));
    EXPECT_FALSE(link->OpenBellPort(17));
    EXPECT_FALSE(link->port().portOpen());
    EXPECT_TRUE(link->OpenBellPort(3));
    EXPECT_FALSE(link->OpenBellPort(0));
    EXPECT_FALSE(link->OpenBellPort(17));
    EXPECT_TRUE(link->port().portOpen());
    EXPECT_EQ(link->port().commPort(), 3);
    EXPECT_TRUE(link->OpenBellPort(16));
    EXPECT_EQ(line->openedPorts(), (QList<short>{3, 16}));
    EXPECT_EQ(link->port().inBufferSize(), 2048);
    EXPECT_EQ(link->port().outBufferSize(), 512);
    EXPECT_EQ(link->port().inputMode(), 1);
    EXPECT_EQ(link->port().inputLen(), 0);
    link->CloseBellPort();
    EXPECT_FALSE(link->port().portOpen());
    link->CloseBellPort(); // closing a closed port does nothing
}

TEST_F(BellLinkTest, OpenBellPortFaultGivesFalse) {
    line->setPortAvailable(4, false);
    EXPECT_FALSE(link->OpenBellPort(4));
    EXPECT_FALSE(link->port().portOpen());
}

// ---- serial faults ----

TEST_F(BellLinkTest, ReadFaultBecomesTheResultText) {
    line->setPortAvailable(1, false);
    EXPECT_EQ(link->ReadBellSettings(1), QStringLiteral("8002:Invalid port number: COM1"));
    line->setPortAvailable(1, true);
    line->setWriteFault(true);
    EXPECT_EQ(link->ReadBellSettings(1),
              QStringLiteral("8021:Error writing comm device: line fault"));
}

TEST_F(BellLinkTest, SetCountFaultShowsTheFaultBox) {
    line->setPortAvailable(1, false);
    EXPECT_FALSE(link->SetBellCount(1, 5));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("8002Invalid port number: COM1"));
    EXPECT_EQ(boxes.boxes[0].style, 0);
    EXPECT_EQ(boxes.boxes[0].title, bw::messages::text(1110));
}

TEST_F(BellLinkTest, TestAndDateTimeFaultsGoToTheCaller) {
    line->setWriteFault(true);
    EXPECT_THROW(link->TestBellLink(1), bw::Error);
    EXPECT_THROW(link->SetMachDateTime(1, QDateTime::currentDateTime()), bw::Error);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

// ---- against the terminal simulator's line ----

TEST(BellLinkSim, AllFourCommandsAgainstTheSimulatedTerminal) {
    bw::sim::Line sim(QList<int>{1, 5});
    auto line = MemoryLine::create();
    line->setPeer([&](quint16 ch) { return sim.receive9(ch); });
    BellLink link(line->makePort());

    EXPECT_TRUE(link.TestBellLink(5));
    EXPECT_FALSE(link.TestBellLink(7));
    const QDateTime when(QDate(2011, 12, 31), QTime(23, 59, 58));
    EXPECT_TRUE(link.SetMachDateTime(1, when));
    ASSERT_NE(sim.terminal(1), nullptr);
    EXPECT_LE(qAbs(sim.terminal(1)->clock().secsTo(when)), 5);
    EXPECT_TRUE(link.SetBellCount(5, 12));
    EXPECT_EQ(sim.terminal(5)->bellCount, 12);
    sim.terminal(5)->bellBcd[0] = 0x08;
    sim.terminal(5)->bellBcd[1] = 0x30;
    const QString text = link.ReadBellSettings(5);
    ASSERT_EQ(text.size(), 122);
    EXPECT_TRUE(text.startsWith(QStringLiteral("120830")));
}

#include "connect/recording_connect.h"
#include "window/ring_download.h"

#include "common/fakes.h"
#include "platform/component_state.h"
#include "platform/vbdate.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>

#include <gtest/gtest.h>
#include <memory>
#include <vector>

using bw::test::RecordingConnect;
using bw::test::RecordingMessageBox;

namespace {

class RingDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        bw::resetState();
        link = std::make_shared<RecordingConnect>();
        bw::state().connect = link;

        machine = std::make_unique<QLineEdit>();
        machine->setText(QStringLiteral("5"));
        port = std::make_unique<QComboBox>();
        port->setEditable(true);
        port->setCurrentText(QStringLiteral("COM2"));
        for (int k = 0; k < 30; ++k) {
            hours.push_back(std::make_unique<QLineEdit>());
            minutes.push_back(std::make_unique<QLineEdit>());
        }
    }
    void TearDown() override { bw::resetState(); }

    void click() {
        bw::connect::RingControls c;
        c.Txt_Machine = machine.get();
        c.Cbo_COM = port.get();
        for (size_t k = 0; k < 30; ++k) {
            c.TxtHour[k] = hours[k].get();
            c.TxtMin[k] = minutes[k].get();
        }
        c.setStatus = [this](const QString& t) { statuses << t; };
        bw::connect::RingDownload ring(c);
        ring.Cmd_Ring_Click();
    }

    void setPair(int k, const QString& h, const QString& m) {
        hours[static_cast<size_t>(k)]->setText(h);
        minutes[static_cast<size_t>(k)]->setText(m);
    }

    // Nothing reached the connect component and the failure box says why.
    void expectRefusedBeforeSending(const QString& box) {
        EXPECT_TRUE(link->calls.isEmpty()) << link->calls.join(u',').toStdString();
        EXPECT_EQ(link->openPorts, 0);
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_EQ(boxes.boxes[0].text, box);
        EXPECT_EQ(boxes.boxes[0].style, 0);
        EXPECT_TRUE(boxes.boxes[0].title.isEmpty());
        EXPECT_TRUE(statuses.isEmpty());
    }

    RecordingMessageBox boxes;
    std::shared_ptr<RecordingConnect> link;
    std::unique_ptr<QLineEdit> machine;
    std::unique_ptr<QComboBox> port;
    std::vector<std::unique_ptr<QLineEdit>> hours, minutes;
    QStringList statuses;
};

} // namespace

TEST_F(RingDownloadTest, AllFieldsEmptySendThirtyMidnights) {
    click();
    EXPECT_EQ(link->calls,
              (QStringList{QStringLiteral("mode=0"), QStringLiteral("SetPort(2)"),
                           QStringLiteral("SetClock(5,1)"), QStringLiteral("SetClock(5,2)"),
                           QStringLiteral("SetClock(5,3)"), QStringLiteral("DestoryPort")}));
    ASSERT_EQ(link->clocks.size(), 3);
    for (const auto& call : link->clocks)
        for (double t : call.times)
            EXPECT_EQ(t, 0.0);
    EXPECT_EQ(statuses, (QStringList{QStringLiteral("第一组设置闹铃成功"),
                                     QStringLiteral("第二组设置闹铃成功"),
                                     QStringLiteral("第三组设置闹铃成功")}));
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(boxes.beeps, 0);
    EXPECT_EQ(link->openPorts, 0);
}

TEST_F(RingDownloadTest, TimesGoToTheirGroupAndPosition) {
    setPair(0, QStringLiteral("8"), QStringLiteral("30"));
    setPair(13, QStringLiteral("7"), QStringLiteral("5"));
    setPair(29, QStringLiteral("23"), QStringLiteral("59"));
    minutes[20]->setText(QStringLiteral("1")); // hour empty counts as 0
    click();
    ASSERT_EQ(link->clocks.size(), 3);
    EXPECT_EQ(link->clocks[0].group, 1);
    EXPECT_EQ(link->clocks[1].group, 2);
    EXPECT_EQ(link->clocks[2].group, 3);
    EXPECT_DOUBLE_EQ(link->clocks[0].times[0], bw::vbTime(8, 30, 0));
    EXPECT_DOUBLE_EQ(link->clocks[1].times[3], bw::vbTime(7, 5, 0));
    EXPECT_EQ(bw::timePart(link->clocks[1].times[3]), QTime(7, 5));
    EXPECT_DOUBLE_EQ(link->clocks[2].times[9], bw::vbTime(23, 59, 0));
    EXPECT_DOUBLE_EQ(link->clocks[2].times[0], bw::vbTime(0, 1, 0));
    // A group carries only its own ten times: group 3 does not keep group 2's 07:05.
    EXPECT_EQ(link->clocks[2].times[3], 0.0);
    EXPECT_EQ(link->clocks[0].times[3], 0.0);
    // Times of day on the zero date.
    for (const auto& call : link->clocks)
        for (double t : call.times) {
            EXPECT_GE(t, 0.0);
            EXPECT_LT(t, 1.0);
        }
}

TEST_F(RingDownloadTest, ElementTenIsAlwaysZero) {
    for (int k = 0; k < 30; ++k)
        setPair(k, QStringLiteral("23"), QStringLiteral("59"));
    click();
    ASSERT_EQ(link->clocks.size(), 3);
    for (const auto& call : link->clocks) {
        EXPECT_EQ(call.times[10], 0.0);
        EXPECT_DOUBLE_EQ(call.times[9], bw::vbTime(23, 59, 0));
    }
}

TEST_F(RingDownloadTest, HourOrMinuteOutOfRangeSendsNothing) {
    setPair(25, QStringLiteral("24"), QStringLiteral("0"));
    click();
    expectRefusedBeforeSending(QStringLiteral("13 : Type mismatch"));
}

TEST_F(RingDownloadTest, MinuteSixtyInGroupTwoSendsNothing) {
    setPair(0, QStringLiteral("6"), QStringLiteral("0"));
    setPair(11, QStringLiteral("1"), QStringLiteral("60"));
    click();
    expectRefusedBeforeSending(QStringLiteral("13 : Type mismatch"));
}

TEST_F(RingDownloadTest, LettersSendNothing) {
    setPair(9, QStringLiteral("a"), QStringLiteral("0"));
    click();
    expectRefusedBeforeSending(QStringLiteral("13 : Type mismatch"));
}

TEST_F(RingDownloadTest, EmptyAddressSendsNothing) {
    machine->clear();
    click();
    expectRefusedBeforeSending(QStringLiteral("13 : Type mismatch"));
}

TEST_F(RingDownloadTest, AddressOutsideSixteenBitsSendsNothing) {
    machine->setText(QStringLiteral("40000"));
    click();
    expectRefusedBeforeSending(QStringLiteral("6 : Overflow"));
}

TEST_F(RingDownloadTest, PortTextWithoutNumberSendsNothing) {
    port->setCurrentText(QStringLiteral("COM"));
    click();
    expectRefusedBeforeSending(QStringLiteral("13 : Type mismatch"));
}

TEST_F(RingDownloadTest, IpAddressSelectsTcpIp) {
    port->setCurrentText(QStringLiteral("192.168.1.5"));
    click();
    ASSERT_GE(link->calls.size(), 4);
    EXPECT_EQ(link->calls.mid(0, 4),
              (QStringList{QStringLiteral("mode=1"), QStringLiteral("IP=192.168.1.5"),
                           QStringLiteral("tcpPort=1001"), QStringLiteral("SetPort(0)")}));
    EXPECT_EQ(link->count(QStringLiteral("SetClock")), 3);
    EXPECT_EQ(link->calls.last(), QStringLiteral("DestoryPort"));
}

TEST_F(RingDownloadTest, SerialPortTwoWritesNoAddress) {
    click();
    EXPECT_EQ(link->modeValue, 0);
    EXPECT_TRUE(link->ipValue.isEmpty());
    EXPECT_EQ(link->tcpPortValue, -1);
    EXPECT_EQ(link->count(QStringLiteral("SetPort(2)")), 1);
}

TEST_F(RingDownloadTest, PortNotOpenedBeepsOnceAndStops) {
    link->setPortResult = false;
    click();
    EXPECT_EQ(link->calls, (QStringList{QStringLiteral("mode=0"), QStringLiteral("SetPort(2)")}));
    EXPECT_EQ(statuses, QStringList{QStringLiteral("通讯口打开失败!")});
    EXPECT_EQ(boxes.beeps, 1);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(RingDownloadTest, RefusedGroupDoesNotStopTheNext) {
    link->failingGroups = {2};
    click();
    EXPECT_EQ(link->count(QStringLiteral("SetClock")), 3);
    EXPECT_EQ(statuses, (QStringList{QStringLiteral("第一组设置闹铃成功"),
                                     QStringLiteral("第二组设置闹铃不成功"),
                                     QStringLiteral("第三组设置闹铃成功")}));
    EXPECT_EQ(link->calls.last(), QStringLiteral("DestoryPort"));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(RingDownloadTest, EveryGroupRefusedShowsEachFailure) {
    link->failingGroups = {1, 2, 3};
    click();
    EXPECT_EQ(statuses, (QStringList{QStringLiteral("第一组设置闹铃不成功"),
                                     QStringLiteral("第二组设置闹铃不成功"),
                                     QStringLiteral("第三组设置闹铃不成功")}));
    EXPECT_EQ(link->openPorts, 0);
}

TEST_F(RingDownloadTest, ErrorAfterOpeningStillClosesThePort) {
    link->raiseIn = QStringLiteral("SetClock");
    click();
    EXPECT_EQ(link->count(QStringLiteral("SetClock")), 1);
    EXPECT_EQ(link->calls.last(), QStringLiteral("DestoryPort"));
    EXPECT_EQ(link->openPorts, 0);
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("5 : Invalid procedure call or argument"));
}

TEST_F(RingDownloadTest, NoConnectComponentShowsFailure) {
    bw::state().connect.reset();
    click();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("91 : ")));
}

TEST_F(RingDownloadTest, WaitsBeforeTheFirstGroupOnly) {
    QElapsedTimer timer;
    QList<qint64> at;
    link->onSetClock = [&](short) { at << timer.elapsed(); };
    timer.start();
    click();
    ASSERT_EQ(at.size(), 3);
    EXPECT_GE(at[0], 195);
    // A wait before every group would put at least 400 ms between the first and the last.
    EXPECT_LT(at[2] - at[0], 390);
}

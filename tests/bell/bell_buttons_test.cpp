#include "window/bell_buttons.h"

#include "bell/bell_frame.h"
#include "bell/bell_link.h"
#include "bell/memory_line.h"
#include "bell_test_support.h"
#include "common/fakes.h"
#include "common/test_support.h"
#include "messages/catalogue.h"
#include "messages/clock_texts.h"
#include "platform/clock_guard.h"
#include "platform/language.h"
#include "platform/ui.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>
#include <vector>

using namespace bw::bell;
using bw::messages::text;
using bw::test::hex;

namespace {

const QString CR = QStringLiteral("\r");

class BellButtonsTest : public ::testing::Test {
protected:
    void SetUp() override {
        lang = bw::test::installFakeLanguage();
        line->setPeer(peer.peer());
        combo.setEditable(true);
        for (int i = 1; i <= 16; ++i)
            combo.addItem(QStringLiteral("COM%1").arg(i));
        BellControls c;
        c.Txt_Machine = &machine;
        c.Cbo_COM = &combo;
        c.TxtBellNum = &bellNum;
        for (size_t i = 0; i < 30; ++i) {
            hours.push_back(std::make_unique<QLineEdit>(QStringLiteral("12")));
            mins.push_back(std::make_unique<QLineEdit>(QStringLiteral("34")));
            c.TxtHour[i] = hours.back().get();
            c.TxtMin[i] = mins.back().get();
        }
        c.setStatus = [this](const QString& s) { status = s; };
        buttons = std::make_unique<BellButtons>(c, std::make_unique<BellLink>(line->makePort()));
    }
    void TearDown() override { bw::state().language.reset(); }

    void select(const QString& addr, const QString& port) {
        machine.setText(addr);
        combo.setEditText(port);
    }
    QString notice(int id, const QString& v1) {
        return bw::messages::fillPlaceholders(text(id), v1);
    }
    void expectNotice(int index, const QString& t) {
        ASSERT_GT(boxes.boxes.size(), index);
        EXPECT_EQ(boxes.boxes[index].text, t);
        EXPECT_EQ(boxes.boxes[index].style, 64);
        EXPECT_EQ(boxes.boxes[index].title, text(100));
    }
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
    QLineEdit machine;
    QComboBox combo;
    QLineEdit bellNum{QStringLiteral("7")};
    std::vector<std::unique_ptr<QLineEdit>> hours, mins;
    QString status;
    std::unique_ptr<BellButtons> buttons;
};

} // namespace

// ---- Cmd_Ring_read ----

TEST_F(BellButtonsTest, ReadWithEmptyAddressBeepsAndSaysSo) {
    select(QStringLiteral("  "), QStringLiteral("COM1"));
    buttons->Cmd_Ring_read_Click();
    EXPECT_EQ(status, QStringLiteral("请选择考勤机!"));
    EXPECT_EQ(boxes.beeps, 1);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_TRUE(line->openedPorts().isEmpty());
}

TEST_F(BellButtonsTest, ReadOfAnIpTerminalIsRefused) {
    select(QStringLiteral(" 5 "), QStringLiteral("192.168.1.5"));
    buttons->Cmd_Ring_read_Click();
    ASSERT_EQ(boxes.boxes.size(), 1);
    expectNotice(0, QStringLiteral("机器:5暂不支持TCPIP方式的此功能!"));
    EXPECT_TRUE(line->openedPorts().isEmpty());
    EXPECT_EQ(hours[0]->text(), QStringLiteral("12")); // fields untouched
}

TEST_F(BellButtonsTest, ReadSuccessFillsTheFieldsAfterTheNotice) {
    select(QStringLiteral("1"), QStringLiteral("COM12"));
    peer.reply(readReply(5, hex("08 30 12 00")));
    QString hourWhenShown;
    boxes.answers.push_back(bw::mb::OK);
    buttons->Cmd_Ring_read_Click();
    EXPECT_EQ(line->openedPorts(), QList<short>{12});
    expectNotice(0, notice(1044, QStringLiteral("1")));
    EXPECT_EQ(bellNum.text(), QStringLiteral("05"));
    EXPECT_EQ(hours[0]->text(), QStringLiteral("08"));
    EXPECT_EQ(mins[0]->text(), QStringLiteral("30"));
    EXPECT_EQ(hours[1]->text(), QStringLiteral("12"));
    EXPECT_EQ(mins[1]->text(), QStringLiteral("00"));
    EXPECT_EQ(hours[29]->text(), QStringLiteral("00"));
    EXPECT_EQ(status, text(1040));
    EXPECT_FALSE(line->anyPortOpen()); // closed afterwards
}

TEST_F(BellButtonsTest, ReadAddressOutOfRangeSendsNothing) {
    select(QStringLiteral("300"), QStringLiteral("COM1"));
    buttons->Cmd_Ring_read_Click();
    expectNotice(0, QStringLiteral("机器:300地址号超限(1--255)!"));
    EXPECT_TRUE(line->written().isEmpty());
    EXPECT_EQ(bellNum.text(), QStringLiteral("0"));
}

TEST_F(BellButtonsTest, ReadWithoutReplyShowsZerosAnd1042) {
    select(QStringLiteral("5"), QStringLiteral("COM3"));
    peer.noReply();
    buttons->Cmd_Ring_read_Click();
    expectNotice(0, notice(1042, QStringLiteral("5")));
    EXPECT_EQ(bellNum.text(), QStringLiteral("0"));
    for (size_t i = 0; i < 30; ++i) {
        EXPECT_EQ(hours[i]->text(), QStringLiteral("0"));
        EXPECT_EQ(mins[i]->text(), QStringLiteral("0"));
    }
    EXPECT_FALSE(line->anyPortOpen());
}

TEST_F(BellButtonsTest, ReadPortFaultShows1045ThenAFaultResultShows1043) {
    select(QStringLiteral("5"), QStringLiteral("COM3"));
    line->setPortAvailable(3, false);
    buttons->Cmd_Ring_read_Click();
    expectNotice(0, QStringLiteral("通讯口打开失败!"));
    line->setPortAvailable(3, true);
    line->setWriteFault(true);
    buttons->Cmd_Ring_read_Click();
    expectNotice(1, notice(1043, QStringLiteral("5")));
}

TEST_F(BellButtonsTest, ReadWithBadTextsShowsTheUnexpectedFailureBox) {
    select(QStringLiteral("abc"), QStringLiteral("COM3"));
    buttons->Cmd_Ring_read_Click();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("13:Type mismatch"));
    EXPECT_EQ(boxes.boxes[0].style, 0);
    EXPECT_EQ(boxes.boxes[0].title, QString());
    EXPECT_FALSE(line->anyPortOpen());
    select(QStringLiteral("5"), QStringLiteral("COMX"));
    buttons->Cmd_Ring_read_Click();
    EXPECT_EQ(boxes.lastText(), QStringLiteral("13:Type mismatch"));
}

// ---- Cmd_Ring_Num ----

TEST_F(BellButtonsTest, SetCountEmptyAddressIpAndOutOfRange) {
    select(QString(), QStringLiteral("COM1"));
    buttons->Cmd_Ring_Num_Click();
    EXPECT_EQ(status, QStringLiteral("请选择考勤机!"));
    EXPECT_EQ(boxes.beeps, 1);

    select(QStringLiteral("5"), QStringLiteral("10.0.0.1"));
    buttons->Cmd_Ring_Num_Click();
    expectNotice(0, notice(1035, QStringLiteral("5")));

    select(QStringLiteral("300"), QStringLiteral("COM1"));
    buttons->Cmd_Ring_Num_Click();
    expectNotice(1, notice(1038, QStringLiteral("300")));

    bellNum.setText(QStringLiteral("31"));
    select(QStringLiteral("5"), QStringLiteral("COM1"));
    buttons->Cmd_Ring_Num_Click();
    expectNotice(2, notice(1038, QStringLiteral("5")));
    EXPECT_TRUE(line->written().isEmpty());
}

TEST_F(BellButtonsTest, SetCountAsFirstActionGoesOutOnPortOne) {
    select(QStringLiteral("1"), QStringLiteral("COM9"));
    bellNum.setText(QStringLiteral("5"));
    peer.replyHex("01 04 3E 05 3E");
    buttons->Cmd_Ring_Num_Click();
    EXPECT_EQ(status, text(1036));
    expectNotice(0, notice(1037, QStringLiteral("1")));
    EXPECT_EQ(line->openedPorts(), QList<short>{1});
    EXPECT_FALSE(line->anyPortOpen());
}

TEST_F(BellButtonsTest, SetCountFaultBoxThen1038) {
    select(QStringLiteral("1"), QStringLiteral("COM1"));
    line->setPortAvailable(1, false);
    buttons->Cmd_Ring_Num_Click();
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[0].title, text(1110));
    EXPECT_EQ(boxes.boxes[0].style, 0);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("8002Invalid port number")));
    expectNotice(1, notice(1038, QStringLiteral("1")));
}

TEST_F(BellButtonsTest, SetCountWithBadCountTextShowsTheUnexpectedFailureBox) {
    bellNum.setText(QStringLiteral("x"));
    select(QString(), QStringLiteral("COM1")); // the count is converted first
    buttons->Cmd_Ring_Num_Click();
    EXPECT_EQ(boxes.lastText(), QStringLiteral("13:Type mismatch"));
    EXPECT_EQ(boxes.beeps, 0);
}

// ---- Cmd_Test ----

TEST_F(BellButtonsTest, TestSuccessAndFailure) {
    select(QStringLiteral("5"), QStringLiteral("COM3"));
    peer.replyHex("05 55");
    buttons->Cmd_Test_Click();
    expectNotice(0, QStringLiteral("机器:5通讯测试成功!"));
    EXPECT_EQ(line->openedPorts(), QList<short>{3});

    // The status line then says what the line is: here a recorded CH344 adapter.
    bw::bell::setDevicePath(3, QStringLiteral("/dev/ttyACM0"));
    qputenv("BW_SYSFS_ROOT", (bw::test::sourceDir() + "/tests/bell/sysfs/ch344").toUtf8());
    peer.noReply();
    buttons->Cmd_Test_Click();
    qunsetenv("BW_SYSFS_ROOT");
    bw::bell::clearDevicePaths();
    expectNotice(1, QStringLiteral("机器:") + CR + QStringLiteral("通讯测试失败!"));
    EXPECT_TRUE(line->anyPortOpen()); // stays open until the next bell-link button
    EXPECT_TRUE(
        status.startsWith(u"线路：/dev/ttyACM0，USB 转串口 cdc_acm 1a86:55d5 WCH CH344。此芯片"))
        << status.toStdString();
}

TEST_F(BellButtonsTest, TestUsesTheTerminalsOwnPort) {
    select(QStringLiteral("5"), QStringLiteral("COM12"));
    peer.replyHex("05 55");
    buttons->Cmd_Test_Click();
    EXPECT_EQ(line->openedPorts(), QList<short>{12});
    expectNotice(0, notice(1047, QStringLiteral("5")));
}

TEST_F(BellButtonsTest, TestOfAnIpTerminalLeavesTheSerialPortAlone) {
    select(QStringLiteral("5"), QStringLiteral("192.168.1.5"));
    buttons->Cmd_Test_Click();
    expectNotice(0, notice(1035, QStringLiteral("5")));
    EXPECT_TRUE(line->openedPorts().isEmpty());
}

TEST_F(BellButtonsTest, TestEmptyAddressBadPortAndFaults) {
    select(QString(), QStringLiteral("COM1"));
    buttons->Cmd_Test_Click();
    expectNotice(0, QStringLiteral("错误：") + CR + QStringLiteral("请选择考勤机．．．"));

    select(QString(), QString()); // port number taken first
    buttons->Cmd_Test_Click();
    expectNotice(1, QStringLiteral("错误：") + CR + QStringLiteral("通讯口打开失败!"));

    select(QStringLiteral("300"), QStringLiteral("COM1"));
    buttons->Cmd_Test_Click();
    expectNotice(2, notice(1050, CR));

    line->setPortAvailable(2, false);
    select(QStringLiteral("5"), QStringLiteral("COM2"));
    buttons->Cmd_Test_Click();
    expectNotice(3, QStringLiteral("错误：") + CR + QStringLiteral("通讯口[2]打开失败!"));

    line->setWriteFault(true);
    select(QStringLiteral("5"), QStringLiteral("COM1"));
    buttons->Cmd_Test_Click();
    expectNotice(4, notice(1050, CR));
    EXPECT_TRUE(line->written().isEmpty());
}

// ---- Cmd_DateTime ----

TEST_F(BellButtonsTest, DateTimeSendsTheComputersClock) {
    select(QStringLiteral("1"), QStringLiteral("COM12"));
    peer.replyHex("01 81");
    const QDateTime before = QDateTime::currentDateTime();
    buttons->Cmd_DateTime_Click();
    expectNotice(0, notice(1047, QStringLiteral("1")));
    EXPECT_EQ(line->openedPorts(), QList<short>{12});
    ASSERT_EQ(peer.requests().size(), 1);
    const QByteArray req = peer.requests().first();
    EXPECT_EQ(static_cast<quint8>(req.at(3)), bw::bell::frame::toBcd(before.date().year() % 100));
    EXPECT_FALSE(line->anyPortOpen());
}

// The computer's clock goes out only as the clock guard allows: "set anyway?" when the
// operator may override it, a notice when not even that.
TEST_F(BellButtonsTest, DateTimeAsksOrRefusesAsTheClockGuardSays) {
    using R = bw::ClockRefusal;
    const QDateTime now = QDateTime::currentDateTime(), y1970(QDate(1970, 1, 1), QTime(8, 0));
    const struct {
        bw::ComputerClock computer;
        int answer;
        R said; // what the first box is about
        bool sent;
    } rows[] = {{{now, false}, bw::mb::Yes, R::Unsynchronised, true},
                {{now, false}, bw::mb::No, R::Unsynchronised, false},
                {{y1970, true}, bw::mb::Yes, R::YearOutOfRange, false}};
    for (const auto& row : rows) {
        boxes.clear();
        boxes.answers = {row.answer};
        const qsizetype before = peer.requests().size();
        bw::setComputerClockQuery([&] { return row.computer; });
        select(QStringLiteral("1"), QStringLiteral("COM1"));
        peer.replyHex("01 81");
        buttons->Cmd_DateTime_Click();
        bw::test::useSynchronisedComputerClock();
        const bw::ClockVerdict v{row.said, row.computer.now, std::nullopt};
        EXPECT_EQ(boxes.boxes.value(0).text,
                  bw::messages::clockRefusalText(v, QStringLiteral("1"), bw::uiLanguage()));
        EXPECT_EQ(peer.requests().size() - before, row.sent ? 1 : 0);
    }
}

TEST_F(BellButtonsTest, DateTimeFailuresAndIp) {
    select(QStringLiteral("1"), QStringLiteral("COM1"));
    peer.replyHex("01 80");
    buttons->Cmd_DateTime_Click();
    expectNotice(0, notice(1048, CR));

    select(QStringLiteral("1"), QStringLiteral("192.168.1.5"));
    buttons->Cmd_DateTime_Click();
    expectNotice(1, notice(1035, QStringLiteral("1")));
    EXPECT_EQ(line->openedPorts().size(), 1);

    line->setPortAvailable(4, false);
    select(QStringLiteral("1"), QStringLiteral("COM4"));
    buttons->Cmd_DateTime_Click();
    expectNotice(2, QStringLiteral("错误：") + CR + QStringLiteral("通讯口[4]打开失败!"));

    select(QString(), QStringLiteral("COM1")); // empty address: conversion fails
    buttons->Cmd_DateTime_Click();
    EXPECT_EQ(boxes.boxes[3].text, QStringLiteral("13:Type mismatch"));
    EXPECT_EQ(boxes.boxes[3].style, 0);
}

// ---- one exchange at a time ----

TEST_F(BellButtonsTest, SecondPressWhileWaitingIsIgnored) {
    select(QStringLiteral("1"), QStringLiteral("COM1"));
    line->setReplyDelay(300);
    peer.replyHex("01 81");
    bool sawBusy = false;
    QTimer::singleShot(50, [&] {
        sawBusy = buttons->busy();
        buttons->Cmd_Test_Click();
        buttons->Cmd_Ring_read_Click();
        buttons->Cmd_Ring_Num_Click();
        buttons->Cmd_DateTime_Click();
    });
    buttons->Cmd_DateTime_Click();
    EXPECT_TRUE(sawBusy);
    EXPECT_EQ(peer.requests().size(), 1);
    ASSERT_EQ(boxes.boxes.size(), 1);
    expectNotice(0, notice(1047, QStringLiteral("1")));
    EXPECT_FALSE(buttons->busy());
}

TEST_F(BellButtonsTest, ReadFaultAsLongAsASettingsTextIsStillAFailure) {
    select(QStringLiteral("5"), QStringLiteral("COM3"));
    line->setWriteFault(true, QStringLiteral("Could not write to the device "
                                             "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-"
                                             "if00-port0: Input/output error (the adapter was "
                                             "unplugged)"));
    buttons->Cmd_Ring_read_Click();
    expectNotice(0, notice(1043, QStringLiteral("5")));
    EXPECT_EQ(hours[0]->text(), QStringLiteral("0"));
    EXPECT_EQ(bellNum.text(), QStringLiteral("0"));
}

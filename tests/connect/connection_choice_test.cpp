#include "connect/connection_choice.h"
#include "connect/recording_connect.h"

#include "platform/error.h"

#include <gtest/gtest.h>

using bw::connect::applyChoice;
using bw::connect::chooseConnection;
using bw::test::RecordingConnect;

namespace {

int errorNumberOf(const QString& text) {
    try {
        chooseConnection(text);
    } catch (const bw::Error& e) {
        return e.number();
    }
    return 0;
}

} // namespace

TEST(ConnectionChoice, SerialPortNumberFromTheFourthCharacter) {
    auto c = chooseConnection(QStringLiteral("COM3"));
    EXPECT_FALSE(c.tcp);
    EXPECT_EQ(c.mode, 0);
    EXPECT_EQ(c.port, 3);
    EXPECT_TRUE(c.ip.isEmpty());

    c = chooseConnection(QStringLiteral("COM12"));
    EXPECT_FALSE(c.tcp);
    EXPECT_EQ(c.port, 12);

    // Six characters is still a serial port.
    c = chooseConnection(QStringLiteral("COM123"));
    EXPECT_FALSE(c.tcp);
    EXPECT_EQ(c.port, 123);
}

TEST(ConnectionChoice, SevenCharactersOrMoreIsTcpIp) {
    auto c = chooseConnection(QStringLiteral("192.168.1.5"));
    EXPECT_TRUE(c.tcp);
    EXPECT_EQ(c.mode, 1);
    EXPECT_EQ(c.ip, QStringLiteral("192.168.1.5"));
    EXPECT_EQ(c.tcpPort, 1001);
    EXPECT_EQ(c.port, 0);

    // Exactly seven characters, whatever they hold, is an address passed on unchanged.
    c = chooseConnection(QStringLiteral("COM1234"));
    EXPECT_TRUE(c.tcp);
    EXPECT_EQ(c.ip, QStringLiteral("COM1234"));
    EXPECT_EQ(c.port, 0);

    c = chooseConnection(QStringLiteral("1.2.3.4"));
    EXPECT_TRUE(c.tcp);
    EXPECT_EQ(c.ip, QStringLiteral("1.2.3.4"));
}

TEST(ConnectionChoice, SerialTextWithoutNumberRaises) {
    EXPECT_EQ(errorNumberOf(QStringLiteral("COM")), bw::err::TypeMismatch);
    EXPECT_EQ(errorNumberOf(QStringLiteral("COMx")), bw::err::TypeMismatch);
    EXPECT_EQ(errorNumberOf(QString()), bw::err::TypeMismatch);
    EXPECT_EQ(errorNumberOf(QStringLiteral("COM1e9")), bw::err::Overflow);
}

TEST(ConnectionChoice, ApplyWritesOnlyWhatTheModeNeeds) {
    RecordingConnect serial;
    applyChoice(serial, chooseConnection(QStringLiteral("COM2")));
    EXPECT_EQ(serial.calls, QStringList{QStringLiteral("mode=0")});

    RecordingConnect tcp;
    applyChoice(tcp, chooseConnection(QStringLiteral("10.0.0.77")));
    EXPECT_EQ(tcp.calls, (QStringList{QStringLiteral("mode=1"), QStringLiteral("IP=10.0.0.77"),
                                      QStringLiteral("tcpPort=1001")}));
}

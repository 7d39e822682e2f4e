#include "bell/bell_frame.h"

#include "bell_test_support.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace bw::bell;
using bw::test::hex;

namespace {

QByteArray readReply(quint8 count, const QByteArray& bells) {
    QByteArray r(131, '\x5A'); // filler outside the positions read
    r.replace(66, 60, bells.leftJustified(60, '\0'));
    r[126] = static_cast<char>(count);
    return r;
}

} // namespace

TEST(BellFrame, CheckByteAndBcd) {
    EXPECT_EQ(frame::checkByte(0x01, hex("03 10")), 0x12);
    EXPECT_EQ(frame::checkByte(0x05, hex("02 55")), 0x52);
    EXPECT_EQ(frame::toBcd(0), 0x00);
    EXPECT_EQ(frame::toBcd(9), 0x09);
    EXPECT_EQ(frame::toBcd(23), 0x23);
    EXPECT_EQ(frame::toBcd(59), 0x59);
}

TEST(BellFrame, RequestsOfAddressOne) {
    EXPECT_EQ(frame::readRequest(1), hex("03 10 12 00"));
    EXPECT_EQ(frame::setCountRequest(1, 5), hex("04 3E 05 3E 00"));
    EXPECT_EQ(frame::setCountRequest(1, 0), hex("04 3E 00 3B 00"));
    EXPECT_EQ(frame::testRequest(1), hex("02 55 56"));
    EXPECT_EQ(frame::dateTimeRequest(1, QDateTime(QDate(2011, 12, 31), QTime(23, 59, 58))),
              hex("08 15 11 12 31 23 59 58 0C"));
}

TEST(BellFrame, RequestsOfAddressFive) {
    EXPECT_EQ(frame::readRequest(5), hex("03 10 16 00"));
    EXPECT_EQ(frame::testRequest(5), hex("02 55 52"));
}

TEST(BellFrame, YearByteIsLastTwoDigits) {
    const auto y2000 = frame::dateTimeRequest(1, QDateTime(QDate(2000, 1, 2), QTime(3, 4, 5)));
    EXPECT_EQ(static_cast<quint8>(y2000.at(2)), 0x00);
    EXPECT_EQ(y2000.mid(3, 5), hex("01 02 03 04 05"));
    const auto y2009 = frame::dateTimeRequest(1, QDateTime(QDate(2009, 7, 1), QTime(0, 0, 0)));
    EXPECT_EQ(static_cast<quint8>(y2009.at(2)), 0x09);
    // The check byte covers everything before it, the pad-free request ends with it.
    EXPECT_EQ(static_cast<quint8>(y2009.at(8)), frame::checkByte(1, y2009.left(8)));
}

TEST(BellFrame, ReadDecoding) {
    const QString text = *frame::decodeBellSettings(readReply(0x05, hex("08 30 12 00")));
    EXPECT_EQ(text.size(), 122);
    EXPECT_TRUE(text.startsWith(QStringLiteral("0508301200")));
    EXPECT_EQ(text.mid(10), QString(112, QLatin1Char('0')));
    EXPECT_EQ(frame::decodeBellSettings(readReply(0x1E, {}))->left(2), QStringLiteral("30"));
    EXPECT_EQ(frame::decodeBellSettings(readReply(0x7B, {}))->left(2), QStringLiteral("23"));
    EXPECT_EQ(frame::decodeBellSettings(readReply(0x00, {}))->left(2), QStringLiteral("00"));
    // Upper-case hexadecimal of a byte that is no BCD.
    EXPECT_EQ(frame::decodeBellSettings(readReply(1, hex("1A FF")))->mid(2, 4),
              QStringLiteral("1AFF"));
    EXPECT_FALSE(frame::decodeBellSettings(QByteArray(126, '\0')));
}

TEST(BellFrame, ReplyChecks) {
    EXPECT_TRUE(frame::testReplyOk(hex("01 55"), 1));
    EXPECT_TRUE(frame::testReplyOk(hex("01 55 7F"), 1));
    EXPECT_FALSE(frame::testReplyOk(hex("02 55"), 1));
    EXPECT_FALSE(frame::testReplyOk(hex("01"), 1));
    EXPECT_FALSE(frame::testReplyOk(hex("01 56"), 1));
    EXPECT_TRUE(frame::dateTimeReplyOk(hex("01 81"), 1));
    EXPECT_FALSE(frame::dateTimeReplyOk(hex("01 80"), 1));
    EXPECT_FALSE(frame::dateTimeReplyOk(hex("01"), 1));
    EXPECT_TRUE(frame::setCountReplyOk(hex("01 04 3E 00 3B"), 1, 0));
    EXPECT_FALSE(frame::setCountReplyOk(hex("01 04 3E 05 3B"), 1, 0));
    EXPECT_FALSE(frame::setCountReplyOk(hex("02 04 3E 00 3B"), 1, 0));
    EXPECT_TRUE(frame::testReplyOk(hex("FF 55"), 255));
}

// Random and truncated replies never crash a decoder, and each answer is one of the
// documented ones.
TEST(BellFrame, RandomAndTruncatedReplies) {
    QRandomGenerator rng(20111231);
    for (int round = 0; round < 3000; ++round) {
        const int len = static_cast<int>(rng.bounded(140));
        QByteArray reply(len, '\0');
        for (auto& b : reply)
            b = static_cast<char>(rng.bounded(256));
        const int addr = static_cast<int>(rng.bounded(256));
        const int count = static_cast<int>(rng.bounded(31));

        const auto text = frame::decodeBellSettings(reply);
        if (len < 127) {
            EXPECT_FALSE(text);
        } else {
            ASSERT_TRUE(text);
            ASSERT_EQ(text->size(), 122);
            EXPECT_EQ(text->left(2).toInt(), static_cast<quint8>(reply.at(126)) % 100);
            for (int i = 0; i < 60; ++i)
                EXPECT_EQ(text->mid(2 + 2 * i, 2).toInt(nullptr, 16),
                          static_cast<quint8>(reply.at(66 + i)));
        }
        const bool testOk = frame::testReplyOk(reply, addr);
        EXPECT_EQ(testOk, len >= 2 && static_cast<quint8>(reply.at(0)) == addr &&
                              static_cast<quint8>(reply.at(1)) == 0x55);
        const bool dtOk = frame::dateTimeReplyOk(reply, addr);
        EXPECT_EQ(dtOk, len >= 2 && static_cast<quint8>(reply.at(0)) == addr &&
                            static_cast<quint8>(reply.at(1)) == 0x81);
        const bool scOk = frame::setCountReplyOk(reply, addr, count);
        EXPECT_EQ(scOk, len >= 4 && static_cast<quint8>(reply.at(0)) == addr &&
                            static_cast<quint8>(reply.at(3)) == count);
    }
}

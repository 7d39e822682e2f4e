#include "sim/line.h"

#include <QDateTime>
#include <gtest/gtest.h>

using bw::sim::Faults;
using bw::sim::Line;

namespace {

QByteArray bytes(std::initializer_list<int> list) {
    QByteArray b;
    for (int v : list)
        b.append(char(v));
    return b;
}

// Sends a request as a ninth-bit line carries it: the first byte as an address character,
// the others as data characters. Returns every reply byte produced.
QByteArray send9(Line& line, const QByteArray& request) {
    QByteArray out;
    for (int i = 0; i < request.size(); ++i)
        out += line.receive9(quint16(quint8(request[i])) | (i == 0 ? 0x100 : 0));
    return out;
}

QByteArray withCheck(QByteArray frame, bool pad = false) {
    quint8 x = 0;
    for (char c : frame)
        x ^= quint8(c);
    frame.append(char(x));
    if (pad)
        frame.append('\0');
    return frame;
}

} // namespace

// ---------------------------------------------------------------------------------------
// The four bell-link requests, ninth bit known

TEST(SimLineBell, TestRequestAnswersAddressAnd55) {
    Line line({1, 5});
    EXPECT_EQ(send9(line, bytes({0x01, 0x02, 0x55, 0x56})), bytes({0x01, 0x55}));
    EXPECT_EQ(send9(line, bytes({0x05, 0x02, 0x55, 0x52})), bytes({0x05, 0x55}));
}

TEST(SimLineBell, ReadReplyCarriesBcdBellTimesAndPlainCount) {
    Line line({1});
    auto* t = line.terminal(1);
    ASSERT_NE(t, nullptr);
    t->bellBcd[0] = 0x08;
    t->bellBcd[1] = 0x30;
    t->bellBcd[2] = 0x12;
    t->bellBcd[3] = 0x00;
    t->bellBcd[59] = 0x45;
    t->bellCount = 30;
    const QByteArray r = send9(line, bytes({0x01, 0x03, 0x10, 0x12, 0x00}));
    ASSERT_EQ(r.size(), 131);
    EXPECT_EQ(quint8(r[66]), 0x08);
    EXPECT_EQ(quint8(r[67]), 0x30);
    EXPECT_EQ(quint8(r[68]), 0x12);
    EXPECT_EQ(quint8(r[69]), 0x00);
    EXPECT_EQ(quint8(r[125]), 0x45);
    EXPECT_EQ(quint8(r[126]), 30); // plain number, not BCD 0x30
}

TEST(SimLineBell, ReadNeedsItsPadByte) {
    Line line({5});
    EXPECT_TRUE(send9(line, bytes({0x05, 0x03, 0x10, 0x16})).isEmpty());
    EXPECT_EQ(line.receive9(0x00).size(), 131);
    // A pad byte other than zero spoils the request.
    EXPECT_TRUE(send9(line, bytes({0x05, 0x03, 0x10, 0x16, 0x01})).isEmpty());
}

TEST(SimLineBell, SetCountEchoesFiveBytesAndStoresCount) {
    Line line({1});
    EXPECT_EQ(send9(line, bytes({0x01, 0x04, 0x3E, 0x05, 0x3E, 0x00})),
              bytes({0x01, 0x04, 0x3E, 0x05, 0x3E}));
    EXPECT_EQ(line.terminal(1)->bellCount, 5);
    EXPECT_EQ(send9(line, bytes({0x01, 0x04, 0x3E, 0x00, 0x3B, 0x00})),
              bytes({0x01, 0x04, 0x3E, 0x00, 0x3B}));
    EXPECT_EQ(line.terminal(1)->bellCount, 0);
}

TEST(SimLineBell, DateTimeSetsTheTerminalClock) {
    Line line({1});
    EXPECT_EQ(send9(line, bytes({0x01, 0x08, 0x15, 0x11, 0x12, 0x31, 0x23, 0x59, 0x58, 0x0C})),
              bytes({0x01, 0x81}));
    const QDateTime want(QDate(2011, 12, 31), QTime(23, 59, 58));
    EXPECT_LE(qAbs(line.terminal(1)->clock().secsTo(want)), 2);
}

TEST(SimLineBell, ImpossibleDateIsRefusedWith80) {
    Line line({1});
    // Month 0x13 and a day 0x1A are not dates; the clock stays as it was.
    const QByteArray req = withCheck(bytes({0x01, 0x08, 0x15, 0x11, 0x13, 0x1A, 0x10, 0, 0}));
    EXPECT_EQ(send9(line, req), bytes({0x01, 0x80}));
    EXPECT_EQ(line.terminal(1)->clockOffsetSecs, 0);
}

TEST(SimLineBell, BadCheckByteGetsNoReplyAndChangesNothing) {
    Line line({1});
    EXPECT_TRUE(send9(line, bytes({0x01, 0x02, 0x55, 0x57})).isEmpty());
    EXPECT_TRUE(send9(line, bytes({0x01, 0x04, 0x3E, 0x07, 0x3E, 0x00})).isEmpty());
    EXPECT_EQ(line.terminal(1)->bellCount, 0);
}

TEST(SimLineBell, OtherAddressesGetNoReply) {
    Line line({1, 5, 7});
    EXPECT_TRUE(send9(line, withCheck(bytes({0x02, 0x02, 0x55}))).isEmpty());
    EXPECT_EQ(line.terminal(2), nullptr);
    EXPECT_EQ(line.addresses(), QList<int>({1, 5, 7}));
}

TEST(SimLineBell, AddressCharacterStartsAFreshFrame) {
    Line line({1, 5});
    // A frame cut short by a new address character is forgotten.
    EXPECT_TRUE(line.receive9(0x101).isEmpty());
    EXPECT_TRUE(line.receive9(0x002).isEmpty());
    EXPECT_EQ(send9(line, bytes({0x05, 0x02, 0x55, 0x52})), bytes({0x05, 0x55}));
    // Data characters with no address before them are ignored.
    for (int b : {0x02, 0x55, 0x56})
        EXPECT_TRUE(line.receive9(quint16(b)).isEmpty());
    // An unknown command is dropped; the next request is answered.
    EXPECT_TRUE(send9(line, bytes({0x01, 0x77, 0x77, 0x01})).isEmpty());
    EXPECT_EQ(send9(line, bytes({0x01, 0x02, 0x55, 0x56})), bytes({0x01, 0x55}));
}

// ---------------------------------------------------------------------------------------
// Frames without the ninth bit

TEST(SimLineRaw, FindsRequestsAmongOtherBytes) {
    Line line({1, 5});
    EXPECT_EQ(line.receiveRaw(bytes({0xFF, 0x00, 0x01, 0x02, 0x55, 0x56})), bytes({0x01, 0x55}));
    // Two requests in one chunk, the second for another terminal.
    EXPECT_EQ(line.receiveRaw(bytes({0x01, 0x02, 0x55, 0x56, 0x05, 0x02, 0x55, 0x52})),
              bytes({0x01, 0x55, 0x05, 0x55}));
}

TEST(SimLineRaw, RequestSplitAcrossChunks) {
    Line line({5});
    EXPECT_TRUE(line.receiveRaw(bytes({0x05, 0x03})).isEmpty());
    EXPECT_TRUE(line.receiveRaw(bytes({0x10, 0x16})).isEmpty());
    EXPECT_EQ(line.receiveRaw(bytes({0x00})).size(), 131);
}

TEST(SimLineRaw, BadCheckAbsentAddressAndMissingPadGetNoReply) {
    Line line({1});
    EXPECT_TRUE(line.receiveRaw(bytes({0x01, 0x02, 0x55, 0x57})).isEmpty());
    EXPECT_TRUE(line.receiveRaw(withCheck(bytes({0x07, 0x02, 0x55}))).isEmpty());
    EXPECT_TRUE(line.receiveRaw(bytes({0x01, 0x04, 0x3E, 0x05, 0x3E, 0x09})).isEmpty());
    EXPECT_EQ(line.terminal(1)->bellCount, 0);
    // Nothing left over spoils the next request.
    EXPECT_EQ(line.receiveRaw(bytes({0x01, 0x02, 0x55, 0x56})), bytes({0x01, 0x55}));
}

TEST(SimLineRaw, LooksLikeAStartButAShortRequestFollows) {
    Line line({1, 9});
    // "09 09 .." could open a set-clock request (24 bytes); the test request after it
    // must still be answered at once.
    EXPECT_EQ(line.receiveRaw(bytes({0x09, 0x09, 0x01, 0x01, 0x02, 0x55, 0x56})),
              bytes({0x01, 0x55}));
}

TEST(SimLineRaw, ChannelsKeepTheirOwnPartialRequests) {
    Line line({1});
    EXPECT_TRUE(line.receiveRaw(bytes({0x01, 0x02}), 1).isEmpty());
    EXPECT_TRUE(line.receiveRaw(bytes({0x55, 0x56}), 2).isEmpty());
    EXPECT_EQ(line.receiveRaw(bytes({0x55, 0x56}), 1), bytes({0x01, 0x55}));
    EXPECT_TRUE(line.receiveRaw(bytes({0x01, 0x02}), 3).isEmpty());
    line.resetChannel(3);
    EXPECT_TRUE(line.receiveRaw(bytes({0x55, 0x56}), 3).isEmpty());
}

// ---------------------------------------------------------------------------------------
// Connect-link requests

TEST(SimLineConnect, ClearRecordAndNameList) {
    Line line({5});
    auto* t = line.terminal(5);
    t->nameList = QStringList{QStringLiteral("00000007"), QStringLiteral("00000009")};
    t->makeRecords(25);
    EXPECT_EQ(t->records[1].card, 9u); // meals of the listed cards only
    EXPECT_EQ(send9(line, bytes({0x05, 0x0A, 0x01, 0x0E})), bytes({0x05, 0x0A, 0x01, 0x06}));
    EXPECT_TRUE(t->records.empty());
    EXPECT_EQ(t->nameList.size(), 2);
    EXPECT_EQ(line.receiveRaw(bytes({0x05, 0x0A, 0x02, 0x0D})), bytes({0x05, 0x0A, 0x02, 0x06}));
    EXPECT_TRUE(t->nameList.isEmpty());
}

// A name list is staged block by block and replaced only by a commit naming the staged list.
TEST(SimLineConnect, NameListIsCommittedWholeOrNotAtAll) {
    Line line({1});
    auto* t = line.terminal(1);
    t->nameList = QStringList{QStringLiteral("00000005")};
    const QByteArray ack = bytes({0x01, 0x0C, 0x03, 0x06}), nak = bytes({0x01, 0x0C, 0x03, 0x15});
    const QByteArray block0 = withCheck(bytes({0x01, 0x0C, 0x03, 0, 0, 2, 0, 1, 0, 2, 0, 1, 0, 1}));
    EXPECT_EQ(send9(line, withCheck(bytes({0x01, 0x0C, 0x02}))), bytes({0x01, 0x0C, 0x02, 0x06}));
    EXPECT_EQ(line.receiveRaw(block0.left(5)), QByteArray());
    EXPECT_EQ(line.receiveRaw(block0.mid(5)), ack);
    EXPECT_EQ(send9(line, block0), ack); // its reply was lost: not appended twice
    EXPECT_EQ(send9(line, withCheck(bytes({0x01, 0x0C, 0x03, 0, 2, 1, 0, 1, 0, 3}))), nak);
    // Three cards or another checksum: refused, the list stays.
    EXPECT_EQ(send9(line, withCheck(bytes({1, 0x0C, 4, 0, 0, 0, 3, 0x11, 0xF9, 0xF6, 0x76}))),
              bytes({0x01, 0x0C, 0x04, 0x15}));
    EXPECT_EQ(send9(line, withCheck(bytes({1, 0x0C, 4, 0, 0, 0, 2, 0x11, 0xF9, 0xF6, 0x77}))),
              bytes({0x01, 0x0C, 0x04, 0x15}));
    EXPECT_EQ(t->nameList, QStringList{QStringLiteral("00000005")});
    EXPECT_EQ(send9(line, withCheck(bytes({1, 0x0C, 4, 0, 0, 0, 2, 0x11, 0xF9, 0xF6, 0x76}))),
              bytes({0x01, 0x0C, 0x04, 0x06}));
    EXPECT_EQ(t->nameList, QStringList({QStringLiteral("00010001"), QStringLiteral("00010002")}));
    EXPECT_EQ(send9(line, bytes({0x01, 0x0C, 0x01, 0x0C})),
              withCheck(bytes({0x01, 0x0C, 0x01, 0x06, 0, 0, 0, 2, 0x11, 0xF9, 0xF6, 0x76})));
}

TEST(SimLineConnect, SetClockStoresTheGroupAndTheReadShowsIt) {
    Line line({1});
    QByteArray req = bytes({0x01, 0x09, 0x02});
    for (int i = 0; i < 10; ++i)
        req.append(char(((7 + i) / 10) * 16 + (7 + i) % 10)).append(char(0x05));
    req = withCheck(req);
    ASSERT_EQ(req.size(), 24);
    EXPECT_EQ(send9(line, req), bytes({0x01, 0x09, 0x02, 0x06}));
    const auto* t = line.terminal(1);
    EXPECT_EQ(t->bellGroups[1][0], QTime(7, 5));
    EXPECT_EQ(t->bellGroups[1][9], QTime(16, 5)); // BCD 0x10 + 6 = 0x16
    EXPECT_EQ(t->bellGroups[0][0], QTime(0, 0));
    const QByteArray r = send9(line, bytes({0x01, 0x03, 0x10, 0x12, 0x00}));
    ASSERT_EQ(r.size(), 131);
    // Group 2 holds bell times 10..19: positions 66 + 2 * 10 on.
    EXPECT_EQ(quint8(r[86]), 0x07);
    EXPECT_EQ(quint8(r[87]), 0x05);
    EXPECT_EQ(quint8(r[104]), 0x16);
    EXPECT_EQ(quint8(r[66]), 0x00);
}

TEST(SimLineConnect, SetClockRefusesBadGroupAndBadTimes) {
    Line line({1});
    auto request = [](int group, int hour, int minute) {
        QByteArray req = bytes({0x01, 0x09, group});
        for (int i = 0; i < 10; ++i)
            req.append(char(i == 3 ? hour : 0x08)).append(char(i == 3 ? minute : 0x00));
        return withCheck(req);
    };
    auto nak = [](int group) { return bytes({0x01, 0x09, group, 0x15}); };
    EXPECT_EQ(send9(line, request(0, 0x08, 0x00)), nak(0));
    EXPECT_EQ(send9(line, request(4, 0x08, 0x00)), nak(4));
    EXPECT_EQ(line.receiveRaw(request(4, 0x08, 0x00)), nak(4));
    EXPECT_EQ(send9(line, request(1, 0x24, 0x00)), nak(1));
    EXPECT_EQ(send9(line, request(1, 0x08, 0x60)), nak(1));
    EXPECT_EQ(send9(line, request(1, 0x1A, 0x00)), nak(1));
    EXPECT_EQ(line.terminal(1)->bellGroups[0][0], QTime(0, 0));
    EXPECT_EQ(line.terminal(1)->bellBcd[0], 0);
    EXPECT_EQ(send9(line, request(3, 0x23, 0x59)), bytes({0x01, 0x09, 0x03, 0x06}));
    EXPECT_EQ(line.terminal(1)->bellGroups[2][3], QTime(23, 59));
}

// ---------------------------------------------------------------------------------------
// Fault modes

TEST(SimLineFaults, SilentNeitherAnswersNorActs) {
    Line line({1});
    Faults f;
    f.silent = true;
    line.setFaults(f);
    EXPECT_TRUE(line.faults().silent);
    EXPECT_TRUE(send9(line, bytes({0x01, 0x02, 0x55, 0x56})).isEmpty());
    line.terminal(1)->makeRecords(4);
    EXPECT_TRUE(line.terminal(1)->records.empty()); // no list, no meals
    line.terminal(1)->nameList = QStringList{QStringLiteral("00010001")};
    line.terminal(1)->makeRecords(4);
    EXPECT_TRUE(line.receiveRaw(bytes({0x01, 0x0A, 0x01, 0x0A})).isEmpty());
    EXPECT_EQ(line.terminal(1)->records.size(), 4u);
}

TEST(SimLineFaults, PartialSendsOnlyTheFirstBytes) {
    Line line({1});
    Faults f;
    f.partial = 130;
    line.setFaults(f);
    EXPECT_EQ(send9(line, bytes({0x01, 0x03, 0x10, 0x12, 0x00})).size(), 130);
    f.partial = 1;
    line.setFaults(f);
    EXPECT_EQ(send9(line, bytes({0x01, 0x02, 0x55, 0x56})), bytes({0x01}));
    f.partial = 0;
    line.setFaults(f);
    EXPECT_TRUE(send9(line, bytes({0x01, 0x02, 0x55, 0x56})).isEmpty());
}

TEST(SimLineFaults, WrongAddressChangesOnlyTheFirstByte) {
    Line line({1, 255});
    Faults f;
    f.wrongAddress = true;
    line.setFaults(f);
    const QByteArray r = send9(line, bytes({0x01, 0x04, 0x3E, 0x05, 0x3E, 0x00}));
    ASSERT_EQ(r.size(), 5);
    EXPECT_NE(quint8(r[0]), 0x01);
    EXPECT_EQ(r.mid(1), bytes({0x04, 0x3E, 0x05, 0x3E}));
    const QByteArray r255 = send9(line, withCheck(bytes({0xFF, 0x02, 0x55})));
    ASSERT_EQ(r255.size(), 2);
    EXPECT_NE(quint8(r255[0]), 0xFF);
}

TEST(SimLineFaults, GarbageKeepsTheLengthButNeverTheAddress) {
    Line line({1});
    Faults f;
    f.garbage = true;
    f.delayMs = 250;
    line.setFaults(f);
    EXPECT_EQ(line.faults().delayMs, 250);
    for (int i = 0; i < 50; ++i) {
        const QByteArray r = send9(line, bytes({0x01, 0x02, 0x55, 0x56}));
        ASSERT_EQ(r.size(), 2);
        EXPECT_NE(quint8(r[0]), 0x01);
    }
    EXPECT_EQ(send9(line, bytes({0x01, 0x03, 0x10, 0x12, 0x00})).size(), 131);
}

// ---------------------------------------------------------------------------------------
// Trace, change notice, state

TEST(SimLineState, TraceHasHexLines) {
    Line line({1});
    EXPECT_TRUE(send9(line, bytes({0x01, 0x02, 0x55, 0x56})).size() == 2);
    EXPECT_TRUE(line.takeTrace().isEmpty()); // off by default
    line.setTrace(true);
    send9(line, bytes({0x01, 0x02, 0x55, 0x56}));
    send9(line, bytes({0x01, 0x02, 0x55, 0x57}));
    const QStringList trace = line.takeTrace();
    ASSERT_GE(trace.size(), 4);
    EXPECT_EQ(trace[0], QStringLiteral("rx 01 02 55 56"));
    EXPECT_EQ(trace[1], QStringLiteral("tx 01 55"));
    EXPECT_EQ(trace[2], QStringLiteral("rx 01 02 55 57"));
    EXPECT_TRUE(trace[3].contains(QStringLiteral("check")));
    EXPECT_TRUE(line.takeTrace().isEmpty());
}

TEST(SimLineState, TraceSaysWhyRawBytesWereIgnored) {
    // As the bell link sends them: the address byte, then the rest.
    const struct {
        QByteArray request;
        const char* rx;
        const char* reason;
    } cases[] = {
        {bytes({0x07, 0x02, 0x55, 0x50}), "rx 07 02 55 50", "address not on this line"},
        {bytes({0x01, 0x02, 0x55, 0x57}), "rx 01 02 55 57", "bad check byte"},
        {bytes({0x01, 0x77, 0x77, 0x77}), "rx 01 77 77", "unknown code"},
    };
    for (const auto& c : cases) {
        Line line({1, 2});
        line.setTrace(true);
        EXPECT_TRUE(line.receiveRaw(c.request.left(1)).isEmpty());
        EXPECT_TRUE(line.receiveRaw(c.request.mid(1)).isEmpty());
        EXPECT_EQ(line.takeTrace(),
                  (QStringList{QString::fromLatin1(c.rx),
                               QStringLiteral("-- ignored: ") + QString::fromLatin1(c.reason)}));
        EXPECT_EQ(line.receiveRaw(bytes({0x02, 0x02, 0x55, 0x55})), bytes({0x02, 0x55})) << c.rx;
    }
}

TEST(SimLineState, ChangeHandlerAndJson) {
    Line line({1, 5});
    int changes = 0;
    line.setChangeHandler([&] { ++changes; });
    send9(line, bytes({0x01, 0x02, 0x55, 0x56})); // a test changes nothing
    EXPECT_EQ(changes, 0);
    line.terminal(5)->nameList = QStringList{QStringLiteral("00000001")};
    line.terminal(5)->makeRecords(25);
    send9(line, bytes({0x05, 0x0A, 0x01, 0x0E}));
    send9(line, bytes({0x01, 0x04, 0x3E, 0x07, 0x3C, 0x00}));
    EXPECT_EQ(changes, 2);
    const QByteArray json = line.stateJson();
    EXPECT_TRUE(json.contains("\"terminals\""));
    EXPECT_TRUE(json.contains("\"nameListSize\": 1"));
    EXPECT_TRUE(json.contains("\"records\": 0"));
    EXPECT_TRUE(json.contains("\"bellCount\": 7"));
}

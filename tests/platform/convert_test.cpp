// Conversions that must behave as the host platform's do.

#include "platform/convert.h"
#include "platform/error.h"
#include "platform/vbdate.h"

#include <QDateTime>
#include <QVariant>
#include <gtest/gtest.h>

using namespace bw;

namespace {

// The error number a call raises, or 0 when it raises none.
template <class F> int errorOf(F&& f) {
    try {
        f();
    } catch (const Error& e) {
        return e.number();
    }
    return 0;
}

} // namespace

TEST(CInt, ReadsDecimalTextWithBlanksAround) {
    EXPECT_EQ(CInt(u"5"_qs), 5);
    EXPECT_EQ(CInt(u"  12  "_qs), 12);
    EXPECT_EQ(CInt(u"\t7"_qs), 7);
    EXPECT_EQ(CInt(u"-3"_qs), -3);
    EXPECT_EQ(CInt(u"+4"_qs), 4);
    EXPECT_EQ(CInt(u"007"_qs), 7);
    EXPECT_EQ(CInt(u"1e2"_qs), 100);
}

TEST(CInt, RoundsHalfToEven) {
    EXPECT_EQ(CInt(u"2.5"_qs), 2);
    EXPECT_EQ(CInt(u"3.5"_qs), 4);
    EXPECT_EQ(CInt(u"0.5"_qs), 0);
    EXPECT_EQ(CInt(u"1.5"_qs), 2);
    EXPECT_EQ(CInt(u"-2.5"_qs), -2);
    EXPECT_EQ(CInt(u"2.51"_qs), 3);
    EXPECT_EQ(CInt(u"2.49"_qs), 2);
}

TEST(CInt, RangeLimitsAndOverflow) {
    EXPECT_EQ(CInt(u"-32768"_qs), -32768);
    EXPECT_EQ(CInt(u"32767"_qs), 32767);
    EXPECT_EQ(CInt(u"32767.4"_qs), 32767);
    EXPECT_EQ(errorOf([] { CInt(u"32768"_qs); }), err::Overflow);
    EXPECT_EQ(errorOf([] { CInt(u"-32769"_qs); }), err::Overflow);
    EXPECT_EQ(errorOf([] { CInt(u"32767.5"_qs); }), err::Overflow);
    EXPECT_EQ(errorOf([] { CInt(u"1e10"_qs); }), err::Overflow);
    try {
        CInt(u"32768"_qs);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.description(), u"Overflow"_qs);
        EXPECT_EQ(e.boxText(), u"6:Overflow"_qs);
    }
}

TEST(CInt, NotANumberIsATypeMismatch) {
    for (const QString& s : {u"abc"_qs, u""_qs, u"   "_qs, u"1 2"_qs, u"12abc"_qs, u"."_qs, u"-"_qs,
                             u"1e"_qs, u"１２"_qs}) {
        EXPECT_EQ(errorOf([&] { CInt(s); }), err::TypeMismatch) << s.toStdString();
    }
    try {
        CInt(u"abc"_qs);
        FAIL();
    } catch (const Error& e) {
        EXPECT_EQ(e.description(), u"Type mismatch"_qs);
    }
}

TEST(CInt, HexAndOctalText) {
    EXPECT_EQ(CInt(u"&H10"_qs), 16);
    EXPECT_EQ(CInt(u"&HFFFF"_qs), -1);
    EXPECT_EQ(CInt(u"&O17"_qs), 15);
}

TEST(CInt, Variants) {
    EXPECT_EQ(CInt(QVariant(7)), 7);
    EXPECT_EQ(CInt(QVariant(2.5)), 2);
    EXPECT_EQ(CInt(QVariant(u" 9 "_qs)), 9);
    EXPECT_EQ(CInt(QVariant(true)), -1);
    EXPECT_EQ(errorOf([] { CInt(QVariant(40000)); }), err::Overflow);
    EXPECT_EQ(errorOf([] { CInt(QVariant(u"x"_qs)); }), err::TypeMismatch);
}

TEST(CTime, HourAndMinute) {
    const VbDate t = CTime(u"7:5"_qs);
    EXPECT_EQ(timePart(t), QTime(7, 5));
    EXPECT_DOUBLE_EQ(t, vbTime(7, 5, 0));
    EXPECT_LT(t, 1.0);
    EXPECT_EQ(timePart(CTime(u"0:0"_qs)), QTime(0, 0));
    EXPECT_EQ(timePart(CTime(u"23:59"_qs)), QTime(23, 59));
    EXPECT_EQ(timePart(CTime(u" 12:30:15 "_qs)), QTime(12, 30, 15));
    EXPECT_EQ(timePart(CTime(u"07:05"_qs)), QTime(7, 5));
}

TEST(CTime, OutOfRangeOrNotATimeIsATypeMismatch) {
    for (const QString& s : {u"24:00"_qs, u"0:60"_qs, u"a:1"_qs, u"1:a"_qs, u""_qs, u":"_qs,
                             u"12"_qs, u"1:2:3:4"_qs, u"1:2:60"_qs, u"-1:0"_qs}) {
        EXPECT_EQ(errorOf([&] { CTime(s); }), err::TypeMismatch) << s.toStdString();
    }
}

TEST(Val, LeadingNumberOfAText) {
    EXPECT_DOUBLE_EQ(Val(u" 12abc"_qs), 12.0);
    EXPECT_DOUBLE_EQ(Val(u"abc"_qs), 0.0);
    EXPECT_DOUBLE_EQ(Val(u""_qs), 0.0);
    EXPECT_DOUBLE_EQ(Val(u"1 2"_qs), 12.0);
    EXPECT_DOUBLE_EQ(Val(u"12.5"_qs), 12.5);
    EXPECT_DOUBLE_EQ(Val(u"-7x"_qs), -7.0);
    EXPECT_DOUBLE_EQ(Val(u"5."_qs), 5.0);
    EXPECT_DOUBLE_EQ(Val(u"1.2.3"_qs), 1.2);
    EXPECT_DOUBLE_EQ(Val(u"COM3"_qs), 0.0);
}

TEST(CStr, ShortestDecimalText) {
    EXPECT_EQ(CStr(5.0), u"5"_qs);
    EXPECT_EQ(CStr(12.5), u"12.5"_qs);
    EXPECT_EQ(CStr(-0.25), u"-0.25"_qs);
    EXPECT_EQ(CStr(0.0), u"0"_qs);
    EXPECT_EQ(CStr(255.0), u"255"_qs);
    EXPECT_EQ(CStr(0.1), u"0.1"_qs);
    EXPECT_EQ(CStr(100000.0), u"100000"_qs);
}

TEST(CStr, Variants) {
    EXPECT_EQ(CStr(QVariant(u"abc"_qs)), u"abc"_qs);
    EXPECT_EQ(CStr(QVariant(5)), u"5"_qs);
    EXPECT_EQ(CStr(QVariant(12.5)), u"12.5"_qs);
    EXPECT_EQ(CStr(QVariant(true)), u"True"_qs);
    EXPECT_EQ(CStr(QVariant()), QString());
    EXPECT_EQ(errorOf([] { CStr(QVariant::fromValue(nullptr)); }), err::InvalidUseOfNull);
    // A value without a text of its own is no caller value.
    for (const QVariant& v :
         {QVariant(QVariantList{1}), QVariant(QVariantMap{{"a", 1}}), QVariant(QStringList{"a"})})
        EXPECT_EQ(errorOf([&] { CStr(v); }), err::TypeMismatch) << v.typeName();
    EXPECT_EQ(NumberValue(5.0), QVariant(qlonglong(5)));
    EXPECT_EQ(NumberValue(12.5), QVariant(12.5));
    EXPECT_EQ(TextOf(QVariant()), QString());
    EXPECT_EQ(TextOf(QVariant(7)), u"7"_qs);
}

TEST(TextHelpers, TrimAndMid) {
    EXPECT_EQ(Trim(u"  a b  "_qs), u"a b"_qs);
    EXPECT_EQ(Trim(u"\ta\t"_qs), u"\ta\t"_qs);
    EXPECT_EQ(Mid(u"COM3"_qs, 4), u"3"_qs);
    EXPECT_EQ(Mid(u"COM12"_qs, 4), u"12"_qs);
    EXPECT_EQ(Mid(u"CO"_qs, 4), QString());
    EXPECT_EQ(Mid(u"abcdef"_qs, 2, 3), u"bcd"_qs);
    EXPECT_EQ(errorOf([] { Mid(u"abc"_qs, 0); }), err::InvalidProcedureCall);
    // A driver's message of several lines comes out on one.
    EXPECT_EQ(singleLine(u"could not connect\n\tIs the server running?\r\n\n"_qs),
              u"could not connect Is the server running?"_qs);
}

TEST(RoundHalfEven, Values) {
    EXPECT_EQ(RoundHalfEven(2.5), 2.0);
    EXPECT_EQ(RoundHalfEven(3.5), 4.0);
    EXPECT_EQ(RoundHalfEven(-3.5), -4.0);
    EXPECT_EQ(RoundHalfEven(2.4), 2.0);
}

TEST(VbDate, RoundTrip) {
    const QDateTime when(QDate(2024, 3, 15), QTime(13, 45, 30));
    const VbDate v = toVbDate(when);
    EXPECT_EQ(fromVbDate(v), when);
    EXPECT_DOUBLE_EQ(toVbDate(QDateTime(zeroDate(), QTime(0, 0))), 0.0);
    EXPECT_DOUBLE_EQ(toVbDate(QDateTime(QDate(1900, 1, 1), QTime(12, 0))), 2.5);
    EXPECT_EQ(fromVbDate(2.25), QDateTime(QDate(1900, 1, 1), QTime(6, 0)));
    EXPECT_EQ(fromVbDate(vbTime(7, 5, 0)), QDateTime(zeroDate(), QTime(7, 5)));
    for (int minute = 0; minute < 24 * 60; minute += 7) {
        const QTime t(minute / 60, minute % 60);
        EXPECT_EQ(timePart(vbTime(t.hour(), t.minute(), 0)), t);
    }
}

TEST(ConvertRange, NumbersBeyondADoubleOverflowAndTinyOnesReadAsZero) {
    try {
        bw::CDbl(QStringLiteral("1e400"));
        FAIL() << "no error";
    } catch (const bw::Error& e) {
        EXPECT_EQ(e.number(), 6);
    }
    try {
        bw::CInt(QStringLiteral("-1E+400"));
        FAIL() << "no error";
    } catch (const bw::Error& e) {
        EXPECT_EQ(e.number(), 6);
    }
    EXPECT_EQ(bw::CDbl(QStringLiteral("1E-332768")), 0.0);
    EXPECT_EQ(bw::CInt(QStringLiteral("1E-332768")), 0);
}

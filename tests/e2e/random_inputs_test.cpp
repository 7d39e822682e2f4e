// Randomized inputs, fixed seed (printed): random and truncated replies to every reply
// decoder of the bell link, the simulator's request finders and the connect link's
// acknowledgement check; random texts to every conversion and to the connection choice.
// Nothing may crash or hang, and every result must be one of the documented ones, checked
// against an independent reading of the same rules.

#include "bell/bell_frame.h"
#include "connect/connection_choice.h"
#include "host/link/terminal_protocol.h"
#include "platform/convert.h"
#include "platform/error.h"
#include "sim/line.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace {

constexpr quint32 kSeed = 64290521;
constexpr int kIterations = 20000;

QRandomGenerator rng() {
    std::printf("random seed %u\n", kSeed);
    return QRandomGenerator(kSeed);
}

QByteArray randomBytes(QRandomGenerator& r, int maxLength) {
    QByteArray b(int(r.bounded(maxLength + 1)), '\0');
    for (auto& c : b)
        c = char(r.bounded(256));
    return b;
}

// ---- reply decoders ----

TEST(RandomReplies, BellLinkReplyDecoders) {
    QRandomGenerator r = rng();
    for (int i = 0; i < kIterations; ++i) {
        // Mostly around the lengths that matter (2, 5, 127, 131), sometimes anything.
        QByteArray reply = randomBytes(r, r.bounded(4) == 0 ? 300 : 140);
        if (r.bounded(3) == 0)
            reply.truncate(int(r.bounded(reply.size() + 1)));
        const int address = int(r.bounded(257)) - 1;
        const int count = int(r.bounded(33)) - 1;
        SCOPED_TRACE(reply.toHex().toStdString());

        const auto text = bw::bell::frame::decodeBellSettings(reply);
        if (reply.size() < 127) {
            EXPECT_FALSE(text.has_value());
        } else {
            ASSERT_TRUE(text.has_value());
            ASSERT_EQ(text->size(), 122);
            EXPECT_EQ(text->left(2),
                      QStringLiteral("%1").arg(quint8(reply[126]) % 100, 2, 10, QLatin1Char('0')));
            for (int k = 0; k < 60; ++k)
                EXPECT_EQ(text->mid(2 + 2 * k, 2),
                          QStringLiteral("%1")
                              .arg(quint8(reply[66 + k]), 2, 16, QLatin1Char('0'))
                              .toUpper());
        }
        const bool addressed = !reply.isEmpty() && quint8(reply[0]) == address;
        EXPECT_EQ(bw::bell::frame::setCountReplyOk(reply, address, count),
                  reply.size() >= 4 && addressed && quint8(reply[3]) == count);
        EXPECT_EQ(bw::bell::frame::testReplyOk(reply, address),
                  reply.size() >= 2 && addressed && quint8(reply[1]) == 0x55);
        EXPECT_EQ(bw::bell::frame::dateTimeReplyOk(reply, address),
                  reply.size() >= 2 && addressed && quint8(reply[1]) == 0x81);
        if (HasFailure())
            return;
    }
}

TEST(RandomReplies, ConnectLinkAcknowledgement) {
    QRandomGenerator r = rng();
    for (int i = 0; i < kIterations; ++i) {
        const QByteArray request = randomBytes(r, 26);
        QByteArray reply = randomBytes(r, 8);
        if (r.bounded(2) == 0 && request.size() >= 3) // often the right code pair
            reply = request.left(3) + reply;
        const bool expected = request.size() >= 3 && reply.size() >= 4 &&
                              reply.left(3) == request.left(3) && quint8(reply[3]) == 0x06;
        ASSERT_EQ(bw::host::protocol::isAck(reply, request), expected)
            << reply.toHex().toStdString() << " / " << request.toHex().toStdString();
    }
}

// Requests a terminal understands, whole, for the addresses 1 to 3.
QByteArray validRequest(QRandomGenerator& r) {
    const quint8 a = quint8(1 + r.bounded(3));
    QByteArray f(1, char(a));
    switch (r.bounded(6)) {
    case 0:
        f += QByteArray::fromHex("0310");
        break;
    case 1:
        f += QByteArray::fromHex("043E");
        f += char(r.bounded(31));
        break;
    case 2:
        f += QByteArray::fromHex("0255");
        break;
    case 3:
        f += QByteArray::fromHex("0815110203040506");
        break;
    case 4:
        f += QByteArray::fromHex("0A01");
        break;
    default:
        f += QByteArray::fromHex("0A02");
        break;
    }
    quint8 x = 0;
    for (char c : f)
        x ^= quint8(c);
    f += char(x);
    if (quint8(f[1]) == 0x03 || quint8(f[1]) == 0x04)
        f += '\0';
    return f;
}

// After any input, a clean test request to terminal 2 gets exactly its reply.
void expectLineStillAnswers(bw::sim::Line& line, int channel) {
    line.resetChannel(channel);
    EXPECT_EQ(line.receiveRaw(QByteArray::fromHex("02025555"), channel).toHex(),
              QByteArray("0255"));
    line.receive9(0x102);
    line.receive9(0x02);
    line.receive9(0x55);
    EXPECT_EQ(line.receive9(0x55).toHex(), QByteArray("0255"));
}

TEST(RandomReplies, SimulatorRequestFinders) {
    QRandomGenerator r = rng();
    bw::sim::Line line({1, 2, 3});
    for (int i = 0; i < kIterations / 4; ++i) {
        const int channel = int(r.bounded(3));
        // Random bytes with whole and truncated requests mixed in.
        QByteArray input = randomBytes(r, 40);
        const QByteArray request = validRequest(r);
        const int cut = int(r.bounded(request.size() + 1));
        input += request.left(cut);
        if (r.bounded(2) == 0)
            input += randomBytes(r, 8);
        const QByteArray out = line.receiveRaw(input, channel);
        // Whatever came out is made of whole replies of 2, 4, 5 or 131 bytes.
        const int n = int(out.size());
        bool fits = false;
        for (int reads = 0; reads * 131 <= n && !fits; ++reads)
            for (int fives = 0; reads * 131 + fives * 5 <= n && !fits; ++fives)
                fits = (n - reads * 131 - fives * 5) % 2 == 0;
        EXPECT_TRUE(fits) << out.toHex().toStdString();
        // A truncated request completes once its remainder arrives (the junk after it is
        // dropped first).
        if (cut < request.size() && cut > 0 && input.endsWith(request.left(cut))) {
            const QByteArray tail = line.receiveRaw(request.mid(cut), channel);
            EXPECT_FALSE(tail.isEmpty()) << request.toHex().toStdString();
        }
        // Nine-bit characters at random.
        for (int k = 0; k < 12; ++k)
            line.receive9(quint16(r.bounded(512)));
        if (i % 50 == 0) {
            expectLineStillAnswers(line, channel);
            if (HasFailure())
                return;
        }
    }
    expectLineStillAnswers(line, 0);
}

// ---- conversions ----

const char* const kPieces[] = {" ",
                               "\t",
                               "\r\n",
                               "+",
                               "-",
                               ".",
                               "e",
                               "E",
                               "d",
                               "D",
                               "&H",
                               "&O",
                               "0",
                               "1",
                               "5",
                               "9",
                               "12",
                               "0.5",
                               "1.5",
                               "2.5",
                               "-2.5",
                               "32767",
                               "32768",
                               "-32768",
                               "-32769",
                               "65535",
                               "1e400",
                               "1E-3",
                               "FF",
                               "x",
                               "abc",
                               "中",
                               ":",
                               "::",
                               "COM",
                               "23",
                               "59",
                               "60",
                               "24",
                               "00",
                               "99999999999999999999",
                               "١",
                               "NaN",
                               "inf"};

QString randomText(QRandomGenerator& r) {
    QString s;
    const int n = int(r.bounded(7));
    for (int i = 0; i < n; ++i)
        s += QString::fromUtf8(kPieces[r.bounded(int(std::size(kPieces)))]);
    return s;
}

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

QString trimBlanks(const QString& s) {
    int b = 0, e = int(s.size());
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

enum class NumberKind { NotANumber, Finite, OutOfDoubleRange, Radix };

// The decimal reading of a whole text: optional sign, digits with at most one point, an
// optional exponent (e, E, d or D) with at least one digit; blanks around it.
NumberKind readNumber(const QString& text, double* value) {
    const QString s = trimBlanks(text);
    if (s.startsWith(u'&'))
        return NumberKind::Radix;
    static const QRegularExpression form(
        QStringLiteral("^[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eEdD][+-]?[0-9]+)?$"));
    if (!form.match(s).hasMatch())
        return NumberKind::NotANumber;
    QString normal = s;
    normal.replace(u'd', u'e').replace(u'D', u'e');
    errno = 0;
    const double v = std::strtod(normal.toLatin1().constData(), nullptr);
    if (!std::isfinite(v) || errno == ERANGE)
        return NumberKind::OutOfDoubleRange;
    *value = v;
    return NumberKind::Finite;
}

template <class F> std::optional<int> errorOf(F&& f) {
    try {
        f();
    } catch (const bw::Error& e) {
        return e.number();
    }
    return std::nullopt;
}

TEST(RandomTexts, CIntAndCDbl) {
    QRandomGenerator r = rng();
    for (int i = 0; i < kIterations; ++i) {
        const QString text = randomText(r);
        SCOPED_TRACE(text.toStdString());
        double v = 0;
        const NumberKind kind = readNumber(text, &v);

        short i16 = 0;
        const auto cintError = errorOf([&] { i16 = bw::CInt(text); });
        double d = 0;
        const auto cdblError = errorOf([&] { d = bw::CDbl(text); });
        // Only the two documented errors, ever.
        if (cintError) {
            ASSERT_TRUE(*cintError == 13 || *cintError == 6) << *cintError;
        }
        if (cdblError) {
            ASSERT_TRUE(*cdblError == 13 || *cdblError == 6) << *cdblError;
        }

        switch (kind) {
        case NumberKind::NotANumber:
            ASSERT_EQ(cdblError, 13);
            ASSERT_EQ(cintError, 13);
            break;
        case NumberKind::Finite: {
            ASSERT_FALSE(cdblError);
            ASSERT_EQ(d, v);
            const double rounded = std::nearbyint(v);
            if (rounded < -32768.0 || rounded > 32767.0) {
                ASSERT_EQ(cintError, 6);
            } else {
                ASSERT_FALSE(cintError);
                ASSERT_EQ(i16, short(rounded));
            }
            break;
        }
        case NumberKind::OutOfDoubleRange:
            // Too large even for a double: an overflow; too small: (nearly) zero.
            if (cdblError) {
                ASSERT_EQ(*cdblError, 6);
                ASSERT_EQ(cintError, 6);
            } else {
                ASSERT_LE(std::fabs(d), 1.0);
                ASSERT_FALSE(cintError);
            }
            break;
        case NumberKind::Radix:
            // &H / &O: a 16-bit value or a refusal.
            if (!cdblError) {
                ASSERT_EQ(d, std::trunc(d));
            }
            break;
        }
    }
}

TEST(RandomTexts, ValReadsTheLeadingNumberAndNeverFails) {
    QRandomGenerator r = rng();
    for (int i = 0; i < kIterations; ++i) {
        const QString text = randomText(r);
        SCOPED_TRACE(text.toStdString());
        double v = 0;
        ASSERT_NO_THROW(v = bw::Val(text));
        ASSERT_TRUE(std::isfinite(v));
        // A whole number text without inner blanks reads as CDbl reads it.
        double whole = 0;
        bool innerBlank = false;
        for (QChar c : trimBlanks(text))
            innerBlank = innerBlank || isBlank(c);
        if (!innerBlank && readNumber(text, &whole) == NumberKind::Finite) {
            ASSERT_EQ(v, whole);
        }
        // No leading digit, sign or point: nothing to read.
        const QString t = trimBlanks(text);
        if (t.isEmpty() || !(t[0].isDigit() || t[0] == u'+' || t[0] == u'-' || t[0] == u'.')) {
            ASSERT_EQ(v, 0.0);
        }
    }
}

TEST(RandomTexts, CTime) {
    QRandomGenerator r = rng();
    static const QRegularExpression form(
        QStringLiteral("^([0-9]{1,2}):([0-9]{1,2})(?::([0-9]{1,2}))?$"));
    for (int i = 0; i < kIterations; ++i) {
        const QString text = randomText(r);
        SCOPED_TRACE(text.toStdString());
        bw::VbDate t{};
        const auto error = errorOf([&] { t = bw::CTime(text); });
        const auto m = form.match(trimBlanks(text));
        const int h = m.hasMatch() ? m.captured(1).toInt() : 99;
        const int mi = m.hasMatch() ? m.captured(2).toInt() : 99;
        const int s = m.hasMatch() && m.lastCapturedIndex() >= 3 ? m.captured(3).toInt() : 0;
        if (h > 23 || mi > 59 || s > 59) {
            ASSERT_EQ(error, 13);
        } else {
            ASSERT_FALSE(error);
            const double expected = (h * 3600 + mi * 60 + s) / 86400.0;
            ASSERT_NEAR(double(t), expected, 1e-9);
        }
    }
}

TEST(RandomTexts, CStrOfAnyNumberReadsBack) {
    QRandomGenerator r = rng();
    for (int i = 0; i < kIterations; ++i) {
        double x = 0;
        switch (r.bounded(3)) {
        case 0: { // any finite bit pattern
            quint64 bits = r.generate64();
            std::memcpy(&x, &bits, sizeof x);
            if (!std::isfinite(x))
                continue;
            break;
        }
        case 1:
            x = double(qint64(r.generate64() >> r.bounded(64))) * (r.bounded(2) ? 1 : -1);
            break;
        default:
            x = r.generateDouble() * std::pow(10.0, int(r.bounded(40)) - 20);
            break;
        }
        const QString s = bw::CStr(x);
        SCOPED_TRACE(s.toStdString());
        ASSERT_FALSE(s.contains(u'e')); // the platform writes E+nn / E-nn
        double back = 0;
        ASSERT_NO_THROW(back = bw::CDbl(s));
        if (x == 0)
            ASSERT_EQ(back, 0.0);
        else
            ASSERT_LE(std::fabs(back - x), std::fabs(x) * 1e-14);
    }
}

TEST(RandomTexts, ConnectionChoice) {
    QRandomGenerator r = rng();
    for (int i = 0; i < kIterations; ++i) {
        QString text = randomText(r);
        if (r.bounded(2) == 0)
            text = QStringLiteral("COM") + text;
        SCOPED_TRACE(text.toStdString());
        bw::connect::ConnectionChoice c;
        const auto error = errorOf([&] { c = bw::connect::chooseConnection(text); });
        if (text.size() >= 7) {
            ASSERT_FALSE(error);
            EXPECT_TRUE(c.tcp);
            EXPECT_EQ(c.mode, 1);
            EXPECT_EQ(c.ip, text);
            EXPECT_EQ(c.tcpPort, 1001);
            EXPECT_EQ(c.port, 0);
            continue;
        }
        const QString number = text.mid(3);
        short expected = 0;
        const auto cintError = errorOf([&] { expected = bw::CInt(number); });
        ASSERT_EQ(error, cintError);
        if (!error) {
            EXPECT_FALSE(c.tcp);
            EXPECT_EQ(c.mode, 0);
            EXPECT_EQ(c.port, expected);
        }
    }
}

} // namespace

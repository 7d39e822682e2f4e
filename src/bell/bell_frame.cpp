#include "bell/bell_frame.h"

namespace bw::bell::frame {

int requestDataLength(quint8 commandCode) {
    switch (commandCode) {
    case 0x02: // test
        return 3;
    case 0x03: // read the bell settings
        return 4;
    case 0x04: // set the bell count
        return 5;
    case 0x08: // date and time
        return 9;
    default:
        return 0;
    }
}

quint8 checkByte(quint8 address, const QByteArray& data) {
    quint8 x = address;
    for (char b : data)
        x ^= static_cast<quint8>(b);
    return x;
}

quint8 toBcd(int value) {
    return static_cast<quint8>((value / 10) * 16 + value % 10);
}

int fromBcd(quint8 byte) {
    const int high = byte >> 4;
    const int low = byte & 0x0F;
    return high > 9 || low > 9 ? -1 : high * 10 + low;
}

namespace {

QByteArray withCheck(quint8 address, QByteArray data) {
    data.append(static_cast<char>(checkByte(address, data)));
    return data;
}

} // namespace

QByteArray readRequest(quint8 address) {
    return withCheck(address, QByteArray("\x03\x10", 2)).append('\0');
}

QByteArray setCountRequest(quint8 address, quint8 count) {
    QByteArray d("\x04\x3E", 2);
    d.append(static_cast<char>(count));
    return withCheck(address, d).append('\0');
}

QByteArray testRequest(quint8 address) {
    return withCheck(address, QByteArray("\x02\x55", 2));
}

QByteArray dateTimeRequest(quint8 address, const QDateTime& when) {
    const QDate d = when.date();
    const QTime t = when.time();
    QByteArray data("\x08\x15", 2);
    for (int v : {d.year() % 100, d.month(), d.day(), t.hour(), t.minute(), t.second()})
        data.append(static_cast<char>(toBcd(v)));
    return withCheck(address, data);
}

std::optional<QString> decodeBellSettings(const QByteArray& reply) {
    if (reply.size() < 127)
        return std::nullopt;
    const int count = static_cast<quint8>(reply.at(126));
    QString text = (QStringLiteral("00") + QString::number(count)).right(2);
    for (int i = 66; i <= 125; ++i)
        text += QString::number(static_cast<quint8>(reply.at(i)), 16)
                    .toUpper()
                    .rightJustified(2, QLatin1Char('0'));
    return text;
}

bool setCountReplyOk(const QByteArray& reply, int address, int count) {
    return reply.size() >= 4 && static_cast<quint8>(reply.at(0)) == address &&
           static_cast<quint8>(reply.at(3)) == count;
}

bool testReplyOk(const QByteArray& reply, int address) {
    return reply.size() >= 2 && static_cast<quint8>(reply.at(0)) == address &&
           static_cast<quint8>(reply.at(1)) == 0x55;
}

bool dateTimeReplyOk(const QByteArray& reply, int address) {
    return reply.size() >= 2 && static_cast<quint8>(reply.at(0)) == address &&
           static_cast<quint8>(reply.at(1)) == 0x81;
}

} // namespace bw::bell::frame

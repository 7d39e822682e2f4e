#pragma once

#include "bell/ninth_bit.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

// Requests and replies of the bell link, as pure functions.
namespace bw::bell::frame {

// Line settings of the two parts of a request (see bell/ninth_bit.h).
using ninth::AddressSetting;
using ninth::DataSetting;

// Reply lengths awaited.
constexpr int ReadReplyLength = 131;
constexpr int SetCountReplyLength = 5;
constexpr int TestReplyLength = 2;
constexpr int DateTimeReplyLength = 2;

// Data bytes that follow the address byte in a request with this command code (the first
// data byte); 0 for a code the bell link does not send.
int requestDataLength(quint8 commandCode);

// Exclusive OR of the address and every given data byte.
quint8 checkByte(quint8 address, const QByteArray& data);
// Two BCD digits of 0..99: (v div 10) * 16 + v mod 10.
quint8 toBcd(int value);
// The value 0..99 of two BCD digits; -1 when a digit is above 9.
int fromBcd(quint8 byte);

// Data bytes (everything after the address byte) of each request.
QByteArray readRequest(quint8 address);                            // 03 10 chk 00
QByteArray setCountRequest(quint8 address, quint8 count);          // 04 3E n chk 00
QByteArray testRequest(quint8 address);                            // 02 55 chk
QByteArray dateTimeRequest(quint8 address, const QDateTime& when); // 08 15 yy MM dd hh mm ss chk

// The 122-character bell settings text of a read reply: the count (byte 126) as two decimal
// digits, then bytes 66..125 as two upper-case hexadecimal digits each. nullopt when the
// reply is too short to hold them.
std::optional<QString> decodeBellSettings(const QByteArray& reply);
// Reply checks: byte 0 the address, and byte 3 the count / byte 1 0x55 / byte 1 0x81.
bool setCountReplyOk(const QByteArray& reply, int address, int count);
bool testReplyOk(const QByteArray& reply, int address);
bool dateTimeReplyOk(const QByteArray& reply, int address);

} // namespace bw::bell::frame

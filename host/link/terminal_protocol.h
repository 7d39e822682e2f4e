#pragma once

// Requests of the connect link to a model-6429 terminal (see docs/terminal-protocol.md).
// A request is the terminal's address byte (sent with the ninth bit set on a serial line),
// a command code, a second code byte, the parameters and a check byte, the exclusive OR of
// every byte before it, the address included. The terminal answers with four bytes:
// its address, the request's code pair and Ack or Nak.

#include <QByteArray>
#include <QTime>
#include <array>

namespace bw::host::protocol {

constexpr quint8 ClearCode = 0x0A;    // clear something stored on the terminal
constexpr quint8 ClearRecords = 0x01; // second code byte: the meal records
constexpr quint8 ClearNames = 0x02;   // second code byte: the name list
constexpr quint8 SetClockCode = 0x09; // second code byte: the bell group 1..3
constexpr quint8 Ack = 0x06;
constexpr quint8 Nak = 0x15;
constexpr int ReplyLength = 4;
constexpr int TimeoutMs = 3000; // connection and reply time-out

// Exclusive OR of every byte.
quint8 checkByte(const QByteArray& bytes);

// The whole request frame: address byte first, check byte last.
QByteArray frame(quint8 address, quint8 code, quint8 second, const QByteArray& params = {});
QByteArray clearRecordRequest(quint8 address);
QByteArray clearNameListRequest(quint8 address);
// Ten bell times, each as hour and minute in two BCD digits.
QByteArray setClockRequest(quint8 address, quint8 group, const std::array<QTime, 10>& times);

// True when the reply is the terminal's acknowledgement of the request.
bool isAck(const QByteArray& reply, const QByteArray& request);

} // namespace bw::host::protocol

#pragma once

// Requests of the connect link to a model-6429 terminal (see docs/terminal-protocol.md).
// A request is the terminal's address byte (sent with the ninth bit set on a serial line),
// a command code, a second code byte, the parameters and a check byte, the exclusive OR of
// every byte before it, the address included. The terminal answers with four bytes:
// its address, the request's code pair and Ack or Nak.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <QVector>
#include <array>

namespace bw::host::protocol {

constexpr quint8 ClearCode = 0x0A;     // clear something stored on the terminal
constexpr quint8 ClearRecords = 0x01;  // second code byte: the meal records
constexpr quint8 ClearNames = 0x02;    // second code byte: the name list
constexpr quint8 SetClockCode = 0x09;  // second code byte: the bell group 1..3
constexpr quint8 RecordCode = 0x0B;    // meal records
constexpr quint8 RecordsStatus = 0x01; // second code byte: count, first and last number
constexpr quint8 RecordsRead = 0x02;   // second code byte: a block of records
constexpr quint8 RecordsDelete = 0x03; // second code byte: delete up to a record number
constexpr quint8 Ack = 0x06;
constexpr quint8 Nak = 0x15;
constexpr int ReplyLength = 4;
constexpr int TimeoutMs = 3000; // connection and reply time-out
constexpr int StatusReplyLength = 17;
constexpr int RecordBytes = 15; // one record in a block reply
constexpr int MaxBlock = 255;   // records one block request may ask for
constexpr int BlockRetries = 3; // a bad block is asked for again this often, then it fails
// The most records a status may claim: no terminal holds more. A status claiming more, or
// more than its first and last numbers leave room for, is a corrupted one.
constexpr quint32 MaxRecordCount = 1000000;
constexpr double CharacterMs = 11.0 * 1000.0 / 19200.0; // one character on the serial line

// What the record-status request answers. Numbers are 0 when no record is stored.
struct RecordStatus {
    quint32 count = 0;
    quint32 first = 0; // the lowest stored record number
    quint32 last = 0;  // the highest stored record number
};

enum class MealFlag { Meal = 0, In = 1, Out = 2 };

// One meal record as the terminal sends it.
struct MealRecord {
    quint32 number = 0; // the terminal's record number; a terminal never gives one twice
    QString card;       // eight decimal digits
    QDateTime time;     // the terminal's wall-clock time, held as UTC: never converted
    int flag = 0;       // MealFlag
    // The record's 15 bytes as they came when they cannot be read (a field that is not BCD,
    // an impossible date or time, a flag above 2, number 0); empty for a readable record.
    QByteArray raw;
    bool readable() const { return raw.isEmpty(); }
};

// Exclusive OR of every byte.
quint8 checkByte(const QByteArray& bytes);

// The whole request frame: address byte first, check byte last.
QByteArray frame(quint8 address, quint8 code, quint8 second, const QByteArray& params = {});
QByteArray clearRecordRequest(quint8 address);
QByteArray clearNameListRequest(quint8 address);
// Ten bell times, each as hour and minute in two BCD digits.
QByteArray setClockRequest(quint8 address, quint8 group, const std::array<QTime, 10>& times);

QByteArray recordStatusRequest(quint8 address);
// Up to `count` (1..255) records numbered `from` or higher, oldest first.
QByteArray readRecordsRequest(quint8 address, quint32 from, int count);
// Deletes the records numbered up to and including upTo.
QByteArray deleteRecordsRequest(quint8 address, quint32 upTo);

// True when the reply is the terminal's acknowledgement of the request.
bool isAck(const QByteArray& reply, const QByteArray& request);

// The whole length of the reply to request, told from its first bytes; 0 while too few
// bytes have come to tell.
int replyLength(const QByteArray& request, const QByteArray& reply);
// The longest reply the request can have.
int maxReplyLength(const QByteArray& request);

// Reads a complete record-status reply; false when its check byte is wrong.
bool decodeStatus(const QByteArray& reply, RecordStatus& status);
// False for a status no terminal can give: more than MaxRecordCount records, more than the
// numbers from first to last, or a first number above the last.
bool plausible(const RecordStatus& status);
// Reads a complete block reply to readRecordsRequest(.., from, count): false when the check
// byte is wrong, it holds more than count records, or the numbers do not rise from `from` on
// (a late reply to another block). A record that cannot be read is kept with its raw bytes.
bool decodeRecords(const QByteArray& reply, quint32 from, int count, QVector<MealRecord>& out);

} // namespace bw::host::protocol

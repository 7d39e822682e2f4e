#pragma once

// Requests of the connect link to a model-6429 terminal (see docs/terminal-protocol.md).
// A request is the terminal's address byte (sent with the ninth bit set on a serial line),
// a command code, a second code byte, the parameters and a check byte, the exclusive OR of
// every byte before it, the address included. The terminal answers with four bytes:
// its address, the request's code pair and Ack or Nak.

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
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
constexpr quint8 NamesCode = 0x0C;     // the name (card) list
constexpr quint8 NamesStatus = 0x01;   // second code byte: count and checksum of the list
constexpr quint8 NamesBegin = 0x02;    // second code byte: empty the staging area
constexpr quint8 NamesBlock = 0x03;    // second code byte: append a block to the staging area
constexpr quint8 NamesCommit = 0x04;   // second code byte: the staged list becomes the list
constexpr quint8 ClockCode = 0x0D;     // the terminal's clock
constexpr quint8 ClockSet = 0x01;      // second code byte: set date and time
constexpr quint8 ClockRead = 0x02;     // second code byte: read date and time
constexpr quint8 Ack = 0x06;
constexpr quint8 Nak = 0x15;
constexpr int ReplyLength = 4;
constexpr int TimeoutMs = 3000; // connection and reply time-out
constexpr int StatusReplyLength = 17;
constexpr int RecordBytes = 15; // one record in a block reply
constexpr int MaxBlock = 255;   // records one block request may ask for
constexpr int BlockRetries = 3; // a bad block is asked for again this often, then it fails
constexpr int NamesStatusReplyLength = 13;
constexpr int ClockReplyLength = 11;
constexpr int CardBytes = 4;      // a card number: eight digits in four BCD bytes
constexpr int MaxNamesBlock = 64; // cards one block request may carry
constexpr int MaxNames = 20000;   // cards a terminal's list may hold
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

// What the name-list status request answers.
struct NameListStatus {
    quint32 count = 0;
    quint32 checksum = 0; // nameListChecksum of the list; 0 for an empty one
    bool operator==(const NameListStatus&) const = default;
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

// Card numbers as a terminal keeps them: eight-digit texts (surrounding blanks removed),
// sorted, each once; anything else is dropped.
QStringList normalisedCards(const QStringList& cards);
// CRC-32 (the IEEE polynomial, reflected, as zip files use it) over the normalised cards
// in their order, each as its four BCD bytes; 0 for an empty list.
quint32 nameListChecksum(const QStringList& cards);
// The four BCD bytes of an eight-digit card; empty when it is not one.
QByteArray cardBcd(const QString& card);

QByteArray nameListStatusRequest(quint8 address);
QByteArray nameListBeginRequest(quint8 address);
// Block number seq (from 0) of 1..MaxNamesBlock eight-digit cards.
QByteArray nameListBlockRequest(quint8 address, quint16 seq, const QStringList& cards);
QByteArray nameListCommitRequest(quint8 address, quint32 count, quint32 checksum);
// Date and time as BCD yy mm dd hh mi ss; the year must be 2000..2099.
QByteArray clockSetRequest(quint8 address, const QDateTime& time);
QByteArray clockReadRequest(quint8 address);

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

// Reads a complete name-list status reply; false when its check byte is wrong.
bool decodeNameListStatus(const QByteArray& reply, NameListStatus& status);
// Reads a complete clock reply; false when its check byte is wrong or it is no valid time.
bool decodeClock(const QByteArray& reply, QDateTime& time);

} // namespace bw::host::protocol

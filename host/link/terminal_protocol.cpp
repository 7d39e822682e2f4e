#include "host/link/terminal_protocol.h"

#include "bell/bell_frame.h"
#include "platform/bytes.h"

#include <algorithm>

namespace bw::host {

namespace protocol {

quint8 checkByte(const QByteArray& bytes) {
    return bell::frame::checkByte(0, bytes); // the bell link's check over the whole frame
}

QByteArray frame(quint8 address, quint8 code, quint8 second, const QByteArray& params) {
    QByteArray f;
    f.append(char(address)).append(char(code)).append(char(second)).append(params);
    f.append(char(checkByte(f)));
    return f;
}

QByteArray clearRecordRequest(quint8 address) {
    return frame(address, ClearCode, ClearRecords);
}
QByteArray clearNameListRequest(quint8 address) {
    return frame(address, ClearCode, ClearNames);
}

QByteArray setClockRequest(quint8 address, quint8 group, const std::array<QTime, 10>& times) {
    QByteArray params;
    for (const QTime& t : times)
        params.append(char(bell::frame::toBcd(t.hour())))
            .append(char(bell::frame::toBcd(t.minute())));
    return frame(address, SetClockCode, group, params);
}

bool isAck(const QByteArray& reply, const QByteArray& request) {
    return request.size() >= 3 && reply.size() >= ReplyLength && reply.left(3) == request.left(3) &&
           quint8(reply[3]) == Ack;
}

namespace {

bool isRequest(const QByteArray& request, quint8 code, quint8 second) {
    return request.size() >= 3 && quint8(request[1]) == code && quint8(request[2]) == second;
}

// A record of a block reply, at pos: number, card (4 BCD bytes), yy mm dd hh mi ss, flag. One
// that cannot be read keeps its bytes in raw.
void decodeRecord(const QByteArray& b, int pos, MealRecord& r) {
    r = MealRecord();
    r.number = bw::bytes::big32At(b, pos);
    int f[10];
    for (int i = 0; i < 10; ++i)
        f[i] = bell::frame::fromBcd(quint8(b[pos + 4 + i]));
    const bool bcd = std::none_of(f, f + 10, [](int v) { return v < 0; });
    r.flag = quint8(b[pos + 14]);
    // QDateTime would take an impossible time for midnight: both halves are checked first.
    // The time is the terminal's wall clock; as UTC it is never moved by a time zone.
    if (r.number == 0 || !bcd || r.flag > int(MealFlag::Out) ||
        !QDate::isValid(2000 + f[4], f[5], f[6]) || !QTime::isValid(f[7], f[8], f[9])) {
        r.flag = 0;
        r.raw = b.mid(pos, RecordBytes);
        return;
    }
    // Eight digits, two of each BCD byte, written directly: this runs for every record read.
    char16_t card[8];
    for (int i = 0; i < 4; ++i) {
        card[2 * i] = char16_t(u'0' + f[i] / 10);
        card[2 * i + 1] = char16_t(u'0' + f[i] % 10);
    }
    r.card = QString(reinterpret_cast<const QChar*>(card), 8);
    r.time = QDateTime(QDate(2000 + f[4], f[5], f[6]), QTime(f[7], f[8], f[9]), Qt::UTC);
}

} // namespace

QStringList normalisedCards(const QStringList& cards) {
    QStringList out;
    out.reserve(cards.size());
    for (const QString& c : cards) {
        const QString t = c.trimmed();
        if (t.size() == 8 && std::all_of(t.begin(), t.end(), [](QChar ch) {
                return ch >= QLatin1Char('0') && ch <= QLatin1Char('9');
            }))
            out.append(t);
    }
    out.sort();
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

QByteArray cardBcd(const QString& card) {
    if (card.size() != 8)
        return {};
    QByteArray b;
    for (int i = 0; i < 8; i += 2) {
        const int hi = card[i].digitValue(), lo = card[i + 1].digitValue();
        if (hi < 0 || hi > 9 || lo < 0 || lo > 9)
            return {};
        b.append(char(hi << 4 | lo));
    }
    return b;
}

quint32 nameListChecksum(const QStringList& cards) {
    quint32 crc = bw::bytes::Crc32Start;
    for (const QString& card : normalisedCards(cards))
        for (char byte : cardBcd(card))
            crc = bw::bytes::crc32Add(crc, quint8(byte));
    return bw::bytes::crc32End(crc);
}

QByteArray nameListStatusRequest(quint8 address) {
    return frame(address, NamesCode, NamesStatus);
}
QByteArray nameListBeginRequest(quint8 address) {
    return frame(address, NamesCode, NamesBegin);
}
QByteArray nameListBlockRequest(quint8 address, quint16 seq, const QStringList& cards) {
    QByteArray params;
    params.append(char(seq >> 8)).append(char(seq)).append(char(cards.size()));
    for (const QString& c : cards)
        params.append(cardBcd(c));
    return frame(address, NamesCode, NamesBlock, params);
}
QByteArray nameListCommitRequest(quint8 address, quint32 count, quint32 checksum) {
    return frame(address, NamesCode, NamesCommit,
                 bw::bytes::big32(count).append(bw::bytes::big32(checksum)));
}

QByteArray clockSetRequest(quint8 address, const QDateTime& time) {
    const QDate d = time.date();
    const QTime t = time.time();
    QByteArray params;
    for (int v : {d.year() - 2000, d.month(), d.day(), t.hour(), t.minute(), t.second()})
        params.append(char(bell::frame::toBcd(v)));
    return frame(address, ClockCode, ClockSet, params);
}
QByteArray clockReadRequest(quint8 address) {
    return frame(address, ClockCode, ClockRead);
}

bool decodeNameListStatus(const QByteArray& reply, NameListStatus& status) {
    if (reply.size() != NamesStatusReplyLength || quint8(reply[3]) != Ack ||
        checkByte(reply.left(reply.size() - 1)) != quint8(reply[reply.size() - 1]))
        return false;
    status = {bw::bytes::big32At(reply, 4), bw::bytes::big32At(reply, 8)};
    return true;
}

bool decodeClock(const QByteArray& reply, QDateTime& time) {
    if (reply.size() != ClockReplyLength || quint8(reply[3]) != Ack ||
        checkByte(reply.left(reply.size() - 1)) != quint8(reply[reply.size() - 1]))
        return false;
    int f[6];
    for (int i = 0; i < 6; ++i)
        if ((f[i] = bell::frame::fromBcd(quint8(reply[4 + i]))) < 0)
            return false;
    time = QDateTime(QDate(2000 + f[0], f[1], f[2]), QTime(f[3], f[4], f[5]));
    return time.isValid();
}

QByteArray recordStatusRequest(quint8 address) {
    return frame(address, RecordCode, RecordsStatus);
}

QByteArray readRecordsRequest(quint8 address, quint32 from, int count) {
    return frame(address, RecordCode, RecordsRead, bw::bytes::big32(from).append(char(count)));
}

QByteArray deleteRecordsRequest(quint8 address, quint32 upTo) {
    return frame(address, RecordCode, RecordsDelete, bw::bytes::big32(upTo));
}

int replyLength(const QByteArray& request, const QByteArray& reply) {
    if (reply.size() < ReplyLength)
        return 0;
    if (quint8(reply[3]) != Ack)
        return ReplyLength;
    if (isRequest(request, RecordCode, RecordsStatus))
        return StatusReplyLength;
    if (isRequest(request, RecordCode, RecordsRead))
        return reply.size() < 5 ? 0 : 6 + RecordBytes * quint8(reply[4]);
    if (isRequest(request, NamesCode, NamesStatus))
        return NamesStatusReplyLength;
    if (isRequest(request, ClockCode, ClockRead))
        return ClockReplyLength;
    return ReplyLength;
}

int maxReplyLength(const QByteArray& request) {
    if (isRequest(request, RecordCode, RecordsStatus))
        return StatusReplyLength;
    if (isRequest(request, RecordCode, RecordsRead) && request.size() > 7)
        return 6 + RecordBytes * quint8(request[7]);
    if (isRequest(request, NamesCode, NamesStatus))
        return NamesStatusReplyLength;
    if (isRequest(request, ClockCode, ClockRead))
        return ClockReplyLength;
    return ReplyLength;
}

bool decodeStatus(const QByteArray& reply, RecordStatus& status) {
    if (reply.size() != StatusReplyLength || quint8(reply[3]) != Ack ||
        checkByte(reply.left(StatusReplyLength - 1)) != quint8(reply[StatusReplyLength - 1]))
        return false;
    status = {bw::bytes::big32At(reply, 4), bw::bytes::big32At(reply, 8),
              bw::bytes::big32At(reply, 12)};
    return true;
}

bool plausible(const RecordStatus& s) {
    if (s.count == 0)
        return true;
    return s.count <= MaxRecordCount && s.first <= s.last &&
           quint64(s.count) <= quint64(s.last) - s.first + 1;
}

bool decodeRecords(const QByteArray& reply, quint32 from, int count, QVector<MealRecord>& out) {
    out.clear();
    if (reply.size() < 6 || quint8(reply[3]) != Ack)
        return false;
    const int k = quint8(reply[4]);
    if (k > count || reply.size() != 6 + RecordBytes * k ||
        checkByte(reply.left(reply.size() - 1)) != quint8(reply[reply.size() - 1]))
        return false;
    quint32 next = from;
    for (int i = 0; i < k; ++i) {
        MealRecord r;
        decodeRecord(reply, 5 + RecordBytes * i, r);
        if (r.number < next) {
            out.clear();
            return false;
        }
        next = r.number + 1;
        out.append(r);
    }
    return true;
}

} // namespace protocol

} // namespace bw::host

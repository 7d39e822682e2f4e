#include "sim/line.h"

#include "platform/bytes.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <algorithm>
#include <optional>

namespace bw::sim {

namespace {

// The requests a terminal understands. `second` < 0: any second code byte (the set-clock
// request carries its bell group there). `length` counts every byte of the frame, the
// address byte included (0: told by the count byte of a name-list block); `pad`: a 0x00
// follows the check byte.
enum class Command {
    ReadBells,
    SetBellCount,
    Test,
    SetDateTime,
    ClearRecord,
    ClearNameList,
    SetClock,
    RecordStatus,
    ReadRecords,
    DeleteRecords,
    NamesStatus,
    NamesBegin,
    NamesBlock,
    NamesCommit,
    ClockSet,
    ClockRead
};

struct Kind {
    Command command;
    quint8 code;
    int second;
    int length;
    bool pad;
};

constexpr Kind kinds[] = {
    {Command::ReadBells, 0x03, 0x10, 5, true},    {Command::SetBellCount, 0x04, 0x3E, 6, true},
    {Command::Test, 0x02, 0x55, 4, false},        {Command::SetDateTime, 0x08, 0x15, 10, false},
    {Command::ClearRecord, 0x0A, 0x01, 4, false}, {Command::ClearNameList, 0x0A, 0x02, 4, false},
    {Command::SetClock, 0x09, -1, 24, false},     {Command::RecordStatus, 0x0B, 0x01, 4, false},
    {Command::ReadRecords, 0x0B, 0x02, 9, false}, {Command::DeleteRecords, 0x0B, 0x03, 8, false},
    {Command::NamesStatus, 0x0C, 0x01, 4, false}, {Command::NamesBegin, 0x0C, 0x02, 4, false},
    {Command::NamesBlock, 0x0C, 0x03, 0, false},  {Command::NamesCommit, 0x0C, 0x04, 12, false},
    {Command::ClockSet, 0x0D, 0x01, 10, false},   {Command::ClockRead, 0x0D, 0x02, 4, false},
};

constexpr quint8 Ack = 0x06;
constexpr quint8 Nak = 0x15;
constexpr int ReadReplyLength = 131;
constexpr int RawBufferLimit = 4096;
constexpr int RecordBytes = 15;
constexpr int MaxNamesBlock = 64; // cards in one name-list block
constexpr int MaxNames = 20000;   // cards a name list holds at most

bool knownCode(quint8 code) {
    for (const Kind& k : kinds)
        if (k.code == code)
            return true;
    return false;
}

const Kind* findKind(quint8 code, quint8 second) {
    for (const Kind& k : kinds)
        if (k.code == code && (k.second < 0 || k.second == second))
            return &k;
    return nullptr;
}

// The whole length of a request of kind k starting at `at` in bytes: 0 while too few bytes
// have come to tell, -1 when they cannot start one.
int lengthAt(const Kind& k, const QByteArray& bytes, int at) {
    if (k.length > 0)
        return k.length;
    if (bytes.size() <= at + 5)
        return 0;
    const int n = quint8(bytes[at + 5]);
    return n >= 1 && n <= MaxNamesBlock ? 7 + 4 * n : -1;
}

quint8 xorOf(const QByteArray& bytes, int count) {
    quint8 x = 0;
    for (int i = 0; i < count; ++i)
        x ^= quint8(bytes[i]);
    return x;
}

bool frameIntact(const QByteArray& frame, const Kind& k) {
    const int length = lengthAt(k, frame, 0);
    if (length <= 0 || frame.size() != length)
        return false;
    const int pos = k.pad ? length - 2 : length - 1;
    if (quint8(frame[pos]) != xorOf(frame, pos))
        return false;
    return !k.pad || frame[length - 1] == '\0';
}

// CRC-32 (zip's) over the cards in their order, four BCD bytes each; 0 for none.
quint32 listChecksum(const QStringList& cards) {
    quint32 crc = bw::bytes::Crc32Start;
    for (const QString& card : cards)
        for (int i = 0; i + 1 < card.size(); i += 2)
            crc = bw::bytes::crc32Add(crc,
                                      quint8(card[i].digitValue() << 4 | card[i + 1].digitValue()));
    return bw::bytes::crc32End(crc);
}

std::optional<int> fromBcd(quint8 b, int max) {
    const int hi = b >> 4, lo = b & 0x0F;
    if (hi > 9 || lo > 9)
        return std::nullopt;
    const int v = hi * 10 + lo;
    if (v > max)
        return std::nullopt;
    return v;
}

quint8 toBcd(int v) {
    return quint8((v / 10) * 16 + v % 10);
}

// Record number (4 bytes), card number (8 BCD digits), yy mm dd hh mi ss (BCD), flag.
void appendRecord(QByteArray& out, const MealRecord& r) {
    bw::bytes::appendBig32(out, r.number);
    const quint32 card = r.card % 100000000u;
    for (quint32 div = 1000000; div >= 1; div /= 100)
        out.append(char(toBcd(int(card / div % 100))));
    const QDate d = r.time.date();
    const QTime t = r.time.time();
    for (int v : {d.year() % 100, d.month(), d.day(), t.hour(), t.minute(), t.second()})
        out.append(char(toBcd(v)));
    out.append(char(r.flag));
}

// yy mm dd hh mi ss in BCD at pos (20yy); invalid when it is no date and time.
QDateTime dateTimeAt(const QByteArray& frame, int pos) {
    const auto y = fromBcd(quint8(frame[pos]), 99), mo = fromBcd(quint8(frame[pos + 1]), 12),
               d = fromBcd(quint8(frame[pos + 2]), 31), h = fromBcd(quint8(frame[pos + 3]), 23),
               mi = fromBcd(quint8(frame[pos + 4]), 59), s = fromBcd(quint8(frame[pos + 5]), 59);
    if (!(y && mo && d && h && mi && s))
        return {};
    return QDateTime(QDate(2000 + *y, *mo, *d), QTime(*h, *mi, *s));
}

// A block of a name-list download: appended to the staging area when it is the next one;
// the block just appended, sent again because its reply was lost, is acknowledged again
// without being appended twice. Anything else is refused.
bool stageBlock(Terminal& t, const QByteArray& frame) {
    const int seq = quint8(frame[3]) << 8 | quint8(frame[4]);
    const int n = quint8(frame[5]);
    if (seq + 1 == t.stagedBlocks)
        return true;
    if (seq != t.stagedBlocks || t.staged.size() + n > MaxNames)
        return false;
    QStringList cards;
    for (int i = 0; i < n; ++i) {
        QString card;
        for (int b = 0; b < 4; ++b) {
            const auto v = fromBcd(quint8(frame[6 + 4 * i + b]), 99);
            if (!v)
                return false;
            card += QStringLiteral("%1").arg(*v, 2, 10, QLatin1Char('0'));
        }
        cards << card;
    }
    t.staged += cards;
    ++t.stagedBlocks;
    return true;
}

// The staged cards become the list in one step when they are `count` cards with that
// checksum (sorted, each once). A commit naming the list the terminal holds already (sent
// again after its reply was lost) is acknowledged without a change.
bool commitNames(Terminal& t, quint32 count, quint32 checksum, bool& changed) {
    QStringList list = t.staged;
    list.sort();
    list.erase(std::unique(list.begin(), list.end()), list.end());
    if (list.size() <= MaxNames && quint32(list.size()) == count &&
        listChecksum(list) == checksum) {
        t.nameList = list;
        t.staged.clear();
        t.stagedBlocks = 0;
        changed = true;
        return true;
    }
    return quint32(t.nameList.size()) == count && listChecksum(t.nameList) == checksum;
}

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

QString timeText(const QTime& t) {
    return t.isValid() ? t.toString(QStringLiteral("HH:mm")) : QString();
}

} // namespace

struct Line::Impl {
    std::map<int, Terminal> terminals;
    QList<int> order;
    Faults faults;
    bool trace = false;
    QStringList traceLines;
    std::function<void()> onChange;
    // Ninth-bit reception: the frame being collected since the last address character.
    QByteArray frame9;
    bool collecting = false;
    // Raw reception: unmatched bytes per channel.
    std::map<int, QByteArray> raw;
    int blocksSent = 0; // record blocks answered, for Faults::corruptEvery

    void note(const QString& line) {
        if (trace)
            traceLines << line;
    }

    void ignore(const QByteArray& bytes, const QString& reason) {
        note(QStringLiteral("rx ") + hex(bytes));
        note(QStringLiteral("-- ignored: ") + reason);
    }
    int dropUnframed(const QByteArray& buf, int end, bool final);

    QByteArray handle(const QByteArray& frame, const Kind& k);
    QByteArray answer(Terminal& t, const QByteArray& frame, const Kind& k, bool& changed);
    QByteArray applyFaults(const QByteArray& reply, int address) const;
    QByteArray commitFault(const QByteArray& reply, int address) const;
    bool ignored(Command command) const;
    QByteArray namesStatusFault(const QByteArray& reply, int address) const;
};

QByteArray Line::Impl::handle(const QByteArray& frame, const Kind& k) {
    note(QStringLiteral("rx ") + hex(frame));
    if (!frameIntact(frame, k)) {
        note(QStringLiteral("-- ignored: bad check byte"));
        return {};
    }
    const int address = quint8(frame[0]);
    auto it = terminals.find(address);
    if (it == terminals.end()) {
        note(QStringLiteral("-- ignored: address not on this line"));
        return {};
    }
    if (faults.silent) {
        note(QStringLiteral("-- silent"));
        return {};
    }
    if (ignored(k.command)) {
        note(QStringLiteral("-- ignored: this request is never answered"));
        return {};
    }
    bool changed = false;
    QByteArray reply = applyFaults(answer(it->second, frame, k, changed), address);
    if (k.command == Command::NamesStatus)
        reply = namesStatusFault(reply, address);
    if (k.command == Command::NamesCommit)
        reply = commitFault(reply, address);
    if (!reply.isEmpty())
        note(QStringLiteral("tx ") + hex(reply));
    if (changed && onChange)
        onChange();
    return reply;
}

// Bytes before `end` that start no request for a terminal on this line go, each run traced
// with the reason it was ignored. A run that may still become a request for another address
// stays for the next bytes, unless `final` (a request follows it). Returns how many go.
int Line::Impl::dropUnframed(const QByteArray& buf, int end, bool final) {
    // A request can start at i when what follows may still be a known code.
    auto mayStart = [&](int i) { return i + 1 >= buf.size() || knownCode(quint8(buf[i + 1])); };
    int n = 0;
    while (n < end) {
        const int have = int(buf.size()) - n;
        const Kind* k = have >= 3 ? findKind(quint8(buf[n + 1]), quint8(buf[n + 2])) : nullptr;
        const int klength = k ? lengthAt(*k, buf, n) : 0;
        int length = 0;
        QString reason;
        if ((have >= 2 && !knownCode(quint8(buf[n + 1]))) || (have >= 3 && !k) || klength < 0) {
            length = 1;
            while (n + length < end && !mayStart(n + length))
                ++length;
            reason = QStringLiteral("unknown code");
        } else if (klength > 0 && have >= klength) {
            length = klength;
            reason = frameIntact(buf.mid(n, klength), *k)
                         ? QStringLiteral("address not on this line")
                         : QStringLiteral("bad check byte");
        } else if (final) {
            length = end - n;
            reason = QStringLiteral("incomplete request");
        } else {
            break;
        }
        length = std::min(length, end - n);
        ignore(buf.mid(n, length), reason);
        n += length;
    }
    return n;
}

QByteArray Line::Impl::answer(Terminal& t, const QByteArray& frame, const Kind& k, bool& changed) {
    const char addr = char(t.address);
    // Connect-link replies: address, the request's code pair, Ack or Nak.
    auto status = [&](bool ok) {
        QByteArray r = frame.left(3);
        r[0] = addr;
        r.append(char(ok ? Ack : Nak));
        return r;
    };
    switch (k.command) {
    case Command::ReadBells: {
        QByteArray r(ReadReplyLength, '\0');
        r[0] = addr;
        r[1] = char(0x03);
        r[2] = char(0x10);
        for (int i = 0; i < 60; ++i)
            r[66 + i] = char(t.bellBcd[i]);
        r[126] = char(t.bellCount);
        r[130] = char(xorOf(r, 130));
        return r;
    }
    case Command::SetBellCount:
        t.bellCount = quint8(frame[3]);
        changed = true;
        return frame.left(5);
    case Command::Test:
        return QByteArray().append(addr).append(char(0x55));
    case Command::SetDateTime: {
        const QDateTime when = dateTimeAt(frame, 3);
        if (!when.isValid())
            return QByteArray().append(addr).append(char(0x80));
        t.clockOffsetSecs = QDateTime::currentDateTime().secsTo(when);
        changed = true;
        return QByteArray().append(addr).append(char(0x81));
    }
    case Command::ClearRecord:
        t.records.clear();
        changed = true;
        return status(true);
    case Command::RecordStatus: {
        // Ack, the number of records, the first and the last stored record number.
        QByteArray r = status(true);
        bw::bytes::appendBig32(r, faults.statusCount >= 0 ? quint32(faults.statusCount)
                                                          : quint32(t.records.size()));
        bw::bytes::appendBig32(r, t.records.empty() ? 0 : t.records.front().number);
        bw::bytes::appendBig32(r, t.records.empty() ? 0 : t.records.back().number);
        r.append(char(xorOf(r, int(r.size()))));
        return r;
    }
    case Command::ReadRecords: {
        // Up to n records numbered from `from` on, oldest first, behind a count byte.
        const quint32 from = bw::bytes::big32At(frame, 3);
        const int n = quint8(frame[7]);
        if (n == 0)
            return status(false);
        auto it =
            std::lower_bound(t.records.begin(), t.records.end(), from,
                             [](const MealRecord& r, quint32 number) { return r.number < number; });
        QByteArray r = status(true);
        r.append(char(0));
        int k = 0;
        for (; it != t.records.end() && k < n; ++it) {
            if (it->number >= faults.hideFrom && it->number <= faults.hideTo)
                continue;
            appendRecord(r, *it);
            const auto odd = faults.recordBytes.find(it->number);
            if (odd != faults.recordBytes.end())
                r.replace(r.size() - (RecordBytes - 4), RecordBytes - 4, odd->second);
            ++k;
        }
        r[4] = char(k);
        quint8 check = xorOf(r, int(r.size()));
        if (faults.corruptEvery > 0 && ++blocksSent % faults.corruptEvery == 0)
            check ^= 0xFF;
        r.append(char(check));
        return r;
    }
    case Command::DeleteRecords: {
        // Only records up to the given number go; any made since stay.
        const quint32 upTo = bw::bytes::big32At(frame, 3);
        while (!t.records.empty() && t.records.front().number <= upTo)
            t.records.pop_front();
        changed = true;
        return status(true);
    }
    case Command::ClearNameList:
        t.nameList.clear();
        changed = true;
        return status(true);
    case Command::NamesStatus: {
        QByteArray r = status(true);
        bw::bytes::appendBig32(r, quint32(t.nameList.size()));
        bw::bytes::appendBig32(r, listChecksum(t.nameList));
        r.append(char(xorOf(r, int(r.size()))));
        return r;
    }
    case Command::NamesBegin:
        t.staged.clear();
        t.stagedBlocks = 0;
        return status(true);
    case Command::NamesBlock:
        return status(stageBlock(t, frame));
    case Command::NamesCommit: {
        const bool ok =
            commitNames(t, bw::bytes::big32At(frame, 3), bw::bytes::big32At(frame, 7), changed);
        return status(ok);
    }
    case Command::ClockSet: {
        const QDateTime when = dateTimeAt(frame, 3);
        if (!when.isValid())
            return status(false);
        t.clockOffsetSecs = QDateTime::currentDateTime().secsTo(when);
        changed = true;
        return status(true);
    }
    case Command::ClockRead: {
        QByteArray r = status(true);
        const QDateTime now = t.clock();
        for (int v : {now.date().year() % 100, now.date().month(), now.date().day(),
                      now.time().hour(), now.time().minute(), now.time().second()})
            r.append(char(toBcd(v)));
        r.append(char(xorOf(r, int(r.size()))));
        return r;
    }
    case Command::SetClock: {
        const int group = quint8(frame[2]);
        if (group < 1 || group > 3)
            return status(false);
        std::array<QTime, 10> times;
        for (int i = 0; i < 10; ++i) {
            const auto h = fromBcd(quint8(frame[3 + 2 * i]), 23);
            const auto m = fromBcd(quint8(frame[4 + 2 * i]), 59);
            if (!h || !m)
                return status(false);
            times[i] = QTime(*h, *m);
        }
        t.bellGroups[group - 1] = times;
        for (int i = 0; i < 10; ++i) {
            const int slot = (group - 1) * 10 + i;
            t.bellBcd[2 * slot] = toBcd(times[i].hour());
            t.bellBcd[2 * slot + 1] = toBcd(times[i].minute());
        }
        changed = true;
        return status(true);
    }
    }
    return {};
}

QByteArray Line::Impl::applyFaults(const QByteArray& reply, int address) const {
    QByteArray r = reply;
    if (r.isEmpty())
        return r;
    if (faults.garbage) {
        auto* rng = QRandomGenerator::global();
        for (auto& b : r)
            b = char(rng->bounded(256));
        // Never the true reply by chance: the first byte is never the terminal's address.
        if (quint8(r[0]) == address)
            r[0] = char(address ^ 0x5A);
    }
    if (faults.wrongAddress)
        r[0] = char(address == 255 ? 1 : address + 1);
    if (faults.partial >= 0)
        r = r.left(faults.partial);
    return r;
}

QByteArray Line::Impl::commitFault(const QByteArray& reply, int address) const {
    using R = Faults::CommitReply;
    switch (faults.commitReply) {
    case R::Whole:
        break;
    case R::Lost:
        return {};
    case R::Short:
        return reply.left(3);
    case R::WrongAddress:
        return char(address == 255 ? 1 : address + 1) + reply.mid(1);
    case R::Garbled: {
        QByteArray r(reply.size(), '\0');
        for (auto& b : r)
            b = char(QRandomGenerator::global()->bounded(256));
        if (!r.isEmpty() && quint8(r[0]) == address)
            r[0] = char(address ^ 0x5A);
        return r;
    }
    }
    return reply;
}

bool Line::Impl::ignored(Command command) const {
    switch (command) {
    case Command::ClockSet:
    case Command::ClockRead:
        return faults.ignoreClock;
    case Command::ClearNameList:
    case Command::NamesStatus:
    case Command::NamesBegin:
    case Command::NamesBlock:
    case Command::NamesCommit:
        return faults.ignoreNames;
    default:
        return false;
    }
}

QByteArray Line::Impl::namesStatusFault(const QByteArray& reply, int address) const {
    QByteArray r = reply;
    if (r.isEmpty())
        return r;
    switch (faults.namesStatus) {
    case Faults::NamesStatusFault::None:
        break;
    case Faults::NamesStatusFault::BadCheck:
        r.back() = char(r.back() ^ 0xFF);
        break;
    case Faults::NamesStatusFault::Short:
        r.chop(3);
        break;
    case Faults::NamesStatusFault::OtherAddress:
        r[0] = char(address == 255 ? 1 : address + 1);
        r.back() = char(xorOf(r, int(r.size()) - 1));
        break;
    }
    return r;
}

void Terminal::addRecord(quint32 card, const QDateTime& time, quint8 flag) {
    records.push_back({++lastRecordNumber, card, time, flag});
}

quint32 Terminal::listedCard(int i) const {
    const QString card = nameList.value(i);
    bool ok = false;
    const uint v = card.toUInt(&ok);
    return card.size() == 8 && ok ? quint32(v) : 0;
}

void Terminal::makeRecords(int n) {
    if (nameList.isEmpty())
        return;
    const QDateTime now = QDateTime::currentDateTime();
    for (int k = 0; k < n; ++k) {
        const quint8 flag = k % 10 == 4 ? 1 : k % 10 == 9 ? 2 : 0;
        addRecord(listedCard(k % int(nameList.size())), now.addSecs(-20 * qint64(n - 1 - k)), flag);
    }
}

Line::Line(const QList<int>& addresses) : d(std::make_unique<Impl>()) {
    for (int a : addresses) {
        if (a < 1 || a > 255 || d->terminals.count(a))
            continue;
        Terminal t;
        t.address = a;
        for (auto& group : t.bellGroups)
            group.fill(QTime(0, 0));
        d->terminals.emplace(a, t);
        d->order << a;
    }
}

Line::~Line() = default;

void Line::setFaults(const Faults& faults) {
    d->faults = faults;
}
const Faults& Line::faults() const {
    return d->faults;
}

QByteArray Line::receive9(quint16 ch) {
    const char byte = char(ch & 0xFF);
    if (ch & 0x100) {
        d->frame9 = QByteArray(1, byte);
        d->collecting = true;
        return {};
    }
    if (!d->collecting)
        return {};
    d->frame9.append(byte);
    if (d->frame9.size() < 3)
        return {};
    const Kind* k = findKind(quint8(d->frame9[1]), quint8(d->frame9[2]));
    if (!k) {
        d->ignore(d->frame9, QStringLiteral("unknown code"));
        d->collecting = false;
        return {};
    }
    const int length = lengthAt(*k, d->frame9, 0);
    if (length < 0) {
        d->ignore(d->frame9, QStringLiteral("bad block length"));
        d->collecting = false;
        return {};
    }
    if (length == 0 || d->frame9.size() < length)
        return {};
    d->collecting = false;
    return d->handle(d->frame9, *k);
}

QByteArray Line::receiveRaw(const QByteArray& bytes) {
    return receiveRaw(bytes, 0);
}

QByteArray Line::receiveRaw(const QByteArray& bytes, int channel) {
    QByteArray& buf = d->raw[channel];
    buf.append(bytes);
    if (buf.size() > RawBufferLimit)
        buf.remove(0, buf.size() - RawBufferLimit);
    QByteArray out;
    for (;;) {
        int pending = -1; // first place where a request may still be arriving
        bool found = false;
        for (int i = 0; i < buf.size() && !found; ++i) {
            if (!d->terminals.count(quint8(buf[i])))
                continue;
            if (i + 1 >= buf.size()) {
                if (pending < 0)
                    pending = i;
                continue;
            }
            if (!knownCode(quint8(buf[i + 1])))
                continue;
            if (i + 2 >= buf.size()) {
                if (pending < 0)
                    pending = i;
                continue;
            }
            const Kind* k = findKind(quint8(buf[i + 1]), quint8(buf[i + 2]));
            const int length = k ? lengthAt(*k, buf, i) : -1;
            if (length < 0)
                continue;
            if (length == 0 || i + length > buf.size()) {
                if (pending < 0)
                    pending = i;
                continue;
            }
            const QByteArray frame = buf.mid(i, length);
            if (!frameIntact(frame, *k))
                continue;
            d->dropUnframed(buf, i, true);
            buf.remove(0, i + length);
            out.append(d->handle(frame, *k));
            found = true;
        }
        if (!found) {
            buf.remove(0, d->dropUnframed(buf, pending < 0 ? int(buf.size()) : pending, false));
            break;
        }
    }
    return out;
}

void Line::resetChannel(int channel) {
    d->raw.erase(channel);
}

void Line::setChangeHandler(std::function<void()> handler) {
    d->onChange = std::move(handler);
}

QByteArray Line::stateJson() const {
    QJsonObject all;
    for (int a : d->order) {
        const Terminal& t = d->terminals.at(a);
        QJsonObject o;
        o[QStringLiteral("address")] = a;
        o[QStringLiteral("clock")] = t.clock().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        o[QStringLiteral("clockOffsetSecs")] = double(t.clockOffsetSecs);
        o[QStringLiteral("bellCount")] = t.bellCount;
        QJsonArray bells;
        for (int k = 0; k < 30; ++k)
            bells.append(QStringLiteral("%1:%2")
                             .arg(t.bellBcd[2 * k], 2, 16, QLatin1Char('0'))
                             .arg(t.bellBcd[2 * k + 1], 2, 16, QLatin1Char('0'))
                             .toUpper());
        o[QStringLiteral("bellTimes")] = bells;
        o[QStringLiteral("records")] = int(t.records.size());
        o[QStringLiteral("firstRecord")] = double(t.records.empty() ? 0 : t.records.front().number);
        o[QStringLiteral("lastRecord")] = double(t.records.empty() ? 0 : t.records.back().number);
        o[QStringLiteral("nameListSize")] = int(t.nameList.size());
        o[QStringLiteral("nameList")] = QJsonArray::fromStringList(t.nameList);
        o[QStringLiteral("lastNumber")] = double(t.lastRecordNumber);
        QJsonArray list;
        for (const MealRecord& r : t.records)
            list.append(QJsonArray{double(r.number), double(r.card),
                                   r.time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")),
                                   int(r.flag)});
        o[QStringLiteral("recordList")] = list;
        QJsonArray groups;
        for (const auto& g : t.bellGroups) {
            QJsonArray times;
            for (const QTime& tm : g)
                times.append(timeText(tm));
            groups.append(times);
        }
        o[QStringLiteral("groups")] = groups;
        all[QString::number(a)] = o;
    }
    QJsonObject root;
    root[QStringLiteral("terminals")] = all;
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

bool Line::loadState(const QByteArray& json) {
    const QJsonObject all =
        QJsonDocument::fromJson(json).object().value(QStringLiteral("terminals")).toObject();
    if (all.isEmpty())
        return false;
    for (auto& [a, t] : d->terminals) {
        const QJsonObject o = all.value(QString::number(a)).toObject();
        if (o.isEmpty())
            continue;
        t.clockOffsetSecs = qint64(o.value(QStringLiteral("clockOffsetSecs")).toDouble());
        t.bellCount = o.value(QStringLiteral("bellCount")).toInt();
        const QJsonArray bells = o.value(QStringLiteral("bellTimes")).toArray();
        for (int k = 0; k < 30 && k < bells.size(); ++k) {
            const QString hm = bells[k].toString(); // BCD digits as they were sent, "HH:MM"
            t.bellBcd[2 * k] = quint8(hm.left(2).toUInt(nullptr, 16));
            t.bellBcd[2 * k + 1] = quint8(hm.mid(3, 2).toUInt(nullptr, 16));
        }
        const QJsonArray groups = o.value(QStringLiteral("groups")).toArray();
        for (int g = 0; g < 3 && g < groups.size(); ++g)
            for (int i = 0; i < 10; ++i)
                t.bellGroups[g][i] = QTime::fromString(groups[g].toArray().at(i).toString(),
                                                       QStringLiteral("HH:mm"));
        t.nameList.clear();
        for (const auto& v : o.value(QStringLiteral("nameList")).toArray())
            t.nameList << v.toString();
        t.lastRecordNumber = quint32(o.value(QStringLiteral("lastNumber")).toDouble());
        t.records.clear();
        for (const auto& v : o.value(QStringLiteral("recordList")).toArray()) {
            const QJsonArray r = v.toArray();
            t.records.push_back({quint32(r.at(0).toDouble()), quint32(r.at(1).toDouble()),
                                 QDateTime::fromString(r.at(2).toString(), Qt::ISODate),
                                 quint8(r.at(3).toInt())});
        }
    }
    return true;
}

Terminal* Line::terminal(int address) {
    auto it = d->terminals.find(address);
    return it == d->terminals.end() ? nullptr : &it->second;
}

QList<int> Line::addresses() const {
    return d->order;
}

void Line::setTrace(bool on) {
    d->trace = on;
}

QStringList Line::takeTrace() {
    QStringList out;
    out.swap(d->traceLines);
    return out;
}

} // namespace bw::sim

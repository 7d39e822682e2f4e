#include "host/link/link.h"

#include "bell/bell_frame.h"
#include "bell/serial_port.h"
#include "host/link/terminal_protocol.h"
#include "platform/line_trace.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QMap>
#include <QSerialPort>
#include <QTcpSocket>
#include <algorithm>
#include <termios.h>

namespace bw::host {

namespace protocol {

quint8 checkByte(const QByteArray& bytes) {
    quint8 x = 0;
    for (char c : bytes)
        x ^= quint8(c);
    return x;
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

QByteArray number32(quint32 v) {
    QByteArray b;
    b.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    return b;
}

quint32 numberAt(const QByteArray& bytes, int pos) {
    return quint32(quint8(bytes[pos])) << 24 | quint32(quint8(bytes[pos + 1])) << 16 |
           quint32(quint8(bytes[pos + 2])) << 8 | quint32(quint8(bytes[pos + 3]));
}

bool isRequest(const QByteArray& request, quint8 code, quint8 second) {
    return request.size() >= 3 && quint8(request[1]) == code && quint8(request[2]) == second;
}

// A record of a block reply, at pos: number, card (4 BCD bytes), yy mm dd hh mi ss, flag. One
// that cannot be read keeps its bytes in raw.
void decodeRecord(const QByteArray& b, int pos, MealRecord& r) {
    r = MealRecord();
    r.number = numberAt(b, pos);
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
    quint32 crc = 0xFFFFFFFFu;
    for (const QString& card : normalisedCards(cards))
        for (char byte : cardBcd(card)) {
            crc ^= quint8(byte);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    return ~crc;
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
    return frame(address, NamesCode, NamesCommit, number32(count).append(number32(checksum)));
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
    status = {numberAt(reply, 4), numberAt(reply, 8)};
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
    return frame(address, RecordCode, RecordsRead, number32(from).append(char(count)));
}

QByteArray deleteRecordsRequest(quint8 address, quint32 upTo) {
    return frame(address, RecordCode, RecordsDelete, number32(upTo));
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
    status = {numberAt(reply, 4), numberAt(reply, 8), numberAt(reply, 12)};
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

namespace {

QMap<int, int>& portMap() {
    static QMap<int, int> map;
    return map;
}

// A terminal address as the window passes it: a text holding a whole number 1..255.
int addressOf(const QString& text) {
    bool ok = false;
    const int a = text.trimmed().toInt(&ok);
    return ok && a >= 1 && a <= 255 ? a : 0;
}

} // namespace

void setTcpPortMap(int from, int to) {
    portMap().insert(from, to);
}
void clearTcpPortMap() {
    portMap().clear();
}
int mappedTcpPort(int port) {
    return portMap().value(port, port);
}

Link::Link() : timeoutMs_(protocol::TimeoutMs) {}

Link::~Link() {
    DestoryPort();
}

bool Link::isOpen() const {
    if (serial_)
        return serial_->isOpen();
    return socket_ && socket_->state() == QAbstractSocket::ConnectedState;
}

QIODevice* Link::device() const {
    if (serial_)
        return serial_.get();
    return socket_.get();
}

bool Link::SetPort(short& port) {
    try {
        DestoryPort();
        return mode_ == 1 ? openTcp() : openSerial(port);
    } catch (...) {
        DestoryPort();
        return false;
    }
}

bool Link::openSerial(int port) {
    if (port < 1)
        return fail(Failure::BadRequest, QStringLiteral("no port COM%1").arg(port));
    endpoint_ = bell::devicePath(port);
    traceName_ = QStringLiteral("COM%1").arg(port);
    failure_ = Failure::None;
    holder_.clear();
    openReason_.clear();
    line_ = std::make_unique<LineLock>(endpoint_);
    if (!line_->acquire(lineWaitMs_)) {
        holder_ = line_->holder();
        fail(Failure::LineBusy, line_->busyText());
        line_.reset();
        return false;
    }
    serial_ = std::make_unique<QSerialPort>();
    serial_->setPortName(endpoint_);
    if (!serial_->open(QIODevice::ReadWrite) || !serial_->setBaudRate(QSerialPort::Baud19200) ||
        !serial_->setDataBits(QSerialPort::Data8) ||
        !serial_->setFlowControl(QSerialPort::NoFlowControl)) {
        const QString reason = serial_->errorString();
        openReason_ = reason;
        serial_.reset();
        line_.reset();
        return fail(Failure::NoAnswer,
                    QStringLiteral("cannot open %1 = %2 (%3)")
                        .arg(traceName_, endpoint_, withPermissionAdvice(reason)));
    }
    return true;
}

bool Link::openTcp() {
    const QString text = ip_.trimmed();
    const QHostAddress host = text.compare(QStringLiteral("localhost"), Qt::CaseInsensitive) == 0
                                  ? QHostAddress(QHostAddress::LocalHost)
                                  : QHostAddress(text);
    const int port = mappedTcpPort(tcpPort_);
    holder_.clear();
    openReason_.clear();
    // Only numeric addresses: a name lookup could wait far longer than the time-out.
    if (host.isNull() || port < 1 || port > 65535)
        return fail(Failure::BadRequest,
                    QStringLiteral("\"%1\" port %2 is no address to connect to")
                        .arg(text, QString::number(port)));
    endpoint_ = QStringLiteral("%1:%2").arg(host.toString(), QString::number(port));
    traceName_ = endpoint_;
    socket_ = std::make_unique<QTcpSocket>();
    socket_->connectToHost(host, quint16(port));
    if (!socket_->waitForConnected(timeoutMs_)) {
        const QString reason = socket_->error() == QAbstractSocket::SocketTimeoutError
                                   ? QStringLiteral("no connection within %1 ms").arg(timeoutMs_)
                                   : socket_->errorString();
        if (socket_->error() != QAbstractSocket::SocketTimeoutError)
            openReason_ = socket_->errorString();
        socket_->abort();
        socket_.reset();
        return fail(Failure::NoAnswer,
                    QStringLiteral("cannot connect to %1 (%2)").arg(endpoint_, reason));
    }
    return true;
}

void Link::DestoryPort() {
    try {
        if (serial_ && serial_->isOpen())
            serial_->close();
        serial_.reset();
        line_.reset();
        if (socket_) {
            socket_->abort();
            socket_.reset();
        }
    } catch (...) {
    }
}

bool Link::ClearRecord(QString& address) {
    const int a = addressOf(address);
    return a && exchange(protocol::clearRecordRequest(quint8(a)));
}

bool Link::ClearNameList(QString& address) {
    const int a = addressOf(address);
    return a && exchange(protocol::clearNameListRequest(quint8(a)));
}

bool Link::SetClock(short address, std::array<VbDate, 11>& times, short group) {
    if (address < 1 || address > 255 || group < 0 || group > 255)
        return false;
    std::array<QTime, 10> t;
    for (int i = 0; i < 10; ++i)
        t[i] = timePart(times[i]);
    return exchange(protocol::setClockRequest(quint8(address), quint8(group), t));
}

namespace {

// Puts the line into the address setting ("19200,n,8,2") or the data setting ("19200,s,8,1")
// once every byte written before has left the port (TCSADRAIN). Done on the termios flags
// directly: QSerialPort refuses to set space parity again on a device that reports PARENB
// cleared, as pseudo-terminals do.
bool lineSetting(int fd, bool address) {
    termios tio{};
    if (fd < 0 || ::tcgetattr(fd, &tio) != 0)
        return false;
    tio.c_iflag &= ~tcflag_t(INPCK | PARMRK);
    tio.c_iflag |= IGNPAR;
    tio.c_cflag &= ~tcflag_t(PARODD);
    if (address) {
        tio.c_cflag &= ~tcflag_t(PARENB | CMSPAR);
        tio.c_cflag |= CSTOPB;
    } else {
        tio.c_cflag |= PARENB | CMSPAR;
        tio.c_cflag &= ~tcflag_t(CSTOPB);
    }
    if (::tcsetattr(fd, TCSADRAIN, &tio) != 0)
        return false;
    if (address)
        return true;
    // A device without mark/space parity drops CMSPAR (and would send odd or even parity).
    termios back{};
    return ::tcgetattr(fd, &back) == 0 && (back.c_cflag & CMSPAR);
}

} // namespace

bool Link::sendSerial(const QByteArray& request) {
    // The address byte goes out under the address setting (its first stop bit is the ninth
    // bit, 1), the rest under the data setting (the space parity bit is the ninth bit, 0).
    const int fd = serial_->handle();
    auto flush = [&] {
        while (serial_->bytesToWrite() > 0)
            if (!serial_->waitForBytesWritten(timeoutMs_))
                return false;
        return true;
    };
    if (!lineSetting(fd, true) || serial_->write(request.left(1)) != 1 || !flush())
        return false;
    if (!lineSetting(fd, false))
        return false;
    const QByteArray data = request.mid(1);
    return serial_->write(data) == data.size() && flush() && ::tcdrain(fd) == 0;
}

bool Link::readRecordStatus(int address, protocol::RecordStatus& status) {
    QByteArray reply;
    if (address < 1 || address > 255)
        return fail(Failure::BadRequest, QStringLiteral("bad terminal number"));
    if (!transact(protocol::recordStatusRequest(quint8(address)), reply))
        return fail(Failure::NoAnswer, QStringLiteral("no answer"));
    if (quint8(reply[3]) != protocol::Ack)
        return fail(Failure::Refused, QStringLiteral("refused"));
    if (!protocol::decodeStatus(reply, status))
        return fail(Failure::BadReply, QStringLiteral("bad check byte"));
    return protocol::plausible(status) ||
           fail(Failure::BadStatus, QStringLiteral("impossible status: %1 records, %2 to %3")
                                        .arg(status.count)
                                        .arg(status.first)
                                        .arg(status.last));
}

bool Link::readRecords(int address, quint32 from, int count, QVector<protocol::MealRecord>& out) {
    out.clear();
    if (address < 1 || address > 255 || count < 1 || count > protocol::MaxBlock)
        return fail(Failure::BadRequest, QStringLiteral("bad block request"));
    const QByteArray request = protocol::readRecordsRequest(quint8(address), from, count);
    // A short, corrupted or stale block is asked for again; the terminal keeps its records
    // until it is told to delete them, so asking again loses nothing. A block with a record
    // that cannot be read is believed once it came twice the same (not a line fault).
    QByteArray unreadable;
    bool heard = false; // a terminal that sends nothing at all is gone, not garbled
    for (int attempt = 0; attempt <= protocol::BlockRetries; ++attempt) {
        ++blockRequests_;
        QByteArray reply;
        const bool answered = transact(request, reply);
        heard = heard || heardReply_;
        if (!answered) {
            if (!isOpen())
                return fail(Failure::ConnectionLost, QStringLiteral("connection lost"));
            continue;
        }
        if (quint8(reply[3]) != protocol::Ack)
            return fail(Failure::Refused, QStringLiteral("refused"));
        if (!protocol::decodeRecords(reply, from, count, out))
            continue;
        if (std::all_of(out.cbegin(), out.cend(), [](const auto& r) { return r.readable(); }) ||
            reply == unreadable)
            return true;
        unreadable = reply;
        out.clear();
    }
    if (!heard)
        return fail(Failure::NoAnswer,
                    QStringLiteral("the terminal no longer answers on %1").arg(traceName_));
    return fail(Failure::BadReply,
                QStringLiteral("no good block after %1 tries").arg(protocol::BlockRetries + 1));
}

bool Link::deleteRecordsUpTo(int address, quint32 upTo) {
    if (address < 1 || address > 255)
        return fail(Failure::BadRequest, QStringLiteral("bad terminal number"));
    // Without a reply the records may be gone or not; a refusal leaves them all.
    const QByteArray request = protocol::deleteRecordsRequest(quint8(address), upTo);
    QByteArray reply;
    if (!transact(request, reply))
        return fail(Failure::NoAnswer, QStringLiteral("delete not acknowledged"));
    return protocol::isAck(reply, request) || fail(Failure::Refused, QStringLiteral("refused"));
}

QString withPermissionAdvice(const QString& reason) {
    if (!reason.contains(QLatin1String("ermission")))
        return reason;
    return reason + QStringLiteral("; add the user to the dialout group");
}

bool Link::confirmed(const QByteArray& request, QByteArray* answer, bool persist) {
    // A garbled reply, and with persist a lost one, is asked for again: each request here may
    // be sent twice without harm (the terminal acknowledges a repeated block or commit without
    // doing it twice).
    for (int attempt = 0; attempt <= protocol::BlockRetries; ++attempt) {
        QByteArray reply;
        if (!transact(request, reply)) {
            if (!isOpen())
                return fail(Failure::ConnectionLost, QStringLiteral("connection lost"));
            if (!persist && !heardReply_)
                return fail(Failure::NoAnswer, QStringLiteral("no answer"));
            continue;
        }
        if (quint8(reply[3]) != protocol::Ack)
            return fail(Failure::Refused, QStringLiteral("refused"));
        // A reply with data counts only with a good check byte.
        if (reply.size() > protocol::ReplyLength &&
            protocol::checkByte(reply.left(reply.size() - 1)) != quint8(reply.back()))
            continue;
        if (answer)
            *answer = reply;
        return true;
    }
    return fail(Failure::NoAnswer,
                QStringLiteral("no good answer after %1 tries").arg(protocol::BlockRetries + 1));
}

bool Link::readNameListStatus(int address, protocol::NameListStatus& status) {
    QByteArray reply;
    if (address < 1 || address > 255)
        return fail(Failure::BadRequest, QStringLiteral("bad terminal number"));
    if (!confirmed(protocol::nameListStatusRequest(quint8(address)), &reply))
        return false;
    return protocol::decodeNameListStatus(reply, status) ||
           fail(Failure::BadReply, QStringLiteral("bad name-list status"));
}

bool Link::writeNameList(int address, const QStringList& cards,
                         const std::function<void(int, int)>& progress,
                         const std::atomic_bool* cancel) {
    const QStringList list = protocol::normalisedCards(cards);
    const int total = int(list.size());
    if (address < 1 || address > 255 || total > protocol::MaxNames)
        return fail(Failure::BadRequest, QStringLiteral("bad name list"));
    const quint8 a = quint8(address);
    auto cancelled = [&] {
        if (!cancel || !cancel->load())
            return false;
        fail(Failure::Cancelled, QStringLiteral("cancelled"));
        return true;
    };
    // The terminal stages the blocks and switches to the new list only on the commit, so a
    // download broken off anywhere leaves its previous list whole.
    if (!confirmed(protocol::nameListBeginRequest(a)))
        return false;
    if (progress)
        progress(0, total);
    for (int first = 0, seq = 0; first < total; first += protocol::MaxNamesBlock, ++seq) {
        if (cancelled())
            return false;
        const QStringList block = list.mid(first, protocol::MaxNamesBlock);
        if (!confirmed(protocol::nameListBlockRequest(a, quint16(seq), block), nullptr, true))
            return false;
        if (progress)
            progress(first + int(block.size()), total);
    }
    if (cancelled())
        return false;
    return confirmed(
        protocol::nameListCommitRequest(a, quint32(total), protocol::nameListChecksum(list)),
        nullptr, true);
}

bool Link::setTerminalClock(int address, const QDateTime& time) {
    const int year = time.date().year();
    if (address < 1 || address > 255 || !time.isValid() || year < 2000 || year > 2099)
        return fail(Failure::BadRequest, QStringLiteral("bad clock request"));
    return confirmed(protocol::clockSetRequest(quint8(address), time));
}

bool Link::readTerminalClock(int address, QDateTime& time) {
    QByteArray reply;
    if (address < 1 || address > 255)
        return fail(Failure::BadRequest, QStringLiteral("bad terminal number"));
    if (!confirmed(protocol::clockReadRequest(quint8(address)), &reply))
        return false;
    return protocol::decodeClock(reply, time) ||
           fail(Failure::BadReply, QStringLiteral("bad clock reply"));
}

bool Link::fail(Failure kind, const QString& why) {
    failure_ = kind;
    lastError_ = why;
    return false;
}

bool Link::exchange(const QByteArray& request) {
    QByteArray reply;
    return transact(request, reply) && protocol::isAck(reply, request);
}

bool Link::transact(const QByteArray& request, QByteArray& answer) {
    heardReply_ = false;
    try {
        QIODevice* dev = device();
        if (!dev || !isOpen())
            return false;
        // Whatever a late reply left behind belongs to no request of ours.
        if (serial_)
            serial_->clear(QSerialPort::Input);
        else
            socket_->waitForReadyRead(0);
        traceIn(dev->readAll());

        traceOut(request);
        if (serial_) {
            if (!sendSerial(request))
                return false;
        } else if (socket_->write(request) != request.size() ||
                   !socket_->waitForBytesWritten(timeoutMs_)) {
            return false;
        }

        // Wait for this request's reply. A reply to an earlier request that came too late
        // (another code pair) is skipped; the terminal's own Nak ends the wait at once. A long
        // reply gets the time its bytes take on the serial line on top of the time-out.
        QDeadlineTimer deadline(timeoutMs_ +
                                qint64(protocol::maxReplyLength(request) * protocol::CharacterMs));
        QByteArray reply = traceIn(dev->readAll());
        for (;;) {
            heardReply_ = heardReply_ || !reply.isEmpty();
            while (reply.size() >= protocol::ReplyLength) {
                if (reply.left(3) == request.left(3)) {
                    const int length = protocol::replyLength(request, reply);
                    if (length > 0 && reply.size() >= length) {
                        answer = reply.left(length);
                        return true;
                    }
                    break;
                }
                reply.remove(0, 1);
            }
            const qint64 left = deadline.remainingTime();
            if (left <= 0 || !dev->waitForReadyRead(int(left)))
                return false;
            reply += traceIn(dev->readAll());
        }
    } catch (...) {
        return false;
    }
}

void Link::traceOut(const QByteArray& request) const {
    if (!trace::enabled())
        return;
    trace::Frame f{traceName_, trace::Frame::Direction::Out, request, {}};
    // On the serial line only the address byte carries a ninth bit of 1 (see sendSerial).
    if (serial_ && !request.isEmpty()) {
        f.ninth.resize(request.size());
        f.ninth.setBit(0, true);
    }
    trace::record(f);
}

QByteArray Link::traceIn(const QByteArray& bytes) const {
    trace::record({traceName_, trace::Frame::Direction::In, bytes, {}});
    return bytes;
}

void registerLink() {
    Registry::instance().registerClass(progid::Connect, [] { return std::make_shared<Link>(); });
}

} // namespace bw::host

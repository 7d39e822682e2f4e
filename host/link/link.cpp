#include "host/link/link.h"

#include "bell/serial_port.h"
#include "host/link/terminal_protocol.h"
#include "platform/line_lock.h"
#include "platform/line_trace.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QMap>
#include <algorithm>

namespace bw::host {

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
    return transport_ && transport_->isOpen();
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
    holder_.clear();
    openReason_.clear();
    if (port < 1 || port > 255)
        return fail(Failure::BadRequest, QStringLiteral("no port COM%1").arg(port));
    endpoint_ = bell::devicePath(port);
    traceName_ = QStringLiteral("COM%1").arg(port);
    failure_ = Failure::None;
    auto serial = std::make_unique<SerialTransport>();
    if (serial->open(port, lineWaitMs_)) {
        transport_ = std::move(serial);
        return true;
    }
    const bell::OpenFailure why = serial->openFailure();
    switch (why.kind) {
    case bell::OpenFailure::Kind::Busy:
        holder_ = why.holder;
        return fail(Failure::LineBusy, why.reason);
    case bell::OpenFailure::Kind::NoDevice:
        return fail(Failure::NoDevice, bell::noDeviceText(port));
    default:
        openReason_ = why.reason;
        return fail(Failure::NoAnswer,
                    QStringLiteral("cannot open %1 = %2 (%3)")
                        .arg(traceName_, endpoint_, withPermissionAdvice(why.reason)));
    }
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
    // One talker per terminal on this computer, as per serial line: a terminal answers one
    // request at a time, and a second program's requests would break into the first's.
    auto lock = std::make_unique<LineLock>(host.toString(), quint16(port));
    if (!lock->acquire(lineWaitMs_)) {
        holder_ = lock->holder();
        return fail(Failure::LineBusy, lock->busyText());
    }
    auto tcp = std::make_unique<TcpTransport>();
    QString reason;
    if (!tcp->open(host, quint16(port), timeoutMs_, reason, &openReason_))
        return fail(Failure::NoAnswer,
                    QStringLiteral("cannot connect to %1 (%2)").arg(endpoint_, reason));
    transport_ = std::move(tcp);
    tcpLock_ = std::move(lock);
    return true;
}

void Link::DestoryPort() {
    try {
        transport_.reset();
    } catch (...) {
    }
    tcpLock_.reset(); // the connection is closed: the next program may talk
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
    sentAny_ = false;
    for (int attempt = 0; attempt <= protocol::BlockRetries; ++attempt) {
        QByteArray reply;
        const bool answered = transact(request, reply);
        sentAny_ = sentAny_ || sent_;
        if (!answered) {
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
    if (confirmed(
            protocol::nameListCommitRequest(a, quint32(total), protocol::nameListChecksum(list)),
            nullptr, true))
        return true;
    // The commit went out and no good reply came back: the terminal may have switched to the
    // new list or kept the old one. Only a refusal says that it kept the old one.
    if (sentAny_ && (failure_ == Failure::NoAnswer || failure_ == Failure::ConnectionLost))
        failure_ = Failure::Unconfirmed;
    return false;
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
    sent_ = false;
    try {
        Transport* line = transport_.get();
        if (!line || !line->isOpen())
            return false;
        // Whatever a late reply left behind belongs to no request of ours.
        traceIn(line->dropStale());

        traceOut(request);
        if (!line->send(request, timeoutMs_))
            return false;
        sent_ = true;

        // Wait for this request's reply. A reply to an earlier request that came too late
        // (another code pair) is skipped; the terminal's own Nak ends the wait at once. A long
        // reply gets the time its bytes take on the serial line on top of the time-out.
        QDeadlineTimer deadline(timeoutMs_ +
                                qint64(protocol::maxReplyLength(request) * protocol::CharacterMs));
        QByteArray reply = traceIn(line->readAll());
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
            if (left <= 0 || !line->waitForData(int(left)))
                return false;
            reply += traceIn(line->readAll());
        }
    } catch (...) {
        return false;
    }
}

void Link::traceOut(const QByteArray& request) const {
    if (!trace::enabled())
        return;
    trace::Frame f{traceName_, trace::Frame::Direction::Out, request, {}};
    if (transport_)
        f.ninth = transport_->ninthBits(request);
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

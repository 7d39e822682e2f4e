#include "bell/memory_line.h"

#include "bell/bell_frame.h"

#include <QThread>

namespace bw::bell {

// ---- MemoryLine ----

std::shared_ptr<MemoryLine> MemoryLine::create() {
    return std::shared_ptr<MemoryLine>(new MemoryLine());
}

MemoryLine::~MemoryLine() = default;

void MemoryLine::setPeer(Peer peer) {
    peer_ = std::move(peer);
}

void MemoryLine::setPortAvailable(short port, bool available) {
    if (available)
        unavailable_.remove(port);
    else
        unavailable_.insert(port);
}

void MemoryLine::inject(const QByteArray& bytes, int delayMs) {
    if (active_)
        active_->arrive(bytes, now() + delayMs);
}

QByteArray MemoryLine::writtenBytes() const {
    QByteArray out;
    for (const auto& c : written_)
        out.append(static_cast<char>(c.byte));
    return out;
}

std::unique_ptr<SerialPort> MemoryLine::makePort() {
    return std::make_unique<MemoryPort>(shared_from_this());
}

PortFactory MemoryLine::factory() {
    std::weak_ptr<MemoryLine> weak = shared_from_this();
    return [weak]() -> std::unique_ptr<SerialPort> {
        auto line = weak.lock();
        if (!line)
            line = MemoryLine::create();
        return std::make_unique<MemoryPort>(line);
    };
}

void MemoryLine::transmit(MemoryPort& from, const QByteArray& bytes, const LineSettings& s) {
    if (writeFault_)
        throw serialFault(serr::WriteError, writeFaultText_.isEmpty() ? QStringLiteral("line fault")
                                                                      : writeFaultText_);
    for (char b : bytes) {
        WireChar c;
        c.byte = static_cast<quint8>(b);
        c.ninth = s.ninthBit(c.byte);
        c.port = from.commPort();
        written_.append(c);
        if (!peer_ || (peerPort_ != 0 && peerPort_ != c.port))
            continue;
        QByteArray reply = peer_(c.ch());
        if (replyLimit_ >= 0)
            reply.truncate(replyLimit_);
        if (!reply.isEmpty())
            from.arrive(reply, now() + replyDelayMs_);
    }
}

// ---- MemoryPort ----

MemoryPort::MemoryPort(std::shared_ptr<MemoryLine> line) : line_(std::move(line)) {
    settings_ = *LineSettings::parse(QStringLiteral("9600,n,8,1"));
}

MemoryPort::~MemoryPort() {
    if (line_->active_ == this)
        line_->active_ = nullptr;
}

void MemoryPort::requireOpen() const {
    if (!open_)
        throw serialFault(serr::DeviceNotOpen);
}

void MemoryPort::arrive(const QByteArray& bytes, qint64 due) {
    if (!open_)
        return;
    pending_.push_back({due, bytes});
}

void MemoryPort::release() {
    const qint64 t = line_->now();
    while (!pending_.empty() && pending_.front().due <= t) {
        rx_.append(pending_.front().bytes);
        pending_.pop_front();
    }
}

void MemoryPort::discardReceived() {
    if (!open_)
        return;
    release();
    rx_.clear();
}

int MemoryPort::inBufferCount() {
    requireOpen();
    release();
    return static_cast<int>(rx_.size());
}

void MemoryPort::setSettings(const QString& text) {
    const auto s = LineSettings::parse(text);
    if (!s)
        throw serialFault(serr::InvalidValue, text);
    settings_ = *s;
}

void MemoryPort::setInputMode(int mode) {
    if (mode != 0 && mode != 1)
        throw serialFault(serr::InvalidValue);
    inputMode_ = mode;
}

void MemoryPort::setInBufferSize(int size) {
    if (size < 1)
        throw serialFault(serr::InvalidValue);
    inBufferSize_ = size;
}

void MemoryPort::setOutBufferSize(int size) {
    if (size < 1)
        throw serialFault(serr::InvalidValue);
    outBufferSize_ = size;
}

void MemoryPort::setInputLen(int n) {
    if (n < 0)
        throw serialFault(serr::InvalidValue);
    inputLen_ = n;
}

void MemoryPort::setCommPort(short port) {
    if (port < 1 || port > 255)
        throw serialFault(serr::InvalidPort);
    if (open_)
        throw serialFault(serr::PortAlreadyOpen);
    commPort_ = port;
}

void MemoryPort::setPortOpen(bool open) {
    if (!open) {
        if (open_) {
            open_ = false;
            rx_.clear();
            pending_.clear();
            if (line_->active_ == this)
                line_->active_ = nullptr;
        }
        return;
    }
    if (open_)
        throw serialFault(serr::PortAlreadyOpen);
    if (line_->unavailable_.contains(commPort_))
        throw serialFault(serr::InvalidPort, QStringLiteral("COM%1").arg(commPort_));
    open_ = true;
    rx_.clear();
    pending_.clear();
    line_->active_ = this;
    line_->opened_.append(commPort_);
}

void MemoryPort::output(const QByteArray& bytes) {
    requireOpen();
    line_->transmit(*this, bytes, settings_);
}

QByteArray MemoryPort::input() {
    requireOpen();
    release();
    if (inputLen_ > 0) {
        if (rx_.size() < inputLen_)
            return QByteArray();
        const QByteArray out = rx_.left(inputLen_);
        rx_.remove(0, inputLen_);
        return out;
    }
    const QByteArray out = rx_;
    rx_.clear();
    return out;
}

bool MemoryPort::waitForInput(int ms) {
    ms = qMax(ms, 0);
    release();
    const qsizetype before = rx_.size();
    const qint64 start = line_->now();
    qint64 until = start + ms;
    if (open_ && !pending_.empty() && pending_.front().due < until)
        until = pending_.front().due;
    if (until > start)
        QThread::msleep(static_cast<unsigned long>(until - start));
    release();
    return rx_.size() > before;
}

// ---- ScriptedPeer ----

struct ScriptedPeer::State {
    std::deque<QByteArray> script;
    bool autoAnswer = false;
    int autoAddress = -1;
    QByteArray bells = QByteArray(60, '\0');
    int bellCount = 0;
    QByteArray frame; // the request being received (address + data)
    bool inFrame = false;
    QList<QByteArray> requests;

    QByteArray answer(const QByteArray& req) {
        if (!script.empty()) {
            QByteArray r = script.front();
            script.pop_front();
            return r;
        }
        if (!autoAnswer)
            return QByteArray();
        const auto addr = static_cast<quint8>(req.at(0));
        if (autoAddress >= 0 && addr != autoAddress)
            return QByteArray();
        switch (static_cast<quint8>(req.at(1))) {
        case 0x02:
            return QByteArray() + char(addr) + char(0x55);
        case 0x08:
            return QByteArray() + char(addr) + char(0x81);
        case 0x04:
            bellCount = static_cast<quint8>(req.at(3));
            return req.left(5);
        case 0x03: {
            QByteArray r(131, '\0');
            r[0] = char(addr);
            r.replace(66, 60, bells);
            r[126] = char(bellCount);
            return r;
        }
        default:
            return QByteArray();
        }
    }
};

ScriptedPeer::ScriptedPeer() : d(std::make_shared<State>()) {}

void ScriptedPeer::reply(const QByteArray& bytes) {
    d->script.push_back(bytes);
}
void ScriptedPeer::replyHex(const char* hex) {
    reply(QByteArray::fromHex(hex));
}
void ScriptedPeer::noReply() {
    d->script.push_back(QByteArray());
}
void ScriptedPeer::setAutoAnswer(bool on) {
    d->autoAnswer = on;
}
void ScriptedPeer::setAutoAddress(int address) {
    d->autoAddress = address;
}
void ScriptedPeer::setBellTimes(const QByteArray& bcd60, int count) {
    d->bells = bcd60.left(60).leftJustified(60, '\0');
    d->bellCount = count;
}
QList<QByteArray> ScriptedPeer::requests() const {
    return d->requests;
}

QByteArray ScriptedPeer::operator()(quint16 ch) {
    const auto byte = static_cast<char>(ch & 0xFF);
    if (ch & 0x100) {
        d->frame = QByteArray(1, byte);
        d->inFrame = true;
        return QByteArray();
    }
    if (!d->inFrame)
        return QByteArray();
    d->frame.append(byte);
    const int need = frame::requestDataLength(static_cast<quint8>(d->frame.at(1)));
    if (need == 0 || d->frame.size() - 1 < need)
        return QByteArray();
    d->inFrame = false;
    d->requests.append(d->frame);
    return d->answer(d->frame);
}

MemoryLine::Peer ScriptedPeer::peer() const {
    ScriptedPeer copy = *this;
    return [copy](quint16 ch) mutable { return copy(ch); };
}

} // namespace bw::bell

#pragma once

#include "bell/serial_port.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QSet>
#include <deque>
#include <functional>
#include <memory>

namespace bw::bell {

class MemoryPort;

// One character as it went over an in-memory line.
struct WireChar {
    quint8 byte = 0;
    bool ninth = false; // the bit after the data bits, as the line setting in force gave it
    short port = 0;     // the port number it went out on
    quint16 ch() const { return static_cast<quint16>(byte | (ninth ? 0x100 : 0)); }
};

// A serial line in memory for tests: every written byte is recorded with its ninth bit and
// handed as a 9-bit character (bit 8 = ninth bit) to the peer, a terminal simulation. The
// reply bytes the peer returns become receivable on the port that wrote, after the reply
// delay and cut to the reply limit.
class MemoryLine : public std::enable_shared_from_this<MemoryLine> {
public:
    using Peer = std::function<QByteArray(quint16)>;

    static std::shared_ptr<MemoryLine> create();
    ~MemoryLine();

    void setPeer(Peer peer);
    // Only characters written on this port number reach the peer (0: any port).
    void setPeerPort(short port) { peerPort_ = port; }
    void setReplyDelay(int ms) { replyDelayMs_ = ms; }
    // Only the first n bytes of each reply arrive (-1: whole replies).
    void setReplyLimit(int n) { replyLimit_ = n; }
    // Opening an unavailable port number fails with fault 8002.
    void setPortAvailable(short port, bool available);
    // While set, writes fail with fault 8021.
    // Writes fail with fault 8021; an empty description keeps the usual one.
    void setWriteFault(bool on, const QString& description = QString()) {
        writeFault_ = on;
        writeFaultText_ = description;
    }
    // Bytes arriving on the open port after delayMs, as if the terminal sent them unasked.
    void inject(const QByteArray& bytes, int delayMs = 0);

    QList<WireChar> written() const { return written_; }
    QByteArray writtenBytes() const;
    void clearWritten() { written_.clear(); }
    QList<short> openedPorts() const { return opened_; } // every successful open, in order
    bool anyPortOpen() const { return active_ != nullptr; }

    std::unique_ptr<SerialPort> makePort();
    PortFactory factory();

private:
    friend class MemoryPort;
    MemoryLine() { clock_.start(); }
    qint64 now() const { return clock_.elapsed(); }
    void transmit(MemoryPort& from, const QByteArray& bytes, const LineSettings& s);

    Peer peer_;
    short peerPort_ = 0;
    int replyDelayMs_ = 0;
    int replyLimit_ = -1;
    bool writeFault_ = false;
    QString writeFaultText_;
    QSet<short> unavailable_;
    QList<WireChar> written_;
    QList<short> opened_;
    MemoryPort* active_ = nullptr;
    QElapsedTimer clock_;
};

// A port on a MemoryLine.
class MemoryPort : public SerialPort {
public:
    explicit MemoryPort(std::shared_ptr<MemoryLine> line);
    ~MemoryPort() override;

    void discardReceived() override;
    void discardUnsent() override {}
    int inBufferCount() override;

    void setSettings(const QString& text) override;
    QString settings() const override { return settings_.text(); }
    void setInputMode(int mode) override;
    int inputMode() const override { return inputMode_; }
    void setInBufferSize(int size) override;
    int inBufferSize() const override { return inBufferSize_; }
    void setOutBufferSize(int size) override;
    int outBufferSize() const override { return outBufferSize_; }
    void setInputLen(int n) override;
    int inputLen() const override { return inputLen_; }
    void setCommPort(short port) override;
    short commPort() const override { return commPort_; }
    void setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    void output(const QByteArray& bytes) override;
    QByteArray input() override;
    bool waitForInput(int ms) override;

private:
    friend class MemoryLine;
    void requireOpen() const;
    void arrive(const QByteArray& bytes, qint64 due);
    void release();

    struct Pending {
        qint64 due = 0;
        QByteArray bytes;
    };
    std::shared_ptr<MemoryLine> line_;
    LineSettings settings_;
    int inputMode_ = 0;
    int inBufferSize_ = 1024;
    int outBufferSize_ = 512;
    int inputLen_ = 0;
    short commPort_ = 1;
    bool open_ = false;
    QByteArray rx_;
    std::deque<Pending> pending_;
};

// A peer for a MemoryLine that answers from a script: each complete request (address
// character, then the data characters its command code calls for) takes the next scripted
// reply; an empty reply or an empty script means no answer.
class ScriptedPeer {
public:
    ScriptedPeer();

    void reply(const QByteArray& bytes); // answer the next request with these bytes
    void replyHex(const char* hex);      // e.g. "01 55 7F"
    void noReply();                      // the next request gets no answer
    // Answer like a terminal when the script is empty: test (address, 0x55), date-time
    // (address, 0x81), set count (5-byte echo), read (131 bytes of the stored settings).
    void setAutoAnswer(bool on);
    void setAutoAddress(int address); // the only address auto-answers respond to
    void setBellTimes(const QByteArray& bcd60, int count); // for auto-answered reads

    QList<QByteArray> requests() const; // complete requests: address byte + data bytes
    QByteArray operator()(quint16 ch);
    MemoryLine::Peer peer() const;

private:
    struct State;
    std::shared_ptr<State> d;
};

} // namespace bw::bell

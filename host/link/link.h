#pragma once

#include "host/link/terminal_protocol.h"
#include "host/link/transport.h"
#include "platform/interfaces.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

namespace bw {
class LineLock;
}

namespace bw::host {

// The default connect component, "Pellworth.Link": talks to model-6429 terminals over a
// serial line (port number mapped to a device as the bell link maps it) or over TCP/IP.
// Every member answers false when the terminal is absent or answers wrongly; no wait is
// longer than the time-out (3 s by default).
class Link : public IConnect {
public:
    Link();
    ~Link() override;

    QString Ver() override { return QStringLiteral("V7.3"); }
    void mode(short value) override { mode_ = value; }
    void IP(const QString& value) override { ip_ = value; }
    void tcpPort(short value) override { tcpPort_ = value; }
    bool SetPort(short& port) override;
    bool ClearRecord(QString& address) override;
    bool ClearNameList(QString& address) override;
    bool SetClock(short address, std::array<VbDate, 11>& times, short group) override;
    void DestoryPort() override;

    short modeValue() const { return mode_; }
    QString ipValue() const { return ip_; }
    short tcpPortValue() const { return tcpPort_; }
    bool isOpen() const;
    // Where the last SetPort went: a device path or "host:port".
    QString endpoint() const { return endpoint_; }
    // Connection and reply time-out in milliseconds.
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }
    // How long SetPort waits for a line (serial, or a TCP/IP terminal's address and port)
    // another program holds (-1: lineLockWaitMs()).
    void setLineWaitMs(int ms) { lineWaitMs_ = ms; }

    // Meal records (the host's collection; not part of the component's interface). Each
    // answers false with the reason in lastError() on failure.
    bool readRecordStatus(int address, protocol::RecordStatus& status);
    // Up to count records numbered from `from` on; a bad block is asked for again up to
    // protocol::BlockRetries times. A record that cannot be read comes with its raw bytes,
    // once the same block came twice.
    bool readRecords(int address, quint32 from, int count, QVector<protocol::MealRecord>& out);
    // Deletes the terminal's records numbered up to and including upTo.
    bool deleteRecordsUpTo(int address, quint32 upTo);

    // The terminal's name (card) list: its size and checksum, and a download of a whole new
    // list (normalised first: eight-digit cards, sorted, each once; at most
    // protocol::MaxNames). The download stages blocks (each re-sent up to
    // protocol::BlockRetries times on a lost or bad reply) and commits them in one step;
    // progress gets the cards sent so far and the total; a set cancel stops between blocks.
    bool readNameListStatus(int address, protocol::NameListStatus& status);
    bool writeNameList(int address, const QStringList& cards,
                       const std::function<void(int done, int total)>& progress = {},
                       const std::atomic_bool* cancel = nullptr);
    // The terminal's own clock, as wall-clock time (years 2000..2099).
    bool setTerminalClock(int address, const QDateTime& time);
    bool readTerminalClock(int address, QDateTime& time);

    // LineBusy: SetPort found the serial line, or the TCP/IP terminal's address and port,
    // held by another program for the whole wait (bw::LineLock); lastHolder() names the
    // holder. NoDevice: SetPort was asked for a COM
    // number the settings name without a device (bell::setNoDevice); nothing was opened.
    // Unconfirmed: a name-list commit went out and no good reply came: the terminal may
    // have taken the new list or kept its old one; its name-list status tells.
    enum class Failure {
        None,
        BadRequest,
        NoAnswer,
        Refused,
        BadReply,
        BadStatus,
        ConnectionLost,
        LineBusy,
        Cancelled,
        NoDevice,
        Unconfirmed
    };
    QString lastError() const { return lastError_; }
    Failure lastFailure() const { return failure_; }
    // LineBusy: who holds the line, "PROGRAM (pid N)" (or "another program").
    QString lastHolder() const { return holder_; }
    // After a SetPort that failed: the system's own reason the device or address could not
    // be opened (empty: none came in time, or the line was busy).
    QString lastOpenReason() const { return openReason_; }
    // Block requests sent so far, repeats included.
    int blockRequests() const { return blockRequests_; }

private:
    bool openSerial(int port);
    bool openTcp();
    bool fail(Failure kind, const QString& why);
    bool exchange(const QByteArray& request);
    // Sends request until it is acknowledged: up to protocol::BlockRetries repeats when the
    // reply is garbled, and with persist also when none came (a terminal that is silent from
    // the start costs one time-out otherwise). A reply with data must have a good check byte
    // and is handed back in answer.
    bool confirmed(const QByteArray& request, QByteArray* answer = nullptr, bool persist = false);
    // Sends request and waits for its whole reply (Ack with its data, or Nak).
    bool transact(const QByteArray& request, QByteArray& answer);
    // Line-trace frames of the exchange (see platform/line_trace.h).
    void traceOut(const QByteArray& request) const;
    QByteArray traceIn(const QByteArray& bytes) const;

    short mode_ = 0;
    QString ip_;
    short tcpPort_ = 1001;
    int timeoutMs_;
    int lineWaitMs_ = -1;
    QString endpoint_;
    QString lastError_;
    QString openReason_;
    Failure failure_ = Failure::None;
    int blockRequests_ = 0;
    bool heardReply_ = false; // the last transact received any byte after its request
    bool sent_ = false;       // the last transact's request left
    bool sentAny_ = false;    // the last confirmed's request left at least once
    QString holder_;
    QString traceName_;                    // "COM<n>" or "host:port"
    std::unique_ptr<Transport> transport_; // from SetPort to DestoryPort
    std::unique_ptr<LineLock> tcpLock_;    // a TCP/IP terminal's, as long as transport_
};

// TCP port remapping of the host program (e.g. 1001 -> 15001 for a local simulator).
void setTcpPortMap(int from, int to);
void clearTcpPortMap();
int mappedTcpPort(int port);

// The system's reason for a serial device that cannot be opened, with the remedy when it is a
// permission: on Debian only members of the dialout group may open serial adapters.
QString withPermissionAdvice(const QString& reason);

// Registers "Pellworth.Link" with the ProgID registry.
void registerLink();

} // namespace bw::host

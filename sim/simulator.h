#pragma once

#include "sim/line.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;

namespace bw::sim {

// Seconds one 11-bit character takes at 19200 baud.
constexpr double CharacterMs = 11.0 * 1000.0 / 19200.0;

// Sends reply bytes through a write function, each reply held back by the line's delay and,
// when pacing, no faster than the line speed (one character every CharacterMs).
class PacedOutput : public QObject {
public:
    using WriteFn = std::function<void(const QByteArray&)>;
    PacedOutput(WriteFn write, bool pacing, QObject* parent = nullptr);

    void send(const QByteArray& bytes, double delayMs);
    bool idle() const { return items_.empty(); }

private:
    void tick();

    struct Item {
        double releaseMs;
        QByteArray bytes;
    };
    WriteFn write_;
    bool pacing_;
    QElapsedTimer clock_;
    QTimer timer_;
    std::deque<Item> items_;
    double nextByteMs_ = 0;
};

struct SimOptions {
    QList<int> addresses{1};
    QString link; // symlink to the pseudo-terminal's slave, when not empty
    // "HOST:PORT" to listen on, each a listener of its own (as every TCP/IP terminal has its
    // own), all answered by the line's terminals.
    QStringList tcp;
    bool pacing = true;
    Faults faults;
    bool trace = false;
    int records = 25;      // records each demo terminal starts with
    int names = 10;        // names on each demo terminal's name list
    int recordEveryMs = 0; // > 0: every terminal makes a record this often while running
    QString stateFile;     // rewritten after every change, when not empty
    // The state file is read back when it exists (a restart is a power cycle) unless reset
    // (a terminal whose memory was wiped starts with the demo contents, numbered from 1).
    bool reset = false;
    // When set, every terminal's clock runs this many seconds from the computer's.
    std::optional<qint64> clockOffsetSecs;
};

// The simulator program's engine: one Line, its pseudo-terminal and its TCP listener.
class Simulator : public QObject {
public:
    explicit Simulator(const SimOptions& options, QObject* parent = nullptr);
    ~Simulator() override;

    // Opens the pseudo-terminal and the listener. On failure returns false with a reason.
    bool start(QString* error);
    // Closes everything and removes the link.
    void stop();

    QString ptyPath() const { return ptyPath_; }
    // "HOST:PORT" of the first listener with its real port, empty without one.
    QString tcpAddress() const;
    Line& line() { return line_; }

    // Lines of hex trace are handed here (the program prints them).
    void setTraceSink(std::function<void(const QString&)> sink) { traceSink_ = std::move(sink); }

    // Demo contents: records, names and a few bell times on every terminal.
    static void fillDemo(Line& line, int records, int names);

private:
    void onPtyReadable();
    void onNewConnection(QTcpServer* server);
    void flushTrace(const QString& prefix);
    void writeState();
    void addLiveRecords();

    SimOptions options_;
    Line line_;
    int master_ = -1;
    int slave_ = -1; // kept open so the master never sees a hang-up between clients
    QString ptyPath_;
    bool linkMade_ = false;
    QSocketNotifier* ptyNotifier_ = nullptr;
    PacedOutput* ptyOut_ = nullptr;
    QElapsedTimer ptyClock_;
    double ptyInputEndMs_ = 0; // when the computer's bytes read so far are through the line
    QList<QTcpServer*> servers_;
    QTimer* recordTimer_ = nullptr;
    int nextChannel_ = 1;
    std::function<void(const QString&)> traceSink_;
};

} // namespace bw::sim

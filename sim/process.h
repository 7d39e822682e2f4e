#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace bw::sim {

// brackwater-sim run as a child process: started with its arguments, it reports the path of
// its pseudo-terminal and, with --tcp, the port it listens on. With a state file the
// terminals' state can be read back at any time.
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Starts `program` with `args` (plus --state-file when stateFile is not empty) and waits
    // up to timeoutMs for it to report "ready". False with the reason in error() otherwise.
    bool start(const QString& program, const QStringList& args, const QString& stateFile = {},
               int timeoutMs = 10000);
    // SIGTERM, then waits (kills after timeoutMs). Returns the exit code, -1 when killed.
    int stop(int timeoutMs = 5000);
    // The program's process id (0 when not running), e.g. to kill it without warning.
    qint64 pid() const { return proc_.processId(); }

    QString ptyPath() const { return ptyPath_; }
    int tcpPort() const { return tcpPort_; }
    QString error() const { return error_; }
    // Lines printed after the header (the trace), read so far.
    QStringList output();

    // {"terminals": {...}} as last written by the simulator.
    QJsonObject state() const;
    // One terminal's object from state().
    QJsonObject terminal(int address) const;
    // Waits up to timeoutMs for pred(state()) to hold.
    template <class Pred> bool waitState(Pred pred, int timeoutMs = 3000) const;

private:
    void readLines();
    static void pause(int ms);

    QProcess proc_;
    QString stateFile_;
    QString ptyPath_;
    int tcpPort_ = -1;
    bool ready_ = false;
    QString error_;
    QByteArray partial_;
    QStringList lines_;
};

template <class Pred> bool SimProcess::waitState(Pred pred, int timeoutMs) const {
    for (int waited = 0;; waited += 20) {
        if (pred(state()))
            return true;
        if (waited >= timeoutMs)
            return false;
        pause(20);
    }
}

} // namespace bw::sim

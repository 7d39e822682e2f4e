#include "sim/process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>

namespace bw::sim {

SimProcess::~SimProcess() {
    stop();
}

bool SimProcess::start(const QString& program, const QStringList& args, const QString& stateFile,
                       int timeoutMs) {
    // A restart reports afresh: nothing of an earlier run (its pty path above all) may be
    // taken for the new one's.
    stop();
    ready_ = false;
    ptyPath_.clear();
    tcpPort_ = -1;
    partial_.clear();
    lines_.clear();
    error_.clear();
    stateFile_ = stateFile;
    QStringList all = args;
    if (!stateFile.isEmpty())
        all << QStringLiteral("--state-file") << stateFile;
    proc_.setProcessChannelMode(QProcess::SeparateChannels);
    // The simulator must not outlive the process that started it, however that one ends.
    proc_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    proc_.start(program, all);
    if (!proc_.waitForStarted(timeoutMs)) {
        error_ = QStringLiteral("cannot start %1: %2").arg(program, proc_.errorString());
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (!ready_) {
        if (proc_.state() != QProcess::Running && proc_.bytesAvailable() == 0) {
            error_ = QStringLiteral("%1 ended: %2")
                         .arg(program, QString::fromLocal8Bit(proc_.readAllStandardError()));
            return false;
        }
        if (deadline.hasExpired()) {
            error_ = QStringLiteral("%1 did not report ready").arg(program);
            return false;
        }
        proc_.waitForReadyRead(int(qMax<qint64>(1, qMin<qint64>(100, deadline.remainingTime()))));
        readLines();
    }
    return true;
}

void SimProcess::readLines() {
    partial_ += proc_.readAllStandardOutput();
    for (;;) {
        const int nl = partial_.indexOf('\n');
        if (nl < 0)
            break;
        const QString line = QString::fromLocal8Bit(partial_.left(nl)).trimmed();
        partial_.remove(0, nl + 1);
        if (!ready_ && line.startsWith(QLatin1String("pty ")))
            ptyPath_ = line.mid(4);
        else if (!ready_ && line.startsWith(QLatin1String("tcp ")))
            tcpPort_ = line.mid(line.lastIndexOf(QLatin1Char(':')) + 1).toInt();
        else if (!ready_ && line == QLatin1String("ready"))
            ready_ = true;
        else
            lines_ << line;
    }
}

QStringList SimProcess::output() {
    proc_.waitForReadyRead(0);
    readLines();
    return lines_;
}

int SimProcess::stop(int timeoutMs) {
    if (proc_.state() == QProcess::NotRunning)
        return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
    proc_.terminate();
    if (!proc_.waitForFinished(timeoutMs)) {
        proc_.kill();
        proc_.waitForFinished(timeoutMs);
        return -1;
    }
    readLines();
    return proc_.exitStatus() == QProcess::NormalExit ? proc_.exitCode() : -1;
}

QJsonObject SimProcess::state() const {
    QFile f(stateFile_);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(f.readAll()).object();
}

QJsonObject SimProcess::terminal(int address) const {
    return state()
        .value(QStringLiteral("terminals"))
        .toObject()
        .value(QString::number(address))
        .toObject();
}

void SimProcess::pause(int ms) {
    QThread::msleep(ms);
}

} // namespace bw::sim

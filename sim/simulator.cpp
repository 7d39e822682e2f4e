#include "sim/simulator.h"

#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QSaveFile>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace bw::sim {

// ---------------------------------------------------------------------------------------
// PacedOutput

PacedOutput::PacedOutput(WriteFn write, bool pacing, QObject* parent)
    : QObject(parent), write_(std::move(write)), pacing_(pacing) {
    clock_.start();
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
}

void PacedOutput::send(const QByteArray& bytes, double delayMs) {
    if (bytes.isEmpty())
        return;
    const double now = clock_.nsecsElapsed() / 1e6;
    items_.push_back({now + std::max(0.0, delayMs), bytes});
    tick();
    if (!items_.empty() && !timer_.isActive())
        timer_.start();
}

void PacedOutput::tick() {
    const double now = clock_.nsecsElapsed() / 1e6;
    QByteArray out;
    while (!items_.empty() && items_.front().releaseMs <= now) {
        Item& item = items_.front();
        if (!pacing_) {
            out.append(item.bytes);
            items_.pop_front();
            continue;
        }
        if (nextByteMs_ < item.releaseMs)
            nextByteMs_ = item.releaseMs;
        int n = 0;
        while (n < item.bytes.size() && nextByteMs_ <= now) {
            nextByteMs_ += CharacterMs;
            ++n;
        }
        out.append(item.bytes.left(n));
        item.bytes.remove(0, n);
        if (!item.bytes.isEmpty())
            break;
        items_.pop_front();
    }
    if (!out.isEmpty())
        write_(out);
    if (items_.empty())
        timer_.stop();
}

// ---------------------------------------------------------------------------------------
// Simulator

Simulator::Simulator(const SimOptions& options, QObject* parent)
    : QObject(parent), options_(options), line_(options.addresses) {
    line_.setFaults(options.faults);
    line_.setTrace(options.trace);
    fillDemo(line_, options.records, options.names);
    QFile saved(options.stateFile);
    if (!options.reset && !options.stateFile.isEmpty() && saved.open(QIODevice::ReadOnly))
        line_.loadState(saved.readAll());
    if (options.clockOffsetSecs)
        for (int a : line_.addresses())
            line_.terminal(a)->clockOffsetSecs = *options.clockOffsetSecs;
    line_.setChangeHandler([this] { writeState(); });
}

Simulator::~Simulator() {
    stop();
}

void Simulator::fillDemo(Line& line, int records, int names) {
    static const int demoTimes[][2] = {{7, 0}, {11, 30}, {17, 30}};
    for (int a : line.addresses()) {
        Terminal* t = line.terminal(a);
        t->nameList.clear();
        for (int i = 0; i < names; ++i)
            t->nameList << QStringLiteral("%1").arg(Terminal::cardOfName(i), 8, 10,
                                                    QLatin1Char('0'));
        t->records.clear();
        t->makeRecords(records);
        for (int k = 0; k < 3; ++k) {
            const int h = demoTimes[k][0], m = demoTimes[k][1];
            t->bellBcd[2 * k] = quint8((h / 10) * 16 + h % 10);
            t->bellBcd[2 * k + 1] = quint8((m / 10) * 16 + m % 10);
            t->bellGroups[0][k] = QTime(h, m);
        }
        t->bellCount = 3;
    }
}

bool Simulator::start(QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        stop();
        return false;
    };
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        return fail(QStringLiteral("cannot open a pseudo-terminal: %1")
                        .arg(QString::fromLocal8Bit(strerror(errno))));
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) != 0)
        return fail(QStringLiteral("cannot name the pseudo-terminal"));
    ptyPath_ = QString::fromLocal8Bit(name);
    slave_ = ::open(name, O_RDWR | O_NOCTTY);
    if (slave_ < 0)
        return fail(QStringLiteral("cannot open %1").arg(ptyPath_));
    termios tio{};
    if (::tcgetattr(slave_, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::cfsetispeed(&tio, B19200);
        ::cfsetospeed(&tio, B19200);
        ::tcsetattr(slave_, TCSANOW, &tio);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);

    ptyOut_ = new PacedOutput(
        [this](const QByteArray& bytes) {
            qsizetype done = 0;
            while (done < bytes.size()) {
                const ssize_t n =
                    ::write(master_, bytes.constData() + done, size_t(bytes.size() - done));
                if (n <= 0)
                    break; // the other side's buffer is full: the rest is lost, as on a line
                done += n;
            }
        },
        options_.pacing, this);
    ptyNotifier_ = new QSocketNotifier(master_, QSocketNotifier::Read, this);
    connect(ptyNotifier_, &QSocketNotifier::activated, this, [this] { onPtyReadable(); });

    if (!options_.link.isEmpty()) {
        // Only a link to a pseudo-terminal, as an earlier simulator left it, is replaced.
        const QFileInfo there(options_.link);
        if (there.isSymLink() && there.symLinkTarget().startsWith(QLatin1String("/dev/pts/")))
            QFile::remove(options_.link);
        else if (there.exists() || there.isSymLink())
            return fail(QStringLiteral("%1 is there and is not a link to a pseudo-terminal; "
                                       "it is left alone")
                            .arg(options_.link));
        if (!QFile::link(ptyPath_, options_.link))
            return fail(QStringLiteral("cannot create the link %1").arg(options_.link));
        linkMade_ = true;
    }

    for (const QString& address : options_.tcp) {
        const int colon = address.lastIndexOf(QLatin1Char(':'));
        bool ok = false;
        const QHostAddress host(colon > 0 ? address.left(colon) : QString());
        const int port = colon > 0 ? address.mid(colon + 1).toInt(&ok) : -1;
        if (host.isNull() || !ok || port < 0 || port > 65535)
            return fail(QStringLiteral("bad TCP address %1 (HOST:PORT)").arg(address));
        auto* server = new QTcpServer(this);
        servers_.append(server);
        if (!server->listen(host, quint16(port)))
            return fail(
                QStringLiteral("cannot listen on %1: %2").arg(address, server->errorString()));
        connect(server, &QTcpServer::newConnection, this,
                [this, server] { onNewConnection(server); });
    }
    if (options_.recordEveryMs > 0) {
        recordTimer_ = new QTimer(this);
        connect(recordTimer_, &QTimer::timeout, this, [this] { addLiveRecords(); });
        recordTimer_->start(options_.recordEveryMs);
    }
    writeState();
    return true;
}

void Simulator::addLiveRecords() {
    // Every terminal: a meal of the next card on its name list, now.
    for (int a : line_.addresses()) {
        Terminal* t = line_.terminal(a);
        const int names = int(t->nameList.size());
        if (names > 0)
            t->addRecord(t->listedCard(int(t->lastRecordNumber % quint32(names))),
                         QDateTime::currentDateTime(), 0);
    }
    writeState();
}

void Simulator::stop() {
    delete recordTimer_;
    recordTimer_ = nullptr;
    qDeleteAll(servers_);
    servers_.clear();
    delete ptyNotifier_;
    ptyNotifier_ = nullptr;
    delete ptyOut_;
    ptyOut_ = nullptr;
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
    if (linkMade_ && QFileInfo(options_.link).symLinkTarget() == ptyPath_)
        QFile::remove(options_.link);
    linkMade_ = false;
}

QString Simulator::tcpAddress() const {
    if (servers_.isEmpty() || !servers_.first()->isListening())
        return {};
    return QStringLiteral("%1:%2")
        .arg(servers_.first()->serverAddress().toString())
        .arg(servers_.first()->serverPort());
}

void Simulator::onPtyReadable() {
    char buf[512];
    QByteArray in;
    for (;;) {
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0)
            break;
        in.append(buf, n);
    }
    if (in.isEmpty())
        return;
    // With pacing, the computer's bytes take their line time as well (a pseudo-terminal
    // passes them at once): a reply leaves once the request would have come in whole.
    double lineMs = 0;
    if (options_.pacing) {
        if (!ptyClock_.isValid())
            ptyClock_.start();
        const double now = ptyClock_.nsecsElapsed() / 1e6;
        ptyInputEndMs_ = std::max(ptyInputEndMs_, now) + double(in.size()) * CharacterMs;
        lineMs = ptyInputEndMs_ - now;
    }
    const QByteArray reply = line_.receiveRaw(in, 0);
    flushTrace(QStringLiteral("pty "));
    ptyOut_->send(reply, line_.faults().delayMs + lineMs);
}

void Simulator::onNewConnection(QTcpServer* server) {
    while (QTcpSocket* sock = server->nextPendingConnection()) {
        const int channel = nextChannel_++;
        auto* out = new PacedOutput([sock](const QByteArray& bytes) { sock->write(bytes); },
                                    options_.pacing, sock);
        connect(sock, &QTcpSocket::readyRead, this, [this, sock, out, channel] {
            const QByteArray reply = line_.receiveRaw(sock->readAll(), channel);
            flushTrace(QStringLiteral("tcp%1 ").arg(channel));
            out->send(reply, line_.faults().delayMs);
        });
        connect(sock, &QTcpSocket::disconnected, this, [this, sock, channel] {
            line_.resetChannel(channel);
            sock->deleteLater();
        });
    }
}

void Simulator::flushTrace(const QString& prefix) {
    const QStringList lines = line_.takeTrace();
    if (!traceSink_)
        return;
    for (const QString& l : lines)
        traceSink_(prefix + l);
}

void Simulator::writeState() {
    if (options_.stateFile.isEmpty())
        return;
    QSaveFile f(options_.stateFile);
    if (!f.open(QIODevice::WriteOnly))
        return;
    // The state holds card numbers and meal times: for its owner's eyes only.
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    f.write(line_.stateJson());
    f.commit();
}

} // namespace bw::sim

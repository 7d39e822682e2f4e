#include "host/site/site_layer.h"

#include "bell/bell_link.h"
#include "bell/serial_port.h"
#include "connect/connection_choice.h"
#include "host/ledger/ledger.h"
#include "host/ledger/operators.h"
#include "host/ledger/schema.h"
#include "host/ledger/stations.h"
#include "host/link/link.h"
#include "messages/catalogue.h"
#include "platform/error.h"
#include "platform/interfaces.h"
#include "platform/port_text.h"
#include "platform/registry.h"
#include "store/sql_connection.h"

#include <QHash>
#include <QThread>
#include <cmath>
#include <mutex>
#include <vector>

namespace bw::host::site {

namespace {

// A MachAddr value as a terminal number: a whole number from 1 to 255, else 0.
int terminalNumber(const QVariant& value) {
    bool ok = false;
    const double n = value.toString().trimmed().toDouble(&ok);
    return ok && n >= 1 && n <= 255 && n == std::floor(n) ? int(n) : 0;
}

} // namespace

Register readRegister(store::SqlConnection& cn) {
    requireRegister(cn);
    Register out;
    const auto rows = cn.queryBound(QStringLiteral(
        "SELECT MachAddr, ComX, IP, Ver, Team FROM MachineInfo WHERE MachVer = '6429' "
        "ORDER BY MachAddr"));
    const QHash<int, QString> stations = readStations(cn);
    auto skip = [&](const QString& why) {
        out.skipped << QStringLiteral("MachineInfo row skipped: ") + why;
    };
    for (const QVariantList& row : rows) {
        TerminalEntry t;
        t.address = terminalNumber(row.value(0));
        if (t.address == 0) {
            skip(QStringLiteral("MachAddr \"%1\" is not a whole number from 1 to 255")
                     .arg(row.value(0).toString()));
            continue;
        }
        const auto listed = [&](const QList<TerminalEntry>& list) {
            return std::any_of(list.cbegin(), list.cend(),
                               [&](const auto& e) { return e.address == t.address; });
        };
        if (listed(out.terminals) || listed(out.elsewhere)) {
            skip(QStringLiteral("terminal %1 is listed more than once").arg(t.address));
            continue;
        }
        const QString ip = row.value(2).toString().trimmed();
        t.port =
            isIpAddressText(ip) ? ip : QStringLiteral("COM") + row.value(1).toString().trimmed();
        t.place = row.value(3).toString();
        t.team = row.value(4).toString();
        const QString station = stations.value(t.address);
        if (worksHere(station)) {
            out.terminals.append(t);
        } else {
            out.elsewhere.append(t);
            out.stations.insert(t.address, station);
        }
    }
    return out;
}

QString functionName(Action action, const QString& caption) {
    switch (action) {
    case Action::Collect:
        return QStringLiteral("采集数据");
    case Action::Clear:
        return QStringLiteral("采集数据并清除");
    case Action::Names:
        return QStringLiteral("下载名单");
    case Action::Clock:
        return caption + messages::text(1067); // the terminal window's date-time button
    case Action::LineTest:
        return caption + messages::text(1066); // its communication test
    case Action::Assign:
        return caption + messages::text(1065); // its "modify"
    case Action::Backup:
    case Action::Administer:
        return QStringLiteral("*");
    case Action::Cards:
        return QStringLiteral("卡号管理");
    }
    return QString();
}

namespace {
std::atomic_int pool{DefaultPool};
}

int poolSize() {
    return pool;
}

namespace {
std::atomic<qint64> maxClockChange{DefaultMaxClockChangeS};
}

qint64 clockMaxChangeS() {
    return maxClockChange.load();
}

void setClockMaxChangeS(qint64 seconds) {
    maxClockChange.store(seconds > 0 ? seconds : DefaultMaxClockChangeS);
}

void setPoolSize(int lines) {
    pool = lines > 0 ? lines : DefaultPool;
}

Rights allowEverything() {
    return [](Action) { return true; };
}

Rights operatorRights(const QString& user, const QString& caption,
                      const std::shared_ptr<store::SqlConnection>& on) {
    // Asked on the thread that builds the rights (the window's), kept for the workers.
    QHash<int, bool> known;
    try {
        ConnectionPtr cn = on;
        if (!cn)
            cn = CreateObject<IDbTools>(progid::DbTools)->ActiveCn();
        auto permission = CreateObject<IPermission>(progid::Permission);
        for (Action a : {Action::Collect, Action::Clear, Action::Names, Action::Clock,
                         Action::LineTest, Action::Assign, Action::Backup, Action::Cards})
            known.insert(int(a), permission->CheckPermission(cn, caption, user, QVariant(),
                                                             functionName(a, caption), true, true));
    } catch (const Error& e) {
        qWarning("Permission check failed (%s)", qUtf8Printable(e.description()));
    }
    // Administering is every right, as a backup is.
    known[int(Action::Administer)] = known.value(int(Action::Backup));
    // Clearing is a collection as well.
    known[int(Action::Clear)] =
        known.value(int(Action::Clear)) && known.value(int(Action::Collect));
    return [known](Action a) { return known.value(int(a), false); };
}

Acting programOperator(const QString& connection, const QString& caption) {
    auto cn = std::make_shared<store::SqlConnection>(connection);
    requireRegister(*cn); // a database that is no host's says so before it is asked for operators
    const QString name = operators::actingOperator(*cn);
    if (operators::isSchemaOwner(*cn, name))
        return {name, allowEverything()};
    return {name, operatorRights(name, caption, cn)};
}

store::SqlConnection* Worker::database() {
    if (!db && dbError.isEmpty()) {
        try {
            db = std::make_unique<store::SqlConnection>(connection);
        } catch (const Error& e) {
            dbError = e.description().isEmpty() ? QStringLiteral("failed") : e.description();
        }
    }
    return db.get();
}

void workPool(const QList<TerminalLine>& lines, int pool, const QString& connection,
              const std::function<void(Worker&, const TerminalLine&)>& work,
              const std::function<void(const TerminalLine&, bool)>& watch) {
    std::atomic_int next{0};
    const auto worker = [&] {
        Worker w;
        w.connection = connection;
        for (int i = next++; i < lines.size(); i = next++) {
            if (watch)
                watch(lines[i], true);
            try {
                work(w, lines[i]);
            } catch (...) {
                // work reports its own failures; nothing may end the program from a worker.
            }
            if (watch)
                watch(lines[i], false);
        }
    };
    const int workers = int(std::min<qsizetype>(pool > 0 ? pool : poolSize(), lines.size()));
    if (workers <= 1) {
        worker();
        return;
    }
    // QThreads: the serial ports and sockets of a line want a Qt thread under them.
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < workers; ++i) {
        threads.emplace_back(QThread::create(worker));
        threads.back()->start();
    }
    for (auto& t : threads)
        t->wait();
}

Fault faultOfLink(const Link& link) {
    Fault f;
    f.words = link.lastError();
    switch (link.lastFailure()) {
    case Link::Failure::None:
    case Link::Failure::NoAnswer:
    case Link::Failure::BadRequest:
        f.kind = Failure::NoAnswer;
        break;
    case Link::Failure::Refused:
        f.kind = Failure::Refused;
        break;
    case Link::Failure::BadReply:
        f.kind = Failure::BadBlock;
        break;
    case Link::Failure::BadStatus:
        f.kind = Failure::BadStatus;
        break;
    case Link::Failure::ConnectionLost:
        f.kind = Failure::ConnectionLost;
        break;
    case Link::Failure::LineBusy:
        f.kind = Failure::LineBusy;
        f.where = link.endpoint();
        f.cause = link.lastHolder();
        break;
    case Link::Failure::Cancelled:
        f.kind = Failure::Cancelled;
        break;
    case Link::Failure::NoDevice:
        f.kind = Failure::NoDevice;
        break;
    case Link::Failure::Unconfirmed:
        f.kind = Failure::Unconfirmed;
        break;
    }
    return f;
}

LineContext::LineContext(const QString& port, int lineWaitMs, int replyTimeoutMs)
    : port_(port), lineWaitMs_(lineWaitMs), replyTimeoutMs_(replyTimeoutMs) {}

LineContext::~LineContext() {
    if (link_)
        link_->DestoryPort();
    if (bell_) {
        try {
            bell_->CloseBellPort();
        } catch (const Error&) {
        }
    }
}

int comOf(const QString& port) {
    try {
        const connect::ConnectionChoice choice = connect::chooseConnection(port);
        return choice.tcp ? 0 : choice.port;
    } catch (const Error&) {
        return 0;
    }
}

int LineContext::com() const {
    return comOf(port_);
}

bell::BellLink* LineContext::bellLink() {
    if (bell_ || fault_)
        return fault_ ? nullptr : bell_.get();
    const int port = com();
    if (port < 1 || port > 16) {
        fault_.kind = Failure::BadPort;
        fault_.where = port_;
        fault_.words = QStringLiteral("the port \"%1\" names no serial port").arg(port_);
        return nullptr;
    }
    // One of the two holds the line at a time.
    if (link_)
        link_->DestoryPort();
    link_.reset();
    tried_ = false;
    auto bell = std::make_unique<bell::BellLink>();
    bell->setKeepPortOpen(true);
    if (bell->OpenBellPort(short(port))) {
        bell_ = std::move(bell);
        return bell_.get();
    }
    const bell::OpenFailure why = bell->openFailure();
    const bool busy = why.kind == bell::OpenFailure::Kind::Busy;
    if (why.kind == bell::OpenFailure::Kind::NoDevice) {
        fault_.kind = Failure::NoDevice;
        fault_.where = QStringLiteral("COM%1").arg(port);
        fault_.words = bell::noDeviceText(port);
        return nullptr;
    }
    fault_.kind = busy ? Failure::LineBusy : Failure::CannotOpen;
    fault_.where = why.device.isEmpty() ? bell::devicePath(port) : why.device;
    fault_.cause = busy ? why.holder : why.reason;
    fault_.words =
        busy ? QStringLiteral("line %1 busy: held by %2").arg(fault_.where, fault_.cause)
             : QStringLiteral("cannot open COM%1: %2")
                   .arg(QString::number(port),
                        withPermissionAdvice(fault_.cause.isEmpty() ? QStringLiteral("no such port")
                                                                    : fault_.cause));
    return nullptr;
}

Link* LineContext::link() {
    if (tried_ || bell_) {
        if (bell_ && !fault_) { // the bell link gives the line back
            try {
                bell_->CloseBellPort();
            } catch (const Error&) {
            }
            bell_.reset();
            tried_ = false;
        } else {
            return fault_ ? nullptr : link_.get();
        }
    }
    tried_ = true;
    link_ = std::make_unique<Link>();
    if (lineWaitMs_ >= 0)
        link_->setLineWaitMs(lineWaitMs_);
    if (replyTimeoutMs_ > 0)
        link_->setTimeoutMs(replyTimeoutMs_);
    QString error;
    if (collect::openLink(*link_, port_, error))
        return link_.get();
    if (link_->lastFailure() == Link::Failure::LineBusy ||
        link_->lastFailure() == Link::Failure::NoDevice) {
        fault_ = faultOfLink(*link_);
        if (fault_.kind == Failure::NoDevice)
            fault_.where = QStringLiteral("COM%1").arg(com());
    } else if (link_->endpoint().isEmpty() || link_->lastFailure() == Link::Failure::BadRequest) {
        fault_.kind = Failure::BadPort;
        fault_.where = port_;
    } else {
        fault_.kind = Failure::CannotOpen;
        fault_.where = link_->endpoint();
        fault_.cause = link_->lastOpenReason();
    }
    fault_.words = error;
    link_.reset();
    return nullptr;
}

void LineContext::readClocks(const QList<int>& addresses) {
    Link* l = link();
    for (int address : addresses) {
        QDateTime shown;
        if (!l || !l->readTerminalClock(address, shown))
            shown = QDateTime();
        clocks_.insert(address, shown);
    }
}

std::optional<QDateTime> LineContext::clockRead(int address) const {
    const auto it = clocks_.constFind(address);
    return it == clocks_.cend() ? std::nullopt : std::optional<QDateTime>(*it);
}

} // namespace bw::host::site

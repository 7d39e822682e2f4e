#pragma once

#include "host/collect/collector.h"
#include "host/collect/lines.h"
#include "host/collect/meal_store.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

namespace bw::store {
class SqlConnection;
}

namespace bw::host {
class Link;
}

namespace bw::bell {
class BellLink;
}

// The site layer: every piece of terminal work of every front end goes through here. The
// register is read once, its terminals grouped into lines, the lines worked by a bounded pool
// of workers (each with one database connection for its lifetime and the link of the line it
// works), and each step on a terminal passes one door: the operator's right, the line, the
// operation log and SiteStep, a typed result. Words are made by the front ends.
namespace bw::host::site {

using collect::Failure;
using collect::Fault;
using collect::TerminalEntry;
using collect::TerminalLine;

// The model-6429 terminals of MachineInfo by number, each once, and a line for every row left
// out (a MachAddr that is no whole number from 1 to 255, or a terminal listed already). The
// terminals this workstation works (its own and those assigned to none) are apart from those
// the register gives to another workstation: no front end talks to those. A database without
// the register's tables raises store::dberr::NoTable (requireRegister); one that cannot be read
// raises its own error.
struct Register {
    QList<TerminalEntry> terminals;
    QList<TerminalEntry> elsewhere;
    QHash<int, QString> stations; // the workstation of each terminal of elsewhere
    QStringList skipped;          // "MachineInfo row skipped: ..."
};
Register readRegister(store::SqlConnection& cn);

// What an operator may be allowed or refused; a status reading needs no right.
enum class Action { Collect, Clear, Names, Clock, LineTest, Assign, Backup, Cards, Administer };
// The function name the permission component knows the action by. The clock and the line
// test are the terminal window's buttons: the terminal-management caption and its texts; giving
// terminals to a workstation is a change of the register, the window's "modify". A backup copies
// every record and operator: an administrator's ("*"), as managing the operators and changing
// the site's database and devices are (Administer). Changing the cards is "卡号管理".
QString functionName(Action action, const QString& caption);

// Whether the operator may take an action.
using Rights = std::function<bool(Action)>;
// Every action allowed (the tests' runs; a server's schema owner).
Rights allowEverything();
// The permission component's answers for user (CreateObject<IPermission>), asked once per
// action and kept, on the connection given (else the host's); a component that cannot be
// reached refuses.
Rights operatorRights(const QString& user, const QString& caption,
                      const std::shared_ptr<store::SqlConnection>& cn = {});

// The operator a program without a sign-in acts as (operators::actingOperator: the session's
// role on a server, the desktop account on a file) and its rights. The schema's owner on a
// server holds every right. Raises operators::Refused(NotAnOperator) or the database's error.
struct Acting {
    QString name;
    Rights rights;
};
Acting programOperator(const QString& connection, const QString& caption);

// The lines worked at once when nothing else is asked for: 8, or what the program set from
// the settings file's [site] pool or its --pool option.
constexpr int DefaultPool = 8;
int poolSize();
// How far a clock step may move a terminal's clock unless forced ([clock] max-change).
qint64 clockMaxChangeS();
void setClockMaxChangeS(qint64 seconds);
void setPoolSize(int lines); // 0: DefaultPool

// The serial port number a register's port text names; 0 for TCP/IP or a text naming none.
int comOf(const QString& port);

// Works the lines on at most `pool` workers at once (a line's terminals one after the other
// inside work). Each worker has a database connection to `connection` for its lifetime,
// opened when its first line comes (null in work when it cannot be opened: work reports
// that). watch, when given, is told each line's start (true) and end (false) from the worker.
struct Worker {
    QString connection;
    std::unique_ptr<store::SqlConnection> db;
    QString dbError; // why db is null
    store::SqlConnection* database();
};
void workPool(const QList<TerminalLine>& lines, int pool, const QString& connection,
              const std::function<void(Worker&, const TerminalLine&)>& work,
              const std::function<void(const TerminalLine&, bool)>& watch = {});

// The line a worker holds while it works one line: the link opened with its lock once, for
// all the line's terminals; a failed open is kept as the fault of every step on it.
class LineContext {
public:
    explicit LineContext(const QString& port, int lineWaitMs = -1, int replyTimeoutMs = -1);
    ~LineContext();
    LineContext(const LineContext&) = delete;
    LineContext& operator=(const LineContext&) = delete;
    // The link, opened on first use; null with fault() set when it cannot be.
    Link* link();
    // A serial line's bell link (the terminal's clock is set over it), opened on first use in
    // the link's place; null with fault() set when it cannot be.
    bell::BellLink* bellLink();
    // The serial port number of the line; 0 for TCP/IP.
    int com() const;
    const Fault& fault() const { return fault_; }
    // Reads the clocks of these terminals over the link in one go, before a serial line's
    // clocks are set over the bell link (which cannot read them): the line is then opened
    // twice for all its terminals, not twice for each.
    void readClocks(const QList<int>& addresses);
    // What readClocks found of a terminal: nullopt when it was not asked; an invalid time when
    // the terminal gave none.
    std::optional<QDateTime> clockRead(int address) const;

private:
    QString port_;
    int lineWaitMs_;
    int replyTimeoutMs_;
    bool tried_ = false;
    Fault fault_;
    std::unique_ptr<Link> link_;
    std::unique_ptr<bell::BellLink> bell_;
    QHash<int, QDateTime> clocks_;
};

// The fault of a link's last failed request.
Fault faultOfLink(const Link& link);

} // namespace bw::host::site

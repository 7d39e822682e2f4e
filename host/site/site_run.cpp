#include "host/site/site_run.h"

#include "bell/bell_link.h"
#include "bell/serial_port.h"
#include "connect/connection_choice.h"
#include "host/collect/collect_run.h"
#include "host/collect/lines.h"
#include "host/ledger/schema.h"
#include "host/link/link.h"
#include "host/names/name_lists.h"
#include "host/site/clock_step.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <QDateTime>
#include <memory>
#include <mutex>

namespace bw::host::site {

using collect::TerminalEntry;
using collect::TerminalLine;

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// A failure text that says another program holds the line.
bool saysBusy(const QString& text) {
    return text.contains(QLatin1String(" busy: held by "));
}

// From a fault text that wraps it, "line DEVICE busy: held by PROGRAM (pid N)".
QString busyPart(const QString& text) {
    const int from =
        text.lastIndexOf(QLatin1String("line "), text.indexOf(QLatin1String(" busy: held by ")));
    QString part = text.mid(qMax(0, from));
    if (from > 0 && text.at(from - 1) == QLatin1Char('(') && part.endsWith(QLatin1Char(')')))
        part.chop(1);
    return part;
}

// The COM number of a serial terminal's port text; 0 for a TCP/IP terminal or none.
int comOf(const QString& port) {
    try {
        const connect::ConnectionChoice choice = connect::chooseConnection(port);
        return choice.tcp ? 0 : choice.port;
    } catch (const Error&) {
        return 0;
    }
}

// One line's run: its own database connection and links, its terminals one after the other.
class LineRun {
public:
    LineRun(const Request& rq, QList<TerminalEntry> terminals,
            std::function<void(const StepResult&)> report, const std::atomic_bool* cancel)
        : rq_(rq), terminals_(std::move(terminals)), report_(std::move(report)), cancel_(cancel) {}

    void run() {
        try {
            cn_ = std::make_unique<store::SqlConnection>(rq_.connection);
        } catch (const Error& e) {
            for (Step step : rq_.steps)
                for (const TerminalEntry& t : terminals_)
                    tell(t, step, false, QStringLiteral("failed: database: ") + e.description());
            return;
        }
        for (Step step : rq_.steps) {
            switch (step) {
            case Step::Collect:
                collect();
                break;
            case Step::Clock:
                clocks();
                break;
            case Step::Names:
                names();
                break;
            }
        }
    }

private:
    bool cancelled() const { return cancel_ && cancel_->load(); }

    void tell(const TerminalEntry& t, Step step, bool ok, const QString& text, bool busy = false) {
        StepResult r;
        r.terminal = t.address;
        r.step = step;
        r.ok = ok;
        r.busy = busy || (!ok && saysBusy(text));
        r.text = text;
        if (cn_ && !rq_.dryRun)
            recordStep(*cn_, r, rq_.user);
        report_(r);
    }

    void collect() {
        collect::Options options;
        options.clear = rq_.clear;
        collect::RunHandlers handlers;
        handlers.done = [this](int i, const collect::Outcome& o) {
            // The collection's own line without its "terminal N: " head.
            const QString line = collect::resultLine(o);
            const QString head = QStringLiteral("terminal %1: ").arg(o.address);
            tell(terminals_[i], Step::Collect, o.ok(),
                 line.startsWith(head) ? line.mid(head.size()) : line);
        };
        collect::runCollection(*cn_, terminals_, rq_.user, options, handlers, cancel_);
    }

    void clocks() {
        if (serial())
            serialClocks();
        else
            for (const TerminalEntry& t : terminals_)
                tcpClock(t);
    }

    bool serial() const { return comOf(terminals_.first().port) > 0; }

    // Serial terminals: through the bell link, the port opened once for the line.
    void serialClocks() {
        const short port = short(comOf(terminals_.first().port));
        bell::BellLink link;
        link.setKeepPortOpen(true);
        QString fault;
        if (!link.OpenBellPort(port)) {
            const QString why = link.openFault().section(QLatin1Char(':'), 1);
            fault = saysBusy(why)
                        ? busyPart(why)
                        : QStringLiteral("cannot open COM%1: %2")
                              .arg(QString::number(port),
                                   withPermissionAdvice(
                                       why.isEmpty() ? QStringLiteral("no such port") : why));
        }
        for (const TerminalEntry& t : terminals_) {
            if (cancelled()) {
                tell(t, Step::Clock, false, QStringLiteral("cancelled"));
                continue;
            }
            if (!fault.isEmpty()) {
                tell(t, Step::Clock, false, QStringLiteral("failed: ") + fault);
                continue;
            }
            const QDateTime now = QDateTime::currentDateTime();
            const BellClockResult r = setClockOverBell(link, t.address, now);
            switch (r.state) {
            case BellClockResult::State::Set:
                tell(t, Step::Clock, true,
                     QStringLiteral("clock set to ") + now.toString(TimeFormat));
                break;
            case BellClockResult::State::NoAnswer:
                tell(t, Step::Clock, false, QStringLiteral("failed: no answer"));
                break;
            case BellClockResult::State::PortFault:
                fault = QStringLiteral("port fault: ") + r.fault;
                tell(t, Step::Clock, false, QStringLiteral("failed: ") + fault);
                break;
            }
        }
        try {
            link.CloseBellPort();
        } catch (const Error&) {
        }
    }

    // A TCP/IP terminal: the clock request of the terminal protocol.
    void tcpClock(const TerminalEntry& t) {
        if (cancelled())
            return tell(t, Step::Clock, false, QStringLiteral("cancelled"));
        Link link;
        QString error;
        if (!collect::openLink(link, t.port, error))
            return tell(t, Step::Clock, false, QStringLiteral("failed: ") + error);
        const QDateTime now = QDateTime::currentDateTime();
        if (link.setTerminalClock(t.address, now))
            tell(t, Step::Clock, true, QStringLiteral("clock set to ") + now.toString(TimeFormat));
        else
            tell(t, Step::Clock, false, QStringLiteral("failed: ") + link.lastError());
        link.DestoryPort();
    }

    // Name lists: the link opened once for the line.
    void names() {
        Link link;
        QString error;
        const bool open = collect::openLink(link, terminals_.first().port, error);
        for (const TerminalEntry& t : terminals_) {
            if (cancelled())
                tell(t, Step::Names, false, QStringLiteral("cancelled"));
            else if (!open)
                tell(t, Step::Names, false, QStringLiteral("failed: ") + error);
            else
                nameList(link, t);
        }
        link.DestoryPort();
    }

    void nameList(Link& link, const TerminalEntry& t) {
        QStringList cards;
        try {
            cards = names::cardsOf(*cn_, t.address);
        } catch (const Error& e) {
            return tell(t, Step::Names, false,
                        QStringLiteral("failed: database: ") + e.description());
        }
        if (cards.size() > protocol::MaxNames)
            return tell(t, Step::Names, false,
                        QStringLiteral("failed: %1 cards, more than a terminal holds (%2)")
                            .arg(cards.size())
                            .arg(protocol::MaxNames));
        protocol::NameListStatus held;
        if (!link.readNameListStatus(t.address, held))
            return tell(t, Step::Names, false, QStringLiteral("failed: ") + link.lastError());
        const bool inStep = held.count == quint32(cards.size()) &&
                            held.checksum == protocol::nameListChecksum(cards);
        if (inStep && !rq_.force)
            return tell(t, Step::Names, true,
                        QStringLiteral("in step, %1 cards").arg(cards.size()));
        if (rq_.dryRun)
            return tell(t, Step::Names, true,
                        QStringLiteral("would download %1 cards (the terminal holds %2%3)")
                            .arg(cards.size())
                            .arg(held.count)
                            .arg(inStep ? QStringLiteral(", in step") : QString()));
        if (link.writeNameList(t.address, cards, {}, cancel_))
            tell(t, Step::Names, true, QStringLiteral("downloaded %1 cards").arg(cards.size()));
        else
            tell(t, Step::Names, false,
                 QStringLiteral("failed: %1 (the terminal keeps its list of %2 cards)")
                     .arg(link.lastError())
                     .arg(held.count));
    }

    const Request& rq_;
    QList<TerminalEntry> terminals_;
    std::function<void(const StepResult&)> report_;
    const std::atomic_bool* cancel_;
    std::unique_ptr<store::SqlConnection> cn_;
};

} // namespace

QString stepName(Step step) {
    switch (step) {
    case Step::Collect:
        return QStringLiteral("collect");
    case Step::Clock:
        return QStringLiteral("clock");
    case Step::Names:
        return QStringLiteral("names");
    }
    return QString();
}

QString resultLine(const StepResult& r) {
    return QStringLiteral("terminal %1 %2: %3")
        .arg(QString::number(r.terminal), stepName(r.step), r.text);
}

void recordStep(store::SqlConnection& cn, const StepResult& r, const QString& user) {
    try {
        cn.executeBound(QStringLiteral("INSERT INTO SiteStep (MachAddr, Step, StepAt, StepBy, "
                                       "Result, Ok) VALUES (?, ?, ?, ?, ?, ?)"),
                        {r.terminal, stepName(r.step),
                         QDateTime::currentDateTime().toString(TimeFormat), user.left(255),
                         r.text.left(255), r.ok ? 1 : 0});
    } catch (const Error& e) {
        qWarning("Site step not kept (%d: %s)", e.number(), qUtf8Printable(e.description()));
    }
}

RunSummary runSite(const Request& rq, const std::function<void(const StepResult&)>& report,
                   const std::atomic_bool* cancel) {
    RunSummary summary;
    std::mutex mutex;
    const auto tell = [&](const StepResult& r) {
        const std::lock_guard<std::mutex> lock(mutex);
        if (!r.ok) {
            ++summary.failed;
            if (r.busy)
                ++summary.busy;
        }
        if (report)
            report(r);
    };

    QList<TerminalEntry> terminals;
    try {
        store::SqlConnection cn(rq.connection);
        createHostSchema(cn, false); // SiteStep, when the database predates it
        terminals = collect::listTerminals(cn);
    } catch (const Error& e) {
        summary.databaseOpened = false;
        summary.databaseError = e.description();
        return summary;
    }
    QList<TerminalEntry> chosen;
    if (rq.terminals.isEmpty()) {
        chosen = terminals;
    } else {
        for (int n : rq.terminals) {
            auto it = std::find_if(terminals.cbegin(), terminals.cend(),
                                   [n](const TerminalEntry& t) { return t.address == n; });
            if (it != terminals.cend()) {
                chosen << *it;
                continue;
            }
            for (Step step : rq.steps)
                tell({n, step, false, false,
                      QStringLiteral("failed: not a model-6429 terminal of MachineInfo")});
        }
    }
    // A COM number the settings file names without a device is not guessed.
    for (auto it = chosen.begin(); it != chosen.end();) {
        const int com = comOf(it->port);
        if (com == 0 || !rq.comWithoutDevice.contains(com)) {
            ++it;
            continue;
        }
        for (Step step : rq.steps)
            tell({it->address, step, false, false,
                  QStringLiteral("failed: cannot open COM%1: the settings file names no device "
                                 "for it ([com] %1=)")
                      .arg(com)});
        it = chosen.erase(it);
    }
    collect::workLines(collect::linesOf(chosen), [&](const TerminalLine& line) {
        QList<TerminalEntry> mine;
        for (int i : line.members)
            mine << chosen[i];
        LineRun(rq, mine, tell, cancel).run();
    });
    return summary;
}

} // namespace bw::host::site

#include "host/site/status.h"

#include "host/site/site_run.h"

#include "connect/connection_choice.h"
#include "host/collect/collect_texts.h"
#include "host/collect/lines.h"
#include "host/collect/meal_store.h"
#include "host/link/link.h"
#include "host/names/name_lists.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace bw::host::site {

namespace {

const QString TimeFormat = QStringLiteral("yyyy-MM-dd HH:mm:ss");

// A time column as the database hands it back: a date-time, or the text this system writes.
QDateTime timeOf(const QVariant& value) {
    if (value.metaType().id() == QMetaType::QDateTime)
        return value.toDateTime();
    const QString text = value.toString().trimmed();
    QDateTime t = QDateTime::fromString(text, TimeFormat);
    if (!t.isValid())
        t = QDateTime::fromString(text, Qt::ISODateWithMs);
    return t;
}

// A terminal number as a row holds it; 0 when it names none.
int terminalOf(const QVariant& value) {
    bool ok = false;
    const double n = value.toString().trimmed().toDouble(&ok);
    return ok && n >= 1 && n <= 255 && n == std::floor(n) ? int(n) : 0;
}

// Keeps record in slot when it is newer than what slot holds (or ties it and wins ties).
void keepNewest(std::optional<StepRecord>& slot, const StepRecord& record, bool winsTies) {
    if (!record.at.isValid())
        return;
    if (!slot || record.at > slot->at || (winsTies && record.at == slot->at))
        slot = record;
}

// What the host database remembers of each terminal's collections and routine steps.
struct History {
    QHash<int, std::optional<StepRecord>> collection;
    QHash<int, std::optional<StepRecord>> nightly;
};

// The newest SiteStep row of each terminal and step. Only the nightly run collects, so a
// terminal's last nightly run is its newest collect step with the clock and names steps that
// followed it: when the last of them ended, who ran it, each step's result, ok when all were.
void readSiteSteps(store::SqlConnection& cn, History& history) {
    QVector<QVariantList> rows;
    try {
        rows = cn.queryBound(QStringLiteral(
            "SELECT s.MachAddr, s.Step, s.StepAt, s.StepBy, s.Result, s.Ok FROM SiteStep s "
            "JOIN (SELECT MachAddr, Step, MAX(StepAt) AS Latest FROM SiteStep "
            "GROUP BY MachAddr, Step) m "
            "ON s.MachAddr = m.MachAddr AND s.Step = m.Step AND s.StepAt = m.Latest"));
    } catch (const Error&) {
        return; // a database older than the site routine has no SiteStep yet
    }
    const QStringList steps{stepName(Step::Collect), stepName(Step::Clock), stepName(Step::Names)};
    QHash<int, QList<std::optional<StepRecord>>> newest; // by terminal, in the order of steps
    for (const QVariantList& row : rows) {
        const int terminal = terminalOf(row.value(0));
        const qsizetype step = steps.indexOf(row.value(1).toString());
        if (terminal == 0 || step < 0)
            continue;
        auto& mine = newest[terminal];
        mine.resize(steps.size());
        keepNewest(mine[step],
                   {timeOf(row.value(2)), row.value(3).toString(), row.value(4).toString(),
                    row.value(5).toInt() == 1},
                   true);
    }
    for (auto it = newest.cbegin(); it != newest.cend(); ++it) {
        const std::optional<StepRecord>& collected = it->first();
        if (!collected)
            continue;
        history.collection[it.key()] = collected;
        StepRecord run = *collected;
        QStringList results;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const std::optional<StepRecord>& r = it->at(i);
            if (!r || r->at < collected->at)
                continue;
            results << steps[i] + QStringLiteral(": ") + r->result;
            run.ok = run.ok && r->ok;
            run.at = std::max(run.at, r->at);
        }
        run.result = results.join(QStringLiteral("; "));
        history.nightly[it.key()] = run;
    }
}

// The newest collection entry of each terminal in the operation log, in either language. A
// terminal whose latest time is no time (a row written by hand) has its entries read one by one.
void readCollectionLog(store::SqlConnection& cn, History& history) {
    using collect::Text;
    QVariantList actions;
    for (int lang : {2052, 1028})
        for (Text t : {Text::ActionCollect, Text::ActionCollectClear})
            actions << collect::text(t, lang);
    // A collection that ended well begins with the "done" text of the language it was logged in.
    QStringList done;
    for (int lang : {2052, 1028})
        done << collect::text(Text::Done, lang).section(QLatin1Char('%'), 0, 0);
    const auto succeeded = [&](const QString& result) {
        return std::any_of(done.cbegin(), done.cend(),
                           [&](const QString& d) { return !d.isEmpty() && result.startsWith(d); });
    };
    const QString in = QStringLiteral("ActionA IN (?, ?, ?, ?)");
    const auto keep = [&](int terminal, const QVariantList& row) {
        const QString result = row.value(3).toString();
        keepNewest(history.collection[terminal],
                   {timeOf(row.value(1)), row.value(2).toString(), result, succeeded(result)},
                   false);
    };
    try {
        const QString select = QStringLiteral("SELECT c.ObjectA, c.TimeA, c.UserA, c.ResultA ");
        const auto rows = cn.queryBound(
            select + QStringLiteral("FROM CtrlLog c JOIN (SELECT ObjectA, MAX(TimeA) AS Latest "
                                    "FROM CtrlLog WHERE %1 GROUP BY ObjectA) m ON c.ObjectA = "
                                    "m.ObjectA AND c.TimeA = m.Latest WHERE c.%1")
                         .arg(in),
            actions + actions);
        for (const QVariantList& row : rows) {
            const int terminal = terminalOf(row.value(0));
            if (terminal == 0)
                continue;
            if (timeOf(row.value(1)).isValid()) {
                keep(terminal, row);
                continue;
            }
            for (const QVariantList& each : cn.queryBound(
                     select + QStringLiteral("FROM CtrlLog c WHERE c.ObjectA = ? AND c.%1").arg(in),
                     QVariantList{row.value(0)} + actions))
                keep(terminal, each);
        }
    } catch (const Error& e) {
        qWarning("Operation log not read (%s)", qUtf8Printable(e.description()));
    }
}

// A date-time's wall-clock reading, without its time zone.
qint64 wallClockMs(const QDateTime& t) {
    return QDateTime(t.date(), t.time(), Qt::UTC).toMSecsSinceEpoch();
}

// Reads the terminals of one line over link, whose port is open.
class LineStatus {
public:
    LineStatus(Link& link, const std::atomic_bool* cancel) : link_(link), cancel_(cancel) {}

    // Fills in what the terminal tells; expected: the list it should hold, when known.
    void read(TerminalStatus& s, const std::optional<protocol::NameListStatus>& expected) {
        protocol::RecordStatus records;
        QElapsedTimer took;
        took.start();
        if (!link_.readRecordStatus(s.terminal, records)) {
            s.fault = faultOfLink(link_);
            return;
        }
        s.answers = true;
        s.roundTripMs = int(took.elapsed());
        s.recordsWaiting = records.count;

        const QDateTime asked = QDateTime::currentDateTime();
        took.restart();
        QDateTime clock;
        if (link_.readTerminalClock(s.terminal, clock)) {
            // The terminal's clock shows whole seconds: on average half a second behind.
            const qint64 computer = wallClockMs(asked) + took.elapsed() / 2;
            s.clockOffsetS = qint64(std::llround((wallClockMs(clock) + 500 - computer) / 1000.0));
        }

        protocol::NameListStatus held;
        if (expected && link_.readNameListStatus(s.terminal, held))
            s.namesInStep = held == *expected;
    }

    bool cancelled() const { return cancel_ && cancel_->load(); }

private:
    Link& link_;
    const std::atomic_bool* cancel_;
};

QJsonValue orNull(const std::optional<qint64>& v) {
    return v ? QJsonValue(double(*v)) : QJsonValue();
}

QJsonValue stepJson(const std::optional<StepRecord>& r) {
    if (!r)
        return QJsonValue();
    return QJsonObject{{QStringLiteral("at"), r->at.toString(TimeFormat)},
                       {QStringLiteral("by"), r->by},
                       {QStringLiteral("result"), r->result},
                       {QStringLiteral("ok"), r->ok}};
}

QString stepText(const QString& what, const std::optional<StepRecord>& r) {
    if (!r)
        return QStringLiteral("no ") + what;
    return QStringLiteral("%1 %2 by %3: %4")
        .arg(what, r->at.toString(TimeFormat), r->by.isEmpty() ? QStringLiteral("?") : r->by,
             r->result);
}

} // namespace

QList<TerminalStatus::Hand> TerminalStatus::handsNeeded(qint64 clockToleranceS,
                                                        qint64 recordsLimit) const {
    QList<Hand> hands;
    if (!answers)
        hands << Hand::Silent;
    if (clockOffsetS && std::llabs(*clockOffsetS) > clockToleranceS)
        hands << Hand::Clock;
    if (namesInStep && !*namesInStep)
        hands << Hand::Names;
    if (lastCollection && !lastCollection->ok)
        hands << Hand::Collection;
    if (recordsWaiting && *recordsWaiting > recordsLimit)
        hands << Hand::Records;
    return hands;
}

QList<TerminalStatus> readStatus(const StatusRequest& rq,
                                 const std::function<void(const TerminalStatus&)>& each,
                                 const std::atomic_bool* cancel) {
    // The register, what each terminal's list should be and the history, read first: the
    // lines then only talk to terminals.
    QList<TerminalEntry> chosen;
    QList<int> unknown;
    History history;
    QHash<int, protocol::NameListStatus> expected;
    {
        store::SqlConnection cn(rq.connection);
        const QList<TerminalEntry> all = readRegister(cn).terminals;
        for (const TerminalEntry& t : all)
            if (rq.terminals.isEmpty() || rq.terminals.contains(t.address))
                chosen << t;
        for (int n : rq.terminals)
            if (std::none_of(all.cbegin(), all.cend(),
                             [n](const TerminalEntry& t) { return t.address == n; }) &&
                !unknown.contains(n))
                unknown << n;
        for (const TerminalEntry& t : chosen) {
            try {
                const QStringList cards = names::cardsOf(cn, t.address);
                expected[t.address] = {quint32(cards.size()), protocol::nameListChecksum(cards)};
            } catch (const Error& e) {
                qWarning("Name list of terminal %d not read (%s)", t.address,
                         qUtf8Printable(e.description()));
            }
        }
        readSiteSteps(cn, history);
        readCollectionLog(cn, history);
    }

    std::vector<TerminalStatus> found(size_t(chosen.size()));
    for (int i = 0; i < chosen.size(); ++i) {
        TerminalStatus& s = found[size_t(i)];
        s.terminal = chosen[i].address;
        s.port = chosen[i].port;
        s.place = chosen[i].team;
        s.lastCollection = history.collection.value(s.terminal);
        s.lastNightly = history.nightly.value(s.terminal);
    }
    std::mutex mutex;
    const auto tell = [&](const TerminalStatus& s) {
        if (!each)
            return;
        const std::lock_guard<std::mutex> lock(mutex);
        each(s);
    };
    // The line test is the terminal window's communication test: refused, nothing is sent.
    const bool allowed = !rq.lineTest || !rq.rights || rq.rights(Action::LineTest);

    // The readings need no database: the workers open none.
    workPool(
        collect::linesOf(chosen), rq.pool, QString(),
        [&](Worker&, const TerminalLine& line) {
            LineContext context(chosen[line.members.first()].port, rq.comWithoutDevice,
                                rq.lineWaitMs, rq.replyTimeoutMs);
            for (int i : line.members) {
                TerminalStatus& s = found[size_t(i)];
                Link* link = allowed ? context.link() : nullptr;
                if (!allowed) {
                    s.fault.kind = Failure::NotAllowed;
                } else if (cancel && cancel->load()) {
                    s.fault.kind = Failure::Cancelled;
                    s.fault.words = QStringLiteral("cancelled");
                } else if (!link) {
                    s.fault = context.fault();
                } else {
                    LineStatus(*link, cancel)
                        .read(s, expected.contains(s.terminal)
                                     ? std::optional(expected.value(s.terminal))
                                     : std::nullopt);
                }
                tell(s);
            }
        },
        rq.lineWatch);

    QList<TerminalStatus> all(found.begin(), found.end());
    for (int n : unknown) {
        TerminalStatus s;
        s.terminal = n;
        s.fault.kind = Failure::NotInRegister;
        tell(s);
        all << s;
    }
    return all;
}

QJsonObject statusJson(const QList<TerminalStatus>& all, int exitCode) {
    QJsonArray terminals;
    for (const TerminalStatus& s : all)
        terminals.append(QJsonObject{{QStringLiteral("terminal"), s.terminal},
                                     {QStringLiteral("port"), s.port},
                                     {QStringLiteral("place"), s.place},
                                     {QStringLiteral("answers"), s.answers},
                                     {QStringLiteral("roundTripMs"),
                                      s.roundTripMs ? QJsonValue(*s.roundTripMs) : QJsonValue()},
                                     {QStringLiteral("reason"), faultLine(s.fault)},
                                     {QStringLiteral("clockOffsetS"), orNull(s.clockOffsetS)},
                                     {QStringLiteral("recordsWaiting"), orNull(s.recordsWaiting)},
                                     {QStringLiteral("namesInStep"),
                                      s.namesInStep ? QJsonValue(*s.namesInStep) : QJsonValue()},
                                     {QStringLiteral("lastCollection"), stepJson(s.lastCollection)},
                                     {QStringLiteral("lastNightly"), stepJson(s.lastNightly)},
                                     {QStringLiteral("needsHand"), s.needsHand()}});
    return QJsonObject{{QStringLiteral("terminals"), terminals},
                       {QStringLiteral("exit"), exitCode}};
}

QString statusLine(const TerminalStatus& s) {
    QStringList parts;
    if (!s.answers) {
        const QString why = faultLine(s.fault);
        parts << QStringLiteral("does not answer (%1)")
                     .arg(why.isEmpty() ? QStringLiteral("no answer") : why);
    } else {
        parts << QStringLiteral("answers in %1 ms").arg(s.roundTripMs.value_or(0));
        parts << (s.clockOffsetS ? QStringLiteral("clock %1%2 s")
                                       .arg(*s.clockOffsetS >= 0 ? QStringLiteral("+") : QString())
                                       .arg(*s.clockOffsetS)
                                 : QStringLiteral("clock not read"));
        parts << QStringLiteral("%1 records waiting").arg(s.recordsWaiting.value_or(0));
        parts << (!s.namesInStep   ? QStringLiteral("name list not read")
                  : *s.namesInStep ? QStringLiteral("names in step")
                                   : QStringLiteral("names out of step"));
    }
    parts << stepText(QStringLiteral("last collection"), s.lastCollection);
    parts << stepText(QStringLiteral("last nightly run"), s.lastNightly);
    if (s.needsHand())
        parts << QStringLiteral("NEEDS A HAND");
    const QString where =
        s.port.isEmpty()
            ? QString()
            : QStringLiteral(" (%1%2)").arg(
                  s.port, s.place.isEmpty() ? QString() : QStringLiteral(", ") + s.place);
    return QStringLiteral("terminal %1%2: %3")
        .arg(s.terminal)
        .arg(where, parts.join(QStringLiteral("; ")));
}

} // namespace bw::host::site

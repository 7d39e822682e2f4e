#include "host/site/status.h"

#include "host/site/site_run.h"

#include "connect/connection_choice.h"
#include "host/collect/collect_texts.h"
#include "host/collect/lines.h"
#include "host/collect/meal_store.h"
#include "host/ledger/schema.h"
#include "host/link/link.h"
#include "host/names/name_lists.h"
#include "platform/clock_guard.h"
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

// The newest rows of table, one per value of the key columns among the rows where `where`
// holds (with values bound): the one written last; by the time column only where the engine
// numbers no rows (or the table has no Seq yet). Columns are named with the alias s., `where`
// names only columns of table that are no key; the last column of each row is its place in
// the write order (0 without one).
QVector<QVariantList> newestRows(store::SqlConnection& cn, const QString& columns,
                                 const QString& table, const QStringList& key,
                                 const QString& timeColumn, const QString& where,
                                 const QVariantList& values) {
    QStringList on;
    for (const QString& k : key)
        on << QStringLiteral("s.%1 = m.%1").arg(k);
    const QString keys = key.join(QStringLiteral(", "));
    const QString order = writeOrderColumn(cn);
    if (!order.isEmpty()) {
        try {
            return cn.queryBound(
                QStringLiteral("SELECT %1, s.%2 FROM %3 s JOIN (SELECT %4, MAX(%2) AS Latest "
                               "FROM %3 WHERE %5 GROUP BY %4) m ON %6 AND s.%2 = m.Latest")
                    .arg(columns, order, table, keys, where, on.join(QStringLiteral(" AND "))),
                values);
        } catch (const Error&) {
            // a PostgreSQL database the schema has not given its Seq yet
        }
    }
    return cn.queryBound(
        QStringLiteral("SELECT %1, 0 FROM %2 s JOIN (SELECT %3, MAX(%4) AS Latest FROM %2 WHERE "
                       "%5 GROUP BY %3) m ON %6 AND s.%4 = m.Latest WHERE %5")
            .arg(columns, table, keys, timeColumn, where, on.join(QStringLiteral(" AND "))),
        values + values);
}

// The newest operation-log entry of each object among the entries of actions, as newestRows
// gives them (ObjectA, TimeA, UserA, ResultA, place in the write order). Each action's objects
// are found one after the other, and the last written of each, in the index CtrlLogLatest:
// the time does not grow with the entries. Empty where the engine numbers no rows; raises
// bw::Error where the query cannot be run.
std::optional<QVector<QVariantList>> newestLogRows(store::SqlConnection& cn,
                                                   const QVariantList& actions) {
    const QString order = writeOrderColumn(cn);
    if (order.isEmpty())
        return std::nullopt;
    QHash<QString, QVariantList> newest; // by object
    for (const QVariant& action : actions)
        for (const QVariantList& row : cn.queryBound(
                 QStringLiteral(
                     "WITH RECURSIVE o(v) AS (SELECT MIN(ObjectA) FROM CtrlLog WHERE ActionA = ? "
                     "UNION ALL SELECT (SELECT MIN(ObjectA) FROM CtrlLog WHERE ActionA = ? AND "
                     "ObjectA > o.v) FROM o WHERE o.v IS NOT NULL) SELECT s.ObjectA, s.TimeA, "
                     "s.UserA, s.ResultA, s.%1 FROM o JOIN CtrlLog s ON s.ActionA = ? AND "
                     "s.ObjectA = o.v AND s.%1 = (SELECT MAX(%1) FROM CtrlLog WHERE ActionA = ? "
                     "AND ObjectA = o.v)")
                     .arg(order),
                 {action, action, action, action})) {
            const QString object = row.value(0).toString();
            const auto it = newest.constFind(object);
            if (it == newest.cend() || row.value(4).toLongLong() > it->value(4).toLongLong())
                newest[object] = row;
        }
    return QVector<QVariantList>(newest.cbegin(), newest.cend());
}

// What the host database remembers of each terminal's collections and routine steps.
struct History {
    QHash<int, std::optional<StepRecord>> collection;
    QHash<int, std::optional<StepRecord>> nightly;
    QHash<int, std::optional<StepRecord>> good; // the newest collection that went well
};

// Of a terminal's newest collection in SiteStep and in the operation log (two tables whose
// write orders cannot be compared) the later by time, but a time still to come counts as none:
// a row dated in the future by a wrong computer clock does not hide a later one.
void keepLater(std::optional<StepRecord>& slot, const StepRecord& record) {
    const QDateTime now = QDateTime::currentDateTime().addSecs(ClockToleranceS);
    const auto when = [&](const StepRecord& r) { return r.at <= now ? r.at : QDateTime(); };
    if (!slot || when(record) > when(*slot))
        slot = record;
}

// The newest SiteStep row of each terminal and step. Only the nightly run collects, so a
// terminal's last nightly run is its newest collect step with the clock and names steps
// written after it: when the last of them ended, who ran it, each step's result, ok when all
// were.
void readSiteSteps(store::SqlConnection& cn, History& history) {
    QVector<QVariantList> rows;
    try {
        rows = newestRows(
            cn, QStringLiteral("s.MachAddr, s.Step, s.StepAt, s.StepBy, s.Result, s.Ok"),
            QStringLiteral("SiteStep"), {QStringLiteral("MachAddr"), QStringLiteral("Step")},
            QStringLiteral("StepAt"), QStringLiteral("1 = 1"), {});
    } catch (const Error&) {
        return; // a database older than the site routine has no SiteStep yet
    }
    const QStringList steps{stepName(Step::Collect), stepName(Step::Clock), stepName(Step::Names)};
    struct Written {
        StepRecord record;
        qint64 order = 0;
    };
    QHash<int, QList<std::optional<Written>>> newest; // by terminal, in the order of steps
    for (const QVariantList& row : rows) {
        const int terminal = terminalOf(row.value(0));
        const qsizetype step = steps.indexOf(row.value(1).toString());
        if (terminal == 0 || step < 0)
            continue;
        auto& mine = newest[terminal];
        mine.resize(steps.size());
        const Written w{{timeOf(row.value(2)), row.value(3).toString(), row.value(4).toString(),
                         row.value(5).toInt() == 1},
                        row.value(6).toLongLong()};
        // Only the time fallback can give two rows of one step (written in the same second).
        if (!mine[step] || w.order >= mine[step]->order)
            mine[step] = w;
    }
    for (auto it = newest.cbegin(); it != newest.cend(); ++it) {
        const std::optional<Written>& collected = it->first();
        if (!collected)
            continue;
        keepLater(history.collection[it.key()], collected->record);
        StepRecord run = collected->record;
        qint64 last = collected->order;
        QStringList results;
        for (qsizetype i = 0; i < steps.size(); ++i) {
            const std::optional<Written>& r = it->at(i);
            // Without a write order the times decide which steps followed the collection.
            if (!r || (collected->order ? r->order < collected->order
                                        : r->record.at < collected->record.at))
                continue;
            results << steps[i] + QStringLiteral(": ") + r->record.result;
            run.ok = run.ok && r->record.ok;
            if (r->order > last || (!collected->order && r->record.at > run.at)) {
                last = r->order;
                run.at = r->record.at;
            }
        }
        run.result = results.join(QStringLiteral("; "));
        history.nightly[it.key()] = run;
    }
}

// The newest collection entry of each terminal in the operation log, in either language.
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
    try {
        std::optional<QVector<QVariantList>> found;
        try {
            found = newestLogRows(cn, actions);
        } catch (const Error&) {
            // a PostgreSQL database the schema has not given its Seq yet
        }
        const auto rows =
            found ? *found
                  : newestRows(cn, QStringLiteral("s.ObjectA, s.TimeA, s.UserA, s.ResultA"),
                               QStringLiteral("CtrlLog"), {QStringLiteral("ObjectA")},
                               QStringLiteral("TimeA"), QStringLiteral("ActionA IN (?, ?, ?, ?)"),
                               actions);
        const QString order = writeOrderColumn(cn);
        for (QVariantList row : rows) {
            const int terminal = terminalOf(row.value(0));
            if (terminal == 0)
                continue;
            // An entry whose time is no time was written by hand, not by a collection: the
            // newest entry before it with a time counts.
            if (!timeOf(row.value(1)).isValid()) {
                const auto each = cn.queryBound(
                    QStringLiteral("SELECT s.ObjectA, s.TimeA, s.UserA, s.ResultA FROM CtrlLog s "
                                   "WHERE s.ObjectA = ? AND s.ActionA IN (?, ?, ?, ?)%1")
                        .arg(order.isEmpty() ? QString() : QStringLiteral(" ORDER BY s.") + order),
                    QVariantList{row.value(0)} + actions);
                row.clear();
                for (const QVariantList& e : each)
                    if (timeOf(e.value(1)).isValid() &&
                        (row.isEmpty() || !order.isEmpty() ||
                         timeOf(e.value(1)) >= timeOf(row.value(1))))
                        row = e;
                if (row.isEmpty())
                    continue;
            }
            const QString result = row.value(3).toString();
            keepLater(history.collection[terminal],
                      {timeOf(row.value(1)), row.value(2).toString(), result, succeeded(result)});
        }
    } catch (const Error& e) {
        qWarning("Operation log not read (%s)", qUtf8Printable(e.description()));
    }
}

// The newest good collection of each terminal: its newest collection when that went well,
// else the newest one that did, looked for only for those terminals.
void readGoodCollections(store::SqlConnection& cn, History& history) {
    using collect::Text;
    QVariantList actions, done;
    for (int lang : {2052, 1028}) {
        for (Text t : {Text::ActionCollect, Text::ActionCollectClear})
            actions << collect::text(t, lang);
        done << collect::text(Text::Done, lang).section(QLatin1Char('%'), 0, 0) + QLatin1Char('%');
    }
    const QString logGood = QStringLiteral(
        "FROM CtrlLog WHERE ObjectA = ? AND ActionA IN (?, ?, ?, ?) AND (ResultA LIKE ? OR "
        "ResultA LIKE ?)");
    const QString siteGood =
        QStringLiteral("FROM SiteStep WHERE MachAddr = ? AND Step = ? AND Ok = 1");
    for (auto it = history.collection.cbegin(); it != history.collection.cend(); ++it) {
        if (!*it || (*it)->ok) {
            history.good[it.key()] = *it;
            continue;
        }
        const QVariantList logValues = QVariantList{QString::number(it.key())} + actions + done;
        const QVariantList siteValues{it.key(), stepName(Step::Collect)};
        const struct {
            QString from;
            QVariantList values;
            QString columns, time;
        } sources[] = {
            {logGood, logValues, QStringLiteral("TimeA, UserA, ResultA"), QStringLiteral("TimeA")},
            {siteGood, siteValues, QStringLiteral("StepAt, StepBy, Result"),
             QStringLiteral("StepAt")}};
        for (const auto& source : sources) {
            try {
                const auto rows =
                    cn.queryBound(QStringLiteral("SELECT %1 %2 AND %3 = (SELECT MAX(%3) %2)")
                                      .arg(source.columns, source.from, source.time),
                                  source.values + source.values);
                if (!rows.isEmpty())
                    keepLater(history.good[it.key()],
                              {timeOf(rows.first().value(0)), rows.first().value(1).toString(),
                               rows.first().value(2).toString(), true});
            } catch (const Error& e) {
                qWarning("Good collections not read (%s)", qUtf8Printable(e.description()));
            }
        }
    }
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
        const bool read = link_.readRecordStatus(s.terminal, records);
        // A status the link refuses as impossible still came from the terminal: it answers,
        // and what it said is reported as impossible, not as silence.
        if (!read && link_.lastFailure() != Link::Failure::BadStatus) {
            s.fault = faultOfLink(link_);
            return;
        }
        s.answers = true;
        s.roundTripMs = int(took.elapsed());
        if (read)
            s.recordsWaiting = records.count;
        else
            s.impossibleRecords = true;

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
    if (!station.isEmpty() || fault.kind == Failure::NotAllowed) {
        // never asked here (another workstation's, or a line test the operator may not make):
        // only what the database keeps tells
    } else if (!answers) {
        hands << Hand::Silent;
    } else {
        if (impossibleRecords)
            hands << Hand::ImpossibleRecords;
        if (!clockOffsetS)
            hands << Hand::ClockUnread;
        if (!namesInStep)
            hands << Hand::NamesUnread;
    }
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
    QList<TerminalEntry> chosen, others;
    QList<int> unknown;
    History history;
    QHash<int, protocol::NameListStatus> expected;
    Register reg;
    {
        store::SqlConnection cn(rq.connection);
        reg = readRegister(cn);
        const QList<TerminalEntry>& all = reg.terminals;
        for (const TerminalEntry& t : all)
            if (rq.terminals.isEmpty() || rq.terminals.contains(t.address))
                chosen << t;
        for (const TerminalEntry& t : std::as_const(reg.elsewhere))
            if (rq.terminals.isEmpty() ? rq.withOthers : rq.terminals.contains(t.address))
                others << t;
        for (int n : rq.terminals)
            if (std::none_of(all.cbegin(), all.cend(),
                             [n](const TerminalEntry& t) { return t.address == n; }) &&
                !reg.stations.contains(n) && !unknown.contains(n))
                unknown << n;
        // Every chosen terminal's list in one query.
        QList<int> addresses;
        for (const TerminalEntry& t : chosen)
            addresses << t.address;
        try {
            const QHash<int, QStringList> lists = names::cardsOfEach(cn, addresses);
            for (auto it = lists.cbegin(); it != lists.cend(); ++it)
                expected[it.key()] = {quint32(it.value().size()),
                                      protocol::nameListChecksum(it.value())};
        } catch (const Error& e) {
            qWarning("Name lists not read (%s)", qUtf8Printable(e.description()));
        }
        readSiteSteps(cn, history);
        readCollectionLog(cn, history);
        readGoodCollections(cn, history);
    }

    std::vector<TerminalStatus> found(size_t(chosen.size()));
    for (int i = 0; i < chosen.size(); ++i) {
        TerminalStatus& s = found[size_t(i)];
        s.terminal = chosen[i].address;
        s.port = chosen[i].port;
        s.place = chosen[i].team;
        s.lastCollection = history.collection.value(s.terminal);
        s.lastGoodCollection = history.good.value(s.terminal);
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
            LineContext context(chosen[line.members.first()].port, rq.lineWaitMs,
                                rq.replyTimeoutMs);
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
    for (const TerminalEntry& t : std::as_const(others)) {
        TerminalStatus s;
        s.terminal = t.address;
        s.port = t.port;
        s.place = t.team;
        s.station = reg.stations.value(t.address);
        s.fault.kind = Failure::OtherWorkstation;
        s.fault.cause = s.station;
        s.lastCollection = history.collection.value(s.terminal);
        s.lastGoodCollection = history.good.value(s.terminal);
        s.lastNightly = history.nightly.value(s.terminal);
        tell(s);
        all << s;
    }
    for (int n : unknown) {
        TerminalStatus s;
        s.terminal = n;
        s.fault.kind = Failure::NotInRegister;
        tell(s);
        all << s;
    }
    return all;
}

QString handName(TerminalStatus::Hand hand) {
    using Hand = TerminalStatus::Hand;
    switch (hand) {
    case Hand::Silent:
        return QStringLiteral("silent");
    case Hand::Clock:
        return QStringLiteral("clock");
    case Hand::Names:
        return QStringLiteral("names");
    case Hand::Collection:
        return QStringLiteral("collection");
    case Hand::Records:
        return QStringLiteral("records");
    case Hand::ImpossibleRecords:
        return QStringLiteral("impossible-records");
    case Hand::ClockUnread:
        return QStringLiteral("clock-unread");
    case Hand::NamesUnread:
        return QStringLiteral("names-unread");
    }
    return QString();
}

QJsonObject statusJson(const QList<TerminalStatus>& all, int exitCode) {
    QJsonArray terminals;
    for (const TerminalStatus& s : all) {
        QJsonArray hands;
        for (TerminalStatus::Hand h : s.handsNeeded())
            hands.append(handName(h));
        terminals.append(
            QJsonObject{{QStringLiteral("terminal"), s.terminal},
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
                        {QStringLiteral("lastGoodCollection"), stepJson(s.lastGoodCollection)},
                        {QStringLiteral("lastNightly"), stepJson(s.lastNightly)},
                        {QStringLiteral("impossibleRecords"), s.impossibleRecords},
                        {QStringLiteral("workstation"),
                         s.station.isEmpty() ? QJsonValue() : QJsonValue(s.station)},
                        {QStringLiteral("hands"), hands},
                        {QStringLiteral("needsHand"), !hands.isEmpty()}});
    }
    return QJsonObject{{QStringLiteral("terminals"), terminals},
                       {QStringLiteral("exit"), exitCode}};
}

namespace {

// A label value of the text format: a backslash, a double quote and a line feed escaped.
QString labelValue(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\\')
            out += QStringLiteral("\\\\");
        else if (c == u'"')
            out += QStringLiteral("\\\"");
        else if (c == u'\n')
            out += QStringLiteral("\\n");
        else
            out += c;
    }
    return out;
}

QString sampleValue(double v) {
    return QString::number(v, 'g', 15);
}

} // namespace

QString statusPrometheus(const QList<TerminalStatus>& all, const QDateTime& at, bool read) {
    using Value = std::optional<double>;
    const auto asked = [](const TerminalStatus& s) { return s.station.isEmpty(); };
    const auto flag = [](bool b) { return Value(b ? 1 : 0); };
    const struct {
        const char* name;
        const char* help;
        std::function<Value(const TerminalStatus&)> value;
    } families[] = {
        {"brackwater_terminal_info", "The terminal's port, place and workstation (value 1).",
         [](const TerminalStatus&) { return Value(1); }},
        {"brackwater_terminal_answers", "1 when the terminal answered the reading, else 0.",
         [&](const TerminalStatus& s) { return asked(s) ? flag(s.answers) : Value(); }},
        {"brackwater_terminal_round_trip_seconds", "The record-status exchange's round trip.",
         [](const TerminalStatus& s) {
             return s.roundTripMs ? Value(*s.roundTripMs / 1000.0) : Value();
         }},
        {"brackwater_terminal_clock_offset_seconds",
         "The terminal's clock minus the computer's clock.",
         [](const TerminalStatus& s) {
             return s.clockOffsetS ? Value(double(*s.clockOffsetS)) : Value();
         }},
        {"brackwater_terminal_records_waiting", "Meal records stored on the terminal.",
         [](const TerminalStatus& s) {
             return s.recordsWaiting ? Value(double(*s.recordsWaiting)) : Value();
         }},
        {"brackwater_terminal_names_in_step",
         "1 when the terminal's name list is the database's, 0 when not.",
         [&](const TerminalStatus& s) { return s.namesInStep ? flag(*s.namesInStep) : Value(); }},
        {"brackwater_terminal_last_good_collection_age_seconds",
         "Seconds since the terminal's last collection that went well.",
         [&](const TerminalStatus& s) {
             return s.lastGoodCollection && s.lastGoodCollection->at.isValid()
                        ? Value(double(s.lastGoodCollection->at.secsTo(at)))
                        : Value();
         }},
        {"brackwater_terminal_never_collected",
         "1 for a terminal that never had a collection that went well.",
         [&](const TerminalStatus& s) {
             return s.lastGoodCollection && s.lastGoodCollection->at.isValid() ? Value() : Value(1);
         }},
        {"brackwater_terminal_needs_hand", "1 when the terminal needs a hand, else 0.",
         [&](const TerminalStatus& s) { return flag(s.needsHand()); }},
    };
    QString out;
    const auto family = [&out](const char* name, const char* help) {
        out += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n")
                   .arg(QLatin1String(name), QLatin1String(help));
    };
    family("brackwater_site_read_ok", "1 when the host database was read, else 0.");
    out += QStringLiteral("brackwater_site_read_ok %1\n").arg(read ? 1 : 0);
    family("brackwater_site_scrape_timestamp_seconds", "When the site was read, Unix time.");
    out += QStringLiteral("brackwater_site_scrape_timestamp_seconds %1\n")
               .arg(sampleValue(at.toMSecsSinceEpoch() / 1000.0));
    for (const auto& f : families) {
        family(f.name, f.help);
        for (const TerminalStatus& s : all) {
            if (s.fault.kind == Failure::NotInRegister)
                continue;
            const Value v = f.value(s);
            if (!v)
                continue;
            QString labels = QStringLiteral("terminal=\"%1\"").arg(s.terminal);
            if (&f == &families[0])
                labels += QStringLiteral(",port=\"%1\",place=\"%2\",workstation=\"%3\"")
                              .arg(labelValue(s.port), labelValue(s.place), labelValue(s.station));
            out +=
                QStringLiteral("%1{%2} %3\n").arg(QLatin1String(f.name), labels, sampleValue(*v));
        }
    }
    return out;
}

QString statusLine(const TerminalStatus& s) {
    QStringList parts;
    if (!s.station.isEmpty()) {
        parts << QStringLiteral("worked by workstation %1, not asked").arg(s.station);
    } else if (!s.answers) {
        const QString why = faultLine(s.fault);
        parts << QStringLiteral("does not answer (%1)")
                     .arg(why.isEmpty() ? QStringLiteral("no answer") : why);
    } else {
        parts << QStringLiteral("answers in %1 ms").arg(s.roundTripMs.value_or(0));
        parts << (s.clockOffsetS ? QStringLiteral("clock %1%2 s")
                                       .arg(*s.clockOffsetS >= 0 ? QStringLiteral("+") : QString())
                                       .arg(*s.clockOffsetS)
                                 : QStringLiteral("clock not read"));
        parts << (s.impossibleRecords
                      ? QStringLiteral("impossible record status")
                      : QStringLiteral("%1 records waiting").arg(s.recordsWaiting.value_or(0)));
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

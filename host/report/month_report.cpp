#include "host/report/month_report.h"

#include "host/collect/record_export.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <QMap>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <QTime>
#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <sqlite3.h>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace bw::host::report {

namespace {

// The time of day and the day of RecordTime as texts "HH:mm:ss" and "yyyy-MM-dd": SQLite
// holds the text itself, PostgreSQL a timestamp.
QString timeOfDay(const store::SqlConnection& cn) {
    return cn.engine() == store::SqlConnection::Engine::Postgres
               ? QStringLiteral("to_char(RecordTime, 'HH24:MI:SS')")
               : QStringLiteral("substr(RecordTime, 12, 8)");
}

QString dayOf(const store::SqlConnection& cn) {
    return cn.engine() == store::SqlConnection::Engine::Postgres
               ? QStringLiteral("to_char(RecordTime, 'YYYY-MM-DD')")
               : QStringLiteral("substr(RecordTime, 1, 10)");
}

// The seconds of the day of "HH:mm:ss", or -1 for any other text.
int secondsOfDay(std::string_view t) {
    if (t.size() < 8 || t[2] != ':' || t[5] != ':')
        return -1;
    int digits[6];
    const int at[6] = {0, 1, 3, 4, 6, 7};
    for (int i = 0; i < 6; ++i) {
        if (t[at[i]] < '0' || t[at[i]] > '9')
            return -1;
        digits[i] = t[at[i]] - '0';
    }
    return (digits[0] * 10 + digits[1]) * 3600 + (digits[2] * 10 + digits[3]) * 60 +
           digits[4] * 10 + digits[5];
}

Meal mealAt(const MealWindows& windows, std::string_view time) {
    const int s = secondsOfDay(time);
    for (int m = 0; m < MealCount && s >= 0; ++m)
        if (s >= windows[m].startMin * 60 && s < windows[m].endMin * 60)
            return Meal(m);
    return Meal::Other;
}

std::string_view trimmed(std::string_view v) {
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.front())))
        v.remove_prefix(1);
    while (!v.empty() && std::isspace(static_cast<unsigned char>(v.back())))
        v.remove_suffix(1);
    return v;
}

// One record as the reading pass sees it: UTF-8 texts valid until the next record.
struct RecordView {
    std::string_view employee, card, time, day;
    int terminal = 0;
};
using RecordSink = std::function<void(const RecordView&)>;

// The embedded database read through SQLite's own interface: its texts are taken where SQLite
// holds them, with no copy per record (the pass is most of the report's time).
bool readSqlite(store::SqlConnection& cn, const QString& sql, const QVariantList& values,
                const RecordSink& sink) {
    const QVariant handle = cn.database().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return false;
    sqlite3* db = *static_cast<sqlite3* const*>(handle.data());
    sqlite3_stmt* st = nullptr;
    auto fail = [&] {
        const QString why = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(st);
        throw Error(store::dberr::CommandFailed, why);
    };
    if (!db || sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
        fail();
    for (int i = 0; i < values.size(); ++i) {
        const QVariant& v = values[i];
        const int rc = v.typeId() == QMetaType::Int
                           ? sqlite3_bind_int(st, i + 1, v.toInt())
                           : sqlite3_bind_text(st, i + 1, v.toString().toUtf8().constData(), -1,
                                               SQLITE_TRANSIENT);
        if (rc != SQLITE_OK)
            fail();
    }
    auto text = [st](int column) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, column));
        return p ? std::string_view(p, size_t(sqlite3_column_bytes(st, column)))
                 : std::string_view();
    };
    const int columns = sqlite3_column_count(st);
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
        RecordView r{text(0), text(1), text(2), {}, 0};
        if (columns > 3) {
            r.terminal = sqlite3_column_int(st, 3);
            r.day = text(4);
        }
        sink(r);
    }
    if (rc != SQLITE_DONE)
        fail();
    sqlite3_finalize(st);
    return true;
}

// Any other database through Qt SQL, read forward (a server sends the rows as they come).
void readQuery(store::SqlConnection& cn, const QString& sql, const QVariantList& values,
               const RecordSink& sink) {
    QSqlQuery q(cn.database());
    q.setForwardOnly(true);
    if (!q.prepare(sql))
        throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec())
        throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
    const bool byDay = q.record().count() > 3;
    while (q.next()) {
        QByteArray texts[4] = {q.value(0).toString().toUtf8(), q.value(1).toString().toUtf8(),
                               q.value(2).toString().toUtf8(),
                               byDay ? q.value(4).toString().toUtf8() : QByteArray()};
        auto view = [](const QByteArray& b) { return std::string_view(b.constData(), b.size()); };
        sink({view(texts[0]), view(texts[1]), view(texts[2]), view(texts[3]),
              byDay ? q.value(3).toInt() : 0});
    }
    if (q.lastError().isValid())
        throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
}

// Hash maps looked up by a view of a record's text, without making a string of it.
struct TextHash {
    using is_transparent = void;
    size_t operator()(std::string_view v) const { return std::hash<std::string_view>()(v); }
};
template <class T> using TextMap = std::unordered_map<std::string, T, TextHash, std::equal_to<>>;

struct Employee {
    Counts counts;
    std::vector<std::string> cards;
};

// A meal's key: the card's number in the pass, the day of the month and the meal.
quint64 mealKey(quint32 card, int day, Meal meal) {
    return (quint64(card) << 8) | quint64(day << 2) | quint64(meal);
}

QString timeText(int seconds) {
    return QTime(0, 0).addSecs(seconds).toString(QStringLiteral("HH:mm:ss"));
}

template <class T> T& entry(TextMap<T>& map, std::string_view key) {
    auto it = map.find(key);
    if (it == map.end())
        it = map.emplace(std::string(key), T()).first;
    return it->second;
}

QString text(const std::string& utf8) {
    return QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
}

// The month's records of the request, and the values to bind.
QString monthFilter(const Request& rq, QVariantList& values) {
    const QDate first(rq.month.year(), rq.month.month(), 1);
    return collect::periodFilter(first, first.addMonths(1), rq.terminals, values);
}

struct Known {
    QString name, department;
    bool employed = false; // by the register in the month
};

// The names and departments of the employees, where the register has them, and whether it
// employed them in the month (an older schema on a server the operator may not change has no
// Employees table, or not its columns: the report then goes without them).
QMap<QString, Known> knownEmployees(store::SqlConnection& cn, const QDate& first) {
    QMap<QString, Known> known;
    const QVariantList days{first.addMonths(1).toString(QStringLiteral("yyyy-MM-dd")),
                            first.toString(QStringLiteral("yyyy-MM-dd"))};
    try {
        for (const QVariantList& row : cn.queryBound(
                 QStringLiteral("SELECT EmpNo, Name, Department, CASE WHEN StartDay < ? AND "
                                "(LeaveDay IS NULL OR LeaveDay > ?) THEN 1 ELSE 0 END FROM "
                                "Employees"),
                 days))
            known.insert(
                row.value(0).toString().trimmed(),
                Known{row.value(1).toString(), row.value(2).toString(), row.value(3).toInt() == 1});
        return known;
    } catch (const Error& e) {
        if (e.number() != store::dberr::CommandFailed)
            throw;
    }
    try {
        for (const QVariantList& row :
             cn.queryBound(QStringLiteral("SELECT EmpNo, Name FROM Employees")))
            known.insert(row.value(0).toString().trimmed(), Known{row.value(1).toString(), {}});
    } catch (const Error& e) {
        if (e.number() != store::dberr::CommandFailed)
            throw;
    }
    return known;
}

} // namespace

Prices pricesOf(const Settings& settings) {
    Prices p;
    for (int m = 0; m < MealCount; ++m)
        p.mealFen[m] = std::max(0, settings.mealPriceFen[m]);
    p.subsidyFen = std::max(0, settings.subsidyFen);
    return p;
}

qint64 amountFen(const Counts& counts, const Prices& prices) {
    qint64 sum = -prices.subsidyFen;
    for (int m = 0; m < MealCount; ++m)
        sum += counts.meals[m] * prices.mealFen[m];
    return std::max<qint64>(0, sum);
}

qint64 Counts::total() const {
    qint64 sum = 0;
    for (qint64 n : meals)
        sum += n;
    return sum;
}

Meal classify(const MealWindows& windows, const QString& time) {
    const QByteArray t = time.toUtf8();
    return mealAt(windows, std::string_view(t.constData(), size_t(t.size())));
}

QDate parseMonth(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{4})-([0-9]{2})$"));
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return QDate();
    return QDate(m.captured(1).toInt(), m.captured(2).toInt(), 1);
}

MonthReport readMonthReport(store::SqlConnection& cn, const Request& rq) {
    MonthReport out;
    out.month = QDate(rq.month.year(), rq.month.month(), 1);
    out.windows = rq.windows;
    QVariantList values;
    QString sql = QStringLiteral("SELECT EmpNo, CardNo, ") + timeOfDay(cn) +
                  QStringLiteral(", MachAddr, ") + dayOf(cn) + monthFilter(rq, values);
    // One pass over the month's records, read forward as they come: the counts are kept per
    // employee, card, and terminal and day, never per record. (SQLite would sort every record
    // for a GROUP BY; a hash of the few thousand keys is several times quicker.)
    TextMap<Employee> employees;
    TextMap<Counts> cards;
    // By terminal and day of the month (its two digits; a day written otherwise counts as 0).
    std::map<std::pair<qint64, int>, std::pair<std::string, Counts>> days;
    // The meals counted, each with its swipe's time; the cards by their number in the pass.
    TextMap<quint32> cardNumbers;
    std::unordered_map<quint64, int> meals;
    struct Repeat {
        std::string employee, card, day;
        quint64 key;
        int seconds;
    };
    std::vector<Repeat> repeats;
    const RecordSink count = [&](const RecordView& r) {
        const Meal m = mealAt(rq.windows, r.time);
        const bool digits =
            r.day.size() == 10 && std::isdigit(uchar(r.day[8])) && std::isdigit(uchar(r.day[9]));
        const int dayOfMonth = digits ? (r.day[8] - '0') * 10 + r.day[9] - '0' : 0;
        const std::string_view employee = trimmed(r.employee), card = trimmed(r.card);
        if (m != Meal::Other) {
            quint32& number = entry(cardNumbers, card);
            if (number == 0)
                number = quint32(cardNumbers.size());
            const quint64 key = mealKey(number, dayOfMonth, m);
            const int seconds = secondsOfDay(r.time);
            const auto [it, fresh] = meals.emplace(key, seconds);
            if (!fresh) {
                // The earliest swipe is the meal; every later one a repeat.
                repeats.push_back({std::string(employee), std::string(card), std::string(r.day),
                                   key, std::max(seconds, it->second)});
                it->second = std::min(seconds, it->second);
                return;
            }
        }
        out.total.add(m, 1);
        if (rq.byDay) {
            auto& day = days[{r.terminal, dayOfMonth}];
            if (day.first.empty())
                day.first = r.day;
            day.second.add(m, 1);
        }
        if (employee.empty()) {
            entry(cards, card).add(m, 1);
            return;
        }
        Employee& e = entry(employees, employee);
        e.counts.add(m, 1);
        if (std::find(e.cards.begin(), e.cards.end(), card) == e.cards.end())
            e.cards.emplace_back(card);
    };
    cn.attempt(store::SqlConnection::Use::Read, [&] {
        employees.clear();
        cards.clear();
        days.clear();
        cardNumbers.clear();
        meals.clear();
        repeats.clear();
        out.total = Counts();
        if (!readSqlite(cn, sql, values, count))
            readQuery(cn, sql, values, count);
    });
    QMap<QString, Known> known = knownEmployees(cn, out.month);
    for (const auto& [number, e] : employees) {
        QStringList held;
        for (const std::string& card : e.cards)
            held << text(card);
        held.sort();
        const Known k = known.take(text(number));
        out.employees << PersonRow{text(number), k.name, held.join(QStringLiteral(", ")), e.counts,
                                   k.department};
    }
    // Those the register employed in the month who had no meal.
    for (auto it = known.cbegin(); it != known.cend(); ++it)
        if (it->employed && !it.key().isEmpty())
            out.employees << PersonRow{it.key(), it->name, QString(), Counts(), it->department};
    for (const Repeat& r : repeats)
        out.repeats << RepeatRow{
            text(r.employee),          text(r.card),       text(r.day), Meal(r.key & 3),
            timeText(meals.at(r.key)), timeText(r.seconds)};
    std::sort(out.repeats.begin(), out.repeats.end(), [](const RepeatRow& a, const RepeatRow& b) {
        return std::tie(a.employee, a.card, a.day, a.time) <
               std::tie(b.employee, b.card, b.day, b.time);
    });
    for (const auto& [card, counts] : cards)
        out.cards << PersonRow{QString(), QString(), text(card), counts, QString()};
    const auto byText = [](QString PersonRow::*field) {
        return [field](const PersonRow& a, const PersonRow& b) { return a.*field < b.*field; };
    };
    std::sort(out.employees.begin(), out.employees.end(), byText(&PersonRow::employee));
    std::sort(out.cards.begin(), out.cards.end(), byText(&PersonRow::cards));
    for (const auto& [key, day] : days)
        out.days << DayRow{int(key.first), text(day.first), day.second};
    return out;
}

} // namespace bw::host::report

#include "host/collect/meal_store.h"

#include "host/collect/collect_texts.h"
#include "host/ledger/stations.h"
#include "platform/error.h"
#include "platform/language.h"
#include "platform/port_text.h"
#include "store/ctrl_log.h"
#include "store/sql_connection.h"

#include <QRegularExpression>
#include <QSet>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <libpq-fe.h>
#include <poll.h>
#include <sqlite3.h>

namespace bw::host::collect {

namespace {

constexpr const char* kColumns =
    "MachAddr, RecordNo, CardNo, EmpNo, RecordTime, Flag, CollectedAt, CollectedBy, Series";
constexpr int kColumnCount = 9;

// The insert-or-ignore statement of `rows` records (SQLite; PostgreSQL: insertArrays).
QString insertStatement(store::BackendSettings::Kind kind, int rows) {
    QStringList values;
    const QString one = QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (int i = 0; i < rows; ++i)
        values << one;
    const QString columns = QString::fromLatin1(kColumns);
    switch (kind) {
    case store::BackendSettings::Kind::Sqlite:
        return QStringLiteral("INSERT OR IGNORE INTO MealRecord (%1) VALUES %2")
            .arg(columns, values.join(QStringLiteral(", ")));
    default:
        // Other databases: one row at a time, after a look whether it is there (the unique key
        // refuses a row another workstation stored in between; the batch is then tried again
        // by the next collection).
        return QStringLiteral("INSERT INTO MealRecord (%1) VALUES %2").arg(columns, one);
    }
}

} // namespace

bool timeChars(const QDateTime& time, char (&out)[19]) {
    // Written digit by digit: every record collected passes here, and the locale's formatter
    // costs as much as storing the record.
    const QDate d = time.date();
    if (!time.isValid() || d.year() < 1 || d.year() > 9999)
        return false;
    const QTime t = time.time();
    auto put = [&](int at, int digits, int value, char after) {
        for (int i = at + digits - 1; i >= at; --i, value /= 10)
            out[i] = char('0' + value % 10);
        if (at + digits < 19)
            out[at + digits] = after;
    };
    put(0, 4, d.year(), '-');
    put(5, 2, d.month(), '-');
    put(8, 2, d.day(), ' ');
    put(11, 2, t.hour(), ':');
    put(14, 2, t.minute(), ':');
    put(17, 2, t.second(), 0);
    return true;
}

QString timeText(const QDateTime& time) {
    char text[19];
    if (!timeChars(time, text)) // years outside 1..9999 take the formatter's way
        return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    return QString::fromLatin1(text, 19);
}

void appendCopyText(std::string& out, const QString& text) {
    const auto put = [&out](char c) {
        switch (c) {
        case '\\':
            out += "\\\\";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        default:
            out += c;
        }
    };
    const QChar* p = text.constData();
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (p[i].unicode() >= 0x80) {
            // The rest through UTF-8: its bytes of a character beyond ASCII never look like
            // one of the escaped ones.
            for (const char c : QStringView(text).sliced(i).toUtf8())
                put(c);
            return;
        }
        put(char(p[i].unicode()));
    }
}

namespace {

// The connection of the PostgreSQL driver underneath, or null.
PGconn* pgHandle(store::SqlConnection& cn) {
    const QVariant handle = cn.database().driver()->handle();
    return handle.isValid() && (qstrcmp(handle.typeName(), "PGconn*") == 0 ||
                                qstrcmp(handle.typeName(), "pg_conn*") == 0)
               ? *static_cast<PGconn* const*>(handle.data())
               : nullptr;
}

const char* const kCopyColumns =
    "(RecordNo, CardNo, EmpNo, RecordTime, Flag, MachAddr, CollectedAt, CollectedBy, Series) "
    "FROM STDIN";

// The database's refusal in `res` (released), or the connection's fault, as an error.
Error pgFailure(PGconn* pg, PGresult* res) {
    QString why = QString::fromUtf8(res  ? PQresultErrorMessage(res)
                                    : pg ? PQerrorMessage(pg)
                                         : "")
                      .trimmed();
    PQclear(res);
    if (why.isEmpty())
        why = QStringLiteral("The connection to the database is closed");
    return Error(store::dberr::CommandFailed, why);
}

// Runs one statement; its result, or a raised error when its status is not `want`.
PGresult* pgRun(PGconn* pg, const char* sql, ExecStatusType want) {
    PGresult* res = PQexec(pg, sql);
    if (PQresultStatus(res) != want)
        throw pgFailure(pg, res);
    return res;
}

// Sends what libpq holds queued, waiting for the socket; what the server sends meanwhile is
// read, as it stops reading while its own output is not read. False when the connection failed.
bool pgFlushAll(PGconn* pg) {
    for (;;) {
        const int left = PQflush(pg);
        if (left <= 0)
            return left == 0;
        pollfd fd{PQsocket(pg), POLLIN | POLLOUT, 0};
        if (::poll(&fd, 1, -1) < 0 && errno != EINTR)
            return false;
        if ((fd.revents & POLLIN) && !PQconsumeInput(pg))
            return false;
    }
}

// Starts `COPY <table> ... FROM STDIN` and queues the rows and the end of the data; without
// `wait` the connection is left nonblocking, the data going out as the socket takes it. Raises
// when the COPY could not start; returns the connection's fault when the data could not be
// queued (the COPY is then abandoned), else an empty text.
QString pgSendCopy(PGconn* pg, const char* table, const std::string& rows, bool wait) {
    PQclear(
        pgRun(pg, (QByteArray("COPY ") + table + ' ' + kCopyColumns).constData(), PGRES_COPY_IN));
    if (!wait)
        PQsetnonblocking(pg, 1);
    int sent = PQputCopyData(pg, rows.data(), int(rows.size()));
    if (sent == 0 && pgFlushAll(pg)) // libpq's buffer could not grow: once more, emptied
        sent = PQputCopyData(pg, rows.data(), int(rows.size()));
    const QString lost = sent == 1 ? QString() : pgFailure(pg, nullptr).description();
    if (PQputCopyEnd(pg, sent == 1 ? nullptr : "abandoned") != 1 && lost.isEmpty())
        return pgFailure(pg, nullptr).description();
    return lost;
}

// What the server answered to a COPY.
struct CopyAnswer {
    qint64 copied = -1;     // rows stored; -1: none
    bool duplicate = false; // refused by the unique key (SQLSTATE 23505)
    QString why;            // the refusal or the connection's fault
};

// Waits for the answer to the COPY sent (or abandoned with `lost`), every result read, and
// leaves the connection blocking again, as the driver uses it.
CopyAnswer pgCopyAnswer(PGconn* pg, const QString& lost) {
    CopyAnswer answer;
    if (!pg) {
        answer.why = lost;
        return answer;
    }
    if (!pgFlushAll(pg))
        answer.why = pgFailure(pg, nullptr).description();
    PQsetnonblocking(pg, 0);
    while (PGresult* res = PQgetResult(pg)) {
        if (PQresultStatus(res) == PGRES_COMMAND_OK) {
            answer.copied = QByteArray(PQcmdTuples(res)).toLongLong();
        } else if (answer.why.isEmpty()) {
            const char* state = PQresultErrorField(res, PG_DIAG_SQLSTATE);
            answer.duplicate = state && qstrcmp(state, "23505") == 0;
            answer.why = QString::fromUtf8(PQresultErrorMessage(res)).trimmed();
        }
        PQclear(res);
    }
    if (!lost.isEmpty()) {
        answer = CopyAnswer{};
        answer.why = lost;
    }
    return answer;
}

// The rows a COPY stored; -1 when the unique key refused it; raises on any other failure.
qint64 copiedRows(const CopyAnswer& answer) {
    if (answer.copied >= 0 && answer.why.isEmpty())
        return answer.copied;
    if (answer.duplicate)
        return -1;
    throw Error(store::dberr::CommandFailed,
                answer.why.isEmpty() ? QStringLiteral("The connection to the database is closed")
                                     : answer.why);
}

// Binds a text to a SQLite statement without a copy of its own: ASCII goes through the
// caller's buffer (which must outlive the step), anything longer or beyond ASCII as UTF-16.
int bindText(sqlite3_stmt* st, int column, const QString& text, char* buffer, qsizetype size) {
    const qsizetype n = text.size();
    const QChar* p = text.constData();
    if (n <= size) {
        qsizetype i = 0;
        for (; i < n && p[i].unicode() < 0x80; ++i)
            buffer[i] = char(p[i].unicode());
        if (i == n)
            return sqlite3_bind_text(st, column, buffer, int(n), SQLITE_STATIC);
    }
    return sqlite3_bind_text16(st, column, p, int(n * 2), SQLITE_STATIC);
}

// A number appended to a COPY row.
template <class N> void appendNumber(std::string& out, N value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

} // namespace

MealStore::MealStore(store::SqlConnection& cn, const QString& collectedBy)
    : cn_(cn), collectedBy_(collectedBy) {}

MealStore::~MealStore() {
    // A COPY left under way (the collection ended by an exception) is waited for: the
    // connection is of use again, and what it stored is stored once.
    if (copying_)
        pgCopyAnswer(pgHandle(cn_), copyLost_);
}

void MealStore::begin(int address) {
    address_ = address;
    batch_.clear();
    employees_.clear();
    // The terminal's own mapping wins over another terminal's for the same card.
    const auto rows = cn_.queryBound(
        QStringLiteral("SELECT CardNo, EmpNo, MachAddr FROM CardMapping ORDER BY MachAddr"));
    for (const QVariantList& row : rows) {
        const QString card = row.value(0).toString().trimmed();
        if (!employees_.contains(card) || row.value(2).toInt() == address)
            employees_.insert(card, row.value(1).toString());
    }
}

void MealStore::add(const MealRecord& record) {
    (record.readable() ? batch_ : raw_).append(record);
}

void MealStore::discard() {
    batch_.clear();
    raw_.clear();
}

bool MealStore::multiRow() const {
    return cn_.backend() == store::BackendSettings::Kind::Sqlite;
}

Stored MealStore::commit() {
    startCommit();
    return finishCommit();
}

void MealStore::startCommit() {
    started_ = Stored{};
    // The batch goes by COPY straight into MealRecord, outside a transaction of the driver: the
    // server commits the COPY before it answers, so the answer is the durable commit. Records
    // kept raw go with the batch in one transaction, at once, as does any batch on a
    // connection in a transaction of its caller's.
    if (cn_.backend() != store::BackendSettings::Kind::Postgres || !raw_.isEmpty() ||
        batch_.isEmpty() || cn_.inTransaction() || !pgHandle(cn_)) {
        started_ = commitNow();
        return;
    }
    try {
        started_.restarts = sortOutStored();
        if (!batch_.isEmpty()) {
            PGconn* pg = pgHandle(cn_); // the connection may have been opened again meanwhile
            if (!pg)
                throw pgFailure(nullptr, nullptr);
            copyRows_ = copyRows(timeText(QDateTime::currentDateTime()));
            copyLost_ = pgSendCopy(pg, "MealRecord", copyRows_, false);
            copying_ = true;
            flying_ = batch_;
            flyingSeries_ = series_;
        }
    } catch (...) {
        discard();
        throw;
    }
    discard(); // the next batch is added while this one travels as its COPY rows
}

void MealStore::advance() {
    if (PGconn* pg = copying_ ? pgHandle(cn_) : nullptr)
        PQflush(pg); // nonblocking: what the socket takes now
}

Stored MealStore::finishCommit() {
    Stored out = std::exchange(started_, Stored{});
    if (!copying_)
        return out;
    copying_ = false;
    const std::string rows = std::exchange(copyRows_, std::string());
    out.added = copiedRows(pgCopyAnswer(pgHandle(cn_), std::exchange(copyLost_, QString())));
    if (out.added >= 0) {
        flying_.clear();
        return out;
    }
    // Another workstation collecting the same terminal stored some of the records since the
    // batch was sorted out: the batch goes through a table of its own, in a transaction.
    const QVector<MealRecord> records = std::exchange(flying_, {});
    const QVector<int> series = std::exchange(flyingSeries_, {});
    try {
        cn_.inOneTransaction([&] {
            out.added = copyThroughTable(rows);
            if (out.added < records.size() && anotherUnit(records, series))
                throw UnitConflict(address_, 0);
        });
    } catch (const UnitConflict&) {
        throw UnitConflict(address_, holdBack(records));
    }
    return out;
}

Stored MealStore::commitNow() {
    Stored out;
    if (batch_.isEmpty() && raw_.isEmpty())
        return out;
    const int step = multiRow() ? RowsPerStatement : 1;
    try {
        cn_.inOneTransaction([&] {
            out.restarts = sortOutStored();
            // One clock reading per batch: the local time costs a time-zone lookup.
            const QString collectedAt = timeText(QDateTime::currentDateTime());
            const auto backend = cn_.backend();
            out.added = batch_.isEmpty() ? 0 : -1;
            if (out.added < 0 && backend == store::BackendSettings::Kind::Sqlite)
                out.added = insertSqlite(collectedAt);
            if (out.added < 0 && backend == store::BackendSettings::Kind::Postgres)
                out.added = copyPostgres(collectedAt);
            if (out.added < 0 && backend == store::BackendSettings::Kind::Postgres)
                out.added = insertArrays();
            if (out.added < 0) {
                // Through Qt's binding: a driver that gives no handle of its own (ODBC).
                out.added = 0;
                for (int first = 0; first < batch_.size(); first += step)
                    out.added +=
                        insert(first, std::min<int>(step, int(batch_.size()) - first), collectedAt);
            }
            // Rows left out that are not the batch's records: another unit has the numbers.
            if (out.added < batch_.size() && anotherUnit(batch_, series_))
                throw UnitConflict(address_, 0);
            out.raw = insertRaw();
            out.added += out.raw;
        });
    } catch (const UnitConflict&) {
        qint64 held = 0;
        try {
            held = holdBack(batch_);
        } catch (...) {
            discard();
            throw;
        }
        discard();
        throw UnitConflict(address_, held);
    } catch (...) {
        discard();
        throw;
    }
    discard();
    return out;
}

namespace {

// A record's card and time as compared with a stored row's.
QString contentOf(const MealRecord& r) {
    return r.card + timeText(r.time);
}

} // namespace

QHash<QPair<int, quint32>, QString> MealStore::storedRecords(const QList<int>& series, quint32 from,
                                                             quint32 to) {
    QHash<QPair<int, quint32>, QString> stored;
    if (series.isEmpty())
        return stored;
    QStringList in;
    for (const int s : series)
        in << QString::number(s);
    // Times are compared as text, whatever the server's date style: no time zone comes in
    // between.
    const QString time = cn_.backend() == store::BackendSettings::Kind::Postgres
                             ? QStringLiteral("to_char(RecordTime, 'YYYY-MM-DD HH24:MI:SS')")
                             : QStringLiteral("RecordTime");
    const auto rows = cn_.queryBound(
        QStringLiteral("SELECT RecordNo, CardNo, %1, Series FROM MealRecord WHERE MachAddr = ? "
                       "AND Series IN (%2) AND RecordNo BETWEEN ? AND ?")
            .arg(time, in.join(QLatin1Char(','))),
        {address_, qlonglong(from), qlonglong(to)});
    for (const QVariantList& row : rows) {
        const QVariant t = row.value(2);
        const QString text =
            t.metaType().id() == QMetaType::QDateTime
                ? timeText(t.toDateTime())
                : t.toString().left(19).replace(QLatin1Char('T'), QLatin1Char(' '));
        stored.insert({row.value(3).toInt(), quint32(row.value(0).toLongLong())},
                      row.value(1).toString().trimmed() + text);
    }
    return stored;
}

int MealStore::sortOutStored() {
    series_.clear();
    if (batch_.isEmpty())
        return 0;
    const auto top = cn_.queryBound(
        QStringLiteral("SELECT MAX(Series) FROM MealRecord WHERE MachAddr = ?"), {address_});
    int series = top.isEmpty() ? 0 : top.first().value(0).toInt();
    // Each number of the batch as stored in every series so far: a record stored in an older
    // one (before another unit's records made a new series) is not stored again.
    QList<int> all;
    for (int s = 0; s <= series; ++s)
        all << s;
    const auto stored = storedRecords(all, batch_.constFirst().number, batch_.constLast().number);
    if (stored.isEmpty()) { // nothing of the batch stored yet: every record stays
        series_.fill(series, batch_.size());
        return 0;
    }
    QSet<QPair<quint32, QString>> known;
    for (auto it = stored.cbegin(); it != stored.cend(); ++it)
        known.insert({it.key().second, *it});
    int restarts = 0;
    bool restarted = false;
    QVector<MealRecord> fresh;
    for (const MealRecord& r : std::as_const(batch_)) {
        if (known.contains({r.number, contentOf(r)}))
            continue; // the same record, stored before
        if (!restarted && stored.contains({series, r.number})) {
            // Another record under a stored number: the terminal numbers again from the
            // start. It and the records after it are a new series.
            ++series;
            ++restarts;
            restarted = true;
        }
        fresh.append(r);
        series_.append(series);
    }
    batch_ = fresh;
    return restarts;
}

bool MealStore::anotherUnit(const QVector<MealRecord>& records, const QVector<int>& series) {
    if (records.isEmpty())
        return false;
    QList<int> in;
    quint32 low = records.constFirst().number, high = low;
    for (qsizetype i = 0; i < records.size(); ++i) {
        low = std::min(low, records[i].number);
        high = std::max(high, records[i].number);
        if (!in.contains(series.value(i)))
            in << series.value(i);
    }
    const auto stored = storedRecords(in, low, high);
    for (qsizetype i = 0; i < records.size(); ++i) {
        const auto it = stored.constFind({series.value(i), records[i].number});
        if (it != stored.cend() && *it != contentOf(records[i]))
            return true;
    }
    return false;
}

qint64 MealStore::holdBack(const QVector<MealRecord>& records) {
    const QString collectedAt = timeText(QDateTime::currentDateTime());
    QList<QVariantList> rows;
    for (const MealRecord& r : records)
        rows << QVariantList{
            address_, qlonglong(r.number), r.card,       timeText(r.time),
            r.flag,   collectedAt,         collectedBy_, int(HeldReason::OtherUnit)};
    qint64 held = 0;
    cn_.inOneTransaction([&] {
        held = insertIgnoring(QStringLiteral("MealRecordHeld"),
                              {QStringLiteral("MachAddr"), QStringLiteral("RecordNo"),
                               QStringLiteral("CardNo"), QStringLiteral("RecordTime"),
                               QStringLiteral("Flag"), QStringLiteral("CollectedAt"),
                               QStringLiteral("CollectedBy"), QStringLiteral("Reason")},
                              {QStringLiteral("MachAddr"), QStringLiteral("RecordNo"),
                               QStringLiteral("CardNo"), QStringLiteral("RecordTime")},
                              rows) +
               insertRaw();
    });
    return held;
}

qint64 MealStore::insertIgnoring(const QString& table, const QStringList& columns,
                                 const QStringList& key, const QList<QVariantList>& rows) {
    const bool sqlite = cn_.backend() == store::BackendSettings::Kind::Sqlite;
    const bool postgres = cn_.backend() == store::BackendSettings::Kind::Postgres;
    QStringList marks, keyed;
    for (qsizetype i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    for (const QString& k : key)
        keyed << k + QStringLiteral(" = ?");
    const QString sql =
        QStringLiteral("INSERT %1 INTO %2 (%3) VALUES (%4) %5")
            .arg(sqlite ? QStringLiteral("OR IGNORE") : QString(), table,
                 columns.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")),
                 postgres ? QStringLiteral("ON CONFLICT DO NOTHING") : QString());
    qint64 added = 0;
    for (const QVariantList& row : rows) {
        if (!sqlite && !postgres) { // other databases: a look first
            QVariantList values;
            for (const QString& k : key)
                values << row.value(columns.indexOf(k));
            const auto found = cn_.queryBound(QStringLiteral("SELECT COUNT(*) FROM %1 WHERE %2")
                                                  .arg(table, keyed.join(QStringLiteral(" AND "))),
                                              values);
            if (!found.isEmpty() && found.first().value(0).toLongLong() > 0)
                continue;
        }
        QSqlQuery q(cn_.database());
        if (!q.prepare(sql))
            throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
        for (const QVariant& v : row)
            q.addBindValue(v);
        if (!q.exec())
            throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
        added += std::max(0, q.numRowsAffected());
    }
    return added;
}

qint64 MealStore::insertRaw() {
    const QString collectedAt = timeText(QDateTime::currentDateTime());
    QList<QVariantList> rows;
    for (const MealRecord& r : std::as_const(raw_))
        rows << QVariantList{address_, qlonglong(r.number),
                             QString::fromLatin1(r.raw.toHex().toUpper()), collectedAt,
                             collectedBy_};
    return insertIgnoring(
        QStringLiteral("MealRecordRaw"),
        {QStringLiteral("MachAddr"), QStringLiteral("RecordNo"), QStringLiteral("RawBytes"),
         QStringLiteral("CollectedAt"), QStringLiteral("CollectedBy")},
        {QStringLiteral("MachAddr"), QStringLiteral("RecordNo"), QStringLiteral("RawBytes")}, rows);
}

qint64 MealStore::insertSqlite(const QString& collectedAt) {
    const QVariant handle = cn_.database().driver()->handle();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return -1;
    sqlite3* db = *static_cast<sqlite3* const*>(handle.data());
    if (!db)
        return -1;
    sqlite3_stmt* st = nullptr;
    const auto fail = [&] {
        const QString why = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_finalize(st);
        return Error(store::dberr::CommandFailed, why);
    };
    // One single-row statement stepped once per record inside the batch's transaction:
    // SQLite does less work per row so than with many rows to a statement.
    if (sqlite3_prepare_v2(db,
                           QStringLiteral("INSERT OR IGNORE INTO MealRecord (%1) VALUES (?1, ?2, "
                                          "?3, ?4, ?5, ?6, ?7, ?8, ?9)")
                               .arg(QLatin1String(kColumns))
                               .toUtf8()
                               .constData(),
                           -1, &st, nullptr) != SQLITE_OK)
        throw fail();
    // The batch's own values stay bound from record to record.
    const QByteArray at = collectedAt.toUtf8();
    const QByteArray by = collectedBy_.toUtf8();
    if (sqlite3_bind_int(st, 1, address_) != SQLITE_OK ||
        sqlite3_bind_text(st, 7, at.constData(), int(at.size()), SQLITE_STATIC) != SQLITE_OK ||
        sqlite3_bind_text(st, 8, by.constData(), int(by.size()), SQLITE_STATIC) != SQLITE_OK)
        throw fail();
    char card[32], employee[32], time[19];
    QByteArray odd; // a time written the formatter's way
    qint64 added = 0;
    for (int i = 0; i < batch_.size(); ++i) {
        const MealRecord& r = batch_[i];
        const auto e = employees_.constFind(r.card);
        int rc = sqlite3_bind_int64(st, 2, r.number);
        if (rc == SQLITE_OK)
            rc = bindText(st, 3, r.card, card, sizeof card);
        if (rc == SQLITE_OK)
            rc = e == employees_.constEnd() || e->isNull()
                     ? sqlite3_bind_null(st, 4)
                     : bindText(st, 4, *e, employee, sizeof employee);
        if (rc == SQLITE_OK) {
            if (timeChars(r.time, time)) {
                rc = sqlite3_bind_text(st, 5, time, 19, SQLITE_STATIC);
            } else {
                odd = timeText(r.time).toUtf8();
                rc = sqlite3_bind_text(st, 5, odd.constData(), int(odd.size()), SQLITE_STATIC);
            }
        }
        if (rc == SQLITE_OK)
            rc = sqlite3_bind_int(st, 6, r.flag);
        if (rc == SQLITE_OK)
            rc = sqlite3_bind_int(st, 9, series_[i]);
        if (rc != SQLITE_OK || sqlite3_step(st) != SQLITE_DONE)
            throw fail();
        added += sqlite3_changes(db);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    return added;
}

std::string MealStore::copyRows(const QString& collectedAt) const {
    std::string rows;
    rows.reserve(size_t(batch_.size()) * 80);
    std::string batchColumns; // this batch's own values, the same on every row
    appendNumber(batchColumns, address_);
    batchColumns += '\t';
    appendCopyText(batchColumns, collectedAt);
    batchColumns += '\t';
    appendCopyText(batchColumns, collectedBy_);
    batchColumns += '\t';
    char time[19];
    for (int i = 0; i < batch_.size(); ++i) {
        const MealRecord& r = batch_[i];
        appendNumber(rows, r.number);
        rows += '\t';
        appendCopyText(rows, r.card);
        rows += '\t';
        const auto e = employees_.constFind(r.card);
        if (e == employees_.constEnd() || e->isNull())
            rows += "\\N";
        else
            appendCopyText(rows, *e);
        rows += '\t';
        if (timeChars(r.time, time))
            rows.append(time, 19);
        else
            appendCopyText(rows, timeText(r.time));
        rows += '\t';
        appendNumber(rows, r.flag);
        rows += '\t';
        rows += batchColumns;
        appendNumber(rows, series_[i]);
        rows += '\n';
    }
    return rows;
}

qint64 MealStore::copyPostgres(const QString& collectedAt) {
    PGconn* pg = pgHandle(cn_);
    if (!pg)
        return -1;
    // Straight into MealRecord, as a rule: no record of the batch was stored when it was
    // sorted out. Another workstation collecting the same terminal may have stored some since;
    // the unique key then refuses the COPY, which is taken back to the savepoint, and the
    // batch goes through a temporary table.
    const std::string rows = copyRows(collectedAt);
    PQclear(pgRun(pg, "SAVEPOINT bw_batch", PGRES_COMMAND_OK));
    const qint64 added = copiedRows(pgCopyAnswer(pg, pgSendCopy(pg, "MealRecord", rows, true)));
    if (added >= 0)
        return added;
    PQclear(pgRun(pg, "ROLLBACK TO SAVEPOINT bw_batch", PGRES_COMMAND_OK));
    return copyThroughTable(rows);
}

qint64 MealStore::copyThroughTable(const std::string& rows) {
    PGconn* pg = pgHandle(cn_);
    if (!pg)
        throw pgFailure(nullptr, nullptr);
    // The table lasts as long as the connection and is emptied by each commit; made inside
    // the batch's transaction, a rollback takes it away again.
    PGresult* res =
        pgRun(pg, "SELECT to_regclass('pg_temp.bw_meal_batch') IS NULL", PGRES_TUPLES_OK);
    const bool missing = PQntuples(res) == 1 && PQgetvalue(res, 0, 0)[0] == 't';
    PQclear(res);
    if (missing)
        PQclear(pgRun(pg,
                      "CREATE TEMP TABLE bw_meal_batch (LIKE MealRecord INCLUDING DEFAULTS) ON "
                      "COMMIT DELETE ROWS",
                      PGRES_COMMAND_OK));
    if (copiedRows(pgCopyAnswer(pg, pgSendCopy(pg, "bw_meal_batch", rows, true))) < 0)
        throw Error(store::dberr::CommandFailed,
                    QStringLiteral("The temporary table refused the batch"));
    res = pgRun(pg,
                QStringLiteral("INSERT INTO MealRecord (%1) SELECT %1 FROM bw_meal_batch ON "
                               "CONFLICT (MachAddr, Series, RecordNo) DO NOTHING")
                    .arg(QLatin1String(kColumns))
                    .toUtf8()
                    .constData(),
                PGRES_COMMAND_OK);
    const qint64 added = QByteArray(PQcmdTuples(res)).toLongLong();
    PQclear(res);
    return added;
}

qint64 MealStore::insertArrays() {
    // PostgreSQL: the whole batch as eight array values in one statement, so the server
    // parses one short statement instead of thousands of literals.
    // Each column is written straight into its array text, one string per column: a batch of
    // 5,000 records would otherwise make 45,000 small strings on each line's worker at once.
    QString cols[kColumnCount];
    for (QString& c : cols) {
        c.reserve(int(batch_.size()) * 12 + 2);
        c += QLatin1Char('{');
    }
    const auto quoted = [](QString& out, const QString& v) {
        out += QLatin1Char('"');
        for (const QChar ch : v) {
            if (ch == QLatin1Char('\\') || ch == QLatin1Char('"'))
                out += QLatin1Char('\\');
            out += ch;
        }
        out += QLatin1Char('"');
    };
    const QString collectedAt = timeText(QDateTime::currentDateTime());
    for (int i = 0; i < batch_.size(); ++i) {
        const MealRecord& r = batch_[i];
        const QString employee = employees_.value(r.card);
        if (i > 0)
            for (QString& c : cols)
                c += QLatin1Char(',');
        cols[0] += QString::number(address_);
        cols[1] += QString::number(r.number);
        quoted(cols[2], r.card);
        if (employee.isNull())
            cols[3] += QLatin1String("NULL");
        else
            quoted(cols[3], employee);
        quoted(cols[4], timeText(r.time));
        cols[5] += QString::number(r.flag);
        quoted(cols[6], collectedAt);
        quoted(cols[7], collectedBy_);
        cols[8] += QString::number(series_[i]);
    }
    for (QString& c : cols)
        c += QLatin1Char('}');
    QSqlQuery q(cn_.database());
    if (!q.prepare(
            QStringLiteral(
                "INSERT INTO MealRecord (%1) SELECT * FROM unnest(CAST(? AS INTEGER[]), CAST(? AS "
                "BIGINT[]), CAST(? AS VARCHAR[]), CAST(? AS VARCHAR[]), CAST(? AS TIMESTAMP[]), "
                "CAST(? AS INTEGER[]), CAST(? AS TIMESTAMP[]), CAST(? AS VARCHAR[]), CAST(? AS "
                "INTEGER[])) ON CONFLICT (MachAddr, Series, RecordNo) DO NOTHING")
                .arg(QString::fromLatin1(kColumns))))
        throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
    for (int c = 0; c < kColumnCount; ++c) {
        q.bindValue(c, cols[c]);
        cols[c] = QString(); // the bound value holds the text now
    }
    if (!q.exec())
        throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
    return std::max(0, q.numRowsAffected());
}

qint64 MealStore::insert(int first, int rows, const QVariant& collectedAt) {
    const QVariant address = address_;
    const QVariant by = collectedBy_;
    std::unique_ptr<QSqlQuery> one;
    // A statement prepared on a server connection that was opened again since is of no use.
    if (full_ && fullOn_ != cn_.qtConnectionName())
        full_.reset();
    QSqlQuery* q = full_.get();
    if (rows != RowsPerStatement || !full_) {
        one = std::make_unique<QSqlQuery>(cn_.database());
        if (!one->prepare(insertStatement(cn_.backend(), rows)))
            throw store::databaseError(store::dberr::CommandFailed, QString(), one->lastError());
        q = one.get();
        if (rows == RowsPerStatement) {
            full_ = std::move(one);
            fullOn_ = cn_.qtConnectionName();
        }
    }
    int pos = 0;
    for (int i = first; i < first + rows; ++i) {
        const MealRecord& r = batch_[i];
        q->bindValue(pos++, address);
        q->bindValue(pos++, qlonglong(r.number));
        q->bindValue(pos++, r.card);
        q->bindValue(pos++, employees_.value(r.card));
        q->bindValue(pos++, timeText(r.time));
        q->bindValue(pos++, r.flag);
        q->bindValue(pos++, collectedAt);
        q->bindValue(pos++, by);
        q->bindValue(pos++, series_[i]);
    }
    if (!multiRow()) {
        const auto found = cn_.queryBound(
            QStringLiteral("SELECT COUNT(*) FROM MealRecord WHERE MachAddr = ? AND Series = ? AND "
                           "RecordNo = ?"),
            {address_, series_[first], qlonglong(batch_[first].number)});
        if (!found.isEmpty() && found.first().value(0).toLongLong() > 0)
            return 0;
    }
    if (!q->exec())
        throw store::databaseError(store::dberr::CommandFailed, QString(), q->lastError());
    const int affected = q->numRowsAffected();
    q->finish();
    return std::max(0, affected);
}

bool logCollection(store::SqlConnection& cn, const QString& user, const Outcome& outcome,
                   bool clear, const QString& resultText) {
    return logTerminalAction(cn, user, outcome.address,
                             text(clear ? Text::ActionCollectClear : Text::ActionCollect),
                             resultText);
}

void writeTerminalAction(store::SqlConnection& cn, const QString& user, int address,
                         const QString& action, const QString& resultText) {
    writeLogEntry(cn, user, QString::number(address), action, resultText);
}

void writeLogEntry(store::SqlConnection& cn, const QString& user, const QString& object,
                   const QString& action, const QString& resultText) {
    const QDateTime now = QDateTime::currentDateTime();
    // The entry names the workstation that wrote it, where CtrlLog has the column.
    try {
        cn.executeBound(
            QStringLiteral("INSERT INTO CtrlLog (UserA, TimeA, ObjectA, ActionA, "
                           "ResultA, Station) VALUES (?, ?, ?, ?, ?, ?)"),
            {user, store::logTimeText(now), object, action, resultText.left(255), workstation()});
        return;
    } catch (const Error& e) {
        // Only a statement refused (a CtrlLog without the column) is written again without it:
        // a write whose outcome is not known is never repeated.
        if (e.number() != store::dberr::CommandFailed)
            throw;
    }
    cn.Execute(store::ctrlLogStatement(cn.ConnectionString(), user, now, object, action,
                                       resultText.left(255)),
               -1);
}

bool logTerminalAction(store::SqlConnection& cn, const QString& user, int address,
                       const QString& action, const QString& resultText) {
    try {
        writeTerminalAction(cn, user, address, action, resultText);
        return true;
    } catch (const Error& e) {
        qWarning("Operation log entry dropped (%d: %s)", e.number(),
                 qUtf8Printable(e.description()));
        return false;
    }
}

QList<LeftClear> leftClears(store::SqlConnection& cn, int address) {
    QList<LeftClear> found;
    for (const int lang : {LangSimplified, LangTraditional}) {
        const QString action = text(Text::ActionCollectClear, lang);
        const QString pending = text(Text::ClearPending, lang);
        const QString head = pending.section(QStringLiteral("%1"), 0, 0);
        const QString tail = pending.section(QStringLiteral("%1"), 1);
        // What the database holds is read as data: only the whole text with a number in it.
        const QRegularExpression entry(QRegularExpression::anchoredPattern(
            QRegularExpression::escape(head) + QStringLiteral("([0-9]{1,10})") +
            QRegularExpression::escape(tail)));
        const auto rows = cn.queryBound(
            QStringLiteral("SELECT DISTINCT ResultA FROM CtrlLog WHERE ObjectA = ? AND "
                           "ActionA = ? AND ResultA LIKE ?"),
            {QString::number(address), action, head + QLatin1Char('%')});
        for (const QVariantList& row : rows) {
            const QString result = row.value(0).toString();
            const QRegularExpressionMatch m = entry.match(result);
            const qulonglong upTo = m.hasMatch() ? m.captured(1).toULongLong() : 0;
            if (upTo >= 1 && upTo <= 0xFFFFFFFFu)
                found << LeftClear{action, result, quint32(upTo), lang};
        }
    }
    return found;
}

void completeLeftClear(store::SqlConnection& cn, int address, const LeftClear& entry,
                       bool cleared) {
    const QString result =
        text(cleared ? Text::ClearConfirmedLater : Text::ClearNotDoneLater, entry.lang)
            .arg(entry.upTo);
    try {
        cn.executeBound(QStringLiteral("UPDATE CtrlLog SET ResultA = ? WHERE ObjectA = ? AND "
                                       "ActionA = ? AND ResultA = ?"),
                        {result, QString::number(address), entry.action, entry.pending});
    } catch (const Error& e) {
        qWarning("Operation log entry not completed (%d: %s)", e.number(),
                 qUtf8Printable(e.description()));
    }
}

bool completeLogEntry(store::SqlConnection& cn, const QString& user, const Outcome& outcome,
                      bool clear, const QString& pending, const QString& resultText) {
    QSqlQuery q(cn.database());
    if (q.prepare(QStringLiteral("UPDATE CtrlLog SET ResultA = ? WHERE UserA = ? AND ObjectA = ? "
                                 "AND ActionA = ? AND ResultA = ?"))) {
        const QString action = text(clear ? Text::ActionCollectClear : Text::ActionCollect);
        for (const QString& v : {resultText.left(255), user, QString::number(outcome.address),
                                 action, pending.left(255)})
            q.addBindValue(v);
        if (q.exec())
            return true;
    }
    qWarning("Operation log entry not completed (%s)", qUtf8Printable(q.lastError().text()));
    return false;
}

} // namespace bw::host::collect

#pragma once

// The bare collector the collection benchmarks compare the product's collector with: it reads a
// terminal's records in the collector's blocks and batches and stores each batch the
// database's plainest fast way (SQLite one prepared sqlite3 insert per record, PostgreSQL one
// COPY per batch), each batch its own transaction, with no check for records stored before.
// Header only, like bench_support.h.

#include "host/collect/collect_run.h"
#include "host/collect/lines.h"
#include "host/link/link.h"
#include "store/sql_connection.h"

#include <QDateTime>
#include <QHash>
#include <QSqlDriver>
#include <algorithm>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <string>

namespace bw::bench {

using host::collect::MealRecord;

// "yyyy-MM-dd HH:mm:ss" into 19 characters.
inline void timeDigits(const QDateTime& time, char (&out)[19]) {
    const QDate d = time.date();
    const QTime t = time.time();
    const int values[] = {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
    const char* const shape = "0000-00-00 00:00:00";
    std::copy(shape, shape + 19, out);
    for (int f = 5, at = 19; f >= 0; --f) {
        at -= f == 0 ? 4 : 2;
        for (int i = at + (f == 0 ? 3 : 1), v = values[f]; i >= at; --i, v /= 10)
            out[i] = char('0' + v % 10);
        --at; // the separator before it
    }
}

// The bare collector's side of the database: terminal `address`'s batch as the terminal gave
// it, on the connection's own handle.
class BareStore {
public:
    BareStore(store::SqlConnection& cn, int address) : address_(std::to_string(address)) {
        const QVariant handle = cn.database().driver()->handle();
        if (qstrcmp(handle.typeName(), "sqlite3*") == 0)
            lite_ = *static_cast<sqlite3* const*>(handle.data());
        else if (qstrcmp(handle.typeName(), "PGconn*") == 0 ||
                 qstrcmp(handle.typeName(), "pg_conn*") == 0)
            pg_ = *static_cast<PGconn* const*>(handle.data());
        for (const QVariantList& row :
             cn.queryBound(QStringLiteral("SELECT CardNo, EmpNo FROM CardMapping")))
            employees_.insert(row.value(0).toString(), row.value(1).toString().toUtf8());
        if (lite_) {
            const std::string sql = "INSERT INTO MealRecord (MachAddr, RecordNo, CardNo, EmpNo, "
                                    "RecordTime, Flag, CollectedAt, CollectedBy, Series) VALUES (" +
                                    address_ +
                                    ", ?, ?, ?, ?, ?, '2026-01-01 00:00:00', 'bench', 0)";
            sqlite3_prepare_v2(lite_, sql.c_str(), -1, &insert_, nullptr);
        }
    }
    ~BareStore() { sqlite3_finalize(insert_); }
    BareStore(const BareStore&) = delete;
    BareStore& operator=(const BareStore&) = delete;

    bool store(const QVector<MealRecord>& batch) {
        return insert_ ? storeSqlite(batch) : storePostgres(batch);
    }

private:
    bool storeSqlite(const QVector<MealRecord>& batch) {
        bool ok = sqlite3_exec(lite_, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
        for (const MealRecord& r : batch) {
            const QByteArray card = r.card.toUtf8();
            const QByteArray employee = employees_.value(r.card);
            char time[19];
            timeDigits(r.time, time);
            sqlite3_bind_int64(insert_, 1, r.number);
            sqlite3_bind_text(insert_, 2, card.constData(), int(card.size()), SQLITE_STATIC);
            if (employee.isNull())
                sqlite3_bind_null(insert_, 3);
            else
                sqlite3_bind_text(insert_, 3, employee.constData(), int(employee.size()),
                                  SQLITE_STATIC);
            sqlite3_bind_text(insert_, 4, time, 19, SQLITE_STATIC);
            sqlite3_bind_int(insert_, 5, r.flag);
            ok = sqlite3_step(insert_) == SQLITE_DONE && ok;
            sqlite3_reset(insert_);
        }
        return sqlite3_exec(lite_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK && ok;
    }

    bool storePostgres(const QVector<MealRecord>& batch) {
        if (!pg_ || !exec("BEGIN", PGRES_COMMAND_OK) ||
            !exec("COPY MealRecord (RecordNo, CardNo, EmpNo, RecordTime, Flag, MachAddr, "
                  "CollectedAt, CollectedBy, Series) FROM STDIN",
                  PGRES_COPY_IN))
            return false;
        const std::string tail = '\t' + address_ + "\t2026-01-01 00:00:00\tbench\t0\n";
        std::string rows;
        for (const MealRecord& r : batch) {
            char time[19];
            timeDigits(r.time, time);
            const QByteArray employee = employees_.value(r.card);
            rows += std::to_string(r.number) + '\t' + r.card.toStdString() + '\t' +
                    (employee.isNull() ? std::string("\\N") : employee.toStdString()) + '\t' +
                    std::string(time, 19) + '\t' + std::to_string(r.flag) + tail;
        }
        bool ok = PQputCopyData(pg_, rows.data(), int(rows.size())) == 1 &&
                  PQputCopyEnd(pg_, nullptr) == 1;
        while (PGresult* res = PQgetResult(pg_)) {
            ok = ok && PQresultStatus(res) == PGRES_COMMAND_OK;
            if (PQresultStatus(res) != PGRES_COMMAND_OK)
                qWarning("COPY: %s", PQresultErrorMessage(res));
            PQclear(res);
        }
        return exec("COMMIT", PGRES_COMMAND_OK) && ok;
    }

    bool exec(const char* sql, ExecStatusType want) {
        PGresult* res = PQexec(pg_, sql);
        const bool ok = PQresultStatus(res) == want;
        if (!ok)
            qWarning("%s: %s", sql, PQresultErrorMessage(res));
        PQclear(res);
        return ok;
    }

    std::string address_;
    sqlite3* lite_ = nullptr;
    sqlite3_stmt* insert_ = nullptr;
    PGconn* pg_ = nullptr;
    QHash<QString, QByteArray> employees_;
};

// Reads terminal `address` behind `port` (an IP address) in the collector's blocks and
// batches into cn; the records stored, or -1.
inline qint64 bareCollect(int address, const QString& port, store::SqlConnection& cn) {
    using namespace bw::host::collect;
    host::Link link;
    QString error;
    if (!openLink(link, port, error))
        return -1;
    LinkSource source(address, link);
    BareStore store(cn, address);
    RecordStatus status;
    if (!source.status(status))
        return -1;
    const Options options;
    QVector<MealRecord> batch, block;
    qint64 stored = 0;
    for (quint32 from = status.first; status.count > 0 && from <= status.last;) {
        const int want =
            int(std::min<quint64>(quint64(options.blockSize), quint64(status.last) - from + 1));
        if (!source.read(from, want, block) || block.isEmpty())
            return -1;
        batch += block;
        from = block.constLast().number + 1;
        if (batch.size() >= options.batchSize || from > status.last) {
            if (!store.store(batch))
                return -1;
            stored += batch.size();
            batch.clear();
        }
    }
    return stored;
}

} // namespace bw::bench

#include "host/collect/meal_store.h"

#include "host/collect/collect_texts.h"
#include "platform/error.h"
#include "platform/port_text.h"
#include "store/ctrl_log.h"
#include "store/sql_connection.h"

#include <QSqlQuery>
#include <QStringList>

namespace bw::host::collect {

namespace {

constexpr const char* kColumns =
    "MachAddr, RecordNo, CardNo, EmpNo, RecordTime, Flag, CollectedAt, CollectedBy";
constexpr int kColumnCount = 8;

// The insert-or-ignore statement of `rows` records (SQLite; PostgreSQL: insertArrays).
QString insertStatement(store::BackendSettings::Kind kind, int rows) {
    QStringList values;
    const QString one = QStringLiteral("(?, ?, ?, ?, ?, ?, ?, ?)");
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

QString timeText(const QDateTime& time) {
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QList<TerminalEntry> listTerminals(store::SqlConnection& cn) {
    QList<TerminalEntry> out;
    const auto rows = cn.queryBound(QStringLiteral(
        "SELECT MachAddr, ComX, IP, Ver, Team FROM MachineInfo WHERE MachVer = '6429' "
        "ORDER BY MachAddr"));
    for (const QVariantList& row : rows) {
        TerminalEntry t;
        t.address = row.value(0).toInt();
        const QString ip = row.value(2).toString().trimmed();
        t.port =
            isIpAddressText(ip) ? ip : QStringLiteral("COM") + row.value(1).toString().trimmed();
        t.place = row.value(3).toString();
        t.team = row.value(4).toString();
        if (t.address >= 1 && t.address <= 255)
            out.append(t);
    }
    return out;
}

MealStore::MealStore(store::SqlConnection& cn, const QString& collectedBy)
    : cn_(cn), collectedBy_(collectedBy) {}

MealStore::~MealStore() = default;

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
    batch_.append(record);
}

bool MealStore::multiRow() const {
    return cn_.backend() == store::BackendSettings::Kind::Sqlite;
}

qint64 MealStore::commit() {
    if (batch_.isEmpty())
        return 0;
    const int step = multiRow() ? RowsPerStatement : 1;
    qint64 added = 0;
    cn_.BeginTrans();
    try {
        if (cn_.backend() == store::BackendSettings::Kind::Postgres)
            added = insertArrays();
        else
            for (int first = 0; first < batch_.size(); first += step)
                added += insert(first, std::min<int>(step, int(batch_.size()) - first));
        cn_.CommitTrans();
    } catch (...) {
        if (cn_.inTransaction()) {
            try {
                cn_.RollbackTrans();
            } catch (...) {
            }
        }
        batch_.clear();
        throw;
    }
    batch_.clear();
    return added;
}

qint64 MealStore::insertArrays() {
    // PostgreSQL: the whole batch as eight array values in one statement, so the server
    // parses one short statement instead of thousands of literals.
    auto quoted = [](const QString& v) {
        QString q = v;
        q.replace(QLatin1String("\\"), QLatin1String("\\\\"))
            .replace(QLatin1String("\""), QLatin1String("\\\""));
        return QLatin1Char('"') + q + QLatin1Char('"');
    };
    const QString collectedAt = quoted(timeText(QDateTime::currentDateTime()));
    const QString by = quoted(collectedBy_);
    QStringList cols[kColumnCount];
    for (const MealRecord& r : std::as_const(batch_)) {
        const QString employee = employees_.value(r.card);
        cols[0] << QString::number(address_);
        cols[1] << QString::number(r.number);
        cols[2] << quoted(r.card);
        cols[3] << (employee.isNull() ? QStringLiteral("NULL") : quoted(employee));
        cols[4] << quoted(timeText(r.time));
        cols[5] << QString::number(r.flag);
        cols[6] << collectedAt;
        cols[7] << by;
    }
    QSqlQuery q(cn_.database());
    if (!q.prepare(
            QStringLiteral(
                "INSERT INTO MealRecord (%1) SELECT * FROM unnest(CAST(? AS INTEGER[]), CAST(? AS "
                "BIGINT[]), CAST(? AS VARCHAR[]), CAST(? AS VARCHAR[]), CAST(? AS TIMESTAMP[]), "
                "CAST(? AS INTEGER[]), CAST(? AS TIMESTAMP[]), CAST(? AS VARCHAR[])) ON CONFLICT "
                "(MachAddr, RecordNo) DO NOTHING")
                .arg(QString::fromLatin1(kColumns))))
        throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
    for (int c = 0; c < kColumnCount; ++c)
        q.bindValue(c, QLatin1Char('{') + cols[c].join(QLatin1Char(',')) + QLatin1Char('}'));
    if (!q.exec())
        throw store::databaseError(store::dberr::CommandFailed, QString(), q.lastError());
    return std::max(0, q.numRowsAffected());
}

qint64 MealStore::insert(int first, int rows) {
    const QString collectedAt = timeText(QDateTime::currentDateTime());
    QSqlQuery one(cn_.database());
    QSqlQuery* q = &one;
    if (rows == RowsPerStatement) {
        if (!full_) {
            full_ = std::make_unique<QSqlQuery>(cn_.database());
            if (!full_->prepare(insertStatement(cn_.backend(), rows))) {
                const QSqlError e = full_->lastError();
                full_.reset();
                throw store::databaseError(store::dberr::CommandFailed, QString(), e);
            }
        }
        q = full_.get();
    } else if (!one.prepare(insertStatement(cn_.backend(), rows))) {
        throw store::databaseError(store::dberr::CommandFailed, QString(), one.lastError());
    }
    int pos = 0;
    for (int i = first; i < first + rows; ++i) {
        const MealRecord& r = batch_[i];
        const QVariantList values{
            address_, qlonglong(r.number), r.card,      employees_.value(r.card), timeText(r.time),
            r.flag,   collectedAt,         collectedBy_};
        for (const QVariant& v : values)
            q->bindValue(pos++, v);
    }
    if (!multiRow()) {
        const auto found = cn_.queryBound(
            QStringLiteral("SELECT COUNT(*) FROM MealRecord WHERE MachAddr = ? AND RecordNo = ?"),
            {address_, qlonglong(batch_[first].number)});
        if (!found.isEmpty() && found.first().value(0).toLongLong() > 0)
            return 0;
    }
    if (!q->exec())
        throw store::databaseError(store::dberr::CommandFailed, QString(), q->lastError());
    const int affected = q->numRowsAffected();
    q->finish();
    return std::max(0, affected);
}

void logCollection(store::SqlConnection& cn, const QString& user, const Outcome& outcome,
                   bool clear, const QString& resultText) {
    logTerminalAction(cn, user, outcome.address,
                      text(clear ? Text::ActionCollectClear : Text::ActionCollect), resultText);
}

void logTerminalAction(store::SqlConnection& cn, const QString& user, int address,
                       const QString& action, const QString& resultText) {
    const QString sql =
        store::ctrlLogStatement(cn.ConnectionString(), user, QDateTime::currentDateTime(),
                                QString::number(address), action, resultText.left(255));
    try {
        cn.Execute(sql, -1);
    } catch (const Error& e) {
        qWarning("Operation log entry dropped (%d: %s)", e.number(),
                 qUtf8Printable(e.description()));
    }
}

} // namespace bw::host::collect

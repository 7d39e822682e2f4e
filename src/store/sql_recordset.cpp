#include "store/sql_recordset.h"

#include <QDate>
#include <QDateTime>
#include <QRegularExpression>
#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTime>

namespace bw::store {

namespace {

const QString kRowIdAlias = QStringLiteral("bw_row_id_");
const QString kSavepoint = QStringLiteral("bw_update_batch");

bool isPostgres(const SqlConnection& cn) {
    return cn.engine() == SqlConnection::Engine::Postgres;
}
bool isSqlite(const SqlConnection& cn) {
    return cn.engine() == SqlConnection::Engine::Sqlite;
}

// Values of these kinds do not survive the trip through the driver exactly (time zones,
// fractions of seconds), so they are not used to find a row again.
bool comparable(const QVariant& v) {
    switch (v.typeId()) {
    case QMetaType::QDateTime:
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::Float:
        return false;
    default:
        return true;
    }
}

// Runs a query and keeps its cursor for the caller; raises the driver's error.
void run(QSqlQuery& query, const QString& sql, const QVariantList& values = {}) {
    bool ok = false;
    if (values.isEmpty()) {
        ok = query.exec(sql);
    } else {
        ok = query.prepare(sql);
        if (ok) {
            for (const QVariant& v : values)
                query.addBindValue(v);
            ok = query.exec();
        }
    }
    if (!ok)
        throw databaseError(dberr::CommandFailed, QString(), query.lastError());
}

} // namespace

bool SqlRecordset::Row::pending() const {
    return isNew || changed.contains(true);
}

SqlRecordset::SqlRecordset(std::shared_ptr<SqlConnection> connection, const QString& sql)
    : cn_(std::move(connection)), sql_(sql) {
    if (!cn_ || !cn_->isOpen())
        throw Error(dberr::InvalidConnection,
                    QStringLiteral("The connection cannot be used to perform this operation. It "
                                   "is either closed or invalid in this context."));
    load();
    open_ = true;
}

void SqlRecordset::load() {
    // Only "select * from <table> [where|order by|limit ...]" is written back.
    static const QRegularExpression single(
        QStringLiteral("^(\\s*select\\s+)\\*(\\s+from\\s+([A-Za-z_][A-Za-z0-9_]*)"
                       "(?:\\s+(?:where|order|limit)\\b.*)?\\s*;?\\s*)$"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::DotMatchesEverythingOption);
    const auto m = single.match(sql_);
    QString rowIdExpr;
    if (m.hasMatch()) {
        table_ = m.captured(3);
        if (isSqlite(*cn_))
            rowIdExpr = QStringLiteral("rowid");
        else if (isPostgres(*cn_))
            rowIdExpr = QStringLiteral("ctid");
    }

    QSqlQuery query;
    bool withRowId = false;
    // Reading is repeated on a server connection that was lost and opened again.
    cn_->attempt(SqlConnection::Use::Read, [&] {
        query = QSqlQuery(cn_->database());
        query.setForwardOnly(true);
        if (isPostgres(*cn_))
            query.setNumericalPrecisionPolicy(QSql::HighPrecision); // numeric as its exact text
        withRowId = false;
        if (!rowIdExpr.isEmpty()) {
            // A refused statement spoils an open PostgreSQL transaction, so the attempt with
            // the row id stands in a savepoint there.
            const bool guard = isPostgres(*cn_) && cn_->inTransaction();
            if (guard)
                cn_->Execute(QStringLiteral("SAVEPOINT ") + kSavepoint);
            const QString withId = m.captured(1) + rowIdExpr + QStringLiteral(" as ") +
                                   kRowIdAlias + QStringLiteral(", *") + m.captured(2);
            withRowId = query.exec(withId);
            if (guard) {
                if (!withRowId)
                    cn_->Execute(QStringLiteral("ROLLBACK TO SAVEPOINT ") + kSavepoint);
                cn_->Execute(QStringLiteral("RELEASE SAVEPOINT ") + kSavepoint);
            }
        }
        if (!withRowId)
            run(query, sql_);
    });
    if (withRowId)
        rowIdExpr_ = rowIdExpr;

    const QSqlRecord record = query.record();
    const int first = withRowId ? 1 : 0;
    for (int i = first; i < record.count(); ++i) {
        columns_.append(record.fieldName(i));
        types_.append(record.field(i).metaType());
    }
    // The values as read lie in one array for all rows; a row has lists of its own only
    // where its values differ from them: presented otherwise (a PostgreSQL numeric), set, or
    // read again after a write.
    const bool presented = isPostgres(*cn_);
    const int width = static_cast<int>(columns_.size());
    while (query.next()) {
        Row row;
        row.first = static_cast<int>(read_.size());
        for (int i = 0; i < width; ++i) {
            QVariant raw = query.value(i + first);
            if (!raw.isValid())
                raw = typedNull(i);
            read_.append(std::move(raw));
        }
        if (presented) {
            for (int i = 0; i < width; ++i)
                row.current.append(present(read_[row.first + i], i));
        }
        if (withRowId)
            row.rowId = query.value(0);
        rows_.append(std::move(row));
    }
    query.finish();
    // A view answers SQLite's rowid with nothing: its rows are then found by their values.
    for (const Row& row : rows_) {
        if (!rowIdExpr_.isEmpty() && row.rowId.isNull())
            rowIdExpr_.clear();
    }
    if (rowIdExpr_.isEmpty()) {
        for (Row& row : rows_)
            row.rowId = QVariant();
    }
    pos_ = 0;
}

const QVariant& SqlRecordset::readValue(const Row& row, int column) const {
    return row.original.isEmpty() ? read_[row.first + column] : row.original[column];
}

const QVariant& SqlRecordset::value(const Row& row, int column) const {
    return row.current.isEmpty() ? readValue(row, column) : row.current[column];
}

QVariant SqlRecordset::typedNull(int column) const {
    QMetaType type = column >= 0 && column < types_.size() ? types_[column] : QMetaType();
    if (!type.isValid())
        type = QMetaType::fromType<QString>();
    return QVariant(type);
}

// PostgreSQL numeric arrives as its exact text; callers see it as a number.
QVariant SqlRecordset::present(const QVariant& raw, int column) const {
    if (raw.isNull() || !isPostgres(*cn_))
        return raw;
    if (types_[column].id() == QMetaType::Double && raw.typeId() == QMetaType::QString) {
        bool ok = false;
        const double d = raw.toString().toDouble(&ok);
        if (ok)
            return QVariant(d);
    }
    return raw;
}

void SqlRecordset::Close() {
    requireOpen();
    open_ = false;
    rows_.clear();
    read_.clear();
    pos_ = 0;
}

void SqlRecordset::requireOpen() const {
    if (!open_)
        throw Error(dberr::ObjectClosed,
                    QStringLiteral("Operation is not allowed when the object is closed."));
}

void SqlRecordset::requireCurrent() const {
    requireOpen();
    if (pos_ < 0 || pos_ >= rows_.size())
        throw Error(dberr::NoCurrentRecord,
                    QStringLiteral("Either BOF or EOF is True, or the current record has been "
                                   "deleted. Requested operation requires a current record."));
}

long SqlRecordset::RecordCount() const {
    requireOpen();
    return static_cast<long>(rows_.size());
}

bool SqlRecordset::Eof() const {
    requireOpen();
    return pos_ >= rows_.size();
}

void SqlRecordset::MoveNext() {
    requireCurrent();
    ++pos_;
}

int SqlRecordset::columnIndex(const QString& name) const {
    // A caller reading row after row asks by the same few spellings again and again; an exact
    // match with a spelling met before is far cheaper than the comparison ignoring case. The
    // same literal passed again is known by its characters' place alone (the kept spelling
    // holds them, so that place cannot have been reused for other text).
    for (const auto& [spelling, column] : found_)
        if (spelling.constData() == name.constData() && spelling.size() == name.size())
            return column;
    for (const auto& [spelling, column] : found_)
        if (spelling == name)
            return column;
    const int column = findColumn(name);
    if (found_.size() < 32)
        found_.append({name, column});
    return column;
}

int SqlRecordset::findColumn(const QString& name) const {
    for (int i = 0; i < columns_.size(); ++i)
        if (columns_[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    throw Error(dberr::ItemNotFound,
                QStringLiteral("Item cannot be found in the collection corresponding to the "
                               "requested name or ordinal: %1")
                    .arg(name));
}

QVariant SqlRecordset::field(const QString& name) const {
    requireOpen();
    const int i = columnIndex(name);
    requireCurrent();
    return value(rows_[pos_], i);
}

void SqlRecordset::setField(const QString& name, const QVariant& value) {
    requireOpen();
    const int i = columnIndex(name);
    requireCurrent();
    Row& row = rows_[pos_];
    if (row.current.isEmpty()) {
        for (int c = 0; c < columns_.size(); ++c)
            row.current.append(readValue(row, c));
    }
    row.current[i] = value.isValid() ? value : typedNull(i);
    if (row.changed.isEmpty())
        row.changed.fill(false, columns_.size());
    row.changed[i] = true;
}

void SqlRecordset::AddNew() {
    requireOpen();
    Row row;
    row.isNew = true;
    for (int i = 0; i < columns_.size(); ++i) {
        row.original.append(typedNull(i));
        row.current.append(typedNull(i));
    }
    row.changed.fill(false, columns_.size());
    rows_.append(row);
    pos_ = static_cast<int>(rows_.size()) - 1;
}

QString SqlRecordset::quoteColumn(int column) const {
    return cn_->database().driver()->escapeIdentifier(columns_[column], QSqlDriver::FieldName);
}

// Before rows are added, the query must still return exactly the rows it returned when read:
// a row someone else added meanwhile (the same terminal saved at another workstation) makes
// the addition a duplicate. On PostgreSQL the table is locked against other writers first, so
// the answer stays true until the transaction ends; SQLite's immediate transaction already
// holds the database's write lock.
void SqlRecordset::checkNoneAdded(int existingRows) {
    if (isPostgres(*cn_))
        cn_->Execute(QStringLiteral("LOCK TABLE ") + table_ +
                     QStringLiteral(" IN SHARE ROW EXCLUSIVE MODE"));
    QSqlQuery query(cn_->database());
    query.setForwardOnly(true);
    run(query, sql_);
    int count = 0;
    while (query.next())
        ++count;
    query.finish();
    if (count != existingRows)
        throw rowChangedError();
}

void SqlRecordset::writeUpdate(Row& row) {
    QStringList sets;
    QVariantList values;
    for (int i = 0; i < columns_.size(); ++i) {
        if (!row.changed[i])
            continue;
        sets.append(quoteColumn(i) + QStringLiteral(" = ?"));
        values.append(row.current[i]);
    }
    QStringList where;
    if (!rowIdExpr_.isEmpty()) {
        where.append(rowIdMatch());
        values.append(row.rowId);
    }
    for (int i = 0; i < columns_.size(); ++i) {
        const QVariant& v = readValue(row, i);
        if (v.isNull()) {
            where.append(quoteColumn(i) + QStringLiteral(" IS NULL"));
        } else if (comparable(v)) {
            where.append(quoteColumn(i) + QStringLiteral(" = ?"));
            values.append(v);
        }
    }
    QString sql = QStringLiteral("UPDATE ") + table_ + QStringLiteral(" SET ") +
                  sets.join(QStringLiteral(", "));
    if (!where.isEmpty())
        sql += QStringLiteral(" WHERE ") + where.join(QStringLiteral(" AND "));

    QSqlQuery query(cn_->database());
    query.setForwardOnly(true);
    int affected = 0;
    if (isPostgres(*cn_) && !rowIdExpr_.isEmpty()) {
        run(query, sql + QStringLiteral(" RETURNING ctid"), values);
        while (query.next()) {
            ++affected;
            row.rowId = query.value(0);
        }
    } else {
        run(query, sql, values);
        affected = query.numRowsAffected();
    }
    query.finish();
    if (affected == 0)
        throw rowChangedError();
    if (affected != 1)
        throw Error(dberr::ProviderFailure,
                    QStringLiteral("Insufficient key column information for updating or "
                                   "refreshing: %1 rows hold the same values. Nothing was "
                                   "written.")
                        .arg(affected));
}

void SqlRecordset::writeInsert(Row& row) {
    QStringList cols;
    QStringList marks;
    QVariantList values;
    for (int i = 0; i < columns_.size(); ++i) {
        if (!row.changed[i])
            continue;
        cols.append(quoteColumn(i));
        marks.append(QStringLiteral("?"));
        values.append(row.current[i]);
    }
    QString sql = QStringLiteral("INSERT INTO ") + table_;
    if (cols.isEmpty())
        sql += QStringLiteral(" DEFAULT VALUES");
    else
        sql += QStringLiteral(" (") + cols.join(QStringLiteral(", ")) +
               QStringLiteral(") VALUES (") + marks.join(QStringLiteral(", ")) +
               QStringLiteral(")");
    QSqlQuery query(cn_->database());
    query.setForwardOnly(true);
    if (isPostgres(*cn_) && !rowIdExpr_.isEmpty()) {
        run(query, sql + QStringLiteral(" RETURNING ctid"), values);
        if (query.next())
            row.rowId = query.value(0);
    } else {
        run(query, sql, values);
        if (!rowIdExpr_.isEmpty())
            row.rowId = insertedRowId(query);
    }
    query.finish();
}

// Qt's ODBC driver does not know SQLite's last row id; the connection still does.
QVariant SqlRecordset::insertedRowId(const QSqlQuery& insert) const {
    QVariant id = insert.lastInsertId();
    if (id.isValid() || !isSqlite(*cn_))
        return id;
    QSqlQuery query(cn_->database());
    if (query.exec(QStringLiteral("SELECT last_insert_rowid()")) && query.next())
        id = query.value(0);
    return id;
}

// A row id arrives as the driver's text over ODBC; PostgreSQL then needs it cast back.
QString SqlRecordset::rowIdMatch() const {
    if (isPostgres(*cn_))
        return rowIdExpr_ + QStringLiteral(" = CAST(? AS tid)");
    return rowIdExpr_ + QStringLiteral(" = ?");
}

// After a write the row is read again by its row id, so a later UpdateBatch compares with
// what the database really holds (a number stored into a numeric column, defaults, ...).
void SqlRecordset::refresh(Row& row) {
    row.isNew = false;
    row.changed.fill(false, columns_.size());
    row.original = row.current;
    if (rowIdExpr_.isEmpty() || !row.rowId.isValid())
        return;
    QSqlQuery query(cn_->database());
    query.setForwardOnly(true);
    if (isPostgres(*cn_))
        query.setNumericalPrecisionPolicy(QSql::HighPrecision);
    const QString sql =
        QStringLiteral("select * from ") + table_ + QStringLiteral(" where ") + rowIdMatch();
    if (!query.prepare(sql))
        return;
    query.addBindValue(row.rowId);
    if (!query.exec() || !query.next())
        return;
    const QSqlRecord record = query.record();
    if (record.count() != columns_.size())
        return;
    for (int i = 0; i < columns_.size(); ++i) {
        QVariant raw = query.value(i);
        if (!raw.isValid())
            raw = typedNull(i);
        row.original[i] = raw;
        row.current[i] = present(raw, i);
    }
}

void SqlRecordset::UpdateBatch(int /*affectRecords*/) {
    requireOpen();
    QVector<int> pending;
    int existing = 0;
    bool adding = false;
    for (int i = 0; i < rows_.size(); ++i) {
        if (!rows_[i].isNew)
            ++existing;
        if (rows_[i].pending()) {
            pending.append(i);
            adding = adding || rows_[i].isNew;
        }
    }
    if (pending.isEmpty())
        return;
    if (table_.isEmpty())
        throw Error(dberr::NotUpdatable,
                    QStringLiteral("Current Recordset does not support updating: it does not "
                                   "come from one table."));
    if (!cn_->isOpen())
        throw Error(dberr::InvalidConnection,
                    QStringLiteral("The connection cannot be used to perform this operation. It "
                                   "is either closed or invalid in this context."));
    // A file that has gone takes no rows; a lost server connection is opened again first.
    cn_->ensureUsable(SqlConnection::Use::Write);

    // All pending rows are written in one transaction (a savepoint inside the caller's own).
    enum class Tx { Own, Savepoint, Caller };
    Tx tx = Tx::Caller;
    QSqlDatabase db = cn_->database();
    const bool savepoints = isSqlite(*cn_) || isPostgres(*cn_);
    if (!cn_->inTransaction()) {
        if (isSqlite(*cn_))
            cn_->Execute(QStringLiteral("BEGIN IMMEDIATE"));
        else if (!db.transaction())
            throw databaseError(dberr::CommandFailed, QStringLiteral("Cannot begin a transaction"),
                                db.lastError());
        tx = Tx::Own;
    } else if (savepoints) {
        cn_->Execute(QStringLiteral("SAVEPOINT ") + kSavepoint);
        tx = Tx::Savepoint;
    }

    QVector<Row> written = rows_;
    try {
        if (adding)
            checkNoneAdded(existing);
        for (int i : pending) {
            if (written[i].isNew)
                writeInsert(written[i]);
            else
                writeUpdate(written[i]);
        }
        if (tx == Tx::Own) {
            if (isSqlite(*cn_))
                cn_->Execute(QStringLiteral("COMMIT"));
            else if (!db.commit())
                throw databaseError(dberr::CommandFailed, QStringLiteral("Cannot commit"),
                                    db.lastError());
        } else if (tx == Tx::Savepoint) {
            cn_->Execute(QStringLiteral("RELEASE SAVEPOINT ") + kSavepoint);
        }
    } catch (...) {
        try {
            if (tx == Tx::Own) {
                if (isSqlite(*cn_))
                    cn_->Execute(QStringLiteral("ROLLBACK"));
                else
                    db.rollback();
            } else if (tx == Tx::Savepoint) {
                cn_->Execute(QStringLiteral("ROLLBACK TO SAVEPOINT ") + kSavepoint);
                cn_->Execute(QStringLiteral("RELEASE SAVEPOINT ") + kSavepoint);
            }
        } catch (const Error&) {
            // The first error is the one that matters.
        }
        throw;
    }
    for (int i : pending) {
        rows_[i] = written[i];
        refresh(rows_[i]);
    }
}

} // namespace bw::store

#pragma once

#include "platform/ado.h"
#include "store/sql_connection.h"

#include <QMetaType>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>
#include <QVector>
#include <memory>

namespace bw::store {

// The rows of one SELECT, read wholly into memory when opened (so RecordCount is the true
// count), walked with Eof/MoveNext, read and written by column name (letter case ignored).
// A SQL NULL reads as a typed null value (valid, isNull()).
//
// Rows of "select * from <table> [where ...] [order by ...]" can be written back: AddNew appends
// a row, setField edits the current one, UpdateBatch writes every pending row in one
// transaction. An edited row is found again by the database's row id where there is one (SQLite
// rowid, PostgreSQL ctid) and by all the values it had when read; when another user changed or
// removed it in between, or added a row the query would now return before an AddNew row is
// written, UpdateBatch raises an error and writes nothing.
class SqlRecordset : public Recordset {
public:
    // Runs the query on the connection and positions on the first row; a refused query
    // raises bw::Error with the driver's description.
    SqlRecordset(std::shared_ptr<SqlConnection> connection, const QString& sql);

    int State() const override { return open_ ? adStateOpen : adStateClosed; }
    void Close() override;
    long RecordCount() const override;
    bool Eof() const override;
    void MoveNext() override;
    QVariant field(const QString& name) const override;
    void setField(const QString& name, const QVariant& value) override;
    void AddNew() override;
    void UpdateBatch(int affectRecords = adAffectAll) override;

    // The table the rows are written back to; empty when the recordset cannot be written.
    QString tableName() const { return table_; }
    QStringList columnNames() const { return columns_; }
    bool hasRowIds() const { return !rowIdExpr_.isEmpty(); }

private:
    struct Row {
        int first = -1;        // where the row's values as read start in read_
        QVariantList original; // as last read (bound when finding the row again); empty: in read_
        QVariantList current;  // as the caller sees and sets them; empty: as read
        QVector<bool> changed; // one mark a column, or empty when none was set
        bool isNew = false;
        QVariant rowId;
        bool pending() const;
    };

    void load();
    void requireOpen() const;
    void requireCurrent() const;
    int columnIndex(const QString& name) const; // raises ItemNotFound
    int findColumn(const QString& name) const;
    QVariant typedNull(int column) const;
    const QVariant& readValue(const Row& row, int column) const;
    const QVariant& value(const Row& row, int column) const;
    QVariant present(const QVariant& raw, int column) const;
    void checkNoneAdded(int existingRows);
    void writeUpdate(Row& row);
    void writeInsert(Row& row);
    void refresh(Row& row);
    QString quoteColumn(int column) const;
    QString rowIdMatch() const;
    QVariant insertedRowId(const QSqlQuery& insert) const;

    std::shared_ptr<SqlConnection> cn_;
    QString sql_;
    QString table_;
    QString rowIdExpr_;
    QStringList columns_;
    QVector<QMetaType> types_;
    QVector<Row> rows_;
    QVariantList read_;                        // the values of every row as read, row after row
    mutable QList<QPair<QString, int>> found_; // name spellings asked for, with their column
    int pos_ = 0;
    bool open_ = false;
};

} // namespace bw::store

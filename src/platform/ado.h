#pragma once

#include <QString>
#include <QVariant>
#include <memory>

namespace bw {

// The host's database connection as the component uses it.
// Errors of every member are raised as bw::Error.
class Connection {
public:
    virtual ~Connection() = default;

    virtual QString ConnectionString() const = 0;
    virtual bool isOpen() const = 0;

    // Runs one statement. Options -1 (adOptionUnspecified): any result set is released unread.
    virtual void Execute(const QString& sql, int options = -1) = 0;

    virtual void BeginTrans() = 0;
    virtual void CommitTrans() = 0;
    virtual void RollbackTrans() = 0;
};
using ConnectionPtr = std::shared_ptr<Connection>;

// A query's rows, walked one at a time, readable and writable by column name.
// Column names compare without regard to letter case; a SQL NULL reads as a null QVariant.
class Recordset {
public:
    virtual ~Recordset() = default;

    static constexpr int adStateClosed = 0;
    static constexpr int adStateOpen = 1;
    static constexpr int adAffectAll = 3;

    virtual int State() const = 0;
    virtual void Close() = 0;
    virtual long RecordCount() const = 0; // the true count, never -1
    virtual bool Eof() const = 0;         // ADO's EOF (EOF itself is a C macro)
    virtual void MoveNext() = 0;

    virtual QVariant field(const QString& name) const = 0;
    virtual void setField(const QString& name, const QVariant& value) = 0;

    virtual void AddNew() = 0;
    virtual void UpdateBatch(int affectRecords = adAffectAll) = 0;
};
using RecordsetPtr = std::shared_ptr<Recordset>;

} // namespace bw

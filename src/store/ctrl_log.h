#pragma once

#include "store/dialect.h"

#include <QDateTime>
#include <QString>

namespace bw {

// Writes one entry into the operation log (CtrlLog) through a fresh database-tools component's
// connection: user, time, object, action, result. Never raises and never shows anything: an
// entry the database refuses is dropped, with the statement's error on the diagnostic output.
void WriteCtrlLog(const QString& user, const QDateTime& time, const QString& object,
                  const QString& action, const QString& result);

namespace store {

// The delimiter put around the entry time: the dialect's date delimiter, except that the
// "other" dialect (SQLite, PostgreSQL, ODBC back ends) gets single quotes, without which the
// database refuses the time text.
QString logTimeDelimiter(Dialect dialect);

// The entry time as text, the same in every dialect.
QString logTimeText(const QDateTime& time);

// The statement WriteCtrlLog sends on a connection with this connection string.
QString ctrlLogStatement(const QString& connectionString, const QString& user,
                         const QDateTime& time, const QString& object, const QString& action,
                         const QString& result);

} // namespace store
} // namespace bw

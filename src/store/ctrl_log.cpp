#include "store/ctrl_log.h"

#include "platform/interfaces.h"
#include "platform/registry.h"
#include "store/statements.h"

#include <QtGlobal>
#include <exception>

namespace bw {

namespace store {

QString logTimeDelimiter(Dialect dialect) {
    if (dialect == Dialect::Other)
        return QStringLiteral("'");
    return dateDelimiter(dialect);
}

QString logTimeText(const QDateTime& time) {
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString ctrlLogStatement(const QString& connectionString, const QString& user,
                         const QDateTime& time, const QString& object, const QString& action,
                         const QString& result) {
    const QString delimiter = logTimeDelimiter(recognise(connectionString));
    return logWriterForm(user, delimiter, logTimeText(time), object, action, result);
}

} // namespace store

void WriteCtrlLog(const QString& user, const QDateTime& time, const QString& object,
                  const QString& action, const QString& result) {
    QString sql;
    try {
        ConnectionPtr cn;
        {
            auto tools = CreateObject<IDbTools>(progid::DbTools);
            cn = tools->ActiveCn();
        } // the component is released here; the connection is kept for the entry
        const QString connectionString = cn ? cn->ConnectionString() : QString();
        sql = store::ctrlLogStatement(connectionString, user, time, object, action, result);
        if (!cn)
            throw Error(err::ObjectNotSet, QStringLiteral("No database connection"));
        cn->Execute(sql, -1);
    } catch (const Error& e) {
        qWarning("Operation log entry dropped (%d: %s); statement: %s", e.number(),
                 qUtf8Printable(e.description()), qUtf8Printable(sql));
    } catch (const std::exception& e) {
        qWarning("Operation log entry dropped (%s); statement: %s", e.what(), qUtf8Printable(sql));
    } catch (...) {
        qWarning("Operation log entry dropped; statement: %s", qUtf8Printable(sql));
    }
}

} // namespace bw

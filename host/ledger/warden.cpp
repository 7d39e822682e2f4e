#include "host/ledger/warden.h"

#include "host/ledger/ledger.h"
#include "store/sql_connection.h"

#include <QtGlobal>

namespace bw::host {

bool Warden::CheckPermission(ConnectionPtr& cn, const QString& /*systemName*/, const QString& user,
                             const QVariant& /*omitted*/, const QString& functionName,
                             bool /*flag1*/, bool /*flag2*/) {
    std::shared_ptr<store::SqlConnection> sql = std::dynamic_pointer_cast<store::SqlConnection>(cn);
    if (!sql || !sql->isOpen())
        sql = sharedConnection();
    if (!sql)
        return false;
    try {
        const auto rows =
            sql->queryBound(QStringLiteral("SELECT COUNT(*) FROM UserGrants WHERE UserName = ? AND "
                                           "(FunctionName = ? OR FunctionName = '*') AND NOT "
                                           "EXISTS (SELECT 1 FROM Operators WHERE Name = "
                                           "UserGrants.UserName AND Disabled <> 0)"),
                            {user, functionName});
        return !rows.isEmpty() && !rows.first().isEmpty() && rows.first().first().toLongLong() > 0;
    } catch (const Error& e) {
        qWarning("Permission check refused (%d: %s)", e.number(), qUtf8Printable(e.description()));
        return false;
    }
}

} // namespace bw::host

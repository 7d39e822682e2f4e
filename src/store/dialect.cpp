#include "store/dialect.h"

namespace bw::store {

namespace {
const QString kJetProvider = QStringLiteral("Provider=Microsoft.Jet.OLEDB.4.0;");
const QString kSqlServerProvider = QStringLiteral("Provider=SQLOLEDB.1;");
} // namespace

Dialect recognise(const QString& connectionString) {
    if (connectionString.toLower().contains(kJetProvider.toLower()))
        return Dialect::Access;
    if (connectionString.toLower().contains(kSqlServerProvider.toLower()))
        return Dialect::SqlServer;
    return Dialect::Other;
}

QString dateDelimiter(Dialect dialect) {
    switch (dialect) {
    case Dialect::Access:
        return QStringLiteral("#");
    case Dialect::SqlServer:
        return QStringLiteral("'");
    case Dialect::Other:
        break;
    }
    return QString();
}

} // namespace bw::store

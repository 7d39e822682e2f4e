#pragma once

#include <QString>

namespace bw::store {

// The SQL dialect of the host's connection, told from its connection string.
enum class Dialect { Access, SqlServer, Other };

// Access when the string holds "Provider=Microsoft.Jet.OLEDB.4.0;", else SQL Server when it holds
// "Provider=SQLOLEDB.1;", else Other. The test ignores letter case; the trailing ";" belongs to
// the provider text, and Access is tested first.
Dialect recognise(const QString& connectionString);

// The date delimiter of a dialect: "#" (Access), "'" (SQL Server), "" (other).
QString dateDelimiter(Dialect dialect);

} // namespace bw::store

#pragma once

#include "platform/interfaces.h"
#include "store/sql_connection.h"

#include <QString>
#include <memory>

namespace bw::host {

// Chooses the host database for the whole process (see docs/connection-strings.md). The shared
// connection is closed and reopened from the new string when next asked for.
void setConnectionString(const QString& connectionString);
QString connectionString();

// The process's one shared connection, opened on first use; null when no database is set
// or it cannot be opened (sharedConnectionProblem() says why). It is closed when the
// application object goes.
std::shared_ptr<store::SqlConnection> sharedConnection();
QString sharedConnectionProblem();

// Closes the shared connection (the next use opens it again).
void closeSharedConnection();

// Registers the default database components: "Harrowgate.Ledger" and "Quenby.Warden".
void registerDbComponents();

// The default database-tools component, "Harrowgate.Ledger". Every instance hands out the
// same shared connection.
class Ledger : public IDbTools {
public:
    ConnectionPtr ActiveCn() override;
    RecordsetPtr RecordSetA(const QString& sql) override;
    QString DateExchangeA(const QDateTime& when) override;
    void ConnectA() override;
};

// A complete date literal for a connection string: #yyyy-MM-dd HH:mm:ss# for an Access
// connection, 'yyyy-MM-dd HH:mm:ss' for every other.
QString dateLiteral(const QString& connectionString, const QDateTime& when);

} // namespace bw::host

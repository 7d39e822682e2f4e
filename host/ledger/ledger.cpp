#include "host/ledger/ledger.h"

#include "host/ledger/warden.h"
#include "store/dialect.h"
#include "store/sql_recordset.h"

#include <QCoreApplication>
#include <QtGlobal>

namespace bw::host {

namespace {

struct Shared {
    QString connectionString;
    std::shared_ptr<store::SqlConnection> connection;
    QString problem; // why the last open failed
    bool closesWithApplication = false;
};

Shared& shared() {
    static Shared s;
    return s;
}

} // namespace

void setConnectionString(const QString& connectionString) {
    closeSharedConnection();
    shared().connectionString = connectionString;
}

QString connectionString() {
    return shared().connectionString;
}

std::shared_ptr<store::SqlConnection> sharedConnection() {
    Shared& s = shared();
    if (s.connection && s.connection->isOpen())
        return s.connection;
    s.connection.reset();
    s.problem.clear();
    if (s.connectionString.trimmed().isEmpty())
        return nullptr;
    try {
        s.connection = store::SqlConnection::open(s.connectionString);
    } catch (const Error& e) {
        s.problem = e.description();
        return nullptr;
    }
    // Qt SQL's own state goes with the application object; a connection still open after
    // it (this function's static outliving main) would crash the program on its way out.
    if (!s.closesWithApplication && QCoreApplication::instance()) {
        qAddPostRoutine(closeSharedConnection);
        s.closesWithApplication = true;
    }
    return s.connection;
}

QString sharedConnectionProblem() {
    return shared().problem;
}

void closeSharedConnection() {
    Shared& s = shared();
    // Recordsets and callers still holding the connection keep it alive; only the shared
    // reference goes.
    s.connection.reset();
}

void registerDbComponents() {
    Registry::instance().registerClass(progid::DbTools, [] { return std::make_shared<Ledger>(); });
    Registry::instance().registerClass(progid::Permission,
                                       [] { return std::make_shared<Warden>(); });
}

ConnectionPtr Ledger::ActiveCn() {
    return sharedConnection();
}

RecordsetPtr Ledger::RecordSetA(const QString& sql) {
    auto cn = sharedConnection();
    if (!cn)
        throw Error(store::dberr::InvalidConnection,
                    QStringLiteral("The connection cannot be used to perform this operation. It "
                                   "is either closed or invalid in this context."));
    return std::make_shared<store::SqlRecordset>(cn, sql);
}

QString dateLiteral(const QString& connectionString, const QDateTime& when) {
    const QString text = when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (store::recognise(connectionString) == store::Dialect::Access)
        return QLatin1Char('#') + text + QLatin1Char('#');
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

QString Ledger::DateExchangeA(const QDateTime& when) {
    auto cn = sharedConnection();
    return dateLiteral(cn ? cn->ConnectionString() : connectionString(), when);
}

void Ledger::ConnectA() {
    // The connection is opened on demand; asking for it here only makes sure it is ready.
    sharedConnection();
}

} // namespace bw::host

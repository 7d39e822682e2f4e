#include "tools/bell/site_register.h"

#include "platform/convert.h"
#include "platform/error.h"
#include "platform/port_text.h"
#include "store/connection_string.h"
#include "store/sql_connection.h"
#include "store/sql_recordset.h"
#include "store/statements.h"

#include <QFileInfo>

namespace bw::tool {

bool RegisteredTerminal::serial() const {
    return !isIpAddressText(ip.trimmed());
}

int RegisteredTerminal::port() const {
    bool ok = false;
    const int n = comX.trimmed().toInt(&ok);
    return ok && n >= 1 && n <= 16 ? n : 0;
}

QList<RegisteredTerminal> readRegister(const QString& connectionString) {
    const store::BackendSettings backend = store::parseConnectionString(connectionString);
    if (backend.kind == store::BackendSettings::Kind::Sqlite &&
        !QFileInfo::exists(backend.databaseName))
        throw Error(store::dberr::ProviderFailure,
                    QStringLiteral("no register at %1 (start brackwater once, or give --db)")
                        .arg(backend.databaseName));
    store::SqlRecordset rs(store::SqlConnection::open(connectionString), store::terminalsOfModel());
    QList<RegisteredTerminal> terminals;
    for (; !rs.Eof(); rs.MoveNext()) {
        RegisteredTerminal t;
        t.address = qRound(TextOf(rs.field(QStringLiteral("MachAddr"))).toDouble());
        t.comX = TextOf(rs.field(QStringLiteral("ComX")));
        t.ip = TextOf(rs.field(QStringLiteral("IP")));
        terminals << t;
    }
    return terminals;
}

} // namespace bw::tool

#include "host/app/host_setup.h"

#include "bell/serial_port.h"
#include "entry/kq.h"
#include "host/collect_ui/collect_window.h"
#include "host/ledger/ledger.h"
#include "host/ledger/schema.h"
#include "host/lexicon/lexicon.h"
#include "host/link/link.h"
#include "platform/error.h"
#include "platform/language.h"
#include "platform/ui.h"
#include "store/connection_string.h"
#include "store/dialect.h"
#include "store/sql_connection.h"

#include <QFileInfo>
#include <QTextStream>

namespace bw::host {

void registerDefaultComponents() {
    registerComponent();
    registerLexicon();
    registerDbComponents();
    registerLink();
    collect::registerDataCollection();
}

void applyLineOptions(const HostOptions& options) {
    if (options.lang != 0)
        setUiLanguage(options.lang);
    loadQtTexts(uiLanguage());
    setBellSectionShown(options.bellSection);
    // A COMn the settings name without a device opens nothing (no device is guessed for it).
    for (int port : options.comWithoutDevice)
        bell::setNoDevice(port);
    for (const auto& [port, device] : options.com)
        bell::setDevicePath(port, device);
    for (const auto& [from, to] : options.tcpPortMap)
        setTcpPortMap(from, to);
}

namespace {

// The file an SQLite connection string names, or empty for other back ends.
QString sqliteFile(const QString& connection) {
    const store::BackendSettings settings = store::parseConnectionString(connection);
    return settings.kind == store::BackendSettings::Kind::Sqlite ? settings.databaseName
                                                                 : QString();
}

// The demo's terminals, cards and operators go only where the demo is asked for: --demo, or
// --sim on the embedded default (its simulator plays the demo's terminals). A database named
// by --db or the settings gets them with --demo only.
bool wantsDemo(const HostOptions& options) {
    return options.demo || (options.sim && options.db.isEmpty());
}

} // namespace

QString prepareDatabase(const HostOptions& options) {
    // The settings file's database is in options.db already: without one, the embedded default.
    const QString connection = hostConnection(options.db, Settings());
    const QString file = sqliteFile(connection);
    const bool fresh = !file.isEmpty() && !QFileInfo::exists(file);
    // A new database is made where one is meant only: the embedded default's first start, or
    // --demo. A named file that is not there is not replaced by an empty one. It starts empty
    // (the first administrator only) unless the demo is asked for.
    if (fresh && (options.db.isEmpty() || options.demo)) {
        try {
            store::SqlConnection made(connection, store::Create::Yes);
            createHostSchema(made, wantsDemo(options));
        } catch (const Error& e) {
            return QStringLiteral("cannot make the host database: ") + e.description();
        }
    }

    setConnectionString(connection);
    auto cn = sharedConnection();
    if (!cn || !cn->isOpen())
        return sharedConnectionProblem();
    // A Windows host's SQL Server or Access database already holds its tables, and the host
    // schema's SQL is not theirs.
    if (store::recognise(connection) != store::Dialect::Other)
        return QString();
    try {
        // The demo makes any database without terminals the demo's; any other must be a host
        // database already, which gets the host's own tables it lacks.
        if (wantsDemo(options))
            createHostSchema(*cn, true);
        else
            completeHostSchema(*cn);
    } catch (const Error& e) {
        closeSharedConnection();
        return QStringLiteral("cannot use the host database: ") + e.description();
    }
    return QString();
}

QString databaseProblemText(const QString& connection, const QString& reason,
                            const QString& settingsFile, int lang) {
    const QString text = lang == LangTraditional
                             ? QStringLiteral("無法打開數據庫：%1\n原因：%2\n設定檔：%3")
                             : QStringLiteral("无法打开数据库：%1\n原因：%2\n设置文件：%3");
    return text.arg(store::maskPassword(connection), reason, settingsFile);
}

int reportDatabaseProblem(const QString& reason) {
    const QString connection = connectionString();
    const QString settingsFile = settingsFileInUse();
    QTextStream(stderr) << "brackwater: cannot open the host database "
                        << store::maskPassword(connection) << ": " << reason.simplified()
                        << " (settings file: " << settingsFile << ")\n";
    MsgBox(databaseProblemText(connection, reason, settingsFile, uiLanguage()), mb::Critical);
    return 1;
}

} // namespace bw::host

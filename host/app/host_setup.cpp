#include "host/app/host_setup.h"

#include "bell/serial_port.h"
#include "entry/kq.h"
#include "host/collect_ui/collect_window.h"
#include "host/ledger/ledger.h"
#include "host/ledger/operators.h"
#include "host/ledger/schema.h"
#include "host/lexicon/lexicon.h"
#include "host/link/link.h"
#include "platform/error.h"
#include "platform/language.h"
#include "platform/ui.h"
#include "store/connection_string.h"
#include "store/dialect.h"
#include "store/sql_connection.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A new database in a folder a group shares (set-group-id, as the site's folder is) is made the
// group's to write, and never others' to read, before SQLite fills it: SQLite gives its journal,
// -wal and -shm the database's own mode. True when the (empty) file was made here.
bool makeGroupFile(const QString& file) {
    struct stat st {};
    const QByteArray dir = QFile::encodeName(QFileInfo(file).absolutePath());
    if (::stat(dir.constData(), &st) != 0 || !(st.st_mode & S_ISGID))
        return false;
    const int fd = ::open(QFile::encodeName(file).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0660);
    if (fd < 0)
        return false;
    const bool made = ::fchmod(fd, 0660) == 0;
    ::close(fd);
    return made;
}

} // namespace

QString prepareDatabase(const HostOptions& options) {
    // The settings file's database is in options.db already: without one, the site's, else
    // the account's own (always the demo's).
    const QString connection = hostConnection(options.db, Settings(), wantsDemo(options));
    const QString file = sqliteFile(connection);
    const bool fresh = !file.isEmpty() && !QFileInfo::exists(file);
    const bool site = connection == siteConnection();
    // A new database is made where one is meant only: the site's or the embedded default's
    // first start, or --demo. A named file that is not there is not replaced by an empty one.
    // It starts empty (the first administrator only; the site's also has the nightly service's
    // operator) unless the demo is asked for.
    if (fresh && (options.db.isEmpty() || options.demo || site)) {
        const bool groupFile = makeGroupFile(file);
        try {
            store::SqlConnection made(connection, store::Create::Yes);
            createHostSchema(made, wantsDemo(options));
            if (site)
                operators::addServiceOperator(made, QLatin1String(SiteGroup), options.caption);
        } catch (const Error& e) {
            if (groupFile && QFileInfo(file).size() == 0)
                QFile::remove(file); // the next start makes it again
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
                             ? QStringLiteral("無法開啟資料庫：%1\n原因：%2\n設定檔：%3")
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

bool refuseOutsider(const HostOptions& options) {
    const QString line = wantsDemo(options) ? QString() : outsideSiteProblem(options.db, {});
    if (line.isEmpty())
        return false;
    QTextStream(stderr) << "brackwater: " << line << "\n";
    const QString account = operators::desktopAccount();
    MsgBox((uiLanguage() == LangTraditional
                ? QStringLiteral("本帳戶（%1）不在 %2 群組中，不能使用本站的資料庫。\n"
                                 "請管理員執行：sudo adduser %1 %2\n然後重新登入。")
                : QStringLiteral("本账户（%1）不在 %2 组中，不能使用本站的数据库。\n"
                                 "请管理员执行：sudo adduser %1 %2\n然后重新登录。"))
               .arg(account, QLatin1String(SiteGroup)),
           mb::Critical);
    return true;
}

void offerOwnDatabase(const HostOptions& options) {
    const QString connection = connectionString();
    const QString own = defaultDatabasePath();
    const QString asked = QFileInfo(own).dir().filePath(QStringLiteral("site-offered"));
    if (wantsDemo(options) || connection != siteConnection() || sqliteFile(connection) == own ||
        !QFileInfo::exists(own) || QFileInfo::exists(asked))
        return;
    auto cn = sharedConnection();
    try {
        if (!cn || holdsSiteData(*cn) || !holdsSiteData(own))
            return;
    } catch (const Error&) {
        return; // an account's file that is no host database is not offered
    }
    const bool traditional = uiLanguage() == LangTraditional;
    const QString site = sqliteFile(connection);
    const int answer = MsgBox(
        (traditional
             ? QStringLiteral("本帳戶以前的資料庫（%1）中有就餐機、卡號或就餐記錄，本站的資料庫"
                              "（%2）還是空的。\n要把以前的資料庫整個移入本站的資料庫嗎？\n"
                              "選「否」則兩者都保持原樣，以後不再詢問。")
             : QStringLiteral("本账户以前的数据库（%1）中有就餐机、卡号或就餐记录，本站的数据库"
                              "（%2）还是空的。\n要把以前的数据库整个移入本站的数据库吗？\n"
                              "选“否”则两者都保持原样，以后不再询问。"))
            .arg(own, site),
        mb::YesNo | mb::Question | mb::DefaultButton2);
    if (answer == mb::Yes) {
        try {
            moveDatabaseInto(*cn, own);
            operators::addServiceOperator(*cn, QLatin1String(SiteGroup), options.caption);
            operators::addFirstAdministrator(*cn);
        } catch (const Error& e) {
            // Nothing moved: offered again at the next start.
            MsgBox((traditional ? QStringLiteral("沒有移入，本站的資料庫保持原樣：%1")
                                : QStringLiteral("没有移入，本站的数据库保持原样：%1"))
                       .arg(e.description()),
                   mb::Critical);
            return;
        }
    }
    QSaveFile mark(asked);
    if (!mark.open(QIODevice::WriteOnly) || mark.write(site.toUtf8() + '\n') < 0 || !mark.commit())
        QTextStream(stderr) << "brackwater: cannot write " << asked << "\n";
}

} // namespace bw::host

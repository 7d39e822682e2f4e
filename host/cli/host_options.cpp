#include "host/cli/host_options.h"

#include "bell/serial_port.h"
#include "host/cli/printable.h"
#include "host/ledger/operators.h"
#include "host/ledger/stations.h"
#include "host/link/link.h"
#include "host/site/site_layer.h"
#include "platform/clock_guard.h"
#include "store/connection_string.h"
#include "store/sql_connection.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace bw::host {

namespace {

bool parsePair(const QString& text, int& number, QString& rest) {
    const int eq = text.indexOf(u'=');
    if (eq <= 0)
        return false;
    bool ok = false;
    number = text.left(eq).trimmed().toInt(&ok);
    rest = text.mid(eq + 1).trimmed();
    return ok && !rest.isEmpty();
}

} // namespace

bool parseComOption(const QString& text, int& port, QString& device) {
    return parsePair(text, port, device) && isComPort(port);
}

bool parsePortMapOption(const QString& text, int& from, int& to) {
    QString toText;
    bool ok = false;
    if (parsePair(text, from, toText))
        to = toText.toInt(&ok);
    return ok && isTcpPort(from) && isTcpPort(to);
}

bool parseLineWaitOption(const QString& text, int& ms) {
    bool ok = false;
    const double seconds = text.trimmed().toDouble(&ok);
    if (!ok || !(seconds >= 0 && seconds <= 3600))
        return false;
    ms = int(seconds * 1000 + 0.5);
    return true;
}

HostOptions parseHostOptions(const QStringList& arguments, const Settings& saved) {
    HostOptions o;
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Brackwater: register and work the model-6429 meal terminals.\n\n"
                       "Exit status: 0 a normal end (also a sign-in cancelled), 1 the database or "
                       "the window cannot be opened, 2 a wrong command line, 4 not allowed (a "
                       "picture's run acts as the desktop account, which is no operator)."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("Host database connection string (default: an "
                                               "SQLite file in the user's data folder)."),
                                QStringLiteral("CONNECTION"));
    const QCommandLineOption user(
        QStringLiteral("user"),
        QStringLiteral("The operator name the sign-in window is filled with (the "
                       "demo: the operator it signs in as)."),
        QStringLiteral("NAME"), o.user);
    const QCommandLineOption caption(QStringLiteral("caption"),
                                     QStringLiteral("Caption used in the permission checks."),
                                     QStringLiteral("TEXT"), o.caption);
    const QCommandLineOption lang(QStringLiteral("lang"),
                                  QStringLiteral("Language of the texts: 2052 or 1028."),
                                  QStringLiteral("ID"));
    const QCommandLineOption com(QStringLiteral("com"),
                                 QStringLiteral("Serial device of port n, e.g. 3=/dev/ttyUSB0 "
                                                "(repeatable)."),
                                 QStringLiteral("n=DEVICE"));
    const QCommandLineOption tcpMap(QStringLiteral("tcp-port-map"),
                                    QStringLiteral("Reach terminals' TCP port FROM on port TO "
                                                   "instead, e.g. 1001=15001 (repeatable)."),
                                    QStringLiteral("FROM=TO"));
    const QCommandLineOption sim(QStringLiteral("sim"),
                                 QStringLiteral("Start the terminal simulator for the demo "
                                                "terminals (COM1 and TCP on loopback)."));
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Put the demo terminals, card mappings and "
                                                 "grants into a database that has no terminal."));
    const QCommandLineOption shot(QStringLiteral("screenshot"),
                                  QStringLiteral("Write a PNG of the window to FILE and exit."),
                                  QStringLiteral("FILE"));
    const QCommandLineOption traceLine(
        QStringLiteral("trace-line"),
        QStringLiteral("Write every frame of the serial and TCP lines to FILE."),
        QStringLiteral("FILE"));
    const QCommandLineOption shotCollect(
        QStringLiteral("screenshot-collect"),
        QStringLiteral("Collect every terminal in the collection window, write a PNG of it "
                       "to FILE and exit."),
        QStringLiteral("FILE"));
    const QCommandLineOption shotStatus(
        QStringLiteral("screenshot-status"),
        QStringLiteral("Open the console, write a PNG of it to FILE once the terminals' status "
                       "is read, and exit."),
        QStringLiteral("FILE"));
    const QCommandLineOption workstation(
        QStringLiteral("workstation"),
        QStringLiteral("This computer's workstation name in the register (default: the "
                       "settings file's, else the host name)."),
        QStringLiteral("NAME"));
    p.addOptions({help, db, user, caption, lang, com, tcpMap, sim, demo, shot, shotCollect,
                  shotStatus, traceLine, workstation});

    const QCommandLineOption version = p.addVersionOption();
    const QCommandLineOption bellSection(
        QStringLiteral("bell-section"),
        QStringLiteral("Show the bell times, the bell count and their buttons beside the "
                       "terminal details."));
    const QCommandLineOption showSettings(
        QStringLiteral("settings"),
        QStringLiteral("Print the effective settings and the settings file's path, and exit."));
    const QCommandLineOption saveSettings(
        QStringLiteral("save-settings"),
        QStringLiteral("Keep this command line's database, user, language, ports, simulator "
                       "and bell-section choices in the settings file, and exit."));
    QCommandLineOption pressTool(QStringLiteral("press-tool"),
                                 QStringLiteral("Press the tool KEY of the terminal window, "
                                                "else of the console, once they are shown "
                                                "(scripted runs; repeatable, in turn)."),
                                 QStringLiteral("KEY"));
    pressTool.setFlags(QCommandLineOption::HiddenFromHelp);
    p.addOptions({bellSection, showSettings, saveSettings, pressTool});

    if (!p.parse(arguments)) {
        o.error = p.errorText();
        return o;
    }
    // The parser names the program from the application object, which does not exist yet.
    o.helpText =
        p.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("brackwater"));
    o.help = p.isSet(help);
    o.saved = saved;
    o.db = p.isSet(db) ? p.value(db) : saved.db;
    o.userGiven = p.isSet(user);
    o.user = o.userGiven || saved.user.isEmpty() ? p.value(user) : saved.user;
    o.caption = p.value(caption);
    o.sim = p.isSet(sim) || saved.sim;
    o.demo = p.isSet(demo);
    // The demo works on the account's own database, never on the site's.
    if ((o.demo || o.sim) && !p.isSet(db) && !o.db.isEmpty() && o.db == siteConnection())
        o.db.clear();
    o.screenshot = p.value(shot);
    o.version = p.isSet(version);
    o.bellSection = p.isSet(bellSection) || saved.bellSection;
    o.showSettings = p.isSet(showSettings);
    o.saveSettings = p.isSet(saveSettings);
    o.lang = saved.lang;
    o.com = saved.com;
    o.comWithoutDevice = saved.comWithoutDevice;
    o.tcpPortMap = saved.tcpPortMap;
    o.screenshotCollect = p.value(shotCollect);
    o.screenshotStatus = p.value(shotStatus);
    o.pressTools = p.values(pressTool);
    o.traceLine = p.isSet(traceLine) ? p.value(traceLine) : saved.traceLine;
    o.workstation = p.isSet(workstation) ? p.value(workstation).trimmed() : saved.workstation;
    if (p.isSet(workstation) && !isWorkstationName(o.workstation))
        o.error = QStringLiteral("--workstation takes a name of 1 to %1 printable characters")
                      .arg(MaxWorkstationName);
    if (p.isSet(lang)) {
        bool ok = false;
        o.lang = p.value(lang).toInt(&ok);
        if (!ok || !isLanguage(o.lang))
            o.error = QStringLiteral("--lang takes 2052 or 1028");
    }
    for (const QString& v : p.values(com)) {
        int n = 0;
        QString dev;
        if (!parseComOption(v, n, dev)) {
            o.error = QStringLiteral("--com takes n=DEVICE with n from 1 to 16: ") + v;
            continue;
        }
        putPort(o.com, n, dev);
        o.comWithoutDevice.removeAll(n);
    }
    for (const QString& v : p.values(tcpMap)) {
        int from = 0;
        int to = 0;
        if (!parsePortMapOption(v, from, to)) {
            o.error = QStringLiteral("--tcp-port-map takes FROM=TO port numbers: ") + v;
            continue;
        }
        putPort(o.tcpPortMap, from, to);
    }
    if (!p.positionalArguments().isEmpty())
        o.error = QStringLiteral("unexpected argument: ") + p.positionalArguments().first();
    return o;
}

Settings settingsOf(const HostOptions& options) {
    // The file's entries the command line has no option for are kept as they were.
    Settings s = options.saved;
    s.db = options.db;
    s.user = options.user;
    s.lang = options.lang;
    s.com = options.com;
    s.tcpPortMap = options.tcpPortMap;
    s.sim = options.sim;
    s.bellSection = options.bellSection;
    s.traceLine = options.traceLine;
    s.workstation = options.workstation;
    return s;
}

QString defaultDatabasePath() {
    // The host program's data folder, by its name, whichever program asks.
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    dir = dir.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share/brackwater")
                        : dir + QStringLiteral("/Brackwater");
    // The database holds card numbers and meal records: the folder is its owner's alone.
    QDir().mkpath(dir);
    QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return dir + QStringLiteral("/brackwater.db");
}

QString siteConnection() {
    const QString path = systemSettingsFilePath();
    return QFileInfo(path).isReadable() ? readSettings(path).db : QString();
}

bool outsideSite() {
    // The package keeps the site's settings in a folder only root and the group may enter.
    const QByteArray path = QFile::encodeName(systemSettingsFilePath());
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return errno == EACCES;
    return ::access(path.constData(), R_OK) != 0;
}

QString outsideSiteProblem(const QString& given, const Settings& saved) {
    if (!given.isEmpty() || !saved.db.isEmpty() || !outsideSite())
        return QString();
    const QString account = operators::desktopAccount();
    return QStringLiteral("this account (%1) is not in group %2, whose members alone work the "
                          "site's database: an administrator runs \"sudo adduser %1 %2\", then "
                          "%1 logs in again")
        .arg(printable(account), QLatin1String(SiteGroup));
}

QString hostConnection(const QString& given, const Settings& saved, bool ownDatabase) {
    if (!given.isEmpty())
        return given;
    if (!saved.db.isEmpty())
        return saved.db;
    // An account with settings of its own that name no database works on the site's too.
    if (const QString site = ownDatabase ? QString() : siteConnection(); !site.isEmpty())
        return site;
    return QStringLiteral("sqlite:") + defaultDatabasePath();
}

LineOptions::LineOptions()
    : db(QStringLiteral("db"),
         QStringLiteral("Host database connection string (default: the settings file's, else "
                        "the host program's SQLite file)."),
         QStringLiteral("CONNECTION")),
      com(QStringLiteral("com"), QStringLiteral("Serial device of port n (repeatable)."),
          QStringLiteral("n=DEVICE")),
      tcpMap(QStringLiteral("tcp-port-map"),
             QStringLiteral("Reach terminals' TCP port FROM on port TO."),
             QStringLiteral("FROM=TO")),
      lineWait(QStringLiteral("line-wait"),
               QStringLiteral("Wait this long for a serial line another program holds "
                              "(default 30)."),
               QStringLiteral("SECONDS")),
      pool(QStringLiteral("pool"),
           QStringLiteral("Work this many lines at once (default: the settings file's, else 8)."),
           QStringLiteral("N")),
      workstation(QStringLiteral("workstation"),
                  QStringLiteral("Work as this workstation of the register: its terminals and "
                                 "those assigned to none (default: the settings file's name, "
                                 "else the host name)."),
                  QStringLiteral("NAME")) {}

bool applyLineOptions(const QCommandLineParser& p, const LineOptions& o, LineSetup& setup,
                      QString& error) {
    setup.lineWaitGiven = p.isSet(o.lineWait);
    if (setup.lineWaitGiven && !parseLineWaitOption(p.value(o.lineWait), setup.lineWaitMs)) {
        error = QStringLiteral("--line-wait takes 0 to 3600 seconds");
        return false;
    }
    // The operator's settings file first, as every Brackwater program reads it; the command
    // line overrides it for this run.
    QStringList problems;
    const Settings saved = readSettings(&problems);
    for (const QString& problem : problems)
        std::fprintf(stderr, "settings: %s\n", printable(problem).toUtf8().constData());
    for (const auto& [n, device] : saved.com)
        bell::setDevicePath(n, device);
    // A COMn the file names without a device is not guessed (the requests would go to whatever
    // the default device is): opening it fails as "no device"; --com can still give it one.
    setup.comWithoutDevice = saved.comWithoutDevice;
    for (int n : saved.comWithoutDevice)
        bell::setNoDevice(n);
    for (const auto& [from, to] : saved.tcpPortMap)
        setTcpPortMap(from, to);
    site::setPoolSize(saved.pool);
    setWorkstation(saved.workstation);
    setup.backupDir = saved.backupDir;
    setup.backupKeep = saved.backupKeep;
    setup.meals = mealWindows(saved);
    setup.lang = saved.lang;
    setup.saved = saved;
    // The log rows and texts of the tools and the nightly run in the site's language.
    useSettingsLanguage(saved);
    if (p.isSet(o.workstation)) {
        const QString name = p.value(o.workstation).trimmed();
        setup.noWorkstation = name.isEmpty();
        if (!name.isEmpty() && !isWorkstationName(name)) {
            error = QStringLiteral("--workstation takes a name of 1 to %1 printable characters")
                        .arg(MaxWorkstationName);
            return false;
        }
        if (!name.isEmpty())
            setWorkstation(name);
    }
    site::setClockMaxChangeS(clockMaxChangeS(saved));
    trustUnsynchronisedClock(!saved.clockRequireSynchronised);
    store::setConnectTimeoutS(dbTimeoutS(saved));
    if (p.isSet(o.pool)) {
        bool ok = false;
        const int pool = p.value(o.pool).trimmed().toInt(&ok);
        if (!ok || pool < 1 || pool > 64) {
            error = QStringLiteral("--pool takes 1 to 64");
            return false;
        }
        site::setPoolSize(pool);
    }
    for (const QString& v : p.values(o.com)) {
        int n = 0;
        QString device;
        if (!parseComOption(v, n, device)) {
            error = QStringLiteral("--com takes n=DEVICE: ") + v;
            return false;
        }
        bell::setDevicePath(n, device);
        setup.comWithoutDevice.removeAll(n);
    }
    for (const QString& v : p.values(o.tcpMap)) {
        int from = 0, to = 0;
        if (!parsePortMapOption(v, from, to)) {
            error = QStringLiteral("--tcp-port-map takes FROM=TO: ") + v;
            return false;
        }
        setTcpPortMap(from, to);
    }
    // The host program's database; a missing SQLite file is not made by a tool.
    setup.connection = hostConnection(p.value(o.db), saved);
    const auto settings = store::parseConnectionString(setup.connection);
    setup.missingDatabase = outsideSiteProblem(p.value(o.db), saved);
    // The site's database is backed up beside it unless the settings name another folder.
    if (setup.backupDir.isEmpty() && settings.kind == store::BackendSettings::Kind::Sqlite &&
        setup.connection == siteConnection())
        setup.backupDir =
            QFileInfo(settings.databaseName).dir().filePath(QStringLiteral("backups"));
    if (setup.missingDatabase.isEmpty() && settings.kind == store::BackendSettings::Kind::Sqlite &&
        !QFileInfo::exists(settings.databaseName))
        // The site's database is made by the first console of the group that starts; a
        // nightly run before that has nothing to work on yet.
        setup.missingDatabase =
            setup.connection == siteConnection()
                ? QStringLiteral("the site's database %1 is not made yet: a member of group %2 "
                                 "starts the console (brackwater) once to make it")
                      .arg(settings.databaseName, QLatin1String(SiteGroup))
                : QStringLiteral("no database at ") + settings.databaseName;
    return true;
}

} // namespace bw::host

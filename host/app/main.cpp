// brackwater: the host program. Registers the default host components, opens the host
// database, optionally starts the terminal simulator, and opens the console with the
// component's window above it.

#include "bell/serial_port.h"
#include "host/app/host_setup.h"
#include "host/cli/host_options.h"
#include "host/collect_ui/collect_window.h"
#include "host/console/console_window.h"
#include "host/console/sign_in.h"
#include "host/ledger/ledger.h"
#include "host/ledger/operators.h"
#include "host/ledger/stations.h"
#include "host/link/link.h"
#include "host/site/site_layer.h"
#include "host/trace/trace_file.h"
#include "platform/clock_guard.h"
#include "platform/error.h"
#include "platform/interfaces.h"
#include "platform/registry.h"
#include "platform/timing.h"
#include "platform_ui/message_box.h"
#include "sim/process.h"
#include "store/sql_connection.h"

#include <QAction>
#include <QApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>
#include <QWidget>
#include <cstdio>
#include <memory>

namespace {

QWidget* findWindow(const QString& name = QStringLiteral("F_Machine")) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            return w;
    return nullptr;
}

// A scripted run's tool: the terminal window's, else the console's.
QAction* findTool(const QString& key) {
    for (QWidget* w : {findWindow(), findWindow(QStringLiteral("Console"))})
        if (QAction* a = w ? w->findChild<QAction*>(key) : nullptr)
            return a;
    return nullptr;
}

// The operator this run acts as. The demo signs in without asking, as the operator --user
// names or its administrator, when that operator has no password; a run that shows nothing to
// a person acts as the command-line programs do; anyone else signs in. Empty when the operator
// cancelled the sign-in; the exit code is set when the program is to stop.
QString signIn(const bw::host::HostOptions& options, int& exitCode) {
    namespace operators = bw::host::operators;
    exitCode = -1;
    QTextStream err(stderr);
    // The demo's operators have no password; an operator with one is never signed in unasked,
    // whatever the command line says.
    if (options.demo || options.sim) {
        const QString demoOperator =
            options.userGiven && !options.user.isEmpty() ? options.user : QStringLiteral("admin");
        try {
            auto cn = bw::host::sharedConnection();
            if (cn && operators::signsInUnasked(*cn, demoOperator))
                return demoOperator;
        } catch (const bw::Error&) {
            // the sign-in below says what is wrong with the database
        }
    }
    if (!options.screenshot.isEmpty() || !options.screenshotStatus.isEmpty() ||
        !options.screenshotCollect.isEmpty()) {
        try {
            auto cn = bw::host::sharedConnection();
            if (!cn)
                throw bw::Error(bw::err::ObjectNotSet, bw::host::sharedConnectionProblem());
            return operators::actingOperator(*cn);
        } catch (const operators::Refused& refused) {
            err << "brackwater: not allowed: " << operators::describe(refused) << "\n";
            exitCode = 4;
        } catch (const bw::Error& e) {
            err << "brackwater: " << e.description().simplified() << "\n";
            exitCode = 1;
        }
        return QString();
    }
    // The name field: the one --user gives, else the last operator, else the desktop account.
    const QString name = options.user.isEmpty() ? operators::desktopAccount() : options.user;
    bw::host::console::SignInDialog dialog(bw::host::connectionString(), name);
    dialog.setSettingsFile(bw::host::settingsFilePath());
    if (dialog.exec() != QDialog::Accepted) {
        exitCode = 0;
        return QString();
    }
    return dialog.signedIn();
}

} // namespace

int main(int argc, char** argv) {
    bw::readTimeZoneOnce();
    // The command line is read before the window system is needed, so --help and mistakes
    // are answered on a machine without a display too.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    QStringList settingsProblems;
    const bw::host::HostOptions options =
        bw::host::parseHostOptions(arguments, bw::host::readSettings(&settingsProblems));
    if (options.help) {
        QTextStream(stdout) << options.helpText;
        return 0;
    }
    if (options.version) {
        QTextStream(stdout) << "brackwater " << BW_VERSION << "\n";
        return 0;
    }
    if (!options.error.isEmpty()) {
        QTextStream(stderr) << "brackwater: " << options.error << "\n";
        return 2;
    }
    for (const QString& problem : settingsProblems)
        QTextStream(stderr) << "brackwater: settings: " << problem << "\n";
    {
        // The windows' site layer: lines at once and the clock guard's limit.
        const bw::host::Settings saved = bw::host::readSettings();
        bw::host::site::setPoolSize(saved.pool);
        bw::host::setWorkstation(options.workstation); // its terminals in the register
        bw::host::site::setClockMaxChangeS(bw::host::clockMaxChangeS(saved));
        bw::trustUnsynchronisedClock(!saved.clockRequireSynchronised);
        bw::store::setConnectTimeoutS(bw::host::dbTimeoutS(saved));
    }
    if (options.showSettings) {
        // An account's own settings that name no database leave it on the site's.
        bw::host::Settings shown = bw::host::settingsOf(options);
        if (shown.db.isEmpty() && !options.demo && !options.sim)
            shown.db = bw::host::siteConnection();
        QTextStream(stdout) << bw::host::describeSettings(shown, bw::host::settingsFileInUse());
        return 0;
    }
    if (options.saveSettings) {
        const QString path = bw::host::settingsFilePath();
        if (!bw::host::writeSettings(bw::host::settingsOf(options), path)) {
            QTextStream(stderr) << "brackwater: cannot write " << path << "\n";
            return 1;
        }
        QTextStream(stdout) << "settings kept in " << path << "\n";
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Brackwater"));
    QApplication::setDesktopFileName(QStringLiteral("brackwater")); // the menu entry's name
    bw::useWindowMessageBoxes();
    QTextStream err(stderr);

    bw::host::registerDefaultComponents();
    bw::host::applyLineOptions(options);
    const QString traceProblem = bw::host::startLineTrace(options.traceLine);
    if (!traceProblem.isEmpty())
        err << "brackwater: " << traceProblem << "\n";

    // Without its database the window could show nothing: say so and stop before it is made.
    err.flush();
    if (bw::host::refuseOutsider(options))
        return 1;
    const QString dbProblem = bw::host::prepareDatabase(options);
    if (!dbProblem.isEmpty()) {
        err.flush();
        return bw::host::reportDatabaseProblem(dbProblem);
    }
    // The account's database from before, offered to a person for the site's new one.
    if (options.screenshot.isEmpty() && options.screenshotStatus.isEmpty() &&
        options.screenshotCollect.isEmpty())
        bw::host::offerOwnDatabase(options);

    // The simulator stands in for demo terminals 1, 2 and 3 of the demo database: on a
    // pseudo-terminal as COM1 and on TCP on loopback in place of port 1001.
    bw::sim::SimProcess sim;
    QString simulatorAt;
    if (options.sim) {
        const QString program =
            QApplication::applicationDirPath() + QStringLiteral("/brackwater-sim");
        // A meal every minute on each terminal, so there is always something to collect.
        const QStringList args{QStringLiteral("--addr"),         QStringLiteral("1,2,3"),
                               QStringLiteral("--tcp"),          QStringLiteral("127.0.0.1:0"),
                               QStringLiteral("--record-every"), QStringLiteral("60000")};
        // The demo terminals keep their records and lists from one start to the next, as real
        // terminals do over a power cycle: their state lives beside the default database.
        const QString state = QFileInfo(bw::host::defaultDatabasePath())
                                  .dir()
                                  .filePath(QStringLiteral("demo-terminals.json"));
        if (sim.start(program, args, state)) {
            bw::bell::setDevicePath(1, sim.ptyPath());
            bw::host::setTcpPortMap(1001, sim.tcpPort());
            simulatorAt = QStringLiteral("COM1 → %1, 127.0.0.1:%2 (1001)")
                              .arg(sim.ptyPath())
                              .arg(sim.tcpPort());
            err << "brackwater: simulator on " << sim.ptyPath()
                << " (COM1) and 127.0.0.1:" << sim.tcpPort() << "\n";
        } else {
            err << "brackwater: " << sim.error() << "\n";
        }
    }
    err.flush();

    int signInExit = -1;
    const QString user = signIn(options, signInExit);
    // The connection opened before the sign-in is not the operator's session on a server: the
    // next use opens that.
    bw::host::closeSharedConnection();
    if (signInExit >= 0)
        return signInExit;

    // The console first, the terminal-management window above it. The demo never locks.
    const bw::host::Settings saved = bw::host::readSettings();
    const int idleLockMin = options.demo || options.sim ? 0 : bw::host::idleLockMinutes(saved);
    // A picture of the terminal window needs neither the console nor its reading of the site,
    // unless a tool pressed for it is the console's.
    std::unique_ptr<bw::host::console::ConsoleWindow> console;
    if (options.screenshot.isEmpty() || !options.pressTools.isEmpty()) {
        console =
            std::make_unique<bw::host::console::ConsoleWindow>(bw::host::console::ConsoleOptions{
                user, options.caption, bw::host::settingsFilePath(), 60, idleLockMin * 60 * 1000,
                simulatorAt, bw::host::defaultDatabasePath()});
        console->show();
    }
    if (!options.screenshotStatus.isEmpty()) {
        const bool ok = bw::host::console::screenshotStatus(*console, options.screenshotStatus);
        if (!ok)
            err << "brackwater: cannot write " << options.screenshotStatus << "\n";
        return ok ? 0 : 1;
    }
    try {
        auto kq = bw::CreateObject<bw::IShowA>(bw::progid::Component);
        QVariant vUser(user);
        QVariant title(QStringLiteral("Brackwater"));
        QVariant caption(options.caption);
        QVariant sysDate(QDate::currentDate());
        kq->ShowA(vUser, title, caption, sysDate);
    } catch (const bw::Error& e) {
        err << "brackwater: " << e.boxText() << "\n";
        return 1;
    }

    if (!options.screenshotCollect.isEmpty())
        return bw::host::collect::screenshotCollection(options.screenshotCollect, user) ? 0 : 1;
    for (const QString& tool : options.pressTools)
        QTimer::singleShot(0, [tool] {
            if (QAction* a = findTool(tool))
                a->trigger();
        });
    if (!options.screenshot.isEmpty()) {
        QWidget* w = findWindow();
        if (!w) {
            err << "brackwater: no window to take a picture of\n";
            return 1;
        }
        QApplication::processEvents();
        const bool ok = w->grab().save(options.screenshot, "PNG");
        if (!ok)
            err << "brackwater: cannot write " << options.screenshot << "\n";
        return ok ? 0 : 1;
    }

    const int code = QApplication::exec();
    // The database goes while Qt SQL, which the application object holds, is still there.
    bw::host::closeSharedConnection();
    return code;
}

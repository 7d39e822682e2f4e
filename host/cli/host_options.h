#pragma once

#include "host/settings/settings.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace bw::host {

// What the host program was asked to do on its command line.
struct HostOptions {
    QString db;             // connection string; empty: the SQLite file in the user's data folder
    QString user;           // the name the sign-in is filled with (--user, else the last operator)
    bool userGiven = false; // --user on the command line: the demo signs in as that operator
    QString caption = QStringLiteral("就餐机管理");
    int lang = 0;                      // 2052, 1028, or 0 for the locale's choice
    QList<QPair<int, QString>> com;    // --com n=DEVICE
    QList<int> comWithoutDevice;       // COMn the settings file names without a device
    QList<QPair<int, int>> tcpPortMap; // --tcp-port-map FROM=TO
    bool sim = false;
    bool demo = false;         // put the demo terminals and grants into an empty database
    QString screenshot;        // write a PNG of the window and exit
    QString screenshotCollect; // write a PNG of the collection window after a collection
    QString screenshotStatus;  // write a PNG of the console after its first reading of the site
    QString traceLine;         // --trace-line FILE: the line trace goes to FILE
    QString workstation;       // --workstation NAME, else the settings file's
    QStringList pressTools;    // --press-tool KEY: a scripted run presses these tools in turn
    QString error;             // set when the command line is wrong
    bool help = false;
    QString helpText;
    bool version = false;      // --version: print the version and exit
    bool bellSection = false;  // show the bell section beside the terminal frame
    bool showSettings = false; // --settings: print the effective settings and exit
    bool saveSettings = false; // --save-settings: keep this run's choices in the file
    Settings saved;            // the settings file the command line was read over
};

// The command line over the saved settings: what the command line gives replaces the
// file's value for this run; COM and TCP map entries replace the file's for the same port.
HostOptions parseHostOptions(const QStringList& arguments, const Settings& saved = Settings());

// The choices of a run in the form the settings file keeps them.
Settings settingsOf(const HostOptions& options);

// One value of --com, "n=DEVICE" with n from 1 to 16.
bool parseComOption(const QString& text, int& port, QString& device);
// One value of --tcp-port-map, "FROM=TO" port numbers.
bool parsePortMapOption(const QString& text, int& from, int& to);
// One value of --line-wait, seconds (fractions allowed) from 0 to 3600, as milliseconds: how
// long a program waits for a serial line another program holds (bw::setLineLockWaitMs).
bool parseLineWaitOption(const QString& text, int& ms);

// The account's own database: an SQLite file in the host program's data folder. The demo and
// programs run without an installation work on it.
QString defaultDatabasePath();

// The group whose members work the site's database, and the account of the nightly service.
inline constexpr char SiteGroup[] = "brackwater";

// The site's database: the one the site's settings file names (an installed system names
// /var/lib/brackwater/brackwater.db, in a folder of group brackwater); empty when there is no
// such file, it names none, or this account may not read it.
QString siteConnection();

// Whether this account is outside the site: the site's settings file is there but closed to
// it, as it is to every account outside group brackwater.
bool outsideSite();

// Why this account has no database when it was given none and its own settings name none:
// on an installed system it must join group brackwater (one line, for the command-line
// programs); empty when it is in the group or there is no site.
QString outsideSiteProblem(const QString& given, const Settings& saved);

// The host database a Brackwater program works on: the one it was given (--db), else the
// settings file's, else the site's, else the account's own (ownDatabase: the demo's, without
// the site's).
QString hostConnection(const QString& given, const Settings& saved, bool ownDatabase = false);

// The options by which a command-line program reaches the host database and the terminals'
// lines: --db CONNECTION, --com n=DEVICE, --tcp-port-map FROM=TO and --line-wait SECONDS.
struct LineOptions {
    LineOptions();
    QList<QCommandLineOption> list() const {
        return {db, com, tcpMap, lineWait, pool, workstation};
    }
    QCommandLineOption db, com, tcpMap, lineWait, pool, workstation;
};

// What those options and the settings file come to for a run.
struct LineSetup {
    QString connection;          // the host database
    QString missingDatabase;     // "no database at FILE" (an SQLite file that is not there), or
                                 // why an account outside the site has none
    QList<int> comWithoutDevice; // COMn the settings file names without a device: not opened
    bool lineWaitGiven = false;
    int lineWaitMs = 0;         // --line-wait, when given
    bool noWorkstation = false; // --workstation "": the run's workstation left as it was
    QString backupDir;          // [site] backup-dir, empty when not set
    int backupKeep = 0;         // [site] backup-keep, 0 when not set
    MealWindows meals;          // [report]: the monthly report's meal windows in force
    int lang = 0;               // [operator] language, 0 when not set
    Settings saved;             // the settings file as read ([report] prices, out-dir, ...)
};

// Reads the settings file (its problems printed on standard error as "settings: ..."), puts
// its COMn devices and TCP port map in force and the command line's over them. False with the
// reason when a value on the command line is wrong.
bool applyLineOptions(const QCommandLineParser& parser, const LineOptions& options,
                      LineSetup& setup, QString& error);

} // namespace bw::host

#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace bw::host {

// A meal's window of the day, in minutes from midnight: start included, end not.
struct MealWindow {
    int startMin = -1; // -1: not set
    int endMin = -1;
    bool isSet() const { return startMin >= 0; }
    bool operator==(const MealWindow&) const = default;
};
// Breakfast, lunch and dinner, in that order.
constexpr int MealCount = 3;
using MealWindows = std::array<MealWindow, MealCount>;

// What the operator chose once and every Brackwater program takes as its starting point:
// the INI file brackwater.conf in the user's configuration folder. An empty text or 0
// means "not set": the program's own default applies.
struct Settings {
    QString db;                           // [database] connection
    int dbTimeoutS = 0;                   // [database] timeout: seconds, 1..600
    QString user;                         // [operator] user: the last operator signed in
    int idleLockMin = -1;                 // [operator] idle-lock: minutes, 0 (never) .. 1440
    int lang = 0;                         // [operator] language: 2052, 1028 or 0
    QList<QPair<int, QString>> com;       // [com] n=DEVICE
    QList<int> comWithoutDevice;          // [com] n= naming no device: none may be guessed for COMn
    QList<QPair<int, int>> tcpPortMap;    // [tcp-port-map] FROM=TO
    bool sim = false;                     // [window] simulator
    bool bellSection = false;             // [window] bell-section
    QString traceLine;                    // [diagnostics] trace-line: file of the line trace
    qint64 clockMaxChangeS = 0;           // [clock] max-change: seconds a push may move a clock
    bool clockRequireSynchronised = true; // [clock] require-synchronised
    int pool = 0;                         // [site] pool: lines worked at once, 1..64
    QString workstation; // [site] workstation: this computer's name in the register
    QString siteName;    // [site] name: the canteen's name on printed reports
    QString backupDir;   // [site] backup-dir: the folder of the database's backups
    int backupKeep = 0;  // [site] backup-keep: backups kept, 1..10000
    MealWindows meals;   // [report] breakfast, lunch, dinner: HH:MM-HH:MM
    // [report] price-breakfast, price-lunch, price-dinner: a meal's price, and subsidy: each
    // employee's monthly subsidy, in yuan with up to two decimals (kept in fen; -1: not set).
    std::array<int, MealCount> mealPriceFen{-1, -1, -1};
    int subsidyFen = -1;
    QString reportOutDir; // [report] out-dir: the folder of the month's files the nightly makes
};

// "12", "3.5" or "0.50" yuan in fen, 0 to 100000 yuan; none for anything else.
std::optional<int> parseYuan(const QString& text);
QString yuanText(qint64 fen);

// The meal windows in force: the setting's, else 05:00-10:00, 10:00-15:00 and 15:00-21:00.
MealWindows defaultMealWindows();
MealWindows mealWindows(const Settings& settings);

// "HH:MM-HH:MM" with the start before the end (24:00 may end a window); none when malformed.
std::optional<MealWindow> parseMealWindow(const QString& text);
QString mealWindowText(const MealWindow& window);

// Whether two of the windows share a minute.
bool mealWindowsOverlap(const MealWindows& windows);

// Makes the settings' [operator] language the language of what the program writes (the
// operation log's rows, its messages); without one the locale's stays.
void useSettingsLanguage(const Settings& settings);

// The name printed on the site's reports: the setting, else the workstation's name.
QString siteName(const Settings& settings);
constexpr int MaxSiteName = 100;

// The time-out of a database server's connection: the setting, else 10 s.
int dbTimeoutS(const Settings& settings);

// The minutes without input after which the host program locks its windows: the setting, else
// 15; 0 never.
constexpr int DefaultIdleLockMin = 15;
constexpr int MaxIdleLockMin = 1440;
int idleLockMinutes(const Settings& settings);

// The most a clock push may move a terminal's clock unless forced: the setting, else a day.
qint64 clockMaxChangeS(const Settings& settings);

// $XDG_CONFIG_HOME/Brackwater/brackwater.conf (~/.config/Brackwater/brackwater.conf): the
// user's own file, the one --save-settings writes.
QString settingsFilePath();

// /etc/brackwater/brackwater.conf, the site's settings for users who keep none of their own
// (the system user of the nightly job); the environment variable BW_SYSTEM_SETTINGS names
// another file in its place.
QString systemSettingsFilePath();

// The file the programs read: the user's own when there is one, else the system-wide one.
// The two are never mixed.
QString settingsFileInUse();

// Reads the file at path (missing: nothing set). Entries that make no sense are left out
// and described in problems, one line each.
Settings readSettings(const QString& path, QStringList* problems = nullptr);
Settings readSettings(QStringList* problems = nullptr);

// Writes every set value to path, so that readSettings gives them back unchanged; returns
// false when the file cannot be written or the connection holds a control character.
bool writeSettings(const Settings& settings, const QString& path);

// Keeps name as the last operator ([operator] user) in the file at path, changing no other line
// of it; a file that is not there is made. A user without a file of their own who reads the
// site's file keeps nothing: a file of their own would hide the site's settings from then on.
// False when nothing was kept.
bool keepLastOperator(const QString& name, const QString& path);

// Sets port's entry of a COMn or TCP map, replacing an earlier one for the same port.
void putPort(QList<QPair<int, QString>>& map, int port, const QString& device);
void putPort(QList<QPair<int, int>>& map, int from, int to);

// Readable lines of the settings as a program uses them, the database password masked.
QString describeSettings(const Settings& settings, const QString& path);

// The connection string with any password in it replaced by "***".
QString maskPassword(const QString& connection);

// Range checks shared by the file and the command line.
bool isComPort(int n);
bool isTcpPort(int n);
bool isLanguage(int lang);
bool isClockMaxChange(qint64 seconds); // 1 s .. 10 years

} // namespace bw::host

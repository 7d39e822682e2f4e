#include "host/settings/settings.h"

#include "host/ledger/backup.h"
#include "host/ledger/stations.h"
#include "platform/clock_guard.h"
#include "platform/language.h"
#include "platform/safe_file.h"
#include "store/connection_string.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>

namespace bw::host {

namespace {

const QString kDatabase = QStringLiteral("database/connection");
const QString kDbTimeout = QStringLiteral("database/timeout");
const QString kUser = QStringLiteral("operator/user");
const QString kIdleLock = QStringLiteral("operator/idle-lock");
const QString kLanguage = QStringLiteral("operator/language");
const QString kSim = QStringLiteral("window/simulator");
const QString kBellSection = QStringLiteral("window/bell-section");
const QString kTraceLine = QStringLiteral("diagnostics/trace-line");
const QString kClockMaxChange = QStringLiteral("clock/max-change");
const QString kClockRequireSync = QStringLiteral("clock/require-synchronised");
const QString kPool = QStringLiteral("site/pool");
const QString kWorkstation = QStringLiteral("site/workstation");
const QString kSiteName = QStringLiteral("site/name");
const QString kBackupDir = QStringLiteral("site/backup-dir");
const QString kBackupKeep = QStringLiteral("site/backup-keep");
const char* const kMealKeys[MealCount] = {"report/breakfast", "report/lunch", "report/dinner"};
const char* const kPriceKeys[MealCount] = {"report/price-breakfast", "report/price-lunch",
                                           "report/price-dinner"};
const QString kSubsidy = QStringLiteral("report/subsidy");
const QString kReportOutDir = QStringLiteral("report/out-dir");
const QString kCom = QStringLiteral("com");
const QString kTcpPortMap = QStringLiteral("tcp-port-map");

// Whether a quoted INI value ends in its closing quote (a backslash escapes the next
// character).
bool quoteClosed(const QString& value) {
    for (qsizetype i = 1; i < value.size(); ++i) {
        if (value[i] == u'\\')
            ++i;
        else if (value[i] == u'"')
            return true;
    }
    return false;
}

// An unquoted ';' starts a comment in QSettings' INI files, which would cut an ADO or ODBC
// connection string short. The [database] connection line is therefore taken as written,
// unless it is quoted (QSettings then reads it whole, see quotedLine). A quote left open
// is reported, as QSettings would run its value on into the lines after it.
QString rawConnection(const QString& path, bool* openQuote) {
    *openQuote = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream in(&file);
    bool inDatabase = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(u'[')) {
            inDatabase = line.compare(QStringLiteral("[database]"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const int eq = line.indexOf(u'=');
        if (!inDatabase || eq < 0 || line.left(eq).trimmed() != QStringLiteral("connection"))
            continue;
        const QString value = line.mid(eq + 1).trimmed();
        if (!value.startsWith(u'"'))
            return value;
        *openQuote = !quoteClosed(value);
        return QString();
    }
    return QString();
}

// A "key=value" line as writeSettings writes the [database] connection, always quoted so that
// the reader hands it to QSettings: exactly what QSettings' reading of a quoted value undoes. A
// backslash and a quote are escaped, a leading '@' (QSettings' mark of a typed value) is
// doubled, and the rest, ';' '=' '#' '%' and every non-ASCII character included, is kept as
// UTF-8. A value with a control character has no such line: the reader would refuse it.
QByteArray quotedLine(const char* key, const QString& value) {
    QString escaped = value;
    escaped.replace(u'\\', QStringLiteral("\\\\")).replace(u'"', QStringLiteral("\\\""));
    if (escaped.startsWith(u'@'))
        escaped.prepend(u'@');
    return QByteArray(key) + "=\"" + escaped.toUtf8() + "\"\n";
}

bool hasControl(const QString& text) {
    static const QRegularExpression control(QStringLiteral("[\\x00-\\x1f\\x7f]"));
    return text.contains(control);
}

// Puts the [database] section before what QSettings wrote to path, replacing the file whole.
bool prependDatabase(const QString& path, const QString& connection, int timeoutS) {
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray rest = in.readAll();
    in.close();
    QByteArray section = "[database]\n";
    if (!connection.isEmpty())
        section += quotedLine("connection", connection);
    if (store::isConnectTimeout(timeoutS))
        section += "timeout=" + QByteArray::number(timeoutS) + "\n";
    return writeSafely(path, section + rest).isEmpty();
}

bool readBool(const QSettings& s, const QString& key, QStringList* problems) {
    const QString text = s.value(key).toString().trimmed().toLower();
    if (text.isEmpty() || text == QStringLiteral("false") || text == QStringLiteral("0") ||
        text == QStringLiteral("no"))
        return false;
    if (text == QStringLiteral("true") || text == QStringLiteral("1") ||
        text == QStringLiteral("yes"))
        return true;
    if (problems)
        problems->append(QStringLiteral("%1: \"%2\" is neither true nor false").arg(key, text));
    return false;
}

// The keys of one map group as numbers, with their values; a key that is no number in
// range is reported and skipped.
template <class Accept>
void readMap(QSettings& s, const QString& group, QStringList* problems, Accept accept) {
    s.beginGroup(group);
    const QStringList keys = s.childKeys();
    for (const QString& key : keys) {
        bool ok = false;
        const int n = key.toInt(&ok);
        const QString value = s.value(key).toString().trimmed();
        if ((!ok || !accept(n, value)) && problems)
            problems->append(
                QStringLiteral("[%1] %2=%3 is not a valid entry").arg(group, key, value));
    }
    s.endGroup();
}

} // namespace

namespace {

// A folder's setting: an absolute path, else reported and left out.
void readFolder(const QSettings& s, const QString& key, QString& out, QStringList* problems) {
    const QString folder = s.value(key).toString().trimmed();
    if ((!folder.isEmpty() && !QDir::isAbsolutePath(folder)) || hasControl(folder)) {
        if (problems)
            problems->append(QStringLiteral("%1 takes an absolute folder").arg(key));
    } else {
        out = folder;
    }
}

// The [report] meal windows: a malformed one is left out; windows that would overlap (with
// each other or with a default) are all left out, so that no record counts twice.
void readMealWindows(const QSettings& s, Settings& out, QStringList* problems) {
    for (int m = 0; m < MealCount; ++m) {
        const QString key = QString::fromLatin1(kMealKeys[m]);
        if (!s.contains(key))
            continue;
        const QString value = s.value(key).toString();
        if (const auto w = parseMealWindow(value))
            out.meals[m] = *w;
        else if (problems)
            problems->append(
                QStringLiteral("%1 takes HH:MM-HH:MM, the start before the end").arg(key));
    }
    const auto money = [&](const QString& key, int& fen) {
        if (!s.contains(key))
            return;
        if (const auto v = parseYuan(s.value(key).toString()))
            fen = *v;
        else if (problems)
            problems->append(QStringLiteral("%1 takes yuan from 0 to 100000, as 3.50").arg(key));
    };
    for (int m = 0; m < MealCount; ++m)
        money(QString::fromLatin1(kPriceKeys[m]), out.mealPriceFen[m]);
    money(kSubsidy, out.subsidyFen);
    readFolder(s, kReportOutDir, out.reportOutDir, problems);
    if (mealWindowsOverlap(mealWindows(out))) {
        if (problems)
            problems->append(QStringLiteral("[report] meal windows overlap; the defaults are "
                                            "used"));
        out.meals = MealWindows{};
    }
}

} // namespace

bool isComPort(int n) {
    return n >= 1 && n <= 16;
}

bool isTcpPort(int n) {
    return n >= 1 && n <= 65535;
}

bool isLanguage(int lang) {
    return lang == 2052 || lang == 1028;
}

QString siteName(const Settings& settings) {
    return settings.siteName.isEmpty() ? workstation() : settings.siteName;
}

void useSettingsLanguage(const Settings& settings) {
    if (isLanguage(settings.lang))
        setUiLanguage(settings.lang);
}

bool isClockMaxChange(qint64 seconds) {
    return seconds >= 1 && seconds <= 10LL * 366 * 24 * 60 * 60;
}

std::optional<int> parseYuan(const QString& text) {
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,6})(?:\\.([0-9]{1,2}))?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const int fen = m.captured(1).toInt() * 100 + m.captured(2).leftJustified(2, u'0').toInt();
    if (fen > 100000 * 100)
        return std::nullopt;
    return fen;
}

QString yuanText(qint64 fen) {
    return QStringLiteral("%1.%2").arg(fen / 100).arg(fen % 100, 2, 10, QLatin1Char('0'));
}

MealWindows defaultMealWindows() {
    return {MealWindow{5 * 60, 10 * 60}, MealWindow{10 * 60, 15 * 60},
            MealWindow{15 * 60, 21 * 60}};
}

MealWindows mealWindows(const Settings& settings) {
    MealWindows out = defaultMealWindows();
    for (int m = 0; m < MealCount; ++m)
        if (settings.meals[m].isSet())
            out[m] = settings.meals[m];
    return out;
}

std::optional<MealWindow> parseMealWindow(const QString& text) {
    static const QRegularExpression form(
        QStringLiteral("^([01][0-9]|2[0-4]):([0-5][0-9])-([01][0-9]|2[0-4]):([0-5][0-9])$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const MealWindow w{m.captured(1).toInt() * 60 + m.captured(2).toInt(),
                       m.captured(3).toInt() * 60 + m.captured(4).toInt()};
    if (w.startMin >= w.endMin || w.endMin > 24 * 60)
        return std::nullopt;
    return w;
}

QString mealWindowText(const MealWindow& w) {
    return QString::asprintf("%02d:%02d-%02d:%02d", w.startMin / 60, w.startMin % 60, w.endMin / 60,
                             w.endMin % 60);
}

bool mealWindowsOverlap(const MealWindows& windows) {
    for (int a = 0; a < MealCount; ++a)
        for (int b = a + 1; b < MealCount; ++b)
            if (windows[a].startMin < windows[b].endMin && windows[b].startMin < windows[a].endMin)
                return true;
    return false;
}

int dbTimeoutS(const Settings& settings) {
    return settings.dbTimeoutS > 0 ? settings.dbTimeoutS : store::DefaultConnectTimeoutS;
}

int idleLockMinutes(const Settings& settings) {
    return settings.idleLockMin >= 0 ? settings.idleLockMin : DefaultIdleLockMin;
}

qint64 clockMaxChangeS(const Settings& settings) {
    return settings.clockMaxChangeS > 0 ? settings.clockMaxChangeS : DefaultMaxClockChangeS;
}

QString settingsFilePath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.config");
    return dir + QStringLiteral("/Brackwater/brackwater.conf");
}

QString systemSettingsFilePath() {
    const QString given = qEnvironmentVariable("BW_SYSTEM_SETTINGS");
    return given.isEmpty() ? QStringLiteral("/etc/brackwater/brackwater.conf") : given;
}

QString settingsFileInUse() {
    // Anything in the user's place, even a FIFO, is the user's: it is reported, not passed over.
    const QString own = settingsFilePath();
    if (QFileInfo::exists(own) || QFileInfo(own).isSymLink())
        return own;
    const QString site = systemSettingsFilePath();
    return QFileInfo::exists(site) ? site : own;
}

Settings readSettings(QStringList* problems) {
    return readSettings(settingsFileInUse(), problems);
}

Settings readSettings(const QString& path, QStringList* problems) {
    Settings out;
    const QFileInfo info(path);
    if (!info.exists())
        return out;
    // A FIFO or a device would block the reader (and so every program, --help too).
    if (!info.isFile()) {
        if (problems)
            problems->append(QStringLiteral("%1 is not a regular file; not read").arg(path));
        return out;
    }
    QSettings s(path, QSettings::IniFormat);
    if (s.status() != QSettings::NoError) {
        if (problems)
            problems->append(QStringLiteral("%1 cannot be read").arg(path));
        return out;
    }
    bool openQuote = false;
    out.db = rawConnection(path, &openQuote);
    // Blanks inside the quotes are the value's own (a password may end in one).
    if (out.db.isEmpty() && !openQuote)
        out.db = s.value(kDatabase).toString();
    // The value itself is not repeated: it may hold a password.
    if (openQuote || hasControl(out.db)) {
        if (problems)
            problems->append(QStringLiteral("%1 is malformed (%2); not used")
                                 .arg(kDatabase, openQuote
                                                     ? QStringLiteral("its quote is not closed")
                                                     : QStringLiteral("a control character")));
        out.db.clear();
    }
    if (s.contains(kDbTimeout)) {
        bool ok = false;
        const int seconds = s.value(kDbTimeout).toString().trimmed().toInt(&ok);
        if (ok && store::isConnectTimeout(seconds))
            out.dbTimeoutS = seconds;
        else if (problems)
            problems->append(QStringLiteral("%1 takes %2 to %3 seconds")
                                 .arg(kDbTimeout)
                                 .arg(store::MinConnectTimeoutS)
                                 .arg(store::MaxConnectTimeoutS));
    }
    out.user = s.value(kUser).toString().trimmed();
    if (s.contains(kIdleLock)) {
        bool ok = false;
        const int minutes = s.value(kIdleLock).toString().trimmed().toInt(&ok);
        if (ok && minutes >= 0 && minutes <= MaxIdleLockMin)
            out.idleLockMin = minutes;
        else if (problems)
            problems->append(QStringLiteral("%1 takes 0 (never) to %2 minutes")
                                 .arg(kIdleLock)
                                 .arg(MaxIdleLockMin));
    }
    if (s.contains(kLanguage)) {
        const int lang = s.value(kLanguage).toString().toInt();
        if (isLanguage(lang))
            out.lang = lang;
        else if (problems)
            problems->append(QStringLiteral("%1 takes 2052 or 1028").arg(kLanguage));
    }
    out.sim = readBool(s, kSim, problems);
    out.bellSection = readBool(s, kBellSection, problems);
    out.traceLine = s.value(kTraceLine).toString().trimmed();
    if (s.contains(kClockRequireSync))
        out.clockRequireSynchronised = readBool(s, kClockRequireSync, problems);
    if (s.contains(kClockMaxChange)) {
        bool ok = false;
        const qint64 seconds = s.value(kClockMaxChange).toString().trimmed().toLongLong(&ok);
        if (ok && isClockMaxChange(seconds))
            out.clockMaxChangeS = seconds;
        else if (problems)
            problems->append(QStringLiteral("%1 takes 1 to %2 seconds")
                                 .arg(kClockMaxChange)
                                 .arg(10LL * 366 * 24 * 60 * 60));
    }
    if (s.contains(kPool)) {
        bool ok = false;
        const int pool = s.value(kPool).toString().trimmed().toInt(&ok);
        if (ok && pool >= 1 && pool <= 64)
            out.pool = pool;
        else if (problems)
            problems->append(QStringLiteral("%1 takes 1 to 64").arg(kPool));
    }
    if (s.contains(kWorkstation)) {
        const QString name = s.value(kWorkstation).toString().trimmed();
        if (isWorkstationName(name))
            out.workstation = name;
        else if (problems)
            problems->append(QStringLiteral("%1 takes a name of 1 to %2 printable characters")
                                 .arg(kWorkstation)
                                 .arg(MaxWorkstationName));
    }
    const QString name = s.value(kSiteName).toString().simplified();
    if (hasControl(name) || name.size() > MaxSiteName) {
        if (problems)
            problems->append(QStringLiteral("%1 takes a name of at most %2 printable characters")
                                 .arg(kSiteName)
                                 .arg(MaxSiteName));
    } else {
        out.siteName = name;
    }
    readFolder(s, kBackupDir, out.backupDir, problems);
    if (s.contains(kBackupKeep)) {
        bool ok = false;
        const int keep = s.value(kBackupKeep).toString().trimmed().toInt(&ok);
        if (ok && keep >= 1 && keep <= backup::MaxKeep)
            out.backupKeep = keep;
        else if (problems)
            problems->append(
                QStringLiteral("%1 takes 1 to %2").arg(kBackupKeep).arg(backup::MaxKeep));
    }
    readMealWindows(s, out, problems);
    readMap(s, kCom, problems, [&](int n, const QString& device) {
        if (isComPort(n) && device.isEmpty())
            out.comWithoutDevice << n;
        if (!isComPort(n) || device.isEmpty())
            return false;
        putPort(out.com, n, device);
        return true;
    });
    readMap(s, kTcpPortMap, problems, [&](int from, const QString& toText) {
        bool ok = false;
        const int to = toText.toInt(&ok);
        if (!ok || !isTcpPort(from) || !isTcpPort(to))
            return false;
        putPort(out.tcpPortMap, from, to);
        return true;
    });
    return out;
}

namespace {

// The file holds the database password: only its owner may reach it, in a folder only the
// owner may enter. A file or folder left looser before is tightened.
bool makePrivate(const QString& path) {
    const QString dir = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(dir))
        return false;
    if (!QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
        return false;
    const QFileInfo file(path);
    if (!file.exists())
        return true;
    // QSettings reads the file before writing it: a FIFO in its place would block.
    return file.isFile() && QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
}

} // namespace

namespace {

// Every value but those of [database], through QSettings; the file is closed on return.
bool writeThroughQSettings(const Settings& settings, const QString& path) {
    QSettings s(path, QSettings::IniFormat);
    s.clear();
    if (!settings.user.isEmpty())
        s.setValue(kUser, settings.user);
    if (settings.lang != 0)
        s.setValue(kLanguage, settings.lang);
    if (settings.idleLockMin >= 0)
        s.setValue(kIdleLock, settings.idleLockMin);
    s.setValue(kSim, settings.sim);
    s.setValue(kBellSection, settings.bellSection);
    if (!settings.traceLine.isEmpty())
        s.setValue(kTraceLine, settings.traceLine);
    if (settings.clockMaxChangeS > 0)
        s.setValue(kClockMaxChange, settings.clockMaxChangeS);
    if (!settings.clockRequireSynchronised)
        s.setValue(kClockRequireSync, false);
    if (settings.pool > 0)
        s.setValue(kPool, settings.pool);
    if (isWorkstationName(settings.workstation))
        s.setValue(kWorkstation, settings.workstation);
    if (!settings.siteName.isEmpty())
        s.setValue(kSiteName, settings.siteName);
    if (!settings.backupDir.isEmpty())
        s.setValue(kBackupDir, settings.backupDir);
    if (settings.backupKeep > 0)
        s.setValue(kBackupKeep, settings.backupKeep);
    for (int m = 0; m < MealCount; ++m)
        if (settings.meals[m].isSet())
            s.setValue(QString::fromLatin1(kMealKeys[m]), mealWindowText(settings.meals[m]));
    for (int m = 0; m < MealCount; ++m)
        if (settings.mealPriceFen[m] >= 0)
            s.setValue(QString::fromLatin1(kPriceKeys[m]), yuanText(settings.mealPriceFen[m]));
    if (settings.subsidyFen >= 0)
        s.setValue(kSubsidy, yuanText(settings.subsidyFen));
    if (!settings.reportOutDir.isEmpty())
        s.setValue(kReportOutDir, settings.reportOutDir);
    for (const auto& [n, device] : settings.com)
        s.setValue(kCom + u'/' + QString::number(n), device);
    for (const auto& [from, to] : settings.tcpPortMap)
        s.setValue(kTcpPortMap + u'/' + QString::number(from), to);
    s.sync();
    return s.status() == QSettings::NoError;
}

} // namespace

bool writeSettings(const Settings& settings, const QString& path) {
    if (hasControl(settings.db) || !makePrivate(path) || !writeThroughQSettings(settings, path))
        return false;
    // QSettings would write the connection unquoted when it holds no ';', ',' or '=', and the
    // reader takes an unquoted one as written: its escapes would stay in and double each time.
    if ((!settings.db.isEmpty() || store::isConnectTimeout(settings.dbTimeoutS)) &&
        !prependDatabase(path, settings.db, settings.dbTimeoutS))
        return false;
    // A new file was made with the process's default permissions.
    return makePrivate(path);
}

bool keepLastOperator(const QString& name, const QString& path) {
    if (name.isEmpty() || hasControl(name))
        return false;
    if (path == settingsFilePath() && settingsFileInUse() != path)
        return false;
    QByteArray old;
    if (QFileInfo::exists(path)) {
        QFile in(path);
        if (!QFileInfo(path).isFile() || !in.open(QIODevice::ReadOnly))
            return false;
        old = in.readAll();
    }
    // The [operator] section's user line is replaced, or put first in the section, or the
    // section is added at the end; every other line stays as it was written.
    const QByteArray line = quotedLine("user", name);
    QList<QByteArray> lines = old.split('\n');
    if (!old.isEmpty() && old.endsWith('\n'))
        lines.removeLast();
    qsizetype header = -1, user = -1;
    bool inOperator = false;
    for (qsizetype i = 0; i < lines.size() && user < 0; ++i) {
        const QByteArray text = lines[i].trimmed();
        if (text.startsWith('[')) {
            inOperator = text == "[operator]";
            if (inOperator && header < 0)
                header = i;
        } else if (inOperator && text.indexOf('=') > 0 &&
                   text.left(text.indexOf('=')).trimmed() == "user") {
            user = i;
        }
    }
    const QByteArray bare = line.chopped(1);
    if (user >= 0)
        lines[user] = bare;
    else if (header >= 0)
        lines.insert(header + 1, bare);
    else
        lines << "[operator]" << bare;
    if (!makePrivate(path))
        return false;
    return writeSafely(path, lines.join('\n') + '\n', SafeFile::Access::Private).isEmpty() &&
           makePrivate(path);
}

void putPort(QList<QPair<int, QString>>& map, int port, const QString& device) {
    for (auto& entry : map) {
        if (entry.first == port) {
            entry.second = device;
            return;
        }
    }
    map.append({port, device});
}

void putPort(QList<QPair<int, int>>& map, int from, int to) {
    for (auto& entry : map) {
        if (entry.first == from) {
            entry.second = to;
            return;
        }
    }
    map.append({from, to});
}

QString maskPassword(const QString& connection) {
    return store::maskPassword(connection);
}

QString describeSettings(const Settings& settings, const QString& path) {
    QString text;
    QTextStream out(&text);
    auto orDefault = [](const QString& value, const QString& fallback) {
        return value.isEmpty() ? fallback : value;
    };
    out << "settings file: " << path << (QFileInfo::exists(path) ? "" : " (not there yet)") << "\n";
    out << "database: "
        << orDefault(maskPassword(settings.db), QStringLiteral("(the embedded default)")) << "\n";
    out << "database timeout: " << dbTimeoutS(settings) << " s"
        << (settings.dbTimeoutS > 0 ? "" : " (the default)") << "\n";
    out << "user: " << orDefault(settings.user, QStringLiteral("(the desktop account)")) << "\n";
    const int idle = idleLockMinutes(settings);
    out << "idle lock: " << (idle > 0 ? QString::number(idle) + QStringLiteral(" min") : "never")
        << (settings.idleLockMin >= 0 ? "" : " (the default)") << "\n";
    out << "language: "
        << (settings.lang ? QString::number(settings.lang) : QStringLiteral("(from the locale)"))
        << "\n";
    for (const auto& [n, device] : settings.com)
        out << "COM" << n << ": " << device << "\n";
    for (const auto& [from, to] : settings.tcpPortMap)
        out << "TCP port " << from << ": " << to << "\n";
    out << "simulator: " << (settings.sim ? "yes" : "no") << "\n";
    out << "bell section: " << (settings.bellSection ? "shown" : "hidden") << "\n";
    out << "line trace: " << orDefault(settings.traceLine, QStringLiteral("(none)")) << "\n";
    out << "workstation: "
        << orDefault(settings.workstation, workstation() + QStringLiteral(" (the host name)"))
        << "\n";
    out << "site name: " << siteName(settings) << "\n";
    out << "backups: "
        << (settings.backupDir.isEmpty()
                ? QStringLiteral("(none in the nightly run)")
                : QStringLiteral("%1, the newest %2 kept")
                      .arg(settings.backupDir)
                      .arg(settings.backupKeep > 0 ? settings.backupKeep : backup::DefaultKeep))
        << "\n";
    const MealWindows meals = mealWindows(settings);
    out << "meal windows: breakfast " << mealWindowText(meals[0]) << ", lunch "
        << mealWindowText(meals[1]) << ", dinner " << mealWindowText(meals[2])
        << (settings.meals == MealWindows{} ? " (the defaults)" : "") << "\n";
    out << "clock max-change: " << clockMaxChangeS(settings) << " s"
        << (settings.clockMaxChangeS > 0 ? "" : " (the default)") << "\n";
    return text;
}

} // namespace bw::host

#include "host/app/host_options.h"

#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>

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

HostOptions parseHostOptions(const QStringList& arguments) {
    HostOptions o;
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Brackwater: register and work the model-6429 meal terminals."));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help."));
    const QCommandLineOption db(QStringLiteral("db"),
                                QStringLiteral("Host database connection string (default: an "
                                               "SQLite file in the user's data folder)."),
                                QStringLiteral("CONNECTION"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("Operator's user name."),
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
    p.addOptions({help, db, user, caption, lang, com, tcpMap, sim, demo, shot, traceLine});

    if (!p.parse(arguments)) {
        o.error = p.errorText();
        return o;
    }
    o.helpText = p.helpText();
    o.help = p.isSet(help);
    o.db = p.value(db);
    o.user = p.value(user);
    o.caption = p.value(caption);
    o.sim = p.isSet(sim);
    o.demo = p.isSet(demo);
    o.screenshot = p.value(shot);
    o.traceLine = p.value(traceLine);
    if (p.isSet(lang)) {
        bool ok = false;
        o.lang = p.value(lang).toInt(&ok);
        if (!ok || (o.lang != 2052 && o.lang != 1028))
            o.error = QStringLiteral("--lang takes 2052 or 1028");
    }
    for (const QString& v : p.values(com)) {
        int n = 0;
        QString dev;
        if (!parsePair(v, n, dev) || n < 1 || n > 16) {
            o.error = QStringLiteral("--com takes n=DEVICE with n from 1 to 16: ") + v;
            continue;
        }
        o.com.append({n, dev});
    }
    for (const QString& v : p.values(tcpMap)) {
        int from = 0;
        QString toText;
        bool ok = false;
        int to = 0;
        if (parsePair(v, from, toText))
            to = toText.toInt(&ok);
        if (!ok || from < 1 || from > 65535 || to < 1 || to > 65535) {
            o.error = QStringLiteral("--tcp-port-map takes FROM=TO port numbers: ") + v;
            continue;
        }
        o.tcpPortMap.append({from, to});
    }
    if (!p.positionalArguments().isEmpty())
        o.error = QStringLiteral("unexpected argument: ") + p.positionalArguments().first();
    return o;
}

QString defaultDatabasePath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.local/share/brackwater");
    QDir().mkpath(dir);
    return dir + QStringLiteral("/brackwater.db");
}

} // namespace bw::host

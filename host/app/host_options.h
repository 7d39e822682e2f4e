#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace bw::host {

// What the host program was asked to do on its command line.
struct HostOptions {
    QString db; // connection string; empty: the SQLite file in the user's data folder
    QString user = QStringLiteral("admin");
    QString caption = QStringLiteral("就餐机管理");
    int lang = 0;                      // 2052, 1028, or 0 for the locale's choice
    QList<QPair<int, QString>> com;    // --com n=DEVICE
    QList<QPair<int, int>> tcpPortMap; // --tcp-port-map FROM=TO
    bool sim = false;
    bool demo = false;  // put the demo terminals and grants into an empty database
    QString screenshot; // write a PNG of the window and exit
    QString traceLine;  // --trace-line FILE: the line trace goes to FILE
    QString error;      // set when the command line is wrong
    bool help = false;
    QString helpText;
};

HostOptions parseHostOptions(const QStringList& arguments);

// The embedded default database: an SQLite file in the user's data folder.
QString defaultDatabasePath();

} // namespace bw::host

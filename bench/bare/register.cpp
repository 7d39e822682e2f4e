// The yardstick of a command-line program's whole run: a bare Qt program that loads the Qt
// modules the programs load (BW_BARE_QT_MODULES in bench/CMakeLists.txt), opens the register
// (an SQLite file), prints its terminals as one JSON document, and does nothing else.

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(QString::fromLocal8Bit(argv[1]));
    if (!db.open())
        return 3;
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("SELECT MachAddr, ComX, IP, Team FROM MachineInfo ORDER BY "
                               "MachAddr")))
        return 3;
    QJsonArray terminals;
    while (q.next())
        terminals.append(QJsonObject{{QStringLiteral("terminal"), q.value(0).toInt()},
                                     {QStringLiteral("port"), q.value(1).toString()},
                                     {QStringLiteral("ip"), q.value(2).toString()},
                                     {QStringLiteral("place"), q.value(3).toString()}});
    std::fputs(QJsonDocument(QJsonObject{{QStringLiteral("terminals"), terminals}})
                   .toJson(QJsonDocument::Compact)
                   .constData(),
               stdout);
    return 0;
}

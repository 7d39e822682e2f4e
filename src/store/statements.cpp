#include "store/statements.h"

namespace bw::store {

QString quoted(const QString& value) {
    QString out = value;
    out.replace(QLatin1Char('\''), QLatin1String("''"));
    return out;
}

QString terminalByAddress(const QString& address) {
    return QStringLiteral("Select * From MachineInfo where machaddr='") + quoted(address) +
           QStringLiteral("' Order By MachAddr");
}

QString terminalsOfModel() {
    return QStringLiteral("Select * From MachineInfo Where MachVer='6429' Order By MachAddr");
}

QString groupsOfModel() {
    return QStringLiteral("Select distinct Ver From MachineInfo Where MachVer='6429'");
}

QString deleteTerminal(const QString& address) {
    return QStringLiteral("Delete From MachineInfo Where MachAddr='") + quoted(address) +
           QStringLiteral("'");
}

QString backupCardMappings(const QString& address) {
    return QStringLiteral("INSERT INTO CardMappingTmp SELECT CardMapping.* FROM CardMapping where "
                          "MachAddr='") +
           quoted(address) + QStringLiteral("'");
}

QString deleteCardMappings(const QString& address) {
    return QStringLiteral("Delete from CardMapping where MachAddr='") + quoted(address) +
           QStringLiteral("'");
}

QString logWriterForm(const QString& user, const QString& delimiter, const QString& timeText,
                      const QString& object, const QString& action, const QString& result) {
    return QStringLiteral(" insert into CtrlLog (UserA,TimeA,ObjectA,ActionA,ResultA ) values ") +
           QStringLiteral("('") + quoted(user) + QStringLiteral("',") + delimiter + timeText +
           delimiter + QStringLiteral(",'") + quoted(object) + QStringLiteral("','") +
           quoted(action) + QStringLiteral("','") + quoted(result) + QStringLiteral("')");
}

QString logInitialisationForm(const QString& user, const QString& action, const QString& object,
                              const QString& result, const QString& dateLiteral) {
    return QStringLiteral("Insert Into CtrlLog(UserA,ActionA,ObjectA,ResultA,TimeA) Values('") +
           quoted(user) + QStringLiteral("','") + quoted(action) + QStringLiteral("','") +
           quoted(object) + QStringLiteral("','") + quoted(result) + QStringLiteral("',") +
           dateLiteral + QStringLiteral(")");
}

} // namespace bw::store

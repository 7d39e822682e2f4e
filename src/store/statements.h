#pragma once

#include <QString>

namespace bw::store {

// Every statement the component sends to the host's database. Values that stand between
// single quotes go through quoted(), so a quote inside a value cannot end the literal.

// The value with every single quote doubled.
QString quoted(const QString& value);

// Select * From MachineInfo where machaddr='A' Order By MachAddr
QString terminalByAddress(const QString& address);
// Select * From MachineInfo Where MachVer='6429' Order By MachAddr
QString terminalsOfModel();
// Select distinct Ver From MachineInfo Where MachVer='6429'
QString groupsOfModel();
// Delete From MachineInfo Where MachAddr='A'
QString deleteTerminal(const QString& address);
// INSERT INTO CardMappingTmp SELECT CardMapping.* FROM CardMapping where MachAddr='A'
QString backupCardMappings(const QString& address);
// Delete from CardMapping where MachAddr='A'
QString deleteCardMappings(const QString& address);

// The log writer's insert: user U, date delimiter D, time text T, object O, action C, result R.
// D and T are pasted as they are; U, O, C and R are quoted.
QString logWriterForm(const QString& user, const QString& delimiter, const QString& timeText,
                      const QString& object, const QString& action, const QString& result);

// The initialisation command's insert: user U, action C, object O, result R, and a complete
// date literal (delimiters included) pasted as it is.
QString logInitialisationForm(const QString& user, const QString& action, const QString& object,
                              const QString& result, const QString& dateLiteral);

} // namespace bw::store

#pragma once

// The host components the component talks to, one small interface each, with the
// members named as the host names them. Objects are created by ProgID (registry.h).

#include "platform/ado.h"
#include "platform/registry.h"
#include "platform/vbdate.h"

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <array>

class QWidget;

namespace bw {

// Terminal-communication object, "Pellworth.Link".
class IConnect : public virtual Component {
public:
    virtual QString Ver() = 0;
    virtual void mode(short value) = 0;        // 0 serial port, 1 TCP/IP
    virtual void IP(const QString& value) = 0; // the whole port text
    virtual void tcpPort(short value) = 0;     // 1001
    virtual bool SetPort(short& port) = 0;     // 0 in TCP/IP mode
    virtual bool ClearRecord(QString& address) = 0;
    virtual bool ClearNameList(QString& address) = 0;
    // times[0..9]: the group's bell times (time of day on the zero date); times[10]: zero.
    virtual bool SetClock(short address, std::array<VbDate, 11>& times, short group) = 0;
    virtual void DestoryPort() = 0;
};

// Language object, "Quenby.Lexicon".
class ILanguage : public virtual Component {
public:
    // Replaces "'|01" by v1 and "'|02" by v2 (count 2 only); every other character stays.
    virtual QString ReplaceRes(const QString& templ, short count, const QVariant& v1,
                               const QVariant& v2 = QVariant()) = 0;
    // Puts the window's captions into the user-interface language.
    virtual void LoadControlInfo(ConnectionPtr& cn, const QString& project, QWidget* form,
                                 int& result) = 0;
};

// Permission object, "Quenby.Warden".
class IPermission : public virtual Component {
public:
    virtual bool CheckPermission(ConnectionPtr& cn, const QString& systemName, const QString& user,
                                 const QVariant& omitted, const QString& functionName, bool flag1,
                                 bool flag2) = 0;
};

// Database-tools object, "Harrowgate.Ledger".
class IDbTools : public virtual Component {
public:
    virtual ConnectionPtr ActiveCn() = 0; // the host's open connection, or null
    virtual RecordsetPtr RecordSetA(const QString& sql) = 0;
    virtual QString DateExchangeA(const QDateTime& when) = 0; // a complete SQL date literal
    virtual void ConnectA() = 0;
};

// Anything opened by ShowA: the component itself ("Brackwater.KQ") and the host's
// data-collection object ("Fenlowe.KQ"). Errors are raised as bw::Error.
class IShowA : public virtual Component {
public:
    virtual void ShowA(QVariant& VarUser, QVariant& VarTitle, QVariant& VarCaption,
                       QVariant& VarSysDate) = 0;
};

} // namespace bw

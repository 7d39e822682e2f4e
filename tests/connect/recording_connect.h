#pragma once

// A connect component for tests: records every call in order, answers from settable flags,
// and can raise an error from any member.

#include "platform/error.h"
#include "platform/interfaces.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>

namespace bw::test {

class RecordingConnect : public IConnect {
public:
    struct ClockCall {
        short address = 0;
        std::array<VbDate, 11> times{};
        short group = 0;
    };

    QString Ver() override {
        record(QStringLiteral("Ver"));
        return version;
    }
    void mode(short value) override {
        record(QStringLiteral("mode=%1").arg(value));
        modeValue = value;
        raiseIf(QStringLiteral("mode"));
    }
    void IP(const QString& value) override {
        record(QStringLiteral("IP=%1").arg(value));
        ipValue = value;
        raiseIf(QStringLiteral("IP"));
    }
    void tcpPort(short value) override {
        record(QStringLiteral("tcpPort=%1").arg(value));
        tcpPortValue = value;
        raiseIf(QStringLiteral("tcpPort"));
    }
    bool SetPort(short& port) override {
        record(QStringLiteral("SetPort(%1)").arg(port));
        raiseIf(QStringLiteral("SetPort"));
        if (setPortResult)
            ++openPorts;
        return setPortResult;
    }
    bool ClearRecord(QString& address) override {
        record(QStringLiteral("ClearRecord(%1)").arg(address));
        raiseIf(QStringLiteral("ClearRecord"));
        return clearRecordResult;
    }
    bool ClearNameList(QString& address) override {
        record(QStringLiteral("ClearNameList(%1)").arg(address));
        raiseIf(QStringLiteral("ClearNameList"));
        return clearNameListResult;
    }
    bool SetClock(short address, std::array<VbDate, 11>& times, short group) override {
        record(QStringLiteral("SetClock(%1,%2)").arg(address).arg(group));
        clocks.append({address, times, group});
        raiseIf(QStringLiteral("SetClock"));
        if (onSetClock)
            onSetClock(group);
        return !failingGroups.contains(group);
    }
    void DestoryPort() override {
        record(QStringLiteral("DestoryPort"));
        --openPorts;
        raiseIf(QStringLiteral("DestoryPort"));
    }

    // Calls whose text starts with the given prefix.
    int count(const QString& prefix) const {
        int n = 0;
        for (const QString& c : calls)
            if (c.startsWith(prefix))
                ++n;
        return n;
    }

    QString version = QStringLiteral("V7.3");
    bool setPortResult = true;
    bool clearRecordResult = true;
    bool clearNameListResult = true;
    QList<short> failingGroups;
    QString raiseIn; // name of a member that raises Error 5
    std::function<void(short)> onSetClock;
    std::function<void(const QString&)> onCall; // run at every call, after it is recorded

    QStringList calls;
    QList<ClockCall> clocks;
    short modeValue = -1;
    QString ipValue;
    short tcpPortValue = -1;
    int openPorts = 0; // successful SetPort calls minus DestoryPort calls

private:
    void record(const QString& call) {
        calls << call;
        if (onCall)
            onCall(call);
    }
    void raiseIf(const QString& member) {
        if (member == raiseIn)
            throw Error(err::InvalidProcedureCall,
                        QStringLiteral("Invalid procedure call or argument"));
    }
};

} // namespace bw::test

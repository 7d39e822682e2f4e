#pragma once

// Host components and a real SQLite host database for the window's tests.

#include "common/fakes.h"
#include "platform/component_state.h"
#include "platform/interfaces.h"
#include "window/f_machine.h"

#include <QPointer>
#include <QSqlDatabase>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace bw::windowtest {

// What the host components were asked, in order ("ActiveCn", "RecordSetA:<sql>", ...).
struct CallLog {
    QStringList calls;
    // Run at each call, so a test can look at the window in the middle of its load.
    std::function<void(const QString&)> onCall;
    void add(const QString& call) {
        calls.append(call);
        if (onCall)
            onCall(call);
    }
};

// A terminal row of MachineInfo.
struct Terminal {
    QVariant machAddr;
    QVariant comX;
    QVariant ip;
    QVariant team;
    QVariant ver;
    QVariant machVer = QStringLiteral("6429");
    QVariant machDesc;
};

// A SQLite host database in a file of its own, with the MachineInfo table.
class HostDatabase {
public:
    HostDatabase();
    ~HostDatabase();
    void add(const Terminal& t);
    void removeAll();
    void exec(const QString& sql);
    QSqlDatabase db() const;
    QString connectionName() const { return name_; }
    QString file() const { return file_; }

private:
    QString name_;
    QString file_;
};

// The database-tools component over HostDatabase: RecordSetA reads every row at once.
class SqliteDbTools : public IDbTools {
public:
    SqliteDbTools(HostDatabase& db, CallLog& log) : db_(db), log_(log) {}
    ConnectionPtr ActiveCn() override;
    RecordsetPtr RecordSetA(const QString& sql) override;
    QString DateExchangeA(const QDateTime& when) override;
    void ConnectA() override { log_.add(QStringLiteral("ConnectA")); }

    bool noConnection = false;   // ActiveCn yields nothing
    QString failQueryContaining; // RecordSetA raises for a query containing this text

private:
    HostDatabase& db_;
    CallLog& log_;
};

// The permission component: refuses the function names listed.
class FakePermission : public IPermission {
public:
    explicit FakePermission(CallLog& log) : log_(log) {}
    bool CheckPermission(ConnectionPtr& cn, const QString& systemName, const QString& user,
                         const QVariant& omitted, const QString& functionName, bool flag1,
                         bool flag2) override;
    bool refuseAll = false;
    QStringList refused;
    struct Call {
        QString systemName;
        QString user;
        bool omittedIsNull = false;
        QString functionName;
        bool flag1 = false;
        bool flag2 = false;
        bool connectionGiven = false;
    };
    QList<Call> received;

private:
    CallLog& log_;
};

// The language component: records LoadControlInfo, fills placeholders as the host does.
class FakeLanguage : public ILanguage {
public:
    explicit FakeLanguage(CallLog& log) : log_(log) {}
    QString ReplaceRes(const QString& templ, short count, const QVariant& v1,
                       const QVariant& v2) override;
    void LoadControlInfo(ConnectionPtr& cn, const QString& project, QWidget* form,
                         int& result) override;
    QString project;
    QWidget* form = nullptr;
    bool connectionGiven = false;

private:
    CallLog& log_;
};

// The data-collection component: records its ShowA calls, or fails them.
class FakeGather : public IShowA {
public:
    void ShowA(QVariant& VarUser, QVariant& VarTitle, QVariant& VarCaption,
               QVariant& VarSysDate) override;
    static inline int created = 0;
    static inline int released = 0;
    static inline bool fail = false;
    static inline QList<QVariantList> calls;
    FakeGather() { ++created; }
    ~FakeGather() override { ++released; }
};

// Registers the fake components, resets the shared state, records message boxes.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A new window, loaded through showWindow().
    F_Machine* openWindow();
    // Closes the window and lets it be deleted.
    void closeWindow(F_Machine* w);

    HostDatabase db;
    CallLog log;
    std::shared_ptr<SqliteDbTools> dbTools;
    std::shared_ptr<FakePermission> permission;
    std::shared_ptr<FakeLanguage> language;
    test::RecordingMessageBox boxes;
    QPointer<F_Machine> window;
};

} // namespace bw::windowtest

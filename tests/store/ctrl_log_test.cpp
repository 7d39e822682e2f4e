#include "backends.h"
#include "host/ledger/operators.h"
#include "host/ledger/warden.h"
#include "platform/convert.h"
#include "platform/interfaces.h"
#include "store/ctrl_log.h"
#include "store/sql_recordset.h"
#include "store/statements.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <QUrl>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <thread>
#include <type_traits>

using namespace bw;
using namespace bw::store;
using bw::test::OnBackend;

namespace {

QString u8(const char* text) {
    return QString::fromUtf8(text);
}

// Collects the program's diagnostic output while alive.
class WarningCatcher {
public:
    WarningCatcher() {
        messages().clear();
        previous_ = qInstallMessageHandler(&WarningCatcher::handle);
    }
    ~WarningCatcher() { qInstallMessageHandler(previous_); }
    static QStringList& messages() {
        static QStringList list;
        return list;
    }

private:
    static void handle(QtMsgType, const QMessageLogContext&, const QString& text) {
        messages().append(text);
    }
    QtMessageHandler previous_ = nullptr;
};

template <class B> class OperationLog : public OnBackend<B> {
protected:
    QVector<QVariantList> entries() {
        return this->cn->queryBound(
            "SELECT UserA, TimeA, ObjectA, ActionA, ResultA FROM CtrlLog ORDER BY TimeA");
    }
};
TYPED_TEST_SUITE(OperationLog, bw::test::Backends, bw::test::BackendNames);

TYPED_TEST(OperationLog, EntryReadsBackColumnForColumn) {
    const QDateTime t(QDate(2024, 3, 5), QTime(18, 9, 10));
    WriteCtrlLog("admin", t, u8("增加机器"), u8("机器:7增加成功！"), u8("成功"));
    const auto rows = this->entries();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][0].toString(), "admin");
    EXPECT_EQ(rows[0][1].toDateTime(), t);
    EXPECT_EQ(rows[0][2].toString(), u8("增加机器"));
    EXPECT_EQ(rows[0][3].toString(), u8("机器:7增加成功！"));
    EXPECT_EQ(rows[0][4].toString(), u8("成功"));
}

TYPED_TEST(OperationLog, HostileUserNameIsLoggedVerbatim) {
    this->cn->Execute("INSERT INTO MachineInfo (MachAddr, MachVer) VALUES (1, '6429')");
    const QString user = "O'Brien'); DROP TABLE MachineInfo;--";
    WriteCtrlLog(user, QDateTime::currentDateTime(), "o'", "'c", "r''");
    const auto rows = this->entries();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][0].toString(), user);
    EXPECT_EQ(rows[0][2].toString(), "o'");
    EXPECT_EQ(rows[0][3].toString(), "'c");
    EXPECT_EQ(rows[0][4].toString(), "r''");
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 1);
}

TYPED_TEST(OperationLog, SeveralEntriesKeepTheirOrderAndTimes) {
    const QDateTime t1(QDate(2024, 1, 2), QTime(3, 4, 5));
    const QDateTime t2(QDate(2024, 1, 2), QTime(15, 4, 5));
    WriteCtrlLog("a", t2, "o2", "c2", "r2");
    WriteCtrlLog("a", t1, "o1", "c1", "r1");
    const auto rows = this->entries();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0][2].toString(), "o1");
    EXPECT_EQ(rows[0][1].toDateTime(), t1);
    EXPECT_EQ(rows[1][1].toDateTime(), t2);
}

TYPED_TEST(OperationLog, RejectedEntryLeavesTheCallerUndisturbed) {
    this->cn->Execute("DROP TABLE CtrlLog");
    WarningCatcher catcher;
    EXPECT_NO_THROW(WriteCtrlLog("admin", QDateTime::currentDateTime(), "o", "c", "r"));
    ASSERT_FALSE(WarningCatcher::messages().isEmpty());
    const QString warning = WarningCatcher::messages().join('\n');
    EXPECT_TRUE(warning.contains("insert into CtrlLog")) << warning.toStdString();
    EXPECT_TRUE(warning.contains("ctrllog", Qt::CaseInsensitive)) << warning.toStdString();
    // The shared connection still works for the next operation.
    this->cn->Execute("INSERT INTO MachineInfo (MachAddr) VALUES (3)");
    auto tools = CreateObject<IDbTools>(progid::DbTools);
    EXPECT_EQ(tools->RecordSetA(terminalByAddress("3"))->RecordCount(), 1);
}

TYPED_TEST(OperationLog, NoDatabaseOrNoComponentIsSwallowed) {
    WarningCatcher catcher;
    host::setConnectionString(QString());
    EXPECT_NO_THROW(WriteCtrlLog("admin", QDateTime::currentDateTime(), "o", "c", "r"));
    Registry::instance().unregisterClass(progid::DbTools);
    EXPECT_NO_THROW(WriteCtrlLog("admin", QDateTime::currentDateTime(), "o", "c", "r"));
    host::registerDbComponents();
    EXPECT_GE(WarningCatcher::messages().size(), 2);
    EXPECT_EQ(this->entries().size(), 0);
}

TYPED_TEST(OperationLog, InitialisationFormThroughDateExchange) {
    auto tools = CreateObject<IDbTools>(progid::DbTools);
    const QDateTime t(QDate(2024, 6, 7), QTime(20, 1, 2));
    const QString literal = tools->DateExchangeA(t);
    EXPECT_EQ(literal, "'2024-06-07 20:01:02'");
    tools->ActiveCn()->Execute(
        logInitialisationForm("admin", u8("考勤机初始化"), u8("考勤机5"), u8("成功"), literal));
    const auto rows = this->entries();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0][1].toDateTime(), t);
    EXPECT_EQ(rows[0][2].toString(), u8("考勤机5"));
    EXPECT_EQ(rows[0][3].toString(), u8("考勤机初始化"));
}

template <class B> class Ledger : public OnBackend<B> {
protected:
    bool withDemoData() const override { return true; }
};
TYPED_TEST_SUITE(Ledger, bw::test::Backends, bw::test::BackendNames);

TYPED_TEST(Ledger, InstancesShareOneOpenConnection) {
    auto a = CreateObject<IDbTools>(progid::DbTools);
    auto b = CreateObject<IDbTools>(progid::DbTools);
    a->ConnectA();
    ConnectionPtr ca = a->ActiveCn();
    ASSERT_TRUE(ca);
    EXPECT_TRUE(ca->isOpen());
    EXPECT_EQ(ca.get(), b->ActiveCn().get());
    EXPECT_EQ(ca->ConnectionString(), this->backend.connectionString);
}

TYPED_TEST(Ledger, RecordSetAOnTheDemoData) {
    auto tools = CreateObject<IDbTools>(progid::DbTools);
    auto rs = tools->RecordSetA(terminalsOfModel());
    EXPECT_EQ(rs->RecordCount(), 3);
    EXPECT_EQ(CStr(rs->field("MachAddr")), "1");
    EXPECT_EQ(rs->field("Ver").toString(), u8("一楼"));
    EXPECT_EQ(rs->field("Team").toString(), "A");
    EXPECT_EQ(rs->field("MachDesc").toString(), u8("计次"));
    auto groups = tools->RecordSetA(groupsOfModel());
    EXPECT_EQ(groups->RecordCount(), 2);
    auto tcp = tools->RecordSetA(terminalByAddress("3"));
    EXPECT_EQ(tcp->field("IP").toString(), "127.0.0.1");
    EXPECT_EQ(tcp->field("COMX").toString(), "1");
    // Creating the schema again adds nothing.
    host::createHostSchema(*this->cn, true);
    EXPECT_EQ(tools->RecordSetA(terminalsOfModel())->RecordCount(), 3);
}

TYPED_TEST(Ledger, DeletionStatementsMoveCardMappings) {
    ConnectionPtr cn = CreateObject<IDbTools>(progid::DbTools)->ActiveCn();
    cn->Execute(deleteTerminal("1"));
    cn->Execute(backupCardMappings("1"));
    cn->Execute(deleteCardMappings("1"));
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = 1"), 0);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM CardMapping WHERE MachAddr = 1"), 0);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM CardMappingTmp WHERE MachAddr = 1"), 2);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM CardMapping"), 2);
}

TYPED_TEST(Ledger, NoDatabaseMeansNoConnection) {
    host::setConnectionString(QString());
    auto tools = CreateObject<IDbTools>(progid::DbTools);
    EXPECT_FALSE(tools->ActiveCn());
    EXPECT_NO_THROW(tools->ConnectA());
    EXPECT_THROW(tools->RecordSetA(terminalsOfModel()), Error);
    host::setConnectionString(QStringLiteral("sqlite:/nonexistent-dir/x/y.db"));
    EXPECT_FALSE(tools->ActiveCn());
}

// A missing SQLite file is not made by opening it; one deleted or replaced under the open
// connection fails its next use (a Save writes nothing into the deleted file).
TYPED_TEST(Ledger, SqliteFileMissingGoneOrReplaced) {
    if (this->cn->engine() != SqlConnection::Engine::Sqlite)
        GTEST_SKIP() << "a server database";
    const QString none = test::tempDir() + "/none.db";
    EXPECT_THROW(SqlConnection(QStringLiteral("sqlite:") + none), Error);
    EXPECT_FALSE(QFile::exists(none));
    const QString file = this->cn->queryBound("PRAGMA database_list").value(0).value(2).toString();
    for (const int number : {dberr::FileGone, dberr::FileReplaced}) {
        auto rs = CreateObject<IDbTools>(progid::DbTools)->RecordSetA("select * from MachineInfo");
        ASSERT_TRUE(QFile::rename(file, file + ".kept"));
        if (number == dberr::FileReplaced) {
            ASSERT_TRUE(QFile::copy(file + ".kept", file));
        }
        rs->AddNew();
        rs->setField("MachAddr", 9);
        try {
            rs->UpdateBatch();
            ADD_FAILURE() << "saved into a file that is not there";
        } catch (const Error& e) {
            EXPECT_EQ(e.number(), number) << e.description().toStdString();
        }
        QFile::remove(file);
        ASSERT_TRUE(QFile::rename(file + ".kept", file));
        EXPECT_EQ(SqlConnection(this->backend.connectionString)
                      .queryBound("SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = 9")
                      .value(0)
                      .value(0),
                  0);
        host::setConnectionString(this->backend.connectionString);
    }
    // Within a commit: begun, written, the file replaced, then committed: nothing is kept.
    this->cn->BeginTrans();
    this->cn->Execute("INSERT INTO MachineInfo (MachAddr, ComX, IP, MachVer) VALUES (8, '1', '*', "
                      "'6429')");
    ASSERT_TRUE(QFile::rename(file, file + ".kept") && QFile::copy(file + ".kept", file));
    try {
        this->cn->CommitTrans();
        ADD_FAILURE() << "committed into a replaced file";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), dberr::FileReplaced) << e.description().toStdString();
    }
    QFile::remove(file);
    ASSERT_TRUE(QFile::rename(file + ".kept", file));
    EXPECT_EQ(SqlConnection(this->backend.connectionString)
                  .queryBound("SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = 8")
                  .value(0)
                  .value(0),
              0);
    // Replaced by another database while a run writes, then opened by another program: it reads
    // cleanly, the run's write-ahead log gone with the run. An empty file or one of another kind
    // is refused and left as it was.
    const QString mine = test::tempDir() + "/mine.db", theirs = test::tempDir() + "/theirs.db";
    SqlConnection(QStringLiteral("sqlite:") + theirs, Create::Yes)
        .Execute("CREATE TABLE u (w INTEGER)");
    auto run = std::make_unique<SqlConnection>(QStringLiteral("sqlite:") + mine, Create::Yes);
    run->Execute("CREATE TABLE t (v INTEGER)");
    ASSERT_TRUE(QFile::exists(mine + "-wal"));
    ASSERT_TRUE(QFile::remove(mine) && QFile::rename(theirs, mine));
    EXPECT_THROW(run->Execute("INSERT INTO t VALUES (1)"), Error);
    run.reset();
    EXPECT_FALSE(QFile::exists(mine + "-wal") || QFile::exists(mine + "-shm"));
    QProcess other; // the sqlite3 program
    other.start("sqlite3", {mine, "PRAGMA integrity_check; SELECT COUNT(*) FROM u;"});
    ASSERT_TRUE(other.waitForFinished(10000));
    EXPECT_EQ(other.readAll(), "ok\n0\n");
    for (const QByteArray& content : {QByteArray(), QByteArray("name,card\n1,2\n")}) {
        QFile odd(test::tempDir() + "/odd.db");
        ASSERT_TRUE(odd.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    odd.write(content) >= 0);
        odd.close();
        EXPECT_THROW(SqlConnection(QStringLiteral("sqlite:") + odd.fileName()), Error);
        ASSERT_TRUE(odd.open(QIODevice::ReadOnly));
        EXPECT_EQ(odd.readAll(), content);
        EXPECT_FALSE(QFile::exists(odd.fileName() + "-wal"));
    }
}

// A server connection ended under the program, as by a restart, is opened again before its
// next use: a reading, a write and a transaction each work at once.
TYPED_TEST(Ledger, ServerConnectionEndedComesBack) {
    if constexpr (!std::is_base_of_v<test::PostgresBackend, TypeParam>) {
        GTEST_SKIP() << "no server";
    } else {
        auto shared = host::sharedConnection();
        auto& admin = *this->backend.admin;
        const std::function<void()> uses[] = {
            [] { CreateObject<IDbTools>(progid::DbTools)->RecordSetA("select * from CtrlLog"); },
            [&] { shared->Execute("INSERT INTO CtrlLog (UserA) VALUES ('after')"); },
            [&] {
                shared->BeginTrans();
                shared->executeBound("INSERT INTO CtrlLog (UserA) VALUES (?)", {"in one"});
                shared->CommitTrans();
            },
        };
        for (const auto& use : uses) {
            const QVariant pid = shared->queryBound("SELECT pg_backend_pid()").value(0).value(0);
            admin.queryBound("SELECT pg_terminate_backend(CAST(? AS INTEGER))", {pid});
            QDeadlineTimer gone(10000);
            while (admin.queryBound("SELECT COUNT(*) FROM pg_stat_activity WHERE pid = "
                                    "CAST(? AS INTEGER)",
                                    {pid})
                           .value(0)
                           .value(0)
                           .toInt() > 0 &&
                   !gone.hasExpired())
                QThread::msleep(10);
            EXPECT_NO_THROW(use());
        }
        EXPECT_EQ(this->count("SELECT COUNT(*) FROM CtrlLog"), 2);
    }
}

TYPED_TEST(Ledger, WardenAnswersFromTheGrants) {
    auto warden = CreateObject<IPermission>(progid::Permission);
    ConnectionPtr cn = CreateObject<IDbTools>(progid::DbTools)->ActiveCn();
    const QString caption = QString::fromUtf8(host::kDemoCaption);
    const QString sys = u8("考勤系统");
    for (const char* fn : {".增加", ".保存", ".删除", ".修改", ".通讯测试", ".日期时间设置",
                           ".下传", ".考勤机初始化"})
        EXPECT_TRUE(
            warden->CheckPermission(cn, sys, "admin", QVariant(), caption + u8(fn), true, true))
            << fn;
    for (const char* fn : {".通讯测试", ".日期时间设置"})
        EXPECT_TRUE(
            warden->CheckPermission(cn, sys, "guest", QVariant(), caption + u8(fn), true, true))
            << fn;
    for (const char* fn : {".增加", ".保存", ".删除", ".修改", ".下传", ".考勤机初始化"})
        EXPECT_FALSE(
            warden->CheckPermission(cn, sys, "guest", QVariant(), caption + u8(fn), true, true))
            << fn;
    EXPECT_FALSE(
        warden->CheckPermission(cn, sys, "nobody", QVariant(), caption + u8(".增加"), true, true));
    // A name holding quotes or a wildcard text is only ever a value.
    EXPECT_FALSE(warden->CheckPermission(cn, sys, "x' OR '1'='1", QVariant(), "*", true, true));
    EXPECT_FALSE(warden->CheckPermission(cn, sys, "guest", QVariant(), "%", true, true));
    // Without a connection of its own it uses the host's; with no database at all it refuses.
    ConnectionPtr none;
    EXPECT_TRUE(warden->CheckPermission(none, sys, "admin", QVariant(), "x", true, true));
    host::setConnectionString(QString());
    EXPECT_FALSE(warden->CheckPermission(none, sys, "admin", QVariant(), "x", true, true));
}

TYPED_TEST(Ledger, WardenRefusesWithoutAGrantsTable) {
    WarningCatcher catcher;
    this->cn->Execute("DROP TABLE UserGrants");
    auto warden = CreateObject<IPermission>(progid::Permission);
    ConnectionPtr cn = this->cn;
    EXPECT_FALSE(warden->CheckPermission(cn, "s", "admin", QVariant(), "f", true, true));
}

// The refusal a step ends in, as a number; -1 when it is done.
int refusal(const std::function<void()>& step) {
    try {
        step();
    } catch (const host::operators::Refused& r) {
        return int(r.why);
    }
    return -1;
}

// A file database: the desktop account that made it is its first administrator and chooses its
// password at its first sign-in; the table holds Argon2id hashes only; an unknown name, a wrong
// password and a disabled operator are refused alike; only administrators change operators, and
// the last one stays.
TYPED_TEST(Ledger, OperatorsSignInWithTheirOwnPasswords) {
    namespace op = host::operators;
    if (this->backend.connectionString.startsWith(QStringLiteral("postgres")))
        GTEST_SKIP() << "the server signs its roles in (OperatorsOnPostgres)";
    const QString cs = this->backend.connectionString;
    const QString me = op::desktopAccount();
    const QString caption = QString::fromUtf8(host::kDemoCaption);
    EXPECT_EQ(refusal([&] { op::signIn(cs, me, "x"); }), int(op::Refusal::NoPasswordYet));
    // The demo signs in unasked only an enabled operator without a password.
    op::setPassword(*this->cn, me, "guest", "guest pw");
    for (const auto& [name, unasked] :
         {std::pair{"admin", true}, std::pair{"guest", false}, std::pair{"nobody", false}})
        EXPECT_EQ(op::signsInUnasked(*this->cn, name), unasked) << name;
    EXPECT_EQ(refusal([&] { op::setFirstPassword(cs, "guest", "pw"); }),
              int(op::Refusal::WrongSignIn));
    op::setFirstPassword(cs, me, "first pass");
    EXPECT_EQ(refusal([&] { op::setFirstPassword(cs, me, "again"); }),
              int(op::Refusal::WrongSignIn));
    EXPECT_EQ(op::signIn(cs, me, "first pass"), me);
    EXPECT_EQ(op::actingOperator(*this->cn), me);
    op::addOperator(*this->cn, me, "clerk", {"test", "collect"}, "s3cret;\"pw", caption);
    for (const QString& bad : {QString(), QString(" x"), QString("a\nb"), QString(64, 'n')})
        EXPECT_EQ(refusal([&] { op::addOperator(*this->cn, me, bad, {}, "p", caption); }),
                  int(op::Refusal::BadName));
    EXPECT_EQ(refusal([&] { op::addOperator(*this->cn, me, "clerk", {}, "p", caption); }),
              int(op::Refusal::Exists));
    EXPECT_EQ(refusal([&] { op::addOperator(*this->cn, "clerk", "x2", {}, "p", caption); }),
              int(op::Refusal::NotAdministrator));
    op::disableOperator(*this->cn, me, "admin"); // the demo's administrator
    EXPECT_EQ(refusal([&] { op::setRights(*this->cn, me, me, {"test"}, caption); }),
              int(op::Refusal::LastAdministrator));
    EXPECT_EQ(refusal([&] { op::parseRights("test,fly"); }), int(op::Refusal::UnknownRight));
    struct Try {
        const char* name;
        const char* password;
        bool ok;
    };
    for (const Try& t : {Try{"clerk", "s3cret;\"pw", true}, Try{"clerk", "s3cret", false},
                         Try{"nobody", "s3cret;\"pw", false}, Try{"clerk", "", false}})
        EXPECT_EQ(refusal([&] { op::signIn(cs, t.name, t.password); }),
                  t.ok ? -1 : int(op::Refusal::WrongSignIn))
            << t.name << " " << t.password;
    // Past the free failures a name waits, even with its right password.
    for (int i = 0; i < op::kFreeSignInFailures; ++i)
        EXPECT_EQ(refusal([&] { op::signIn(cs, "guest", "x"); }), int(op::Refusal::WrongSignIn));
    EXPECT_EQ(refusal([&] { op::signIn(cs, "guest", "guest pw"); }), int(op::Refusal::TooSoon));
    const auto hashes = this->cn->queryBound(
        "SELECT PasswordHash FROM Operators WHERE PasswordHash IS NOT NULL AND PasswordHash <> ''");
    ASSERT_EQ(hashes.size(), 3); // the desktop account's, guest's and clerk's
    for (const QVariantList& row : hashes) {
        EXPECT_TRUE(row.value(0).toString().startsWith("$argon2id$"));
        EXPECT_FALSE(row.value(0).toString().contains("s3cret"));
    }
    const auto listed = op::listOperators(*this->cn, caption);
    ASSERT_EQ(listed.size(), 4); // admin, clerk, guest and the desktop account
    EXPECT_EQ(listed.value(1).name, "clerk");
    EXPECT_EQ(listed.value(1).rights, (QStringList{"test", "collect"}));
    op::disableOperator(*this->cn, me, "clerk");
    EXPECT_EQ(refusal([&] { op::signIn(cs, "clerk", "s3cret;\"pw"); }),
              int(op::Refusal::WrongSignIn));
    auto warden = CreateObject<IPermission>(progid::Permission);
    ConnectionPtr c = this->cn;
    EXPECT_FALSE(warden->CheckPermission(c, "s", "clerk", QVariant(), u8("采集数据"), true, true));
}

// A server: each operator is a role whose rights on the tables follow its functions, whatever
// it sends through the program or psql; the log names the session's user.
TEST(OperatorsOnPostgres, RolesHoldOnlyTheRightsOfTheirFunctions) {
    namespace op = host::operators;
    const QString base = qEnvironmentVariable("BW_PG_CONN");
    if (!base.startsWith(QStringLiteral("postgres")))
        GTEST_SKIP() << "needs BW_PG_CONN as a postgresql:// URL";
    test::PostgresBackend pg;
    pg.setUp();
    const QString caption = QString::fromUtf8(host::kDemoCaption);
    const QString boss = QStringLiteral("bw_boss_%1").arg(QCoreApplication::applicationPid());
    const QString guest = QStringLiteral("bw_guest_%1").arg(QCoreApplication::applicationPid());
    const auto admin = pg.admin; // outlives the schema, for the cluster's roles
    const auto dropRoles = [&] {
        for (const QString& r : {boss, guest})
            admin->Execute("DROP ROLE IF EXISTS " + r);
    };
    {
        auto owner = SqlConnection::open(pg.connectionString);
        host::createHostSchema(*owner, true);
        dropRoles();
        op::addOperator(*owner, {}, boss, {"admin"}, "boss pw", caption);
        op::addOperator(*owner, {}, guest, {"test", "clock"}, "guest pw", caption);
        for (const QString& r : {boss, guest})
            pg.admin->Execute("GRANT bw_signin TO " + r);
        // Programs that start together take turns at securing the schema.
        owner->Execute("COMMENT ON FUNCTION bw_apply_grants(text) IS NULL");
        std::atomic_int failed{0};
        std::vector<std::thread> starts;
        for (int i = 0; i < 3; ++i)
            starts.emplace_back([&] {
                try {
                    SqlConnection cn(pg.connectionString);
                    op::secureServerSchema(cn);
                } catch (const Error&) {
                    ++failed;
                }
            });
        for (std::thread& t : starts)
            t.join();
        EXPECT_EQ(failed, 0);
    }
    for (const auto& [name, pw] : {std::pair{QStringLiteral("nobody"), QStringLiteral("x")},
                                   std::pair{guest, QStringLiteral("wrong")}})
        EXPECT_EQ(refusal([&] { op::signIn(pg.connectionString, name, pw); }),
                  int(op::Refusal::WrongSignIn));
    EXPECT_EQ(op::signIn(pg.connectionString, guest, "guest pw"), guest);
    {
        auto cn = SqlConnection::open(pg.connectionString); // the guest's session now
        EXPECT_EQ(op::actingOperator(*cn), guest);
        for (const char* sql :
             {"DELETE FROM MachineInfo", "INSERT INTO UserGrants VALUES ('x', '*')",
              "UPDATE CtrlLog SET UserA = 'x'", "DROP TABLE CtrlLog"})
            EXPECT_THROW(cn->Execute(sql), Error) << sql;
        EXPECT_EQ(refusal([&] { op::addOperator(*cn, guest, "bw_x", {}, "p", caption); }),
                  int(op::Refusal::NotAdministrator));
        EXPECT_EQ(refusal([&] { op::setRights(*cn, guest, guest, {"admin"}, caption); }),
                  int(op::Refusal::NotAdministrator));
        cn->Execute("INSERT INTO CtrlLog (UserA, ObjectA) VALUES ('admin', 'forged')");
        EXPECT_EQ(cn->queryBound("SELECT UserA FROM CtrlLog WHERE ObjectA = 'forged'"),
                  QVector<QVariantList>{{guest}});
    }
    // psql itself, with the guest's password: the server refuses what the rights do not give.
    const auto url = QUrl(base);
    QProcess psql;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PGPASSWORD", "guest pw");
    env.insert("PGOPTIONS", "-csearch_path=" + pg.schema);
    psql.setProcessEnvironment(env);
    psql.start("psql",
               {"-h", url.host(), "-p", QString::number(url.port(5432)), "-U", guest, "-d",
                url.path().mid(1), "-v", "ON_ERROR_STOP=1", "-c", "DELETE FROM machineinfo"});
    ASSERT_TRUE(psql.waitForFinished(30000));
    EXPECT_NE(psql.exitCode(), 0);
    EXPECT_TRUE(psql.readAllStandardError().contains("permission denied"));
    EXPECT_EQ(pg.admin->queryBound("SELECT COUNT(*) FROM " + pg.schema + ".machineinfo")
                  .value(0)
                  .value(0)
                  .toInt(),
              4);
    // The administrator disables the guest, who then cannot sign in.
    EXPECT_EQ(op::signIn(pg.connectionString, boss, "boss pw"), boss);
    {
        auto cn = SqlConnection::open(pg.connectionString);
        op::disableOperator(*cn, boss, guest);
        EXPECT_EQ(refusal([&] { op::disableOperator(*cn, boss, boss); }),
                  int(op::Refusal::LastAdministrator));
    }
    EXPECT_EQ(refusal([&] { op::signIn(pg.connectionString, guest, "guest pw"); }),
              int(op::Refusal::WrongSignIn));
    store::setServerSignIn({});
    {
        // The owner changes anyone with no administrator left; a role that took an
        // operator's name later is none.
        auto owner = SqlConnection::open(pg.connectionString);
        op::disableOperator(*owner, {}, boss);
        op::setRights(*owner, {}, guest, {"collect", "clear"}, caption);
        admin->Execute("DROP OWNED BY " + boss);
        admin->Execute("DROP ROLE " + boss);
        admin->Execute("CREATE ROLE " + boss + " LOGIN PASSWORD 'boss pw' IN ROLE bw_signin");
        owner->Execute("UPDATE Operators SET Disabled = 0");
    }
    EXPECT_EQ(refusal([&] { op::signIn(pg.connectionString, boss, "boss pw"); }),
              int(op::Refusal::WrongSignIn));
    store::setServerSignIn({});
    pg.tearDown();
    dropRoles();
}

// A URL without a password signs in with the PostgreSQL password file's. On a database whose
// sessions start with standard_conforming_strings off, every session (native and ODBC) keeps
// a backslash in a quoted value ordinary.
TEST(OperationLogOnPostgres, PasswordFileAndABackslashWhereTheDatabaseTakesItAsAnEscape) {
    QUrl url(qEnvironmentVariable("BW_PG_CONN"));
    if (!url.scheme().startsWith(QStringLiteral("postgres")))
        GTEST_SKIP() << "needs BW_PG_CONN as a postgresql:// URL";
    const QString name = QStringLiteral("bw_escapes_%1").arg(QCoreApplication::applicationPid());
    auto admin = SqlConnection::open(url.toString());
    for (const char* sql :
         {"SET client_min_messages TO warning", "DROP DATABASE IF EXISTS %1",
          "DO $$BEGIN CREATE ROLE bw_pgpass LOGIN; EXCEPTION WHEN duplicate_object THEN NULL; "
          "END$$",
          "ALTER ROLE bw_pgpass PASSWORD 'pass:word'", "CREATE DATABASE %1 OWNER bw_pgpass",
          "ALTER DATABASE %1 SET standard_conforming_strings = off"})
        admin->Execute(QString::fromUtf8(sql).arg(name));
    url.setUserName(QStringLiteral("bw_pgpass"));
    url.setPath(QLatin1Char('/') + name);
    QFile pgpass(test::tempDir() + QStringLiteral("/pgpass"));
    ASSERT_TRUE(pgpass.open(QIODevice::WriteOnly) &&
                pgpass.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    pgpass.write(QStringLiteral("%1:%2:*:bw_pgpass:pass\\:word\n")
                     .arg(url.host())
                     .arg(url.port(5432))
                     .toUtf8());
    pgpass.close();
    qputenv("PGPASSFILE", "/nonexistent");
    EXPECT_ANY_THROW(SqlConnection::open(url.toString()));
    qputenv("PGPASSFILE", QFile::encodeName(pgpass.fileName()));
    const QString odbc =
        QStringLiteral(
            "odbc:Driver={PostgreSQL Unicode};Server=%1;Port=%2;Database=%3;UID=bw_pgpass")
            .arg(url.host())
            .arg(url.port(5432))
            .arg(name);
    for (const QString& connection : {url.toString(), odbc}) {
        auto cn = SqlConnection::open(connection);
        host::createHostSchema(*cn, false);
        host::registerDbComponents();
        host::setConnectionString(connection);
        const QString user = "a\\'); DELETE FROM CtrlLog; --";
        WriteCtrlLog(user, QDateTime::currentDateTime(), "o", "c", "r");
        EXPECT_EQ(cn->queryBound("SELECT UserA FROM CtrlLog"), QVector<QVariantList>{{user}})
            << connection.toStdString();
        cn->Execute("DELETE FROM CtrlLog");
        host::setConnectionString(QString());
    }
    qunsetenv("PGPASSFILE");
    admin->Execute("DROP DATABASE " + name);
}

} // namespace

#include "host/ledger/schema.h"

#include "host/ledger/operators.h"
#include "store/sql_connection.h"

#include <QCryptographicHash>
#include <QStringList>

namespace bw::host {

namespace {

// MachAddr is NUMERIC: the component saves it as a number and compares it with a quoted text
// literal (machaddr='5'); PostgreSQL casts the literal to numeric, and SQLite's numeric
// affinity turns the text into a number before comparing.
const char* const kTables[] = {
    "CREATE TABLE IF NOT EXISTS MachineInfo (MachAddr NUMERIC, ComX VARCHAR(50), "
    "IP VARCHAR(255), Team VARCHAR(255), Ver VARCHAR(255), MachVer VARCHAR(50), "
    "MachDesc VARCHAR(255))",
    "CREATE TABLE IF NOT EXISTS CardMapping (CardNo VARCHAR(50), EmpNo VARCHAR(50), "
    "MachAddr NUMERIC)",
    "CREATE TABLE IF NOT EXISTS CardMappingTmp (CardNo VARCHAR(50), EmpNo VARCHAR(50), "
    "MachAddr NUMERIC)",
    // Station: the workstation that wrote the entry (the component's own entries leave it empty).
    "CREATE TABLE IF NOT EXISTS CtrlLog (UserA VARCHAR(255), TimeA TIMESTAMP, "
    "ObjectA VARCHAR(255), ActionA VARCHAR(255), ResultA VARCHAR(255), Station VARCHAR(255))",
    "CREATE TABLE IF NOT EXISTS UserGrants (UserName VARCHAR(255), FunctionName VARCHAR(255))",
    // Collected meal records: a terminal's record number is stored once per series, however
    // often the terminal is collected and from how many workstations. A terminal whose
    // numbering started again (a reset or replaced unit) gets a new series.
    "CREATE TABLE IF NOT EXISTS MealRecord (MachAddr INTEGER NOT NULL, RecordNo BIGINT NOT NULL, "
    "CardNo VARCHAR(50), EmpNo VARCHAR(50), RecordTime TIMESTAMP, Flag INTEGER, "
    "CollectedAt TIMESTAMP, CollectedBy VARCHAR(255), Series INTEGER NOT NULL DEFAULT 0)",
    // Records the host could not read, as they came (their 15 bytes in hex).
    "CREATE TABLE IF NOT EXISTS MealRecordRaw (MachAddr INTEGER NOT NULL, RecordNo BIGINT NOT "
    "NULL, RawBytes VARCHAR(30) NOT NULL, CollectedAt TIMESTAMP, CollectedBy VARCHAR(255), "
    "UNIQUE (MachAddr, RecordNo, RawBytes))",
    // The outcome of every routine step (collect, clock, names) on every terminal, newest last:
    // StepAt is when it ended, StepBy who ran it, Ok 1 when it succeeded, Station on which
    // workstation, Fault the kind of fault that stopped it by name ("two-units").
    "CREATE TABLE IF NOT EXISTS SiteStep (MachAddr INTEGER NOT NULL, Step VARCHAR(20) NOT NULL, "
    "StepAt TIMESTAMP NOT NULL, StepBy VARCHAR(255), Result VARCHAR(255), Ok INTEGER NOT NULL, "
    "Station VARCHAR(255), Fault VARCHAR(20))",
    "CREATE INDEX IF NOT EXISTS SiteStepLatest ON SiteStep (MachAddr, Step, StepAt)",
    // The workstation that works each terminal; a terminal without a row is worked by any.
    "CREATE TABLE IF NOT EXISTS TerminalStation (MachAddr INTEGER PRIMARY KEY, "
    "Station VARCHAR(255) NOT NULL)",
    // The operators who may sign in. A file database keeps each one's Argon2id password hash
    // (empty: the first administrator has still to choose one); a server keeps the passwords of
    // its roles itself and leaves the column empty.
    "CREATE TABLE IF NOT EXISTS Operators (Name VARCHAR(255) PRIMARY KEY, "
    "PasswordHash VARCHAR(255), Disabled INTEGER NOT NULL DEFAULT 0)",
    // The employees' names, by the employee number of CardMapping; those of the site's register
    // have a department, the day they start and the day they leave (yyyy-MM-dd texts).
    "CREATE TABLE IF NOT EXISTS Employees (EmpNo VARCHAR(50) PRIMARY KEY, Name VARCHAR(100), "
    "Department VARCHAR(100), StartDay VARCHAR(10), LeaveDay VARCHAR(10))",
    // The web view's API tokens: a SHA-256 hash of each token (never the token) and what it
    // may read.
    "CREATE TABLE IF NOT EXISTS WebToken (Name VARCHAR(64) NOT NULL PRIMARY KEY, "
    "Hash VARCHAR(64) NOT NULL, Rights VARCHAR(255), Created VARCHAR(20))",
    // A terminal's card is found without reading every card of the site.
    "CREATE INDEX IF NOT EXISTS CardMappingCard ON CardMapping (MachAddr, CardNo)",
    // Records read but not stored, kept for a hand: Reason 1, another unit answers to the
    // terminal's number (its records are in MealRecord under the same numbers). The unit was
    // not cleared; each record is kept once.
    "CREATE TABLE IF NOT EXISTS MealRecordHeld (MachAddr INTEGER NOT NULL, RecordNo BIGINT NOT "
    "NULL, CardNo VARCHAR(50), RecordTime TIMESTAMP, Flag INTEGER, CollectedAt TIMESTAMP, "
    "CollectedBy VARCHAR(255), Reason INTEGER NOT NULL, UNIQUE (MachAddr, RecordNo, CardNo, "
    "RecordTime))",
    // The departments, and the terminal groups (MachineInfo.Ver) each one's people may use: a
    // department without a row uses every terminal.
    "CREATE TABLE IF NOT EXISTS Departments (Name VARCHAR(100) PRIMARY KEY)",
    "CREATE TABLE IF NOT EXISTS DepartmentGroup (Department VARCHAR(100) NOT NULL, "
    "TerminalGroup VARCHAR(255) NOT NULL, PRIMARY KEY (Department, TerminalGroup))",
    // A card's life with one employee: from a day to its last day (none: open), in a state
    // (0 in use, 1 lost, 2 replaced, 3 returned).
    "CREATE TABLE IF NOT EXISTS EmployeeCard (CardNo VARCHAR(50) NOT NULL, EmpNo VARCHAR(50) "
    "NOT NULL, FromDay VARCHAR(10) NOT NULL, LastDay VARCHAR(10), State INTEGER NOT NULL "
    "DEFAULT 0)",
    "CREATE INDEX IF NOT EXISTS EmployeeCardCard ON EmployeeCard (CardNo, State)",
    "CREATE INDEX IF NOT EXISTS EmployeeCardEmployee ON EmployeeCard (EmpNo)",
    // One employee's rows of the name lists are found without reading every card.
    "CREATE INDEX IF NOT EXISTS CardMappingEmployee ON CardMapping (EmpNo)",
    // The month's files the nightly run made: once per month.
    "CREATE TABLE IF NOT EXISTS MonthFiles (Month VARCHAR(7) PRIMARY KEY, MadeAt TIMESTAMP NOT "
    "NULL, Workbook VARCHAR(1000), Payroll VARCHAR(1000))",
};

// After an older MealRecord got its series.
const char* const kAfterTables[] = {
    "CREATE INDEX IF NOT EXISTS MealRecordTime ON MealRecord (RecordTime)",
    "CREATE UNIQUE INDEX IF NOT EXISTS MealRecordKey ON MealRecord (MachAddr, Series, RecordNo)",
};

// The operation log's indexes, each ending with the write order so that a page of the log
// viewer (newest first, of all users or of one) and the newest entry of each action and object
// (a terminal's last collection) are read from the index's end: SQLite's indexes end with the
// rowid of their own, PostgreSQL's are given the Seq.
struct LogIndex {
    const char* sqlite;
    const char* postgres;
};
const LogIndex kLogIndexes[] = {
    {"CREATE INDEX IF NOT EXISTS CtrlLogTime ON CtrlLog (TimeA)",
     "CREATE INDEX IF NOT EXISTS CtrlLogTime ON CtrlLog (TimeA, Seq)"},
    {"CREATE INDEX IF NOT EXISTS CtrlLogUserTime ON CtrlLog (UserA, TimeA)",
     "CREATE INDEX IF NOT EXISTS CtrlLogUserTime ON CtrlLog (UserA, TimeA, Seq)"},
    {"CREATE INDEX IF NOT EXISTS CtrlLogLatest ON CtrlLog (ActionA, ObjectA)",
     "CREATE INDEX IF NOT EXISTS CtrlLogLatest ON CtrlLog (ActionA, ObjectA, Seq)"},
};

const char* const kDemoRows[] = {
    "INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc) "
    "VALUES (1, '1', '*', 'A', '一楼', '6429', '计次')",
    "INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc) "
    "VALUES (2, '1', '*', 'B', '一楼', '6429', '考勤')",
    "INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc) "
    "VALUES (3, '1', '127.0.0.1', 'C', '二楼', '6429', '进出')",
    "INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc) "
    "VALUES (4, '2', '*', 'D', '二楼', '3000', '考勤')",
    "INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES ('00010001', 'E001', 1)",
    "INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES ('00010002', 'E002', 1)",
    "INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES ('00010003', 'E003', 2)",
    "INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES ('00010004', 'E004', 4)",
    // the demo's operators sign in without a password (the demo signs them in unasked)
    "INSERT INTO Operators (Name, PasswordHash, Disabled) SELECT 'admin', NULL, 0 WHERE NOT EXISTS "
    "(SELECT 1 FROM Operators WHERE Name = 'admin')",
    "INSERT INTO Operators (Name, PasswordHash, Disabled) SELECT 'guest', NULL, 0 WHERE NOT EXISTS "
    "(SELECT 1 FROM Operators WHERE Name = 'guest')",
    "INSERT INTO UserGrants (UserName, FunctionName) VALUES ('admin', '*')",
    "INSERT INTO UserGrants (UserName, FunctionName) VALUES ('guest', '就餐机管理.通讯测试')",
    "INSERT INTO UserGrants (UserName, FunctionName) VALUES ('guest', '就餐机管理.日期时间设置')",
    "INSERT INTO UserGrants (UserName, FunctionName) VALUES ('guest', '就餐机管理.通訊測試')",
    "INSERT INTO UserGrants (UserName, FunctionName) VALUES ('guest', '就餐机管理.日期時間設置')",
    // guest may collect, but not clear the terminals afterwards
    "INSERT INTO UserGrants (UserName, FunctionName) VALUES ('guest', '采集数据')",
};

bool machineInfoEmpty(Connection& cn) {
    if (auto* sql = dynamic_cast<store::SqlConnection*>(&cn)) {
        const auto rows = sql->queryBound(QStringLiteral("SELECT COUNT(*) FROM MachineInfo"));
        return rows.isEmpty() || rows.first().value(0).toLongLong() == 0;
    }
    return false;
}

// A MealRecord of before the series: its key (MachAddr, RecordNo) becomes (MachAddr, Series,
// RecordNo). SQLite cannot drop a table's key, so the table is copied into a new one.
void addMealRecordSeries(Connection& cn) {
    auto* sql = dynamic_cast<store::SqlConnection*>(&cn);
    const bool postgres = sql && sql->backend() == store::BackendSettings::Kind::Postgres;
    if (!sql || (!postgres && sql->backend() != store::BackendSettings::Kind::Sqlite))
        return;
    const auto has = sql->queryBound(
        postgres ? QStringLiteral("SELECT COUNT(*) FROM information_schema.columns WHERE "
                                  "table_schema = current_schema() AND table_name = 'mealrecord' "
                                  "AND column_name = 'series'")
                 : QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('MealRecord') WHERE "
                                  "name = 'Series'"));
    if (has.isEmpty() || has.first().value(0).toInt() > 0)
        return;
    if (postgres) {
        cn.Execute(QStringLiteral("ALTER TABLE MealRecord ADD COLUMN Series INTEGER NOT NULL "
                                  "DEFAULT 0"),
                   -1);
        cn.Execute(QStringLiteral("ALTER TABLE MealRecord DROP CONSTRAINT IF EXISTS "
                                  "mealrecord_machaddr_recordno_key"),
                   -1);
        return;
    }
    const QString columns = QStringLiteral(
        "MachAddr, RecordNo, CardNo, EmpNo, RecordTime, Flag, CollectedAt, CollectedBy");
    cn.BeginTrans();
    try {
        cn.Execute(QStringLiteral("ALTER TABLE MealRecord RENAME TO MealRecordOld"), -1);
        cn.Execute(QStringLiteral("DROP INDEX IF EXISTS MealRecordTime"), -1);
        cn.Execute(QString::fromUtf8(kTables[5]), -1); // MealRecord as it is now
        cn.Execute(
            QStringLiteral("INSERT INTO MealRecord (%1) SELECT %1 FROM MealRecordOld").arg(columns),
            -1);
        cn.Execute(QStringLiteral("DROP TABLE MealRecordOld"), -1);
        cn.CommitTrans();
    } catch (...) {
        cn.RollbackTrans();
        throw;
    }
}

// The status takes a terminal's newest step and log entry as the one written last, whatever
// time it carries (a computer clock that was wrong once may have dated a row in the future).
// SQLite numbers rows in that order already (rowid); PostgreSQL's tables get a serial Seq.
void addWriteOrder(Connection& cn) {
    auto* sql = dynamic_cast<store::SqlConnection*>(&cn);
    if (!sql || sql->engine() != store::SqlConnection::Engine::Postgres)
        return;
    for (const char* table : {"ctrllog", "sitestep"}) {
        const auto has = sql->queryBound(
            QStringLiteral("SELECT COUNT(*) FROM information_schema.columns WHERE table_schema = "
                           "current_schema() AND table_name = ? AND column_name = 'seq'"),
            {QString::fromLatin1(table)});
        if (!has.isEmpty() && has.first().value(0).toInt() == 0)
            cn.Execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS Seq BIGSERIAL")
                           .arg(QString::fromLatin1(table)),
                       -1);
    }
}

// Columns added to tables made before them: the workstation of the log and the routine's
// steps, the fault of a step, the register's columns of Employees. Tables on other engines are left
// as they are; the writers do without the columns there.
const struct {
    const char* table;
    const char* column;
    const char* type;
} kAddedColumns[] = {
    {"CtrlLog", "Station", "VARCHAR(255)"},   {"SiteStep", "Station", "VARCHAR(255)"},
    {"SiteStep", "Fault", "VARCHAR(20)"},     {"Employees", "Department", "VARCHAR(100)"},
    {"Employees", "StartDay", "VARCHAR(10)"}, {"Employees", "LeaveDay", "VARCHAR(10)"},
};

void addMissingColumns(Connection& cn) {
    auto* sql = dynamic_cast<store::SqlConnection*>(&cn);
    if (!sql || sql->engine() == store::SqlConnection::Engine::Other)
        return;
    const bool postgres = sql->engine() == store::SqlConnection::Engine::Postgres;
    for (const auto& added : kAddedColumns) {
        const QString name = QString::fromLatin1(added.table);
        const QString column = QString::fromLatin1(added.column);
        const auto has = sql->queryBound(
            postgres ? QStringLiteral("SELECT COUNT(*) FROM information_schema.columns WHERE "
                                      "table_schema = current_schema() AND table_name = ? AND "
                                      "column_name = ?")
                     : QStringLiteral("SELECT COUNT(*) FROM pragma_table_info(?) WHERE name = ?"),
            {postgres ? name.toLower() : name, postgres ? column.toLower() : column});
        if (!has.isEmpty() && has.first().value(0).toInt() == 0)
            cn.Execute(QStringLiteral("ALTER TABLE %1 ADD COLUMN %2 %3")
                           .arg(name, column, QString::fromLatin1(added.type)),
                       -1);
    }
}

// PostgreSQL answers every CREATE ... IF NOT EXISTS of a table that is there with a NOTICE,
// which its client library prints on stderr (and a nightly job mails); the schema is made with
// notices held back, and the session's level restored afterwards.
void createTables(Connection& cn) {
    auto* sql = dynamic_cast<store::SqlConnection*>(&cn);
    const bool postgres = sql && sql->engine() == store::SqlConnection::Engine::Postgres;
    if (postgres)
        cn.Execute(QStringLiteral("SET client_min_messages TO WARNING"), -1);
    try {
        for (const char* text : kTables)
            cn.Execute(QString::fromUtf8(text), -1);
        addMealRecordSeries(cn);
        addWriteOrder(cn);
        addMissingColumns(cn);
        for (const char* text : kAfterTables)
            cn.Execute(QString::fromUtf8(text), -1);
        for (const LogIndex& index : kLogIndexes)
            cn.Execute(QString::fromUtf8(postgres ? index.postgres : index.sqlite), -1);
    } catch (...) {
        if (postgres) {
            try {
                cn.Execute(QStringLiteral("RESET client_min_messages"), -1);
            } catch (...) {
            }
        }
        throw;
    }
    if (postgres)
        cn.Execute(QStringLiteral("RESET client_min_messages"), -1);
}

} // namespace

QString writeOrderColumn(const store::SqlConnection& cn) {
    switch (cn.engine()) {
    case store::SqlConnection::Engine::Sqlite:
        return QStringLiteral("rowid");
    case store::SqlConnection::Engine::Postgres:
        return QStringLiteral("Seq");
    case store::SqlConnection::Engine::Other:
        break;
    }
    return QString();
}

QStringList missingRegisterTables(store::SqlConnection& cn) {
    QStringList missing;
    const char* const tables[] = {"MachineInfo", "CardMapping", "CtrlLog"};
    if (cn.engine() == store::SqlConnection::Engine::Postgres) { // one look at the catalogue
        const QVariantList found =
            cn.queryBound(QStringLiteral("SELECT to_regclass('machineinfo'), "
                                         "to_regclass('cardmapping'), to_regclass('ctrllog')"))
                .value(0);
        for (int i = 0; i < 3; ++i)
            if (found.value(i).isNull())
                missing << QString::fromLatin1(tables[i]);
        return missing;
    }
    for (const char* table : tables) {
        try {
            cn.queryBound(QStringLiteral("SELECT 1 FROM %1 WHERE 1 = 0").arg(QLatin1String(table)));
        } catch (const Error& e) {
            // A file that went or a connection that cannot be had is that failure, not this.
            if (e.number() != store::dberr::CommandFailed)
                throw;
            missing << QString::fromLatin1(table);
        }
    }
    return missing;
}

void requireRegister(store::SqlConnection& cn) {
    const QStringList missing = missingRegisterTables(cn);
    if (!missing.isEmpty())
        throw Error(store::dberr::NoTable,
                    QStringLiteral("the database has no table %1: it is not a host database "
                                   "with a register of terminals")
                        .arg(missing.join(QStringLiteral(", "))));
}

// An operator's session on a server may not make tables: the schema is its owner's.
bool makesTables(store::SqlConnection& cn) {
    if (cn.engine() != store::SqlConnection::Engine::Postgres)
        return true;
    const auto rows =
        cn.queryBound(QStringLiteral("SELECT has_schema_privilege(current_schema(), 'CREATE')"));
    return !rows.isEmpty() && rows.first().value(0).toBool();
}

// The schema's operators: a file's first administrator, a server's rights.
void secureSchema(Connection& cn) {
    if (auto* sql = dynamic_cast<store::SqlConnection*>(&cn)) {
        operators::addFirstAdministrator(*sql);
        operators::secureServerSchema(*sql);
    }
}

namespace {

// Raised by hand whenever addMealRecordSeries, addWriteOrder or addStationColumns change what
// they do: part of the schema's mark with the statements' texts.
constexpr int kSchemaRevision = 1;

// The mark a server schema made complete by this release carries on MachineInfo: a hash of
// every statement that makes it, so that a release that adds a table or an index completes the
// schema again.
QString schemaMark() {
    QByteArray all = QByteArray::number(kSchemaRevision);
    for (const char* text : kTables)
        all += text;
    for (const char* text : kAfterTables)
        all += text;
    for (const LogIndex& index : kLogIndexes)
        all += index.postgres;
    return QStringLiteral("brackwater schema %1")
        .arg(QString::fromLatin1(
            QCryptographicHash::hash(all, QCryptographicHash::Sha256).toHex().left(16)));
}

} // namespace

void completeHostSchema(store::SqlConnection& cn) {
    requireRegister(cn);
    if (!makesTables(cn))
        return;
    // A server schema this release made complete is left as it is: one look instead of a
    // statement for every table and index at every program's start.
    const bool server = cn.engine() == store::SqlConnection::Engine::Postgres;
    const QString mark = schemaMark();
    if (server && cn.queryBound(QStringLiteral("SELECT obj_description(to_regclass('machineinfo'), "
                                               "'pg_class')"))
                          .value(0)
                          .value(0)
                          .toString() == mark) {
        secureSchema(cn);
        return;
    }
    createTables(cn);
    secureSchema(cn);
    if (server)
        cn.Execute(QStringLiteral("COMMENT ON TABLE MachineInfo IS '%1'").arg(mark), -1);
}

void createHostSchema(Connection& cn, bool withDemoData) {
    createTables(cn);
    secureSchema(cn); // the first administrator before the demo's operators
    if (withDemoData && machineInfoEmpty(cn)) {
        cn.BeginTrans();
        try {
            for (const char* sql : kDemoRows)
                cn.Execute(QString::fromUtf8(sql), -1);
            cn.CommitTrans();
        } catch (...) {
            cn.RollbackTrans();
            throw;
        }
        secureSchema(cn); // the demo operators' rights on a server
    }
}

namespace {

// The tables that hold what a site has done: terminals, cards, employees, records and the log.
constexpr const char* kSiteDataTables[] = {"MachineInfo", "CardMapping", "Employees", "MealRecord",
                                           "CtrlLog"};

// The names of the tables (or of a table's columns) of schema `db` of cn.
QStringList namesIn(store::SqlConnection& cn, const QString& db, const QString& table = {}) {
    const QString sql =
        table.isEmpty()
            ? QStringLiteral("SELECT name FROM %1.sqlite_master WHERE type = 'table' AND name "
                             "NOT LIKE 'sqlite%'")
                  .arg(db)
            : QStringLiteral("SELECT name FROM pragma_table_info(?, '%1')").arg(db);
    QStringList names;
    for (const QVariantList& row :
         cn.queryBound(sql, table.isEmpty() ? QVariantList{} : QVariantList{table}))
        names << row.value(0).toString();
    return names;
}

// Whether schema `db` of cn holds a row of the site's data.
bool holdsSiteData(store::SqlConnection& cn, const QString& db) {
    const QStringList tables = namesIn(cn, db);
    for (const char* table : kSiteDataTables)
        if (tables.contains(QLatin1String(table), Qt::CaseInsensitive) &&
            !cn.queryBound(QStringLiteral("SELECT 1 FROM %1.%2 LIMIT 1").arg(db, table)).isEmpty())
            return true;
    return false;
}

// The SQL text of a name in double quotes.
QString quoted(const QString& name) {
    return u'"' + QString(name).replace(u'"', QStringLiteral("\"\"")) + u'"';
}

} // namespace

bool holdsSiteData(store::SqlConnection& cn) {
    return holdsSiteData(cn, QStringLiteral("main"));
}

bool holdsSiteData(const QString& file) {
    store::SqlConnection cn(QStringLiteral("sqlite:") + file);
    return cn.engine() == store::SqlConnection::Engine::Sqlite &&
           missingRegisterTables(cn).isEmpty() && holdsSiteData(cn, QStringLiteral("main"));
}

void moveDatabaseInto(store::SqlConnection& cn, const QString& from) {
    cn.executeBound(QStringLiteral("ATTACH DATABASE ? AS bwfrom"), {from});
    try {
        const QStringList theirs = namesIn(cn, QStringLiteral("bwfrom"));
        cn.inOneTransaction([&] {
            for (const QString& table : namesIn(cn, QStringLiteral("main"))) {
                if (!theirs.contains(table, Qt::CaseInsensitive))
                    continue;
                // The columns both have: an older database lacks some, which keep their defaults.
                const QStringList from = namesIn(cn, QStringLiteral("bwfrom"), table);
                QStringList columns;
                for (const QString& column : namesIn(cn, QStringLiteral("main"), table))
                    if (from.contains(column, Qt::CaseInsensitive))
                        columns << quoted(column);
                const QString list = columns.join(QStringLiteral(", "));
                cn.Execute(QStringLiteral("DELETE FROM main.%1").arg(quoted(table)));
                cn.Execute(QStringLiteral("INSERT INTO main.%1 (%2) SELECT %2 FROM bwfrom.%1 "
                                          "ORDER BY rowid")
                               .arg(quoted(table), list));
            }
        });
    } catch (...) {
        cn.Execute(QStringLiteral("DETACH DATABASE bwfrom"));
        throw;
    }
    cn.Execute(QStringLiteral("DETACH DATABASE bwfrom"));
}

} // namespace bw::host

#include "backends.h"
#include "platform/convert.h"
#include "store/sql_recordset.h"
#include "store/statements.h"

#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace bw;
using namespace bw::store;
using bw::test::OnBackend;

namespace {

template <class B> class Recordsets : public OnBackend<B> {
protected:
    std::shared_ptr<SqlRecordset> open(const QString& sql) {
        return std::make_shared<SqlRecordset>(this->cn, sql);
    }
    void addTerminal(double addr, const QString& comx, const QString& ip, const QString& team,
                     const QString& ver, const QString& model, const QString& desc) {
        this->cn->executeBound(
            "INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc) "
            "VALUES (?, ?, ?, ?, ?, ?, ?)",
            {addr, comx, ip, team, ver, model, desc});
    }
};
TYPED_TEST_SUITE(Recordsets, bw::test::Backends, bw::test::BackendNames);

TYPED_TEST(Recordsets, RecordCountIsTrueAndRowsWalkInOrder) {
    for (int a : {9, 3, 5, 1})
        this->addTerminal(a, "1", "*", "T", "G", "6429", "x");
    this->addTerminal(4, "1", "*", "T", "G", "3000", "x");
    auto rs = this->open(terminalsOfModel());
    EXPECT_EQ(rs->State(), Recordset::adStateOpen);
    EXPECT_EQ(rs->RecordCount(), 4);
    QStringList order;
    for (; !rs->Eof(); rs->MoveNext())
        order << CStr(rs->field("MachAddr"));
    EXPECT_EQ(order, QStringList({"1", "3", "5", "9"}));
    EXPECT_THROW(rs->MoveNext(), Error);
    EXPECT_EQ(this->open(terminalByAddress("77"))->RecordCount(), 0);
    EXPECT_TRUE(this->open(terminalByAddress("77"))->Eof());
}

TYPED_TEST(Recordsets, QuotedTextFindsTheRowSavedFromANumber) {
    auto rs = this->open(terminalByAddress("5"));
    ASSERT_EQ(rs->RecordCount(), 0);
    rs->AddNew();
    rs->setField("MachAddr", 5.0);
    rs->setField("ComX", "3");
    rs->setField("MachVer", "6429");
    rs->UpdateBatch(3);
    rs->Close();

    auto found = this->open(terminalByAddress("5"));
    ASSERT_EQ(found->RecordCount(), 1);
    EXPECT_EQ(CStr(found->field("MachAddr")), "5");
    EXPECT_EQ(found->field("COMX").toString(), "3");
    EXPECT_EQ(this->open(terminalByAddress("12.5"))->RecordCount(), 0);

    // Fractions, too: 12.5 is found by '12.5'.
    this->addTerminal(12.5, "1", "*", "", "", "6429", "");
    auto frac = this->open(terminalByAddress("12.5"));
    ASSERT_EQ(frac->RecordCount(), 1);
    EXPECT_EQ(CStr(frac->field("machaddr")), "12.5");
    // And the deletion statements compare the same way.
    this->cn->Execute(deleteTerminal("5"));
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 1);
}

TYPED_TEST(Recordsets, FieldsByNameIgnoringCase) {
    this->addTerminal(7, "2", "*", "Hall", "G1", "6429", "x");
    auto rs = this->open(terminalByAddress("7"));
    EXPECT_EQ(rs->field("team").toString(), "Hall");
    EXPECT_EQ(rs->field("TEAM").toString(), "Hall");
    EXPECT_EQ(rs->field("Team").toString(), "Hall");
    EXPECT_EQ(rs->field("comx").toString(), rs->field("ComX").toString());
    try {
        rs->field("NoSuchColumn");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), dberr::ItemNotFound);
    }
    rs->MoveNext();
    EXPECT_THROW(rs->field("Team"), Error); // at EOF
}

TYPED_TEST(Recordsets, NullReadsAsTypedNull) {
    this->cn->Execute("INSERT INTO MachineInfo (MachAddr, MachVer) VALUES (8, '6429')");
    auto rs = this->open(terminalByAddress("8"));
    const QVariant team = rs->field("Team");
    EXPECT_TRUE(team.isValid());
    EXPECT_TRUE(team.isNull());
    EXPECT_EQ(TextOf(team), "");
    try {
        CStr(team);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::InvalidUseOfNull);
        EXPECT_EQ(e.description(), "Invalid use of Null");
    }
    EXPECT_FALSE(rs->field("MachVer").isNull());
}

TYPED_TEST(Recordsets, CloseEndsTheRecordset) {
    auto rs = this->open(terminalsOfModel());
    rs->Close();
    EXPECT_EQ(rs->State(), Recordset::adStateClosed);
    EXPECT_THROW(rs->RecordCount(), Error);
    EXPECT_THROW(rs->Eof(), Error);
    EXPECT_THROW(rs->AddNew(), Error);
}

TYPED_TEST(Recordsets, RefusedQueryRaisesTheDriversError) {
    try {
        this->open("Select * From NoSuchTable where x='1'");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), dberr::CommandFailed);
        EXPECT_TRUE(e.description().contains("nosuchtable", Qt::CaseInsensitive))
            << e.description().toStdString();
    }
}

TYPED_TEST(Recordsets, AddNewWritesTheRow) {
    auto rs = this->open(terminalByAddress("5"));
    rs->AddNew();
    EXPECT_EQ(rs->RecordCount(), 1);
    rs->setField("MachAddr", 5.0);
    rs->setField("ComX", "3");
    rs->setField("IP", "*");
    rs->setField("Team", "A");
    rs->setField("Ver", "B");
    rs->setField("MachVer", "6429");
    rs->setField("MachDesc", QString::fromUtf8("计次"));
    rs->UpdateBatch(3);
    rs->Close();
    const auto rows = this->cn->queryBound(
        "SELECT MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc FROM MachineInfo");
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(CStr(rows[0][0]), "5");
    EXPECT_EQ(rows[0][1].toString(), "3");
    EXPECT_EQ(rows[0][2].toString(), "*");
    EXPECT_EQ(rows[0][3].toString(), "A");
    EXPECT_EQ(rows[0][4].toString(), "B");
    EXPECT_EQ(rows[0][5].toString(), "6429");
    EXPECT_EQ(rows[0][6].toString(), QString::fromUtf8("计次"));
}

TYPED_TEST(Recordsets, EditChangesOnlyThatRow) {
    this->addTerminal(5, "3", "*", "A", "B", "6429", "x");
    this->addTerminal(6, "4", "*", "A", "B", "6429", "x");
    auto rs = this->open(terminalByAddress("5"));
    ASSERT_EQ(rs->RecordCount(), 1);
    rs->setField("Team", "Kitchen");
    rs->setField("ComX", "1");
    rs->setField("IP", "192.168.0.10");
    rs->UpdateBatch(3);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 2);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE Team = 'Kitchen' AND "
                          "IP = '192.168.0.10' AND ComX = '1' AND MachAddr = 5"),
              1);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE Team = 'A'"), 1);
    // A second edit through the same recordset finds the row as it is now.
    rs->setField("Team", "Hall");
    rs->UpdateBatch(3);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE Team = 'Hall'"), 1);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 2);
}

TYPED_TEST(Recordsets, EditFindsARowHoldingNulls) {
    this->cn->Execute("INSERT INTO MachineInfo (MachAddr, MachVer) VALUES (9, '3000')");
    auto rs = this->open(terminalByAddress("9"));
    rs->setField("MachVer", "6429");
    rs->setField("Team", "T");
    rs->UpdateBatch(3);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE MachVer = '6429' AND Team = 'T' "
                          "AND IP IS NULL"),
              1);
}

TYPED_TEST(Recordsets, OnlyOneOfTwoIdenticalRowsIsWritten) {
    this->addTerminal(7, "1", "*", "A", "B", "3000", "x");
    this->addTerminal(7, "1", "*", "A", "B", "3000", "x");
    auto rs = this->open(terminalByAddress("7"));
    ASSERT_EQ(rs->RecordCount(), 2);
    rs->setField("MachVer", "6429");
    rs->UpdateBatch(3);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE MachVer = '6429'"), 1);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE MachVer = '3000'"), 1);
}

TYPED_TEST(Recordsets, RowChangedByAnotherUserIsNotOverwritten) {
    this->addTerminal(5, "3", "*", "A", "B", "6429", "x");
    auto rs = this->open(terminalByAddress("5"));
    auto otherStation = this->other();
    otherStation->Execute("UPDATE MachineInfo SET Team = 'Theirs' WHERE MachAddr = 5");
    rs->setField("Team", "Mine");
    rs->setField("Ver", "C");
    try {
        rs->UpdateBatch(3);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), dberr::RowChanged);
        EXPECT_TRUE(e.description().contains("another user")) << e.description().toStdString();
    }
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE Team = 'Theirs' AND Ver = 'B'"),
              1);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 1);
    // The connection is usable afterwards (no transaction left open).
    this->cn->Execute("UPDATE MachineInfo SET Ver = 'D'");
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE Ver = 'D'"), 1);
    EXPECT_EQ(otherStation->queryBound("SELECT Ver FROM MachineInfo").value(0).value(0).toString(),
              "D");
}

TYPED_TEST(Recordsets, RowRemovedByAnotherUserIsNotRecreated) {
    this->addTerminal(5, "3", "*", "A", "B", "6429", "x");
    auto rs = this->open(terminalByAddress("5"));
    this->other()->Execute(deleteTerminal("5"));
    rs->setField("Team", "Mine");
    EXPECT_THROW(rs->UpdateBatch(3), Error);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 0);
}

TYPED_TEST(Recordsets, NothingWrittenWhenOneRowOfTheBatchFails) {
    this->addTerminal(5, "3", "*", "A", "B", "6429", "x");
    this->addTerminal(6, "3", "*", "A", "B", "6429", "x");
    auto rs = this->open(terminalsOfModel());
    ASSERT_EQ(rs->RecordCount(), 2);
    rs->setField("Team", "First"); // row 5
    rs->MoveNext();
    rs->setField("Team", "Second"); // row 6, changed meanwhile by someone else
    rs->AddNew();
    rs->setField("MachAddr", 7.0);
    rs->setField("MachVer", "6429");
    this->other()->Execute("UPDATE MachineInfo SET Ver = 'Z' WHERE MachAddr = 6");
    EXPECT_THROW(rs->UpdateBatch(3), Error);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE Team = 'A'"), 2);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 2);
}

TYPED_TEST(Recordsets, AdditionRefusedWhenAnotherUserAddedTheSameTerminal) {
    auto mine = this->open(terminalByAddress("5"));
    ASSERT_EQ(mine->RecordCount(), 0);
    auto theirs = std::make_shared<SqlRecordset>(this->other(), terminalByAddress("5"));
    theirs->AddNew();
    theirs->setField("MachAddr", 5.0);
    theirs->setField("Team", "Theirs");
    theirs->UpdateBatch(3);

    mine->AddNew();
    mine->setField("MachAddr", 5.0);
    mine->setField("Team", "Mine");
    EXPECT_THROW(mine->UpdateBatch(3), Error);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 1);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE Team = 'Theirs'"), 1);
}

TYPED_TEST(Recordsets, QueryOfSeveralTablesCannotBeWritten) {
    this->addTerminal(5, "3", "*", "A", "B", "6429", "x");
    auto rs = this->open(groupsOfModel());
    EXPECT_EQ(rs->RecordCount(), 1);
    EXPECT_EQ(rs->field("ver").toString(), "B");
    rs->setField("Ver", "C");
    try {
        rs->UpdateBatch(3);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), dberr::NotUpdatable);
    }
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo WHERE Ver = 'B'"), 1);
}

TYPED_TEST(Recordsets, UpdateBatchInsideTheCallersTransaction) {
    this->cn->BeginTrans();
    auto rs = this->open(terminalByAddress("5"));
    rs->AddNew();
    rs->setField("MachAddr", 5.0);
    rs->UpdateBatch(3);
    this->cn->RollbackTrans();
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 0);
}

TYPED_TEST(Recordsets, TableRowsCarryTheDatabasesRowId) {
    this->addTerminal(5, "3", "*", "A", "B", "6429", "x");
    auto rs = this->open(terminalByAddress("5"));
    EXPECT_TRUE(rs->hasRowIds());
    EXPECT_EQ(rs->tableName(), "MachineInfo");
    // The row id is not one of the columns.
    EXPECT_EQ(rs->columnNames().size(), 7);
    EXPECT_THROW(rs->field("bw_row_id_"), Error);
}

TYPED_TEST(Recordsets, ViewIsReadWithoutRowIdsEvenInATransaction) {
    this->addTerminal(5, "3", "*", "A", "B", "6429", "x");
    this->addTerminal(6, "3", "*", "A", "B", "6429", "x");
    this->cn->Execute("CREATE VIEW TerminalView AS SELECT * FROM MachineInfo");
    this->cn->BeginTrans();
    auto rs = this->open("select * from TerminalView where machaddr='5'");
    EXPECT_FALSE(rs->hasRowIds());
    EXPECT_EQ(rs->RecordCount(), 1);
    EXPECT_EQ(rs->field("Team").toString(), "A");
    // The transaction is still usable after the attempt with a row id.
    this->cn->Execute("INSERT INTO MachineInfo (MachAddr) VALUES (9)");
    this->cn->CommitTrans();
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 3);
}

template <class B> using Connections = Recordsets<B>;
TYPED_TEST_SUITE(Connections, bw::test::Backends, bw::test::BackendNames);

TYPED_TEST(Connections, ConnectionStringIsTheOneOpened) {
    EXPECT_EQ(this->cn->ConnectionString(), this->backend.connectionString);
    EXPECT_TRUE(this->cn->isOpen());
}

TYPED_TEST(Connections, ExecuteReleasesResultsAndRaisesDriverErrors) {
    this->cn->Execute("SELECT * FROM MachineInfo", -1); // a result, released unread
    this->cn->Execute("INSERT INTO MachineInfo (MachAddr) VALUES (1)", -1);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MachineInfo"), 1);
    try {
        this->cn->Execute("INSERT INTO NoSuchTable VALUES (1)");
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), dberr::CommandFailed);
        EXPECT_FALSE(e.description().isEmpty());
    }
}

TYPED_TEST(Connections, TransactionsCommitAndRollBack) {
    this->cn->BeginTrans();
    this->cn->Execute("INSERT INTO CardMapping (CardNo, MachAddr) VALUES ('c1', 7)");
    this->cn->RollbackTrans();
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM CardMapping"), 0);
    this->cn->BeginTrans();
    this->cn->Execute("INSERT INTO CardMapping (CardNo, MachAddr) VALUES ('c1', 7)");
    this->cn->Execute(backupCardMappings("7"));
    this->cn->Execute(deleteCardMappings("7"));
    this->cn->CommitTrans();
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM CardMapping"), 0);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM CardMappingTmp WHERE CardNo = 'c1'"), 1);
    EXPECT_THROW(this->cn->CommitTrans(), Error); // none open
}

// A commit is on the disk when it returns, whatever the server's default; an SQLite file on a
// local disk logs ahead, so a reader in the middle of its rows does not hold up a writer.
TYPED_TEST(Connections, CommitsReachTheDiskAndReadersDoNotBlockWriters) {
    const QString& name = this->backend.connectionString;
    if (this->cn->engine() == SqlConnection::Engine::Postgres && name.startsWith("postgres")) {
        auto off = SqlConnection::open(name + "&options=-csynchronous_commit%3Doff");
        EXPECT_EQ(off->queryBound("SELECT current_setting('synchronous_commit')").value(0).value(0),
                  "on");
    }
    if (this->cn->engine() != SqlConnection::Engine::Sqlite)
        return;
    EXPECT_EQ(this->count("PRAGMA synchronous"), 2); // FULL
    EXPECT_EQ(this->cn->queryBound("PRAGMA journal_mode").value(0).value(0), "wal");
    this->cn->Execute("INSERT INTO CardMapping (CardNo) VALUES ('1'), ('2')");
    QSqlQuery reading(this->cn->database());
    ASSERT_TRUE(reading.exec("SELECT CardNo FROM CardMapping") && reading.next());
    EXPECT_NO_THROW(this->other()->Execute("INSERT INTO CardMapping (CardNo) VALUES ('3')"));
}

TYPED_TEST(Connections, EachConnectionIsItsOwn) {
    auto a = this->other();
    auto b = this->other();
    EXPECT_NE(a->qtConnectionName(), b->qtConnectionName());
    a->BeginTrans();
    a->Execute("INSERT INTO CardMapping (CardNo, MachAddr) VALUES ('c2', 1)");
    a->CommitTrans();
    b.reset(); // closing one leaves the other working
    EXPECT_EQ(a->queryBound("SELECT COUNT(*) FROM CardMapping").value(0).value(0).toInt(), 1);
}

} // namespace

namespace {

// PostgreSQL's simple views can be written; rows are then found by their values alone.
class PostgresView : public OnBackend<bw::test::PostgresBackend> {};

TEST_F(PostgresView, EditThroughAViewFindsTheRowByItsValues) {
    cn->Execute("INSERT INTO MachineInfo (MachAddr, Team, MachVer) VALUES (5, 'A', '3000')");
    cn->Execute("INSERT INTO MachineInfo (MachAddr, Team, MachVer) VALUES (6, 'A', '3000')");
    cn->Execute("CREATE VIEW TerminalView AS SELECT * FROM MachineInfo");
    auto rs = std::make_shared<SqlRecordset>(cn, "select * from TerminalView where machaddr='5'");
    ASSERT_FALSE(rs->hasRowIds());
    rs->setField("MachVer", "6429");
    rs->UpdateBatch(3);
    EXPECT_EQ(count("SELECT COUNT(*) FROM MachineInfo WHERE MachVer = '6429' AND MachAddr = 5"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM MachineInfo WHERE MachVer = '3000'"), 1);
}

TEST_F(PostgresView, IdenticalRowsWithoutRowIdsAreRefused) {
    cn->Execute("INSERT INTO MachineInfo (MachAddr, Team) VALUES (5, 'A')");
    cn->Execute("INSERT INTO MachineInfo (MachAddr, Team) VALUES (5, 'A')");
    cn->Execute("CREATE VIEW TerminalView AS SELECT * FROM MachineInfo");
    auto rs = std::make_shared<SqlRecordset>(cn, "select * from TerminalView where machaddr='5'");
    rs->setField("Team", "B");
    EXPECT_THROW(rs->UpdateBatch(3), Error);
    EXPECT_EQ(count("SELECT COUNT(*) FROM MachineInfo WHERE Team = 'A'"), 2);
}

} // namespace

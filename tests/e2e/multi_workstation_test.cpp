// Several workstations, one database: two real workstation processes, each with the real
// window opened through ShowA, on one PostgreSQL database (BW_PG_CONN; every test in a schema
// of its own). They see each other's saves after a refresh; two saves of one terminal at the
// same moment leave one winner and an error box for the other, never a lost or doubled row;
// a deletion racing a save leaves the register and the card mappings consistent.

#include "e2e/multi_support.h"

#include "store/sql_connection.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <iostream>
#include <memory>

using bw::multi::Result;
using bw::multi::Script;
using bw::multi::SharedDatabase;

namespace {

// What the toolbar error box shows when a save lost against another workstation's save or
// deletion: the store's error number and its description.
const QString kConflictNumber = QString::number(bw::store::dberr::RowChanged) + QLatin1Char(':');
const QString kConflictWords = QStringLiteral("changed or deleted by another user");

bool isConflictBox(const QString& text) {
    return text.startsWith(kConflictNumber) && text.contains(kConflictWords);
}

std::string show(const QStringList& texts) {
    return texts.join(QStringLiteral(" | ")).toStdString();
}

// The entries of a recorded list with this terminal number.
QList<QStringList> entriesOf(const QList<QStringList>& rows, const QString& address) {
    QList<QStringList> found;
    for (const QStringList& r : rows)
        if (!r.isEmpty() && r.first() == address)
            found.append(r);
    return found;
}

// The place column of the one entry with this number; "<n entries>" otherwise.
QString placeIn(const QList<QStringList>& rows, const QString& address) {
    const auto found = entriesOf(rows, address);
    if (found.size() != 1)
        return QStringLiteral("<%1 entries>").arg(found.size());
    return found.first().value(3);
}

class MultiWorkstation : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("BW_PG_CONN"))
            GTEST_SKIP() << "BW_PG_CONN is not set (tools/pg-test-cluster.sh start DIR PORT "
                            "prints one)";
        db = std::make_unique<SharedDatabase>();
        ASSERT_TRUE(db->problem().isEmpty()) << db->problem().toStdString();
    }
    void TearDown() override { db.reset(); }

    // Runs both workstations; false (with the reason reported) when either did not get
    // through its script.
    bool run(const Script& a, const Script& b) {
        const QString problem = bw::multi::runWorkstations(db->connectionString(), a, b, ra, rb);
        EXPECT_TRUE(problem.isEmpty()) << problem.toStdString();
        EXPECT_TRUE(ra.loadBoxes().isEmpty()) << "A at load: " << show(ra.allBoxTexts());
        EXPECT_TRUE(rb.loadBoxes().isEmpty()) << "B at load: " << show(rb.allBoxTexts());
        return problem.isEmpty();
    }

    void insertTerminal(int address, const QString& place) {
        db->exec(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, "
                                "MachDesc) VALUES (%1, '2', '*', '%2', 'G', '6429', '考勤')")
                     .arg(address)
                     .arg(place));
    }

    qlonglong rowsOf(int address) {
        return db->count(
            QStringLiteral("SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = %1").arg(address));
    }
    QString placeOf(int address) {
        return db
            ->rows(QStringLiteral("SELECT Team FROM MachineInfo WHERE MachAddr = %1").arg(address))
            .value(0)
            .value(0)
            .toString();
    }

    std::unique_ptr<SharedDatabase> db;
    Result ra;
    Result rb;
};

TEST_F(MultiWorkstation, EachSeesTheOthersSavesAfterARefresh) {
    insertTerminal(5, QStringLiteral("old"));

    Script a;
    a.sync("start")
        .tool("new")
        .type("Txt_Machine", "20")
        .type("Cbo_COM", "COM2")
        .type("Cbo_Team", "一号食堂")
        .type("CmbGroup", "G1")
        .tool("Save", "a-save")
        .sync("a-saved")
        .sync("b-saved")
        .refresh("a-sees");
    Script b;
    b.sync("start")
        .list("b-before")
        .sync("a-saved")
        .list("b-stale")
        .refresh("b-sees")
        .select("20")
        .tool("edit")
        .type("Cbo_Team", "二号食堂")
        .tool("Save", "b-save")
        .sync("b-saved");
    ASSERT_TRUE(run(a, b));

    EXPECT_TRUE(ra.allBoxTexts().isEmpty()) << show(ra.allBoxTexts());
    EXPECT_TRUE(rb.allBoxTexts().isEmpty()) << show(rb.allBoxTexts());

    // B's list shows A's terminal only once it is reloaded.
    EXPECT_TRUE(entriesOf(rb.listRows("b-before"), "20").isEmpty());
    EXPECT_TRUE(entriesOf(rb.listRows("b-stale"), "20").isEmpty());
    const auto seenByB = entriesOf(rb.listRows("b-sees"), "20");
    ASSERT_EQ(seenByB.size(), 1);
    EXPECT_EQ(seenByB.first().value(1), QStringLiteral("2"));
    EXPECT_EQ(seenByB.first().value(3), QStringLiteral("一号食堂"));
    EXPECT_EQ(seenByB.first().value(4), QStringLiteral("G1"));
    EXPECT_EQ(entriesOf(rb.listRows("b-sees"), "5").size(), 1);

    // A sees B's change of the place after its own refresh.
    EXPECT_EQ(placeIn(ra.listRows("a-sees"), "20"), QStringLiteral("二号食堂"));

    EXPECT_EQ(rowsOf(20), 1);
    EXPECT_EQ(placeOf(20), QStringLiteral("二号食堂"));
    EXPECT_EQ(db->count("SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = 20 AND ComX = '2' AND "
                        "IP = '*' AND Ver = 'G1' AND MachVer = '6429'"),
              1);
    EXPECT_EQ(db->count("SELECT COUNT(*) FROM CtrlLog WHERE UserA = 'admin'"), 2);
}

// Both edit terminal 21 and click "save" together, round after round. The first rounds leave
// the timing to chance (one may even finish before the other reads); the last rounds hold
// both saves after the row was read, so both certainly write over the same version.
TEST_F(MultiWorkstation, SimultaneousEditsOfOneTerminalLeaveOneWinner) {
    insertTerminal(21, QStringLiteral("start"));
    constexpr int kRounds = 6;
    constexpr int kFirstHeld = 5;

    auto script = [&](const QString& role) {
        Script s;
        for (int r = 1; r <= kRounds; ++r) {
            const QString n = QString::number(r);
            s.refresh().select("21").tool("edit").type("Cbo_Team", role + "-" + n);
            if (r >= kFirstHeld)
                s.hold("hold" + n);
            s.go("save" + n)
                .tool("Save", "save" + n)
                .sync("saved" + n)
                .refresh("list" + n)
                .sync("listed" + n);
        }
        return s;
    };
    ASSERT_TRUE(run(script("A"), script("B")));

    int conflicts = 0;
    QString lastPlace;
    for (int r = 1; r <= kRounds; ++r) {
        SCOPED_TRACE(testing::Message() << "round " << r);
        const QString n = QString::number(r);
        const QStringList boxesA = ra.boxTexts("save" + n);
        const QStringList boxesB = rb.boxTexts("save" + n);
        for (const QString& t : boxesA + boxesB)
            EXPECT_TRUE(isConflictBox(t)) << t.toStdString();
        EXPECT_LE(boxesA.size(), 1) << show(boxesA);
        EXPECT_LE(boxesB.size(), 1) << show(boxesB);
        EXPECT_FALSE(!boxesA.isEmpty() && !boxesB.isEmpty()) << "both lost";
        if (r >= kFirstHeld) {
            EXPECT_EQ(boxesA.size() + boxesB.size(), 1) << "a held round has one loser";
        }
        conflicts += static_cast<int>(boxesA.size() + boxesB.size());

        // After the refresh both list terminal 21 once, with the winner's place.
        const QString placeA = placeIn(ra.listRows("list" + n), "21");
        const QString placeB = placeIn(rb.listRows("list" + n), "21");
        EXPECT_EQ(placeA, placeB);
        if (!boxesA.isEmpty()) {
            EXPECT_EQ(placeA, "B-" + n);
        } else if (!boxesB.isEmpty()) {
            EXPECT_EQ(placeA, "A-" + n);
        } else {
            EXPECT_TRUE(placeA == "A-" + n || placeA == "B-" + n) << placeA.toStdString();
        }
        lastPlace = placeA;
        std::cout << "round " << r << ": "
                  << (boxesA.isEmpty() ? (boxesB.isEmpty() ? "both saved in turn" : "A won")
                                       : "B won")
                  << ", place " << placeA.toStdString() << std::endl;
    }
    EXPECT_GE(conflicts, kRounds - kFirstHeld + 1);

    EXPECT_EQ(rowsOf(21), 1);
    EXPECT_EQ(placeOf(21), lastPlace);
    EXPECT_EQ(db->count("SELECT COUNT(*) FROM MachineInfo"), 1);
}

// A's panel shows terminal 23 while B changes it: A's later edit is refused, B's place stays.
TEST_F(MultiWorkstation, StalePanelDoesNotOverwriteAnotherWorkstationsChange) {
    insertTerminal(23, QStringLiteral("start"));
    Script a, b;
    a.refresh().select("23").sync("shown").sync("changed");
    a.tool("edit").type("Cbo_Team", "A").tool("Save", "a-save");
    b.sync("shown").refresh().select("23").tool("edit").type("Cbo_Team", "B");
    b.tool("Save").sync("changed");
    ASSERT_TRUE(run(a, b));
    ASSERT_EQ(ra.boxTexts("a-save").size(), 1);
    EXPECT_TRUE(isConflictBox(ra.boxTexts("a-save").first()));
    EXPECT_EQ(placeOf(23), QStringLiteral("B"));
}

// Both add terminal 22 at the same moment: one row 22, whoever wins.
TEST_F(MultiWorkstation, SimultaneousAdditionsOfOneTerminalLeaveOneRow) {
    constexpr int kRounds = 4;
    constexpr int kFirstHeld = 4;

    auto script = [&](const QString& role) {
        Script s;
        for (int r = 1; r <= kRounds; ++r) {
            const QString n = QString::number(r);
            if (role == QLatin1String("A"))
                s.sql("DELETE FROM MachineInfo WHERE MachAddr = 22");
            s.sync("clean" + n)
                .refresh()
                .tool("new")
                .type("Txt_Machine", "22")
                .type("Cbo_COM", "COM3")
                .type("Cbo_Team", role + "-" + n);
            if (r >= kFirstHeld)
                s.hold("hold" + n);
            s.go("add" + n).tool("Save", "add" + n).sync("added" + n).refresh("list" + n);
            if (role == QLatin1String("A"))
                s.query("rows" + n, "SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = 22");
            s.sync("listed" + n);
        }
        return s;
    };
    ASSERT_TRUE(run(script("A"), script("B")));

    for (int r = 1; r <= kRounds; ++r) {
        SCOPED_TRACE(testing::Message() << "round " << r);
        const QString n = QString::number(r);
        EXPECT_EQ(ra.value("rows" + n), QStringLiteral("1"));
        const QStringList boxesA = ra.boxTexts("add" + n);
        const QStringList boxesB = rb.boxTexts("add" + n);
        // The later of two additions finds the number stored, or loses the race to store it.
        for (const QString& t : boxesA + boxesB)
            EXPECT_TRUE(isConflictBox(t) || t == QStringLiteral("错误：\r机器号：22已经存在!"))
                << t.toStdString();
        EXPECT_FALSE(!boxesA.isEmpty() && !boxesB.isEmpty()) << "both lost";
        if (r >= kFirstHeld) {
            EXPECT_EQ(boxesA.size() + boxesB.size(), 1) << "a held round has one loser";
        }

        const QString placeA = placeIn(ra.listRows("list" + n), "22");
        EXPECT_EQ(placeA, placeIn(rb.listRows("list" + n), "22"));
        if (!boxesA.isEmpty()) {
            EXPECT_EQ(placeA, "B-" + n);
        } else if (!boxesB.isEmpty()) {
            EXPECT_EQ(placeA, "A-" + n);
        } else {
            EXPECT_TRUE(placeA == "A-" + n || placeA == "B-" + n) << placeA.toStdString();
        }
    }
    EXPECT_EQ(rowsOf(22), 1);
}

// A deletes terminal 23 (three card mappings) while B saves it. Whatever the order, the
// register ends either without 23 and with its mappings in the backup table, or with 23 as B
// saved it; no mapping is lost or copied twice. The last round holds B's save after it read
// the row until A's deletion is done: B must then get the error box.
TEST_F(MultiWorkstation, ADeletionRacingASaveLeavesAConsistentRegister) {
    constexpr int kRounds = 5;
    constexpr int kHeld = 5;
    db->exec("INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES ('C5', 'E5', 5)");
    db->exec("INSERT INTO CardMappingTmp (CardNo, EmpNo, MachAddr) VALUES ('T5', 'E5', 5)");
    insertTerminal(5, QStringLiteral("other"));

    Script a;
    Script b;
    for (int r = 1; r <= kRounds; ++r) {
        const QString n = QString::number(r);
        a.sql("DELETE FROM MachineInfo WHERE MachAddr = 23")
            .sql("DELETE FROM CardMapping WHERE MachAddr = 23")
            .sql("DELETE FROM CardMappingTmp WHERE MachAddr = 23")
            .sql("INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc) "
                 "VALUES (23, '4', '*', 'orig', 'G', '6429', '计次')")
            .sql("INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES ('C1', 'E1', 23), "
                 "('C2', 'E2', 23), ('C3', 'E3', 23)")
            .sync("setup" + n)
            .refresh()
            .select("23");
        b.sync("setup" + n).refresh().select("23").tool("edit").type("Cbo_Team", "B-" + n);
        if (r == kHeld) {
            b.hold("hold" + n);
            a.go("race" + n)
                .sync("hold" + n + "-read")
                .tool("dele", "dele" + n)
                .sync("hold" + n + "-go");
        } else {
            a.go("race" + n).tool("dele", "dele" + n);
        }
        b.go("race" + n).tool("Save", "save" + n);

        a.sync("raced" + n)
            .refresh("list" + n)
            .query("rows" + n, "SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = 23")
            .query("place" + n, "SELECT MAX(Team) FROM MachineInfo WHERE MachAddr = 23")
            .query("mapped" + n, "SELECT COUNT(*) FROM CardMapping WHERE MachAddr = 23")
            .query("backup" + n, "SELECT COUNT(*) FROM CardMappingTmp WHERE MachAddr = 23")
            .sync("checked" + n);
        b.sync("raced" + n).refresh("list" + n).sync("checked" + n);
    }
    ASSERT_TRUE(run(a, b));

    for (int r = 1; r <= kRounds; ++r) {
        SCOPED_TRACE(testing::Message() << "round " << r);
        const QString n = QString::number(r);
        EXPECT_TRUE(ra.boxTexts("dele" + n).isEmpty()) << show(ra.boxTexts("dele" + n));
        const QStringList boxesB = rb.boxTexts("save" + n);
        EXPECT_LE(boxesB.size(), 1) << show(boxesB);
        for (const QString& t : boxesB)
            EXPECT_TRUE(isConflictBox(t)) << t.toStdString();

        const int rows = ra.value("rows" + n).toInt();
        std::cout << "round " << r << ": "
                  << (!boxesB.isEmpty() ? "save lost against the deletion"
                      : rows == 0       ? "saved, then deleted"
                                        : "deleted, then saved")
                  << std::endl;
        const int mapped = ra.value("mapped" + n).toInt();
        const int backup = ra.value("backup" + n).toInt();
        EXPECT_EQ(mapped + backup, 3) << "mapped " << mapped << ", backup " << backup;
        if (rows == 0) {
            // Deleted last: the mappings went to the backup table.
            EXPECT_EQ(mapped, 0);
            EXPECT_EQ(backup, 3);
        } else {
            // Saved last (as a new row): exactly B's row.
            EXPECT_EQ(rows, 1);
            EXPECT_EQ(ra.value("place" + n), "B-" + n);
            EXPECT_TRUE(boxesB.isEmpty());
        }
        if (!boxesB.isEmpty()) {
            EXPECT_EQ(rows, 0) << "B lost, so its row must not be there";
        }
        if (r == kHeld) {
            EXPECT_EQ(boxesB.size(), 1) << "B's save was held after reading the deleted row";
            EXPECT_EQ(rows, 0);
        }

        // Both lists, reloaded afterwards, agree with the database.
        EXPECT_EQ(entriesOf(ra.listRows("list" + n), "23").size(), rows);
        EXPECT_EQ(entriesOf(rb.listRows("list" + n), "23").size(), rows);
        EXPECT_EQ(entriesOf(rb.listRows("list" + n), "5").size(), 1);
    }

    // The other terminal's mappings and backups were never touched.
    EXPECT_EQ(db->count("SELECT COUNT(*) FROM CardMapping WHERE MachAddr = 5"), 1);
    EXPECT_EQ(db->count("SELECT COUNT(*) FROM CardMappingTmp WHERE MachAddr = 5"), 1);
    EXPECT_EQ(rowsOf(5), 1);
}

// Both delete terminal 24 at the same moment: its mappings are backed up once, not twice.
TEST_F(MultiWorkstation, SimultaneousDeletionsBackUpTheMappingsOnce) {
    constexpr int kRounds = 3;
    Script a;
    Script b;
    for (int r = 1; r <= kRounds; ++r) {
        const QString n = QString::number(r);
        a.sql("DELETE FROM CardMappingTmp WHERE MachAddr = 24")
            .sql("INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc) "
                 "VALUES (24, '4', '*', 'orig', 'G', '6429', '计次')")
            .sql("INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES ('C1', 'E1', 24), "
                 "('C2', 'E2', 24)");
        for (Script* s : {&a, &b})
            s->sync("setup" + n).refresh().select("24").go("dele" + n).tool("dele", "dele" + n);
        a.sync("deleted" + n)
            .query("rows" + n, "SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = 24")
            .query("mapped" + n, "SELECT COUNT(*) FROM CardMapping WHERE MachAddr = 24")
            .query("backup" + n, "SELECT COUNT(*) FROM CardMappingTmp WHERE MachAddr = 24")
            .sync("checked" + n);
        b.sync("deleted" + n).sync("checked" + n);
    }
    ASSERT_TRUE(run(a, b));

    for (int r = 1; r <= kRounds; ++r) {
        SCOPED_TRACE(testing::Message() << "round " << r);
        const QString n = QString::number(r);
        EXPECT_TRUE(ra.boxTexts("dele" + n).isEmpty()) << show(ra.boxTexts("dele" + n));
        EXPECT_TRUE(rb.boxTexts("dele" + n).isEmpty()) << show(rb.boxTexts("dele" + n));
        EXPECT_EQ(ra.status("dele" + n), QStringLiteral("已经删除机器：24!"));
        EXPECT_EQ(rb.status("dele" + n), QStringLiteral("已经删除机器：24!"));
        EXPECT_EQ(ra.value("rows" + n), QStringLiteral("0"));
        EXPECT_EQ(ra.value("mapped" + n), QStringLiteral("0"));
        EXPECT_EQ(ra.value("backup" + n), QStringLiteral("2"));
    }
}

// A deletes terminal 25; B, whose list still shows it, clicks it: the status line tells the
// failure, no box appears, and B's next refresh no longer lists it. Saving it from B's panel
// afterwards registers it again, once.
TEST_F(MultiWorkstation, AStaleEntryOfADeletedTerminal) {
    insertTerminal(25, QStringLiteral("orig"));
    insertTerminal(26, QStringLiteral("other"));
    Script a;
    a.sync("start").refresh().select("25").tool("dele", "dele").sync("deleted").sync("done");
    Script b;
    b.sync("start")
        .refresh("before")
        .sync("deleted")
        .select("25", "stale-click")
        .refresh("after")
        .select("26")
        .tool("edit")
        .type("Txt_Machine", "25")
        .type("Cbo_Team", "again")
        .tool("Save", "save-again")
        .sync("done");
    ASSERT_TRUE(run(a, b));

    EXPECT_TRUE(ra.allBoxTexts().isEmpty()) << show(ra.allBoxTexts());
    EXPECT_TRUE(rb.allBoxTexts().isEmpty()) << show(rb.allBoxTexts());
    EXPECT_EQ(entriesOf(rb.listRows("before"), "25").size(), 1);
    EXPECT_TRUE(rb.status("stale-click").startsWith(QStringLiteral("错误:")))
        << rb.status("stale-click").toStdString();
    EXPECT_TRUE(entriesOf(rb.listRows("after"), "25").isEmpty());
    EXPECT_EQ(rowsOf(25), 1);
    EXPECT_EQ(placeOf(25), QStringLiteral("again"));
    EXPECT_EQ(rowsOf(26), 1);
    EXPECT_EQ(placeOf(26), QStringLiteral("other"));
}

} // namespace

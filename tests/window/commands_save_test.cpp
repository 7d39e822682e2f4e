#include "commands_fixture.h"

#include "platform/component_state.h"
#include "platform/convert.h"
#include "store/sql_connection.h"

#include <QLineEdit>
#include <QTreeWidget>

namespace bw::cmdtest {
namespace {

class CommandsSave : public CommandsTest {
protected:
    // new, the panel filled, Save: the way an operator adds a terminal.
    void saveNew(const QString& number, const QString& port, const QString& place = "A",
                 const QString& group = "B", const QString& purpose = QStringLiteral("计次")) {
        click(QStringLiteral("new"));
        fillPanel(number, port, place, group, purpose);
        click(QStringLiteral("Save"));
    }

    static QString saveEntry(const QString& number) {
        return kUser + QStringLiteral("|增加机器|机器:") + number +
               QStringLiteral("增加成功！|成功");
    }

    void expectRefusedNumber(const QString& typed) {
        SCOPED_TRACE(typed.toStdString());
        boxes.clear();
        click(QStringLiteral("new"));
        fillPanel(typed, "COM3", "A", "B", QStringLiteral("计次"));
        click(QStringLiteral("Save"));
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("错误：\r 非法数字!"));
        EXPECT_EQ(boxes.boxes[0].style, 64);
        EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("系统提示"));
        EXPECT_TRUE(inEditingState());
        EXPECT_TRUE(machineRows().isEmpty());
        EXPECT_TRUE(logRows().isEmpty());
        click(QStringLiteral("Cancel"));
    }
};

TEST_P(CommandsSave, NewSerialTerminalIsStoredExactly) {
    open();
    saveNew("5", "COM3");
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("5|3|*|A|B|6429|计次")});
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.lastText().toStdString();
    EXPECT_EQ(logRows(), QStringList{saveEntry("5")});
    // Back to browsing, and the list shows the new terminal.
    EXPECT_TRUE(toolEnabled("new"));
    EXPECT_FALSE(toolEnabled("Save"));
    EXPECT_EQ(TextOf(state().CurrentMachAddr), QStringLiteral("5"));
}

TEST_P(CommandsSave, IpAddressIsStoredWithComOne) {
    open();
    saveNew("6", "192.168.0.10");
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("6|1|192.168.0.10|A|B|6429|计次")});
}

TEST_P(CommandsSave, TwoDigitPortNumber) {
    open();
    saveNew("9", "COM12");
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("9|12|*|A|B|6429|计次")});
}

TEST_P(CommandsSave, SevenCharacterPortTextIsAnAddress) {
    open();
    saveNew("4", "1.2.3.4");
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("4|1|1.2.3.4|A|B|6429|计次")});
    // The panel shows it as an address again, so an edit keeps it one.
    click(QStringLiteral("edit"));
    click(QStringLiteral("Save"));
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("4|1|1.2.3.4|A|B|6429|计次")});
}

TEST_P(CommandsSave, BlanksAroundFieldsAreRemoved) {
    open();
    saveNew("  7", "COM 5 ", " A ", " B ", QStringLiteral(" 进出 "));
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("7|5|*|A|B|6429|进出")});
    EXPECT_EQ(logRows(), QStringList{saveEntry("7")});
}

TEST_P(CommandsSave, AddingAStoredNumberOfAnyModelIsRefused) {
    addTerminal(7, "2", "*", "old", "G", "5100", QStringLiteral("考勤"));
    open();
    saveNew("5", "COM3", "A");
    for (const QString& typed : {QStringLiteral("5"), QStringLiteral(" 7 ")}) {
        boxes.clear();
        saveNew(typed, "COM4", "C");
        ASSERT_EQ(boxes.boxes.size(), 1);
        EXPECT_EQ(boxes.boxes[0].text, "错误：\r机器号：" + typed.trimmed() + "已经存在!");
        EXPECT_TRUE(inEditingState());
        click(QStringLiteral("Cancel"));
    }
    EXPECT_EQ(machineRows(), (QStringList{QStringLiteral("5|3|*|A|B|6429|计次"),
                                          QStringLiteral("7|2|*|old|G|5100|考勤")}));
    EXPECT_EQ(logRows(), QStringList{saveEntry("5")});
}

TEST_P(CommandsSave, WholeNumberIsStoredAsOneInATextColumn) {
    exec(QStringLiteral("DROP TABLE MachineInfo"));
    exec(QStringLiteral("CREATE TABLE MachineInfo (MachAddr VARCHAR(9), ComX TEXT, IP TEXT, "
                        "Team TEXT, Ver TEXT, MachVer TEXT, MachDesc TEXT)"));
    open();
    saveNew("5", "COM3");
    // Found again by the text every lookup compares with.
    EXPECT_EQ(count(QStringLiteral("SELECT COUNT(*) FROM MachineInfo WHERE machaddr='5'")), 1);
}

TEST_P(CommandsSave, ExistingRowFoundByNumberIsEdited) {
    addTerminal(5, "1", "*", "old", "G", "6429", QStringLiteral("考勤"));
    addTerminal(8, "2", "*", "x", "G", "6429", QStringLiteral("考勤"));
    open();
    click(QStringLiteral("edit"));
    fillPanel("5", "10.1.1.20", "new", "H", QStringLiteral("计次"));
    click(QStringLiteral("Save"));
    EXPECT_EQ(machineRows(), (QStringList{QStringLiteral("5|1|10.1.1.20|new|H|6429|计次"),
                                          QStringLiteral("8|2|*|x|G|6429|考勤")}));
}

TEST_P(CommandsSave, PurposeOutsideTheCatalogueBecomesAttendance) {
    open();
    saveNew("1", "COM1", "A", "B", QString());
    saveNew("2", "COM1", "A", "B", QStringLiteral("其他"));
    saveNew("3", "COM1", "A", "B", QStringLiteral("考勤"));
    saveNew("4", "COM1", "A", "B", QStringLiteral("进出"));
    EXPECT_EQ(machineRows(), (QStringList{QStringLiteral("1|1|*|A|B|6429|考勤"),
                                          QStringLiteral("2|1|*|A|B|6429|考勤"),
                                          QStringLiteral("3|1|*|A|B|6429|考勤"),
                                          QStringLiteral("4|1|*|A|B|6429|进出")}));
}

TEST_P(CommandsSave, RowOfAnotherModelIsOverwrittenAndBecomesThisModel) {
    addTerminal(7, "2", "*", "old", "G", "5100", QStringLiteral("考勤"));
    open();
    EXPECT_TRUE(window->LVW_Machine->topLevelItemCount() == 0);
    click(QStringLiteral("edit"));
    fillPanel("7", "COM3", "A", "B", QStringLiteral("计次"));
    click(QStringLiteral("Save"));
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("7|3|*|A|B|6429|计次")});
}

TEST_P(CommandsSave, BadNumbersAreRefused) {
    open();
    for (const char* typed : {"abc", "12.5", "0", "256", "-3", "5a", "1e2", "+5"})
        expectRefusedNumber(QString::fromLatin1(typed));
}

TEST_P(CommandsSave, BoundaryNumbersAreAccepted) {
    open();
    saveNew("1", "COM1");
    saveNew("255", "COM1");
    saveNew("007", "COM1");
    EXPECT_EQ(machineRows(), (QStringList{QStringLiteral("1|1|*|A|B|6429|计次"),
                                          QStringLiteral("7|1|*|A|B|6429|计次"),
                                          QStringLiteral("255|1|*|A|B|6429|计次")}));
    // The log keeps the number as typed.
    EXPECT_TRUE(logRows().contains(saveEntry("007")));
}

TEST_P(CommandsSave, EmptyNumberShowsNoticeAndKeepsEditing) {
    open();
    click(QStringLiteral("new"));
    fillPanel("   ", "COM3", "A", "B", QStringLiteral("计次"));
    click(QStringLiteral("Save"));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("机器号不可为空！"));
    EXPECT_EQ(boxes.boxes[0].style, 64);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("系统提示"));
    EXPECT_TRUE(inEditingState());
    EXPECT_TRUE(machineRows().isEmpty());
    EXPECT_TRUE(logRows().isEmpty());
}

TEST_P(CommandsSave, RowChangedByAnotherWorkstationIsNotOverwritten) {
    addTerminal(5, "3", "*", "A", "B", "6429", QStringLiteral("计次"));
    open();
    auto other = store::SqlConnection::open(connectionString);
    beforeUpdateBatch = [&] {
        other->Execute(QStringLiteral("UPDATE MachineInfo SET Team = 'theirs' WHERE MachAddr = 5"));
    };
    click(QStringLiteral("edit"));
    fillPanel("5", "COM3", "mine", "B", QStringLiteral("计次"));
    click(QStringLiteral("Save"));
    beforeUpdateBatch = nullptr;
    other.reset();

    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].style, 0);
    EXPECT_TRUE(boxes.boxes[0].title.isEmpty());
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QString::number(store::dberr::RowChanged) + ":"))
        << boxes.boxes[0].text.toStdString();
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("5|3|*|theirs|B|6429|计次")});
    EXPECT_TRUE(logRows().isEmpty());
    EXPECT_TRUE(inEditingState());
}

// The check covers the whole edit: a change or deletion made while this panel showed the row.
TEST_P(CommandsSave, RowChangedWhileThePanelShowedItIsNotOverwritten) {
    for (const char* theirs :
         {"UPDATE MachineInfo SET Team = 'theirs'", "DELETE FROM MachineInfo"}) {
        exec(QStringLiteral("DELETE FROM MachineInfo"));
        addTerminal(5, "3", "*", "A", "B", "6429", QStringLiteral("计次"));
        open();
        store::SqlConnection::open(connectionString)->Execute(QString::fromLatin1(theirs));
        const QStringList before = machineRows();
        click(QStringLiteral("edit"));
        fillPanel("5", "COM3", "mine", "B", QStringLiteral("计次"));
        click(QStringLiteral("Save"));
        ASSERT_EQ(boxes.boxes.size(), 1) << theirs;
        EXPECT_TRUE(boxes.boxes[0].text.startsWith(QString::number(store::dberr::RowChanged)));
        EXPECT_EQ(machineRows(), before);
    }
}

TEST_P(CommandsSave, ErrorWhileSavingKeepsEditingAndLogsNothing) {
    open();
    exec(QStringLiteral("DROP TABLE MachineInfo"));
    click(QStringLiteral("new"));
    fillPanel("5", "COM3", "A", "B", QStringLiteral("计次"));
    click(QStringLiteral("Save"));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].style, 0);
    EXPECT_TRUE(boxes.boxes[0].title.isEmpty());
    EXPECT_TRUE(boxes.boxes[0].text.contains(u':'));
    EXPECT_TRUE(inEditingState());
    EXPECT_TRUE(logRows().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Backends, CommandsSave, ::testing::ValuesIn(backends()), backendName);

} // namespace
} // namespace bw::cmdtest

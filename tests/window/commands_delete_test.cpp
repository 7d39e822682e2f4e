#include "commands_fixture.h"

#include "platform/component_state.h"
#include "platform/convert.h"

#include <QLineEdit>
#include <QTreeWidget>

namespace bw::cmdtest {
namespace {

class CommandsDelete : public CommandsTest {
protected:
    void SetUp() override {
        CommandsTest::SetUp();
        addTerminal(5, "3", "*", "A", "B", "6429", QStringLiteral("计次"));
        addTerminal(7, "4", "*", "C", "D", "6429", QStringLiteral("考勤"));
        addMapping("c1", "e1", 7);
        addMapping("c2", "e2", 7);
        addMapping("c3", "e3", 7);
        addMapping("c9", "e9", 5);
    }

    static QString deleteEntry(const QString& number) {
        return kUser + QStringLiteral("|删除机器|机器: ") + number +
               QStringLiteral("删除成功！|成功");
    }
};

TEST_P(CommandsDelete, TerminalAndItsMappingsAreMovedOut) {
    open();
    selectInList("7");
    click(QStringLiteral("dele"));

    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.lastText().toStdString();
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("5|3|*|A|B|6429|计次")});
    EXPECT_EQ(mappingRows("CardMapping"), QStringList{QStringLiteral("c9|e9|5")});
    EXPECT_EQ(mappingRows("CardMappingTmp"),
              (QStringList{QStringLiteral("c1|e1|7"), QStringLiteral("c2|e2|7"),
                           QStringLiteral("c3|e3|7")}));
    EXPECT_EQ(window->statusText(), QStringLiteral("已经删除机器：7!"));
    EXPECT_TRUE(TextOf(state().CurrentMachAddr).isEmpty());
    EXPECT_TRUE(state().CurrentComX.isEmpty());
    EXPECT_EQ(logRows(), QStringList{deleteEntry("7")});
    // The list was reloaded without the deleted terminal.
    EXPECT_EQ(window->LVW_Machine->topLevelItemCount(), 1);
    EXPECT_TRUE(window->LVW_Machine->findItems("7", Qt::MatchExactly, 0).isEmpty());
}

TEST_P(CommandsDelete, TerminalWithoutMappings) {
    addTerminal(9, "1", "*", "E", "F", "6429", QStringLiteral("考勤"));
    open();
    selectInList("9");
    click(QStringLiteral("dele"));
    EXPECT_EQ(machineRows().size(), 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = 9"), 0);
    EXPECT_EQ(mappingRows("CardMapping").size(), 4);
    EXPECT_TRUE(mappingRows("CardMappingTmp").isEmpty());
    EXPECT_EQ(window->statusText(), QStringLiteral("已经删除机器：9!"));
    EXPECT_EQ(logRows(), QStringList{deleteEntry("9")});
}

TEST_P(CommandsDelete, NothingSelectedDeletesAndLogsNothing) {
    open();
    state().CurrentMachAddr = QStringLiteral("   ");
    click(QStringLiteral("dele"));
    EXPECT_EQ(window->statusText(), QStringLiteral("请选择要删除的机器!"));
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(machineRows().size(), 2);
    EXPECT_EQ(mappingRows("CardMapping").size(), 4);
    EXPECT_TRUE(logRows().isEmpty());
}

TEST_P(CommandsDelete, SecondClickOnlyAsksForATerminal) {
    open();
    selectInList("7");
    click(QStringLiteral("dele"));
    // The panel shows the first remaining terminal, but none is selected.
    click(QStringLiteral("dele"));
    EXPECT_EQ(window->statusText(), QStringLiteral("请选择要删除的机器!"));
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("5|3|*|A|B|6429|计次")});
    EXPECT_EQ(logRows(), QStringList{deleteEntry("7")});

    // The last terminal gone, an edit and save of the number the panel still shows adds it.
    selectInList("5");
    for (const char* tool : {"dele", "edit", "Save"})
        click(QString::fromLatin1(tool));
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.lastText().toStdString();
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("5|3|*|A|B|6429|计次")});
}

TEST_P(CommandsDelete, RowsOfOtherModelsWithTheNumberGoToo) {
    addTerminal(7, "2", "*", "X", "Y", "5100", QStringLiteral("考勤"));
    open();
    selectInList("7");
    click(QStringLiteral("dele"));
    EXPECT_EQ(machineRows(), QStringList{QStringLiteral("5|3|*|A|B|6429|计次")});
}

TEST_P(CommandsDelete, FailingStatementLeavesEverythingInPlace) {
    open();
    selectInList("7");
    exec(QStringLiteral("DROP TABLE CardMappingTmp"));
    const QString statusBefore = window->statusText();
    click(QStringLiteral("dele"));

    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].style, 0);
    EXPECT_TRUE(boxes.boxes[0].title.isEmpty());
    EXPECT_TRUE(boxes.boxes[0].text.contains(u':'));
    // The terminal's row went back with the rest of the deletion.
    EXPECT_EQ(machineRows(), (QStringList{QStringLiteral("5|3|*|A|B|6429|计次"),
                                          QStringLiteral("7|4|*|C|D|6429|考勤")}));
    EXPECT_EQ(mappingRows("CardMapping").size(), 4);
    EXPECT_TRUE(logRows().isEmpty());
    EXPECT_EQ(window->statusText(), statusBefore);
    EXPECT_EQ(TextOf(state().CurrentMachAddr), QStringLiteral("7"));

    // The connection is usable afterwards: with the backup table back, the deletion works.
    exec(QStringLiteral(
        "CREATE TABLE CardMappingTmp (CardNo VARCHAR(50), EmpNo VARCHAR(50), MachAddr NUMERIC)"));
    boxes.clear();
    click(QStringLiteral("dele"));
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.lastText().toStdString();
    EXPECT_EQ(mappingRows("CardMappingTmp").size(), 3);
    EXPECT_EQ(logRows(), QStringList{deleteEntry("7")});
}

TEST_P(CommandsDelete, ToolbarStateIsUnchanged) {
    open();
    selectInList("7");
    click(QStringLiteral("dele"));
    EXPECT_TRUE(toolEnabled("new"));
    EXPECT_TRUE(toolEnabled("dele"));
    EXPECT_FALSE(toolEnabled("Save"));
}

INSTANTIATE_TEST_SUITE_P(Backends, CommandsDelete, ::testing::ValuesIn(backends()), backendName);

} // namespace
} // namespace bw::cmdtest

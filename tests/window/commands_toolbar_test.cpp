#include "commands_fixture.h"

#include "platform/component_state.h"
#include "platform/convert.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

namespace bw::cmdtest {
namespace {

class CommandsToolbar : public CommandsTest {
protected:
    void SetUp() override {
        CommandsTest::SetUp();
        addTerminal(5, "3", "*", "A", "B", "6429", QStringLiteral("计次"));
        open();
    }
    void trigger(const QString& key) {
        QAction* a = window->tool(key);
        ASSERT_NE(a, nullptr) << key.toStdString();
        a->trigger();
    }
};

TEST_P(CommandsToolbar, DesignedKeysMatchTheirLowerCaseCommands) {
    // The tools keyed "Save" and "Cancel" reach the commands "save" and "cancel".
    trigger("new");
    EXPECT_TRUE(inEditingState());
    fillPanel("6", "COM2", "P", "G", QStringLiteral("考勤"));
    trigger("Save");
    EXPECT_EQ(machineRows(), (QStringList{QStringLiteral("5|3|*|A|B|6429|计次"),
                                          QStringLiteral("6|2|*|P|G|6429|考勤")}));
    EXPECT_FALSE(inEditingState());

    trigger("new");
    window->Txt_Machine->setText("77");
    trigger("Cancel");
    EXPECT_TRUE(toolEnabled("new"));
    EXPECT_FALSE(toolEnabled("Save"));
    // The list was reloaded: the panel shows the first terminal again.
    EXPECT_EQ(window->Txt_Machine->text(), QStringLiteral("5"));
    EXPECT_EQ(machineRows().size(), 2);
}

TEST_P(CommandsToolbar, KeyCaseDoesNotMatter) {
    click("NEW");
    EXPECT_TRUE(window->Txt_Machine->text().isEmpty());
    fillPanel("8", "COM1", "P", "G", QStringLiteral("考勤"));
    click("SaVe");
    EXPECT_EQ(count("SELECT COUNT(*) FROM MachineInfo WHERE MachAddr = 8"), 1);
}

TEST_P(CommandsToolbar, UnknownKeyDoesNothing) {
    click("print");
    click("");
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_TRUE(link->calls.isEmpty());
    EXPECT_TRUE(toolEnabled("new"));
    EXPECT_EQ(machineRows().size(), 1);
}

TEST_P(CommandsToolbar, NewEmptiesTheNumberAndFocusesIt) {
    click("new");
    EXPECT_TRUE(window->Txt_Machine->text().isEmpty());
    EXPECT_EQ(window->focusWidget(), window->Txt_Machine);
    EXPECT_TRUE(inEditingState());
}

TEST_P(CommandsToolbar, EditSelectsTheWholeNumber) {
    window->Txt_Machine->setText("123");
    window->Txt_Machine->setCursorPosition(1);
    click("edit");
    EXPECT_EQ(window->focusWidget(), window->Txt_Machine);
    EXPECT_EQ(window->Txt_Machine->selectedText(), QStringLiteral("123"));
    EXPECT_TRUE(inEditingState());
}

TEST_P(CommandsToolbar, SaveEndingEarlyKeepsTheEditingState) {
    click("edit");
    window->Txt_Machine->setText(" ");
    click("save");
    EXPECT_TRUE(inEditingState());
    window->Txt_Machine->setText("abc");
    click("save");
    EXPECT_TRUE(inEditingState());
    exec("DROP TABLE MachineInfo");
    window->Txt_Machine->setText("9");
    click("save");
    EXPECT_TRUE(inEditingState());
    ASSERT_EQ(boxes.boxes.size(), 3);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("机器号不可为空！"));
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("错误：\r 非法数字!"));
    EXPECT_EQ(boxes.boxes[2].style, 0);
    EXPECT_TRUE(logRows().isEmpty());
}

TEST_P(CommandsToolbar, ExitClosesTheWindow) {
    ASSERT_TRUE(window->isVisible());
    click("exit");
    EXPECT_FALSE(window->isVisible());
}

TEST_P(CommandsToolbar, BellTimesGoThroughTheWindowsControls) {
    for (int k = 0; k < 30; ++k) {
        window->TxtHour(k)->setText("0");
        window->TxtMin(k)->setText("0");
    }
    window->TxtHour(21)->setText("12");
    window->TxtMin(21)->setText("30");
    window->Cmd_Ring->click();
    EXPECT_EQ(link->calls, (QStringList{"mode=0", "SetPort(3)", "SetClock(5,1)", "SetClock(5,2)",
                                        "SetClock(5,3)", "DestoryPort"}));
    ASSERT_EQ(link->clocks.size(), 3);
    EXPECT_DOUBLE_EQ(link->clocks[2].times[1], vbTime(12, 30, 0));
    EXPECT_EQ(window->statusText(), QStringLiteral("第三组设置闹铃成功"));

    // A second press uses the same controls.
    link->calls.clear();
    window->TxtMin(0)->setText("61");
    window->Cmd_Ring_Click();
    EXPECT_TRUE(link->calls.isEmpty());
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text, QStringLiteral("13 : Type mismatch"));
}

INSTANTIATE_TEST_SUITE_P(Backends, CommandsToolbar, ::testing::ValuesIn(backends()), backendName);

} // namespace
} // namespace bw::cmdtest

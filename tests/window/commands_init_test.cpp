#include "commands_fixture.h"

#include "platform/component_state.h"
#include "platform/ui.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>

namespace bw::cmdtest {
namespace {

const QString kQuestion =
    QStringLiteral("    此操作将清除掉考勤机中的全部\r\r数据，建议先采集数据!继续吗？");

class CommandsInit : public CommandsTest {
protected:
    void SetUp() override {
        CommandsTest::SetUp();
        addTerminal(5, "3", "*", "A", "B", "6429", QStringLiteral("计次"));
        open();
        // The list made terminal 5 on COM3 current and put it into the panel.
        ASSERT_EQ(window->Txt_Machine->text(), QStringLiteral("5"));
        ASSERT_EQ(window->Cbo_COM->currentText(), QStringLiteral("COM3"));
    }

    void initialise() { click(QStringLiteral("loadrest")); }

    static QString directEntry(const QString& number, bool cleared) {
        return kUser + QStringLiteral("|考勤机") + number + QStringLiteral("|考勤机初始化|") +
               (cleared ? QStringLiteral("成功") : QStringLiteral("失败"));
    }
    static QString closingEntry(const QString& number) {
        return kUser + QStringLiteral("|考勤机初始化|机器: ") + number +
               QStringLiteral(" 初始化成功！|成功");
    }

    void expectQuestionFirst() {
        ASSERT_FALSE(boxes.boxes.isEmpty());
        EXPECT_EQ(boxes.boxes[0].text, kQuestion);
        EXPECT_EQ(boxes.boxes[0].style, 324); // Yes/No, No the default
        EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("警告"));
    }
    void expectNotice(int index, const QString& text) {
        ASSERT_GT(boxes.boxes.size(), index);
        EXPECT_EQ(boxes.boxes[index].text, text);
        EXPECT_EQ(boxes.boxes[index].style, 64);
        EXPECT_EQ(boxes.boxes[index].title, QStringLiteral("系统提示"));
    }
};

TEST_P(CommandsInit, EmptyNumberAsksForATerminal) {
    window->Txt_Machine->setText(QStringLiteral("  "));
    initialise();
    ASSERT_EQ(boxes.boxes.size(), 1);
    expectNotice(0, QStringLiteral("请选择考勤机!"));
    EXPECT_TRUE(link->calls.isEmpty());
    EXPECT_TRUE(logRows().isEmpty());
}

TEST_P(CommandsInit, AnsweringNoDoesNothing) {
    boxes.answers.push_back(mb::No);
    initialise();
    ASSERT_EQ(boxes.boxes.size(), 1);
    expectQuestionFirst();
    EXPECT_TRUE(link->calls.isEmpty());
    EXPECT_TRUE(logRows().isEmpty());
}

TEST_P(CommandsInit, SerialTerminalCompleted) {
    QElapsedTimer timer;
    qint64 openedAt = -1, clearedAt = -1;
    link->onCall = [&](const QString& call) {
        if (call.startsWith("SetPort"))
            openedAt = timer.elapsed();
        if (call.startsWith("ClearRecord"))
            clearedAt = timer.elapsed();
    };
    timer.start();
    initialise();
    EXPECT_EQ(link->calls, (QStringList{"mode=0", "SetPort(3)", "ClearRecord(5)",
                                        "ClearNameList(5)", "DestoryPort"}));
    EXPECT_GE(clearedAt - openedAt, 195);
    ASSERT_EQ(boxes.boxes.size(), 2);
    expectQuestionFirst();
    expectNotice(1, QStringLiteral("考勤机5初始化成功!"));
    EXPECT_EQ(logRows(), sorted({closingEntry("5"), directEntry("5", true)}));
}

TEST_P(CommandsInit, IpAddressSelectsTcpIp) {
    window->Cbo_COM->setEditText(QStringLiteral("192.168.1.5"));
    initialise();
    EXPECT_EQ(link->calls, (QStringList{"mode=1", "IP=192.168.1.5", "tcpPort=1001", "SetPort(0)",
                                        "ClearRecord(5)", "ClearNameList(5)", "DestoryPort"}));
}

TEST_P(CommandsInit, SevenCharacterPortTextIsAnAddress) {
    window->Cbo_COM->setEditText(QStringLiteral("COM1234"));
    initialise();
    ASSERT_GE(link->calls.size(), 4);
    EXPECT_EQ(link->calls.mid(0, 4),
              (QStringList{"mode=1", "IP=COM1234", "tcpPort=1001", "SetPort(0)"}));
}

TEST_P(CommandsInit, TypedNumberIsTheTerminalAddressed) {
    window->Txt_Machine->setText(QStringLiteral(" 8 "));
    initialise();
    EXPECT_EQ(link->count("ClearRecord(8)"), 1);
    EXPECT_EQ(link->count("ClearNameList(8)"), 1);
    expectNotice(1, QStringLiteral("考勤机8初始化成功!"));
    // The closing entry names the terminal addressed, not the one selected in the list.
    EXPECT_EQ(logRows(), sorted({closingEntry("8"), directEntry("8", true)}));
}

TEST_P(CommandsInit, PortNotOpened) {
    link->setPortResult = false;
    initialise();
    EXPECT_EQ(link->calls, (QStringList{"mode=0", "SetPort(3)"}));
    ASSERT_EQ(boxes.boxes.size(), 2);
    expectNotice(1, QStringLiteral("考勤机5通讯口打开失败!"));
    EXPECT_EQ(logRows(), QStringList{directEntry("5", false)});
}

TEST_P(CommandsInit, RecordsNotCleared) {
    link->clearRecordResult = false;
    initialise();
    EXPECT_EQ(link->calls, (QStringList{"mode=0", "SetPort(3)", "ClearRecord(5)", "DestoryPort"}));
    ASSERT_EQ(boxes.boxes.size(), 2);
    expectNotice(1, QStringLiteral("考勤机5初始化失败!"));
    EXPECT_EQ(logRows(), QStringList{directEntry("5", false)});
}

TEST_P(CommandsInit, NameListNotCleared) {
    link->clearNameListResult = false;
    initialise();
    EXPECT_EQ(link->calls, (QStringList{"mode=0", "SetPort(3)", "ClearRecord(5)",
                                        "ClearNameList(5)", "DestoryPort"}));
    ASSERT_EQ(boxes.boxes.size(), 2);
    expectNotice(1, QStringLiteral("考勤机5初始化失败!"));
    EXPECT_EQ(logRows(), QStringList{directEntry("5", false)});
}

TEST_P(CommandsInit, ErrorWhilePortIsOpenClosesIt) {
    link->raiseIn = QStringLiteral("ClearNameList");
    initialise();
    EXPECT_EQ(link->calls.last(), QStringLiteral("DestoryPort"));
    EXPECT_EQ(link->openPorts, 0);
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("5:Invalid procedure call or argument"));
    EXPECT_EQ(boxes.boxes[1].style, 0);
    EXPECT_TRUE(boxes.boxes[1].title.isEmpty());
    EXPECT_TRUE(logRows().isEmpty());
}

TEST_P(CommandsInit, LogRefusedWhilePortIsOpenClosesIt) {
    exec(QStringLiteral("DROP TABLE CtrlLog"));
    initialise();
    EXPECT_EQ(link->calls.last(), QStringLiteral("DestoryPort"));
    EXPECT_EQ(link->openPorts, 0);
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[1].style, 0);
    EXPECT_TRUE(boxes.boxes[1].text.contains(u':'));
}

TEST_P(CommandsInit, PortTextWithoutNumber) {
    window->Cbo_COM->setEditText(QStringLiteral("COM"));
    initialise();
    EXPECT_TRUE(link->calls.isEmpty());
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("13:Type mismatch"));
    EXPECT_EQ(boxes.boxes[1].style, 0);
    EXPECT_TRUE(logRows().isEmpty());
}

TEST_P(CommandsInit, ErrorOpeningThePortLeavesNothingToClose) {
    link->raiseIn = QStringLiteral("SetPort");
    initialise();
    EXPECT_EQ(link->count("DestoryPort"), 0);
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("5:Invalid procedure call or argument"));
    EXPECT_TRUE(logRows().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Backends, CommandsInit, ::testing::ValuesIn(backends()), backendName);

} // namespace
} // namespace bw::cmdtest

// The whole system as an operator uses it: the real window through ShowA, the real SQLite
// host database, the real serial port on the simulator's pseudo-terminal, and the default
// connect component over that line and over TCP.

#include "e2e/e2e_support.h"

#include "bell/bell_link.h"
#include "bell/device_port.h"
#include "bell/serial_port.h"
#include "host/lexicon/lexicon.h"
#include "window/bell_buttons.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <gtest/gtest.h>

using bw::test::Installation;

namespace {

QString text(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toString();
}

int number(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toInt(-1);
}

// Bell time k as the window's fields would carry it: hour k % 24, minute (7 * k) % 60.
void fillBellTimes(bw::F_Machine* w) {
    for (int k = 0; k < 30; ++k) {
        w->TxtHour(k)->setText(QString::number(k % 24));
        w->TxtMin(k)->setText(QString::number((7 * k) % 60));
    }
}

QString expectedBellTime(int k) {
    return QStringLiteral("%1:%2")
        .arg(k % 24, 2, 10, QLatin1Char('0'))
        .arg((7 * k) % 60, 2, 10, QLatin1Char('0'));
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        inst = std::make_unique<Installation>();
        ASSERT_TRUE(inst->ok()) << inst->error().toStdString();
        w = inst->window();
    }
    void TearDown() override { inst.reset(); }

    std::unique_ptr<Installation> inst;
    bw::F_Machine* w = nullptr;
};

TEST_F(EndToEnd, SelectTestAndSetClockOfASerialTerminal) {
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));
    EXPECT_EQ(w->Txt_Machine->text(), QStringLiteral("1"));
    EXPECT_EQ(w->Cbo_COM->currentText(), QStringLiteral("COM1"));
    EXPECT_EQ(w->statusText(), QStringLiteral("当前机器：1  串口：1"));

    QTest::mouseClick(w->Cmd_Test, Qt::LeftButton);
    ASSERT_EQ(inst->boxes().boxes.size(), 1);
    EXPECT_EQ(inst->boxes().boxes[0].text, QStringLiteral("机器:1通讯测试成功!"));
    EXPECT_EQ(inst->boxes().boxes[0].style, 64);
    EXPECT_EQ(inst->boxes().boxes[0].title, QStringLiteral("系统提示"));

    // Put the terminal's clock far off first, over the same line, then set it from the window.
    {
        bw::bell::BellLink link(std::make_unique<bw::bell::DevicePort>());
        ASSERT_TRUE(link.OpenBellPort(1));
        ASSERT_TRUE(link.SetMachDateTime(1, QDateTime(QDate(2001, 2, 3), QTime(4, 5, 6))));
        link.CloseBellPort();
    }
    ASSERT_TRUE(inst->sim().waitState([](const QJsonObject& s) {
        return s["terminals"].toObject()["1"].toObject()["clock"].toString().startsWith("2001");
    }));

    QTest::mouseClick(w->Cmd_DateTime, Qt::LeftButton);
    ASSERT_EQ(inst->boxes().boxes.size(), 2);
    EXPECT_EQ(inst->boxes().boxes[1].text, QStringLiteral("机器:1通讯测试成功!"));
    const QDateTime clock = QDateTime::fromString(text(inst->sim().terminal(1), "clock"),
                                                  QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    EXPECT_LE(std::abs(clock.secsTo(QDateTime::currentDateTime())), 5);
}

TEST_F(EndToEnd, AddEditSaveAndDeleteATerminal) {
    inst->clickTool(QStringLiteral("new"));
    EXPECT_TRUE(w->tool(QStringLiteral("Save"))->isEnabled());
    EXPECT_FALSE(w->tool(QStringLiteral("new"))->isEnabled());
    QTest::keyClicks(w->Txt_Machine, QStringLiteral("9"));
    Installation::typeInto(w->Cbo_COM, QStringLiteral("COM2"));
    Installation::typeInto(w->Cbo_Team, QStringLiteral("D"));
    Installation::typeInto(w->CmbGroup, QStringLiteral("三楼"));
    inst->clickTool(QStringLiteral("Save"));
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_FALSE(w->tool(QStringLiteral("Save"))->isEnabled());

    EXPECT_EQ(inst->scalar("select count(*) as v from MachineInfo where machaddr='9'").toInt(), 1);
    EXPECT_EQ(inst->scalar("select ComX as v from MachineInfo where machaddr='9'").toString(),
              QStringLiteral("2"));
    EXPECT_EQ(inst->scalar("select IP as v from MachineInfo where machaddr='9'").toString(),
              QStringLiteral("*"));
    EXPECT_EQ(inst->scalar("select Team as v from MachineInfo where machaddr='9'").toString(),
              QStringLiteral("D"));
    EXPECT_EQ(inst->scalar("select Ver as v from MachineInfo where machaddr='9'").toString(),
              QStringLiteral("三楼"));
    EXPECT_EQ(
        inst->scalar("select count(*) as v from CtrlLog where ActionA='机器:9增加成功！'").toInt(),
        1);

    // Edit: the same number again, another place; still one row.
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("9")));
    inst->clickTool(QStringLiteral("edit"));
    QTest::keyClicks(w->Txt_Machine, QStringLiteral("9")); // replaces the selected text
    EXPECT_EQ(w->Txt_Machine->text(), QStringLiteral("9"));
    Installation::typeInto(w->Cbo_Team, QStringLiteral("E"));
    inst->clickTool(QStringLiteral("Save"));
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(inst->scalar("select count(*) as v from MachineInfo where machaddr='9'").toInt(), 1);
    EXPECT_EQ(inst->scalar("select Team as v from MachineInfo where machaddr='9'").toString(),
              QStringLiteral("E"));

    // Delete, with card mappings moved to the backup table.
    const int backupBefore = inst->scalar("select count(*) as v from CardMappingTmp").toInt();
    inst->exec(QStringLiteral("insert into CardMapping (CardNo, EmpNo, MachAddr) values "
                              "('C901', 'E901', 9), ('C902', 'E902', 9)"));
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("9")));
    inst->clickTool(QStringLiteral("dele"));
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(w->statusText(), QStringLiteral("已经删除机器：9!"));
    EXPECT_EQ(inst->scalar("select count(*) as v from MachineInfo where machaddr='9'").toInt(), 0);
    EXPECT_EQ(inst->scalar("select count(*) as v from CardMapping where machaddr='9'").toInt(), 0);
    EXPECT_EQ(inst->scalar("select count(*) as v from CardMappingTmp").toInt(), backupBefore + 2);
    EXPECT_EQ(inst->scalar("select count(*) as v from CardMappingTmp where CardNo='C902'").toInt(),
              1);
    EXPECT_EQ(
        inst->scalar("select count(*) as v from CtrlLog where ActionA='机器: 9删除成功！'").toInt(),
        1);
    for (int i = 0; i < w->LVW_Machine->topLevelItemCount(); ++i)
        EXPECT_NE(w->LVW_Machine->topLevelItem(i)->text(0), QStringLiteral("9"));
}

TEST_F(EndToEnd, InitialiseTerminalsOnTheSerialLineAndOverTcp) {
    ASSERT_GT(number(inst->sim().terminal(1), "records"), 0);
    ASSERT_GT(number(inst->sim().terminal(3), "nameListSize"), 0);
    // An unanswered test leaves the window's own port open on COM1; the initialisation must
    // still get the line.
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));
    w->Txt_Machine->setText(QStringLiteral("9"));
    QTest::mouseClick(w->Cmd_Test, Qt::LeftButton);
    ASSERT_TRUE(w->bellButtons().link().port().portOpen());
    w->CmdGatherdata->click(); // the collection window gets the line too
    EXPECT_FALSE(w->bellButtons().link().port().portOpen());
    QTest::mouseClick(w->Cmd_Test, Qt::LeftButton);

    for (const QString& addr : {QStringLiteral("1"), QStringLiteral("3")}) {
        inst->boxes().clear();
        ASSERT_TRUE(inst->clickTerminal(addr));
        inst->clickTool(QStringLiteral("loadrest"));
        ASSERT_EQ(inst->boxes().boxes.size(), 2) << addr.toStdString();
        EXPECT_EQ(inst->boxes().boxes[0].style, 324);
        EXPECT_EQ(inst->boxes().boxes[0].title, QStringLiteral("警告"));
        EXPECT_TRUE(inst->boxes().boxes[0].text.startsWith(QStringLiteral("    此操作将清除掉")));
        EXPECT_EQ(inst->boxes().boxes[1].text, QStringLiteral("考勤机%1初始化成功!").arg(addr));
        const QJsonObject t = inst->sim().terminal(addr.toInt());
        EXPECT_EQ(number(t, "records"), 0) << addr.toStdString();
        EXPECT_EQ(number(t, "nameListSize"), 0) << addr.toStdString();
        EXPECT_EQ(inst->scalar(QStringLiteral("select count(*) as v from CtrlLog where "
                                              "ObjectA='考勤机%1' and ResultA='成功'")
                                   .arg(addr))
                      .toInt(),
                  1);
        EXPECT_EQ(inst->scalar(QStringLiteral("select count(*) as v from CtrlLog where "
                                              "ActionA='机器: %1 初始化成功！'")
                                   .arg(addr))
                      .toInt(),
                  1);
    }
    // Terminal 2 was not touched.
    EXPECT_GT(number(inst->sim().terminal(2), "records"), 0);
}

TEST_F(EndToEnd, DownloadReadAndCountBellsOnTheSerialLine) {
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));
    // An unanswered test leaves the window's own port open on COM1; the download gets it.
    w->Txt_Machine->setText(QStringLiteral("9"));
    QTest::mouseClick(w->Cmd_Test, Qt::LeftButton);
    ASSERT_TRUE(w->bellButtons().link().port().portOpen());
    inst->boxes().clear();
    w->Txt_Machine->setText(QStringLiteral("1"));
    fillBellTimes(w);
    w->Cmd_Ring->click();
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(w->statusText(), QStringLiteral("第三组设置闹铃成功"));
    const QJsonArray groups = inst->sim().terminal(1)["groups"].toArray();
    ASSERT_EQ(groups.size(), 3);
    for (int k = 0; k < 30; ++k)
        EXPECT_EQ(groups[k / 10].toArray()[k % 10].toString(), expectedBellTime(k)) << k;

    // Read them back over the bell link: the window shows what the terminal holds.
    for (int k = 0; k < 30; ++k) {
        w->TxtHour(k)->setText(QStringLiteral("x"));
        w->TxtMin(k)->setText(QStringLiteral("x"));
    }
    w->Cmd_Ring_read->click();
    ASSERT_EQ(inst->boxes().boxes.size(), 1);
    EXPECT_EQ(inst->boxes().boxes[0].text, QStringLiteral("机器:1读取闹铃点成功!"));
    for (int k = 0; k < 30; ++k) {
        EXPECT_EQ(w->TxtHour(k)->text() + QLatin1Char(':') + w->TxtMin(k)->text(),
                  expectedBellTime(k))
            << k;
    }

    w->TxtBellNum->setText(QStringLiteral("5"));
    w->Cmd_Ring_Num->click();
    ASSERT_EQ(inst->boxes().boxes.size(), 2);
    EXPECT_EQ(inst->boxes().boxes[1].text, QStringLiteral("机器:1设置闹铃次数成功!"));
    EXPECT_EQ(number(inst->sim().terminal(1), "bellCount"), 5);
}

TEST_F(EndToEnd, DownloadBellsOverTcp) {
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("3")));
    EXPECT_EQ(w->Cbo_COM->currentText(), QStringLiteral("127.0.0.1"));
    fillBellTimes(w);
    w->Cmd_Ring->click();
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(w->statusText(), QStringLiteral("第三组设置闹铃成功"));
    const QJsonArray groups = inst->sim().terminal(3)["groups"].toArray();
    ASSERT_EQ(groups.size(), 3);
    for (int k = 0; k < 30; ++k)
        EXPECT_EQ(groups[k / 10].toArray()[k % 10].toString(), expectedBellTime(k)) << k;

    // The bell-link buttons are serial only: a TCP/IP terminal is told so.
    w->Cmd_Ring_read->click();
    ASSERT_EQ(inst->boxes().boxes.size(), 1);
    EXPECT_EQ(inst->boxes().boxes[0].text, QStringLiteral("机器:3暂不支持TCPIP方式的此功能!"));
}

// With the bell section shown by the host, the operator reaches it with mouse and keyboard:
// read what the terminal holds, type new times, download them, read them back, set the count.
TEST(EndToEndBellSection, ReadEditDownloadAndReadBackThroughTheWindow) {
    bw::host::setBellSectionShown(true);
    Installation inst;
    bw::host::setBellSectionShown(false);
    ASSERT_TRUE(inst.ok()) << inst.error().toStdString();
    bw::F_Machine* w = inst.window();
    auto field = [w](const QString& name) { return w->findChild<QLineEdit*>(name); };
    auto click = [w](const char* name) {
        QTest::mouseClick(w->findChild<QPushButton*>(QLatin1String(name)), Qt::LeftButton);
    };
    const QWidget* area = w->findChild<QWidget*>(QStringLiteral("Fra_Bell"));
    ASSERT_NE(area, nullptr);
    EXPECT_GT(area->x(), w->Fra_Fram1->geometry().right());
    EXPECT_LE(area->geometry().right(), w->width());
    for (const char* name : {"TxtBellNum", "Label6", "Label9", "Text1", "Text6", "TxtHour(0)",
                             "TxtMin(29)", "Cmd_Ring", "Cmd_Ring_Num", "Cmd_Ring_read"}) {
        const QWidget* c = w->findChild<QWidget*>(QLatin1String(name));
        ASSERT_NE(c, nullptr) << name;
        EXPECT_TRUE(c->isVisible() && area->isAncestorOf(c)) << name;
    }

    ASSERT_TRUE(inst.clickTerminal(QStringLiteral("1")));
    click("Cmd_Ring_read");
    ASSERT_EQ(inst.boxes().boxes.size(), 1);
    EXPECT_EQ(inst.boxes().boxes[0].text, QStringLiteral("机器:1读取闹铃点成功!"));
    EXPECT_EQ(field(QStringLiteral("TxtBellNum"))->text(), QStringLiteral("03"));

    for (int k = 0; k < 30; ++k) {
        Installation::typeInto(field(QStringLiteral("TxtHour(%1)").arg(k)),
                               QString::number(k % 24));
        Installation::typeInto(field(QStringLiteral("TxtMin(%1)").arg(k)),
                               QString::number((7 * k) % 60));
    }
    click("Cmd_Ring");
    EXPECT_EQ(w->statusText(), QStringLiteral("第三组设置闹铃成功"));
    click("Cmd_Ring_read");
    for (int k = 0; k < 30; ++k)
        EXPECT_EQ(w->TxtHour(k)->text() + QLatin1Char(':') + w->TxtMin(k)->text(),
                  expectedBellTime(k))
            << k;

    Installation::typeInto(field(QStringLiteral("TxtBellNum")), QStringLiteral("7"));
    click("Cmd_Ring_Num");
    click("Cmd_Ring_read");
    EXPECT_EQ(field(QStringLiteral("TxtBellNum"))->text(), QStringLiteral("07"));
    EXPECT_EQ(number(inst.sim().terminal(1), "bellCount"), 7);
    EXPECT_EQ(inst.boxes().boxes.size(), 4) << inst.boxes().lastText().toStdString();
}

} // namespace

namespace {

// The window takes events while a bell-link exchange waits for its terminal; closing it then
// must not pull it away under the exchange. It closes once the exchange has ended.
TEST(EndToEndClose, ClosingWhileABellExchangeWaitsClosesAfterIt) {
    Installation inst({QStringLiteral("--silent")});
    ASSERT_TRUE(inst.ok()) << inst.error().toStdString();
    bw::F_Machine* w = inst.window();
    QPointer<bw::F_Machine> alive(w);
    ASSERT_TRUE(inst.clickTerminal(QStringLiteral("1")));

    QTimer::singleShot(300, w, [w] { w->close(); });
    w->Cmd_Ring_read->click(); // waits 3 s for the silent terminal, taking events meanwhile
    ASSERT_FALSE(alive.isNull());
    ASSERT_EQ(inst.boxes().boxes.size(), 1);
    EXPECT_EQ(inst.boxes().boxes[0].text, QStringLiteral("机器:1通讯错误或者考勤机不支持本功能!"));
    EXPECT_FALSE(w->isVisible());

    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(alive.isNull());
}

} // namespace

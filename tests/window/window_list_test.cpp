// Terminal list, group list, selection and the two panel handlers.

#include "window/window_fixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QTimeEdit>
#include <QTreeWidget>

namespace bw::windowtest {
namespace {

using WindowList = WindowTest;

const QString kSerial = QStringLiteral("*");

Terminal serial(int addr, const QString& com, const QString& group = QStringLiteral("G1"),
                const QString& usage = QStringLiteral("计次")) {
    return {addr, com, kSerial, QStringLiteral("A"), group, QStringLiteral("6429"), usage};
}

Terminal tcp(int addr, const QString& ip, const QString& group = QStringLiteral("G1")) {
    return {addr,
            QStringLiteral("1"),
            ip,
            QStringLiteral("B"),
            group,
            QStringLiteral("6429"),
            QStringLiteral("计次")};
}

QTreeWidgetItem* row(F_Machine* w, int i) {
    return w->LVW_Machine->topLevelItem(i);
}

// Selects row i and runs the click handler, as a click on it does.
void clickRow(F_Machine* w, int i) {
    w->LVW_Machine->setCurrentItem(row(w, i));
    w->LVW_Machine_Click();
}

// The panel's five fields.
QStringList panel(F_Machine* w) {
    return {w->Txt_Machine->text(), w->Cbo_COM->currentText(), w->Cbo_Team->currentText(),
            w->CmbMachType->currentText(), w->CmbGroup->currentText()};
}

TEST_F(WindowList, ListsOnlyModel6429InTerminalOrder) {
    db.add(serial(12, QStringLiteral("3")));
    db.add(tcp(2, QStringLiteral("192.168.1.50")));
    db.add({7, QStringLiteral("4"), kSerial, QStringLiteral("C"), QStringLiteral("G2"),
            QStringLiteral("6401"), QStringLiteral("计次")});
    F_Machine* w = openWindow();
    ASSERT_EQ(w->LVW_Machine->topLevelItemCount(), 2);
    EXPECT_EQ(row(w, 0)->text(0), QStringLiteral("2"));
    EXPECT_EQ(row(w, 0)->text(1), QStringLiteral("192.168.1.50"));
    EXPECT_EQ(row(w, 0)->text(2), QStringLiteral("计次"));
    EXPECT_EQ(row(w, 0)->text(3), QStringLiteral("B"));
    EXPECT_EQ(row(w, 0)->text(4), QStringLiteral("G1"));
    EXPECT_EQ(row(w, 1)->text(0), QStringLiteral("12"));
    EXPECT_EQ(row(w, 1)->text(1), QStringLiteral("3"));
    EXPECT_FALSE(row(w, 0)->icon(0).isNull());
    EXPECT_EQ(w->statusText(), QStringLiteral("当前机器：2"));
}

TEST_F(WindowList, FirstRowFillShowsTheTerminalAsAClickWould) {
    // Groups come back in the order of their rows: G1 first, while the first terminal
    // (number 2, TCP/IP) is in G2.
    db.add(serial(9, QStringLiteral("3"), QStringLiteral("G1")));
    db.add(tcp(2, QStringLiteral("192.168.1.50"), QStringLiteral("G2")));
    F_Machine* w = openWindow();

    EXPECT_EQ(state().CurrentMachAddr.toInt(), 2);
    EXPECT_EQ(state().CurrentComX, QStringLiteral("192.168.1.50"));
    EXPECT_EQ(w->CmbGroup->itemText(0), QStringLiteral("G1"));
    const QStringList afterLoad = panel(w);
    EXPECT_EQ(afterLoad,
              (QStringList{QStringLiteral("2"), QStringLiteral("192.168.1.50"), QStringLiteral("B"),
                           QStringLiteral("计次"), QStringLiteral("G2")}));
    // The group went to the group box, not to the direction box.
    EXPECT_EQ(w->Cbo_Ver->currentText(), QString());

    clickRow(w, 0);
    EXPECT_EQ(panel(w), afterLoad);

    // A refresh (as after a save or cancel) keeps showing the true values.
    w->Cbo_COM->setEditText(QStringLiteral("COM9"));
    w->CmbGroup->setCurrentIndex(0);
    w->ListMachine();
    EXPECT_EQ(panel(w), afterLoad);
}

TEST_F(WindowList, SerialFirstRowShowsComPort) {
    db.add(serial(5, QStringLiteral("12")));
    F_Machine* w = openWindow();
    EXPECT_EQ(w->Cbo_COM->currentText(), QStringLiteral("COM12"));
    EXPECT_EQ(w->Txt_Machine->text(), QStringLiteral("5"));
    EXPECT_EQ(state().CurrentComX, QStringLiteral("12"));
}

// Seven characters are an address here as they are when the terminal is saved.
TEST_F(WindowList, SevenCharacterIpIsATcpTerminal) {
    db.add(tcp(4, QStringLiteral("1.2.3.4")));
    F_Machine* w = openWindow();
    EXPECT_EQ(row(w, 0)->text(1), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(w->Cbo_COM->currentText(), QStringLiteral("1.2.3.4"));
    clickRow(w, 0);
    EXPECT_EQ(w->Cbo_COM->currentText(), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(w->LVW_Machine->toolTip(), QStringLiteral("IP地址：1.2.3.4"));
    EXPECT_EQ(w->statusText(), QStringLiteral("当前机器：4  IP地址：1.2.3.4"));
}

TEST_F(WindowList, ClickOnSerialTerminal) {
    db.add(tcp(1, QStringLiteral("10.0.0.100")));
    db.add(serial(5, QStringLiteral("3"), QStringLiteral("G7")));
    F_Machine* w = openWindow();
    clickRow(w, 1);
    EXPECT_EQ(state().CurrentMachAddr.toString(), QStringLiteral("5"));
    EXPECT_EQ(state().CurrentComX, QStringLiteral("3"));
    EXPECT_EQ(state().CurrentVer.toString(), QStringLiteral("G7"));
    EXPECT_EQ(state().CurrentTeam.toString(), QStringLiteral("A"));
    EXPECT_EQ(state().CurrentMachDesc, QStringLiteral("计次"));
    EXPECT_EQ(panel(w),
              (QStringList{QStringLiteral("5"), QStringLiteral("COM3"), QStringLiteral("A"),
                           QStringLiteral("计次"), QStringLiteral("G7")}));
    EXPECT_EQ(w->LVW_Machine->toolTip(), QStringLiteral("串口：3"));
    EXPECT_TRUE(log.calls.contains(QStringLiteral(
        "RecordSetA:Select * From MachineInfo where machaddr='5' Order By MachAddr")));
}

TEST_F(WindowList, EmptyPortGivesBareCom) {
    db.add({6, QStringLiteral(""), QStringLiteral("1.2.3"), QStringLiteral("A"),
            QStringLiteral("G1"), QStringLiteral("6429"), QStringLiteral("计次")});
    F_Machine* w = openWindow();
    clickRow(w, 0);
    EXPECT_EQ(w->Cbo_COM->currentText(), QStringLiteral("COM"));
    EXPECT_EQ(w->LVW_Machine->toolTip(), QStringLiteral("串口："));
}

TEST_F(WindowList, EmptyPlaceGroupAndUsageAreTheTerminalsOwn) {
    db.add({1, QStringLiteral("1"), kSerial, QStringLiteral(""), QStringLiteral(""),
            QStringLiteral("6429"), QStringLiteral("")});
    db.add(serial(2, QStringLiteral("2"), QStringLiteral("G2")));
    F_Machine* w = openWindow();
    for (int click : {-1, 1, 0}) { // after the list fill, then after clicks on 2 and on 1
        if (click >= 0)
            clickRow(w, click);
        const QStringList own =
            click == 1 ? QStringList{"A", "G2", "计次"} : QStringList{"", "", ""};
        EXPECT_EQ((QStringList{w->Cbo_Team->currentText(), w->CmbGroup->currentText(),
                               w->CmbMachType->currentText()}),
                  own);
    }
    EXPECT_EQ(w->CmbGroup->count(), 2);
}

TEST_F(WindowList, NullPortOfTheFirstSerialRowFailsTheFill) {
    db.add({6, QVariant(), QStringLiteral("*"), QStringLiteral("A"), QStringLiteral("G1"),
            QStringLiteral("6429"), QStringLiteral("计次")});
    F_Machine* w = openWindow();
    EXPECT_EQ(w->statusText(), QStringLiteral("错误:Invalid use of Null"));
    EXPECT_EQ(w->LVW_Machine->topLevelItemCount(), 0);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(WindowList, EmptyListKeepsThePreviousCurrentValues) {
    F_Machine* w = openWindow();
    EXPECT_EQ(w->statusText(), QStringLiteral("当前机器："));
    EXPECT_EQ(w->LVW_Machine->topLevelItemCount(), 0);

    db.add(serial(8, QStringLiteral("2"), QStringLiteral("G3")));
    w->ListMachine();
    const QStringList before = panel(w);
    db.removeAll();
    w->ListMachine();
    EXPECT_EQ(w->LVW_Machine->topLevelItemCount(), 0);
    EXPECT_EQ(state().CurrentMachAddr.toInt(), 8);
    EXPECT_EQ(state().CurrentComX, QStringLiteral("2"));
    EXPECT_EQ(panel(w), before);
    EXPECT_EQ(w->statusText(), QStringLiteral("当前机器：8"));
}

TEST_F(WindowList, GroupListIsDistinctAndEmptyQueryLeavesIt) {
    db.add(serial(1, QStringLiteral("1"), QStringLiteral("G1")));
    db.add(serial(2, QStringLiteral("2"), QStringLiteral("G2")));
    db.add(serial(3, QStringLiteral("3"), QStringLiteral("G1")));
    F_Machine* w = openWindow();
    ASSERT_EQ(w->CmbGroup->count(), 2);
    EXPECT_EQ(w->CmbGroup->currentText(), QStringLiteral("G1"));
    db.removeAll();
    w->ListGroup();
    EXPECT_EQ(w->CmbGroup->count(), 2);
}

TEST_F(WindowList, NullGroupFailsOnTheStatusLine) {
    db.add({1, QStringLiteral("1"), kSerial, QStringLiteral("A"), QVariant(),
            QStringLiteral("6429"), QStringLiteral("计次")});
    F_Machine* w = openWindow();
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("错误:")))
        << w->statusText().toStdString();
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(WindowList, ClickWithoutSelectionOrRowFailsOnTheStatusLine) {
    db.add(serial(3, QStringLiteral("1")));
    F_Machine* w = openWindow();
    w->LVW_Machine->clearSelection();
    w->LVW_Machine->setCurrentItem(nullptr);
    w->LVW_Machine_Click();
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("错误:")));

    // The row is gone from the database: the entry's number is kept as current.
    db.removeAll();
    clickRow(w, 0);
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("错误:")));
    EXPECT_EQ(state().CurrentMachAddr.toString(), QStringLiteral("3"));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(WindowList, UsageShowsAndHidesTheDirectionBox) {
    db.add(serial(1, QStringLiteral("1"), QStringLiteral("G1"), QStringLiteral("考勤")));
    F_Machine* w = openWindow();
    EXPECT_FALSE(w->Cbo_Ver->isHidden());
    EXPECT_FALSE(w->Label4->isHidden());
    w->CmbMachType->setEditText(QStringLiteral("计次"));
    EXPECT_TRUE(w->Cbo_Ver->isHidden());
    EXPECT_TRUE(w->Label4->isHidden());
    w->CmbMachType->setEditText(QStringLiteral("进出"));
    EXPECT_FALSE(w->Cbo_Ver->isHidden());
    w->CmbMachType->setEditText(QStringLiteral("进出 "));
    EXPECT_TRUE(w->Cbo_Ver->isHidden());
    w->CmbMachType->setEditText(QStringLiteral("考勤"));
    w->CmbMachType_Click();
    EXPECT_FALSE(w->Label4->isHidden());
}

TEST_F(WindowList, SameDateCheckSwitchesThePickers) {
    F_Machine* w = openWindow();
    EXPECT_TRUE(w->DTP_Date->isEnabled());
    w->Chk_Same->setChecked(true);
    EXPECT_FALSE(w->DTP_Date->isEnabled());
    EXPECT_FALSE(w->DTP_Time->isEnabled());
    w->Chk_Same->setChecked(false);
    EXPECT_TRUE(w->DTP_Date->isEnabled());
    EXPECT_TRUE(w->DTP_Time->isEnabled());
    w->Chk_Same->setTristate(true);
    w->Chk_Same->setCheckState(Qt::PartiallyChecked);
    EXPECT_FALSE(w->DTP_Date->isEnabled());
    EXPECT_FALSE(w->DTP_Time->isEnabled());
}

} // namespace
} // namespace bw::windowtest

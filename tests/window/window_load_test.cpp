// Load sequence of the terminal-management window, its error trap and the permission checks.

#include "messages/catalogue.h"
#include "window/window_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>
#include <QToolBar>
#include <QTreeWidget>

namespace bw::windowtest {
namespace {

using WindowLoad = WindowTest;

QStringList comboItems(const QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

QStringList expectedPorts() {
    QStringList out;
    for (int n = 1; n <= 16; ++n)
        out << QStringLiteral("COM%1").arg(n);
    return out;
}

TEST_F(WindowLoad, RunsItsStepsInOrder) {
    db.add({5, QStringLiteral("3"), QStringLiteral("*"), QStringLiteral("A"), QStringLiteral("B"),
            QStringLiteral("6429"), QStringLiteral("计次")});
    F_Machine* seen = nullptr;
    struct Snapshot {
        bool visible = true;
        int machTypeItems = -1;
        QString text2;
        int verItems = -1;
        int columns = -1;
        int ports = -1;
        QString status;
    };
    QMap<QString, Snapshot> at;
    log.onCall = [&](const QString& call) {
        if (!seen)
            return;
        Snapshot s;
        s.visible = seen->isVisible();
        s.machTypeItems = seen->CmbMachType->count();
        s.text2 = seen->Text2->text();
        s.verItems = seen->Cbo_Ver->count();
        s.columns = seen->LVW_Machine->columnCount();
        s.ports = seen->Cbo_COM->count();
        s.status = seen->statusText();
        if (!at.contains(call))
            at.insert(call, s);
    };
    auto* w = new F_Machine();
    window = w;
    seen = w;
    w->showWindow();

    const QString caption = state().CurrentCaption;
    QStringList expected = {
        QStringLiteral("Create:Quenby.Warden"),
        QStringLiteral("Create:Harrowgate.Ledger"),
        QStringLiteral("ActiveCn"),
        QStringLiteral("LoadControlInfo"),
        QStringLiteral("ConnectA"),
        QStringLiteral(
            "RecordSetA:Select * From MachineInfo Where MachVer='6429' Order By MachAddr"),
        QStringLiteral("RecordSetA:Select distinct Ver From MachineInfo Where MachVer='6429'"),
    };
    for (const char* perm : {".增加", ".保存", ".删除", ".修改", ".通讯测试", ".日期时间设置",
                             ".下传", ".考勤机初始化"})
        expected << QStringLiteral("CheckPermission:") + caption + QString::fromUtf8(perm);
    EXPECT_EQ(log.calls, expected);

    // Hidden while loading; the usage list is built after the language component's turn.
    EXPECT_FALSE(at[QStringLiteral("LoadControlInfo")].visible);
    EXPECT_EQ(at[QStringLiteral("LoadControlInfo")].machTypeItems, 0);
    EXPECT_EQ(at[QStringLiteral("LoadControlInfo")].text2, QString());
    // Captions, direction box before ConnectA; columns after it.
    EXPECT_EQ(at[QStringLiteral("ConnectA")].machTypeItems, 1);
    EXPECT_EQ(at[QStringLiteral("ConnectA")].text2, QStringLiteral("小时"));
    EXPECT_EQ(at[QStringLiteral("ConnectA")].verItems, 2);
    EXPECT_EQ(at[QStringLiteral("ConnectA")].columns, 0);
    const Snapshot list = at[expected[5]];
    EXPECT_EQ(list.columns, 5);
    EXPECT_EQ(list.status, QStringLiteral("机器管理"));
    EXPECT_EQ(list.ports, 0);
    EXPECT_EQ(at[expected[7]].ports, 16);
    EXPECT_FALSE(at[expected[7]].visible);

    EXPECT_TRUE(w->isVisible());
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(language->project, QStringLiteral("Brackwater"));
    EXPECT_EQ(language->form, w);
    EXPECT_TRUE(language->connectionGiven);
    EXPECT_EQ(comboItems(w->CmbMachType), QStringList{QStringLiteral("计次")});
    EXPECT_EQ(comboItems(w->Cbo_Ver), (QStringList{QStringLiteral("进"), QStringLiteral("出")}));
    for (QLineEdit* t : {w->Text2, w->Text1, w->Text5})
        EXPECT_EQ(t->text(), QStringLiteral("小时"));
    for (QLineEdit* t : {w->Text3, w->Text4, w->Text6})
        EXPECT_EQ(t->text(), QStringLiteral("分钟"));
    for (int k = 0; k < 30; ++k) {
        EXPECT_EQ(w->TxtHour(k)->toolTip(), QStringLiteral("请输入“0-23”之间的数！"));
        EXPECT_EQ(w->TxtMin(k)->toolTip(), QStringLiteral("请输入“0-59”之间的数！"));
    }
    EXPECT_EQ(w->DTP_Date->date(), QDate::currentDate());
    EXPECT_LE(qAbs(w->DTP_Time->time().secsTo(QTime::currentTime())), 5);
}

TEST_F(WindowLoad, PermissionChecksGetTheHostsArguments) {
    state().CurrentUser = QStringLiteral("O'Brien");
    openWindow();
    ASSERT_EQ(permission->received.size(), 8);
    for (const auto& c : permission->received) {
        EXPECT_EQ(c.systemName, QStringLiteral("考勤系统"));
        EXPECT_EQ(c.user, QStringLiteral("O'Brien"));
        EXPECT_TRUE(c.omittedIsNull);
        EXPECT_TRUE(c.flag1);
        EXPECT_TRUE(c.flag2);
        EXPECT_TRUE(c.connectionGiven);
    }
    EXPECT_EQ(permission->received[0].functionName, QStringLiteral("计次餐饮.增加"));
}

TEST_F(WindowLoad, EmptyCaptionGivesBareFunctionNames) {
    state().CurrentCaption.clear();
    openWindow();
    ASSERT_EQ(permission->received.size(), 8);
    EXPECT_EQ(permission->received[0].functionName, QStringLiteral(".增加"));
    EXPECT_EQ(permission->received[7].functionName, QStringLiteral(".考勤机初始化"));
}

TEST_F(WindowLoad, UncreatablePermissionComponentStopsTheLoadFirst) {
    Registry::instance().unregisterClass(progid::Permission);
    F_Machine* w = openWindow();

    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("429:")));
    EXPECT_EQ(boxes.boxes[0].style, mb::OKOnly);
    EXPECT_EQ(boxes.boxes[0].title, QString());
    // Nothing else was asked of the host.
    EXPECT_TRUE(log.calls.isEmpty()) << log.calls.join(QLatin1Char('|')).toStdString();

    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->LVW_Machine->columnCount(), 0);
    EXPECT_EQ(w->LVW_Machine->topLevelItemCount(), 0);
    EXPECT_EQ(w->CmbMachType->count(), 0);
    EXPECT_EQ(w->CmbMachType->currentText(), QStringLiteral("计次"));
    EXPECT_EQ(w->Cbo_COM->count(), 0);
    // No check answered: every target of one stays taken away, through every toolbar state.
    w->SetTools(1);
    w->SetTools(2);
    for (const char* key : {"new", "edit", "loadrest", "dele", "Save"})
        EXPECT_FALSE(w->tool(QString::fromLatin1(key))->isEnabled()) << key;
    EXPECT_TRUE(w->tool(QStringLiteral("exit"))->isEnabled());
    for (QPushButton* b : {w->Cmd_Test, w->Cmd_DateTime, w->Cmd_Ring})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    for (QPushButton* b : {w->CmdGatherdata, w->Cmd_Ring_Num, w->Cmd_Ring_read})
        EXPECT_TRUE(b->isEnabled()) << b->objectName().toStdString();
}

TEST_F(WindowLoad, ErrorLaterInTheLoadKeepsWhatWasBuilt) {
    Registry::instance().unregisterClass(progid::DbTools);
    F_Machine* w = openWindow();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("429:")));
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->LVW_Machine->columnCount(), 0);
}

TEST_F(WindowLoad, MissingLanguageComponentIsReportedAsObjectNotSet) {
    state().language.reset();
    openWindow();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("91:")));
}

TEST_F(WindowLoad, NoConnectionFromTheHostUsesAnUnopenedOne) {
    dbTools->noConnection = true;
    F_Machine* w = openWindow();
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_TRUE(language->connectionGiven);
    ASSERT_EQ(permission->received.size(), 8);
    EXPECT_TRUE(permission->received[0].connectionGiven);
    EXPECT_EQ(w->Cbo_COM->count(), 16);
}

TEST_F(WindowLoad, EveryRefusedPermissionTakesItsTargetAway) {
    permission->refuseAll = true;
    F_Machine* w = openWindow();
    for (const char* key : {"new", "Save", "edit", "loadrest", "dele"})
        EXPECT_FALSE(w->tool(QString::fromLatin1(key))->isEnabled()) << key;
    // Untouched: "Cancel" as designed, "exit" available.
    EXPECT_FALSE(w->tool(QStringLiteral("Cancel"))->isEnabled());
    EXPECT_TRUE(w->tool(QStringLiteral("exit"))->isEnabled());
    EXPECT_FALSE(w->Cmd_Test->isEnabled());
    EXPECT_FALSE(w->Cmd_DateTime->isEnabled());
    EXPECT_FALSE(w->Cmd_Ring->isEnabled());
    EXPECT_TRUE(w->CmdGatherdata->isEnabled());
    EXPECT_TRUE(w->Cmd_Ring_Num->isEnabled());
    EXPECT_TRUE(w->Cmd_Ring_read->isEnabled());
}

TEST_F(WindowLoad, RefusedToolsStayUnavailableThroughEveryToolbarState) {
    permission->refuseAll = true;
    F_Machine* w = openWindow();
    // "new" then "cancel", "edit" then "save": editing then browsing.
    w->SetTools(1);
    EXPECT_FALSE(w->tool(QStringLiteral("Save"))->isEnabled());
    EXPECT_TRUE(w->tool(QStringLiteral("Cancel"))->isEnabled());
    for (const char* key : {"new", "edit", "loadrest", "dele", "exit"})
        EXPECT_FALSE(w->tool(QString::fromLatin1(key))->isEnabled()) << key;
    w->SetTools(2);
    for (const char* key : {"new", "Save", "edit", "loadrest", "dele", "Cancel"})
        EXPECT_FALSE(w->tool(QString::fromLatin1(key))->isEnabled()) << key;
    EXPECT_TRUE(w->tool(QStringLiteral("exit"))->isEnabled());
    // The buttons are not touched by the toolbar states.
    EXPECT_FALSE(w->Cmd_Test->isEnabled());
}

TEST_F(WindowLoad, OnlyTheRefusedToolIsKeptAway) {
    permission->refused = {state().CurrentCaption + QStringLiteral(".删除")};
    F_Machine* w = openWindow();
    EXPECT_EQ(w->refusedTools(), QStringList{QStringLiteral("dele")});
    w->SetTools(1);
    w->SetTools(2);
    EXPECT_FALSE(w->tool(QStringLiteral("dele"))->isEnabled());
    for (const char* key : {"new", "edit", "loadrest", "exit"})
        EXPECT_TRUE(w->tool(QString::fromLatin1(key))->isEnabled()) << key;
    EXPECT_TRUE(w->Cmd_Test->isEnabled());
}

TEST_F(WindowLoad, ToolRemovedByTheHostLocksNoOtherTool) {
    log.onCall = [this](const QString& call) { // after the language component's turn
        if (call == QStringLiteral("ConnectA"))
            delete static_cast<F_Machine*>(language->form)->tool(QStringLiteral("edit"));
    };
    F_Machine* w = openWindow();
    EXPECT_TRUE(boxes.boxes.isEmpty() && w->refusedTools().isEmpty());
    EXPECT_TRUE(w->tool(QStringLiteral("new"))->isEnabled() && w->Cmd_Ring->isEnabled());
}

TEST_F(WindowLoad, PortListIsCom1ToCom16InNumericOrder) {
    F_Machine* w = openWindow();
    EXPECT_EQ(comboItems(w->Cbo_COM), expectedPorts());
    EXPECT_EQ(w->Cbo_COM->itemText(1), QStringLiteral("COM2"));
}

TEST_F(WindowLoad, ColumnsAreFractionsOfTheListWidth) {
    F_Machine* w = openWindow();
    ASSERT_EQ(w->LVW_Machine->columnCount(), 5);
    const double width = w->LVW_Machine->width();
    const QList<double> fractions = {0.15, 0.3, 0.15, 0.25, 0.15};
    const QStringList keys = {QStringLiteral("Machine"), QStringLiteral("COM"),
                              QStringLiteral("MachDesc"), QStringLiteral("Team"),
                              QStringLiteral("Ver")};
    const QStringList headings = {QStringLiteral("机号"), QStringLiteral("串口|IP"),
                                  QStringLiteral("用途"), QStringLiteral("场所"),
                                  QStringLiteral("组别")};
    ASSERT_EQ(w->columnWidthsAtLoad().size(), 5);
    double sum = 0;
    for (int i = 0; i < 5; ++i) {
        EXPECT_DOUBLE_EQ(w->columnWidthsAtLoad()[i], width * fractions[i]);
        EXPECT_EQ(w->LVW_Machine->columnWidth(i), static_cast<int>(width * fractions[i]));
        EXPECT_EQ(w->columnKey(i), keys[i]);
        EXPECT_EQ(w->LVW_Machine->headerItem()->text(i), headings[i]);
        sum += w->columnWidthsAtLoad()[i];
    }
    EXPECT_NEAR(sum, width, 1e-9);
    EXPECT_TRUE(w->lvwReportView());
}

TEST_F(WindowLoad, ClosedWindowLoadsAfreshWithoutDuplicates) {
    F_Machine* first = openWindow();
    QPointer<F_Machine> gone(first);
    closeWindow(first);
    EXPECT_TRUE(gone.isNull()); // deleted on close

    log.calls.clear();
    permission->received.clear();
    state().CurrentUser = QStringLiteral("second");
    F_Machine* w = openWindow();
    EXPECT_EQ(w->LVW_Machine->columnCount(), 5);
    EXPECT_EQ(comboItems(w->Cbo_COM), expectedPorts());
    EXPECT_EQ(w->Cbo_Ver->count(), 2);
    EXPECT_EQ(w->CmbMachType->count(), 1);
    ASSERT_EQ(permission->received.size(), 8);
    EXPECT_EQ(permission->received[0].user, QStringLiteral("second"));
}

TEST_F(WindowLoad, ShowingALoadedWindowAgainDoesNotReload) {
    F_Machine* w = openWindow();
    log.calls.clear();
    w->showWindow();
    EXPECT_TRUE(log.calls.isEmpty());
    EXPECT_EQ(w->Cbo_COM->count(), 16);
}

TEST_F(WindowLoad, FirstShowOfAWindowLoadsIt) {
    auto* w = new F_Machine();
    window = w;
    w->show();
    EXPECT_TRUE(w->isLoaded());
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->Cbo_COM->count(), 16);
}

TEST_F(WindowLoad, ListFailureGoesToTheStatusLineNotABox) {
    dbTools->failQueryContaining = QStringLiteral("Order By MachAddr");
    F_Machine* w = openWindow();
    EXPECT_TRUE(boxes.boxes.isEmpty());
    EXPECT_EQ(w->Cbo_COM->count(), 16); // the load went on
    w->ListMachine();
    EXPECT_EQ(w->statusText(), QStringLiteral("错误:no such table: MachineInfo"));
}

} // namespace
} // namespace bw::windowtest

// Controls and arrangement of the window, toolbar states, input helpers, data collection.

#include "common/test_support.h"
#include "messages/catalogue.h"
#include "window/window_fixture.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimeEdit>
#include <QToolBar>
#include <QTreeWidget>

namespace bw::windowtest {
namespace {

using WindowLayout = WindowTest;

TEST_F(WindowLayout, ControlsCarryTheirDesignNamesAndTexts) {
    F_Machine w;
    EXPECT_EQ(w.windowTitle(), QStringLiteral("就餐机管理 (机型：6429) V5.2"));
    EXPECT_TRUE(w.testAttribute(Qt::WA_DeleteOnClose));
    struct Named {
        QWidget* widget;
        const char* name;
        const char* text;
    };
    const Named named[] = {
        {w.ActiveBar21, "ActiveBar21", nullptr},
        {w.LVW_Machine, "LVW_Machine", nullptr},
        {w.Fra_Fram1, "Fra_Fram1", nullptr},
        {w.Label1, "Label1", "机器号："},
        {w.Label2, "Label2", "串口或IP："},
        {w.Label5, "Label5", "场   所："},
        {w.Label10, "Label10", "用  途："},
        {w.Label11, "Label11", "组     别："},
        {w.Label4, "Label4", "标     志："},
        {w.Label3, "Label3", "日期："},
        {w.Label7, "Label7", "时间："},
        {w.Label8, "Label8", "考勤机日期和时间与操作系统一致"},
        {w.Label6, "Label6", "响铃次数："},
        {w.Label9, "Label9", "响铃时间："},
        {w.Cmd_Test, "Cmd_Test", "通讯测试"},
        {w.Cmd_DateTime, "Cmd_DateTime", "设置日期时间"},
        {w.CmdGatherdata, "CmdGatherdata", "采集就餐数据"},
        {w.Cmd_Ring, "Cmd_Ring", "设置闹铃时间"},
        {w.Cmd_Ring_Num, "Cmd_Ring_Num", "设置闹铃次数"},
        {w.Cmd_Ring_read, "Cmd_Ring_read", "读取闹铃设置"},
        {w.Txt_Machine, "Txt_Machine", ""},
        {w.TxtBellNum, "TxtBellNum", "0"},
        {w.Cbo_COM, "Cbo_COM", nullptr},
        {w.Cbo_Team, "Cbo_Team", nullptr},
        {w.CmbMachType, "CmbMachType", nullptr},
        {w.CmbGroup, "CmbGroup", nullptr},
        {w.Cbo_Ver, "Cbo_Ver", nullptr},
        {w.DTP_Date, "DTP_Date", nullptr},
        {w.DTP_Time, "DTP_Time", nullptr},
        {w.Chk_Same, "Chk_Same", nullptr},
        {w.Sta_Text, "Sta_Text", nullptr},
        {w.Sta_Panel1, "Sta_Panel1", nullptr},
        {w.Text1, "Text1", nullptr},
        {w.Text6, "Text6", nullptr},
    };
    for (const Named& n : named) {
        ASSERT_NE(n.widget, nullptr) << n.name;
        EXPECT_EQ(n.widget->objectName(), QString::fromLatin1(n.name));
        EXPECT_EQ(w.findChild<QWidget*>(QString::fromLatin1(n.name)), n.widget) << n.name;
        if (!n.text)
            continue;
        QString text;
        if (auto* l = qobject_cast<QLabel*>(n.widget))
            text = l->text();
        else if (auto* b = qobject_cast<QPushButton*>(n.widget))
            text = b->text();
        else if (auto* e = qobject_cast<QLineEdit*>(n.widget))
            text = e->text();
        EXPECT_EQ(text, QString::fromUtf8(n.text)) << n.name;
    }
    EXPECT_EQ(w.Txt_Machine->maxLength(), 3);
    EXPECT_TRUE(w.Cbo_COM->isEditable());
    EXPECT_EQ(w.Cbo_Team->currentText(), QStringLiteral("A"));
    EXPECT_EQ(w.CmbMachType->currentText(), QStringLiteral("计次"));
    EXPECT_EQ(w.statusBar(), w.Sta_Text);
    EXPECT_FALSE(w.ImgLst_MachineSmall.isNull());
    EXPECT_FALSE(w.ImgLst_MachineBig.isNull());
}

TEST_F(WindowLayout, ToolbarBandHoldsTheSevenTools) {
    F_Machine w;
    EXPECT_EQ(w.toolbarBand->objectName(), QStringLiteral("toolbar"));
    EXPECT_EQ(w.toolbarBand->windowTitle(), QStringLiteral("工具栏"));
    EXPECT_TRUE(w.ActiveBar21->isAncestorOf(w.toolbarBand));
    const QStringList keys = {"new", "edit", "Save", "Cancel", "loadrest", "dele", "exit"};
    const QStringList captions = {"增加", "编辑", "保存", "取消", "考勤机初始化", "删除", "退出"};
    const auto actions = w.toolbarBand->actions();
    ASSERT_EQ(actions.size(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(actions[i]->objectName(), keys[i]);
        EXPECT_EQ(actions[i]->text(), captions[i]);
        EXPECT_EQ(w.tool(keys[i]), actions[i]);
        EXPECT_EQ(actions[i]->isEnabled(), keys[i] != "Save" && keys[i] != "Cancel");
    }
    EXPECT_EQ(w.tool(QStringLiteral("save")), nullptr);
}

TEST_F(WindowLayout, HiddenSectionsStartHidden) {
    F_Machine w;
    for (QWidget* c : {static_cast<QWidget*>(w.Cbo_Ver), static_cast<QWidget*>(w.Label4),
                       static_cast<QWidget*>(w.DTP_Date), static_cast<QWidget*>(w.DTP_Time),
                       static_cast<QWidget*>(w.Chk_Same), static_cast<QWidget*>(w.Label8),
                       static_cast<QWidget*>(w.TxtBellNum), static_cast<QWidget*>(w.Cmd_Ring),
                       static_cast<QWidget*>(w.Cmd_Ring_Num),
                       static_cast<QWidget*>(w.Cmd_Ring_read), static_cast<QWidget*>(w.Text2)})
        EXPECT_TRUE(c->isHidden()) << c->objectName().toStdString();
    for (QWidget* c : {static_cast<QWidget*>(w.Txt_Machine), static_cast<QWidget*>(w.Cbo_COM),
                       static_cast<QWidget*>(w.CmbGroup), static_cast<QWidget*>(w.Cmd_Test),
                       static_cast<QWidget*>(w.CmdGatherdata)})
        EXPECT_FALSE(c->isHidden()) << c->objectName().toStdString();
    // Five rows top to bottom, the buttons under them in one column; list left of the frame.
    const QList<QWidget*> rows = {w.Txt_Machine, w.Cbo_COM,  w.Cbo_Team,     w.CmbMachType,
                                  w.CmbGroup,    w.Cmd_Test, w.Cmd_DateTime, w.CmdGatherdata};
    for (int i = 1; i < rows.size(); ++i)
        EXPECT_GT(rows[i]->y(), rows[i - 1]->y());
    EXPECT_EQ(w.Cmd_Test->x(), w.CmdGatherdata->x());
    // The direction box, when the usage shows it, covers none of the buttons.
    for (QPushButton* b : {w.Cmd_Test, w.Cmd_DateTime, w.CmdGatherdata})
        EXPECT_LT(b->geometry().bottom(), std::min(w.Cbo_Ver->y(), w.Label4->y()));
    EXPECT_LT(w.LVW_Machine->geometry().right(), w.Fra_Fram1->x());
}

TEST_F(WindowLayout, BellGridHasThreeBandsOfTen) {
    F_Machine w;
    for (int k = 0; k < 30; ++k) {
        QLineEdit* h = w.TxtHour(k);
        QLineEdit* m = w.TxtMin(k);
        EXPECT_EQ(h->maxLength(), 2);
        EXPECT_EQ(m->maxLength(), 2);
        EXPECT_EQ(h->text(), QStringLiteral("0"));
        EXPECT_EQ(m->text(), QStringLiteral("0"));
        EXPECT_EQ(h->x(), m->x());
        EXPECT_LT(h->y(), m->y());
        EXPECT_EQ(h->x(), w.TxtHour(k % 10)->x());
        EXPECT_EQ(h->y(), w.TxtHour((k / 10) * 10)->y());
        if (k % 10) {
            EXPECT_GT(h->x(), w.TxtHour(k - 1)->x());
        }
        if (k >= 10) {
            EXPECT_GT(h->y(), w.TxtMin(k - 10)->y());
        }
    }
    // Row captions band by band.
    EXPECT_EQ(w.Text2->y(), w.TxtHour(0)->y());
    EXPECT_EQ(w.Text3->y(), w.TxtMin(0)->y());
    EXPECT_EQ(w.Text1->y(), w.TxtHour(10)->y());
    EXPECT_EQ(w.Text4->y(), w.TxtMin(10)->y());
    EXPECT_EQ(w.Text5->y(), w.TxtHour(20)->y());
    EXPECT_EQ(w.Text6->y(), w.TxtMin(20)->y());
    EXPECT_THROW(w.TxtHour(30), std::out_of_range);
}

TEST_F(WindowLayout, ResizingMovesNoControl) {
    F_Machine* w = openWindow();
    QList<QWidget*> controls = {w->ActiveBar21, w->LVW_Machine, w->Fra_Fram1};
    for (QObject* o : w->Fra_Fram1->children())
        if (auto* c = qobject_cast<QWidget*>(o))
            controls << c;
    ASSERT_GT(controls.size(), 90);
    QList<QRect> before;
    for (QWidget* c : controls)
        before << c->geometry();
    w->resize(1400, 1000);
    QCoreApplication::processEvents();
    w->showMaximized();
    QCoreApplication::processEvents();
    w->showNormal();
    w->resize(300, 200);
    QCoreApplication::processEvents();
    for (int i = 0; i < controls.size(); ++i)
        EXPECT_EQ(controls[i]->geometry(), before[i]) << controls[i]->objectName().toStdString();
}

TEST_F(WindowLayout, SetToolsFollowsTheTable) {
    F_Machine* w = openWindow();
    auto states = [w] {
        QList<bool> out;
        for (const char* k : {"new", "edit", "Save", "Cancel", "loadrest", "dele", "exit"})
            out << w->tool(QString::fromLatin1(k))->isEnabled();
        return out;
    };
    w->SetTools(1);
    EXPECT_EQ(states(), (QList<bool>{false, false, true, true, false, false, false}));
    w->SetTools(0);
    w->SetTools(3);
    w->SetTools(-1);
    EXPECT_EQ(states(), (QList<bool>{false, false, true, true, false, false, false}));
    w->SetTools(2);
    EXPECT_EQ(states(), (QList<bool>{true, true, false, false, true, true, true}));
    w->SetTools(3);
    EXPECT_EQ(states(), (QList<bool>{true, true, false, false, true, true, true}));
}

TEST_F(WindowLayout, BellTimeBoxSelectsItsWholeTextOnFocus) {
    F_Machine* w = openWindow();
    QLineEdit* box = w->TxtHour(13);
    box->show(); // the host may show the bell section
    box->setText(QStringLiteral("12"));
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w, 2000));
    w->Txt_Machine->setFocus(Qt::OtherFocusReason);
    box->setFocus(Qt::OtherFocusReason);
    ASSERT_TRUE(box->hasFocus());
    EXPECT_EQ(box->selectedText(), QStringLiteral("12"));
    QTest::keyClick(box, Qt::Key_7);
    EXPECT_EQ(box->text(), QStringLiteral("7"));

    // A mouse press that gives the focus leaves the whole text selected too.
    QLineEdit* minute = w->TxtMin(29);
    minute->show();
    minute->setText(QStringLiteral("45"));
    QTest::mouseClick(minute, Qt::LeftButton, {}, QPoint(minute->width() - 3, 5));
    ASSERT_TRUE(minute->hasFocus());
    EXPECT_EQ(minute->selectedText(), QStringLiteral("45"));
    QTest::keyClick(minute, Qt::Key_5);
    EXPECT_EQ(minute->text(), QStringLiteral("5"));

    // Calling the focus handler directly does the same.
    w->TxtMin(0)->setText(QStringLiteral("30"));
    w->TxtMin_GotFocus(0);
    EXPECT_EQ(w->TxtMin(0)->selectedText(), QStringLiteral("30"));
}

TEST_F(WindowLayout, OtherBoxesDoNotSelectOnFocus) {
    F_Machine* w = openWindow();
    w->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(w, 2000));
    w->Txt_Machine->setText(QStringLiteral("12"));
    w->Cbo_COM->setFocus(Qt::OtherFocusReason);
    w->Txt_Machine->setFocus(Qt::OtherFocusReason);
    EXPECT_EQ(w->Txt_Machine->selectedText(), QString());
    w->Txt_Machine_KeyUp(Qt::Key_1, 0);
    EXPECT_EQ(w->Txt_Machine->text(), QStringLiteral("12"));
}

TEST_F(WindowLayout, GatherDataLaunchesTheCollectionComponent) {
    Registry::instance().registerClass(progid::DataCollection,
                                       [] { return std::make_shared<FakeGather>(); });
    F_Machine* w = openWindow();
    state().CurrentUser = QStringLiteral("operator1");
    w->CmdGatherdata_Click();
    w->CmdGatherdata->click();
    ASSERT_EQ(FakeGather::calls.size(), 2);
    for (int i = 0; i < 2; ++i) {
        const QVariantList& c = FakeGather::calls[i];
        EXPECT_EQ(c[0].toString(), QStringLiteral("operator1"));
        EXPECT_EQ(c[1].toString(), QStringLiteral("采集脱机数据"));
        EXPECT_EQ(c[2].toString(), QStringLiteral("计次餐饮.采集脱机数据"));
        EXPECT_EQ(c[3].typeId(), QMetaType::QDate);
        EXPECT_EQ(c[3].toDate(), QDate::currentDate());
        EXPECT_EQ(c[4].toInt(), i + 1); // created one at a time
        EXPECT_EQ(c[5].toInt(), i);     // the earlier one already released
    }
    EXPECT_EQ(FakeGather::released, 2);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(WindowLayout, GatherDataFailureIsANoticeAndTheWindowStays) {
    db.add({5, QStringLiteral("3"), QStringLiteral("*"), QStringLiteral("A"), QStringLiteral("G"),
            QStringLiteral("6429"), QStringLiteral("计次")});
    F_Machine* w = openWindow();
    const QString status = w->statusText();
    w->CmdGatherdata_Click();
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("429:")));
    EXPECT_EQ(boxes.boxes[0].style, mb::Information);
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("系统提示"));

    Registry::instance().registerClass(progid::DataCollection,
                                       [] { return std::make_shared<FakeGather>(); });
    FakeGather::fail = true;
    w->CmdGatherdata_Click();
    ASSERT_EQ(boxes.boxes.size(), 2);
    EXPECT_EQ(boxes.boxes[1].text, QStringLiteral("-2147418113:Catastrophic failure"));
    EXPECT_EQ(FakeGather::released, 1);
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(w->statusText(), status);
    EXPECT_EQ(w->Txt_Machine->text(), QStringLiteral("5"));
}

TEST_F(WindowLayout, ScreenshotIsAPng) {
    F_Machine* w = openWindow();
    const QString file = QDir(test::tempDir()).filePath(QStringLiteral("window.png"));
    ASSERT_TRUE(w->saveScreenshot(file));
    QImage image(file);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), w->size() * w->devicePixelRatio());
}

} // namespace
} // namespace bw::windowtest

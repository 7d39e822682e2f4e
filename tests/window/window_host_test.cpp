// The window over the host's own components: the ledger on a SQLite file with the demo
// data, the warden's grants and the lexicon.

#include "common/fakes.h"
#include "common/test_support.h"
#include "host/ledger/ledger.h"
#include "host/ledger/schema.h"
#include "host/lexicon/lexicon.h"
#include "platform/component_state.h"
#include "window/f_machine.h"

#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace bw::windowtest {
namespace {

class WindowHost : public ::testing::Test {
protected:
    void SetUp() override {
        resetState();
        const QString file = QDir(test::tempDir()).filePath(QStringLiteral("demo.sqlite"));
        store::SqlConnection(QStringLiteral("sqlite:") + file, store::Create::Yes);
        host::setConnectionString(QStringLiteral("sqlite:") + file);
        host::registerDbComponents();
        host::registerLexicon();
        auto cn = host::sharedConnection();
        ASSERT_TRUE(cn);
        host::createHostSchema(*cn, true);
        state().language = CreateObject<ILanguage>(progid::Language);
        state().CurrentUser = QStringLiteral("admin");
        state().CurrentCaption = QString::fromUtf8(host::kDemoCaption);
    }
    void TearDown() override {
        if (window) {
            window->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            delete window.data();
        }
        host::closeSharedConnection();
        host::setConnectionString(QString());
        resetState();
    }
    F_Machine* open() {
        auto* w = new F_Machine();
        window = w;
        w->showWindow();
        return w;
    }
    void execute(const QString& sql) { host::sharedConnection()->Execute(sql); }

    test::RecordingMessageBox boxes;
    QPointer<F_Machine> window;
};

TEST_F(WindowHost, DemoOperatorSeesEveryTerminalAndTool) {
    F_Machine* w = open();
    EXPECT_TRUE(boxes.boxes.isEmpty()) << boxes.lastText().toStdString();
    ASSERT_EQ(w->LVW_Machine->topLevelItemCount(), 3);
    EXPECT_EQ(w->LVW_Machine->topLevelItem(2)->text(1), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(w->LVW_Machine->topLevelItem(0)->text(1), QStringLiteral("1"));
    EXPECT_EQ(w->Txt_Machine->text(), QStringLiteral("1"));
    EXPECT_EQ(w->Cbo_COM->currentText(), QStringLiteral("COM1"));
    EXPECT_EQ(w->CmbGroup->count(), 2);
    EXPECT_EQ(w->CmbGroup->currentText(), QStringLiteral("一楼"));
    for (const char* key : {"new", "edit", "loadrest", "dele", "exit"})
        EXPECT_TRUE(w->tool(QString::fromLatin1(key))->isEnabled()) << key;
    EXPECT_TRUE(w->Cmd_Ring->isEnabled());

    w->LVW_Machine->setCurrentItem(w->LVW_Machine->topLevelItem(2));
    w->LVW_Machine_Click();
    EXPECT_EQ(w->Cbo_COM->currentText(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(w->CmbGroup->currentText(), QStringLiteral("二楼"));
    EXPECT_EQ(w->statusText(), QStringLiteral("当前机器：3  IP地址：127.0.0.1"));
}

TEST_F(WindowHost, GuestLosesTheToolsWithoutGrant) {
    state().CurrentUser = QStringLiteral("guest");
    F_Machine* w = open();
    for (const char* key : {"new", "Save", "edit", "loadrest", "dele"})
        EXPECT_FALSE(w->tool(QString::fromLatin1(key))->isEnabled()) << key;
    EXPECT_TRUE(w->tool(QStringLiteral("exit"))->isEnabled());
    EXPECT_TRUE(w->Cmd_Test->isEnabled());
    EXPECT_TRUE(w->Cmd_DateTime->isEnabled());
    EXPECT_FALSE(w->Cmd_Ring->isEnabled());
    w->SetTools(1);
    w->SetTools(2);
    EXPECT_FALSE(w->tool(QStringLiteral("dele"))->isEnabled());
    EXPECT_FALSE(w->tool(QStringLiteral("new"))->isEnabled());
}

TEST_F(WindowHost, TcpTerminalListedFirstKeepsItsAddressAndGroup) {
    execute(QStringLiteral("Update MachineInfo Set MachAddr=0 Where IP='127.0.0.1'"));
    F_Machine* w = open();
    EXPECT_EQ(w->Txt_Machine->text(), QStringLiteral("0"));
    EXPECT_EQ(w->Cbo_COM->currentText(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(w->CmbGroup->currentText(), QStringLiteral("二楼"));
    EXPECT_EQ(w->CmbMachType->currentText(), QStringLiteral("进出"));
    EXPECT_FALSE(w->Cbo_Ver->isHidden());
    EXPECT_EQ(state().CurrentComX, QStringLiteral("127.0.0.1"));
}

TEST_F(WindowHost, ScreenshotOfTheDemoWindow) {
    F_Machine* w = open();
    const QString file = qEnvironmentVariableIsSet("BW_WINDOW_SCREENSHOT")
                             ? qEnvironmentVariable("BW_WINDOW_SCREENSHOT")
                             : QDir(test::tempDir()).filePath(QStringLiteral("demo.png"));
    EXPECT_TRUE(w->saveScreenshot(file));
}

} // namespace
} // namespace bw::windowtest

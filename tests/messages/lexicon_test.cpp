// Placeholder filling through the default language component, and its translation of the
// window's design captions.

#include "host/lexicon/lexicon.h"
#include "messages/catalogue.h"
#include "platform/component_state.h"
#include "platform/error.h"
#include "platform/language.h"
#include "platform/registry.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QToolBar>
#include <gtest/gtest.h>
#include <memory>

using bw::host::Lexicon;
using bw::messages::text;

namespace {

const QString CR = QStringLiteral("\r");
const QString LF = QStringLiteral("\n");

class LexiconTest : public ::testing::Test {
protected:
    void SetUp() override {
        bw::resetState();
        bw::host::registerLexicon();
        bw::state().language = bw::CreateObject<bw::ILanguage>(bw::progid::Language);
    }
    void TearDown() override {
        bw::setUiLanguage(0);
        bw::resetState();
    }
    Lexicon lexicon;
};

} // namespace

TEST_F(LexiconTest, RegisteredUnderItsProgIdInAnyLetterCase) {
    auto obj = bw::CreateObject<bw::ILanguage>(u"quenby.LEXICON"_qs);
    ASSERT_TRUE(obj);
    EXPECT_NE(std::dynamic_pointer_cast<Lexicon>(obj), nullptr);
}

TEST_F(LexiconTest, Example1012WithTerminal5) {
    EXPECT_EQ(lexicon.ReplaceRes(text(1012, bw::LangSimplified), 1, u"5"_qs),
              u"机器:5增加成功！"_qs);
    EXPECT_EQ(lexicon.ReplaceRes(text(1012, bw::LangSimplified), 1, 5), u"机器:5增加成功！"_qs);
}

TEST_F(LexiconTest, TrailingTabOfTraditionalTextIsKept) {
    EXPECT_EQ(lexicon.ReplaceRes(text(1019, bw::LangTraditional), 1, u"12"_qs),
              u"考勤機12初始化成功!\t"_qs);
    EXPECT_EQ(lexicon.ReplaceRes(text(1046, bw::LangTraditional), 1, CR),
              u"錯誤：\r請選擇考勤機．．．\t"_qs);
}

TEST_F(LexiconTest, BarWithoutApostropheIsOrdinaryText) {
    EXPECT_EQ(lexicon.ReplaceRes(text(1057, bw::LangSimplified), 2, u"x"_qs, u"y"_qs),
              u"串口|IP"_qs);
    EXPECT_EQ(lexicon.ReplaceRes(u"a|01b'|01c"_qs, 1, u"Z"_qs), u"a|01bZc"_qs);
}

TEST_F(LexiconTest, EmptyValueRemovesThePlaceholder) {
    EXPECT_EQ(lexicon.ReplaceRes(text(1017, bw::LangSimplified), 1, QString()), u"考勤机"_qs);
    EXPECT_EQ(lexicon.ReplaceRes(text(1023, bw::LangSimplified), 1, u""_qs),
              u"机器:  初始化成功！"_qs);
    EXPECT_EQ(lexicon.ReplaceRes(text(1049, bw::LangSimplified), 2, QVariant(), QVariant()),
              u"错误：通讯口[]打开失败!"_qs);
}

TEST_F(LexiconTest, IntegerSecondValueInPlainDecimal) {
    short port = 3;
    EXPECT_EQ(lexicon.ReplaceRes(text(1049, bw::LangSimplified), 2, CR, port),
              u"错误：\r通讯口[3]打开失败!"_qs);
    port = 12;
    EXPECT_EQ(lexicon.ReplaceRes(text(1049, bw::LangSimplified), 2, CR, port),
              u"错误：\r通讯口[12]打开失败!"_qs);
    EXPECT_EQ(lexicon.ReplaceRes(text(1049, bw::LangTraditional), 2, CR, 12),
              u"錯誤：\r通訊口[12]打開失敗!"_qs);
}

TEST_F(LexiconTest, Id1099Shows14WhateverIsPassed) {
    EXPECT_EQ(lexicon.ReplaceRes(text(1099, bw::LangSimplified), 1, u"3"_qs),
              u"时间段:14设置有误,请核对!"_qs);
    EXPECT_EQ(lexicon.ReplaceRes(text(1099, bw::LangTraditional), 2, u"3"_qs, 7),
              u"時間段:14設置有誤,請核對!"_qs);
    EXPECT_EQ(lexicon.ReplaceRes(text(1098, bw::LangSimplified), 1, u"3"_qs),
              u"时间段:3设置有误,请核对!"_qs);
}

TEST_F(LexiconTest, CountOneLeavesTheSecondPlaceholder) {
    EXPECT_EQ(lexicon.ReplaceRes(text(1108, bw::LangSimplified), 1, CR, u"9"_qs),
              u"错误：\r机器号：'|02已经存在!"_qs);
    EXPECT_EQ(lexicon.ReplaceRes(text(1108, bw::LangSimplified), 2, CR, u"9"_qs),
              u"错误：\r机器号：9已经存在!"_qs);
}

TEST_F(LexiconTest, ValueThatLooksLikeAPlaceholderIsInsertedAsItIs) {
    EXPECT_EQ(lexicon.ReplaceRes(u"['|01]['|02]"_qs, 2, u"'|02"_qs, u"b"_qs), u"['|02][b]"_qs);
}

TEST_F(LexiconTest, VersionWarningHasThreeLines) {
    const QString filled =
        lexicon.ReplaceRes(text(1111, bw::LangSimplified), 2, LF, u"V6.20"_qs + LF);
    EXPECT_EQ(filled, u"系统检测出您所使用的考勤机动态库版本太低！\n当前版本为：V6.20\n"
                      u"请使用V7.3以上的版本，否则与考勤机通讯的部分功能将出错！"_qs);
}

TEST_F(LexiconTest, ReplaceGoesThroughTheSharedLanguageComponent) {
    bw::setUiLanguage(bw::LangSimplified);
    EXPECT_EQ(bw::messages::replace(1012, u"5"_qs), u"机器:5增加成功！"_qs);
    EXPECT_EQ(bw::messages::replace(1049, CR, 3), u"错误：\r通讯口[3]打开失败!"_qs);
    bw::setUiLanguage(bw::LangTraditional);
    EXPECT_EQ(bw::messages::replace(1019, u"5"_qs), u"考勤機5初始化成功!\t"_qs);
}

TEST_F(LexiconTest, ReplaceWithoutLanguageComponentRaisesObjectNotSet) {
    bw::state().language.reset();
    try {
        bw::messages::replace(1012, u"5"_qs);
        FAIL() << "no error";
    } catch (const bw::Error& e) {
        EXPECT_EQ(e.number(), bw::err::ObjectNotSet);
    }
}

TEST_F(LexiconTest, FillPlaceholdersWithoutSecondValueLeavesIt) {
    EXPECT_EQ(bw::messages::fillPlaceholders(u"'|01-'|02"_qs, u"a"_qs), u"a-'|02"_qs);
    EXPECT_EQ(bw::messages::fillPlaceholders(u"'|01-'|02"_qs, u"a"_qs, u"b"_qs), u"a-b"_qs);
    EXPECT_EQ(bw::messages::fillPlaceholders(u"'|01-'|02"_qs, 2, u"a"_qs, QString()), u"a-"_qs);
}

// ---- LoadControlInfo ----

namespace {

// A window carrying some of the design captions of the terminal-management window.
struct DesignForm {
    QMainWindow form;
    QToolBar* band;
    QAction* newTool;
    QAction* loadrest;
    QLabel* label1;
    QLabel* label5;
    QLabel* label8;
    QPushButton* test;
    QPushButton* gather;
    QGroupBox* frame;
    QLineEdit* other;
    QCheckBox* same;

    DesignForm() {
        form.setWindowTitle(u"就餐机管理 (机型：6429) V5.2"_qs);
        band = form.addToolBar(u"工具栏"_qs);
        newTool = band->addAction(u"增加"_qs);
        newTool->setObjectName(u"new"_qs);
        loadrest = band->addAction(u"考勤机初始化"_qs);
        loadrest->setObjectName(u"loadrest"_qs);
        auto* central = new QWidget(&form);
        form.setCentralWidget(central);
        frame = new QGroupBox(central);
        label1 = new QLabel(u"机器号："_qs, frame);
        label5 = new QLabel(u"场   所："_qs, frame);
        label8 = new QLabel(u"考勤机日期和时间与操作系统一致"_qs, frame);
        test = new QPushButton(u"通讯测试"_qs, frame);
        gather = new QPushButton(u"采集就餐数据"_qs, frame);
        other = new QLineEdit(u"A"_qs, frame);
        same = new QCheckBox(frame);
    }
};

} // namespace

TEST_F(LexiconTest, LoadControlInfoPutsCaptionsInto1028) {
    bw::setUiLanguage(bw::LangTraditional);
    DesignForm d;
    bw::ConnectionPtr cn;
    int result = 0;
    lexicon.LoadControlInfo(cn, u"Brackwater"_qs, &d.form, result);
    EXPECT_EQ(d.form.windowTitle(), u"就餐機管理 (機型：6429) V5.2"_qs);
    EXPECT_EQ(d.band->windowTitle(), u"工具欄"_qs);
    EXPECT_EQ(d.newTool->text(), u"增加"_qs);
    EXPECT_EQ(d.loadrest->text(), u"考勤機初始化"_qs);
    EXPECT_EQ(d.label1->text(), u"機器號："_qs);
    EXPECT_EQ(d.label5->text(), u"場   所："_qs);
    EXPECT_EQ(d.label8->text(), u"考勤機日期和時間與作業系統一致"_qs);
    EXPECT_EQ(d.test->text(), u"通訊測試"_qs);
    EXPECT_EQ(d.gather->text(), u"採集就餐資料"_qs);
    EXPECT_EQ(d.other->text(), u"A"_qs);
    EXPECT_TRUE(d.same->text().isEmpty());
    // A second pass changes nothing more.
    lexicon.LoadControlInfo(cn, u"Brackwater"_qs, &d.form, result);
    EXPECT_EQ(d.label1->text(), u"機器號："_qs);
}

TEST_F(LexiconTest, LoadControlInfoLeaves2052CaptionsAsDesigned) {
    bw::setUiLanguage(bw::LangSimplified);
    DesignForm d;
    bw::ConnectionPtr cn;
    int result = -1;
    lexicon.LoadControlInfo(cn, u"Brackwater"_qs, &d.form, result);
    EXPECT_EQ(d.form.windowTitle(), u"就餐机管理 (机型：6429) V5.2"_qs);
    EXPECT_EQ(d.band->windowTitle(), u"工具栏"_qs);
    EXPECT_EQ(d.loadrest->text(), u"考勤机初始化"_qs);
    EXPECT_EQ(d.label1->text(), u"机器号："_qs);
    EXPECT_EQ(d.gather->text(), u"采集就餐数据"_qs);
}

TEST_F(LexiconTest, LoadControlInfoAcceptsAnyForm) {
    bw::setUiLanguage(bw::LangTraditional);
    bw::ConnectionPtr cn;
    int result = 0;
    EXPECT_NO_THROW(lexicon.LoadControlInfo(cn, u"Brackwater"_qs, nullptr, result));
    QWidget bare;
    bw::host::setBellSectionShown(true);
    EXPECT_NO_THROW(lexicon.LoadControlInfo(cn, u"Brackwater"_qs, &bare, result));
    bw::host::setBellSectionShown(false);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(bare.children().size(), 0);
}

TEST_F(LexiconTest, StandardButtonsOfMessageBoxesSpeakTheOperatorsLanguage) {
    const struct {
        int lang;
        QMessageBox::StandardButton button;
        QString text;
    } cases[] = {
        {bw::LangSimplified, QMessageBox::Yes, u"是"_qs},
        {bw::LangSimplified, QMessageBox::No, u"否"_qs},
        {bw::LangSimplified, QMessageBox::Ok, u"确定"_qs},
        {bw::LangTraditional, QMessageBox::Ok, u"確定"_qs},
        {bw::LangTraditional, QMessageBox::No, u"否"_qs},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(bw::host::loadQtTexts(c.lang)) << c.lang;
        QMessageBox box;
        box.setStandardButtons(c.button);
        EXPECT_TRUE(box.button(c.button)->text().startsWith(c.text))
            << c.lang << " " << box.button(c.button)->text().toStdString();
    }
    EXPECT_FALSE(bw::host::loadQtTexts(0)); // Qt's own English again
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Yes);
    EXPECT_EQ(box.button(QMessageBox::Yes)->text(), u"&Yes"_qs);
}

TEST_F(LexiconTest, EveryDesignCaptionHasATraditionalText) {
    const QStringList captions{u"增加"_qs,
                               u"编辑"_qs,
                               u"保存"_qs,
                               u"取消"_qs,
                               u"考勤机初始化"_qs,
                               u"删除"_qs,
                               u"退出"_qs,
                               u"工具栏"_qs,
                               u"机器号："_qs,
                               u"串口或IP："_qs,
                               u"场   所："_qs,
                               u"用  途："_qs,
                               u"组     别："_qs,
                               u"标     志："_qs,
                               u"日期："_qs,
                               u"时间："_qs,
                               u"考勤机日期和时间与操作系统一致"_qs,
                               u"响铃次数："_qs,
                               u"响铃时间："_qs,
                               u"通讯测试"_qs,
                               u"设置日期时间"_qs,
                               u"采集就餐数据"_qs,
                               u"设置闹铃时间"_qs,
                               u"设置闹铃次数"_qs,
                               u"读取闹铃设置"_qs,
                               u"就餐机管理 (机型：6429) V5.2"_qs};
    for (const QString& c : captions) {
        const QString tw = Lexicon::traditionalCaption(c);
        EXPECT_FALSE(tw.isEmpty()) << c.toStdString();
        // The design's label widths hold a Taiwan word one character longer (序列埠 for 串口).
        EXPECT_LE(tw.size(), c.size() + 1) << c.toStdString();
    }
    EXPECT_TRUE(Lexicon::traditionalCaption(u"A"_qs).isNull());
}

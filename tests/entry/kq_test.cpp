// The component's entry: ShowA with its caller values, host components, the one window and
// the version check of the connect component.

#include "common/fakes.h"
#include "entry/kq.h"
#include "host/lexicon/lexicon.h"
#include "platform/component_state.h"
#include "platform/error.h"
#include "platform/language.h"
#include "platform/registry.h"
#include "window/f_machine.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

using namespace bw;

namespace {

// A connect component answering Ver with a set text (or raising an error from it).
class FakeConnect : public IConnect {
public:
    static inline QString version = QStringLiteral("V7.3");
    static inline bool verFails = false;
    static inline int verReads = 0;

    QString Ver() override {
        ++verReads;
        if (verFails)
            throw Error(err::NotSupported,
                        QStringLiteral("Object doesn't support this property or method"));
        return version;
    }
    void mode(short) override {}
    void IP(const QString&) override {}
    void tcpPort(short) override {}
    bool SetPort(short&) override { return false; }
    bool ClearRecord(QString&) override { return false; }
    bool ClearNameList(QString&) override { return false; }
    bool SetClock(short, std::array<VbDate, 11>&, short) override { return false; }
    void DestoryPort() override {}
};

class KQTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetState();
        setUiLanguage(LangSimplified);
        FakeConnect::version = QStringLiteral("V7.3");
        FakeConnect::verFails = false;
        FakeConnect::verReads = 0;
        Registry::instance().registerClass(progid::Connect,
                                           [] { return std::make_shared<FakeConnect>(); });
        host::registerLexicon();
        registerComponent();
        made = 0;
        shows = 0;
        KQ::setWindowFactory(
            [this] {
                ++made;
                auto* w = new QWidget();
                w->setAttribute(Qt::WA_DeleteOnClose);
                return w;
            },
            [this](QWidget* w) {
                ++shows;
                w->show();
            });
    }
    void TearDown() override {
        if (QWidget* w = KQ::window())
            delete w;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        KQ::setWindowFactory();
        Registry::instance().unregisterClass(progid::Connect);
        setUiLanguage(0);
        resetState();
    }

    // Calls ShowA on a component created by its ProgID, as the host does.
    void showA(const QVariant& user, const QVariant& caption = QStringLiteral("就餐管理")) {
        auto kq = CreateObject<IShowA>(progid::Component);
        QVariant u = user;
        QVariant title = QStringLiteral("标题");
        QVariant c = caption;
        QVariant date = QDate::currentDate();
        kq->ShowA(u, title, c, date);
    }

    static QString warningFor(const QString& ver) {
        return QStringLiteral("系统检测出您所使用的考勤机动态库版本太低！\n当前版本为：") + ver +
               QStringLiteral("\n请使用V7.3以上的版本，否则与考勤机通讯的部分功能将出错！");
    }

    test::RecordingMessageBox boxes;
    int made = 0;
    int shows = 0;
};

} // namespace

TEST_F(KQTest, RegisteredAsBrackwaterKQ) {
    auto obj = CreateObject<IShowA>(QStringLiteral("brackwater.kq"));
    ASSERT_TRUE(obj);
    EXPECT_NE(std::dynamic_pointer_cast<KQ>(obj), nullptr);
}

TEST_F(KQTest, Release7ShowsTheWindowWithoutABox) {
    for (const QString& ver : {QStringLiteral("V7.3"), QStringLiteral("v7.0"),
                               QStringLiteral("V7."), QStringLiteral("v7.99 beta")}) {
        FakeConnect::version = ver;
        boxes.clear();
        showA(QStringLiteral("张三"));
        EXPECT_TRUE(boxes.boxes.isEmpty()) << ver.toStdString();
        ASSERT_NE(KQ::window(), nullptr);
        EXPECT_TRUE(KQ::window()->isVisible());
    }
    EXPECT_EQ(made, 1);
}

TEST_F(KQTest, Release6GivesTheThreeLineWarning) {
    FakeConnect::version = QStringLiteral("V6.20");
    showA(QStringLiteral("张三"));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text,
              QStringLiteral("系统检测出您所使用的考勤机动态库版本太低！\n当前版本为：V6.20\n"
                             "请使用V7.3以上的版本，否则与考勤机通讯的部分功能将出错！"));
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("系统提示"));
    EXPECT_EQ(boxes.boxes[0].style, 0);
    // The window stays open behind the warning.
    ASSERT_NE(KQ::window(), nullptr);
    EXPECT_TRUE(KQ::window()->isVisible());
}

TEST_F(KQTest, EveryOtherVersionGivesTheWarning) {
    for (const QString& ver :
         {QStringLiteral("V8.0"), QStringLiteral("7.3"), QStringLiteral("v7"), QStringLiteral(""),
          QStringLiteral("V71"), QStringLiteral(" V7.3")}) {
        FakeConnect::version = ver;
        boxes.clear();
        showA(QStringLiteral("张三"));
        ASSERT_EQ(boxes.boxes.size(), 1) << ver.toStdString();
        EXPECT_EQ(boxes.boxes[0].text, warningFor(ver)) << ver.toStdString();
        EXPECT_EQ(boxes.boxes[0].style, 0);
        EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("系统提示"));
    }
}

TEST_F(KQTest, WarningIn1028UsesTheTraditionalTexts) {
    setUiLanguage(LangTraditional);
    FakeConnect::version = QStringLiteral("V6.20");
    showA(QStringLiteral("张三"));
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(boxes.boxes[0].text,
              QStringLiteral("系統檢測出您所使用的考勤機動態庫版本太低！\n當前版本爲：V6.20\n"
                             "請使用V7.3以上的版本，否則與考勤機通訊的部分功能將出錯！"));
    EXPECT_EQ(boxes.boxes[0].title, QStringLiteral("系統提示"));
}

TEST_F(KQTest, CallerValuesAndHostComponentsAreKept) {
    showA(QStringLiteral("张三"), QStringLiteral("餐饮系统"));
    EXPECT_EQ(state().CurrentUser, QStringLiteral("张三"));
    EXPECT_EQ(state().CurrentCaption, QStringLiteral("餐饮系统"));
    EXPECT_NE(std::dynamic_pointer_cast<FakeConnect>(state().connect), nullptr);
    EXPECT_NE(std::dynamic_pointer_cast<host::Lexicon>(state().language), nullptr);
}

TEST_F(KQTest, NonTextCallerValuesAreConverted) {
    showA(42, 12.5);
    EXPECT_EQ(state().CurrentUser, QStringLiteral("42"));
    EXPECT_EQ(state().CurrentCaption, QStringLiteral("12.5"));
    showA(QVariant(), QVariant());
    EXPECT_EQ(state().CurrentUser, QString());
}

TEST_F(KQTest, TitleAndSystemDateAreNotUsed) {
    auto kq = CreateObject<IShowA>(progid::Component);
    QVariant user = QStringLiteral("u");
    QVariant title;
    QVariant caption = QStringLiteral("c");
    QVariant date = QStringLiteral("not a date");
    EXPECT_NO_THROW(kq->ShowA(user, title, caption, date));
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(KQTest, TwoCallsWithDifferentUsersKeepTheSecond) {
    showA(QStringLiteral("first"));
    auto firstConnect = state().connect;
    QPointer<QWidget> window = KQ::window();
    showA(QStringLiteral("second"), QStringLiteral("另一个"));
    EXPECT_EQ(state().CurrentUser, QStringLiteral("second"));
    EXPECT_EQ(state().CurrentCaption, QStringLiteral("另一个"));
    // The host components are replaced, the open window is shown again unchanged.
    EXPECT_NE(state().connect, firstConnect);
    EXPECT_EQ(KQ::window(), window.data());
    EXPECT_EQ(made, 1);
    EXPECT_EQ(shows, 2);
}

TEST_F(KQTest, ClosedWindowIsMadeAfreshByTheNextCall) {
    showA(QStringLiteral("u"));
    QPointer<QWidget> first = KQ::window();
    ASSERT_TRUE(first);
    first->close();
    EXPECT_EQ(KQ::window(), nullptr);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()); // deleted on close
    showA(QStringLiteral("u"));
    ASSERT_NE(KQ::window(), nullptr);
    EXPECT_TRUE(KQ::window()->isVisible());
    EXPECT_EQ(made, 2);
}

TEST_F(KQTest, WindowClosedJustBeforeTheNextCallIsNotReused) {
    showA(QStringLiteral("u"));
    QPointer<QWidget> first = KQ::window();
    first->close(); // its deletion is still pending
    showA(QStringLiteral("u"));
    QPointer<QWidget> second = KQ::window();
    ASSERT_TRUE(second);
    EXPECT_NE(second.data(), first.data());
    EXPECT_EQ(made, 2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->isVisible());
}

TEST_F(KQTest, RefusedCloseKeepsTheWindow) {
    class Stubborn : public QWidget {
    protected:
        void closeEvent(QCloseEvent* e) override { e->ignore(); }
    };
    KQ::setWindowFactory([this] {
        ++made;
        return new Stubborn();
    });
    showA(QStringLiteral("u"));
    QWidget* first = KQ::window();
    EXPECT_FALSE(first->close());
    showA(QStringLiteral("u"));
    EXPECT_EQ(KQ::window(), first);
    EXPECT_EQ(made, 1);
}

TEST_F(KQTest, WindowWithoutDeleteOnCloseIsStillLoadedAfresh) {
    KQ::setWindowFactory([this] {
        ++made;
        return new QWidget();
    });
    showA(QStringLiteral("u"));
    QPointer<QWidget> first = KQ::window();
    first->close();
    showA(QStringLiteral("u"));
    EXPECT_NE(KQ::window(), first.data());
    EXPECT_EQ(made, 2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull());
}

TEST_F(KQTest, UnregisteredConnectComponentFailsWithoutAWindow) {
    Registry::instance().unregisterClass(progid::Connect);
    try {
        showA(QStringLiteral("u"));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::CannotCreateObject);
        EXPECT_TRUE(e.description().contains(QStringLiteral("Pellworth.Link")));
    }
    EXPECT_EQ(made, 0);
    EXPECT_EQ(KQ::window(), nullptr);
    EXPECT_TRUE(boxes.boxes.isEmpty());
    // The caller values were already taken.
    EXPECT_EQ(state().CurrentUser, QStringLiteral("u"));
    EXPECT_EQ(state().connect, nullptr);
}

TEST_F(KQTest, UnregisteredLanguageComponentFailsWithoutAWindow) {
    Registry::instance().unregisterClass(progid::Language);
    try {
        showA(QStringLiteral("u"));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::CannotCreateObject);
        EXPECT_TRUE(e.description().contains(QStringLiteral("Quenby.Lexicon")));
    }
    host::registerLexicon();
    EXPECT_EQ(made, 0);
    EXPECT_EQ(KQ::window(), nullptr);
}

TEST_F(KQTest, FailingVerLeavesTheWindowShownAndFailsTheCall) {
    FakeConnect::verFails = true;
    try {
        showA(QStringLiteral("u"));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::NotSupported);
    }
    ASSERT_NE(KQ::window(), nullptr);
    EXPECT_TRUE(KQ::window()->isVisible());
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

TEST_F(KQTest, VersionIsReadOnceMoreForTheWarning) {
    FakeConnect::version = QStringLiteral("V6.20");
    showA(QStringLiteral("u"));
    EXPECT_EQ(FakeConnect::verReads, 2);
    FakeConnect::verReads = 0;
    FakeConnect::version = QStringLiteral("V7.3");
    showA(QStringLiteral("u"));
    EXPECT_EQ(FakeConnect::verReads, 1);
}

TEST_F(KQTest, NullUserFailsBeforeAnythingIsCreated) {
    try {
        showA(QVariant::fromValue(nullptr));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.number(), err::InvalidUseOfNull);
    }
    EXPECT_EQ(state().connect, nullptr);
    EXPECT_EQ(made, 0);
}

TEST(KQVersionCheck, OnlyTheFirstThreeCharactersLowerCased) {
    EXPECT_TRUE(KQ::isSupportedVersion(QStringLiteral("V7.3")));
    EXPECT_TRUE(KQ::isSupportedVersion(QStringLiteral("v7.0")));
    EXPECT_TRUE(KQ::isSupportedVersion(QStringLiteral("V7.")));
    EXPECT_FALSE(KQ::isSupportedVersion(QStringLiteral("V8.0")));
    EXPECT_FALSE(KQ::isSupportedVersion(QStringLiteral("7.3")));
    EXPECT_FALSE(KQ::isSupportedVersion(QStringLiteral("v7")));
    EXPECT_FALSE(KQ::isSupportedVersion(QString()));
}

TEST_F(KQTest, DefaultWindowIsTheTerminalWindowAndItsLoadErrorsStayInside) {
    KQ::setWindowFactory();
    // No permission or database-tools component is registered: the window's load reports
    // that itself, and ShowA still succeeds.
    Registry::instance().unregisterClass(progid::Permission);
    Registry::instance().unregisterClass(progid::DbTools);
    EXPECT_NO_THROW(showA(QStringLiteral("u")));
    auto* window = qobject_cast<F_Machine*>(KQ::window());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("就餐机管理 (机型：6429) V5.2"));
    ASSERT_FALSE(boxes.boxes.isEmpty());
    EXPECT_TRUE(boxes.boxes[0].text.startsWith(QStringLiteral("429:")));
    // A second call shows the same window without loading it again.
    boxes.clear();
    showA(QStringLiteral("u"));
    EXPECT_EQ(KQ::window(), window);
    EXPECT_TRUE(boxes.boxes.isEmpty());
}

// Faulty terminals behind the real window: brackwater-sim in each of its fault modes on the
// pseudo-terminal (terminal 1, COM1) and on TCP (terminal 3), driven through the window's
// buttons and toolbar. Every command must end in its own message or status text, leave
// nothing half-written in the operation log, and leave the window fit for the next action:
// once a healthy simulator takes over the line, the same buttons succeed again.

#include "e2e/e2e_support.h"

#include "bell/serial_port.h"
#include "common/test_support.h"
#include "host/link/link.h"
#include "platform/component_state.h"
#include "window/bell_buttons.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using bw::test::Installation;

namespace {

const QString kNoticeTitle = QStringLiteral("系统提示");
constexpr int kInformation = 64;

// Catalogue texts as the operator sees them, placeholders filled.
const QString kTestFailed = QStringLiteral("机器:\r通讯测试失败!");                         // 1048
const QString kTestOk1 = QStringLiteral("机器:1通讯测试成功!");                             // 1047
const QString kReadTimeOut1 = QStringLiteral("机器:1通讯错误或者考勤机不支持本功能!");      // 1042
const QString kReadOk1 = QStringLiteral("机器:1读取闹铃点成功!");                           // 1044
const QString kReadFailed1 = QStringLiteral("机器:1读取闹铃点失败或者考勤机不支持本功能!"); // 1043
const QString kCountFailed1 =
    QStringLiteral("机器:1设置闹铃次数失败或者考勤机不支持本功能!");  // 1038
const QString kGroup3Failed = QStringLiteral("第三组设置闹铃不成功"); // 1033
const QString kGroup3Ok = QStringLiteral("第三组设置闹铃成功");       // 1032
const QString kPortNotOpened = QStringLiteral("通讯口打开失败!");     // 1027

// Lets the window and its timers run for ms milliseconds.
void pump(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

void fillBellTimes(bw::F_Machine* w) {
    for (int k = 0; k < 30; ++k) {
        w->TxtHour(k)->setText(QString::number(k % 24));
        w->TxtMin(k)->setText(QString::number((7 * k) % 60));
    }
}

// A terminal on TCP that answers the connect link's requests as a script says; requests are
// the clear requests (4 bytes) and the set-clock requests (24 bytes).
class ScriptedTcpTerminal {
public:
    using Answer = std::function<QByteArray(const QByteArray& request)>;

    explicit ScriptedTcpTerminal(Answer answer) : answer_(std::move(answer)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        socklen_t len = sizeof a;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::listen(listener_, 4) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~ScriptedTcpTerminal() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            ::close(listener_);
    }
    int port() const { return port_; }
    QList<QByteArray> requests() {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }

    static QByteArray ack(const QByteArray& request) { return request.left(3).append('\x06'); }
    static QByteArray nak(const QByteArray& request) { return request.left(3).append('\x15'); }

private:
    void run() {
        int client = -1;
        QByteArray buffer;
        while (!stop_) {
            pollfd p{client >= 0 ? client : listener_, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            if (client < 0) {
                client = ::accept(listener_, nullptr, nullptr);
                buffer.clear();
                continue;
            }
            char chunk[256];
            const ssize_t n = ::read(client, chunk, sizeof chunk);
            if (n <= 0) {
                ::close(client);
                client = -1;
                continue;
            }
            buffer.append(chunk, int(n));
            while (buffer.size() >= 2) {
                const int length = quint8(buffer[1]) == 0x09 ? 24 : 4;
                if (buffer.size() < length)
                    break;
                const QByteArray request = buffer.left(length);
                buffer.remove(0, length);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    requests_ << request;
                }
                const QByteArray reply = answer_(request);
                if (!reply.isEmpty() &&
                    ::write(client, reply.constData(), size_t(reply.size())) < 0)
                    break;
            }
        }
        if (client >= 0)
            ::close(client);
    }

    Answer answer_;
    int listener_ = -1;
    int port_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex mutex_;
    QList<QByteArray> requests_;
};

// A loopback port that nobody listens on (bound, then released).
int closedTcpPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

// The process id of an installation's simulator: the child of this process that runs with
// the installation's state file. 0 when there is none.
pid_t simulatorPid(const Installation& inst) {
    const QByteArray stateFile =
        (QFileInfo(inst.dbPath()).absolutePath() + QStringLiteral("/sim.json")).toLocal8Bit();
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool numeric = false;
        const int pid = entry.toInt(&numeric);
        if (!numeric)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        if (args.contains(stateFile) && args.contains(QByteArray("--state-file")))
            return pid;
    }
    return 0;
}

// Keeps a pseudo-terminal's number taken while it lives: once its simulator is gone the
// device stays, but cannot be opened, and no other program's pseudo-terminal gets its name.
class HeldDevice {
public:
    explicit HeldDevice(const QString& path)
        : fd_(::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK)) {}
    ~HeldDevice() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    HeldDevice(const HeldDevice&) = delete;
    HeldDevice& operator=(const HeldDevice&) = delete;
    bool ok() const { return fd_ >= 0; }

private:
    int fd_;
};

// Kills a process from another thread after a pause (for waits that process no events).
class DelayedKill {
public:
    DelayedKill(pid_t pid, int ms)
        : pid_(pid), thread_([pid, ms] {
              std::this_thread::sleep_for(std::chrono::milliseconds(ms));
              ::kill(pid, SIGKILL);
          }) {}
    // Returns once the simulator is really gone (its sockets and pseudo-terminal closed):
    // a killed process may take a moment to exit, and until then its listening socket
    // still completes connections.
    ~DelayedKill() {
        thread_.join();
        for (int i = 0; i < 500 && alive(pid_); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    DelayedKill(const DelayedKill&) = delete;
    DelayedKill& operator=(const DelayedKill&) = delete;

private:
    static bool alive(pid_t pid) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const int close = line.lastIndexOf(')');
        return close > 0 && close + 2 < line.size() && line[close + 2] != 'Z';
    }

    pid_t pid_;
    std::thread thread_;
};

class FaultLine : public ::testing::Test {
protected:
    void TearDown() override { inst.reset(); }

    bool open(const QStringList& simArguments) {
        inst = std::make_unique<Installation>(simArguments);
        w = inst->window();
        return inst->ok();
    }

    bw::host::Link& link() {
        auto* l = dynamic_cast<bw::host::Link*>(bw::state().connect.get());
        EXPECT_NE(l, nullptr);
        return *l;
    }

    int logCount(const QString& where) const {
        return inst->scalar(QStringLiteral("select count(*) as v from CtrlLog where ") + where)
            .toInt();
    }
    int failedEntries(const QString& addr) const {
        return logCount(QStringLiteral("ObjectA='考勤机%1' and ResultA='失败'").arg(addr));
    }
    int succeededEntries(const QString& addr) const {
        return logCount(QStringLiteral("ObjectA='考勤机%1' and ResultA='成功'").arg(addr));
    }
    int closingEntries(const QString& addr) const {
        return logCount(QStringLiteral("ActionA='机器: %1 初始化成功！'").arg(addr));
    }

    // Presses a button and checks that exactly one notice with this text came up. With
    // drainMs, waits that long after the press began so that a late reply has arrived
    // (and is discarded by the next command) before the next press.
    void pressExpecting(QPushButton* button, const QString& expected, int drainMs = 0) {
        inst->boxes().clear();
        QElapsedTimer t;
        t.start();
        if (button->isVisible())
            QTest::mouseClick(button, Qt::LeftButton);
        else
            button->click();
        // Every reply wait is bounded (3 s at most); a hang would show here.
        EXPECT_LT(t.elapsed(), 8000) << button->objectName().toStdString();
        ASSERT_EQ(inst->boxes().boxes.size(), 1) << button->objectName().toStdString();
        const auto& box = inst->boxes().boxes[0];
        EXPECT_EQ(box.text, expected) << button->objectName().toStdString();
        EXPECT_EQ(box.style, kInformation);
        EXPECT_EQ(box.title, kNoticeTitle);
        if (drainMs > t.elapsed())
            pump(int(drainMs - t.elapsed()));
    }

    // The four bell-link buttons against terminal 1 on COM1.
    // With readDrainMs the read waits that long for its own late reply, so that the count
    // command after it does not take the read's reply for its own.
    void bellButtons(const QString& test, const QString& dateTime, const QString& read,
                     const QString& count, int readDrainMs = 0) {
        ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));
        ASSERT_EQ(w->Cbo_COM->currentText(), QStringLiteral("COM1"));
        pressExpecting(w->Cmd_Test, test);
        pressExpecting(w->Cmd_DateTime, dateTime);
        for (int k = 0; k < 30; ++k) {
            w->TxtHour(k)->setText(QStringLiteral("x"));
            w->TxtMin(k)->setText(QStringLiteral("x"));
        }
        pressExpecting(w->Cmd_Ring_read, read, readDrainMs);
        if (read != kReadOk1) {
            // The fields were reset before the read and stay so.
            EXPECT_EQ(w->TxtBellNum->text(), QStringLiteral("0"));
            for (int k = 0; k < 30; ++k) {
                EXPECT_EQ(w->TxtHour(k)->text(), QStringLiteral("0")) << k;
                EXPECT_EQ(w->TxtMin(k)->text(), QStringLiteral("0")) << k;
            }
            EXPECT_EQ(w->statusText(), QStringLiteral("读取考勤机闹铃信息．．．"));
        }
        w->TxtBellNum->setText(QStringLiteral("7"));
        pressExpecting(w->Cmd_Ring_Num, count);
    }

    // Initialisation and bell-time download through the connect component, for terminal 1
    // (serial) and terminal 3 (TCP), against a line that never answers correctly in time:
    // the initialisation says it failed, logs "失败" and no closing entry; the
    // download shows the third group's failure and no box.
    void connectCommandsFail() {
        link().setTimeoutMs(150);
        for (const QString& addr : {QStringLiteral("1"), QStringLiteral("3")}) {
            SCOPED_TRACE(addr.toStdString());
            ASSERT_TRUE(inst->clickTerminal(addr));
            const int failed = failedEntries(addr);
            const int closing = closingEntries(addr);
            const int ok = succeededEntries(addr);
            inst->boxes().clear();
            inst->clickTool(QStringLiteral("loadrest"));
            ASSERT_EQ(inst->boxes().boxes.size(), 2) << inst->boxes().lastText().toStdString();
            EXPECT_EQ(inst->boxes().boxes[0].title, QStringLiteral("警告"));
            EXPECT_EQ(inst->boxes().lastText(), QStringLiteral("考勤机%1初始化失败!").arg(addr));
            EXPECT_EQ(failedEntries(addr), failed + 1);
            EXPECT_EQ(succeededEntries(addr), ok);
            EXPECT_EQ(closingEntries(addr), closing);
            EXPECT_FALSE(link().isOpen());

            inst->boxes().clear();
            fillBellTimes(w);
            w->Cmd_Ring->click();
            EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
            EXPECT_EQ(inst->boxes().beeps, 0);
            EXPECT_EQ(w->statusText(), kGroup3Failed);
            EXPECT_FALSE(link().isOpen());
        }
    }

    // A healthy simulator takes over COM1 and TCP port 1001: the window works again.
    void recoverWithHealthySimulator() {
        ASSERT_TRUE(healthy_.start(bw::test::program(QStringLiteral("brackwater-sim")),
                                   {QStringLiteral("--addr"), QStringLiteral("1,2,3"),
                                    QStringLiteral("--tcp"), QStringLiteral("127.0.0.1:0")},
                                   bw::test::tempDir() + QStringLiteral("/healthy.json")))
            << healthy_.error().toStdString();
        bw::bell::setDevicePath(1, healthy_.ptyPath());
        bw::host::setTcpPortMap(1001, healthy_.tcpPort());
        link().setTimeoutMs(3000);

        ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));
        pressExpecting(w->Cmd_Test, kTestOk1);
        pressExpecting(w->Cmd_Ring_read, kReadOk1);

        ASSERT_TRUE(inst->clickTerminal(QStringLiteral("3")));
        inst->boxes().clear();
        fillBellTimes(w);
        w->Cmd_Ring->click();
        EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
        EXPECT_EQ(w->statusText(), kGroup3Ok);
        EXPECT_EQ(healthy_.terminal(3)["groups"].toArray()[2].toArray()[9].toString(),
                  QStringLiteral("05:23"));
    }

    bw::sim::SimProcess healthy_; // outlives the installation's window
    std::unique_ptr<Installation> inst;
    bw::F_Machine* w = nullptr;
};

// ---- bell-link buttons in each fault mode ----

TEST_F(FaultLine, SilentTerminalBellButtons) {
    ASSERT_TRUE(open({QStringLiteral("--silent")})) << inst->error().toStdString();
    const QJsonObject before = inst->sim().terminal(1);
    bellButtons(kTestFailed, kTestFailed, kReadTimeOut1, kCountFailed1);
    // The terminal heard nothing it acted on.
    const QJsonObject after = inst->sim().terminal(1);
    EXPECT_EQ(after["bellCount"], before["bellCount"]);
    EXPECT_EQ(after["clockOffsetSecs"], before["clockOffsetSecs"]);
    recoverWithHealthySimulator();
}

TEST_F(FaultLine, PartialRepliesBellButtons) {
    // One byte of every reply: too short for every command.
    ASSERT_TRUE(open({QStringLiteral("--partial"), QStringLiteral("1")}))
        << inst->error().toStdString();
    bellButtons(kTestFailed, kTestFailed, kReadTimeOut1, kCountFailed1);
    recoverWithHealthySimulator();
}

TEST_F(FaultLine, ReadReplyOneByteShortIsATimeOutAndIsDiscardedByTheNextCommand) {
    ASSERT_TRUE(open({QStringLiteral("--partial"), QStringLiteral("130")}))
        << inst->error().toStdString();
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));
    pressExpecting(w->Cmd_Ring_read, kReadTimeOut1);
    // The 130 bytes left behind do not confuse the test that follows (its 2-byte reply
    // is whole under this fault).
    pressExpecting(w->Cmd_Test, kTestOk1);
}

TEST_F(FaultLine, WrongAddressBellButtons) {
    ASSERT_TRUE(open({QStringLiteral("--wrong-address")})) << inst->error().toStdString();
    // The read compares no byte of its reply, so the terminal's settings come through; the
    // other three commands see the wrong address and fail.
    bellButtons(kTestFailed, kTestFailed, kReadOk1, kCountFailed1);
    const QJsonObject t = inst->sim().terminal(1);
    const QJsonArray bells = t["bellTimes"].toArray();
    for (int k = 0; k < 30; ++k)
        EXPECT_EQ(w->TxtHour(k)->text() + QLatin1Char(':') + w->TxtMin(k)->text(),
                  bells[k].toString())
            << k;
    recoverWithHealthySimulator();
}

TEST_F(FaultLine, GarbageRepliesBellButtons) {
    ASSERT_TRUE(open({QStringLiteral("--garbage")})) << inst->error().toStdString();
    // Any 131 bytes make a read "succeed": the fields then show whatever came, two digits
    // each; the commands that check their reply all fail.
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));
    pressExpecting(w->Cmd_Test, kTestFailed);
    pressExpecting(w->Cmd_DateTime, kTestFailed);
    pressExpecting(w->Cmd_Ring_read, kReadOk1);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^[0-9]{2}$")).match(w->TxtBellNum->text()).hasMatch())
        << w->TxtBellNum->text().toStdString();
    const QRegularExpression hex(QStringLiteral("^[0-9A-F]{2}$"));
    for (int k = 0; k < 30; ++k) {
        EXPECT_TRUE(hex.match(w->TxtHour(k)->text()).hasMatch()) << k;
        EXPECT_TRUE(hex.match(w->TxtMin(k)->text()).hasMatch()) << k;
    }
    w->TxtBellNum->setText(QStringLiteral("7"));
    pressExpecting(w->Cmd_Ring_Num, kCountFailed1);
    recoverWithHealthySimulator();
}

TEST_F(FaultLine, LateRepliesBellButtons) {
    // Every reply 3.3 s late: beyond the test's 0.5 s, the date-time's 2 s and the read's
    // and count's 3 s. The late replies of the test and the date-time land during the read's
    // wait (too few bytes to end it); the read's own reply is let in before the count.
    ASSERT_TRUE(open({QStringLiteral("--delay"), QStringLiteral("3300")}))
        << inst->error().toStdString();
    bellButtons(kTestFailed, kTestFailed, kReadTimeOut1, kCountFailed1, 3600);
    recoverWithHealthySimulator();
}

TEST_F(FaultLine, BellButtonsRefuseATcpTerminal) {
    ASSERT_TRUE(open({QStringLiteral("--silent")})) << inst->error().toStdString();
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("3")));
    const QString refused = QStringLiteral("机器:3暂不支持TCPIP方式的此功能!"); // 1035
    pressExpecting(w->Cmd_Test, refused);
    pressExpecting(w->Cmd_DateTime, refused);
    pressExpecting(w->Cmd_Ring_read, refused);
    pressExpecting(w->Cmd_Ring_Num, refused);
}

// ---- connect-component commands in each fault mode ----

TEST_F(FaultLine, SilentTerminalConnectCommands) {
    ASSERT_TRUE(open({QStringLiteral("--silent")})) << inst->error().toStdString();
    const QJsonObject before1 = inst->sim().terminal(1);
    const QJsonObject before3 = inst->sim().terminal(3);
    connectCommandsFail();
    // Nothing reached the terminals' memory.
    EXPECT_EQ(inst->sim().terminal(1)["records"], before1["records"]);
    EXPECT_EQ(inst->sim().terminal(3)["nameListSize"], before3["nameListSize"]);
    EXPECT_EQ(inst->sim().terminal(1)["groups"], before1["groups"]);
    EXPECT_EQ(inst->sim().terminal(3)["groups"], before3["groups"]);
    recoverWithHealthySimulator();
}

TEST_F(FaultLine, PartialRepliesConnectCommands) {
    ASSERT_TRUE(open({QStringLiteral("--partial"), QStringLiteral("3")}))
        << inst->error().toStdString();
    connectCommandsFail();
    recoverWithHealthySimulator();
}

TEST_F(FaultLine, WrongAddressConnectCommands) {
    ASSERT_TRUE(open({QStringLiteral("--wrong-address")})) << inst->error().toStdString();
    connectCommandsFail();
    recoverWithHealthySimulator();
}

TEST_F(FaultLine, GarbageRepliesConnectCommands) {
    ASSERT_TRUE(open({QStringLiteral("--garbage")})) << inst->error().toStdString();
    connectCommandsFail();
    recoverWithHealthySimulator();
}

TEST_F(FaultLine, LateRepliesConnectCommands) {
    ASSERT_TRUE(open({QStringLiteral("--delay"), QStringLiteral("1500")}))
        << inst->error().toStdString();
    connectCommandsFail(); // 150 ms time-out, replies 1.5 s late
    recoverWithHealthySimulator();
}

// ---- ports that cannot be opened, and terminals that refuse part of the work ----

TEST_F(FaultLine, PortsThatCannotBeOpened) {
    ASSERT_TRUE(open({})) << inst->error().toStdString();
    const QString missing = bw::test::tempDir() + QStringLiteral("/no-such-device");
    bw::bell::setDevicePath(1, missing);
    bw::host::setTcpPortMap(1001, closedTcpPort());

    for (const QString& addr : {QStringLiteral("1"), QStringLiteral("3")}) {
        SCOPED_TRACE(addr.toStdString());
        ASSERT_TRUE(inst->clickTerminal(addr));
        const int failed = failedEntries(addr);
        inst->boxes().clear();
        inst->clickTool(QStringLiteral("loadrest"));
        ASSERT_EQ(inst->boxes().boxes.size(), 2);
        EXPECT_EQ(inst->boxes().boxes[1].text, QStringLiteral("考勤机%1通讯口打开失败!").arg(addr));
        EXPECT_EQ(inst->boxes().boxes[1].style, kInformation);
        EXPECT_EQ(inst->boxes().boxes[1].title, kNoticeTitle);
        EXPECT_EQ(failedEntries(addr), failed + 1);
        EXPECT_EQ(closingEntries(addr), 0);

        inst->boxes().clear();
        w->setStatus(QString());
        w->Cmd_Ring->click();
        EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
        EXPECT_EQ(inst->boxes().beeps, 1);
        EXPECT_EQ(w->statusText(), kPortNotOpened);
    }

    // The bell link on the missing device.
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));
    pressExpecting(w->Cmd_Test, QStringLiteral("错误：\r通讯口[1]打开失败!"));     // 1049
    pressExpecting(w->Cmd_DateTime, QStringLiteral("错误：\r通讯口[1]打开失败!")); // 1049
    pressExpecting(w->Cmd_Ring_read, kPortNotOpened);                              // 1045

    // The count button opens the port itself: first the fault box titled 1110, then 1038.
    inst->boxes().clear();
    w->TxtBellNum->setText(QStringLiteral("3"));
    w->Cmd_Ring_Num->click();
    ASSERT_EQ(inst->boxes().boxes.size(), 2);
    EXPECT_TRUE(inst->boxes().boxes[0].text.startsWith(QStringLiteral("8002")))
        << inst->boxes().boxes[0].text.toStdString();
    EXPECT_EQ(inst->boxes().boxes[0].style, 0);
    EXPECT_EQ(inst->boxes().boxes[0].title, QStringLiteral("设置响铃次数"));
    EXPECT_EQ(inst->boxes().boxes[1].text, kCountFailed1);

    // The simulator is still there: mapping it back makes everything work again.
    bw::bell::setDevicePath(1, inst->sim().ptyPath());
    bw::host::setTcpPortMap(1001, inst->sim().tcpPort());
    pressExpecting(w->Cmd_Test, kTestOk1);
    inst->boxes().clear();
    inst->clickTool(QStringLiteral("loadrest"));
    ASSERT_EQ(inst->boxes().boxes.size(), 2);
    EXPECT_EQ(inst->boxes().boxes[1].text, QStringLiteral("考勤机1初始化成功!"));
    EXPECT_EQ(closingEntries(QStringLiteral("1")), 1);
}

TEST_F(FaultLine, NameListRefusedAfterRecordsCleared) {
    ASSERT_TRUE(open({})) << inst->error().toStdString();
    ScriptedTcpTerminal terminal([](const QByteArray& r) {
        return quint8(r[2]) == 0x02 ? ScriptedTcpTerminal::nak(r) : ScriptedTcpTerminal::ack(r);
    });
    ASSERT_GT(terminal.port(), 0);
    bw::host::setTcpPortMap(1001, terminal.port());

    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("3")));
    const int failed = failedEntries(QStringLiteral("3"));
    inst->boxes().clear();
    inst->clickTool(QStringLiteral("loadrest"));
    ASSERT_EQ(inst->boxes().boxes.size(), 2);
    EXPECT_EQ(inst->boxes().boxes[1].text, QStringLiteral("考勤机3初始化失败!")); // 1021
    EXPECT_EQ(inst->boxes().boxes[1].style, kInformation);
    EXPECT_EQ(failedEntries(QStringLiteral("3")), failed + 1);
    EXPECT_EQ(closingEntries(QStringLiteral("3")), 0);
    const QList<QByteArray> requests = terminal.requests();
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[0].toHex(), QByteArray("030a0108"));
    EXPECT_EQ(requests[1].toHex(), QByteArray("030a020b"));
}

TEST_F(FaultLine, BellGroupsRefusedOneByOne) {
    ASSERT_TRUE(open({})) << inst->error().toStdString();
    // Group 1 and group 3 refused, group 2 taken: every group is still sent, and the status
    // line ends with the third group's result.
    ScriptedTcpTerminal terminal([](const QByteArray& r) {
        if (quint8(r[1]) == 0x09 && quint8(r[2]) != 2)
            return ScriptedTcpTerminal::nak(r);
        return ScriptedTcpTerminal::ack(r);
    });
    ASSERT_GT(terminal.port(), 0);
    bw::host::setTcpPortMap(1001, terminal.port());

    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("3")));
    fillBellTimes(w);
    w->Cmd_Ring->click();
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(w->statusText(), kGroup3Failed);
    QList<QByteArray> requests = terminal.requests();
    ASSERT_EQ(requests.size(), 3);
    for (int g = 0; g < 3; ++g)
        EXPECT_EQ(quint8(requests[g][2]), g + 1);

    // The same with only group 3 taken.
    ScriptedTcpTerminal second([](const QByteArray& r) {
        return quint8(r[2]) == 3 ? ScriptedTcpTerminal::ack(r) : ScriptedTcpTerminal::nak(r);
    });
    bw::host::setTcpPortMap(1001, second.port());
    w->Cmd_Ring->click();
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(w->statusText(), kGroup3Ok);
    EXPECT_EQ(second.requests().size(), 3);
}

// ---- the line going away in the middle of an exchange ----

TEST_F(FaultLine, SerialDeviceGoneDuringARead) {
    ASSERT_TRUE(open({QStringLiteral("--silent")})) << inst->error().toStdString();
    HeldDevice device(inst->sim().ptyPath());
    ASSERT_TRUE(device.ok());
    const pid_t pid = simulatorPid(*inst);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));

    // The read waits up to 3 s, processing the window's events: the timer fires in there.
    bool killed = false;
    QTimer::singleShot(300, [&] {
        ::kill(pid, SIGKILL);
        killed = true;
    });
    pressExpecting(w->Cmd_Ring_read, kReadFailed1);
    EXPECT_TRUE(killed);
    EXPECT_FALSE(w->bellButtons().busy());

    // The device is gone: the buttons say the port cannot be opened.
    pressExpecting(w->Cmd_Test, QStringLiteral("错误：\r通讯口[1]打开失败!"));
    inst->boxes().clear();
    inst->clickTool(QStringLiteral("loadrest"));
    ASSERT_EQ(inst->boxes().boxes.size(), 2);
    EXPECT_EQ(inst->boxes().boxes[1].text, QStringLiteral("考勤机1通讯口打开失败!"));
    EXPECT_EQ(closingEntries(QStringLiteral("1")), 0);

    recoverWithHealthySimulator();
}

TEST_F(FaultLine, SerialDeviceGoneDuringInitialisation) {
    // Replies 1.5 s late; the simulator dies 0.7 s into the command, while the connect
    // component waits for the reply to its clear request.
    ASSERT_TRUE(open({QStringLiteral("--delay"), QStringLiteral("1500")}))
        << inst->error().toStdString();
    HeldDevice device(inst->sim().ptyPath());
    ASSERT_TRUE(device.ok());
    const pid_t pid = simulatorPid(*inst);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("1")));
    const int failed = failedEntries(QStringLiteral("1"));
    inst->boxes().clear();
    QElapsedTimer t;
    t.start();
    {
        DelayedKill kill(pid, 700);
        inst->clickTool(QStringLiteral("loadrest"));
    }
    EXPECT_LT(t.elapsed(), 8000);
    ASSERT_EQ(inst->boxes().boxes.size(), 2) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(inst->boxes().lastText(), QStringLiteral("考勤机1初始化失败!"));
    EXPECT_EQ(failedEntries(QStringLiteral("1")), failed + 1);
    EXPECT_EQ(closingEntries(QStringLiteral("1")), 0);
    EXPECT_FALSE(link().isOpen());

    // Now the port cannot be opened at all.
    inst->boxes().clear();
    w->Cmd_Ring->click();
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(inst->boxes().beeps, 1);
    EXPECT_EQ(w->statusText(), kPortNotOpened);

    recoverWithHealthySimulator();
}

TEST_F(FaultLine, TcpTerminalGoneDuringADownload) {
    ASSERT_TRUE(open({QStringLiteral("--delay"), QStringLiteral("1500")}))
        << inst->error().toStdString();
    const pid_t pid = simulatorPid(*inst);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("3")));
    fillBellTimes(w);
    inst->boxes().clear();
    QElapsedTimer t;
    t.start();
    {
        DelayedKill kill(pid, 700);
        w->Cmd_Ring->click();
    }
    EXPECT_LT(t.elapsed(), 15000);
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(w->statusText(), kGroup3Failed);
    EXPECT_FALSE(link().isOpen());

    // Nobody listens any more: the initialisation cannot open its connection.
    inst->boxes().clear();
    inst->clickTool(QStringLiteral("loadrest"));
    ASSERT_EQ(inst->boxes().boxes.size(), 2);
    EXPECT_EQ(inst->boxes().boxes[1].text, QStringLiteral("考勤机3通讯口打开失败!"));
    EXPECT_EQ(closingEntries(QStringLiteral("3")), 0);

    recoverWithHealthySimulator();
}

} // namespace

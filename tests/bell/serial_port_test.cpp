#include "bell/serial_port.h"

#include "bell/bell_frame.h"
#include "bell/bell_link.h"
#include "bell/device_port.h"
#include "bell/line_diagnosis.h"
#include "bell/memory_line.h"
#include "bell/ninth_bit.h"
#include "bell_test_support.h"
#include "common/fakes.h"
#include "common/test_support.h"
#include "platform/language.h"
#include "pty_terminal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace bw::bell;
using bw::test::hex;

namespace {

int faultOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const bw::Error& e) {
        return e.number();
    }
    return 0;
}

} // namespace

// ---- line settings ----

TEST(LineSettings, ParsesTheSettingsTexts) {
    const auto a = LineSettings::parse(QStringLiteral("19200,n,8,2"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->baud, 19200);
    EXPECT_EQ(a->parity, 'n');
    EXPECT_EQ(a->stopBits, 2);
    EXPECT_EQ(a->text(), QStringLiteral("19200,n,8,2"));
    for (const char* p : {"n", "e", "o", "m", "s", "S"})
        EXPECT_TRUE(LineSettings::parse(QStringLiteral("9600,%1,8,1").arg(QLatin1String(p))));
    for (const char* bad :
         {"", "19200", "19200,x,8,1", "19200,n,9,1", "19200,n,8,3", "abc,n,8,1", "19200,n,8,1,1"})
        EXPECT_FALSE(LineSettings::parse(QLatin1String(bad))) << bad;
}

TEST(LineSettings, NinthBitOfEachParity) {
    const auto addr = *LineSettings::parse(frame::AddressSetting);
    const auto data = *LineSettings::parse(frame::DataSetting);
    for (int b = 0; b < 256; ++b) {
        EXPECT_TRUE(addr.ninthBit(static_cast<quint8>(b)));
        EXPECT_FALSE(data.ninthBit(static_cast<quint8>(b)));
    }
    const auto even = *LineSettings::parse(QStringLiteral("9600,e,8,1"));
    const auto odd = *LineSettings::parse(QStringLiteral("9600,o,8,1"));
    const auto mark = *LineSettings::parse(QStringLiteral("9600,m,8,1"));
    EXPECT_TRUE(even.ninthBit(0x01));
    EXPECT_FALSE(even.ninthBit(0x03));
    EXPECT_FALSE(odd.ninthBit(0x01));
    EXPECT_TRUE(odd.ninthBit(0x03));
    EXPECT_TRUE(mark.ninthBit(0x00));
}

// ---- device paths and the factory ----

TEST(DevicePath, DefaultEnvironmentAndOverride) {
    clearDevicePaths();
    qunsetenv("BW_COM3");
    EXPECT_EQ(devicePath(1), QStringLiteral("/dev/ttyS0"));
    EXPECT_EQ(devicePath(3), QStringLiteral("/dev/ttyS2"));
    qputenv("BW_COM3", "/dev/pts/5");
    EXPECT_EQ(devicePath(3), QStringLiteral("/dev/pts/5"));
    setDevicePath(3, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(devicePath(3), QStringLiteral("/dev/ttyUSB0"));
    setDevicePath(3, QString());
    EXPECT_EQ(devicePath(3), QStringLiteral("/dev/pts/5"));
    setNoDevice(3); // no guess, not even the environment's
    EXPECT_EQ(devicePath(3), QString());
    setDevicePath(3, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(devicePath(3), QStringLiteral("/dev/ttyUSB0"));
    qunsetenv("BW_COM3");
    clearDevicePaths();
}

// The one framing of a request: the address byte with the ninth bit set, the rest clear.
TEST(NinthBit, TheAddressByteAloneCarriesIt) {
    auto line = MemoryLine::create();
    auto port = line->makePort();
    port->setPortOpen(true);
    ninth::send(*port, hex("05 0A 02 0D"));
    EXPECT_EQ(bw::test::wire(line->written()), QStringLiteral("05' 0A 02 0D"));
    const QBitArray bits = ninth::bits(hex("05 0A 02 0D"));
    EXPECT_EQ(bits.size(), 4);
    EXPECT_TRUE(bits.testBit(0));
    EXPECT_EQ(bits.count(true), 1);
}

TEST(PortFactory, DefaultIsTheRealPortAndCanBeReplaced) {
    setPortFactory(nullptr);
    auto real = makePort();
    EXPECT_NE(dynamic_cast<DevicePort*>(real.get()), nullptr);
    auto line = MemoryLine::create();
    setPortFactory(line->factory());
    auto mem = makePort();
    EXPECT_NE(dynamic_cast<MemoryPort*>(mem.get()), nullptr);
    // Each window gets a port of its own.
    EXPECT_NE(makePort().get(), mem.get());
    setPortFactory(nullptr);
}

// ---- the operations' rules, on the in-memory port ----

TEST(MemoryPort, OperationsAndTheirFaults) {
    auto line = MemoryLine::create();
    auto port = line->makePort();
    EXPECT_FALSE(port->portOpen());
    EXPECT_EQ(port->commPort(), 1);
    port->discardReceived(); // nothing happens on a closed port
    port->discardUnsent();
    EXPECT_EQ(faultOf([&] { port->output("x"); }), serr::DeviceNotOpen);
    EXPECT_EQ(faultOf([&] { port->input(); }), serr::DeviceNotOpen);
    EXPECT_EQ(faultOf([&] { port->inBufferCount(); }), serr::DeviceNotOpen);
    EXPECT_EQ(faultOf([&] { port->setSettings(QStringLiteral("fast")); }), serr::InvalidValue);
    EXPECT_EQ(faultOf([&] { port->setCommPort(0); }), serr::InvalidPort);
    port->setCommPort(4);
    port->setPortOpen(true);
    EXPECT_EQ(faultOf([&] { port->setPortOpen(true); }), serr::PortAlreadyOpen);
    EXPECT_EQ(faultOf([&] { port->setCommPort(5); }), serr::PortAlreadyOpen);

    line->inject(hex("01 02 03 04 05"));
    EXPECT_EQ(port->inBufferCount(), 5);
    port->setInputLen(3);
    EXPECT_EQ(port->input(), hex("01 02 03"));
    EXPECT_EQ(port->input(), QByteArray()); // fewer than the read length wait
    port->setInputLen(0);
    EXPECT_EQ(port->input(), hex("04 05"));

    line->inject(hex("AA"), 60);
    EXPECT_EQ(port->inBufferCount(), 0);
    EXPECT_TRUE(port->waitForInput(2000));
    EXPECT_EQ(port->inBufferCount(), 1);
    port->discardReceived();
    EXPECT_EQ(port->inBufferCount(), 0);
    EXPECT_FALSE(port->waitForInput(20));
}

// ---- the real port against a pseudo-terminal ----

class RealPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(term.ok());
        setDevicePath(7, term.path());
    }
    void TearDown() override { clearDevicePaths(); }
    bw::test::PtyTerminal term{bw::test::PtyTerminal::Options{{1, 5}, false, 0, -1, false}};
};

TEST_F(RealPortTest, OpensByPortNumberAndTakesSpaceParityOnAPseudoTerminal) {
    DevicePort port;
    port.setCommPort(7);
    port.setSettings(frame::AddressSetting);
    port.setPortOpen(true);
    EXPECT_TRUE(port.portOpen());
    EXPECT_EQ(port.device(), term.path());
    port.setSettings(frame::DataSetting); // accepted although the device cannot report PARENB
    port.setSettings(QStringLiteral("19200,m,8,1"));
    port.setSettings(QStringLiteral("19200,e,8,1"));
    port.setPortOpen(false);
    EXPECT_FALSE(port.portOpen());
}

// The lock files other programs used, in folders every user may write in.
QStringList oldLockPaths(const QString& device) {
    const QString name = "LCK.." + device.mid(5).replace('/', '_');
    return {"/var/lock/" + name, "/run/lock/" + name};
}

// A name with no device behind it is a fault of its own, and nothing is made in a lock folder
// for it: a name that is not there, and a node whose open fails as a serial port's without
// hardware does (a pseudo-terminal not unlocked: EIO).
TEST_F(RealPortTest, MissingDeviceIsAFaultWithoutALockFile) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    const QString locked = QString::fromLocal8Bit(::ptsname(master));
    const struct {
        QString path, reason;
        int fault;
    } rows[] = {{"/dev/does-not-exist-bw", "No such file or directory", serr::InvalidPort},
                {locked, "Input/output error", serr::HardwareNotAvailable}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path.toStdString());
        setDevicePath(9, row.path);
        DevicePort port;
        port.setCommPort(9);
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        for (const char* dir : {"/var/lock", "/run/lock"})
            ::inotify_add_watch(watch, dir, IN_ALL_EVENTS);
        auto trace = bw::test::RecordingTraceSink::install(); // the system's reason is noted
        EXPECT_EQ(faultOf([&] { port.setPortOpen(true); }), row.fault);
        bw::trace::setSink(nullptr);
        EXPECT_EQ(trace->lines,
                  QStringList{"COM9 note cannot open " + row.path + " (" + row.reason + ")"});
        EXPECT_FALSE(port.portOpen());
        EXPECT_EQ(port.openFailure().kind, OpenFailure::Kind::CannotOpen);
        EXPECT_EQ(port.openFailure().reason, row.reason);
        EXPECT_EQ(faultOf([&] { port.output("x"); }), serr::DeviceNotOpen);
        char events[4096];
        EXPECT_LT(::read(watch, events, sizeof events), 0); // nothing looked at in a lock folder
        ::close(watch);
    }
    ::close(master);
}

// A COM number the settings name without a device opens nothing, on the bell link as on any.
TEST_F(RealPortTest, NoDeviceForTheNumberOpensNothing) {
    setNoDevice(7);
    BellLink link(std::make_unique<DevicePort>());
    EXPECT_FALSE(link.OpenBellPort(7));
    EXPECT_FALSE(link.port().portOpen());
    EXPECT_EQ(link.openFailure().kind, OpenFailure::Kind::NoDevice);
    EXPECT_TRUE(link.openFault().startsWith(QStringLiteral("8002:")));
}

// Who holds the line is named by the kernel. Whatever another user leaves at the old lock
// paths (/var/lock, /run/lock) neither keeps the line nor is touched, and nothing waits on it
// (the alarm fails a row that would hang). The window program's thread neither waits nor
// handles an event meanwhile.
TEST_F(RealPortTest, AHeldLineIsBusy) {
    const struct {
        QByteArray make;
        int at;         // 0: the device, 1 and 2: the old lock paths
        QString holder; // its name, "(pid N)" added; none: the line is free
    } rows[] = {{"port", 0, "test_bell"}, {"flock", 0, "flock"}, {"fifo", 1, {}},
                {"fifo", 2, {}},          {"file", 1, {}},       {"empty", 2, {}},
                {"link", 1, {}},          {"dir", 2, {}},        {"flock", 1, {}}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.make.data());
        ::alarm(20);
        const QString at = r.at == 0 ? term.path() : oldLockPaths(term.path())[r.at - 1];
        const QByteArray path = QFile::encodeName(at);
        DevicePort mine, port;
        mine.setCommPort(7), port.setCommPort(7);
        QProcess flock; // holds its lock until killed
        if (r.make == "file" || r.make == "empty" || (r.make == "flock" && r.at > 0)) {
            QFile f(at); // a live process's number, as a UUCP lock file holds it
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(r.make == "empty" ? QByteArray() : QByteArray::number(::getppid()));
        }
        if (r.make == "flock")
            flock.start("flock", {"-o", at, "-c", "echo; read x"}), flock.waitForReadyRead();
        if (r.make == "port")
            mine.setPortOpen(true);
        if (r.make == "fifo")
            ::mkfifo(path, 0666);
        if (r.make == "dir")
            ::mkdir(path, 0777);
        if (r.make == "link")
            ::symlink("/dev/null", path);
        struct stat before {};
        ::lstat(path, &before);
        const qint64 pid = r.make == "flock" ? flock.processId() : ::getpid();
        bool delivered = false;
        QTimer::singleShot(0, [&] { delivered = true; });
        try {
            port.setPortOpen(true);
            EXPECT_TRUE(r.holder.isEmpty());
        } catch (const bw::Error& e) {
            EXPECT_TRUE(
                e.description().endsWith(QString("held by %1 (pid %2))").arg(r.holder).arg(pid)))
                << e.description().toStdString();
            EXPECT_EQ(port.openFailure().kind, OpenFailure::Kind::Busy);
        }
        EXPECT_FALSE(delivered);
        struct stat after {};
        if (r.at > 0) { // untouched: the same node, neither read nor written
            ASSERT_EQ(::lstat(path, &after), 0);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_atim.tv_nsec, before.st_atim.tv_nsec);
            EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        }
        QCoreApplication::processEvents();
        mine.setPortOpen(false), port.setPortOpen(false), flock.close();
        if (r.at > 0)
            r.make == "dir" ? ::rmdir(path) : ::unlink(path);
        ::alarm(0);
    }
}

// Another user swapping a FIFO and a file at the old lock path while the line is opened
// again and again: every open works the line, none hangs (the alarm).
TEST_F(RealPortTest, ARacingFifoAtTheOldLockPathHangsNothing) {
    const QByteArray path = QFile::encodeName(oldLockPaths(term.path())[0]);
    std::atomic_bool stop{false};
    std::thread swapper([&] {
        while (!stop) {
            ::unlink(path), ::mkfifo(path, 0666);
            ::unlink(path), ::close(::open(path, O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        }
    });
    ::alarm(30);
    BellLink link(std::make_unique<DevicePort>());
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(link.OpenBellPort(7)) << i;
        EXPECT_TRUE(link.TestBellLink(5)) << i;
    }
    ::alarm(0);
    stop = true;
    swapper.join();
    ::unlink(path);
}

TEST_F(RealPortTest, AllFourCommands) {
    term.setBells(hex("08 30 12 00"), 5);
    BellLink link(std::make_unique<DevicePort>());
    ASSERT_TRUE(link.OpenBellPort(7));
    EXPECT_TRUE(link.TestBellLink(5));
    EXPECT_FALSE(link.port().portOpen());

    ASSERT_TRUE(link.OpenBellPort(7));
    EXPECT_TRUE(link.SetMachDateTime(1, QDateTime(QDate(2011, 12, 31), QTime(23, 59, 58))));
    EXPECT_EQ(term.lastDateTime(), hex("11 12 31 23 59 58"));

    ASSERT_TRUE(link.OpenBellPort(7));
    const QString text = link.ReadBellSettings(1);
    ASSERT_EQ(text.size(), 122) << text.toStdString();
    EXPECT_TRUE(text.startsWith(QStringLiteral("0508301200")));
    link.CloseBellPort();

    EXPECT_TRUE(link.SetBellCount(1, 9)); // opens the closed port on its number, 7
    EXPECT_EQ(term.bellCount(), 9);
    link.CloseBellPort();

    const auto reqs = term.requests();
    ASSERT_EQ(reqs.size(), 4);
    EXPECT_EQ(reqs[0], hex("05 02 55 52"));
    EXPECT_EQ(reqs[1], hex("01 08 15 11 12 31 23 59 58 0C"));
    EXPECT_EQ(reqs[2], hex("01 03 10 12 00"));
    EXPECT_EQ(reqs[3], hex("01 04 3E 09 32 00"));
}

TEST_F(RealPortTest, TimeOutsAndLeftovers) {
    BellLink link(std::make_unique<DevicePort>());
    ASSERT_TRUE(link.OpenBellPort(7));
    term.setPartial(130);
    EXPECT_EQ(link.ReadBellSettings(1), BellLink::WaitTimeOut);
    term.setPartial(-1);
    EXPECT_TRUE(link.TestBellLink(1)); // the 130 bytes were discarded first

    term.setSilent(true);
    ASSERT_TRUE(link.OpenBellPort(7));
    EXPECT_FALSE(link.TestBellLink(1));
    EXPECT_TRUE(link.port().portOpen());
    EXPECT_FALSE(link.TestBellLink(9)); // nobody there
}

// Bytes the device received before a wait began, and the port has not read yet, are new to
// the wait: it returns at once with them rather than waiting for more that never come.
TEST_F(RealPortTest, BytesThatCameBeforeTheWaitEndIt) {
    DevicePort port;
    port.setCommPort(7);
    port.setPortOpen(true);
    ninth::send(port, hex("05 02 55 52"));
    QThread::msleep(100); // the terminal answers meanwhile
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(port.waitForInput(1000));
    EXPECT_EQ(port.input(), hex("05 55"));
}

// A 3-second wait blocks on the device rather than spinning.
TEST_F(RealPortTest, WaitingForASilentTerminalCostsLittleProcessorTime) {
    term.setSilent(true);
    BellLink link(std::make_unique<DevicePort>());
    ASSERT_TRUE(link.OpenBellPort(7));
    const std::clock_t c0 = std::clock();
    EXPECT_EQ(link.ReadBellSettings(1), BellLink::WaitTimeOut);
    const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
    EXPECT_LT(cpu, 1.5); // far below a busy loop's 3 s
}

// ---- what a line is and what is likely wrong with it ----

namespace diag = bw::bell::diag;

// Trials whose outcome a row gives.
struct GivenTrials : diag::LineTrials {
    explicit GivenTrials(diag::MarkSpace m = diag::MarkSpace::Kept, diag::Echo e = diag::Echo::None,
                         diag::Drain d = diag::Drain::OnTime)
        : m(m), e(e), d(d) {}
    diag::MarkSpace m;
    diag::Echo e;
    diag::Drain d;
    diag::MarkSpace markSpace() override { return m; }
    diag::Echo echo() override { return e; }
    diag::Drain drain() override { return d; }
};

// Device trees recorded from real adapters, with and without trials on the line.
TEST(LineDiagnosis, RecordedAdaptersAndTheirRisks) {
    using A = diag::Advice;
    const struct {
        const char *tree, *device;
        diag::Kind kind;
        const char *driver, *id;
        std::optional<GivenTrials> trials;
        QList<A> advice;
    } rows[] = {
        {"ftdi", "ttyUSB0", diag::Kind::Usb, "ftdi_sio", "0403:6001", {}, {A::LatencyTimer}},
        {"ch340", "ttyUSB0", diag::Kind::Usb, "ch341-uart", "1a86:7523", {}, {A::Unknown}},
        {"ch344", "ttyACM0", diag::Kind::Usb, "cdc_acm", "1a86:55d5", {}, {A::MarkSpaceIgnored}},
        {"cp210x", "ttyUSB0", diag::Kind::Usb, "cp210x", "10c4:ea60", {}, {A::Unknown}},
        {"pl2303", "ttyUSB0", diag::Kind::Usb, "pl2303", "067b:2303", {}, {A::DrainEarly}},
        {"onboard", "ttyS0", diag::Kind::Onboard, "serial", ":", {}, {A::Unknown}},
        {"onboard", "ttyBW9", diag::Kind::Other, "", ":", {}, {A::NoDevice}},
        // The trials show the line sound on the chip's risk, or find what the tree cannot.
        {"ch344",
         "ttyACM0",
         diag::Kind::Usb,
         "cdc_acm",
         "1a86:55d5",
         GivenTrials(diag::MarkSpace::Kept, diag::Echo::NinthBitKept),
         {A::Unknown}},
        {"ch344",
         "ttyACM0",
         diag::Kind::Usb,
         "cdc_acm",
         "1a86:55d5",
         GivenTrials(diag::MarkSpace::Kept, diag::Echo::NinthBitLost),
         {A::EchoLosesNinthBit, A::MarkSpaceIgnored}},
        {"pl2303", "ttyUSB0", diag::Kind::Usb, "pl2303", "067b:2303", GivenTrials(), {A::Unknown}},
        {"ch340",
         "ttyUSB0",
         diag::Kind::Usb,
         "ch341-uart",
         "1a86:7523",
         GivenTrials(diag::MarkSpace::Kept, diag::Echo::None, diag::Drain::Early),
         {A::DrainEarly}},
        {"cp210x",
         "ttyUSB0",
         diag::Kind::Usb,
         "cp210x",
         "10c4:ea60",
         GivenTrials(diag::MarkSpace::Refused),
         {A::MarkSpaceRefused}},
    };
    for (auto r : rows) {
        SCOPED_TRACE(std::string(r.tree) + " " + r.device);
        const diag::SysfsTree sys(bw::test::sourceDir() + "/tests/bell/sysfs/" + r.tree);
        const diag::Report rep =
            diag::diagnose(QString("/dev/") + r.device, sys, r.trials ? &*r.trials : nullptr);
        EXPECT_EQ(rep.facts.kind, r.kind);
        EXPECT_EQ(rep.facts.driver, QLatin1String(r.driver));
        EXPECT_EQ(rep.facts.vendorId + ':' + rep.facts.productId, QLatin1String(r.id));
        EXPECT_EQ(rep.advice.mid(0, r.advice.size()), r.advice);
    }
    const diag::SysfsTree ftdi(bw::test::sourceDir() + "/tests/bell/sysfs/ftdi");
    const diag::Facts f = diag::facts("/dev/ttyUSB0", ftdi);
    EXPECT_EQ(f.product, "FT232R USB UART");
    EXPECT_EQ(f.latencyMs, 16);
    // The 8250 driver's port without hardware is no device of this computer.
    EXPECT_EQ(diag::SysfsTree(bw::test::sourceDir() + "/tests/bell/sysfs/onboard").ttys(),
              QStringList{"ttyS0"});
    const diag::Report ch344 =
        diag::diagnose("/dev/ttyACM0",
                       diag::SysfsTree(bw::test::sourceDir() + "/tests/bell/sysfs/ch344"), nullptr);
    EXPECT_TRUE(diag::operatorText(ch344, bw::LangSimplified).contains(u"此芯片声称"));
    EXPECT_TRUE(diag::operatorText(ch344, bw::LangTraditional).contains(u"晶片聲稱"));
}

// On a pseudo-terminal the line is named for what it is; the trials themselves run on it and
// find no echo (nothing answers address 0) and mark and space parity taken.
TEST_F(RealPortTest, DiagnosisOfAPseudoTerminal) {
    const diag::Report r = diag::diagnose(term.path(), diag::SysfsTree(), nullptr);
    EXPECT_EQ(r.facts.kind, diag::Kind::PseudoTerminal);
    EXPECT_EQ(r.markSpace, diag::MarkSpace::NotApplicable);
    EXPECT_EQ(r.advice, QList<diag::Advice>{diag::Advice::PseudoTerminal});
    DevicePort port;
    port.setCommPort(7);
    port.setPortOpen(true);
    diag::PortTrials trials(port);
    EXPECT_EQ(trials.markSpace(), diag::MarkSpace::Kept);
    EXPECT_EQ(trials.echo(), diag::Echo::None);
    EXPECT_EQ(port.settings(), ninth::DataSetting);
}

#include "bell/serial_port.h"

#include "bell/bell_frame.h"
#include "bell/bell_link.h"
#include "bell/memory_line.h"
#include "bell/ninth_bit.h"
#include "bell/qt_serial_port.h"
#include "bell_test_support.h"
#include "common/fakes.h"
#include "pty_terminal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLockFile>
#include <QProcess>
#include <QTimer>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <termios.h>
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
    EXPECT_NE(dynamic_cast<QtSerialPort*>(real.get()), nullptr);
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
    QtSerialPort port;
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

// A name with no device behind it is a fault of its own, and no lock file is made for it: a
// name that is not there, and a node whose open fails as a serial port's without hardware does
// (a pseudo-terminal not unlocked: EIO).
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
        QtSerialPort port;
        port.setCommPort(9);
        const QString lockFile = bw::qtSerialLockPath(row.path);
        const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ASSERT_GE(watch, 0);
        ASSERT_GE(
            ::inotify_add_watch(watch, QFile::encodeName(QFileInfo(lockFile).path()), IN_CREATE),
            0);
        auto trace = bw::test::RecordingTraceSink::install(); // the system's reason is noted
        EXPECT_EQ(faultOf([&] { port.setPortOpen(true); }), row.fault);
        bw::trace::setSink(nullptr);
        EXPECT_EQ(trace->lines,
                  QStringList{"COM9 note cannot open " + row.path + " (" + row.reason + ")"});
        EXPECT_FALSE(port.portOpen());
        EXPECT_EQ(port.openFailure().kind, OpenFailure::Kind::CannotOpen);
        EXPECT_EQ(port.openFailure().reason, row.reason);
        EXPECT_EQ(faultOf([&] { port.output("x"); }), serr::DeviceNotOpen);
        // Nothing was made where Qt's port keeps its lock file.
        alignas(inotify_event) char events[4096];
        const ssize_t got = ::read(watch, events, sizeof events);
        for (ssize_t at = 0; at < got;) {
            const auto* e = reinterpret_cast<const inotify_event*>(events + at);
            EXPECT_NE(QFileInfo(lockFile).fileName(), QString::fromLocal8Bit(e->name));
            at += ssize_t(sizeof(inotify_event)) + e->len;
        }
        ::close(watch);
    }
    ::close(master);
}

// A COM number the settings name without a device opens nothing, on the bell link as on any.
TEST_F(RealPortTest, NoDeviceForTheNumberOpensNothing) {
    setNoDevice(7);
    BellLink link(std::make_unique<QtSerialPort>());
    EXPECT_FALSE(link.OpenBellPort(7));
    EXPECT_FALSE(link.port().portOpen());
    EXPECT_EQ(link.openFailure().kind, OpenFailure::Kind::NoDevice);
    EXPECT_TRUE(link.openFault().startsWith(QStringLiteral("8002:")));
}

// Who holds the line is named by the kernel. Nothing another user leaves where the lock file
// used to be (/run/lock) keeps the line; a file that is no lock where Qt's lock file goes is
// named. The window program's thread
// neither waits (the alarm fails a row that would) nor handles an event meanwhile.
TEST_F(RealPortTest, AHeldLineIsBusy) {
    const QString old = "/run/lock/brackwater-LCK.." + term.path().mid(5).replace('/', '_');
    const QString qt = bw::qtSerialLockPath(term.path());
    const struct {
        QByteArray make;
        QString at, holder; // holder: its name, "(pid N)" added; none: the line is free
    } rows[] = {{"port", {}, "test_bell"},
                {"qt", qt, "test_bell"},
                {"flock", term.path(), "flock"},
                {"fifo", qt, "the file " + qt},
                {"fifo", old, {}},
                {"dir", old, {}},
                {"link", old, {}},
                {"flock", old, {}}};
    for (const auto& r : rows) {
        ::alarm(20);
        QtSerialPort mine, port;
        mine.setCommPort(7), port.setCommPort(7);
        QLockFile qtLock(qt);
        QProcess flock; // holds its lock until killed
        if (r.make == "flock")
            flock.start("flock", {"-o", r.at, "-c", "echo; read x"}), flock.waitForReadyRead();
        if (r.make == "port")
            mine.setPortOpen(true);
        EXPECT_TRUE(r.make != "qt" || qtLock.tryLock(0));
        if (r.make == "fifo" || r.make == "dir" || r.make == "link")
            r.make == "fifo"  ? ::mkfifo(r.at.toUtf8(), 0666)
            : r.make == "dir" ? ::mkdir(r.at.toUtf8(), 0777)
                              : ::symlink("/dev/null", r.at.toUtf8());
        const qint64 pid = r.make == "flock" ? flock.processId() : ::getpid();
        const QString named =
            r.holder.contains(' ') ? r.holder : QString("%1 (pid %2)").arg(r.holder).arg(pid);
        bool delivered = false;
        QTimer::singleShot(0, [&] { delivered = true; });
        try {
            port.setPortOpen(true);
            EXPECT_TRUE(r.holder.isEmpty()) << r.make.data();
        } catch (const bw::Error& e) {
            EXPECT_TRUE(e.description().endsWith("held by " + named + ")"))
                << e.description().toStdString();
            EXPECT_EQ(port.openFailure().kind, OpenFailure::Kind::Busy);
        }
        EXPECT_FALSE(delivered);
        QCoreApplication::processEvents();
        mine.setPortOpen(false), port.setPortOpen(false), qtLock.unlock(), flock.close();
        ::remove(old.toUtf8()), ::remove(qt.toUtf8());
        ::alarm(0);
    }
}

TEST_F(RealPortTest, AllFourCommands) {
    term.setBells(hex("08 30 12 00"), 5);
    BellLink link(std::make_unique<QtSerialPort>());
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
    BellLink link(std::make_unique<QtSerialPort>());
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

// A 3-second wait blocks on the device rather than spinning.
TEST_F(RealPortTest, WaitingForASilentTerminalCostsLittleProcessorTime) {
    term.setSilent(true);
    BellLink link(std::make_unique<QtSerialPort>());
    ASSERT_TRUE(link.OpenBellPort(7));
    const std::clock_t c0 = std::clock();
    EXPECT_EQ(link.ReadBellSettings(1), BellLink::WaitTimeOut);
    const double cpu = double(std::clock() - c0) / CLOCKS_PER_SEC;
    EXPECT_LT(cpu, 1.5); // far below a busy loop's 3 s
}

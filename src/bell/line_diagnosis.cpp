#include "bell/line_diagnosis.h"

#include "bell/ninth_bit.h"
#include "messages/catalogue.h"
#include "platform/language.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace bw::bell::diag {

namespace {

constexpr int EchoWaitMs = 100;
constexpr int DrainBytes = 64;
// One 11-bit character at 19200 baud, in microseconds.
constexpr double CharacterUs = 11.0 * 1e6 / 19200.0;

bool isPseudoTerminalPath(const QString& device) {
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) == 0 && S_ISCHR(st.st_mode)) {
        const unsigned maj = major(st.st_rdev);
        if ((maj >= 136 && maj <= 143) || (maj == 5 && minor(st.st_rdev) == 2))
            return true;
    }
    return device.startsWith(QLatin1String("/dev/pts/"));
}

QString baseName(const QString& path) {
    return path.isEmpty() ? QString() : QFileInfo(path).fileName();
}

// The operator's texts: what the line is ('|01 the device, '|02 driver and adapter), and one
// text per advice ('|01 the device or the latency in ms).
enum class LineText { Line, Usb, Onboard, PseudoTerminal, Other };

constexpr TextEntry<LineText> kLineTexts[] = {
    {LineText::Line, u"线路：'|01，'|02。", u"線路：'|01，'|02。"},
    {LineText::Usb, u"USB 转串口", u"USB 轉序列埠"},
    {LineText::Onboard, u"主板串口", u"主機板序列埠"},
    {LineText::PseudoTerminal, u"虚拟终端", u"虛擬終端"},
    {LineText::Other, u"其他串口", u"其他序列埠"},
};

constexpr TextEntry<Advice> kAdviceTexts[] = {
    {Advice::NoDevice, u"找不到串口设备'|01，请检查连线和设置文件的[com]项。",
     u"找不到序列埠裝置'|01，請檢查連線和設定檔的[com]項。"},
    {Advice::PseudoTerminal, u"'|01是虚拟终端（模拟器的线路），没有实际连线。",
     u"'|01是虛擬終端（模擬器的線路），沒有實際連線。"},
    {Advice::MarkSpaceRefused,
     u"转换器的驱动不支持标记/空格校验，无法发送第九位；请换用FTDI、CP210x转换器或主板串口。",
     u"轉換器的驅動程式不支援標記/"
     u"空格同位檢查，無法傳送第九位元；請改用FTDI、CP210x轉換器或主機板序列埠。"},
    {Advice::MarkSpaceIgnored,
     u"此芯片声称已设标记/空格校验但实际不发送，终端收不到地址；请换用其他转换器。",
     u"此晶片聲稱已設標記/空格同位檢查但實際不傳送，終端收不到位址；請改用其他轉換器。"},
    {Advice::EchoLosesNinthBit,
     u"线路回波显示第九位发送错误，转换器忽略标记/空格校验；请换用其他转换器。",
     u"線路回波顯示第九位元傳送錯誤，轉換器忽略標記/空格同位檢查；請改用其他轉換器。"},
    {Advice::DrainEarly,
     u"转换器在数据发出前就报告发送完毕，校验切换会截断地址字节；请换用其他转换器。",
     u"轉換器在資料送出前就回報傳送完畢，同位檢查切換會截斷位址位元組；請改用其他轉換器。"},
    {Advice::LatencyTimer, u"FTDI延迟计时器为'|01毫秒，会拖慢应答；建议设为1毫秒。",
     u"FTDI延遲計時器為'|01毫秒，會拖慢回應；建議設為1毫秒。"},
    {Advice::LatencyFixable, u"可用 brackwater-bell --port '|01 diagnose --fix-latency 设为1毫秒。",
     u"可用 brackwater-bell --port '|01 diagnose --fix-latency 設為1毫秒。"},
    {Advice::Unknown, u"电脑一侧未发现问题：请检查接线(A/B)、终端地址和电源。",
     u"電腦一側未發現問題：請檢查接線(A/B)、終端位址和電源。"},
};

} // namespace

// Chips that put the ninth bit (mark/space parity and its timing) at risk, by USB id.
const QList<KnownChip>& knownChips() {
    static const QList<KnownChip> chips = {
        // WCH CH344 (quad UART, CDC-ACM class): the cdc_acm driver passes mark and space
        // parity on in SET_LINE_CODING (bParityType 3 and 4) and keeps CMSPAR in the termios
        // (Linux drivers/usb/class/cdc-acm.c, acm_tty_set_termios), so a read-back shows it
        // set; the chip sends neither (field reports of ninth-bit lines on these adapters).
        {"1a86", "55d5", "WCH CH344", Advice::MarkSpaceIgnored},
        // TI TUSB3410: the driver has no mark or space parity and clears CMSPAR (Linux
        // drivers/usb/serial/ti_usb_3410_5052.c, ti_set_termios).
        {"0451", "3410", "TI TUSB3410", Advice::MarkSpaceRefused},
        // Prolific PL2303 TA (067b:2303, device release 3.00) and GT (067b:23c3): the driver
        // has no tx_empty callback, so tcdrain waits for the host side's buffer and URBs only,
        // not for the chip's own FIFO (Linux drivers/usb/serial/pl2303.c and
        // usb_serial_generic_wait_until_sent in drivers/usb/serial/generic.c).
        {"067b", "2303", "Prolific PL2303 (TA and older)", Advice::DrainEarly},
        {"067b", "23c3", "Prolific PL2303GT", Advice::DrainEarly},
        // FTDI FT232R / FT2232 / FT4232 / FT232H / FT-X: a latency timer of 16 ms by default
        // holds back short replies (FTDI application note AN232B-04, "Data Throughput, Latency
        // and Handshaking"; Linux drivers/usb/serial/ftdi_sio.c exposes it as latency_timer).
        {"0403", "6001", "FTDI FT232R", Advice::LatencyTimer},
        {"0403", "6010", "FTDI FT2232", Advice::LatencyTimer},
        {"0403", "6011", "FTDI FT4232", Advice::LatencyTimer},
        {"0403", "6014", "FTDI FT232H", Advice::LatencyTimer},
        {"0403", "6015", "FTDI FT-X", Advice::LatencyTimer},
    };
    return chips;
}

const KnownChip* knownChip(const QString& vendorId, const QString& productId) {
    for (const KnownChip& c : knownChips())
        if (vendorId.compare(QLatin1String(c.vendorId), Qt::CaseInsensitive) == 0 &&
            productId.compare(QLatin1String(c.productId), Qt::CaseInsensitive) == 0)
            return &c;
    return nullptr;
}

SysfsTree::SysfsTree(QString root) : root_(std::move(root)) {
    if (root_.isEmpty())
        root_ = qEnvironmentVariable("BW_SYSFS_ROOT");
    if (root_.isEmpty())
        root_ = QStringLiteral("/sys");
    root_ = QDir::cleanPath(root_);
}

QString SysfsTree::read(const QString& path) const {
    // Attribute files are small; a FIFO or a device put in a recorded tree never blocks.
    const QByteArray name = QFile::encodeName(root_ + QLatin1Char('/') + path);
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return {};
    struct stat st {};
    char buf[256];
    ssize_t n = -1;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode))
        n = ::read(fd, buf, sizeof buf);
    ::close(fd);
    if (n <= 0)
        return {};
    return QString::fromUtf8(buf, int(n)).section(QLatin1Char('\n'), 0, 0).trimmed();
}

QString SysfsTree::resolve(const QString& path) const {
    const QString real = QFileInfo(root_ + QLatin1Char('/') + path).canonicalFilePath();
    if (real.isEmpty() || !real.startsWith(root_ + QLatin1Char('/')))
        return {};
    return real.mid(root_.size() + 1);
}

bool SysfsTree::writable(const QString& path) const {
    return ::access(QFile::encodeName(root_ + QLatin1Char('/') + path).constData(), W_OK) == 0;
}

QStringList SysfsTree::ttys() const {
    QStringList out;
    const QDir dir(root_ + QStringLiteral("/class/tty"));
    for (const QString& name : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString base = QStringLiteral("class/tty/") + name;
        const QString device = resolve(base + QStringLiteral("/device"));
        if (device.isEmpty())
            continue;
        // The 8250 driver makes a ttyS node for every port number it knows; one of type 0
        // has no hardware behind it.
        if (baseName(resolve(device + QStringLiteral("/driver")))
                .startsWith(QLatin1String("serial")) &&
            read(base + QStringLiteral("/type")) == QLatin1String("0"))
            continue;
        out << name;
    }
    return out;
}

Facts facts(const QString& device, const SysfsTree& sys) {
    Facts f;
    f.device = device;
    const QString real = QFileInfo(device).canonicalFilePath();
    f.tty = baseName(real.isEmpty() ? device : real);
    if (!real.isEmpty() && isPseudoTerminalPath(real)) {
        f.kind = Kind::PseudoTerminal;
        f.driver = QStringLiteral("pty");
        return f;
    }
    // A tree recorded elsewhere knows devices this computer has no node for.
    const QString dev =
        sys.resolve(QStringLiteral("class/tty/") + f.tty + QStringLiteral("/device"));
    f.exists = !real.isEmpty() || !dev.isEmpty();
    if (dev.isEmpty())
        return f;
    f.driver = baseName(sys.resolve(dev + QStringLiteral("/driver")));
    f.kind = Kind::Onboard;
    for (QString up = dev; up.contains(QLatin1Char('/'));
         up = up.section(QLatin1Char('/'), 0, -2)) {
        const QString vendor = sys.read(up + QStringLiteral("/idVendor"));
        if (vendor.isEmpty())
            continue;
        f.kind = Kind::Usb;
        f.vendorId = vendor.toLower();
        f.productId = sys.read(up + QStringLiteral("/idProduct")).toLower();
        f.product = sys.read(up + QStringLiteral("/product"));
        f.manufacturer = sys.read(up + QStringLiteral("/manufacturer"));
        f.serialNumber = sys.read(up + QStringLiteral("/serial"));
        break;
    }
    const QString latency = dev + QStringLiteral("/latency_timer");
    bool ok = false;
    const int ms = sys.read(latency).toInt(&ok);
    if (ok) {
        f.latencyMs = ms;
        f.latencyPath = sys.root() + QLatin1Char('/') + latency;
        f.latencyWritable = sys.writable(latency);
    }
    return f;
}

QList<Facts> serialDevices(const SysfsTree& sys) {
    QList<Facts> out;
    for (const QString& tty : sys.ttys())
        out << facts(QStringLiteral("/dev/") + tty, sys);
    return out;
}

QString adapterText(const Facts& f) {
    return f.product.isEmpty() ? f.driver : f.product;
}

MarkSpace PortTrials::markSpace() {
    MarkSpace m = MarkSpace::Kept;
    for (const char* text : {"19200,m,8,1", "19200,s,8,1"}) {
        try {
            port_.setSettings(QLatin1String(text));
        } catch (const Error&) {
            m = MarkSpace::Refused;
        }
    }
    port_.setSettings(ninth::DataSetting);
    return m;
}

Echo PortTrials::echo() {
    // Address 0 is no terminal's: every terminal ignores the two data bytes after it.
    const QByteArray probe("\x00\x55\xAA", 3);
    auto trial = [&](bool checkParity) {
        port_.discardReceived();
        port_.setReceiveParityCheck(checkParity);
        ninth::send(port_, probe);
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < EchoWaitMs && port_.inBufferCount() < probe.size())
            port_.waitForInput(int(EchoWaitMs - t.elapsed()) + 1);
        port_.setInputLen(0);
        const QByteArray got = port_.input();
        port_.setReceiveParityCheck(false);
        return got;
    };
    if (!trial(false).contains(probe.mid(1)))
        return Echo::None;
    // With the parity checked under space parity, a byte whose ninth bit is 1 is dropped: the
    // address byte's echo must go and the data bytes' stay.
    if (!port_.setReceiveParityCheck(true))
        return Echo::NotTried;
    return trial(true) == probe.mid(1) ? Echo::NinthBitKept : Echo::NinthBitLost;
}

Drain PortTrials::drain() {
    port_.setSettings(ninth::AddressSetting);
    port_.output(QByteArray(1, '\0'));
    port_.setSettings(ninth::DataSetting);
    QElapsedTimer t;
    t.start();
    port_.output(QByteArray(DrainBytes, '\0')); // returns once its tcdrain did
    const double tookUs = double(t.nsecsElapsed()) / 1e3;
    // The first character may already be under way; anything shorter than the rest is early.
    return tookUs < (DrainBytes - 1) * CharacterUs ? Drain::Early : Drain::OnTime;
}

Report diagnose(const QString& device, const SysfsTree& sys, LineTrials* trials) {
    Report r;
    r.facts = facts(device, sys);
    const Facts& f = r.facts;
    r.chip = knownChip(f.vendorId, f.productId);
    if (!f.exists) {
        r.advice = {Advice::NoDevice};
        return r;
    }
    if (f.kind == Kind::PseudoTerminal) {
        r.markSpace = MarkSpace::NotApplicable;
        r.advice = {Advice::PseudoTerminal};
        return r;
    }
    // A fault of the port ends the trials: what they found so far stands.
    try {
        if (trials)
            r.markSpace = trials->markSpace();
        if (trials && r.markSpace == MarkSpace::Kept) {
            r.echo = trials->echo();
            r.drain = trials->drain();
        }
    } catch (const Error&) {
    }
    auto add = [&](Advice a) {
        if (!r.advice.contains(a))
            r.advice << a;
    };
    if (r.markSpace == MarkSpace::Refused)
        add(Advice::MarkSpaceRefused);
    if (r.echo == Echo::NinthBitLost)
        add(Advice::EchoLosesNinthBit);
    if (r.drain == Drain::Early)
        add(Advice::DrainEarly);
    // A known chip's risk counts where no trial showed the line to be sound on that point.
    if (r.chip) {
        const bool shownSound =
            (r.chip->risk == Advice::MarkSpaceIgnored && r.echo == Echo::NinthBitKept) ||
            (r.chip->risk == Advice::DrainEarly && r.drain == Drain::OnTime) ||
            (r.chip->risk == Advice::MarkSpaceRefused && r.markSpace == MarkSpace::Kept) ||
            r.chip->risk == Advice::LatencyTimer;
        if (!shownSound)
            add(r.chip->risk);
    }
    if (f.latencyMs > 1) {
        add(Advice::LatencyTimer);
        if (f.latencyWritable)
            add(Advice::LatencyFixable);
    }
    if (r.advice.isEmpty())
        add(Advice::Unknown);
    return r;
}

bool setLatencyOneMs(const Facts& f) {
    if (f.latencyPath.isEmpty())
        return false;
    const int fd = ::open(QFile::encodeName(f.latencyPath).constData(),
                          O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::write(fd, "1\n", 2) == 2;
    ::close(fd);
    return ok;
}

QString operatorText(const Report& r, int lang) {
    using messages::fillPlaceholders;
    const Facts& f = r.facts;
    const LineText kind = f.kind == Kind::Usb              ? LineText::Usb
                          : f.kind == Kind::Onboard        ? LineText::Onboard
                          : f.kind == Kind::PseudoTerminal ? LineText::PseudoTerminal
                                                           : LineText::Other;
    QStringList adapter{tableText(kLineTexts, kind, lang)};
    if (!f.driver.isEmpty())
        adapter << f.driver;
    if (!f.vendorId.isEmpty())
        adapter << f.vendorId + QLatin1Char(':') + f.productId;
    if (r.chip)
        adapter << QLatin1String(r.chip->chip);
    else if (!f.product.isEmpty())
        adapter << f.product.left(64);
    QString out = fillPlaceholders(tableText(kLineTexts, LineText::Line, lang), f.device,
                                   adapter.join(QLatin1Char(' ')));
    for (const Advice a : r.advice)
        out +=
            fillPlaceholders(tableText(kAdviceTexts, a, lang),
                             a == Advice::LatencyTimer ? QString::number(f.latencyMs) : f.device);
    return out;
}

QString kindText(Kind k) {
    switch (k) {
    case Kind::Usb:
        return QStringLiteral("usb");
    case Kind::Onboard:
        return QStringLiteral("onboard");
    case Kind::PseudoTerminal:
        return QStringLiteral("pseudo-terminal");
    case Kind::Other:
        break;
    }
    return QStringLiteral("other");
}

QString markSpaceText(MarkSpace m) {
    switch (m) {
    case MarkSpace::Kept:
        return QStringLiteral("kept");
    case MarkSpace::Refused:
        return QStringLiteral("refused");
    case MarkSpace::NotApplicable:
        return QStringLiteral("not applicable");
    case MarkSpace::NotTried:
        break;
    }
    return QStringLiteral("not tried");
}

QString echoText(Echo e) {
    switch (e) {
    case Echo::None:
        return QStringLiteral("none");
    case Echo::NinthBitKept:
        return QStringLiteral("ninth bit as sent");
    case Echo::NinthBitLost:
        return QStringLiteral("ninth bit wrong");
    case Echo::NotTried:
        break;
    }
    return QStringLiteral("not tried");
}

QString drainText(Drain d) {
    switch (d) {
    case Drain::OnTime:
        return QStringLiteral("on time");
    case Drain::Early:
        return QStringLiteral("early");
    case Drain::NotTried:
        break;
    }
    return QStringLiteral("not tried");
}

QString adviceText(Advice a, const Facts& f) {
    switch (a) {
    case Advice::NoDevice:
        return QStringLiteral("%1 is not there: check the cable and the settings file's [com] "
                              "entry")
            .arg(f.device);
    case Advice::PseudoTerminal:
        return QStringLiteral("%1 is a pseudo-terminal (the simulator's line): it has no wire "
                              "and no parity")
            .arg(f.device);
    case Advice::MarkSpaceRefused:
        return QStringLiteral("the adapter's driver refuses mark and space parity: it cannot "
                              "send the ninth bit; use an FTDI, CP210x or on-board port");
    case Advice::MarkSpaceIgnored:
        return QStringLiteral("this chip reports mark and space parity set but sends neither: "
                              "terminals never see their address; use another adapter");
    case Advice::EchoLosesNinthBit:
        return QStringLiteral("the line's echo shows the ninth bit going out wrong: the adapter "
                              "ignores mark or space parity; use another adapter");
    case Advice::DrainEarly:
        return QStringLiteral("the adapter reports bytes sent before they left: the parity "
                              "switch cuts the address byte; use another adapter");
    case Advice::LatencyTimer:
        return QStringLiteral("FTDI latency timer at %1 ms holds back replies; 1 ms is best")
            .arg(f.latencyMs);
    case Advice::LatencyFixable:
        return QStringLiteral("brackwater-bell --port %1 diagnose --fix-latency sets it to 1 ms")
            .arg(f.device);
    case Advice::Unknown:
        break;
    }
    return QStringLiteral("nothing wrong found with the adapter: check the wiring (A/B), the "
                          "terminal's address and its power");
}

} // namespace bw::bell::diag

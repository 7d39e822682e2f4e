// brackwater-bell: the bell-link commands from the command line, for field work and scripts.
//
//   brackwater-bell [--port COM3|DEVICE] test ADDR
//   brackwater-bell [--port COM3|DEVICE] set-time ADDR [YYYY-MM-DD HH:MM:SS]
//   brackwater-bell [--port COM3|DEVICE] read-bells ADDR
//   brackwater-bell [--port COM3|DEVICE] set-bell-count ADDR N
//   brackwater-bell [--port COM3|DEVICE] scan [FROM TO]
//
// Exit status: 0 success, 1 the terminal gave no or a wrong answer, 2 bad arguments,
// 3 a fault of the serial port. Every failure is reported in one line on stderr.

#include "bell/bell_frame.h"
#include "bell/bell_link.h"
#include "bell/serial_port.h"
#include "host/settings/settings.h"
#include "platform/ui.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QStringList>
#include <QTextStream>
#include <cstdio>

namespace {

enum Exit { Ok = 0, NoAnswer = 1, BadArguments = 2, PortFault = 3 };

// Message boxes of the bell link go to stderr instead of the screen.
class StderrBox : public bw::IMessageBox {
public:
    int MsgBox(const QString& text, int, const QString& title) override {
        ++shown;
        QString line = text;
        line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), ' ');
        std::fprintf(stderr, "brackwater-bell: %s%s\n",
                     title.isEmpty() ? "" : (title + QStringLiteral(": ")).toUtf8().constData(),
                     line.toUtf8().constData());
        return bw::mb::OK;
    }
    void Beep() override {}
    int shown = 0;
};

QTextStream& out() {
    static QTextStream s(stdout);
    return s;
}

int fail(int code, const QString& message) {
    std::fprintf(stderr, "brackwater-bell: %s\n", message.toUtf8().constData());
    return code;
}

void usage() {
    std::fprintf(stderr, "usage: brackwater-bell [--port COM<n>|DEVICE] COMMAND\n"
                         "  test ADDR\n"
                         "  set-time ADDR [YYYY-MM-DD HH:MM:SS]   (default: now)\n"
                         "  read-bells ADDR\n"
                         "  set-bell-count ADDR N                  (N 0..30)\n"
                         "  scan [FROM TO]                         (default 1 255)\n");
}

bool toInt(const QString& text, int low, int high, int& value) {
    bool ok = false;
    value = text.toInt(&ok);
    return ok && value >= low && value <= high;
}

// "COM3" gives port 3; a device path is put behind port 1.
bool choosePort(const QString& text, short& port) {
    if (text.startsWith(QStringLiteral("COM"), Qt::CaseInsensitive)) {
        int n = 0;
        if (!toInt(text.mid(3), 1, 16, n))
            return false;
        port = static_cast<short>(n);
        return true;
    }
    if (text.isEmpty())
        return false;
    bw::bell::setDevicePath(1, text);
    port = 1;
    return true;
}

QString portName(const QString& text) {
    return text.isEmpty() ? QStringLiteral("COM1") : text;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    StderrBox box;
    bw::setUi(&box);
    // COMn devices as the operator set them for every Brackwater program; --port DEVICE
    // still names a device for this run.
    QStringList settingsProblems;
    for (const auto& [n, device] : bw::host::readSettings(&settingsProblems).com)
        bw::bell::setDevicePath(n, device);
    for (const QString& problem : settingsProblems)
        fail(Ok, QStringLiteral("settings: ") + problem);

    QStringList args = app.arguments().mid(1);
    QString portText = QStringLiteral("COM1");
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--port")) {
            if (i + 1 >= args.size()) {
                usage();
                return fail(BadArguments, QStringLiteral("bad arguments: --port needs a value"));
            }
            portText = args[i + 1];
            args.remove(i, 2);
            --i;
        } else if (args[i].startsWith(QStringLiteral("--port="))) {
            portText = args[i].mid(7);
            args.remove(i);
            --i;
        } else if (args[i] == QStringLiteral("--help") || args[i] == QStringLiteral("-h")) {
            usage();
            return Ok;
        } else if (args[i] == QStringLiteral("--version")) {
            out() << "brackwater-bell " << BW_VERSION << "\n";
            return Ok;
        }
    }
    short port = 1;
    if (!choosePort(portText, port))
        return fail(BadArguments,
                    QStringLiteral("bad arguments: port \"%1\" is neither COM1..COM16 "
                                   "nor a device")
                        .arg(portText));
    if (args.isEmpty()) {
        usage();
        return fail(BadArguments, QStringLiteral("bad arguments: no command given"));
    }
    const QString command = args.takeFirst();

    bw::bell::BellLink link;
    auto open = [&]() -> bool { return link.OpenBellPort(port); };
    const QString openFailure = QStringLiteral("port fault: cannot open %1 (%2)")
                                    .arg(portName(portText), bw::bell::devicePath(port));

    try {
        if (command == QStringLiteral("test")) {
            int addr = 0;
            if (args.size() != 1 || !toInt(args[0], 0, 255, addr))
                return fail(BadArguments, QStringLiteral("bad arguments: test ADDR (0..255)"));
            if (!open())
                return fail(PortFault, openFailure);
            if (!link.TestBellLink(static_cast<short>(addr)))
                return fail(NoAnswer, QStringLiteral("no answer: terminal %1 gave no or a wrong "
                                                     "answer to the test")
                                          .arg(addr));
            out() << "terminal " << addr << " answers\n";
            return Ok;
        }
        if (command == QStringLiteral("set-time")) {
            int addr = 0;
            if (args.isEmpty() || !toInt(args[0], 0, 255, addr))
                return fail(BadArguments,
                            QStringLiteral("bad arguments: set-time ADDR [YYYY-MM-DD HH:MM:SS]"));
            QDateTime when = QDateTime::currentDateTime();
            if (args.size() > 1) {
                const QString text = args.mid(1).join(QLatin1Char(' '));
                when = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
                if (!when.isValid())
                    return fail(BadArguments,
                                QStringLiteral("bad arguments: \"%1\" is not YYYY-MM-DD HH:MM:SS")
                                    .arg(text));
            }
            if (!open())
                return fail(PortFault, openFailure);
            if (!link.SetMachDateTime(static_cast<short>(addr), when))
                return fail(NoAnswer, QStringLiteral("no answer: terminal %1 did not confirm the "
                                                     "date and time")
                                          .arg(addr));
            out() << "terminal " << addr << " set to "
                  << when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) << "\n";
            return Ok;
        }
        if (command == QStringLiteral("read-bells")) {
            int addr = 0;
            if (args.size() != 1 || !toInt(args[0], 1, 255, addr))
                return fail(BadArguments,
                            QStringLiteral("bad arguments: read-bells ADDR (1..255)"));
            if (!open())
                return fail(PortFault, openFailure);
            const QString result = link.ReadBellSettings(static_cast<short>(addr));
            link.CloseBellPort();
            if (result == bw::bell::BellLink::WaitTimeOut)
                return fail(NoAnswer,
                            QStringLiteral("no answer: terminal %1 sent no bell settings within "
                                           "3 s")
                                .arg(addr));
            if (result.size() < 122)
                return fail(PortFault, QStringLiteral("port fault: ") + result);
            out() << "count " << result.left(2).toInt() << "\n";
            for (int k = 0; k < 30; ++k)
                out() << result.mid(4 * k + 2, 2) << ":" << result.mid(4 * k + 4, 2) << "\n";
            return Ok;
        }
        if (command == QStringLiteral("set-bell-count")) {
            int addr = 0;
            int count = 0;
            if (args.size() != 2 || !toInt(args[0], 1, 255, addr) || !toInt(args[1], 0, 30, count))
                return fail(BadArguments, QStringLiteral("bad arguments: set-bell-count ADDR "
                                                         "(1..255) N (0..30)"));
            if (!open())
                return fail(PortFault, openFailure);
            const int boxesBefore = box.shown;
            const bool ok = link.SetBellCount(static_cast<short>(addr), static_cast<short>(count));
            link.CloseBellPort();
            if (box.shown != boxesBefore)
                return fail(PortFault, QStringLiteral("port fault while setting the bell count"));
            if (!ok)
                return fail(NoAnswer, QStringLiteral("no answer: terminal %1 did not confirm the "
                                                     "bell count")
                                          .arg(addr));
            out() << "terminal " << addr << " bell count " << count << "\n";
            return Ok;
        }
        if (command == QStringLiteral("scan")) {
            int from = 1;
            int to = 255;
            if (!(args.isEmpty() || (args.size() == 2 && toInt(args[0], 0, 255, from) &&
                                     toInt(args[1], 0, 255, to) && from <= to)))
                return fail(BadArguments,
                            QStringLiteral("bad arguments: scan [FROM TO] (0..255, FROM <= TO)"));
            int found = 0;
            for (int addr = from; addr <= to; ++addr) {
                if (!open())
                    return fail(PortFault, openFailure);
                if (link.TestBellLink(static_cast<short>(addr))) {
                    out() << addr << "\n";
                    out().flush();
                    ++found;
                }
            }
            link.CloseBellPort();
            if (found == 0)
                return fail(NoAnswer, QStringLiteral("no answer: no terminal answered between "
                                                     "%1 and %2")
                                          .arg(from)
                                          .arg(to));
            return Ok;
        }
    } catch (const bw::Error& e) {
        return fail(PortFault,
                    QStringLiteral("port fault: %1:%2").arg(e.number()).arg(e.description()));
    }
    usage();
    return fail(BadArguments, QStringLiteral("bad arguments: unknown command \"%1\"").arg(command));
}

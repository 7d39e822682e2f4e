// brackwater-sim: model-6429 terminals on a pseudo-terminal (and optionally a TCP listener).

#include "sim/simulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMap>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

[[noreturn]] void badArguments(const QString& why) {
    std::fputs(qPrintable(QStringLiteral("brackwater-sim: %1\n").arg(why)), stderr);
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brackwater-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(BW_VERSION));

    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Simulated model-6429 terminals on one line.\n\nExit status: 0 after a "
                       "signal, 2 bad arguments, 3 the pseudo-terminal or the listener cannot "
                       "be made."));
    p.addHelpOption();
    p.addVersionOption();
    const QCommandLineOption addr(QStringLiteral("addr"),
                                  QStringLiteral("Terminal addresses, e.g. 1,5,7."),
                                  QStringLiteral("LIST"), QStringLiteral("1"));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Symbolic link to the pseudo-terminal."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption tcp(
        QStringLiteral("tcp"),
        QStringLiteral("Also listen on HOST:PORT (port 0: any); given again, "
                       "one more listener."),
        QStringLiteral("HOST:PORT"));
    const QCommandLineOption noPacing(QStringLiteral("no-pacing"),
                                      QStringLiteral("Send replies at once, not at 19200 baud."));
    const QCommandLineOption silent(QStringLiteral("silent"), QStringLiteral("Never answer."));
    const QCommandLineOption partial(QStringLiteral("partial"),
                                     QStringLiteral("Send only the first N bytes of a reply."),
                                     QStringLiteral("N"));
    const QCommandLineOption wrongAddress(QStringLiteral("wrong-address"),
                                          QStringLiteral("Answer with another address."));
    const QCommandLineOption delay(QStringLiteral("delay"),
                                   QStringLiteral("Hold every reply back MS milliseconds."),
                                   QStringLiteral("MS"));
    const QCommandLineOption garbage(QStringLiteral("garbage"),
                                     QStringLiteral("Answer with random bytes."));
    const QCommandLineOption trace(QStringLiteral("trace"),
                                   QStringLiteral("Print requests, replies and ignored bytes "
                                                  "(with the reason) in hex."));
    const QCommandLineOption records(QStringLiteral("records"),
                                     QStringLiteral("Records each terminal starts with."),
                                     QStringLiteral("N"), QStringLiteral("25"));
    const QCommandLineOption names(QStringLiteral("names"),
                                   QStringLiteral("Names each terminal's list starts with."),
                                   QStringLiteral("N"), QStringLiteral("10"));
    const QCommandLineOption stateFile(
        QStringLiteral("state-file"),
        QStringLiteral("JSON file of every terminal's state, rewritten after each change."),
        QStringLiteral("PATH"));
    const QCommandLineOption recordEvery(
        QStringLiteral("record-every"),
        QStringLiteral("Every terminal makes a meal record every MS milliseconds."),
        QStringLiteral("MS"));
    const QCommandLineOption corruptEvery(
        QStringLiteral("corrupt-every"),
        QStringLiteral("Every Nth record block goes out with a wrong check byte."),
        QStringLiteral("N"));
    const QCommandLineOption clockOffset(
        QStringLiteral("clock-offset"),
        QStringLiteral("Every terminal's clock runs SECONDS from the computer's."),
        QStringLiteral("SECONDS"));
    const QCommandLineOption reset(
        QStringLiteral("reset"),
        QStringLiteral("Start with wiped terminals (the demo contents, records numbered from 1) "
                       "instead of the state file's."));
    const QCommandLineOption recordBytes(
        QStringLiteral("record-bytes"),
        QStringLiteral("Record N goes out with these 11 bytes after its number (card, date and "
                       "time, flag), in hex (repeatable)."),
        QStringLiteral("N=HEX"));
    const QCommandLineOption hideRecords(
        QStringLiteral("hide-records"),
        QStringLiteral("Records FROM to TO are kept but left out of record blocks."),
        QStringLiteral("FROM-TO"));
    const QCommandLineOption statusCount(QStringLiteral("status-count"),
                                         QStringLiteral("The record status claims N records."),
                                         QStringLiteral("N"));
    const QCommandLineOption commitReply(
        QStringLiteral("commit-reply"),
        QStringLiteral("The name-list commit is done but its reply is lost, short, from "
                       "another address or garbled."),
        QStringLiteral("lost|short|wrong-address|garbled"));
    p.addOption(commitReply);
    const QCommandLineOption ignore(
        QStringLiteral("ignore"),
        QStringLiteral("Requests never answered: clock, names (comma-separated)."),
        QStringLiteral("KINDS"));
    const QCommandLineOption namesStatusFault(
        QStringLiteral("names-status-fault"),
        QStringLiteral("The name-list status goes out with a bad check byte, short, or under "
                       "another address."),
        QStringLiteral("bad-check|short|other-address"));
    p.addOptions(
        {addr,         link,        tcp,          noPacing,        silent,      partial,
         wrongAddress, delay,       garbage,      trace,           records,     names,
         stateFile,    recordEvery, corruptEvery, reset,           clockOffset, recordBytes,
         hideRecords,  statusCount, ignore,       namesStatusFault});
    p.process(app);

    bw::sim::SimOptions o;
    o.addresses.clear();
    for (const QString& part : p.value(addr).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int a = part.trimmed().toInt(&ok);
        if (!ok || a < 1 || a > 255)
            badArguments(QStringLiteral("bad address \"%1\" (1 to 255)").arg(part));
        o.addresses << a;
    }
    if (o.addresses.isEmpty())
        badArguments(QStringLiteral("no terminal address"));
    auto number = [&](const QCommandLineOption& opt, int min, int max) {
        bool ok = false;
        const int v = p.value(opt).toInt(&ok);
        if (!ok || v < min || v > max)
            badArguments(QStringLiteral("bad value \"%1\" for --%2")
                             .arg(p.value(opt), opt.names().constFirst()));
        return v;
    };
    o.link = p.value(link);
    o.tcp = p.values(tcp);
    o.pacing = !p.isSet(noPacing);
    o.faults.silent = p.isSet(silent);
    if (p.isSet(partial))
        o.faults.partial = number(partial, 0, 1000);
    o.faults.wrongAddress = p.isSet(wrongAddress);
    if (p.isSet(delay))
        o.faults.delayMs = number(delay, 0, 600000);
    o.faults.garbage = p.isSet(garbage);
    o.trace = p.isSet(trace);
    o.records = number(records, 0, 1000000);
    o.names = number(names, 0, 100000);
    o.stateFile = p.value(stateFile);
    if (p.isSet(recordEvery))
        o.recordEveryMs = number(recordEvery, 1, 86400000);
    if (p.isSet(corruptEvery))
        o.faults.corruptEvery = number(corruptEvery, 1, 1000000);
    o.reset = p.isSet(reset);
    if (p.isSet(clockOffset))
        o.clockOffsetSecs = number(clockOffset, -2000000000, 2000000000);
    auto recordNumber = [&](const QString& text, const QCommandLineOption& opt) {
        bool ok = false;
        const qulonglong n = text.trimmed().toULongLong(&ok);
        if (!ok || n > 0xFFFFFFFFull)
            badArguments(
                QStringLiteral("bad value \"%1\" for --%2").arg(text, opt.names().constFirst()));
        return quint32(n);
    };
    for (const QString& v : p.values(recordBytes)) {
        const int eq = int(v.indexOf(QLatin1Char('=')));
        const QByteArray bytes = QByteArray::fromHex(v.mid(eq + 1).toLatin1());
        if (eq < 1 || bytes.size() != 11 || bytes.toHex() != v.mid(eq + 1).toLower().toLatin1())
            badArguments(
                QStringLiteral("bad value \"%1\" for --record-bytes (N=22 hex digits)").arg(v));
        o.faults.recordBytes[recordNumber(v.left(eq), recordBytes)] = bytes;
    }
    if (p.isSet(hideRecords)) {
        const QStringList range = p.value(hideRecords).split(QLatin1Char('-'));
        if (range.size() != 2)
            badArguments(QStringLiteral("bad value \"%1\" for --hide-records (FROM-TO)")
                             .arg(p.value(hideRecords)));
        o.faults.hideFrom = recordNumber(range[0], hideRecords);
        o.faults.hideTo = recordNumber(range[1], hideRecords);
    }
    if (p.isSet(statusCount))
        o.faults.statusCount = recordNumber(p.value(statusCount), statusCount);
    if (p.isSet(commitReply)) {
        using R = bw::sim::Faults::CommitReply;
        const QMap<QString, R> kinds{{QStringLiteral("lost"), R::Lost},
                                     {QStringLiteral("short"), R::Short},
                                     {QStringLiteral("wrong-address"), R::WrongAddress},
                                     {QStringLiteral("garbled"), R::Garbled}};
        if (!kinds.contains(p.value(commitReply)))
            badArguments(
                QStringLiteral("bad value \"%1\" for --commit-reply").arg(p.value(commitReply)));
        o.faults.commitReply = kinds.value(p.value(commitReply));
    }
    for (const QString& kind : p.value(ignore).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (kind.trimmed() == QLatin1String("clock"))
            o.faults.ignoreClock = true;
        else if (kind.trimmed() == QLatin1String("names"))
            o.faults.ignoreNames = true;
        else
            badArguments(QStringLiteral("bad value \"%1\" for --ignore (clock, names)").arg(kind));
    }
    if (p.isSet(namesStatusFault)) {
        using Fault = bw::sim::Faults::NamesStatusFault;
        const QString v = p.value(namesStatusFault);
        if (v == QLatin1String("bad-check"))
            o.faults.namesStatus = Fault::BadCheck;
        else if (v == QLatin1String("short"))
            o.faults.namesStatus = Fault::Short;
        else if (v == QLatin1String("other-address"))
            o.faults.namesStatus = Fault::OtherAddress;
        else
            badArguments(QStringLiteral("bad value \"%1\" for --names-status-fault "
                                        "(bad-check, short, other-address)")
                             .arg(v));
    }

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return 3;
    QSocketNotifier quitNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&quitNotifier, &QSocketNotifier::activated, &app,
                     [] { QCoreApplication::quit(); });
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGHUP, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    bw::sim::Simulator sim(o);
    QString error;
    if (!sim.start(&error)) {
        std::fputs(qPrintable(QStringLiteral("brackwater-sim: %1\n").arg(error)), stderr);
        return 3;
    }
    sim.setTraceSink([](const QString& line) { say(line); });
    say(QStringLiteral("pty ") + sim.ptyPath());
    if (!o.tcp.isEmpty())
        say(QStringLiteral("tcp ") + sim.tcpAddress());
    say(QStringLiteral("ready"));

    const int rc = app.exec();
    sim.stop();
    return rc;
}

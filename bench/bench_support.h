#pragma once

// Shared pieces of the window and database benchmarks: a message box that answers at once,
// process memory figures, a host database filled with terminals (an SQLite file or a
// schema of its own on a PostgreSQL server), and the window opened through ShowA.
// Header only: every .cpp of this folder is a benchmark program of its own.

#include "common/postgres_schema.h"
#include "entry/kq.h"
#include "host/app/host_setup.h"
#include "host/ledger/ledger.h"
#include "host/ledger/schema.h"
#include "platform/component_state.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "store/sql_connection.h"
#include "window/f_machine.h"
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QVariant>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace bw::bench {

// Answers every box with OK or Yes and remembers the last text, so a benchmark can tell
// that a command ended in a box instead of its normal result.
class SilentMessageBox : public IMessageBox {
public:
    SilentMessageBox() { setUi(this); }
    ~SilentMessageBox() override { setUi(nullptr); }
    int MsgBox(const QString& text, int style, const QString&) override {
        ++count;
        lastText = text;
        return (style & 0x7) == mb::YesNo ? mb::Yes : mb::OK;
    }
    void Beep() override {}

    int count = 0;
    QString lastText;
};

// Drops the offscreen platform's notes about window features it lacks.
inline void quietOffscreenNotes() {
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
            if (message.startsWith(QLatin1String("This plugin does not support")))
                return;
            if (previous)
                previous(type, context, message);
        });
}

// The main of a benchmark program without windows: every benchmark under a core application.
inline int runBenchmarks(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// The main of a benchmark program of windows: offscreen unless a platform is named, the
// offscreen plug-in's notes kept quiet, then every benchmark.
inline int runWindowBenchmarks(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    quietOffscreenNotes();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// ---- memory ----

// A line of /proc/self/status in kB ("VmHWM", "VmRSS"); -1 when unreadable.
inline long statusKb(const char* key) {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    // A /proc file reports no size, so it is read whole rather than line by line to its end.
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).simplified().split(' ').value(0).toLong();
    return -1;
}

// Peak resident size of the process so far (getrusage), in kB.
inline long maxRssKb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Sets the process's resident high-water mark (VmHWM) back to its present resident size,
// so that a later VmHWM is the peak of what ran in between. False where the kernel does not
// offer it; ru_maxrss is never reset.
inline bool resetPeakRss() {
    FILE* f = std::fopen("/proc/self/clear_refs", "w");
    if (!f)
        return false;
    const bool ok = std::fputs("5", f) >= 0;
    return std::fclose(f) == 0 && ok;
}

// ---- programs ----

// A program of this build, beside the bench/ folder.
inline QString program(const char* name) {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../") +
           QString::fromLatin1(name);
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    double secs = 0;
    // The program's own peak resident size: its VmHWM as last read while it ran. wait4's
    // ru_maxrss would not do: the kernel carries the high-water mark of the memory an exec
    // replaces into it, and a spawned child replaces this process's (vfork), so a bench
    // process larger than the program would be reported.
    long peakKb = 0;
};

// Reads pid's VmHWM every 10 ms into peakKb until stop is set; the last reading before the
// process ends is its peak (a process that has ended has no memory left to report).
inline void watchPeak(pid_t pid, const std::atomic_bool& stop, long& peakKb) {
    const QString path = QStringLiteral("/proc/%1/status").arg(pid);
    while (!stop) {
        QFile f(path);
        if (f.open(QIODevice::ReadOnly | QIODevice::Text))
            for (const QByteArray& line : f.readAll().split('\n'))
                if (line.startsWith("VmHWM:"))
                    peakKb =
                        std::max(peakKb, line.mid(6).simplified().split(' ').value(0).toLong());
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Runs the program to its end, its standard output in a file, with a settings file of its own
// so that the user's do not count: only the computer's clock is taken as kept right, so that
// the nightly's clock step runs whatever this machine's time service says.
inline Run runProgram(const char* name, const QStringList& args) {
    static QTemporaryDir home;
    static const bool written = [] {
        QDir().mkpath(home.path() + "/Brackwater");
        QFile conf(home.path() + "/Brackwater/brackwater.conf");
        return conf.open(QIODevice::WriteOnly) &&
               conf.write("[clock]\nrequire-synchronised=false\n") > 0;
    }();
    Q_UNUSED(written);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    qputenv("BW_SYSTEM_SETTINGS", QFile::encodeName(home.path() + "/none.conf"));
    const QByteArray path = QFile::encodeName(program(name)),
                     outFile = QFile::encodeName(home.path() + "/out.txt");
    QList<QByteArray> bytes{path};
    for (const QString& a : args)
        bytes << a.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    Run r;
    pid_t pid = 0;
    const auto t0 = std::chrono::steady_clock::now();
    const int spawned =
        posix_spawn(&pid, path.constData(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return r;
    int status = 0;
    rusage usage{};
    std::atomic_bool ended{false};
    std::thread watch(watchPeak, pid, std::cref(ended), std::ref(r.peakKb));
    const pid_t waited = ::wait4(pid, &status, 0, &usage);
    ended = true;
    watch.join();
    if (waited != pid)
        return r;
    r.secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    QFile f(QString::fromLocal8Bit(outFile));
    if (f.open(QIODevice::ReadOnly))
        r.out = f.readAll();
    return r;
}

// ---- timing ----

template <class F> double secondsOf(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// ---- PostgreSQL server ----

// The server of the PostgreSQL benchmarks: BW_PG_CONN when set, else a throwaway cluster
// started with tools/pg-test-cluster.sh and stopped again when the program ends.
class PgServer {
public:
    static PgServer& instance() {
        static PgServer server;
        return server;
    }

    // The connection string, starting the cluster on first use; empty when there is none
    // (why() says why).
    QString connectionString() {
        if (!tried_) {
            tried_ = true;
            start();
        }
        return conn_;
    }
    QString why() const { return why_; }

    void stop() {
        if (dir_.isEmpty())
            return;
        QProcess::execute(QStringLiteral("sh"), {script(), QStringLiteral("stop"), dir_});
        QDir(dir_).removeRecursively();
        dir_.clear();
    }
    ~PgServer() { stop(); }

private:
    static QString script() { return QStringLiteral(BW_SOURCE_DIR "/tools/pg-test-cluster.sh"); }

    void start() {
        conn_ = qEnvironmentVariable("BW_PG_CONN");
        if (!conn_.isEmpty())
            return;
        // A free loopback port for the cluster.
        quint16 port = 0;
        {
            QTcpServer probe;
            if (probe.listen(QHostAddress::LocalHost, 0))
                port = probe.serverPort();
        }
        if (port == 0) {
            why_ = QStringLiteral("no free loopback port");
            return;
        }
        dir_ = QStringLiteral("/tmp/bw-bench-pg-%1").arg(QCoreApplication::applicationPid());
        QProcess p;
        p.setProcessChannelMode(QProcess::SeparateChannels);
        p.start(QStringLiteral("sh"),
                {script(), QStringLiteral("start"), dir_, QString::number(port)});
        if (!p.waitForFinished(180000) || p.exitStatus() != QProcess::NormalExit ||
            p.exitCode() != 0) {
            p.kill();
            p.waitForFinished(5000);
            why_ = QStringLiteral("tools/pg-test-cluster.sh failed: ") +
                   QString::fromLocal8Bit(p.readAllStandardError()).trimmed().right(300);
            stop();
            return;
        }
        const QStringList lines =
            QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed().split(u'\n');
        conn_ = lines.value(lines.size() - 1).trimmed();
        std::fprintf(stderr, "PostgreSQL: throwaway cluster in %s, %s\n", qPrintable(dir_),
                     qPrintable(conn_));
    }

    bool tried_ = false;
    QString conn_;
    QString why_;
    QString dir_;
};

// ---- host database ----

enum class Backend { Sqlite, Postgres };

// A host database of its own for one benchmark: the host tables, the grants of the user
// "admin", and terminals 1..n of model 6429; the process's database tools point at it.
class HostDb {
public:
    explicit HostDb(Backend backend) : backend_(backend) {
        if (backend == Backend::Sqlite) {
            connection_ = QStringLiteral("sqlite:") + dir_.path() + QStringLiteral("/host.db");
        } else {
            const QString base = PgServer::instance().connectionString();
            if (base.isEmpty())
                throw Error(0, QStringLiteral("no PostgreSQL server"));
            schema_ = std::make_unique<test::PostgresSchema>(QStringLiteral("bw_bench"), base);
            connection_ = schema_->connectionString();
        }
        store::SqlConnection(connection_, store::Create::Yes);
        host::setConnectionString(connection_);
        cn_ = host::sharedConnection();
        if (!cn_ || !cn_->isOpen())
            throw Error(0, QStringLiteral("cannot open ") + connection_);
        host::createHostSchema(*cn_, false);
        cn_->executeBound(
            QStringLiteral("INSERT INTO UserGrants (UserName, FunctionName) VALUES (?, ?)"),
            {QStringLiteral("admin"), QStringLiteral("*")});
    }

    ~HostDb() {
        cn_.reset();
        host::closeSharedConnection();
        host::setConnectionString(QString());
        schema_.reset();
    }

    // Adds terminals first..last, all in one transaction.
    void addTerminals(int first, int last) {
        cn_->BeginTrans();
        try {
            for (int i = first; i <= last; ++i)
                addTerminal(i);
            cn_->CommitTrans();
        } catch (...) {
            cn_->RollbackTrans();
            throw;
        }
    }

    // One terminal of model 6429: on a serial port (COM1..COM4) or, one in five, on TCP.
    void addTerminal(int addr) {
        static const QString purposes[] = {QStringLiteral("计次"), QStringLiteral("考勤"),
                                           QStringLiteral("进出")};
        const bool tcp = addr % 5 == 0;
        cn_->executeBound(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, "
                                         "MachVer, MachDesc) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                          {addr, QString::number(tcp ? 1 : addr % 4 + 1),
                           tcp ? QStringLiteral("192.168.%1.%2").arg(addr / 250).arg(addr % 250 + 1)
                               : QStringLiteral("*"),
                           QStringLiteral("班组%1").arg(addr % 7 + 1),
                           QStringLiteral("%1楼").arg(addr % 10 + 1), QStringLiteral("6429"),
                           purposes[addr % 3]});
    }

    qlonglong count(const QString& sql, const QVariantList& values = {}) {
        return cn_->queryBound(sql, values).value(0).value(0).toLongLong();
    }

    store::SqlConnection& cn() { return *cn_; }
    QString connection() const { return connection_; }

private:
    Backend backend_;
    QTemporaryDir dir_;
    QString connection_;
    std::unique_ptr<test::PostgresSchema> schema_;
    std::shared_ptr<store::SqlConnection> cn_;
};

// ---- the window ----

// Registers the component and the default host components once.
inline void registerComponentsOnce() {
    static const bool done = [] {
        host::registerDefaultComponents();
        return true;
    }();
    (void)done;
}

// Opens the window as a host does: CreateObject("Brackwater.KQ"), then ShowA.
inline F_Machine* showA() {
    auto kq = CreateObject<IShowA>(progid::Component);
    QVariant user(QStringLiteral("admin"));
    QVariant title(QStringLiteral("Brackwater"));
    QVariant caption(QString::fromUtf8(host::kDemoCaption));
    QVariant date(QDate::currentDate());
    kq->ShowA(user, title, caption, date);
    return qobject_cast<F_Machine*>(KQ::window());
}

// Closes and deletes the window, as the host's exit does.
inline void closeWindow() {
    if (QWidget* w = KQ::window()) {
        w->close();
        delete w;
    }
    QCoreApplication::processEvents();
}

// The window is on screen with n entries in its list.
inline bool shownWithList(const F_Machine* w, int n) {
    return w && w->isVisible() && w->LVW_Machine->topLevelItemCount() == n;
}

} // namespace bw::bench

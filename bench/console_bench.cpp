// The console (the host program's main window) over an SQLite host database of 255 terminals.
//
// BM_LoopDuringRefresh: the console open over 255 terminals while it reads their status, 240 on
// one paced simulator line and 15 on TCP/IP (another simulator program, each terminal a line
// of its own), with 100,000 meal records of the last 14 days (the chart is drawn when the
// reading ends, its bar sets the busiest terminals and the rest together). All the while a zero
// timer is armed again each time it fires, and the wait between arming and firing is taken.
// Counters: max_ms and p99_ms of those waits, timers (how many fired) and refresh_secs (the
// reading, from its start until the table is filled).
//
// BM_StartVsBare: the console's start with 255 terminals and 100,000 meal records of the last
// 14 days, side by side with a bare start, alternately in one run. Timed on the console's side:
// the window made and shown, until its first reading of the site is in (status table filled and
// meals chart drawn) and the pending events (paint) are processed. The terminals sit on serial
// ports whose devices do not exist, so every line fails at once to open and no terminal is
// talked to: what is left is the database reads (register, name lists, history, meals) and the
// window. Timed on the bare side: the same reads (readStatus over the same terminals and
// readMealDays, on the GUI thread) into a plain QTableWidget and a plain QChart with the same
// bar sets (the busiest terminals, the rest together), shown, and the pending events processed.
// Counters window_ms, bare_ms and ratio.
//
// BM_LogFirstPage/B: the operation-log viewer opened over 1,000,000 CtrlLog entries, all of the
// last 29 days and so all within its default range (B 0: SQLite, 1: PostgreSQL when BW_PG_CONN
// is set or a throwaway cluster can be started), until its first page is shown. Counters:
// shown (entries on the page), next_page_ms (the page of older entries after it), growth_mib
// (peak resident growth over both).
//
// BM_StatusHistory/B/N: readStatus over 255 terminals whose serial devices do not exist (every
// line fails at once to open) with N such entries, all of them collections: what is left is the
// register, the name lists and the history of collections and routine steps.

#include "bench_support.h"

#include "bell/serial_port.h"
#include "host/collect/collect_texts.h"
#include "host/console/console_window.h"
#include "host/console/meal_chart.h"
#include "host/console/operation_log.h"
#include "host/console/status_table.h"
#include "host/ledger/operators.h"
#include "host/ledger/schema.h"
#include "host/link/link.h"
#include "platform/timing.h"
#include "sim/process.h"

#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImageReader>
#include <QProcess>
#include <QSplitter>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStackedBarSeries>
#include <QStandardItemModel>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QValueAxis>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

using namespace bw;
using namespace bw::bench;
using host::console::ConsoleWindow;

namespace {

constexpr int kTerminals = 255;

QString simProgram() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../brackwater-sim");
}

// Terminals first..last of model 6429 on serial port com, or spread over COM1..COM4 when com
// is 0, all in one transaction.
void addSerialTerminals(store::SqlConnection& cn, int first, int last, int com) {
    cn.BeginTrans();
    for (int a = first; a <= last; ++a)
        cn.executeBound(
            QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, "
                           "MachVer) VALUES (?, ?, '*', ?, '6429')"),
            {a, QString::number(com ? com : a % 4 + 1), QStringLiteral("班组%1").arg(a % 7 + 1)});
    cn.CommitTrans();
}

// n meal records spread over the terminals and the last 14 days, today's up to now.
void addMeals(store::SqlConnection& cn, int n) {
    const QDateTime now = QDateTime::currentDateTime();
    const QDate today = now.date();
    const int secondsToday = std::max(1, now.time().msecsSinceStartOfDay() / 1000);
    cn.BeginTrans();
    for (int i = 0; i < n; ++i) {
        const int day = i % 14;
        const int second = day == 0 ? i % secondsToday : (i * 7) % 86400;
        const QDateTime at(today.addDays(-day), QTime(0, 0).addSecs(second));
        cn.executeBound(QStringLiteral("INSERT INTO MealRecord (MachAddr, RecordNo, CardNo, "
                                       "RecordTime, Flag) VALUES (?, ?, ?, ?, 0)"),
                        {i % kTerminals + 1, i / kTerminals + 1,
                         QStringLiteral("%1").arg(i % 5000, 8, 10, QLatin1Char('0')),
                         at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))});
    }
    cn.CommitTrans();
}

QString sqliteFile(const QString& connection) {
    return connection.mid(int(qstrlen("sqlite:")));
}

// A plain SQLite connection of the bare windows' own to file.
QSqlDatabase bareDatabase(const QString& file) {
    static int counter = 0;
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                QStringLiteral("bare%1").arg(++counter));
    db.setDatabaseName(file);
    db.open();
    return db;
}

// The bare console: the register's rows into a plain table (the console's columns) and the
// meals of the last 14 days, counted by day and terminal in the database, into a plain chart
// with the same bar sets (the busiest terminals, the rest together).
std::unique_ptr<QWidget> bareConsoleWindow(const QString& file, int* rows, int* sets) {
    auto window = std::make_unique<QSplitter>(Qt::Vertical);
    host::console::MealDays days;
    {
        QSqlDatabase db = bareDatabase(file);
        QSqlQuery q(db);
        q.setForwardOnly(true);
        auto* model = new QStandardItemModel(0, host::console::StatusTable::Columns, window.get());
        q.exec(QStringLiteral("SELECT MachAddr, MachDesc, Team, ComX, IP, MachVer FROM "
                              "MachineInfo ORDER BY MachAddr"));
        while (q.next()) {
            QList<QStandardItem*> row;
            for (int c = 0; c < host::console::StatusTable::Columns; ++c)
                row << new QStandardItem(c < 6 ? q.value(c).toString() : QString());
            model->appendRow(row);
        }
        auto* table = new QTableView(window.get());
        table->setModel(model);
        table->resizeColumnsToContents();
        *rows = model->rowCount();

        const QDate today = QDate::currentDate();
        days.last = today;
        days.first = today.addDays(1 - host::console::MealChartDays);
        q.prepare(QStringLiteral("SELECT MachAddr, substr(RecordTime, 1, 10), COUNT(*) FROM "
                                 "MealRecord WHERE RecordTime >= ? AND RecordTime < ? AND (Flag "
                                 "IS NULL OR Flag NOT IN (1, 2)) GROUP BY 1, 2"));
        q.addBindValue(days.first.toString(QStringLiteral("yyyy-MM-dd")));
        q.addBindValue(today.addDays(1).toString(QStringLiteral("yyyy-MM-dd")));
        q.exec();
        while (q.next()) {
            const qint64 i = days.first.daysTo(
                QDate::fromString(q.value(1).toString(), QStringLiteral("yyyy-MM-dd")));
            QVector<int>& counts = days.perTerminal[q.value(0).toInt()];
            counts.resize(host::console::MealChartDays);
            if (i >= 0 && i < host::console::MealChartDays)
                counts[i] += q.value(2).toInt();
        }
    }
    auto* series = new QStackedBarSeries;
    for (const host::console::MealBar& bar :
         host::console::mealBars(days, host::console::MealChartTerminals)) {
        auto* set = new QBarSet(QString::number(bar.terminal));
        for (int n : bar.counts)
            *set << n;
        series->append(set);
    }
    QStringList labels;
    for (int i = 0; i < host::console::MealChartDays; ++i)
        labels << days.first.addDays(i).toString(QStringLiteral("MM-dd"));
    auto* chart = new QChart;
    chart->addSeries(series);
    auto* x = new QBarCategoryAxis;
    x->append(labels);
    auto* y = new QValueAxis;
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    auto* view = new QChartView(chart, window.get());
    view->setMinimumHeight(220);
    *sets = int(series->count());
    return window;
}

// The bare terminal window: the register's rows into a plain table of the window's list's
// columns.
std::unique_ptr<QWidget> bareRegisterWindow(const QString& file) {
    auto table = std::make_unique<QTableWidget>();
    QSqlDatabase db = bareDatabase(file);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.exec(QStringLiteral("SELECT MachAddr, MachDesc, ComX, IP, Team FROM MachineInfo ORDER BY "
                          "MachAddr"));
    table->setColumnCount(5);
    while (q.next()) {
        const int r = table->rowCount();
        table->insertRow(r);
        for (int c = 0; c < 5; ++c)
            table->setItem(r, c, new QTableWidgetItem(q.value(c).toString()));
    }
    table->resize(900, 600);
    return table;
}

// The bare program (this benchmark started with --bare-picture KIND FILE PNG [W H]): the bare
// console (KIND status) or the bare terminal window (KIND terminal) over the SQLite file FILE,
// shown and written to PNG, as the host program does with --screenshot-status and --screenshot.
int barePicture(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString kind = QString::fromLocal8Bit(argv[2]), file = QString::fromLocal8Bit(argv[3]);
    int rows = 0, sets = 0;
    std::unique_ptr<QWidget> w = kind == QLatin1String("status")
                                     ? bareConsoleWindow(file, &rows, &sets)
                                     : bareRegisterWindow(file);
    // The picture is as large as the program's, so that both write as many pixels.
    if (argc > 6)
        w->resize(QString::fromLocal8Bit(argv[5]).toInt(), QString::fromLocal8Bit(argv[6]).toInt());
    w->show();
    QCoreApplication::processEvents();
    return w->grab().save(QString::fromLocal8Bit(argv[4]), "PNG") ? 0 : 1;
}

// The console as the host program opens it, with no timed refresh during the run.
std::unique_ptr<ConsoleWindow> openConsole() {
    host::console::ConsoleOptions options;
    options.refreshSeconds = 3600;
    auto w = std::make_unique<ConsoleWindow>(options);
    w->show();
    return w;
}

// Runs the event loop until the console has finished n readings of the whole site, or
// timeoutMs passed; false on the timeout. The loop sleeps in between, as the program's does, so
// that the waiting takes no processor from the reading.
bool waitForRefreshes(const ConsoleWindow& w, int n, int timeoutMs) {
    QEventLoop loop;
    QElapsedTimer t;
    t.start();
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (w.refreshes() >= n && !w.busy())
            loop.exit(0);
        else if (t.elapsed() > timeoutMs)
            loop.exit(1);
    });
    poll.start();
    return loop.exec() == 0;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

void BM_LoopDuringRefresh(benchmark::State& state) {
    SilentMessageBox boxes;
    HostDb db(Backend::Sqlite);
    const int serial = kTerminals - 15;
    addSerialTerminals(db.cn(), 1, serial, 1);
    QStringList onLine, onTcp;
    for (int a = 1; a <= kTerminals; ++a) {
        (a <= serial ? onLine : onTcp) << QString::number(a);
        if (a > serial)
            db.cn().executeBound(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, "
                                                "Team, MachVer) VALUES (?, '1', '127.0.0.1', "
                                                "'TCP', '6429')"),
                                 {a});
    }
    sim::SimProcess line, tcp;
    const QStringList records{QStringLiteral("--records"), QStringLiteral("10")};
    if (!line.start(simProgram(),
                    QStringList{QStringLiteral("--addr"), onLine.join(u',')} + records) ||
        !tcp.start(simProgram(),
                   QStringList{QStringLiteral("--addr"), onTcp.join(u','), QStringLiteral("--tcp"),
                               QStringLiteral("127.0.0.1:0")} +
                       records)) {
        state.SkipWithError(qPrintable(line.error() + tcp.error()));
        return;
    }
    bell::setDevicePath(1, line.ptyPath());
    host::setTcpPortMap(1001, tcp.tcpPort());
    addMeals(db.cn(), 100000);

    std::vector<double> waits;
    double refreshSecs = 0;
    bool filled = true;
    for (auto _ : state) {
        auto w = openConsole(); // its first reading starts from the event loop
        QEventLoop loop;
        QElapsedTimer reading;
        reading.start();
        std::function<void()> arm = [&] {
            QElapsedTimer armed;
            armed.start();
            QTimer::singleShot(0, &loop, [&, armed] {
                waits.push_back(double(armed.nsecsElapsed()) / 1e6);
                if (w->refreshes() >= 1 && !w->busy())
                    loop.quit();
                else if (reading.elapsed() > 120000)
                    loop.exit(1);
                else
                    arm();
            });
        };
        arm();
        filled = loop.exec() == 0 && filled;
        refreshSecs += double(reading.nsecsElapsed()) / 1e9;
        int answering = 0;
        for (const auto& s : w->statusModel()->all())
            answering += s.answers ? 1 : 0;
        filled = filled && answering == kTerminals;
    }
    bell::setDevicePath(1, QString());
    host::clearTcpPortMap();
    if (!filled)
        state.SkipWithError("the reading did not end with every terminal answering");
    state.counters["max_ms"] = waits.empty() ? 0 : *std::max_element(waits.begin(), waits.end());
    state.counters["p99_ms"] = percentile(waits, 0.99);
    state.counters["timers"] = double(waits.size());
    state.counters["refresh_secs"] = refreshSecs / double(state.iterations());
}

// The bare start: the rows the console shows, read with plain queries on a connection of its
// own, into a plain table and chart.
class BareConsole {
public:
    explicit BareConsole(const QString& file, const QSize& size) : file_(file), size_(size) {}

    // Seconds of one start; the window stays open until the next start or close().
    double start() {
        close();
        return secondsOf([&] {
            window_ = bareConsoleWindow(file_, &rows_, &sets_);
            window_->resize(size_);
            window_->show();
            QCoreApplication::processEvents();
        });
    }
    void close() {
        window_.reset();
        QCoreApplication::processEvents();
    }
    int rows() const { return rows_; }
    int sets() const { return sets_; }

private:
    QString file_;
    QSize size_;
    std::unique_ptr<QWidget> window_;
    int rows_ = 0;
    int sets_ = 0;
};

void BM_StartVsBare(benchmark::State& state) {
    SilentMessageBox boxes;
    HostDb db(Backend::Sqlite);
    addSerialTerminals(db.cn(), 1, kTerminals, 0);
    addMeals(db.cn(), int(state.range(0)));
    const QString nowhere = QStringLiteral("/nonexistent/bw-bench-tty");
    for (int com = 1; com <= 4; ++com)
        bell::setDevicePath(com, nowhere);

    // Both pay their first-use costs (fonts, styles, charts) before timing.
    QSize size;
    {
        auto w = openConsole();
        waitForRefreshes(*w, 1, 60000);
        size = w->size();
    }
    BareConsole bare(sqliteFile(db.connection()), size);
    bare.start();

    double windowSecs = 0, bareSecs = 0;
    bool filled = true;
    for (auto _ : state) {
        bare.close();
        std::unique_ptr<ConsoleWindow> w;
        const double secs = secondsOf([&] {
            w = openConsole();
            filled = waitForRefreshes(*w, 1, 60000) && filled;
            QCoreApplication::processEvents();
        });
        windowSecs += secs;
        state.SetIterationTime(secs);
        filled = filled && w->statusModel()->rowCount() == kTerminals;
        w.reset();
        QCoreApplication::processEvents();
        bareSecs += bare.start();
        filled =
            filled && bare.rows() == kTerminals && bare.sets() == host::console::MealChartTerminals;
    }
    bare.close();
    for (int com = 1; com <= 4; ++com)
        bell::setDevicePath(com, QString());
    if (!filled || boxes.count > 0)
        state.SkipWithError("console or bare window not filled");
    const double n = double(state.iterations());
    state.counters["window_ms"] = windowSecs / n * 1000;
    state.counters["bare_ms"] = bareSecs / n * 1000;
    state.counters["ratio"] = bareSecs > 0 ? windowSecs / bareSecs : 0;
}

// Milliseconds of one run of program with arguments, started, run to its end and timed from
// outside; -1 when it fails.
double runMs(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer t;
    t.start();
    p.start(program, arguments);
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return -1;
    return double(t.nsecsElapsed()) / 1e6;
}

// BM_PictureVsBare/K: the host program's picture against the bare program's, alternately, each
// run to its end: K 0 the console's (--screenshot-status, its first reading of 255 terminals on
// missing devices and 100,000 meals), K 1 the terminal window's (--screenshot). The program is
// build/brackwater, or the one BW_BENCH_BRACKWATER names (an older build, for the "before").
void BM_PictureVsBare(benchmark::State& state) {
    const bool status = state.range(0) == 0;
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/host.db");
    try {
        auto cn = store::SqlConnection::open(QStringLiteral("sqlite:") + file, store::Create::Yes);
        host::createHostSchema(*cn, false);
        addSerialTerminals(*cn, 1, kTerminals, 0);
        addMeals(*cn, 100000);
        // A picture's run acts as the desktop account.
        const QString me = host::operators::desktopAccount();
        cn->executeBound(
            QStringLiteral("INSERT INTO Operators (Name, Disabled) SELECT ?, 0 "
                           "WHERE NOT EXISTS (SELECT 1 FROM Operators WHERE Name = ?)"),
            {me, me});
        cn->executeBound(
            QStringLiteral("INSERT INTO UserGrants (UserName, FunctionName) VALUES (?, '*')"),
            {me});
    } catch (const Error& e) {
        state.SkipWithError(qPrintable(e.description()));
        return;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/conf"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + QStringLiteral("/data"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString png = dir.path() + QStringLiteral("/shot.png");
    QString program = qEnvironmentVariable("BW_BENCH_BRACKWATER");
    if (program.isEmpty())
        program = QCoreApplication::applicationDirPath() + QStringLiteral("/../brackwater");
    QStringList args{
        QStringLiteral("--db"), QStringLiteral("sqlite:") + file,
        status ? QStringLiteral("--screenshot-status") : QStringLiteral("--screenshot"), png};
    for (int com = 1; com <= 4; ++com)
        args << QStringLiteral("--com") << QStringLiteral("%1=/nonexistent/bw-bench-tty").arg(com);
    // Each pays its first-use costs (page cache, fonts) before timing; the bare picture is
    // made as large as the program's first one.
    runMs(program, args, env);
    const QSize size = QImageReader(png).size();
    const QStringList bareArgs{QStringLiteral("--bare-picture"),
                               status ? QStringLiteral("status") : QStringLiteral("terminal"),
                               file,
                               png,
                               QString::number(size.width()),
                               QString::number(size.height())};
    runMs(QCoreApplication::applicationFilePath(), bareArgs, env);
    double programMs = 0, bareMs = 0;
    bool ran = true;
    for (auto _ : state) {
        const double a = runMs(program, args, env);
        const double b = runMs(QCoreApplication::applicationFilePath(), bareArgs, env);
        ran = ran && a > 0 && b > 0;
        programMs += a;
        bareMs += b;
        state.SetIterationTime(a / 1000);
    }
    if (!ran)
        state.SkipWithError("a run failed");
    const double n = double(state.iterations());
    state.counters["program_ms"] = programMs / n;
    state.counters["bare_ms"] = bareMs / n;
    state.counters["ratio"] = bareMs > 0 ? programMs / bareMs : 0;
}

// n collection entries in CtrlLog spread evenly over the 29 days before now, the newest now:
// over the 255 terminals, by seven users, half of them collections with clearing.
void addLogEntries(store::SqlConnection& cn, int n) {
    using host::collect::Text;
    const QDateTime now = QDateTime::currentDateTime();
    const QString start = now.addDays(-29).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    const bool postgres = cn.engine() == store::SqlConnection::Engine::Postgres;
    const QString second = QStringLiteral("(i * %1 / %2)").arg(29LL * 86400).arg(n);
    const QString time =
        postgres ? QStringLiteral("TIMESTAMP '%1' + %2 * interval '1 second'").arg(start, second)
                 : QStringLiteral("datetime('%1', '+' || %2 || ' seconds')").arg(start, second);
    // The texts are this program's own, without quotes: written into the statement.
    const QString select =
        QStringLiteral("SELECT 'user' || (i % 7), ") + time +
        QStringLiteral(", CAST(i % %1 + 1 AS TEXT), CASE WHEN i % 2 = 0 THEN '%2' ELSE '%3' END, "
                       "'%4'")
            .arg(QString::number(kTerminals), host::collect::text(Text::ActionCollect, 2052),
                 host::collect::text(Text::ActionCollectClear, 2052),
                 host::collect::text(Text::Done, 2052).arg(10).arg(10));
    const QString into = QStringLiteral("INSERT INTO CtrlLog (UserA, TimeA, ObjectA, ActionA, "
                                        "ResultA) ");
    cn.Execute(
        into +
        (postgres ? select + QStringLiteral(" FROM generate_series(1, CAST(%1 AS bigint)) i").arg(n)
                  : QStringLiteral("WITH RECURSIVE k(i) AS (SELECT 1 UNION ALL "
                                   "SELECT i + 1 FROM k WHERE i < %1) ")
                            .arg(n) +
                        select + QStringLiteral(" FROM k")));
    // The statistics the server's autovacuum gathers on a table grown over time.
    if (postgres)
        cn.Execute(QStringLiteral("ANALYZE CtrlLog"));
}

// A host database of 255 terminals whose devices do not exist and n log entries; null with the
// benchmark skipped when it cannot be had.
std::unique_ptr<HostDb> logDb(benchmark::State& state, int n) {
    std::unique_ptr<HostDb> db;
    try {
        db = std::make_unique<HostDb>(state.range(0) ? Backend::Postgres : Backend::Sqlite);
        addSerialTerminals(db->cn(), 1, kTerminals, 0);
        addLogEntries(db->cn(), n);
    } catch (const Error& e) {
        state.SkipWithError(qPrintable(e.description()));
        return nullptr;
    }
    for (int com = 1; com <= 4; ++com)
        bell::setDevicePath(com, QStringLiteral("/nonexistent/bw-bench-tty"));
    return db;
}

void BM_LogFirstPage(benchmark::State& state) {
    const auto db = logDb(state, 1000000);
    if (!db)
        return;
    int shown = 0;
    long growthKb = 0;
    double nextSecs = 0;
    bool follows = true;
    for (auto _ : state) {
        resetPeakRss();
        const long before = statusKb("VmRSS");
        host::console::LogViewer v;
        const auto settle = [&v] {
            while (v.reading())
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        };
        state.SetIterationTime(secondsOf(settle));
        shown = int(v.shown().size());
        const QString last = shown ? v.shown().last().time : QString();
        // The next page, which follows on from the first.
        nextSecs += secondsOf([&] {
            if (v.showOlder())
                settle();
        });
        follows = follows && v.pageNumber() == 1 && !v.shown().isEmpty() &&
                  v.shown().first().time <= last;
        growthKb = std::max(growthKb, statusKb("VmHWM") - before);
    }
    if (shown == 0 || !follows)
        state.SkipWithError("nothing shown, or the next page does not follow on");
    state.counters["shown"] = shown;
    state.counters["growth_mib"] = double(growthKb) / 1024;
    state.counters["next_page_ms"] = nextSecs / double(state.iterations()) * 1000;
}

void BM_StatusHistory(benchmark::State& state) {
    const auto db = logDb(state, int(state.range(1)));
    if (!db)
        return;
    int collected = 0;
    for (auto _ : state) {
        host::site::StatusRequest request;
        request.connection = db->connection();
        collected = 0;
        for (const host::site::TerminalStatus& s : host::site::readStatus(request))
            collected += s.lastCollection ? 1 : 0;
    }
    if (collected != (state.range(1) ? kTerminals : 0))
        state.SkipWithError("not every terminal's last collection was found");
}

} // namespace

BENCHMARK(BM_LogFirstPage)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StatusHistory)
    ->Args({0, 0})
    ->Args({0, 1000000})
    ->Args({1, 0})
    ->Args({1, 1000000})
    ->Iterations(3)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoopDuringRefresh)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_StartVsBare)
    ->Arg(100000)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_PictureVsBare)
    ->Arg(0)
    ->Arg(1)
    ->Iterations(10)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    bw::readTimeZoneOnce(); // as the host program does
    if ((argc == 5 || argc == 7) && qstrcmp(argv[1], "--bare-picture") == 0)
        return barePicture(argc, argv);
    return runWindowBenchmarks(argc, argv);
}

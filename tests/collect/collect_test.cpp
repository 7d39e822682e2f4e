// Collection of meal records through the real simulator program (pseudo-terminal and TCP)
// into real databases: the engine, the window and brackwater-collect.

#include "bell/serial_port.h"
#include "host/collect/collect_run.h"
#include "host/collect/collect_texts.h"
#include "host/collect/lines.h"
#include "host/collect/record_export.h"
#include "host/collect_ui/collect_window.h"
#include "host/ledger/backup.h"
#include "host/ledger/operators.h"
#include "host/link/link.h"
#include "host/names/cards.h"
#include "host/names/employees.h"
#include "host/names/name_lists.h"
#include "host/report/month_files.h"
#include "host/report/report_writer.h"
#include "host/site/site_run.h"
#include "host/site/status.h"
#include "platform/language.h"
#include "platform/line_lock.h"
#include "sim/process.h"
#include "store/backends.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlQueryModel>
#include <QTableWidget>
#include <QTest>
#include <cstdio>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace bw::host::collect;
using bw::sim::SimProcess;

namespace {

const QString kUser = R"(O'Brien "x\y")"; // quotes and a backslash, stored as they are

// The demo database (terminals 1 and 2 on COM1, 3 on TCP 127.0.0.1) and the simulator for
// them: COM1 is its pseudo-terminal, TCP port 1001 its listener.
template <class B> class Collection : public bw::test::OnBackend<B> {
protected:
    bool withDemoData() const override { return true; }
    void TearDown() override {
        sim.stop();
        bw::test::OnBackend<B>::TearDown();
    }
    // reset: a terminal whose memory was wiped; else a power cycle keeps what it held.
    void startSim(const QStringList& extra, bool reset = true) {
        QStringList args{"--addr", "1,2,3", "--tcp", "127.0.0.1:0"};
        if (reset)
            args << "--reset";
        ASSERT_TRUE(sim.start(bw::test::program("brackwater-sim"), args + extra, stateFile))
            << qPrintable(sim.error());
        bw::bell::setDevicePath(1, sim.ptyPath());
        bw::host::setTcpPortMap(1001, sim.tcpPort());
    }
    Outcome collect(int address, Options options, const Progress& progress = {},
                    bw::store::SqlConnection* on = nullptr) {
        bw::host::Link link;
        QString error;
        if (!bw::host::collect::openLink(link, address == 3 ? "127.0.0.1" : "COM1", error))
            return {};
        LinkSource source(address, link);
        MealStore sink(on ? *on : *this->cn, kUser);
        return collectTerminal(address, source, sink, options, progress);
    }
    qlonglong stored(int address) {
        return this->count("SELECT COUNT(DISTINCT RecordNo) FROM MealRecord WHERE MachAddr = ?",
                           {address});
    }
    int onTerminal(int address, const char* what = "records") {
        return sim.terminal(address)[what].toInt();
    }
    SimProcess sim;
    QString stateFile = bw::test::tempDir() + "/state.json";
};

template <class B> class CollectionTest : public Collection<B> {};
TYPED_TEST_SUITE(CollectionTest, bw::test::Backends, bw::test::BackendNames);
using SqliteCollection = Collection<bw::test::SqliteBackend>;
using PostgresCollection = Collection<bw::test::PostgresBackend>;

} // namespace

// Every terminal's records stored once with the employee of the card, then cleared on the
// terminal; a second collection finds nothing new.
TYPED_TEST(CollectionTest, StoresOnceAndClearsWhatIsStored) {
    this->startSim({"--records", "300", "--no-pacing"});
    // The name list a terminal should hold, on every database.
    EXPECT_EQ(bw::host::names::cardsOf(*this->cn, 1), QStringList({"00010001", "00010002"}));
    for (int address : {1, 3}) { // pseudo-terminal and TCP
        Options o;
        o.batchSize = 100;
        const Outcome first = this->collect(address, o);
        ASSERT_TRUE(first.ok()) << qPrintable(first.reason);
        EXPECT_EQ(first.added, 300);
        EXPECT_EQ(this->collect(address, o).added, 0);
        o.clear = true;
        const Outcome cleared = this->collect(address, o);
        EXPECT_TRUE(cleared.cleared);
        EXPECT_EQ(cleared.committedUpTo, 300u);
        EXPECT_TRUE(this->sim.waitState([&](auto) { return this->onTerminal(address) == 0; }));
        EXPECT_EQ(this->stored(address), 300);
    }
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord WHERE CollectedBy = ?", {kUser}), 600);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord WHERE MachAddr = 1 AND CardNo = "
                          "'00010001' AND EmpNo = 'E001' AND Flag = 0"),
              30);
    // Every terminal's list read in one query is the list read for it alone, untidy rows and
    // a number that is no terminal's included.
    const QVariantList rows[] = {{"00000030", 3}, {" 00000003 ", 3}, {"00000003", 3},
                                 {"1234", 3},     {"abcdefgh", 3},   {"00000004", 3.5}};
    for (const QVariantList& row : rows)
        this->cn->executeBound(
            "INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES (?, 'E9', ?)", row);
    const QHash<int, QStringList> each = bw::host::names::cardsOfEach(*this->cn, {1, 2, 3, 4});
    EXPECT_EQ(each.size(), 4);
    for (int address : {1, 2, 3, 4})
        EXPECT_EQ(each.value(address), bw::host::names::cardsOf(*this->cn, address)) << address;
    EXPECT_EQ(each.value(3), QStringList({"00000003", "00000030"}));
}

// Fault modes of the terminal: a collection that cannot get good blocks fails, keeps what it
// committed and clears nothing; occasional corrupted blocks are asked for again.
TEST_F(SqliteCollection, FaultsClearNothingAndBadBlocksAreRetried) {
    const struct {
        QStringList args;
        int address;
        bool ok;
    } cases[] = {
        {{"--corrupt-every", "2"}, 1, true},
        {{"--corrupt-every", "3"}, 3, true},
        {{"--corrupt-every", "1"}, 3, false},
        {{"--partial", "9"}, 3, false},
        {{"--garbage"}, 1, false},
        {{"--wrong-address"}, 3, false},
        {{"--silent"}, 3, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        cn->Execute("DELETE FROM MealRecord");
        startSim(QStringList{"--records", "200", "--no-pacing"} + c.args);
        Options o;
        o.clear = true;
        const Outcome out = collect(c.address, o);
        EXPECT_EQ(out.ok(), c.ok) << qPrintable(out.reason);
        EXPECT_EQ(stored(c.address), c.ok ? 200 : 0);
        EXPECT_EQ(onTerminal(c.address), c.ok ? 0 : 200);
        EXPECT_EQ(out.cleared, c.ok);
    }
}

// The simulator dies in the middle: the committed batches are stored once, nothing is cleared,
// and the next collection fetches the rest.
TYPED_TEST(CollectionTest, KilledMidTransferKeepsCommittedAndFetchesTheRestLater) {
    for (int address : {3, 1}) { // TCP, pseudo-terminal
        SCOPED_TRACE(address);
        this->cn->Execute("DELETE FROM MealRecord");
        this->startSim({"--records", "3000", "--no-pacing"});
        Options o;
        o.clear = true;
        o.batchSize = 500;
        o.blockSize = 50;
        QElapsedTimer timer;
        timer.start();
        const Outcome cut = this->collect(address, o, [&](qint64 done, qint64) {
            if (done >= 1200)
                this->sim.stop(); // the simulator ends in the middle of the transfer
        });
        EXPECT_LT(timer.elapsed(), 20000);
        EXPECT_FALSE(cut.ok());
        EXPECT_FALSE(cut.cleared);
        EXPECT_GE(cut.read, 1000);
        EXPECT_LT(cut.read, 3000);
        EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord"), cut.read);
        EXPECT_EQ(this->stored(address), cut.read);
        EXPECT_EQ(this->count("SELECT MAX(RecordNo) FROM MealRecord"), cut.committedUpTo);
        EXPECT_EQ(this->onTerminal(address), 3000); // its last state: nothing deleted
        EXPECT_NE(cut.failure, Failure::BadBlock) << qPrintable(cut.reason); // gone, not garbled

        this->startSim({"--records", "3000", "--no-pacing"}, false); // powered up again
        const Outcome rest = this->collect(address, o);
        ASSERT_TRUE(rest.ok()) << qPrintable(rest.reason);
        EXPECT_EQ(rest.added, 3000 - cut.read);
        EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord"), 3000);
    }
}

// A sink whose server session ends while its last batch is in flight: the COPY of the last
// records sent, its answer not yet read.
struct SessionEndsInFlight : bw::host::collect::RecordSink {
    SessionEndsInFlight(RecordSink& sink, int total, std::function<void()> end)
        : sink(sink), total(total), end(std::move(end)) {}
    void begin(int address) override { sink.begin(address); }
    void add(const MealRecord& r) override { ++added, sink.add(r); }
    int pending() const override { return sink.pending(); }
    bw::host::collect::Stored commit() override { return sink.commit(); }
    void discard() override { sink.discard(); }
    void startCommit() override { sink.startCommit(); }
    void advance() override { sink.advance(); }
    bw::host::collect::Stored finishCommit() override {
        if (added == total)
            end();
        return sink.finishCommit();
    }
    RecordSink& sink;
    int total, added = 0;
    std::function<void()> end;
};

// The collection ended within the last batch's COPY, or at a random moment: its server session
// ended, or the collecting program was killed (SIGKILL). Each record stored at most once, every
// record not stored still on the terminal, and the next collection stores the rest.
TEST_F(PostgresCollection, ServerGoneAtRandomStoresEachRecordOnce) {
    const quint32 seed = QRandomGenerator::global()->generate();
    std::printf("seed %u\n", seed);
    SCOPED_TRACE(seed);
    QRandomGenerator random(seed);
    Options o;
    o.clear = true;
    o.batchSize = 200;
    qint64 whole = 0; // how long a whole run of the program takes
    for (int trial = 0; trial < 10; ++trial) {
        const bool program = trial % 2 == 1; // brackwater-collect, batches of 2,000
        const int records = program ? 20000 : 3000;
        SCOPED_TRACE(program ? "program killed" : "server session ended");
        cn->Execute("DELETE FROM MealRecord");
        startSim({"--records", QString::number(records), "--no-pacing"});
        Outcome cut;
        if (program) {
            QProcess p;
            p.start(bw::test::program("brackwater-collect"),
                    {"--db", backend.connectionString, "--terminal", "3", "--tcp-port-map",
                     QString("1001=%1").arg(sim.tcpPort()), "--clear"});
            ASSERT_TRUE(p.waitForStarted());
            QElapsedTimer took;
            took.start();
            if (whole > 0) { // the first run is whole: how long one takes
                QTest::qWait(int(random.bounded(quint32(whole) + 1)));
                p.kill();
            }
            p.waitForFinished(60000);
            whole = std::max<qint64>(whole, took.elapsed());
            // Its server session may still commit the COPY it had sent whole (waited for five
            // seconds at most: another program's session may be at work on the server too).
            (void)QTest::qWaitFor(
                [&] {
                    return count("SELECT COUNT(*) FROM pg_stat_activity WHERE datname = "
                                 "current_database() AND pid <> pg_backend_pid() AND state <> "
                                 "'idle' AND backend_type = 'client backend'") == 0;
                },
                5000);
        } else {
            std::atomic<qlonglong> pid{0};
            const auto end = [&] { count("SELECT pg_terminate_backend(?)", {pid.load()}); };
            std::thread work([&] {
                auto own = bw::store::SqlConnection::open(backend.connectionString);
                pid = own->queryBound("SELECT pg_backend_pid()").value(0).value(0).toLongLong();
                if (trial == 0) { // every time in the last batch's flight
                    bw::host::Link link;
                    QString error;
                    ASSERT_TRUE(bw::host::collect::openLink(link, "127.0.0.1", error));
                    LinkSource source(3, link);
                    MealStore store(*own, kUser);
                    SessionEndsInFlight sink(store, records, end);
                    cut = collectTerminal(3, source, sink, o, {});
                } else {
                    cut = collect(3, o, {}, own.get());
                }
            });
            while (pid == 0)
                std::this_thread::yield();
            if (trial != 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(random.bounded(80000)));
                end();
            }
            work.join();
        }
        SCOPED_TRACE(qPrintable(cut.reason));
        EXPECT_EQ(count("SELECT COUNT(*) FROM MealRecord"), stored(3)); // no duplicates
        EXPECT_GE(stored(3), cut.read); // a commit whose reply was lost may be stored
        if (!program && !cut.ok()) {    // nothing cleared
            EXPECT_EQ(onTerminal(3), records);
        }
        const auto left = sim.terminal(3);
        const int first = left["records"].toInt() == 0 ? records + 1 : left["firstRecord"].toInt();
        EXPECT_EQ(count("SELECT COUNT(*) FROM MealRecord WHERE RecordNo < ?", {first}), first - 1);
        startSim({"--records", QString::number(records), "--no-pacing"}, false);
        EXPECT_TRUE(collect(3, o).ok());
        EXPECT_EQ(count("SELECT COUNT(*) FROM MealRecord"), records);
        EXPECT_EQ(stored(3), records);
    }
}

// A batch with a record another workstation stored after the batch was sorted out (here: out
// of order, so that the look for stored numbers misses it) stores the others and leaves it;
// with another card or time it is another unit's: nothing of the batch is stored, all of it is
// held back once, and the commit raises UnitConflict.
TYPED_TEST(CollectionTest, RecordStoredMeanwhileIsLeftAsItIs) {
    const auto record = [](quint32 number, const char* card = "00010001") {
        return MealRecord{number, card, QDateTime(QDate(2026, 1, 5), QTime(12, 0), Qt::UTC), 0, {}};
    };
    for (const char* card : {"00010001", "00010002"}) {
        const bool other = QByteArray(card) != "00010001";
        SCOPED_TRACE(card);
        this->cn->Execute("DELETE FROM MealRecord");
        MealStore sink(*this->cn, kUser);
        sink.begin(3);
        sink.add(record(1, card));
        EXPECT_EQ(sink.commit().added, 1);
        sink.begin(3);
        for (const quint32 number : {3, 1, 2})
            sink.add(record(number));
        try {
            EXPECT_EQ(sink.commit().added, other ? -1 : 2);
        } catch (const UnitConflict& e) {
            EXPECT_EQ(e.held(), other ? 3 : -1);
        }
        EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord WHERE MachAddr = 3"), other ? 1 : 3);
        EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecordHeld WHERE MachAddr = 3 AND "
                              "CardNo = '00010001' AND Reason = 1"),
                  other ? 3 : 0);
    }
}

// Texts of CardMapping with COPY's special characters are stored as they are.
TYPED_TEST(CollectionTest, EmployeeTextsAreStoredAsTheyAre) {
    this->startSim({"--records", "100", "--no-pacing"});
    for (const QString employee : {"E\t1", "E\n2\r", "E\\N", "\\.", "\\N", "食堂\t\\x"}) {
        SCOPED_TRACE(employee.toStdString());
        this->cn->Execute("DELETE FROM MealRecord");
        this->cn->executeBound("UPDATE CardMapping SET EmpNo = ? WHERE CardNo = '00010001'",
                               {employee});
        ASSERT_TRUE(this->collect(3, Options{}).ok());
        const qlonglong withCard =
            this->count("SELECT COUNT(*) FROM MealRecord WHERE CardNo = '00010001'");
        EXPECT_GT(withCard, 0);
        EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord WHERE EmpNo = ?", {employee}),
                  withCard);
    }
}

// Hostile terminals: a gap in the numbers, records that cannot be read (an impossible hour, a
// digit that is not BCD, a time in the local daylight-saving gap, a flag above 2), a status
// claiming more records than a terminal holds. Every record is afterwards stored, kept raw or
// still on the terminal.
TYPED_TEST(CollectionTest, HostileTerminalLosesNothing) {
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin"); // 2026-03-29 02:30 does not exist there
    const struct {
        QStringList args;
        bool ok;
        int stored, raw, left;
        const char* note;
    } cases[] = {
        {{"--hide-records", "129-199"}, true, 229, 0, 172, "a gap in the numbers"},
        {{"--hide-records", "1-10"}, true, 290, 0, 300, "a gap in the numbers"},
        {{"--record-bytes", "20=0001000126120725300000"}, true, 299, 1, 0, "1 unreadable"},
        {{"--record-bytes", "1=00010A0126120711300000", "--record-bytes",
          "300=0001000126120711300003"},
         true,
         298,
         2,
         0,
         "2 unreadable"},
        {{"--status-count", "4000000000"}, false, 0, 0, 300, "nothing cleared"},
        {{"--record-bytes", "7=0001000126032902300000"}, true, 300, 0, 0, "up to record 300"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        this->cn->Execute("DELETE FROM MealRecord");
        this->cn->Execute("DELETE FROM MealRecordRaw");
        this->startSim(QStringList{"--records", "300", "--no-pacing"} + c.args);
        Options o;
        o.clear = true;
        const Outcome out = this->collect(1, o);
        EXPECT_EQ(out.ok(), c.ok) << qPrintable(out.reason);
        EXPECT_EQ(this->stored(1), c.stored);
        EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecordRaw WHERE MachAddr = 1"), c.raw);
        EXPECT_EQ(out.raw, c.raw);
        EXPECT_EQ(this->onTerminal(1), c.left);
        EXPECT_TRUE(resultLine(out).contains(c.note)) << qPrintable(resultLine(out));
    }
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord WHERE RecordTime = '2026-03-29 "
                          "02:30:00' AND RecordNo = 7"),
              1);
    qputenv("TZ", zone);
}

// A terminal that numbers its records again from 1 with other cards and times: its records
// are a new series, counted as new, reported, and only then cleared.
TYPED_TEST(CollectionTest, RestartedNumberingIsANewSeries) {
    this->startSim({"--records", "25", "--no-pacing"});
    const QString db = this->backend.connectionString;
    auto tool = [&] {
        const QString map = QString("1001=%1").arg(this->sim.tcpPort());
        QProcess p;
        p.start(bw::test::program("brackwater-collect"),
                {"--db", db, "--terminal", "3", "--tcp-port-map", map, "--clear"});
        EXPECT_TRUE(p.waitForFinished(60000));
        return QString::fromUtf8(p.readAllStandardOutput());
    };
    EXPECT_TRUE(tool().startsWith("terminal 3: ok, 25 read, 25 new, cleared up to record 25\n"));
    this->startSim({"--records", "30", "--no-pacing"}); // the unit was replaced
    const QString second = tool();
    EXPECT_TRUE(second.startsWith("terminal 3: ok, 30 read, 30 new, cleared up to record 30, "
                                  "numbering started again"))
        << qPrintable(second);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord WHERE MachAddr = 3"), 55);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM CtrlLog WHERE ResultA LIKE ?",
                          {"%" + text(Text::NoteRestart).mid(1) + "%"}),
              1);
}

// A MealRecord made before the series keeps its rows and takes a restarted numbering.
TYPED_TEST(CollectionTest, OlderMealRecordGetsTheSeries) {
    if (this->cn->backend() == bw::store::BackendSettings::Kind::Odbc)
        GTEST_SKIP() << "tables on ODBC are left as they are";
    this->cn->Execute("DROP TABLE MealRecord");
    this->cn->Execute("CREATE TABLE MealRecord (MachAddr INTEGER NOT NULL, RecordNo BIGINT NOT "
                      "NULL, CardNo VARCHAR(50), EmpNo VARCHAR(50), RecordTime TIMESTAMP, Flag "
                      "INTEGER, CollectedAt TIMESTAMP, CollectedBy VARCHAR(255), UNIQUE "
                      "(MachAddr, RecordNo))");
    this->cn->Execute("INSERT INTO MealRecord (MachAddr, RecordNo) VALUES (3, 1)");
    bw::host::createHostSchema(*this->cn, false);
    this->cn->Execute("INSERT INTO MealRecord (MachAddr, RecordNo, Series) VALUES (3, 1, 1)");
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord WHERE RecordNo = 1"), 2);
}

// The delete's reply never comes (the simulator ends once the log entry is written): the
// entry is there before the delete is sent, and says afterwards that the clearing is not
// confirmed.
TEST_F(SqliteCollection, LostDeleteReplyIsNotConfirmedAndLoggedBeforehand) {
    startSim({"--records", "40", "--no-pacing"});
    Options o;
    o.clear = true;
    qlonglong before = -1;
    o.beforeClear = [&](quint32 upTo) {
        before = count("SELECT COUNT(*) FROM CtrlLog WHERE ResultA = ?",
                       {text(Text::ClearPending).arg(upTo)});
        sim.stop();
    };
    QList<Outcome> outs;
    bw::host::site::Request rq;
    rq.connection = backend.connectionString;
    rq.terminals = {3};
    rq.steps = {bw::host::site::Step::Collect};
    rq.clear = true;
    rq.user = "admin";
    rq.collectOptions = o;
    bw::host::site::runSite(rq, [&](const auto& r) { outs << r.collected; });
    ASSERT_EQ(outs.size(), 1);
    EXPECT_EQ(before, 1);
    EXPECT_TRUE(outs[0].clearUnconfirmed);
    EXPECT_TRUE(resultLine(outs[0]).endsWith("(40 stored, clearing not confirmed)"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM CtrlLog WHERE ResultA = ?", {resultText(outs[0])}), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CtrlLog WHERE ResultA LIKE '%40%'"), 1);
}

// A terminal given to another workstation during a run is not touched by the run's later steps.
TEST_F(SqliteCollection, TerminalGivenAwayDuringARunIsLeftAlone) {
    namespace site = bw::host::site;
    startSim({"--records", "5", "--no-pacing"});
    site::Request rq;
    rq.connection = backend.connectionString;
    rq.terminals = {3};
    rq.steps = {site::Step::Collect, site::Step::Names};
    rq.force = true;
    QList<Failure> kinds;
    site::runSite(rq, [&](const site::StepResult& r) {
        kinds << r.fault.kind;
        if (r.step == site::Step::Collect)
            bw::store::SqlConnection(backend.connectionString)
                .Execute("INSERT INTO TerminalStation (MachAddr, Station) VALUES (3, 'elsewhere')");
    });
    EXPECT_EQ(kinds, (QList<Failure>{Failure::None, Failure::OtherWorkstation}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM SiteStep WHERE MachAddr = 3"), 1); // the collection
}

// A CtrlLog refusing the entry before a delete: nothing cleared, the run fails. Entries a killed
// run left are completed next time; two runs on one TCP/IP terminal take turns, neither fails.
TEST_F(SqliteCollection, NoClearingWithoutItsLogEntryAndOneTalkerPerTcpTerminal) {
    namespace site = bw::host::site;
    startSim({"--records", "40"});
    site::Request rq;
    rq.connection = backend.connectionString;
    rq.terminals = {3};
    rq.steps = {site::Step::Collect, site::Step::Names};
    rq.clear = rq.force = true;
    cn->Execute("CREATE TRIGGER no BEFORE INSERT ON CtrlLog BEGIN SELECT RAISE(ABORT, 'no'); END");
    const site::RunSummary refused =
        site::runSite(rq, [](auto& r) { EXPECT_NE(r.ok, r.fault.kind == Failure::Database); });
    EXPECT_EQ(refused.failed, 1);
    EXPECT_EQ(refused.unwritten, 2); // the collection's entry and the list's: the tools say so
    EXPECT_EQ(onTerminal(3), 40);
    cn->Execute("DROP TRIGGER no");
    bw::host::Link link;
    QString error;
    ASSERT_TRUE(openLink(link, "127.0.0.1", error) && link.deleteRecordsUpTo(3, 10));
    link.DestoryPort();
    for (const int lang : {bw::LangTraditional, bw::LangSimplified}) // up to 10 cleared, 20 not
        cn->executeBound(
            "INSERT INTO CtrlLog (ObjectA, ActionA, ResultA) VALUES ('3', ?, ?)",
            {text(Text::ActionCollectClear, lang),
             text(Text::ClearPending, lang).arg(lang == bw::LangSimplified ? 20 : 10)});
    QString holder; // another talker, tried while the list goes out
    site::runSite(rq, {}, nullptr, [&](int, qint64, qint64) {
        bw::LineLock other("127.0.0.1", quint16(sim.tcpPort()));
        if (holder.isEmpty() && !other.acquire(0))
            holder = other.holder();
    });
    EXPECT_EQ(holder, QString("test_collect (pid %1)").arg(QCoreApplication::applicationPid()));
    std::atomic_int failed{0}; // off the GUI thread, which never waits for a line
    const auto run = [&] { failed += site::runSite(rq, {}).failed; };
    std::thread a(run), b(run);
    a.join();
    b.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CtrlLog WHERE ResultA IN (?, ?)",
                    {text(Text::ClearConfirmedLater, bw::LangTraditional).arg(10),
                     text(Text::ClearNotDoneLater, bw::LangSimplified).arg(20)}),
              2);
}

// Records made while a collect-and-clear runs are newer than the last one committed and stay.
TEST_F(SqliteCollection, RecordMadeDuringCollectAndClearStaysOnTheTerminal) {
    startSim({"--records", "150", "--record-every", "100"}); // paced: about 1.3 s of replies
    Options o;
    o.clear = true;
    o.blockSize = 10;
    const Outcome out = collect(3, o);
    ASSERT_TRUE(out.ok()) << qPrintable(out.reason);
    ASSERT_TRUE(out.cleared);
    EXPECT_TRUE(sim.waitState([&](auto) { return onTerminal(3) > 0; }));
    EXPECT_GT(onTerminal(3, "firstRecord"), int(out.committedUpTo));
    EXPECT_EQ(count("SELECT COUNT(*) FROM MealRecord WHERE RecordNo > ?", {out.committedUpTo}), 0);
    EXPECT_EQ(stored(3), out.read);
}

// Two workstations collecting and clearing the same terminal at once store each record once.
TEST_F(PostgresCollection, TwoWorkstationsAtOnceStoreEachRecordOnce) {
    startSim({"--records", "5000", "--no-pacing"});
    Outcome a, b;
    auto work = [&](Outcome& out) {
        auto own = bw::store::SqlConnection::open(backend.connectionString);
        Options o;
        o.clear = true;
        o.blockSize = 32;
        o.batchSize = 200;
        out = collect(3, o, {}, own.get());
    };
    std::thread ta(work, std::ref(a)), tb(work, std::ref(b));
    ta.join();
    tb.join();
    EXPECT_TRUE(a.ok()) << qPrintable(a.reason);
    EXPECT_TRUE(b.ok()) << qPrintable(b.reason);
    EXPECT_EQ(a.added + b.added, 5000);
    EXPECT_EQ(count("SELECT COUNT(*) FROM MealRecord"), 5000);
    EXPECT_EQ(stored(3), 5000);
    EXPECT_TRUE(sim.waitState([&](auto) { return onTerminal(3) == 0; }));
}

// The window: collects the selected terminals, shows their records and exports them; a
// database that refuses the records shows the failure and nothing is cleared; the demo
// user guest may collect but not clear.
TEST_F(SqliteCollection, WindowCollectsShowsExportsAndReportsRefusal) {
    startSim({"--no-pacing"});
    bw::host::collect::registerDataCollection();
    // A register that lists terminal 2 twice: it is collected once.
    cn->Execute("INSERT INTO MachineInfo (MachAddr, ComX, IP, MachVer) VALUES (2, '1', '*', "
                "'6429')");
    CollectWindow w("admin", "T", "C", QDate::currentDate());
    ASSERT_TRUE(w.mayClear());
    w.selectTerminals({1, 2});
    ASSERT_TRUE(w.startCollection(true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.running(); }, 20000));
    QCoreApplication::processEvents();
    ASSERT_EQ(w.outcomes().size(), 2);
    for (const Outcome& o : w.outcomes())
        EXPECT_TRUE(o.ok() && o.cleared && o.read == 25) << qPrintable(o.reason);
    w.showRecords(QDate::currentDate().addDays(-1), QDate::currentDate(), 2);
    EXPECT_EQ(w.recordModel()->rowCount(), 25);
    const QString csv = bw::test::tempDir() + "/r.csv";
    EXPECT_EQ(w.exportCsv(csv), 25);
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().count('\n'), 26);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CtrlLog WHERE UserA = 'admin'"), 2);

    cn->Execute("CREATE TRIGGER refuse BEFORE INSERT ON MealRecord BEGIN SELECT "
                "RAISE(ABORT, 'refused'); END");
    w.selectTerminals({3});
    ASSERT_TRUE(w.startCollection(true));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.running(); }, 20000));
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.outcomes().value(0).ok());
    EXPECT_EQ(w.findChild<QTableWidget*>("Progress")->item(0, 2)->text(),
              resultText(w.outcomes().value(0)));
    EXPECT_TRUE(resultText(w.outcomes().value(0)).contains("refused"));
    EXPECT_EQ(onTerminal(3), 25);

    CollectWindow guest("guest", "T", "C", QDate::currentDate());
    EXPECT_TRUE(guest.mayCollect());
    EXPECT_FALSE(guest.findChild<QPushButton*>("CollectAndClear")->isEnabled());
    guest.selectTerminals({1});
    EXPECT_FALSE(guest.startCollection(true));
}

// A thousand records in view hold no lock: the window collects, brackwater-collect collects
// while the window shows them and another workstation saves, with the write-ahead log of a
// local disk and with the rollback journal of a file server.
TEST_F(SqliteCollection, CollectsWhileAThousandRecordsAreInView) {
    startSim({"--no-pacing"});
    const QString file = backend.connectionString.mid(7);
    for (const QString mode : {"wal", "delete"}) {
        SCOPED_TRACE(mode.toStdString());
        const QString db = mode == "wal"
                               ? backend.connectionString
                               : "Provider=SQLite;Data Source=" + file + ";Journal Mode=" + mode;
        cn.reset(); // the last connection leaves the write-ahead log
        bw::host::setConnectionString(db);
        cn = bw::store::SqlConnection::open(db);
        EXPECT_EQ(cn->queryBound("PRAGMA journal_mode").value(0).value(0).toString(), mode);
        cn->Execute("DELETE FROM MealRecord");
        cn->Execute("DELETE FROM CtrlLog");
        cn->Execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                    "1000) INSERT INTO MealRecord (MachAddr, RecordNo, RecordTime) SELECT 9, i, "
                    "datetime('now', 'localtime') FROM n");
        CollectWindow w("admin", "T", "C", QDate::currentDate());
        EXPECT_EQ(w.recordModel()->rowCount(), 1000);
        w.selectTerminals({1});
        ASSERT_TRUE(w.startCollection(false));
        ASSERT_TRUE(QTest::qWaitFor([&] { return !w.running(); }, 20000));
        QCoreApplication::processEvents();
        EXPECT_TRUE(w.outcomes().value(0).ok()) << qPrintable(w.outcomes().value(0).reason);
        EXPECT_EQ(w.recordModel()->rowCount(), 1025);
        QProcess p;
        p.start(bw::test::program("brackwater-collect"),
                {"--db", db, "--terminal", "3", "--tcp-port-map",
                 QString("1001=%1").arg(sim.tcpPort())});
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAll().toStdString();
        EXPECT_NO_THROW(bw::store::SqlConnection(db).Execute("UPDATE MachineInfo SET Team = 'X'"));
        EXPECT_EQ(count("SELECT COUNT(*) FROM CtrlLog WHERE ResultA LIKE '%' || ? || '%'",
                        {text(Text::Done).arg(25).arg(25)}),
                  2); // the window's entry and the tool's
    }
}

// The CSV as a spreadsheet should open it: a byte-order mark, cells that would run as formulas
// neutralised, card numbers kept as text; brackwater-collect --export writes the same bytes.
TEST_F(SqliteCollection, ExportIsSpreadsheetSafeAndTheToolWritesTheSame) {
    const char* insert = "INSERT INTO MealRecord (MachAddr, RecordNo, CardNo, EmpNo, RecordTime, "
                         "Flag, CollectedBy) VALUES (?, ?, '00012', ?, ?, 1, ?)";
    cn->executeBound(insert, {2, 1, "=HYPERLINK(\"x\")", "2026-03-01 08:00:00", "@SUM(1)"});
    cn->executeBound(insert, {1, 1, "-2+3", "2026-03-02 08:00:00", "\tA"});
    cn->executeBound(insert, {1, 2, "x", "2026-03-03 08:00:00", "x"});
    CollectWindow w("admin", "T", "C", QDate::currentDate());
    for (int terminal : {2, 0}) {
        w.showRecords(QDate(2026, 3, 1), QDate(2026, 3, 2), terminal);
        EXPECT_EQ(w.exportName(), "meal-records-2026-03-01_2026-03-02.csv");
        const QString mine = bw::test::tempDir() + "/w.csv", tool = bw::test::tempDir() + "/t.csv";
        EXPECT_EQ(w.exportCsv(mine), terminal ? 1 : 2);
        const QStringList args{"--db",       backend.connectionString,
                               "--export",   tool,
                               "--from",     "2026-03-01",
                               "--to",       "2026-03-02",
                               "--terminal", "2"};
        QProcess p;
        p.start(bw::test::program("brackwater-collect"), args.mid(0, terminal ? 10 : 8));
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        QFile a(mine), b(tool);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QByteArray bytes = a.readAll();
        EXPECT_EQ(bytes, b.readAll());
        EXPECT_EQ(QFile::permissions(tool) & 0x7077, QFile::ReadOwner | QFile::WriteOwner);
        EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF" + text(Text::ColTerminal).toUtf8() + ","));
        const QString flag = text(Text::FlagIn);
        const QStringList lines = QString::fromUtf8(bytes).split("\r\n");
        EXPECT_EQ(lines.value(1),
                  "2,1,\"=\"\"00012\"\"\",\"'=HYPERLINK(\"\"x\"\")\",2026-03-01 08:00:00," + flag +
                      ",,'@SUM(1)");
        EXPECT_EQ(lines.value(2),
                  terminal ? QString()
                           : "1,1,\"=\"\"00012\"\"\",'-2+3,2026-03-02 08:00:00," + flag + ",,'\tA");
    }
    EXPECT_EQ(exportFileName(QDate(2026, 3, 1), QDate(2026, 3, 1)), "meal-records-2026-03-01.csv");
    EXPECT_EQ(csvCell("\r=1"), "\"'\r=1\"");
    EXPECT_EQ(csvCell("+1", true), "'+1");
}

// The meal of a time of day, at the edges of the default windows.
TEST(MonthReport, MealWindowEdges) {
    using bw::host::report::Meal;
    const struct {
        const char* time;
        Meal meal;
    } cases[] = {
        {"04:59:59", Meal::Other},  {"05:00:00", Meal::Breakfast}, {"09:59:59", Meal::Breakfast},
        {"10:00:00", Meal::Lunch},  {"14:59:59", Meal::Lunch},     {"15:00:00", Meal::Dinner},
        {"20:59:59", Meal::Dinner}, {"21:00:00", Meal::Other},     {"00:00:00", Meal::Other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(bw::host::report::classify(bw::host::defaultMealWindows(), c.time), c.meal)
            << c.time;
}

// Random records of the month and around it, each stored with the meal its time falls in
// (kept in Flag): the report's counts are a plain count of those, per employee and meal, a
// card's second swipe in a window of a day not counted.
TYPED_TEST(CollectionTest, MonthReportCountsWhatAPlainCountFinds) {
    const quint32 seed = QRandomGenerator::global()->generate();
    std::printf("random seed %u\n", seed);
    QRandomGenerator rng(seed);
    const char* edges[] = {"04:59:59", "05:00:00", "09:59:59", "10:00:00", "14:59:59",
                           "15:00:00", "20:59:59", "21:00:00", "23:59:59", "00:00:00"};
    const char* days[] = {"2026-02-28", "2026-03-01", "2026-03-15", "2026-03-31", "2026-04-01"};
    const auto windows = bw::host::defaultMealWindows();
    // A meal is counted once per card, day and window; a record outside the windows each time.
    QMap<QString, bw::host::report::Counts> plain;
    QSet<QString> meals;
    this->cn->BeginTrans();
    for (int i = 0; i < 600; ++i) {
        const int card = rng.bounded(20), emp = card % 12; // 0: a card without an employee
        const QString time = rng.bounded(2) ? QString::fromLatin1(edges[rng.bounded(10)])
                                            : QTime(0, 0).addSecs(rng.bounded(86400)).toString();
        const QVariant empNo = emp ? QVariant(QString("E%1").arg(emp, 3, 10, QChar('0')))
                               : rng.bounded(2) ? QVariant(QString(""))
                                                : QVariant();
        const int terminal = 1 + rng.bounded(3),
                  meal = int(bw::host::report::classify(windows, time));
        const QString day = days[rng.bounded(5)];
        this->cn->executeBound(
            "INSERT INTO MealRecord (MachAddr, RecordNo, CardNo, EmpNo, RecordTime, Flag) VALUES "
            "(?, ?, ?, ?, ?, ?)",
            {terminal, i, QString("%1").arg(card, 8, 10, QChar('0')), empNo, day + " " + time,
             meal});
        const QString key = QString("%1 %2 %3").arg(card).arg(day).arg(meal);
        if (terminal == 3 || !day.startsWith("2026-03") || (meal < 3 && meals.contains(key)))
            continue;
        plain[empNo.toString()].meals[meal] += 1;
        meals.insert(key);
    }
    this->cn->CommitTrans();
    bw::host::report::Request rq{QDate(2026, 3, 9), {1, 2}};
    const auto report = bw::host::report::readMonthReport(*this->cn, rq);
    QMap<QString, bw::host::report::Counts> found;
    for (const auto& r : report.employees)
        found[r.employee] = r.counts;
    for (const auto& r : report.cards)
        for (int m = 0; m < bw::host::report::ColumnCount; ++m)
            found[QString()].meals[m] += r.counts.meals[m];
    ASSERT_EQ(found.keys(), plain.keys()) << "seed " << seed;
    for (auto it = plain.cbegin(); it != plain.cend(); ++it)
        EXPECT_EQ(found[it.key()].meals, it->meals) << it.key().toStdString() << " seed " << seed;
}

// brackwater-collect --report: the workbook (a zip with its sheets) and the CSV with the
// operator's headings, card numbers kept with their zeros and cells never run as formulas.
TEST_F(SqliteCollection, ToolWritesTheMonthReport) {
    const char* insert = "INSERT INTO MealRecord (MachAddr, RecordNo, CardNo, EmpNo, RecordTime) "
                         "VALUES (?, ?, ?, ?, ?)";
    cn->executeBound(insert, {1, 1, "00012", "007", "2026-03-02 05:00:00"});
    cn->executeBound(insert, {1, 2, "00012", "007", "2026-03-02 21:00:00"});
    cn->executeBound(insert, {2, 3, "=cmd|x", QVariant(), "2026-03-03 12:00:00"});
    cn->executeBound(insert, {2, 4, "00012", "007", "2026-03-02 09:59:59"}); // a repeat
    cn->executeBound("INSERT INTO Employees (EmpNo, Name) VALUES ('007', ?)", {"王五"});
    cn->executeBound("INSERT INTO Employees (EmpNo, Name, Department, StartDay) VALUES ('008', "
                     "'@x', '厨房', '2026-03-31')",
                     {});
    const QString dir = bw::test::tempDir();
    // Links another user planted (as root: owned by nobody) to a file of ours; in a sticky
    // folder every link is refused, elsewhere one of another user.
    const bool root = ::geteuid() == 0;
    QDir(dir).mkdir("sticky");
    ::chmod(QFile::encodeName(dir + "/sticky").constData(), 01777);
    QFile secret(dir + "/secret");
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly) && secret.write("kept") == 4);
    secret.close();
    for (const char* link : {"/sticky/l.csv", "/l.csv"}) {
        ASSERT_TRUE(QFile::link(dir + "/secret", dir + link));
        if (root) {
            ASSERT_EQ(::lchown(QFile::encodeName(dir + link).constData(), 65534, 65534), 0);
        }
    }
    bw::host::Settings prices;
    prices.mealPriceFen = {250, 1200, 1000};
    prices.subsidyFen = 100;
    ASSERT_TRUE(bw::host::writeSettings(prices, dir + "/Brackwater/brackwater.conf"));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir);
    const struct {
        QStringList args;
        int code;
        QString out; // standard output or error holds this
    } cases[] = {
        {{"--report", "2026-03", "--out", dir + "/sticky/l.csv"}, 1, "every user may write"},
        {{"--report", "2026-03", "--out", dir + (root ? "/l.csv" : "/sticky/l.csv")},
         1,
         root ? "owned by another user" : "every user may write"},
        {{"--report", "2026-3", "--out", dir + "/m.xlsx"}, 2, "YYYY-MM"},
        {{"--report", "2026-03"}, 2, "--out"},
        {{"--report", "2026-03", "--out", "x.csv", "--all"}, 2, "--report goes without"},
        {{"--out", "x.csv"}, 2, "go with --report"},
        {{"--report", "2026-03", "--out", "/no/m.xlsx"}, 1, "No such file or directory"},
        {{"--report", "2026-03", "--out", dir + "/m.xlsx", "--by-day"}, 0, "3 meals and records"},
        {{"--report", "2026-03", "--out", dir + "/m.csv", "--lang", "1028"}, 0, "1 repeated"},
        {{"--payroll", "p.csv"}, 2, "go with --report"},
        {{"--report", "2026-03", "--out", dir + "/n.xlsx", "--payroll", dir + "/p.csv"},
         0,
         "p.csv"},
    };
    for (const auto& c : cases) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(bw::test::program("brackwater-collect"),
                QStringList{"--db", backend.connectionString} + c.args);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString said = p.readAllStandardOutput() + p.readAllStandardError();
        EXPECT_EQ(p.exitCode(), c.code) << said.toStdString();
        EXPECT_TRUE(said.contains(c.out)) << said.toStdString();
    }
    ASSERT_TRUE(secret.open(QIODevice::ReadOnly));
    EXPECT_EQ(secret.readAll(), "kept");
    EXPECT_EQ(QDir(dir + "/sticky").entryList(QDir::Files | QDir::Hidden | QDir::NoSymLinks).size(),
              0);
    QFile book(dir + "/m.xlsx"), csv(dir + "/m.csv");
    ASSERT_TRUE(book.open(QIODevice::ReadOnly) && csv.open(QIODevice::ReadOnly));
    const QByteArray zip = book.readAll();
    EXPECT_TRUE(zip.startsWith("PK") && zip.contains("xl/worksheets/sheet3.xml"));
    const QByteArray bytes = csv.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines = QString::fromUtf8(bytes.mid(3)).split("\r\n");
    EXPECT_EQ(lines.value(0), "員工就餐");
    EXPECT_EQ(lines.value(1), "工號,姓名,部門,卡號,早餐 05:00-10:00,午餐 10:00-15:00,晚餐 "
                              "15:00-21:00,時段外,合計");
    EXPECT_EQ(lines.value(2), "\"=\"\"007\"\"\",王五,,\"=\"\"00012\"\"\",1,0,0,1,2");
    EXPECT_EQ(lines.value(3), "\"=\"\"008\"\"\",'@x,厨房,,0,0,0,0,0"); // employed, no meal
    EXPECT_EQ(lines.value(6), "部門彙總");
    EXPECT_EQ(lines.value(9), "未分部門,1,1,0,0,1,2");
    EXPECT_TRUE(lines.contains("小計,,,,1,0,0,1,2"));
    EXPECT_TRUE(lines.contains(",,,'=cmd|x,0,1,0,0,1"));
    EXPECT_TRUE(
        lines.contains("\"=\"\"007\"\"\",\"=\"\"00012\"\"\",2026-03-02,早餐,05:00:00,09:59:59"));
    QFile pay(dir + "/p.csv");
    ASSERT_TRUE(pay.open(QIODevice::ReadOnly));
    EXPECT_EQ(pay.readAll(),
              "\xEF\xBB\xBF工号,姓名,部门,早餐,午餐,晚餐,金额\r\n007,王五,,1,0,0,1.50\r\n"
              "008,'@x,厨房,0,0,0,0.00\r\n");
    // The nightly's month files: made once, into [report] out-dir, and not marked when they
    // cannot be written.
    namespace rp = bw::host::report;
    using State = rp::MonthFilesOutcome::State;
    const QDate april(2026, 4, 2);
    prices.reportOutDir = dir + "/none";
    EXPECT_EQ(rp::makeLastMonthFiles(*cn, prices, april, 2052).state, State::Failed);
    prices.reportOutDir = dir;
    for (const State expected : {State::Made, State::MadeAlready})
        EXPECT_EQ(rp::makeLastMonthFiles(*cn, prices, april, 2052).state, expected);
    ASSERT_EQ(rp::madeMonths(*cn).size(), 1);
    EXPECT_EQ(rp::madeMonths(*cn).first().payroll, dir + "/payroll-2026-03.csv");
    EXPECT_TRUE(QFile::exists(dir + "/meals-2026-03.xlsx"));
}

// A cancel during a paced collect-and-clear: the window stays responsive, what was read is
// stored, nothing is cleared.
TEST_F(SqliteCollection, WindowCancelKeepsWhatWasReadAndClearsNothing) {
    startSim({"--records", "2000"}); // about 17 s of replies at the line speed
    CollectWindow w("admin", "T", "C", QDate::currentDate());
    w.selectTerminals({3});
    ASSERT_TRUE(w.startCollection(true));
    auto* bar = w.findChild<QTableWidget*>("Progress")->cellWidget(0, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return static_cast<QProgressBar*>(bar)->value() > 0; }));
    w.findChild<QPushButton*>("Cancel")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.running(); }, 10000));
    QCoreApplication::processEvents();
    const Outcome out = w.outcomes().value(0);
    EXPECT_EQ(out.state, Outcome::State::Cancelled);
    EXPECT_GT(out.read, 0);
    EXPECT_LT(out.read, 2000);
    EXPECT_EQ(stored(3), out.read);
    EXPECT_EQ(onTerminal(3), 2000);
}

// After an initialisation cleared terminal 1's list, "下载名单" puts CardMapping's list back
// (terminal 3, without cards in CardMapping, gets an empty one); the guest may not.
TEST_F(SqliteCollection, WindowDownloadsTheNameListsOfCardMapping) {
    startSim({"--no-pacing"});
    bw::host::Link link;
    short port = 1;
    QString one = "1";
    ASSERT_TRUE(link.SetPort(port) && link.ClearNameList(one));
    link.DestoryPort();
    CollectWindow w("admin", "T", "C", QDate::currentDate());
    w.selectTerminals({1, 3});
    w.findChild<QPushButton*>("DownloadNames")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.running(); }, 20000));
    QCoreApplication::processEvents();
    ASSERT_EQ(w.results().size(), 2);
    EXPECT_TRUE(w.results()[0].ok && w.results()[1].ok)
        << qPrintable(bw::host::site::resultLine(w.results()[0]));
    EXPECT_EQ(w.findChild<QTableWidget*>("Progress")->item(0, 2)->text(), stepText(w.results()[0]));
    const QStringList cards = bw::host::names::cardsOf(*cn, 1);
    EXPECT_EQ(cards, QStringList({"00010001", "00010002"}));
    bw::host::protocol::NameListStatus st;
    ASSERT_TRUE(link.SetPort(port) && link.readNameListStatus(1, st));
    EXPECT_EQ(st,
              (bw::host::protocol::NameListStatus{2, bw::host::protocol::nameListChecksum(cards)}));
    EXPECT_EQ(onTerminal(3, "nameListSize"), 0);
    CollectWindow guest("guest", "T", "C", QDate::currentDate());
    guest.selectTerminals({1});
    EXPECT_FALSE(guest.startNameDownload());
}

// brackwater-site killed (SIGKILL) at random moments while it downloads a list over TCP: the
// terminal holds the whole list it had or the whole new one, and the next run brings it in step.
TEST_F(SqliteCollection, SiteKilledMidDownloadLeavesAWholeList) {
    using bw::host::protocol::NameListStatus;
    startSim({"--no-pacing"});
    const auto onTerminal3 = [] {
        bw::host::Link link;
        link.mode(1);
        link.IP("127.0.0.1");
        short port = 0;
        NameListStatus st;
        EXPECT_TRUE(link.SetPort(port) && link.readNameListStatus(3, st));
        return st;
    };
    const QStringList run{"--db",           backend.connectionString,
                          "--tcp-port-map", QString("1001=%1").arg(sim.tcpPort()),
                          "sync-names",     "3"};
    NameListStatus had = onTerminal3(), wanted;
    qint64 whole = 0; // how long a whole run takes: the first and the last are not killed
    for (int round = 0; round <= 6; ++round) {
        QStringList cards; // another list of CardMapping each round
        for (int i = 0; i < 3000; ++i)
            cards << QString::number(30000000 + round * 5000 + i);
        cn->Execute("DELETE FROM CardMapping WHERE MachAddr = 3", -1);
        cn->BeginTrans();
        for (const QString& c : cards)
            cn->executeBound("INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES (?, 'E', 3)",
                             {c});
        cn->CommitTrans();
        wanted = {quint32(cards.size()), bw::host::protocol::nameListChecksum(cards)};
        QElapsedTimer took;
        took.start();
        QProcess p;
        p.start(bw::test::program("brackwater-site"), run);
        ASSERT_TRUE(p.waitForStarted());
        if (round > 0 && round < 6) {
            QTest::qWait(int(QRandomGenerator::global()->bounded(quint32(whole) + 1)));
            p.kill();
        }
        p.waitForFinished(60000);
        ASSERT_EQ(p.state(), QProcess::NotRunning);
        if (round == 0)
            whole = took.elapsed();
        const NameListStatus now = onTerminal3();
        EXPECT_TRUE(now == had || now == wanted) << round << " " << now.count;
        had = now;
    }
    EXPECT_EQ(had, wanted);
}

// Every text of the collection window in both languages, with the same placeholders.
// Seven characters of IP are an address here as everywhere else in the register.
TEST_F(SqliteCollection, SevenCharacterIpIsATcpTerminal) {
    cn->Execute("UPDATE MachineInfo SET IP = '1.2.3.4' WHERE MachAddr = 3");
    EXPECT_EQ(bw::host::site::readRegister(*cn).terminals.constLast().port, "1.2.3.4");
    // Rows whose MachAddr is no terminal number, or a number listed already, are left out.
    for (const char* a : {"3.7", "99999999999", "0", "'x'", "2"})
        cn->Execute(
            QString("INSERT INTO MachineInfo (MachAddr, MachVer) VALUES (%1, '6429')").arg(a));
    const bw::host::site::Register reg = bw::host::site::readRegister(*cn);
    QList<int> addresses;
    for (const TerminalEntry& t : reg.terminals)
        addresses << t.address;
    EXPECT_EQ(addresses, QList<int>({1, 2, 3}));
    EXPECT_EQ(reg.skipped.size(), 5);
}

TEST(CollectTexts, EveryTextInBothLanguages) {
    // The enum's last value; a text added after it fails below until it is named LastText.
    constexpr Text last = bw::host::collect::LastText;
    EXPECT_TRUE(text(Text(int(last) + 1), 2052).isEmpty()) << "a text after the last checked";
    for (int id = 0; id <= int(last); ++id) {
        const QString simplified = text(Text(id), 2052), traditional = text(Text(id), 1028);
        EXPECT_FALSE(simplified.isEmpty() || traditional.isEmpty()) << id;
        EXPECT_EQ(simplified.count('%'), traditional.count('%')) << id;
    }
}

// The stored time text is the formatter's "yyyy-MM-dd HH:mm:ss", whatever the time's kind.
TEST(CollectTexts, TimeTextIsTheFormattersText) {
    const QDate day(2026, 1, 9);
    for (const QDateTime& t :
         {QDateTime(day, QTime(0, 0), Qt::UTC), QDateTime(day, QTime(23, 59, 59, 999)),
          QDateTime(QDate(999, 12, 31), QTime(7, 5, 3), Qt::UTC),
          QDateTime(QDate(-5, 1, 1), QTime()), QDateTime()})
        EXPECT_EQ(timeText(t), t.toString("yyyy-MM-dd HH:mm:ss")) << qPrintable(t.toString());
}

// PostgreSQL's notices on the schema that is there already stay out of the nightly mail.
TEST_F(PostgresCollection, ToolIsQuietOnTheExistingSchema) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", bw::test::tempDir());
    p.setProcessEnvironment(env);
    p.start(bw::test::program("brackwater-collect"),
            {"--db", backend.connectionString, "--terminal", "9"});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.readAllStandardError(), QByteArray());
}

// A result is one line naming what failed, whatever the reason holds.
TEST(CollectTexts, ResultIsOneLineNamingWhatFailed) {
    const struct {
        Failure failure;
        const char* reason;
        const char* line;
    } cases[] = {
        {Failure::Database, "server closed the connection\n\tunexpectedly\n()",
         "terminal 5: failed: database: server closed the connection unexpectedly (7 stored"},
        {Failure::CannotOpen, "cannot open COM1 = /dev/%1\x1b[2J",
         "terminal 5: failed: cannot open COM1 = /dev/%1\x1b[2J (7 stored"},
        {Failure::BadBlock, "no good block", "terminal 5: failed: line: no good block (7"},
        {Failure::NoAnswer, "no answer", "terminal 5: failed: terminal: no answer (7"},
    };
    for (const auto& c : cases) {
        Outcome o{5, Outcome::State::Failed, c.failure, c.reason, {}, {}, 9, 7};
        EXPECT_TRUE(resultLine(o).startsWith(c.line)) << resultLine(o).toStdString();
        EXPECT_FALSE(resultText(o).contains('\n') || resultText(o).contains("%2"));
    }
}

// brackwater-collect: one line per terminal and its exit codes.
TEST_F(SqliteCollection, ToolLinesAndExitCodes) {
    startSim({"--no-pacing"});
    const QString db = backend.connectionString;
    const QString com = "1=" + sim.ptyPath();
    const QString map = QString("1001=%1").arg(sim.tcpPort());
    const QString empty = bw::test::tempDir() + "/empty.db";
    QFile(empty).open(QIODevice::WriteOnly);
    const struct {
        QStringList args;
        int code;
        QStringList lines;     // each output line starts so
        QString settings = {}; // the settings file
        QString err = {};      // standard error holds this
    } cases[] = {
        {{}, 2, {}},
        {{"--all", "--terminal", "1"}, 2, {}},
        {{"--terminal", "0"}, 2, {}},
        {{"--all", "extra"}, 2, {}},
        {{"--db", "sqlite:/nonexistent/x.db", "--all"}, 3, {}},
        {{"--db", "postgresql://nobody@127.0.0.1:1/none?connect_timeout=2", "--all"}, 3, {}},
        {{"--db", db, "--terminal", "3", "--tcp-port-map", map}, 0, {"terminal 3: ok, 25 read"}},
        {{"--db", db, "--terminal", "9", "--terminal", "3", "--tcp-port-map", map},
         1,
         {"terminal 9: failed", "terminal 3: ok, 25 read, 0 new"}},
        {{"--db", db, "--all", "--com", com, "--tcp-port-map", map, "--clear"},
         0,
         {"terminal 1: ok, 25 read, 25 new, cleared", "terminal 2: ok", "terminal 3: ok"}},
        {{"--db", db, "--all", "--tcp-port-map", "1001=1"}, 1, {"terminal 1: failed"}},
        {{"--db", db, "--terminal", "3", "--tcp-port-map", "1001=1"},
         1,
         {"terminal 3: failed: cannot connect to 127.0.0.1:1 (Connection refused) (0 stored"}},
        {{"--db", db, "--terminal", "1", "--com", "1=/dev/no-such-port"},
         1,
         {"terminal 1: failed: cannot open COM1 = /dev/no-such-port (No such file or directory)"}},
        {{"--db", db, "--terminal", "1"},
         1,
         {"terminal 1: failed: cannot open COM1: the settings file names no device"},
         "[com]\n1=\n",
         "settings: [com] 1= is not a valid entry"},
        {{"--version"}, 0, {"brackwater-collect " BW_VERSION}},
        {{"--db", db, "--export", "x.csv", "--from", "2026-03-02", "--to", "2026-03-01"}, 2, {}},
        {{"--db", db, "--export", "x.csv", "--from", "2026-03-02", "--all"}, 2, {}},
        {{"--db", db, "--all", "--from", "2026-03-02", "--to", "2026-03-02"}, 2, {}},
        {{"--db", db, "--export", "/no/x.csv", "--from", "2026-03-02", "--to", "2026-03-02"},
         1,
         {},
         {},
         "cannot write /no/x.csv: "},
        {{"--db", "sqlite:" + empty, "--all", "--clear"}, 3, {}, {}, "(it is empty)"},
    };
    const QString config = bw::test::tempDir();
    QDir().mkpath(config + "/Brackwater");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config);
        QFile file(config + "/Brackwater/brackwater.conf");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(c.settings.toUtf8()) >= 0);
        file.close();
        p.setProcessEnvironment(env);
        p.start(bw::test::program("brackwater-collect"), c.args);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), c.code) << err.toStdString();
        EXPECT_TRUE(err.contains(c.err)) << err.toStdString();
        const QStringList out = QString::fromUtf8(p.readAllStandardOutput()).split('\n');
        for (int i = 0; i < c.lines.size(); ++i)
            EXPECT_TRUE(out.value(i).startsWith(c.lines[i])) << out.value(i).toStdString();
    }
    EXPECT_EQ(onTerminal(1) + onTerminal(2) + onTerminal(3), 0);
}

// brackwater-site over the demo's two lines (COM1 with terminals 1 and 2, TCP/IP terminal 3):
// each terminal's list brought in step once, every step kept in SiteStep, and the exit codes.
// A row that reaches the lines starts from fresh terminals and no steps kept, after its setup.
TEST_F(SqliteCollection, SiteToolLinesAndExitCodes) {
    const QStringList simArgs{"--no-pacing", "--names", "1", "--clock-offset", "3600"};
    startSim(simArgs);
    QStringList at;
    const auto lines = [&] {
        at = QStringList{"--db",           backend.connectionString,
                         "--com",          "1=" + sim.ptyPath(),
                         "--tcp-port-map", QString("1001=%1").arg(sim.tcpPort())};
        return at;
    };
    // This computer's clock counts as synchronised whatever its kernel says: a site setting.
    const QString config = bw::test::tempDir() + "/site-config";
    QDir().mkpath(config + "/Brackwater");
    QFile conf(config + "/Brackwater/brackwater.conf");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly) &&
                conf.write("[clock]\nrequire-synchronised=false\n[site]\nbackup-dir=" +
                           config.toUtf8() + "/backups\n"));
    conf.close();
    QProcessEnvironment trustedClock = QProcessEnvironment::systemEnvironment();
    trustedClock.insert("XDG_CONFIG_HOME", config);
    const QString empty = config + "/empty.db";
    QFile(empty).open(QIODevice::WriteOnly);
    const struct {
        QStringList args;
        int code;
        QStringList lines;   // each is the start of an output line, in any order
        qlonglong kept;      // SiteStep rows the row itself adds
        bool line = false;   // run over the lines (after `at`), from fresh terminals
        QStringList setup{}; // run over the lines first, not judged
    } cases[] = {
        {{}, 2, {}, 0},
        {{"nightly", "3"}, 2, {}, 0},
        {{"nightly", "--force"}, 2, {}, 0},
        {{"sync-names", "0"}, 2, {}, 0},
        {{"frobnicate"}, 2, {}, 0},
        {{"--db", "sqlite:/nonexistent/x.db", "nightly"}, 3, {}, 0},
        {{"--db", "sqlite:" + empty, "nightly", "--clear"}, 3, {}, 0},
        {{"--db", "postgresql://nobody@127.0.0.1:1/none?connect_timeout=2", "nightly"}, 3, {}, 0},
        {{"sync-names", "--dry-run"},
         0,
         {"terminal 1 names: would download 2 cards", "terminal 3 names: would download 0"},
         0,
         true},
        {{"sync-names", "2", "9"},
         1,
         {"terminal 9 names: failed: not a model", "terminal 2 names: downloaded 1 card"},
         1,
         true},
        {{"nightly", "--clear"},
         0,
         {"terminal 1 collect: ok, 25 read, 25 new, cleared", "terminal 3 collect: ok",
          "terminal 2 clock: clock set", "terminal 3 clock: clock set",
          "terminal 1 names: downloaded 2", "terminal 2 names: in step", "backup " + config},
         9,
         true,
         {"sync-names", "2"}},
        {{"sync-names"},
         0,
         {"terminal 1 names: in step, 2", "terminal 3 names: in step, 0"},
         3,
         true,
         {"sync-names"}},
        {{"sync-clocks", "3"}, 0, {"terminal 3 clock: clock set to"}, 1, true},
        {{"sync-names", "1", "--force"},
         0,
         {"terminal 1 names: downloaded 2"},
         1,
         true,
         {"sync-names", "1"}},
        {{"--json", "sync-names", "3"},
         0,
         {R"({"command":"sync-names","dryRun":false,"exit":0,"results":[{"busy":false,"ok":true)"},
         1,
         true},
        {{"--line-wait", "0", "sync-clocks", "1", "3"},
         5,
         {"terminal 1 clock: failed: line ", "terminal 3 clock: clock set"},
         2,
         true},
    };
    const auto run = [&](const QStringList& args) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(trustedClock);
        p->start(bw::test::program("brackwater-site"), args);
        p->waitForFinished(60000);
        return p;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        std::unique_ptr<bw::LineLock> held;
        if (c.line) {
            startSim(simArgs);
            cn->Execute("DELETE FROM SiteStep");
            cn->Execute("DELETE FROM MealRecord");
            lines();
            if (!c.setup.isEmpty()) {
                ASSERT_EQ(run(at + c.setup)->exitCode(), 0);
            }
            held = std::make_unique<bw::LineLock>(sim.ptyPath());
        }
        if (c.code == 5) { // another program on COM1
            ASSERT_TRUE(held->acquire(0));
        }
        const qlonglong before = count("SELECT COUNT(*) FROM SiteStep");
        const auto p = run(c.line ? at + c.args : c.args);
        ASSERT_EQ(p->state(), QProcess::NotRunning);
        const QString err = QString::fromUtf8(p->readAllStandardError());
        EXPECT_EQ(p->exitCode(), c.code) << err.toStdString();
        EXPECT_EQ(err.contains("is not an SQLite database"), c.args.contains("sqlite:" + empty));
        EXPECT_EQ(QFileInfo(empty).size(), 0); // never written
        EXPECT_EQ(err.contains("unknown command \"frobnicate\""), c.args.contains("frobnicate"));
        const QString out = QString::fromUtf8(p->readAllStandardOutput());
        for (const QString& line : c.lines)
            EXPECT_TRUE(out.startsWith(line) || out.contains('\n' + line)) << out.toStdString();
        EXPECT_EQ(count("SELECT COUNT(*) FROM SiteStep") - before, c.kept);
        if (c.code == 5) {
            EXPECT_EQ(count("SELECT COUNT(*) FROM SiteStep WHERE Ok = 0 AND MachAddr = 1"), 1);
            EXPECT_LT(std::abs(onTerminal(3, "clockOffsetSecs")), 5); // over TCP/IP
        }
        if (c.line && c.args.contains("--clear")) {
            EXPECT_EQ(onTerminal(1) + onTerminal(2) + onTerminal(3), 0);
        }
        if (c.line && c.args.contains("--force")) {
            EXPECT_EQ(sim.terminal(1)["nameList"].toVariant().toStringList(),
                      QStringList({"00010001", "00010002"}));
        }
    }

    // A nightly run that leaves a terminal needing a hand (3 behind a closed port) says so in a
    // line each on standard error, at priority err ("<3>") only when that is the journal's
    // stream; a backup folder that cannot be made fails the run after its steps.
    const QString journal = config + "/journal", unwritable = config + "/unwritable";
    QDir().mkpath(unwritable + "/Brackwater");
    QFile other(unwritable + "/Brackwater/brackwater.conf"), said(journal);
    ASSERT_TRUE(other.open(QIODevice::WriteOnly) && said.open(QIODevice::WriteOnly) &&
                other.write("[clock]\nrequire-synchronised=false\n[site]\nbackup-dir=/dev/null/"
                            "x\n"));
    other.close(), said.close();
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(journal).constData(), &st), 0);
    const QString stream = QString("%1:%2").arg(st.st_dev).arg(st.st_ino);
    const QStringList away = at.mid(0, 4) + QStringList{"--tcp-port-map", "1001=1", "nightly"};
    const struct {
        QStringList args;
        QString journalStream, err; // err: a whole line of standard error
    } alerts[] = {
        {away, "1:1",
         "brackwater-site: terminal 3 (127.0.0.1, C) needs a hand: silent, collection"},
        {away, stream,
         "<3>brackwater-site: terminal 3 (127.0.0.1, C) needs a hand: silent, collection"},
        {at + QStringList{"nightly"}, "",
         "brackwater-site: backup failed, the older backups are kept: the backup folder is no "
         "folder and cannot be made"},
    };
    for (const auto& a : alerts) {
        QProcess p;
        QProcessEnvironment env = trustedClock;
        env.insert("XDG_CONFIG_HOME", unwritable);
        env.insert("JOURNAL_STREAM", a.journalStream);
        p.setProcessEnvironment(env);
        if (a.journalStream == stream)
            p.setStandardErrorFile(journal);
        p.start(bw::test::program("brackwater-site"), a.args);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString err = QString::fromUtf8(
            a.journalStream == stream && said.open(QIODevice::ReadOnly) ? said.readAll()
                                                                        : p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), 1) << err.toStdString();
        EXPECT_TRUE(err.split('\n').contains(a.err)) << err.toStdString();
        EXPECT_EQ(err.contains("<3>"), a.journalStream == stream) << err.toStdString();
        EXPECT_EQ(err.contains("needs a hand"), !a.journalStream.isEmpty());
        EXPECT_TRUE(p.readAllStandardOutput().contains("terminal 1 collect: ok"));
    }
}

// The site's largest clock change holds through the site layer: a terminal a day off is left
// as it is, and said so, unless the step is forced.
TEST_F(SqliteCollection, SiteRefusesAClockADayOffUnlessForced) {
    startSim({"--no-pacing", "--clock-offset", "86400"});
    const QString config = bw::test::tempDir();
    QDir().mkpath(config + "/Brackwater");
    QFile conf(config + "/Brackwater/brackwater.conf");
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly) &&
                conf.write("[clock]\nrequire-synchronised=false\nmax-change=3600\n") > 0);
    conf.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", config);
    for (const bool force : {false, true}) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(bw::test::program("brackwater-site"),
                QStringList{"--db", backend.connectionString, "--tcp-port-map",
                            QString("1001=%1").arg(sim.tcpPort()), "sync-clocks", "3"} +
                    (force ? QStringList{"--force"} : QStringList{}));
        ASSERT_TRUE(p.waitForFinished(60000));
        EXPECT_EQ(p.exitCode() == 0, force);
        const QByteArray said = p.readAllStandardOutput() + p.readAllStandardError();
        EXPECT_EQ(said.contains("more than allowed"), !force) << said.toStdString();
        EXPECT_EQ(std::abs(onTerminal(3, "clockOffsetSecs")) > 80000, !force);
    }
}

// Every program acts as the desktop account's operator: one that is none, is disabled or lacks
// the step's right is refused with exit 4 and nothing reaches a terminal; only an administrator
// changes operators.
TEST_F(SqliteCollection, ProgramsActAsTheirOperator) {
    startSim({"--no-pacing", "--clock-offset", "3600"});
    const QString me = bw::host::operators::desktopAccount();
    const QStringList db{"--db",           backend.connectionString,
                         "--com",          "1=" + sim.ptyPath(),
                         "--tcp-port-map", QString("1001=%1").arg(sim.tcpPort())};
    const QString collectOnly =
        "UPDATE UserGrants SET FunctionName = '采集数据' WHERE UserName = ?";
    const struct {
        QString setup; // on the desktop account's operator, an administrator before it
        const char* program;
        QStringList args;
        int code;
        const char* said; // in the output or the error
    } rows[] = {
        {{}, "brackwater-site", {"operator", "list"}, 0, ": admin"},
        {{},
         "brackwater-site",
         {"operator", "add", "clerk", "--rights", "test,collect", "--password-stdin"},
         0,
         "added with rights test,collect"},
        {{},
         "brackwater-site",
         {"operator", "add", "clerk", "--rights", "fly"},
         2,
         "unknown right"},
        {collectOnly,
         "brackwater-site",
         {"operator", "add", "x", "--rights", "test", "--password-stdin"},
         4,
         "only an administrator"},
        {collectOnly, "brackwater-site", {"sync-clocks"}, 4, "may not take"},
        {collectOnly, "brackwater-site", {"backup", "--to", "/nonexistent"}, 4, "no administrator"},
        {collectOnly,
         "brackwater-site",
         {"cards", "export", "/nonexistent/c.csv", "--terminal", "1"},
         4,
         "may not change the cards"},
        {collectOnly, "brackwater-collect", {"--all", "--clear"}, 4, "not allowed"},
        {collectOnly, "brackwater-bell", {"sync-clocks"}, 4, "may not set clocks"},
        {collectOnly, "brackwater-collect", {"--all", "--user", "admin"}, 4, "--user names"},
        {"UPDATE Operators SET Disabled = 1 WHERE Name = ?",
         "brackwater-site",
         {"status"},
         4,
         "is no operator"},
        {"DELETE FROM Operators WHERE Name = ?",
         "brackwater-collect",
         {"--all"},
         4,
         "is no operator"},
        {"DELETE FROM Operators WHERE Name = ?",
         "brackwater-bell",
         {"sync-clocks"},
         4,
         "is no operator"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(QString("%1 %2").arg(row.program, row.args.join(' ')).toStdString());
        for (const char* sql : {"DELETE FROM Operators WHERE Name IN (?, 'clerk', 'x')",
                                "DELETE FROM UserGrants WHERE UserName IN (?, 'clerk', 'x')",
                                "INSERT INTO Operators (Name, Disabled) VALUES (?, 0)",
                                "INSERT INTO UserGrants (UserName, FunctionName) VALUES (?, '*')"})
            cn->executeBound(QString::fromUtf8(sql), {me});
        if (!row.setup.isEmpty())
            cn->executeBound(row.setup, {me});
        QProcess p;
        const bool bell = QLatin1String(row.program) == QLatin1String("brackwater-bell");
        p.start(bw::test::program(row.program), (bell ? db.mid(0, 4) : db) + row.args);
        p.write("a password\n");
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString said =
            QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), row.code) << said.toStdString();
        EXPECT_TRUE(said.contains(QString::fromUtf8(row.said))) << said.toStdString();
    }
    EXPECT_GT(onTerminal(1), 0);                                 // neither collected nor cleared
    EXPECT_GT(std::abs(onTerminal(1, "clockOffsetSecs")), 3000); // nor set
    EXPECT_EQ(count("SELECT COUNT(*) FROM SiteStep"), 0);
}

// brackwater-site backup while another connection writes: the copy holds every row committed
// before it began, 0600 in a 0700 folder; only older backups and a killed one's temporary file
// go; a full disk leaves the older ones and no temporary file; the backup opened as the
// database gives every record.
TEST_F(SqliteCollection, BackupWhileWritingKeepsOlderOnesAndRestores) {
    startSim({"--records", "300", "--no-pacing"});
    ASSERT_TRUE(collect(1, Options{}).ok());
    cn->Execute("CREATE TABLE Probe (n INTEGER, pad TEXT)");
    std::atomic_bool stop{false};
    std::atomic_int written{0};
    std::thread writer([&] {
        bw::store::SqlConnection w(backend.connectionString);
        for (; !stop; ++written)
            w.executeBound("INSERT INTO Probe VALUES (?, ?)", {written.load(), QString(500, 'x')});
    });
    const QString dir = bw::test::tempDir() + "/backups", full = bw::test::tempDir() + "/full";
    const QStringList old{"brackwater-20200101-000000.db", "brackwater-20200102-000000.db",
                          "brackwater-notes.db", "other.db"};
    QDir().mkpath(dir);
    for (const QString& name : old)
        QFile(dir + '/' + name).open(QIODevice::WriteOnly);
    for (const char* tail : {"tmp", "tmp-journal"}) { // a killed backup's, removed
        QFile stale(dir + "/brackwater-20200103-000000.db." + tail);
        ASSERT_TRUE(
            stale.open(QIODevice::WriteOnly) &&
            stale.setFileTime(QDateTime(QDate(2020, 1, 3), QTime()), QFile::FileModificationTime));
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", dir + "/none"); // no [site] backup-dir
    env.insert("BW_SYSTEM_SETTINGS", dir + "/none");
    const auto site = [&](const QStringList& args, int code, const char* said) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(bw::test::program("brackwater-site"),
                QStringList{"--db", backend.connectionString} + args);
        EXPECT_TRUE(p.waitForFinished(120000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        EXPECT_EQ(p.exitCode(), code) << out.toStdString();
        EXPECT_TRUE(out.contains(QString::fromUtf8(said))) << out.toStdString();
    };
    site({"backup"}, 2, "no backup folder");
    site({"--db", "postgresql://nobody@127.0.0.1:1/none", "backup", "--to", dir}, 2, "pg_dump");
    site({"backup", "--to", dir}, 1, "other users"); // 0755
    // A group's folder (set-group-id) is the group's to share; a group-open one without the bit
    // is not.
    QDir(dir).mkdir("group");
    ::chmod(QFile::encodeName(dir + "/group").constData(), 02770);
    site({"backup", "--to", dir + "/group/b"}, 0, "brackwater-");
    EXPECT_EQ(QFileInfo(dir + "/group/b").permissions() & QFile::Permissions(0x0077),
              QFile::Permissions(0x0070));
    ::chmod(QFile::encodeName(dir + "/group").constData(), 0770);
    site({"backup", "--to", dir + "/group"}, 1, "other users");
    ASSERT_TRUE(QFile::setPermissions(dir, QFile::Permissions(0x7000)));
    while (written < 300)
        std::this_thread::yield();
    const int before = written;
    site({"backup", "--to", dir, "--keep", "2"}, 0, "removed brackwater-20200101-000000.db");
    QStringList now = QDir(dir).entryList(QDir::Files);
    ASSERT_EQ(now.size(), 4) << now.join(' ').toStdString();
    now.removeAll(old[1]), now.removeAll(old[2]), now.removeAll(old[3]);
    const QString copy = dir + '/' + now.value(0);
    EXPECT_EQ(QFileInfo(copy).permissions() & QFile::Permissions(0x0077), 0);
    bw::store::SqlConnection restored("sqlite:" + copy);
    EXPECT_GE(restored.queryBound("SELECT COUNT(*) FROM Probe").value(0).value(0).toInt(), before);
    const QString all = "SELECT * FROM MealRecord ORDER BY 1";
    EXPECT_EQ(restored.queryBound(all), cn->queryBound(all));
    stop = true;
    writer.join();
    // Two backups of one second both made; a copy that fails its check leaves none, nor its
    // temporary files, and the older backups stay.
    namespace bk = bw::host::backup;
    const QDateTime at = QDateTime::currentDateTime().addYears(1);
    EXPECT_TRUE(bk::backupDatabase(*cn, dir, 9, at).ok() &&
                bk::backupDatabase(*cn, dir, 9, at).ok());
    EXPECT_TRUE(QFile::exists(dir + '/' + bk::backupName(at, 2)));
    const QStringList made = QDir(dir).entryList(QDir::Files);
    cn->Execute("CREATE TABLE Odd (n INTEGER CHECK (n > 0))");
    cn->Execute("PRAGMA ignore_check_constraints = ON");
    cn->Execute("INSERT INTO Odd VALUES (-1)"); // copied as it is, found by the copy's check
    cn->Execute("PRAGMA ignore_check_constraints = OFF");
    EXPECT_EQ(bk::backupDatabase(*cn, dir, 1, at.addSecs(1)).failure, bk::Failure::CheckFailed);
    EXPECT_EQ(QDir(dir).entryList(QDir::Files), made);
    QDir().mkpath(full); // a full disk: the older backup stays, no temporary file is left
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k,mode=0700", "tmpfs", full}) != 0)
        GTEST_SKIP() << "no tmpfs could be mounted: a full disk is not tried";
    QFile(full + '/' + old[0]).open(QIODevice::WriteOnly);
    site({"backup", "--to", full}, 1, "the copy failed");
    EXPECT_EQ(QDir(full).entryList(QDir::Files), QStringList{old[0]});
    QProcess::execute("umount", {full});
}

// Two workstations, each with its own line behind COM1 and TCP port 1001 whose units have the
// same numbers: each nightly works only its terminals (A: 1 and 3, B: 2); the units of those
// numbers on the other line are never collected, cleared or given a list.
TYPED_TEST(CollectionTest, TwoWorkstationsWorkOnlyTheirOwnTerminals) {
    if (std::is_same_v<TypeParam, bw::test::OdbcSqliteBackend>)
        GTEST_SKIP() << "the SQLite ODBC driver's writers on two lines lock each other out";
    this->startSim({"--records", "30", "--no-pacing"});
    SimProcess other;
    ASSERT_TRUE(other.start(
        bw::test::program("brackwater-sim"),
        {"--addr", "1,2,3", "--tcp", "127.0.0.1:0", "--reset", "--records", "30", "--no-pacing"},
        bw::test::tempDir() + "/other.json"))
        << qPrintable(other.error());
    const auto lineOf = [&](const SimProcess& sim) {
        return QStringList{"--db",           this->backend.connectionString,
                           "--com",          "1=" + sim.ptyPath(),
                           "--tcp-port-map", QString("1001=%1").arg(sim.tcpPort())};
    };
    // A names itself in its settings, B on the command line.
    QProcessEnvironment envA = QProcessEnvironment::systemEnvironment(), envB = envA;
    for (auto [env, conf] : {std::pair{&envA, "[site]\nworkstation=A\n"}, {&envB, ""}}) {
        const QString dir = bw::test::tempDir() + (conf[0] ? "/conf-a" : "/conf-b");
        QDir().mkpath(dir + "/Brackwater");
        QFile f(dir + "/Brackwater/brackwater.conf");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly) &&
                    f.write(QByteArray("[clock]\nrequire-synchronised=false\n") + conf));
        env->insert("XDG_CONFIG_HOME", dir);
    }
    const auto site = [&](const QProcessEnvironment& env, const QStringList& args) {
        auto p = std::make_unique<QProcess>();
        p->setProcessEnvironment(env);
        p->start(bw::test::program("brackwater-site"), args);
        return p;
    };
    const QStringList db{"--db", this->backend.connectionString};
    // Each row starts from terminals 1 and 3 given to A; the last leaves 2 to B as well.
    const struct {
        QStringList args;
        int code;
        qlonglong assigned, logged; // TerminalStation rows after it, operation-log entries
    } assigns[] = {
        {{"assign", "1", "3"}, 0, 2, 2}, // to A, by its settings
        {{"assign", "2", "--workstation", "B\x01"}, 2, 2, 0},
        {{"assign", "2", "--workstation", QString(65, 'x')}, 2, 2, 0},
        {{"unassign", "3"}, 0, 1, 1},
        {{"assign", "1", "3", "--workstation", ""}, 0, 0, 2},
        {{"assign", "2", "9", "--workstation", "B"}, 1, 3, 1},
    };
    for (const auto& c : assigns) {
        this->cn->Execute("DELETE FROM TerminalStation");
        this->cn->Execute("DELETE FROM CtrlLog");
        this->cn->Execute("INSERT INTO TerminalStation (MachAddr, Station) VALUES (1, 'A')");
        this->cn->Execute("INSERT INTO TerminalStation (MachAddr, Station) VALUES (3, 'A')");
        auto p = site(envA, db + c.args);
        ASSERT_TRUE(p->waitForFinished(30000));
        EXPECT_EQ(p->exitCode(), c.code) << c.args.join(' ').toStdString();
        EXPECT_EQ(this->count("SELECT COUNT(*) FROM TerminalStation"), c.assigned);
        EXPECT_EQ(this->count("SELECT COUNT(*) FROM CtrlLog WHERE ActionA = '指定工作站'"),
                  c.logged);
    }
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM TerminalStation WHERE MachAddr = 2 AND "
                          "Station = 'B'"),
              1);
    const QJsonValue listA2 = this->sim.terminal(2)["nameList"],
                     listB1 = other.terminal(1)["nameList"];
    for (int round = 0; round < 2; ++round) {
        // At the same time on a database server; one after the other on an SQLite file.
        auto a = site(envA, lineOf(this->sim) + QStringList{"nightly", "--clear"});
        if (this->backend.connectionString.contains("sqlite", Qt::CaseInsensitive))
            a->waitForFinished(120000);
        auto b =
            site(envB, lineOf(other) + QStringList{"--workstation", "B", "nightly", "--clear"});
        for (QProcess* p : {a.get(), b.get()}) {
            ASSERT_TRUE(p->state() == QProcess::NotRunning || p->waitForFinished(120000));
            EXPECT_EQ(p->exitCode(), 0) << p->readAllStandardOutput().toStdString();
        }
    }
    for (int n : {1, 2, 3})
        EXPECT_EQ(
            this->count("SELECT COUNT(*) FROM MealRecord WHERE MachAddr = ? AND Series = 0", {n}),
            30);
    EXPECT_EQ(this->count("SELECT COUNT(*) FROM MealRecord"), 90);
    EXPECT_EQ(this->onTerminal(2) + other.terminal(1)["records"].toInt() +
                  other.terminal(3)["records"].toInt(),
              90); // the others' units untouched
    EXPECT_EQ(this->onTerminal(1) + this->onTerminal(3) + other.terminal(2)["records"].toInt(), 0);
    EXPECT_EQ(this->sim.terminal(2)["nameList"], listA2);
    EXPECT_EQ(other.terminal(1)["nameList"], listB1);
    EXPECT_EQ(other.terminal(2)["nameList"].toArray().size(), 1);
    for (const char* table : {"SiteStep", "CtrlLog"})
        EXPECT_EQ(this->count(QString("SELECT COUNT(*) FROM %1 WHERE Station = CASE WHEN "
                                      "%2 = '2' THEN 'B' ELSE 'A' END")
                                  .arg(table, table[0] == 'S' ? "CAST(MachAddr AS VARCHAR(3))"
                                                              : "ObjectA")),
                  this->count(QString("SELECT COUNT(*) FROM %1").arg(table)));
    // A's status shows B's terminal as B's, without asking it.
    auto status = site(envA, lineOf(this->sim) + QStringList{"status", "2"});
    ASSERT_TRUE(status->waitForFinished(30000));
    EXPECT_TRUE(status->readAllStandardOutput().contains("worked by workstation B, not asked"));
    other.stop();
}

// Two workstations on one register, the terminals given to neither, each line with its own unit
// of every number (their records differ), both collecting and clearing at once, one of them
// killed at random in every other round: every record is stored once or still on its unit, and
// the number whose two units met is flagged (nothing cleared on the flagged unit, its records
// held back, "two-units" in the status) unless the later one was taken as restarted numbering.
TYPED_TEST(CollectionTest, TwoUnitsOfOneNumberLoseNothing) {
    if (this->backend.connectionString.startsWith("odbc", Qt::CaseInsensitive))
        GTEST_SKIP() << "the programs' own drivers are tried here";
    const quint32 seed = QRandomGenerator::global()->generate();
    std::printf("seed %u\n", seed);
    SCOPED_TRACE(seed);
    QRandomGenerator random(seed);
    SimProcess other;
    SimProcess* sims[] = {&this->sim, &other};
    qint64 read = 0, stored = 0, cleared = 0, lost = 0, duplicated = 0, flagged = 0;
    for (int round = 0; round < 10; ++round) {
        for (const char* t : {"MealRecord", "MealRecordHeld", "CtrlLog", "SiteStep"})
            this->cn->Execute(QString("DELETE FROM %1").arg(t));
        QVector<MealRecord> units[2][4]; // each line's units 1 to 3, as they were at the start
        std::unique_ptr<QProcess> runs[2];
        for (int line : {0, 1}) {
            sims[line]->stop();
            ASSERT_TRUE(
                sims[line]->start(bw::test::program("brackwater-sim"),
                                  {"--addr", "1,2,3", "--tcp", "127.0.0.1:0", "--reset",
                                   "--no-pacing", "--records", QString::number(8 + 5 * line)},
                                  bw::test::tempDir() + QString("/line%1.json").arg(line)));
            bw::bell::setDevicePath(1, sims[line]->ptyPath());
            bw::host::setTcpPortMap(1001, sims[line]->tcpPort());
            for (int n : {1, 2, 3}) {
                bw::host::Link link;
                QString error;
                ASSERT_TRUE(openLink(link, n == 3 ? "127.0.0.1" : "COM1", error) &&
                            link.readRecords(n, 1, 64, units[line][n]));
            }
        }
        for (int line : {0, 1}) { // at once on a server, one writer after the other on a file
            runs[line] = std::make_unique<QProcess>();
            runs[line]->start(bw::test::program("brackwater-collect"),
                              {"--db", this->backend.connectionString, "--com",
                               "1=" + sims[line]->ptyPath(), "--tcp-port-map",
                               QString("1001=%1").arg(sims[line]->tcpPort()), "--workstation",
                               line ? "B" : "A", "--all", "--clear"});
            if (this->backend.connectionString.startsWith("sqlite", Qt::CaseInsensitive))
                runs[line]->waitForFinished(60000);
        }
        if (round % 2 == 1) {
            QTest::qWait(int(random.bounded(400u)));
            runs[random.bounded(2)]->kill();
        }
        for (auto& run : runs)
            ASSERT_TRUE(run->state() == QProcess::NotRunning || run->waitForFinished(60000));
        QHash<QString, int> rows; // "<number>/<record>/<card>/<time>": how often stored
        for (const QVariantList& r : this->cn->queryBound("SELECT MachAddr, RecordNo, CardNo, "
                                                          "RecordTime FROM MealRecord")) {
            const QVariant t = r.value(3); // a timestamp on a server, a text in a file
            rows[r.value(0).toString() + '/' + r.value(1).toString() + '/' + r.value(2).toString() +
                 '/' +
                 (t.metaType().id() == QMetaType::QDateTime
                      ? timeText(t.toDateTime())
                      : t.toString().left(19).replace('T', ' '))] += 1;
        }
        for (int line : {0, 1}) {
            const QString said = runs[line]->readAllStandardOutput();
            for (int n : {1, 2, 3}) {
                const QJsonObject left = sims[line]->terminal(n);
                for (const MealRecord& r : units[line][n]) {
                    const bool gone = left["records"].toInt() == 0 ||
                                      r.number < quint32(left["firstRecord"].toInt());
                    const int times = rows.take(
                        QString("%1/%2/%3/%4").arg(n).arg(r.number).arg(r.card, timeText(r.time)));
                    ++read, stored += times > 0, cleared += gone;
                    lost += gone && times == 0, duplicated += times > 1;
                }
                if (said.contains(QString("terminal %1: failed: two units answer").arg(n))) {
                    ++flagged; // nothing cleared on it, its records held back, the fault kept
                    EXPECT_EQ(left["records"].toInt(), units[line][n].size());
                    EXPECT_GT(this->count("SELECT COUNT(*) FROM MealRecordHeld WHERE MachAddr = "
                                          "? AND Reason = 1",
                                          {n}),
                              0);
                    EXPECT_GT(this->count("SELECT COUNT(*) FROM SiteStep WHERE MachAddr = ? AND "
                                          "Fault = 'two-units' AND Ok = 0",
                                          {n}),
                              0);
                }
            }
        }
        EXPECT_TRUE(rows.isEmpty()) << "stored, but no unit's record";
    }
    std::printf("records read %lld, stored %lld, cleared %lld, lost %lld, duplicated %lld; units "
                "flagged %lld\n",
                read, stored, cleared, lost, duplicated, flagged);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(duplicated, 0);
}

// The status of the demo site: terminal 2 silent, clocks two minutes ahead, 40 records waiting,
// lists out of step; after the routine's steps every answering terminal is in step.
TEST_F(SqliteCollection, SiteStatus) {
    using namespace bw::host::site;
    startSim({"--no-pacing", "--addr", "1,3", "--names", "1", "--clock-offset", "120", "--records",
              "40"});
    const struct {
        QList<Step> before; // routine steps taken first
        int terminal;
        bool answers;
        std::optional<qint64> clock, records;
        std::optional<bool> inStep;
        bool hand;
    } cases[] = {
        {{}, 2, false, {}, {}, {}, true},
        {{}, 1, true, 120, 40, false, true},
        {{}, 3, true, 120, 40, false, true},
        {{Step::Names}, 1, true, 120, 40, true, true},
        {{Step::Collect, Step::Clock}, 1, true, 0, 0, true, false},
        {{}, 3, true, 0, 0, true, false},
        {{}, 2, false, {}, {}, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.terminal);
        Request rq;
        rq.connection = backend.connectionString;
        rq.terminals = {1, 3};
        rq.steps = c.before;
        rq.clear = true;
        if (!c.before.isEmpty())
            runSite(rq, {});
        const QList<TerminalStatus> all = readStatus({backend.connectionString, {c.terminal}});
        ASSERT_EQ(all.size(), 1);
        const TerminalStatus& s = all.first();
        EXPECT_EQ(s.answers, c.answers) << s.fault.words.toStdString();
        EXPECT_EQ(!s.fault, c.answers);
        EXPECT_EQ(s.clockOffsetS.has_value(), c.clock.has_value());
        EXPECT_LE(std::abs(s.clockOffsetS.value_or(0) - c.clock.value_or(0)), 2);
        EXPECT_EQ(s.recordsWaiting, c.records);
        EXPECT_EQ(s.namesInStep, c.inStep);
        EXPECT_EQ(s.needsHand(), c.hand);
        EXPECT_EQ(s.lastCollection.has_value(), c.records == 0);
        EXPECT_EQ(s.lastCollection && s.lastCollection->ok, c.records == 0);
        EXPECT_EQ(s.lastNightly && s.lastNightly->result.startsWith("collect: ok"), c.records == 0);
    }
    // An operation-log entry whose time is none hides no collection.
    cn->Execute("DELETE FROM SiteStep", -1);
    cn->Execute("INSERT INTO CtrlLog (TimeA, ObjectA, ActionA) VALUES ('x', '1', '采集数据')", -1);
    const auto last = readStatus({backend.connectionString, {1}}).first().lastCollection;
    EXPECT_TRUE(last && last->ok);
    // A collection logged in the other language ended well too.
    cn->executeBound("INSERT INTO CtrlLog (TimeA, ObjectA, ActionA, ResultA, UserA) VALUES "
                     "('2099-01-01 00:00:00', '1', ?, ?, 'u')",
                     {text(Text::ActionCollect, 1028), text(Text::Done, 1028).arg("1", "1")});
    const auto traditional = readStatus({backend.connectionString, {1}}).first().lastCollection;
    EXPECT_TRUE(traditional && traditional->by == "u" && traditional->ok);
    // A failed collection after it: the good one is still known, for the age of the last good.
    cn->executeBound("INSERT INTO CtrlLog (TimeA, ObjectA, ActionA, ResultA, UserA) VALUES "
                     "('2099-01-02 00:00:00', '1', ?, 'x', 'v')",
                     {text(Text::ActionCollect, 2052)});
    const TerminalStatus failedLast = readStatus({backend.connectionString, {1}}).first();
    EXPECT_TRUE(failedLast.lastCollection && !failedLast.lastCollection->ok);
    EXPECT_TRUE(failedLast.lastGoodCollection && failedLast.lastGoodCollection->by == "u");
    cn->Execute("DELETE FROM CtrlLog WHERE UserA = 'v'", -1);
    // The same through the program: a document with null where nothing was read; a line
    // another program holds; terminals in step.
    bw::LineLock held(sim.ptyPath());
    const QStringList at{"--db",           backend.connectionString,
                         "--com",          "1=" + sim.ptyPath(),
                         "--tcp-port-map", QString("1001=%1").arg(sim.tcpPort())};
    const struct {
        QStringList args;
        int code;
        QString out;
    } runs[] = {
        {at + QStringList{"status", "--json"}, 1,
         R"("lastCollection":null,"lastGoodCollection":null,"lastNightly":null,"namesInStep":null,)"},
        {at + QStringList{"status", "1", "3"}, 0, "terminal 3 (127.0.0.1, C): answers in "},
        {at + QStringList{"status", "x"}, 2, ""},
        {{"--db", "sqlite:/nonexistent/x.db", "status", "--json"}, 3, R"("exit":3,"terminals":[])"},
        {at + QStringList{"--line-wait", "0", "status", "1"}, 1, " busy: held by "},
    };
    for (const auto& r : runs) {
        SCOPED_TRACE(r.args.join(' ').toStdString());
        if (r.out.contains("busy")) {
            ASSERT_TRUE(held.acquire(0));
        }
        QProcess p;
        p.start(bw::test::program("brackwater-site"), r.args);
        ASSERT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), r.code) << p.readAllStandardError().toStdString();
        const QByteArray out = p.readAllStandardOutput();
        EXPECT_TRUE(out.contains(r.out.toUtf8())) << out.toStdString();
        if (!r.args.contains("--json") || r.code != 1)
            continue;
        const QJsonObject doc = QJsonDocument::fromJson(out).object();
        EXPECT_EQ(doc["exit"].toInt(), 1);
        const QJsonArray terminals = doc["terminals"].toArray();
        ASSERT_EQ(terminals.size(), 3);
        const QJsonObject silent = terminals[1].toObject();
        for (const char* key : {"roundTripMs", "clockOffsetS", "recordsWaiting", "namesInStep"})
            EXPECT_TRUE(silent[key].isNull()) << key;
        EXPECT_EQ(terminals[0].toObject().keys(), silent.keys());
        EXPECT_EQ(terminals[0].toObject()["lastCollection"].toObject().keys(),
                  QStringList({"at", "by", "ok", "result"}));
    }
    // The text for a node exporter, readable by all, put in place whole.
    const QString prom = bw::test::tempDir() + "/site.prom";
    QProcess p;
    p.start(bw::test::program("brackwater-site"), at + QStringList{"status", "--prometheus", prom});
    ASSERT_TRUE(p.waitForFinished(30000));
    QFile written(prom);
    EXPECT_TRUE(written.open(QIODevice::ReadOnly) &&
                written.readAll().contains("\nbrackwater_terminal_answers{terminal=\"2\"} 0\n"));
    struct stat st {};
    EXPECT_TRUE(::stat(QFile::encodeName(prom).constData(), &st) == 0 &&
                (st.st_mode & 0777) == 0644);
}

// The status in the format of a node exporter's textfile collector: what was not read is left
// out, label values escaped, another workstation's terminal not asked, a number that is no
// terminal of the register absent. Each row: "+" a line there, "-" no line starting so.
TEST(SiteStatusPrometheus, AbsentValuesAndEscapedLabels) {
    using namespace bw::host::site;
    const QDateTime at = QDateTime::fromSecsSinceEpoch(1800000000);
    TerminalStatus fine, silent, other, unknown;
    fine.terminal = 3, fine.port = "COM1", fine.place = "A \"b\"\\\nc", fine.answers = true;
    fine.roundTripMs = 12, fine.clockOffsetS = -2, fine.recordsWaiting = 40;
    fine.namesInStep = true, fine.lastCollection = StepRecord{at.addSecs(-90), "u", "ok", true};
    fine.lastGoodCollection = fine.lastCollection;
    silent.terminal = 2, other.terminal = 5, other.station = "B", unknown.terminal = 9;
    other.lastCollection = StepRecord{at.addSecs(-10), "u", "x", false};
    other.lastGoodCollection = StepRecord{at.addSecs(-500), "u", "ok", true};
    unknown.fault.kind = Failure::NotInRegister;
    const QStringList lines = statusPrometheus({fine, silent, other, unknown}, at).split('\n');
    for (
        const char* row : {
            "+brackwater_site_read_ok 1",
            "+brackwater_site_scrape_timestamp_seconds 1800000000",
            "+# TYPE brackwater_terminal_clock_offset_seconds gauge",
            R"(+brackwater_terminal_info{terminal="3",port="COM1",place="A \"b\"\\\nc",workstation=""} 1)",
            R"(+brackwater_terminal_info{terminal="5",port="",place="",workstation="B"} 1)",
            R"(+brackwater_terminal_round_trip_seconds{terminal="3"} 0.012)",
            R"(+brackwater_terminal_clock_offset_seconds{terminal="3"} -2)",
            R"(+brackwater_terminal_names_in_step{terminal="3"} 1)",
            R"(+brackwater_terminal_last_good_collection_age_seconds{terminal="3"} 90)",
            R"(+brackwater_terminal_needs_hand{terminal="3"} 0)",
            R"(+brackwater_terminal_answers{terminal="2"} 0)",
            R"(-brackwater_terminal_round_trip_seconds{terminal="2"})",
            R"(-brackwater_terminal_answers{terminal="5"})",
            R"(+brackwater_terminal_last_good_collection_age_seconds{terminal="5"} 500)",
            R"(-brackwater_terminal_never_collected{terminal="5"})",
            R"(-brackwater_terminal_never_collected{terminal="3"})",
            R"(+brackwater_terminal_never_collected{terminal="2"} 1)",
            R"(+brackwater_terminal_needs_hand{terminal="5"} 1)",
            R"(-brackwater_terminal_info{terminal="9")",
        }) {
        const QString line = QString::fromUtf8(row + 1);
        EXPECT_EQ(std::count_if(lines.cbegin(), lines.cend(),
                                [&](const QString& l) {
                                    return row[0] == '+' ? l == line : l.startsWith(line);
                                }),
                  row[0] == '+' ? 1 : 0)
            << row;
    }
    EXPECT_TRUE(statusPrometheus({}, at, false).contains("\nbrackwater_site_read_ok 0\n"));
}

// Every rule of handsNeeded, one row each: what could not be read asks for a hand too.
TEST(SiteStatusHands, EveryRuleHasARow) {
    using namespace bw::host::site;
    using H = TerminalStatus::Hand;
    using O = std::optional<qint64>;
    const qint64 tol = ClockToleranceS, lim = RecordsWaitingLimit;
    const struct {
        bool answers, impossible;
        O clock, records;
        std::optional<bool> names, collected;
        QList<H> hands;
        Failure fault = Failure::None; // of the last collection
    } rows[] = {
        {true, false, 0, 0, true, true, {}},
        {false, false, {}, {}, {}, {}, {H::Silent}},
        {true, true, 0, {}, true, {}, {H::ImpossibleRecords}},
        {true, false, {}, 0, true, {}, {H::ClockUnread}},
        {true, false, 0, 0, {}, {}, {H::NamesUnread}},
        {true, false, -tol, 0, true, {}, {}},
        {true, false, tol + 1, 0, true, {}, {H::Clock}},
        {true, false, 0, 0, false, {}, {H::Names}},
        {true, false, 0, 0, true, false, {H::Collection}},
        {true, false, 0, 0, true, false, {H::TwoUnits}, Failure::TwoUnits},
        {true, false, 0, lim, true, {}, {}},
        {true, false, 0, lim + 1, true, {}, {H::Records}},
        {false, false, {}, {}, {}, {}, {}}, // a line test refused to the operator: none asked
    };
    for (const auto& r : rows) {
        TerminalStatus s;
        if (&r == &rows[std::size(rows) - 1])
            s.fault.kind = Failure::NotAllowed;
        s.answers = r.answers;
        s.impossibleRecords = r.impossible;
        s.clockOffsetS = r.clock;
        s.recordsWaiting = r.records;
        s.namesInStep = r.names;
        if (r.collected)
            s.lastCollection =
                StepRecord{QDateTime::currentDateTime(), "u", "", *r.collected, r.fault};
        EXPECT_EQ(s.handsNeeded(), r.hands) << statusLine(s).toStdString();
        EXPECT_EQ(s.needsHand(), !r.hands.isEmpty());
    }
}

// A terminal that answers only some requests: the status names exactly what it could not
// read, and a commit whose acknowledgement was lost is decided by the next status.
TEST_F(SqliteCollection, SiteStatusOfAHostileTerminal) {
    using namespace bw::host::site;
    using H = TerminalStatus::Hand;
    const std::pair<QStringList, QList<H>> rows[] = {
        {{}, {}},
        {{"--ignore", "clock,names"}, {H::ClockUnread, H::NamesUnread}},
        {{"--ignore", "clock"}, {H::ClockUnread}},
        {{"--names-status-fault", "bad-check"}, {H::NamesUnread}},
        {{"--names-status-fault", "short"}, {H::NamesUnread}},
        {{"--names-status-fault", "other-address"}, {H::NamesUnread}},
        {{"--status-count", "4294967295"}, {H::ImpossibleRecords}},
        {{"--commit-reply", "lost", "--names", "1"}, {}}, // the list goes in; the status says so
    };
    for (const auto& [args, hands] : rows) {
        SCOPED_TRACE(args.join(' ').toStdString());
        sim.stop();
        startSim(QStringList{"--no-pacing", "--names", "2"} + args);
        if (args.contains("--commit-reply")) {
            Request names;
            names.connection = backend.connectionString;
            names.terminals = {1};
            names.steps = {Step::Names};
            runSite(names, {});
        }
        StatusRequest rq{backend.connectionString, {1}};
        rq.replyTimeoutMs = 300;
        const TerminalStatus s = readStatus(rq).first();
        EXPECT_TRUE(s.answers) << faultLine(s.fault).toStdString();
        EXPECT_EQ(s.handsNeeded(), hands) << statusLine(s).toStdString();
    }
    // The newest step is the one written last: a collection dated in the future by a wrong
    // computer clock hides no later failure.
    for (const auto& [at, result] :
         {std::pair{QString("2090-01-01 00:00:00"), "ok"},
          {QDateTime::currentDateTime().toString("yyyy-MM-dd HH:mm:ss"), "x"}})
        cn->executeBound("INSERT INTO SiteStep (MachAddr, Step, StepAt, StepBy, Result, Ok) VALUES "
                         "(1, 'collect', ?, 'u', ?, ?)",
                         {at, result, int(result == QString("ok"))});
    const TerminalStatus s = readStatus({backend.connectionString, {1}}).first();
    EXPECT_EQ(s.lastCollection.value_or(StepRecord()).result, "x");
    EXPECT_TRUE(s.handsNeeded().contains(H::Collection));
}

// Lines: two COM numbers of one device are one line, each TCP/IP terminal is one of its own.
TEST(CollectLines, OneLinePerDeviceAndPerTcpTerminal) {
    bw::bell::setDevicePath(14, "/dev/null");
    bw::bell::setDevicePath(15, "/dev/null");
    bw::bell::setDevicePath(16, "/dev/zero");
    QStringList lines;
    QList<TerminalEntry> terminals;
    for (const char* port : {"COM14", "10.0.0.1", "COM15", "COM16", "10.0.0.1", "COMx"})
        terminals << TerminalEntry{int(terminals.size()) + 1, port, {}, {}};
    for (const TerminalLine& l : linesOf(terminals)) {
        QStringList members;
        for (int i : l.members)
            members << QString::number(i);
        lines << l.name + (l.serial ? " serial " : " ") + members.join(',');
    }
    EXPECT_EQ(lines, QStringList({"/dev/null serial 0,2", "10.0.0.1 1", "/dev/zero serial 3",
                                  "10.0.0.1 4", "COMx 5"}));
}

// The pool bounds the lines worked at once, and with them the threads and the connections:
// twenty TCP/IP terminals (twenty lines) with a pool of three never have more than three.
TEST_F(SqliteCollection, PoolBoundsTheLinesAtOnce) {
    bw::host::setTcpPortMap(1001, 1); // nothing listens: each line fails at once
    for (int n = 10; n < 27; ++n)
        cn->Execute(QString("INSERT INTO MachineInfo (MachAddr, ComX, IP, MachVer) VALUES (%1, "
                            "'1', '127.0.0.1', '6429')")
                        .arg(n));
    std::mutex mutex;
    int now = 0, most = 0, lines = 0;
    const auto watch = [&](const TerminalLine& line, bool begins) {
        const std::lock_guard<std::mutex> lock(mutex);
        now += begins ? 1 : -1;
        most = std::max(most, now);
        lines += begins && !line.serial ? 1 : 0;
    };
    bw::host::site::StatusRequest status{backend.connectionString, {}};
    status.pool = 3;
    status.lineWatch = watch;
    EXPECT_EQ(bw::host::site::readStatus(status).size(), 20);
    bw::host::site::Request rq;
    rq.connection = backend.connectionString;
    rq.steps = {bw::host::site::Step::Clock};
    rq.pool = 3;
    rq.lineWatch = watch;
    EXPECT_EQ(bw::host::site::runSite(rq, {}).failed, 20);
    EXPECT_LE(most, 3);
    EXPECT_EQ(lines, 2 * 18); // terminal 3 and the seventeen added, in each run
}

// The window works the lines at the same time: the TCP/IP terminal is collected while another
// program holds the serial line, whose terminal follows once the line is free.
TEST_F(SqliteCollection, WindowCollectsLinesAtTheSameTime) {
    startSim({"--no-pacing"});
    bw::LineLock held(sim.ptyPath());
    ASSERT_TRUE(held.acquire(0));
    CollectWindow w("admin", "T", "C", QDate::currentDate());
    w.selectTerminals({1, 3});
    ASSERT_TRUE(w.startCollection(false));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.outcomes().value(1).read == 25; }, 20000));
    EXPECT_TRUE(w.running());
    held.release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.running(); }, 40000));
    QCoreApplication::processEvents();
    EXPECT_EQ(w.outcomes().value(0).read, 25) << qPrintable(w.outcomes().value(0).reason);
}

// Every hostile file of cards is refused with its row and reason; nothing of it is kept.
TEST(CardFile, HostileFilesAreRefusedWithTheirRow) {
    using bw::host::names::CardRefusal;
    const struct {
        QByteArray bytes;
        CardRefusal why;
        int row;
        int otherRow = 0;
    } rows[] = {
        {QByteArray("\xff\xfe"
                    "1\0"
                    "2\0",
                    6),
         CardRefusal::WrongEncoding, 0},
        {"00000001,E1,Jos\xe9 Luis\n", CardRefusal::WrongEncoding, 0},
        {"卡号,工号,姓名\n0001A001,E1,张三\n", CardRefusal::CardNotDigits, 2},
        {"1234567890123456789012345678901234567890,E1,x\n", CardRefusal::CardTooLong, 1},
        {"1,E1,x\n=cmd|' /C calc'!A0,E2,y\n", CardRefusal::Formula, 2},
        {"1,E1,@SUM(A1)\n", CardRefusal::Formula, 1},
        {"1,E1, =HYPERLINK(\"x\")\n", CardRefusal::Formula, 1},
        {"Name,CardNo\nx,1\n", CardRefusal::EmployeeMissing, 2},
        {"1,E1,a\n\n00000001,E2,b\n", CardRefusal::DuplicateCard, 3, 1},
        {"", CardRefusal::EmptyFile, 0},
        {"\xef\xbb\xbf卡号,工号,姓名\r\n", CardRefusal::EmptyFile, 0},
        {"工号,姓名\nE1,x\n", CardRefusal::NoCardColumn, 1},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.bytes.toStdString());
        const auto file = bw::host::names::readCardText(r.bytes);
        ASSERT_FALSE(file.refused.isEmpty());
        EXPECT_EQ(file.refused.first().why, r.why);
        EXPECT_EQ(file.refused.first().row, r.row);
        EXPECT_EQ(file.refused.first().otherRow, r.otherRow);
    }
    // A 100 MB file is refused before it is read (sparse: nothing written to the disk).
    QFile big(bw::test::tempDir() + "/big.csv");
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(100 * 1024 * 1024));
    big.close();
    EXPECT_EQ(bw::host::names::readCardFile(big.fileName()).refused.value(0).why,
              CardRefusal::FileTooLarge);
    // GB18030 (张三), columns by their English names in another order, leading zeros kept.
    const auto gb = bw::host::names::readCardText("Name,EmpNo,CardNo\n\xd5\xc5\xc8\xfd,007,123\n");
    ASSERT_TRUE(gb.ok());
    EXPECT_TRUE(gb.gb18030);
    EXPECT_EQ(gb.cards.first().card, "00000123");
    EXPECT_EQ(gb.cards.first().employee, "007");
    EXPECT_EQ(gb.cards.first().name, "张三");
}

// An import the database stops halfway (a row it refuses) leaves the terminal's cards as they
// were, with or without --replace; cards are written and exported by brackwater-site with their
// leading zeros and names, and a refused row is printed with its number.
TEST_F(SqliteCollection, CardImportIsWholeOrNothingAndTheToolKeepsLeadingZeros) {
    const QStringList before = bw::host::names::cardsOf(*cn, 1);
    QByteArray text = "卡号,工号,姓名\n";
    for (int i = 1; i <= 1000; ++i)
        text += QString("%1,0%2,职工%2\n").arg(i, 8, 10, QChar('0')).arg(i).toUtf8();
    const auto file = bw::host::names::readCardText(text);
    ASSERT_TRUE(file.ok());
    cn->Execute("CREATE TRIGGER Full BEFORE INSERT ON CardMapping WHEN NEW.CardNo = '00000500' "
                "BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    for (bool replace : {false, true})
        EXPECT_THROW(bw::host::names::importCards(*cn, 1, file, replace, {}), bw::Error);
    cn->Execute("DROP TRIGGER Full");
    // A file with a refused row is refused by the import itself, whoever calls it.
    auto refusedRow = file;
    refusedRow.refused << bw::host::names::RefusedRow{
        7, bw::host::names::CardRefusal::Formula, 0, {}};
    EXPECT_THROW(bw::host::names::importCards(*cn, 1, refusedRow, true, {}),
                 bw::host::names::CardsRefused);
    EXPECT_EQ(bw::host::names::cardsOf(*cn, 1), before);
    EXPECT_EQ(count("SELECT COUNT(*) FROM Employees"), 0);

    const QString me = bw::host::operators::desktopAccount();
    for (const char* sql :
         {"DELETE FROM UserGrants WHERE UserName = ?",
          "INSERT INTO UserGrants (UserName, FunctionName) VALUES (?, '卡号管理')"})
        cn->executeBound(QString::fromUtf8(sql), {me});
    const QString dir = bw::test::tempDir();
    QFile in(dir + "/in.csv");
    ASSERT_TRUE(in.open(QIODevice::WriteOnly));
    in.write("CardNo,EmpNo,Name\n00012345,000123,\xd5\xc5\xc8\xfd\n42,0042,\"Li, \"\"Jr\"\"\"\n");
    in.close();
    QFile bad(dir + "/bad.csv");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("1,E1,a\n2x,E2,b\n");
    bad.close();
    const auto run = [&](const QStringList& args) {
        QProcess p;
        p.start(bw::test::program("brackwater-site"),
                QStringList{"--db", backend.connectionString, "cards"} + args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return std::make_pair(
            p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError()));
    };
    EXPECT_EQ(run({"import", bad.fileName(), "--terminal", "1"}),
              std::make_pair(1, QString("row 2: card number has letters\nbrackwater-site: "
                                        "nothing imported: 1 row refused\n")));
    EXPECT_EQ(run({"import", in.fileName(), "--terminal", "1", "--replace"}).second,
              "terminal 1: 2 cards imported (the former cards replaced)\n");
    EXPECT_EQ(run({"export", dir + "/out.csv", "--terminal", "1"}).first, 0);
    EXPECT_EQ(run({"import", dir + "/out.csv", "--terminal", "2", "--replace"}).second,
              "terminal 2: 2 cards imported (the former cards replaced)\n");
    EXPECT_EQ(bw::host::names::listCards(*cn, 2), bw::host::names::listCards(*cn, 1));
    const auto cards = bw::host::names::listCards(*cn, 2);
    ASSERT_EQ(cards.size(), 2);
    EXPECT_EQ(cards[0].card + cards[0].employee + cards[0].name, "00000042"
                                                                 "0042"
                                                                 "Li, \"Jr\"");
    EXPECT_EQ(cards[1].card + cards[1].employee + cards[1].name, "00012345"
                                                                 "000123"
                                                                 "张三");
    EXPECT_EQ(count("SELECT COUNT(*) FROM CtrlLog WHERE ActionA = '卡号对照'"), 2);
}

// HR's list: every refused row is found (its first refusal here), nothing is kept of a file
// with one; dates, GB18030 and formula cells as the cards' reader takes them.
TEST(RegisterFile, HostileListsAreRefusedWithTheirRow) {
    using bw::host::names::RegisterRefusal;
    const QDate today(2026, 3, 10);
    const QByteArray head = "工号,姓名,部门,卡号,入职日期,离职日期\n";
    const struct {
        QByteArray bytes;
        RegisterRefusal why;
        int row;
        int otherRow = 0;
    } rows[] = {
        {head + "E1,张三,,1,,\n", RegisterRefusal::DepartmentMissing, 2},
        {head + "E1,张三,厨房,1,,\nE2,李四,厨房,00000001,,\n", RegisterRefusal::CardOfTwo, 3, 2},
        {head + "E1,张三,厨房,1,2026-03-05,2026-03-01\n", RegisterRefusal::LeaveBeforeStart, 2},
        {head + "E1,张三,厨房,1,2026-02-30,\n", RegisterRefusal::BadDate, 2},
        {head + "E1,=HYPERLINK(\"x\"),厨房,1,,\n", RegisterRefusal::Cell, 2},
        {head + "E1,张三,@cmd,1,,\n", RegisterRefusal::Cell, 2},
        {head + "E1,张三,厨房,1,,\nE1,李四,厨房,2,,\n", RegisterRefusal::DuplicateEmployee, 3, 2},
        {"工号,姓名,卡号\nE1,x,1\n", RegisterRefusal::MissingColumns, 1},
        {"E1,x,y,1\n\xff\xfe", RegisterRefusal::File, 0},
        {head, RegisterRefusal::File, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.bytes.toStdString());
        const auto file = bw::host::names::readEmployeeText(r.bytes, today);
        ASSERT_FALSE(file.refused.isEmpty());
        EXPECT_EQ(file.refused.first().why, r.why);
        EXPECT_EQ(file.refused.first().row, r.row);
        EXPECT_EQ(file.refused.first().otherRow, r.otherRow);
    }
    // A leaver's card to a newcomer who starts on the leaving day; GB18030 (张三) kept.
    const auto ok = bw::host::names::readEmployeeText(
        "\xb9\xa4\xba\xc5,\xd0\xd5\xc3\xfb,\xb2\xbf\xc3\xc5,\xbf\xa8\xba\xc5,"
        "\xc0\xeb\xd6\xb0\xc8\xd5\xc6\xda\nE1,\xd5\xc5\xc8\xfd,A,7,2026-03-12\n"
        "E2,x,A,7,\n",
        today);
    EXPECT_EQ(ok.refused.size(), 1); // E2 starts today, before E1 leaves
    const auto later = bw::host::names::readEmployeeText(
        head + "E1,张三,A,7,2026-01-01,2026-03-12\nE2,x,A,7,2026-03-12,\n", today);
    ASSERT_TRUE(later.ok());
    EXPECT_EQ(later.rows[0].employee.name, "张三");
    EXPECT_EQ(later.rows[1].card, "00000007");
}

// The register makes the name lists: a department limited to a group is on that group's
// terminals only, a lost card goes at once, a replacement works the same day, a leaver's card
// goes on the leaving day, a terminal added to a group gets its department's cards, and a
// card still another's in the database is refused with nothing written.
TYPED_TEST(CollectionTest, RegisterMakesTheNameLists) {
    namespace n = bw::host::names;
    const QDate today = QDate::currentDate();
    const QString leave = n::dayText(today.addDays(3));
    QStringList log;
    const auto logged = [&](const n::RegisterChange& c) { log << c.employee + c.card; };
    n::setDepartmentGroups(*this->cn, "厨房", {"二楼"}, logged);
    const auto file = n::readEmployeeText(("工号,姓名,部门,卡号,离职日期\nE1,张三,厨房,1,\nE2,"
                                           "李四,财务,2," +
                                           leave + "\nE3,王五,财务,,\n")
                                              .toUtf8(),
                                          today);
    ASSERT_TRUE(file.ok());
    const auto done = n::importEmployees(*this->cn, file, false, today, logged);
    ASSERT_TRUE(done.refused.isEmpty());
    EXPECT_EQ(done.added, 3);
    EXPECT_EQ(done.newDepartments, QStringList{"财务"});
    const auto lists = [&](const QDate& day) {
        n::deriveNameLists(*this->cn, day);
        return QList<QStringList>{n::cardsOf(*this->cn, 1), n::cardsOf(*this->cn, 3),
                                  n::cardsOf(*this->cn, 5)};
    };
    EXPECT_EQ(lists(today), (QList<QStringList>{{"00000002"}, {"00000001", "00000002"}, {}}));
    EXPECT_EQ(lists(today.addDays(3)), (QList<QStringList>{{}, {"00000001"}, {}}));
    lists(today);
    n::cardLost(*this->cn, "1", today, logged);
    EXPECT_EQ(n::cardsOf(*this->cn, 3), QStringList{"00000002"}); // at once
    n::cardReplaced(*this->cn, "2", "9", today, logged);
    EXPECT_EQ(n::cardsOf(*this->cn, 1), QStringList{"00000009"});
    this->cn->Execute("INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc) "
                      "VALUES (5, '1', '*', 'E', '二楼', '6429', '计次')");
    n::saveEmployee(*this->cn, {"E1", "张三", "厨房", today, {}}, "3", today, logged);
    EXPECT_EQ(lists(today), (QList<QStringList>{
                                {"00000009"}, {"00000003", "00000009"}, {"00000003", "00000009"}}));
    // The leaver's replacement card goes to a newcomer on the leaving day, not before.
    const auto bad = n::readEmployeeText("工号,姓名,部门,卡号\nE4,赵六,财务,9\n", today.addDays(1));
    EXPECT_EQ(n::importEmployees(*this->cn, bad, false, today, logged).refused.value(0).detail,
              "E2");
    const auto good = n::readEmployeeText(
        ("工号,姓名,部门,卡号,入职日期\nE4,赵六,财务,9," + leave + "\n").toUtf8(), today);
    EXPECT_TRUE(n::importEmployees(*this->cn, good, false, today, logged).refused.isEmpty());
    EXPECT_EQ(lists(today.addDays(3)).value(0), QStringList{"00000009"});
    // A visitor's card until its last day.
    n::giveCard(*this->cn, "E3", "5", today, today.addDays(1), logged);
    EXPECT_EQ(lists(today.addDays(1)).value(0), QStringList({"00000005", "00000009"}));
    EXPECT_EQ(lists(today.addDays(2)).value(0), QStringList({"00000009"}));
    EXPECT_EQ(log.size(), 7);
    EXPECT_THROW(n::cardReturned(*this->cn, "4", today, logged), n::RegisterRefusedError);
}

// brackwater-site employees and cards of the register: every refused row said and nothing
// written, then the list, the lists derived, a lost card, the export and a file per terminal
// refused on a site with a register.
TEST_F(SqliteCollection, SiteToolKeepsTheRegister) {
    const QString dir = bw::test::tempDir();
    const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir + "/" + name);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return f.fileName();
    };
    const QString bad =
        write("bad.csv", "工号,姓名,部门,卡号\nE1,张三,,1\nE2,李四,A,x\nE3,王五,A,3\n");
    const QString good =
        write("good.csv", "\xef\xbb\xbf工号,姓名,部门,卡号\nE1,张三,厨房,1\nE2,李四,A,2\n");
    const struct {
        QStringList args;
        int code;
        QString out;
    } cases[] = {
        {{"employees", "import", bad}, 1, "row 2: no department\nrow 3: card number has letters\n"},
        {{"employees", "import", good, "--replace"}, 0, "2 added, 0 changed, 0 leaving today"},
        {{"cards", "import", good, "--terminal", "1"}, 1, "keeps a register"},
        {{"cards", "lost", "1"}, 0, "card 1: lost"},
        {{"cards", "lost", "1"}, 1, "no such card in use"},
        {{"cards", "replace", "2"}, 2, "usage"},
        {{"employees", "export", dir + "/out.csv"}, 0, "2 employees written"},
    };
    for (const auto& c : cases) {
        QProcess p;
        p.start(bw::test::program("brackwater-site"),
                QStringList{"--db", backend.connectionString} + c.args);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString said = p.readAllStandardOutput() + p.readAllStandardError();
        EXPECT_EQ(p.exitCode(), c.code) << said.toStdString();
        EXPECT_TRUE(said.contains(c.out)) << said.toStdString();
    }
    EXPECT_EQ(bw::host::names::cardsOf(*cn, 1), QStringList{"00000002"});
    QFile out(dir + "/out.csv");
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    EXPECT_TRUE(out.readAll().startsWith(
        "\xef\xbb\xbf工号,姓名,部门,卡号,入职日期,离职日期\r\nE1,张三,厨房,,"));
    EXPECT_EQ(count("SELECT COUNT(*) FROM CtrlLog WHERE ActionA = '员工登记'"), 2);
}

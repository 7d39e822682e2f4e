// Collection of meal records through the real simulator program (pseudo-terminal and TCP)
// into real databases: the engine, the window and brackwater-collect.

#include "bell/serial_port.h"
#include "host/collect/collect_run.h"
#include "host/collect/collect_texts.h"
#include "host/collect/collect_window.h"
#include "host/link/link.h"
#include "platform/language.h"
#include "sim/process.h"
#include "store/backends.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSqlQueryModel>
#include <QTableWidget>
#include <QTest>
#include <thread>

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
    void startSim(const QStringList& extra) {
        const QStringList args{"--addr", "1,2,3", "--tcp", "127.0.0.1:0"};
        ASSERT_TRUE(sim.start(bw::test::program("brackwater-sim"), args + extra, stateFile))
            << qPrintable(sim.error());
        bw::bell::setDevicePath(1, sim.ptyPath());
        bw::host::setTcpPortMap(1001, sim.tcpPort());
    }
    Outcome collect(int address, Options options, const Progress& progress = {},
                    bw::store::SqlConnection* on = nullptr) {
        LinkSource source(address, address == 3 ? "127.0.0.1" : "COM1");
        MealStore sink(on ? *on : *this->cn, kUser);
        if (!source.open())
            return {};
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
TEST_F(SqliteCollection, KilledMidTransferKeepsCommittedAndFetchesTheRestLater) {
    for (int address : {3, 1}) { // TCP, pseudo-terminal
        SCOPED_TRACE(address);
        cn->Execute("DELETE FROM MealRecord");
        startSim({"--records", "3000", "--no-pacing"});
        Options o;
        o.clear = true;
        o.batchSize = 500;
        o.blockSize = 50;
        QElapsedTimer timer;
        timer.start();
        const Outcome cut = collect(address, o, [&](qint64 done, qint64) {
            if (done >= 1200)
                sim.stop(); // the simulator ends in the middle of the transfer
        });
        EXPECT_LT(timer.elapsed(), 20000);
        EXPECT_FALSE(cut.ok());
        EXPECT_FALSE(cut.cleared);
        EXPECT_GE(cut.read, 1000);
        EXPECT_LT(cut.read, 3000);
        EXPECT_EQ(count("SELECT COUNT(*) FROM MealRecord"), cut.read);
        EXPECT_EQ(stored(address), cut.read);
        EXPECT_EQ(count("SELECT MAX(RecordNo) FROM MealRecord"), cut.committedUpTo);
        EXPECT_EQ(onTerminal(address), 3000); // its last state: nothing deleted
        EXPECT_NE(cut.failure, Failure::BadBlock) << qPrintable(cut.reason); // gone, not garbled

        startSim({"--records", "3000", "--no-pacing"}); // the same terminal, powered up again
        const Outcome rest = collect(address, o);
        ASSERT_TRUE(rest.ok()) << qPrintable(rest.reason);
        EXPECT_EQ(rest.added, 3000 - cut.read);
        EXPECT_EQ(count("SELECT COUNT(*) FROM MealRecord"), 3000);
    }
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

// Every text of the collection window in both languages, with the same placeholders.
// Seven characters of IP are an address here as everywhere else in the register.
TEST_F(SqliteCollection, SevenCharacterIpIsATcpTerminal) {
    cn->Execute("UPDATE MachineInfo SET IP = '1.2.3.4' WHERE MachAddr = 3");
    EXPECT_EQ(listTerminals(*cn).constLast().port, "1.2.3.4");
}

TEST(CollectTexts, EveryTextInBothLanguages) {
    for (int id = 0; id <= int(Text::ReasonDatabase); ++id) {
        const QString simplified = text(Text(id), 2052), traditional = text(Text(id), 1028);
        EXPECT_FALSE(simplified.isEmpty() || traditional.isEmpty()) << id;
        EXPECT_EQ(simplified.count('%'), traditional.count('%')) << id;
    }
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
        Outcome o{5, Outcome::State::Failed, c.failure, c.reason, 9, 7};
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

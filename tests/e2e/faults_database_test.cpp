// The host database failing under the real window: the SQLite file made read-only, the file
// locked by another writer, and the PostgreSQL server stopped in the middle of a session.
// Saves and deletions must end in the toolbar error box with the database's own error, the
// list must report "错误:" on the status line, nothing may be half-written, and the window
// must work again once the database is back.

#include "e2e/e2e_support.h"

#include "common/test_support.h"
#include "entry/kq.h"
#include "host/ledger/ledger.h"
#include "host/ledger/schema.h"
#include "platform/component_state.h"
#include "platform/error.h"
#include "platform/registry.h"

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using bw::test::Installation;

namespace {

// The toolbar error box: "number:description", OK only, no icon, no title.
void expectToolbarErrorBox(const QList<bw::test::RecordingMessageBox::Box>& boxes, const char* what,
                           const QString& descriptionPart) {
    ASSERT_EQ(boxes.size(), 1) << what;
    static const QRegularExpression form(QStringLiteral("^-?[0-9]+:.+"),
                                         QRegularExpression::DotMatchesEverythingOption);
    EXPECT_TRUE(form.match(boxes[0].text).hasMatch()) << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.contains(descriptionPart, Qt::CaseInsensitive))
        << what << ": " << boxes[0].text.toStdString();
    EXPECT_EQ(boxes[0].style, 0);
    EXPECT_TRUE(boxes[0].title.isEmpty());
}

class FaultDatabase : public ::testing::Test {
protected:
    void SetUp() override {
        inst = std::make_unique<Installation>();
        ASSERT_TRUE(inst->ok()) << inst->error().toStdString();
        w = inst->window();
    }
    void TearDown() override { inst.reset(); }

    int count(const QString& sql) const { return inst->scalar(sql).toInt(); }
    int terminals(const QString& addr) const {
        return count(
            QStringLiteral("select count(*) as v from MachineInfo where machaddr='%1'").arg(addr));
    }
    int saveEntries(const QString& addr) const {
        return count(
            QStringLiteral("select count(*) as v from CtrlLog where ActionA='机器:%1增加成功！'")
                .arg(addr));
    }
    int deleteEntries(const QString& addr) const {
        return count(
            QStringLiteral("select count(*) as v from CtrlLog where ActionA='机器: %1删除成功！'")
                .arg(addr));
    }
    int mappings(const QString& addr) const {
        return count(
            QStringLiteral("select count(*) as v from CardMapping where machaddr='%1'").arg(addr));
    }
    int backups() const {
        return count(QStringLiteral("select count(*) as v from CardMappingTmp"));
    }

    // Types a new terminal into the edit panel and clicks "Save".
    void saveNewTerminal(const QString& addr) {
        inst->boxes().clear();
        inst->clickTool(QStringLiteral("new"));
        QTest::keyClicks(w->Txt_Machine, addr);
        Installation::typeInto(w->Cbo_COM, QStringLiteral("COM2"));
        Installation::typeInto(w->Cbo_Team, QStringLiteral("D"));
        inst->clickTool(QStringLiteral("Save"));
    }
    void deleteTerminal(const QString& addr) {
        ASSERT_TRUE(inst->clickTerminal(addr));
        inst->boxes().clear();
        inst->clickTool(QStringLiteral("dele"));
    }
    QStringList listed() const {
        QStringList out;
        for (int i = 0; i < w->LVW_Machine->topLevelItemCount(); ++i)
            out << w->LVW_Machine->topLevelItem(i)->text(0);
        return out;
    }
    void expectEditing(bool editing) {
        EXPECT_EQ(w->tool(QStringLiteral("Save"))->isEnabled(), editing);
        EXPECT_EQ(w->tool(QStringLiteral("new"))->isEnabled(), !editing);
    }
    // The window still talks to its terminal: the communication test succeeds.
    // The terminal is typed in: with the database gone a click on the list cannot load it.
    void expectTerminalTestWorks() {
        Installation::typeInto(w->Txt_Machine, QStringLiteral("1"));
        Installation::typeInto(w->Cbo_COM, QStringLiteral("COM1"));
        inst->boxes().clear();
        QTest::mouseClick(w->Cmd_Test, Qt::LeftButton);
        ASSERT_EQ(inst->boxes().boxes.size(), 1);
        EXPECT_EQ(inst->boxes().boxes[0].text, QStringLiteral("机器:1通讯测试成功!"));
    }

    std::unique_ptr<Installation> inst;
    bw::F_Machine* w = nullptr;
};

// The immutable flag on a file: even root cannot write it while it is set.
class ImmutableFile {
public:
    explicit ImmutableFile(const QString& path) : path_(path) {
        set_ = QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), path_}) == 0;
        if (set_) {
            const int fd = ::open(path_.toLocal8Bit().constData(), O_WRONLY);
            writable_ = fd >= 0;
            if (fd >= 0)
                ::close(fd);
        }
    }
    ~ImmutableFile() { release(); }
    ImmutableFile(const ImmutableFile&) = delete;
    ImmutableFile& operator=(const ImmutableFile&) = delete;
    bool effective() const { return set_ && !writable_; }
    void release() {
        if (set_)
            QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), path_});
        set_ = false;
    }

private:
    QString path_;
    bool set_ = false;
    bool writable_ = true;
};

TEST_F(FaultDatabase, ReadOnlyDatabaseFile) {
    const int terminalsBefore = terminals(QStringLiteral("2"));
    const int mappingsBefore = mappings(QStringLiteral("2"));
    const int backupsBefore = backups();
    ASSERT_EQ(terminalsBefore, 1);

    ImmutableFile readOnly(inst->dbPath());
    if (!readOnly.effective())
        GTEST_SKIP() << "the file system refuses the immutable flag (chattr +i), and root "
                        "ignores file permissions: no way to make the file read-only here";
    // The host opens the database afresh: SQLite now gets it read-only.
    bw::host::closeSharedConnection();

    saveNewTerminal(QStringLiteral("9"));
    expectToolbarErrorBox(inst->boxes().boxes, "save", QStringLiteral("readonly"));
    expectEditing(true); // a failed save leaves the panel in editing
    EXPECT_EQ(terminals(QStringLiteral("9")), 0);
    EXPECT_EQ(saveEntries(QStringLiteral("9")), 0);

    // Reading still works: cancelling reloads the list.
    inst->boxes().clear();
    inst->clickTool(QStringLiteral("Cancel"));
    EXPECT_TRUE(inst->boxes().boxes.isEmpty());
    expectEditing(false);
    EXPECT_EQ(listed(),
              QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    EXPECT_EQ(w->statusText(), QStringLiteral("当前机器：1"));

    deleteTerminal(QStringLiteral("2"));
    expectToolbarErrorBox(inst->boxes().boxes, "delete", QStringLiteral("readonly"));
    EXPECT_EQ(terminals(QStringLiteral("2")), 1);
    EXPECT_EQ(mappings(QStringLiteral("2")), mappingsBefore);
    EXPECT_EQ(backups(), backupsBefore);
    EXPECT_EQ(deleteEntries(QStringLiteral("2")), 0);
    expectTerminalTestWorks();

    // Writable again: the same save goes through.
    readOnly.release();
    bw::host::closeSharedConnection();
    saveNewTerminal(QStringLiteral("9"));
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(terminals(QStringLiteral("9")), 1);
    EXPECT_EQ(saveEntries(QStringLiteral("9")), 1);
    expectEditing(false);
}

// A second connection on the same file, as another workstation's program would hold it.
class OtherWriter {
public:
    OtherWriter(const QString& file, const QString& begin) {
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name());
        db_.setDatabaseName(file);
        ok_ = db_.open() && QSqlQuery(db_).exec(begin);
    }
    ~OtherWriter() {
        release();
        db_.close();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(name());
    }
    OtherWriter(const OtherWriter&) = delete;
    OtherWriter& operator=(const OtherWriter&) = delete;
    bool ok() const { return ok_; }
    void release() {
        if (ok_)
            QSqlQuery(db_).exec(QStringLiteral("ROLLBACK"));
        ok_ = false;
    }

private:
    static QString name() { return QStringLiteral("faults_other_writer"); }
    QSqlDatabase db_;
    bool ok_ = false;
};

TEST_F(FaultDatabase, DatabaseLockedByAnotherWriter) {
    const int mappingsBefore = mappings(QStringLiteral("2"));
    const int backupsBefore = backups();
    const int logBefore = count(QStringLiteral("select count(*) as v from CtrlLog"));
    ASSERT_GT(mappingsBefore, 0);

    {
        // A writer's reserved lock: the save reads the row, then cannot write it.
        OtherWriter other(inst->dbPath(), QStringLiteral("BEGIN IMMEDIATE"));
        ASSERT_TRUE(other.ok());
        saveNewTerminal(QStringLiteral("9"));
        expectToolbarErrorBox(inst->boxes().boxes, "save", QStringLiteral("locked"));
        expectEditing(true);
    }
    inst->clickTool(QStringLiteral("Cancel"));
    ASSERT_TRUE(inst->clickTerminal(QStringLiteral("2")));
    {
        // An exclusive lock: nothing can even be read until it goes.
        OtherWriter other(inst->dbPath(), QStringLiteral("BEGIN EXCLUSIVE"));
        ASSERT_TRUE(other.ok());
        inst->boxes().clear();
        inst->clickTool(QStringLiteral("dele"));
        expectToolbarErrorBox(inst->boxes().boxes, "delete", QStringLiteral("locked"));
    }
    EXPECT_EQ(terminals(QStringLiteral("2")), 1);
    EXPECT_EQ(mappings(QStringLiteral("2")), mappingsBefore);

    // Nothing of either attempt reached the file.
    EXPECT_EQ(terminals(QStringLiteral("9")), 0);
    EXPECT_EQ(backups(), backupsBefore);
    EXPECT_EQ(count(QStringLiteral("select count(*) as v from CtrlLog")), logBefore);

    // The lock released, both go through.
    saveNewTerminal(QStringLiteral("9"));
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(terminals(QStringLiteral("9")), 1);
    deleteTerminal(QStringLiteral("2"));
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(terminals(QStringLiteral("2")), 0);
    EXPECT_EQ(mappings(QStringLiteral("2")), 0);
    EXPECT_EQ(backups(), backupsBefore + mappingsBefore);
    EXPECT_EQ(deleteEntries(QStringLiteral("2")), 1);
}

// ---- PostgreSQL ----

QString clusterScript() {
    const QString fromSource = bw::test::sourceDir() + QStringLiteral("/tools/pg-test-cluster.sh");
    if (QFileInfo::exists(fromSource))
        return fromSource;
    // This file lives in tests/e2e of the source tree.
    return QFileInfo(QStringLiteral(__FILE__))
        .absoluteDir()
        .absoluteFilePath(QStringLiteral("../../tools/pg-test-cluster.sh"));
}

int freeTcpPort() {
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost, 0) ? s.serverPort() : -1;
}

// A throwaway PostgreSQL server of this test alone, in a temporary folder.
class TestCluster {
public:
    TestCluster() : dir_(bw::test::tempDir()), port_(freeTcpPort()) {
        // The server runs as its own user, who must be able to reach the folder.
        QFile::setPermissions(dir_, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                        QFileDevice::ExeOther);
        dir_ += QStringLiteral("/pg");
    }
    ~TestCluster() { stop(); }
    TestCluster(const TestCluster&) = delete;
    TestCluster& operator=(const TestCluster&) = delete;

    // Starts (initialising on the first call); false with the reason in problem().
    bool start() {
        QProcess p;
        p.start(QStringLiteral("sh"),
                {clusterScript(), QStringLiteral("start"), dir_, QString::number(port_)});
        if (!p.waitForFinished(90000)) {
            p.kill();
            p.waitForFinished(5000);
            problem_ = QStringLiteral("the cluster script did not finish");
            return false;
        }
        const QStringList lines =
            QString::fromLocal8Bit(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        if (p.exitCode() != 0 || lines.isEmpty()) {
            problem_ = QString::fromLocal8Bit(p.readAllStandardError()).right(400);
            return false;
        }
        url_ = lines.last().trimmed();
        started_ = true;
        return true;
    }
    void stop() {
        if (!started_)
            return;
        QProcess::execute(QStringLiteral("sh"), {clusterScript(), QStringLiteral("stop"), dir_});
        started_ = false;
    }
    QString url() const { return url_; }
    QString problem() const { return problem_; }

private:
    QString dir_;
    int port_;
    QString url_;
    QString problem_;
    bool started_ = false;
};

TEST_F(FaultDatabase, PostgresServerStoppedMidSession) {
    TestCluster cluster;
    if (!cluster.start())
        GTEST_SKIP() << "no PostgreSQL server for this test: " << cluster.problem().toStdString();

    // The host points at the server and the window is opened again on it.
    inst->clickTool(QStringLiteral("exit"));
    bw::host::setConnectionString(cluster.url() + QStringLiteral("?connect_timeout=3"));
    {
        auto cn = bw::host::sharedConnection();
        ASSERT_TRUE(cn && cn->isOpen());
        bw::host::createHostSchema(*cn, true);
    }
    {
        auto kq = bw::CreateObject<bw::IShowA>(bw::progid::Component);
        QVariant user(QStringLiteral("admin")), title(QStringLiteral("Brackwater")),
            caption(QStringLiteral("就餐机管理")), date(QDate::currentDate());
        kq->ShowA(user, title, caption, date);
    }
    w = inst->window();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(listed(),
              QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    saveNewTerminal(QStringLiteral("8"));
    ASSERT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(terminals(QStringLiteral("8")), 1);

    cluster.stop();

    saveNewTerminal(QStringLiteral("9"));
    expectToolbarErrorBox(inst->boxes().boxes, "save", QString());
    expectEditing(true);

    inst->boxes().clear();
    inst->clickTool(QStringLiteral("Cancel"));
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()); // the list reports on the status line only
    EXPECT_TRUE(w->statusText().startsWith(QStringLiteral("错误:")))
        << w->statusText().toStdString();

    expectEditing(false);
    ASSERT_TRUE(bw::state().CurrentMachAddr.isValid());
    inst->boxes().clear();
    inst->clickTool(QStringLiteral("dele"));
    expectToolbarErrorBox(inst->boxes().boxes, "delete", QString());

    // The terminals are still there to talk to.
    expectTerminalTestWorks();

    // The server comes back; the host opens its connection afresh and the window saves.
    ASSERT_TRUE(cluster.start()) << cluster.problem().toStdString();
    bw::host::closeSharedConnection();
    inst->clickTool(QStringLiteral("Cancel"));
    EXPECT_EQ(listed(), QStringList({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                     QStringLiteral("8")}));
    saveNewTerminal(QStringLiteral("9"));
    EXPECT_TRUE(inst->boxes().boxes.isEmpty()) << inst->boxes().lastText().toStdString();
    EXPECT_EQ(terminals(QStringLiteral("9")), 1);
    EXPECT_EQ(saveEntries(QStringLiteral("9")), 1);
    EXPECT_EQ(terminals(QStringLiteral("2")), 1);
    bw::host::closeSharedConnection();
}

} // namespace

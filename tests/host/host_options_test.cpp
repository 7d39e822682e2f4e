#include "common/test_support.h"
#include "host/app/host_options.h"
#include "host/app/host_setup.h"
#include "host/ledger/ledger.h"
#include "host/trace/trace_file.h"
#include "platform/line_trace.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <gtest/gtest.h>

using bw::host::HostOptions;
using bw::host::parseHostOptions;

namespace {

HostOptions parse(QStringList args) {
    args.prepend(QStringLiteral("brackwater"));
    return parseHostOptions(args);
}

TEST(HostOptions, DefaultsNameTheDemoOperatorAndCaption) {
    const HostOptions o = parse({});
    EXPECT_TRUE(o.error.isEmpty());
    EXPECT_EQ(o.user, QStringLiteral("admin"));
    EXPECT_EQ(o.caption, QStringLiteral("就餐机管理"));
    EXPECT_EQ(o.lang, 0);
    EXPECT_TRUE(o.db.isEmpty());
    EXPECT_FALSE(o.sim);
}

TEST(HostOptions, LinesAndPortsAreTaken) {
    const HostOptions o =
        parse({"--com", "3=/dev/ttyUSB0", "--com", "16=/dev/pts/4", "--tcp-port-map", "1001=15001",
               "--lang", "1028", "--sim", "--user", "O'Brien"});
    ASSERT_TRUE(o.error.isEmpty()) << o.error.toStdString();
    ASSERT_EQ(o.com.size(), 2);
    EXPECT_EQ(o.com[0].first, 3);
    EXPECT_EQ(o.com[0].second, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(o.com[1].first, 16);
    ASSERT_EQ(o.tcpPortMap.size(), 1);
    EXPECT_EQ(o.tcpPortMap[0].first, 1001);
    EXPECT_EQ(o.tcpPortMap[0].second, 15001);
    EXPECT_EQ(o.lang, 1028);
    EXPECT_TRUE(o.sim);
    EXPECT_EQ(o.user, QStringLiteral("O'Brien"));
}

TEST(HostOptions, MistakesAreRefusedWithAReason) {
    for (const QStringList& args :
         {QStringList{"--lang", "1033"}, QStringList{"--com", "17=/dev/ttyS0"},
          QStringList{"--com", "ttyS0"}, QStringList{"--tcp-port-map", "1001=70000"},
          QStringList{"--no-such-option"}, QStringList{"extra"}}) {
        EXPECT_FALSE(parse(args).error.isEmpty()) << args.join(' ').toStdString();
    }
}

int countRows(const QString& file, const QString& table) {
    int n = -1;
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("count"));
        db.setDatabaseName(file);
        if (db.open()) {
            QSqlQuery q(db);
            if (q.exec(QStringLiteral("select count(*) from ") + table) && q.next())
                n = q.value(0).toInt();
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("count"));
    return n;
}

TEST(HostDatabase, NewSqliteFileGetsSchemaAndDemoData) {
    const QString file = bw::test::tempDir() + QStringLiteral("/new.db");
    HostOptions o;
    o.db = QStringLiteral("sqlite:") + file;
    ASSERT_EQ(bw::host::prepareDatabase(o), QString());
    bw::host::closeSharedConnection();
    EXPECT_TRUE(QFileInfo::exists(file));
    EXPECT_GE(countRows(file, QStringLiteral("MachineInfo")), 3);
    EXPECT_GE(countRows(file, QStringLiteral("UserGrants")), 1);
    EXPECT_EQ(countRows(file, QStringLiteral("CtrlLog")), 0);
}

TEST(HostDatabase, ExistingEmptyDatabaseGetsDemoDataOnlyWhenAsked) {
    const QString file = bw::test::tempDir() + QStringLiteral("/empty.db");
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("mk"));
        db.setDatabaseName(file);
        ASSERT_TRUE(db.open());
        QSqlQuery(db).exec(QStringLiteral("create table Other (x int)"));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("mk"));

    HostOptions o;
    o.db = QStringLiteral("sqlite:") + file;
    ASSERT_EQ(bw::host::prepareDatabase(o), QString());
    bw::host::closeSharedConnection();
    EXPECT_EQ(countRows(file, QStringLiteral("MachineInfo")), 0);

    o.demo = true;
    ASSERT_EQ(bw::host::prepareDatabase(o), QString());
    bw::host::closeSharedConnection();
    EXPECT_GE(countRows(file, QStringLiteral("MachineInfo")), 3);
}

TEST(HostDatabase, UnreachableDatabaseIsReportedNotFatal) {
    HostOptions o;
    o.db = QStringLiteral("sqlite:/nonexistent-dir/deeper/host.db");
    EXPECT_FALSE(bw::host::prepareDatabase(o).isEmpty());
    bw::host::closeSharedConnection();
}

} // namespace

namespace {

TEST(LineTrace, FileHoldsAHeadAndOneTimedLinePerFrame) {
    EXPECT_EQ(parse({"--trace-line", "/tmp/t.log"}).traceLine, QStringLiteral("/tmp/t.log"));
    const QString path = bw::test::tempDir() + QStringLiteral("/line.trace");
    ASSERT_TRUE(bw::host::startLineTrace(path).isEmpty());
    bw::trace::record({"COM3", bw::trace::Frame::Direction::Out, "\x01\x02", QBitArray(2, true)});
    bw::trace::record({"10.0.0.9:1001", bw::trace::Frame::Direction::In, "\xAB", {}});
    bw::host::stopLineTrace();
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith("# Brackwater line trace from ")) << lines[0].toStdString();
    const QRegularExpression timed("^ +\\d+\\.\\d{3} (.*)$");
    EXPECT_EQ(timed.match(lines[1]).captured(1).toStdString(), "COM3 out 01* 02*");
    EXPECT_EQ(timed.match(lines[2]).captured(1).toStdString(), "10.0.0.9:1001 in  AB");
    EXPECT_FALSE(bw::host::startLineTrace("/nonexistent/dir/x.trace").isEmpty());
}

} // namespace

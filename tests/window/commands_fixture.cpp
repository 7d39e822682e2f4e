#include "commands_fixture.h"

#include "common/hooked_ledger.h"
#include "common/test_support.h"
#include "host/ledger/ledger.h"
#include "host/ledger/schema.h"
#include "host/lexicon/lexicon.h"
#include "platform/component_state.h"
#include "platform/convert.h"
#include "platform/language.h"
#include "platform/registry.h"

#include <QAction>
#include <QAtomicInt>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QTreeWidget>
#include <algorithm>

namespace bw::cmdtest {

std::function<void()> beforeUpdateBatch;

namespace {

QString text(const QVariant& v) {
    return v.isNull() ? QStringLiteral("<null>") : v.toString();
}

QString number(const QVariant& v) {
    return v.isNull() ? QStringLiteral("<null>") : CStr(v.toDouble());
}

} // namespace

std::vector<Backend> backends() {
    std::vector<Backend> b{Backend::Sqlite};
    if (!qEnvironmentVariableIsEmpty("BW_PG_CONN"))
        b.push_back(Backend::Postgres);
    return b;
}

std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Sqlite ? "SQLite" : "PostgreSQL";
}

void CommandsTest::SetUp() {
    resetState();
    setUiLanguage(LangSimplified);
    beforeUpdateBatch = nullptr;

    if (GetParam() == Backend::Sqlite) {
        connectionString = QStringLiteral("sqlite:") + test::tempDir() + QStringLiteral("/host.db");
    } else {
        schema_ = std::make_unique<test::PostgresSchema>(QStringLiteral("bw_commands"));
        connectionString = schema_->connectionString();
    }

    cn = store::SqlConnection::open(connectionString, store::Create::Yes);
    host::createHostSchema(*cn, false);
    exec(QStringLiteral("INSERT INTO UserGrants (UserName, FunctionName) VALUES ('tester', '*')"));

    host::registerDbComponents();
    Registry::instance().registerClass(progid::DbTools, [] {
        return std::make_shared<test::HookedLedger>([] {
            if (beforeUpdateBatch)
                beforeUpdateBatch();
        });
    });
    host::registerLexicon();
    host::setConnectionString(connectionString);

    ComponentState& s = state();
    s.CurrentUser = kUser;
    s.CurrentCaption = QString::fromUtf8(host::kDemoCaption);
    s.language = std::make_shared<host::Lexicon>();
    link = std::make_shared<test::RecordingConnect>();
    s.connect = link;
}

void CommandsTest::TearDown() {
    beforeUpdateBatch = nullptr;
    window.reset();
    host::setConnectionString(QString());
    host::closeSharedConnection();
    cn.reset();
    schema_.reset();
    resetState();
}

void CommandsTest::open() {
    window = std::make_unique<F_Machine>();
    window->showWindow();
    boxes.clear();
}

void CommandsTest::fillPanel(const QString& number, const QString& port, const QString& place,
                             const QString& group, const QString& purpose) {
    window->Txt_Machine->setText(number);
    window->Cbo_COM->setEditText(port);
    window->Cbo_Team->setEditText(place);
    window->CmbGroup->setEditText(group);
    window->CmbMachType->setEditText(purpose);
}

void CommandsTest::selectInList(const QString& number) {
    const auto items = window->LVW_Machine->findItems(number, Qt::MatchExactly, 0);
    ASSERT_FALSE(items.isEmpty()) << "no list entry " << number.toStdString();
    window->LVW_Machine->setCurrentItem(items.first());
    items.first()->setSelected(true);
    window->LVW_Machine_Click();
}

void CommandsTest::addTerminal(int addr, const QString& comX, const QString& ip,
                               const QString& team, const QString& ver, const QString& machVer,
                               const QString& desc) {
    cn->executeBound(QStringLiteral("INSERT INTO MachineInfo (MachAddr, ComX, IP, Team, Ver, "
                                    "MachVer, MachDesc) VALUES (?, ?, ?, ?, ?, ?, ?)"),
                     {addr, comX, ip, team, ver, machVer, desc});
}

void CommandsTest::addMapping(const QString& card, const QString& emp, int addr) {
    cn->executeBound(
        QStringLiteral("INSERT INTO CardMapping (CardNo, EmpNo, MachAddr) VALUES (?, ?, ?)"),
        {card, emp, addr});
}

void CommandsTest::exec(const QString& sql) {
    cn->Execute(sql);
}

QStringList CommandsTest::machineRows() {
    QStringList rows;
    for (const QVariantList& r :
         cn->queryBound(QStringLiteral("SELECT MachAddr, ComX, IP, Team, Ver, MachVer, MachDesc "
                                       "FROM MachineInfo ORDER BY MachAddr, MachVer")))
        rows << (QStringList{number(r[0]), text(r[1]), text(r[2]), text(r[3]), text(r[4]),
                             text(r[5]), text(r[6])})
                    .join(u'|');
    return rows;
}

QStringList CommandsTest::mappingRows(const QString& table) {
    QStringList rows;
    for (const QVariantList& r :
         cn->queryBound(QStringLiteral("SELECT CardNo, EmpNo, MachAddr FROM ") + table))
        rows << (QStringList{text(r[0]), text(r[1]), number(r[2])}).join(u'|');
    rows.sort();
    return rows;
}

QStringList CommandsTest::logRows() {
    QStringList rows;
    for (const QVariantList& r : cn->queryBound(
             QStringLiteral("SELECT UserA, ObjectA, ActionA, ResultA, TimeA FROM CtrlLog"))) {
        rows << (QStringList{text(r[0]), text(r[1]), text(r[2]), text(r[3])}).join(u'|');
        EXPECT_FALSE(r[4].isNull()) << "an entry without its time";
    }
    rows.sort();
    return rows;
}

qlonglong CommandsTest::count(const QString& sql) {
    return cn->queryBound(sql).value(0).value(0).toLongLong();
}

bool CommandsTest::toolEnabled(const QString& key) const {
    QAction* a = window->tool(key);
    return a && a->isEnabled();
}

bool CommandsTest::inEditingState() const {
    return toolEnabled(QStringLiteral("Save")) && toolEnabled(QStringLiteral("Cancel")) &&
           !toolEnabled(QStringLiteral("new")) && !toolEnabled(QStringLiteral("edit")) &&
           !toolEnabled(QStringLiteral("loadrest")) && !toolEnabled(QStringLiteral("dele")) &&
           !toolEnabled(QStringLiteral("exit"));
}

} // namespace bw::cmdtest

#include "window/window_fixture.h"

#include "common/test_support.h"
#include "messages/catalogue.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>

namespace bw::windowtest {

namespace {

Error sqlError(const QSqlError& e) {
    return Error(-2147217900, e.text());
}

class SqliteConnection : public Connection {
public:
    explicit SqliteConnection(HostDatabase& db) : db_(db) {}
    QString ConnectionString() const override {
        return QStringLiteral("Driver=QSQLITE;Database=") + db_.file();
    }
    bool isOpen() const override { return true; }
    void Execute(const QString& sql, int) override { db_.exec(sql); }
    void BeginTrans() override { db_.db().transaction(); }
    void CommitTrans() override { db_.db().commit(); }
    void RollbackTrans() override { db_.db().rollback(); }

private:
    HostDatabase& db_;
};

// All rows of a query, read at once; positioned on the first row.
class MemoryRecordset : public Recordset {
public:
    MemoryRecordset(QSqlDatabase db, const QString& sql) {
        QSqlQuery q(db);
        if (!q.exec(sql))
            throw sqlError(q.lastError());
        const QSqlRecord r = q.record();
        for (int i = 0; i < r.count(); ++i)
            columns_.append(r.fieldName(i).toLower());
        while (q.next()) {
            QVariantList row;
            for (int i = 0; i < r.count(); ++i)
                row.append(q.value(i));
            rows_.append(row);
        }
    }
    int State() const override { return open_ ? adStateOpen : adStateClosed; }
    void Close() override {
        if (!open_)
            throw Error(3704,
                        QStringLiteral("Operation is not allowed when the object is closed."));
        open_ = false;
    }
    long RecordCount() const override { return rows_.size(); }
    bool Eof() const override { return pos_ >= rows_.size(); }
    void MoveNext() override {
        if (Eof())
            throw Error(3021, QStringLiteral("Either BOF or EOF is True"));
        ++pos_;
    }
    QVariant field(const QString& name) const override {
        const int c = static_cast<int>(columns_.indexOf(name.toLower()));
        if (c < 0)
            throw Error(3265, QStringLiteral("Item cannot be found in the collection"));
        if (Eof())
            throw Error(3021, QStringLiteral("Either BOF or EOF is True"));
        return rows_[pos_][c]; // a SQL NULL stays a (typed) null value
    }
    void setField(const QString&, const QVariant&) override {
        throw Error(3251, QStringLiteral("not updatable"));
    }
    void AddNew() override { throw Error(3251, QStringLiteral("not updatable")); }
    void UpdateBatch(int) override { throw Error(3251, QStringLiteral("not updatable")); }

private:
    QStringList columns_;
    QList<QVariantList> rows_;
    qsizetype pos_ = 0;
    bool open_ = true;
};

} // namespace

HostDatabase::HostDatabase() {
    name_ = QStringLiteral("window-test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    file_ = QDir(test::tempDir()).filePath(QStringLiteral("host.sqlite"));
    QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    d.setDatabaseName(file_);
    if (!d.open())
        throw sqlError(d.lastError());
    exec(QStringLiteral("Create Table MachineInfo (MachAddr Integer, ComX Text, IP Text, "
                        "Team Text, Ver Text, MachVer Text, MachDesc Text)"));
}

HostDatabase::~HostDatabase() {
    {
        QSqlDatabase d = QSqlDatabase::database(name_, false);
        d.close();
    }
    QSqlDatabase::removeDatabase(name_);
}

QSqlDatabase HostDatabase::db() const {
    return QSqlDatabase::database(name_, false);
}

void HostDatabase::exec(const QString& sql) {
    QSqlQuery q(db());
    if (!q.exec(sql))
        throw sqlError(q.lastError());
}

void HostDatabase::add(const Terminal& t) {
    QSqlQuery q(db());
    q.prepare(QStringLiteral("Insert Into MachineInfo (MachAddr, ComX, IP, Team, Ver, MachVer, "
                             "MachDesc) Values (?, ?, ?, ?, ?, ?, ?)"));
    for (const QVariant& v : {t.machAddr, t.comX, t.ip, t.team, t.ver, t.machVer, t.machDesc})
        q.addBindValue(v);
    if (!q.exec())
        throw sqlError(q.lastError());
}

void HostDatabase::removeAll() {
    exec(QStringLiteral("Delete From MachineInfo"));
}

ConnectionPtr SqliteDbTools::ActiveCn() {
    log_.add(QStringLiteral("ActiveCn"));
    if (noConnection)
        return nullptr;
    return std::make_shared<SqliteConnection>(db_);
}

RecordsetPtr SqliteDbTools::RecordSetA(const QString& sql) {
    log_.add(QStringLiteral("RecordSetA:") + sql);
    if (!failQueryContaining.isEmpty() && sql.contains(failQueryContaining))
        throw Error(-2147217865, QStringLiteral("no such table: MachineInfo"));
    return std::make_shared<MemoryRecordset>(db_.db(), sql);
}

QString SqliteDbTools::DateExchangeA(const QDateTime& when) {
    return QLatin1Char('\'') + when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QLatin1Char('\'');
}

bool FakePermission::CheckPermission(ConnectionPtr& cn, const QString& systemName,
                                     const QString& user, const QVariant& omitted,
                                     const QString& functionName, bool flag1, bool flag2) {
    log_.add(QStringLiteral("CheckPermission:") + functionName);
    received.append(
        {systemName, user, omitted.isNull(), functionName, flag1, flag2, cn != nullptr});
    return !(refuseAll || refused.contains(functionName));
}

QString FakeLanguage::ReplaceRes(const QString& templ, short count, const QVariant& v1,
                                 const QVariant& v2) {
    return count == 2 ? messages::fillPlaceholders(templ, v1.toString(), v2.toString())
                      : messages::fillPlaceholders(templ, v1.toString());
}

void FakeLanguage::LoadControlInfo(ConnectionPtr& cn, const QString& proj, QWidget* f,
                                   int& result) {
    log_.add(QStringLiteral("LoadControlInfo"));
    project = proj;
    form = f;
    connectionGiven = cn != nullptr;
    result = 1;
}

void FakeGather::ShowA(QVariant& VarUser, QVariant& VarTitle, QVariant& VarCaption,
                       QVariant& VarSysDate) {
    calls.append({VarUser, VarTitle, VarCaption, VarSysDate, created, released});
    if (fail)
        throw Error(-2147418113, QStringLiteral("Catastrophic failure"));
}

void WindowTest::SetUp() {
    resetState();
    language = std::make_shared<FakeLanguage>(log);
    state().language = language;
    state().CurrentUser = QStringLiteral("demo");
    state().CurrentCaption = QStringLiteral("计次餐饮");
    dbTools = std::make_shared<SqliteDbTools>(db, log);
    permission = std::make_shared<FakePermission>(log);
    auto* self = this;
    Registry::instance().registerClass(progid::Permission, [self] {
        self->log.add(QStringLiteral("Create:Quenby.Warden"));
        return self->permission;
    });
    Registry::instance().registerClass(progid::DbTools, [self] {
        self->log.add(QStringLiteral("Create:Harrowgate.Ledger"));
        return self->dbTools;
    });
    FakeGather::created = 0;
    FakeGather::released = 0;
    FakeGather::fail = false;
    FakeGather::calls.clear();
}

void WindowTest::TearDown() {
    if (window)
        closeWindow(window);
    Registry::instance().unregisterClass(progid::Permission);
    Registry::instance().unregisterClass(progid::DbTools);
    Registry::instance().unregisterClass(progid::DataCollection);
    resetState();
}

F_Machine* WindowTest::openWindow() {
    auto* w = new F_Machine();
    window = w;
    w->showWindow();
    return w;
}

void WindowTest::closeWindow(F_Machine* w) {
    QPointer<F_Machine> p(w);
    w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (p)
        delete p.data();
}

} // namespace bw::windowtest

#include "e2e/multi_support.h"

#include "common/test_support.h"
#include "host/ledger/schema.h"
#include "platform/error.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QProcessEnvironment>

namespace bw::multi {

// ---- Script ------------------------------------------------------------------------------

Script& Script::add(QJsonObject step) {
    steps_.append(step);
    return *this;
}

Script& Script::sync(const QString& name) {
    return add({{"op", "sync"}, {"name", name}});
}

Script& Script::go(const QString& name) {
    return add({{"op", "go"}, {"name", name}});
}

Script& Script::tool(const QString& key, const QString& label) {
    return add({{"op", "tool"}, {"key", key}, {"label", label}});
}

Script& Script::select(const QString& address, const QString& label) {
    return add({{"op", "select"}, {"addr", address}, {"label", label}});
}

Script& Script::type(const QString& field, const QString& text) {
    return add({{"op", "type"}, {"field", field}, {"text", text}});
}

Script& Script::refresh(const QString& label) {
    return add({{"op", "refresh"}, {"label", label}});
}

Script& Script::list(const QString& label) {
    return add({{"op", "list"}, {"label", label}});
}

Script& Script::hold(const QString& name) {
    return add({{"op", "hold"}, {"name", name}});
}

Script& Script::sql(const QString& statement) {
    return add({{"op", "sql"}, {"sql", statement}});
}

Script& Script::query(const QString& label, const QString& sql) {
    return add({{"op", "query"}, {"label", label}, {"sql", sql}});
}

// ---- Result ------------------------------------------------------------------------------

QJsonObject Result::step(const QString& label) const {
    const QJsonArray steps = json.value(QStringLiteral("steps")).toArray();
    for (const QJsonValue& s : steps) {
        if (s.toObject().value(QStringLiteral("label")).toString() == label)
            return s.toObject();
    }
    return {};
}

namespace {

QStringList textsOf(const QJsonArray& boxes) {
    QStringList texts;
    for (const QJsonValue& b : boxes)
        texts.append(b.toObject().value(QStringLiteral("text")).toString());
    return texts;
}

} // namespace

QStringList Result::boxTexts(const QString& label) const {
    return textsOf(step(label).value(QStringLiteral("boxes")).toArray());
}

QStringList Result::allBoxTexts() const {
    QStringList texts = textsOf(loadBoxes());
    const QJsonArray steps = json.value(QStringLiteral("steps")).toArray();
    for (const QJsonValue& s : steps)
        texts += textsOf(s.toObject().value(QStringLiteral("boxes")).toArray());
    return texts;
}

QList<QStringList> Result::listRows(const QString& label) const {
    QList<QStringList> rows;
    const QJsonArray list = step(label).value(QStringLiteral("list")).toArray();
    for (const QJsonValue& r : list) {
        QStringList columns;
        for (const QJsonValue& c : r.toArray())
            columns.append(c.toString());
        rows.append(columns);
    }
    return rows;
}

QString Result::status(const QString& label) const {
    return step(label).value(QStringLiteral("status")).toString();
}

QString Result::value(const QString& label) const {
    return step(label).value(QStringLiteral("value")).toString();
}

// ---- SharedDatabase ----------------------------------------------------------------------

SharedDatabase::SharedDatabase() {
    try {
        schema_ = std::make_unique<test::PostgresSchema>(QStringLiteral("bw_multi"));
        connectionString_ = schema_->connectionString();
        cn_ = store::SqlConnection::open(connectionString_, store::Create::Yes);
        host::createHostSchema(*cn_, false);
        cn_->Execute(QStringLiteral("INSERT INTO UserGrants (UserName, FunctionName) VALUES ('") +
                     QString::fromLatin1(kUser) + QStringLiteral("', '*')"));
    } catch (const Error& e) {
        problem_ = e.boxText();
    }
}

SharedDatabase::~SharedDatabase() {
    cn_.reset();
    schema_.reset();
}

void SharedDatabase::exec(const QString& sql) {
    cn_->Execute(sql);
}

qlonglong SharedDatabase::count(const QString& sql, const QVariantList& values) {
    return cn_->queryBound(sql, values).value(0).value(0).toLongLong();
}

QVector<QVariantList> SharedDatabase::rows(const QString& sql, const QVariantList& values) {
    return cn_->queryBound(sql, values);
}

// ---- runWorkstations ---------------------------------------------------------------------

namespace {

struct Workstation {
    QString role;
    QString resultFile;
    QProcess process;
};

QString writeScript(const QString& dir, const QString& role, const Script& script) {
    const QString path = dir + QStringLiteral("/script-") + role + QStringLiteral(".json");
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(QJsonDocument(script.steps()).toJson());
    return path;
}

Result readResult(const QString& path) {
    Result r;
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        r.json = QJsonDocument::fromJson(f.readAll()).object();
    return r;
}

} // namespace

QString runWorkstations(const QString& connectionString, const Script& a, const Script& b,
                        Result& resultA, Result& resultB, int timeoutMs) {
    const QString dir = test::tempDir();
    Workstation ws[2];
    const Script* scripts[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        Workstation& w = ws[i];
        w.role = i == 0 ? QStringLiteral("A") : QStringLiteral("B");
        w.resultFile = dir + QStringLiteral("/result-") + w.role + QStringLiteral(".json");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kRoleVar), w.role);
        env.insert(QString::fromLatin1(kDbVar), connectionString);
        env.insert(QString::fromLatin1(kScriptVar), writeScript(dir, w.role, *scripts[i]));
        env.insert(QString::fromLatin1(kDirVar), dir);
        env.insert(QString::fromLatin1(kResultVar), w.resultFile);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The workstation runs its one test, whole, and writes no report of its own.
        for (const char* var : {"GTEST_OUTPUT", "GTEST_FILTER", "GTEST_REPEAT", "GTEST_SHARD_INDEX",
                                "GTEST_TOTAL_SHARDS", "GTEST_SHARD_STATUS_FILE"})
            env.remove(QString::fromLatin1(var));
        w.process.setProcessEnvironment(env);
        w.process.setProcessChannelMode(QProcess::MergedChannels);
        w.process.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--gtest_filter=MultiWorkstationChild.Run")});
    }

    QString problem;
    QDeadlineTimer deadline(timeoutMs);
    for (Workstation& w : ws) {
        if (!w.process.waitForStarted(5000)) {
            problem += w.role + QStringLiteral(": did not start: ") + w.process.errorString() +
                       QLatin1Char('\n');
            continue;
        }
        if (!w.process.waitForFinished(static_cast<int>(qMax<qint64>(1, deadline.remainingTime()))))
            problem += w.role + QStringLiteral(": still running after the time-out, killed\n");
    }
    for (Workstation& w : ws) {
        if (w.process.state() != QProcess::NotRunning) {
            w.process.kill();
            w.process.waitForFinished(5000);
        } else if (w.process.exitStatus() != QProcess::NormalExit || w.process.exitCode() != 0) {
            problem +=
                w.role + QStringLiteral(": ended with exit code %1\n").arg(w.process.exitCode());
        }
    }
    resultA = readResult(ws[0].resultFile);
    resultB = readResult(ws[1].resultFile);
    for (int i = 0; i < 2; ++i) {
        const Result& r = i == 0 ? resultA : resultB;
        if (!r.done())
            problem += ws[i].role + QStringLiteral(": did not finish its script\n");
        if (!r.failure().isEmpty())
            problem += ws[i].role + QStringLiteral(": ") + r.failure() + QLatin1Char('\n');
    }
    if (!problem.isEmpty()) {
        for (Workstation& w : ws)
            problem += QStringLiteral("---- output of workstation ") + w.role +
                       QStringLiteral(":\n") + QString::fromLocal8Bit(w.process.readAll());
    }
    return problem;
}

} // namespace bw::multi

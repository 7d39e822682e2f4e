#pragma once

// Two workstations on one PostgreSQL database, each a real process: the test program starts
// itself again as a workstation (the test MultiWorkstationChild.Run), which opens the real
// window through ShowA on the shared database and plays a script of operator steps. The two
// workstations meet at named barriers (files in a shared folder) and write what they saw
// (message boxes, list contents, query values) to a result file that the starting test reads.

#include "common/postgres_schema.h"
#include "store/sql_connection.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <memory>

namespace bw::multi {

// Environment of a workstation process.
inline constexpr const char* kRoleVar = "BW_WS_ROLE";     // "A" or "B"
inline constexpr const char* kDbVar = "BW_WS_DB";         // connection string of the database
inline constexpr const char* kScriptVar = "BW_WS_SCRIPT"; // script file (JSON array of steps)
inline constexpr const char* kDirVar = "BW_WS_BARRIER";   // barrier folder
inline constexpr const char* kResultVar = "BW_WS_RESULT"; // result file (JSON)

// The steps a workstation plays, one after another. Steps with a label are easy to find in
// the result again; every step records the message boxes shown while it ran.
class Script {
public:
    // Both workstations reach the barrier `name` before either goes on.
    Script& sync(const QString& name);
    // Like sync, and then both go on at the same instant (a start time both agree on).
    Script& go(const QString& name);
    // Clicks a toolbar tool ("new", "edit", "Save", "dele", "cancel") through its button.
    Script& tool(const QString& key, const QString& label = QString());
    // Clicks the list entry of this terminal number.
    Script& select(const QString& address, const QString& label = QString());
    // Types a text into one of the edit panel's fields (Txt_Machine, Cbo_COM, Cbo_Team, ...).
    Script& type(const QString& field, const QString& text);
    // Reloads the terminal list as an operator does (the "cancel" tool, after "edit" when the
    // toolbar is not in the editing state) and records it.
    Script& refresh(const QString& label = QString());
    // Records the terminal list (every entry's five columns).
    Script& list(const QString& label);
    // The next UpdateBatch of the window waits at barriers `name`-read and then `name`-go:
    // the row has been read, and is written only when the other workstation says so.
    Script& hold(const QString& name);
    // Runs a statement on this workstation's connection.
    Script& sql(const QString& statement);
    // Records the first column of the first row of a query (empty text when no row).
    Script& query(const QString& label, const QString& sql);

    QJsonArray steps() const { return steps_; }

private:
    Script& add(QJsonObject step);
    QJsonArray steps_;
};

// One workstation's result file.
struct Result {
    QJsonObject json;

    bool done() const { return json.value(QStringLiteral("done")).toBool(); }
    QString failure() const { return json.value(QStringLiteral("failure")).toString(); }
    // The boxes shown while the window loaded.
    QJsonArray loadBoxes() const { return json.value(QStringLiteral("loadBoxes")).toArray(); }
    // The step with this label (an empty object when there is none).
    QJsonObject step(const QString& label) const;
    // Box texts of the labelled step.
    QStringList boxTexts(const QString& label) const;
    // Box texts of every step.
    QStringList allBoxTexts() const;
    // The list recorded by the labelled step: rows of the five columns.
    QList<QStringList> listRows(const QString& label) const;
    // The window's status line after the labelled step.
    QString status(const QString& label) const;
    // The value recorded by the labelled query step.
    QString value(const QString& label) const;
};

// A PostgreSQL schema of its own for one test, with the host tables and the grant of the
// workstation's user; dropped again when the object goes.
class SharedDatabase {
public:
    SharedDatabase();
    ~SharedDatabase();

    // Empty when the database is ready, else why not.
    QString problem() const { return problem_; }
    QString connectionString() const { return connectionString_; }

    void exec(const QString& sql);
    qlonglong count(const QString& sql, const QVariantList& values = {});
    QVector<QVariantList> rows(const QString& sql, const QVariantList& values = {});

private:
    std::unique_ptr<test::PostgresSchema> schema_;
    QString connectionString_;
    QString problem_;
    std::shared_ptr<store::SqlConnection> cn_;
};

// Runs two workstation processes with their scripts on the database and waits for both
// (bounded: both are killed after `timeoutMs`). Returns an empty text when both ended
// normally, else what went wrong (with the processes' output).
QString runWorkstations(const QString& connectionString, const Script& a, const Script& b,
                        Result& resultA, Result& resultB, int timeoutMs = 25000);

// The user the workstations work as, and the caption their window is opened with.
inline constexpr const char* kUser = "admin";

// Barrier waits inside a workstation give up after this long.
inline constexpr int kBarrierTimeoutMs = 10000;

} // namespace bw::multi

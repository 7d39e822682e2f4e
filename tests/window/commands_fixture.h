#pragma once

// The toolbar commands tested on a loaded window over a real host database (an SQLite file,
// and PostgreSQL when BW_PG_CONN names a server), with a recording connect component.

#include "common/fakes.h"
#include "common/postgres_schema.h"
#include "connect/recording_connect.h"
#include "platform/interfaces.h"
#include "store/sql_connection.h"
#include "window/f_machine.h"

#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

// Readable lists of texts in failure messages.
inline void PrintTo(const QStringList& list, std::ostream* os) {
    *os << "{";
    for (qsizetype i = 0; i < list.size(); ++i)
        *os << (i ? ", \"" : "\"") << list[i].toStdString() << "\"";
    *os << "}";
}

namespace bw::cmdtest {

// The list in sorted order (the rows helpers return sorted lists).
inline QStringList sorted(QStringList list) {
    list.sort();
    return list;
}

enum class Backend { Sqlite, Postgres };
inline void PrintTo(Backend b, std::ostream* os) {
    *os << (b == Backend::Sqlite ? "SQLite" : "PostgreSQL");
}

// SQLite always; PostgreSQL as well when BW_PG_CONN is set.
std::vector<Backend> backends();
std::string backendName(const ::testing::TestParamInfo<Backend>& info);

// Runs just before a recordset of the window writes its rows back (another workstation
// changing the row in between); empty: nothing.
extern std::function<void()> beforeUpdateBatch;

class CommandsTest : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the window and runs its load; the boxes of the load are forgotten.
    void open();

    void click(const QString& key) { window->ActiveBar21_ToolClick(key); }
    // Fills the edit panel as an operator would.
    void fillPanel(const QString& number, const QString& port, const QString& place,
                   const QString& group, const QString& purpose);
    // Selects the list entry with this number, as a click on it does.
    void selectInList(const QString& number);

    void addTerminal(int addr, const QString& comX, const QString& ip, const QString& team,
                     const QString& ver, const QString& machVer, const QString& desc);
    void addMapping(const QString& card, const QString& emp, int addr);
    void exec(const QString& sql);

    // MachineInfo rows as "MachAddr|ComX|IP|Team|Ver|MachVer|MachDesc", in number order.
    QStringList machineRows();
    // Card mappings of a table as "CardNo|EmpNo|MachAddr", sorted.
    QStringList mappingRows(const QString& table);
    // Log entries as "UserA|ObjectA|ActionA|ResultA", sorted.
    QStringList logRows();
    qlonglong count(const QString& sql);

    bool toolEnabled(const QString& key) const;
    // Editing state: Save and Cancel available, new/edit/loadrest/dele/exit not.
    bool inEditingState() const;

    test::RecordingMessageBox boxes;
    std::shared_ptr<test::RecordingConnect> link;
    std::unique_ptr<F_Machine> window;
    std::shared_ptr<store::SqlConnection> cn; // a connection of the test's own
    QString connectionString;

private:
    std::unique_ptr<test::PostgresSchema> schema_;
};

inline const QString kUser = QStringLiteral("tester");

} // namespace bw::cmdtest

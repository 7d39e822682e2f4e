#pragma once

#include "host/collect/collector.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <memory>

class QSqlQuery;

namespace bw::store {
class SqlConnection;
}

namespace bw::host::collect {

// A model-6429 terminal of MachineInfo and how it is reached.
struct TerminalEntry {
    int address = 0;
    QString port;  // the port text: "COM<n>" or the terminal's IP address
    QString place; // Ver
    QString team;
};

// The model-6429 terminals of MachineInfo, by terminal number.
QList<TerminalEntry> listTerminals(store::SqlConnection& cn);

// Stores collected records in MealRecord, a batch per transaction, with the employee number
// of the card from CardMapping (the terminal's own mapping first). A record whose terminal and
// record number are stored already is left as it is (INSERT OR IGNORE on SQLite, ON CONFLICT
// DO NOTHING on PostgreSQL).
class MealStore : public RecordSink {
public:
    MealStore(store::SqlConnection& cn, const QString& collectedBy);
    ~MealStore() override;

    void begin(int address) override;
    void add(const MealRecord& record) override;
    int pending() const override { return int(batch_.size()); }
    qint64 commit() override;
    void discard() override { batch_.clear(); }

    // Rows one INSERT statement carries.
    static constexpr int RowsPerStatement = 250;

private:
    qint64 insert(int first, int rows);
    qint64 insertArrays();
    bool multiRow() const;

    store::SqlConnection& cn_;
    QString collectedBy_;
    int address_ = 0;
    QHash<QString, QString> employees_; // card number -> employee number
    QVector<MealRecord> batch_;
    std::unique_ptr<QSqlQuery> full_; // the prepared statement for RowsPerStatement rows
};

// Writes one operation-log entry for a terminal's collection on the given connection; an entry
// the database refuses is dropped with a warning.
void logCollection(store::SqlConnection& cn, const QString& user, const Outcome& outcome,
                   bool clear, const QString& resultText);

// The same for any action on a terminal.
void logTerminalAction(store::SqlConnection& cn, const QString& user, int address,
                       const QString& action, const QString& resultText);

// The time as MealRecord and CtrlLog hold it: "yyyy-MM-dd HH:mm:ss".
QString timeText(const QDateTime& time);

} // namespace bw::host::collect

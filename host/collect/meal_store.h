#pragma once

#include "host/collect/collector.h"

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <string>

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

// Stores collected records in MealRecord, a batch per transaction, with the employee number
// of the card from CardMapping (the terminal's own mapping first). A record whose terminal and
// record number are stored already in the terminal's latest series with the same card and
// time is left as it is (INSERT OR IGNORE on SQLite, ON CONFLICT DO NOTHING on PostgreSQL);
// with another card or time the terminal's numbering started again, and that record and the
// ones after it go into a new series. A record that could not be read goes into MealRecordRaw
// as it came. A stored row under a record's number with another card or time, found when the
// batch is stored, is another unit answering to the same number: the batch is not stored but
// held back in MealRecordHeld, and the commit raises UnitConflict.
// SQLite gets one single-row statement through its own interface, its values bound in place;
// PostgreSQL gets each batch by one COPY straight into MealRecord, sent by startCommit() and
// answered (committed) by the time finishCommit() returns; when the unique key refuses it
// (another workstation stored a record meanwhile), by COPY into a temporary table and one
// INSERT ... SELECT ... ON CONFLICT DO NOTHING from it. Other databases get a statement per
// record.
// Why records were held back in MealRecordHeld (its column Reason).
enum class HeldReason { OtherUnit = 1 };

class MealStore : public RecordSink {
public:
    MealStore(store::SqlConnection& cn, const QString& collectedBy);
    ~MealStore() override;

    void begin(int address) override;
    void add(const MealRecord& record) override;
    int pending() const override { return int(batch_.size() + raw_.size()); }
    Stored commit() override;
    void discard() override;
    // On PostgreSQL the batch's COPY is sent and its answer awaited in finishCommit().
    void startCommit() override;
    Stored finishCommit() override;
    void advance() override;

    // Rows one INSERT statement carries on SQLite when its driver gives no handle of its own
    // (SQLite's own interface takes a single-row statement instead). Qt hands SQLite each "?" as a
    // named placeholder, and SQLite looks each name up among those before it while preparing: the
    // time to prepare grows with the square of the rows (at 250 rows, a sixth of a 50,000-record
    // collection).
    static constexpr int RowsPerStatement = 50;

private:
    // The batch in one transaction, at once.
    Stored commitNow();
    qint64 insert(int first, int rows, const QVariant& collectedAt);
    qint64 insertArrays();
    // Through the database's own interface; -1 when the driver gives no handle to it.
    qint64 insertSqlite(const QString& collectedAt);
    qint64 copyPostgres(const QString& collectedAt);
    // The batch in COPY's text format, every column of MealRecord.
    std::string copyRows(const QString& collectedAt) const;
    // The rows through a temporary table into MealRecord, those stored already left out (in
    // the caller's transaction).
    qint64 copyThroughTable(const std::string& rows);
    qint64 insertRaw();
    // Rows into a table, a row whose key is there already left out; the rows added.
    qint64 insertIgnoring(const QString& table, const QStringList& columns, const QStringList& key,
                          const QList<QVariantList>& rows);
    // Leaves in batch_ only the records not stored yet (in any series), each with its series;
    // returns how often the numbering was found started again.
    int sortOutStored();
    // The card and time stored under each (series, number) of the given series and numbers.
    QHash<QPair<int, quint32>, QString> storedRecords(const QList<int>& series, quint32 from,
                                                      quint32 to);
    // Whether a stored row under a record's series and number has another card or time.
    bool anotherUnit(const QVector<MealRecord>& records, const QVector<int>& series);
    // Keeps the records (and the raw ones added) in MealRecordHeld, in a transaction of their
    // own; the rows added.
    qint64 holdBack(const QVector<MealRecord>& records);
    bool multiRow() const;

    store::SqlConnection& cn_;
    QString collectedBy_;
    int address_ = 0;
    QHash<QString, QString> employees_; // card number -> employee number
    QVector<MealRecord> batch_;
    QVector<int> series_; // the series of each record of batch_, once sorted out
    QVector<MealRecord> raw_;
    QVector<MealRecord> flying_; // the batch of the COPY under way, and its series
    QVector<int> flyingSeries_;
    std::unique_ptr<QSqlQuery> full_; // the prepared statement for RowsPerStatement rows
    QString fullOn_;                  // the driver connection it was prepared on
    Stored started_;                  // what startCommit() stored or sorted out
    bool copying_ = false;            // a COPY is under way, its answer not yet read
    std::string copyRows_;            // its rows, for a second way when the key refuses them
    QString copyLost_;                // why its rows could not be sent, if so
};

// Writes one operation-log entry for a terminal's collection on the given connection; an entry
// the database refuses is dropped with a warning, and false returned.
bool logCollection(store::SqlConnection& cn, const QString& user, const Outcome& outcome,
                   bool clear, const QString& resultText);

// The same for any action on a terminal.
bool logTerminalAction(store::SqlConnection& cn, const QString& user, int address,
                       const QString& action, const QString& resultText);
// The same, raising bw::Error when the database refuses the entry: for an entry that is a
// condition of what follows it (the one written before a delete).
void writeTerminalAction(store::SqlConnection& cn, const QString& user, int address,
                         const QString& action, const QString& resultText);
// The same for an action on another object (an employee, a card).
void writeLogEntry(store::SqlConnection& cn, const QString& user, const QString& object,
                   const QString& action, const QString& resultText);

// An entry "clear sent up to N, awaiting confirmation" that a collection left on a terminal
// when it ended before the delete's reply (killed, or the database gone).
struct LeftClear {
    QString action;  // ActionA as written
    QString pending; // ResultA as written
    quint32 upTo = 0;
    int lang = 0; // the language it was written in
};
// The terminal's entries left pending, in either language; raises bw::Error.
QList<LeftClear> leftClears(store::SqlConnection& cn, int address);
// Completes one: whether the terminal's records up to N are gone, as its record status shows.
// Dropped with a warning when the database refuses.
void completeLeftClear(store::SqlConnection& cn, int address, const LeftClear& entry, bool cleared);

// Completes the entry written with result `pending` (before a delete was sent) with the result
// it has now; dropped with a warning (and false returned) when the database refuses.
bool completeLogEntry(store::SqlConnection& cn, const QString& user, const Outcome& outcome,
                      bool clear, const QString& pending, const QString& resultText);

// The time as MealRecord and CtrlLog hold it: "yyyy-MM-dd HH:mm:ss".
QString timeText(const QDateTime& time);
// The same into 19 characters, without the locale; false for a time it cannot write so (an
// invalid one, a year outside 1..9999).
bool timeChars(const QDateTime& time, char (&out)[19]);

// A text of COPY's text format appended to `out`: a backslash, tab, newline and carriage
// return escaped, the rest as UTF-8.
void appendCopyText(std::string& out, const QString& text);

} // namespace bw::host::collect

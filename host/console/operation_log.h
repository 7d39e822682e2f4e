#pragma once

#include "host/console/read_fault.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <optional>

class QComboBox;
class QDateEdit;
class QLabel;
class QTableView;
template <typename T> class QFutureWatcher;

namespace bw::store {
class SqlConnection;
}

namespace bw::host::console {

// Which operation-log entries: those of whole days from..to, of one user and one action
// (every one when empty).
struct LogFilter {
    QDate from;
    QDate to;
    QString user;
    QString action;
};

// One row of CtrlLog, its values as texts.
struct LogEntry {
    QString time;
    QString user;
    QString object;
    QString action;
    QString result;
};

// The entries of the filter, newest first, at most limit of them; raises bw::Error.
QList<LogEntry> readLog(store::SqlConnection& cn, const LogFilter& filter, int limit = 20000);

// The users and the actions the log names, sorted, for the viewer's choices.
QStringList logValues(store::SqlConnection& cn, const QString& column);

// Writes entries to a CSV file with the records' CSV rules (UTF-8 with a byte-order mark, a
// heading line, CR LF, formulas neutralised); the file is replaced only when all of it is
// written. Returns false when it cannot be written.
bool exportLog(const QList<LogEntry>& entries, const QString& path);

// What one reading of the viewer gives: the entries, the users and actions to choose from, or
// why they could not be read.
struct LogReading {
    QList<LogEntry> entries;
    QStringList users;
    QStringList actions;
    ReadFault fault;
};
// Reads the entries of filter, and the choices, on a connection of its own to the database
// of connection; never raises.
LogReading readLogReading(const QString& connection, const LogFilter& filter);

class LogModel;

// The operation log's viewer: date range, user and action, newest first, CSV export. The log
// is read in the background; a reading that fails says why and leaves the entries shown,
// greyed and marked with the time they were read.
class LogViewer : public QWidget {
public:
    explicit LogViewer(QWidget* parent = nullptr);
    // Reads the entries of filter into the table; asked for during a reading, it follows it.
    void showEntries(const LogFilter& filter);
    const QList<LogEntry>& shown() const { return entries_; }
    void setFilter(const LogFilter& filter);
    bool reading() const;
    // The entries shown are those of an earlier reading: the last one failed.
    bool old() const { return old_; }

private:
    void showChosen();
    void exportClicked();
    void finishReading();
    void addChoices(QComboBox* box, const QStringList& values);

    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QComboBox* user_ = nullptr;
    QComboBox* action_ = nullptr;
    QTableView* table_ = nullptr;
    LogModel* model_ = nullptr;
    QLabel* status_ = nullptr;
    QFutureWatcher<LogReading>* watcher_ = nullptr;
    bool reading_ = false;          // from the start of a reading until its entries are shown
    std::optional<LogFilter> next_; // asked for during the reading
    QList<LogEntry> entries_;
    QDateTime readAt_; // when entries_ were read
    bool old_ = false;
};

} // namespace bw::host::console

#pragma once

#include "host/console/read_fault.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QWidget>
#include <optional>

class QComboBox;
class QDateEdit;
class QLabel;
class QPushButton;
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

// How many entries a page of the viewer holds, and up to how many matching entries are counted.
inline constexpr int LogPageSize = 500;
inline constexpr qint64 LogCountCap = 100000;

// Where an entry stands in the log, newest first: its time as the database holds it, then its
// place in the write order (rowid, or PostgreSQL's Seq; 0 where the engine numbers no rows).
struct LogKey {
    QVariant time;
    qint64 order = 0;
};

// One page of the entries of a filter, newest first.
struct LogPage {
    QList<LogEntry> entries;
    bool more = false;          // older entries match too
    std::optional<LogKey> last; // where the page's last entry stands: the next page follows it
    qint64 through = 0;         // the entries of the page and the newer ones
};

// The page of the entries of filter that follows after (the first page without one), at most
// size of them; only those rows are read. Raises bw::Error.
LogPage readLogPage(store::SqlConnection& cn, const LogFilter& filter,
                    const std::optional<LogPage>& after = std::nullopt, int size = LogPageSize);

// How many entries match filter, counted up to cap + 1 (more than cap when it says so); raises
// bw::Error.
qint64 countLog(store::SqlConnection& cn, const LogFilter& filter, qint64 cap = LogCountCap);

// Writes every entry of filter, newest first, to a CSV file with the records' CSV rules (UTF-8
// with a byte-order mark, a heading line, CR LF, formulas neutralised), reading the log a page
// at a time on a connection of its own; the file is replaced only when all of it is written.
// The entries written, or -1 when the file cannot be written; raises bw::Error when the log
// cannot be read (the file is then left as it was).
qint64 exportLog(const QString& connection, const LogFilter& filter, const QString& path);

// What one reading of the viewer gives: a page of entries, how many match, the users and
// actions to choose from, or why they could not be read.
struct LogReading {
    LogPage page;
    qint64 count = 0;
    QStringList users;
    QStringList actions;
    ReadFault fault;
};
// Reads the page of filter after the page given (the first without one), how many match and,
// for the first page, the choices, on a connection of its own to the database of connection;
// never raises.
LogReading readLogReading(const QString& connection, const LogFilter& filter,
                          const std::optional<LogPage>& after);

class LogModel;

// The operation log's viewer: date range, user and action, newest first, a page at a time, CSV
// export of every entry of the filter shown (in the background). The log is read in the background;
// a reading that fails says why and leaves the entries shown, greyed and marked with the time they
// were read.
class LogViewer : public QWidget {
public:
    explicit LogViewer(QWidget* parent = nullptr);
    // Reads the first page of filter into the table; asked for during a reading, it follows it.
    void showEntries(const LogFilter& filter);
    // The page of older (newer) entries; false when there is none or a reading is on.
    bool showOlder();
    bool showNewer();
    const QList<LogEntry>& shown() const { return page_.entries; }
    // How many entries match, up to LogCountCap + 1; and the shown page's number from 0.
    qint64 count() const { return count_; }
    int pageNumber() const { return int(pages_.size()); }
    void setFilter(const LogFilter& filter);
    bool reading() const;
    // The entries shown are those of an earlier reading: the last one failed.
    bool old() const { return old_; }

private:
    void showChosen();
    void exportClicked();
    void finishExport();
    void finishReading();
    void read(const LogFilter& filter, const QList<LogPage>& pages);
    void showPlace();
    void addChoices(QComboBox* box, const QStringList& values);

    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QComboBox* user_ = nullptr;
    QComboBox* action_ = nullptr;
    QTableView* table_ = nullptr;
    LogModel* model_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* place_ = nullptr;
    QPushButton* newer_ = nullptr;
    QPushButton* older_ = nullptr;
    QFutureWatcher<LogReading>* watcher_ = nullptr;
    QFutureWatcher<QPair<qint64, ReadFault>>* exporting_ = nullptr;
    bool reading_ = false;          // from the start of a reading until its entries are shown
    std::optional<LogFilter> next_; // asked for during the reading
    LogFilter filter_;              // of the page shown
    QList<LogPage> pages_;          // the newer pages before the one shown, newest first
    LogPage page_;
    qint64 count_ = 0;
    LogFilter readFilter_; // of the reading on
    QList<LogPage> readPages_;
    QDateTime readAt_; // when the page shown was read
    QString exportPath_;
    bool old_ = false;
};

} // namespace bw::host::console

#pragma once

#include <QDate>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QComboBox;
class QDateEdit;
class QLabel;
class QTableWidget;

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

// The operation log's viewer: date range, user and action, newest first, CSV export.
class LogViewer : public QWidget {
public:
    explicit LogViewer(QWidget* parent = nullptr);
    // Reads the entries of filter into the table.
    void showEntries(const LogFilter& filter);
    const QList<LogEntry>& shown() const { return entries_; }
    void setFilter(const LogFilter& filter);

private:
    void showChosen();
    void exportClicked();

    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QComboBox* user_ = nullptr;
    QComboBox* action_ = nullptr;
    QTableWidget* table_ = nullptr;
    QLabel* status_ = nullptr;
    QList<LogEntry> entries_;
};

} // namespace bw::host::console

#pragma once

#include <QDate>
#include <QList>
#include <QSqlQuery>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace bw::store {
class SqlConnection;
}

namespace bw::host::collect {

// Which collected records: those of whole days from..to, of these terminals (all when none).
struct RecordFilter {
    QDate from;
    QDate to;
    QList<int> terminals;
};

// " FROM MealRecord WHERE ..." for the records from the start of the day `from` to the start
// of `until`, of the terminals (all when none), with its values appended to values.
QString periodFilter(const QDate& from, const QDate& until, const QList<int>& terminals,
                     QVariantList& values);

// The records of the filter, by time, terminal and record number, in the columns of
// recordHeadings() (the flag as its text). Read forward only; raises bw::Error.
QSqlQuery selectRecords(store::SqlConnection& cn, const RecordFilter& filter);

// The headings of the record columns, in the user-interface language.
QStringList recordHeadings();

// A value of a record as the table and the CSV show it (times as MealRecord holds them).
QString recordText(const QVariant& value);

// Writes the records of the filter to a CSV file as spreadsheets read it: UTF-8 with a
// byte-order mark, a heading line, CR LF line ends, cells that a spreadsheet would take for a
// formula neutralised, card and employee numbers kept as text. The file is replaced only when
// all of it is written. Returns the records written, or -1 when the file cannot be written or
// the records cannot be read, and then why in `why` (the system's or the database's reason).
qint64 exportRecords(store::SqlConnection& cn, const RecordFilter& filter, const QString& path,
                     QString* why = nullptr);

// One CSV cell. A value that a spreadsheet would run as a formula (it begins with = + - @, a
// tab or a carriage return) gets a leading apostrophe; with keepText, a number made of digits
// only is written as a text formula so that its leading zeros stay.
QString csvCell(const QString& value, bool keepText = false);

// The file name an export of from..to is offered under.
QString exportFileName(const QDate& from, const QDate& to);

} // namespace bw::host::collect

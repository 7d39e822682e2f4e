#pragma once

#include "host/report/month_report.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace bw::host::report {

// One sheet of the report as a table: its leading text columns (employee number, name, card;
// or terminal and day), then the count of each meal and the total, then a total row.
struct Table {
    QString name;
    QStringList headings;
    int textColumns = 0;
    QList<QStringList> texts;
    QList<Counts> counts;   // none: a table of texts only
    QList<int> numberTexts; // text columns of numbers whose leading zeros the CSV keeps
};

// The report's tables in the operator's language (2052 or 1028): the employees, the
// departments' totals, each department's employees with its subtotal, the cards without an
// employee, the repeated swipes, and the terminals by day when they were counted. Each table
// of counts ends with a total row.
QList<Table> reportTables(const MonthReport& report, int lang);

// Why a report file was not written; its reason is the system's (or the library's) own words.
struct WriteFault {
    enum class Kind { None, CannotCreate, CannotWrite };
    Kind kind = Kind::None;
    QString reason;
    bool failed() const { return kind != Kind::None; }
};

enum class Format { Xlsx, Csv };

// The format a file name asks for (".csv" in any case: CSV, else the workbook).
Format formatOf(const QString& path);

// Writes the tables to path, which is replaced only when the whole file is written (the file
// is the owner's alone: it holds card numbers and names). The workbook keeps every text a text
// (card numbers with their leading zeros, nothing run as a formula) and is written row by row;
// the CSV is UTF-8 with a byte-order mark, one section per table, cells quoted as spreadsheets
// read them.
WriteFault writeReport(const QList<Table>& tables, const QString& path, Format format);

// The payroll's file: one line per employee (工号, 姓名, 部门, breakfasts, lunches, dinners, the
// amount in yuan), UTF-8 with a byte-order mark, numbers as numbers, texts safe for a
// spreadsheet; written whole or not at all, the owner's alone.
WriteFault writePayroll(const MonthReport& report, const Prices& prices, const QString& path,
                        int lang);

// A name a workbook takes for a sheet: at most 31 characters, none of []:*?/\, not one of used.
QString sheetName(const QString& wanted, QStringList& used);

} // namespace bw::host::report

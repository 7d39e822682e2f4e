#pragma once

#include "host/report/report_writer.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QPrinter;
class QTabWidget;

namespace bw::host::console {

// The month's meals per employee: a month, every terminal or the ones selected in the console,
// the report's tables shown, exported to a workbook or CSV file, and printed to a PDF file.
class ReportWindow : public QWidget {
    Q_OBJECT
public:
    ReportWindow(const QList<int>& selected, const MealWindows& windows, QWidget* parent = nullptr);

    // Counts the month on the database and shows it (with each terminal's days when asked);
    // false with the reason shown.
    bool showMonth(const QDate& month, bool selectedOnly, bool byDay = false);
    // Writes what is shown (xlsx, or csv by the name) and says so; false when not written.
    bool exportTo(const QString& path);
    // The canteen's name, at the head of every printed page with the month.
    void setSiteName(const QString& name) { siteName_ = name; }
    // The system's print dialog (a PDF file is one of its printers), then the printing.
    bool print();
    // Prints what is shown to a PDF file, as print() does on the printer chosen.
    bool printTo(const QString& pdfPath);
    // What is shown as the printed document: every table's headings, the site's name and the
    // month repeated at the top of each page.
    QString html() const;

    QTabWidget* tables() const { return tabs_; }
    QString note() const;

private:
    void showTables();
    bool showCounted(const report::MonthReport& r);
    void setControlsEnabled(bool enabled);
    bool printOn(QPrinter& printer, const QString& pdfPath);

    QList<int> selected_;
    MealWindows windows_;
    QList<report::Table> shown_;
    QString month_;
    QString siteName_;
    QDateEdit* monthEdit_ = nullptr;
    QComboBox* which_ = nullptr;
    QCheckBox* byDay_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QLabel* note_ = nullptr;
};

} // namespace bw::host::console

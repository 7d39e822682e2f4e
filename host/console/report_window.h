#pragma once

#include "host/report/report_writer.h"

#include <QList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
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
    // Prints what is shown to a PDF file.
    bool printTo(const QString& pdfPath);

    QTabWidget* tables() const { return tabs_; }
    QString note() const;

private:
    void showTables();
    bool showCounted(const report::MonthReport& r);
    void setControlsEnabled(bool enabled);
    QString html() const;

    QList<int> selected_;
    MealWindows windows_;
    QList<report::Table> shown_;
    QString month_;
    QDateEdit* monthEdit_ = nullptr;
    QComboBox* which_ = nullptr;
    QCheckBox* byDay_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QLabel* note_ = nullptr;
};

} // namespace bw::host::console

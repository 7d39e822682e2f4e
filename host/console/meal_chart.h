#pragma once

#include <QDate>
#include <QList>
#include <QMap>
#include <QVector>
#include <QWidget>

class QLabel;

class QChartView;

namespace bw::store {
class SqlConnection;
}

namespace bw::host::console {

// Meals per day of the days first..last, by terminal.
struct MealDays {
    QDate first;
    QDate last;
    QMap<int, QVector<int>> perTerminal; // terminal → one count per day, first day first
    int lastDay() const;                 // the meals of the last day, every terminal
};

// The meal records of the days last-days+1..last from MealRecord, counted by day and terminal
// in the database; raises bw::Error.
MealDays readMealDays(store::SqlConnection& cn, const QDate& last, int days = 14);

// The chart of meals per day over the last 14 days by terminal, with today's count so far.
// The counts are read elsewhere (the console reads them on its worker thread).
class MealChart : public QWidget {
public:
    explicit MealChart(QWidget* parent = nullptr);
    // Shows these counts; read false: they could not be read, and the chart says so.
    void showDays(const MealDays& days, bool read);
    const MealDays& days() const { return days_; }

private:
    void draw();

    MealDays days_;
    QChartView* view_ = nullptr;
    QLabel* today_ = nullptr;
};

} // namespace bw::host::console

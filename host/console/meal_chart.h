#pragma once

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QMap>
#include <QVector>
#include <QWidget>

class QLabel;

class QBarCategoryAxis;
class QChart;
class QChartView;
class QValueAxis;

namespace bw::store {
class SqlConnection;
}

namespace bw::host::console {

// The days the chart shows, today the last of them.
constexpr int MealChartDays = 14;
// The most days one reading counts.
constexpr int MaxMealDays = 366;

// Meals per day of the days first..last, by terminal.
struct MealDays {
    QDate first;
    QDate last;
    QMap<int, QVector<int>> perTerminal; // terminal → one count per day, first day first
    int lastDay() const;                 // the meals of the last day, every terminal
    // Whether these are the counts of `days` whole days ending on last: both dates valid,
    // first days-1 days before last, and no terminal with more counts than days. A reading
    // that failed leaves none of this true.
    bool covers(int days) const;
};

// The bar sets the chart draws at most: a set per terminal makes hundreds at a large site,
// each costing the window time to lay out and paint, and a legend nobody can read.
constexpr int MealChartTerminals = 10;

// One bar set of the chart: a terminal's counts, or (terminal 0) those of `others`
// terminals summed.
struct MealBar {
    int terminal = 0;
    QVector<int> counts; // one per day, first day first
    int total = 0;
    int others = 0;
};
// The bar sets of days, at most `most` of them: every terminal in number order when there are
// no more than most, else the most-1 terminals with the most meals and one set of the others.
// days must cover MealChartDays.
QList<MealBar> mealBars(const MealDays& days, int most);

// The meal records of the days last-days+1..last (days taken within 1..MaxMealDays) from
// MealRecord, counted by day and terminal in the database; raises bw::Error, also for an
// invalid last day.
MealDays readMealDays(store::SqlConnection& cn, const QDate& last, int days = MealChartDays);

// The chart of meals per day over the last 14 days by terminal (the busiest ones, the rest
// together), with today's count so far.
// The counts are read elsewhere (the console reads them on its worker thread).
class MealChart : public QWidget {
public:
    explicit MealChart(QWidget* parent = nullptr);
    // Shows these counts, read at `at`, when they cover the chart's days; false (nothing
    // changes) when they do not.
    bool showDays(const MealDays& days, const QDateTime& at);
    // The counts could not be read, for this reason (the operator's words): the chart says so
    // and keeps the counts it had, marked with the time they were read.
    void showUnread(const QString& reason);
    const MealDays& days() const { return days_; }
    bool old() const { return old_; }

private:
    void draw();
    // The title, the chart's days along the bottom and a scale up to most meals a day.
    void setAxes(int most);
    QString title() const;

    MealDays days_; // always covers MealChartDays
    QDateTime readAt_;
    bool old_ = false;
    QChartView* view_ = nullptr;
    QChart* chart_ = nullptr; // the view's
    QBarCategoryAxis* x_ = nullptr;
    QValueAxis* y_ = nullptr;
    QLabel* today_ = nullptr;
};

} // namespace bw::host::console

#pragma once

#include "host/settings/settings.h"

#include <QDate>
#include <QList>
#include <QString>
#include <array>

namespace bw::store {
class SqlConnection;
}

namespace bw::host::report {

// The columns a record is counted in: its meal by the time of day, or Other when it lies
// outside every meal's window (those are counted, not dropped, so that the total is every
// record of the month).
enum class Meal { Breakfast, Lunch, Dinner, Other };
constexpr int ColumnCount = 4;

// The meal of a time of day ("HH:mm:ss" or longer; any other text is Other): a window holds
// its start, not its end.
Meal classify(const MealWindows& windows, const QString& timeOfDay);

// The month of "yyyy-MM" (its first day); invalid when the text is anything else.
QDate parseMonth(const QString& text);

// What is reported: the records of the month, of these terminals (every one when none).
struct Request {
    QDate month; // any day of it
    QList<int> terminals;
    MealWindows windows = defaultMealWindows();
    bool byDay = false; // also the counts of each terminal and day
};

struct Counts {
    std::array<qint64, ColumnCount> meals{};
    qint64 total() const;
    void add(Meal meal, qint64 n) { meals[int(meal)] += n; }
};

// An employee's row (their cards joined by ", "), or a card's whose records name no employee
// (employee and name empty).
struct PersonRow {
    QString employee;
    QString name;
    QString cards;
    Counts counts;
    QString department; // the register's; empty when it has none
};

// A second swipe of a card in a meal's window of a day it was counted in already: kept and
// shown, not counted again.
struct RepeatRow {
    QString employee;
    QString card;
    QString day; // yyyy-MM-dd
    Meal meal = Meal::Other;
    QString first; // HH:mm:ss of the swipe counted
    QString time;  // of this one
};

// What a meal costs and what each employee is given a month, in fen.
struct Prices {
    std::array<qint64, MealCount> mealFen{};
    qint64 subsidyFen = 0;
};
Prices pricesOf(const Settings& settings);
// The meals at their prices less the subsidy, never below 0.
qint64 amountFen(const Counts& counts, const Prices& prices);

struct DayRow {
    int terminal = 0;
    QString day; // yyyy-MM-dd
    Counts counts;
};

struct MonthReport {
    QDate month;
    MealWindows windows;
    QList<PersonRow> employees; // by employee number
    QList<PersonRow> cards;     // records without an employee, by card
    QList<DayRow> days;         // by terminal and day, when asked for
    QList<RepeatRow> repeats;   // by employee, card, day and time
    Counts total;               // meals (each once) and records outside every window
};

// Counts the month's records in one forward pass over them (memory follows the employees,
// cards and meals, not the records): a card's swipes in one meal's window of a day are one meal.
// Every employee the register has employed in the month is in employees, without meals too.
// Raises bw::Error when the records cannot be read.
MonthReport readMonthReport(store::SqlConnection& cn, const Request& request);

} // namespace bw::host::report

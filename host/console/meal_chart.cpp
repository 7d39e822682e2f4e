#include "host/console/meal_chart.h"

#include "host/console/console_texts.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <QBarCategoryAxis>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QStackedBarSeries>
#include <QVBoxLayout>
#include <QValueAxis>
#include <algorithm>

namespace bw::host::console {

int MealDays::lastDay() const {
    int sum = 0;
    for (const QVector<int>& counts : perTerminal)
        sum += counts.isEmpty() ? 0 : counts.last();
    return sum;
}

QList<MealBar> mealBars(const MealDays& days, int most) {
    most = std::max(most, 1);
    QList<MealBar> out;
    for (auto it = days.perTerminal.cbegin(); it != days.perTerminal.cend(); ++it) {
        MealBar bar{it.key(), it.value(), 0, 0};
        for (int n : it.value())
            bar.total += n;
        out << bar;
    }
    if (out.size() <= most)
        return out;
    // The most meals first, the lower number first among equals; the rest summed up.
    std::stable_sort(out.begin(), out.end(),
                     [](const MealBar& a, const MealBar& b) { return a.total > b.total; });
    MealBar rest{0, QVector<int>(MealChartDays), 0, int(out.size()) - (most - 1)};
    for (auto it = out.cbegin() + (most - 1); it != out.cend(); ++it) {
        for (int i = 0; i < MealChartDays; ++i)
            rest.counts[i] += it->counts.value(i);
        rest.total += it->total;
    }
    out.erase(out.begin() + (most - 1), out.end());
    std::sort(out.begin(), out.end(),
              [](const MealBar& a, const MealBar& b) { return a.terminal < b.terminal; });
    out << rest;
    return out;
}

bool MealDays::covers(int days) const {
    if (days < 1 || days > MaxMealDays || !first.isValid() || !last.isValid() ||
        first.daysTo(last) != days - 1)
        return false;
    return std::all_of(perTerminal.cbegin(), perTerminal.cend(),
                       [days](const QVector<int>& counts) { return counts.size() <= days; });
}

MealDays readMealDays(store::SqlConnection& cn, const QDate& last, int days) {
    if (!last.isValid())
        throw Error(err::InvalidProcedureCall, QStringLiteral("No day to count the meals to"));
    days = std::clamp(days, 1, MaxMealDays);
    MealDays out;
    out.last = last;
    out.first = last.addDays(1 - days);
    // The day is taken from the time in the database, so that only the counts travel: SQLite
    // keeps the time as its text, the others know a date type.
    const QString day = cn.engine() == store::SqlConnection::Engine::Sqlite
                            ? QStringLiteral("substr(RecordTime, 1, 10)")
                            : QStringLiteral("CAST(RecordTime AS DATE)");
    const QString sql =
        QStringLiteral("SELECT MachAddr, %1, COUNT(*) FROM MealRecord WHERE "
                       "RecordTime >= ? AND RecordTime < ? AND (Flag IS NULL OR Flag "
                       "NOT IN (1, 2)) "
                       "GROUP BY MachAddr, %1")
            .arg(day);
    const auto rows = cn.queryBound(
        sql,
        {out.first.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00"),
         last.addDays(1).toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00")});
    for (const QVariantList& row : rows) {
        const QVariant v = row.value(1);
        const QDate d = v.typeId() == QMetaType::QString
                            ? QDate::fromString(v.toString().left(10), QStringLiteral("yyyy-MM-dd"))
                            : v.toDate();
        const qint64 index = out.first.daysTo(d);
        if (!d.isValid() || index < 0 || index >= days)
            continue; // a time the day cannot be told of is not counted
        QVector<int>& counts = out.perTerminal[row.value(0).toInt()];
        counts.resize(days);
        counts[index] += row.value(2).toInt();
    }
    return out;
}

MealChart::MealChart(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Meals"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(9, 0, 9, 9);
    today_ = new QLabel(this);
    today_->setObjectName(QStringLiteral("MealsToday"));
    today_->setTextFormat(Qt::PlainText); // a reason from the database
    // The view is made on the chart: a view made without one makes a chart of its own first.
    chart_ = new QChart;
    x_ = new QBarCategoryAxis(chart_);
    y_ = new QValueAxis(chart_);
    y_->setTickCount(5);
    y_->setLabelFormat(QStringLiteral("%d"));
    chart_->addAxis(x_, Qt::AlignBottom);
    chart_->addAxis(y_, Qt::AlignLeft);
    chart_->legend()->setAlignment(Qt::AlignRight);
    view_ = new QChartView(chart_, this);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumHeight(220);
    layout->addWidget(today_);
    layout->addWidget(view_, 1);
    const QDate today = QDate::currentDate();
    days_ = MealDays{today.addDays(1 - MealChartDays), today, {}};
    // Only the days and the title until counts come: the bars are made once, for them.
    setAxes(0);
}

bool MealChart::showDays(const MealDays& days, const QDateTime& at) {
    if (!days.covers(MealChartDays))
        return false;
    days_ = days;
    readAt_ = at;
    old_ = false;
    today_->setText(text(Text::MealsToday).arg(days_.lastDay()));
    draw();
    return true;
}

void MealChart::showUnread(const QString& reason) {
    today_->setText(text(Text::MealsUnreadable).arg(reason));
    if (old_ || !readAt_.isValid())
        return; // the chart is marked already, or has shown no counts
    old_ = true;
    chart_->setTitle(title());
}

void MealChart::draw() {
    // Every loop runs over the chart's days, whatever the counts hold.
    const QList<MealBar> bars = mealBars(days_, MealChartTerminals);
    auto* series = new QStackedBarSeries;
    for (const MealBar& bar : bars) {
        auto* set = new QBarSet(bar.terminal > 0 ? text(Text::Terminal).arg(bar.terminal)
                                                 : text(Text::OtherTerminals).arg(bar.others));
        for (int i = 0; i < MealChartDays; ++i)
            *set << bar.counts.value(i);
        series->append(set);
    }
    int most = 0;
    for (int i = 0; i < MealChartDays; ++i) {
        int sum = 0;
        for (const MealBar& bar : bars)
            sum += bar.counts.value(i);
        most = std::max(most, sum);
    }
    // The chart and its axes stay; only the bars and the days change.
    chart_->removeAllSeries();
    chart_->addSeries(series);
    setAxes(most);
    series->attachAxis(x_);
    series->attachAxis(y_);
}

void MealChart::setAxes(int most) {
    chart_->setTitle(title());
    QStringList days;
    for (int i = 0; i < MealChartDays; ++i)
        days << days_.last.addDays(i + 1 - MealChartDays).toString(QStringLiteral("MM-dd"));
    if (x_->categories() != days) {
        x_->clear();
        x_->append(days);
    }
    // Five ticks on whole numbers: the top is the next multiple of four.
    y_->setRange(0, (std::max(most, 4) + 3) / 4 * 4);
}

QString MealChart::title() const {
    return old_ ? text(Text::MealsTitle) +
                      text(Text::AsOf).arg(readAt_.toString(QStringLiteral("MM-dd HH:mm")))
                : text(Text::MealsTitle);
}

} // namespace bw::host::console

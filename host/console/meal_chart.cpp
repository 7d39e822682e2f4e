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

namespace bw::host::console {

int MealDays::lastDay() const {
    int sum = 0;
    for (const QVector<int>& counts : perTerminal)
        sum += counts.isEmpty() ? 0 : counts.last();
    return sum;
}

MealDays readMealDays(store::SqlConnection& cn, const QDate& last, int days) {
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
    view_ = new QChartView(this);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumHeight(220);
    layout->addWidget(today_);
    layout->addWidget(view_, 1);
    const QDate today = QDate::currentDate();
    days_ = MealDays{today.addDays(-13), today, {}};
    draw();
}

void MealChart::showDays(const MealDays& days, bool read) {
    days_ = days;
    today_->setText(read ? text(Text::MealsToday).arg(days_.lastDay())
                         : text(Text::MealsUnreadable));
    draw();
}

void MealChart::draw() {
    auto* series = new QStackedBarSeries;
    for (auto it = days_.perTerminal.cbegin(); it != days_.perTerminal.cend(); ++it) {
        auto* set = new QBarSet(text(Text::Terminal).arg(it.key()));
        for (int n : it.value())
            *set << n;
        series->append(set);
    }
    QStringList days;
    int most = 0;
    for (QDate d = days_.first; d <= days_.last; d = d.addDays(1)) {
        days << d.toString(QStringLiteral("MM-dd"));
        int sum = 0;
        for (const QVector<int>& counts : days_.perTerminal)
            sum += counts.value(int(days_.first.daysTo(d)));
        most = std::max(most, sum);
    }
    auto* chart = new QChart;
    chart->addSeries(series);
    chart->setTitle(text(Text::MealsTitle));
    auto* x = new QBarCategoryAxis;
    x->append(days);
    auto* y = new QValueAxis;
    // Five ticks on whole numbers: the top is the next multiple of four.
    y->setRange(0, (std::max(most, 4) + 3) / 4 * 4);
    y->setTickCount(5);
    y->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
    chart->legend()->setAlignment(Qt::AlignRight);
    QChart* old = view_->chart();
    view_->setChart(chart);
    delete old;
}

} // namespace bw::host::console

#include "host/console/operation_log.h"

#include "host/collect/record_export.h"
#include "host/console/console_texts.h"
#include "host/ledger/ledger.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSqlQuery>
#include <QStringConverter>
#include <QTableWidget>
#include <QVBoxLayout>

namespace bw::host::console {

namespace {

QString dayStart(const QDate& d) {
    return d.toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(" 00:00:00");
}

QStringList headings() {
    return {text(Text::ColTime), text(Text::ColUser), text(Text::ColObject), text(Text::ColAction),
            text(Text::ColResult)};
}

QStringList cells(const LogEntry& e) {
    return {e.time, e.user, e.object, e.action, e.result};
}

} // namespace

QList<LogEntry> readLog(store::SqlConnection& cn, const LogFilter& filter, int limit) {
    QString sql = QStringLiteral("SELECT TimeA, UserA, ObjectA, ActionA, ResultA FROM CtrlLog "
                                 "WHERE TimeA >= ? AND TimeA < ?");
    QVariantList values{dayStart(filter.from), dayStart(filter.to.addDays(1))};
    if (!filter.user.isEmpty()) {
        sql += QStringLiteral(" AND UserA = ?");
        values << filter.user;
    }
    if (!filter.action.isEmpty()) {
        sql += QStringLiteral(" AND ActionA = ?");
        values << filter.action;
    }
    sql += QStringLiteral(" ORDER BY TimeA DESC");
    QList<LogEntry> out;
    for (const QVariantList& row : cn.queryBound(sql, values)) {
        if (out.size() >= limit)
            break;
        out << LogEntry{collect::recordText(row.value(0)), row.value(1).toString(),
                        row.value(2).toString(), row.value(3).toString(), row.value(4).toString()};
    }
    return out;
}

QStringList logValues(store::SqlConnection& cn, const QString& column) {
    // Only the two columns the viewer offers are ever asked for by name.
    if (column != QLatin1String("UserA") && column != QLatin1String("ActionA"))
        return {};
    QStringList out;
    for (const QVariantList& row : cn.queryBound(
             QStringLiteral("SELECT DISTINCT %1 FROM CtrlLog WHERE %1 IS NOT NULL ORDER BY %1")
                 .arg(column)))
        out << row.value(0).toString();
    return out;
}

bool exportLog(const QList<LogEntry>& entries, const QString& path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QStringEncoder utf8(QStringConverter::Utf8, QStringConverter::Flag::WriteBom);
    auto line = [&](const QStringList& values) {
        QStringList out;
        for (const QString& v : values)
            out << collect::csvCell(v);
        file.write(utf8.encode(out.join(QLatin1Char(',')) + QStringLiteral("\r\n")));
    };
    line(headings());
    for (const LogEntry& e : entries)
        line(cells(e));
    return file.commit();
}

LogViewer::LogViewer(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("OperationLog"));
    setWindowTitle(text(Text::OperationLog));
    auto* top = new QVBoxLayout(this);
    auto* bar = new QHBoxLayout;
    const QDate today = QDate::currentDate();
    from_ = new QDateEdit(today.addDays(-30), this);
    to_ = new QDateEdit(today, this);
    for (QDateEdit* e : {from_, to_}) {
        e->setCalendarPopup(true);
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    user_ = new QComboBox(this);
    action_ = new QComboBox(this);
    user_->setObjectName(QStringLiteral("User"));
    action_->setObjectName(QStringLiteral("Action"));
    user_->addItem(text(Text::All), QString());
    action_->addItem(text(Text::All), QString());
    if (auto cn = sharedConnection()) {
        try {
            for (const QString& u : logValues(*cn, QStringLiteral("UserA")))
                user_->addItem(u, u);
            for (const QString& a : logValues(*cn, QStringLiteral("ActionA")))
                action_->addItem(a, a);
        } catch (const Error&) {
            // The table says so when the entries are read.
        }
    }
    auto* showButton = new QPushButton(text(Text::Show), this);
    auto* exportButton = new QPushButton(text(Text::ExportCsv), this);
    bar->addWidget(new QLabel(text(Text::From), this));
    bar->addWidget(from_);
    bar->addWidget(new QLabel(text(Text::To), this));
    bar->addWidget(to_);
    bar->addWidget(new QLabel(text(Text::User), this));
    bar->addWidget(user_);
    bar->addWidget(new QLabel(text(Text::Action), this));
    bar->addWidget(action_, 1);
    bar->addWidget(showButton);
    bar->addWidget(exportButton);
    top->addLayout(bar);
    table_ = new QTableWidget(0, 5, this);
    table_->setObjectName(QStringLiteral("Entries"));
    table_->setHorizontalHeaderLabels(headings());
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    top->addWidget(table_, 1);
    status_ = new QLabel(this);
    top->addWidget(status_);
    connect(showButton, &QPushButton::clicked, this, [this] { showChosen(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { exportClicked(); });
    resize(900, 520);
    showChosen();
}

void LogViewer::setFilter(const LogFilter& filter) {
    from_->setDate(filter.from);
    to_->setDate(filter.to);
    const int u = user_->findData(filter.user), a = action_->findData(filter.action);
    if (u < 0)
        user_->addItem(filter.user, filter.user);
    user_->setCurrentIndex(u < 0 ? user_->count() - 1 : u);
    if (a < 0)
        action_->addItem(filter.action, filter.action);
    action_->setCurrentIndex(a < 0 ? action_->count() - 1 : a);
    showEntries(filter);
}

void LogViewer::showChosen() {
    showEntries(LogFilter{from_->date(), to_->date(), user_->currentData().toString(),
                          action_->currentData().toString()});
}

void LogViewer::showEntries(const LogFilter& filter) {
    entries_.clear();
    status_->clear();
    try {
        auto cn = sharedConnection();
        if (!cn)
            throw Error(0, sharedConnectionProblem());
        entries_ = readLog(*cn, filter);
    } catch (const Error& e) {
        status_->setText(e.description());
    }
    table_->setRowCount(int(entries_.size()));
    for (int r = 0; r < entries_.size(); ++r) {
        const QStringList values = cells(entries_[r]);
        for (int c = 0; c < values.size(); ++c)
            table_->setItem(r, c, new QTableWidgetItem(values[c]));
    }
    table_->resizeColumnsToContents();
}

void LogViewer::exportClicked() {
    const QString name = QStringLiteral("operation-log-%1_%2.csv")
                             .arg(from_->date().toString(QStringLiteral("yyyy-MM-dd")),
                                  to_->date().toString(QStringLiteral("yyyy-MM-dd")));
    const QString path = QFileDialog::getSaveFileName(
        this, text(Text::ExportCsv), QDir::home().filePath(name), QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    status_->setText(exportLog(entries_, path)
                         ? text(Text::ExportDone).arg(entries_.size()).arg(path)
                         : text(Text::ExportFailed).arg(path));
}

} // namespace bw::host::console

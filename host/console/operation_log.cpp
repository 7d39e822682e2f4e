#include "host/console/operation_log.h"

#include "host/collect/record_export.h"
#include "host/console/console_texts.h"
#include "host/ledger/ledger.h"
#include "host/ledger/schema.h"
#include "platform/error.h"
#include "platform/safe_file.h"
#include "platform/ui.h"
#include "store/sql_connection.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSqlQuery>
#include <QStringConverter>
#include <QTableView>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <algorithm>

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

// The entries as the viewer's table shows them; greyed when old.
class LogModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    void show(const QList<LogEntry>& entries, bool old) {
        beginResetModel();
        entries_ = entries;
        old_ = old;
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(entries_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : 5;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || index.row() >= entries_.size())
            return QVariant();
        if (role == Qt::DisplayRole)
            return cells(entries_[index.row()]).value(index.column());
        if (role == Qt::ForegroundRole && old_)
            return QBrush(QColor(128, 128, 128));
        return QVariant();
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return headings().value(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    QList<LogEntry> entries_;
    bool old_ = false;
};

namespace {

// The condition of filter's entries, its values added to values. Entries at or before the
// time upTo (bound as param) only, when given, instead of those before the day after the
// range: an index on the time serves one upper bound, and a page's last entry lies within the
// range.
QString logWhere(const LogFilter& filter, QVariantList& values, const QVariant& upTo = {},
                 const QString& param = QString()) {
    QString sql = QStringLiteral("TimeA >= ?");
    values << dayStart(filter.from);
    if (!upTo.isValid()) {
        sql += QStringLiteral(" AND TimeA < ?");
        values << dayStart(filter.to.addDays(1));
    } else {
        sql += QStringLiteral(" AND TimeA <= ") + param;
        values << upTo;
    }
    if (!filter.user.isEmpty()) {
        sql += QStringLiteral(" AND UserA = ?");
        values << filter.user;
    }
    if (!filter.action.isEmpty()) {
        sql += QStringLiteral(" AND ActionA = ?");
        values << filter.action;
    }
    return sql;
}

} // namespace

LogPage readLogPage(store::SqlConnection& cn, const LogFilter& filter,
                    const std::optional<LogPage>& after, int size) {
    size = std::max(1, size);
    const QString order = writeOrderColumn(cn);
    const bool postgres = cn.engine() == store::SqlConnection::Engine::Postgres;
    // A PostgreSQL time goes back as its text, which holds every digit of it.
    const QString key = postgres ? QStringLiteral("CAST(TimeA AS TEXT)") : QStringLiteral("TimeA");
    const QString param = postgres ? QStringLiteral("CAST(? AS TIMESTAMP)") : QStringLiteral("?");
    const bool keyed = !order.isEmpty() && after && after->last;
    QVariantList values;
    QString sql =
        QStringLiteral("SELECT TimeA, UserA, ObjectA, ActionA, ResultA, %1 AS TimeKey, %2 AS "
                       "WriteOrder FROM CtrlLog WHERE ")
            .arg(key, order.isEmpty() ? QStringLiteral("0") : order) +
        logWhere(filter, values, keyed ? after->last->time : QVariant(), param);
    if (keyed) {
        // After the last entry: older, or as old and written before it.
        sql += QStringLiteral(" AND (TimeA < %1 OR %2 < ?)").arg(param, order);
        values << after->last->time << after->last->order;
    }
    sql += QStringLiteral(" ORDER BY TimeA DESC");
    if (!order.isEmpty())
        sql += QStringLiteral(", %1 DESC").arg(order);
    sql += QStringLiteral(" LIMIT %1").arg(size + 1);
    LogPage page;
    page.through = after ? after->through : 0;
    if (!order.isEmpty() && after && !after->last)
        return page; // the page before held nothing
    if (order.isEmpty() && page.through > 0)
        sql += QStringLiteral(" OFFSET %1").arg(page.through);
    const QVector<QVariantList> rows = cn.queryBound(sql, values);
    for (const QVariantList& row : rows) {
        if (page.entries.size() >= size) {
            page.more = true;
            break;
        }
        page.entries << LogEntry{collect::recordText(row.value(0)), row.value(1).toString(),
                                 row.value(2).toString(), row.value(3).toString(),
                                 row.value(4).toString()};
        page.last = LogKey{row.value(5), row.value(6).toLongLong()};
    }
    page.through += page.entries.size();
    return page;
}

qint64 countLog(store::SqlConnection& cn, const LogFilter& filter, qint64 cap) {
    QVariantList values;
    const QString where = logWhere(filter, values);
    const auto rows = cn.queryBound(
        QStringLiteral("SELECT COUNT(*) FROM (SELECT 1 AS One FROM CtrlLog WHERE %1 LIMIT %2) c")
            .arg(where)
            .arg(std::max<qint64>(0, cap) + 1),
        values);
    return rows.isEmpty() ? 0 : rows.first().value(0).toLongLong();
}

QStringList logValues(store::SqlConnection& cn, const QString& column) {
    // Only the two columns the viewer offers are ever asked for by name.
    if (column != QLatin1String("UserA") && column != QLatin1String("ActionA"))
        return {};
    // Each value found from the one before in the column's index, rather than every row read.
    const QString sql =
        cn.engine() == store::SqlConnection::Engine::Other
            ? QStringLiteral("SELECT DISTINCT %1 FROM CtrlLog WHERE %1 IS NOT NULL ORDER BY %1")
            : QStringLiteral("WITH RECURSIVE v(x) AS (SELECT MIN(%1) FROM CtrlLog UNION ALL "
                             "SELECT (SELECT MIN(%1) FROM CtrlLog WHERE %1 > v.x) FROM v WHERE "
                             "v.x IS NOT NULL) SELECT x FROM v WHERE x IS NOT NULL");
    QStringList out;
    for (const QVariantList& row : cn.queryBound(sql.arg(column)))
        out << row.value(0).toString();
    return out;
}

LogReading readLogReading(const QString& connection, const LogFilter& filter,
                          const std::optional<LogPage>& after) {
    LogReading out;
    out.fault = attempt([&] {
        store::SqlConnection cn(connection);
        if (!after) {
            out.users = logValues(cn, QStringLiteral("UserA"));
            out.actions = logValues(cn, QStringLiteral("ActionA"));
        }
        out.page = readLogPage(cn, filter, after);
        out.count = countLog(cn, filter);
    });
    if (out.fault.failed())
        out = LogReading{{}, 0, {}, {}, out.fault};
    return out;
}

qint64 exportLog(const QString& connection, const LogFilter& filter, const QString& path) {
    SafeFile file(path, SafeFile::Access::Private);
    if (!file.open())
        return -1;
    QStringEncoder utf8(QStringConverter::Utf8, QStringConverter::Flag::WriteBom);
    auto line = [&](const QStringList& values) {
        QStringList out;
        for (const QString& v : values)
            out << collect::csvCell(v);
        file.write(utf8.encode(out.join(QLatin1Char(',')) + QStringLiteral("\r\n")));
    };
    line(headings());
    store::SqlConnection cn(connection);
    qint64 written = 0;
    std::optional<LogPage> page;
    do {
        page = readLogPage(cn, filter, page, 5000);
        for (const LogEntry& e : std::as_const(page->entries))
            line(cells(e));
        written += page->entries.size();
        page->entries.clear(); // where the page ended is all the next one needs
    } while (page->more);
    return file.commit() ? written : -1;
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
    model_ = new LogModel(this);
    table_ = new QTableView(this);
    table_->setObjectName(QStringLiteral("Entries"));
    table_->setModel(model_);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    top->addWidget(table_, 1);
    auto* foot = new QHBoxLayout;
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("LogStatus"));
    status_->setTextFormat(Qt::PlainText); // a reason from the database
    place_ = new QLabel(this);
    place_->setObjectName(QStringLiteral("LogPlace"));
    newer_ = new QPushButton(text(Text::Newer), this);
    older_ = new QPushButton(text(Text::Older), this);
    newer_->setObjectName(QStringLiteral("Newer"));
    older_->setObjectName(QStringLiteral("Older"));
    newer_->setEnabled(false);
    older_->setEnabled(false);
    foot->addWidget(status_, 1);
    foot->addWidget(place_);
    foot->addWidget(newer_);
    foot->addWidget(older_);
    top->addLayout(foot);
    watcher_ = new QFutureWatcher<LogReading>(this);
    connect(watcher_, &QFutureWatcher<LogReading>::finished, this, [this] { finishReading(); });
    exporting_ = new QFutureWatcher<QPair<qint64, ReadFault>>(this);
    connect(exporting_, &QFutureWatcher<QPair<qint64, ReadFault>>::finished, this,
            [this] { finishExport(); });
    connect(showButton, &QPushButton::clicked, this, [this] { showChosen(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { exportClicked(); });
    connect(newer_, &QPushButton::clicked, this, [this] { showNewer(); });
    connect(older_, &QPushButton::clicked, this, [this] { showOlder(); });
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

bool LogViewer::reading() const {
    return reading_;
}

void LogViewer::showEntries(const LogFilter& filter) {
    if (reading_) {
        next_ = filter;
        return;
    }
    read(filter, {});
}

bool LogViewer::showOlder() {
    if (reading_ || old_ || !page_.more)
        return false;
    read(filter_, pages_ + QList<LogPage>{page_});
    return true;
}

bool LogViewer::showNewer() {
    if (reading_ || old_ || pages_.isEmpty())
        return false;
    read(filter_, pages_.mid(0, pages_.size() - 1));
    return true;
}

// Reads the page that follows pages (the first when there are none) of filter.
void LogViewer::read(const LogFilter& filter, const QList<LogPage>& pages) {
    reading_ = true;
    readFilter_ = filter;
    readPages_ = pages;
    for (LogPage& p : readPages_)
        p.entries.clear(); // where each stood is all that is kept of them
    newer_->setEnabled(false);
    older_->setEnabled(false);
    status_->setText(text(Text::LogReading));
    const std::optional<LogPage> after =
        pages.isEmpty() ? std::nullopt : std::optional<LogPage>(readPages_.last());
    // A viewer closed during the reading leaves it to finish on its own.
    watcher_->setFuture(QtConcurrent::run(readLogReading, connectionString(), filter, after));
}

void LogViewer::addChoices(QComboBox* box, const QStringList& values) {
    for (const QString& v : values)
        if (box->findData(v) < 0)
            box->addItem(v, v);
}

void LogViewer::finishReading() {
    reading_ = false;
    const LogReading got = watcher_->result();
    if (got.fault.failed()) {
        old_ = readAt_.isValid(); // the entries of the last good reading stay
        QString why = text(Text::LogUnreadable).arg(reasonText(got.fault));
        if (readAt_.isValid())
            why += text(Text::AsOf).arg(readAt_.toString(QStringLiteral("HH:mm:ss")));
        status_->setText(why);
    } else {
        filter_ = readFilter_;
        pages_ = readPages_;
        page_ = got.page;
        count_ = got.count;
        readAt_ = QDateTime::currentDateTime();
        old_ = false;
        addChoices(user_, got.users);
        addChoices(action_, got.actions);
        status_->clear();
    }
    showPlace();
    model_->show(page_.entries, old_);
    if (!old_) {
        table_->resizeColumnsToContents();
        table_->scrollToTop();
    }
    if (next_) {
        const LogFilter filter = *next_;
        next_.reset();
        showEntries(filter);
    }
}

void LogViewer::showPlace() {
    if (!readAt_.isValid()) {
        place_->clear();
    } else {
        const QString number = QString::number(pageNumber() + 1);
        place_->setText(count_ > LogCountCap ? text(Text::LogPlaceMany).arg(number).arg(LogCountCap)
                                             : text(Text::LogPlace).arg(number).arg(count_));
    }
    newer_->setEnabled(!old_ && !pages_.isEmpty());
    older_->setEnabled(!old_ && page_.more);
}

void LogViewer::exportClicked() {
    const QString name = QStringLiteral("operation-log-%1_%2.csv")
                             .arg(from_->date().toString(QStringLiteral("yyyy-MM-dd")),
                                  to_->date().toString(QStringLiteral("yyyy-MM-dd")));
    const QString path = askSaveFile(text(Text::ExportCsv), name, QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    if (exporting_->isRunning())
        return;
    status_->setText(text(Text::LogReading));
    const QString connection = connectionString();
    const LogFilter filter = filter_;
    // A viewer closed during the export leaves it to finish on its own.
    exporting_->setFuture(QtConcurrent::run([connection, filter, path] {
        qint64 written = -1;
        const ReadFault fault = attempt([&] { written = exportLog(connection, filter, path); });
        return qMakePair(written, fault);
    }));
    exportPath_ = path;
}

void LogViewer::finishExport() {
    const auto [written, fault] = exporting_->result();
    status_->setText(fault.failed() ? text(Text::LogUnreadable).arg(reasonText(fault))
                     : written < 0  ? text(Text::ExportFailed).arg(exportPath_)
                                    : text(Text::ExportDone).arg(written).arg(exportPath_));
}

} // namespace bw::host::console

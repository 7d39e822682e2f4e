#include "host/console/operation_log.h"

#include "host/collect/record_export.h"
#include "host/console/console_texts.h"
#include "host/ledger/ledger.h"
#include "platform/error.h"
#include "store/sql_connection.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSqlQuery>
#include <QStringConverter>
#include <QTableView>
#include <QVBoxLayout>
#include <QtConcurrent>

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

LogReading readLogReading(const QString& connection, const LogFilter& filter) {
    LogReading out;
    out.fault = attempt([&] {
        store::SqlConnection cn(connection);
        out.users = logValues(cn, QStringLiteral("UserA"));
        out.actions = logValues(cn, QStringLiteral("ActionA"));
        out.entries = readLog(cn, filter);
    });
    if (out.fault.failed())
        out = LogReading{{}, {}, {}, out.fault};
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
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("LogStatus"));
    status_->setTextFormat(Qt::PlainText); // a reason from the database
    top->addWidget(status_);
    watcher_ = new QFutureWatcher<LogReading>(this);
    connect(watcher_, &QFutureWatcher<LogReading>::finished, this, [this] { finishReading(); });
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

bool LogViewer::reading() const {
    return reading_;
}

void LogViewer::showEntries(const LogFilter& filter) {
    if (reading_) {
        next_ = filter;
        return;
    }
    reading_ = true;
    status_->setText(text(Text::LogReading));
    // A viewer closed during the reading leaves it to finish on its own.
    watcher_->setFuture(QtConcurrent::run(readLogReading, connectionString(), filter));
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
        entries_ = got.entries;
        readAt_ = QDateTime::currentDateTime();
        old_ = false;
        addChoices(user_, got.users);
        addChoices(action_, got.actions);
        status_->clear();
    }
    model_->show(entries_, old_);
    if (!old_)
        table_->resizeColumnsToContents();
    if (next_) {
        const LogFilter filter = *next_;
        next_.reset();
        showEntries(filter);
    }
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

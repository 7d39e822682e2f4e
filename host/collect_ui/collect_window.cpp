#include "host/collect_ui/collect_window.h"

#include "host/collect/collect_texts.h"
#include "host/ledger/ledger.h"
#include "host/site/window_job.h"
#include "messages/catalogue.h"
#include "platform/convert.h"
#include "platform/error.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "platform_ui/message_box.h"
#include "store/sql_connection.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateEdit>
#include <QDeadlineTimer>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QSqlQuery>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace bw::host::collect {

// The records shown, held as their texts: the query that read them is finished.
class RecordTable : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    void reset(const QStringList& headings, QVector<QStringList> rows) {
        beginResetModel();
        headings_ = headings;
        rows_ = std::move(rows);
        endResetModel();
    }
    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(rows_.size());
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : int(headings_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_.size())
            return QVariant();
        return rows_[index.row()].value(index.column());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return headings_.value(section);
        return QAbstractTableModel::headerData(section, orientation, role);
    }

private:
    QStringList headings_;
    QVector<QStringList> rows_;
};

QList<Outcome> CollectWindow::outcomes() const {
    QList<Outcome> out;
    for (const site::StepResult& r : results_)
        out << r.collected;
    return out;
}

CollectWindow::CollectWindow(const QString& user, const QString& title, const QString& caption,
                             const QDate& date, QWidget* parent)
    : QWidget(parent), user_(user), caption_(caption) {
    setObjectName(QStringLiteral("DataCollection"));
    setWindowTitle(title);
    build(caption, date.isValid() ? date : QDate::currentDate());
    checkPermissions(caption);
    loadTerminals();
    setBusy(false);
    refresh();
}

CollectWindow::~CollectWindow() {
    // The job is told to stop and reports nowhere from now on; it is not waited for.
    if (relay_)
        relay_->leave();
}

void CollectWindow::build(const QString& caption, const QDate& date) {
    auto* top = new QVBoxLayout(this);
    auto* head = new QHBoxLayout;
    // Captions, names and results come from callers, settings and the register: never markup.
    auto* captionLabel = new QLabel(caption, this);
    captionLabel->setTextFormat(Qt::PlainText);
    QFont f = captionLabel->font();
    f.setBold(true);
    captionLabel->setFont(f);
    head->addWidget(captionLabel);
    head->addStretch();
    auto* userLabel = new QLabel(text(Text::Operator).arg(user_), this);
    userLabel->setTextFormat(Qt::PlainText);
    head->addWidget(userLabel);
    top->addLayout(head);

    // Terminals and the collection.
    auto* upper = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel(text(Text::Terminals), this));
    terminals_ = new QListWidget(this);
    terminals_->setObjectName(QStringLiteral("Terminals"));
    terminals_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    left->addWidget(terminals_);
    auto* buttons = new QHBoxLayout;
    collect_ = new QPushButton(text(Text::Collect), this);
    collect_->setObjectName(QStringLiteral("Collect"));
    collectClear_ = new QPushButton(text(Text::CollectAndClear), this);
    collectClear_->setObjectName(QStringLiteral("CollectAndClear"));
    downloadNames_ = new QPushButton(text(Text::DownloadNames), this);
    downloadNames_->setObjectName(QStringLiteral("DownloadNames"));
    cancelButton_ = new QPushButton(text(Text::Cancel), this);
    cancelButton_->setObjectName(QStringLiteral("Cancel"));
    buttons->addWidget(collect_);
    buttons->addWidget(collectClear_);
    buttons->addWidget(downloadNames_);
    buttons->addWidget(cancelButton_);
    left->addLayout(buttons);
    upper->addLayout(left, 1);
    progress_ = new QTableWidget(0, 3, this);
    progress_->setObjectName(QStringLiteral("Progress"));
    progress_->setHorizontalHeaderLabels(
        {text(Text::Terminal), text(Text::Progress), text(Text::Result)});
    progress_->verticalHeader()->hide();
    progress_->horizontalHeader()->setStretchLastSection(true);
    progress_->setColumnWidth(1, 160);
    progress_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    upper->addWidget(progress_, 3);
    top->addLayout(upper, 2);

    // The collected records.
    auto* filter = new QHBoxLayout;
    from_ = new QDateEdit(date.addDays(-30), this);
    to_ = new QDateEdit(date, this);
    for (QDateEdit* e : {from_, to_}) {
        e->setCalendarPopup(true);
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    }
    terminalFilter_ = new QComboBox(this);
    auto* show = new QPushButton(text(Text::Show), this);
    auto* exportButton = new QPushButton(text(Text::ExportCsv), this);
    exportButton->setObjectName(QStringLiteral("ExportCsv"));
    filter->addWidget(new QLabel(text(Text::From), this));
    filter->addWidget(from_);
    filter->addWidget(new QLabel(text(Text::To), this));
    filter->addWidget(to_);
    filter->addWidget(new QLabel(text(Text::Terminal), this));
    filter->addWidget(terminalFilter_);
    filter->addWidget(show);
    filter->addStretch();
    filter->addWidget(exportButton);
    top->addLayout(filter);
    model_ = new RecordTable(this);
    records_ = new QTableView(this);
    records_->setObjectName(QStringLiteral("Records"));
    records_->setModel(model_);
    records_->setSelectionBehavior(QAbstractItemView::SelectRows);
    records_->verticalHeader()->hide();
    records_->horizontalHeader()->setStretchLastSection(true);
    top->addWidget(records_, 3);
    status_ = new QLabel(this);
    status_->setObjectName(QStringLiteral("Status"));
    status_->setTextFormat(Qt::PlainText);
    top->addWidget(status_);

    connect(collect_, &QPushButton::clicked, this, [this] { startCollection(false); });
    connect(collectClear_, &QPushButton::clicked, this, [this] { startCollection(true); });
    connect(downloadNames_, &QPushButton::clicked, this, [this] { startNameDownload(); });
    connect(cancelButton_, &QPushButton::clicked, this, [this] { cancel(); });
    connect(show, &QPushButton::clicked, this, [this] { refresh(); });
    connect(exportButton, &QPushButton::clicked, this, [this] { exportClicked(); });
    resize(860, 600);
}

void CollectWindow::checkPermissions(const QString& caption) {
    rights_ = site::operatorRights(user_, caption);
    mayCollect_ = rights_(site::Action::Collect);
    mayClear_ = rights_(site::Action::Clear);
    mayNames_ = rights_(site::Action::Names);
}

void CollectWindow::loadTerminals() {
    entries_.clear();
    terminals_->clear();
    terminalFilter_->clear();
    terminalFilter_->addItem(text(Text::All), 0);
    auto cn = sharedConnection();
    if (!cn) {
        status_->setText(text(Text::NoDatabase));
        return;
    }
    try {
        const site::Register reg = site::readRegister(*cn);
        entries_ = reg.terminals;
        for (const QString& line : reg.skipped)
            qWarning("Data collection: %s", qUtf8Printable(line));
    } catch (const Error& e) {
        status_->setText(text(Text::NoDatabase) + QStringLiteral(": ") + e.description());
    }
    for (const TerminalEntry& t : entries_) {
        auto* item = new QListWidgetItem(
            QStringLiteral("%1   %2 %3   (%4)").arg(t.address).arg(t.place, t.team, t.port),
            terminals_);
        item->setData(Qt::UserRole, t.address);
        terminalFilter_->addItem(QString::number(t.address), t.address);
    }
}

void CollectWindow::selectTerminals(const QList<int>& addresses) {
    for (int i = 0; i < terminals_->count(); ++i) {
        QListWidgetItem* item = terminals_->item(i);
        item->setSelected(addresses.contains(item->data(Qt::UserRole).toInt()));
    }
}

bool CollectWindow::running() const {
    return watcher_ && watcher_->isRunning();
}

void CollectWindow::setBusy(bool busy) {
    collect_->setEnabled(!busy && mayCollect_);
    collectClear_->setEnabled(!busy && mayClear_);
    downloadNames_->setEnabled(!busy && mayNames_);
    cancelButton_->setEnabled(busy);
    terminals_->setEnabled(!busy);
}

bool CollectWindow::startCollection(bool clear) {
    return start(clear ? Job::CollectAndClear : Job::Collect);
}

bool CollectWindow::startNameDownload() {
    return start(Job::Names);
}

bool CollectWindow::start(Job job) {
    if (running())
        return false;
    const bool allowed = job == Job::Names             ? mayNames_
                         : job == Job::CollectAndClear ? mayClear_
                                                       : mayCollect_;
    if (!allowed) {
        status_->setText(text(Text::Refused));
        return false;
    }
    running_.clear();
    for (const TerminalEntry& t : entries_)
        for (QListWidgetItem* item : terminals_->selectedItems())
            if (item->data(Qt::UserRole).toInt() == t.address) {
                running_ << t;
                break;
            }
    if (running_.isEmpty()) {
        status_->setText(text(Text::NoTerminal));
        return false;
    }
    const QString connection = connectionString();
    if (connection.trimmed().isEmpty()) {
        status_->setText(text(Text::NoDatabase));
        return false;
    }

    results_ = QList<site::StepResult>(running_.size());
    progress_->setRowCount(int(running_.size()));
    bars_.clear();
    for (int row = 0; row < running_.size(); ++row) {
        progress_->setItem(row, 0, new QTableWidgetItem(QString::number(running_[row].address)));
        auto* bar = new QProgressBar(progress_);
        bar->setRange(0, 1);
        bar->setValue(0);
        bar->setFormat(QStringLiteral("%v / %m"));
        progress_->setCellWidget(row, 1, bar);
        bars_ << bar;
        progress_->setItem(row, 2, new QTableWidgetItem(text(Text::Waiting)));
    }
    status_->setText(text(job == Job::Names ? Text::RunningNames : Text::Running));
    job_ = job;
    setBusy(true);

    // The site layer's run: the lines on its pool, each step through its door with this
    // operator's rights; the results come back as queued calls while the window lives.
    site::Request rq;
    rq.connection = connection;
    for (const TerminalEntry& t : running_)
        rq.terminals << t.address;
    rq.steps = {job == Job::Names ? site::Step::Names : site::Step::Collect};
    rq.clear = job == Job::CollectAndClear;
    rq.force = true; // the operator chose these terminals' lists
    rq.user = user_;
    rq.rights = rights_;
    rq.stepWords = [](const site::StepResult& r) { return stepText(r); };
    if (relay_)
        relay_->leave(); // a finished job's relay
    auto state = std::make_shared<site::JobRelay>(this);
    relay_ = state;
    if (!watcher_) {
        watcher_ = new QFutureWatcher<void>(this);
        connect(watcher_, &QFutureWatcher<void>::finished, this, [this] { onFinished(); });
    }
    watcher_->setFuture(QtConcurrent::run([this, state, rq] {
        site::runSite(
            rq, [this, state](const site::StepResult& r) { state->post([this, r] { onDone(r); }); },
            &state->cancel,
            [this, state](int terminal, qint64 done, qint64 total) {
                state->post([this, terminal, done, total] { onProgress(terminal, done, total); });
            });
    }));
    return true;
}

void CollectWindow::cancel() {
    if (relay_)
        relay_->cancel = true;
}

void CollectWindow::onProgress(int terminal, qint64 done, qint64 total) {
    const auto it =
        std::find_if(running_.cbegin(), running_.cend(),
                     [terminal](const TerminalEntry& t) { return t.address == terminal; });
    const int row = int(it - running_.cbegin());
    if (row < 0 || row >= bars_.size())
        return;
    // A progress bar counts in int: very large totals are shown scaled.
    const int scale = total > 1000000000 ? 1000 : 1;
    bars_[row]->setRange(0, int(qMax<qint64>(1, total / scale)));
    bars_[row]->setValue(int(qMin(done, total) / scale));
}

void CollectWindow::onDone(const site::StepResult& result) {
    const auto it = std::find_if(running_.cbegin(), running_.cend(), [&](const TerminalEntry& t) {
        return t.address == result.terminal;
    });
    const int row = int(it - running_.cbegin());
    if (row < 0 || row >= results_.size())
        return;
    results_[row] = result;
    if (result.ok && result.step == site::Step::Collect)
        onProgress(result.terminal, result.collected.read,
                   qMax(result.collected.total, result.collected.read));
    auto* item = new QTableWidgetItem(shownStepText(result));
    // A long reason is cut by the column: the whole of it shows on hover.
    item->setToolTip(plainToolTip(item->text()));
    if (!result.ok || result.unwritten > 0)
        item->setForeground(Qt::red);
    progress_->setItem(row, 2, item);
}

void CollectWindow::onFinished() {
    setBusy(false);
    status_->clear();
    refresh();
    if (whenFinished_)
        whenFinished_();
}

QAbstractItemModel* CollectWindow::recordModel() const {
    return model_;
}

void CollectWindow::showRecords(const QDate& from, const QDate& to, int terminal) {
    shown_.from = from;
    shown_.to = to;
    shown_.terminals = terminal > 0 ? QList<int>{terminal} : QList<int>{};
    const QStringList headings = recordHeadings();
    QVector<QStringList> rows;
    bool more = false;
    if (auto cn = sharedConnection()) {
        try {
            QSqlQuery q = selectRecords(*cn, shown_);
            while (q.next()) {
                if (rows.size() == ShownRows) {
                    more = true;
                    break;
                }
                QStringList row;
                for (int c = 0; c < headings.size(); ++c)
                    row << recordText(q.value(c));
                rows << row;
            }
            // Finished here and now: an open query would keep the database from being written.
            q.finish();
        } catch (const Error& e) {
            status_->setText(e.description());
        }
    }
    model_->reset(headings, std::move(rows));
    const QString cut = text(Text::ShownFirst).arg(ShownRows);
    if (more)
        status_->setText(cut);
    else if (status_->text() == cut)
        status_->clear();
    records_->resizeColumnsToContents();
}

void CollectWindow::refresh() {
    showRecords(from_->date(), to_->date(), terminalFilter_->currentData().toInt());
}

qint64 CollectWindow::exportCsv(const QString& path) {
    auto cn = sharedConnection();
    lastExportProblem_.clear();
    return cn ? exportRecords(*cn, shown_, path, &lastExportProblem_) : -1;
}

void CollectWindow::exportClicked() {
    const QString path =
        askSaveFile(text(Text::ExportCsv), exportName(), QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    const qint64 rows = exportCsv(path);
    status_->setText(rows < 0 ? text(Text::ExportFailed).arg(path) + QStringLiteral("：") +
                                    lastExportProblem_
                              : text(Text::ExportDone).arg(rows).arg(path));
}

void CollectWindow::closeEvent(QCloseEvent* event) {
    // Closing cancels a collection without waiting for it: what was committed stays, nothing
    // more is cleared.
    cancel();
    event->accept();
}

void DataCollection::ShowA(QVariant& VarUser, QVariant& VarTitle, QVariant& VarCaption,
                           QVariant& VarSysDate) {
    auto* w = new CollectWindow(TextOf(VarUser), TextOf(VarTitle), TextOf(VarCaption),
                                VarSysDate.toDate());
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->show();
}

void registerDataCollection() {
    Registry::instance().registerClass(progid::DataCollection,
                                       [] { return std::make_shared<DataCollection>(); });
}

bool screenshotCollection(const QString& file, const QString& user) {
    CollectWindow w(user, messages::text(1119), messages::text(1118), QDate::currentDate());
    QList<int> all;
    for (const TerminalEntry& t : w.entries_)
        all << t.address;
    w.selectTerminals(all);
    w.show();
    if (w.startCollection(false)) {
        QDeadlineTimer deadline(60000);
        while (w.running() && !deadline.hasExpired())
            QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QApplication::processEvents();
    return w.grab().save(file, "PNG");
}

} // namespace bw::host::collect

#include "host/console/console_window.h"

#include "bell/line_diagnosis.h"
#include "bell/serial_port.h"
#include "host/collect/collect_run.h"
#include "host/collect/collect_texts.h"
#include "host/collect_ui/collect_window.h"
#include "host/console/cards_window.h"
#include "host/console/console_texts.h"
#include "host/console/employees_window.h"
#include "host/console/help.h"
#include "host/console/meal_chart.h"
#include "host/console/operation_log.h"
#include "host/console/operators_window.h"
#include "host/console/read_fault.h"
#include "host/console/report_window.h"
#include "host/console/settings_dialog.h"
#include "host/console/sign_in.h"
#include "host/console/status_table.h"
#include "host/ledger/ledger.h"
#include "host/ledger/stations.h"
#include "host/site/site_layer.h"
#include "messages/catalogue.h"
#include "messages/clock_texts.h"
#include "platform/clock_guard.h"
#include "platform/error.h"
#include "platform/interfaces.h"
#include "platform/language.h"
#include "platform/registry.h"
#include "platform/ui.h"
#include "store/sql_connection.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDate>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTimer>
#include <QToolBar>
#include <QVBoxLayout>
#include <QtConcurrent>
#include <memory>
#include <utility>

namespace bw::host::console {

namespace {

// How often a register without terminals is read again.
constexpr int EmptyRegisterPollMs = 3000;

// Opens a host component's window through its ShowA, as the component itself opens them.
void showComponent(const QString& progId, const QString& user, const QString& title,
                   const QString& caption, QWidget* parent) {
    try {
        auto component = CreateObject<IShowA>(progId);
        QVariant vUser(user), vTitle(title), vCaption(caption), vDate(QDate::currentDate());
        component->ShowA(vUser, vTitle, vCaption, vDate);
    } catch (const Error& e) {
        QMessageBox box(QMessageBox::Information, text(Text::Title), e.boxText(), QMessageBox::Ok,
                        parent);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }
}

// The visible window of the program with this object name.
QWidget* shownWindow(const QString& name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible())
            return w;
    return nullptr;
}

// What each serial line with a silent terminal is and what is likely wrong with it, once per
// line, from the device tree (the line itself is the site layer's while it reads).
QStringList silentLines(const QList<StatusRow>& rows) {
    QStringList out, seen;
    const bell::diag::SysfsTree sys;
    for (const StatusRow& r : rows) {
        const int com = site::comOf(r.status.port);
        const QString device = com > 0 ? bell::devicePath(com) : QString();
        if (r.status.answers || device.isEmpty() || seen.contains(device))
            continue;
        seen << device;
        out << bell::diag::operatorText(bell::diag::diagnose(device, sys, nullptr), uiLanguage());
    }
    return out;
}

} // namespace

ConsoleWindow::ConsoleWindow(const ConsoleOptions& options, QWidget* parent)
    : QMainWindow(parent), options_(options) {
    setObjectName(QStringLiteral("Console"));
    setWindowTitle(text(Text::Title));
    watcher_ = new QFutureWatcher<void>(this);
    connect(watcher_, &QFutureWatcher<void>::finished, this, [this] { finishJob(); });
    build();
    timer_ = new QTimer(this);
    timer_->setInterval(std::max(1, options_.refreshSeconds) * 1000);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (!busy())
            refresh();
    });
    timer_->start();
    QTimer::singleShot(0, this, [this] { refresh(); });
    idle_ = new QTimer(this);
    idle_->setSingleShot(true);
    connect(idle_, &QTimer::timeout, this, [this] { checkIdle(); });
    qApp->installEventFilter(this);
    setIdleLockMs(options_.idleLockMs);
}

ConsoleWindow::~ConsoleWindow() {
    // The job is cancelled and cut off from the window; nobody waits for it.
    if (relay_)
        relay_->leave();
}

bool ConsoleWindow::busy() const {
    return watcher_->isRunning() || done_ != nullptr;
}

QAction* ConsoleWindow::makeAction(QMenu* menu, const QString& name, const QString& label,
                                   const std::function<void()>& run) {
    auto* action = new QAction(label, this);
    action->setObjectName(name);
    connect(action, &QAction::triggered, this, [run] { run(); });
    menu->addAction(action);
    return action;
}

void ConsoleWindow::build() {
    QStyle* st = style();
    QMenu* system = menuBar()->addMenu(text(Text::MenuFile));
    QMenu* site = menuBar()->addMenu(text(Text::MenuView));
    QMenu* help = menuBar()->addMenu(text(Text::MenuHelp));
    QAction* terminals =
        makeAction(system, QStringLiteral("TerminalManagement"), text(Text::TerminalManagement),
                   [this] { openTerminalManagement(); });
    QAction* collection = makeAction(system, QStringLiteral("DataCollection"),
                                     text(Text::DataCollection), [this] { openCollection(); });
    makeAction(system, QStringLiteral("MonthReport"), text(Text::MonthReport),
               [this] { openMonthReport(); });
    QAction* settings = makeAction(system, QStringLiteral("Settings"), text(Text::Settings),
                                   [this] { openSettings(); });
    system->addSeparator();
    makeAction(system, QStringLiteral("SwitchOperator"), text(Text::SwitchOperator),
               [this] { switchOperator(); });
    operatorsAction_ = makeAction(system, QStringLiteral("Operators"), text(Text::Operators),
                                  [this] { openOperators(); });
    system->addSeparator();
    makeAction(system, QStringLiteral("quit"), text(Text::Exit), [this] {
        close();
    })->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction* refreshAction =
        makeAction(site, QStringLiteral("Refresh"), text(Text::Refresh), [this] { refresh(); });
    refreshAction->setShortcut(QKeySequence(Qt::Key_F5));
    site->addSeparator();
    makeAction(site, QStringLiteral("Collect"), text(Text::Collect), [this] { collectSelected(); });
    makeAction(site, QStringLiteral("SetClock"), text(Text::SetClock),
               [this] { runOnSelected(site::Step::Clock); });
    makeAction(site, QStringLiteral("DownloadNames"), text(Text::DownloadNames),
               [this] { runOnSelected(site::Step::Names); });
    makeAction(site, QStringLiteral("LineTest"), text(Text::LineTest),
               [this] { lineTestSelected(); });
    cardsAction_ =
        makeAction(site, QStringLiteral("Cards"), text(Text::Cards), [this] { openCards(); });
    employeesAction_ = makeAction(site, QStringLiteral("Employees"), employeesTitle(),
                                  [this] { openEmployees(); });
    makeAction(site, QStringLiteral("AssignHere"), text(Text::AssignHere),
               [this] { assignSelected(true); });
    makeAction(site, QStringLiteral("AssignNone"), text(Text::AssignNone),
               [this] { assignSelected(false); });
    site->addSeparator();
    QAction* log = makeAction(site, QStringLiteral("OperationLog"), text(Text::OperationLog),
                              [this] { openLog(); });
    makeAction(help, QStringLiteral("Manual"), text(Text::Manual), [this] { showManual(this); });
    QAction* about =
        makeAction(help, QStringLiteral("About"), text(Text::About), [this] { openAbout(); });

    terminals->setIcon(st->standardIcon(QStyle::SP_ComputerIcon));
    collection->setIcon(st->standardIcon(QStyle::SP_ArrowDown));
    refreshAction->setIcon(st->standardIcon(QStyle::SP_BrowserReload));
    log->setIcon(st->standardIcon(QStyle::SP_FileDialogDetailedView));
    settings->setIcon(st->standardIcon(QStyle::SP_FileDialogInfoView));
    about->setIcon(st->standardIcon(QStyle::SP_MessageBoxQuestion));
    QToolBar* bar = addToolBar(text(Text::Title));
    bar->setObjectName(QStringLiteral("Tools"));
    bar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    bar->setMovable(false);
    for (QAction* a : {terminals, collection, refreshAction, log, settings, about})
        bar->addAction(a);

    // The centre: the site's status over the meals chart.
    auto* centre = new QSplitter(Qt::Vertical, this);
    auto* upper = new QWidget(centre);
    auto* layout = new QVBoxLayout(upper);
    auto* head = new QHBoxLayout;
    summary_ = new QLabel(upper);
    summary_->setObjectName(QStringLiteral("Summary"));
    // Place names, terminal names and reasons come from the register and the terminals: a
    // label shows them as they are written, never as markup.
    summary_->setTextFormat(Qt::PlainText);
    QFont bold = summary_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.2);
    summary_->setFont(bold);
    head->addWidget(summary_);
    head->addStretch();
    for (const char* name : {"Collect", "SetClock", "DownloadNames", "LineTest", "Refresh"}) {
        QAction* a = findChild<QAction*>(QString::fromLatin1(name));
        auto* button = new QPushButton(a->text(), upper);
        button->setObjectName(QStringLiteral("Button") + a->objectName());
        connect(button, &QPushButton::clicked, a, &QAction::trigger);
        connect(a, &QAction::enabledChanged, button, &QWidget::setEnabled);
        head->addWidget(button);
    }
    layout->addLayout(head);
    clockNote_ = new QLabel(text(Text::ClockNotSet), upper);
    clockNote_->setObjectName(QStringLiteral("ClockNote"));
    clockNote_->setWordWrap(true);
    clockNote_->setStyleSheet(QStringLiteral("color: #9a6700"));
    clockNote_->hide();
    layout->addWidget(clockNote_);
    model_ = new StatusTable(this);
    table_ = new QTableView(upper);
    table_->setObjectName(QStringLiteral("SiteStatus"));
    table_->setModel(model_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    // Columns are fitted to the rows in view and at most 50 others, not to all 255.
    table_->horizontalHeader()->setResizeContentsPrecision(50);
    table_->setIconSize(QSize(16, 16));
    layout->addWidget(table_, 1);
    // A register without terminals shows, where the table would be, how to begin.
    empty_ = new QWidget(upper);
    empty_->setObjectName(QStringLiteral("EmptyRegister"));
    auto* emptyLayout = new QVBoxLayout(empty_);
    auto* hint = new QLabel(text(Text::EmptyRegister), empty_);
    hint->setObjectName(QStringLiteral("EmptyRegisterHint"));
    hint->setTextFormat(Qt::PlainText);
    hint->setWordWrap(true);
    hint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* add = new QPushButton(terminals->icon(), terminals->text(), empty_);
    add->setObjectName(QStringLiteral("ButtonAddTerminals"));
    connect(add, &QPushButton::clicked, terminals, &QAction::trigger);
    emptyLayout->addWidget(hint);
    emptyLayout->addWidget(add, 0, Qt::AlignLeft);
    emptyLayout->addStretch();
    empty_->hide();
    layout->addWidget(empty_, 1);
    note_ = new QLabel(upper);
    note_->setObjectName(QStringLiteral("Note"));
    note_->setTextFormat(Qt::PlainText);
    layout->addWidget(note_);
    meals_ = new MealChart(centre);
    centre->addWidget(upper);
    centre->addWidget(meals_);
    centre->setStretchFactor(0, 3);
    centre->setStretchFactor(1, 2);
    setCentralWidget(centre);

    userLabel_ = new QLabel(this);
    userLabel_->setObjectName(QStringLiteral("OperatorName"));
    userLabel_->setTextFormat(Qt::PlainText);
    statusBar()->addPermanentWidget(userLabel_);
    resize(1180, 760);
    showSummary();
    userLabel_->setText(text(Text::Operator).arg(options_.user));
    applyRights();
    showClockNote();
}

void ConsoleWindow::applyRights() {
    rights_ = site::operatorRights(options_.user, options_.caption);
    const struct {
        const char* action;
        site::Action right;
    } needs[] = {{"Collect", site::Action::Collect},     {"SetClock", site::Action::Clock},
                 {"DownloadNames", site::Action::Names}, {"LineTest", site::Action::LineTest},
                 {"Cards", site::Action::Cards},         {"Employees", site::Action::Cards},
                 {"AssignHere", site::Action::Assign},   {"AssignNone", site::Action::Assign},
                 {"Operators", site::Action::Administer}};
    for (const auto& need : needs)
        if (QAction* a = findChild<QAction*>(QString::fromLatin1(need.action)))
            a->setEnabled(rights_(need.right));
}

void ConsoleWindow::showClockNote() {
    clockNote_->setVisible(!computerClock().synchronised);
}

QString ConsoleWindow::summary() const {
    if (!empty_->isHidden())
        return text(Text::NoTerminals);
    const int n = model_->needingHand();
    return n > 0 ? text(Text::NeedHand).arg(n) : text(Text::AllWell);
}

void ConsoleWindow::showSummary() {
    if (busy() && refreshes_ == 0) {
        summary_->setText(text(Text::Refreshing));
        return;
    }
    // Figures of an earlier reading say when they were read.
    const bool old = model_->old();
    summary_->setText(old && !refreshedAt_.isEmpty()
                          ? summary() + text(Text::AsOf).arg(refreshedAt_)
                          : summary());
    summary_->setStyleSheet(old                         ? QStringLiteral("color: #6b7280")
                            : model_->needingHand() > 0 ? QStringLiteral("color: #b42318")
                                                        : QStringLiteral("color: #1a7f37"));
    statusBar()->showMessage(old                      ? note_->text()
                             : refreshedAt_.isEmpty() ? QString()
                                                      : text(Text::RefreshedAt).arg(refreshedAt_));
}

bool ConsoleWindow::startJob(const std::function<void(site::JobRelay&)>& work,
                             const std::function<void()>& done) {
    if (busy())
        return false;
    if (relay_)
        relay_->leave();
    relay_ = std::make_shared<site::JobRelay>(this);
    done_ = done;
    auto relay = relay_;
    watcher_->setFuture(QtConcurrent::run([relay, work] { work(*relay); }));
    return true;
}

void ConsoleWindow::finishJob() {
    const std::function<void()> done = std::move(done_);
    done_ = nullptr;
    const int before = refreshes_;
    if (done)
        done();
    showSummary();
    if (refreshes_ > before && whenRead_)
        std::exchange(whenRead_, nullptr)();
    if (refreshDue_ && !busy()) {
        refreshDue_ = false;
        refresh();
    }
}

bool ConsoleWindow::refresh(const QList<int>& terminals, bool lineTest) {
    // What the job reads; only these finished values reach the window.
    struct Reading {
        QList<StatusRow> rows;
        ReadFault statusFault;
        MealDays meals;
        ReadFault mealsFault;
    };
    auto reading = std::make_shared<Reading>();
    site::StatusRequest request;
    request.connection = connectionString();
    request.terminals = terminals;
    request.lineTest = lineTest;
    request.withOthers = true; // other workstations' terminals, from what they wrote
    if (lineTest)
        request.rights = rights_;
    const bool whole = terminals.isEmpty();
    auto work = [this, request, reading, whole](site::JobRelay& relay) {
        // The meals of the chart are read meanwhile, on a connection of their own thread; when
        // no thread is free, waiting for them runs them here.
        QFuture<void> meals;
        if (whole)
            meals = QtConcurrent::run([&request, &reading] {
                reading->mealsFault = attempt([&] {
                    store::SqlConnection cn(request.connection);
                    reading->meals = readMealDays(cn, QDate::currentDate());
                });
            });
        // Each row's words are made here, as its terminal is read.
        reading->statusFault = attempt([&] {
            const QList<site::TerminalStatus> all = site::readStatus(
                request,
                [this, &relay](const site::TerminalStatus& s) {
                    // A line test refused to the operator read nothing: the row stays.
                    if (s.fault.kind != site::Failure::NotAllowed)
                        relay.post([this, row = statusRow(s)] { model_->update(row); });
                },
                &relay.cancel);
            for (const site::TerminalStatus& s : all)
                reading->rows << statusRow(s);
        });
        meals.waitForFinished();
    };
    auto done = [this, reading, whole, lineTest] {
        if (!reading->statusFault.failed())
            notifyHands(reading->rows);
        if (reading->statusFault.failed()) {
            // The rows shown stay, greyed and marked with the time they were read.
            model_->setOld(true);
            note_->setText(text(Text::StatusUnreadable).arg(reasonText(reading->statusFault)));
        } else if (whole) {
            const bool sameRows = model_->rowCount() == reading->rows.size();
            model_->reset(reading->rows);
            model_->setOld(false);
            table_->setVisible(!reading->rows.isEmpty());
            empty_->setVisible(reading->rows.isEmpty());
            // An empty register is read every few seconds: the terminal the operator adds in
            // the terminal window shows as soon as it is saved.
            timer_->setInterval(reading->rows.isEmpty()
                                    ? EmptyRegisterPollMs
                                    : std::max(1, options_.refreshSeconds) * 1000);
            fitColumns(!sameRows);
            note_->clear();
            refreshedAt_ = QTime::currentTime().toString(QStringLiteral("HH:mm:ss"));
        } else {
            // A line test shows its rows in the note; after an action the note keeps the
            // action's results and only the rows change.
            QStringList lines;
            int answered = 0, asked = 0;
            QList<StatusRow> tested;
            for (const StatusRow& r : std::as_const(reading->rows)) {
                if (r.status.fault.kind == site::Failure::NotAllowed)
                    continue;
                model_->update(r);
                lines << r.note;
                answered += r.status.answers ? 1 : 0;
                ++asked;
                tested << r;
            }
            fitColumns(false);
            if (lineTest) {
                const QString result =
                    asked == 0 && !reading->rows.isEmpty()
                        ? text(Text::LineTestRefused)
                        : text(Text::LineTestDone).arg(answered).arg(asked - answered);
                lines << silentLines(tested);
                note_->setText(result + QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
                statusBar()->showMessage(result);
            }
        }
        if (whole) {
            showClockNote();
            ++refreshes_;
            if (reading->mealsFault.failed() ||
                !meals_->showDays(reading->meals, QDateTime::currentDateTime()))
                meals_->showUnread(reasonText(reading->mealsFault.failed()
                                                  ? reading->mealsFault
                                                  : ReadFault{ReadFault::Kind::Other, {}}));
        }
    };
    if (!startJob(work, done)) {
        // The whole site is read again as soon as the job under way ends.
        refreshDue_ = refreshDue_ || whole;
        return false;
    }
    if (whole)
        statusBar()->showMessage(text(Text::Refreshing));
    showSummary();
    return true;
}

void ConsoleWindow::fitColumns(bool rowsChanged) {
    // The columns are fitted when the rows come or go, or when a column's longest text changes
    // (a first collection, a longer reason): fitting 255 rows on every reading stalls the window.
    QList<qsizetype> longest(model_->columnCount(), 0);
    for (int r = 0; r < model_->rowCount(); ++r)
        for (int c = 0; c < longest.size(); ++c)
            longest[c] = std::max(longest[c], model_->index(r, c).data().toString().size());
    if (!rowsChanged && longest == fitted_)
        return;
    table_->resizeColumnsToContents();
    fitted_ = longest;
}

void ConsoleWindow::notifyHands(const QList<StatusRow>& rows) {
    QList<site::TerminalStatus> read;
    for (const StatusRow& r : rows)
        read << r.status;
    const QList<int> newly = newlyNeedingHand(needing_, read);
    if (newly.isEmpty() || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    read.erase(std::remove_if(read.begin(), read.end(),
                              [&](const auto& s) { return !newly.contains(s.terminal); }),
               read.end());
    if (!tray_) {
        tray_ = new QSystemTrayIcon(windowIcon().isNull()
                                        ? style()->standardIcon(QStyle::SP_MessageBoxWarning)
                                        : windowIcon(),
                                    this);
        tray_->setToolTip(text(Text::Title));
        tray_->show();
    }
    tray_->showMessage(text(Text::TrayHand), handNotice(read), QSystemTrayIcon::Warning);
}

QList<int> ConsoleWindow::selectedTerminals() const {
    QList<int> out;
    for (const QModelIndex& row : table_->selectionModel()->selectedRows())
        out << model_->data(row, Qt::UserRole).toInt();
    std::sort(out.begin(), out.end());
    return out;
}

void ConsoleWindow::selectTerminals(const QList<int>& terminals) {
    table_->clearSelection();
    for (int r = 0; r < model_->rowCount(); ++r)
        if (terminals.contains(model_->all()[r].terminal))
            table_->selectionModel()->select(model_->index(r, 0), QItemSelectionModel::Select |
                                                                      QItemSelectionModel::Rows);
}

bool ConsoleWindow::collectSelected() {
    const QList<int> terminals = selectedTerminals();
    if (terminals.isEmpty()) {
        note_->setText(text(Text::NoTerminal));
        return false;
    }
    showComponent(progid::DataCollection, options_.user, messages::text(1119), messages::text(1118),
                  this);
    // The window ShowA opened last gets the terminals chosen here.
    collect::CollectWindow* newest = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = dynamic_cast<collect::CollectWindow*>(w); c && c->isVisible())
            newest = c;
    if (newest)
        newest->selectTerminals(terminals);
    followCollection();
    return newest != nullptr;
}

void ConsoleWindow::followCollection() {
    collect::CollectWindow* newest = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = dynamic_cast<collect::CollectWindow*>(w); c && c->isVisible())
            newest = c;
    // The chart and today's count show what a collection stored as soon as it ends.
    if (newest)
        newest->setWhenFinished([console = QPointer<ConsoleWindow>(this)] {
            if (console)
                console->refresh();
        });
}

bool ConsoleWindow::runOnSelected(site::Step step) {
    const QList<int> terminals = selectedTerminals();
    if (terminals.isEmpty()) {
        note_->setText(text(Text::NoTerminal));
        return false;
    }
    return runOn(terminals, step, false);
}

bool ConsoleWindow::runOn(const QList<int>& terminals, site::Step step, bool forceClock) {
    const QString action = text(step == site::Step::Clock ? Text::SetClock : Text::DownloadNames);
    // Through the site layer's door with this operator's rights: a refused step sends nothing
    // and is shown as refused; each step is in the operation log.
    site::Request request;
    request.connection = connectionString();
    request.terminals = terminals;
    request.steps = {step};
    request.force = true; // the operator chose these terminals' lists
    request.forceClock = forceClock;
    request.user = options_.user;
    request.rights = site::operatorRights(options_.user, options_.caption);
    request.stepWords = [](const site::StepResult& r) { return site::stepText(r); };
    auto results = std::make_shared<QList<site::StepResult>>();
    auto summary = std::make_shared<site::RunSummary>();
    auto work = [request, results, summary](site::JobRelay& relay) {
        *summary = site::runSite(
            request, [results](const site::StepResult& r) { *results << r; }, &relay.cancel);
    };
    auto done = [this, action, results, summary, terminals] {
        QStringList lines;
        if (!summary->databaseOpened)
            lines << text(Text::NoDatabase);
        for (const site::StepResult& r : std::as_const(*results))
            lines << text(Text::Terminal).arg(r.terminal) + QStringLiteral("：") +
                         site::shownStepText(r);
        // A step refused for want of a right sent nothing: it is told as refused, never as
        // failed.
        const bool refused = summary->notAllowed > 0 && summary->notAllowed == results->size();
        note_->setText(
            (refused
                 ? text(Text::ActionRefused).arg(action)
                 : text(Text::ActionDone).arg(action).arg(summary->failed - summary->notAllowed)) +
            QLatin1Char('\n') + lines.join(QLatin1Char('\n')));
        // The clock guard kept the computer's time from some terminals: the operator may set
        // them anyway (never to a year the terminals cannot hold).
        QList<int> ask;
        site::StepResult first;
        for (const site::StepResult& r : std::as_const(*results))
            if (r.fault.kind == collect::Failure::ClockRefused &&
                messages::clockRefusalAsks(r.fault.clock)) {
                if (ask.isEmpty())
                    first = r;
                ask << r.terminal;
            }
        // What the step changed shows in the rows at once.
        if (ask.isEmpty()) {
            QTimer::singleShot(0, this, [this, terminals] { refresh(terminals); });
            return;
        }
        QStringList numbers;
        for (int n : std::as_const(ask))
            numbers << QString::number(n);
        ClockVerdict verdict;
        verdict.refusal = first.fault.clock;
        verdict.changeS = first.fault.clockChangeS;
        const QString question =
            messages::clockRefusalText(verdict, numbers.join(QStringLiteral("、")), uiLanguage());
        QTimer::singleShot(0, this, [this, ask, question, terminals] {
            if (MsgBox(question, mb::YesNo | mb::Question | mb::DefaultButton2,
                       messages::text(101)) != mb::Yes ||
                !runOn(ask, site::Step::Clock, true))
                refresh(terminals);
        });
    };
    if (!startJob(work, done))
        return false;
    note_->setText(text(Text::ActionRunning).arg(action));
    return true;
}

bool ConsoleWindow::lineTestSelected() {
    if (!rights_(site::Action::LineTest)) {
        note_->setText(text(Text::LineTestRefused));
        return false;
    }
    const QList<int> terminals = selectedTerminals();
    if (terminals.isEmpty()) {
        note_->setText(text(Text::NoTerminal));
        return false;
    }
    if (!refresh(terminals, true))
        return false;
    note_->setText(text(Text::ActionRunning).arg(text(Text::LineTest)));
    return true;
}

bool ConsoleWindow::assignSelected(bool here) {
    const QList<int> terminals = selectedTerminals();
    if (terminals.isEmpty()) {
        note_->setText(text(Text::NoTerminal));
        return false;
    }
    const QString station = here ? workstation() : QString();
    const QString connection = connectionString();
    // A change of the register: the operator's right to modify it, and an entry in the log.
    const site::Rights rights = site::operatorRights(options_.user, options_.caption);
    const QString user = options_.user;
    auto error = std::make_shared<QString>();
    auto work = [connection, terminals, station, error, rights, user](site::JobRelay&) {
        try {
            store::SqlConnection cn(connection);
            if (!site::assignTerminals(cn, terminals, station, user, rights))
                *error = collect::text(collect::Text::Refused);
        } catch (const Error& e) {
            *error = e.description().isEmpty() ? QStringLiteral("?") : e.description();
        }
    };
    auto done = [this, terminals, station, error] {
        QStringList numbers;
        for (int n : terminals)
            numbers << QString::number(n);
        const QString list = numbers.join(QStringLiteral("、"));
        note_->setText(!error->isEmpty()    ? text(Text::AssignFailed).arg(error->simplified())
                       : !station.isEmpty() ? text(Text::AssignedHere).arg(list, station)
                                            : text(Text::AssignedNone).arg(list));
        // Only the rows of the terminals given change; the note keeps what the change did.
        if (error->isEmpty())
            QTimer::singleShot(0, this, [this, terminals] { refresh(terminals); });
    };
    return startJob(work, done);
}

void ConsoleWindow::openTerminalManagement() {
    showComponent(progid::Component, options_.user, QStringLiteral("Brackwater"), options_.caption,
                  this);
}

void ConsoleWindow::openCollection() {
    showComponent(progid::DataCollection, options_.user, messages::text(1119), messages::text(1118),
                  this);
    followCollection();
}

QWidget* ConsoleWindow::openLog() {
    auto* viewer = new LogViewer(this);
    viewer->setAttribute(Qt::WA_DeleteOnClose);
    viewer->show();
    return viewer;
}

QWidget* ConsoleWindow::openMonthReport() {
    const Settings settings =
        options_.settingsFile.isEmpty() ? readSettings() : readSettings(options_.settingsFile);
    auto* window = new ReportWindow(selectedTerminals(), mealWindows(settings), this);
    window->setSiteName(siteName(settings));
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

void ConsoleWindow::openSettings() {
    SettingsDialog dialog(options_.settingsFile, this);
    dialog.showInForce({connectionString(), options_.embeddedDb, options_.simulator});
    // The database and the devices are the site's: an administrator's to change.
    dialog.setReadOnly(
        !site::operatorRights(options_.user, options_.caption)(site::Action::Administer));
    if (dialog.exec() != QDialog::Accepted)
        return;
    statusBar()->showMessage(dialog.keptNote());
    // The next reading uses the devices, ports and clock choices now in force.
    showClockNote();
    refresh();
}

void ConsoleWindow::openAbout() {
    QMessageBox box(QMessageBox::Information, text(Text::About),
                    aboutText(connectionString(), options_.settingsFile), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("AboutBox"));
    box.setTextFormat(Qt::PlainText); // the connection and the file's path are not markup
    box.exec();
}

QWidget* ConsoleWindow::openOperators() {
    // The right is asked again: the menu's state may be older than a change of the grants.
    if (!site::operatorRights(options_.user, options_.caption)(site::Action::Administer)) {
        operatorsAction_->setEnabled(false);
        return nullptr;
    }
    if (!operators_) {
        auto* window = new OperatorsWindow(options_.user, options_.caption, this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        operators_ = window;
    }
    operators_->show();
    operators_->raise();
    return operators_;
}

QWidget* ConsoleWindow::openCards() {
    // The right is asked again: the menu's state may be older than a change of the grants.
    if (!site::operatorRights(options_.user, options_.caption)(site::Action::Cards)) {
        cardsAction_->setEnabled(false);
        return nullptr;
    }
    const QList<int> terminals = selectedTerminals();
    if (terminals.isEmpty()) {
        note_->setText(text(Text::NoTerminal));
        return nullptr;
    }
    auto* window = new CardsWindow(options_.user, terminals.first(), this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // A change puts the terminal's list out of step: its row is read again at once.
    window->changed = [this](int terminal) {
        QTimer::singleShot(0, this, [this, terminal] { refresh({terminal}); });
    };
    window->download = [this](int terminal) { runOn({terminal}, site::Step::Names, false); };
    window->show();
    return window;
}

QWidget* ConsoleWindow::openEmployees() {
    if (!site::operatorRights(options_.user, options_.caption)(site::Action::Cards)) {
        employeesAction_->setEnabled(false);
        return nullptr;
    }
    auto* window = new EmployeesWindow(options_.user, this);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // A change of the register puts lists out of step: every terminal is read again.
    window->changed = [this] { QTimer::singleShot(0, this, [this] { refresh(); }); };
    window->show();
    return window;
}

void ConsoleWindow::switchOperator() {
    askSignIn(false);
}

void ConsoleWindow::askSignIn(bool lock) {
    if (signIn_) {
        signIn_->raise();
        return;
    }
    // The lock's sign-in has no parent: every window of the program is hidden under it.
    auto* dialog = new SignInDialog(connectionString(), options_.user, lock ? nullptr : this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setSettingsFile(options_.settingsFile);
    dialog->setLocked(lock);
    signIn_ = dialog;
    connect(dialog, &QDialog::finished, this, [this, dialog, lock](int result) {
        signIn_.clear();
        const QString name = dialog->signedIn();
        if (lock) {
            // Without a sign-in the locked program ends: its windows are never shown again
            // to whoever sits at it.
            if (result != QDialog::Accepted) {
                close();
                return;
            }
            unlock();
        }
        if (result == QDialog::Accepted && name != options_.user)
            setOperator(name);
    });
    dialog->open();
}

void ConsoleWindow::setOperator(const QString& name) {
    options_.user = name;
    // On a server the next use of the host's connection opens the new operator's session.
    closeSharedConnection();
    userLabel_->setText(text(Text::Operator).arg(name));
    applyRights();
    if (operators_)
        operators_->close();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("Cards") && w->isVisible())
            w->close();
    // The terminal window checks the operator's rights as it opens: it opens again, for the
    // new operator, as ShowA opens it. The collection windows act for the one who opened them.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("DataCollection") && w->isVisible())
            w->close();
    if (QWidget* machine = shownWindow(QStringLiteral("F_Machine"))) {
        machine->close();
        openTerminalManagement();
    }
}

void ConsoleWindow::setIdleLockMs(int ms) {
    options_.idleLockMs = std::max(0, ms);
    lastInput_.start();
    if (options_.idleLockMs > 0)
        idle_->start(options_.idleLockMs);
    else
        idle_->stop();
}

void ConsoleWindow::checkIdle() {
    if (options_.idleLockMs <= 0 || locked_)
        return;
    const qint64 left = options_.idleLockMs - lastInput_.elapsed();
    if (left > 0)
        idle_->start(int(left));
    else
        lock();
}

bool ConsoleWindow::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::MouseButtonPress:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::TouchBegin:
        lastInput_.restart();
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void ConsoleWindow::lock() {
    if (locked_)
        return;
    locked_ = true;
    idle_->stop();
    // A switch of operator that was under way gives way to the lock's sign-in.
    if (signIn_) {
        QDialog* pending = signIn_;
        signIn_.clear();
        pending->reject();
    }
    hidden_.clear();
    // Menus and tips that were open go for good; windows and dialogs come back on unlocking.
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible()) {
            if (w->windowType() == Qt::Window || w->windowType() == Qt::Dialog)
                hidden_ << w;
            w->hide();
        }
    askSignIn(true);
}

void ConsoleWindow::unlock() {
    locked_ = false;
    for (const QPointer<QWidget>& w : std::as_const(hidden_))
        if (w)
            w->show();
    hidden_.clear();
    setIdleLockMs(options_.idleLockMs);
}

void ConsoleWindow::closeEvent(QCloseEvent* event) {
    // The console is the program: closing it ends the program, its other windows with it.
    if (relay_)
        relay_->cancel = true;
    event->accept();
    QTimer::singleShot(0, qApp, [] { QApplication::quit(); });
}

bool screenshotStatus(ConsoleWindow& console, const QString& file) {
    console.show();
    if (console.refreshes() == 0) {
        // The event loop sleeps until the reading is shown, or for a minute at the most.
        QEventLoop loop;
        console.whenRead([&loop] { loop.quit(); });
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        loop.exec();
        console.whenRead(nullptr);
    }
    QApplication::processEvents();
    return console.grab().save(file, "PNG");
}

} // namespace bw::host::console

#pragma once

#include "host/site/site_run.h"
#include "host/site/status.h"
#include "host/site/window_job.h"

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

class QDialog;
class QLabel;
class QSystemTrayIcon;
class QTableView;
template <typename T> class QFutureWatcher;
class QTimer;

namespace bw::host::console {

class MealChart;
class StatusTable;
struct StatusRow;

// What the console is opened with.
struct ConsoleOptions {
    QString user = QStringLiteral("admin");
    QString caption;      // the terminal-management window's caption
    QString settingsFile; // the settings dialog's file, where the last operator is kept
    int refreshSeconds = 60;
    int idleLockMs = 0;      // the windows lock after this long without input; 0 never
    QString simulator = {};  // where the simulator this program started listens; empty: none
    QString embeddedDb = {}; // the embedded default database's file
};

// The host program's main window, the site's console: the status of every terminal of the
// register (read in the background, on a timer and on demand), the meals of the last two
// weeks, and from its menu and toolbar the terminal management and data collection windows,
// the operation log, the settings and the help.
class ConsoleWindow : public QMainWindow {
public:
    explicit ConsoleWindow(const ConsoleOptions& options, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    // Starts reading the status of these terminals (every one when empty) as a job of the site
    // layer; false while another reading or action runs. A line test asks for the operator's
    // right of the terminal window's communication test.
    bool refresh(const QList<int>& terminals = {}, bool lineTest = false);
    bool busy() const;
    // Readings of the whole site finished since the window opened.
    int refreshes() const { return refreshes_; }
    // Runs then once, when the next reading of the whole site has been shown; null forgets it.
    void whenRead(std::function<void()> then) { whenRead_ = std::move(then); }
    StatusTable* statusModel() const { return model_; }
    QString summary() const;

    QList<int> selectedTerminals() const;
    void selectTerminals(const QList<int>& terminals);
    // The actions on the selected terminals; false when none is selected or one runs.
    bool collectSelected();
    bool runOnSelected(site::Step step);
    // The step on these terminals; forceClock: the operator's "set anyway" to the clock guard.
    bool runOn(const QList<int>& terminals, site::Step step, bool forceClock);
    bool lineTestSelected();
    // Gives the selected terminals to this workstation (here) or to none, in the register.
    bool assignSelected(bool here);

    void openTerminalManagement();
    void openCollection();
    QWidget* openLog();
    // The month's meals, of every terminal or of those selected.
    QWidget* openMonthReport();
    void openSettings();
    void openAbout();
    // The operators window, for an administrator.
    QWidget* openOperators();
    // The cards window of the (first) selected terminal, for an operator with the right.
    QWidget* openCards();
    // The register of employees, for an operator with the cards right.
    QWidget* openEmployees();

    // The signed-in operator, whose rights every action of the console asks for.
    QString user() const { return options_.user; }
    // Another operator signs in (the sign-in window, not waited for); on success the console
    // and the terminal window act for that operator.
    void switchOperator();
    // Takes name as the signed-in operator: the rights, the status bar, the windows that
    // checked the former operator's rights.
    void setOperator(const QString& name);

    // The idle lock: after ms without keyboard or mouse input in any window of the program, its
    // windows are hidden and the sign-in asks for the operator's password. 0: never.
    void setIdleLockMs(int ms);
    void lock();
    bool locked() const { return locked_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    QAction* makeAction(QMenu* menu, const QString& name, const QString& label,
                        const std::function<void()>& run);
    bool startJob(const std::function<void(site::JobRelay&)>& work,
                  const std::function<void()>& done);
    void finishJob();
    void showSummary();
    // Fits the columns to the rows shown when they changed or a column's texts grew or shrank.
    void fitColumns(bool rowsChanged);
    // A tray notification of the terminals this reading finds newly needing a hand.
    void notifyHands(const QList<StatusRow>& rows);
    // The sign-in, not waited for: a switch of operator, or the lock's.
    void askSignIn(bool lock);
    void unlock();
    void checkIdle();
    // Asks the signed-in operator's rights through the site layer and enables the actions by
    // them, as the terminal window does its tools.
    void applyRights();
    // The line saying that the terminals' clocks are not set while the computer's clock is
    // unsynchronised, and where to choose otherwise; hidden while they are set.
    void showClockNote();

    ConsoleOptions options_;
    StatusTable* model_ = nullptr;
    QTableView* table_ = nullptr;
    QWidget* empty_ = nullptr; // in the table's place while the register holds no terminal
    MealChart* meals_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* note_ = nullptr;
    QLabel* clockNote_ = nullptr;
    site::Rights rights_;
    QTimer* timer_ = nullptr;
    QFutureWatcher<void>* watcher_ = nullptr;
    std::shared_ptr<site::JobRelay> relay_;
    std::function<void()> done_;
    int refreshes_ = 0;
    std::function<void()> whenRead_;
    QList<qsizetype> fitted_; // each column's longest text when the columns were fitted
    bool refreshDue_ = false; // a whole reading asked for while another job ran
    // The collection window opened last: the console reads the site again when it is done.
    void followCollection();
    QString refreshedAt_; // the last reading of the whole site that was read
    QLabel* userLabel_ = nullptr;
    QAction* operatorsAction_ = nullptr;
    QPointer<QWidget> operators_;
    QAction* cardsAction_ = nullptr;
    QAction* employeesAction_ = nullptr;
    QPointer<QDialog> signIn_;
    QTimer* idle_ = nullptr;
    QElapsedTimer lastInput_;
    bool locked_ = false;
    QList<QPointer<QWidget>> hidden_; // the windows the lock hid

    // The terminals that needed a hand at their last reading; the tray icon, made at the first
    // notification.
    QSet<int> needing_;
    QSystemTrayIcon* tray_ = nullptr;
};

// Opens the console, waits for its first reading of the site and writes a PNG of it to file.
bool screenshotStatus(ConsoleWindow& console, const QString& file);

} // namespace bw::host::console

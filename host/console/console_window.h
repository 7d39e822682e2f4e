#pragma once

#include "host/site/site_run.h"
#include "host/site/status.h"

#include <QList>
#include <QMainWindow>
#include <QString>
#include <atomic>
#include <functional>

class QLabel;
class QTableView;
class QThread;
class QTimer;

namespace bw::host::console {

class MealChart;
class StatusTable;

// What the console is opened with.
struct ConsoleOptions {
    QString user = QStringLiteral("admin");
    QString caption;      // the terminal-management window's caption
    QString settingsFile; // the settings dialog's file
    int refreshSeconds = 60;
};

// The host program's main window, the site's console: the status of every terminal of the
// register (read in the background, on a timer and on demand), the meals of the last two
// weeks, and from its menu and toolbar the terminal management and data collection windows,
// the operation log, the settings and the help.
class ConsoleWindow : public QMainWindow {
public:
    explicit ConsoleWindow(const ConsoleOptions& options, QWidget* parent = nullptr);
    ~ConsoleWindow() override;

    // Starts reading the status of these terminals (every one when empty) on a worker thread;
    // false while another reading or action runs.
    bool refresh(const QList<int>& terminals = {});
    bool busy() const { return worker_ != nullptr; }
    // Readings of the whole site finished since the window opened.
    int refreshes() const { return refreshes_; }
    StatusTable* statusModel() const { return model_; }
    QString summary() const;

    QList<int> selectedTerminals() const;
    void selectTerminals(const QList<int>& terminals);
    // The actions on the selected terminals; false when none is selected or one runs.
    bool collectSelected();
    bool runOnSelected(site::Step step);
    bool lineTestSelected();

    void openTerminalManagement();
    void openCollection();
    QWidget* openLog();
    void openSettings();
    void openAbout();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void build();
    QAction* makeAction(QMenu* menu, const QString& name, const QString& label,
                        const std::function<void()>& run);
    bool startJob(const std::function<void()>& work, const std::function<void()>& done);
    void finishJob();
    void showSummary();

    ConsoleOptions options_;
    StatusTable* model_ = nullptr;
    QTableView* table_ = nullptr;
    MealChart* meals_ = nullptr;
    QLabel* summary_ = nullptr;
    QLabel* note_ = nullptr;
    QTimer* timer_ = nullptr;
    QThread* worker_ = nullptr;
    std::function<void()> done_;
    std::atomic_bool cancel_{false};
    int refreshes_ = 0;
    QString refreshedAt_;
};

// Opens the console, waits for its first reading of the site and writes a PNG of it to file.
bool screenshotStatus(ConsoleWindow& console, const QString& file);

} // namespace bw::host::console

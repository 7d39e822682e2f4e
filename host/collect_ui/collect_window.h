#pragma once

#include "host/collect/collect_run.h"
#include "host/collect/record_export.h"
#include "host/site/site_run.h"
#include "platform/interfaces.h"

#include <QDate>
#include <QList>
#include <QWidget>
#include <atomic>
#include <functional>
#include <memory>

class QAbstractItemModel;
class QComboBox;
class QDateEdit;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableView;
class QTableWidget;
template <typename T> class QFutureWatcher;

namespace bw::host::site {
class JobRelay;
}

namespace bw::host::collect {

class RecordTable;

// The data-collection window: the model-6429 terminals of MachineInfo, "collect", "collect and
// clear" and "download name list" with a progress bar and a one-line result per terminal, and the
// collected records of the host database filtered by date and terminal, with CSV export.
// A collection or download is a job of the site layer (Qt Concurrent, watched): closing the
// window cancels it without waiting, and the job reports to the window only while it lives.
class CollectWindow : public QWidget {
public:
    CollectWindow(const QString& user, const QString& title, const QString& caption,
                  const QDate& date, QWidget* parent = nullptr);
    ~CollectWindow() override;

    // Starts collecting the terminals selected in the list; false when nothing is selected,
    // a collection is running, or the user may not do it.
    bool startCollection(bool clear);
    // Starts downloading CardMapping's list to each selected terminal; false as above.
    bool startNameDownload();
    void cancel();
    bool running() const;
    // Results of the last collection or download, in the order of its terminals.
    QList<site::StepResult> results() const { return results_; }
    // Of a collection: each terminal's own outcome.
    QList<Outcome> outcomes() const;

    // Selects the terminals with these numbers in the list.
    void selectTerminals(const QList<int>& addresses);
    // Shows the records of [from, to] (whole days) of one terminal, or all with 0: the first
    // ShownRows of them, read at once, so that the table holds no query open while
    // collections write.
    void showRecords(const QDate& from, const QDate& to, int terminal = 0);
    QAbstractItemModel* recordModel() const;
    static constexpr int ShownRows = 20000;
    // Writes all the records shown to a CSV file (exportRecords); returns the rows written or
    // -1 when the file cannot be written.
    qint64 exportCsv(const QString& path);
    // The name the export offers for its file.
    QString exportName() const { return exportFileName(shown_.from, shown_.to); }

    // Called when a collection or download has ended and its records are shown.
    void setWhenFinished(std::function<void()> call) { whenFinished_ = std::move(call); }

    bool mayCollect() const { return mayCollect_; }
    bool mayClear() const { return mayClear_; }
    bool mayDownloadNames() const { return mayNames_; }

protected:
    friend bool screenshotCollection(const QString& file, const QString& user);
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> whenFinished_;
    QString lastExportProblem_; // why the last export was not written
    void build(const QString& caption, const QDate& date);
    void loadTerminals();
    void checkPermissions(const QString& caption);
    enum class Job { Collect, CollectAndClear, Names };
    bool start(Job job);
    void setBusy(bool busy);
    void onProgress(int terminal, qint64 done, qint64 total);
    void onDone(const site::StepResult& result);
    void onFinished();
    void refresh();
    void exportClicked();

    QString user_;
    QString caption_;
    site::Rights rights_;
    bool mayCollect_ = false;
    bool mayClear_ = false;
    bool mayNames_ = false;
    Job job_ = Job::Collect;
    QList<TerminalEntry> entries_;
    QList<TerminalEntry> running_;
    QList<site::StepResult> results_;
    std::shared_ptr<site::JobRelay> relay_;
    QFutureWatcher<void>* watcher_ = nullptr;

    QLabel* status_ = nullptr;
    QListWidget* terminals_ = nullptr;
    QPushButton* collect_ = nullptr;
    QPushButton* collectClear_ = nullptr;
    QPushButton* downloadNames_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QTableWidget* progress_ = nullptr;
    QList<QProgressBar*> bars_;
    QDateEdit* from_ = nullptr;
    QDateEdit* to_ = nullptr;
    QComboBox* terminalFilter_ = nullptr;
    QTableView* records_ = nullptr;
    RecordTable* model_ = nullptr;
    RecordFilter shown_;
};

// The default data-collection component, "Fenlowe.KQ": ShowA opens the collection window with
// the title and caption it is given, for the user it names.
class DataCollection : public IShowA {
public:
    void ShowA(QVariant& VarUser, QVariant& VarTitle, QVariant& VarCaption,
               QVariant& VarSysDate) override;
};

void registerDataCollection();

// Opens the collection window as the terminal window's button does (title 1119, caption 1118),
// collects every terminal listed (without clearing) and writes a PNG of the window to file.
bool screenshotCollection(const QString& file, const QString& user);

} // namespace bw::host::collect

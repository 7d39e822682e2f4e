#pragma once

#include "platform/interfaces.h"

#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <array>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;
class QTimeEdit;
class QToolBar;
class QTreeWidget;
class QTreeWidgetItem;

namespace bw {

namespace bell {
class BellButtons;
class BellLink;
} // namespace bell
namespace connect {
class RingDownload;
}

// The terminal-management window.
class F_Machine : public QMainWindow {
    Q_OBJECT
public:
    static const QString Caption; // "就餐机管理 (机型：6429) V5.2"

    explicit F_Machine(QWidget* parent = nullptr);
    ~F_Machine() override;

    // Shows the window modeless; the first show of a window runs the load sequence.
    void showWindow();
    bool isLoaded() const { return loaded_; }

    // Renders the window as it stands into a PNG file.
    bool saveScreenshot(const QString& file);

    // ---- controls (object names as designed) ----
    QWidget* ActiveBar21 = nullptr;  // holds the band "toolbar"
    QToolBar* toolbarBand = nullptr; // band "toolbar", caption "工具栏"
    QTreeWidget* LVW_Machine = nullptr;
    QWidget* Fra_Fram1 = nullptr;
    QLineEdit* Txt_Machine = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* Cbo_COM = nullptr;
    QLabel* Label2 = nullptr;
    QComboBox* Cbo_Team = nullptr;
    QLabel* Label5 = nullptr;
    QComboBox* CmbMachType = nullptr;
    QLabel* Label10 = nullptr;
    QComboBox* CmbGroup = nullptr;
    QLabel* Label11 = nullptr;
    QPushButton* Cmd_Test = nullptr;
    QPushButton* Cmd_DateTime = nullptr;
    QPushButton* CmdGatherdata = nullptr;
    QComboBox* Cbo_Ver = nullptr;
    QLabel* Label4 = nullptr;
    QDateEdit* DTP_Date = nullptr;
    QLabel* Label3 = nullptr;
    QTimeEdit* DTP_Time = nullptr;
    QLabel* Label7 = nullptr;
    QCheckBox* Chk_Same = nullptr;
    QLabel* Label8 = nullptr;
    QLineEdit* TxtBellNum = nullptr;
    QLabel* Label6 = nullptr;
    std::array<QLineEdit*, 30> TxtHourArr{};
    std::array<QLineEdit*, 30> TxtMinArr{};
    QLineEdit* TxtHour(int k) const { return TxtHourArr.at(static_cast<size_t>(k)); }
    QLineEdit* TxtMin(int k) const { return TxtMinArr.at(static_cast<size_t>(k)); }
    QLabel* Label9 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text6 = nullptr;
    QPushButton* Cmd_Ring = nullptr;
    QPushButton* Cmd_Ring_Num = nullptr;
    QPushButton* Cmd_Ring_read = nullptr;
    QStatusBar* Sta_Text = nullptr;
    QLabel* Sta_Panel1 = nullptr; // panel 1 of Sta_Text

    // The tool of band "toolbar" with this key (case as designed), or nullptr.
    QAction* tool(const QString& key) const;
    // Status line: panel 1 of Sta_Text.
    void setStatus(const QString& text);
    QString statusText() const;

    // ---- toolbar states and helpers ----
    void SetTools(short state);
    void TxtHour_GotFocus(int index);
    void TxtMin_GotFocus(int index);
    void Txt_Machine_KeyUp(int key, int shift);
    void CmdGatherdata_Click();

    // ---- terminal list and selection ----
    void ListMachine();
    void ListGroup();
    QVariant ViewMachInfo(QString& MachId);
    void LVW_Machine_Click();
    void CmbMachType_Change();
    void CmbMachType_Click();
    void Chk_Same_Click();

    // ---- toolbar commands ----
    void ActiveBar21_ToolClick(const QString& toolName);
    // False, with nothing written, when a terminal is being added under a number that is
    // already stored.
    bool SaveMach();
    void DeleteMach();
    void InitialiseTerminal(); // the "loadrest" command

    // ---- buttons of the bell section and the clock ----
    void Cmd_Test_Click();
    void Cmd_DateTime_Click();
    void Cmd_Ring_read_Click();
    void Cmd_Ring_Num_Click();
    void Cmd_Ring_Click();

    bell::BellButtons& bellButtons() { return *bell_; }
    IDbTools* dbTools() const { return dbTools_.get(); }

    // The list's view: icon view until the first list fill switches it to report view.
    bool lvwReportView() const { return lvwReportView_; }
    // Column widths computed at load (fraction of the list's width), index order.
    const QList<double>& columnWidthsAtLoad() const { return columnWidths_; }
    // Key of list column i (0-based): "Machine", "COM", "MachDesc", "Team", "Ver".
    QString columnKey(int column) const;
    // Tools the permission check at load refused.
    const QStringList& refusedTools() const { return refusedTools_; }
    // Terminal pictures: ImgLst_MachineSmall and ImgLst_MachineBig, image 1 each.
    QIcon ImgLst_MachineSmall;
    QIcon ImgLst_MachineBig;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A terminal row as the edit panel was filled from it: the columns the window writes,
    // each as its text, a NULL kept apart from the empty text.
    struct PanelRow {
        std::vector<std::optional<QString>> values; // MachAddr first; none: filled from no row
        // MachAddr as text; empty when the panel was filled from no row.
        QString key() const {
            return values.empty() ? QString() : values.front().value_or(QString());
        }
    };
    static PanelRow panelRowOf(const Recordset& rs);

    // Closes the list's recordset if it is open and opens it afresh on a query.
    void openSharedRecordset(const QString& sql);
    // Puts the current terminal into the edit panel as a click on it shows it: the number,
    // the port (when withPort), the group into CmbGroup, the place and the usage, each only
    // when it is not empty, but the group and the place of a row just read (rowRead) always.
    void showCurrentTerminal(bool withPort, bool rowRead);
    void buildControls();
    void buildBellSection();
    void Form_Load();
    // Makes a permission target unusable: a button is disabled, a tool of band "toolbar" is
    // made unavailable and remembered, so that no toolbar state gives it back.
    void takeAway(const char* toolKey, QPushButton* button);
    void addColumns();
    void selectWholeText(QLineEdit* box);

    // The bell and clock buttons' handlers over the bell link of the window's serial port.
    void makeBellButtons();
    // Runs one bell or clock button: an error that escapes it is shown, never thrown into
    // Qt; a close asked for while it waited for the terminal is carried out afterwards.
    void runBellButton(void (bell::BellButtons::*handler)());
    // Closes the bell link's port before the connect component or the data-collection
    // component opens a serial port, unless a bell-link exchange is still waiting on it.
    void releaseBellPort();

    bool showingDirectly_ = false; // loading from within the first show event
    bool lvwReportView_ = false;
    QList<double> columnWidths_;
    QLineEdit* mouseFocusBox_ = nullptr; // bell-time box focused by a mouse press

    bool loaded_ = false;
    bool closePending_ = false;         // closed while a bell-link exchange was waiting
    bool adding_ = false;               // the edit began with "new", not "edit"
    PanelRow panelRow_;                 // the row the panel shows, as it was read
    std::shared_ptr<IDbTools> dbTools_; // kept from load to teardown
    RecordsetPtr rs_;                   // the list's query recordset
    ConnectionPtr cn_;                  // the connection used for deletions
    std::unique_ptr<bell::BellButtons> bell_;
    std::unique_ptr<connect::RingDownload> ring_;
    // Tools that the permission check at load refused; no toolbar state gives them back.
    QStringList refusedTools_;
};

} // namespace bw

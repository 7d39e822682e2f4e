#include "messages/catalogue.h"
#include "platform/component_state.h"
#include "platform/convert.h"
#include "platform/port_text.h"
#include "platform/ui.h"
#include "platform_ui/message_box.h"
#include "store/statements.h"
#include "window/f_machine.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTimeEdit>
#include <QTreeWidget>
#include <cmath>

namespace bw {

namespace {

// A value counts as empty when it is null or its text is empty.
bool isEmptyValue(const QVariant& v) {
    return TextOf(v).isEmpty();
}

// Port of a row: the IP address of a TCP/IP terminal, else its serial port number.
QString portOfRow(const Recordset& rs) {
    const QString ip = TextOf(rs.field(QStringLiteral("IP")));
    return isIpAddressText(ip) ? ip : TextOf(rs.field(QStringLiteral("COMX")));
}

// The port field's text for a current port: "COM" + number for a serial port, the
// address itself for a TCP/IP terminal.
QString portFieldText(const QString& comX) {
    return isIpAddressText(comX) ? comX : QStringLiteral("COM") + comX;
}

// Sets a combo's text; an item with exactly that text becomes the selected item. An empty
// text selects nothing and leaves the items as they are.
void setComboText(QComboBox* combo, const QString& text) {
    const int index = combo->findText(text, Qt::MatchExactly);
    if (index >= 0)
        combo->setCurrentIndex(index);
    else if (text.isEmpty())
        combo->setCurrentIndex(-1);
    if (combo->isEditable())
        combo->setEditText(text);
}

// The columns the window writes, in the order of a panel row.
const char* const kPanelColumns[] = {"MachAddr", "ComX",    "IP",      "Team",
                                     "Ver",      "MachVer", "MachDesc"};

Error noCurrentRecord() {
    return Error(3021, QStringLiteral("Either BOF or EOF is True, or the current record has been "
                                      "deleted. Requested operation requires a current record."));
}

} // namespace

F_Machine::PanelRow F_Machine::panelRowOf(const Recordset& rs) {
    PanelRow row;
    for (const char* column : kPanelColumns) {
        const QVariant v = rs.field(QString::fromLatin1(column));
        row.values.push_back(v.isNull() ? std::nullopt : std::optional<QString>(TextOf(v)));
    }
    return row;
}

void F_Machine::openSharedRecordset(const QString& sql) {
    if (!dbTools_)
        throw objectNotSet();
    if (rs_ && rs_->State() == Recordset::adStateOpen)
        rs_->Close();
    rs_ = dbTools_->RecordSetA(sql);
    if (!rs_)
        throw objectNotSet();
}

void F_Machine::showCurrentTerminal(bool withPort, bool rowRead) {
    const ComponentState& s = state();
    if (!isEmptyValue(s.CurrentMachAddr))
        Txt_Machine->setText(TextOf(s.CurrentMachAddr));
    if (withPort)
        setComboText(Cbo_COM, portFieldText(s.CurrentComX));
    // A terminal just read shows its own group, place and usage, empty ones included: an
    // edit and save would otherwise give it what the panel showed before.
    if (rowRead || !isEmptyValue(s.CurrentVer))
        setComboText(CmbGroup, TextOf(s.CurrentVer));
    if (rowRead || !isEmptyValue(s.CurrentTeam))
        setComboText(Cbo_Team, TextOf(s.CurrentTeam));
    if (rowRead || !s.CurrentMachDesc.isEmpty())
        setComboText(CmbMachType, s.CurrentMachDesc);
}

void F_Machine::ListMachine() {
    ComponentState& s = state();
    try {
        openSharedRecordset(store::terminalsOfModel());

        LVW_Machine->clear();
        lvwReportView_ = true;
        LVW_Machine->setHeaderHidden(false);

        // The first row becomes the current terminal, taken exactly as a click on it would
        // take it, so that the panel shows its true port and group.
        const bool haveRow = rs_->RecordCount() > 0 && !rs_->Eof();
        if (haveRow) {
            s.CurrentMachAddr = rs_->field(QStringLiteral("MachAddr"));
            const QString ip = TextOf(rs_->field(QStringLiteral("IP")));
            s.CurrentComX = isIpAddressText(ip) ? ip : CStr(rs_->field(QStringLiteral("COMX")));
            s.CurrentVer = TextOf(rs_->field(QStringLiteral("Ver")));
            s.CurrentTeam = TextOf(rs_->field(QStringLiteral("Team")));
            s.CurrentMachDesc = TextOf(rs_->field(QStringLiteral("MachDesc")));
            panelRow_ = panelRowOf(*rs_);
        } else {
            // The list holds no terminal, so the panel shows none that an edit could find
            // changed: saving its number appends the terminal anew.
            panelRow_ = PanelRow();
        }

        // The panel: the first terminal, or what it showed before when there is none.
        showCurrentTerminal(haveRow || !s.CurrentComX.isEmpty(), haveRow);

        setStatus(messages::text(1070) + TextOf(s.CurrentMachAddr));

        // The items are filled before they join the list and join it together, so the list
        // takes them in one insertion instead of one insertion and six changes per row. Items
        // made before a failure still join it, as the rows listed before it.
        QList<QTreeWidgetItem*> items;
        items.reserve(rs_->RecordCount());
        try {
            while (!rs_->Eof()) {
                auto* item = new QTreeWidgetItem();
                items.append(item);
                item->setText(0, TextOf(rs_->field(QStringLiteral("MachAddr"))));
                item->setIcon(0, ImgLst_MachineSmall);
                item->setData(0, Qt::UserRole, ImgLst_MachineBig); // large icon
                item->setText(1, portOfRow(*rs_));
                item->setText(2, TextOf(rs_->field(QStringLiteral("MachDesc"))));
                item->setText(3, TextOf(rs_->field(QStringLiteral("Team"))));
                item->setText(4, TextOf(rs_->field(QStringLiteral("Ver"))));
                rs_->MoveNext();
            }
        } catch (...) {
            LVW_Machine->addTopLevelItems(items);
            throw;
        }
        LVW_Machine->addTopLevelItems(items);
        // The first row is the current terminal: show it selected.
        if (!items.isEmpty())
            LVW_Machine->setCurrentItem(items.first());

        rs_->Close();
        rs_.reset();
    } catch (const Error& e) {
        setStatus(messages::text(1074) + e.description());
    } catch (const std::exception& e) {
        setStatus(messages::text(1074) + QString::fromLocal8Bit(e.what()));
    }
}

void F_Machine::ListGroup() {
    const ComponentState& s = state();
    try {
        openSharedRecordset(store::groupsOfModel());

        const long count = rs_->RecordCount();
        if (count != 0) {
            CmbGroup->clear();
            for (long i = 0; i < count; ++i) {
                CmbGroup->addItem(CStr(rs_->field(QStringLiteral("Ver"))));
                rs_->MoveNext();
            }
            if (CmbGroup->count() > 0) {
                // The current terminal's group stays shown, an empty one too; without a
                // current terminal the first group is selected.
                if (isEmptyValue(s.CurrentMachAddr))
                    CmbGroup->setCurrentIndex(0);
                else
                    setComboText(CmbGroup, TextOf(s.CurrentVer));
            }
            rs_->Close();
            rs_.reset();
        }
    } catch (const Error& e) {
        setStatus(messages::text(1074) + e.description());
    } catch (const std::exception& e) {
        setStatus(messages::text(1074) + QString::fromLocal8Bit(e.what()));
    }
}

QVariant F_Machine::ViewMachInfo(QString& MachId) {
    ComponentState& s = state();
    if (!dbTools_)
        throw objectNotSet();
    RecordsetPtr rs = dbTools_->RecordSetA(store::terminalByAddress(MachId));
    if (!rs)
        throw objectNotSet();
    if (rs->Eof())
        throw noCurrentRecord();
    s.CurrentMachAddr = rs->field(QStringLiteral("MachAddr"));
    s.CurrentComX = portOfRow(*rs);
    s.CurrentVer = TextOf(rs->field(QStringLiteral("Ver")));
    s.CurrentTeam = TextOf(rs->field(QStringLiteral("Team")));
    s.CurrentMachDesc = TextOf(rs->field(QStringLiteral("MachDesc")));
    panelRow_ = panelRowOf(*rs);
    rs->Close();
    return QVariant();
}

void F_Machine::LVW_Machine_Click() {
    ComponentState& s = state();
    try {
        QTreeWidgetItem* item = LVW_Machine->currentItem();
        if (!item || !item->isSelected())
            throw objectNotSet();
        s.CurrentMachAddr = item->text(0);

        // The integer part of the entry, in decimal.
        QString machId = CStr(std::floor(CDbl(TextOf(s.CurrentMachAddr))));
        ViewMachInfo(machId);

        showCurrentTerminal(true, true);

        const QString port = item->text(1);
        const QString tip =
            (isIpAddressText(port) ? messages::text(1072) : messages::text(1073)) + port;
        LVW_Machine->setToolTip(plainToolTip(tip)); // the port is the register's text
        setStatus(messages::text(1070) + TextOf(s.CurrentMachAddr) + QStringLiteral("  ") + tip);
    } catch (const Error& e) {
        setStatus(messages::text(1074) + e.description());
    } catch (const std::exception& e) {
        setStatus(messages::text(1074) + QString::fromLocal8Bit(e.what()));
    }
}

void F_Machine::CmbMachType_Change() {
    const QString usage = CmbMachType->currentText();
    const bool direction = usage == messages::text(1000) || usage == messages::text(1002);
    Cbo_Ver->setVisible(direction);
    Label4->setVisible(direction);
}

void F_Machine::CmbMachType_Click() {
    CmbMachType_Change();
}

void F_Machine::Chk_Same_Click() {
    const bool same = Chk_Same->checkState() != Qt::Unchecked;
    DTP_Date->setEnabled(!same);
    DTP_Time->setEnabled(!same);
}

} // namespace bw

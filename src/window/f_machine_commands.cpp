// The toolbar commands of the terminal-management window: add, edit, save, cancel,
// delete, close and terminal initialisation, and the bell-time download button.

#include "window/f_machine.h"

#include "connect/connection_choice.h"
#include "messages/catalogue.h"
#include "platform/component_state.h"
#include "platform/convert.h"
#include "platform/error.h"
#include "platform/port_text.h"
#include "platform/timing.h"
#include "platform/ui.h"
#include "store/ctrl_log.h"
#include "store/sql_connection.h"
#include "store/statements.h"
#include "window/ring_download.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>

#include <exception>

namespace bw {

namespace {

using messages::replace;
using messages::text;

// Toolbar states (SetTools).
constexpr short kEditing = 1;
constexpr short kBrowsing = 2;

constexpr int kWaitAfterOpeningMs = 200;
constexpr int kLowestTerminal = 1;
constexpr int kHighestTerminal = 255;
const QString kModel = QStringLiteral("6429");

// A notice: information icon, OK, title "系统提示".
void notice(const QString& message) {
    MsgBox(message, mb::Information, text(100));
}

// The toolbar error box: "number:description", OK only, no icon.
void toolbarErrorBox(int number, const QString& description) {
    MsgBox(QString::number(number) + QStringLiteral(":") + description, mb::OKOnly, QString());
}

// A terminal number that a line can address: a whole number from 1 to 255, written with
// digits only (blanks around it are removed by the caller).
bool isTerminalNumber(const QString& trimmed) {
    if (trimmed.isEmpty() || trimmed.size() > 3)
        return false;
    for (QChar c : trimmed)
        if (c < u'0' || c > u'9')
            return false;
    const int value = trimmed.toInt();
    return value >= kLowestTerminal && value <= kHighestTerminal;
}

IDbTools& toolsOf(const F_Machine& window) {
    IDbTools* tools = window.dbTools();
    if (!tools)
        throw objectNotSet();
    return *tools;
}

IConnect& connectComponent() {
    IConnect* link = state().connect.get();
    if (!link)
        throw objectNotSet();
    return *link;
}

// Closes a port after a failure that is reported anyway; an error of the close itself
// would only hide the first one.
void closeQuietly(IConnect& link) {
    try {
        link.DestoryPort();
    } catch (...) {
    }
}

} // namespace

void F_Machine::ActiveBar21_ToolClick(const QString& toolName) {
    const QString key = toolName.toLower();
    try {
        if (key == QLatin1String("exit")) {
            close();
        } else if (key == QLatin1String("dele")) {
            DeleteMach();
        } else if (key == QLatin1String("new")) {
            adding_ = true;
            Txt_Machine->setText(QString());
            Txt_Machine->setFocus();
            SetTools(kEditing);
        } else if (key == QLatin1String("save")) {
            const QString number = Trim(Txt_Machine->text());
            if (number.isEmpty()) {
                notice(text(1010));
                return;
            }
            // Only a number that a line can address is stored: "abc" would otherwise become
            // terminal 0 and "12.5" terminal 12.5.
            if (!isTerminalNumber(number)) {
                notice(replace(1083, QStringLiteral("\r")));
                return;
            }
            if (!SaveMach()) {
                // Adding must never overwrite a stored terminal.
                notice(replace(1108, QStringLiteral("\r"), number));
                return;
            }
            adding_ = false;
            ListMachine();
            WriteCtrlLog(state().CurrentUser, QDateTime::currentDateTime(), text(1011),
                         replace(1012, number), text(1013));
            SetTools(kBrowsing);
        } else if (key == QLatin1String("edit")) {
            adding_ = false;
            Txt_Machine->setFocus();
            // Home, then Shift+End: the whole text selected, the cursor at its end.
            Txt_Machine->home(false);
            Txt_Machine->end(true);
            SetTools(kEditing);
        } else if (key == QLatin1String("cancel")) {
            adding_ = false;
            SetTools(kBrowsing);
            ListMachine();
        } else if (key == QLatin1String("loadrest")) {
            InitialiseTerminal();
        }
    } catch (const Error& e) {
        toolbarErrorBox(e.number(), e.description());
    } catch (const std::exception& e) {
        toolbarErrorBox(440, QString::fromLocal8Bit(e.what()));
    }
}

bool F_Machine::SaveMach() {
    const double number = Val(Txt_Machine->text());
    const QString key = CStr(number);

    RecordsetPtr rs = toolsOf(*this).RecordSetA(store::terminalByAddress(key));
    if (!rs)
        throw objectNotSet();
    try {
        const bool stored = rs->RecordCount() > 0;
        if (adding_ && stored) {
            rs->Close();
            return false;
        }
        // An edit of the terminal the panel shows writes only while that terminal's row is
        // still as it was when the panel was filled: another workstation may have changed or
        // deleted it since.
        if (!adding_ && !panelRow_.key().isEmpty() && panelRow_.key() == key &&
            (!stored || panelRowOf(*rs).values != panelRow_.values))
            throw store::rowChangedError();
        if (!stored)
            rs->AddNew();

        // A whole number goes in as an integer: a text column then holds "5", not "5.0".
        rs->setField(QStringLiteral("MachAddr"), NumberValue(number));
        const QString port = Cbo_COM->currentText();
        if (!isIpAddressText(port)) {
            rs->setField(QStringLiteral("ComX"), Trim(Mid(port, 4)));
            rs->setField(QStringLiteral("IP"), QStringLiteral("*"));
        } else {
            rs->setField(QStringLiteral("ComX"), QStringLiteral("1"));
            rs->setField(QStringLiteral("IP"), Trim(port));
        }
        rs->setField(QStringLiteral("Team"), Trim(Cbo_Team->currentText()));
        rs->setField(QStringLiteral("Ver"), Trim(CmbGroup->currentText()));
        rs->setField(QStringLiteral("MachVer"), kModel);

        QString purpose = Trim(CmbMachType->currentText());
        if (purpose != text(1000) && purpose != text(1001) && purpose != text(1002))
            purpose = text(1000);
        rs->setField(QStringLiteral("MachDesc"), purpose);

        rs->UpdateBatch(Recordset::adAffectAll);
    } catch (...) {
        if (rs->State() == Recordset::adStateOpen)
            rs->Close();
        throw;
    }
    rs->Close();
    return true;
}

void F_Machine::DeleteMach() {
    const QString address = Trim(TextOf(state().CurrentMachAddr));
    if (address.isEmpty()) {
        // Nothing was deleted, so nothing is logged.
        setStatus(text(1052));
        return;
    }

    cn_ = toolsOf(*this).ActiveCn();
    if (!cn_)
        throw objectNotSet();

    // All or nothing: a failed backup copy must not leave the mappings of a terminal that
    // no longer exists.
    cn_->BeginTrans();
    try {
        cn_->Execute(store::deleteTerminal(address), -1);
        cn_->Execute(store::backupCardMappings(address), -1);
        cn_->Execute(store::deleteCardMappings(address), -1);
        cn_->CommitTrans();
    } catch (...) {
        try {
            cn_->RollbackTrans();
        } catch (...) {
        }
        throw;
    }

    ListMachine();
    setStatus(text(1051) + address + QStringLiteral("!"));
    state().CurrentMachAddr = QString();
    state().CurrentComX.clear();

    WriteCtrlLog(state().CurrentUser, QDateTime::currentDateTime(), text(1053),
                 replace(1054, address), text(1013));
}

void F_Machine::InitialiseTerminal() {
    const QString address = Trim(Txt_Machine->text());
    if (address.isEmpty()) {
        notice(text(1014));
        return;
    }

    const QString question = QStringLiteral("    ") + replace(1015, QStringLiteral("\r\r"));
    // No is the default: Enter alone must not wipe the terminal.
    if (MsgBox(question, mb::YesNo | mb::Information | mb::DefaultButton2, text(101)) != mb::Yes)
        return; // declined: nothing done, nothing logged

    IConnect& link = connectComponent();
    const connect::ConnectionChoice choice = connect::chooseConnection(Cbo_COM->currentText());
    connect::applyChoice(link, choice);

    // The entry written directly through the window's connection: result 1018 "成功" when
    // the name list was cleared, 1020 "失败" when anything stopped the initialisation.
    auto writeEntry = [&](bool cleared) {
        IDbTools& tools = toolsOf(*this);
        const QString when = tools.DateExchangeA(QDateTime::currentDateTime());
        ConnectionPtr cn = tools.ActiveCn();
        if (!cn)
            throw objectNotSet();
        cn->Execute(store::logInitialisationForm(state().CurrentUser, text(1016),
                                                 replace(1017, address),
                                                 text(cleared ? 1018 : 1020), when),
                    -1);
    };

    if (!choice.tcp)
        releaseBellPort();
    short port = choice.port;
    if (!link.SetPort(port)) {
        notice(replace(1022, address));
        writeEntry(false);
        return;
    }

    // From here on the port is open and is closed on every path.
    bool completed = false;
    try {
        Sleep(kWaitAfterOpeningMs);
        QString recordsOf = address;
        if (link.ClearRecord(recordsOf)) {
            QString namesOf = address;
            const bool cleared = link.ClearNameList(namesOf);
            writeEntry(cleared);
            notice(replace(cleared ? 1019 : 1021, address));
            completed = cleared;
        } else {
            writeEntry(false);
            notice(replace(1021, address));
        }
    } catch (...) {
        closeQuietly(link);
        throw;
    }
    link.DestoryPort();

    // The closing entry says "初始化成功", so it is written only when that is true; it names
    // the terminal addressed, which need not be the one last chosen in the list.
    if (completed)
        WriteCtrlLog(state().CurrentUser, QDateTime::currentDateTime(), text(1009),
                     replace(1023, address), text(1013));
}

void F_Machine::Cmd_Ring_Click() {
    if (!ring_) {
        connect::RingControls controls;
        controls.Txt_Machine = Txt_Machine;
        controls.Cbo_COM = Cbo_COM;
        controls.TxtHour = TxtHourArr;
        controls.TxtMin = TxtMinArr;
        controls.setStatus = [this](const QString& t) { setStatus(t); };
        controls.releaseSerialPort = [this] { releaseBellPort(); };
        ring_ = std::make_unique<connect::RingDownload>(std::move(controls));
    }
    ring_->Cmd_Ring_Click();
}

} // namespace bw

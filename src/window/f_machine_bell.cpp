#include "bell/bell_link.h"
#include "bell/serial_port.h"
#include "platform/error.h"
#include "platform/ui.h"
#include "window/bell_buttons.h"
#include "window/f_machine.h"

#include <QComboBox>
#include <QLineEdit>
#include <exception>

namespace bw {

// The bell and clock buttons are handled by the bell link's button handlers.

void F_Machine::makeBellButtons() {
    bell::BellControls bc;
    bc.Txt_Machine = Txt_Machine;
    bc.Cbo_COM = Cbo_COM;
    bc.TxtBellNum = TxtBellNum;
    bc.TxtHour = TxtHourArr;
    bc.TxtMin = TxtMinArr;
    bc.setStatus = [this](const QString& text) { setStatus(text); };
    bell_ = std::make_unique<bell::BellButtons>(std::move(bc),
                                                std::make_unique<bell::BellLink>(bell::makePort()));
}

void F_Machine::runBellButton(void (bell::BellButtons::*handler)()) {
    try {
        (bell_.get()->*handler)();
    } catch (const Error& e) {
        MsgBox(e.boxText(QStringLiteral(":")), mb::OKOnly);
    } catch (const std::exception& e) {
        MsgBox(QStringLiteral("440:") + QString::fromLocal8Bit(e.what()), mb::OKOnly);
    }
    if (closePending_ && !bell_->busy()) {
        closePending_ = false;
        close();
    }
}

void F_Machine::releaseBellPort() {
    if (!bell_ || bell_->busy())
        return;
    try {
        bell_->link().CloseBellPort();
    } catch (const Error&) {
        // A port that will not close is left to the connect component's own report.
    }
}

void F_Machine::Cmd_Test_Click() {
    runBellButton(&bell::BellButtons::Cmd_Test_Click);
}

void F_Machine::Cmd_DateTime_Click() {
    runBellButton(&bell::BellButtons::Cmd_DateTime_Click);
}

void F_Machine::Cmd_Ring_read_Click() {
    runBellButton(&bell::BellButtons::Cmd_Ring_read_Click);
}

void F_Machine::Cmd_Ring_Num_Click() {
    runBellButton(&bell::BellButtons::Cmd_Ring_Num_Click);
}

} // namespace bw

#include "window/bell_buttons.h"

#include "bell/bell_link.h"
#include "bell/line_diagnosis.h"
#include "messages/catalogue.h"
#include "messages/clock_texts.h"
#include "platform/clock_guard.h"
#include "platform/convert.h"
#include "platform/language.h"
#include "platform/port_text.h"
#include "platform/ui.h"

#include <QComboBox>
#include <QDateTime>
#include <QLineEdit>

namespace bw::bell {

namespace {

const QString CarriageReturn = QStringLiteral("\r");

// Holds the buttons off for as long as it lives.
class BusyGuard {
public:
    explicit BusyGuard(bool& flag) : flag_(flag) { flag_ = true; }
    ~BusyGuard() { flag_ = false; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    bool& flag_;
};

void notice(const QString& text) {
    MsgBox(text, mb::Information, messages::text(100));
}

QString text(QLineEdit* box) {
    return box ? box->text() : QString();
}

void setText(QLineEdit* box, const QString& value) {
    if (box)
        box->setText(value);
}

// The port number of a port text "COM" + number: the integer value from its 4th character.
short portNumber(const QString& portText) {
    return CInt(Mid(portText, 4));
}

} // namespace

BellButtons::BellButtons(BellControls controls, std::unique_ptr<BellLink> link)
    : c_(std::move(controls)), link_(link ? std::move(link) : std::make_unique<BellLink>()) {}

BellButtons::~BellButtons() = default;

void BellButtons::setStatus(const QString& value) {
    if (c_.setStatus)
        c_.setStatus(value);
}

QString BellButtons::portText() const {
    return c_.Cbo_COM ? c_.Cbo_COM->currentText() : QString();
}

void BellButtons::unexpectedFailure(const Error& e) {
    MsgBox(e.boxText(QStringLiteral(":")), mb::OKOnly);
}

void BellButtons::exclusive(const std::function<void()>& body,
                            const std::function<void(const Error&)>& onFault) {
    if (busy_)
        return;
    BusyGuard guard(busy_);
    try {
        body();
    } catch (const Error& e) {
        onFault(e);
    }
}

bool BellButtons::serialTerminalChosen(const QString& addr, int emptyStatusId) {
    if (addr.isEmpty()) {
        setStatus(messages::text(emptyStatusId));
        Beep();
        return false;
    }
    if (isIpAddressText(portText())) {
        notice(messages::replace(1035, addr));
        return false;
    }
    return true;
}

bool BellButtons::openPortOrSay(short number) {
    if (link_->OpenBellPort(number))
        return true;
    notice(messages::replace(1049, CarriageReturn, QVariant(static_cast<int>(number))));
    return false;
}

void BellButtons::Cmd_Ring_read_Click() {
    exclusive([&] {
        const QString addr = Trim(text(c_.Txt_Machine));
        if (!serialTerminalChosen(addr, 1039))
            return;
        const QString port = portText();
        setStatus(messages::text(1040));
        setText(c_.TxtBellNum, QStringLiteral("0"));
        for (int i = 0; i < 30; ++i) {
            setText(c_.TxtHour[static_cast<size_t>(i)], QStringLiteral("0"));
            setText(c_.TxtMin[static_cast<size_t>(i)], QStringLiteral("0"));
        }
        try {
            if (!link_->OpenBellPort(portNumber(port))) {
                notice(messages::text(1045));
            } else {
                const QString result = link_->ReadBellSettings(CInt(addr));
                if (result == BellLink::MachineNoError) {
                    notice(messages::replace(1041, addr));
                } else if (result == BellLink::WaitTimeOut) {
                    notice(messages::replace(1042, addr));
                } else if (BellLink::isSettingsText(result)) {
                    notice(messages::replace(1044, addr));
                    setText(c_.TxtBellNum, Mid(result, 1, 2));
                    for (int i = 0; i < 30; ++i) {
                        setText(c_.TxtHour[static_cast<size_t>(i)], Mid(result, 4 * i + 3, 2));
                        setText(c_.TxtMin[static_cast<size_t>(i)], Mid(result, 4 * i + 5, 2));
                    }
                } else {
                    notice(messages::replace(1043, addr));
                }
            }
        } catch (const Error&) {
            try {
                link_->CloseBellPort();
            } catch (const Error&) {
            }
            throw;
        }
        link_->CloseBellPort();
    });
}

void BellButtons::Cmd_Ring_Num_Click() {
    exclusive([&] {
        const short count = CInt(text(c_.TxtBellNum));
        const QString addr = Trim(text(c_.Txt_Machine));
        if (!serialTerminalChosen(addr, 1034))
            return;
        setStatus(messages::text(1036));
        const bool ok = link_->SetBellCount(CInt(addr), count);
        notice(messages::replace(ok ? 1037 : 1038, addr));
        link_->CloseBellPort();
    });
}

void BellButtons::Cmd_DateTime_Click() {
    exclusive([&] {
        const QString addr = Trim(text(c_.Txt_Machine));
        const QString port = portText();
        // A terminal reached by TCP/IP has no serial port to set its clock over.
        if (isIpAddressText(port)) {
            notice(messages::replace(1035, addr));
            return;
        }
        // The terminal's own clock cannot be read over this link: the guard judges the
        // computer's clock alone.
        ClockVerdict verdict = clockToSend(std::nullopt, false);
        if (!clockPushConfirmed(verdict, addr))
            return;
        const short number = portNumber(port);
        if (!openPortOrSay(number))
            return;
        const bool ok = link_->SetMachDateTime(CInt(addr), verdict.send);
        if (ok)
            notice(messages::replace(1047, addr));
        else
            notice(messages::replace(1048, CarriageReturn));
    });
}

bool BellButtons::clockPushConfirmed(ClockVerdict& verdict, const QString& addr) {
    if (verdict.allowed())
        return true;
    const QString words = messages::clockRefusalText(verdict, addr, uiLanguage());
    if (!messages::clockRefusalAsks(verdict.refusal)) {
        notice(words);
        return false;
    }
    if (MsgBox(words, mb::YesNo | mb::Question | mb::DefaultButton2, messages::text(100)) !=
        mb::Yes)
        return false;
    // The time is taken again: the question may have stood open a while.
    verdict = clockToSend(std::nullopt, true);
    if (verdict.allowed())
        return true;
    notice(messages::clockRefusalText(verdict, addr, uiLanguage()));
    return false;
}

// The line of a terminal that did not answer: what it is and what is likely wrong, on the
// status line. Only the device tree is read: nothing more goes on the line than the test
// sent (a driver that refuses mark or space parity has failed the test's own settings).
void BellButtons::sayWhatTheLineIs(short number) {
    const diag::Report report = diag::diagnose(devicePath(number), diag::SysfsTree(), nullptr);
    setStatus(diag::operatorText(report, uiLanguage()));
}

void BellButtons::Cmd_Test_Click() {
    exclusive(
        [&] {
            const QString addr = Trim(text(c_.Txt_Machine));
            const QString port = portText();
            const bool ip = isIpAddressText(port);
            const short number = ip ? short(0) : portNumber(port);
            if (addr.isEmpty()) {
                notice(messages::replace(1046, CarriageReturn));
                return;
            }
            // A terminal reached by TCP/IP cannot be tested over the serial port.
            if (ip) {
                notice(messages::replace(1035, addr));
                return;
            }
            if (!openPortOrSay(number))
                return;
            const bool ok = link_->TestBellLink(CInt(addr));
            if (ok) {
                notice(messages::replace(1047, addr));
                return;
            }
            notice(messages::replace(1048, CarriageReturn));
            sayWhatTheLineIs(number);
        },
        [](const Error&) { notice(messages::replace(1050, CarriageReturn)); });
}

} // namespace bw::bell

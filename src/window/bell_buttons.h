#pragma once

#include <QString>
#include <array>
#include <functional>
#include <memory>

class QComboBox;
class QLineEdit;

namespace bw {
class Error;
struct ClockVerdict;
} // namespace bw

namespace bw::bell {

class BellLink;

// The window's controls that the bell and clock buttons read and write.
struct BellControls {
    QLineEdit* Txt_Machine = nullptr;
    QComboBox* Cbo_COM = nullptr;
    QLineEdit* TxtBellNum = nullptr;
    std::array<QLineEdit*, 30> TxtHour{};
    std::array<QLineEdit*, 30> TxtMin{};
    std::function<void(const QString&)> setStatus; // panel 1 of the status bar
};

// Click handlers of Cmd_Ring_read, Cmd_Ring_Num, Cmd_DateTime and Cmd_Test over the
// window's one serial port (the bell link). A null link makes one on makePort().
// Cmd_Test and Cmd_DateTime open the port numbered in the port text as Cmd_Ring_read does,
// and refuse a TCP/IP terminal (port text of 7 or more characters) with message 1035.
// Cmd_DateTime sends the computer's clock only as the clock guard allows (platform/clock_guard.h).
// A press while another exchange waits is ignored.
class BellButtons {
public:
    BellButtons(BellControls controls, std::unique_ptr<BellLink> link);
    ~BellButtons();

    void Cmd_Ring_read_Click();
    void Cmd_Ring_Num_Click();
    void Cmd_DateTime_Click();
    void Cmd_Test_Click();

    BellLink& link() { return *link_; }
    bool busy() const { return busy_; }

private:
    // Runs one button's work while no other exchange waits (a press meanwhile is ignored);
    // a fault ends it in onFault (by default the "number:description" box).
    void exclusive(const std::function<void()>& body,
                   const std::function<void(const Error&)>& onFault = unexpectedFailure);
    static void unexpectedFailure(const Error& e);
    void setStatus(const QString& text);
    QString portText() const;
    // The read and set-count buttons need a terminal on a serial port: with no address the
    // status line says so (emptyStatusId) with a beep; an IP terminal is told 1035.
    bool serialTerminalChosen(const QString& addr, int emptyStatusId);
    // Opens the port for the test and date-time buttons; on failure shows 1049 with the number.
    bool openPortOrSay(short number);
    // After a test without an answer: what the line is and what is likely wrong with it.
    void sayWhatTheLineIs(short number);
    // A refused clock push: for a refusal the operator may override, asks "set anyway?" and
    // on Yes judges the computer's clock again, forced; otherwise says why. True when the
    // push (verdict.send) may go.
    bool clockPushConfirmed(ClockVerdict& verdict, const QString& addr);

    BellControls c_;
    std::unique_ptr<BellLink> link_;
    bool busy_ = false; // an exchange is waiting: further presses are ignored
};

} // namespace bw::bell

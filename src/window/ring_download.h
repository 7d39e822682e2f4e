#pragma once

#include <QString>
#include <array>
#include <functional>

class QComboBox;
class QLineEdit;

namespace bw::connect {

// The window's controls that the bell-time download reads and writes.
struct RingControls {
    QLineEdit* Txt_Machine = nullptr;
    QComboBox* Cbo_COM = nullptr;
    std::array<QLineEdit*, 30> TxtHour{};
    std::array<QLineEdit*, 30> TxtMin{};
    std::function<void(const QString&)> setStatus; // panel 1 of the status bar
    // Lets go of a serial port the window itself still holds, before the connect component
    // opens a serial port: a device held open cannot be opened again.
    std::function<void()> releaseSerialPort;
};

// Cmd_Ring_Click: sends the 30 bell times in three groups through the shared connect
// component (platform/component_state.h).
class RingDownload {
public:
    explicit RingDownload(RingControls controls);
    void Cmd_Ring_Click();

private:
    RingControls c_;
};

} // namespace bw::connect

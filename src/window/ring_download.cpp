#include "window/ring_download.h"

#include "connect/connection_choice.h"
#include "messages/catalogue.h"
#include "platform/component_state.h"
#include "platform/convert.h"
#include "platform/error.h"
#include "platform/timing.h"
#include "platform/ui.h"

#include <QComboBox>
#include <QLineEdit>

#include <exception>

namespace bw::connect {

namespace {

constexpr int kGroups = 3;
constexpr int kTimesPerGroup = 10;
constexpr int kWaitBeforeFirstGroupMs = 200;

// Status texts of a group: success and failure, groups 1 to 3.
constexpr int kGroupOk[kGroups] = {1028, 1030, 1032};
constexpr int kGroupFailed[kGroups] = {1029, 1031, 1033};
constexpr int kPortNotOpened = 1027;

QString fieldText(const QLineEdit* box) {
    const QString t = box ? box->text() : QString();
    return t.isEmpty() ? QStringLiteral("0") : t;
}

// The unexpected-failure box: "number : description", OK only, no icon, no title.
void showFailure(int number, const QString& description) {
    MsgBox(QString::number(number) + QStringLiteral(" : ") + description, mb::OKOnly, QString());
}

// Closes a port that a failure left open; the failure already being reported, an error of
// the close itself is not shown as well.
void closeQuietly(IConnect* link) {
    if (!link)
        return;
    try {
        link->DestoryPort();
    } catch (...) {
    }
}

} // namespace

RingDownload::RingDownload(RingControls controls) : c_(std::move(controls)) {}

void RingDownload::Cmd_Ring_Click() {
    // Set once SetPort succeeded, so that every later path closes the port again.
    IConnect* openLink = nullptr;
    try {
        const ConnectionChoice choice =
            chooseConnection(c_.Cbo_COM ? c_.Cbo_COM->currentText() : QString());

        // Every bell time and the address are converted before anything is sent, so a bad
        // field never leaves the terminal with a mix of old and new times.
        std::array<std::array<VbDate, 11>, kGroups> groups{};
        for (int g = 0; g < kGroups; ++g) {
            for (int i = 0; i < kTimesPerGroup; ++i) {
                const size_t k = static_cast<size_t>(g * kTimesPerGroup + i);
                groups[static_cast<size_t>(g)][static_cast<size_t>(i)] =
                    CTime(fieldText(c_.TxtHour[k]) + QStringLiteral(":") + fieldText(c_.TxtMin[k]));
            }
            // Element 10 stays zero.
        }
        const short address = CInt(c_.Txt_Machine ? c_.Txt_Machine->text() : QString());

        IConnect* link = state().connect.get();
        if (!link)
            throw objectNotSet();

        applyChoice(*link, choice);
        if (!choice.tcp && c_.releaseSerialPort)
            c_.releaseSerialPort();
        short port = choice.port;
        if (!link->SetPort(port)) {
            if (c_.setStatus)
                c_.setStatus(messages::text(kPortNotOpened));
            Beep();
            return;
        }
        openLink = link;

        // One array, filled afresh for each group.
        std::array<VbDate, 11> times{};
        for (int g = 0; g < kGroups; ++g) {
            times = groups[static_cast<size_t>(g)];
            if (g == 0)
                Sleep(kWaitBeforeFirstGroupMs);
            const bool stored = link->SetClock(address, times, static_cast<short>(g + 1));
            if (c_.setStatus)
                c_.setStatus(messages::text(stored ? kGroupOk[g] : kGroupFailed[g]));
        }
        openLink = nullptr;
        link->DestoryPort();
    } catch (const Error& e) {
        closeQuietly(openLink);
        showFailure(e.number(), e.description());
    } catch (const std::exception& e) {
        closeQuietly(openLink);
        showFailure(440, QString::fromLocal8Bit(e.what()));
    }
}

} // namespace bw::connect

#pragma once

#include "platform/interfaces.h"

#include <QVariant>
#include <functional>

class QWidget;

namespace bw {

// The component's creatable class, "Brackwater.KQ": ShowA opens the terminal-management
// window for the operator the host names.
class KQ : public IShowA {
public:
    // Makes the component's one window (the terminal-management window by default).
    using WindowFactory = std::function<QWidget*()>;
    // Shows the window modeless; the first show of a window runs its load sequence.
    using WindowShower = std::function<void(QWidget*)>;

    // Replaces how the window is made and shown (an empty shower: QWidget::show).
    // Without arguments, the terminal-management window is used again.
    static void setWindowFactory(WindowFactory factory = {}, WindowShower shower = {});

    // The component's window while it exists (it is deleted when closed), else nullptr.
    static QWidget* window();

    void ShowA(QVariant& VarUser, QVariant& VarTitle, QVariant& VarCaption,
               QVariant& VarSysDate) override;

    // The version check of ShowA: true when the connect component's version is release 7.
    static bool isSupportedVersion(const QString& ver);
};

// Registers "Brackwater.KQ" in bw::Registry.
void registerComponent();

} // namespace bw

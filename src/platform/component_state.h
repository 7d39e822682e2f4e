#pragma once

#include "platform/interfaces.h"

#include <QString>
#include <QVariant>
#include <memory>

namespace bw {

// What the component keeps for as long as it is loaded, shared by all window code.
struct ComponentState {
    // Caller values, set by ShowA.
    QString CurrentUser;
    QString CurrentCaption;
    // Host components created by ShowA.
    std::shared_ptr<IConnect> connect;
    std::shared_ptr<ILanguage> language;

    // The current terminal: the row last selected in the list or listed first.
    QVariant CurrentMachAddr;
    QString CurrentComX;
    QVariant CurrentVer;
    QVariant CurrentTeam;
    QString CurrentMachDesc;
};

ComponentState& state();
// Empties everything (for a fresh start in tests).
void resetState();

} // namespace bw

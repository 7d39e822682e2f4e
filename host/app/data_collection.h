#pragma once

#include "platform/interfaces.h"

namespace bw::host {

// Default data-collection component ("Fenlowe.KQ"): opens a small window that names the
// operator and the collection asked for. The real collection belongs to the host's own
// data-collection program.
class DataCollection : public IShowA {
public:
    void ShowA(QVariant& VarUser, QVariant& VarTitle, QVariant& VarCaption,
               QVariant& VarSysDate) override;
};

void registerDataCollection();

} // namespace bw::host

#pragma once

#include "platform/interfaces.h"

namespace bw::host {

// The default permission component, "Quenby.Warden". A user may use a function when the table
// UserGrants holds a row (UserName, FunctionName) for it, or the row (UserName, '*') granting
// everything, and the user is no disabled operator. Anything else, a missing table or no
// database included, is refused.
class Warden : public IPermission {
public:
    bool CheckPermission(ConnectionPtr& cn, const QString& systemName, const QString& user,
                         const QVariant& omitted, const QString& functionName, bool flag1,
                         bool flag2) override;
};

} // namespace bw::host

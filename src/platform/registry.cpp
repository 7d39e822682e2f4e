#include "platform/registry.h"

namespace bw {

Registry& Registry::instance() {
    static Registry registry;
    return registry;
}

void Registry::registerClass(const QString& progId, Factory factory) {
    factories_.insert(progId.toLower(), std::move(factory));
}

void Registry::unregisterClass(const QString& progId) {
    factories_.remove(progId.toLower());
}

bool Registry::isRegistered(const QString& progId) const {
    return factories_.contains(progId.toLower());
}

ComponentPtr Registry::create(const QString& progId) const {
    auto it = factories_.constFind(progId.toLower());
    ComponentPtr obj;
    if (it != factories_.constEnd() && *it)
        obj = (*it)();
    if (!obj)
        throw Error(err::CannotCreateObject,
                    QStringLiteral("ActiveX component can't create object: %1").arg(progId));
    return obj;
}

} // namespace bw

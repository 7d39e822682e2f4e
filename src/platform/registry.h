#pragma once

#include "platform/error.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>

namespace bw {

// Base of every object that can be created by ProgID.
class Component {
public:
    virtual ~Component() = default;
};
using ComponentPtr = std::shared_ptr<Component>;

// Creates objects by ProgID, as the host platform's object creation does.
// ProgIDs compare without regard to letter case.
class Registry {
public:
    using Factory = std::function<ComponentPtr()>;

    static Registry& instance();

    void registerClass(const QString& progId, Factory factory);
    void unregisterClass(const QString& progId);
    bool isRegistered(const QString& progId) const;

    // Throws Error 429 when the ProgID is not registered or its factory yields nothing.
    ComponentPtr create(const QString& progId) const;

    // Creates and asks for interface I; an object without it raises Error 13.
    template <class I> std::shared_ptr<I> createAs(const QString& progId) const {
        auto obj = std::dynamic_pointer_cast<I>(create(progId));
        if (!obj)
            throw typeMismatch();
        return obj;
    }

private:
    QHash<QString, Factory> factories_;
};

// Shorthand for Registry::instance().createAs<I>(progId).
template <class I> std::shared_ptr<I> CreateObject(const QString& progId) {
    return Registry::instance().createAs<I>(progId);
}

// ProgIDs of the component and of the host components it uses.
namespace progid {
inline const QString Component = QStringLiteral("Brackwater.KQ");
inline const QString Connect = QStringLiteral("Pellworth.Link");
inline const QString Language = QStringLiteral("Quenby.Lexicon");
inline const QString Permission = QStringLiteral("Quenby.Warden");
inline const QString DbTools = QStringLiteral("Harrowgate.Ledger");
inline const QString DataCollection = QStringLiteral("Fenlowe.KQ");
} // namespace progid

} // namespace bw

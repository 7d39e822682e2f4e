#pragma once

#include "bell/memory_line.h"
#include "messages/catalogue.h"
#include "platform/component_state.h"
#include "platform/interfaces.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace bw::test {

// A language component that fills placeholders as the host's does.
class FakeLanguage : public ILanguage {
public:
    QString ReplaceRes(const QString& templ, short count, const QVariant& v1,
                       const QVariant& v2) override {
        ++calls;
        return messages::fillPlaceholders(templ, v1.toString(),
                                          count >= 2 ? v2.toString() : QString());
    }
    void LoadControlInfo(ConnectionPtr&, const QString&, QWidget*, int& result) override {
        result = 0;
    }
    int calls = 0;
};

inline std::shared_ptr<FakeLanguage> installFakeLanguage() {
    auto lang = std::make_shared<FakeLanguage>();
    state().language = lang;
    return lang;
}

inline QByteArray hex(const char* text) {
    return QByteArray::fromHex(text);
}

// The written characters as "01' 03 10 12 00" (a quote marks a set ninth bit).
inline QString wire(const QList<bell::WireChar>& chars) {
    QStringList parts;
    for (const auto& c : chars)
        parts << QStringLiteral("%1%2")
                     .arg(c.byte, 2, 16, QLatin1Char('0'))
                     .arg(c.ninth ? QStringLiteral("'") : QString())
                     .toUpper();
    return parts.join(QLatin1Char(' '));
}

} // namespace bw::test

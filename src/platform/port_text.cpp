#include "platform/port_text.h"

namespace bw {

namespace {
constexpr int kShortestIpAddress = 7; // "1.2.3.4"
}

bool isIpAddressText(const QString& text) {
    return text.size() >= kShortestIpAddress;
}

} // namespace bw

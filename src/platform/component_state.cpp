#include "platform/component_state.h"

namespace bw {

namespace {
ComponentState& storage() {
    static ComponentState s;
    return s;
}
} // namespace

ComponentState& state() {
    return storage();
}
void resetState() {
    storage() = ComponentState();
}

} // namespace bw

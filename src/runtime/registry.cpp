#include "runtime/registry.h"

#include <stdexcept>
#include <string>

namespace rt {

namespace {
Registry* g_current = nullptr;
}

Registry::Registry(std::span<const std::string_view> windows)
    : m_previous(g_current) {
    for (std::string_view window : windows)
        m_slots.push_back({window, nullptr});
    g_current = this;
}

Registry::~Registry() {
    // In reverse order of the project's window list.
    for (auto it = m_slots.rbegin(); it != m_slots.rend(); ++it)
        it->instance.reset();
    g_current = m_previous;
}

Registry* Registry::current() {
    return g_current;
}

Form* Registry::instance(std::string_view window) const {
    for (const Slot& slot : m_slots)
        if (slot.window == window)
            return slot.instance.get();
    return nullptr;
}

std::unique_ptr<Form>& Registry::slotFor(std::string_view window) {
    for (Slot& slot : m_slots)
        if (slot.window == window)
            return slot.instance;
    throw std::logic_error("not a window of this program: " + std::string(window));
}

} // namespace rt

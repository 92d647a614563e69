#pragma once

// The registry of default window instances: one slot per window class, empty
// at first. The first reference to a window creates its instance; every
// later one finds it there.

#include "runtime/form.h"

#include <cassert>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace rt {

class Registry {
public:
    // Becomes the registry that defaultInstance() uses, until destroyed.
    explicit Registry(std::span<const std::string_view> windows);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    static Registry* current();

    // The instance in a window's slot, or null while it has none.
    Form* instance(std::string_view window) const;

    // The window's default instance, created on first reference: built from
    // its layout, then its Load handler runs and its timers start.
    template <typename T> T& defaultInstance() {
        std::unique_ptr<Form>& slot = slotFor(T::windowName);
        if (!slot) {
            slot = std::make_unique<T>();
            slot->load();
        }
        return static_cast<T&>(*slot);
    }

private:
    struct Slot {
        std::string_view window;
        std::unique_ptr<Form> instance;
    };
    std::unique_ptr<Form>& slotFor(std::string_view window);
    std::vector<Slot> m_slots;
    Registry* m_previous;
};

template <typename T> T& defaultInstance() {
    Registry* registry = Registry::current();
    assert(registry && "no window registry: the program has not started");
    return registry->defaultInstance<T>();
}

} // namespace rt

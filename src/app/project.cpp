#include "app/project.h"

#include "runtime/registry.h"
#include "windows/form1.h"
#include "windows/form2.h"

#include <array>

namespace orbitale {

namespace {

constexpr std::array<std::string_view, 2> windows{Form1::windowName, Form2::windowName};

rt::Form& startupWindow() {
    return rt::defaultInstance<Form1>();
}

constexpr rt::ProjectDescriptor descriptor{
    .name = "Orbitale",
    .version = "1.00",
    .locale = 0x0804, // Chinese (PRC)
    .windows = windows,
    .startup = &startupWindow,
    .icon = ":/icons/orbitale-256.png",
};

} // namespace

const rt::ProjectDescriptor& project() {
    return descriptor;
}

} // namespace orbitale

#include "runtime/session.h"

#include <cstdlib>

namespace rt {

namespace {

bool given(const char* value) {
    return value && *value;
}

} // namespace

std::string_view platformFor(const Session& session) {
    if (given(session.platform))
        return {};
    if (given(session.x11))
        return given(session.wayland) ? "xcb;wayland" : "xcb";
    if (given(session.wayland))
        return "wayland";
    return {};
}

bool hasDisplay(const Session& session) {
    return given(session.platform) || given(session.x11) || given(session.wayland);
}

Session currentSession() {
    return {std::getenv("QT_QPA_PLATFORM"), std::getenv("DISPLAY"), std::getenv("WAYLAND_DISPLAY")};
}

} // namespace rt

#include "runtime/session.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SessionCase {
    const char* what;
    rt::Session session;
    const char* platform; // empty: the toolkit's own choice
    bool display;
};

class PlatformChoice : public testing::TestWithParam<SessionCase> {};

TEST_P(PlatformChoice, FollowsWhatTheSessionOffers) {
    const SessionCase& c = GetParam();
    EXPECT_EQ(std::string(rt::platformFor(c.session)), c.platform);
    EXPECT_EQ(rt::hasDisplay(c.session), c.display);
}

INSTANTIATE_TEST_SUITE_P(
    Sessions, PlatformChoice,
    testing::Values(
        SessionCase{"WaylandWithXwayland", {nullptr, ":0", "wayland-0"}, "xcb;wayland", true},
        SessionCase{"X11Alone", {nullptr, ":1", nullptr}, "xcb", true},
        SessionCase{"WaylandAlone", {nullptr, nullptr, "wayland-0"}, "wayland", true},
        SessionCase{"EmptyDisplayIsNone", {"", "", "wayland-1"}, "wayland", true},
        SessionCase{"NamedPlatformWins", {"wayland", ":0", "wayland-0"}, "", true},
        SessionCase{"NamedPlatformWithoutDisplay", {"offscreen", nullptr, nullptr}, "", true},
        SessionCase{"Nothing", {nullptr, nullptr, nullptr}, "", false},
        SessionCase{"AllEmpty", {"", "", ""}, "", false}),
    [](const auto& info) { return std::string(info.param.what); });

} // namespace

#pragma once

// Which of the toolkit's window systems the program runs on, decided once at
// start-up from what the desktop session offers. Toolkit-internal; free of Qt
// so that the choice can be tried on any environment.

#include <string_view>

namespace rt {

// What the session offers: the environment's QT_QPA_PLATFORM, DISPLAY and
// WAYLAND_DISPLAY; null or empty where unset.
struct Session {
    const char* platform;
    const char* x11;
    const char* wayland;
};

// The platform to run on, or empty to leave the toolkit's own choice alone.
//
// Where an X server is offered the program is an X11 client, also inside a
// Wayland session (Xwayland): a Wayland client cannot place its windows, so a
// window shown again after a switch would be put wherever the compositor
// likes, and under a compositor that draws the frame itself the toolkit
// cannot measure the frame the orbit counts. Wayland is the fallback should
// that X server refuse us, and the only choice where there is none. A
// platform the user names always wins.
std::string_view platformFor(const Session& session);

// Whether any display is offered at all.
bool hasDisplay(const Session& session);

// The session of this process's environment.
Session currentSession();

} // namespace rt

#pragma once

// The start of the program: the project descriptor the entry point hands to
// the toolkit, and the toolkit's start routine.

#include <span>
#include <string_view>

namespace rt {

class Form;

struct ProjectDescriptor {
    std::string_view name;
    std::string_view version;
    int locale;                                // a Windows locale id, e.g. 0x0804
    std::span<const std::string_view> windows; // one registry slot each
    Form& (*startup)();                        // the start-up window's default instance
    std::string_view icon;                     // a Qt resource path for the windows' icon
};

// Creates the application and the window registry, creates and shows the
// start-up window, and runs the event loop until the program ends. Returns
// the exit status; without a display it says so on one line and returns 1.
int start(const ProjectDescriptor& project, int argc, char** argv);

} // namespace rt

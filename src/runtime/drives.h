#pragma once

// Where the program's fixed file names lead on this machine. A name with a
// drive letter ("E:\VB\dq3.gif") leads first into the user's own drive
// folder, where anyone may put a picture of their own, and, where nothing is
// there, into the installation's, which holds the program's own pictures:
//
//   E:\VB\dq3.gif -> $XDG_DATA_HOME/orbitale/drives/E/VB/dq3.gif
//                    (~/.local/share/... where XDG_DATA_HOME is unset or not absolute)
//                 -> <prefix>/share/orbitale/drives/E/VB/dq3.gif
//
// Backslashes separate folders; a name with "." or ".." parts leads nowhere.
// A name without a drive letter is a path of its own and is used as given.

#include "runtime/error.h"

#include <string>
#include <string_view>

namespace rt {

// The installation prefix found from the executable, and a way for tests and
// tools to set another one ("" returns to the executable's).
std::string installPrefix();
void overrideInstallPrefix(std::string prefix);

// The user's own drive folder, as the environment gives it now; empty where
// it gives no absolute folder.
std::string userDrivesFolder();

// Where a fixed name is in the installation: "<prefix>/share/orbitale/drives/E/VB/dq3.gif";
// empty for a name that leads nowhere. A name without a drive letter is
// returned as given.
std::string picturePath(std::string_view fileName);

// Where a fixed name leads now, looked for anew on every load.
struct PicturePlace {
    std::string path;     // what to open; empty where the name leads nowhere
    std::string lookedAt; // every place looked at, one a line, first to last
    // Set where the user's folder cannot be looked into (no permission, a
    // file where a folder should be, a loop of links, a name too long):
    // then `path` is the user's place and nothing else is tried, since the
    // user meant to put something there.
    ErrorNumber problem{};
    bool own = false; // the user's own picture, not the installation's
};
PicturePlace findPicture(std::string_view fileName);

} // namespace rt

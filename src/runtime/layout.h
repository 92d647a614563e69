#pragma once

// A window's stored layout, as data: the window itself and one row per
// control, in stored order. The toolkit builds widgets from it.

#include <cstdint>
#include <span>
#include <string_view>

namespace rt {

enum class ControlClass { CommandButton, PictureBox, Image, Timer };

struct ControlRow {
    std::string_view name;
    ControlClass kind;
    std::string_view parent; // the window's own name, or a PictureBox's
    int left = 0;            // twips, relative to the parent's client area
    int top = 0;
    int width = 0;
    int height = 0;
    std::string_view caption = {};
    int tabIndex = -1;           // -1: takes no keyboard focus
    std::uint32_t backColor = 0; // 0x00BBGGRR, as stored
    bool stretch = false;        // an Image scales its picture to its own size
    int interval = 0;            // a Timer's period, milliseconds
    // What a screen reader says of the control, in the program's language:
    // its name (a button's caption serves when empty) and one line on what
    // it is for. A picture box or an image adds the picture it shows.
    std::string_view accessibleName = {};
    std::string_view description = {};
};

struct FormLayout {
    std::string_view name;
    std::string_view caption;
    int clientWidth; // twips
    int clientHeight;
    std::span<const ControlRow> controls;
    // One line for a screen reader: what the window shows, how to switch.
    std::string_view description = {};
};

} // namespace rt

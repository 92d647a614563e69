#pragma once

// What the toolkit-neutral core asks of the backend it is built with (qt/ on
// Linux, win32/ on Windows). Toolkit-internal.
//
// Each backend also defines, in its own widgets.h and picture_data.h, the
// classes the core forwards to, with these members:
//
//   detail::FormWidget(const FormLayout&)
//     showInPlace(), hideKeepingPlace(), isVisible(),
//     outerWidth(), outerHeight()          pixels, frame and title bar included
//     pictureBox(name), image(name)        the control, or null
//     setClickHandler(h), setButtonHandler(name, h), setTimerHandler(name, h),
//     startTimers()
//   detail::PictureBoxWidget, detail::ImageWidget
//     picture(), setPicture(p); ImageWidget::moveTo(x, y) in pixels
//   PictureData
//     setSize(w, h), addFrame(w, h, delay) -> pixels or null, framesAlike(),
//     width(), height(), frameCount()

#include "runtime/error.h"

#include <stdexcept>
#include <string>
#include <string_view>

namespace rt::detail {

class FormWidget;

// Shows a report over the owner's window, or over whichever window of the
// program is on screen; where there is no screen, or a report is already
// shown, it is said on the terminal.
void showReport(const Error& error, FormWidget* owner);

// Takes every window off the screen and lets the event loop return 0.
void endEventLoop();

// A window's control or timer of that name, from the backend's table of
// them; a name the layout does not have is the program's own fault.
template <typename Map> auto& named(Map& map, std::string_view name, const char* what) {
    const auto it = map.find(name);
    if (it == map.end())
        throw std::logic_error(std::string("no such ") + what + ": " + std::string(name));
    return it->second;
}

} // namespace rt::detail

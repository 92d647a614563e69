#pragma once

// The handler boundary: every handler the toolkit dispatches runs inside it.

#include "runtime/error.h"

#include <functional>

namespace rt {

namespace detail {
class FormWidget;
}

using ErrorReporter = std::function<void(const Error&)>;

// Runs one handler. An error it raises ends it there, and only it, and is
// handed to the error reporter; the program goes on. Nothing escapes into
// the toolkit's event loop. After the end of the program no handler runs. `owner` is
// the window whose event ran it: the report is shown over it (or over the
// visible window while it is hidden).
void runHandler(const std::function<void()>& handler, detail::FormWidget* owner = nullptr) noexcept;

// Replaces the error reporter; an empty one restores the default, a modal
// message box titled "Orbitale". Returns the previous one.
ErrorReporter setErrorReporter(ErrorReporter reporter);

// The text of a report: the error's number and description, and the file.
std::string reportText(const Error& error);

// A report as its box shows it: the heading ("运行时错误 '53':" and the
// description) and the details, the file and, where it was not found, the
// places looked at, one a line (a place too long to show keeps its start
// and its end, where the file's own name is).
struct ReportParts {
    std::string heading;
    std::string details;
};
ReportParts reportParts(const Error& error);

// Ends the program at once: its windows disappear, no further handler runs,
// and the event loop returns 0. Unwinds the handler that calls it.
[[noreturn]] void endProgram();
bool programEnded();
// For tests: forget that the program ended.
void resetProgramEnd();

} // namespace rt

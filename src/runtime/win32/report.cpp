// Reports on Windows: the system's own message box, in Chinese, over the
// window whose handler failed.

#include "runtime/backend.h"
#include "runtime/handler.h"
#include "runtime/win32/widgets.h"

#include <cstdio>

namespace rt::detail {

namespace {

bool g_reporting = false;

// The window a report stands over: the one whose handler failed, or while
// that one is hidden (a switch that failed half-way, a Load before the first
// Show) whichever window of the program is on screen.
HWND reportOwner(FormWidget* form) {
    if (form && form->isVisible())
        return form->hwnd();
    HWND found = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hwnd, LPARAM out) {
            if (FormWidget::of(hwnd) && IsWindowVisible(hwnd) && !IsIconic(hwnd)) {
                *reinterpret_cast<HWND*>(out) = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace

void showReport(const Error& error, FormWidget* owner) {
    if (g_reporting) {
        // A report is already on screen: say it on the terminal rather than
        // pile up message boxes.
        std::fprintf(stderr, "Orbitale: %s\n", error.what());
        return;
    }
    g_reporting = true;
    const ReportParts parts = reportParts(error);
    const std::wstring text =
        wide(parts.details.empty() ? parts.heading : parts.heading + "\n\n" + parts.details);
    // Blocks the whole program, not only its window, as reports always have.
    MessageBoxW(reportOwner(owner), text.c_str(), L"Orbitale", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    g_reporting = false;
}

void endEventLoop() {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND hwnd, LPARAM) {
            if (FormWidget::of(hwnd))
                ShowWindow(hwnd, SW_HIDE);
            return TRUE;
        },
        0);
    PostQuitMessage(0);
}

} // namespace rt::detail

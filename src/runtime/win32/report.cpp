// Reports on Windows: the system's own message box, in Chinese, over the
// window whose handler failed.

#include "runtime/backend.h"
#include "runtime/handler.h"
#include "runtime/win32/widgets.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>

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

// The report's text in the program's own Chinese font: the system's message
// font has no Chinese where the system links none to it (under Wine).
HHOOK g_hook = nullptr;
HFONT g_reportFont = nullptr;

// The box was laid out for the system's font: its text and the box grow by
// what the program's font needs more, and its button moves down with them.
void fitText(HWND box, HFONT font) {
    HWND text = nullptr;
    EnumChildWindows(
        box,
        [](HWND control, LPARAM found) {
            wchar_t name[16] = {};
            GetClassNameW(control, name, 16);
            if (_wcsicmp(name, L"Static") == 0 && GetWindowTextLengthW(control) > 0)
                *reinterpret_cast<HWND*>(found) = control;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    if (!text)
        return;
    std::wstring words(static_cast<std::size_t>(GetWindowTextLengthW(text)) + 1, L'\0');
    words.resize(static_cast<std::size_t>(
        GetWindowTextW(text, words.data(), static_cast<int>(words.size()))));
    RECT now;
    GetWindowRect(text, &now);
    MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&now), 2);
    HDC dc = GetDC(text);
    HGDIOBJ old = SelectObject(dc, font);
    RECT needed{0, 0, scaleOf(box)(560), 0};
    DrawTextW(dc, words.c_str(), -1, &needed,
              DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX | DT_EDITCONTROL);
    SelectObject(dc, old);
    ReleaseDC(text, dc);
    const int dx = std::max(0L, needed.right - (now.right - now.left));
    const int dy = std::max(0L, needed.bottom - (now.bottom - now.top));
    SetWindowPos(text, nullptr, 0, 0, now.right - now.left + dx, now.bottom - now.top + dy,
                 SWP_NOMOVE | SWP_NOZORDER);
    // Its button: centred, below the text.
    HWND button = GetDlgItem(box, IDOK);
    RECT frame, client, place{};
    GetWindowRect(box, &frame);
    GetClientRect(box, &client);
    if (button) {
        GetWindowRect(button, &place);
        MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&place), 2);
    }
    const int margin = scaleOf(box)(12);
    const int top = std::max<int>(place.top, now.top + needed.bottom + margin);
    const int width = client.right + dx;
    const int height = std::max<int>(client.bottom + dy, top + (place.bottom - place.top) + margin);
    SetWindowPos(box, nullptr, frame.left - dx / 2, frame.top - (height - client.bottom) / 2,
                 frame.right - frame.left + width - client.right,
                 frame.bottom - frame.top + height - client.bottom, SWP_NOZORDER);
    if (button)
        SetWindowPos(button, nullptr, (width - (place.right - place.left)) / 2, top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER);
}

WNDPROC g_boxProcedure = nullptr;

// The box lays itself out when it starts: after that, the program's font.
LRESULT CALLBACK reportBox(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = CallWindowProcW(g_boxProcedure, box, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_boxProcedure));
        g_reportFont = uiFont(scaleOf(box));
        EnumChildWindows(
            box,
            [](HWND control, LPARAM font) {
                SendMessageW(control, WM_SETFONT, static_cast<WPARAM>(font), TRUE);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(g_reportFont));
        fitText(box, g_reportFont);
    }
    return result;
}

LRESULT CALLBACK chineseText(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && g_hook) {
        HWND box = reinterpret_cast<HWND>(wParam);
        wchar_t name[16] = {};
        GetClassNameW(box, name, 16);
        if (std::wstring_view(name) == L"#32770") {
            g_boxProcedure = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(reportBox)));
            UnhookWindowsHookEx(g_hook);
            g_hook = nullptr;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
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
    g_hook = SetWindowsHookExW(WH_CBT, chineseText, nullptr, GetCurrentThreadId());
    MessageBoxW(reportOwner(owner), text.c_str(), L"Orbitale", MB_OK | MB_ICONERROR | MB_TASKMODAL);
    if (g_hook)
        UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    if (g_reportFont)
        DeleteObject(g_reportFont);
    g_reportFont = nullptr;
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

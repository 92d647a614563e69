// The Win32 backend's windows, as a user meets them: sizes with the frame,
// captions, focus order, clicks, keys, Show after Hide, close.

#include "runtime/error.h"
#include "runtime/form.h"
#include "runtime/handler.h"
#include "runtime/twips.h"
#include "runtime/win32/widgets.h"

#include "support/test_layout.h"

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

namespace {

using rt::ControlClass;
using rt::ControlRow;

constexpr std::array controls{
    testsupport::testButton,
    testsupport::testBox,
    testsupport::testImage,
    ControlRow{.name = "Other",
               .kind = ControlClass::CommandButton,
               .parent = "Test",
               .left = 3000,
               .top = 900,
               .width = 1500,
               .height = 450,
               .caption = "另一个",
               .tabIndex = 2},
};
constexpr rt::FormLayout layout{.name = "Test",
                                .caption = "测试",
                                .clientWidth = 6000,
                                .clientHeight = 4500,
                                .controls = controls};

struct Window {
    rt::Form form{layout};
    int clicks = 0, pressed = 0;
    std::string reported;
    Window() {
        form.onClick([this] { ++clicks; });
        form.onClick("Button", [this] { ++pressed; });
        rt::setErrorReporter([this](const rt::Error& e) { reported = e.what(); });
        form.show();
    }
    ~Window() {
        rt::setErrorReporter({});
        rt::resetProgramEnd();
    }
    HWND hwnd() const { return form.widget()->hwnd(); }
    HWND child(const wchar_t* caption) const {
        return FindWindowExW(hwnd(), nullptr, nullptr, caption);
    }
    RECT rect() const {
        RECT r;
        GetWindowRect(hwnd(), &r);
        return r;
    }
    // A press and release of the left button at a point of the client area.
    void clickAt(int x, int y) {
        SendMessageW(hwnd(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
        SendMessageW(hwnd(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    }
};

struct Case {
    const char* name;
    std::function<std::string(Window&)> seen;
    std::string expected;
};

std::string yes(bool b) {
    return b ? "yes" : "no";
}

class Win32Form : public testing::TestWithParam<Case> {};

TEST_P(Win32Form, BehavesAsOnEverySystem) {
    Window w;
    EXPECT_EQ(GetParam().seen(w), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Win32Form,
    testing::Values(
        // The orbit counts the frame and the title bar.
        Case{"OuterSizeIsTheWindowsRectangle",
             [](Window& w) {
                 const RECT r = w.rect();
                 return yes(w.form.width() == rt::pixelsToTwips(r.right - r.left) &&
                            w.form.height() == rt::pixelsToTwips(r.bottom - r.top) &&
                            w.form.height() > layout.clientHeight);
             },
             "yes"},
        Case{"ClientAreaIsTheStoredSize",
             [](Window& w) {
                 RECT r;
                 GetClientRect(w.hwnd(), &r);
                 return std::to_string(r.right) + "x" + std::to_string(r.bottom);
             },
             "400x300"},
        Case{"ButtonsShowTheirCaptions",
             [](Window& w) { return yes(w.child(L"按钮") && w.child(L"另一个")); }, "yes"},
        Case{"TabGoesInTheStoredOrder",
             [](Window& w) {
                 HWND box = w.form.widget()->pictureBox("Box")->hwnd();
                 return yes(GetFocus() == box &&
                            GetNextDlgTabItem(w.hwnd(), box, FALSE) == w.child(L"按钮") &&
                            GetNextDlgTabItem(w.hwnd(), w.child(L"按钮"), FALSE) ==
                                w.child(L"另一个"));
             },
             "yes"},
        Case{"ABackgroundClickIsTheWindowsClick",
             [](Window& w) {
                 w.clickAt(380, 280);
                 return std::to_string(w.clicks);
             },
             "1"},
        Case{"AClickOnAButtonIsNotTheWindows",
             [](Window& w) {
                 SendMessageW(w.child(L"按钮"), BM_CLICK, 0, 0);
                 return std::to_string(w.clicks) + " " + std::to_string(w.pressed);
             },
             "0 1"},
        // Pressed, held (two of the keyboard's repeats), pressed again.
        Case{"ReturnPressesTheFocusedButtonOnceAPress",
             [](Window& w) {
                 HWND button = w.child(L"按钮");
                 SetFocus(button);
                 for (const LPARAM flags : {0L, 1L << 30, 1L << 30, 0L}) {
                     MSG key{button, WM_KEYDOWN, VK_RETURN, flags | 1, 0, {}};
                     rt::detail::dialogKey(key);
                 }
                 return std::to_string(w.pressed);
             },
             "2"},
        Case{"ShownAgainWhereItWasAtItsSize",
             [](Window& w) {
                 SetWindowPos(w.hwnd(), nullptr, 210, 160, 500, 420, SWP_NOZORDER);
                 const RECT before = w.rect();
                 w.form.hide();
                 const bool hidden = !w.form.isVisible();
                 w.form.show();
                 const RECT after = w.rect();
                 return yes(hidden && EqualRect(&before, &after));
             },
             "yes"},
        Case{"ClosingTheWindowEndsTheProgram",
             [](Window& w) {
                 SendMessageW(w.hwnd(), WM_CLOSE, 0, 0);
                 return yes(rt::programEnded() && IsWindow(w.hwnd()));
             },
             "yes"},
        Case{"AnImageMovedBeyondAnyWindowIsOverflow",
             [](Window& w) {
                 rt::runHandler([&] { w.form.image("Img").move(1e30f, 0); });
                 return w.reported;
             },
             "运行时错误 '6': 溢出"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

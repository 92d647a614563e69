#pragma once

// The two windows' stored layouts: one row per control, in stored order,
// positions and sizes in twips relative to the parent's client area. The
// accessible names and descriptions are ours, for screen readers.

#include "runtime/layout.h"

#include <array>

namespace orbitale {

using rt::ControlClass;
using rt::ControlRow;

// Teal: red 0, green 192, blue 192, stored with blue in the third byte.
inline constexpr std::uint32_t teal = 0x00C0C000;

inline constexpr std::array form1Controls{
    ControlRow{.name = "CmdExit",
               .kind = ControlClass::CommandButton,
               .parent = "Form1",
               .left = 10560,
               .top = 5640,
               .width = 1095,
               .height = 375,
               .caption = "退出",
               .tabIndex = 3,
               .description = "结束程序，两个窗口一起关闭"},
    ControlRow{.name = "CmdLtby",
               .kind = ControlClass::CommandButton,
               .parent = "Form1",
               .left = 10560,
               .top = 5040,
               .width = 1095,
               .height = 375,
               .caption = "蓝天白云",
               .tabIndex = 2,
               .description = "在画面中显示蓝天白云背景"},
    ControlRow{.name = "CmdYjtk",
               .kind = ControlClass::CommandButton,
               .parent = "Form1",
               .left = 10560,
               .top = 4440,
               .width = 1095,
               .height = 375,
               .caption = "宇宙太空",
               .tabIndex = 1,
               .description = "在画面中显示宇宙太空背景"},
    ControlRow{.name = "Picture1",
               .kind = ControlClass::PictureBox,
               .parent = "Form1",
               .left = 0,
               .top = 120,
               .width = 10260,
               .height = 7260,
               .tabIndex = 0,
               .backColor = teal,
               .accessibleName = "风景画面",
               .description = "地球在其中沿椭圆轨道公转的画面"},
    ControlRow{.name = "ImgEarth",
               .kind = ControlClass::Image,
               .parent = "Picture1",
               .left = 9000,
               .top = 3360,
               .width = 735,
               .height = 735,
               .stretch = true,
               .accessibleName = "地球",
               .description = "沿椭圆轨道公转的地球"},
    ControlRow{.name = "Timer1", .kind = ControlClass::Timer, .parent = "Form1", .interval = 100},
};

inline constexpr rt::FormLayout form1Layout{
    .name = "Form1",
    .caption = "地球公转 Tavelin 2006.11.",
    .clientWidth = 4680,
    .clientHeight = 3195,
    .controls = form1Controls,
    .description = "地球沿椭圆轨道公转的动画，背景可用右侧按钮选择宇宙太空或蓝天白云；单击窗口空白"
                   "处或按 Ctrl+Tab 切换到另一个窗口"};

inline constexpr std::array form2Controls{
    ControlRow{.name = "Timer1", .kind = ControlClass::Timer, .parent = "Form2", .interval = 100},
    ControlRow{.name = "CmdExit",
               .kind = ControlClass::CommandButton,
               .parent = "Form2",
               .left = 10560,
               .top = 5520,
               .width = 1095,
               .height = 375,
               .caption = "退出",
               .tabIndex = 3,
               .description = "结束程序，两个窗口一起关闭"},
    ControlRow{.name = "CmdGyfg",
               .kind = ControlClass::CommandButton,
               .parent = "Form2",
               .left = 10560,
               .top = 4920,
               .width = 1095,
               .height = 375,
               .caption = "公园风光",
               .tabIndex = 2,
               .description = "在画面中显示公园风光背景"},
    ControlRow{.name = "CmdSdbj",
               .kind = ControlClass::CommandButton,
               .parent = "Form2",
               .left = 10560,
               .top = 4320,
               .width = 1095,
               .height = 375,
               .caption = "首都北京",
               .tabIndex = 1,
               .description = "在画面中显示首都北京背景"},
    ControlRow{.name = "Picture1",
               .kind = ControlClass::PictureBox,
               .parent = "Form2",
               .left = 0,
               .top = 0,
               .width = 10260,
               .height = 7260,
               .tabIndex = 0,
               .backColor = teal,
               .accessibleName = "风景画面",
               .description = "地球在其中沿椭圆轨道公转的画面"},
    ControlRow{.name = "ImgEarth",
               .kind = ControlClass::Image,
               .parent = "Picture1",
               .left = 8880,
               .top = 3480,
               .width = 735,
               .height = 735,
               .stretch = true,
               .accessibleName = "地球",
               .description = "沿椭圆轨道公转的地球"},
};

inline constexpr rt::FormLayout form2Layout{
    .name = "Form2",
    .caption = "地球公转1 Tavelin 2006.11.",
    .clientWidth = 4680,
    .clientHeight = 3195,
    .controls = form2Controls,
    .description = "地球沿椭圆轨道公转的动画，背景可用右侧按钮选择首都北京或公园风光；单击窗口空白"
                   "处或按 Ctrl+Tab 切换到另一个窗口"};

} // namespace orbitale

#pragma once

// The controls the toolkit's tests build their windows of, on either
// toolkit: a button, and a picture box with an image inside it.

#include "runtime/layout.h"

namespace testsupport {

inline constexpr rt::ControlRow testButton{.name = "Button",
                                           .kind = rt::ControlClass::CommandButton,
                                           .parent = "Test",
                                           .left = 3000,
                                           .top = 150,
                                           .width = 1500,
                                           .height = 450,
                                           .caption = "按钮",
                                           .tabIndex = 1,
                                           .description = "按下按钮"};
inline constexpr rt::ControlRow testBox{.name = "Box",
                                        .kind = rt::ControlClass::PictureBox,
                                        .parent = "Test",
                                        .left = 0,
                                        .top = 150,
                                        .width = 2400,
                                        .height = 2400,
                                        .tabIndex = 0,
                                        .backColor = 0x00C0C000,
                                        .accessibleName = "画面",
                                        .description = "测试画面"};
inline constexpr rt::ControlRow testImage{.name = "Img",
                                          .kind = rt::ControlClass::Image,
                                          .parent = "Box",
                                          .left = 300,
                                          .top = 300,
                                          .width = 735,
                                          .height = 735,
                                          .stretch = true,
                                          .accessibleName = "图像",
                                          .description = "测试图像"};

} // namespace testsupport

#pragma once

#include <QImage>

namespace pictures {

// The four sceneries, each the size of the picture box (684 x 484 pixels).
QImage outerSpace();     // 宇宙太空
QImage blueSky();        // 蓝天白云
QImage capitalBeijing(); // 首都北京
QImage parkScenery();    // 公园风光

} // namespace pictures

#pragma once

// The decoded frames behind a Picture. Toolkit-internal.

#include <QImage>

#include <vector>

namespace rt {

struct PictureData {
    std::vector<QImage> frames; // premultiplied ARGB, an animation's all of one size
    std::vector<int> delays;    // milliseconds each frame stays on screen
};

} // namespace rt

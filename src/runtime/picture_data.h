#pragma once

// The decoded frames behind a Picture. Toolkit-internal.

#include <QImage>
#include <QSize>

#include <vector>

namespace rt {

struct PictureData {
    QSize size;                 // the picture's own size; its frames are kept at most as large
    std::vector<QImage> frames; // premultiplied ARGB, an animation's all of one size
    std::vector<int> delays;    // milliseconds each frame stays on screen
};

} // namespace rt

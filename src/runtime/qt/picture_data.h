#pragma once

// The decoded frames behind a Picture, as Qt images. Toolkit-internal.

#include <QImage>
#include <QSize>

#include <cstdint>
#include <vector>

namespace rt {

struct PictureData {
    QSize size;                 // the picture's own size; its frames are kept at most as large
    std::vector<QImage> frames; // premultiplied ARGB, an animation's all of one size
    std::vector<int> delays;    // milliseconds each frame stays on screen

    int width() const { return size.width(); }
    int height() const { return size.height(); }
    int frameCount() const { return static_cast<int>(frames.size()); }
    int frameWidth(int i) const { return frames[static_cast<std::size_t>(i)].width(); }
    int frameHeight(int i) const { return frames[static_cast<std::size_t>(i)].height(); }
    // Rows of 32-bit pixels lie end to end: no padding between them.
    const std::uint32_t* frameBits(int i) const {
        return reinterpret_cast<const std::uint32_t*>(
            frames[static_cast<std::size_t>(i)].constBits());
    }
    void setSize(int w, int h) { size = QSize(w, h); }
    // Memory for a frame's pixels, or null where there is none.
    std::uint32_t* addFrame(int w, int h, int delay) {
        QImage& frame = frames.emplace_back(w, h, QImage::Format_ARGB32_Premultiplied);
        if (frame.isNull())
            return nullptr;
        delays.push_back(delay);
        return reinterpret_cast<std::uint32_t*>(frame.bits());
    }
    bool framesAlike() const {
        for (const QImage& frame : frames)
            if (frame.size() != frames.front().size())
                return false;
        return true;
    }
};

} // namespace rt

#pragma once

// The decoded frames behind a Picture, as the pixels GDI draws: premultiplied
// ARGB words, rows top to bottom. Toolkit-internal.

#include <cstdint>
#include <vector>

namespace rt {

struct PictureData {
    struct Frame {
        int width;
        int height;
        std::vector<std::uint32_t> pixels;
    };
    int pictureWidth = 0; // the picture's own size; its frames are kept at most as large
    int pictureHeight = 0;
    std::vector<Frame> frames; // an animation's all of one size
    std::vector<int> delays;   // milliseconds each frame stays on screen

    int width() const { return pictureWidth; }
    int height() const { return pictureHeight; }
    int frameCount() const { return static_cast<int>(frames.size()); }
    int frameWidth(int i) const { return frames[static_cast<std::size_t>(i)].width; }
    int frameHeight(int i) const { return frames[static_cast<std::size_t>(i)].height; }
    const std::uint32_t* frameBits(int i) const {
        return frames[static_cast<std::size_t>(i)].pixels.data();
    }
    void setSize(int w, int h) {
        pictureWidth = w;
        pictureHeight = h;
    }
    // Raises std::bad_alloc where there is no memory for it.
    std::uint32_t* addFrame(int w, int h, int delay) {
        Frame& frame = frames.emplace_back(
            Frame{w, h, std::vector<std::uint32_t>(static_cast<std::size_t>(w) * h)});
        delays.push_back(delay);
        return frame.pixels.data();
    }
    bool framesAlike() const {
        for (const Frame& frame : frames)
            if (frame.width != frames.front().width || frame.height != frames.front().height)
                return false;
        return true;
    }
};

} // namespace rt

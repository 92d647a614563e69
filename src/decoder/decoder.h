#pragma once

// Picture files into frames, in plain C++ (no Qt). JPEG, GIF and PNG are
// decoded by their own libraries (libjpeg-turbo, giflib, libpng), BMP by our
// own reader; every format gives the same three verdicts and keeps within a
// budget counted from what it allocates for frames.
//
// This is the one place that meets untrusted bytes. The program runs it in a
// helper process of its own (decode_main.cpp), never in its own.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace decoder {

// The numbers are the toolkit's error numbers for the same verdicts.
enum class Verdict : int {
    Ok = 0,
    OutOfMemory = 7, // the frames would not fit the budget
    Invalid = 481,   // empty, cut short, corrupt, or not a picture
};

struct Limits {
    std::size_t fileBytes;    // the file itself
    std::size_t frameBytes;   // one decoded frame, 4 bytes a pixel
    std::size_t pictureBytes; // all frames of one picture together
    int frames;               // frames of one animation
    int jpegScans;            // scans of one progressive JPEG
};

// The program's budget: a 16-megapixel photo (4000 × 3000, 5120 × 2880, up
// to 4096 × 4096) is one frame; an animation may take half as much again.
// Real progressive JPEGs have about ten scans.
inline constexpr Limits pictureLimits{
    .fileBytes = 64u << 20,
    .frameBytes = 64u << 20,
    .pictureBytes = 96u << 20,
    .frames = 2000,
    .jpegScans = 100,
};

// One decoded frame: premultiplied ARGB, a 32-bit word a pixel (0xAARRGGBB),
// rows top to bottom without padding.
struct Frame {
    int width = 0;
    int height = 0;
    int delay = 0; // milliseconds on screen, for an animation's frames
    std::vector<std::uint32_t> pixels;
};

// Receives each frame as soon as it is complete.
class FrameSink {
public:
    virtual void frame(const Frame& frame) = 0;

protected:
    ~FrameSink() = default;
};

// Readies the decoders' libraries, before the helper confines itself: what
// a library loads or starts once (plugins, thread pools) it does here, while
// files can still be opened.
void initialiseLibraries();

// Decodes a whole file held in memory, finding its format by its content.
// Frames reach the sink in order; a verdict other than Ok may follow frames
// already given, and then the picture as a whole is refused.
Verdict decode(std::span<const std::uint8_t> bytes, const Limits& limits, FrameSink& sink);

// What the formats share: the budget of one picture.
class Budget {
public:
    explicit Budget(const Limits& limits)
        : m_limits(limits) {}
    const Limits& limits() const { return m_limits; }
    // Takes room for one more frame of width × height; false when it would
    // not fit (too large a frame, too many frames, or the picture's total).
    bool takeFrame(std::uint64_t width, std::uint64_t height);

private:
    Limits m_limits;
    std::size_t m_used = 0;
    int m_frames = 0;
};

// Premultiplies one pixel given as straight (non-premultiplied) ARGB.
inline std::uint32_t premultiply(std::uint32_t argb) {
    const std::uint32_t a = argb >> 24;
    if (a == 255)
        return argb;
    if (a == 0)
        return 0;
    const auto scale = [a](std::uint32_t c) { return (c * a + 127) / 255; };
    return (a << 24) | (scale((argb >> 16) & 0xff) << 16) | (scale((argb >> 8) & 0xff) << 8) |
           scale(argb & 0xff);
}

// One per format; each expects bytes that start with its own signature.
Verdict decodeJpeg(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
Verdict decodeGif(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
Verdict decodePng(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
Verdict decodeBmp(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);

} // namespace decoder

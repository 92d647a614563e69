#pragma once

// Picture files into frames, in plain C++ (no Qt). Each format is decoded by
// its own library (libjpeg-turbo, giflib, libpng, libwebp, libtiff, libheif,
// libavif, libjxl), BMP by our own reader; every format gives the same three
// verdicts and keeps within one budget.
//
// A picture is kept at most at the size that covers the scenery box at the
// largest scale the program is drawn at: a photo of any size is reduced while
// it is decoded, by the library where it can scale (libjpeg-turbo, libwebp),
// otherwise by streaming its rows through reduce.h. The picture's own size
// stays known.
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

struct Size {
    int width = 0;
    int height = 0;
    friend bool operator==(Size, Size) = default;
};

struct Limits {
    std::size_t fileBytes; // the file itself
    // One frame at the picture's own size, 4 bytes a pixel, where a format's
    // library gives the whole frame rather than rows.
    std::size_t sourceBytes;
    Size kept;              // a frame is kept no larger than what covers this
    std::size_t keptBytes;  // all frames of one picture as kept, 4 bytes a pixel
    int frames;             // frames of one animation
    int jpegScans;          // scans of one progressive JPEG
    std::size_t jpegMemory; // a progressive JPEG's coefficients, kept to its last scan
    std::uint64_t pixels;   // the largest picture of any format, in pixels
};

// The scenery box is 684 × 484 pixels and the program is drawn at up to 3
// device pixels a pixel: no frame is kept larger than 2052 × 1452 covers.
// 24 MiB of kept frames is a photo that covers the box and an animation of a
// hundred frames of 240 × 240; longer animations are kept smaller. A 16
// megapixel frame is held whole where a library gives no rows.
inline constexpr Limits pictureLimits{
    .fileBytes = 128u << 20,
    .sourceBytes = 64u << 20,
    .kept = {2052, 1452},
    .keptBytes = 24u << 20,
    .frames = 20000,
    .jpegScans = 100,
    .jpegMemory = 160u << 20,
    .pixels = 268435456, // 2^28: a 200 megapixel phone photo and more
};

// The size a frame of a picture of `picture` size is kept at, for an
// animation of `frames` frames: the whole picture shrunk, aspect kept, until
// it just covers limits.kept and all the frames fit limits.keptBytes; never
// larger than the picture itself.
Size keptSize(Size picture, int frames, const Limits& limits);

// One decoded frame: premultiplied ARGB, a 32-bit word a pixel (0xAARRGGBB),
// rows top to bottom without padding.
struct Frame {
    int width = 0;
    int height = 0;
    int delay = 0; // milliseconds on screen, for an animation's frames
    std::vector<std::uint32_t> pixels;
};

// What a picture is, told before its first frame.
struct PictureInfo {
    Size size;      // the picture's own size, upright
    int frames = 1; // how many frames follow
    int cpuMs = 0;  // processor time its decoding may take; 0 for the usual
};

// Receives the picture's description, then each frame at its kept size as
// soon as it is complete.
class FrameSink {
public:
    virtual void picture(const PictureInfo& info) = 0;
    virtual void frame(const Frame& frame) = 0;

protected:
    ~FrameSink() = default;
};

// Readies decoders that load plugins or start thread pools, before the
// helper confines itself.
void initialiseLibraries();

// Decodes a whole file held in memory, finding its format by its content.
// Frames reach the sink in order; a verdict other than Ok may follow frames
// already given, and then the picture as a whole is refused.
Verdict decode(std::span<const std::uint8_t> bytes, const Limits& limits, FrameSink& sink);

// What the formats share: the budget of one picture. The program keeps the
// same count of what arrives.
class Budget {
public:
    explicit Budget(const Limits& limits)
        : m_limits(limits) {}
    const Limits& limits() const { return m_limits; }
    // Whether a picture of this own size may be decoded at all.
    bool allowsPicture(std::uint64_t width, std::uint64_t height) const;
    // Whether one frame of this size may be held whole at the picture's own
    // size, for a library that gives no rows.
    bool allowsSource(std::uint64_t width, std::uint64_t height) const;
    // Takes room for one more kept frame of width × height; false when it
    // would not fit (too many frames, or the picture's total).
    bool takeFrame(std::uint64_t width, std::uint64_t height);

private:
    Limits m_limits;
    std::size_t m_used = 0;
    int m_frames = 0;
};

// The processor time a picture of `pixels` may take to decode, for a library
// that needs `nsPerPixel` nanoseconds a pixel here, with room to spare for a
// slower machine; never less than the usual limit.
int cpuMsFor(std::uint64_t pixels, double nsPerPixel);

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

// Turns a frame upright for an Exif orientation (1 is upright, 2-8 the
// mirrorings and quarter turns cameras record).
void orient(Frame& frame, int orientation);

// One per format; each expects bytes that start with its own signature.
Verdict decodeJpeg(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
Verdict decodeGif(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
Verdict decodePng(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
Verdict decodeBmp(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
// WebP and TIFF
Verdict decodeWebp(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
Verdict decodeTiff(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
// HEIF, AVIF and JPEG XL
Verdict decodeHeif(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
Verdict decodeAvif(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);
Verdict decodeJxl(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink);

} // namespace decoder

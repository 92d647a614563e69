#pragma once

// What the program and its decoding helper share about a picture: the
// verdicts, the budget one picture is held to, and the size it is kept at.
// Plain C++ with no picture library under it, so that the program, which
// never decodes, links none.

#include <cstddef>
#include <cstdint>

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

// What a decoding helper's process may have in all: the file, a frame held
// whole and the one composed before it, a progressive JPEG's coefficients,
// the kept frames, and the libraries with their threads.
inline constexpr std::size_t helperMemory =
    pictureLimits.fileBytes + 2 * pictureLimits.sourceBytes + pictureLimits.jpegMemory +
    pictureLimits.keptBytes + (160u << 20);

// The size a frame of a picture of `picture` size is kept at, for an
// animation of `frames` frames: the whole picture shrunk, aspect kept, until
// it just covers limits.kept and all the frames fit limits.keptBytes; never
// larger than the picture itself.
Size keptSize(Size picture, int frames, const Limits& limits);

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

} // namespace decoder

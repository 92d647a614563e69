#pragma once

// Pictures: what loadPicture returns and what an Image or a PictureBox shows.
// A Picture is a shared reference to decoded frames; assigning it to a
// control shares it, it never copies the pixels.

#include "decoder/budget.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace rt {

struct PictureData;

class Picture {
public:
    Picture() = default;

    bool isNull() const { return !m_data; }
    int width() const; // the picture's own, in pixels; 0 for no picture
    int height() const;
    int frameCount() const; // more than one for an animation
    // The kept frames' sizes, delays and pixels in one 64-bit number, the
    // same on every system for the same frames: the Windows build's pixels
    // are checked against the Linux build's by it.
    std::uint64_t digest() const;
    int keptWidth() const; // the kept frames' size
    int keptHeight() const;
    const PictureData* data() const { return m_data.get(); }
    // The name the program loaded it by ("E:\\VB\\xxgdt.jpg"): what a
    // screen reader is told the control shows.
    const std::string& fileName() const { return m_fileName; }

    friend bool operator==(const Picture& a, const Picture& b) { return a.m_data == b.m_data; }

private:
    friend Picture loadPicture(std::string_view fileName);
    Picture(std::shared_ptr<const PictureData> data, std::string_view fileName);
    std::shared_ptr<const PictureData> m_data;
    std::string m_fileName;
};

// The largest file read, and most frames of one animation.
inline constexpr int pictureFrameLimit = decoder::pictureLimits.frames;
inline constexpr std::size_t pictureFileLimit = decoder::pictureLimits.fileBytes;

// Reads and decodes a whole picture file (JPEG, PNG, GIF, BMP, WebP, TIFF,
// HEIC/HEIF, AVIF or JPEG XL, found by content), every frame of it, and
// closes the file. The file is the one its name leads to now (findPicture: a
// drive letter leads to the user's own picture first). Its frames are kept
// at most at the size that covers the scenery box at the largest scale the
// program is drawn at (width() and height() stay the picture's own).
// Decoding happens in a helper process with limits of its own; a verdict
// comes within a second for almost any file, and within what its pixels
// justify for the largest HEIC and AVIF. Raises Error for a missing file
// (FileNotFound), for something at the path that is not a regular file or
// cannot be read (FileAccess), for a file that is no complete picture
// (InvalidPicture) and for one larger than pictureFileLimit, of more pixels
// or frames than any picture loads, or whose decoding would need more memory
// than the helper has (OutOfMemory).
Picture loadPicture(std::string_view fileName);

} // namespace rt

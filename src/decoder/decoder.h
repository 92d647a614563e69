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

#include "decoder/budget.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace decoder {

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
    // A still's one frame may come instead a few rows at a time, top to
    // bottom, as they are finished, where the sink takes it so (the
    // helper's pipe: the program then receives the first rows while the
    // last are decoded). False where the sink wants whole frames; then
    // frame() follows as usual.
    virtual bool beginRows(int /*width*/, int /*height*/) { return false; }
    virtual void rows(const std::uint32_t* /*pixels*/, int /*count*/) {}

protected:
    ~FrameSink() = default;
};

// The formats, told apart by a file's first bytes.
enum class Format { Unknown, Jpeg, Gif, Png, Bmp, Webp, Tiff, Heif, Avif, Jxl };

// The most first bytes formatOf looks at (a HEIF file's list of brands).
inline constexpr std::size_t formatBytes = 64u << 10;
Format formatOf(std::span<const std::uint8_t> firstBytes);

// The decoding helper that links the format's library, one for each family
// of formats, so that a picture pays only for its own: "orbitale-decode"
// (JPEG, GIF, PNG, BMP), "orbitale-decode-heif" and so on; null for none.
const char* helperOf(Format format);

// Decodes a whole file held in memory, finding its format by its content,
// with every format's library (the fuzz target and the tests use it; the
// helpers each link only their own). Frames reach the sink in order; a
// verdict other than Ok may follow frames already given, and then the
// picture as a whole is refused.
Verdict decode(std::span<const std::uint8_t> bytes, const Limits& limits, FrameSink& sink);

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

// Where pixel (x, y) of a frame of w × h pixels stored as a camera turned
// `orientation` stored it (1 is upright, 2-8 the mirrorings and quarter
// turns cameras record) stands once the frame is upright.
inline std::pair<int, int> uprightOf(int orientation, int x, int y, int w, int h) {
    switch (orientation) {
    case 2:
        return {w - 1 - x, y};
    case 3:
        return {w - 1 - x, h - 1 - y};
    case 4:
        return {x, h - 1 - y};
    case 5:
        return {y, x};
    case 6:
        return {h - 1 - y, x};
    case 7:
        return {h - 1 - y, w - 1 - x};
    case 8:
        return {y, w - 1 - x};
    default:
        return {x, y};
    }
}

// Turns a frame upright for an Exif orientation.
void orient(Frame& frame, int orientation);

// The turns and mirrors a HEIF or AVIF file asks for, one after the other,
// gathered into one: quarter turns anticlockwise, then perhaps left and
// right exchanged; told as the Exif orientation that makes the stored
// picture upright.
class Turn {
public:
    void turn(int anticlockwise) {
        m_quarters = (m_quarters + (m_mirrored ? -1 : 1) * anticlockwise) & 3;
    }
    // Top and bottom exchanged is left and right exchanged after half a turn.
    void mirror(bool leftAndRight) {
        m_mirrored = !m_mirrored;
        if (!leftAndRight)
            m_quarters = (m_quarters + 2) & 3;
    }
    int orientation() const {
        constexpr int plain[4] = {1, 8, 3, 6};
        constexpr int mirrored[4] = {2, 7, 4, 5};
        return (m_mirrored ? mirrored : plain)[m_quarters];
    }
    bool swapsSides() const { return (m_quarters & 1) != 0; }

private:
    int m_quarters = 0;
    bool m_mirrored = false;
};

// One per format; each expects bytes that start with its own signature.
// The formats of old, which the helper the program starts decodes itself:
// JPEG, GIF, PNG or BMP as `format` says.
Verdict decodeClassic(Format format, std::span<const std::uint8_t> bytes, Budget& budget,
                      FrameSink& sink);
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

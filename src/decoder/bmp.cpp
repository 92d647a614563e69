// BMP, read by us: no library of the system reads it with sound verdicts (a
// cut file must be refused, a top-down one shown). Uncompressed pictures of
// 1, 4, 8, 16, 24 and 32 bits, bit-field masks, and RLE8/RLE4. Every read is
// checked against the end of the file; RLE work is bounded by the file's
// length, each code doing constant work or filling at most one row.

#include "decoder/decoder.h"
#include "decoder/reduce.h"

#include <algorithm>
#include <bit>
#include <optional>

namespace decoder {

namespace {

class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes)
        : m_bytes(bytes) {}
    bool has(std::size_t at, std::size_t n) const {
        return at <= m_bytes.size() && n <= m_bytes.size() - at;
    }
    std::uint32_t u8(std::size_t at) const { return m_bytes[at]; }
    std::uint32_t u16(std::size_t at) const { return u8(at) | u8(at + 1) << 8; }
    std::uint32_t u32(std::size_t at) const { return u16(at) | u16(at + 2) << 16; }
    std::size_t size() const { return m_bytes.size(); }

private:
    std::span<const std::uint8_t> m_bytes;
};

// One colour channel given by a bit mask, scaled to 8 bits.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    static Channel of(std::uint32_t mask) {
        Channel c;
        c.mask = mask;
        if (mask) {
            c.shift = std::countr_zero(mask);
            c.bits = std::popcount(mask >> c.shift);
        }
        return c;
    }
    std::uint32_t get(std::uint32_t v) const {
        if (!mask)
            return 0;
        const std::uint32_t raw = (v & mask) >> shift;
        const std::uint32_t top = (1u << std::min(bits, 31)) - 1;
        return bits >= 8 ? raw >> (bits - 8) : (raw * 255 + top / 2) / top;
    }
};

constexpr std::uint32_t BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3,
                        BI_ALPHABITFIELDS = 6;

struct Header {
    std::int64_t width = 0;
    std::int64_t height = 0; // negative: rows top to bottom
    std::uint32_t bits = 0;
    std::uint32_t compression = BI_RGB;
    std::uint32_t colours = 0;
    std::uint32_t dataAt = 0;
    std::size_t paletteAt = 0;
    int paletteEntry = 4; // bytes a palette entry
    std::uint32_t masks[4] = {};
    bool hasMasks = false;
};

std::optional<Header> readHeader(const Reader& in) {
    if (!in.has(0, 18))
        return std::nullopt;
    Header h;
    h.dataAt = in.u32(10);
    const std::uint32_t size = in.u32(14);
    if (!in.has(14, size) || size < 12)
        return std::nullopt;
    if (size == 12) { // OS/2 1.x
        h.width = in.u16(18);
        h.height = static_cast<std::int16_t>(in.u16(20));
        h.bits = in.u16(24);
        h.paletteEntry = 3;
    } else if (size >= 40) {
        h.width = static_cast<std::int32_t>(in.u32(18));
        h.height = static_cast<std::int32_t>(in.u32(22));
        h.bits = in.u16(28);
        h.compression = in.u32(30);
        h.colours = in.u32(46);
        std::size_t after = 14 + size;
        if (h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS) {
            const int count = h.compression == BI_ALPHABITFIELDS ? 4 : 3;
            const std::size_t at = size >= 52 ? 54 : after; // in the header, or after it
            if (!in.has(at, 4 * static_cast<std::size_t>(count)))
                return std::nullopt;
            for (int i = 0; i < count; ++i)
                h.masks[i] = in.u32(at + 4 * static_cast<std::size_t>(i));
            if (size >= 56)
                h.masks[3] = in.u32(66);
            if (size < 52)
                after += 4 * static_cast<std::size_t>(count);
            h.hasMasks = true;
        } else if (size >= 108 && h.bits == 32) {
            // Version 4 and 5 headers may give an alpha mask for plain pixels.
            h.masks[3] = in.u32(66);
        }
        h.paletteAt = after;
        return h;
    } else {
        return std::nullopt;
    }
    h.paletteAt = 14 + size;
    return h;
}

} // namespace

Verdict decodeBmp(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    const Reader in(bytes);
    const auto header = readHeader(in);
    if (!header)
        return Verdict::Invalid;
    const Header& h = *header;
    const bool topDown = h.height < 0;
    const std::int64_t width = h.width;
    const std::int64_t height = topDown ? -h.height : h.height;
    if (width <= 0 || height <= 0)
        return Verdict::Invalid;
    const bool rle = h.compression == BI_RLE8 || h.compression == BI_RLE4;
    const bool masked = h.compression == BI_BITFIELDS || h.compression == BI_ALPHABITFIELDS;
    const bool bitsFit =
        (h.compression == BI_RGB && (h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 16 ||
                                     h.bits == 24 || h.bits == 32)) ||
        (h.compression == BI_RLE8 && h.bits == 8) || (h.compression == BI_RLE4 && h.bits == 4) ||
        (masked && (h.bits == 16 || h.bits == 32));
    if (!bitsFit || (rle && topDown))
        return Verdict::Invalid;
    // Rows are stored bottom-up and RLE moves anywhere: the picture is held
    // whole, then reduced.
    const Size size{static_cast<int>(width), static_cast<int>(height)};
    const Size kept = keptSize(size, 1, budget.limits());
    if (!budget.allowsSource(static_cast<std::uint64_t>(width),
                             static_cast<std::uint64_t>(height)) ||
        !budget.takeFrame(static_cast<std::uint64_t>(kept.width),
                          static_cast<std::uint64_t>(kept.height)))
        return Verdict::OutOfMemory;
    sink.picture({size, 1, 0});

    // The palette.
    std::uint32_t palette[256] = {};
    if (h.bits <= 8) {
        const std::uint32_t most = 1u << h.bits;
        const std::uint32_t count = h.colours == 0 ? most : std::min(h.colours, most);
        if (!in.has(h.paletteAt, static_cast<std::size_t>(count) * h.paletteEntry))
            return Verdict::Invalid;
        // Blue, green, red: an entry of three bytes (an OS/2 bitmap's) has
        // no fourth to read.
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::size_t at = h.paletteAt + i * static_cast<std::size_t>(h.paletteEntry);
            palette[i] = 0xff000000u | in.u16(at) | in.u8(at + 2) << 16;
        }
    }

    Frame frame;
    frame.width = static_cast<int>(width);
    frame.height = static_cast<int>(height);
    frame.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    const auto rowOf = [&](std::int64_t stored) {
        const std::int64_t y = topDown ? stored : height - 1 - stored;
        return frame.pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    };

    if (!rle) {
        const std::uint64_t stride = (static_cast<std::uint64_t>(width) * h.bits + 31) / 32 * 4;
        if (!in.has(h.dataAt, stride * static_cast<std::uint64_t>(height)))
            return Verdict::Invalid; // pixel data cut short
        Channel red = Channel::of(0x00ff0000), green = Channel::of(0x0000ff00),
                blue = Channel::of(0x000000ff), alpha = Channel::of(h.masks[3]);
        if (h.bits == 16 && !h.hasMasks) {
            red = Channel::of(0x7c00);
            green = Channel::of(0x03e0);
            blue = Channel::of(0x001f);
        } else if (h.hasMasks) {
            red = Channel::of(h.masks[0]);
            green = Channel::of(h.masks[1]);
            blue = Channel::of(h.masks[2]);
        }
        const auto fill = [&](bool withAlpha) {
            for (std::int64_t y = 0; y < height; ++y) {
                const std::size_t at =
                    h.dataAt + static_cast<std::size_t>(stride * static_cast<std::uint64_t>(y));
                std::uint32_t* row = rowOf(y);
                for (std::int64_t x = 0; x < width; ++x) {
                    const auto ux = static_cast<std::size_t>(x);
                    switch (h.bits) {
                    case 1:
                        row[x] = palette[(in.u8(at + ux / 8) >> (7 - ux % 8)) & 1];
                        break;
                    case 4:
                        row[x] = palette[(in.u8(at + ux / 2) >> (ux % 2 ? 0 : 4)) & 15];
                        break;
                    case 8:
                        row[x] = palette[in.u8(at + ux)];
                        break;
                    case 24:
                        row[x] = 0xff000000u | in.u8(at + 3 * ux + 2) << 16 |
                                 in.u8(at + 3 * ux + 1) << 8 | in.u8(at + 3 * ux);
                        break;
                    default: {
                        const std::uint32_t v =
                            h.bits == 16 ? in.u16(at + 2 * ux) : in.u32(at + 4 * ux);
                        const std::uint32_t a = withAlpha ? alpha.get(v) : 255;
                        row[x] = premultiply(a << 24 | red.get(v) << 16 | green.get(v) << 8 |
                                             blue.get(v));
                    }
                    }
                }
            }
        };
        fill(alpha.mask != 0);
        // A picture whose alpha mask leaves every pixel transparent was
        // written by a program that never meant it to have alpha.
        if (alpha.mask && std::all_of(frame.pixels.begin(), frame.pixels.end(),
                                      [](std::uint32_t p) { return p >> 24 == 0; }))
            fill(false);
        sink.frame(kept == size ? frame : reduced(frame.pixels.data(), size, kept));
        return Verdict::Ok;
    }

    // RLE: pairs of bytes, runs and escapes, until the end-of-picture code.
    std::size_t at = h.dataAt;
    std::int64_t x = 0;
    std::int64_t y = 0;
    const bool four = h.compression == BI_RLE4;
    const auto put = [&](std::uint32_t index) {
        if (x < width && y < height)
            rowOf(y)[x] = palette[index & 0xff];
        ++x;
    };
    for (;;) {
        if (!in.has(at, 2))
            return Verdict::Invalid; // cut before its end code
        const std::uint32_t count = in.u8(at);
        const std::uint32_t value = in.u8(at + 1);
        at += 2;
        if (count > 0) {
            const std::uint32_t n = std::min<std::uint32_t>(
                count, static_cast<std::uint32_t>(std::max<std::int64_t>(width - x, 0)));
            for (std::uint32_t i = 0; i < n; ++i)
                put(four ? (i % 2 ? value & 15 : value >> 4) : value);
            x += count - n;
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of picture
            break;
        } else if (value == 2) { // move right and down
            if (!in.has(at, 2))
                return Verdict::Invalid;
            x += in.u8(at);
            y += in.u8(at + 1);
            at += 2;
        } else { // that many pixels as they stand, padded to two bytes
            const std::size_t n = four ? (value + 1) / 2 : value;
            if (!in.has(at, n))
                return Verdict::Invalid;
            for (std::uint32_t i = 0; i < value && x < width; ++i) {
                const std::uint32_t b = in.u8(at + (four ? i / 2 : i));
                put(four ? (i % 2 ? b & 15 : b >> 4) : b);
            }
            at += n + (n & 1);
        }
        if (y >= height)
            break; // past the last row: nothing more can be drawn
    }
    sink.frame(kept == size ? frame : reduced(frame.pixels.data(), size, kept));
    return Verdict::Ok;
}

} // namespace decoder

#include "decoder/decoder.h"

#include <algorithm>
#include <string_view>
#include <utility>

namespace decoder {

namespace {

// Moves every pixel to where `to` says, a square tile at a time, so that a
// quarter turn of a large photo reads and writes memory the caches hold
// rather than a column a row apart for every pixel.
template <typename To>
void movePixels(const Frame& frame, std::vector<std::uint32_t>& out, int outWidth, To to) {
    constexpr int tile = 64;
    const int w = frame.width;
    const int h = frame.height;
    for (int y0 = 0; y0 < h; y0 += tile)
        for (int x0 = 0; x0 < w; x0 += tile)
            for (int y = y0; y < std::min(h, y0 + tile); ++y) {
                const std::uint32_t* in = frame.pixels.data() + std::size_t(y) * std::size_t(w);
                for (int x = x0; x < std::min(w, x0 + tile); ++x) {
                    const auto [ox, oy] = to(x, y);
                    out[std::size_t(oy) * std::size_t(outWidth) + std::size_t(ox)] = in[x];
                }
            }
}

} // namespace

void orient(Frame& frame, int orientation) {
    if (orientation <= 1 || orientation > 8)
        return;
    const int w = frame.width;
    const int h = frame.height;
    const int ow = orientation >= 5 ? h : w;
    std::vector<std::uint32_t> out(frame.pixels.size());
    movePixels(frame, out, ow, [=](int x, int y) { return uprightOf(orientation, x, y, w, h); });
    frame.pixels = std::move(out);
    frame.width = ow;
    frame.height = orientation >= 5 ? w : h;
}

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> magic) {
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

} // namespace

Format formatOf(std::span<const std::uint8_t> bytes) {
    if (startsWith(bytes, {0xff, 0xd8, 0xff}))
        return Format::Jpeg;
    if (startsWith(bytes, {'G', 'I', 'F', '8'}))
        return Format::Gif;
    if (startsWith(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}))
        return Format::Png;
    if (startsWith(bytes, {'B', 'M'}))
        return Format::Bmp;
    if (startsWith(bytes, {'R', 'I', 'F', 'F'}) && bytes.size() >= 12 && bytes[8] == 'W' &&
        bytes[9] == 'E' && bytes[10] == 'B' && bytes[11] == 'P')
        return Format::Webp;
    // TIFF, and BigTIFF (43), as scanners and maps write pictures over 4 GB
    // and libtiff reads alike.
    if (startsWith(bytes, {'I', 'I', 42, 0}) || startsWith(bytes, {'M', 'M', 0, 42}) ||
        startsWith(bytes, {'I', 'I', 43, 0}) || startsWith(bytes, {'M', 'M', 0, 43}))
        return Format::Tiff;
    // HEIF and AVIF files open with a file-type box naming their brands: the
    // main one and those it is compatible with. An AVIF file is one that
    // says so and names no HEVC brand; libheif reads the other HEIF files.
    if (bytes.size() >= 16 &&
        std::string_view(reinterpret_cast<const char*>(bytes.data()) + 4, 4) == "ftyp") {
        const std::size_t box =
            std::min<std::size_t>(bytes.size(), (std::size_t(bytes[0]) << 24) | (bytes[1] << 16) |
                                                    (bytes[2] << 8) | bytes[3]);
        bool avif = false;
        bool hevc = false;
        bool heif = false;
        for (std::size_t at = 8; at + 4 <= box; at += at == 8 ? 8 : 4) {
            const std::string_view brand(reinterpret_cast<const char*>(bytes.data()) + at, 4);
            avif = avif || brand == "avif" || brand == "avis";
            hevc = hevc || brand == "heic" || brand == "heix" || brand == "heim" ||
                   brand == "heis" || brand == "hevc" || brand == "hevx" || brand == "hevm" ||
                   brand == "hevs";
            heif = heif || brand == "mif1" || brand == "msf1" || brand == "mif2";
        }
        // A low-overhead file (major brand mif3) names its kind where the
        // minor version stands; libheif reads those where it knows them.
        if (std::string_view(reinterpret_cast<const char*>(bytes.data()) + 8, 4) == "mif3")
            return Format::Heif;
        if (avif && !hevc)
            return Format::Avif;
        if (hevc || heif)
            return Format::Heif;
        return Format::Unknown;
    }
    if (startsWith(bytes, {0xff, 0x0a}) ||
        startsWith(bytes, {0, 0, 0, 0x0c, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'}))
        return Format::Jxl;
    return Format::Unknown;
}

const char* helperOf(Format format) {
    switch (format) {
    case Format::Jpeg:
    case Format::Gif:
    case Format::Png:
    case Format::Bmp:
        return "orbitale-decode";
    case Format::Webp:
        return "orbitale-decode-webp";
    case Format::Tiff:
        return "orbitale-decode-tiff";
    case Format::Heif:
        return "orbitale-decode-heif";
    case Format::Avif:
        return "orbitale-decode-avif";
    case Format::Jxl:
        return "orbitale-decode-jxl";
    case Format::Unknown:
        break;
    }
    return nullptr;
}

} // namespace decoder

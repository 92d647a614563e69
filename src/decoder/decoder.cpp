#include "decoder/decoder.h"

#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <string_view>

namespace decoder {

Size keptSize(Size picture, int frames, const Limits& limits) {
    if (picture.width <= 0 || picture.height <= 0)
        return picture;
    const double w = picture.width;
    const double h = picture.height;
    double scale = std::min(1.0, std::max(limits.kept.width / w, limits.kept.height / h));
    const auto at = [&](double s) {
        // A hair under the exact product, so that 4000 × 0.513 is 2052, not 2053.
        return Size{std::clamp(static_cast<int>(std::ceil(w * s - 1e-6)), 1, picture.width),
                    std::clamp(static_cast<int>(std::ceil(h * s - 1e-6)), 1, picture.height)};
    };
    const auto bytes = [&](Size s) {
        return std::uint64_t(std::max(frames, 1)) * std::uint64_t(s.width) *
               std::uint64_t(s.height) * 4;
    };
    Size kept = at(scale);
    if (bytes(kept) > limits.keptBytes) {
        scale *=
            std::sqrt(static_cast<double>(limits.keptBytes) / static_cast<double>(bytes(kept)));
        kept = at(scale);
        while (bytes(kept) > limits.keptBytes && (kept.width > 1 || kept.height > 1)) {
            scale *= 0.99;
            kept = at(scale);
        }
    }
    return kept;
}

bool Budget::allowsPicture(std::uint64_t width, std::uint64_t height) const {
    return width > 0 && height > 0 && width <= (1u << 30) && height <= (1u << 30) &&
           width * height <= m_limits.pixels;
}

bool Budget::allowsSource(std::uint64_t width, std::uint64_t height) const {
    return allowsPicture(width, height) && width * height * 4 <= m_limits.sourceBytes;
}

bool Budget::takeFrame(std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0 || width > (1u << 30) || height > (1u << 30))
        return false;
    const std::uint64_t bytes = width * height * 4;
    if (m_frames >= m_limits.frames || bytes > m_limits.keptBytes - m_used)
        return false;
    m_used += static_cast<std::size_t>(bytes);
    ++m_frames;
    return true;
}

int cpuMsFor(std::uint64_t pixels, double nsPerPixel) {
    // Two and a half times what it takes here, for a slower processor.
    return static_cast<int>(std::min(2.5 * nsPerPixel * static_cast<double>(pixels) / 1e6, 1e6));
}

void orient(Frame& frame, int orientation) {
    if (orientation <= 1 || orientation > 8)
        return;
    const int w = frame.width;
    const int h = frame.height;
    const bool swaps = orientation >= 5;
    const int ow = swaps ? h : w;
    const int oh = swaps ? w : h;
    std::vector<std::uint32_t> out(frame.pixels.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int ox = x;
            int oy = y;
            switch (orientation) {
            case 2:
                ox = w - 1 - x;
                break;
            case 3:
                ox = w - 1 - x;
                oy = h - 1 - y;
                break;
            case 4:
                oy = h - 1 - y;
                break;
            case 5:
                ox = y;
                oy = x;
                break;
            case 6:
                ox = h - 1 - y;
                oy = x;
                break;
            case 7:
                ox = h - 1 - y;
                oy = w - 1 - x;
                break;
            case 8:
                ox = y;
                oy = w - 1 - x;
                break;
            default:
                break;
            }
            out[static_cast<std::size_t>(oy) * static_cast<std::size_t>(ow) +
                static_cast<std::size_t>(ox)] =
                frame.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                             static_cast<std::size_t>(x)];
        }
    }
    frame.pixels = std::move(out);
    frame.width = ow;
    frame.height = oh;
}

void initialiseLibraries() {
    // libheif finds its decoders here (as plugins where the release ships
    // them so), while the helper may still open files.
    heif_init(nullptr);
}

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> magic) {
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

} // namespace

Verdict decode(std::span<const std::uint8_t> bytes, const Limits& limits, FrameSink& sink) {
    Budget budget(limits);
    if (startsWith(bytes, {0xff, 0xd8, 0xff}))
        return decodeJpeg(bytes, budget, sink);
    if (startsWith(bytes, {'G', 'I', 'F', '8'}))
        return decodeGif(bytes, budget, sink);
    if (startsWith(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}))
        return decodePng(bytes, budget, sink);
    if (startsWith(bytes, {'B', 'M'}))
        return decodeBmp(bytes, budget, sink);
    // WebP and TIFF
    if (startsWith(bytes, {'R', 'I', 'F', 'F'}) && bytes.size() >= 12 && bytes[8] == 'W' &&
        bytes[9] == 'E' && bytes[10] == 'B' && bytes[11] == 'P')
        return decodeWebp(bytes, budget, sink);
    if (startsWith(bytes, {'I', 'I', 42, 0}) || startsWith(bytes, {'M', 'M', 0, 42}))
        return decodeTiff(bytes, budget, sink);
    // HEIF, AVIF and JPEG XL
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
            return decodeHeif(bytes, budget, sink);
        if (avif && !hevc)
            return decodeAvif(bytes, budget, sink);
        if (hevc || heif)
            return decodeHeif(bytes, budget, sink);
        return Verdict::Invalid;
    }
    if (startsWith(bytes, {0xff, 0x0a}) ||
        startsWith(bytes, {0, 0, 0, 0x0c, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'}))
        return decodeJxl(bytes, budget, sink);
    return Verdict::Invalid;
}

} // namespace decoder

#include "decoder/budget.h"

#include <algorithm>
#include <cmath>

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

} // namespace decoder

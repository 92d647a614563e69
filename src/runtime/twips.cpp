#include "runtime/twips.h"

#include <cmath>

namespace rt {

std::optional<int> twipsToPixels(double twips) {
    // Qt keeps widget coordinates well inside 2^24; far beyond any screen.
    constexpr double limit = 16'000'000.0;
    if (!std::isfinite(twips))
        return std::nullopt;
    const double pixels = std::round(twips / twipsPerPixel);
    if (pixels < -limit || pixels > limit)
        return std::nullopt;
    return static_cast<int>(pixels);
}

} // namespace rt

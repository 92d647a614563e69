#pragma once

// Twips are the unit of every position and size above the toolkit layer:
// 1/1440 inch, so 15 twips to a device-independent pixel at 96 dpi. Qt's own
// high-DPI scaling takes it from there to device pixels.

#include <optional>

namespace rt {

inline constexpr int twipsPerPixel = 15;

// The nearest pixel to a position in twips, or nothing when the position is
// not finite or beyond what a widget can be placed at.
std::optional<int> twipsToPixels(double twips);

constexpr double pixelsToTwips(int pixels) {
    return static_cast<double>(pixels) * twipsPerPixel;
}

} // namespace rt

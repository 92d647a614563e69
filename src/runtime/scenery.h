#pragma once

// Where a scenery is drawn in its picture box, on either toolkit: it covers
// the whole box, its aspect kept, centred. A picture of the box's own size
// is drawn pixel for pixel under the border; a larger or smaller one is
// scaled until it covers the box.

#include <algorithm>
#include <cmath>

namespace rt {

struct Area {
    int x;
    int y;
    int width;
    int height;
};

// In the box's own coordinates, its border included.
inline Area sceneryArea(int boxWidth, int boxHeight, int pictureWidth, int pictureHeight) {
    if ((pictureWidth == boxWidth && pictureHeight == boxHeight) || pictureWidth <= 0 ||
        pictureHeight <= 0)
        return {0, 0, pictureWidth, pictureHeight};
    const double scale =
        std::max(double(boxWidth) / pictureWidth, double(boxHeight) / pictureHeight);
    const int width = std::max(1, static_cast<int>(std::lround(pictureWidth * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(pictureHeight * scale)));
    return {(boxWidth - width) / 2, (boxHeight - height) / 2, width, height};
}

} // namespace rt

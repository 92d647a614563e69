#pragma once

#include <QImage>

namespace pictures {

// The Earth as a lit globe of `size` pixels, turned so that `longitude`
// (degrees east) faces the viewer, its axis tilted; outside the disc the
// image is transparent.
QImage renderGlobe(const QImage& map, int size, double longitude);

} // namespace pictures

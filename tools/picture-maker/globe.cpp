#include "globe.h"

#include <algorithm>
#include <cmath>

namespace pictures {

namespace {

QColor sample(const QImage& map, double lon, double lat) {
    // Equirectangular map: longitude -180..180 across, latitude 90..-90 down.
    double u = (lon / (2 * M_PI) + 0.5) * map.width();
    const double v = (0.5 - lat / M_PI) * map.height();
    u = std::fmod(u, map.width());
    if (u < 0)
        u += map.width();
    const int x0 = static_cast<int>(u) % map.width(), x1 = (x0 + 1) % map.width();
    const int y0 = std::clamp(static_cast<int>(v), 0, map.height() - 1);
    const int y1 = std::min(y0 + 1, map.height() - 1);
    const double fx = u - std::floor(u), fy = v - std::floor(v);
    auto mix = [&](QRgb a, QRgb b, double f, int shift) {
        return ((a >> shift) & 0xff) * (1 - f) + ((b >> shift) & 0xff) * f;
    };
    const QRgb a = map.pixel(x0, y0), b = map.pixel(x1, y0), c = map.pixel(x0, y1),
               d = map.pixel(x1, y1);
    double rgb[3];
    for (int k = 0; k < 3; ++k) {
        const int shift = 16 - 8 * k;
        rgb[k] = mix(a, b, fx, shift) * (1 - fy) + mix(c, d, fx, shift) * fy;
    }
    return QColor::fromRgbF(rgb[0] / 255, rgb[1] / 255, rgb[2] / 255);
}

} // namespace

QImage renderGlobe(const QImage& map, int size, double longitude) {
    QImage out(size, size, QImage::Format_ARGB32);
    out.fill(Qt::transparent);
    const double tilt = 23.4 * M_PI / 180;
    const double lon0 = longitude * M_PI / 180;
    // Sunlight from the upper left, a little in front.
    double lx = -0.4, ly = -0.35, lz = 0.85;
    const double ln = std::sqrt(lx * lx + ly * ly + lz * lz);
    lx /= ln, ly /= ln, lz /= ln;
    constexpr int ss = 4; // samples per pixel per axis
    const double radius = size / 2.0 - 0.5;
    for (int py = 0; py < size; ++py) {
        for (int px = 0; px < size; ++px) {
            double r = 0, g = 0, b = 0;
            int covered = 0;
            for (int sy = 0; sy < ss; ++sy) {
                for (int sx = 0; sx < ss; ++sx) {
                    const double nx = (px + (sx + 0.5) / ss - size / 2.0) / radius;
                    const double ny = (py + (sy + 0.5) / ss - size / 2.0) / radius;
                    const double rr = nx * nx + ny * ny;
                    if (rr > 1)
                        continue;
                    const double nz = std::sqrt(1 - rr);
                    // Undo the axial tilt (a turn about the line of sight).
                    const double tx = nx * std::cos(tilt) + ny * std::sin(tilt);
                    const double ty = -nx * std::sin(tilt) + ny * std::cos(tilt);
                    const double lat = std::asin(std::clamp(-ty, -1.0, 1.0));
                    const double lon = std::atan2(tx, nz) + lon0;
                    const QColor c = sample(map, lon, lat);
                    const double diffuse = std::max(0.0, nx * lx + ny * ly + nz * lz);
                    const double light = 0.22 + 0.95 * diffuse;
                    const double rim = std::pow(1 - nz, 2.5) * 0.55;
                    r += (c.redF() * light) * (1 - rim) + 0.45 * rim;
                    g += (c.greenF() * light) * (1 - rim) + 0.65 * rim;
                    b += (c.blueF() * light) * (1 - rim) + 1.0 * rim;
                    ++covered;
                }
            }
            if (covered * 2 < ss * ss)
                continue; // GIF transparency is all or nothing
            out.setPixelColor(px, py,
                              QColor::fromRgbF(std::min(1.0, r / covered),
                                               std::min(1.0, g / covered),
                                               std::min(1.0, b / covered)));
        }
    }
    return out;
}

} // namespace pictures

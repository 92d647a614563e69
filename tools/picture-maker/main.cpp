// picture-maker SOURCE-DIR [EARTH-MAP]
//
// Draws Orbitale's six pictures and its icon into the source tree:
//   pictures/share/orbitale/drives/E/VB/  the two Earths and four sceneries
//   data/icons/                           the icon as PNGs, 16 to 512 pixels
//   data/windows/orbitale.ico             the icon for Windows builds
// The Earth is drawn from an equirectangular map of it (by default NASA's
// Blue Marble, as Debian's xplanet-images ships it).

#include "gif_writer.h"
#include "globe.h"
#include "icon.h"
#include "scenery.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>

using namespace pictures;

namespace {

bool saveJpeg(const QImage& image, const QString& path) {
    return image.save(path, "JPEG", 90);
}

// One turn of the Earth, starting with `longitude` facing the viewer.
std::vector<QImage> spinningEarth(const QImage& map, double longitude) {
    constexpr int frames = 24;
    // Twice the 49 pixels the Earth is drawn at: sharp on a 2x screen too.
    constexpr int size = 98;
    std::vector<QImage> out;
    for (int i = 0; i < frames; ++i)
        out.push_back(renderGlobe(map, size, longitude + i * 360.0 / frames));
    return out;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2 || argc > 3) {
        std::fputs("usage: picture-maker SOURCE-DIR [EARTH-MAP]\n", stderr);
        return 2;
    }
    const QDir root(QString::fromLocal8Bit(argv[1]));
    const QString mapPath = argc == 3 ? QString::fromLocal8Bit(argv[2])
                                      : QStringLiteral("/usr/share/xplanet/images/earth.jpg");
    const QImage map(mapPath);
    if (map.isNull()) {
        std::fprintf(stderr, "picture-maker: cannot read the Earth map %s\n", qPrintable(mapPath));
        return 1;
    }
    const QString vb = root.filePath(QStringLiteral("pictures/share/orbitale/drives/E/VB"));
    const QString icons = root.filePath(QStringLiteral("data/icons"));
    const QString windows = root.filePath(QStringLiteral("data/windows"));
    for (const QString& dir : {vb, icons, windows})
        QDir().mkpath(dir);

    bool ok = true;
    // dq3: Asia and China facing us; dq4: Africa and Europe.
    ok &= writeAnimatedGif(vb + "/dq3.gif", spinningEarth(map, 105), 120);
    ok &= writeAnimatedGif(vb + "/dq4.gif", spinningEarth(map, 10), 120);
    ok &= saveJpeg(outerSpace(), vb + "/xxgdt.jpg");
    ok &= saveJpeg(blueSky(), vb + "/ltby1.jpg");
    ok &= saveJpeg(capitalBeijing(), vb + "/bjtam.jpg");
    ok &= saveJpeg(parkScenery(), vb + "/qdh_nr.jpg");
    for (int size : {16, 24, 32, 48, 64, 128, 256, 512})
        ok &= renderIcon(size).save(icons + QStringLiteral("/orbitale-%1.png").arg(size));
    ok &= writeWindowsIcon(windows + "/orbitale.ico");
    if (!ok) {
        std::fputs("picture-maker: could not write every picture\n", stderr);
        return 1;
    }
    return 0;
}

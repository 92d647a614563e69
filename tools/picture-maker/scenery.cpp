#include "scenery.h"

#include "noise.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <random>

namespace pictures {

namespace {

constexpr int W = 684;
constexpr int H = 484;

QImage canvas() {
    QImage image(W, H, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

void verticalGradient(QPainter& p, QRectF area,
                      std::initializer_list<std::pair<double, QColor>> stops) {
    QLinearGradient g(area.topLeft(), area.bottomLeft());
    for (const auto& [at, colour] : stops)
        g.setColorAt(at, colour);
    p.fillRect(area, g);
}

QColor mix(QColor a, QColor b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

// Fluffy clouds over whatever is in the image already, by fractal noise.
void clouds(QImage& image, int top, int bottom, double cover, std::uint32_t seed) {
    for (int y = top; y < bottom; ++y) {
        const double band = smoothstep(top, top + 40, y) * (1 - smoothstep(bottom - 60, bottom, y));
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < W; ++x) {
            const double n = fbm(x / 150.0, y / 70.0, seed, 6);
            const double density = smoothstep(cover, cover + 0.18, n) * band;
            if (density <= 0)
                continue;
            // Lit from above: the undersides are a little grey.
            const double shade = 0.80 + 0.20 * fbm(x / 60.0, (y - 12) / 30.0, seed + 7, 3);
            const QColor cloud = QColor::fromRgbF(shade, shade, std::min(1.0, shade + 0.03));
            line[x] = mix(QColor(line[x]), cloud, density).rgb();
        }
    }
}

QPainterPath roof(double left, double right, double eave, double ridge, double lift) {
    // A Chinese roof: a curved slope with upturned eaves.
    QPainterPath path;
    const double mid = (left + right) / 2, span = right - left;
    path.moveTo(left - 6, eave - lift);
    path.quadTo(left + span * 0.12, eave + 2, left + span * 0.22, ridge + (eave - ridge) * 0.35);
    path.lineTo(left + span * 0.30, ridge);
    path.lineTo(right - span * 0.30, ridge);
    path.lineTo(right - span * 0.22, ridge + (eave - ridge) * 0.35);
    path.quadTo(right - span * 0.12, eave + 2, right + 6, eave - lift);
    path.quadTo(mid, eave + 6, left - 6, eave - lift);
    return path;
}

} // namespace

QImage outerSpace() {
    QImage image = canvas();
    // Deep space with a band of the Milky Way and a nebula.
    for (int y = 0; y < H; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < W; ++x) {
            const double band = std::exp(-std::pow((y - 0.55 * x - 80) / 120.0, 2));
            const double dust = fbm(x / 90.0, y / 90.0, 11, 6);
            const double glow = band * smoothstep(0.35, 0.8, dust);
            const double nebula =
                smoothstep(0.45, 0.85, fbm(x / 130.0 + 3, y / 110.0, 23, 6)) *
                std::exp(-(std::pow(x - 470, 2) + std::pow(y - 150, 2)) / 26000.0);
            QColor c = QColor::fromRgbF(0.01, 0.015, 0.05 + 0.04 * y / H);
            c = mix(c, QColor(150, 140, 190), glow * 0.55);
            c = mix(c, QColor(200, 60, 140), nebula * 0.8);
            c = mix(c, QColor(80, 150, 230), nebula * nebula * 0.6);
            line[x] = c.rgb();
        }
    }
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    std::mt19937 random(2006);
    std::uniform_real_distribution<double> ux(0, W), uy(0, H), u01(0, 1);
    for (int i = 0; i < 1400; ++i) {
        const double x = ux(random), y = uy(random);
        const double b = std::pow(u01(random), 3);
        const QColor tint = mix(QColor(255, 230, 200), QColor(200, 220, 255), u01(random));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(tint.red(), tint.green(), tint.blue(), static_cast<int>(80 + 175 * b)));
        p.drawEllipse(QPointF(x, y), 0.4 + 1.1 * b, 0.4 + 1.1 * b);
    }
    // A few bright stars with a soft glow and rays.
    for (int i = 0; i < 9; ++i) {
        const QPointF at(ux(random), uy(random));
        QRadialGradient halo(at, 14);
        halo.setColorAt(0, QColor(255, 255, 255, 230));
        halo.setColorAt(0.15, QColor(200, 220, 255, 120));
        halo.setColorAt(1, QColor(120, 160, 255, 0));
        p.setBrush(halo);
        p.drawEllipse(at, 14, 14);
        p.setPen(QPen(QColor(220, 235, 255, 150), 1));
        p.drawLine(at - QPointF(18, 0), at + QPointF(18, 0));
        p.drawLine(at - QPointF(0, 18), at + QPointF(0, 18));
        p.setPen(Qt::NoPen);
    }
    // A ringed planet low on the left.
    const QPointF planet(150, 370);
    QRadialGradient body(planet + QPointF(-20, -20), 80);
    body.setColorAt(0, QColor(236, 204, 150));
    body.setColorAt(0.7, QColor(170, 120, 70));
    body.setColorAt(1, QColor(40, 25, 15));
    p.save();
    p.translate(planet);
    p.rotate(-18);
    p.setPen(QPen(QColor(220, 200, 160, 170), 5));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(-115, -26, 230, 52), 0, 180 * 16); // rear half
    p.restore();
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawEllipse(planet, 62, 62);
    p.save();
    p.translate(planet);
    p.rotate(-18);
    p.setPen(QPen(QColor(235, 215, 175, 220), 5));
    p.drawArc(QRectF(-115, -26, 230, 52), 180 * 16, 180 * 16); // front half
    p.restore();
    return image;
}

QImage blueSky() {
    QImage image = canvas();
    {
        QPainter p(&image);
        verticalGradient(p, QRectF(0, 0, W, H),
                         {{0, QColor(22, 86, 186)},
                          {0.55, QColor(84, 154, 226)},
                          {0.85, QColor(170, 212, 244)},
                          {1, QColor(200, 228, 248)}});
        // The sun's glow at the upper right.
        QRadialGradient sun(QPointF(560, 70), 170);
        sun.setColorAt(0, QColor(255, 255, 240, 255));
        sun.setColorAt(0.12, QColor(255, 250, 220, 200));
        sun.setColorAt(1, QColor(255, 255, 255, 0));
        p.fillRect(image.rect(), sun);
    }
    clouds(image, 20, 380, 0.52, 5);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Far hills and a green meadow.
    QPainterPath far;
    far.moveTo(0, H);
    for (int x = 0; x <= W; x += 4)
        far.lineTo(x, 400 - 34 * fbm(x / 120.0, 0.5, 3, 4) - 10 * std::sin(x / 90.0));
    far.lineTo(W, H);
    p.fillPath(far, QColor(96, 140, 120));
    QPainterPath near;
    near.moveTo(0, H);
    for (int x = 0; x <= W; x += 4)
        near.lineTo(x, 440 - 26 * fbm(x / 160.0, 3.5, 9, 4));
    near.lineTo(W, H);
    QLinearGradient meadow(0, 410, 0, H);
    meadow.setColorAt(0, QColor(110, 180, 70));
    meadow.setColorAt(1, QColor(60, 130, 40));
    p.fillPath(near, meadow);
    return image;
}

QImage capitalBeijing() {
    QImage image = canvas();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    verticalGradient(p, QRectF(0, 0, W, 330),
                     {{0, QColor(40, 110, 200)}, {1, QColor(170, 205, 235)}});
    p.end();
    clouds(image, 10, 200, 0.6, 41);
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // The square in front, grey stone in perspective.
    verticalGradient(p, QRectF(0, 330, W, H - 330),
                     {{0, QColor(176, 170, 160)}, {1, QColor(130, 124, 118)}});
    p.setPen(QPen(QColor(150, 144, 136), 1));
    for (int i = -12; i <= 12; ++i)
        p.drawLine(QPointF(342 + i * 30, 330), QPointF(342 + i * 90, H));

    // The gate's red wall with its five arched passages.
    const QRectF wall(70, 245, 544, 95);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(178, 36, 30));
    p.drawRect(wall);
    p.setBrush(QColor(150, 26, 22));
    p.drawRect(QRectF(70, 245, 544, 8));
    const double doors[] = {342, 262, 422, 192, 492};
    const double doorWidth[] = {34, 28, 28, 22, 22};
    for (int i = 0; i < 5; ++i) {
        QPainterPath arch;
        const double x = doors[i], w = doorWidth[i], bottom = 340, top = bottom - w * 2.0;
        arch.moveTo(x - w / 2, bottom);
        arch.lineTo(x - w / 2, top + w / 2);
        arch.arcTo(QRectF(x - w / 2, top, w, w), 180, -180);
        arch.lineTo(x + w / 2, bottom);
        arch.closeSubpath();
        p.fillPath(arch, QColor(52, 24, 20));
    }
    // White marble balustrade on the wall.
    p.setBrush(QColor(236, 232, 222));
    p.drawRect(QRectF(80, 234, 524, 11));
    p.setPen(QPen(QColor(200, 194, 184), 1));
    for (double x = 84; x < 604; x += 9)
        p.drawLine(QPointF(x, 234), QPointF(x, 245));
    p.setPen(Qt::NoPen);

    // The hall on top: red columns under a double-eaved golden roof.
    p.setBrush(QColor(190, 40, 32));
    p.drawRect(QRectF(140, 176, 404, 58));
    p.setBrush(QColor(120, 20, 16));
    for (double x = 150; x <= 534; x += 32)
        p.drawRect(QRectF(x, 180, 6, 54));
    p.setBrush(QColor(40, 90, 110)); // painted beams under the eaves
    p.drawRect(QRectF(136, 170, 412, 10));
    const QColor gold(232, 176, 36), goldDark(186, 132, 24);
    p.setBrush(gold);
    p.drawPath(roof(110, 574, 176, 150, 10));
    p.setBrush(QColor(40, 90, 110));
    p.drawRect(QRectF(170, 128, 344, 16));
    p.setBrush(QColor(190, 40, 32));
    p.drawRect(QRectF(180, 136, 324, 12));
    p.setBrush(goldDark);
    p.drawPath(roof(150, 534, 136, 96, 12));
    p.setBrush(gold);
    p.drawRect(QRectF(246, 92, 192, 6)); // ridge
    p.setPen(QPen(goldDark, 1.2));
    for (double x = 200; x < 490; x += 7)
        p.drawLine(QPointF(x, 101), QPointF(x + (x - 342) * 0.08, 134));
    p.setPen(Qt::NoPen);
    // Red lanterns hung along the wall.
    for (double x : {170.0, 514.0}) {
        QRadialGradient lantern(QPointF(x, 262), 12);
        lantern.setColorAt(0, QColor(255, 90, 60));
        lantern.setColorAt(1, QColor(170, 20, 10));
        p.setBrush(lantern);
        p.drawEllipse(QPointF(x, 262), 11, 9);
    }
    // Two white marble columns before the gate.
    for (double x : {116.0, 568.0}) {
        p.setBrush(QColor(240, 236, 228));
        p.drawRect(QRectF(x - 5, 250, 10, 110));
        p.drawRect(QRectF(x - 14, 355, 28, 8));
        p.drawEllipse(QPointF(x, 248), 8, 5);
        p.drawRect(QRectF(x - 16, 262, 32, 5)); // cloud board
    }
    // The moat with its marble bridges.
    p.setBrush(QColor(70, 110, 130));
    p.drawRect(QRectF(0, 352, W, 14));
    p.setBrush(QColor(232, 228, 218));
    for (int i = 0; i < 5; ++i)
        p.drawRect(QRectF(doors[i] - doorWidth[i] / 2 - 4, 350, doorWidth[i] + 8, 18));
    // Trees on both sides.
    for (double x : {18.0, 44.0, 640.0, 668.0}) {
        QRadialGradient crown(QPointF(x - 6, 290), 40);
        crown.setColorAt(0, QColor(70, 130, 60));
        crown.setColorAt(1, QColor(30, 80, 35));
        p.setBrush(crown);
        p.drawEllipse(QPointF(x, 300), 26, 52);
    }
    return image;
}

QImage parkScenery() {
    QImage image = canvas();
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    verticalGradient(p, QRectF(0, 0, W, 250),
                     {{0, QColor(110, 170, 225)}, {1, QColor(215, 232, 240)}});
    p.end();
    clouds(image, 0, 170, 0.62, 77);
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Misty hills behind the lake.
    for (int layer = 0; layer < 2; ++layer) {
        QPainterPath hill;
        hill.moveTo(0, 250);
        for (int x = 0; x <= W; x += 4)
            hill.lineTo(x, 200 + layer * 22 - 70 * fbm(x / 200.0, layer * 5.0, 13, 4));
        hill.lineTo(W, 250);
        p.fillPath(hill, layer == 0 ? QColor(130, 165, 160) : QColor(84, 130, 100));
    }
    // The scene above the waterline, kept to mirror into the lake.
    p.setBrush(QColor(70, 120, 60));
    p.setPen(Qt::NoPen);
    p.drawRect(QRectF(0, 244, W, 8));
    // A pavilion on the far shore.
    const double px = 470;
    p.setBrush(QColor(236, 230, 214));
    p.drawRect(QRectF(px - 52, 236, 104, 10));
    p.setBrush(QColor(170, 34, 28));
    for (double x : {px - 40, px - 14, px + 12, px + 38})
        p.drawRect(QRectF(x, 192, 5, 44));
    p.setBrush(QColor(50, 70, 66));
    p.drawPath(roof(px - 62, px + 62, 194, 164, 10));
    p.drawPath(roof(px - 30, px + 30, 168, 140, 8));
    p.setBrush(QColor(200, 160, 40));
    p.drawEllipse(QPointF(px, 138), 4, 6);
    // A stone arch bridge on the left.
    QPainterPath bridge;
    bridge.moveTo(30, 252);
    bridge.lineTo(30, 246);
    bridge.quadTo(140, 170, 250, 246);
    bridge.lineTo(250, 252);
    bridge.lineTo(180, 252);
    bridge.arcTo(QRectF(100, 226, 80, 52), 0, 180);
    bridge.closeSubpath();
    p.fillPath(bridge, QColor(214, 208, 196));
    p.end();

    // The lake mirrors the upper half, darker and blue, rippled.
    const QImage above = image.copy(0, 0, W, 252);
    for (int y = 252; y < 400; ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int mirrored = std::clamp(2 * 252 - y, 0, 251);
        for (int x = 0; x < W; ++x) {
            const int dx = static_cast<int>(3 * std::sin(y * 0.9 + x * 0.02) * (y - 250) / 150.0);
            const QColor c(above.pixel(std::clamp(x + dx, 0, W - 1), mirrored));
            line[x] = mix(c, QColor(40, 90, 120), 0.35 + 0.25 * (y - 252) / 148.0).rgb();
        }
    }
    p.begin(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // The near shore: lawn, flowers and a weeping willow.
    QPainterPath shore;
    shore.moveTo(0, H);
    shore.lineTo(0, 390);
    shore.quadTo(300, 372, W, 402);
    shore.lineTo(W, H);
    QLinearGradient lawn(0, 380, 0, H);
    lawn.setColorAt(0, QColor(120, 178, 70));
    lawn.setColorAt(1, QColor(62, 126, 44));
    p.fillPath(shore, lawn);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> ux(0, W), uy(410, H - 4), u01(0, 1);
    const QColor flowers[] = {QColor(240, 70, 90), QColor(255, 210, 60), QColor(250, 250, 245),
                              QColor(220, 110, 200)};
    for (int i = 0; i < 260; ++i) {
        p.setBrush(flowers[i % 4]);
        const double r = 1.5 + 2.0 * u01(random);
        p.drawEllipse(QPointF(ux(random), uy(random)), r, r);
    }
    p.setBrush(QColor(80, 56, 36));
    QPainterPath trunk;
    trunk.moveTo(96, H);
    trunk.cubicTo(104, 420, 88, 360, 110, 300);
    trunk.lineTo(122, 302);
    trunk.cubicTo(106, 360, 124, 420, 122, H);
    p.drawPath(trunk);
    for (int i = 0; i < 90; ++i) {
        const double sx = 40 + 150 * u01(random), sy = 280 + 30 * u01(random);
        QPainterPath strand;
        strand.moveTo(sx, sy - 20);
        strand.quadTo(sx + 8, sy, sx + 2 * (u01(random) - 0.5) * 6, sy + 60 + 70 * u01(random));
        p.setPen(QPen(mix(QColor(90, 150, 50), QColor(150, 200, 80), u01(random)), 2.2));
        p.setBrush(Qt::NoBrush);
        p.drawPath(strand);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(90, 150, 60, 200));
    p.drawEllipse(QPointF(115, 290), 80, 34);
    return image;
}

} // namespace pictures

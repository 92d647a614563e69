#include "icon.h"

#include <QFile>
#include <QPainter>
#include <QRadialGradient>

#include <array>
#include <cmath>
#include <cstdint>

namespace pictures {

QImage renderIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    // Night sky disc.
    QRadialGradient sky(QPointF(32, 32), 32);
    sky.setColorAt(0, QColor(24, 36, 84));
    sky.setColorAt(1, QColor(6, 10, 34));
    p.setPen(Qt::NoPen);
    p.setBrush(sky);
    p.drawEllipse(QRectF(1, 1, 62, 62));
    // The orbit, tilted.
    p.setPen(QPen(QColor(250, 210, 90), 2.2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(7, 19, 50, 26));
    // The Sun.
    QRadialGradient sun(QPointF(30, 30), 9);
    sun.setColorAt(0, QColor(255, 250, 200));
    sun.setColorAt(1, QColor(250, 160, 20));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(32, 32), 8, 8);
    // The Earth, on the orbit's right-hand side.
    QRadialGradient earth(QPointF(49, 36), 11);
    earth.setColorAt(0, QColor(90, 170, 255));
    earth.setColorAt(1, QColor(16, 70, 170));
    p.setBrush(earth);
    p.drawEllipse(QPointF(52, 39), 9.5, 9.5);
    p.setBrush(QColor(60, 170, 70));
    p.drawEllipse(QPointF(49, 37), 4, 3);
    p.drawEllipse(QPointF(55, 42), 3, 2.2);
    return image;
}

namespace {

using Palette = std::vector<QRgb>;

Palette vga16() {
    return {0xff000000, 0xff800000, 0xff008000, 0xff808000, 0xff000080, 0xff800080,
            0xff008080, 0xffc0c0c0, 0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
            0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
}

int nearest(const Palette& palette, QRgb c) {
    int best = 0;
    long bestDistance = -1;
    for (size_t i = 0; i < palette.size(); ++i) {
        const long dr = qRed(c) - qRed(palette[i]), dg = qGreen(c) - qGreen(palette[i]),
                   db = qBlue(c) - qBlue(palette[i]);
        const long d = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

void put16(QByteArray& out, int v) {
    out.append(static_cast<char>(v & 0xff));
    out.append(static_cast<char>((v >> 8) & 0xff));
}

void put32(QByteArray& out, std::uint32_t v) {
    put16(out, static_cast<int>(v & 0xffff));
    put16(out, static_cast<int>(v >> 16));
}

// One icon image as a bottom-up DIB: header, palette, colour bits, mask.
QByteArray dib(const QImage& source, const Palette& palette, int bits) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    const int n = image.width();
    QByteArray out;
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(n));
    put32(out, static_cast<std::uint32_t>(2 * n));
    put16(out, 1);
    put16(out, bits);
    for (int i = 0; i < 6; ++i)
        put32(out, 0);
    for (QRgb c : palette) {
        out.append(static_cast<char>(qBlue(c)));
        out.append(static_cast<char>(qGreen(c)));
        out.append(static_cast<char>(qRed(c)));
        out.append('\0');
    }
    const int colourStride = ((n * bits + 31) / 32) * 4;
    const int maskStride = ((n + 31) / 32) * 4;
    for (int y = n - 1; y >= 0; --y) {
        QByteArray row(colourStride, '\0');
        for (int x = 0; x < n; ++x) {
            const QRgb c = image.pixel(x, y);
            const int index = qAlpha(c) < 128 ? 0 : nearest(palette, c);
            const int bit = x * bits;
            row[bit / 8] = static_cast<char>(row[bit / 8] | (index << (8 - bits - bit % 8)));
        }
        out.append(row);
    }
    for (int y = n - 1; y >= 0; --y) {
        QByteArray row(maskStride, '\0');
        for (int x = 0; x < n; ++x)
            if (qAlpha(image.pixel(x, y)) < 128)
                row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
        out.append(row);
    }
    return out;
}

} // namespace

bool writeWindowsIcon(const QString& path) {
    struct Entry {
        int size;
        Palette palette;
        int bits;
    };
    const Entry entries[] = {{32, vga16(), 4}, {16, vga16(), 4}, {32, {0xff000000, 0xffffffff}, 1}};
    std::vector<QByteArray> images;
    for (const Entry& e : entries)
        images.push_back(dib(renderIcon(e.size), e.palette, e.bits));

    QByteArray out;
    put16(out, 0);
    put16(out, 1);
    put16(out, static_cast<int>(std::size(entries)));
    std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(std::size(entries));
    for (size_t i = 0; i < std::size(entries); ++i) {
        out.append(static_cast<char>(entries[i].size));
        out.append(static_cast<char>(entries[i].size));
        out.append(static_cast<char>(entries[i].bits == 4 ? 16 : 2));
        out.append('\0');
        put16(out, 1);
        put16(out, entries[i].bits);
        put32(out, static_cast<std::uint32_t>(images[i].size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const QByteArray& image : images)
        out.append(image);
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(out) == out.size();
}

} // namespace pictures

#include "support/picture_files.h"

#include <QBuffer>
#include <QImageWriter>

#include <gif_lib.h>
// clang-format off
#include <cstdio> // jpeglib.h needs FILE
#include <jpeglib.h>
// clang-format on
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

void put16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xff);
    s += static_cast<char>((v >> 8) & 0xff);
}

void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xffff);
    put16(s, v >> 16);
}

void putBig32(std::string& s, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        s += static_cast<char>((v >> shift) & 0xff);
}

std::string written(const QImage& image, const char* format, int quality, bool progressive) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    if (!writer.write(image))
        throw std::runtime_error("cannot write a test picture: " +
                                 writer.errorString().toStdString());
    return bytes.toStdString();
}

std::string bmpHeader(int width, int height, int bits, std::uint32_t compression,
                      std::uint32_t dataSize, int paletteSize) {
    const std::uint32_t dataAt = 14 + 40 + 4 * static_cast<std::uint32_t>(paletteSize);
    std::string s = "BM";
    put32(s, dataAt + dataSize);
    put32(s, 0);
    put32(s, dataAt);
    put32(s, 40);
    put32(s, static_cast<std::uint32_t>(width));
    put32(s, static_cast<std::uint32_t>(height));
    put16(s, 1);
    put16(s, static_cast<unsigned>(bits));
    put32(s, compression);
    put32(s, dataSize);
    put32(s, 2835);
    put32(s, 2835);
    put32(s, static_cast<std::uint32_t>(paletteSize));
    put32(s, 0);
    for (int i = 0; i < paletteSize; ++i)
        put32(s, static_cast<std::uint32_t>(i * 0x010101));
    return s;
}

int writeToString(GifFileType* gif, const GifByteType* data, int size) {
    static_cast<std::string*>(gif->UserData)
        ->append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size));
    return size;
}

} // namespace

QImage testImage(int width, int height, bool alpha) {
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int a = alpha ? (x * 255 / std::max(width - 1, 1)) : 255;
            row[x] = qRgba(x * 255 / std::max(width - 1, 1), y * 255 / std::max(height - 1, 1),
                           x < width / 2 ? 200 : 40, a);
        }
    }
    return image;
}

std::string pngOf(const QImage& image) {
    return written(image, "png", 50, false);
}

std::string jpegOf(const QImage& image, bool progressive) {
    return written(image, "jpeg", 90, progressive);
}

std::string bmpOf(const QImage& image, bool topDown) {
    const int w = image.width();
    const int h = image.height();
    const int stride = (w * 3 + 3) / 4 * 4;
    std::string s =
        bmpHeader(w, topDown ? -h : h, 24, 0, static_cast<std::uint32_t>(stride * h), 0);
    for (int i = 0; i < h; ++i) {
        const int y = topDown ? i : h - 1 - i;
        std::string row(static_cast<std::size_t>(stride), '\0');
        for (int x = 0; x < w; ++x) {
            const QRgb p = image.pixel(x, y);
            row[static_cast<std::size_t>(3 * x)] = static_cast<char>(qBlue(p));
            row[static_cast<std::size_t>(3 * x + 1)] = static_cast<char>(qGreen(p));
            row[static_cast<std::size_t>(3 * x + 2)] = static_cast<char>(qRed(p));
        }
        s += row;
    }
    return s;
}

GifFrame solidFrame(int width, int height, unsigned char index) {
    GifFrame f;
    f.width = width;
    f.height = height;
    f.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), index);
    return f;
}

std::string gifOf(int screenWidth, int screenHeight, const std::vector<GifFrame>& frames,
                  bool trailer) {
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, writeToString, &error);
    if (!gif)
        throw std::runtime_error("EGifOpen failed");
    EGifSetGifVersion(gif, true);
    GifColorType colours[4] = {{0, 0, 0}, {255, 0, 0}, {0, 128, 255}, {255, 255, 255}};
    ColorMapObject* map = GifMakeMapObject(4, colours);
    bool ok = EGifPutScreenDesc(gif, screenWidth, screenHeight, 8, 0, map) == GIF_OK;
    for (const GifFrame& f : frames) {
        GraphicsControlBlock control{};
        control.DelayTime = f.delayCs;
        control.TransparentColor = f.transparent;
        GifByteType extension[4];
        const auto length = EGifGCBToExtension(&control, extension);
        ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(length),
                                    extension) == GIF_OK;
        ok =
            ok && EGifPutImageDesc(gif, f.left, f.top, f.width, f.height, false, nullptr) == GIF_OK;
        std::vector<GifPixelType> pixels(f.pixels.begin(), f.pixels.end());
        ok = ok && EGifPutLine(gif, pixels.data(), static_cast<int>(pixels.size())) == GIF_OK;
    }
    GifFreeMapObject(map);
    EGifCloseFile(gif, &error);
    if (!ok)
        throw std::runtime_error("cannot write a test GIF");
    if (!trailer && !out.empty() && out.back() == ';')
        out.pop_back();
    return out;
}

std::string pngChunk(const std::string& type, const std::string& data) {
    std::string chunk;
    putBig32(chunk, static_cast<std::uint32_t>(data.size()));
    const std::string body = type + data;
    chunk += body;
    putBig32(chunk, static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                                     static_cast<uInt>(body.size()))));
    return chunk;
}

std::string insertBefore(const std::string& png, const std::string& type,
                         const std::string& chunk) {
    const auto at = png.find(type);
    if (at == std::string::npos || at < 4)
        throw std::runtime_error("no " + type + " chunk");
    std::string out = png;
    out.insert(at - 4, chunk);
    return out;
}

std::string damageChunk(const std::string& png, const std::string& type) {
    const auto at = png.find(type);
    if (at == std::string::npos)
        throw std::runtime_error("no " + type + " chunk");
    std::string out = png;
    out[at + 4 + 2] = static_cast<char>(out[at + 4 + 2] ^ 0x5a);
    return out;
}

std::string pngInflatingTo(int width, int height, std::size_t inflated) {
    std::string ihdr;
    putBig32(ihdr, static_cast<std::uint32_t>(width));
    putBig32(ihdr, static_cast<std::uint32_t>(height));
    ihdr += std::string("\x08\x00\x00\x00\x00", 5); // 8-bit grey, not interlaced

    z_stream z{};
    deflateInit(&z, 9);
    std::string compressed;
    std::vector<unsigned char> zeros(1u << 20, 0); // filter byte 0 and black pixels
    std::vector<unsigned char> out(1u << 16);
    for (std::size_t fed = 0; fed < inflated;) {
        const std::size_t n = std::min(zeros.size(), inflated - fed);
        fed += n;
        z.next_in = zeros.data();
        z.avail_in = static_cast<uInt>(n);
        const int flush = fed == inflated ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            compressed.append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) +
           pngChunk("IDAT", compressed) + pngChunk("IEND", "");
}

std::string jpegWithScans(const QImage& image, int scans) {
    const std::string jpeg = jpegOf(image, true);
    // Find each scan: its SOS marker up to the marker after its data.
    std::vector<std::pair<std::size_t, std::size_t>> found;
    std::size_t at = 2;
    while (at + 4 <= jpeg.size()) {
        if (static_cast<unsigned char>(jpeg[at]) != 0xff)
            throw std::runtime_error("not a marker");
        const auto marker = static_cast<unsigned char>(jpeg[at + 1]);
        if (marker == 0xd9)
            break;
        const std::size_t length = static_cast<unsigned char>(jpeg[at + 2]) << 8 |
                                   static_cast<unsigned char>(jpeg[at + 3]);
        std::size_t end = at + 2 + length;
        if (marker == 0xda) {
            while (end + 1 < jpeg.size() && !(static_cast<unsigned char>(jpeg[end]) == 0xff &&
                                              static_cast<unsigned char>(jpeg[end + 1]) != 0 &&
                                              (static_cast<unsigned char>(jpeg[end + 1]) < 0xd0 ||
                                               static_cast<unsigned char>(jpeg[end + 1]) > 0xd7)))
                ++end;
            found.emplace_back(at, end);
        }
        at = end;
    }
    if (found.empty())
        throw std::runtime_error("no scans");
    const auto [first, last] = found.back();
    std::string out = jpeg.substr(0, last);
    const std::string scan = jpeg.substr(first, last - first);
    for (int i = static_cast<int>(found.size()); i < scans; ++i)
        out += scan;
    return out + "\xff\xd9";
}

std::string jpegOfValidScans(const QImage& image) {
    std::vector<jpeg_scan_info> scans;
    scans.push_back({3, {0, 1, 2, 0}, 0, 0, 0, 0}); // the DC of all three
    for (int component = 0; component < 3; ++component)
        for (int band = 1; band < 64; ++band) {
            scans.push_back({1, {component, 0, 0, 0}, band, band, 0, 10});
            for (int bit = 10; bit > 0; --bit)
                scans.push_back({1, {component, 0, 0, 0}, band, band, bit, bit - 1});
        }
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &out, &size);
    info.image_width = static_cast<JDIMENSION>(image.width());
    info.image_height = static_cast<JDIMENSION>(image.height());
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    info.scan_info = scans.data();
    info.num_scans = static_cast<int>(scans.size());
    jpeg_start_compress(&info, TRUE);
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    while (info.next_scanline < info.image_height) {
        auto* row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::string bytes(reinterpret_cast<const char*>(out), size);
    std::free(out);
    return bytes;
}

std::string withExifOrientation(const std::string& jpeg, int orientation) {
    std::string exif("Exif\0\0II*\0", 10);
    put32(exif, 8); // the first directory
    put16(exif, 1); // of one entry:
    put16(exif, 0x0112);
    put16(exif, 3); // a 16-bit
    put32(exif, 1);
    put32(exif, static_cast<std::uint32_t>(orientation));
    put32(exif, 0); // no next directory
    std::string segment("\xff\xe1", 2);
    segment += static_cast<char>((exif.size() + 2) >> 8);
    segment += static_cast<char>((exif.size() + 2) & 0xff);
    return jpeg.substr(0, 2) + segment + exif + jpeg.substr(2);
}

std::string rleBmpOfMoves(int width, int height, std::size_t moves) {
    std::string data;
    data.reserve(moves * 4 + 2);
    for (std::size_t i = 0; i < moves; ++i)
        data.append("\x00\x02\x00\x00", 4);
    data.append("\x00\x01", 2);
    return bmpHeader(width, height, 8, 1, static_cast<std::uint32_t>(data.size()), 256) + data;
}

} // namespace testsupport

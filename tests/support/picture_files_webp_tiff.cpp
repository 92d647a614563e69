// WebP and TIFF test pictures, written by the formats' own encoders (libwebp
// and its animation encoder, libtiff's writer).

#include "support/picture_files.h"

#include <tiffio.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testsupport {

namespace {

// The image as straight (not premultiplied) 0xAARRGGBB words.
QImage straight(const QImage& image) {
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool importInto(WebPPicture& picture, const QImage& argb) {
    picture.width = argb.width();
    picture.height = argb.height();
    // 0xAARRGGBB words are blue, green, red, alpha bytes in memory here.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
    return argb.hasAlphaChannel() ? WebPPictureImportBGRA(&picture, argb.constBits(),
                                                          static_cast<int>(argb.bytesPerLine()))
                                  : WebPPictureImportBGRX(&picture, argb.constBits(),
                                                          static_cast<int>(argb.bytesPerLine()));
}

WebPConfig webpConfig(bool lossless, int pixels) {
    WebPConfig config;
    if (!WebPConfigInit(&config))
        throw std::runtime_error("WebPConfigInit failed");
    config.lossless = lossless ? 1 : 0;
    config.quality = 80;
    // A large photo is written quickly, a small one well.
    config.method = pixels > 4'000'000 ? 0 : 4;
    return config;
}

// Where the first chunk of a type starts, its header included.
std::size_t chunkAt(const std::string& webp, const std::string& type) {
    for (std::size_t at = 12; at + 8 <= webp.size();) {
        std::uint32_t size = 0;
        std::memcpy(&size, webp.data() + at + 4, 4);
        if (webp.compare(at, 4, type) == 0)
            return at;
        // ANMF frames hold their bitstream chunks after 16 bytes of their own.
        at += webp.compare(at, 4, "ANMF") == 0 ? 8 + 16 : 8 + size + (size & 1);
    }
    throw std::runtime_error("no " + type + " chunk");
}

std::uint16_t tiffPhotometric(const TiffShape& s) {
    switch (s.kind) {
    case TiffShape::Kind::Rgb:
        return PHOTOMETRIC_RGB;
    case TiffShape::Kind::Palette:
        return PHOTOMETRIC_PALETTE;
    case TiffShape::Kind::Cmyk:
        return PHOTOMETRIC_SEPARATED;
    case TiffShape::Kind::Grey:
        break;
    }
    // One-bit pictures are stored as fax machines store them, white as 0.
    return s.bits == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
}

// The palette's colours: a colour cube of 2 × 4 × 2 or 8 × 8 × 4 levels.
struct Cube {
    int rBits, gBits, bBits;
};
Cube cubeOf(int bits) {
    return bits == 8 ? Cube{3, 3, 2} : bits == 4 ? Cube{1, 2, 1} : Cube{1, 1, 0};
}

// A pixel's samples, each at most 16 bits.
void samplesOf(QRgb p, const TiffShape& s, std::vector<std::uint32_t>& out) {
    const int r = qRed(p), g = qGreen(p), b = qBlue(p);
    const auto level = [&](int v) {
        if (s.floating) {
            const float f =
                static_cast<float>(v) / 255.f * static_cast<float>(s.range > 0 ? s.range : 1);
            std::uint32_t bits;
            std::memcpy(&bits, &f, sizeof bits);
            return bits;
        }
        if (s.bits == 32)
            return std::uint32_t(v) * 0x01010101u;
        const std::uint32_t most = (1u << s.bits) - 1;
        return s.bits < 8 ? std::uint32_t(v) >> (8 - s.bits)
                          : (std::uint32_t(v) * most + 254) / 255;
    };
    switch (s.kind) {
    case TiffShape::Kind::Rgb:
        out.insert(out.end(), {level(r), level(g), level(b)});
        break;
    case TiffShape::Kind::Grey: {
        const std::uint32_t v = level(qGray(p));
        out.push_back(s.bits == 1 ? 1 - v : v);
        break;
    }
    case TiffShape::Kind::Palette: {
        const Cube c = cubeOf(s.bits);
        out.push_back(std::uint32_t(r >> (8 - c.rBits)) << (c.gBits + c.bBits) |
                      std::uint32_t(g >> (8 - c.gBits)) << c.bBits |
                      (c.bBits ? std::uint32_t(b >> (8 - c.bBits)) : 0));
        break;
    }
    case TiffShape::Kind::Cmyk: {
        // The inks that give the colour back under libtiff's plain conversion.
        const int most = std::max({r, g, b});
        const auto ink = [&](int v) { return level(most ? 255 * (most - v) / most : 0); };
        out.insert(out.end(), {ink(r), ink(g), ink(b), level(255 - most)});
        break;
    }
    }
    if (s.alpha || s.extra)
        out.push_back(level(qAlpha(p)));
}

// The image's rows as the file stores them, packed to whole bytes a row.
std::vector<std::uint8_t> storedRows(const QImage& image, const TiffShape& s,
                                     std::size_t rowBytes) {
    std::vector<std::uint8_t> rows(rowBytes * static_cast<std::size_t>(image.height()));
    std::vector<std::uint32_t> samples;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        samples.clear();
        for (int x = 0; x < image.width(); ++x)
            samplesOf(line[x], s, samples);
        std::uint8_t* out = rows.data() + rowBytes * static_cast<std::size_t>(y);
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (s.bits == 32) {
                std::memcpy(out + 4 * i, &samples[i], 4);
            } else if (s.bits == 16) {
                const auto v = static_cast<std::uint16_t>(samples[i]);
                std::memcpy(out + 2 * i, &v, 2);
            } else {
                const std::size_t bit = i * static_cast<std::size_t>(s.bits);
                for (std::size_t b = 0; b < std::size_t(s.bits); ++b)
                    if (samples[i] >> (s.bits - 1 - b) & 1)
                        out[(bit + b) / 8] |= static_cast<std::uint8_t>(0x80 >> (bit + b) % 8);
            }
        }
    }
    return rows;
}

// The picture the orientation tag turns upright: stored as a camera turned
// `orientation` would have stored it.
QImage storedTurned(const QImage& upright, int orientation) {
    QTransform t;
    switch (orientation) {
    case 2:
        return flippedImage(upright, true, false);
    case 3:
        return flippedImage(upright, true, true);
    case 4:
        return flippedImage(upright, false, true);
    case 5:
        return upright.transformed(QTransform(0, 1, 1, 0, 0, 0));
    case 6:
        return upright.transformed(t.rotate(-90));
    case 7:
        return upright.transformed(QTransform(0, -1, -1, 0, 0, 0));
    case 8:
        return upright.transformed(t.rotate(90));
    default:
        return upright;
    }
}

void writePage(TIFF* tif, const QImage& image, const TiffShape& s) {
    const int colours = s.kind == TiffShape::Kind::Rgb    ? 3
                        : s.kind == TiffShape::Kind::Cmyk ? 4
                                                          : 1;
    const int samples = colours + (s.alpha || s.extra ? 1 : 0);
    const auto w = static_cast<std::uint32_t>(image.width());
    const auto h = static_cast<std::uint32_t>(image.height());
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, s.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, tiffPhotometric(s));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, s.planes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, s.compression);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, s.orientation);
    if (s.floating)
        TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    if (s.range > 0) {
        TIFFSetField(tif, TIFFTAG_SMINSAMPLEVALUE, 0.0);
        TIFFSetField(tif, TIFFTAG_SMAXSAMPLEVALUE, s.range);
    }
    if (s.predictor > 1)
        TIFFSetField(tif, TIFFTAG_PREDICTOR, s.predictor);
    if (s.compression == COMPRESSION_ADOBE_DEFLATE)
        TIFFSetField(tif, TIFFTAG_ZIPQUALITY, 1);
    if (s.kind == TiffShape::Kind::Cmyk)
        TIFFSetField(tif, TIFFTAG_INKSET, INKSET_CMYK);
    if (s.alpha || s.extra) {
        const std::uint16_t kind = s.alpha ? EXTRASAMPLE_UNASSALPHA : EXTRASAMPLE_UNSPECIFIED;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &kind);
    }
    if (s.kind == TiffShape::Kind::Palette) {
        const Cube c = cubeOf(s.bits);
        std::vector<std::uint16_t> map[3];
        for (int i = 0; i < (1 << s.bits); ++i) {
            const int levels[3] = {(i >> (c.gBits + c.bBits)) & ((1 << c.rBits) - 1),
                                   (i >> c.bBits) & ((1 << c.gBits) - 1), i & ((1 << c.bBits) - 1)};
            const int bits[3] = {c.rBits, c.gBits, c.bBits};
            for (int k = 0; k < 3; ++k)
                map[k].push_back(static_cast<std::uint16_t>(
                    bits[k] ? levels[k] * 65535 / ((1 << bits[k]) - 1) : 0));
        }
        TIFFSetField(tif, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
    }
    const std::size_t rowBytes = (std::size_t{w} * samples * s.bits + 7) / 8;
    const std::vector<std::uint8_t> rows = storedRows(image, s, rowBytes);
    bool ok = true;
    if (s.tile > 0) {
        const auto side = static_cast<std::uint32_t>(s.tile);
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, side);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, side);
        const std::size_t tileRow = (std::size_t{side} * samples * s.bits + 7) / 8;
        std::vector<std::uint8_t> tile(tileRow * side);
        for (std::uint32_t ty = 0; ty < h; ty += side)
            for (std::uint32_t tx = 0; tx < w; tx += side) {
                std::fill(tile.begin(), tile.end(), 0);
                const std::size_t from = std::size_t{tx} * samples * s.bits / 8;
                const std::size_t bytes = std::min(tileRow, rowBytes - from);
                for (std::uint32_t y = 0; y < side && ty + y < h; ++y)
                    std::memcpy(tile.data() + tileRow * y, rows.data() + rowBytes * (ty + y) + from,
                                bytes);
                ok = ok && TIFFWriteTile(tif, tile.data(), tx, ty, 0, 0) >= 0;
            }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, s.rowsPerStrip);
        std::vector<std::uint8_t> row(rowBytes);
        for (int plane = 0; plane < std::max(s.planes, 1); ++plane)
            for (std::uint32_t y = 0; y < h && ok; ++y) {
                for (std::uint32_t x = 0; x < w && s.planes; ++x)
                    row[x] = rows[rowBytes * y + std::size_t{x} * samples + plane];
                if (!s.planes)
                    std::memcpy(row.data(), rows.data() + rowBytes * y, rowBytes);
                ok = TIFFWriteScanline(tif, row.data(), y, static_cast<std::uint16_t>(plane)) >= 0;
            }
    }
    if (!ok || !TIFFWriteDirectory(tif))
        throw std::runtime_error("cannot write a test TIFF");
}

} // namespace

std::string webpOf(const QImage& image, bool lossless) {
    const QImage argb = straight(image);
    WebPConfig config = webpConfig(lossless, image.width() * image.height());
    WebPPicture picture;
    WebPMemoryWriter writer;
    if (!WebPPictureInit(&picture))
        throw std::runtime_error("WebPPictureInit failed");
    WebPMemoryWriterInit(&writer);
    picture.use_argb = lossless ? 1 : 0;
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool ok = importInto(picture, argb) && WebPEncode(&config, &picture);
    std::string out(reinterpret_cast<const char*>(writer.mem), writer.size);
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    if (!ok)
        throw std::runtime_error("cannot write a test WebP");
    return out;
}

std::string webpAnimationOf(int width, int height, int frames, int delayMs) {
    WebPAnimEncoderOptions options;
    if (!WebPAnimEncoderOptionsInit(&options))
        throw std::runtime_error("WebPAnimEncoderOptionsInit failed");
    WebPAnimEncoder* encoder = WebPAnimEncoderNew(width, height, &options);
    WebPConfig config = webpConfig(false, width * height);
    config.method = 0;
    const QImage background = straight(testImage(width, height));
    const int side = std::max(std::min(width, height) / 4, 1);
    bool ok = encoder != nullptr;
    for (int i = 0; i < frames && ok; ++i) {
        QImage frame = background;
        const int left = (i * 7) % std::max(width - side, 1);
        const int top = (i * 3) % std::max(height - side, 1);
        for (int y = top; y < top + side && y < height; ++y)
            for (int x = left; x < left + side && x < width; ++x)
                frame.setPixel(x, y, qRgb(255, 255 * (i % 2), 0));
        WebPPicture picture;
        ok = WebPPictureInit(&picture) && importInto(picture, frame) &&
             WebPAnimEncoderAdd(encoder, &picture, i * delayMs, &config);
        WebPPictureFree(&picture);
    }
    WebPData data;
    WebPDataInit(&data);
    ok = ok && WebPAnimEncoderAdd(encoder, nullptr, frames * delayMs, nullptr) &&
         WebPAnimEncoderAssemble(encoder, &data);
    std::string out(reinterpret_cast<const char*>(data.bytes), data.size);
    WebPDataClear(&data);
    WebPAnimEncoderDelete(encoder);
    if (!ok)
        throw std::runtime_error("cannot write a test WebP animation");
    return out;
}

std::string damageWebpChunk(std::string webp, const std::string& type) {
    const std::size_t at = chunkAt(webp, type);
    // The first bytes of a bitstream say what it is: a lossy key frame's
    // start code, a lossless one's signature.
    const std::size_t data = at + 8 + (type == "VP8 " ? 3 : 0);
    webp[data] = static_cast<char>(webp[data] ^ 0x55);
    return webp;
}

std::string withWebpCanvas(std::string webp, int width, int height) {
    const std::size_t at = chunkAt(webp, "VP8X") + 8 + 4;
    for (int i = 0; i < 3; ++i) {
        webp[at + i] = static_cast<char>(((width - 1) >> (8 * i)) & 0xff);
        webp[at + 3 + i] = static_cast<char>(((height - 1) >> (8 * i)) & 0xff);
    }
    return webp;
}

std::string tiffOf(const QImage& image, const TiffShape& shape) {
    char path[] = "/tmp/orbitale-tiff-XXXXXX";
    const int fd = ::mkstemp(path);
    if (fd < 0)
        throw std::runtime_error("no temporary file for a test TIFF");
    TIFF* tif = TIFFFdOpen(fd, path, shape.big ? "wl8" : "wl");
    if (!tif) {
        ::close(fd);
        ::unlink(path);
        throw std::runtime_error("TIFFFdOpen failed");
    }
    try {
        writePage(tif, storedTurned(straight(image), shape.orientation), shape);
        for (int page = 1; page < shape.pages; ++page) {
            TiffShape next = shape;
            next.orientation = 1;
            writePage(tif, straight(testImage(image.width() / 2 + page, image.height() / 2)), next);
        }
    } catch (...) {
        TIFFClose(tif);
        ::unlink(path);
        throw;
    }
    TIFFClose(tif); // closes fd
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ::unlink(path);
    return bytes;
}

std::string withTiffTag(std::string tiff, int tag, std::uint32_t value) {
    const auto u16 = [&](std::size_t at) {
        return unsigned(std::uint8_t(tiff[at])) | unsigned(std::uint8_t(tiff[at + 1])) << 8;
    };
    std::uint32_t ifd = 0;
    std::memcpy(&ifd, tiff.data() + 4, 4);
    const unsigned count = u16(ifd);
    for (unsigned i = 0; i < count; ++i) {
        const std::size_t entry = ifd + 2 + 12 * std::size_t{i};
        if (int(u16(entry)) != tag)
            continue;
        // As a LONG, whatever it was, so that any value fits.
        const std::uint16_t type = TIFF_LONG;
        std::memcpy(tiff.data() + entry + 2, &type, 2);
        std::memcpy(tiff.data() + entry + 8, &value, 4);
        return tiff;
    }
    throw std::runtime_error("no such TIFF tag");
}

} // namespace testsupport

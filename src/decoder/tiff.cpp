// TIFF through libtiff: the first page, turned upright by its Orientation.
// Grey, palette and RGB pictures, which are most of what scanners, cameras
// and maps write, are read a strip, a row or a row of tiles at a time and
// converted here, at any integer depth or in floating point; everything else
// libtiff knows (8-bit CMYK, YCbCr, JPEG, separate planes, its other colour
// kinds) goes through libtiff's own RGBA reader a band at a time: one row of
// tiles, or one strip. So no frame is held at the picture's own size, except
// a band that is itself that large (a picture stored as one strip of a kind
// only the RGBA reader knows), which is held to the size a whole frame may
// have.
//
// libtiff's errors are damage, its warnings are remarks: some of its codecs
// tell of data they could not decode (a fax page's bad code word, or its
// data ending early, which it only warns of) and still fill the rest of the
// strip with white, so such a message told at any time refuses the picture.
// It allocates no more than a frame may take at once, and says nothing on
// standard error.

#include "decoder/decoder.h"
#include "decoder/reduce.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace decoder {

namespace {

struct Input {
    std::span<const std::uint8_t> bytes;
    toff_t at = 0;
};

tmsize_t readInput(thandle_t handle, void* to, tmsize_t wanted) {
    auto* in = static_cast<Input*>(handle);
    if (wanted <= 0 || in->at >= in->bytes.size())
        return 0;
    const std::size_t n = std::min<std::size_t>(
        static_cast<std::size_t>(wanted), in->bytes.size() - static_cast<std::size_t>(in->at));
    std::memcpy(to, in->bytes.data() + in->at, n);
    in->at += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t writeNothing(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t seekInput(thandle_t handle, toff_t offset, int whence) {
    auto* in = static_cast<Input*>(handle);
    const toff_t base = whence == SEEK_CUR ? in->at : whence == SEEK_END ? in->bytes.size() : 0;
    in->at = base + offset;
    return in->at;
}

int closeInput(thandle_t) {
    return 0;
}

toff_t sizeOf(thandle_t handle) {
    return static_cast<Input*>(handle)->bytes.size();
}

// The file is in memory already: libtiff reads its strips where they lie.
int mapInput(thandle_t handle, void** base, toff_t* size) {
    auto* in = static_cast<Input*>(handle);
    *base = const_cast<std::uint8_t*>(in->bytes.data());
    *size = in->bytes.size();
    return 1;
}

void unmapInput(thandle_t, void*, toff_t) {}

// Told, and not passed on to libtiff's handlers for the whole process. Of
// its warnings, those of a fax page whose data ends before its rows or a row
// before its width are damage too: libtiff fills the rest with white.
int remark(TIFF*, void* damaged, const char*, const char* format, va_list arguments) {
    char message[256];
    std::vsnprintf(message, sizeof message, format, arguments);
    if (std::strstr(message, "Premature EOF") || std::strstr(message, "Premature EOL"))
        *static_cast<bool*>(damaged) = true;
    return 1;
}
int damage(TIFF*, void* damaged, const char*, const char*, va_list) {
    *static_cast<bool*>(damaged) = true;
    return 1;
}

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
struct OptionsFreer {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

// The processor time libtiff's decompression and the reduction take here,
// in nanoseconds a pixel.
constexpr double nsPerPixel = 25.0;

// No colour brighter than its alpha, whatever the file says.
std::uint32_t clampedToAlpha(std::uint32_t a, std::uint32_t r, std::uint32_t g, std::uint32_t b) {
    return a << 24 | std::min(r, a) << 16 | std::min(g, a) << 8 | std::min(b, a);
}

struct Shape {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint16_t bits = 1;
    std::uint16_t samples = 1;
    std::uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    std::uint16_t planar = PLANARCONFIG_CONTIG;
    std::uint16_t compression = COMPRESSION_NONE;
    std::uint16_t format = SAMPLEFORMAT_UINT;
    std::uint16_t alpha = EXTRASAMPLE_UNSPECIFIED; // of the first extra sample, if any
    int colours = 1;                               // samples of colour, before the extra ones
};

// Integer samples of any depth libtiff unpacks: up to 16 bits, or 32.
bool integerBits(int bits) {
    return (bits >= 1 && bits <= 16) || bits == 32;
}

// Whether rows can be read one at a time and converted here.
bool readsByRows(TIFF* tif, const Shape& s) {
    const bool floating = s.format == SAMPLEFORMAT_IEEEFP && s.bits == 32;
    const bool integer = s.format == SAMPLEFORMAT_UINT && integerBits(s.bits);
    if (s.planar != PLANARCONFIG_CONTIG || (s.format != SAMPLEFORMAT_UINT && !floating) ||
        s.compression == COMPRESSION_JPEG || s.compression == COMPRESSION_OJPEG ||
        s.samples < s.colours)
        return false;
    switch (s.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_RGB:
        return integer || floating;
    case PHOTOMETRIC_PALETTE:
        return s.bits == 1 || s.bits == 2 || s.bits == 4 || s.bits == 8;
    case PHOTOMETRIC_SEPARATED: {
        // 16-bit inks, which libtiff's own colour reader does not take; 8-bit
        // ones it reads.
        std::uint16_t inks = INKSET_CMYK;
        TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
        return s.bits == 16 && inks == INKSET_CMYK;
    }
    default:
        return false;
    }
}

// Turns rows of samples into premultiplied pixels.
class RowConverter {
public:
    RowConverter(TIFF* tif, const Shape& s)
        : m_s(s) {
        m_mask = s.bits >= 32 ? 0xffffffffu : (1u << s.bits) - 1;
        // Every depth spread over 0 to 255, rounded down, as ImageMagick
        // shows every depth (libtiff's own colour reader rounds 16 bits to
        // the nearest level: one level apart at most).
        if (s.format == SAMPLEFORMAT_UINT && s.bits != 8 && s.bits <= 16)
            for (std::uint32_t v = 0; v <= m_mask; ++v)
                m_levels.push_back(static_cast<std::uint8_t>(v * 255 / m_mask));
        // Floating-point samples run from 0 to 1, or over the range the file
        // gives in its SMinSampleValue and SMaxSampleValue.
        if (s.format == SAMPLEFORMAT_IEEEFP) {
            double low = 0, high = 0;
            if (TIFFGetField(tif, TIFFTAG_SMINSAMPLEVALUE, &low))
                m_low = low;
            if (TIFFGetField(tif, TIFFTAG_SMAXSAMPLEVALUE, &high))
                m_high = high;
            if (!(m_high > m_low)) {
                m_low = 0;
                m_high = 1;
            }
        }
        if (s.photometric != PHOTOMETRIC_PALETTE)
            return;
        std::uint16_t *r = nullptr, *g = nullptr, *b = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &r, &g, &b))
            return;
        const std::size_t n = std::size_t{1} << s.bits;
        // Some writers store 8-bit colours in the 16-bit colour map.
        const bool eightBit = std::all_of(r, r + n, [](auto v) { return v < 256; }) &&
                              std::all_of(g, g + n, [](auto v) { return v < 256; }) &&
                              std::all_of(b, b + n, [](auto v) { return v < 256; });
        const int shift = eightBit ? 0 : 8;
        for (std::size_t i = 0; i < n; ++i)
            m_palette.push_back(0xff000000u | std::uint32_t(r[i] >> shift) << 16 |
                                std::uint32_t(g[i] >> shift) << 8 | std::uint32_t(b[i] >> shift));
    }

    bool valid() const { return m_s.photometric != PHOTOMETRIC_PALETTE || !m_palette.empty(); }

    void convert(const std::uint8_t* in, std::uint32_t* out) const {
        // Most photos: 8-bit RGB, without alpha.
        if (m_s.bits == 8 && m_s.photometric == PHOTOMETRIC_RGB && m_s.samples == 3) {
            for (std::uint32_t x = 0; x < m_s.width; ++x, in += 3)
                out[x] =
                    0xff000000u | std::uint32_t(in[0]) << 16 | std::uint32_t(in[1]) << 8 | in[2];
            return;
        }
        const int stride = m_s.samples;
        const bool hasAlpha = m_s.samples > m_s.colours && (m_s.alpha == EXTRASAMPLE_ASSOCALPHA ||
                                                            m_s.alpha == EXTRASAMPLE_UNASSALPHA);
        for (std::uint32_t x = 0; x < m_s.width; ++x) {
            const std::size_t first = std::size_t{x} * static_cast<std::size_t>(stride);
            std::uint32_t a =
                hasAlpha ? level(in, first + static_cast<std::size_t>(m_s.colours)) : 255;
            std::uint32_t r, g, b;
            if (m_s.photometric == PHOTOMETRIC_PALETTE) {
                const std::uint32_t p = m_palette[sample(in, first)];
                r = (p >> 16) & 0xff;
                g = (p >> 8) & 0xff;
                b = p & 0xff;
            } else if (m_s.photometric == PHOTOMETRIC_RGB) {
                r = level(in, first);
                g = level(in, first + 1);
                b = level(in, first + 2);
            } else if (m_s.photometric == PHOTOMETRIC_SEPARATED) {
                // Inks into colour as libtiff's reader turns 8-bit ones.
                const std::uint32_t k = 255 - level(in, first + 3);
                r = k * (255 - level(in, first)) / 255;
                g = k * (255 - level(in, first + 1)) / 255;
                b = k * (255 - level(in, first + 2)) / 255;
            } else {
                r = g = b = m_s.photometric == PHOTOMETRIC_MINISWHITE ? 255 - level(in, first)
                                                                      : level(in, first);
            }
            if (m_s.alpha == EXTRASAMPLE_UNASSALPHA && hasAlpha)
                out[x] = premultiply(a << 24 | r << 16 | g << 8 | b);
            else
                out[x] = clampedToAlpha(a, r, g, b);
        }
    }

private:
    std::uint32_t sample(const std::uint8_t* in, std::size_t i) const {
        switch (m_s.bits) {
        case 8:
            return in[i];
        case 16: {
            std::uint16_t v; // already in the machine's byte order
            std::memcpy(&v, in + 2 * i, 2);
            return v;
        }
        case 32: {
            std::uint32_t v; // already in the machine's byte order
            std::memcpy(&v, in + 4 * i, 4);
            return v;
        }
        case 1:
        case 2:
        case 4: {
            const std::size_t bit = i * m_s.bits;
            return (in[bit >> 3] >> (8 - m_s.bits - (bit & 7))) & m_mask;
        }
        default: {
            // Packed across bytes, the highest bit first (12 bits: one and a
            // half bytes a sample).
            const std::size_t first = i * m_s.bits;
            const std::size_t end = first + m_s.bits;
            std::uint32_t v = 0;
            for (std::size_t b = first >> 3; b <= (end - 1) >> 3; ++b)
                v = v << 8 | in[b];
            return (v >> ((8 - (end & 7)) & 7)) & m_mask;
        }
        }
    }
    std::uint32_t level(const std::uint8_t* in, std::size_t i) const {
        if (m_s.format == SAMPLEFORMAT_IEEEFP) {
            float f; // already in the machine's byte order
            std::memcpy(&f, in + 4 * i, 4);
            const double t = (static_cast<double>(f) - m_low) / (m_high - m_low);
            return t > 0 ? static_cast<std::uint32_t>(std::min(t, 1.0) * 255 + 0.5) : 0;
        }
        const std::uint32_t v = sample(in, i);
        if (m_s.bits == 8)
            return v;
        if (m_s.bits == 32)
            return static_cast<std::uint32_t>(std::uint64_t{v} * 255 / 0xffffffffu);
        return m_levels[v];
    }

    Shape m_s;
    std::uint32_t m_mask;
    std::vector<std::uint8_t> m_levels; // of each integer sample, in 8 bits
    double m_low = 0, m_high = 1;       // of floating-point samples
    std::vector<std::uint32_t> m_palette;
};

// A row of tiles: a tile's width and height, the bytes of one row of one
// tile, and how many tiles cross the page.
struct TileRow {
    std::uint32_t across = 0, down = 0;
    std::uint64_t tileRow = 0;
    std::uint32_t tiles = 0;

    TileRow(TIFF* tif, const Shape& s)
        : tileRow(TIFFTileRowSize64(tif)) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &across);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &down);
        if (across > 0)
            tiles = (s.width + across - 1) / across;
    }
    // What is held whole while its rows are converted.
    std::uint64_t bytes() const {
        return across == 0 || down == 0 ? std::numeric_limits<std::uint64_t>::max()
                                        : tileRow * tiles * down;
    }
};

// A row of tiles at a time, each of its rows converted as a strip's are.
Verdict readTiles(TIFF* tif, const Shape& s, const RowConverter& converter, const bool& damaged,
                  Reducer& reducer) {
    const auto [across, down, tileRow, tiles] = TileRow(tif, s);
    const std::size_t rowBytes = static_cast<std::size_t>(tileRow * tiles);
    if (across == 0 || down == 0 || tileRow == 0 || TIFFTileSize64(tif) != tileRow * down ||
        std::uint64_t{across} * s.samples * s.bits > tileRow * 8)
        return Verdict::Invalid;
    std::vector<std::uint8_t> tile(static_cast<std::size_t>(tileRow * down));
    std::vector<std::uint8_t> band(rowBytes * down);
    std::vector<std::uint32_t> row(s.width);
    for (std::uint32_t y = 0; y < s.height; y += down) {
        for (std::uint32_t i = 0; i < tiles; ++i) {
            if (TIFFReadTile(tif, tile.data(), i * across, y, 0, 0) <
                    static_cast<tmsize_t>(tile.size()) ||
                damaged)
                return Verdict::Invalid;
            for (std::uint32_t r = 0; r < down; ++r)
                std::memcpy(band.data() + r * rowBytes + i * tileRow, tile.data() + r * tileRow,
                            static_cast<std::size_t>(tileRow));
        }
        for (std::uint32_t r = 0; r < std::min(down, s.height - y); ++r) {
            converter.convert(band.data() + r * rowBytes, row.data());
            reducer.row(row.data());
        }
    }
    return Verdict::Ok;
}

// Both readers stop at the first error libtiff tells (`damaged`).
Verdict readRows(TIFF* tif, const Shape& s, const bool& damaged, Reducer& reducer) {
    RowConverter converter(tif, s);
    const std::uint64_t needed = (std::uint64_t{s.width} * s.samples * s.bits + 7) / 8;
    const std::uint64_t size = TIFFScanlineSize64(tif);
    if (!converter.valid() || size < needed || size == 0)
        return Verdict::Invalid;
    if (TIFFIsTiled(tif))
        return readTiles(tif, s, converter, damaged, reducer);
    std::vector<std::uint32_t> row(s.width);
    // A strip at a time where strips are of a modest size, as writers make
    // them: libtiff inflates a whole strip far faster than a row at a time
    // (a 24-megapixel Deflate photo in 0.26 s rather than 0.44 s).
    std::uint32_t perStrip = s.height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &perStrip);
    perStrip = std::clamp<std::uint32_t>(perStrip, 1, s.height);
    if (std::uint64_t{perStrip} * size <= (4u << 20) && perStrip > 1) {
        std::vector<std::uint8_t> strip(static_cast<std::size_t>(perStrip * size));
        for (std::uint32_t y = 0; y < s.height; y += perStrip) {
            const std::uint32_t rows = std::min(perStrip, s.height - y);
            const auto wanted = static_cast<tmsize_t>(rows * size);
            if (TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, y, 0), strip.data(), wanted) <
                    wanted ||
                damaged)
                return Verdict::Invalid;
            for (std::uint32_t r = 0; r < rows; ++r) {
                converter.convert(strip.data() + r * size, row.data());
                reducer.row(row.data());
            }
        }
        return Verdict::Ok;
    }
    std::vector<std::uint8_t> samples(static_cast<std::size_t>(size));
    for (std::uint32_t y = 0; y < s.height; ++y) {
        if (TIFFReadScanline(tif, samples.data(), y, 0) < 0 || damaged)
            return Verdict::Invalid;
        converter.convert(samples.data(), row.data());
        reducer.row(row.data());
    }
    return Verdict::Ok;
}

struct RgbaEnder {
    void operator()(TIFFRGBAImage* img) const { TIFFRGBAImageEnd(img); }
};

// libtiff's RGBA reader, a band of rows at a time: a row of tiles, or a strip.
Verdict readBands(TIFF* tif, const Shape& s, std::uint32_t band, const bool& damaged,
                  Reducer& reducer) {
    char message[1024] = {};
    if (!TIFFRGBAImageOK(tif, message))
        return Verdict::Invalid;
    TIFFRGBAImage img{};
    if (!TIFFRGBAImageBegin(&img, tif, 1, message))
        return Verdict::Invalid;
    const std::unique_ptr<TIFFRGBAImage, RgbaEnder> ending(&img);
    // Rows as they are stored: the picture is turned upright afterwards,
    // for all eight orientations alike.
    img.orientation = ORIENTATION_TOPLEFT;
    img.req_orientation = ORIENTATION_TOPLEFT;
    std::vector<std::uint32_t> pixels(std::size_t{s.width} * band);
    for (std::uint32_t top = 0; top < s.height; top += band) {
        const std::uint32_t rows = std::min(band, s.height - top);
        img.row_offset = static_cast<int>(top);
        img.col_offset = 0;
        if (!TIFFRGBAImageGet(&img, pixels.data(), s.width, rows) || damaged)
            return Verdict::Invalid;
        for (std::uint32_t y = 0; y < rows; ++y) {
            std::uint32_t* row = pixels.data() + std::size_t{y} * s.width;
            // libtiff packs red in the low byte, alpha premultiplied.
            for (std::uint32_t x = 0; x < s.width; ++x) {
                const std::uint32_t p = row[x];
                row[x] = clampedToAlpha(p >> 24, p & 0xff, (p >> 8) & 0xff, (p >> 16) & 0xff);
            }
            reducer.row(row);
        }
    }
    return Verdict::Ok;
}

Shape shapeOf(TIFF* tif) {
    Shape s;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &s.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &s.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &s.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &s.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &s.planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &s.compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &s.format);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &s.photometric))
        s.photometric = s.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    s.colours = s.photometric == PHOTOMETRIC_RGB         ? 3
                : s.photometric == PHOTOMETRIC_SEPARATED ? 4
                                                         : 1;
    std::uint16_t extras = 0;
    std::uint16_t* kinds = nullptr;
    if (TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extras, &kinds) && extras > 0 && kinds)
        s.alpha = kinds[0];
    return s;
}

// Whether every strip or tile of the page, in every plane, has data within
// the file. libtiff's colour reader leaves unread the planes it does not show
// (an extra sample of no stated kind), and a plane without its data is a page
// cut short.
bool holdsEveryStrip(TIFF* tif, std::uint64_t fileSize) {
    const std::uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t at = TIFFGetStrileOffset(tif, i);
        const std::uint64_t bytes = TIFFGetStrileByteCount(tif, i);
        if (bytes == 0 || bytes > fileSize || at > fileSize - bytes)
            return false;
    }
    return count > 0;
}

} // namespace

Verdict decodeTiff(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    // Errors libtiff tells before it has a handle to tell them on.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    const std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
    if (!options)
        return Verdict::OutOfMemory;
    TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(),
                                        static_cast<tmsize_t>(budget.limits().sourceBytes));
#if TIFFLIB_AT_LEAST(4, 6, 0)
    TIFFOpenOptionsSetMaxCumulatedMemAlloc(options.get(),
                                           static_cast<tmsize_t>(2 * budget.limits().sourceBytes));
#endif
    bool damaged = false;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), damage, &damaged);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), remark, &damaged);
    Input input{bytes};
    const std::unique_ptr<TIFF, TiffCloser> tif(
        TIFFClientOpenExt("picture", "r", &input, readInput, writeNothing, seekInput, closeInput,
                          sizeOf, mapInput, unmapInput, options.get()));
    if (!tif)
        return Verdict::Invalid;

    const Shape s = shapeOf(tif.get());
    if (!budget.allowsPicture(s.width, s.height))
        return Verdict::OutOfMemory;
    if (damaged || !holdsEveryStrip(tif.get(), bytes.size()))
        return Verdict::Invalid;
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ORIENTATION, &orientation);
    const bool turns = orientation >= 5 && orientation <= 8;
    const Size stored{static_cast<int>(s.width), static_cast<int>(s.height)};
    const Size upright = turns ? Size{stored.height, stored.width} : stored;

    const bool byRows = readsByRows(tif.get(), s);
    std::uint32_t band = 0;
    if (!byRows) {
        if (TIFFIsTiled(tif.get())) {
            TIFFGetField(tif.get(), TIFFTAG_TILELENGTH, &band);
        } else {
            band = s.height;
            TIFFGetFieldDefaulted(tif.get(), TIFFTAG_ROWSPERSTRIP, &band);
        }
        band = std::clamp<std::uint32_t>(band, 1, s.height);
        if (!budget.allowsSource(s.width, band))
            return Verdict::OutOfMemory;
    } else if (TIFFIsTiled(tif.get()) &&
               TileRow(tif.get(), s).bytes() > budget.limits().sourceBytes) {
        return Verdict::OutOfMemory;
    }

    const Size keptUpright = keptSize(upright, 1, budget.limits());
    const Size kept = turns ? Size{keptUpright.height, keptUpright.width} : keptUpright;
    sink.picture({upright, 1, cpuMsFor(std::uint64_t{s.width} * s.height, nsPerPixel)});
    if (!budget.takeFrame(static_cast<std::uint64_t>(kept.width),
                          static_cast<std::uint64_t>(kept.height)))
        return Verdict::OutOfMemory;
    Reducer reducer(stored, kept, orientation);
    reducer.streamTo(sink);
    const Verdict verdict = byRows ? readRows(tif.get(), s, damaged, reducer)
                                   : readBands(tif.get(), s, band, damaged, reducer);
    if (verdict != Verdict::Ok)
        return verdict;
    reducer.deliver(sink);
    return Verdict::Ok;
}

} // namespace decoder

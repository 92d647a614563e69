#pragma once

// Picture files made for the tests, small and on the spot: whole ones in each
// format, and the ways real files differ from them (remarks a decoder makes,
// bytes after the end, damage, and files made to take memory or time).

#include <QImage>

#include <string>
#include <vector>

namespace testsupport {

// A test picture with a little of everything: gradients, an edge, colour.
QImage testImage(int width, int height, bool alpha = false);

// The picture mirrored left to right and/or top to bottom. Qt 6.9 renamed
// QImage::mirrored to flipped; Debian 12's Qt 6.4 has only the old name.
inline QImage flippedImage(const QImage& image, bool horizontally, bool vertically) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 9, 0)
    Qt::Orientations o;
    o.setFlag(Qt::Horizontal, horizontally);
    o.setFlag(Qt::Vertical, vertically);
    return image.flipped(o);
#else
    return image.mirrored(horizontally, vertically);
#endif
}

std::string pngOf(const QImage& image);
std::string jpegOf(const QImage& image, bool progressive = false);
// An uncompressed 24-bit BMP, its rows stored bottom-up or top-down.
std::string bmpOf(const QImage& image, bool topDown = false);

struct GifFrame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    int delayCs = 10;
    int transparent = -1;              // palette index, or -1
    std::vector<unsigned char> pixels; // palette indices, width × height
};
// A GIF of a logical screen and frames over a four-colour palette.
std::string gifOf(int screenWidth, int screenHeight, const std::vector<GifFrame>& frames,
                  bool trailer = true);
GifFrame solidFrame(int width, int height, unsigned char index);

// PNG chunks: a chunk with its CRC, put before the first chunk of a type.
std::string pngChunk(const std::string& type, const std::string& data);
std::string insertBefore(const std::string& png, const std::string& type, const std::string& chunk);
// Flips a byte inside the data of the first chunk of a type.
std::string damageChunk(const std::string& png, const std::string& type);

// A PNG of width × height grey pixels whose image data inflates to about
// `inflated` bytes: far more than the picture needs.
std::string pngInflatingTo(int width, int height, std::size_t inflated);

// A progressive JPEG with its last scan repeated until it has `scans` scans.
std::string jpegWithScans(const QImage& image, int scans);

// A progressive JPEG whose every scan is valid and nearly empty: each
// coefficient band of each colour alone, refined bit by bit, some two
// thousand scans in all.
std::string jpegOfValidScans(const QImage& image);

// A JPEG with an Exif block that says how the camera was turned (1-8).
std::string withExifOrientation(const std::string& jpeg, int orientation);

// An 8-bit RLE BMP of width × height whose data is `moves` delta codes that
// move nowhere, then the end code.
std::string rleBmpOfMoves(int width, int height, std::size_t moves);

// WebP and TIFF
// A still WebP, lossy (keeping alpha where the image has it) or lossless.
std::string webpOf(const QImage& image, bool lossless = false);
// An animated WebP of `frames` frames over a width × height canvas: a square
// moving over the test picture, `delayMs` a frame.
std::string webpAnimationOf(int width, int height, int frames, int delayMs = 40);
// Flips a byte inside the data of the first chunk of a type (e.g. "VP8 ").
std::string damageWebpChunk(std::string webp, const std::string& type);
// An extended WebP whose canvas claims width × height.
std::string withWebpCanvas(std::string webp, int width, int height);

struct TiffShape {
    enum class Kind { Rgb, Grey, Palette, Cmyk } kind = Kind::Rgb;
    int bits = 8;       // of a sample: 1 to 16, or 32 (Palette: 1, 2, 4, 8; Cmyk: 8, 16)
    bool alpha = false; // an unassociated alpha sample after the colours
    bool extra = false; // one of no stated kind instead (as maps carry a mask)
    int planes = 0;     // planes written, one a sample (strips, 8 bits); fewer leave the last empty
    int tile = 0;       // the side of square tiles; 0 for strips
    int rowsPerStrip = 16;
    int compression = 5;   // libtiff's COMPRESSION_*: 1 none, 4 fax group 4, 5 LZW, 8 deflate
    int orientation = 1;   // 1-8, as the Orientation tag has them
    int pages = 1;         // pages after the first are smaller, and differ
    bool big = false;      // BigTIFF, with 64-bit offsets
    bool floating = false; // 32-bit floating-point samples from 0 to 1 (bits 32)
    double range = 0;      // floating: samples from 0 to this, told by SMaxSampleValue
    int predictor = 1;     // 2 horizontal differences, 3 floating-point ones
};
// A little-endian TIFF of the image, stored as the shape says.
std::string tiffOf(const QImage& image, const TiffShape& shape = {});
// Sets an entry of one number in the first directory of a little-endian TIFF.
std::string withTiffTag(std::string tiff, int tag, std::uint32_t value);
// HEIF, AVIF and JPEG XL
struct HeicOptions {
    bool tenBit = false;
    int orientation = 1; // as Exif has it; stored as the file's turn and mirror
    int grid = 0;        // stored as grid × grid tiles, as phones store photos
    int chroma = 420;    // 420, 422 or 444, as the encoder stores colour
};
// Whether this libheif makes grids of several tiles (1.17 and later).
bool heicGridsCanBeMade();
// An HEIC through libheif's HEVC encoder, with alpha if the image has it.
// libheif stores a picture of odd width or height as a grid of one tile.
std::string heicOf(const QImage& image, const HeicOptions& options = {});
struct AvifOptions {
    int turns = 0;   // anticlockwise quarter turns the file asks for
    int mirror = -1; // 0: top and bottom exchanged, 1: left and right; -1: none
    int delayMs = 100;
    int depth = 8;   // 8, 10 or 12 bits a sample
    int matrix = 6;  // the YUV matrix the file names: 6 BT.601, 10 BT.2020 constant luminance
    QRect crop = {}; // the clean aperture, if any
};
// An AVIF still, or a sequence of several frames of one size.
std::string avifOf(const std::vector<QImage>& frames, const AvifOptions& options = {});
// A JPEG XL still, or an animation of several frames of one size.
std::string jxlOf(const std::vector<QImage>& frames, int delayMs = 100, bool lossless = false);
// A JPEG XL codestream that claims width × height and has nothing after.
std::string jxlHeaderOnly(std::uint32_t width, std::uint32_t height);
// An HEIF or AVIF file whose image sizes claim width × height.
std::string withBoxSize(std::string file, std::uint32_t width, std::uint32_t height);
// An HEIF file of one grid in its own data whose data claims width × height.
std::string withGridSize(std::string file, std::uint16_t width, std::uint16_t height);
// An HEIF or AVIF file whose coded stream starts with damage.
std::string withDamagedStream(std::string file);

} // namespace testsupport

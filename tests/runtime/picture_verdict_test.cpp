// Pictures as users bring them: what loads, what is refused and with which
// error, and that no file takes the program past its memory bound. Each
// file is made here, small, by tests/support/picture_files.

#include "runtime/error.h"
#include "runtime/picture.h"
#include "runtime/qt/picture_data.h"
#include "support/picture_files.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>
#include <jxl/version.h>
#include <libheif/heif.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace testsupport;
using rt::ErrorNumber;

struct Expected {
    ErrorNumber error; // ErrorNumber{} for a picture that loads
    int frames = 0;
    int width = 0;
    int height = 0;
};

constexpr Expected loads(int frames, int width, int height) {
    return {ErrorNumber{}, frames, width, height};
}
constexpr Expected refused(ErrorNumber error) {
    return {error};
}
constexpr Expected invalid = refused(ErrorNumber::InvalidPicture);
constexpr Expected tooLarge = refused(ErrorNumber::OutOfMemory);

struct Case {
    std::string name;
    std::function<std::string()> bytes;
    Expected expected;
};

std::string cut(const std::string& bytes, int percent) {
    return bytes.substr(0, bytes.size() * static_cast<std::size_t>(percent) / 100);
}

// A GIF of three frames that differ, over a 40 × 30 screen.
std::string animation(bool trailer = true) {
    std::vector<GifFrame> frames;
    for (unsigned char i = 1; i <= 3; ++i) {
        GifFrame f = solidFrame(40, 30, i);
        for (std::size_t p = 0; p < f.pixels.size(); p += 7)
            f.pixels[p] = static_cast<unsigned char>((p / 7 + i) % 4);
        frames.push_back(f);
    }
    return gifOf(40, 30, frames, trailer);
}

// Where the first frame's image descriptor keeps its width and height.
std::string withFrameSize(std::string gif, int width, int height) {
    const auto at = gif.find('\x2c', gif.find("\x21\xf9\x04") + 8);
    gif[at + 5] = static_cast<char>(width & 0xff);
    gif[at + 6] = static_cast<char>(width >> 8);
    gif[at + 7] = static_cast<char>(height & 0xff);
    gif[at + 8] = static_cast<char>(height >> 8);
    return gif;
}

std::string withJpegSize(std::string jpeg, int width, int height) {
    const auto at = jpeg.find("\xff\xc0");
    const auto sof = at == std::string::npos ? jpeg.find("\xff\xc2") : at;
    jpeg[sof + 5] = static_cast<char>(height >> 8);
    jpeg[sof + 6] = static_cast<char>(height & 0xff);
    jpeg[sof + 7] = static_cast<char>(width >> 8);
    jpeg[sof + 8] = static_cast<char>(width & 0xff);
    return jpeg;
}

std::string pngHeaderOnly(std::uint32_t width, std::uint32_t height) {
    std::string ihdr;
    for (std::uint32_t v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8)
            ihdr += static_cast<char>((v >> shift) & 0xff);
    ihdr += std::string("\x08\x06\x00\x00\x00", 5);
    return std::string("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr);
}

std::vector<Case> cases() {
    const QImage small = testImage(64, 48);
    std::vector<Case> c = {
        // Remarks a decoder makes about a whole picture are not damage.
        {"PngWithABrokenColourProfile",
         [=] {
             return insertBefore(pngOf(small), "IDAT",
                                 pngChunk("iCCP", std::string("sRGB\0\0", 6) + "not deflate"));
         },
         loads(1, 64, 48)},
        {"PngWithTransparencyBesideAlpha",
         [] {
             return insertBefore(pngOf(testImage(16, 16, true)), "IDAT",
                                 pngChunk("tRNS", std::string(6, '\0')));
         },
         loads(1, 16, 16)},
        {"PngWithADamagedTextChunk",
         [=] {
             return damageChunk(
                 insertBefore(pngOf(small), "IDAT", pngChunk("tEXt", std::string("Title\0Sky", 9))),
                 "tEXt");
         },
         loads(1, 64, 48)},
        {"PngWithBytesAfterItsEnd", [=] { return pngOf(small) + std::string(300, '\0') + "junk"; },
         loads(1, 64, 48)},
        {"PngWithoutItsEndChunk",
         [=] {
             const std::string png = pngOf(small);
             return png.substr(0, png.size() - 12);
         },
         loads(1, 64, 48)},
        {"Png16BitAbove2Megapixels",
         [] { return pngOf(testImage(2048, 1536, true).convertToFormat(QImage::Format_RGBA64)); },
         loads(1, 2048, 1536)},
        {"JpegWithBytesAfterItsEnd",
         [=] { return jpegOf(small) + "\xff\xd8\xff\xda trailing \xff\xda\x00\x01 no end"; },
         loads(1, 64, 48)},
        {"JpegWithStrayBytesBeforeAMarker",
         [=] {
             std::string jpeg = jpegOf(small);
             jpeg.insert(jpeg.find("\xff\xc4"), "\x01\x02\x03\x04");
             return jpeg;
         },
         loads(1, 64, 48)},
        {"JpegProgressive", [=] { return jpegOf(small, true); }, loads(1, 64, 48)},
        {"JpegPhoto4000x3000", [] { return jpegOf(testImage(4000, 3000)); }, loads(1, 4000, 3000)},
        {"JpegWallpaper5120x2880", [] { return jpegOf(testImage(5120, 2880), true); },
         loads(1, 5120, 2880)},
        {"JpegPhoto24Megapixels", [] { return jpegOf(testImage(5712, 4284)); },
         loads(1, 5712, 4284)},
        {"JpegProgressive48Megapixels", [] { return jpegOf(testImage(8000, 6000), true); },
         loads(1, 8000, 6000)},
        {"JpegTurnedByItsExif",
         [] { return withExifOrientation(jpegOf(testImage(4000, 3000)), 6); },
         loads(1, 3000, 4000)},
        {"GifOf380Frames",
         [] {
             std::vector<GifFrame> frames;
             for (int i = 0; i < 380; ++i)
                 frames.push_back(solidFrame(400, 300, static_cast<unsigned char>(i % 4)));
             return gifOf(400, 300, frames);
         },
         loads(380, 400, 300)},
        {"GifWithPaddingAfterItsTrailer", [] { return animation() + std::string(500, '\0'); },
         loads(3, 40, 30)},
        {"GifWithACommentAfterItsTrailer",
         [] { return animation() + std::string("\x21\xfe\x05hello\x00", 9); }, loads(3, 40, 30)},
        {"GifWithoutItsTrailer", [] { return animation(false); }, loads(3, 40, 30)},
        {"GifWhoseDataGoesOnAfterItsFrameIsFull",
         [] { return withFrameSize(gifOf(300, 300, {solidFrame(300, 300, 2)}), 1, 1); },
         loads(1, 300, 300)},
        {"BmpBottomUp", [=] { return bmpOf(small); }, loads(1, 64, 48)},
        {"BmpTopDown", [=] { return bmpOf(small, true); }, loads(1, 64, 48)},
        // WebP and TIFF
        {"WebpLossy", [] { return webpOf(testImage(640, 480)); }, loads(1, 640, 480)},
        {"WebpLossless", [] { return webpOf(testImage(320, 240), true); }, loads(1, 320, 240)},
        {"WebpLossyWithAlpha", [] { return webpOf(testImage(320, 240, true)); },
         loads(1, 320, 240)},
        {"WebpWithBytesAfterItsEnd",
         [=] { return webpOf(small) + std::string(300, '\0') + "RIFF junk"; }, loads(1, 64, 48)},
        {"WebpPhoto24Megapixels", [] { return webpOf(testImage(5712, 4284)); },
         loads(1, 5712, 4284)},
        {"WebpAnimationOf300Frames", [] { return webpAnimationOf(200, 150, 300); },
         loads(300, 200, 150)},
        {"TiffInStrips", [] { return tiffOf(testImage(640, 480)); }, loads(1, 640, 480)},
        {"TiffInTiles", [] { return tiffOf(testImage(300, 200), {.tile = 64, .compression = 8}); },
         loads(1, 300, 200)},
        {"TiffOneBitFax",
         [] {
             return tiffOf(
                 testImage(640, 480),
                 {.kind = TiffShape::Kind::Grey, .bits = 1, .rowsPerStrip = 480, .compression = 4});
         },
         loads(1, 640, 480)},
        {"TiffGrey16Bit",
         [] { return tiffOf(testImage(640, 480), {.kind = TiffShape::Kind::Grey, .bits = 16}); },
         loads(1, 640, 480)},
        {"TiffRgb16BitWithAlpha",
         [] { return tiffOf(testImage(320, 240, true), {.bits = 16, .alpha = true}); },
         loads(1, 320, 240)},
        {"TiffPalette",
         [] { return tiffOf(testImage(640, 480), {.kind = TiffShape::Kind::Palette}); },
         loads(1, 640, 480)},
        {"TiffCmyk", [] { return tiffOf(testImage(640, 480), {.kind = TiffShape::Kind::Cmyk}); },
         loads(1, 640, 480)},
        {"BigTiff", [] { return tiffOf(testImage(640, 480), {.big = true}); }, loads(1, 640, 480)},
        {"BigTiffInTiles",
         [] { return tiffOf(testImage(300, 200), {.tile = 64, .compression = 8, .big = true}); },
         loads(1, 300, 200)},
        {"TiffFirstPageOfThree", [] { return tiffOf(testImage(320, 240), {.pages = 3}); },
         loads(1, 320, 240)},
        {"TiffTurnedByItsOrientation",
         [] { return tiffOf(testImage(4000, 3000), {.orientation = 6}); }, loads(1, 4000, 3000)},
        // One strip of 24 megapixels, read a row at a time.
        {"TiffPhoto24Megapixels",
         [] { return tiffOf(testImage(5712, 4284), {.rowsPerStrip = 4284, .compression = 8}); },
         loads(1, 5712, 4284)},
        {"TiffPhoto24MegapixelsInTiles",
         [] { return tiffOf(testImage(5712, 4284), {.tile = 256, .compression = 8}); },
         loads(1, 5712, 4284)},
        {"WebpWithADamagedKeyFrame", [=] { return damageWebpChunk(webpOf(small), "VP8 "); },
         invalid},
        {"WebpLosslessWithADamagedSignature",
         [=] { return damageWebpChunk(webpOf(small, true), "VP8L"); }, invalid},
        {"WebpAnimationWithADamagedFrame",
         [] { return damageWebpChunk(webpAnimationOf(64, 48, 5), "VP8 "); }, invalid},
        {"TiffWhoseStripIsBeyondItsEnd",
         [=] { return withTiffTag(tiffOf(small, {.rowsPerStrip = 48}), 273, 1u << 30); }, invalid},
        // libtiff tells of the bad code and fills the rest of the page with white.
        {"TiffFaxPageWithABadCode",
         [] {
             std::string tiff = tiffOf(
                 testImage(640, 480),
                 {.kind = TiffShape::Kind::Grey, .bits = 1, .rowsPerStrip = 480, .compression = 4});
             for (std::size_t i = tiff.size() / 3; i < tiff.size() / 3 + 16; ++i)
                 tiff[i] = static_cast<char>(tiff[i] ^ 0xff);
             return tiff;
         },
         invalid},
        // A fax page of 231 × 65528 in 162 bytes, its rows ending early from
        // the eighth on: libtiff only warns of it, and fills the page with white.
        {"TiffFoundByTheFuzzer",
         [] {
             return std::string(
                 "\x49\x49\x2a\x00\x1a\x00\x00\x00\x26\xa0\xd5\xd6\x43\x0b\x91\x67\x22\x79\xf4\x98"
                 "\x88\x70\x01\x00\x10\x00\x0b\x00\x00\x01\x03\x00\x01\x00\x00\x00\xe7\x00\xff\xfb"
                 "\x01\x01\x03\x00\x01\x00\x00\x00\xf8\xff\xff\xfc\x02\x01\x03\x00\x01\x00\x00\x00"
                 "\x01\x00\x00\x00\x03\x01\x03\x00\x01\x00\x00\x00\x04\x00\x00\x00\x06\x01\x03\x00"
                 "\x01\x00\x00\x00\x00\x00\x00\x00\x11\x01\x04\x00\x01\x00\x00\x00\x08\x00\x00\x00"
                 "\x12\x01\x03\x00\x01\x00\x00\x00\x01\x00\x00\x00\x15\x01\x03\x00\x01\x00\x00\x00"
                 "\x01\x00\x16\x01\x03\x00\x01\x00\x00\x08\xf0\xff\xff\xff\xe8\xfe\xfb\x00\x01\x00"
                 "\x00\x00\x11\x00\x00\x00\x1c\x01\x03\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00"
                 "\x00\x00",
                 162);
         },
         invalid},
        {"TiffPlaneOfAnExtraSampleWithoutData",
         [=] { return tiffOf(small, {.kind = TiffShape::Kind::Grey, .extra = true, .planes = 1}); },
         invalid},
        {"TiffClaiming100000Squared",
         [=] {
             return withTiffTag(withTiffTag(tiffOf(small, {.rowsPerStrip = 48}), 256, 100000), 257,
                                100000);
         },
         tooLarge},
        {"WebpAnimationClaimingACanvasOf20000Squared",
         [] { return withWebpCanvas(webpAnimationOf(64, 48, 3), 20000, 20000); }, tooLarge},
        // A lossless still is held whole by libwebp: 16384 × 16384 is too much.
        {"WebpLosslessClaiming16384Squared",
         [=] {
             std::string webp = webpOf(small, true);
             const auto at = webp.find("VP8L") + 9;
             webp.replace(at, 3, "\xff\xff\xff");
             webp[at + 3] = static_cast<char>(webp[at + 3] | 0x0f);
             return webp;
         },
         tooLarge},
        // HEIF, AVIF and JPEG XL
        {"Heic", [] { return heicOf(testImage(256, 192)); }, loads(1, 256, 192)},
        {"HeicWithAlpha", [] { return heicOf(testImage(64, 48, true)); }, loads(1, 64, 48)},
        {"Heic10Bit", [] { return heicOf(testImage(64, 48), {.tenBit = true}); }, loads(1, 64, 48)},
        {"HeicGridOfOddSize", [] { return heicOf(testImage(65, 49)); }, loads(1, 65, 49)},
        {"HeicWithBytesAfterItsEnd", [] { return heicOf(testImage(64, 48)) + "junk"; },
         loads(1, 64, 48)},
        {"Avif", [] { return avifOf({testImage(64, 48)}); }, loads(1, 64, 48)},
        {"AvifWithAlpha", [] { return avifOf({testImage(64, 48, true)}); }, loads(1, 64, 48)},
        // libavif converts no constant-luminance matrix; libheif takes BT.2020's other one.
        {"Avif10BitInBt2020ConstantLuminance",
         [] { return avifOf({testImage(64, 48)}, {.depth = 10, .matrix = 10}); }, loads(1, 64, 48)},
        {"AvifSequence",
         [=] {
             return avifOf({small, flippedImage(small, false, true), small});
         },
         loads(3, 64, 48)},
        {"Jxl", [] { return jxlOf({testImage(64, 48)}); }, loads(1, 64, 48)},
        {"JxlWithAlpha", [] { return jxlOf({testImage(64, 48, true)}); }, loads(1, 64, 48)},
        {"JxlAnimation",
         [=] {
             return jxlOf({small, flippedImage(small, false, true), small});
         },
         loads(3, 64, 48)},
        {"JxlWithBytesAfterItsEnd", [] { return jxlOf({testImage(64, 48)}) + "junk"; },
         loads(1, 64, 48)},
        {"HeicWithADamagedStream", [] { return withDamagedStream(heicOf(testImage(64, 48))); },
         invalid},
        {"AvifWithADamagedStream", [] { return withDamagedStream(avifOf({testImage(64, 48)})); },
         invalid},
        {"JxlWithDamagedData",
         [] {
             std::string jxl = jxlOf({testImage(128, 96)});
             for (std::size_t i = jxl.size() / 3; i < jxl.size() / 3 + 64; ++i)
                 jxl[i] = static_cast<char>(jxl[i] ^ 0x5a);
             return jxl;
         },
         invalid},
        {"HeicOf300Megapixels", [] { return withBoxSize(heicOf(testImage(64, 48)), 20000, 15000); },
         tooLarge},
        {"AvifOf268Megapixels",
         [] { return withBoxSize(avifOf({testImage(64, 48)}), 16384, 16384); }, tooLarge},
        {"JxlOf400Megapixels", [] { return jxlHeaderOnly(20000, 20000); }, tooLarge},

        // Damage.
        {"JpegWithAnEndInsideItsScan",
         [] {
             std::string jpeg = jpegOf(testImage(256, 256));
             jpeg.replace(jpeg.size() * 2 / 3, 2, "\xff\xd9");
             return jpeg;
         },
         invalid},
        {"PngWithDamagedImageData", [=] { return damageChunk(pngOf(small), "IDAT"); }, invalid},
        {"PngWithTooLittleImageData", [] { return pngInflatingTo(100, 100, 50); }, invalid},
        {"PngWhoseTextClaims2GiB",
         [] { return pngHeaderOnly(1, 1) + std::string("\x7f\xff\xff\xff", 4) + "tEXtshort"; },
         invalid},
        {"GifFrameWithLessDataThanItNeeds",
         [] { return withFrameSize(gifOf(100, 100, {solidFrame(10, 10, 1)}), 100, 100); }, invalid},
        {"BmpRleWithoutItsEnd",
         [] {
             const std::string bmp = rleBmpOfMoves(8, 8, 4);
             return bmp.substr(0, bmp.size() - 2);
         },
         invalid},

        // Made to take time: refused, or read, within the bound.
        {"JpegWithTenThousandScans", [] { return jpegWithScans(testImage(200, 200), 10000); },
         invalid},
        {"JpegOfTwoThousandValidScans", [] { return jpegOfValidScans(testImage(16, 16)); },
         invalid},
        {"PngInflatingTo64MiB", [] { return pngInflatingTo(16, 16, 64u << 20); }, loads(1, 16, 16)},
        {"BmpRleOfAMillionMoves", [] { return rleBmpOfMoves(16, 16, 1000000); }, loads(1, 16, 16)},

        // Once slow under the fuzzer on a loaded machine: a frame with almost
        // no data after a looping block.
        {"GifFoundByTheFuzzer",
         [] {
             return std::string(
                 "\x47\x49\x46\x38\x39\xf3\x00\x5e\x00\x00\x00\x00\x00\x21\xff\x0b\x4e\xb9\x54\x53"
                 "\x43\x41\x50\x45\x31\x2e\x30\x03\x01\x43\x00\x00\x21\xf9\x04\x09\x0c\x00\xff\x00"
                 "\x2c\x00\x00\x00\x00\x01\x01\x03\xee\x00\x00\x00\x01\x01\x01\x01\x01\xb0",
                 58);
         },
         invalid},

        // Made to take memory: refused for what they would allocate.
        {"GifOfMoreFramesThanAnyAnimation",
         [] {
             std::vector<GifFrame> frames(20001, solidFrame(1, 1, 1));
             return gifOf(2, 2, frames);
         },
         tooLarge},
        {"GifScreenOf2047SquaredWith4000TinyFrames",
         [] { return gifOf(2047, 2047, std::vector<GifFrame>(4000, solidFrame(1, 1, 1))); },
         loads(4000, 2047, 2047)},
        {"GifScreenOf8192x4096", [] { return gifOf(8192, 4096, {solidFrame(1, 1, 1)}); }, tooLarge},
        {"JpegClaiming65000Squared", [=] { return withJpegSize(jpegOf(small), 65000, 65000); },
         tooLarge},
        {"ProgressiveJpegClaiming100Megapixels",
         [=] { return withJpegSize(jpegOf(small, true), 10000, 10000); }, tooLarge},
        {"PngOf400Megapixels",
         [] { return pngHeaderOnly(20000, 20000) + pngChunk("IDAT", "x") + pngChunk("IEND", ""); },
         tooLarge},
    };

    // A 24-megapixel photo as phones store it, 64 tiles of 704 × 528: more
    // as RGB than the largest block libheif allows itself unless told. Only a
    // libheif that makes grids can write one.
    if (heicGridsCanBeMade())
        c.push_back({"HeicPhotoInTiles", [] { return heicOf(testImage(5632, 4224), {.grid = 8}); },
                     loads(1, 5632, 4224)});

#if !LIBHEIF_HAVE_VERSION(1, 19, 0)
    // libheif 1.15 stores a picture of odd size as a grid of one tile, and
    // makes a grid as large as the grid's own data claims.
    c.push_back({"HeicGridClaimingMoreThanItsSize",
                 [] { return withGridSize(heicOf(testImage(65, 49)), 60000, 60000); }, tooLarge});
#else
    // A 50-megapixel camera's 10-bit 4:2:2 photo in tiles, taken turned: held
    // a row of tiles at a time where libheif decodes single tiles.
    c.push_back({"Heic10BitCameraPhotoInTilesTurned",
                 [] {
                     return heicOf(testImage(8192, 6144),
                                   {.tenBit = true, .orientation = 6, .grid = 16, .chroma = 422});
                 },
                 loads(1, 6144, 8192)});
#endif

#if JPEGXL_NUMERIC_VERSION >= JPEGXL_COMPUTE_NUMERIC_VERSION(0, 11, 0) || defined(__GLIBC__)
    // What libjxl holds is metered (from 0.11 on) or its heap watched (before,
    // where the system tells the heap): a 24-megapixel photo loads, and a lossless
    // one, which needs several times as much, is too large.
    c.push_back({"JxlPhoto24Megapixels", [] { return jxlOf({testImage(5712, 4284)}); },
                 loads(1, 5712, 4284)});
    c.push_back({"JxlLossless24Megapixels",
                 [] { return jxlOf({testImage(5712, 4284)}, 100, true); }, tooLarge});
#endif

    // Every format cut short anywhere is refused.
    const std::pair<const char*, std::function<std::string()>> whole[] = {
        {"Jpeg", [] { return jpegOf(testImage(128, 96)); }},
        {"ProgressiveJpeg", [] { return jpegOf(testImage(128, 96), true); }},
        {"Png", [] { return pngOf(testImage(128, 96)); }},
        {"Gif", [] { return animation(); }},
        {"Bmp", [] { return bmpOf(testImage(128, 96)); }},
        {"RleBmp", [] { return rleBmpOfMoves(16, 16, 100); }},
        {"Webp", [] { return webpOf(testImage(128, 96)); }},
        {"WebpLossless", [] { return webpOf(testImage(128, 96), true); }},
        {"WebpAnimation", [] { return webpAnimationOf(128, 96, 4); }},
        {"Tiff", [] { return tiffOf(testImage(128, 96)); }},
        {"TiledTiff", [] { return tiffOf(testImage(128, 96), {.tile = 32}); }},
        {"Heic", [] { return heicOf(testImage(128, 96)); }},
        {"Avif", [] { return avifOf({testImage(128, 96)}); }},
        {"AvifSequence",
         [] {
             return avifOf({testImage(64, 48), testImage(64, 48, true)});
         }},
        {"Jxl", [] { return jxlOf({testImage(128, 96)}); }},
        {"JxlAnimation",
         [] {
             return jxlOf({testImage(64, 48), flippedImage(testImage(64, 48), false, true)});
         }},
    };
    for (const auto& [format, make] : whole)
        for (int percent : {10, 50, 90})
            c.push_back({std::string(format) + "CutAt" + std::to_string(percent) + "Percent",
                         [make, percent] { return cut(make(), percent); }, invalid});
#if LIBHEIF_HAVE_VERSION(1, 19, 0)
    // A grid cut short, decoded a tile at a time.
    for (int percent : {50, 90})
        c.push_back({"HeicGridCutAt" + std::to_string(percent) + "Percent",
                     [percent] { return cut(heicOf(testImage(256, 192), {.grid = 2}), percent); },
                     invalid});
#endif
    // A cut that ends on a 0x3B inside a GIF's data is still a cut.
    const std::string gif = animation();
    int after = 0;
    for (std::size_t at = 13; at + 1 < gif.size() && after < 4; ++at)
        if (gif[at] == ';') {
            c.push_back({"GifCutAfterA3BAt" + std::to_string(at),
                         [gif, at] { return gif.substr(0, at + 1); }, invalid});
            ++after;
        }
    return c;
}

class PictureVerdict : public testing::TestWithParam<Case> {};

struct Outcome {
    int error = 0; // 0: loaded
    int frames = 0;
    int width = 0;
    int height = 0;
    long peakKiB = 0;       // the loading process
    long growthKiB = 0;     // its peak while loading, over what it had before
    long helperPeakKiB = 0; // the decoding helper
};

// A figure of /proc/self/status, in KiB.
long statusKiB(const char* field) {
    std::FILE* status = std::fopen("/proc/self/status", "re");
    char line[256];
    long value = 0;
    while (status && std::fgets(line, sizeof line, status))
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            value = std::atol(line + std::strlen(field));
    if (status)
        std::fclose(status);
    return value;
}

// Loads in a child process of its own, so that the peak memory of the load
// (and of the helper it starts) is the load's alone.
Outcome loadAlone(const char* name) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {-1};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        Outcome o;
        // Forget the peak so far: what counts is the load's.
        const long resting = statusKiB("VmRSS:");
        if (std::FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", clear);
            std::fclose(clear);
        }
        try {
            const rt::Picture p = rt::loadPicture(name);
            o.frames = p.frameCount();
            o.width = p.width();
            o.height = p.height();
        } catch (const rt::Error& e) {
            o.error = static_cast<int>(e.number());
        }
        rusage self{}, helper{};
        ::getrusage(RUSAGE_SELF, &self);
        ::getrusage(RUSAGE_CHILDREN, &helper);
        o.peakKiB = self.ru_maxrss;
        o.growthKiB = statusKiB("VmHWM:") - resting;
        o.helperPeakKiB = helper.ru_maxrss;
        const bool written = ::write(pipeFds[1], &o, sizeof o) == sizeof o;
        ::_exit(written ? 0 : 1);
    }
    ::close(pipeFds[1]);
    Outcome o{-1};
    const bool got = ::read(pipeFds[0], &o, sizeof o) == sizeof o;
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return got ? o : Outcome{-1};
}

TEST_P(PictureVerdict, IsTheOneAUserExpectsWithinTheMemoryBound) {
    const Case& c = GetParam();
    TempTree tree;
    tree.write("picture", c.bytes());
    const Outcome o = loadAlone("E:\\VB\\picture");
    ASSERT_NE(o.error, -1) << "the load did not finish";
    EXPECT_EQ(o.error, static_cast<int>(c.expected.error));
    if (c.expected.error == ErrorNumber{}) {
        EXPECT_EQ(o.frames, c.expected.frames);
        EXPECT_EQ(o.width, c.expected.width);
        EXPECT_EQ(o.height, c.expected.height);
    }
#if !defined(__SANITIZE_ADDRESS__)
    // What the program itself and its decoding helper may take at most.
    constexpr long boundKiB = 300 * 1024;
    EXPECT_LT(o.peakKiB, boundKiB);
    EXPECT_LT(o.helperPeakKiB, boundKiB);
    // However large the photo, the program holds it only at the size shown.
    EXPECT_LT(o.growthKiB, 48 * 1024);
#endif
}

INSTANTIATE_TEST_SUITE_P(Files, PictureVerdict, testing::ValuesIn(cases()),
                         [](const auto& info) { return info.param.name; });

// The same table for the Windows build's helper: with ORBITALE_VERDICT_TABLE
// naming a folder, each case's file goes there and its verdict, as
// picture-check prints it, into expected.txt (tests/win32/verdicts_test.sh).
TEST(PictureVerdictTable, ForTheWindowsBuild) {
    const char* folder = std::getenv("ORBITALE_VERDICT_TABLE");
    if (!folder || !*folder)
        GTEST_SKIP() << "ORBITALE_VERDICT_TABLE names no folder";
    std::ofstream expected(std::string(folder) + "/expected.txt");
    for (const Case& c : cases()) {
        std::ofstream(std::string(folder) + "/" + c.name, std::ios::binary) << c.bytes();
        const Expected& e = c.expected;
        if (e.error == ErrorNumber{})
            expected << c.name << ": ok " << e.frames << ' ' << e.width << 'x' << e.height << '\n';
        else
            expected << c.name << ": error " << static_cast<int>(e.error) << ' '
                     << rt::describe(e.error) << '\n';
    }
    EXPECT_TRUE(expected.flush()) << "could not write into " << folder;
}

TEST(PictureVerdict, TopDownBmpKeepsItsTopRowAtTheTop) {
    TempTree tree;
    QImage image = testImage(8, 4);
    image.setPixel(0, 0, qRgb(255, 0, 0));
    image.setPixel(0, 3, qRgb(0, 0, 255));
    for (bool topDown : {false, true}) {
        tree.write("b.bmp", bmpOf(image, topDown));
        const rt::Picture p = rt::loadPicture("E:\\VB\\b.bmp");
        const QImage& frame = p.data()->frames.front();
        EXPECT_EQ(frame.pixel(0, 0), qRgb(255, 0, 0)) << "top-down " << topDown;
        EXPECT_EQ(frame.pixel(0, 3), qRgb(0, 0, 255)) << "top-down " << topDown;
    }
}

TEST(PictureVerdict, GifFramesAreComposedOnTheScreenWithTransparency) {
    TempTree tree;
    GifFrame background = solidFrame(4, 4, 1); // red
    GifFrame dot = solidFrame(2, 2, 2);        // blue, its first pixel transparent
    dot.left = 1;
    dot.top = 1;
    dot.transparent = 0;
    dot.pixels[0] = 0;
    tree.write("a.gif", gifOf(4, 4, {background, dot}));
    const rt::Picture p = rt::loadPicture("E:\\VB\\a.gif");
    ASSERT_EQ(p.frameCount(), 2);
    const QImage& second = p.data()->frames[1];
    EXPECT_EQ(second.pixel(1, 1), qRgb(255, 0, 0)); // shows through
    EXPECT_EQ(second.pixel(2, 2), qRgb(0, 128, 255));
    EXPECT_EQ(second.pixel(0, 0), qRgb(255, 0, 0));
}

} // namespace

// Lanczos-3 resampling, across then down: how a good filter fits a whole
// decode to the box, for comparison.
QImage lanczos(const QImage& from, QSize to) {
    const auto pass = [](const QImage& in, int outW, int outH, bool across) {
        QImage out(outW, outH, QImage::Format_RGB32);
        const int inLen = across ? in.width() : in.height();
        const int outLen = across ? outW : outH;
        const double scale = double(inLen) / outLen;
        const double radius = 3 * scale;
        for (int o = 0; o < outLen; ++o) {
            const double centre = (o + 0.5) * scale - 0.5;
            std::vector<std::pair<int, double>> taps;
            double sum = 0;
            for (int i = int(std::ceil(centre - radius)); i <= int(std::floor(centre + radius));
                 ++i) {
                const double t = (i - centre) / scale;
                const double w =
                    t == 0 ? 1
                    : std::abs(t) >= 3
                        ? 0
                        : 3 * std::sin(M_PI * t) * std::sin(M_PI * t / 3) / (M_PI * M_PI * t * t);
                taps.emplace_back(std::clamp(i, 0, inLen - 1), w);
                sum += w;
            }
            const int other = across ? outH : outW;
            for (int k = 0; k < other; ++k) {
                double c[3] = {};
                for (const auto& [i, w] : taps) {
                    const QRgb p = across ? in.pixel(i, k) : in.pixel(k, i);
                    c[0] += w * qRed(p);
                    c[1] += w * qGreen(p);
                    c[2] += w * qBlue(p);
                }
                const auto v = [&](double x) {
                    return std::clamp(int(std::lround(x / sum)), 0, 255);
                };
                out.setPixel(across ? o : k, across ? k : o, qRgb(v(c[0]), v(c[1]), v(c[2])));
            }
        }
        return out;
    };
    return pass(pass(from, to.width(), from.height(), true), to.width(), to.height(), false);
}

double psnr(const QImage& a, const QImage& b) {
    double squares = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
            for (int d : {qRed(p) - qRed(q), qGreen(p) - qGreen(q), qBlue(p) - qBlue(q)})
                squares += d * d;
        }
    const double mean = squares / (3.0 * a.width() * a.height());
    return 10 * std::log10(255.0 * 255.0 / std::max(mean, 1e-9));
}

// The box shows a large photo from its reduced decode as it would from a
// whole decode fitted by Lanczos: at one and two device pixels a pixel.
TEST(PictureVerdict, AReducedPhotoShowsAsTheWholeOneFittedByLanczos) {
    QImage photo = testImage(4000, 3000);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x) {
            const double r = std::hypot(x - 2000.0, y - 1500.0);
            const QRgb p = photo.pixel(x, y);
            photo.setPixel(x, y, qRgb(qRed(p), qGreen(p), int(127 + 120 * std::sin(r / 9))));
        }
    const std::string jpeg = jpegOf(photo);
    TempTree tree;
    tree.write("photo.jpg", jpeg);
    const rt::Picture picture = rt::loadPicture("E:\\VB\\photo.jpg");
    const QImage& kept = picture.data()->frames.front();
    ASSERT_LT(kept.width(), 4000);
    const QImage whole = QImage::fromData(reinterpret_cast<const uchar*>(jpeg.data()),
                                          static_cast<int>(jpeg.size()), "JPEG");
    ASSERT_EQ(whole.size(), QSize(4000, 3000));
    for (int ratio : {1, 2}) {
        // What covers the 684 × 484 box: 684 × 513, in device pixels.
        const QSize device(684 * ratio, 513 * ratio);
        const QImage shown = kept.scaled(device, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_RGB32);
        const double quality = psnr(shown, lanczos(whole, device));
        std::printf("reduced against whole at %dx: %.1f dB\n", ratio, quality);
        EXPECT_GT(quality, 38.0) << "at " << ratio << "x";
    }
}

TEST(PictureVerdict, AReducedAnimationKeepsWhatEachFrameChanged) {
    TempTree tree;
    GifFrame dot = solidFrame(300, 300, 2);
    dot.left = 1500;
    dot.top = 1500;
    tree.write("a.gif", gifOf(3000, 3000, {solidFrame(3000, 3000, 1), dot}));
    const rt::Picture p = rt::loadPicture("E:\\VB\\a.gif");
    ASSERT_EQ(p.frameCount(), 2);
    const QImage& first = p.data()->frames[0];
    const QImage& second = p.data()->frames[1];
    ASSERT_LT(first.width(), 3000);
    const auto at = [&](int x) { return x * first.width() / 3000; };
    EXPECT_EQ(first.pixel(at(1650), at(1650)), qRgb(255, 0, 0));
    EXPECT_EQ(second.pixel(at(1650), at(1650)), qRgb(0, 128, 255));
    EXPECT_EQ(second.pixel(at(1000), at(1650)), qRgb(255, 0, 0));
    EXPECT_EQ(second.pixel(at(1650), at(2000)), qRgb(255, 0, 0));
}

namespace {

using testsupport::TiffShape;

// Red, blue, white and black quarters: a picture every kind holds, and that
// shows which way up it came out.
QImage quarters() {
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            image.setPixel(x, y,
                           y < 24 ? (x < 32 ? qRgb(255, 0, 0) : qRgb(0, 0, 255))
                                  : (x < 32 ? qRgb(255, 255, 255) : qRgb(0, 0, 0)));
    return image;
}

struct Shown {
    const char* name;
    std::function<std::string(const QImage&)> file; // of quarters()
    QSize size;
    const char* corners; // top left, top right, bottom left, bottom right: R B W K
    int greyBits = 0;    // a grey picture of so many bits a sample
    int tolerance = 0;   // in each channel: lossy codecs blur the colours a little
};

class ShownPixels : public testing::TestWithParam<Shown> {};

// Each kind of stored picture comes out with its colours, turned and
// mirrored as the file says: TIFF exactly and upright (the files are stored
// turned), HEIC and AVIF within their codecs' blur, turned as they ask.
TEST_P(ShownPixels, AreTheStoredColoursTheWayTheFileSays) {
    const Shown& row = GetParam();
    TempTree tree;
    tree.write("picture", row.file(quarters()));
    const rt::Picture p = rt::loadPicture("E:\\VB\\picture");
    const QImage shown = p.data()->frames.front().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), row.size);
    const int w = row.size.width(), h = row.size.height();
    const QPoint inside[] = {{6, 6}, {w - 7, 6}, {6, h - 7}, {w - 7, h - 7}};
    for (int corner = 0; corner < 4; ++corner) {
        const char c = row.corners[corner];
        QRgb want = c == 'R'   ? qRgb(255, 0, 0)
                    : c == 'B' ? qRgb(0, 0, 255)
                    : c == 'W' ? qRgb(255, 255, 255)
                               : qRgb(0, 0, 0);
        if (row.greyBits) {
            const int bits = std::min(row.greyBits, 8);
            const int v = (qGray(want) >> (8 - bits)) * 255 / ((1 << bits) - 1);
            want = qRgb(v, v, v);
        }
        const QRgb got = shown.pixel(inside[corner]);
        for (const int off :
             {qRed(got) - qRed(want), qGreen(got) - qGreen(want), qBlue(got) - qBlue(want)})
            EXPECT_LE(std::abs(off), row.tolerance) << "corner " << corner << " should be " << c;
    }
}

std::function<std::string(const QImage&)> tiff(TiffShape shape) {
    return [shape](const QImage& image) { return tiffOf(image, shape); };
}
std::function<std::string(const QImage&)> avif(AvifOptions options) {
    return [options](const QImage& image) { return avifOf({image}, options); };
}
std::function<std::string(const QImage&)> heic(HeicOptions options) {
    return [options](const QImage& image) { return heicOf(image, options); };
}

using Kind = TiffShape::Kind;
constexpr QSize wide(64, 48), tall(48, 64);
constexpr int blur = 64;

const Shown shownPixels[] = {
    {"TiffRgbStrips", tiff({}), wide, "RBWK"},
    {"TiffRgbTiles", tiff({.tile = 16, .compression = 8}), wide, "RBWK"},
    {"TiffRgb16Bit", tiff({.bits = 16}), wide, "RBWK"},
    {"TiffRgbWithAlpha", tiff({.alpha = true}), wide, "RBWK"},
    {"TiffGrey1BitFax", tiff({.kind = Kind::Grey, .bits = 1, .compression = 4}), wide, "RBWK", 1},
    {"TiffGrey4Bit", tiff({.kind = Kind::Grey, .bits = 4}), wide, "RBWK", 4},
    {"TiffGrey16Bit", tiff({.kind = Kind::Grey, .bits = 16}), wide, "RBWK", 16},
    {"TiffGreyFloat", tiff({.kind = Kind::Grey, .bits = 32, .floating = true}), wide, "RBWK", 16},
    {"TiffGreyFloatWithItsPredictor",
     tiff({.kind = Kind::Grey, .bits = 32, .compression = 8, .floating = true, .predictor = 3}),
     wide, "RBWK", 16},
    {"TiffGreyFloatOverItsOwnRange",
     tiff({.kind = Kind::Grey, .bits = 32, .floating = true, .range = 4000}), wide, "RBWK", 16},
    {"TiffRgbFloatDeflate", tiff({.bits = 32, .compression = 8, .floating = true}), wide, "RBWK"},
    {"TiffPalette4Bit", tiff({.kind = Kind::Palette, .bits = 4}), wide, "RBWK"},
    {"TiffPalette8Bit", tiff({.kind = Kind::Palette}), wide, "RBWK"},
    {"TiffCmyk", tiff({.kind = Kind::Cmyk}), wide, "RBWK"},
    {"TiffStripsTurnedQuarter", tiff({.orientation = 6}), wide, "RBWK"},
    {"TiffStripsTransposed", tiff({.orientation = 5}), wide, "RBWK"},
    {"TiffTilesTurnedBack", tiff({.tile = 16, .orientation = 8}), wide, "RBWK"},
    {"TiffTilesMirrored", tiff({.tile = 16, .orientation = 2}), wide, "RBWK"},
    {"TiffCmykUpsideDown", tiff({.kind = Kind::Cmyk, .orientation = 3}), wide, "RBWK"},
    {"TiffCmyk16Bit", tiff({.kind = Kind::Cmyk, .bits = 16}), wide, "RBWK"},
    {"TiffGrey12BitTiles", tiff({.kind = Kind::Grey, .bits = 12, .tile = 16}), wide, "RBWK", 12},
    {"TiffGreyFloatTiles", tiff({.kind = Kind::Grey, .bits = 32, .tile = 16, .floating = true}),
     wide, "RBWK", 16},
    {"TiffGrey32BitWithItsPredictor", tiff({.kind = Kind::Grey, .bits = 32, .predictor = 2}), wide,
     "RBWK", 32},
    {"TiffRgbPlanesWithAlpha", tiff({.alpha = true, .planes = 4}), wide, "RBWK"},
    {"TiffZstdTiles", tiff({.tile = 16, .compression = 50000}), wide, "RBWK"},
    {"TiffLercStrips", tiff({.compression = 34887}), wide, "RBWK"},
    {"TiffPackBitsStrips", tiff({.compression = 32773}), wide, "RBWK"},
    {"TiffJpegStrips", tiff({.compression = 7}), wide, "RBWK", 0, 8},
    {"TiffWebpTileOfAMap", tiff({.alpha = true, .tile = 512, .compression = 50001}), wide, "RBWK",
     0, 8},
    // The file's turn and mirror, applied by libheif for HEIC and by us for AVIF.
    {"AvifUpright", avif({}), wide, "RBWK", 0, blur},
    {"AvifTurnedLeft", avif({.turns = 1}), tall, "BKRW", 0, blur},
    {"AvifTurnedHalf", avif({.turns = 2}), wide, "KWBR", 0, blur},
    {"AvifTurnedRight", avif({.turns = 3}), tall, "WRKB", 0, blur},
    {"AvifMirroredLeftRight", avif({.mirror = 1}), wide, "BRKW", 0, blur},
    {"AvifMirroredTopBottom", avif({.mirror = 0}), wide, "WKRB", 0, blur},
    {"AvifTurnedLeftThenMirrored", avif({.turns = 1, .mirror = 1}), tall, "KBWR", 0, blur},
    {"AvifTurnedLeftThenFlipped", avif({.turns = 1, .mirror = 0}), tall, "RWBK", 0, blur},
    {"Avif12BitCroppedAtOddPixelsTurnedLeftThenMirrored",
     avif({.turns = 1, .mirror = 1, .depth = 12, .crop = QRect(35, 5, 29, 43)}), QSize(43, 29),
     "KBKB", 0, blur},
    {"HeicTurnedRight", heic({.orientation = 6}), tall, "WRKB", 0, blur},
    {"HeicTurnedLeft", heic({.orientation = 8}), tall, "BKRW", 0, blur},
};

// Tiles of one colour each (as large as libheif's encoder takes them
// without padding), turned and mirrored as a whole.
std::vector<Shown> shownPixelRows() {
    std::vector<Shown> rows(std::begin(shownPixels), std::end(shownPixels));
#if LIBHEIF_HAVE_VERSION(1, 18, 0)
    rows.push_back({"HeicGrid10BitTransposed",
                    [](const QImage& image) {
                        return heicOf(image.scaled(256, 192),
                                      {.tenBit = true, .orientation = 5, .grid = 2});
                    },
                    QSize(192, 256), "RWBK", 0, blur});
#endif
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Kinds, ShownPixels, testing::ValuesIn(shownPixelRows()),
                         [](const auto& info) { return info.param.name; });

} // namespace

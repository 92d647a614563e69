// AVIF stills and sequences through libavif (and dav1d or libaom beneath
// it). The codec gives a whole frame as YUV planes; they are converted to
// RGB a band of rows at a time, straight into the area filter, so the
// picture is never held as RGB at its own size. libavif leaves the file's
// crop, turn and mirror to us: the crop picks the rows and columns that go
// through the filter, and the turn and mirror are applied to the kept frame.

#include "decoder/decoder.h"
#include "decoder/reduce.h"

#include <avif/avif.h>

#include <algorithm>
#include <memory>
#include <new>

namespace decoder {

namespace {

struct DecoderDestroy {
    void operator()(avifDecoder* d) const { avifDecoderDestroy(d); }
};

// The codec's planes at their depth, 4:4:4 at most, with alpha, and its own
// state: 3.8 bytes a pixel measured here for an 8-bit 4:2:0 still. A
// sequence keeps up to eight frames it refers back to, and the one being
// decoded. The file itself stays in memory beside them.
constexpr std::uint64_t avifWorkBytes = 280u << 20;

std::uint64_t planeBytesPerPixel(const avifImage& image) {
    return image.depth > 8 ? 9 : 5;
}

// dav1d on one thread needs about 60 ns of processor time a pixel here for
// an 8-bit still, the conversion to RGB and the filter included; more at
// greater depth.
double nsPerPixel(const avifImage& image) {
    return image.depth > 8 ? 110.0 : 70.0;
}

// Rows converted to RGB at once, and the rows on each side of them the
// conversion sees as well, so that chroma is interpolated across bands as
// it would be across the whole picture.
constexpr int bandRows = 64;
constexpr int bandMargin = 4;

// The file's turn then mirror, as the Exif orientation that orient() applies.
int orientationOf(const avifImage& image) {
    Turn turn;
    if (image.transformFlags & AVIF_TRANSFORM_IROT)
        turn.turn(image.irot.angle & 3);
    if (image.transformFlags & AVIF_TRANSFORM_IMIR) {
#if AVIF_VERSION >= 1000000
        turn.mirror(image.imir.axis == 1);
#else
        turn.mirror(image.imir.mode == 1);
#endif
    }
    return turn.orientation();
}

// The part of the stored picture that is shown: all of it, unless the file
// crops it with a clean aperture libavif can turn into whole pixels. The
// crop is taken from the RGB rows, so it may start on any pixel whatever
// the chroma subsampling (libavif's older call checks it against that).
avifCropRect shownPart(avifDecoder& decoder) {
    const avifImage& image = *decoder.image;
    const avifCropRect whole{0, 0, image.width, image.height};
    if (!(image.transformFlags & AVIF_TRANSFORM_CLAP))
        return whole;
    avifCropRect clap{};
#if AVIF_VERSION >= 1020000
    const bool valid = avifCropRectFromCleanApertureBox(&clap, &image.clap, image.width,
                                                        image.height, &decoder.diag);
#else
    const bool valid = avifCropRectConvertCleanApertureBox(
        &clap, &image.clap, image.width, image.height, AVIF_PIXEL_FORMAT_YUV444, &decoder.diag);
#endif
    return valid && clap.width > 0 && clap.height > 0 ? clap : whole;
}

// Converts the shown part of the current frame to premultiplied ARGB, a
// band at a time, into the filter.
bool reduce(const avifImage& image, const avifCropRect& rect, Reducer& reducer) {
    const int chromaShift = image.yuvFormat == AVIF_PIXEL_FORMAT_YUV420 ? 1 : 0;
    const int top = static_cast<int>(rect.y);
    const int bottom = static_cast<int>(rect.y + rect.height);
    const int height = static_cast<int>(image.height);
    std::vector<std::uint32_t> band(std::size_t(image.width) *
                                    std::size_t(bandRows + 2 * bandMargin));
    for (int start = top & ~1; start < bottom; start += bandRows) {
        const int from = std::max(0, start - bandMargin);
        const int to = std::min(height, start + bandRows + bandMargin);
        // A view of the frame's planes from row `from`: the frame's own
        // planes, never freed through it.
        avifImage view = image;
        view.height = static_cast<std::uint32_t>(to - from);
        view.imageOwnsYUVPlanes = AVIF_FALSE;
        view.imageOwnsAlphaPlane = AVIF_FALSE;
        // libavif has no conversion for BT.2020's constant-luminance matrix;
        // libheif (and so every viewer on it) takes the non-constant one for
        // it, and so do we.
        if (view.matrixCoefficients == AVIF_MATRIX_COEFFICIENTS_BT2020_CL)
            view.matrixCoefficients = AVIF_MATRIX_COEFFICIENTS_BT2020_NCL;
        for (int c = 0; c < 3; ++c)
            if (view.yuvPlanes[c])
                view.yuvPlanes[c] +=
                    std::size_t(c == 0 ? from : from >> chromaShift) * view.yuvRowBytes[c];
        if (view.alphaPlane)
            view.alphaPlane += std::size_t(from) * view.alphaRowBytes;

        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, &view);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        rgb.format = AVIF_RGB_FORMAT_BGRA;
#else
        rgb.format = AVIF_RGB_FORMAT_ARGB;
#endif
        rgb.depth = 8;
        rgb.alphaPremultiplied = AVIF_TRUE;
        rgb.pixels = reinterpret_cast<std::uint8_t*>(band.data());
        rgb.rowBytes = image.width * 4;
        if (avifImageYUVToRGB(&view, &rgb) != AVIF_RESULT_OK)
            return false;
        for (int y = std::max(start, top); y < std::min(start + bandRows, bottom); ++y)
            reducer.row(band.data() + std::size_t(y - from) * image.width + rect.x);
    }
    return reducer.complete();
}

Verdict verdictOf(avifResult result) {
    return result == AVIF_RESULT_OUT_OF_MEMORY ? Verdict::OutOfMemory : Verdict::Invalid;
}

} // namespace

Verdict decodeAvif(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    try {
        const std::unique_ptr<avifDecoder, DecoderDestroy> decoder(avifDecoderCreate());
        if (!decoder)
            return Verdict::OutOfMemory;
        const auto& limits = budget.limits();
        // One thread: each more would hold frames and a heap of its own.
        decoder->maxThreads = 1;
        decoder->imageSizeLimit = static_cast<std::uint32_t>(
            std::min<std::uint64_t>(limits.pixels, AVIF_DEFAULT_IMAGE_SIZE_LIMIT));
        decoder->imageDimensionLimit = 1u << 16;
        decoder->imageCountLimit = static_cast<std::uint32_t>(limits.frames);
        // What browsers show, we show: a missing pixel-depth box or an odd
        // clean aperture is a remark, not damage.
        decoder->strictFlags = AVIF_STRICT_DISABLED;
        decoder->ignoreExif = AVIF_TRUE;
        decoder->ignoreXMP = AVIF_TRUE;
        avifResult result = avifDecoderSetIOMemory(decoder.get(), bytes.data(), bytes.size());
        if (result != AVIF_RESULT_OK)
            return verdictOf(result);
        result = avifDecoderParse(decoder.get());
        if (result != AVIF_RESULT_OK)
            return verdictOf(result);

        const avifImage& image = *decoder->image;
        const int frames = decoder->imageCount;
        if (frames < 1 || frames > limits.frames)
            return frames < 1 ? Verdict::Invalid : Verdict::OutOfMemory;
        const avifCropRect rect = shownPart(*decoder);
        const int orientation = orientationOf(image);
        const bool turned = orientation >= 5;
        const Size stored{static_cast<int>(rect.width), static_cast<int>(rect.height)};
        const Size size = turned ? Size{stored.height, stored.width} : stored;
        const std::uint32_t width = image.width;
        const std::uint32_t height = image.height;
        const std::uint64_t pixels = std::uint64_t(width) * height;
        const std::uint64_t held = frames > 1 ? 9 : 1;
        if (!budget.allowsPicture(width, height) ||
            pixels * planeBytesPerPixel(image) * held + bytes.size() > avifWorkBytes)
            return Verdict::OutOfMemory;
        const Size kept = keptSize(size, frames, limits);
        // The filter works on the stored picture; the turn comes after it.
        const Size keptStored = turned ? Size{kept.height, kept.width} : kept;
        sink.picture({size, frames, cpuMsFor(pixels * std::uint64_t(frames), nsPerPixel(image))});

        for (int i = 0; i < frames; ++i) {
            result = avifDecoderNextImage(decoder.get());
            if (result != AVIF_RESULT_OK)
                return verdictOf(result);
            // Every frame of a sequence has the first one's size.
            if (decoder->image->width != width || decoder->image->height != height)
                return Verdict::Invalid;
            if (!budget.takeFrame(std::uint64_t(kept.width), std::uint64_t(kept.height)))
                return Verdict::OutOfMemory;
            Reducer reducer(stored, keptStored);
            if (!reduce(*decoder->image, rect, reducer))
                return Verdict::Invalid;
            Frame& frame = reducer.frame();
            orient(frame, orientation);
            if (frames > 1) {
                const double ms = decoder->imageTiming.duration * 1000.0;
                frame.delay = ms < 20.0 || !(ms < 1e9) ? 100 : static_cast<int>(ms + 0.5);
            }
            sink.frame(frame);
        }
        return Verdict::Ok;
    } catch (const std::bad_alloc&) {
        return Verdict::OutOfMemory;
    }
}

} // namespace decoder

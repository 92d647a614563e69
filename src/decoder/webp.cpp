// WebP through libwebp. A still is decoded by libwebp straight to the kept
// size (its own scaled decoding), lossy ones a few rows at a time; a
// lossless still is held whole by the library, so it is held to the size a
// whole frame may have. An animation is counted by the demuxer before its
// first frame, so that any number of frames gets the kept size at which all
// of them fit; libwebp's animation decoder composes each frame on the whole
// canvas, and the kept frame is reduced from it where it changed.
//
// The RIFF header says where the picture ends: bytes after it are ignored,
// a file shorter than it says is cut short.

#include "decoder/decoder.h"
#include "decoder/reduce.h"

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <memory>

namespace decoder {

namespace {

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
// Premultiplied blue, green, red, alpha bytes: in memory the 0xAARRGGBB
// words of a frame.
constexpr WEBP_CSP_MODE wordOrder = MODE_bgrA;
#else
constexpr WEBP_CSP_MODE wordOrder = MODE_Argb;
#endif

// The processor time a frame's pixels take libwebp here, with the
// reduction after it, in nanoseconds a pixel.
constexpr double lossyNsPerPixel = 12.0;
constexpr double losslessNsPerPixel = 25.0;
constexpr double animationNsPerPixel = 6.0;

Verdict verdictOf(VP8StatusCode status) {
    switch (status) {
    case VP8_STATUS_OK:
        return Verdict::Ok;
    case VP8_STATUS_OUT_OF_MEMORY:
        return Verdict::OutOfMemory;
    default:
        return Verdict::Invalid; // cut short, corrupt, or a kind libwebp does not know
    }
}

Verdict decodeStill(std::span<const std::uint8_t> bytes, const WebPBitstreamFeatures& features,
                    Budget& budget, FrameSink& sink) {
    const Size size{features.width, features.height};
    const bool lossless = features.format == 2;
    if (!budget.allowsPicture(static_cast<std::uint64_t>(size.width),
                              static_cast<std::uint64_t>(size.height)) ||
        (lossless && !budget.allowsSource(static_cast<std::uint64_t>(size.width),
                                          static_cast<std::uint64_t>(size.height))))
        return Verdict::OutOfMemory;
    const Size kept = keptSize(size, 1, budget.limits());
    const std::uint64_t pixels = std::uint64_t(size.width) * std::uint64_t(size.height);
    sink.picture({size, 1, cpuMsFor(pixels, lossless ? losslessNsPerPixel : lossyNsPerPixel)});
    if (!budget.takeFrame(static_cast<std::uint64_t>(kept.width),
                          static_cast<std::uint64_t>(kept.height)))
        return Verdict::OutOfMemory;

    Frame frame;
    frame.width = kept.width;
    frame.height = kept.height;
    frame.pixels.resize(static_cast<std::size_t>(kept.width) *
                        static_cast<std::size_t>(kept.height));

    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return Verdict::Invalid;
    if (kept != size) {
        config.options.use_scaling = 1;
        config.options.scaled_width = kept.width;
        config.options.scaled_height = kept.height;
    }
    // libwebp writes straight into the frame.
    config.output.colorspace = wordOrder;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = reinterpret_cast<std::uint8_t*>(frame.pixels.data());
    config.output.u.RGBA.stride = kept.width * 4;
    config.output.u.RGBA.size = frame.pixels.size() * sizeof(std::uint32_t);
    const Verdict verdict = verdictOf(WebPDecode(bytes.data(), bytes.size(), &config));
    WebPFreeDecBuffer(&config.output);
    if (verdict != Verdict::Ok)
        return verdict;
    sink.frame(frame);
    return Verdict::Ok;
}

struct DemuxCloser {
    void operator()(WebPDemuxer* d) const { WebPDemuxDelete(d); }
};
struct AnimCloser {
    void operator()(WebPAnimDecoder* d) const { WebPAnimDecoderDelete(d); }
};

Verdict decodeAnimation(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    const WebPData data{bytes.data(), bytes.size()};
    // The demuxer only accepts a file whose every chunk is there.
    const std::unique_ptr<WebPDemuxer, DemuxCloser> demux(WebPDemux(&data));
    if (!demux)
        return Verdict::Invalid;
    const Size size{static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_WIDTH)),
                    static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_CANVAS_HEIGHT))};
    const int count = static_cast<int>(WebPDemuxGetI(demux.get(), WEBP_FF_FRAME_COUNT));
    if (count <= 0)
        return Verdict::Invalid;
    if (count > budget.limits().frames ||
        !budget.allowsSource(static_cast<std::uint64_t>(size.width),
                             static_cast<std::uint64_t>(size.height)))
        return Verdict::OutOfMemory;
    const Size kept = keptSize(size, count, budget.limits());
    const std::uint64_t pixels =
        std::uint64_t(size.width) * std::uint64_t(size.height) * std::uint64_t(count);
    sink.picture({size, count, cpuMsFor(pixels, animationNsPerPixel)});

    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options))
        return Verdict::Invalid;
    options.color_mode = wordOrder;
    options.use_threads = 0;
    const std::unique_ptr<WebPAnimDecoder, AnimCloser> anim(WebPAnimDecoderNew(&data, &options));
    if (!anim)
        return Verdict::Invalid;
    // The kept frame is brought up to date only where the canvas changed:
    // where this frame lies, and where the one before it was cleared away.
    const AreaFilter filter(size, kept);
    Frame shown;
    shown.width = kept.width;
    shown.height = kept.height;
    shown.pixels.assign(
        static_cast<std::size_t>(kept.width) * static_cast<std::size_t>(kept.height), 0);
    WebPIterator at;
    int previous = 0;
    bool cleared = false; // the previous frame was cleared to the background
    int cx0 = 0, cy0 = 0, cx1 = 0, cy1 = 0;
    for (int i = 0; i < count; ++i) {
        if (!budget.takeFrame(static_cast<std::uint64_t>(kept.width),
                              static_cast<std::uint64_t>(kept.height)))
            return Verdict::OutOfMemory;
        std::uint8_t* canvas = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(anim.get(), &canvas, &timestamp) || !canvas ||
            !WebPDemuxGetFrame(demux.get(), i + 1, &at))
            return Verdict::Invalid; // a frame that does not decode
        const int x0 = std::clamp(at.x_offset, 0, size.width);
        const int y0 = std::clamp(at.y_offset, 0, size.height);
        const int x1 = std::clamp(at.x_offset + at.width, x0, size.width);
        const int y1 = std::clamp(at.y_offset + at.height, y0, size.height);
        const bool disposes = at.dispose_method == WEBP_MUX_DISPOSE_BACKGROUND;
        WebPDemuxReleaseIterator(&at);
        const auto* pixels = reinterpret_cast<const std::uint32_t*>(canvas);
        if (kept == size) {
            shown.pixels.assign(pixels, pixels + shown.pixels.size());
        } else if (i == 0) {
            filter.update(pixels, shown, 0, 0, size.width, size.height);
        } else {
            if (cleared && cx0 < cx1 && cy0 < cy1)
                filter.update(pixels, shown, cx0, cy0, cx1, cy1);
            if (x0 < x1 && y0 < y1)
                filter.update(pixels, shown, x0, y0, x1, y1);
        }
        cleared = disposes;
        cx0 = x0, cy0 = y0, cx1 = x1, cy1 = y1;
        // The decoder counts time at the end of each frame.
        const int ms = timestamp - previous;
        previous = timestamp;
        shown.delay = ms < 20 ? 100 : ms;
        sink.frame(shown);
    }
    return Verdict::Ok;
}

} // namespace

Verdict decodeWebp(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(bytes.data(), bytes.size(), &features);
    if (status != VP8_STATUS_OK)
        return verdictOf(status);
    return features.has_animation ? decodeAnimation(bytes, budget, sink)
                                  : decodeStill(bytes, features, budget, sink);
}

} // namespace decoder

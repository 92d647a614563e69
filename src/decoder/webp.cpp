// WebP through libwebp. A still is decoded by libwebp straight to the kept
// size (its own scaled decoding), lossy ones a few rows at a time; a
// lossless still is held whole by the library, so it is held to the size a
// whole frame may have. An animation is counted by the demuxer before its
// first frame, so that any number of frames gets the kept size at which all
// of them fit; libwebp's animation decoder composes each frame on the whole
// canvas, which is then reduced.
//
// The RIFF header says where the picture ends: bytes after it are ignored,
// a file shorter than it says is cut short.

#include "decoder/decoder.h"
#include "decoder/reduce.h"

#include <webp/decode.h>
#include <webp/demux.h>

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
    int previous = 0;
    for (int i = 0; i < count; ++i) {
        if (!budget.takeFrame(static_cast<std::uint64_t>(kept.width),
                              static_cast<std::uint64_t>(kept.height)))
            return Verdict::OutOfMemory;
        std::uint8_t* canvas = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(anim.get(), &canvas, &timestamp) || !canvas)
            return Verdict::Invalid; // a frame that does not decode
        Frame frame = reduced(reinterpret_cast<const std::uint32_t*>(canvas), size, kept);
        // The decoder counts time at the end of each frame.
        const int ms = timestamp - previous;
        previous = timestamp;
        frame.delay = ms < 20 ? 100 : ms;
        sink.frame(frame);
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

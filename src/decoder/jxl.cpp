// JPEG XL stills and animations through libjxl, on the helper's own thread.
// libjxl gives each shown frame whole (its layers already composed, turned
// upright); its rows then go through the area filter. An animation is read
// twice: once for its headers only, to count its frames for the kept size,
// then for its pixels.

#include "decoder/decoder.h"
#include "decoder/heap.h"
#include "decoder/reduce.h"

#include <jxl/decode.h>
#include <jxl/version.h>

#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace decoder {

namespace {

struct DecoderDestroy {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};

// What libjxl holds for a frame, a pixel, with the 8-bit RGBA it gives us.
// From 0.11 on, libjxl takes its planes, coefficients and frames through the
// memory manager it is given, which bounds them: a 24-megapixel photo (the
// usual lossy kind) needs some 75 MB there, a lossless or modular one three
// times that. Before, it takes all but its decoder's own few bytes from the
// heap itself: some 3 bytes a pixel for a lossy photo, progressive or not,
// 20 for a lossless one, 23 for a lossy modular one and 31 for a photo with
// alpha (measured here on 0.7); an animation also keeps the composed picture
// and the frames later ones are drawn over. There the heap is watched
// instead, where the system tells what it has taken (heap.h), so that a
// 24-megapixel photo loads (some 180 MB at its peak); elsewhere only a still of about 7
// megapixels at most is read, 9 without alpha. The file itself stays in
// memory beside them.
constexpr std::uint64_t jxlWorkBytes = 256u << 20;
constexpr bool jxlTakesItsMemoryFromUs =
    JPEGXL_NUMERIC_VERSION >= JPEGXL_COMPUTE_NUMERIC_VERSION(0, 11, 0);
// Where libjxl takes its memory itself, the heap is watched, if the system
// tells how much it has taken.
const bool heapIsWatched = !jxlTakesItsMemoryFromUs && heapIsTold;

std::uint64_t bytesPerPixel(const JxlBasicInfo& info) {
    if (jxlTakesItsMemoryFromUs || heapIsWatched)
        return 4; // the RGBA we are given; libjxl's own is metered or watched
    const std::uint64_t frame = info.alpha_bits ? 40 : 30;
    return info.have_animation ? frame + 16 : frame;
}

// What libjxl takes through its memory manager, within what is left of the
// work bytes; or, where it takes its memory itself, the heap's growth since
// the decoding began.
struct Meter {
    std::size_t used = 0;
    std::size_t limit = 0;
    bool refused = false;
    std::size_t heapAtStart = 0;

    bool heapOverLimit() {
        const std::size_t now = heapTaken();
        if (now > heapAtStart && now - heapAtStart > limit)
            refused = true;
        return refused;
    }
};

// Each block carries its size before it, on malloc's own alignment.
constexpr std::size_t sizeBefore = 16;

void* meteredAlloc(void* opaque, std::size_t size) {
    auto* meter = static_cast<Meter*>(opaque);
    auto* block = meter->used <= meter->limit && size <= meter->limit - meter->used
                      ? static_cast<unsigned char*>(std::malloc(size + sizeBefore))
                      : nullptr;
    if (!block) {
        meter->refused = true;
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    meter->used += size;
    return block + sizeBefore;
}

void meteredFree(void* opaque, void* address) {
    if (!address)
        return;
    auto* block = static_cast<unsigned char*>(address) - sizeBefore;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    static_cast<Meter*>(opaque)->used -= size;
    std::free(block);
}

// libjxl's steps, run one after another on the helper's own thread as it
// runs them without a runner; each step, and each group within one, starts
// only while the heap is within the work bytes. A step refused fails the
// decoding as damage would, and the meter tells it apart.
JxlParallelRetCode runWatched(void* opaque, void* jxl, JxlParallelRunInit init,
                              JxlParallelRunFunction run, std::uint32_t start, std::uint32_t end) {
    auto* meter = static_cast<Meter*>(opaque);
    if (meter->heapOverLimit() || init(jxl, 1) != 0)
        return -1;
    for (std::uint32_t i = start; i < end; ++i) {
        if (meter->heapOverLimit())
            return -1;
        run(jxl, i, 0);
    }
    return 0;
}

// libjxl on one thread needs up to 190 ns of processor time a pixel here
// (a lossy modular picture; 50 for the usual lossy one).
constexpr double nsPerPixel = 200.0;

int delayOf(const JxlBasicInfo& info, const JxlFrameHeader& header) {
    if (info.animation.tps_numerator == 0)
        return 100;
    const double ms =
        1000.0 * header.duration * info.animation.tps_denominator / info.animation.tps_numerator;
    return ms < 20.0 || !(ms < 1e9) ? 100 : static_cast<int>(ms + 0.5);
}

// Starts a pass over the whole file, for the events asked for.
bool start(JxlDecoder* decoder, std::span<const std::uint8_t> bytes, int events) {
    JxlDecoderRewind(decoder);
    if (JxlDecoderSubscribeEvents(decoder, events) != JXL_DEC_SUCCESS ||
        JxlDecoderSetInput(decoder, bytes.data(), bytes.size()) != JXL_DEC_SUCCESS)
        return false;
    JxlDecoderCloseInput(decoder);
    return true;
}

Verdict decodeMetered(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink,
                      Meter& meter) {
    const JxlMemoryManager manager{&meter, meteredAlloc, meteredFree};
    const std::unique_ptr<JxlDecoder, DecoderDestroy> owner(JxlDecoderCreate(&manager));
    JxlDecoder* decoder = owner.get();
    if (!decoder)
        return Verdict::OutOfMemory;
    if (heapIsWatched &&
        JxlDecoderSetParallelRunner(decoder, runWatched, &meter) != JXL_DEC_SUCCESS)
        return Verdict::Invalid;
    const auto& limits = budget.limits();

    // The headers: the size, and for an animation the number of frames
    // shown. Frames' pixels are skipped, not decoded.
    if (!start(decoder, bytes, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME))
        return Verdict::Invalid;
    JxlBasicInfo info{};
    Size size;
    int frames = 0;
    for (bool counting = true; counting;) {
        switch (JxlDecoderProcessInput(decoder)) {
        case JXL_DEC_BASIC_INFO: {
            if (JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS)
                return Verdict::Invalid;
            const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
            size = turned ? Size{int(info.ysize), int(info.xsize)}
                          : Size{int(info.xsize), int(info.ysize)};
            const std::uint64_t pixels = std::uint64_t(info.xsize) * info.ysize;
            const std::uint64_t ours = pixels * bytesPerPixel(info) + bytes.size();
            if (!budget.allowsPicture(info.xsize, info.ysize) || ours > jxlWorkBytes)
                return Verdict::OutOfMemory;
            // The heap's growth holds our RGBA too; where neither is watched,
            // the bound above is all there is.
            if (jxlTakesItsMemoryFromUs)
                meter.limit = static_cast<std::size_t>(jxlWorkBytes - ours);
            else if (heapIsWatched)
                meter.limit = static_cast<std::size_t>(jxlWorkBytes - bytes.size());
            if (!info.have_animation) {
                frames = 1;
                counting = false;
            }
            break;
        }
        case JXL_DEC_FRAME:
            if (++frames > limits.frames)
                return Verdict::OutOfMemory;
            break;
        case JXL_DEC_SUCCESS:
            counting = false;
            break;
        default: // damage, or the file ends before its last frame
            return Verdict::Invalid;
        }
    }
    if (frames == 0)
        return Verdict::Invalid;
    const Size kept = keptSize(size, frames, limits);
    const std::uint64_t pixels = std::uint64_t(size.width) * std::uint64_t(size.height);
    sink.picture({size, frames, cpuMsFor(pixels * std::uint64_t(frames), nsPerPixel)});

    if (!start(decoder, bytes, JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE))
        return Verdict::Invalid;
    const JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    std::vector<std::uint8_t> whole;
    std::vector<std::uint32_t> row(static_cast<std::size_t>(size.width));
    int delay = 0;
    for (int given = 0; given < frames;) {
        switch (JxlDecoderProcessInput(decoder)) {
        case JXL_DEC_FRAME: {
            JxlFrameHeader header{};
            if (JxlDecoderGetFrameHeader(decoder, &header) != JXL_DEC_SUCCESS)
                return Verdict::Invalid;
            delay = delayOf(info, header);
            if (!budget.takeFrame(std::uint64_t(kept.width), std::uint64_t(kept.height)))
                return Verdict::OutOfMemory;
            break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER: {
            std::size_t needed = 0;
            if (JxlDecoderImageOutBufferSize(decoder, &format, &needed) != JXL_DEC_SUCCESS ||
                needed != pixels * 4)
                return Verdict::Invalid;
            whole.resize(needed);
            if (JxlDecoderSetImageOutBuffer(decoder, &format, whole.data(), whole.size()) !=
                JXL_DEC_SUCCESS)
                return Verdict::Invalid;
            break;
        }
        case JXL_DEC_FULL_IMAGE: {
            Reducer reducer(size, kept);
            const std::uint8_t* p = whole.data();
            for (int y = 0; y < size.height; ++y) {
                for (std::uint32_t& pixel : row) {
                    pixel = (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[0]) << 16) |
                            (std::uint32_t(p[1]) << 8) | p[2];
                    if (!info.alpha_premultiplied)
                        pixel = premultiply(pixel);
                    p += 4;
                }
                reducer.row(row.data());
            }
            Frame& frame = reducer.frame();
            frame.delay = frames > 1 ? delay : 0;
            sink.frame(frame);
            ++given;
            break;
        }
        default: // damage, cut short, or fewer frames than the headers showed
            return Verdict::Invalid;
        }
    }
    // Whatever follows the last frame is not the picture's concern.
    return Verdict::Ok;
}

} // namespace

Verdict decodeJxl(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    try {
        Meter meter{.limit = std::numeric_limits<std::size_t>::max() / 2,
                    .heapAtStart = heapTaken()};
        const Verdict verdict = decodeMetered(bytes, budget, sink, meter);
        // libjxl fails as it fails on damage when its memory manager says no.
        return verdict == Verdict::Invalid && meter.refused ? Verdict::OutOfMemory : verdict;
    } catch (const std::bad_alloc&) {
        return Verdict::OutOfMemory;
    }
}

} // namespace decoder

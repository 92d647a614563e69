// Feeds arbitrary bytes to the picture decoders, as the decoding helper
// does. Any verdict is fine; a crash, a sanitizer report, a hang or memory
// past the budget is a fault. A picture that loads must be a real one, told
// before its frames, and kept no larger than its kept size.

#include "decoder/decoder.h"

#include <cstdint>
#include <cstdlib>

namespace {

class CheckingSink final : public decoder::FrameSink {
public:
    void picture(const decoder::PictureInfo& info) override {
        if (told || info.size.width <= 0 || info.size.height <= 0 || info.frames <= 0)
            std::abort();
        told = true;
        kept = decoder::keptSize(info.size, info.frames, decoder::pictureLimits);
    }
    void frame(const decoder::Frame& f) override {
        // Told first, and never larger than kept: the program holds no more.
        if (!told || f.width > kept.width || f.height > kept.height)
            std::abort();
        if (f.width <= 0 || f.height <= 0 ||
            f.pixels.size() !=
                static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height))
            std::abort();
        // Premultiplied: no colour brighter than its alpha.
        for (std::uint32_t p : f.pixels) {
            const std::uint32_t a = p >> 24;
            if (((p >> 16) & 0xff) > a || ((p >> 8) & 0xff) > a || (p & 0xff) > a)
                std::abort();
        }
        ++frames;
    }
    int frames = 0;
    bool told = false;
    decoder::Size kept;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CheckingSink sink;
    const auto verdict = decoder::decode({data, size}, decoder::pictureLimits, sink);
    if (verdict == decoder::Verdict::Ok && sink.frames == 0)
        std::abort(); // a picture that loads has a frame
    return 0;
}

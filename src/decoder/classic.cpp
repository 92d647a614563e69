#include "decoder/decoder.h"

namespace decoder {

Verdict decodeClassic(Format format, std::span<const std::uint8_t> bytes, Budget& budget,
                      FrameSink& sink) {
    switch (format) {
    case Format::Jpeg:
        return decodeJpeg(bytes, budget, sink);
    case Format::Gif:
        return decodeGif(bytes, budget, sink);
    case Format::Png:
        return decodePng(bytes, budget, sink);
    case Format::Bmp:
        return decodeBmp(bytes, budget, sink);
    default:
        return Verdict::Invalid;
    }
}

} // namespace decoder

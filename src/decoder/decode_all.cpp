// Every format's decoder behind one call, for the fuzz target and the
// tests, which run them in process; the helpers each link only their own.

#include "decoder/decoder.h"

namespace decoder {

Verdict decode(std::span<const std::uint8_t> bytes, const Limits& limits, FrameSink& sink) {
    Budget budget(limits);
    switch (formatOf(bytes.first(std::min(bytes.size(), formatBytes)))) {
    case Format::Jpeg:
        return decodeJpeg(bytes, budget, sink);
    case Format::Gif:
        return decodeGif(bytes, budget, sink);
    case Format::Png:
        return decodePng(bytes, budget, sink);
    case Format::Bmp:
        return decodeBmp(bytes, budget, sink);
    case Format::Webp:
        return decodeWebp(bytes, budget, sink);
    case Format::Tiff:
        return decodeTiff(bytes, budget, sink);
    case Format::Heif:
        return decodeHeif(bytes, budget, sink);
    case Format::Avif:
        return decodeAvif(bytes, budget, sink);
    case Format::Jxl:
        return decodeJxl(bytes, budget, sink);
    case Format::Unknown:
        break;
    }
    return Verdict::Invalid;
}

} // namespace decoder

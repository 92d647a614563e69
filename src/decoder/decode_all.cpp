// Every format's decoder behind one call, for the fuzz target and the
// tests, which run them in process; the helpers each link only their own.

#include "decoder/decoder.h"

namespace decoder {

Verdict decode(std::span<const std::uint8_t> bytes, const Limits& limits, FrameSink& sink) {
    Budget budget(limits);
    const Format format = formatOf(bytes.first(std::min(bytes.size(), formatBytes)));
    switch (format) {
    case Format::Jpeg:
    case Format::Gif:
    case Format::Png:
    case Format::Bmp:
        return decodeClassic(format, bytes, budget, sink);
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

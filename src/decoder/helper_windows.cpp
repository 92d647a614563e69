// orbitale-decode.exe: on Windows one helper decodes every format. AVIF is
// read by libheif with its AV1 decoder, dav1d: Debian's archive offers no
// source of libavif to build it from.

#include "decoder/helper.h"

#include <libheif/heif.h>

namespace {

decoder::Verdict decodeAny(decoder::Format format, std::span<const std::uint8_t> bytes,
                           decoder::Budget& budget, decoder::FrameSink& sink) {
    using decoder::Format;
    switch (format) {
    case Format::Jpeg:
    case Format::Gif:
    case Format::Png:
    case Format::Bmp:
        return decoder::decodeClassic(format, bytes, budget, sink);
    case Format::Webp:
        return decoder::decodeWebp(bytes, budget, sink);
    case Format::Tiff:
        return decoder::decodeTiff(bytes, budget, sink);
    case Format::Heif:
    case Format::Avif:
        return decoder::decodeHeif(bytes, budget, sink);
    case Format::Jxl:
        return decoder::decodeJxl(bytes, budget, sink);
    case Format::Unknown:
        break;
    }
    return decoder::Verdict::Invalid;
}

} // namespace

int main() {
    // libheif readies its decoders while the helper still works under the
    // token lent for that.
    decoder::helperMain(nullptr, decodeAny, [] { heif_init(nullptr); });
}

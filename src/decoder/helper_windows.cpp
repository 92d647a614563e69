// orbitale-decode.exe: on Windows one helper decodes every format the build
// has; a format whose library it lacks is refused as no picture.

#include "decoder/helper.h"

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
    default:
        return decoder::Verdict::Invalid;
    }
}

} // namespace

int main() {
    decoder::helperMain(nullptr, decodeAny);
}

#include "decoder/decoder.h"

#include <algorithm>

namespace decoder {

bool Budget::takeFrame(std::uint64_t width, std::uint64_t height) {
    if (width == 0 || height == 0 || width > (1u << 30) || height > (1u << 30))
        return false;
    const std::uint64_t bytes = width * height * 4;
    if (bytes > m_limits.frameBytes || m_frames >= m_limits.frames ||
        bytes > m_limits.pictureBytes - m_used)
        return false;
    m_used += static_cast<std::size_t>(bytes);
    ++m_frames;
    return true;
}

// Decoders that load plugins or start thread pools are readied here; the
// four formats so far need nothing before their first picture.
void initialiseLibraries() {}

namespace {

bool startsWith(std::span<const std::uint8_t> bytes, std::initializer_list<std::uint8_t> magic) {
    return bytes.size() >= magic.size() && std::equal(magic.begin(), magic.end(), bytes.begin());
}

} // namespace

Verdict decode(std::span<const std::uint8_t> bytes, const Limits& limits, FrameSink& sink) {
    Budget budget(limits);
    if (startsWith(bytes, {0xff, 0xd8, 0xff}))
        return decodeJpeg(bytes, budget, sink);
    if (startsWith(bytes, {'G', 'I', 'F', '8'}))
        return decodeGif(bytes, budget, sink);
    if (startsWith(bytes, {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}))
        return decodePng(bytes, budget, sink);
    if (startsWith(bytes, {'B', 'M'}))
        return decodeBmp(bytes, budget, sink);
    return Verdict::Invalid;
}

} // namespace decoder

// PNG through libpng. Its errors are damage (a CRC error in image data, a
// broken deflate stream, data cut short); its warnings and benign errors are
// remarks about a picture that is whole (colour profiles, eXIf, tRNS). Chunk
// sizes and the number of ancillary chunks are capped by libpng's own limits,
// and nothing after the image data is read, so no stream can inflate without
// end.

#include "decoder/decoder.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace decoder {

namespace {

struct Session {
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::span<const std::uint8_t> bytes;
    std::size_t at = 0;
    Verdict verdict = Verdict::Invalid;
};

void onError(png_structp png, png_const_charp message) {
    auto* s = static_cast<Session*>(png_get_error_ptr(png));
    const bool memory = std::strstr(message, "memory") || std::strstr(message, "Memory") ||
                        std::strstr(message, "exceeds user limit");
    s->verdict = memory ? Verdict::OutOfMemory : Verdict::Invalid;
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void readInput(png_structp png, png_bytep to, png_size_t wanted) {
    auto* s = static_cast<Session*>(png_get_io_ptr(png));
    if (wanted > s->bytes.size() - s->at)
        png_error(png, "Read Error: the file ends too soon");
    std::memcpy(to, s->bytes.data() + s->at, wanted);
    s->at += wanted;
}

// Runs libpng between setjmp and its errors' longjmp: only trivially
// destructible locals live in this frame.
Verdict run(Session& s, Budget& budget, Frame& frame, std::vector<png_bytep>& rows) {
    if (setjmp(png_jmpbuf(s.png)))
        return s.verdict;
    png_set_read_fn(s.png, &s, readInput);
    // Ancillary chunks: none larger than 8 MiB, no more than 1000 of them.
    png_set_chunk_malloc_max(s.png, 8u << 20);
    png_set_chunk_cache_max(s.png, 1000);
    png_set_user_limits(s.png, 1u << 20, 1u << 20);
    png_set_benign_errors(s.png, 1);
    png_read_info(s.png, s.info);

    const png_uint_32 width = png_get_image_width(s.png, s.info);
    const png_uint_32 height = png_get_image_height(s.png, s.info);
    if (!budget.takeFrame(width, height))
        return Verdict::OutOfMemory;

    // Whatever it holds, read it as 8-bit blue, green, red, alpha: in memory
    // the 0xAARRGGBB words of a frame.
    png_set_expand(s.png);
    png_set_scale_16(s.png);
    png_set_gray_to_rgb(s.png);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    png_set_bgr(s.png);
    png_set_add_alpha(s.png, 0xff, PNG_FILLER_AFTER);
#else
    png_set_swap_alpha(s.png);
    png_set_add_alpha(s.png, 0xff, PNG_FILLER_BEFORE);
#endif
    png_set_interlace_handling(s.png);
    png_read_update_info(s.png, s.info);
    if (png_get_rowbytes(s.png, s.info) != static_cast<png_size_t>(width) * 4)
        return Verdict::Invalid;

    frame.width = static_cast<int>(width);
    frame.height = static_cast<int>(height);
    frame.pixels.resize(static_cast<std::size_t>(width) * height);
    rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        rows[y] =
            reinterpret_cast<png_bytep>(frame.pixels.data() + static_cast<std::size_t>(y) * width);
    png_read_image(s.png, rows.data());
    // The image is whole: what follows its data (text, time, the end
    // chunk) is not read.
    return Verdict::Ok;
}

} // namespace

Verdict decodePng(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    Session s;
    s.bytes = bytes;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, onError, onWarning);
    if (!s.png)
        return Verdict::OutOfMemory;
    s.info = png_create_info_struct(s.png);
    if (!s.info) {
        png_destroy_read_struct(&s.png, nullptr, nullptr);
        return Verdict::OutOfMemory;
    }
    Frame frame;
    std::vector<png_bytep> rows;
    Verdict verdict = Verdict::Invalid;
    try {
        verdict = run(s, budget, frame, rows);
    } catch (const std::bad_alloc&) {
        verdict = Verdict::OutOfMemory;
    }
    png_destroy_read_struct(&s.png, &s.info, nullptr);
    if (verdict != Verdict::Ok)
        return verdict;
    for (std::uint32_t& pixel : frame.pixels)
        pixel = premultiply(pixel);
    sink.frame(frame);
    return Verdict::Ok;
}

} // namespace decoder

// PNG through libpng. Its errors are damage (a CRC error in image data, a
// broken deflate stream, data cut short); its warnings and benign errors are
// remarks about a picture that is whole (colour profiles, eXIf, tRNS). Chunk
// sizes and the number of ancillary chunks are capped by libpng's own limits,
// and its fed reader stops inflating once the image is complete, so no
// stream can inflate without end.

#include "decoder/decoder.h"

#include <png.h>

#include <csetjmp>
#include <cstring>

namespace decoder {

namespace {

struct Session {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Budget* budget = nullptr;
    Frame frame;
    std::vector<png_bytep> rows;
    int lastPass = 0;         // the last interlace pass with pixels in it
    png_uint_32 lastRows = 0; // rows the last pass has given so far
    bool overBudget = false;
    bool ended = false; // the end chunk came
};

Session& sessionOf(png_structp png) {
    return *static_cast<Session*>(png_get_progressive_ptr(png));
}

void onError(png_structp png, png_const_charp message) {
    auto* s = static_cast<Session*>(png_get_error_ptr(png));
    s->overBudget = s->overBudget || std::strstr(message, "memory") ||
                    std::strstr(message, "Memory") || std::strstr(message, "exceeds user limit");
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onInfo(png_structp png, png_infop info) {
    Session& s = sessionOf(png);
    const png_uint_32 width = png_get_image_width(png, info);
    const png_uint_32 height = png_get_image_height(png, info);
    if (!s.budget->takeFrame(width, height)) {
        s.overBudget = true;
        png_error(png, "over the picture budget");
    }
    // Whatever it holds, read it as 8-bit blue, green, red, alpha: in memory
    // the 0xAARRGGBB words of a frame.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    png_set_bgr(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
#else
    png_set_swap_alpha(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_BEFORE);
#endif
    if (png_set_interlace_handling(png) > 1) {
        for (int pass = 0; pass < 7; ++pass)
            if (PNG_PASS_ROWS(height, pass) > 0 && PNG_PASS_COLS(width, pass) > 0)
                s.lastPass = pass;
    }
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != static_cast<png_size_t>(width) * 4)
        png_error(png, "unexpected row size");
    s.frame.width = static_cast<int>(width);
    s.frame.height = static_cast<int>(height);
    s.frame.pixels.resize(static_cast<std::size_t>(width) * height);
    s.rows.resize(height);
    for (png_uint_32 y = 0; y < height; ++y)
        s.rows[y] = reinterpret_cast<png_bytep>(s.frame.pixels.data() +
                                                static_cast<std::size_t>(y) * width);
}

// Each pass gives every row of the picture, those it has no pixels for
// without data; the image is whole when the last pass has given them all.
void onRow(png_structp png, png_bytep row, png_uint_32 number, int pass) {
    Session& s = sessionOf(png);
    if (row && number < s.rows.size())
        png_progressive_combine_row(png, s.rows[number], row);
    if (pass == s.lastPass)
        ++s.lastRows;
}

void onEnd(png_structp png, png_infop) {
    sessionOf(png).ended = true;
}

// Feeds libpng between setjmp and its errors' longjmp: only trivially
// destructible locals live in this frame. libpng's reader that is fed
// stops inflating when the image is complete, so a stream that would
// inflate without end costs no more than reading it.
void run(Session& s, std::span<const std::uint8_t> bytes) {
    if (setjmp(png_jmpbuf(s.png)))
        return;
    // Ancillary chunks: none larger than 8 MiB, no more than 1000 of them.
    png_set_chunk_malloc_max(s.png, 8u << 20);
    png_set_chunk_cache_max(s.png, 1000);
    png_set_user_limits(s.png, 1u << 20, 1u << 20);
    png_set_benign_errors(s.png, 1);
    png_set_progressive_read_fn(s.png, &s, onInfo, onRow, onEnd);
    png_process_data(s.png, s.info, const_cast<png_bytep>(bytes.data()), bytes.size());
    if (s.ended)
        return;
    // A file may stop after its image data without its end chunk: give it
    // one. If the image data was not all there, libpng says so now.
    static const png_byte end[] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xae, 0x42, 0x60, 0x82};
    png_process_data(s.png, s.info, const_cast<png_bytep>(end), sizeof end);
}

} // namespace

Verdict decodePng(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    Session s;
    s.budget = &budget;
    s.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s, onError, onWarning);
    if (!s.png)
        return Verdict::OutOfMemory;
    s.info = png_create_info_struct(s.png);
    if (!s.info) {
        png_destroy_read_struct(&s.png, nullptr, nullptr);
        return Verdict::OutOfMemory;
    }
    try {
        run(s, bytes);
    } catch (const std::bad_alloc&) {
        s.overBudget = true;
    }
    png_destroy_read_struct(&s.png, &s.info, nullptr);
    // Whatever follows a whole image (bytes after its end) is not its concern.
    if (s.overBudget)
        return Verdict::OutOfMemory;
    if (!s.ended || s.lastRows != static_cast<png_uint_32>(s.frame.height))
        return Verdict::Invalid;
    for (std::uint32_t& pixel : s.frame.pixels)
        pixel = premultiply(pixel);
    sink.frame(s.frame);
    return Verdict::Ok;
}

} // namespace decoder

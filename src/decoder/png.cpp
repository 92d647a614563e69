// PNG through libpng. Its errors are damage (a CRC error in image data, a
// broken deflate stream, data cut short); its warnings and benign errors are
// remarks about a picture that is whole (colour profiles, eXIf, tRNS). Chunk
// sizes and the number of ancillary chunks are capped by libpng's own limits,
// and its fed reader stops inflating once the image is complete, so no
// stream can inflate without end. Rows stream through the area filter as they
// come; only an interlaced picture, whose rows fill in over seven passes, is
// held whole.

#include "decoder/decoder.h"
#include "decoder/reduce.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <memory>

namespace decoder {

namespace {

// The processor time a pixel takes here, inflated, filtered and reduced:
// 28 ns measured for a 24-megapixel photo.
constexpr double nsPerPixel = 30.0;

struct Session {
    png_structp png = nullptr;
    png_infop info = nullptr;
    Budget* budget = nullptr;
    FrameSink* sink = nullptr;
    std::unique_ptr<Reducer> reducer;
    std::vector<std::uint32_t> whole; // an interlaced picture, until its last pass
    std::vector<std::uint32_t> row;   // a row as it comes, premultiplied
    png_uint_32 height = 0;
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
    const Size size{static_cast<int>(width), static_cast<int>(height)};
    const Size kept = keptSize(size, 1, s.budget->limits());
    const bool interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
    if (!s.budget->allowsPicture(width, height) ||
        (interlaced && !s.budget->allowsSource(width, height)) ||
        !s.budget->takeFrame(static_cast<std::uint64_t>(kept.width),
                             static_cast<std::uint64_t>(kept.height))) {
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
    s.height = height;
    s.reducer = std::make_unique<Reducer>(size, kept);
    if (interlaced)
        s.whole.resize(static_cast<std::size_t>(width) * height);
    s.row.resize(width);
    s.sink->picture({size, 1, cpuMsFor(std::uint64_t{width} * height, nsPerPixel)});
}

void premultiplied(const std::uint32_t* from, std::uint32_t* to, std::size_t n) {
    for (std::size_t x = 0; x < n; ++x)
        to[x] = premultiply(from[x]);
}

// Each pass gives every row of the picture, those it has no pixels for
// without data; the image is whole when the last pass has given them all.
void onRow(png_structp png, png_bytep row, png_uint_32 number, int pass) {
    Session& s = sessionOf(png);
    if (number >= s.height)
        return;
    if (s.whole.empty()) {
        if (!row)
            return;
        premultiplied(reinterpret_cast<const std::uint32_t*>(row), s.row.data(), s.row.size());
        s.reducer->row(s.row.data());
        ++s.lastRows;
        return;
    }
    std::uint32_t* at = s.whole.data() + static_cast<std::size_t>(number) * s.row.size();
    if (row)
        png_progressive_combine_row(png, reinterpret_cast<png_bytep>(at), row);
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
    s.sink = &sink;
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
    if (!s.ended || !s.reducer || s.lastRows != s.height)
        return Verdict::Invalid;
    for (png_uint_32 y = 0; y < s.height && !s.whole.empty(); ++y) {
        premultiplied(s.whole.data() + std::size_t{y} * s.row.size(), s.row.data(), s.row.size());
        s.reducer->row(s.row.data());
    }
    sink.frame(s.reducer->frame());
    return Verdict::Ok;
}

} // namespace decoder

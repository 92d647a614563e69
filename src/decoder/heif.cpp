// HEIC and other HEIF pictures through libheif: the primary image, whole
// or as a grid of tiles, turned, mirrored and cropped as the file says, with
// its alpha, at 8 or 10 bits. libheif gives the whole picture at once, first
// as the codec's planes and then converted to RGB; what both take is
// weighed against the budget before anything is decoded, and its rows go
// through the area filter without a copy of their own.

#include "decoder/decoder.h"
#include "decoder/reduce.h"

#include <libheif/heif.h>

#include <memory>
#include <new>

namespace decoder {

namespace {

struct ContextFree {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HandleRelease {
    void operator()(const heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct ImageRelease {
    void operator()(const heif_image* i) const { heif_image_release(i); }
};
struct OptionsFree {
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};

// What libheif holds at once for a picture, a pixel: the codec's planes,
// libheif's copy of them and the RGB or RGBA they are converted to, as
// measured here: 7.8 bytes for 8-bit 4:2:0, 9.8 with alpha, 11.6 at 10 bits.
// A phone's 24 megapixel photo takes about 190 MB. The file itself stays in
// memory beside it.
constexpr std::uint64_t heifWorkBytes = 280u << 20;

std::uint64_t bytesPerPixel(bool alpha, int bits) {
    if (bits > 8)
        return alpha ? 18 : 13;
    return alpha ? 11 : 8;
}

Verdict verdictOf(const heif_error& error) {
    if (error.code == heif_error_Memory_allocation_error ||
        error.subcode == heif_suberror_Security_limit_exceeded)
        return Verdict::OutOfMemory;
    return Verdict::Invalid;
}

// The processor time a pixel takes here, libde265 and the conversion to RGB
// together: 70 ns for 8-bit 4:2:0, up to 110 for 4:4:4, alpha or 10 bits.
double nsPerPixel(bool alpha, int bits) {
    return alpha || bits > 8 ? 110.0 : 70.0;
}

} // namespace

Verdict decodeHeif(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    try {
        const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
        if (!context)
            return Verdict::OutOfMemory;
        const auto& limits = budget.limits();
        // libheif's own bounds: no side longer than the longest any picture
        // may have, and no more pixels or tiles than the budget allows. Its
        // largest block is the whole picture converted to RGB (73 MB for a
        // phone's 24 megapixels), weighed below with all it holds beside it.
        heif_context_set_maximum_image_size_limit(context.get(), 1 << 16);
#if LIBHEIF_HAVE_VERSION(1, 19, 0)
        if (heif_security_limits* own = heif_context_get_security_limits(context.get())) {
            own->max_image_size_pixels = limits.pixels;
            own->max_number_of_tiles = 4096;
            own->max_memory_block_size = heifWorkBytes;
        }
#endif
        // Tiles are decoded one after the other: each decoding thread would
        // hold a tile and a heap of its own.
        heif_context_set_max_decoding_threads(context.get(), 0);
        heif_error error = heif_context_read_from_memory_without_copy(context.get(), bytes.data(),
                                                                      bytes.size(), nullptr);
        if (error.code != heif_error_Ok)
            return verdictOf(error);

        heif_image_handle* rawHandle = nullptr;
        error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
        const std::unique_ptr<const heif_image_handle, HandleRelease> handle(rawHandle);
        if (error.code != heif_error_Ok || !handle)
            return verdictOf(error);

        // The size after the picture's own turns and crop: the size it is shown at.
        const Size size{heif_image_handle_get_width(handle.get()),
                        heif_image_handle_get_height(handle.get())};
        const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
        const int bits = heif_image_handle_get_luma_bits_per_pixel(handle.get());
        if (size.width <= 0 || size.height <= 0 || bits <= 0)
            return Verdict::Invalid;
        const std::uint64_t pixels = std::uint64_t(size.width) * std::uint64_t(size.height);
        if (!budget.allowsPicture(std::uint64_t(size.width), std::uint64_t(size.height)) ||
            pixels * bytesPerPixel(alpha, bits) + bytes.size() > heifWorkBytes)
            return Verdict::OutOfMemory;
        const Size kept = keptSize(size, 1, limits);
        if (!budget.takeFrame(std::uint64_t(kept.width), std::uint64_t(kept.height)))
            return Verdict::OutOfMemory;
        sink.picture({size, 1, cpuMsFor(pixels, nsPerPixel(alpha, bits))});

        const std::unique_ptr<heif_decoding_options, OptionsFree> options(
            heif_decoding_options_alloc());
        if (!options)
            return Verdict::OutOfMemory;
        options->convert_hdr_to_8bit = 1;
        heif_image* rawImage = nullptr;
        error = heif_decode_image(
            handle.get(), &rawImage, heif_colorspace_RGB,
            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
        const std::unique_ptr<const heif_image, ImageRelease> image(rawImage);
        if (error.code != heif_error_Ok || !image)
            return verdictOf(error);
        int stride = 0;
        const std::uint8_t* plane =
            heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
        if (!plane || heif_image_get_width(image.get(), heif_channel_interleaved) != size.width ||
            heif_image_get_height(image.get(), heif_channel_interleaved) != size.height ||
            heif_image_get_bits_per_pixel(image.get(), heif_channel_interleaved) !=
                (alpha ? 32 : 24))
            return Verdict::Invalid;

        const bool premultiplied = heif_image_handle_is_premultiplied_alpha(handle.get()) != 0;
        Reducer reducer(size, kept);
        std::vector<std::uint32_t> row(static_cast<std::size_t>(size.width));
        for (int y = 0; y < size.height; ++y) {
            const std::uint8_t* p = plane + static_cast<std::ptrdiff_t>(y) * stride;
            for (std::uint32_t& pixel : row) {
                const std::uint32_t a = alpha ? p[3] : 0xff;
                pixel = (a << 24) | (std::uint32_t(p[0]) << 16) | (std::uint32_t(p[1]) << 8) | p[2];
                if (!premultiplied)
                    pixel = premultiply(pixel);
                p += alpha ? 4 : 3;
            }
            reducer.row(row.data());
        }
        sink.frame(reducer.frame());
        return Verdict::Ok;
    } catch (const std::bad_alloc&) {
        return Verdict::OutOfMemory;
    }
}

} // namespace decoder

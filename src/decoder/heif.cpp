// HEIC and other HEIF pictures through libheif: the primary image, whole
// or as a grid of tiles, turned, mirrored and cropped as the file says, with
// its alpha, at 8 or 10 bits.
//
// A grid of tiles, as phones and cameras store their photos, is decoded a
// row of tiles at a time where libheif gives single tiles (1.19 and later):
// what is held is that row at 8 bits, whatever the picture's size and depth,
// and its rows go through the area filter, cropped and turned as libheif
// would show the whole. Otherwise libheif gives the whole picture at once;
// what it holds for it is weighed against the budget before anything is
// decoded.

#include "decoder/decoder.h"
#include "decoder/reduce.h"

#include <libheif/heif.h>
#if LIBHEIF_HAVE_VERSION(1, 19, 0)
#include <libheif/heif_properties.h>
#endif

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

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
using Handle = std::unique_ptr<const heif_image_handle, HandleRelease>;
using Image = std::unique_ptr<const heif_image, ImageRelease>;

// What libheif may hold at once for one picture; the file itself stays in
// memory beside it.
constexpr std::uint64_t heifWorkBytes = 280u << 20;

// What libheif holds, a pixel, to give a picture whole, as measured here
// for pictures turned a quarter (the most). From 1.19 on it keeps the
// codec's planes and converts them to the 8-bit RGB asked for: 5 bytes for
// 8-bit 4:2:0, 8 at 10 bits; twice that for 4:2:2 and 4:4:4, whose chroma it
// converts at full size first. Earlier ones give the RGB planes they
// assemble the picture in, at its own depth (two bytes a sample above 8
// bits), and make a second copy to turn or crop it: whether the file asks
// for that cannot be told beforehand.
std::uint64_t wholeBytesPerPixel(const heif_image_handle* handle, bool alpha, int bits) {
#if LIBHEIF_HAVE_VERSION(1, 19, 0)
    heif_colorspace colorspace = heif_colorspace_undefined;
    heif_chroma chroma = heif_chroma_undefined;
    heif_image_handle_get_preferred_decoding_colorspace(handle, &colorspace, &chroma);
    const bool small = chroma == heif_chroma_420 || chroma == heif_chroma_monochrome;
    const std::uint64_t colour = (bits > 8 ? 8 : 5) * (small ? 1 : 2);
    return colour + (alpha ? (bits > 8 ? 5 : 4) : 0);
#else
    (void)handle;
    return bits > 8 ? (alpha ? 20 : 16) : (alpha ? 10 : 8);
#endif
}

// The RGB libheif is asked for: from 1.19 on, 8-bit samples side by side,
// which it converts to for less than planes would take; before it, the RGB
// planes it holds anyway.
heif_chroma rgbChroma(bool alpha) {
#if LIBHEIF_HAVE_VERSION(1, 19, 0)
    return alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
#else
    (void)alpha;
    return heif_chroma_444;
#endif
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

// A decoded picture's red, green, blue and perhaps alpha, as rgbChroma()
// asks for them, read as premultiplied ARGB: 8-bit samples, or deeper ones
// in 16 bits (the planes before libheif 1.19), of which the top 8 bits
// count, as libheif's own conversion to 8 bits takes them.
class Planes {
public:
    // False unless every channel is there and at least width × height.
    bool open(const heif_image* image, bool alpha, int width, int height) {
#if LIBHEIF_HAVE_VERSION(1, 19, 0)
        int stride = 0;
        const std::uint8_t* data =
            heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
        const int step = alpha ? 4 : 3;
        if (!data || heif_image_get_bits_per_pixel(image, heif_channel_interleaved) != 8 * step ||
            heif_image_get_width(image, heif_channel_interleaved) < width ||
            heif_image_get_height(image, heif_channel_interleaved) < height)
            return false;
        constexpr int offsets[4] = {3, 0, 1, 2};
        for (int c = alpha ? 0 : 1; c < 4; ++c)
            m_channels[c] = {data + offsets[c], stride, step, false, 0};
#else
        constexpr heif_channel planes[4] = {heif_channel_Alpha, heif_channel_R, heif_channel_G,
                                            heif_channel_B};
        for (int c = alpha ? 0 : 1; c < 4; ++c) {
            Channel& p = m_channels[c];
            p.data = heif_image_get_plane_readonly(image, planes[c], &p.stride);
            const int bits = heif_image_get_bits_per_pixel_range(image, planes[c]);
            p.step = 1;
            p.wide = heif_image_get_bits_per_pixel(image, planes[c]) > 8;
            p.shift = bits - 8;
            if (!p.data || bits < 8 || bits > 16 || (bits > 8) != p.wide ||
                heif_image_get_width(image, planes[c]) < width ||
                heif_image_get_height(image, planes[c]) < height)
                return false;
        }
#endif
        return true;
    }
    // `count` pixels of row y from column x.
    void read(int y, int x, int count, bool premultiplied, std::uint32_t* out) const {
        for (int i = 0; i < count; ++i) {
            std::uint32_t pixel =
                m_channels[0].data ? m_channels[0].at(x + i, y) << 24 : 0xff000000u;
            for (int c = 1; c < 4; ++c)
                pixel |= m_channels[c].at(x + i, y) << (24 - 8 * c);
            out[i] = premultiplied ? pixel : premultiply(pixel);
        }
    }

private:
    struct Channel {
        const std::uint8_t* data = nullptr;
        int stride = 0;
        int step = 1; // samples from one pixel to the next
        bool wide = false;
        int shift = 0;
        std::uint32_t at(int x, int y) const {
            const std::uint8_t* row = data + static_cast<std::ptrdiff_t>(y) * stride;
            if (!wide)
                return row[x * step];
            return (reinterpret_cast<const std::uint16_t*>(row)[x * step] >> shift) & 0xff;
        }
    };
    Channel m_channels[4]; // alpha, red, green, blue
};

std::unique_ptr<heif_decoding_options, OptionsFree> eightBitOptions() {
    std::unique_ptr<heif_decoding_options, OptionsFree> options(heif_decoding_options_alloc());
    if (options)
        options->convert_hdr_to_8bit = 1;
    return options;
}

// The whole picture from libheif, turned and cropped by it, into the filter.
Verdict decodeWhole(const heif_image_handle* handle, Size size, bool alpha, Size kept,
                    FrameSink& sink) {
    const auto options = eightBitOptions();
    if (!options)
        return Verdict::OutOfMemory;
    heif_image* rawImage = nullptr;
    const heif_error error =
        heif_decode_image(handle, &rawImage, heif_colorspace_RGB, rgbChroma(alpha), options.get());
    const Image image(rawImage);
    if (error.code != heif_error_Ok || !image)
        return verdictOf(error);
    Planes planes;
    if (!planes.open(image.get(), alpha, size.width, size.height))
        return Verdict::Invalid;

    const bool premultiplied = heif_image_handle_is_premultiplied_alpha(handle) != 0;
    Reducer reducer(size, kept);
    reducer.streamTo(sink);
    std::vector<std::uint32_t> row(static_cast<std::size_t>(size.width));
    for (int y = 0; y < size.height; ++y) {
        planes.read(y, 0, size.width, premultiplied, row.data());
        reducer.row(row.data());
    }
    reducer.deliver(sink);
    return Verdict::Ok;
}

#if LIBHEIF_HAVE_VERSION(1, 19, 0)

// A grid of equal tiles, as libheif 1.19 gives them one at a time.
struct Grid {
    heif_image_tiling tiling{};
    // The part of the stored picture that is shown, and its turn.
    int x = 0;
    int y = 0;
    Size part;
    Turn turn;
    Size shown() const { return turn.swapsSides() ? Size{part.height, part.width} : part; }
};

// Where the stored pixel lies that shows at (x, y) of a picture of `shown`
// size upright for `orientation`: uprightOf the other way round.
std::pair<int, int> storedOf(int orientation, int x, int y, Size shown) {
    const int back = orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
    return uprightOf(back, x, y, shown.width, shown.height);
}

// The file's crops, turns and mirrors in the order it lists them, as libheif
// applies them to the whole picture, gathered into the part of the stored
// picture that is shown and one turn. False for a crop that leaves nothing.
bool placeShownPart(heif_context* context, heif_item_id item, Grid& grid) {
    grid.part = {static_cast<int>(grid.tiling.image_width),
                 static_cast<int>(grid.tiling.image_height)};
    const int count = heif_item_get_transformation_properties(context, item, nullptr, 0);
    std::vector<heif_property_id> properties(static_cast<std::size_t>(std::max(count, 0)));
    heif_item_get_transformation_properties(context, item, properties.data(), count);
    for (const heif_property_id property : properties) {
        switch (heif_item_get_property_type(context, item, property)) {
        case heif_item_property_type_transform_rotation:
            grid.turn.turn(heif_item_get_property_transform_rotation_ccw(context, item, property) /
                           90);
            break;
        case heif_item_property_type_transform_mirror:
            grid.turn.mirror(heif_item_get_property_transform_mirror(context, item, property) ==
                             heif_transform_mirror_direction_horizontal);
            break;
        case heif_item_property_type_transform_crop: {
            // Borders beyond the picture are none, as libheif takes them.
            const Size shown = grid.shown();
            int left = 0, top = 0, right = 0, bottom = 0;
            heif_item_get_property_transform_crop_borders(
                context, item, property, shown.width, shown.height, &left, &top, &right, &bottom);
            left = std::max(left, 0);
            top = std::max(top, 0);
            right = std::max(right, 0);
            bottom = std::max(bottom, 0);
            if (left >= shown.width - right || top >= shown.height - bottom)
                return false;
            const int orientation = grid.turn.orientation();
            const auto [x0, y0] = storedOf(orientation, left, top, shown);
            const auto [x1, y1] =
                storedOf(orientation, shown.width - 1 - right, shown.height - 1 - bottom, shown);
            grid.x += std::min(x0, x1);
            grid.y += std::min(y0, y1);
            grid.part = {std::abs(x1 - x0) + 1, std::abs(y1 - y0) + 1};
            break;
        }
        default:
            break;
        }
    }
    return true;
}

// How libheif gives a primary image: whole, or a tile at a time.
enum class Way { Whole, Tiles, Damaged };

// A grid's tiles are decoded one at a time where they are several, each an
// image of the grid's tile size without turns or crops of its own, together
// covering the picture, and there is no alpha (libheif pairs an alpha
// grid's tiles only with a grid's of the same shape). Damage found here
// refuses the picture as decoding it whole would.
Way wayOf(heif_context* context, const heif_image_handle* handle, Grid& grid) {
    heif_image_tiling& t = grid.tiling;
    heif_item_id first = 0;
    if (heif_image_handle_has_alpha_channel(handle) ||
        heif_image_handle_get_image_tiling(handle, 0, &t).code != heif_error_Ok ||
        std::uint64_t{t.num_columns} * t.num_rows < 2 || t.number_of_extra_dimensions != 0 ||
        heif_image_handle_get_grid_image_tile_id(handle, 0, 0, 0, &first).code != heif_error_Ok)
        return Way::Whole;
    if (t.tile_width == 0 || t.tile_height == 0 ||
        std::uint64_t{t.num_columns} * t.tile_width < t.image_width ||
        std::uint64_t{t.num_rows} * t.tile_height < t.image_height)
        return Way::Damaged;
    for (std::uint32_t ty = 0; ty < t.num_rows; ++ty)
        for (std::uint32_t tx = 0; tx < t.num_columns; ++tx) {
            heif_item_id id = 0;
            heif_image_handle* raw = nullptr;
            if (heif_image_handle_get_grid_image_tile_id(handle, 0, tx, ty, &id).code !=
                    heif_error_Ok ||
                heif_context_get_image_handle(context, id, &raw).code != heif_error_Ok || !raw)
                return Way::Damaged;
            const Handle tile(raw);
            if (heif_item_get_transformation_properties(context, id, nullptr, 0) != 0)
                return Way::Whole;
            if (heif_image_handle_get_ispe_width(tile.get()) != int(t.tile_width) ||
                heif_image_handle_get_ispe_height(tile.get()) != int(t.tile_height))
                return Way::Damaged;
        }
    if (!placeShownPart(context, heif_image_handle_get_item_id(handle), grid))
        return Way::Damaged;
    // Where libheif would show the whole otherwise, it is left to show it.
    if (grid.shown() !=
        Size{heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)})
        return Way::Whole;
    return Way::Tiles;
}

// What is held at once: the row of tiles that is shown, at 8 bits, and
// libheif's work on one tile of it.
std::uint64_t gridBytes(const heif_image_handle* handle, const Grid& grid, int bits) {
    const std::uint64_t tile = std::uint64_t{grid.tiling.tile_width} * grid.tiling.tile_height;
    const std::uint64_t columns = (grid.x + grid.part.width - 1) / grid.tiling.tile_width -
                                  grid.x / grid.tiling.tile_width + 1;
    return columns * tile * 3 + tile * wholeBytesPerPixel(handle, false, bits);
}

// The shown part of the grid, a row of tiles at a time, into the filter,
// which turns it.
Verdict decodeGrid(const heif_image_handle* handle, const Grid& grid, Size kept, FrameSink& sink) {
    auto options = eightBitOptions();
    if (!options)
        return Verdict::OutOfMemory;
    // The tiles as stored: the file's own turns and crop are the filter's.
    options->ignore_transformations = 1;
    const int tileWidth = static_cast<int>(grid.tiling.tile_width);
    const int tileHeight = static_cast<int>(grid.tiling.tile_height);
    const Size keptStored = grid.turn.swapsSides() ? Size{kept.height, kept.width} : kept;
    Reducer reducer(grid.part, keptStored, grid.turn.orientation());
    reducer.streamTo(sink);
    std::vector<std::uint32_t> row(static_cast<std::size_t>(grid.part.width));
    const int firstColumn = grid.x / tileWidth;
    const int lastColumn = (grid.x + grid.part.width - 1) / tileWidth;
    std::vector<Image> tiles(static_cast<std::size_t>(lastColumn - firstColumn + 1));
    std::vector<Planes> planes(tiles.size());
    for (int ty = grid.y / tileHeight; ty * tileHeight < grid.y + grid.part.height; ++ty) {
        const int top = std::max(grid.y, ty * tileHeight);
        const int bottom = std::min(grid.y + grid.part.height, (ty + 1) * tileHeight);
        for (int tx = firstColumn; tx <= lastColumn; ++tx) {
            auto& tile = tiles[static_cast<std::size_t>(tx - firstColumn)];
            tile.reset();
            heif_image* raw = nullptr;
            const heif_error error = heif_image_handle_decode_image_tile(
                handle, &raw, heif_colorspace_RGB, rgbChroma(false), options.get(),
                static_cast<std::uint32_t>(tx), static_cast<std::uint32_t>(ty));
            tile.reset(raw);
            if (error.code != heif_error_Ok || !tile)
                return verdictOf(error);
            // A tile with less than the part of the picture it holds is damage.
            const int right = std::min(grid.x + grid.part.width, (tx + 1) * tileWidth);
            if (!planes[static_cast<std::size_t>(tx - firstColumn)].open(
                    tile.get(), false, right - tx * tileWidth, bottom - ty * tileHeight))
                return Verdict::Invalid;
        }
        for (int y = top; y < bottom; ++y) {
            for (int tx = firstColumn; tx <= lastColumn; ++tx) {
                const int left = std::max(grid.x, tx * tileWidth);
                const int right = std::min(grid.x + grid.part.width, (tx + 1) * tileWidth);
                planes[static_cast<std::size_t>(tx - firstColumn)].read(
                    y - ty * tileHeight, left - tx * tileWidth, right - left, true,
                    row.data() + (left - grid.x));
            }
            reducer.row(row.data());
        }
    }
    reducer.deliver(sink);
    return Verdict::Ok;
}

#endif

} // namespace

Verdict decodeHeif(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    try {
        const std::unique_ptr<heif_context, ContextFree> context(heif_context_alloc());
        if (!context)
            return Verdict::OutOfMemory;
        const auto& limits = budget.limits();
        // libheif's own bounds: no side longer than the longest any picture
        // may have, and no more pixels or tiles than the budget allows.
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
        const Handle handle(rawHandle);
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
        if (!budget.allowsPicture(std::uint64_t(size.width), std::uint64_t(size.height)))
            return Verdict::OutOfMemory;
#if !LIBHEIF_HAVE_VERSION(1, 19, 0)
        // libheif 1.15 makes a grid as large as its own data says, whatever
        // the picture's size: no side longer than the picture's longest (or
        // a small one's tile), and the padding of its coding.
        const int longest = std::max(heif_image_handle_get_ispe_width(handle.get()),
                                     heif_image_handle_get_ispe_height(handle.get()));
        heif_context_set_maximum_image_size_limit(context.get(), std::max(longest, 4096) + 64);
#endif
        std::uint64_t held = pixels * wholeBytesPerPixel(handle.get(), alpha, bits);
#if LIBHEIF_HAVE_VERSION(1, 19, 0)
        Grid grid;
        const Way way = wayOf(context.get(), handle.get(), grid);
        if (way == Way::Damaged)
            return Verdict::Invalid;
        if (way == Way::Tiles)
            held = gridBytes(handle.get(), grid, bits);
#endif
        if (held + bytes.size() > heifWorkBytes)
            return Verdict::OutOfMemory;
        const Size kept = keptSize(size, 1, limits);
        if (!budget.takeFrame(std::uint64_t(kept.width), std::uint64_t(kept.height)))
            return Verdict::OutOfMemory;
        sink.picture({size, 1, cpuMsFor(pixels, nsPerPixel(alpha, bits))});
#if LIBHEIF_HAVE_VERSION(1, 19, 0)
        if (way == Way::Tiles)
            return decodeGrid(handle.get(), grid, kept, sink);
#endif
        return decodeWhole(handle.get(), size, alpha, kept, sink);
    } catch (const std::bad_alloc&) {
        return Verdict::OutOfMemory;
    }
}

} // namespace decoder

// HEIC, AVIF and JPEG XL test pictures, made by the formats' own encoders
// (libheif with x265, libavif with its AV1 encoder, libjxl) from our test
// image.

#include "support/picture_files.h"

#include <avif/avif.h>
#include <jxl/encode.h>
#include <libheif/heif.h>
#if LIBHEIF_HAVE_VERSION(1, 18, 0)
#include <libheif/heif_properties.h>
#endif

#include <cstring>
#include <stdexcept>
#include <vector>

namespace testsupport {

namespace {

void need(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("test picture: ") + what);
}

void need(const heif_error& error, const char* what) {
    need(error.code == heif_error_Ok, what);
}

heif_error writeTo(heif_context*, const void* data, size_t size, void* userdata) {
    static_cast<std::string*>(userdata)->append(static_cast<const char*>(data), size);
    return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

} // namespace

namespace {

// The image as libheif takes it: 8 or 10 bits a sample, with alpha if it has it.
heif_image* heifImageOf(const QImage& source, bool tenBit) {
    const bool alpha = source.hasAlphaChannel();
    const int bits = tenBit ? 10 : 8;
    const QImage image = source.convertToFormat(QImage::Format_RGBA8888);
    heif_image* picture = nullptr;
    const heif_chroma chroma =
        tenBit ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
               : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    need(heif_image_create(image.width(), image.height(), heif_colorspace_RGB, chroma, &picture),
         "heif image");
    need(heif_image_add_plane(picture, heif_channel_interleaved, image.width(), image.height(),
                              bits),
         "heif plane");
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < image.height(); ++y) {
        const uchar* in = image.constScanLine(y);
        std::uint8_t* out = plane + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < image.width(); ++x)
            for (int c = 0; c < channels; ++c) {
                const int v = in[x * 4 + c];
                if (tenBit) {
                    const int wide = v * 1023 / 255;
                    out[(x * channels + c) * 2] = static_cast<std::uint8_t>(wide & 0xff);
                    out[(x * channels + c) * 2 + 1] = static_cast<std::uint8_t>(wide >> 8);
                } else {
                    out[x * channels + c] = static_cast<std::uint8_t>(v);
                }
            }
    }
    return picture;
}

#if LIBHEIF_HAVE_VERSION(1, 18, 0)
// The turn and mirror libheif writes for an Exif orientation, given to a
// grid as a whole: libheif's own grid encoder gives them to each tile.
void turnAsAWhole(heif_context* context, const heif_image_handle* grid, int orientation) {
    constexpr std::uint8_t anticlockwise[9] = {0, 0, 0, 2, 0, 3, 3, 3, 1};
    constexpr int axis[9] = {-1, -1, 1, -1, 0, 1, -1, 0, -1}; // 1 left and right, 0 top and bottom
    const heif_item_id id = heif_image_handle_get_item_id(grid);
    if (anticlockwise[orientation])
        need(heif_item_add_raw_property(context, id, heif_fourcc('i', 'r', 'o', 't'), nullptr,
                                        &anticlockwise[orientation], 1, 1, nullptr),
             "irot");
    const auto mirror = static_cast<std::uint8_t>(axis[orientation]);
    if (axis[orientation] >= 0)
        need(heif_item_add_raw_property(context, id, heif_fourcc('i', 'm', 'i', 'r'), nullptr,
                                        &mirror, 1, 1, nullptr),
             "imir");
}
#endif

} // namespace

bool heicGridsCanBeMade() {
    return LIBHEIF_HAVE_VERSION(1, 17, 0);
}

std::string heicOf(const QImage& source, const HeicOptions& options) {
    // libheif finds its encoders as plugins where the release ships them so.
    static const bool initialised = (heif_init(nullptr), true);
    (void)initialised;
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    need(heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder),
         "an HEVC encoder");
    heif_encoder_set_lossy_quality(encoder, 60);
    if (options.chroma != 420)
        heif_encoder_set_parameter_string(encoder, "chroma",
                                          std::to_string(options.chroma).c_str());
    heif_encoding_options* encoding = heif_encoding_options_alloc();
    encoding->image_orientation = static_cast<heif_orientation>(options.orientation);
    if (options.grid > 0) {
#if LIBHEIF_HAVE_VERSION(1, 17, 0)
        // A photo as phones store it: many small pictures side by side.
        heif_encoder_set_parameter_string(encoder, "preset", "ultrafast");
        const int n = options.grid;
        const int w = source.width() / n, h = source.height() / n;
        std::vector<heif_image*> tiles;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                tiles.push_back(heifImageOf(source.copy(x * w, y * h, w, h), options.tenBit));
        encoding->image_orientation = heif_orientation_normal;
        heif_image_handle* grid = nullptr;
        need(heif_context_encode_grid(context, tiles.data(), static_cast<std::uint16_t>(n),
                                      static_cast<std::uint16_t>(n), encoder, encoding, &grid),
             "HEVC grid encoding");
#if LIBHEIF_HAVE_VERSION(1, 18, 0)
        turnAsAWhole(context, grid, options.orientation);
#else
        need(options.orientation == 1, "a turned grid (libheif 1.18)");
#endif
        heif_image_handle_release(grid);
        for (heif_image* tile : tiles)
            heif_image_release(tile);
#else
        need(false, "a grid encoder (libheif 1.17)");
#endif
    } else {
        heif_image* picture = heifImageOf(source, options.tenBit);
        need(heif_context_encode_image(context, picture, encoder, encoding, nullptr),
             "HEVC encoding");
        heif_image_release(picture);
    }
    heif_encoding_options_free(encoding);
    heif_encoder_release(encoder);
    std::string file;
    heif_writer writer{1, writeTo};
    need(heif_context_write(context, &writer, &file), "heif writing");
    heif_context_free(context);
    return file;
}

std::string avifOf(const std::vector<QImage>& frames, const AvifOptions& options) {
    need(!frames.empty(), "no frames");
    avifEncoder* encoder = avifEncoderCreate();
    encoder->speed = AVIF_SPEED_FASTEST;
    encoder->maxThreads = 1;
    encoder->minQuantizer = 20;
    encoder->maxQuantizer = 30;
    encoder->timescale = 1000;
    for (const QImage& frame : frames) {
        const QImage argb = frame.convertToFormat(QImage::Format_ARGB32);
        const auto width = static_cast<std::uint32_t>(argb.width());
        const auto height = static_cast<std::uint32_t>(argb.height());
        avifImage* image = avifImageCreate(width, height, static_cast<std::uint32_t>(options.depth),
                                           AVIF_PIXEL_FORMAT_YUV420);
        if (!options.crop.isNull()) {
            const avifCropRect rect{static_cast<std::uint32_t>(options.crop.x()),
                                    static_cast<std::uint32_t>(options.crop.y()),
                                    static_cast<std::uint32_t>(options.crop.width()),
                                    static_cast<std::uint32_t>(options.crop.height())};
            avifDiagnostics diag;
            // Any whole pixels, as the box allows, whatever the subsampling.
#if AVIF_VERSION >= 1020000
            need(avifCleanApertureBoxFromCropRect(&image->clap, &rect, width, height, &diag),
                 "clean aperture");
#else
            need(avifCleanApertureBoxConvertCropRect(&image->clap, &rect, width, height,
                                                     AVIF_PIXEL_FORMAT_YUV444, &diag),
                 "clean aperture");
#endif
            image->transformFlags |= AVIF_TRANSFORM_CLAP;
        }
        if (options.turns) {
            image->transformFlags |= AVIF_TRANSFORM_IROT;
            image->irot.angle = static_cast<std::uint8_t>(options.turns);
        }
        if (options.mirror >= 0) {
            image->transformFlags |= AVIF_TRANSFORM_IMIR;
#if AVIF_VERSION >= 1000000
            image->imir.axis = static_cast<std::uint8_t>(options.mirror);
#else
            image->imir.mode = static_cast<std::uint8_t>(options.mirror);
#endif
        }
        avifRGBImage rgb;
        avifRGBImageSetDefaults(&rgb, image);
        rgb.format = AVIF_RGB_FORMAT_BGRA; // QImage's ARGB32 words, on a little-endian machine
        rgb.depth = 8;
        rgb.ignoreAlpha = argb.hasAlphaChannel() ? AVIF_FALSE : AVIF_TRUE;
        rgb.pixels = const_cast<std::uint8_t*>(argb.constBits());
        rgb.rowBytes = static_cast<std::uint32_t>(argb.bytesPerLine());
        // libavif converts to no constant-luminance matrix: the colours go
        // through the non-constant one and the file names the other.
        const auto matrix = static_cast<avifMatrixCoefficients>(options.matrix);
        image->matrixCoefficients =
            matrix == AVIF_MATRIX_COEFFICIENTS_BT2020_CL
                ? avifMatrixCoefficients{AVIF_MATRIX_COEFFICIENTS_BT2020_NCL}
                : matrix;
        need(avifImageRGBToYUV(image, &rgb) == AVIF_RESULT_OK, "AVIF colour conversion");
        image->matrixCoefficients = matrix;
        need(avifEncoderAddImage(encoder, image, static_cast<std::uint64_t>(options.delayMs),
                                 frames.size() == 1 ? AVIF_ADD_IMAGE_FLAG_SINGLE
                                                    : AVIF_ADD_IMAGE_FLAG_NONE) == AVIF_RESULT_OK,
             "AV1 encoding");
        avifImageDestroy(image);
    }
    avifRWData output = AVIF_DATA_EMPTY;
    need(avifEncoderFinish(encoder, &output) == AVIF_RESULT_OK, "AVIF writing");
    std::string file(reinterpret_cast<const char*>(output.data), output.size);
    avifRWDataFree(&output);
    avifEncoderDestroy(encoder);
    return file;
}

std::string jxlOf(const std::vector<QImage>& frames, int delayMs, bool lossless) {
    need(!frames.empty(), "no frames");
    const bool alpha = frames.front().hasAlphaChannel();
    JxlEncoder* encoder = JxlEncoderCreate(nullptr);
    JxlBasicInfo info;
    JxlEncoderInitBasicInfo(&info);
    info.xsize = static_cast<std::uint32_t>(frames.front().width());
    info.ysize = static_cast<std::uint32_t>(frames.front().height());
    info.bits_per_sample = 8;
    info.alpha_bits = alpha ? 8 : 0;
    info.num_extra_channels = alpha ? 1 : 0;
    info.uses_original_profile = lossless ? JXL_TRUE : JXL_FALSE;
    info.have_animation = frames.size() > 1 ? JXL_TRUE : JXL_FALSE;
    info.animation.tps_numerator = 1000;
    info.animation.tps_denominator = 1;
    need(JxlEncoderSetBasicInfo(encoder, &info) == JXL_ENC_SUCCESS, "JXL basic info");
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
    need(JxlEncoderSetColorEncoding(encoder, &srgb) == JXL_ENC_SUCCESS, "JXL colour");
    JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
    JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, lossless ? 1 : 3);
    if (lossless)
        JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    else
        JxlEncoderSetFrameDistance(settings, 1.0f);
    const JxlPixelFormat format{alpha ? 4u : 3u, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    for (const QImage& frame : frames) {
        // Rows without padding, as libjxl takes them.
        QImage rgba =
            frame.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        if (rgba.bytesPerLine() != rgba.width() * static_cast<int>(format.num_channels))
            rgba = rgba.copy();
        if (info.have_animation) {
            JxlFrameHeader header;
            JxlEncoderInitFrameHeader(&header);
            header.duration = static_cast<std::uint32_t>(delayMs);
            JxlEncoderSetFrameHeader(settings, &header);
        }
        need(JxlEncoderAddImageFrame(settings, &format, rgba.constBits(),
                                     static_cast<std::size_t>(rgba.sizeInBytes())) ==
                 JXL_ENC_SUCCESS,
             "JXL frame");
    }
    JxlEncoderCloseInput(encoder);
    std::string file(1 << 16, '\0');
    std::size_t written = 0;
    for (;;) {
        auto* next = reinterpret_cast<std::uint8_t*>(file.data()) + written;
        std::size_t room = file.size() - written;
        const JxlEncoderStatus status = JxlEncoderProcessOutput(encoder, &next, &room);
        written = file.size() - room;
        if (status != JXL_ENC_NEED_MORE_OUTPUT) {
            need(status == JXL_ENC_SUCCESS, "JXL encoding");
            break;
        }
        file.resize(file.size() * 2);
    }
    file.resize(written);
    JxlEncoderDestroy(encoder);
    return file;
}

// The codestream's size header: no multiple of 8, 32-bit sizes less one,
// no ratio; then image metadata all at their defaults. Bits go in from the
// lowest of each byte.
std::string jxlHeaderOnly(std::uint32_t width, std::uint32_t height) {
    std::string bytes("\xff\x0a", 2);
    int used = 8;
    const auto put = [&](std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) {
            if (used == 8) {
                bytes += '\0';
                used = 0;
            }
            if ((value >> i) & 1)
                bytes.back() = static_cast<char>(bytes.back() | (1 << used));
            ++used;
        }
    };
    put(0, 1);
    put(3, 2);
    put(height - 1, 30);
    put(0, 3);
    put(3, 2);
    put(width - 1, 30);
    put(1, 1);
    return bytes + std::string(64, '\0');
}

std::string withBoxSize(std::string file, std::uint32_t width, std::uint32_t height) {
    for (std::size_t at = file.find("ispe"); at != std::string::npos;
         at = file.find("ispe", at + 4)) {
        for (int i = 0; i < 4; ++i) {
            file[at + 8 + i] = static_cast<char>(width >> (24 - 8 * i));
            file[at + 12 + i] = static_cast<char>(height >> (24 - 8 * i));
        }
    }
    return file;
}

std::string withGridSize(std::string file, std::uint16_t width, std::uint16_t height) {
    // The grid's data: version, flags (0: sizes of 16 bits), rows and
    // columns less one, then its width and height.
    const std::size_t at = file.find("idat") + 4;
    need(at != std::string::npos + 4 && at + 8 <= file.size() && file[at + 1] == 0, "a grid");
    for (const auto& [offset, value] : {std::pair{4, width}, std::pair{6, height}}) {
        file[at + offset] = static_cast<char>(value >> 8);
        file[at + offset + 1] = static_cast<char>(value & 0xff);
    }
    return file;
}

std::string withDamagedStream(std::string file) {
    const std::size_t mdat = file.find("mdat");
    need(mdat != std::string::npos, "an mdat box");
    std::memset(file.data() + mdat + 4, 0xff, 16);
    return file;
}

} // namespace testsupport

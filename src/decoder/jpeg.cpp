// JPEG through libjpeg-turbo. Its error manager tells errors from warnings;
// of the warnings, only those that mean missing or corrupt image data make a
// picture invalid, the others (stray bytes before a marker, odd colour
// profiles) are remarks. Its progress monitor caps the number of scans, and
// its memory manager the memory a progressive picture may take. A large photo
// is decoded at libjpeg-turbo's own reduced scale, the nearest M/8 above the
// kept size, and filtered the rest of the way.

#include "decoder/decoder.h"
#include "decoder/reduce.h"

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <memory>
#include <utility>

// clang-format off
#include <jpeglib.h> // before jerror.h, which needs its configuration
#include <jerror.h>
// clang-format on

namespace decoder {

namespace {

// Photos turn by their Exif orientation (1 is upright), as cameras mean them.
int exifOrientation(const jpeg_saved_marker_ptr markers) {
    for (jpeg_saved_marker_ptr m = markers; m; m = m->next) {
        const JOCTET* d = m->data;
        const unsigned n = m->data_length;
        if (m->marker != JPEG_APP0 + 1 || n < 14 || d[0] != 'E' || d[1] != 'x' || d[2] != 'i' ||
            d[3] != 'f' || d[4] != 0 || d[5] != 0)
            continue;
        const JOCTET* tiff = d + 6;
        const unsigned size = n - 6;
        const bool little = tiff[0] == 'I' && tiff[1] == 'I';
        if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
            return 1;
        const auto u16 = [&](unsigned at) -> unsigned {
            return little ? tiff[at] | tiff[at + 1] << 8 : tiff[at] << 8 | tiff[at + 1];
        };
        const auto u32 = [&](unsigned at) -> unsigned {
            return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
        };
        const unsigned ifd = u32(4);
        if (ifd > size - 2 || ifd < 8)
            return 1;
        const unsigned count = u16(ifd);
        for (unsigned i = 0; i < count; ++i) {
            const unsigned entry = ifd + 2 + i * 12;
            if (entry > size - 12)
                break;
            if (u16(entry) == 0x0112) {
                const unsigned value = u16(entry + 8);
                return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
            }
        }
        return 1;
    }
    return 1;
}

struct Session {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    Verdict verdict = Verdict::Invalid;
    int scanLimit = 0;
};

Session& sessionOf(j_common_ptr info) {
    return *static_cast<Session*>(info->client_data);
}

[[noreturn]] void fail(j_common_ptr info, Verdict verdict) {
    sessionOf(info).verdict = verdict;
    std::longjmp(sessionOf(info).jump, 1);
}

void onError(j_common_ptr info) {
    const int code = info->err->msg_code;
    // Memory the budget did not allow is the budget's verdict, not damage.
    const bool memory = code == JERR_OUT_OF_MEMORY || code == JERR_NO_BACKING_STORE ||
                        code == JERR_TFILE_CREATE || code == JERR_WIDTH_OVERFLOW ||
                        code == JERR_IMAGE_TOO_BIG;
    fail(info, memory ? Verdict::OutOfMemory : Verdict::Invalid);
}

void onMessage(j_common_ptr info, int level) {
    if (level >= 0)
        return; // trace messages
    switch (info->err->msg_code) {
    case JWRN_JPEG_EOF:       // image data cut short
    case JWRN_HIT_MARKER:     // a scan ends before its data does
    case JWRN_MUST_RESYNC:    // data lost between restart markers
    case JWRN_HUFF_BAD_CODE:  // corrupt entropy-coded data
    case JWRN_ARITH_BAD_CODE: // the same, arithmetic coding
        fail(info, Verdict::Invalid);
    default:
        return; // a remark about a complete picture
    }
}

void onProgress(j_common_ptr info) {
    auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    // Real progressive pictures have about ten scans; thousands of them are
    // only a way to keep a decoder busy.
    if (decompress->input_scan_number > sessionOf(info).scanLimit)
        fail(info, Verdict::Invalid);
}

void silent(j_common_ptr) {}

#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr J_COLOR_SPACE wordOrder = JCS_EXT_BGRA; // 0xAARRGGBB in memory
#else
constexpr J_COLOR_SPACE wordOrder = JCS_EXT_ARGB;
#endif

// The smallest of libjpeg-turbo's scales 1/8, 2/8, 4/8 whose output still
// covers `kept`: the rest of the way is the area filter's. Those three have
// the library's vector code; 3/8 would leave fewer pixels to filter but
// takes the library longer than 4/8, and the filter runs beside it.
unsigned scaleNumerator(Size picture, Size kept) {
    for (unsigned m = 1; m < 8; m *= 2)
        if ((picture.width * m + 7) / 8 >= static_cast<unsigned>(kept.width) &&
            (picture.height * m + 7) / 8 >= static_cast<unsigned>(kept.height))
            return m;
    return 8;
}

// What a progressive picture keeps until its last scan: every coefficient
// of every component, 2 bytes each.
std::uint64_t coefficientBytes(const jpeg_decompress_struct& info) {
    std::uint64_t bytes = 0;
    for (int c = 0; c < info.num_components; ++c) {
        const jpeg_component_info& comp = info.comp_info[c];
        const std::uint64_t rows = (std::uint64_t{comp.height_in_blocks} + comp.v_samp_factor - 1) /
                                   comp.v_samp_factor * comp.v_samp_factor;
        bytes += std::uint64_t{comp.width_in_blocks} * rows * DCTSIZE2 * sizeof(JCOEF);
    }
    return bytes;
}

// Runs libjpeg between setjmp and its errors' longjmp: only trivially
// destructible locals live in this frame.
Verdict run(Session& s, std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink,
            std::unique_ptr<Reducer>& reducer, std::vector<std::uint32_t>& row) {
    if (setjmp(s.jump))
        return s.verdict;
    jpeg_create_decompress(&s.info);
    // Creating the decompressor clears all but the error manager and the
    // client data: the progress monitor goes in after it.
    s.info.progress = &s.progress;
    jpeg_mem_src(&s.info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_save_markers(&s.info, JPEG_APP0 + 1, 0xffff);
    if (jpeg_read_header(&s.info, TRUE) != JPEG_HEADER_OK)
        return Verdict::Invalid;
    const Size stored{static_cast<int>(s.info.image_width), static_cast<int>(s.info.image_height)};
    if (!budget.allowsPicture(s.info.image_width, s.info.image_height))
        return Verdict::OutOfMemory;
    if (s.info.progressive_mode && coefficientBytes(s.info) > budget.limits().jpegMemory)
        return Verdict::OutOfMemory;
    s.info.mem->max_memory_to_use = budget.limits().jpegMemory + (16u << 20);

    const int orientation = exifOrientation(s.info.marker_list);
    const bool turns = orientation >= 5;
    const Size upright = turns ? Size{stored.height, stored.width} : stored;
    const Size keptUpright = keptSize(upright, 1, budget.limits());
    const Size kept = turns ? Size{keptUpright.height, keptUpright.width} : keptUpright;
    if (!budget.takeFrame(static_cast<std::uint64_t>(kept.width),
                          static_cast<std::uint64_t>(kept.height)))
        return Verdict::OutOfMemory;

    const bool cmyk = s.info.jpeg_color_space == JCS_CMYK || s.info.jpeg_color_space == JCS_YCCK;
    s.info.out_color_space = cmyk ? JCS_CMYK : wordOrder;
    s.info.dct_method = JDCT_ISLOW;
    s.info.scale_num = scaleNumerator(stored, kept);
    s.info.scale_denom = 8;
    sink.picture({upright, 1,
                  cpuMsFor(std::uint64_t(stored.width) * stored.height,
                           s.info.progressive_mode ? 12.0 : 4.0)});
    jpeg_start_decompress(&s.info);
    const Size output{static_cast<int>(s.info.output_width),
                      static_cast<int>(s.info.output_height)};
    if (output.width < kept.width || output.height < kept.height)
        return Verdict::Invalid;
    reducer = std::make_unique<Reducer>(output, kept, orientation);
    reducer->streamTo(sink);
    row.resize(static_cast<std::size_t>(output.width));
    while (s.info.output_scanline < s.info.output_height) {
        auto* bytesOfRow = reinterpret_cast<JSAMPROW>(row.data());
        if (jpeg_read_scanlines(&s.info, &bytesOfRow, 1) != 1)
            return Verdict::Invalid;
        if (cmyk) {
            // Adobe's CMYK pictures store their inks inverted.
            const bool inverted = s.info.saw_Adobe_marker;
            for (int x = 0; x < output.width; ++x) {
                const JSAMPLE* p = bytesOfRow + 4 * x;
                unsigned c = p[0], m = p[1], y = p[2], k = p[3];
                if (!inverted) {
                    c = 255 - c;
                    m = 255 - m;
                    y = 255 - y;
                    k = 255 - k;
                }
                row[static_cast<std::size_t>(x)] =
                    0xff000000u | (c * k / 255) << 16 | (m * k / 255) << 8 | (y * k / 255);
            }
        }
        reducer->row(row.data());
    }
    jpeg_finish_decompress(&s.info);
    return Verdict::Ok;
}

} // namespace

Verdict decodeJpeg(std::span<const std::uint8_t> bytes, Budget& budget, FrameSink& sink) {
    Session s;
    s.scanLimit = budget.limits().jpegScans;
    s.info.err = jpeg_std_error(&s.errors);
    s.errors.error_exit = onError;
    s.errors.emit_message = onMessage;
    s.errors.output_message = silent;
    s.progress.progress_monitor = onProgress;
    s.info.client_data = &s;
    std::unique_ptr<Reducer> reducer;
    std::vector<std::uint32_t> row;
    Verdict verdict = Verdict::Invalid;
    try {
        verdict = run(s, bytes, budget, sink, reducer, row);
    } catch (const std::bad_alloc&) {
        verdict = Verdict::OutOfMemory;
    }
    jpeg_destroy_decompress(&s.info);
    if (verdict == Verdict::Ok)
        reducer->deliver(sink);
    return verdict;
}

} // namespace decoder

// A picture's decoding, as the program sees it whatever the system: the
// helper's records read and checked, every frame counted against the
// picture budget before memory is given to it.

#include "decoder/budget.h"
#include "decoder/pipe_format.h"
#include "runtime/platform.h"

#include <algorithm>

namespace rt {

namespace {

// Takes each decoded frame into the program's memory, counting it against
// the budget before any memory is given to it.
class Receiver {
public:
    Receiver(const FileError& fail, const FrameTarget& into)
        : m_fail(fail)
        , m_into(into)
        , m_budget(decoder::pictureLimits) {}
    // The picture's own size comes once, before its frames.
    void picture(const FrameShape& shape) {
        if (m_told || shape.width <= 0 || shape.height <= 0 ||
            !m_budget.allowsPicture(static_cast<std::uint64_t>(shape.width),
                                    static_cast<std::uint64_t>(shape.height)))
            m_fail.raise(ErrorNumber::Internal);
        m_told = true;
        m_into.picture(shape);
    }
    std::uint32_t* take(const FrameShape& shape) {
        if (!m_told)
            m_fail.raise(ErrorNumber::Internal);
        if (!m_budget.takeFrame(static_cast<std::uint64_t>(shape.width),
                                static_cast<std::uint64_t>(shape.height)))
            m_fail.raise(ErrorNumber::OutOfMemory);
        ++m_frames;
        return m_into.frame(shape);
    }
    int frames() const { return m_frames; }

private:
    const FileError& m_fail;
    const FrameTarget& m_into;
    decoder::Budget m_budget;
    int m_frames = 0;
    bool m_told = false;
};

ErrorNumber errorForVerdict(std::uint32_t verdict, int frames) {
    switch (static_cast<decoder::Verdict>(verdict)) {
    case decoder::Verdict::Ok:
        return frames > 0 ? ErrorNumber{} : ErrorNumber::InvalidPicture;
    case decoder::Verdict::OutOfMemory:
        return ErrorNumber::OutOfMemory;
    default:
        return ErrorNumber::InvalidPicture;
    }
}

} // namespace

void decodePictureFile(const std::string& where, const FileError& fail, const FrameTarget& into) {
    const auto deadline = std::chrono::steady_clock::now() + decodeClockLimit;
    const std::unique_ptr<DecoderRun> run = startDecoder(where, fail);
    DecoderRun& helper = *run;
    Receiver receiver(fail, into);
    for (;;) {
        decoder::pipe::Record record{};
        if (!helper.read(&record, sizeof record, deadline))
            fail.raise(ErrorNumber::InvalidPicture); // it crashed, or took too long
        if (record.tag == decoder::pipe::endTag) {
            helper.finish(false);
            const ErrorNumber error = errorForVerdict(record.a, receiver.frames());
            if (error != ErrorNumber{})
                fail.raise(error);
            return;
        }
        if (record.tag == decoder::pipe::pictureTag) {
            receiver.picture({static_cast<int>(std::min<std::uint32_t>(record.a, 1u << 30)),
                              static_cast<int>(std::min<std::uint32_t>(record.b, 1u << 30)), 0});
            helper.allowCpu(std::chrono::milliseconds(std::min<std::uint32_t>(record.c, 1u << 20)));
            continue;
        }
        if (record.tag != decoder::pipe::frameTag || record.a == 0 || record.b == 0 ||
            record.a > (1u << 30) || record.b > (1u << 30))
            fail.raise(ErrorNumber::Internal);
        const FrameShape shape{static_cast<int>(record.a), static_cast<int>(record.b),
                               static_cast<int>(std::min<std::uint32_t>(record.c, 1u << 30))};
        std::uint32_t* pixels = receiver.take(shape);
        if (!helper.read(pixels, std::size_t{record.a} * record.b * sizeof(std::uint32_t),
                         deadline))
            fail.raise(ErrorNumber::InvalidPicture);
    }
}

} // namespace rt

// The life of a decoding helper, the program's picture decoder in a process
// of its own. The program opens the picture file and hands it over as
// standard input; the frames come back on standard output (pipe_format.h).
// The process limits itself first, so that no file can make it take more
// than its share of memory or processor time. It tells the picture's format
// from its first bytes, by our own comparison, before any library sees
// them; a picture of another family's format becomes that family's helper
// (the same process, the same limits), so that each picture loads and
// readies only its own format's library. Then it confines itself
// (sandbox.h) before it parses a byte, so that a decoder a file takes over
// can do nothing but send frames. The program also keeps a wall-clock
// deadline and ends it when that passes. What it asks of the system is in
// helper_system.h.

#include "decoder/helper.h"

#include "decoder/decoder.h"
#include "decoder/helper_system.h"
#include "decoder/pipe_format.h"
#include "decoder/sandbox.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace decoder {

namespace {

// One record on the pipe; the helper ends where the program has stopped
// listening.
void send(std::uint32_t tag, int a, int b, int c) {
    const pipe::Record record{tag, static_cast<std::uint32_t>(a), static_cast<std::uint32_t>(b),
                              static_cast<std::uint32_t>(c)};
    if (!writeOut(&record, sizeof record))
        endHelper(1);
}

class PipeSink final : public FrameSink {
public:
    void picture(const PictureInfo& info) override {
        send(pipe::pictureTag, info.size.width, info.size.height, info.cpuMs);
    }
    void frame(const Frame& f) override {
        send(pipe::frameTag, f.width, f.height, f.delay);
        if (!writeOut(f.pixels.data(), f.pixels.size() * sizeof(std::uint32_t)))
            endHelper(1);
    }
    bool beginRows(int width, int height) override {
        send(pipe::frameTag, width, height, 0);
        m_rowWidth = static_cast<std::size_t>(width);
        m_rowsLeft = height;
        return true;
    }
    void rows(const std::uint32_t* pixels, int count) override {
        count = std::min(count, m_rowsLeft);
        if (!writeOut(pixels, m_rowWidth * static_cast<std::size_t>(count) * sizeof *pixels))
            endHelper(1);
        m_rowsLeft -= count;
    }
    // A frame sent row by row whose picture turned out damaged half-way is
    // made whole with empty rows, so that the verdict that follows is read
    // as one.
    void finishRows() {
        const std::vector<std::uint32_t> empty(m_rowWidth);
        while (m_rowsLeft > 0)
            rows(empty.data(), 1);
    }

private:
    std::size_t m_rowWidth = 0;
    int m_rowsLeft = 0;
};

// The answer for a picture no helper decodes: refused, with no library
// started for it.
[[noreturn]] void refuse() {
    send(pipe::endTag, static_cast<int>(Verdict::Invalid), 0, 0);
    endHelper(0);
}

// The picture's first bytes, read where they are without moving on.
Format sniff() {
    std::vector<std::uint8_t> first(formatBytes);
    const std::size_t filled = readInAt(first.data(), first.size(), 0);
    return formatOf(std::span(first).first(filled));
}

} // namespace

void helperMain(const char* self, FamilyDecoder decodeAs, void (*ready)()) {
    limitSelf();
    // The picture's size is asked before the confinement, which lets the
    // helper look at no file at all, not even at whether one exists.
    const std::size_t size = inputSize();
    const Format format = sniff();
    const char* helper = helperOf(format);
    if (!helper)
        refuse();
    if (self && std::strcmp(helper, self) != 0)
        become(helper);
    if (ready)
        ready();
    // Without its confinement the helper decodes nothing: the program takes
    // the missing answer for a damaged picture.
    if (!confine())
        endHelper(1);

    Verdict verdict = Verdict::Invalid;
    PipeSink sink;
    try {
        std::vector<std::uint8_t> bytes;
        std::size_t filled = 0;
        const std::size_t most = pictureLimits.fileBytes;
        if (size > 0)
            bytes.resize(std::min(size, most) + 1);
        for (;;) {
            if (filled == bytes.size())
                bytes.resize(std::min(std::max<std::size_t>(filled * 2, 1u << 16), most + 1));
            const std::size_t n = readIn(bytes.data() + filled, bytes.size() - filled);
            if (n == 0)
                break;
            filled += n;
            if (filled > most)
                break;
        }
        bytes.resize(filled);
        Budget budget(pictureLimits);
        verdict = filled > most ? Verdict::OutOfMemory : decodeAs(format, bytes, budget, sink);
    } catch (const std::bad_alloc&) {
        verdict = Verdict::OutOfMemory;
    }
    sink.finishRows();
    send(pipe::endTag, static_cast<int>(verdict), 0, 0);
    endHelper(0);
}

} // namespace decoder

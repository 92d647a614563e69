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
// deadline and ends it when that passes.

#include "decoder/helper.h"

#include "decoder/decoder.h"
#include "decoder/pipe_format.h"
#include "decoder/sandbox.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void limit(int resource, rlim_t value) {
    const rlimit r{value, value};
    ::setrlimit(resource, &r);
}

void limitSelf() {
    // Nothing but the picture in and the frames out: no descriptor the
    // program may have left open without close-on-exec (its display
    // connection, say) stays reachable.
    ::close_range(3, ~0u, 0);
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    limit(RLIMIT_CORE, 0);
    limit(RLIMIT_FSIZE, 0);
#if defined(__SANITIZE_ADDRESS__)
#define ORBITALE_UNDER_ASAN
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORBITALE_UNDER_ASAN
#endif
#endif
#ifdef ORBITALE_UNDER_ASAN
    // Under AddressSanitizer everything runs several times slower, and its
    // shadow memory needs the whole address space.
    limit(RLIMIT_CPU, 20);
#else
    // The program ends it by the time its picture justifies; this is the
    // backstop for a program that has gone.
    limit(RLIMIT_CPU, 10);
    // The file, a frame held whole and the one composed before it, a
    // progressive JPEG's coefficients, the kept frames, and the libraries
    // with their threads.
    const auto& l = decoder::pictureLimits;
    limit(RLIMIT_AS, l.fileBytes + 2 * l.sourceBytes + l.jpegMemory + l.keptBytes + (160u << 20));
#endif
}

// Ends the helper once its answer is out. Under LeakSanitizer, without the
// leak check at exit: that check starts a tracing process and reads /proc,
// which the confinement refuses, and its report would go to the program's
// /dev/null anyway.
[[noreturn]] void end(int status) {
#ifdef ORBITALE_UNDER_ASAN
    std::_Exit(status);
#else
    std::exit(status);
#endif
}

bool writeAll(const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One record on the pipe; the helper ends where the program has stopped
// listening.
void send(std::uint32_t tag, int a, int b, int c) {
    const decoder::pipe::Record record{tag, static_cast<std::uint32_t>(a),
                                       static_cast<std::uint32_t>(b),
                                       static_cast<std::uint32_t>(c)};
    if (!writeAll(&record, sizeof record))
        std::_Exit(1);
}

class PipeSink final : public decoder::FrameSink {
public:
    void picture(const decoder::PictureInfo& info) override {
        send(decoder::pipe::pictureTag, info.size.width, info.size.height, info.cpuMs);
    }
    void frame(const decoder::Frame& f) override {
        send(decoder::pipe::frameTag, f.width, f.height, f.delay);
        if (!writeAll(f.pixels.data(), f.pixels.size() * sizeof(std::uint32_t)))
            std::_Exit(1);
    }
    bool beginRows(int width, int height) override {
        send(decoder::pipe::frameTag, width, height, 0);
        m_rowWidth = static_cast<std::size_t>(width);
        m_rowsLeft = height;
        return true;
    }
    void rows(const std::uint32_t* pixels, int count) override {
        count = std::min(count, m_rowsLeft);
        if (!writeAll(pixels, m_rowWidth * static_cast<std::size_t>(count) * sizeof *pixels))
            std::_Exit(1);
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
    send(decoder::pipe::endTag, static_cast<int>(decoder::Verdict::Invalid), 0, 0);
    end(0);
}

// The picture's first bytes, read where they are without moving on.
decoder::Format sniff() {
    std::vector<std::uint8_t> first(decoder::formatBytes);
    std::size_t filled = 0;
    while (filled < first.size()) {
        const ssize_t n = ::pread(STDIN_FILENO, first.data() + filled, first.size() - filled,
                                  static_cast<off_t>(filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    return decoder::formatOf(std::span(first).first(filled));
}

// Becomes the helper of another family, beside this one; where it cannot,
// the picture is refused (the program hears no answer).
[[noreturn]] void become(const char* helper) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        end(1);
    std::string path(self, static_cast<std::size_t>(n));
    path.resize(path.rfind('/') + 1);
    path += helper;
    char* argv[] = {path.data(), nullptr};
    ::execve(path.c_str(), argv, environ);
    end(1);
}

} // namespace

namespace decoder {

void helperMain(const char* self, FamilyDecoder decodeAs, void (*ready)()) {
    limitSelf();
    std::signal(SIGPIPE, SIG_IGN);
    // The picture's size is asked before the confinement, which lets the
    // helper look at no file at all, not even at whether one exists.
    struct stat info {};
    const bool sized = ::fstat(STDIN_FILENO, &info) == 0 && S_ISREG(info.st_mode);
    const Format format = sniff();
    const char* helper = helperOf(format);
    if (!helper)
        refuse();
    if (std::strcmp(helper, self) != 0)
        become(helper);
    if (ready)
        ready();
    // Without its confinement the helper decodes nothing: the program takes
    // the missing answer for a damaged picture.
    if (!confine())
        end(1);

    Verdict verdict = Verdict::Invalid;
    PipeSink sink;
    try {
        std::vector<std::uint8_t> bytes;
        std::size_t filled = 0;
        const std::size_t most = pictureLimits.fileBytes;
        if (sized)
            bytes.resize(std::min(static_cast<std::size_t>(info.st_size), most) + 1);
        for (;;) {
            if (filled == bytes.size())
                bytes.resize(std::min(std::max<std::size_t>(filled * 2, 1u << 16), most + 1));
            const ssize_t n = ::read(STDIN_FILENO, bytes.data() + filled, bytes.size() - filled);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                end(1);
            if (n == 0)
                break;
            filled += static_cast<std::size_t>(n);
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
    end(0);
}

} // namespace decoder

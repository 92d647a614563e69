#pragma once

// What the toolkit asks of the operating system. Toolkit-internal.

#include "runtime/error.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace rt {

// Raises errors about one file, naming it as the program does and where it
// was looked for: a file not found, every place looked at; anything else,
// the file that was found.
class FileError {
public:
    FileError(std::string_view name, std::string path, std::string placesLooked)
        : m_name(name)
        , m_path(std::move(path))
        , m_placesLooked(std::move(placesLooked)) {}
    [[noreturn]] void raise(ErrorNumber number) const {
        throw Error(number, m_name, number == ErrorNumber::FileNotFound ? m_placesLooked : m_path);
    }

private:
    std::string m_name;
    std::string m_path;
    std::string m_placesLooked;
};

// One frame as it arrives from the decoder, at the size it is kept at:
// `frame` gives the memory for its width × height premultiplied ARGB words,
// rows top to bottom. Before the first frame, `picture` is told the
// picture's own size (its delay is 0).
struct FrameShape {
    int width;
    int height;
    int delay; // milliseconds
};
struct FrameTarget {
    std::function<void(const FrameShape&)> picture;
    std::function<std::uint32_t*(const FrameShape&)> frame;
};

// Decodes the picture file at `where`, every frame of it, within the
// program's picture budget. Only a regular file is opened: anything else at
// the path (a directory, a FIFO, a socket, a device) is refused before it is
// opened, so that nothing can block or never end: FileAccess. No file there:
// FileNotFound. The decoding runs in the program's decoding helper, which
// gets the open file and nothing else, within limits of memory and processor
// time: a file that makes it crash, or that keeps it working past
// decodeCpuLimit, is InvalidPicture; one over the budget, OutOfMemory.
void decodePictureFile(const std::string& where, const FileError& fail, const FrameTarget& into);

// The helper's own decoders finish almost any file well within a second;
// these are the backstops. Processor time, not time on the clock, so that a
// busy machine does not turn a large photo away; the clock only ends a helper
// that gets no processor at all. A picture whose format's decoder needs more
// for its pixels (a large HEIC) is given what they justify, up to
// decodeCpuMost.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_UNDEFINED__)
// Built with sanitizers, every decoder runs several times slower.
inline constexpr int sanitizerSlowness = 10;
#else
inline constexpr int sanitizerSlowness = 1;
#endif
inline constexpr std::chrono::milliseconds decodeCpuLimit{900 * sanitizerSlowness};
inline constexpr std::chrono::milliseconds decodeCpuMost{6000 * sanitizerSlowness};
inline constexpr std::chrono::milliseconds decodeClockLimit{30000};

// The decoding helper, started on one picture file by startDecoder. Its
// records are read with read(): false once it has ended, has used more
// processor time than it is allowed, or the clock has passed `until`.
// Ending it collects its exit, killing it first when asked to; it is killed
// if still running when the run is destroyed.
class DecoderRun {
public:
    virtual ~DecoderRun() = default;
    virtual bool read(void* to, std::size_t size, std::chrono::steady_clock::time_point until) = 0;
    virtual void finish(bool kill) = 0;
    // The processor time the picture's decoding may take, as the helper says
    // its pixels need: never less than decodeCpuLimit, never more than
    // decodeCpuMost.
    void allowCpu(std::chrono::milliseconds needed) {
        m_cpuLimit = std::clamp(needed * sanitizerSlowness, decodeCpuLimit, decodeCpuMost);
    }

protected:
    // Whether the helper is still within its processor time, asked of the
    // system at most every 10 ms, not for every piece that arrives.
    bool withinCpu(std::chrono::steady_clock::time_point now) {
        if (now < m_nextCpuLook)
            return true;
        m_nextCpuLook = now + std::chrono::milliseconds(10);
        return cpuTime() <= m_cpuLimit;
    }
    // The processor time the helper has used so far (0 where the system
    // does not tell).
    virtual std::chrono::milliseconds cpuTime() const = 0;

private:
    std::chrono::milliseconds m_cpuLimit = decodeCpuLimit;
    std::chrono::steady_clock::time_point m_nextCpuLook{};
};

// Opens the picture at `where` as decodePictureFile says and starts the
// helper on it, or raises the file's error.
std::unique_ptr<DecoderRun> startDecoder(const std::string& where, const FileError& fail);

// Where the decoding helper is: beside the program, whatever picture prefix
// is in force.
std::string decoderPath();

// The installation's own folder, found from the running executable: the
// folder above bin/ on Linux, the program's own folder on Windows.
std::string executablePrefix();

// The installation's drives folder, under its prefix: share/orbitale/drives
// on Linux, drives beside the program on Windows.
extern const char* const installedDrives;

// How the system names paths: its folder separator, and whether a path is
// absolute.
extern const char folderSeparator;
bool isAbsolutePath(std::string_view path);

// What is at a path, looked at without following a last link and without
// opening anything.
enum class Look { Something, Nothing, Unreachable };
Look lookAt(const std::string& path);

} // namespace rt

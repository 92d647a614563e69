#pragma once

// What the toolkit asks of the operating system. Toolkit-internal.

#include "runtime/error.h"

#include <chrono>
#include <cstdint>
#include <functional>
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

// Where the decoding helper is: beside the program, whatever picture prefix
// is in force.
std::string decoderPath();

// The folder above the one holding the running executable.
std::string executablePrefix();

} // namespace rt

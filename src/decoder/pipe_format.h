#pragma once

// What the decoding helper writes on its pipe: for each frame a record and
// then its pixels (width × height 32-bit words), and at the end one record
// with the verdict. Words are in the machine's own byte order: the helper is
// built and installed with the program.

#include <cstdint>

namespace decoder::pipe {

struct Record {
    std::uint32_t tag;
    std::uint32_t a; // frame: width;  end: verdict
    std::uint32_t b; // frame: height
    std::uint32_t c; // frame: delay in milliseconds
};

inline constexpr std::uint32_t frameTag = 0x4d415246; // "FRAM"
inline constexpr std::uint32_t endTag = 0x454e4f44;   // "DONE"

} // namespace decoder::pipe

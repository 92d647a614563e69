#pragma once

// What the decoding helper writes on its pipe: first one record with the
// picture's own size, then for each frame a record and its pixels (width ×
// height 32-bit words, at the kept size), and at the end one record with the
// verdict. Words are in the machine's own byte order: the helper is
// built and installed with the program.

#include <cstdint>

namespace decoder::pipe {

struct Record {
    std::uint32_t tag;
    std::uint32_t a; // picture, frame: width;  end: verdict
    std::uint32_t b; // picture, frame: height
    std::uint32_t c; // picture: processor time it may take, ms;  frame: delay, ms
};

inline constexpr std::uint32_t pictureTag = 0x54434950; // "PICT"

inline constexpr std::uint32_t frameTag = 0x4d415246; // "FRAM"
inline constexpr std::uint32_t endTag = 0x454e4f44;   // "DONE"

} // namespace decoder::pipe

#pragma once

// A decoding helper's main: one executable per family of formats, each
// linking only its own formats' libraries (decode_main.cpp).

#include "decoder/decoder.h"

#include <span>

namespace decoder {

// Decodes a picture of one of the family's formats.
using FamilyDecoder = Verdict (*)(Format format, std::span<const std::uint8_t> bytes,
                                  Budget& budget, FrameSink& sink);

// Runs the helper named `self` (as helperOf names it): limits, the format
// found, another family's helper become where the picture is of its
// format, `ready` (for a library that loads plugins or starts threads while
// files may still be opened), the confinement, then the picture decoded and
// its frames and verdict written. Does not return. With no `self`, every
// family is decoded here (the Windows build's one helper).
[[noreturn]] void helperMain(const char* self, FamilyDecoder decodeAs, void (*ready)() = nullptr);

} // namespace decoder

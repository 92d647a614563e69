#pragma once

// How much memory the helper's process has taken for its heap, for a
// library that takes its memory itself rather than through a manager we
// give it: its growth across a decoding is what the library holds.

#include <cstddef>

namespace decoder {

// Whether this system tells it: glibc's heap (2.33 on), the address
// sanitizer's, or Windows' committed private memory.
extern const bool heapIsTold;

// The bytes taken now, freed blocks the heap keeps included; 0 where the
// system does not tell.
std::size_t heapTaken();

} // namespace decoder

#pragma once

// The decoding helper's confinement: once its libraries are ready and before
// it parses a byte of the picture, the helper gives up everything but reading
// standard input, writing standard output, its own memory, its own threads,
// clocks and ending. A decoder that a crafted file takes over can then open,
// create or remove no file, reach no socket, start no program or process and
// signal or trace nothing but itself.

namespace decoder {

// What confine() put in place.
struct Confinement {
    bool filter = false;   // the system-call filter (always, or confine() fails)
    bool landlock = false; // the kernel's Landlock, with no file or port allowed
};

// Confines the calling process for the rest of its life. The filter covers
// every thread, those a library has started already and those started
// later; Landlock, a second and independent line used where the kernel has
// it, covers the calling thread and the threads it starts afterwards.
// Returns false when the filter could not be installed: the caller must then
// decode nothing.
bool confine(Confinement* got = nullptr);

} // namespace decoder

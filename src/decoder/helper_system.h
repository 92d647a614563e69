#pragma once

// What a decoding helper asks of its system (decode_main.cpp): one file per
// system, helper_system_linux.cpp and helper_system_windows.cpp.

#include <cstddef>
#include <cstdint>

namespace decoder {

// Limits the process's memory and processor time, and closes whatever it
// may have been handed besides the picture and the pipe.
void limitSelf();

// The size of the picture on standard input; 0 where it is no regular file.
std::size_t inputSize();

// Reads from standard input: at most `size` bytes, 0 at its end. A read that
// fails ends the helper, the program hearing no answer.
std::size_t readIn(void* to, std::size_t size);
// As many bytes as there are, up to `size`, from `offset`, without moving on.
std::size_t readInAt(void* to, std::size_t size, std::uint64_t offset);

// Writes all of it to standard output; false once the program stopped
// listening.
bool writeOut(const void* data, std::size_t size);

// Becomes the helper of another family, beside this one; where it cannot,
// the picture is refused (the program hears no answer).
[[noreturn]] void become(const char* helper);

// Ends the helper once its answer is out.
[[noreturn]] void endHelper(int status);

} // namespace decoder

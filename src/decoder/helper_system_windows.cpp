// A decoding helper on Windows: the program put it in a job that bounds its
// memory and processor time and lets it start no process; its input and
// output are the handles it was given. Every format is in this one helper.

#include "decoder/helper_system.h"

#include <windows.h>

#include <cstdlib>

namespace decoder {

namespace {

HANDLE input() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

} // namespace

void limitSelf() {
    // A crash ends the process at once: no box that waits for a click.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
}

std::size_t inputSize() {
    LARGE_INTEGER size{};
    if (GetFileType(input()) != FILE_TYPE_DISK || !GetFileSizeEx(input(), &size))
        return 0;
    return static_cast<std::size_t>(size.QuadPart);
}

std::size_t readIn(void* to, std::size_t size) {
    DWORD got = 0;
    const DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    if (!ReadFile(input(), to, want, &got, nullptr)) {
        if (GetLastError() == ERROR_BROKEN_PIPE || GetLastError() == ERROR_HANDLE_EOF)
            return 0;
        endHelper(1);
    }
    return got;
}

std::size_t readInAt(void* to, std::size_t size, std::uint64_t offset) {
    // Read where they are, and the file is left where it was.
    LARGE_INTEGER here{}, zero{};
    if (!SetFilePointerEx(input(), zero, &here, FILE_CURRENT))
        return 0;
    auto* p = static_cast<char*>(to);
    std::size_t filled = 0;
    while (filled < size) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + filled);
        at.OffsetHigh = static_cast<DWORD>((offset + filled) >> 32);
        DWORD got = 0;
        if (!ReadFile(input(), p + filled, static_cast<DWORD>(size - filled), &got, &at) ||
            got == 0)
            break;
        filled += got;
    }
    SetFilePointerEx(input(), here, nullptr, FILE_BEGIN);
    return filled;
}

bool writeOut(const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    while (size > 0) {
        DWORD put = 0;
        const DWORD piece = size > (1u << 20) ? (1u << 20) : static_cast<DWORD>(size);
        if (!WriteFile(output, p, piece, &put, nullptr) || put == 0)
            return false;
        p += put;
        size -= put;
    }
    return true;
}

// Every format is decoded here: there is no other helper to become.
void become(const char*) {
    endHelper(1);
}

void endHelper(int status) {
    std::exit(status);
}

} // namespace decoder

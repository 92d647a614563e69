#pragma once

// The tools' output, the same bytes on every system: UTF-8 text with plain
// line ends, also in a Windows console, so that a line printed on Windows
// compares equal to the one printed on Linux.

#ifdef _WIN32
#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace tools {

inline void useUtf8Output() {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
}

} // namespace tools

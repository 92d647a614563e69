# Builds for 64-bit Windows with Debian's MinGW-w64 compilers, the ones with
# POSIX threads (std::thread and std::mutex need them).
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DORBITALE_WINDOWS_DEPS=build-windows/deps ...
#
# ORBITALE_WINDOWS_DEPS is the folder scripts/windows-deps.sh filled with the
# libraries Debian does not cross-build (MPFR, the picture decoders); zlib
# comes from libz-mingw-w64-dev under /usr/x86_64-w64-mingw32.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# CMake reads this file again for each of its compile checks, in a project of
# its own that sees none of our cache unless it is passed on.
set(ORBITALE_WINDOWS_DEPS "$ENV{ORBITALE_WINDOWS_DEPS}" CACHE PATH
    "Folder with the Windows libraries that scripts/windows-deps.sh built")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ORBITALE_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${ORBITALE_WINDOWS_DEPS})
# Libraries, headers and packages only for Windows; the tools that run during
# the build (nasm, pkg-config, windres) are this machine's own.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The tests run the Windows programs under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

// A decoding helper on Linux: its limits are resource limits, its input and
// output plain descriptors, and another family's helper is become by execve.

#include "decoder/helper_system.h"

#include "decoder/budget.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace decoder {

namespace {

void limit(int resource, rlim_t value) {
    const rlimit r{value, value};
    ::setrlimit(resource, &r);
}

} // namespace

void limitSelf() {
    // Nothing but the picture in and the frames out: no descriptor the
    // program may have left open without close-on-exec (its display
    // connection, say) stays reachable.
    ::close_range(3, ~0u, 0);
    ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    limit(RLIMIT_CORE, 0);
    limit(RLIMIT_FSIZE, 0);
    std::signal(SIGPIPE, SIG_IGN);
#if defined(__SANITIZE_ADDRESS__)
#define ORBITALE_UNDER_ASAN
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORBITALE_UNDER_ASAN
#endif
#endif
#ifdef ORBITALE_UNDER_ASAN
    // Under AddressSanitizer everything runs several times slower, and its
    // shadow memory needs the whole address space.
    limit(RLIMIT_CPU, 20);
#else
    // The program ends it by the time its picture justifies; this is the
    // backstop for a program that has gone.
    limit(RLIMIT_CPU, 10);
    limit(RLIMIT_AS, helperMemory);
#endif
}

// Under LeakSanitizer, without the leak check at exit: that check starts a
// tracing process and reads /proc, which the confinement refuses, and its
// report would go to the program's /dev/null anyway.
void endHelper(int status) {
#ifdef ORBITALE_UNDER_ASAN
    std::_Exit(status);
#else
    std::exit(status);
#endif
}

bool writeOut(const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t inputSize() {
    struct stat info {};
    return ::fstat(STDIN_FILENO, &info) == 0 && S_ISREG(info.st_mode)
               ? static_cast<std::size_t>(info.st_size)
               : 0;
}

std::size_t readIn(void* to, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, to, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            endHelper(1);
        return static_cast<std::size_t>(n);
    }
}

std::size_t readInAt(void* to, std::size_t size, std::uint64_t offset) {
    auto* p = static_cast<char*>(to);
    std::size_t filled = 0;
    while (filled < size) {
        const ssize_t n =
            ::pread(STDIN_FILENO, p + filled, size - filled, static_cast<off_t>(offset + filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    return filled;
}

void become(const char* helper) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0)
        endHelper(1);
    std::string path(self, static_cast<std::size_t>(n));
    path.resize(path.rfind('/') + 1);
    path += helper;
    char* argv[] = {path.data(), nullptr};
    ::execve(path.c_str(), argv, environ);
    endHelper(1);
}

} // namespace decoder

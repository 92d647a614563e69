// The helper's confinement. Two lines, each enough on its own for what it
// covers: a system-call filter that lets through only what reading a picture
// from standard input and writing frames to standard output needs, and, where
// the kernel has Landlock, a ruleset that handles every file and network
// right and allows none of them.
//
// Whatever is refused fails with EPERM rather than ending the helper: a
// library that asks for something it can do without (the number of
// processors from /sys, a terminal for a message) goes on, and a decoder
// taken over by a crafted file gets errors, never a file or a socket. A
// system call from another architecture's table ends the process: nothing
// the helper runs makes one.

#include "decoder/sandbox.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace decoder {

namespace {

// Landlock as the kernel defines it, written out here because the rights
// added after Debian 12's kernel headers are not in those headers. The
// kernel takes a larger ruleset structure than it knows as long as the part
// it does not know is zero.
struct LandlockRuleset {
    std::uint64_t handledFs = 0;
    std::uint64_t handledNet = 0;
    std::uint64_t scoped = 0;
};
constexpr unsigned landlockVersion = 1u << 0; // LANDLOCK_CREATE_RULESET_VERSION

// Every right over files and ports the kernel's Landlock version knows.
LandlockRuleset everyRight(long version) {
    LandlockRuleset r;
    r.handledFs =
        (1u << 13) - 1; // execute, read and write files, read directories, make and remove
    if (version >= 2)
        r.handledFs |= 1u << 13; // moving or linking a file to another folder
    if (version >= 3)
        r.handledFs |= 1u << 14; // truncating
    if (version >= 5)
        r.handledFs |= 1u << 15; // device ioctls
    if (version >= 4)
        r.handledNet = (1u << 0) | (1u << 1); // binding and connecting TCP ports
    if (version >= 6)
        r.scoped = (1u << 0) | (1u << 1); // abstract Unix sockets and signals outside the helper
    return r;
}

bool restrictWithLandlock() {
    const long version = ::syscall(SYS_landlock_create_ruleset, nullptr, 0, landlockVersion);
    if (version < 1)
        return false; // a kernel without Landlock, or with it switched off
    const LandlockRuleset ruleset = everyRight(version);
    const long fd = ::syscall(SYS_landlock_create_ruleset, &ruleset, sizeof ruleset, 0u);
    if (fd < 0)
        return false;
    const bool done = ::syscall(SYS_landlock_restrict_self, fd, 0u) == 0;
    ::close(static_cast<int>(fd));
    return done;
}

#include "helper_filter.inc"

// Installs the filter made when the helper was built, with the helper's own
// process number in its place, for every thread of the process.
bool installFilter() {
    constexpr std::size_t length = sizeof helperFilter / sizeof helperFilter[0];
    sock_filter program[length];
    std::copy(std::begin(helperFilter), std::end(helperFilter), program);
    for (const unsigned at : helperFilterSelf)
        program[at].k = static_cast<std::uint32_t>(::getpid());
    const sock_fprog prog{static_cast<unsigned short>(length), program};
    return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &prog) == 0;
}

} // namespace

bool confine(Confinement* got) {
    Confinement c;
    // Both lines need it where the helper is not root.
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    // Landlock first: the filter refuses its system calls.
    c.landlock = restrictWithLandlock();
    c.filter = installFilter();
    if (got)
        *got = c;
    return c.filter;
}

} // namespace decoder

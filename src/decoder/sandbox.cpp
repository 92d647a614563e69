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

#include <cerrno>
#include <cstdint>
#include <initializer_list>

#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef PR_SET_VMA
#define PR_SET_VMA 0x53564d41
#endif

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

// A descriptor or a process number compared as the kernel reads it, an int,
// whatever the upper half of the register holds.
scmp_arg_cmp intIs(unsigned arg, std::uint64_t value) {
    return scmp_arg_cmp{arg, SCMP_CMP_MASKED_EQ, 0xffffffffu, value};
}

class Filter {
public:
    Filter()
        : m_ctx(seccomp_init(SCMP_ACT_ERRNO(EPERM))) {}
    ~Filter() {
        if (m_ctx)
            seccomp_release(m_ctx);
    }
    Filter(const Filter&) = delete;
    Filter& operator=(const Filter&) = delete;

    void allow(int call, std::initializer_list<scmp_arg_cmp> when = {}) {
        add(SCMP_ACT_ALLOW, call, when);
    }
    void refuse(int call, int error) {
        add(SCMP_ACT_ERRNO(static_cast<std::uint32_t>(error)), call, {});
    }

    bool load() {
        if (!m_ctx || !m_ok)
            return false;
        // Threads a library started before the filter are held by it too.
        return seccomp_attr_set(m_ctx, SCMP_FLTATR_CTL_TSYNC, 1) == 0 &&
               seccomp_attr_set(m_ctx, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) == 0 &&
               seccomp_load(m_ctx) == 0;
    }

private:
    void add(std::uint32_t action, int call, std::initializer_list<scmp_arg_cmp> when) {
        if (m_ctx && seccomp_rule_add_array(m_ctx, action, call, static_cast<unsigned>(when.size()),
                                            when.begin()) != 0)
            m_ok = false;
    }

    scmp_filter_ctx m_ctx;
    bool m_ok = true;
};

bool installFilter() {
    Filter f;
    const auto self = static_cast<std::uint64_t>(::getpid());

    // The picture in on standard input, the frames out on standard output,
    // and a library's message to standard error (the program's /dev/null).
    for (const int call : {SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(lseek)})
        f.allow(call, {intIs(0, STDIN_FILENO)});
#ifdef ORBITALE_SANITIZE
    // Built with the sanitizers, UndefinedBehaviorSanitizer learns whether
    // memory can be read (checking an object's type) by writing it into a
    // pipe of its own: that pipe, writing to it and closing it. They reach
    // nothing outside the helper.
    for (const int call : {SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(pipe2), SCMP_SYS(close)})
        f.allow(call);
#else
    for (const int call : {SCMP_SYS(write), SCMP_SYS(writev)})
        for (const int fd : {STDOUT_FILENO, STDERR_FILENO})
            f.allow(call, {intIs(0, static_cast<std::uint64_t>(fd))});
#endif
    // The input's size is asked before the confinement: no look at any
    // file is allowed, since newfstatat with a name would tell whether a path
    // exists and how large it is, whatever the descriptor it is given.

    // Memory, none of it made executable: decoders run the code they were
    // loaded with.
    f.allow(SCMP_SYS(mmap), {scmp_arg_cmp{2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0}});
    f.allow(SCMP_SYS(mprotect), {scmp_arg_cmp{2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0}});
    for (const int call : {SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(madvise), SCMP_SYS(brk)})
        f.allow(call);

    // Threads, as decoders' thread pools start them: a clone that shares
    // the process and makes no namespace. clone3 takes its flags in memory a
    // filter cannot read, so it is "not there", and the C library falls back
    // to clone.
    constexpr std::uint64_t threadOrNew = CLONE_THREAD | CLONE_NEWNS | CLONE_NEWCGROUP |
                                          CLONE_NEWUTS | CLONE_NEWIPC | CLONE_NEWUSER |
                                          CLONE_NEWPID | CLONE_NEWNET;
    f.allow(SCMP_SYS(clone), {scmp_arg_cmp{0, SCMP_CMP_MASKED_EQ, threadOrNew, CLONE_THREAD}});
    f.refuse(SCMP_SYS(clone3), ENOSYS);
    for (const int call : {SCMP_SYS(futex), SCMP_SYS(set_robust_list), SCMP_SYS(rseq),
                           SCMP_SYS(sched_yield), SCMP_SYS(sched_getaffinity), SCMP_SYS(gettid),
                           SCMP_SYS(getpid), SCMP_SYS(restart_syscall)})
        f.allow(call);
    // A thread may name itself, and the C library may name its memory.
    for (const int option : {PR_SET_NAME, PR_GET_NAME, PR_SET_VMA})
        f.allow(SCMP_SYS(prctl), {intIs(0, static_cast<std::uint64_t>(option))});

    // Clocks, waiting, randomness, the machine's memory size, the helper's
    // own limits (read only).
    for (const int call :
         {SCMP_SYS(clock_gettime), SCMP_SYS(clock_getres), SCMP_SYS(clock_nanosleep),
          SCMP_SYS(nanosleep), SCMP_SYS(gettimeofday), SCMP_SYS(time), SCMP_SYS(getrandom),
          SCMP_SYS(sysinfo), SCMP_SYS(getrlimit)})
        f.allow(call);
    f.allow(SCMP_SYS(prlimit64), {intIs(0, 0), scmp_arg_cmp{2, SCMP_CMP_EQ, 0, 0}});

    // Signals: masks, handlers and their return, and abort() signalling the
    // helper itself; no other process.
    for (const int call : {SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigaction), SCMP_SYS(rt_sigreturn),
                           SCMP_SYS(sigaltstack)})
        f.allow(call);
    f.allow(SCMP_SYS(tgkill), {intIs(0, self)});
    f.allow(SCMP_SYS(tkill), {intIs(0, self)});
    f.allow(SCMP_SYS(kill), {intIs(0, self)});

    f.allow(SCMP_SYS(exit));
    f.allow(SCMP_SYS(exit_group));
    return f.load();
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

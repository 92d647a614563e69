// Builds the decoding helper's system-call filter once, when the helpers
// are built, with Debian's libseccomp, and writes it out as the BPF program
// sandbox.cpp installs: compiling the rules takes libseccomp a third of a
// millisecond, which every picture would otherwise pay before its first
// byte. The only value known at run time, the helper's own process number
// (it may signal itself, nothing else), is left as slots to fill in.
//
//   helper-filter-maker > helper_filter.inc

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include <linux/filter.h>
#include <sched.h>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <unistd.h>

#ifndef PR_SET_VMA
#define PR_SET_VMA 0x53564d41
#endif

namespace {

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

    // The BPF program, as the kernel takes it; empty if anything failed.
    std::vector<sock_filter> program() {
        // A binary tree of system-call numbers rather than a list: the kernel
        // runs the filter for every number as it installs it.
        if (!m_ctx || !m_ok ||
            seccomp_attr_set(m_ctx, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_KILL_PROCESS) != 0 ||
            seccomp_attr_set(m_ctx, SCMP_FLTATR_CTL_OPTIMIZE, 2) != 0)
            return {};
        // Written to a file (Debian 12's libseccomp exports to a descriptor only).
        std::FILE* file = std::tmpfile();
        if (!file)
            return {};
        std::vector<sock_filter> out;
        if (seccomp_export_bpf(m_ctx, fileno(file)) == 0) {
            std::rewind(file);
            sock_filter instruction{};
            while (std::fread(&instruction, sizeof instruction, 1, file) == 1)
                out.push_back(instruction);
        }
        std::fclose(file);
        return out;
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

std::vector<sock_filter> filterFor(std::uint64_t self) {
    Filter f;

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
    return f.program();
}

} // namespace

int main() {
    // Built twice with two process numbers no constant of the rules has: the
    // instructions that differ are where the real one goes.
    constexpr std::uint32_t first = 0x3ade68b1, second = 0x5bd1e995;
    const std::vector<sock_filter> a = filterFor(first), b = filterFor(second);
    if (a.empty() || a.size() != b.size()) {
        std::fprintf(stderr, "helper-filter-maker: libseccomp made no filter\n");
        return 1;
    }
    std::vector<std::size_t> slots;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const bool same = a[i].code == b[i].code && a[i].jt == b[i].jt && a[i].jf == b[i].jf;
        if (!same || (a[i].k != b[i].k && (a[i].k != first || b[i].k != second))) {
            std::fprintf(stderr, "helper-filter-maker: the two filters differ in shape\n");
            return 1;
        }
        if (a[i].k != b[i].k)
            slots.push_back(i);
    }
    if (slots.empty()) {
        std::fprintf(stderr, "helper-filter-maker: no place for the process number\n");
        return 1;
    }
    std::printf("// Made by helper-filter-maker from the rules in filter_maker.cpp.\n");
    std::printf("inline constexpr sock_filter helperFilter[] = {\n");
    for (const sock_filter& i : a)
        std::printf("    {0x%04x, %u, %u, 0x%08x},\n", i.code, i.jt, i.jf, i.k);
    std::printf("};\n// The instructions that compare with the helper's own process number.\n");
    std::printf("inline constexpr unsigned helperFilterSelf[] = {");
    for (std::size_t i = 0; i < slots.size(); ++i)
        std::printf("%s%zu", i ? ", " : "", slots[i]);
    std::printf("};\n");
    return 0;
}

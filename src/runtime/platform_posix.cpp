// What depends on a POSIX system: where the installation is, where the
// user's own pictures go, and how a picture file is opened and handed to
// the decoding helper.

#include "runtime/platform.h"

#include "decoder/budget.h"
#include "runtime/drives.h"

#include <algorithm>
#include <filesystem>
#include <string>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace rt {

std::string executablePrefix() {
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return ".";
    return exe.parent_path().parent_path().string();
}

const char* const installedDrives = "share/orbitale/drives";
const char folderSeparator = '/';

bool isAbsolutePath(std::string_view path) {
    return !path.empty() && path.front() == '/';
}

namespace {

std::string absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    return value && isAbsolutePath(value) ? std::string(value) : std::string{};
}

} // namespace

// As every freedesktop program finds its user data: XDG_DATA_HOME when it
// is an absolute path (a relative or empty one is to be ignored), else
// ~/.local/share.
std::string userDrivesFolder() {
    if (std::string data = absoluteVariable("XDG_DATA_HOME"); !data.empty())
        return data + "/orbitale/drives";
    if (std::string home = absoluteVariable("HOME"); !home.empty())
        return home + "/.local/share/orbitale/drives";
    return {};
}

Look lookAt(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0)
        return Look::Something;
    return errno == ENOENT ? Look::Nothing : Look::Unreachable;
}

std::string decoderPath() {
    static const std::string path = executablePrefix() + "/libexec/orbitale/orbitale-decode";
    return path;
}

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

ErrorNumber errorForErrno(int error) {
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ELOOP:
    case ENAMETOOLONG:
        return ErrorNumber::FileNotFound;
    case ENOMEM:
        return ErrorNumber::OutOfMemory;
    default:
        return ErrorNumber::FileAccess;
    }
}

// Opens only a regular file, and without waiting: a FIFO put in the
// picture's place between the look and the open could block for ever.
int openPicture(const std::string& where, const FileError& fail) {
    struct stat info {};
    if (where.empty())
        fail.raise(ErrorNumber::FileNotFound);
    if (::stat(where.c_str(), &info) != 0)
        fail.raise(errorForErrno(errno));
    if (!S_ISREG(info.st_mode))
        fail.raise(ErrorNumber::FileAccess);
    if (static_cast<std::uintmax_t>(info.st_size) > decoder::pictureLimits.fileBytes)
        fail.raise(ErrorNumber::OutOfMemory);
    const int fd = ::open(where.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0)
        fail.raise(errorForErrno(errno));
    // The path may have been replaced between the two looks.
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fail.raise(ErrorNumber::FileAccess);
    }
    // A file that cannot be read is the file's fault, not the decoder's.
    char probe = 0;
    if (info.st_size > 0 && ::pread(fd, &probe, 1, 0) < 0) {
        const int error = errno;
        ::close(fd);
        fail.raise(error == EISDIR ? ErrorNumber::FileAccess : errorForErrno(error));
    }
    return fd;
}

// The decoding helper, started on one open file and ended however it ends:
// its exit is always collected, and it is killed if still running.
class Helper final : public DecoderRun {
public:
    Helper(const std::string& where, const FileError& fail)
        : m_file(openPicture(where, fail)) {
        const int input = m_file.get();
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0)
            fail.raise(ErrorNumber::OutOfMemory);
        m_read = out[0];
        // A photo's kept frame is some 12 MB: in pieces of a megabyte (the
        // most an ordinary user's pipe may hold) rather than of the usual
        // 64 KiB, it crosses in a dozen turns, not two hundred. Where the
        // system refuses, the usual size does.
        ::fcntl(out[0], F_SETPIPE_SZ, 1 << 20);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        const std::string path = decoderPath();
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        const int spawned = ::posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (spawned != 0) {
            m_pid = -1;
            std::fprintf(stderr, "Orbitale: cannot start %s: %s\n", path.c_str(),
                         std::strerror(spawned));
            fail.raise(ErrorNumber::Internal);
        }
    }
    ~Helper() override {
        if (m_read >= 0)
            ::close(m_read);
        finish(true);
    }
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;

    // Reads exactly `size` bytes; false if the helper ended first, or used
    // more processor time than decodeCpuLimit, or the clock passed `until`.
    bool read(void* to, std::size_t size, std::chrono::steady_clock::time_point until) override {
        auto* p = static_cast<char*>(to);
        while (size > 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !withinCpu(std::chrono::steady_clock::now()))
                return false;
            pollfd waiting{m_read, POLLIN, 0};
            // Wakes up now and then to look at the helper's processor time.
            const int ready =
                ::poll(&waiting, 1, static_cast<int>(std::min<long long>(left.count(), 20)) + 1);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0)
                return false;
            if (ready == 0)
                continue;
            const ssize_t n = ::read(m_read, p, size);
            if (n < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            if (n <= 0)
                return false;
            p += n;
            size -= static_cast<std::size_t>(n);
        }
        return true;
    }

    // Collects the helper's exit; kills it first when asked to.
    void finish(bool kill) override {
        if (m_pid <= 0)
            return;
        if (kill)
            ::kill(m_pid, SIGKILL);
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
    }

private:
    std::chrono::milliseconds cpuTime() const override {
        char path[64];
        std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(m_pid));
        std::FILE* stat = std::fopen(path, "re");
        if (!stat)
            return {};
        char line[512];
        const bool got = std::fgets(line, sizeof line, stat) != nullptr;
        std::fclose(stat);
        // After the command's name in parentheses: state, then 10 fields,
        // then user and system time in clock ticks.
        const char* after = got ? std::strrchr(line, ')') : nullptr;
        unsigned long long user = 0, system = 0;
        if (!after ||
            std::sscanf(after + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user,
                        &system) != 2)
            return {};
        static const long ticks = ::sysconf(_SC_CLK_TCK);
        return std::chrono::milliseconds((user + system) * 1000 /
                                         static_cast<unsigned long long>(ticks > 0 ? ticks : 100));
    }

    Descriptor m_file;
    pid_t m_pid = -1;
    int m_read = -1;
};

} // namespace

std::unique_ptr<DecoderRun> startDecoder(const std::string& where, const FileError& fail) {
    return std::make_unique<Helper>(where, fail);
}

} // namespace rt

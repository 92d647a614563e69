// Everything that depends on the operating system, in one place: where the
// program's fixed file names lead, where the installation is, and how a
// picture file is read safely.

#include "runtime/platform.h"

#include "runtime/picture.h"

#include <filesystem>
#include <string>

#ifdef _WIN32
#include <fstream>
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace rt {

namespace {

std::string& prefixOverride() {
    static std::string value;
    return value;
}

std::string executablePrefix() {
#ifdef _WIN32
    wchar_t buffer[MAX_PATH * 4];
    const DWORD n = GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
    const std::filesystem::path exe(std::wstring(buffer, n));
#else
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        return ".";
#endif
    return exe.parent_path().parent_path().string();
}

} // namespace

std::string installPrefix() {
    if (!prefixOverride().empty())
        return prefixOverride();
    static const std::string fromExecutable = executablePrefix();
    return fromExecutable;
}

void overrideInstallPrefix(std::string prefix) {
    prefixOverride() = std::move(prefix);
}

std::string picturePath(std::string_view fileName) {
#ifdef _WIN32
    return std::string(fileName);
#else
    const bool hasDrive =
        fileName.size() >= 3 && fileName[1] == ':' && fileName[2] == '\\' &&
        ((fileName[0] >= 'A' && fileName[0] <= 'Z') || (fileName[0] >= 'a' && fileName[0] <= 'z'));
    if (!hasDrive)
        return std::string(fileName);

    std::string path = installPrefix() + "/share/orbitale/drives/";
    path += static_cast<char>(fileName[0] & ~0x20); // drive letters have no case
    std::string_view rest = fileName.substr(3);
    while (!rest.empty()) {
        const auto cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        // A fixed name must stay inside its drive's folder.
        if (part == "." || part == ".." || part.find('/') != std::string_view::npos)
            return {};
        if (!part.empty()) {
            path += '/';
            path += part;
        }
        rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
    }
    return path;
#endif
}

#ifdef _WIN32

QByteArray readWholeFile(const std::string& where, const FileError& fail, std::size_t limit) {
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::u8path(where);
    const auto status = std::filesystem::status(path, ec);
    if (where.empty() || !std::filesystem::exists(status))
        fail.raise(ErrorNumber::FileNotFound);
    if (!std::filesystem::is_regular_file(status))
        fail.raise(ErrorNumber::FileAccess);
    const auto size = std::filesystem::file_size(path, ec);
    if (ec)
        fail.raise(ErrorNumber::FileAccess);
    if (size > limit)
        fail.raise(ErrorNumber::OutOfMemory);
    std::ifstream in(path, std::ios::binary);
    if (!in)
        fail.raise(ErrorNumber::FileAccess);
    QByteArray bytes(static_cast<qsizetype>(size), '\0');
    in.read(bytes.data(), bytes.size());
    bytes.truncate(static_cast<qsizetype>(in.gcount()));
    return bytes;
}

#else

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

} // namespace

QByteArray readWholeFile(const std::string& where, const FileError& fail, std::size_t limit) {
    struct stat info {};
    if (where.empty())
        fail.raise(ErrorNumber::FileNotFound);
    if (::stat(where.c_str(), &info) != 0)
        fail.raise(errorForErrno(errno));
    if (!S_ISREG(info.st_mode))
        fail.raise(ErrorNumber::FileAccess);
    if (static_cast<std::uintmax_t>(info.st_size) > limit)
        fail.raise(ErrorNumber::OutOfMemory);

    const Descriptor fd(::open(where.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        fail.raise(errorForErrno(errno));
    // The path may have been replaced between the two looks.
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        fail.raise(ErrorNumber::FileAccess);

    QByteArray bytes;
    bytes.resize(
        static_cast<qsizetype>(std::min(static_cast<std::size_t>(info.st_size) + 1, limit + 1)));
    std::size_t filled = 0;
    for (;;) {
        if (filled == static_cast<std::size_t>(bytes.size())) {
            // The file grew while being read: take more, within the limit.
            if (filled > limit)
                fail.raise(ErrorNumber::OutOfMemory);
            bytes.resize(static_cast<qsizetype>(std::min(filled * 2, limit + 1)));
        }
        const ssize_t n = ::read(fd.get(), bytes.data() + filled, bytes.size() - filled);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail.raise(ErrorNumber::FileAccess);
        if (n == 0)
            break;
        filled += static_cast<std::size_t>(n);
    }
    if (filled > limit)
        fail.raise(ErrorNumber::OutOfMemory);
    bytes.truncate(static_cast<qsizetype>(filled));
    return bytes;
}

#endif

} // namespace rt

#pragma once

// A temporary installation prefix for a test: files put under its drive E
// are what loadPicture finds for "E:\...". The user's own drive folder is
// one inside it too (XDG_DATA_HOME), empty unless a test puts pictures there,
// so that no picture of the person running the tests counts. Removed, and
// the prefix and environment restored, at the end of the test.

#include "runtime/drives.h"
#include "runtime/picture.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include <cstdlib>

namespace testsupport {

class TempTree {
public:
    TempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbitale-XXXXXX").string();
        m_root = ::mkdtemp(pattern.data());
        std::filesystem::create_directories(vb());
        std::filesystem::permissions(m_root, std::filesystem::perms(0755));
        rt::overrideInstallPrefix(m_root.string());
        if (const char* data = std::getenv("XDG_DATA_HOME"))
            m_savedDataHome = data;
        ::setenv("XDG_DATA_HOME", (m_root / "user").c_str(), 1);
    }
    ~TempTree() {
        rt::overrideInstallPrefix({});
        if (m_savedDataHome)
            ::setenv("XDG_DATA_HOME", m_savedDataHome->c_str(), 1);
        else
            ::unsetenv("XDG_DATA_HOME");
        std::error_code ec;
        std::filesystem::remove_all(m_root, ec);
    }
    TempTree(const TempTree&) = delete;
    TempTree& operator=(const TempTree&) = delete;

    std::filesystem::path root() const { return m_root; }
    std::filesystem::path vb() const { return m_root / "share/orbitale/drives/E/VB"; }
    // E:\VB in the user's own drive folder (not made until a test makes it).
    std::filesystem::path ownVb() const { return m_root / "user/orbitale/drives/E/VB"; }

    // Writes a file into E:\VB.
    std::filesystem::path write(std::string_view name, std::string_view bytes) const {
        const auto path = vb() / name;
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    // Copies one of the program's own pictures into E:\VB, optionally cut short.
    std::filesystem::path copyShipped(std::string_view name, std::size_t keep = std::string::npos,
                                      std::string_view as = {}) const {
        std::ifstream in(shipped() / name, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        if (keep < bytes.size())
            bytes.resize(keep);
        return write(as.empty() ? name : as, bytes);
    }

    // The pictures of the build tree, beside the tests' own folder.
    static std::filesystem::path shipped() {
        return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() /
               "share/orbitale/drives/E/VB";
    }

private:
    std::filesystem::path m_root;
    std::optional<std::string> m_savedDataHome;
};

} // namespace testsupport

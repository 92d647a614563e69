// Feeds arbitrary bytes to loadPicture as the file "E:\VB\xxgdt.jpg" of a
// temporary installation. Any outcome but a crash, a hang or unbounded
// memory is fine: a picture, or one of the toolkit's errors.

#include "runtime/error.h"
#include "runtime/picture.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::filesystem::path g_file;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QGuiApplication app(*argc, *argv);
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orbitale-fuzz-XXXXXX").string();
    const std::filesystem::path root = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(root / "share/orbitale/drives/E/VB");
    g_file = root / "share/orbitale/drives/E/VB/xxgdt.jpg";
    rt::overrideInstallPrefix(root.string());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::ofstream(g_file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    try {
        const rt::Picture picture = rt::loadPicture("E:\\VB\\xxgdt.jpg");
        if (picture.isNull() || picture.width() <= 0 || picture.frameCount() <= 0)
            std::abort(); // a load that succeeds gives a real picture
    } catch (const rt::Error&) {
    }
    return 0;
}

#include "runtime/drives.h"

#include "runtime/platform.h"

#include <optional>

namespace rt {

namespace {

std::string& prefixOverride() {
    static std::string value;
    return value;
}

// "E/VB/dq3.gif" for "E:\VB\dq3.gif": the name inside a drives folder. No
// value for a name without a drive letter; "" for one that leads nowhere.
std::optional<std::string> insideDrives(std::string_view fileName) {
    const bool hasDrive =
        fileName.size() >= 3 && fileName[1] == ':' && fileName[2] == '\\' &&
        ((fileName[0] >= 'A' && fileName[0] <= 'Z') || (fileName[0] >= 'a' && fileName[0] <= 'z'));
    if (!hasDrive)
        return std::nullopt;
    std::string path(1, static_cast<char>(fileName[0] & ~0x20)); // drive letters have no case
    std::string_view rest = fileName.substr(3);
    while (!rest.empty()) {
        const auto cut = rest.find('\\');
        const std::string_view part = rest.substr(0, cut);
        // A fixed name must stay inside its drive's folder.
        if (part == "." || part == ".." || part.find('/') != std::string_view::npos)
            return std::string{};
        if (!part.empty()) {
            path += folderSeparator;
            path += part;
        }
        rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
    }
    return path;
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

namespace {

std::string installedPath(std::string_view fileName, const std::optional<std::string>& inside) {
    if (!inside)
        return std::string(fileName);
    if (inside->empty())
        return {};
    return installPrefix() + folderSeparator + installedDrives + folderSeparator + *inside;
}

} // namespace

std::string picturePath(std::string_view fileName) {
    return installedPath(fileName, insideDrives(fileName));
}

PicturePlace findPicture(std::string_view fileName) {
    const auto inside = insideDrives(fileName);
    const std::string installed = installedPath(fileName, inside);
    const std::string folder = userDrivesFolder();
    if (!inside || inside->empty() || folder.empty())
        return {installed, installed};
    const std::string own = folder + folderSeparator + *inside;
    // Anything at all in the user's place is what the user put there, a
    // dangling link or a directory too: it is that one the program reports
    // on, never the installation's picture in its stead. Only looking, so
    // that nothing at the path is opened, created or waited on here.
    switch (lookAt(own)) {
    case Look::Something:
        return {own, own, {}, true};
    case Look::Unreachable:
        return {own, own, ErrorNumber::FileAccess, true};
    case Look::Nothing:
        break;
    }
    return {installed, own + '\n' + installed};
}

} // namespace rt

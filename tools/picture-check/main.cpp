// picture-check FILE...
// picture-check --where NAME...
//
// Will my picture work? Loads each file with the program's own picture
// loading, as a scenery or an Earth would be loaded, and prints one line per
// file: "FILE: ok FRAMES WIDTHxHEIGHT" (the picture's own size, whatever size
// it is kept at), or "FILE: error NUMBER DESCRIPTION"
// with the number and description the program's report would show. Exit
// status 0 when every file loads, 1 when any is refused, 2 for a usage error.
//
// With --digest first, each loaded file's line goes on with the size its
// frames are kept at and a digest of their pixels, the same for the same
// frames on every system.
//
// With --where, says for each of the program's names ("E:\VB\bjtam.jpg")
// which file it leads to now, and where one's own picture goes in its stead.

#include "console.h"
#include "runtime/drives.h"
#include "runtime/error.h"
#include "runtime/picture.h"

#include <cstdio>
#include <cstring>

namespace {

// One line a name: the file it leads to now, and what a user can do.
int where(int count, char** names) {
    int status = 0;
    for (int i = 0; i < count; ++i) {
        const rt::PicturePlace place = rt::findPicture(names[i]);
        if (place.path.empty()) {
            std::printf("%s: leads nowhere (a name with . or .. parts)\n", names[i]);
            status = 1;
        } else if (place.problem != rt::ErrorNumber{}) {
            std::printf("%s: %s (your own; cannot be looked into: error %d %s)\n", names[i],
                        place.path.c_str(), static_cast<int>(place.problem),
                        rt::describe(place.problem));
            status = 1;
        } else if (place.own) {
            std::printf("%s: %s (your own)\n", names[i], place.path.c_str());
        } else {
            std::printf("%s: %s\n", names[i], place.path.c_str());
            // The user's place is the first of those looked at, where there is one.
            if (const auto cut = place.lookedAt.find('\n'); cut != std::string::npos)
                std::printf("  your own goes to %s\n", place.lookedAt.substr(0, cut).c_str());
        }
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    tools::useUtf8Output();
    const bool asksWhere = argc >= 2 && std::strcmp(argv[1], "--where") == 0;
    const bool digest = argc >= 2 && std::strcmp(argv[1], "--digest") == 0;
    if (argc < 2 + (asksWhere || digest ? 1 : 0) || std::strcmp(argv[1], "--help") == 0 ||
        std::strcmp(argv[1], "-h") == 0) {
        const bool help = argc >= 2 && !asksWhere && !digest;
        std::fputs("usage: picture-check [--digest] FILE...  (JPEG, PNG, GIF, BMP, WebP, TIFF, HEIC, AVIF or "
                   "JPEG XL pictures)\n"
                   "       picture-check --where NAME...  (which file a name such as "
                   "'E:\\VB\\bjtam.jpg' leads to)\n",
                   help ? stdout : stderr);
        return help ? 0 : 2;
    }
    if (asksWhere)
        return where(argc - 2, argv + 2);
    int status = 0;
    for (int i = digest ? 2 : 1; i < argc; ++i) {
        try {
            const rt::Picture picture = rt::loadPicture(argv[i]);
            std::printf("%s: ok %d %dx%d", argv[i], picture.frameCount(), picture.width(),
                        picture.height());
            if (digest)
                std::printf(" kept %dx%d %016llx", picture.keptWidth(), picture.keptHeight(),
                            static_cast<unsigned long long>(picture.digest()));
            std::printf("\n");
        } catch (const rt::Error& error) {
            std::printf("%s: error %d %s\n", argv[i], static_cast<int>(error.number()),
                        error.description());
            status = 1;
        }
        std::fflush(stdout);
    }
    return status;
}

// picture-check FILE...
//
// Will my picture work? Loads each file with the program's own picture
// loading, as a scenery or an Earth would be loaded, and prints one line per
// file: "FILE: ok FRAMES WIDTHxHEIGHT" (the picture's own size, whatever size
// it is kept at), or "FILE: error NUMBER DESCRIPTION"
// with the number and description the program's report would show. Exit
// status 0 when every file loads, 1 when any is refused, 2 for a usage error.

#include "runtime/error.h"
#include "runtime/picture.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs("usage: picture-check FILE...  (JPEG, PNG, GIF, BMP, WebP, TIFF, HEIC, AVIF or "
                   "JPEG XL pictures)\n",
                   argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        try {
            const rt::Picture picture = rt::loadPicture(argv[i]);
            std::printf("%s: ok %d %dx%d\n", argv[i], picture.frameCount(), picture.width(),
                        picture.height());
        } catch (const rt::Error& error) {
            std::printf("%s: error %d %s\n", argv[i], static_cast<int>(error.number()),
                        error.description());
            status = 1;
        }
        std::fflush(stdout);
    }
    return status;
}

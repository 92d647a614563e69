// orbitale-decode-heif: the helper for HEIC and HEIF pictures, with libheif
// alone.

#include "decoder/helper.h"

#include <libheif/heif.h>

int main() {
    decoder::helperMain(
        "orbitale-decode-heif",
        [](decoder::Format, auto bytes, auto& budget, auto& sink) {
            return decoder::decodeHeif(bytes, budget, sink);
        },
        // libheif finds its decoders here (as plugins where the release
        // ships them so), while the helper may still open files.
        [] { heif_init(nullptr); });
}

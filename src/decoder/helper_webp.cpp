// orbitale-decode-webp: the helper for WebP pictures, with libwebp alone.

#include "decoder/helper.h"

int main() {
    decoder::helperMain("orbitale-decode-webp",
                        [](decoder::Format, auto bytes, auto& budget, auto& sink) {
                            return decoder::decodeWebp(bytes, budget, sink);
                        });
}

// orbitale-decode-avif: the helper for AVIF pictures, with libavif alone.

#include "decoder/helper.h"

int main() {
    decoder::helperMain("orbitale-decode-avif",
                        [](decoder::Format, auto bytes, auto& budget, auto& sink) {
                            return decoder::decodeAvif(bytes, budget, sink);
                        });
}

// orbitale-decode-tiff: the helper for TIFF pictures, with libtiff alone.

#include "decoder/helper.h"

int main() {
    decoder::helperMain("orbitale-decode-tiff",
                        [](decoder::Format, auto bytes, auto& budget, auto& sink) {
                            return decoder::decodeTiff(bytes, budget, sink);
                        });
}

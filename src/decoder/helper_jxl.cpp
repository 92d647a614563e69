// orbitale-decode-jxl: the helper for JPEG XL pictures, with libjxl alone.

#include "decoder/helper.h"

int main() {
    decoder::helperMain("orbitale-decode-jxl",
                        [](decoder::Format, auto bytes, auto& budget, auto& sink) {
                            return decoder::decodeJxl(bytes, budget, sink);
                        });
}

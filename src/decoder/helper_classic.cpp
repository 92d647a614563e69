// orbitale-decode: the helper the program starts for every picture. It
// decodes the formats of old (JPEG, GIF, PNG, BMP) itself, the Earths among
// them, and hands a picture of any other format to that format's helper.

#include "decoder/helper.h"

int main() {
    decoder::helperMain("orbitale-decode",
                        [](decoder::Format format, auto bytes, auto& budget, auto& sink) {
                            switch (format) {
                            case decoder::Format::Jpeg:
                                return decoder::decodeJpeg(bytes, budget, sink);
                            case decoder::Format::Gif:
                                return decoder::decodeGif(bytes, budget, sink);
                            case decoder::Format::Png:
                                return decoder::decodePng(bytes, budget, sink);
                            case decoder::Format::Bmp:
                                return decoder::decodeBmp(bytes, budget, sink);
                            default:
                                return decoder::Verdict::Invalid;
                            }
                        });
}

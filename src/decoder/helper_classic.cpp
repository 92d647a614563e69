// orbitale-decode: the helper the program starts for every picture. It
// decodes the formats of old (JPEG, GIF, PNG, BMP) itself, the Earths among
// them, and hands a picture of any other format to that format's helper.

#include "decoder/helper.h"

int main() {
    decoder::helperMain("orbitale-decode", decoder::decodeClassic);
}

#pragma once

// One streaming area filter for every format whose library gives rows at the
// picture's own size: rows in, top to bottom, and the frame at the kept size
// out, without ever holding the whole picture. Each kept pixel is the mean
// of the picture's pixels it covers, fractions of pixels counted by area;
// pixels are premultiplied, so transparent ones add no colour.

#include "decoder/decoder.h"

#include <cstdint>
#include <vector>

namespace decoder {

class Reducer {
public:
    // `to` may not be larger than `from` in either direction.
    Reducer(Size from, Size to);

    Size from() const { return m_from; }
    Size to() const { return m_to; }
    // Takes the next of from().height rows, from().width premultiplied
    // pixels each.
    void row(const std::uint32_t* pixels);
    bool complete() const { return m_rowsIn == m_from.height; }
    // The frame at to() size; whole once complete().
    Frame& frame() { return m_frame; }

private:
    // The pixels of the picture's row that a kept pixel covers: `count`
    // of them from `first`, each with the part of the kept pixel it makes.
    struct Span {
        int first;
        int count;
        int weights; // where its weights start in m_weights
    };
    void finishRow();

    Size m_from;
    Size m_to;
    std::vector<Span> m_spans;
    std::vector<float> m_weights;
    std::vector<float> m_across; // the current row, reduced across
    std::vector<float> m_down;   // the kept row being gathered, 4 channels a pixel
    int m_rowsIn = 0;
    int m_rowsOut = 0;
    Frame m_frame;
};

// Reduces a whole frame at once: for libraries that give frames, not rows.
Frame reduced(const std::uint32_t* pixels, Size from, Size to);

} // namespace decoder

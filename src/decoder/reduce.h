#pragma once

// One streaming area filter for every format whose library gives rows at the
// picture's own size: rows in, top to bottom, and the frame at the kept size
// out, without ever holding the whole picture. Each kept pixel is the mean
// of the picture's pixels it covers, fractions of pixels counted by area;
// pixels are premultiplied, so transparent ones add no colour.

#include "decoder/decoder.h"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace decoder {

// How one direction shrinks: for each kept pixel, the pixels of the picture
// it covers, `count` of them from `first`, each with the part of the kept
// pixel it makes (the parts add up to one).
class Axis {
public:
    Axis(int from, int to);
    struct Span {
        int first;
        int count;
        const float* weights;
    };
    Span span(int kept) const {
        const Entry& e = m_entries[static_cast<std::size_t>(kept)];
        return {e.first, e.count, m_weights.data() + e.weights};
    }
    // The kept pixels that pixels [from, to) of the picture fall in.
    std::pair<int, int> keptOf(int from, int to) const;

private:
    struct Entry {
        int first;
        int count;
        int weights;
    };
    std::int64_t m_from;
    std::int64_t m_to;
    std::vector<Entry> m_entries;
    std::vector<float> m_weights;
};

class Reducer {
public:
    // `to` may not be larger than `from` in either direction. The frame is
    // made upright for `orientation` (as orient() would) as its rows are
    // finished, so a turned photo costs no pass of its own.
    Reducer(Size from, Size to, int orientation = 1);
    ~Reducer();
    Reducer(const Reducer&) = delete;
    Reducer& operator=(const Reducer&) = delete;

    Size from() const { return m_from; }
    Size to() const { return m_to; }
    // Takes the next of from().height rows, from().width premultiplied
    // pixels each. For a large picture the row is copied and reduced on a
    // second thread while the caller's library decodes the next ones.
    void row(const std::uint32_t* pixels);
    bool complete() const { return m_rowsTaken == m_from.height; }
    // The frame at to() size (turned upright), once every row taken is
    // reduced; whole once complete().
    Frame& frame();
    // Hands the rows of an upright frame to `sink` as they are finished, a
    // band at a time (on the filter's thread, where it has one), where the
    // sink takes them so. Set before the first row; nothing done for a frame
    // that is turned, whose rows finish out of order.
    void streamTo(FrameSink& sink);
    // Gives `sink` the whole frame, once every row is reduced, unless its
    // rows went there already.
    void deliver(FrameSink& sink);

private:
    struct Worker;
    void reduceRow(const std::uint32_t* pixels);
    void finishRow();

    void place(int y, const std::uint32_t* kept);
    void stream(int finished);

    Size m_from;
    Size m_to;
    int m_orientation;
    Axis m_axis;
    std::vector<float> m_across; // the current row, reduced across
    std::vector<float> m_down;   // the kept row being gathered, 4 channels a pixel
    int m_rowsTaken = 0;         // by row()
    int m_rowsIn = 0;            // reduced
    int m_rowsOut = 0;
    Frame m_frame;
    FrameSink* m_stream = nullptr;
    int m_rowsStreamed = 0;
    std::unique_ptr<Worker> m_worker;
};

// Reduces a whole frame at once: for libraries that give frames, not rows.
Frame reduced(const std::uint32_t* pixels, Size from, Size to);

// The same filter over part of a frame: for an animation whose frames are
// composed on one screen and change only in part, the kept frame is brought
// up to date where the screen changed, at the cost of that part alone.
class AreaFilter {
public:
    AreaFilter(Size from, Size to);
    // Re-reduces into `kept` every kept pixel that the screen's rectangle
    // [x0, x1) × [y0, y1) falls in, from the whole screen `pixels`.
    void update(const std::uint32_t* pixels, Frame& kept, int x0, int y0, int x1, int y1) const;

private:
    Size m_from;
    Size m_to;
    Axis m_across;
    Axis m_down;
};

} // namespace decoder

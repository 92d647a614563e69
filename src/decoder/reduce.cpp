#include "decoder/reduce.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

namespace decoder {

namespace {

// A kept pixel from its four sums, alpha first.
std::uint32_t pixelOf(const float* v) {
    const auto channel = [](float c) {
        return static_cast<std::uint32_t>(std::clamp(c + 0.5f, 0.f, 255.f));
    };
    const std::uint32_t a = channel(v[0]);
    // Premultiplied: no colour brighter than its alpha, whatever the rounding.
    return a << 24 | std::min(channel(v[1]), a) << 16 | std::min(channel(v[2]), a) << 8 |
           std::min(channel(v[3]), a);
}

} // namespace

// Positions are counted in units that both sizes divide: pixel x of the
// picture spans [x·to, (x+1)·to), kept pixel k spans [k·from, (k+1)·from),
// so every overlap is a whole number and no edge is lost to rounding.
Axis::Axis(int from, int to)
    : m_from(from)
    , m_to(to) {
    const std::int64_t f = from;
    const std::int64_t t = to;
    for (std::int64_t k = 0; k < t; ++k) {
        const std::int64_t start = k * f;
        const std::int64_t end = start + f;
        Entry e{static_cast<int>(start / t), 0, static_cast<int>(m_weights.size())};
        for (std::int64_t x = e.first; x < f && x * t < end; ++x) {
            const std::int64_t overlap = std::min(end, (x + 1) * t) - std::max(start, x * t);
            m_weights.push_back(static_cast<float>(overlap) / static_cast<float>(f));
            ++e.count;
        }
        m_entries.push_back(e);
    }
}

std::pair<int, int> Axis::keptOf(int from, int to) const {
    const std::int64_t first = std::int64_t{from} * m_to / m_from;
    const std::int64_t last = (std::int64_t{to} * m_to + m_from - 1) / m_from;
    return {static_cast<int>(std::clamp<std::int64_t>(first, 0, m_to)),
            static_cast<int>(std::clamp<std::int64_t>(last, 0, m_to))};
}

// The second thread of a large picture's reduction, and the rows waiting
// for it: the decoding library fills one while the last is reduced.
struct Reducer::Worker {
    static constexpr int slots = 64;
    // Rows are handed over a batch at a time: waking the other thread for
    // every row would cost more than reducing it.
    static constexpr int batch = 16;
    explicit Worker(Reducer& reducer)
        : rows(static_cast<std::size_t>(slots) * static_cast<std::size_t>(reducer.m_from.width))
        , width(static_cast<std::size_t>(reducer.m_from.width))
        , thread([this, &reducer] { run(reducer); }) {}
    ~Worker() {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        thread.join();
    }
    void push(const std::uint32_t* pixels) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return waiting < slots; });
        std::memcpy(rows.data() + static_cast<std::size_t>(next) * width, pixels,
                    width * sizeof(std::uint32_t));
        next = (next + 1) % slots;
        ++waiting;
        const bool wake = waiting == batch;
        lock.unlock();
        if (wake)
            changed.notify_all();
    }
    // Until every row pushed is reduced.
    void drain() {
        std::unique_lock lock(mutex);
        draining = true;
        changed.notify_all();
        changed.wait(lock, [this] { return waiting == 0 && !busy; });
        draining = false;
    }
    void run(Reducer& reducer) {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(
                lock, [this] { return waiting >= batch || (waiting > 0 && draining) || stopping; });
            if (waiting == 0)
                return;
            const std::uint32_t* row =
                rows.data() + static_cast<std::size_t>((next - waiting + slots) % slots) * width;
            busy = true;
            lock.unlock();
            reducer.reduceRow(row);
            lock.lock();
            busy = false;
            --waiting;
            // The decoder waits for room only when every slot is full; a
            // drain, for the last row.
            if (waiting == slots - 1 || waiting == 0)
                changed.notify_all();
        }
    }

    std::vector<std::uint32_t> rows;
    std::size_t width;
    std::mutex mutex;
    std::condition_variable changed;
    int next = 0;    // the slot the next row goes in
    int waiting = 0; // rows pushed and not yet reduced, the oldest first
    bool busy = false;
    bool draining = false;
    bool stopping = false;
    std::thread thread; // last: it starts once the rest is ready
};

Reducer::Reducer(Size from, Size to, int orientation)
    : m_from(from)
    , m_to(to)
    , m_orientation(orientation >= 1 && orientation <= 8 ? orientation : 1)
    , m_axis(from == to ? 0 : from.width, from == to ? 0 : to.width) {
    const bool swaps = m_orientation >= 5;
    m_frame.width = swaps ? to.height : to.width;
    m_frame.height = swaps ? to.width : to.height;
    m_frame.pixels.resize(static_cast<std::size_t>(to.width) * static_cast<std::size_t>(to.height));
    if (from == to)
        return;
    m_across.assign(static_cast<std::size_t>(to.width) * 4, 0.f);
    m_down.assign(static_cast<std::size_t>(to.width) * 4, 0.f);
    // A second thread pays off from a megapixel or so; where none can be
    // started, the rows are reduced as they come.
    if (std::int64_t{from.width} * from.height >= (1 << 20)) {
        try {
            m_worker = std::make_unique<Worker>(*this);
        } catch (const std::system_error&) {
        }
    }
}

Reducer::~Reducer() = default;

void Reducer::row(const std::uint32_t* pixels) {
    if (complete())
        return;
    ++m_rowsTaken;
    if (m_worker)
        m_worker->push(pixels);
    else
        reduceRow(pixels);
}

void Reducer::streamTo(FrameSink& sink) {
    if (m_orientation == 1 && m_rowsTaken == 0 && sink.beginRows(m_to.width, m_to.height))
        m_stream = &sink;
}

void Reducer::deliver(FrameSink& sink) {
    Frame& whole = frame();
    if (!m_stream)
        sink.frame(whole);
}

Frame& Reducer::frame() {
    if (m_worker)
        m_worker->drain();
    return m_frame;
}

void Reducer::reduceRow(const std::uint32_t* pixels) {
    if (m_from == m_to) {
        place(m_rowsIn, pixels);
        ++m_rowsIn;
        return;
    }
    for (int k = 0; k < m_to.width; ++k) {
        const Axis::Span span = m_axis.span(k);
        const std::uint32_t* p = pixels + span.first;
        const float* w = span.weights;
        float a = 0, r = 0, g = 0, b = 0;
        for (int i = 0; i < span.count; ++i) {
            a += w[i] * static_cast<float>(p[i] >> 24);
            r += w[i] * static_cast<float>((p[i] >> 16) & 0xff);
            g += w[i] * static_cast<float>((p[i] >> 8) & 0xff);
            b += w[i] * static_cast<float>(p[i] & 0xff);
        }
        float* to = &m_across[static_cast<std::size_t>(k) * 4];
        to[0] = a;
        to[1] = r;
        to[2] = g;
        to[3] = b;
    }
    // The same down the picture: this row spans [y·to, (y+1)·to).
    const std::int64_t fh = m_from.height;
    const std::int64_t start = std::int64_t{m_rowsIn} * m_to.height;
    const std::int64_t end = start + m_to.height;
    while (m_rowsOut < m_to.height) {
        const std::int64_t rowStart = std::int64_t{m_rowsOut} * fh;
        const std::int64_t rowEnd = rowStart + fh;
        const std::int64_t overlap = std::min(end, rowEnd) - std::max(start, rowStart);
        if (overlap > 0) {
            const float weight = static_cast<float>(overlap) / static_cast<float>(fh);
            for (std::size_t i = 0; i < m_down.size(); ++i)
                m_down[i] += weight * m_across[i];
        }
        if (rowEnd > end)
            break; // the kept row goes on into the next row of the picture
        finishRow();
    }
    ++m_rowsIn;
}

void Reducer::finishRow() {
    std::vector<std::uint32_t>& out = m_frame.pixels;
    const auto width = static_cast<std::size_t>(m_to.width);
    if (m_orientation == 1) {
        std::uint32_t* row = out.data() + static_cast<std::size_t>(m_rowsOut) * width;
        for (std::size_t x = 0; x < width; ++x)
            row[x] = pixelOf(&m_down[x * 4]);
    } else {
        for (int x = 0; x < m_to.width; ++x) {
            const auto [ux, uy] = uprightOf(m_orientation, x, m_rowsOut, m_to.width, m_to.height);
            out[static_cast<std::size_t>(uy) * static_cast<std::size_t>(m_frame.width) +
                static_cast<std::size_t>(ux)] = pixelOf(&m_down[static_cast<std::size_t>(x) * 4]);
        }
    }
    std::fill(m_down.begin(), m_down.end(), 0.f);
    ++m_rowsOut;
    stream(m_rowsOut);
}

// Sends the finished rows not yet sent, a band at a time: a write for every
// row would cost more than the rows.
void Reducer::stream(int finished) {
    constexpr int band = 32;
    if (!m_stream || (finished - m_rowsStreamed < band && finished < m_to.height))
        return;
    m_stream->rows(m_frame.pixels.data() + static_cast<std::size_t>(m_rowsStreamed) * m_to.width,
                   finished - m_rowsStreamed);
    m_rowsStreamed = finished;
}

// Row y of a picture kept at its own size, put where it stands upright.
void Reducer::place(int y, const std::uint32_t* kept) {
    if (m_orientation == 1) {
        std::memcpy(m_frame.pixels.data() + static_cast<std::size_t>(y) * m_to.width, kept,
                    static_cast<std::size_t>(m_to.width) * sizeof(std::uint32_t));
        stream(y + 1);
        return;
    }
    for (int x = 0; x < m_to.width; ++x) {
        const auto [ux, uy] = uprightOf(m_orientation, x, y, m_to.width, m_to.height);
        m_frame.pixels[static_cast<std::size_t>(uy) * static_cast<std::size_t>(m_frame.width) +
                       static_cast<std::size_t>(ux)] = kept[x];
    }
}

Frame reduced(const std::uint32_t* pixels, Size from, Size to) {
    Reducer reducer(from, to);
    for (int y = 0; y < from.height; ++y)
        reducer.row(pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(from.width));
    return std::move(reducer.frame());
}

AreaFilter::AreaFilter(Size from, Size to)
    : m_from(from)
    , m_to(to)
    , m_across(from.width, to.width)
    , m_down(from.height, to.height) {}

void AreaFilter::update(const std::uint32_t* pixels, Frame& kept, int x0, int y0, int x1,
                        int y1) const {
    const auto [kx0, kx1] = m_across.keptOf(x0, x1);
    const auto [ky0, ky1] = m_down.keptOf(y0, y1);
    const auto stride = static_cast<std::size_t>(m_from.width);
    for (int ky = ky0; ky < ky1; ++ky) {
        const Axis::Span down = m_down.span(ky);
        for (int kx = kx0; kx < kx1; ++kx) {
            const Axis::Span across = m_across.span(kx);
            float sums[4] = {};
            for (int j = 0; j < down.count; ++j) {
                const std::uint32_t* row =
                    pixels + static_cast<std::size_t>(down.first + j) * stride + across.first;
                for (int i = 0; i < across.count; ++i) {
                    const float w = down.weights[j] * across.weights[i];
                    sums[0] += w * static_cast<float>(row[i] >> 24);
                    sums[1] += w * static_cast<float>((row[i] >> 16) & 0xff);
                    sums[2] += w * static_cast<float>((row[i] >> 8) & 0xff);
                    sums[3] += w * static_cast<float>(row[i] & 0xff);
                }
            }
            kept.pixels[static_cast<std::size_t>(ky) * static_cast<std::size_t>(m_to.width) +
                        static_cast<std::size_t>(kx)] = pixelOf(sums);
        }
    }
}

} // namespace decoder

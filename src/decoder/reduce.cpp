#include "decoder/reduce.h"

#include <algorithm>
#include <cstring>

namespace decoder {

// Positions are counted in units that both sizes divide: pixel x of the
// picture spans [x·to, (x+1)·to), kept pixel k spans [k·from, (k+1)·from),
// so every overlap is a whole number and no edge is lost to rounding.
Reducer::Reducer(Size from, Size to)
    : m_from(from)
    , m_to(to) {
    m_frame.width = to.width;
    m_frame.height = to.height;
    m_frame.pixels.resize(static_cast<std::size_t>(to.width) * static_cast<std::size_t>(to.height));
    if (from == to)
        return;
    const std::int64_t fw = from.width;
    const std::int64_t tw = to.width;
    for (std::int64_t k = 0; k < tw; ++k) {
        const std::int64_t start = k * fw;
        const std::int64_t end = start + fw;
        Span span{static_cast<int>(start / tw), 0, static_cast<int>(m_weights.size())};
        for (std::int64_t x = span.first; x < fw && x * tw < end; ++x) {
            const std::int64_t overlap = std::min(end, (x + 1) * tw) - std::max(start, x * tw);
            m_weights.push_back(static_cast<float>(overlap) / static_cast<float>(fw));
            ++span.count;
        }
        m_spans.push_back(span);
    }
    m_across.assign(static_cast<std::size_t>(to.width) * 4, 0.f);
    m_down.assign(static_cast<std::size_t>(to.width) * 4, 0.f);
}

void Reducer::row(const std::uint32_t* pixels) {
    if (complete())
        return;
    if (m_from == m_to) {
        std::memcpy(m_frame.pixels.data() + static_cast<std::size_t>(m_rowsIn) * m_to.width, pixels,
                    static_cast<std::size_t>(m_to.width) * sizeof(std::uint32_t));
        ++m_rowsIn;
        return;
    }
    for (std::size_t k = 0; k < m_spans.size(); ++k) {
        const Span& span = m_spans[k];
        const std::uint32_t* p = pixels + span.first;
        const float* w = m_weights.data() + span.weights;
        float a = 0, r = 0, g = 0, b = 0;
        for (int i = 0; i < span.count; ++i) {
            a += w[i] * static_cast<float>(p[i] >> 24);
            r += w[i] * static_cast<float>((p[i] >> 16) & 0xff);
            g += w[i] * static_cast<float>((p[i] >> 8) & 0xff);
            b += w[i] * static_cast<float>(p[i] & 0xff);
        }
        float* to = &m_across[k * 4];
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
    std::uint32_t* out = m_frame.pixels.data() +
                         static_cast<std::size_t>(m_rowsOut) * static_cast<std::size_t>(m_to.width);
    const auto channel = [](float v) {
        return static_cast<std::uint32_t>(std::clamp(v + 0.5f, 0.f, 255.f));
    };
    for (int x = 0; x < m_to.width; ++x) {
        const float* v = &m_down[static_cast<std::size_t>(x) * 4];
        const std::uint32_t a = channel(v[0]);
        // Premultiplied: no colour brighter than its alpha, whatever the rounding.
        out[x] = a << 24 | std::min(channel(v[1]), a) << 16 | std::min(channel(v[2]), a) << 8 |
                 std::min(channel(v[3]), a);
    }
    std::fill(m_down.begin(), m_down.end(), 0.f);
    ++m_rowsOut;
}

Frame reduced(const std::uint32_t* pixels, Size from, Size to) {
    Reducer reducer(from, to);
    for (int y = 0; y < from.height; ++y)
        reducer.row(pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(from.width));
    return std::move(reducer.frame());
}

} // namespace decoder

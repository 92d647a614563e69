#pragma once

// A timer's cadence where the system's own timer comes late: each tick is
// due a whole interval after the one before it was due, not after it came.
// A timer that comes up to 15.6 ms late each time (Windows' usual
// granularity) still ticks 100.0 ms apart on average, not 109. Held up for
// longer than a tick (a report on screen), it goes on from then rather
// than catch up in a burst.

#include <algorithm>
#include <cmath>

namespace rt {

class Cadence {
public:
    Cadence() = default;
    Cadence(double start, int interval)
        : m_next(start + interval)
        , m_interval(interval) {}

    // Whether a tick is due at `now` (milliseconds); if so, it is taken.
    bool take(double now) {
        if (now + 0.5 < m_next)
            return false;
        m_next += m_interval;
        if (m_next < now)
            m_next = now + m_interval;
        return true;
    }
    // Whole milliseconds to wait from `now` for the next tick, at least 1.
    unsigned wait(double now) const {
        return static_cast<unsigned>(std::max(1.0, std::ceil(m_next - now)));
    }

private:
    double m_next = 0;
    int m_interval = 0;
};

} // namespace rt

// The ticks' cadence where the system's timer comes late, as Windows' does.

#include "runtime/cadence.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace {

struct Case {
    const char* name;
    // When the system's timer comes, asked to wait `wait` ms at `now`.
    std::function<double(double now, unsigned wait)> comes;
    double meanInterval; // over the ticks taken; NaN: not a steady cadence
    int mostTicksAtOnce; // ticks taken at one moment
};

// A timer that only comes on the system's 15.625 ms clock ticks.
double onClockTicks(double now, unsigned wait) {
    return std::ceil((now + wait) / 15.625) * 15.625;
}

class CadenceOf : public testing::TestWithParam<Case> {};

TEST_P(CadenceOf, ATimerThatComesLate) {
    const Case& c = GetParam();
    rt::Cadence cadence(0, 100);
    double now = 0, first = -1, last = 0;
    int ticks = 0, atOnce = 0, mostAtOnce = 0;
    for (int arrival = 0; arrival < 3000; ++arrival) {
        now = c.comes(now, cadence.wait(now));
        atOnce = 0;
        while (cadence.take(now)) {
            ++ticks;
            ++atOnce;
            first = first < 0 ? now : first;
            last = now;
        }
        mostAtOnce = std::max(mostAtOnce, atOnce);
    }
    ASSERT_GT(ticks, 100);
    if (!std::isnan(c.meanInterval)) {
        EXPECT_NEAR((last - first) / (ticks - 1), c.meanInterval, 0.05);
    }
    EXPECT_EQ(mostAtOnce, c.mostTicksAtOnce);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CadenceOf,
    testing::Values(Case{"OnTime", [](double now, unsigned wait) { return now + wait; }, 100.0, 1},
                    Case{"OnTheSystemsClockTicks", onClockTicks, 100.0, 1},
                    Case{"AlwaysFifteenMillisecondsLate",
                         [](double now, unsigned wait) { return now + wait + 15; }, 100.0, 1},
                    // Early timers are not ticks: the rest of the wait is waited.
                    Case{"HalfTheWaitEarly",
                         [](double now, unsigned wait) { return now + wait / 2.0; }, 100.0, 1},
                    // A report held the program for two seconds now and then: one
                    // tick after it, not twenty at once.
                    Case{"HeldUpNowAndThen",
                         [](double now, unsigned wait) {
                             return now + wait +
                                    (static_cast<long long>(now) % 10000 < 100 ? 2000 : 0);
                         },
                         std::nan(""), 1}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

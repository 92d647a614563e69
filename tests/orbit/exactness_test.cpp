// The tick's positions, bit for bit, against sine and cosine computed by MPFR
// (correctly rounded), over a million ticks at several window sizes.

#include "orbit/orbit.h"
#include "orbit/recorder.h"
#include "support/case_names.h"

#include <gtest/gtest.h>
#include <mpfr.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int tickCount = 1'000'000;

struct Reference {
    std::vector<double> sin;
    std::vector<double> cos;
};

// The angles are the same at every size, so the reference trigonometry is
// computed once.
const Reference& reference() {
    static const Reference ref = [] {
        Reference r;
        r.sin.reserve(tickCount);
        r.cos.reserve(tickCount);
        mpfr_t x, y;
        mpfr_init2(x, 53);
        mpfr_init2(y, 53);
        double t = 0;
        for (int n = 0; n < tickCount; ++n) {
            mpfr_set_d(x, t, MPFR_RNDN);
            mpfr_sin(y, x, MPFR_RNDN);
            r.sin.push_back(mpfr_get_d(y, MPFR_RNDN));
            mpfr_cos(y, x, MPFR_RNDN);
            r.cos.push_back(mpfr_get_d(y, MPFR_RNDN));
            t = t + 0.1;
        }
        mpfr_clear(x);
        mpfr_clear(y);
        mpfr_free_cache();
        return r;
    }();
    return ref;
}

using testsupport::Recorder;

std::uint64_t bits(double d) {
    std::uint64_t u;
    std::memcpy(&u, &d, sizeof u);
    return u;
}

class Exactness : public testing::TestWithParam<std::pair<float, float>> {};

TEST_P(Exactness, EveryPositionMatchesCorrectlyRoundedTrigonometry) {
    const auto [width, height] = GetParam();
    const Reference& ref = reference();
    Recorder window(width, height);
    orbit::OrbitState state;
    const double cx = static_cast<double>(width) * 0.35;
    const double cy = static_cast<double>(height) * 0.25;
    int mismatches = 0;
    int first = 0;
    for (int n = 0; n < tickCount; ++n) {
        orbit::tick(state, window);
        const double x = 4000 * ref.cos[n] + cx;
        const double y = cy - 2000 * ref.sin[n];
        if (bits(static_cast<float>(x)) != bits(window.left) || bits(y) != bits(window.top)) {
            if (mismatches++ == 0)
                first = n + 1;
        }
    }
    EXPECT_EQ(mismatches, 0) << "first mismatch at tick " << first;
}

INSTANTIATE_TEST_SUITE_P(Sizes, Exactness,
                         testing::Values(std::pair{12000.0f, 9000.0f},
                                         std::pair{13031.25f, 8765.4321f},
                                         std::pair{4680.0f, 3195.0f}),
                         [](const auto& info) {
                             return casenames::of(info.param.first, "x", info.param.second);
                         });

TEST(Exactness, OrbitTrigonometryIsCorrectlyRoundedWhereTheSystemsMayNotBe) {
    // Angles where a last-bit error is easy to make: large arguments, values
    // near multiples of pi/2, tiny ones.
    const double angles[] = {1e-300,   1e-8, 0.5,   1.5707963267948966,           3.141592653589793,
                             100000.1, 1e22, 5.3e8, 6381956970095103.0 * 0x1p797, 3.0e300};
    mpfr_t x, y;
    mpfr_init2(x, 53);
    mpfr_init2(y, 53);
    for (double a : angles) {
        mpfr_set_d(x, a, MPFR_RNDN);
        mpfr_sin(y, x, MPFR_RNDN);
        EXPECT_EQ(bits(orbit::orbitSin(a)), bits(mpfr_get_d(y, MPFR_RNDN))) << "sin " << a;
        mpfr_cos(y, x, MPFR_RNDN);
        EXPECT_EQ(bits(orbit::orbitCos(a)), bits(mpfr_get_d(y, MPFR_RNDN))) << "cos " << a;
    }
    mpfr_clear(x);
    mpfr_clear(y);
}

} // namespace
